#pragma once
// What the logic needs of files and folders. Every operation reports failure as a value.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrix {

// The outcome of one file operation, with the platform's error code and text on failure.
struct FileResult {
    bool ok = false;
    std::uint32_t error = 0;
    std::wstring errorText;

    explicit operator bool() const { return ok; }
    static FileResult Success() { return {true, 0, {}}; }
};

// The platform's error codes that the logic tells apart.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;

// What Sha256OfFile found: on success the file's length and its 32-byte digest.
struct FileDigest {
    FileResult result;
    std::uint64_t length = 0;
    std::string sha256;

    static FileDigest Failed(FileResult why) { return {std::move(why), 0, {}}; }
};

struct FolderEntry {
    std::wstring name;
    bool isFolder = false;
};

// Attributes that a file's backup records and its restore puts back, with Windows' values.
inline constexpr std::uint32_t kAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kAttributeHidden = 0x2;
inline constexpr std::uint32_t kAttributeSystem = 0x4;
inline constexpr std::uint32_t kAttributeArchive = 0x20;

// Every write refuses a path that passes through a junction, a symbolic link or another reparse
// point, or that names one itself: what is written goes where the path says.
class Files {
public:
    virtual ~Files() = default;
    // The folder that holds the program's executable, ending in a backslash only at a drive root.
    virtual std::wstring OwnFolder() const = 0;
    // Where Windows' own tools are, as this process must name the folder to start them: System32,
    // or Sysnative for a 32-bit process on 64-bit Windows. Empty when it cannot be told.
    virtual std::wstring SystemFolder() const = 0;
    // The folder for short-lived files of this user.
    virtual std::wstring TempFolder() const = 0;
    // Length in bytes; empty for a missing or unreadable file or a drive without medium.
    virtual std::optional<std::int64_t> FileLength(const std::wstring& path) const = 0;
    // Clears read-only, hidden, system and archive.
    virtual FileResult SetNormalAttributes(const std::wstring& path) = 0;
    // Copies over an existing target.
    virtual FileResult CopyFileOver(const std::wstring& source, const std::wstring& target) = 0;
    // Fails when the folder exists already.
    virtual FileResult CreateFolder(const std::wstring& path) = 0;
    // The same, for a folder where any user may make folders: owned by the Administrators group,
    // and only administrators, SYSTEM and TrustedInstaller may change it or what is made in it,
    // whatever its parent lets others do.
    virtual FileResult CreateAdministratorsFolder(const std::wstring& path) = 0;
    // Appends bytes, creating the file when it is missing.
    virtual FileResult AppendToFile(const std::wstring& path, const std::string& bytes) = 0;
    // Writes a new file, replacing an existing one.
    virtual FileResult WriteNewFile(const std::wstring& path, const std::string& bytes) = 0;
    // Backups and manifests; a file of more than 1 GiB is refused.
    virtual FileResult ReadWholeFile(const std::wstring& path, std::string& bytes) const = 0;
    // Puts a file in the place of another on the same volume, replacing it, on the disk before it
    // returns.
    virtual FileResult MoveFileOver(const std::wstring& source, const std::wstring& target) = 0;
    // The SHA-256 of bytes, 32 bytes long; empty when the system cannot compute it.
    virtual std::optional<std::string> Sha256(const std::string& bytes) const = 0;
    // A file's length and the SHA-256 of its bytes, read in pieces: a file of any size is hashed
    // without being held in memory.
    virtual FileDigest Sha256OfFile(const std::wstring& path) const = 0;
    // Empty for a missing file.
    virtual std::optional<std::uint32_t> Attributes(const std::wstring& path) const = 0;
    virtual FileResult SetAttributes(const std::wstring& path, std::uint32_t attributes) = 0;
    // The entries of a folder, "." and ".." left out; fails for a missing or unreadable folder.
    virtual FileResult ListFolder(const std::wstring& path,
                                  std::vector<FolderEntry>& entries) const = 0;
    // Writes what the system still holds of a file to the disk, so a reboot cannot lose it.
    virtual FileResult FlushFile(const std::wstring& path) = 0;
    // The bytes of a file from an offset on (fewer when it ends sooner, none past its end).
    virtual FileResult ReadFilePart(const std::wstring& path, std::uint64_t offset,
                                    std::size_t length, std::string& bytes) const = 0;
    // The first bytes of a file (fewer when it is shorter).
    FileResult ReadFileStart(const std::wstring& path, std::size_t length,
                             std::string& bytes) const {
        return ReadFilePart(path, 0, length, bytes);
    }
    virtual bool DeleteFileAt(const std::wstring& path) = 0;
};

}  // namespace kestrix
