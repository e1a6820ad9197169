#pragma once
// Decodes the boot record at the start of a volume: which file system it describes (NTFS, FAT12,
// FAT16, FAT32), its sector size, its length in sectors and how many sectors at its start hold
// boot code rather than file-system data, so that a saved volume start goes back only over the
// same file system and only as far as its boot area reaches.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

enum class FileSystemKind { kUnknown, kNtfs, kFat12, kFat16, kFat32 };

struct BootRecord {
    FileSystemKind kind = FileSystemKind::kUnknown;
    std::uint32_t bytesPerSector = 0;
    std::uint64_t totalSectors = 0;
    // The sectors before the file system's own data: FAT's reserved-sector count (the boot
    // sector, and on FAT32 its information sector and the boot sector's copy); for NTFS, whose
    // boot record counts none, the 8 KiB of its boot file (16 sectors of 512 bytes).
    std::uint32_t reservedSectors = 0;
    // The serial number that the format gave the file system (NTFS's low 32 bits); empty for a
    // FAT record without the extended boot signature.
    std::optional<std::uint32_t> serial;

    // Two records that are equal describe the same file system laid out the same way.
    bool operator==(const BootRecord&) const = default;
};

// The bytes are the volume's first sector, or more. Anything that is not a consistent NTFS or FAT
// boot record is kUnknown with every number 0: a sector size other than a power of two from 512
// to 4096, a count of 0, FAT areas that overrun the volume or a FAT too small for its clusters,
// a layout that does not match the FAT type. The FAT type follows from the count of clusters,
// whatever the record's label says.
BootRecord DecodeBootRecord(std::string_view start);

// "FAT16、每扇区 512 字节、共 20480 个扇区、保留 1 个扇区", or that it is not recognised.
std::wstring DescribeBootRecord(const BootRecord& record);

}  // namespace kestrix
