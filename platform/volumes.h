#pragma once
// What the logic needs of drives, volumes and disks: the drive list, a volume's boot area read and
// written raw, which volume and which disk it is, what it lies on. Failures are values.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drive_letter.h"
#include "platform/files.h"

namespace kestrix {

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

// A GPT partition found by its unique partition GUID: where it lies, and its drive when it has one.
struct FoundPartition {
    PartitionPlace place;
    std::optional<DriveLetter> drive;
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

class Volumes {
public:
    virtual ~Volumes() = default;
    // The machine's drives in letter order.
    virtual std::vector<DriveEntry> DriveEntries() const = 0;
    // The first bytes of the raw volume behind a drive, as its boot sector tool sees it.
    virtual FileResult ReadVolumeStart(DriveLetter drive, std::size_t length,
                                       std::string& bytes) const = 0;
    // The first bytes of physical disk N (its boot code and partition table), whole sectors.
    virtual FileResult ReadDiskStart(int disk, std::size_t length, std::string& bytes) const = 0;
    // Writes bytes over the start of the raw volume behind a drive, whole sectors only, with the
    // volume locked when Windows allows it.
    virtual FileResult WriteVolumeStart(DriveLetter drive, const std::string& bytes) = 0;
    // Empty when Windows cannot tell even the volume's size.
    virtual std::optional<VolumeIdentity> IdentifyVolume(DriveLetter drive) const = 0;
    // The partition of a disk that the identity names, lettered or not; empty when no disk of this
    // PC has it.
    virtual std::optional<PartitionPlace> FindPartition(const VolumeIdentity& identity) const = 0;
    // The GPT partition whose unique partition GUID is these 16 bytes (as the firmware's boot
    // entries name it), lettered or not; empty when no disk of this PC has it.
    virtual std::optional<FoundPartition> FindPartitionById(std::string_view guid) const = 0;
    // The medium or bus of the disk behind a drive; Fixed when it cannot be told.
    virtual DriveMedia MediaOf(DriveLetter drive) const = 0;
    // The same for physical disk N, whose partitions may have no drive letter.
    virtual DriveMedia DiskMediaOf(int disk) const = 0;
    // Whether the partition behind a drive is an EFI system partition: by its partition type, or
    // where that cannot be asked, a FAT volume holding an \EFI folder.
    virtual bool IsEfiSystemPartition(DriveLetter drive) const = 0;
    // The boot store that the running Windows has loaded (and holds open), as a path on a drive
    // ("d:\\Boot\\BCD"); empty when there is none or its volume has no letter.
    virtual std::optional<std::wstring> SystemStorePath() const = 0;
};

}  // namespace kestrix
