#include "platform/win32/win32_held_store.h"

#include <windows.h>

namespace kestrix::win32 {

namespace {

class OpenKey {
  public:
    explicit OpenKey(const KeyPath& path) {
        std::wstring name = L"BCD00000000";
        for (const auto& part : path) {
            name += L"\\" + part;
        }
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~OpenKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

// A key's name is at most 255 characters.
constexpr DWORD kKeyNameLength = 256;

}  // namespace

std::optional<std::vector<std::wstring>> Win32HeldStore::Subkeys(const KeyPath& path) const {
    const OpenKey key(path);
    if (key.get() == nullptr) {
        return std::nullopt;
    }
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kKeyNameLength] = {};
        DWORD length = kKeyNameLength;
        const auto status =
            RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    return names;
}

std::optional<KeyValue> Win32HeldStore::Value(const KeyPath& path, const std::wstring& name) const {
    const OpenKey key(path);
    DWORD type = 0;
    DWORD size = 0;
    if (key.get() == nullptr || RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr,
                                                 &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    KeyValue value{type, std::string(size, '\0')};
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(value.data.data()), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.data.resize(size);
    return value;
}

}  // namespace kestrix::win32
