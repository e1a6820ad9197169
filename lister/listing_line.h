#pragma once
// The partition listing that the boot-partition scan reads, one line per partition:
//
//   <number> <drive|-> <mbr|gpt> <type> <file system|-> <label|-> <yes|no> <start> <end> <size> MB
//
// Start, end (exclusive) and size are whole MiB. The scan normalises a line (trim, lower case,
// one space between words), takes the drive from the second word and the active flag and size
// from the fifth and second words from the end, so only the label may hold spaces and every
// missing value still takes a word ("-").
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lister/partition_table.h"

namespace kestrix {

// What Windows knows of the volume on a partition; all empty when it has none.
struct VolumeInfo {
    std::wstring drive;  // "C:"
    std::wstring fileSystem;
    std::wstring label;
};

// A volume with a drive letter and where it starts.
struct MountedVolume {
    std::uint32_t disk = 0;
    std::uint64_t startBytes = 0;
    VolumeInfo info;
};

inline constexpr wchar_t kOpenDiskError[] = L"open disk error!";
inline constexpr wchar_t kOpenImageError[] = L"open image error!";
inline constexpr wchar_t kBackupGptNotice[] = L"主GPT已损坏，已按磁盘末尾的备份GPT列出分区";

// "07" for MBR types, a name or the GUID for GPT ones.
std::wstring PartitionTypeWord(const PartitionInfo& partition);

// One line, without its line end.
std::wstring ListingLine(const PartitionInfo& partition, const VolumeInfo& volume);

// Unused slots and extended containers (which Windows' layout also reports) are not listed.
bool IsListedPartition(const PartitionInfo& partition);

// The volume that starts where the partition does on the same disk, or none.
VolumeInfo VolumeOf(const std::vector<MountedVolume>& volumes, std::uint32_t disk,
                    const PartitionInfo& partition);

// The disk number from "N /find:all /getid": switches are ignored, the number is decimal.
std::optional<std::uint32_t> ListingDiskArgument(const std::vector<std::wstring>& arguments);

// The file from "/image:FILE" (the switch in any case, the other switches ignored), or none.
std::optional<std::wstring> ListingImageArgument(const std::vector<std::wstring>& arguments);

// Whether "/all" (in any case) is among the arguments. A disk number or an image named beside it
// wins.
bool ListingAllArgument(const std::vector<std::wstring>& arguments);

// The disks as the listing program sees them.
class DiskSource {
public:
    virtual ~DiskSource() = default;
    // Nothing when the disk cannot be opened; an opened disk whose layout is unreadable gives an
    // empty list.
    virtual std::optional<std::vector<PartitionInfo>> Partitions(std::uint32_t disk) = 0;
    virtual bool DiskExists(std::uint32_t disk) = 0;
    virtual std::vector<MountedVolume> Volumes() = 0;
};

struct Listing {
    std::vector<std::wstring> lines;
    int exitCode = 0;
    // For standard error, so that whoever reads the lines sees them unchanged; empty when none.
    std::wstring notice;
};

// How far past a missing disk to look for a higher one: removing disks leaves gaps in the
// numbering, and only the end of all disks may print the marker that stops the scan.
inline constexpr std::uint32_t kDiskProbeSpan = 32;

Listing MakeListing(std::uint32_t disk, DiskSource& source);

// The disks that "/all" lists, from 0: those the boot-partition scan asks for.
inline constexpr std::uint32_t kLastListedDisk = 10;

// Every disk from 0 to kLastListedDisk in one listing, so that the scan starts the lister once:
// for each in order a line "disk N", then exactly the lines of MakeListing for it (the end marker
// included, in every section past the last disk). No notice, and exit code 0: what each disk's
// own exit code would be its lines tell, 1 exactly where the marker is.
Listing MakeAllDisksListing(DiskSource& source);

// The partitions of a raw disk image, in the same lines; an image has no volumes, so no drive,
// file system or label either. A GPT listed from its backup says so in the notice.
Listing MakeImageListing(SectorReader& image);

}  // namespace kestrix
