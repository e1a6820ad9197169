#include "platform/win32/win32_files.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"
#include "platform/win32/error_text.h"
#include "platform/win32/optional_functions.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_file_security.h"
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

// Reads go in pieces of this size.
constexpr std::size_t kReadChunk = 1u << 20;

// Reads up to length bytes from where the file's pointer stands, in pieces; fewer at its end.
FileResult ReadUpTo(HANDLE file, std::size_t length, std::string& bytes) {
    bytes.resize(length);
    std::size_t done = 0;
    while (done < length) {
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - done, kReadChunk));
        if (!ReadFile(file, bytes.data() + done, chunk, &got, nullptr)) {
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

FileResult ReadAll(HANDLE file, std::string& bytes) {
    bytes.clear();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        return LastError();
    }
    // Backups and manifests are small; anything near this is not one of them.
    if (size.QuadPart > (1 << 30)) {
        return {false, 0, L"文件过大"};
    }
    const auto length = static_cast<std::size_t>(size.QuadPart);
    auto read = ReadUpTo(file, length, bytes);
    if (read && bytes.size() < length) {
        return {false, 0, L"文件在读取时变短了"};
    }
    return read;
}

// Whether what a handle opened (with FILE_FLAG_OPEN_REPARSE_POINT) is a junction, a symbolic link
// or another reparse point. Wine shows a Unix symbolic link as one only by its path; while the
// handle is held, the path names the same thing.
bool IsLink(HANDLE handle, const std::wstring& path) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag)) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return true;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// How long the part of a full path is that names its drive's root ("C:\", "\\server\share\");
// 0 for any other form.
std::size_t RootLength(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
        return 3;
    }
    if (path.starts_with(L"\\\\") && !path.starts_with(L"\\\\?\\") &&
        !path.starts_with(L"\\\\.\\")) {
        const auto server = path.find(L'\\', 2);
        const auto share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
        return share == std::wstring::npos ? 0 : share + 1;
    }
    return 0;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    if (length == 0 || written == 0 || written >= length) {
        return path;
    }
    full.resize(written);
    return full;
}

// The folders on the way to a path about to be written, each held open from below the drive's
// root down, so that none can be renamed, replaced or removed until the write is done: they are
// opened for traversing, which sharing counts, without delete sharing. A junction, symbolic link
// or other reparse point among them refuses the write.
class HeldWay {
public:
    FileResult Hold(const std::wstring& path) {
        const auto full = FullPath(path);
        const auto root = RootLength(full);
        for (auto end = root == 0 ? std::wstring::npos : full.find(L'\\', root);
             end != std::wstring::npos; end = full.find(L'\\', end + 1)) {
            const auto folder = full.substr(0, end);
            UniqueFileHandle held(
                CreateFileW(folder.c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (!held) {
                // What is missing, the write itself finds missing.
                const DWORD error = GetLastError();
                return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                           ? FileResult::Success()
                           : LastError();
            }
            if (IsLink(held.get(), folder)) {
                return ThroughLink(folder);
            }
            folders_.push_back(std::move(held));
        }
        return FileResult::Success();
    }

private:
    std::vector<UniqueFileHandle> folders_;
};

// Opens what a path names itself, never what a link there leads to, and refuses a link.
FileResult OpenItself(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                      UniqueFileHandle& file) {
    file.reset(CreateFileW(path.c_str(), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return LastError();
    }
    if (IsLink(file.get(), path)) {
        file.reset();
        return ThroughLink(path);
    }
    return FileResult::Success();
}

// The way to a path held, and the path itself no link where it exists already.
FileResult HoldWayTo(HeldWay& way, const std::wstring& path) {
    if (auto held = way.Hold(path); !held) {
        return held;
    }
    const UniqueFileHandle existing(
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return existing && IsLink(existing.get(), path) ? ThroughLink(path) : FileResult::Success();
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
    return SetAttributes(path, 0);
}

FileResult Win32Files::CopyFileOver(const std::wstring& source, const std::wstring& target) {
    HeldWay way;
    if (auto held = HoldWayTo(way, target); !held) {
        return held;
    }
    return Check(CopyFileW(source.c_str(), target.c_str(), FALSE));
}

FileResult Win32Files::CreateFolder(const std::wstring& path) {
    HeldWay way;
    if (auto held = way.Hold(path); !held) {
        return held;
    }
    return Check(CreateDirectoryW(path.c_str(), nullptr));
}

FileResult Win32Files::CreateAdministratorsFolder(const std::wstring& path) {
    HeldWay way;
    if (auto held = way.Hold(path); !held) {
        return held;
    }
    return CreateFolderForAdministrators(path);
}

FileResult Win32Files::AppendToFile(const std::wstring& path, const std::string& bytes) {
    HeldWay way;
    UniqueFileHandle file;
    auto result = way.Hold(path);
    if (result) {
        result = OpenItself(path, FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS, file);
    }
    return result ? WriteAll(file.get(), bytes) : result;
}

FileResult Win32Files::WriteNewFile(const std::wstring& path, const std::string& bytes) {
    HeldWay way;
    UniqueFileHandle file;
    auto result = HoldWayTo(way, path);
    if (result) {
        result = OpenItself(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, file);
    }
    return result ? WriteAll(file.get(), bytes) : result;
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
    HeldWay way;
    UniqueFileHandle file;
    auto result = way.Hold(path);
    if (result) {
        result = OpenItself(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                            file);
    }
    return result ? Check(FlushFileBuffers(file.get())) : result;
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
    return ReadUpTo(file.get(), length, bytes);
}

std::wstring Win32Files::TempFolder() const {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(path, length);
}

bool Win32Files::DeleteFileAt(const std::wstring& path) {
    HeldWay way;
    return way.Hold(path) && DeleteFileW(path.c_str()) != FALSE;
}

FileResult Win32Files::ReadWholeFile(const std::wstring& path, std::string& bytes) const {
    bytes.clear();
    const auto file = OpenForReading(path);
    if (!file) {
        return LastError();
    }
    return ReadAll(file.get(), bytes);
}

namespace {

// The path Windows knows a handle's file or folder by, in one form for both.
std::wstring FinalPath(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, path.data(), MAX_PATH, 0);
    if (length >= MAX_PATH) {
        path.resize(length);
        length = GetFinalPathNameByHandleW(handle, path.data(), length, 0);
    }
    path.resize(length < path.size() ? length : 0);
    return ToLower(path);
}

}  // namespace

FileResult Win32Files::ReadOwnedFile(const std::wstring& folder, const std::wstring& name,
                                     OwnedFile& read) const {
    // Neither can be renamed or deleted while it is held; the file read is checked to lie in the
    // folder held, whatever was done to the folders above.
    const UniqueFileHandle held(CreateFileW(folder.c_str(),
                                            READ_CONTROL | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!held) {
        return LastError();
    }
    const UniqueFileHandle file(CreateFileW(JoinPath(folder, name).c_str(),
                                            GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return LastError();
    }
    const auto folderPath = FinalPath(held.get());
    if (folderPath.empty() || JoinPath(folderPath, ToLower(name)) != FinalPath(file.get())) {
        return {false, 0, L"读取时目录被替换"};
    }
    read.folder = OwnershipOf(held.get());
    read.file = OwnershipOf(file.get());
    return ReadAll(file.get(), read.bytes);
}

FileResult Win32Files::MoveFileOver(const std::wstring& source, const std::wstring& target) {
    // A link in the target's place is replaced, not followed.
    HeldWay sourceWay;
    HeldWay targetWay;
    auto result = HoldWayTo(sourceWay, source);
    if (result) {
        result = targetWay.Hold(target);
    }
    return result ? Check(MoveFileExW(source.c_str(), target.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                  : result;
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
    // The file is held as itself, no link, and cannot be renamed while its attributes are set by
    // its name (through a handle it would take write access, which Wine refuses for a read-only
    // file where Windows does not).
    HeldWay way;
    UniqueFileHandle file;
    auto result = way.Hold(path);
    if (result) {
        result = OpenItself(path, FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, file);
    }
    if (!result) {
        return result;
    }
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
