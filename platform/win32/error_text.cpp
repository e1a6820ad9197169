#include "platform/win32/error_text.h"
#include "platform/text.h"
#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

std::wstring ErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocalMemory owner(buffer);
    std::wstring text;
    if (length != 0 && buffer != nullptr) {
        text.assign(buffer, length);
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = L"error " + DecimalText(error);
    }
    return text;
}

FileResult LastError() {
    const DWORD error = GetLastError();
    return {false, error, ErrorText(error)};
}

FileResult Check(BOOL ok) { return ok ? FileResult::Success() : LastError(); }

}  // namespace kestrix::win32
