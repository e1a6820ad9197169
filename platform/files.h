#pragma once
// What the logic needs of files, folders and drives. Every operation reports failure as a value.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/drive_letter.h"

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
inline constexpr std::uint32_t kErrorSharingViolation = 32;

struct FolderEntry {
    std::wstring name;
    bool isFolder = false;
};

// How the running Windows was started.
enum class Firmware { Unknown, Bios, Uefi };

// What asking the firmware told: Unknown comes with the unexpected error that Windows gave.
struct FirmwareReading {
    Firmware firmware = Firmware::Unknown;
    std::uint32_t error = 0;
    std::wstring errorText;
};

// Attributes that a file's backup records and its restore puts back, with Windows' values.
inline constexpr std::uint32_t kAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kAttributeHidden = 0x2;
inline constexpr std::uint32_t kAttributeSystem = 0x4;
inline constexpr std::uint32_t kAttributeArchive = 0x20;

// Which volume a drive is, so that what was saved goes back only where it came from. Windows
// names the disk (its MBR signature or GPT disk GUID) and where on it the partition lies; when it
// cannot, the volume's size is all there is. The file system on it has a serial number, new with
// every format.
struct VolumeIdentity {
    std::wstring disk;  // "MBR 1A2B3C4D" or "GPT {…}"; empty when only the size is known
    std::uint64_t start = 0;
    std::uint64_t length = 0;  // the partition's length, or the volume's size
    // Empty when Windows reads no file system there.
    std::optional<std::uint32_t> serial;

    bool operator==(const VolumeIdentity&) const = default;
};

// Where a partition is: its disk's number and its own number on that disk.
struct PartitionPlace {
    int disk = 0;
    int partition = 0;
};

// A drive of the machine and what the user knows it by.
struct DriveEntry {
    DriveLetter drive;
    // Its label, or the share (\\server\share) of a network drive; empty when it has neither.
    std::wstring name;

    // "c: [SYS]", or "d:" without a name.
    std::wstring Text() const { return drive.Text() + (name.empty() ? L"" : L" [" + name + L"]"); }
};

// What a drive lies on. Anything but a fixed disk may be the technician's own rescue medium.
enum class DriveMedia { Fixed, Removable, Usb, SdCard, Mmc };

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The folder that holds the program's executable, ending in a backslash only at a drive root.
    virtual std::wstring OwnFolder() const = 0;
    // Where Windows' own tools are, as this process must name the folder to start them: System32,
    // or Sysnative for a 32-bit process on 64-bit Windows. Empty when it cannot be told.
    virtual std::wstring SystemFolder() const = 0;
    // The command-line arguments: everything after the program's own name.
    virtual std::wstring CommandLineArguments() const = 0;
    // Makes the drive named by a letter and a colon current.
    virtual bool SetCurrentDrive(const std::wstring& drive) = 0;
    virtual bool SetCurrentFolder(const std::wstring& folder) = 0;
    // Length in bytes; empty for a missing or unreadable file or a drive without medium.
    virtual std::optional<std::int64_t> FileLength(const std::wstring& path) const = 0;
    // Clears read-only, hidden, system and archive.
    virtual FileResult SetNormalAttributes(const std::wstring& path) = 0;
    // Copies over an existing target.
    virtual FileResult CopyFileOver(const std::wstring& source, const std::wstring& target) = 0;
    // Fails when the folder exists already.
    virtual FileResult CreateFolder(const std::wstring& path) = 0;
    // Appends bytes, creating the file when it is missing.
    virtual FileResult AppendToFile(const std::wstring& path, const std::string& bytes) = 0;
    // Writes a new file, replacing an existing one.
    virtual FileResult WriteNewFile(const std::wstring& path, const std::string& bytes) = 0;
    // The first bytes of the raw volume behind a drive ("d:"), as its boot sector tool sees it.
    virtual FileResult ReadVolumeStart(const std::wstring& drive, std::size_t length,
                                       std::string& bytes) const = 0;
    // Writes bytes over the start of the raw volume behind a drive, whole sectors only, with the
    // volume locked when Windows allows it.
    virtual FileResult WriteVolumeStart(const std::wstring& drive, const std::string& bytes) = 0;
    // Empty when Windows cannot tell even the volume's size.
    virtual std::optional<VolumeIdentity> IdentifyVolume(const std::wstring& drive) const = 0;
    // The partition of a disk that the identity names, lettered or not; empty when no disk of this
    // PC has it.
    virtual std::optional<PartitionPlace> FindPartition(const VolumeIdentity& identity) const = 0;
    virtual FileResult ReadWholeFile(const std::wstring& path, std::string& bytes) const = 0;
    // Puts a file in the place of another on the same volume, replacing it, on the disk before it
    // returns.
    virtual FileResult MoveFileOver(const std::wstring& source, const std::wstring& target) = 0;
    // The SHA-256 of bytes, 32 bytes long; empty when the system cannot compute it.
    virtual std::optional<std::string> Sha256(const std::string& bytes) const = 0;
    // Empty for a missing file.
    virtual std::optional<std::uint32_t> Attributes(const std::wstring& path) const = 0;
    virtual FileResult SetAttributes(const std::wstring& path, std::uint32_t attributes) = 0;
    // The entries of a folder, "." and ".." left out; fails for a missing or unreadable folder.
    virtual FileResult ListFolder(const std::wstring& path,
                                  std::vector<FolderEntry>& entries) const = 0;
    // Writes what the system still holds of a file to the disk, so a reboot cannot lose it.
    virtual FileResult FlushFile(const std::wstring& path) = 0;
    // The machine's drives in letter order.
    virtual std::vector<DriveEntry> DriveEntries() const = 0;
    // The medium or bus of the disk behind a drive ("d:"); Fixed when it cannot be told.
    virtual DriveMedia MediaOf(const std::wstring& drive) const = 0;
    // The same for physical disk N, whose partitions may have no drive letter.
    virtual DriveMedia DiskMediaOf(int disk) const = 0;
    // Whether the partition behind a drive is an EFI system partition: by its partition type, or
    // where that cannot be asked, a FAT volume holding an \EFI folder.
    virtual bool IsEfiSystemPartition(const std::wstring& drive) const = 0;
    virtual FirmwareReading RunningFirmware() const = 0;
    // The first bytes of a file (fewer when it is shorter).
    virtual FileResult ReadFileStart(const std::wstring& path, std::size_t length,
                                     std::string& bytes) const = 0;
    // The boot store that the running Windows has loaded (and holds open), as a path on a drive
    // ("d:\\Boot\\BCD"); empty when there is none or its volume has no letter.
    virtual std::optional<std::wstring> SystemStorePath() const = 0;
    // The folder for short-lived files of this user.
    virtual std::wstring TempFolder() const = 0;
    virtual bool DeleteFileAt(const std::wstring& path) = 0;
};

}  // namespace kestrix
