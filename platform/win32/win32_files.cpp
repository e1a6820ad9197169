#include "platform/win32/win32_files.h"

#include <windows.h>

#include <algorithm>

#include "platform/text.h"
#include "platform/win32/error_text.h"
#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

std::wstring Win32FileSystem::OwnFolder() const {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) {
        return path;
    }
    path.resize(slash);
    // A drive's root keeps its backslash.
    if (path.size() == 2 && path[1] == L':') {
        path += L'\\';
    }
    return path;
}

std::wstring Win32FileSystem::SystemFolder() const {
    wchar_t folder[MAX_PATH] = {};
    // A 32-bit process on 64-bit Windows would be sent to SysWOW64, where bcdboot.exe does not
    // exist; Sysnative names the real System32 for it.
    const bool wow64 = IsWow64();
    const UINT length = wow64 ? GetSystemWindowsDirectoryW(folder, MAX_PATH)
                              : GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(folder, length) + (wow64 ? L"\\Sysnative" : L"");
}

std::wstring ArgumentsOf(const wchar_t* commandLine) {
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') {
            ++p;
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t') {
            ++p;
        }
    }
    // The one separator after the program's name is not part of the arguments.
    if (*p == L' ' || *p == L'\t') {
        ++p;
    }
    return p;
}

std::wstring Win32FileSystem::CommandLineArguments() const {
    return ArgumentsOf(GetCommandLineW());
}

bool Win32FileSystem::SetCurrentDrive(const std::wstring& drive) {
    if (drive.size() != 2 || drive[1] != L':') {
        return false;
    }
    return SetCurrentDirectoryW(drive.c_str()) != FALSE;
}

bool Win32FileSystem::SetCurrentFolder(const std::wstring& folder) {
    return !folder.empty() && SetCurrentDirectoryW(folder.c_str()) != FALSE;
}

std::optional<std::int64_t> Win32FileSystem::FileLength(const std::wstring& path) const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(NativePath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

namespace {

FileResult LastError() {
    const DWORD error = GetLastError();
    return {false, error, ErrorText(error)};
}

FileResult Check(BOOL ok) { return ok ? FileResult::Success() : LastError(); }

FileResult WriteAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD wrote = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) {
            return LastError();
        }
        done += wrote;
    }
    return FileResult::Success();
}

}  // namespace

bool IsWow64() {
    static const bool wow64 = [] {
        BOOL result = FALSE;
        using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
        const auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
        return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &result) &&
               result != FALSE;
    }();
    return wow64;
}

std::wstring NativePath(const std::wstring& path) {
    if (!IsWow64()) {
        return path;
    }
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return path;
    }
    const std::wstring system32 = ToLower(std::wstring(windows, length) + L"\\system32");
    const std::wstring lower = ToLower(path);
    if (lower.compare(0, system32.size(), system32) != 0 ||
        (lower.size() > system32.size() && lower[system32.size()] != L'\\')) {
        return path;
    }
    return std::wstring(windows, length) + L"\\Sysnative" + path.substr(system32.size());
}

FileResult Win32FileSystem::SetNormalAttributes(const std::wstring& path) {
    return Check(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
}

FileResult Win32FileSystem::CopyFileOver(const std::wstring& source, const std::wstring& target) {
    return Check(CopyFileW(source.c_str(), target.c_str(), FALSE));
}

FileResult Win32FileSystem::CreateFolder(const std::wstring& path) {
    return Check(CreateDirectoryW(path.c_str(), nullptr));
}

FileResult Win32FileSystem::AppendToFile(const std::wstring& path, const std::string& bytes) {
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return LastError();
    }
    return WriteAll(file.get(), bytes);
}

FileResult Win32FileSystem::WriteNewFile(const std::wstring& path, const std::string& bytes) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return LastError();
    }
    return WriteAll(file.get(), bytes);
}

FileResult Win32FileSystem::ReadVolumeStart(const std::wstring& drive, std::size_t length,
                                            std::string& bytes) {
    const std::wstring device = L"\\\\.\\" + drive;
    UniqueFileHandle volume(CreateFileW(device.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
    if (!volume) {
        return LastError();
    }
    // Raw volume reads go straight to the device: whole sectors into a sector-aligned buffer
    // (the length asked for is a multiple of 4096; pages are aligned for any sector size).
    void* buffer = VirtualAlloc(nullptr, length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (buffer == nullptr) {
        return LastError();
    }
    DWORD got = 0;
    const BOOL ok = ReadFile(volume.get(), buffer, static_cast<DWORD>(length), &got, nullptr);
    const FileResult result = ok ? FileResult::Success() : LastError();
    if (ok) {
        bytes.assign(static_cast<const char*>(buffer), got);
    }
    VirtualFree(buffer, 0, MEM_RELEASE);
    return result;
}

}  // namespace kestrix::win32
