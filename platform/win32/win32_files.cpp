#include "platform/win32/win32_files.h"

#include <windows.h>

#include "platform/text.h"
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
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32FileSystem::SetNormalAttributes(const std::wstring& path) {
    return SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL) != FALSE;
}

bool Win32FileSystem::CopyFileOver(const std::wstring& source, const std::wstring& target) {
    return CopyFileW(source.c_str(), target.c_str(), FALSE) != FALSE;
}

bool Win32FileSystem::DeleteFileAt(const std::wstring& path) {
    return DeleteFileW(path.c_str()) != FALSE;
}

std::optional<std::vector<std::wstring>> Win32FileSystem::ReadTextLines(
    const std::wstring& path) const {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    std::wstring text;
    if (!bytes.empty()) {
        const int wide = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                             nullptr, 0);
        text.resize(static_cast<std::size_t>(wide));
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                            wide);
    }
    return SplitLines(text);
}

}  // namespace kestrix::win32
