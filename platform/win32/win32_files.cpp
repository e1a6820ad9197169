#include "platform/win32/win32_files.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform/win32/error_text.h"
#include "platform/win32/optional_functions.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_signatures.h"

namespace kestrix::win32 {

namespace {

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

// A 32-bit process on 64-bit Windows sees System32 redirected to SysWOW64; the boot tools, the
// marker files and the kernel live in the real System32, which it reaches through Sysnative.
// Every read goes there: a length, attributes, a folder's list, a file's bytes or digest.
bool IsWow64() { return optionalFunctions.wow64; }

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

// Reads go in pieces of this size.
constexpr std::size_t kReadChunk = 1u << 20;

// For reading, shared with writers (a log that is being written can be read).
UniqueFileHandle OpenForReading(const std::wstring& path) {
    return UniqueFileHandle(CreateFileW(NativePath(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

std::wstring Win32Files::OwnFolder() const {
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

std::wstring Win32Files::SystemFolder() const {
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

std::optional<std::int64_t> Win32Files::FileLength(const std::wstring& path) const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(NativePath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

FileResult Win32Files::SetNormalAttributes(const std::wstring& path) {
    return Check(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
}

FileResult Win32Files::CopyFileOver(const std::wstring& source, const std::wstring& target) {
    return Check(CopyFileW(source.c_str(), target.c_str(), FALSE));
}

FileResult Win32Files::CreateFolder(const std::wstring& path) {
    return Check(CreateDirectoryW(path.c_str(), nullptr));
}

FileResult Win32Files::AppendToFile(const std::wstring& path, const std::string& bytes) {
    UniqueFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return LastError();
    }
    return WriteAll(file.get(), bytes);
}

FileResult Win32Files::WriteNewFile(const std::wstring& path, const std::string& bytes) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return LastError();
    }
    return WriteAll(file.get(), bytes);
}
FileResult Win32Files::ListFolder(const std::wstring& folder,
                                  std::vector<FolderEntry>& entries) const {
    entries.clear();
    const auto path = NativePath(folder);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return LastError();
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return {false, ERROR_DIRECTORY, ErrorText(ERROR_DIRECTORY)};
    }
    WIN32_FIND_DATAW found{};
    UniqueFindHandle find(FindFirstFileExW(JoinPath(path, L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0));
    if (!find) {
        // A drive's empty root has not even "." to list.
        return GetLastError() == ERROR_FILE_NOT_FOUND ? FileResult::Success() : LastError();
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
        }
    } while (FindNextFileW(find.get(), &found));
    return GetLastError() == ERROR_NO_MORE_FILES ? FileResult::Success() : LastError();
}

FileResult Win32Files::FlushFile(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return LastError();
    }
    return Check(FlushFileBuffers(file.get()));
}

FileResult Win32Files::ReadFilePart(const std::wstring& path, std::uint64_t offset,
                                    std::size_t length, std::string& bytes) const {
    bytes.clear();
    const auto file = OpenForReading(path);
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!file || !SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) {
        return LastError();
    }
    bytes.resize(length);
    std::size_t done = 0;
    while (done < length) {
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, kReadChunk));
        if (!ReadFile(file.get(), bytes.data() + done, chunk, &got, nullptr)) {
            return LastError();
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    bytes.resize(done);
    return FileResult::Success();
}

std::wstring Win32Files::TempFolder() const {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(path, length);
}

bool Win32Files::DeleteFileAt(const std::wstring& path) {
    return DeleteFileW(path.c_str()) != FALSE;
}

FileResult Win32Files::ReadWholeFile(const std::wstring& path, std::string& bytes) const {
    bytes.clear();
    const auto file = OpenForReading(path);
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) {
        return LastError();
    }
    // Backups and manifests are small; anything near this is not one of them.
    if (size.QuadPart > (1 << 30)) {
        return {false, 0, L"文件过大"};
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, kReadChunk));
        if (!ReadFile(file.get(), bytes.data() + done, chunk, &got, nullptr)) {
            return LastError();
        }
        if (got == 0) {
            return {false, 0, L"文件在读取时变短了"};
        }
        done += got;
    }
    return FileResult::Success();
}

FileResult Win32Files::MoveFileOver(const std::wstring& source, const std::wstring& target) {
    return Check(MoveFileExW(source.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

namespace {

// The digest of bytes with one of CNG's hash algorithms.
std::optional<std::string> Digest(LPCWSTR algorithmId, const std::string& bytes) {
    const auto digest = StartCngDigest(algorithmId);
    if (!digest) {
        return std::nullopt;
    }
    digest->Add(bytes);
    return digest->Finish();
}

}  // namespace

std::optional<std::string> Win32Files::Sha256(const std::string& bytes) const {
    return Digest(BCRYPT_SHA256_ALGORITHM, bytes);
}

FileDigest Win32Files::Sha256OfFile(const std::wstring& path) const {
    const auto file = OpenForReading(path);
    if (!file) {
        return FileDigest::Failed(LastError());
    }
    const auto digest = StartCngDigest(BCRYPT_SHA256_ALGORITHM);
    if (!digest) {
        return FileDigest::Failed({false, 0, L"无法计算 SHA-256"});
    }
    std::string chunk(kReadChunk, '\0');
    std::uint64_t length = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
            return FileDigest::Failed(LastError());
        }
        if (got == 0) {
            break;
        }
        digest->Add(std::string_view(chunk.data(), got));
        length += got;
    }
    auto sum = digest->Finish();
    if (!sum) {
        return FileDigest::Failed({false, 0, L"无法计算 SHA-256"});
    }
    return {FileResult::Success(), length, std::move(*sum)};
}

std::optional<std::uint32_t> Win32Files::Attributes(const std::wstring& path) const {
    const DWORD attributes = GetFileAttributesW(NativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return std::nullopt;
    }
    return attributes;
}

FileResult Win32Files::SetAttributes(const std::wstring& path, std::uint32_t attributes) {
    // Read-only last: Wine keeps hidden and system in an extended attribute, which a file that is
    // already read-only no longer lets it write.
    const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (writable != attributes && writable != 0 && !SetFileAttributesW(path.c_str(), writable)) {
        return LastError();
    }
    return Check(
        SetFileAttributesW(path.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL));
}

}  // namespace kestrix::win32
