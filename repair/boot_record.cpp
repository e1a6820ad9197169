#include "repair/boot_record.h"

#include "platform/bytes.h"
#include "platform/text.h"

namespace kestrix {

namespace {

// Every field read lies in the first 512 bytes, whatever the sector size.
constexpr std::size_t kRecordSize = 512;
constexpr std::string_view kNtfsName = "NTFS    ";
// NTFS's boot file: the first 8 KiB, 16 sectors of 512 bytes.
constexpr std::uint32_t kNtfsBootBytes = 8192;
// Counts of clusters from which on the FAT type changes, and the most that FAT32 can number.
constexpr std::uint64_t kFat16Clusters = 4085;
constexpr std::uint64_t kFat32Clusters = 65525;
constexpr std::uint64_t kMostFat32Clusters = 0x0FFFFFF5;
// Every FAT starts with two entries that stand for no cluster.
constexpr std::uint64_t kReservedFatEntries = 2;
constexpr std::uint64_t kDirectoryEntrySize = 32;

bool IsPowerOfTwo(std::uint64_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// A short or long jump over the BPB, and the boot signature at bytes 510 and 511.
bool IsBootRecord(std::string_view b) {
    return b.size() >= kRecordSize && (Byte(b, 0) == 0xEB || Byte(b, 0) == 0xE9) &&
           Byte(b, 510) == 0x55 && Byte(b, 511) == 0xAA;
}

// NTFS records sectors per cluster above 128 as a negative power of two; no cluster is larger
// than 2 MiB.
std::uint64_t NtfsSectorsPerCluster(std::uint32_t code, std::uint32_t bytesPerSector) {
    if (code <= 0x80) {
        return IsPowerOfTwo(code) ? code : 0;
    }
    const std::uint32_t shift = 256 - code;
    if (shift > 12) {
        return 0;
    }
    const std::uint64_t sectors = std::uint64_t{1} << shift;
    return sectors * bytesPerSector <= (2u << 20) ? sectors : 0;
}

BootRecord DecodeNtfs(std::string_view b, std::uint32_t bytesPerSector) {
    const auto perCluster = NtfsSectorsPerCluster(Byte(b, 0x0D), bytesPerSector);
    const auto total = Le64(b, 0x28);
    // The FAT fields that NTFS leaves at 0, so that no FAT driver takes the volume for its own.
    const bool fatFieldsClear = Le16(b, 0x0E) == 0 && Byte(b, 0x10) == 0 && Le16(b, 0x11) == 0 &&
                                Le16(b, 0x13) == 0 && Le16(b, 0x16) == 0 && Le32(b, 0x20) == 0;
    const std::uint32_t bootSectors = kNtfsBootBytes / bytesPerSector;
    if (perCluster == 0 || total <= bootSectors || !fatFieldsClear) {
        return {};
    }
    // The master file table and its mirror lie on the volume.
    const auto clusters = total / perCluster;
    if (Le64(b, 0x30) >= clusters || Le64(b, 0x38) >= clusters) {
        return {};
    }
    return {FileSystemKind::kNtfs, bytesPerSector, total, bootSectors, Le32(b, 0x48)};
}

BootRecord DecodeFat(std::string_view b, std::uint32_t bytesPerSector) {
    const std::uint32_t perCluster = Byte(b, 0x0D);
    const std::uint32_t reserved = Le16(b, 0x0E);
    const std::uint32_t fats = Byte(b, 0x10);
    const std::uint32_t rootEntries = Le16(b, 0x11);
    const std::uint32_t media = Byte(b, 0x15);
    const std::uint32_t fatSize16 = Le16(b, 0x16);
    const std::uint64_t total = Le16(b, 0x13) != 0 ? Le16(b, 0x13) : Le32(b, 0x20);
    // FAT32 records its FAT's size only in its longer BPB.
    const std::uint64_t fatSize = fatSize16 != 0 ? fatSize16 : Le32(b, 0x24);
    if (!IsPowerOfTwo(perCluster) || perCluster > 128 || reserved == 0 || fats == 0 ||
        (media != 0xF0 && media < 0xF8) || total == 0 || fatSize == 0) {
        return {};
    }
    const std::uint64_t rootSectors =
        (rootEntries * kDirectoryEntrySize + bytesPerSector - 1) / bytesPerSector;
    const std::uint64_t beforeData = reserved + fats * fatSize + rootSectors;
    if (beforeData >= total) {
        return {};
    }
    const std::uint64_t clusters = (total - beforeData) / perCluster;
    const std::uint64_t entries = clusters + kReservedFatEntries;
    FileSystemKind kind = FileSystemKind::kFat32;
    std::uint64_t fatBytes = entries * 4;
    if (clusters < kFat16Clusters) {
        kind = FileSystemKind::kFat12;
        fatBytes = (entries * 3 + 1) / 2;
    } else if (clusters < kFat32Clusters) {
        kind = FileSystemKind::kFat16;
        fatBytes = entries * 2;
    }
    // FAT32 keeps its root folder in clusters and its FAT's size in the longer BPB; FAT12 and
    // FAT16 keep both in the short one.
    const bool fat32Layout = fatSize16 == 0 && rootEntries == 0;
    if (fat32Layout != (kind == FileSystemKind::kFat32) || clusters == 0 ||
        clusters > kMostFat32Clusters || fatSize * bytesPerSector < fatBytes) {
        return {};
    }
    // The extended boot signature says that the serial number follows it.
    const std::size_t signature = kind == FileSystemKind::kFat32 ? 0x42 : 0x26;
    const auto serial = Byte(b, signature) == 0x29 ? std::optional(Le32(b, signature + 1))
                                                   : std::nullopt;
    return {kind, bytesPerSector, total, reserved, serial};
}

}  // namespace

BootRecord DecodeBootRecord(std::string_view start) {
    if (!IsBootRecord(start)) {
        return {};
    }
    const std::uint32_t bytesPerSector = Le16(start, 0x0B);
    if (!IsPowerOfTwo(bytesPerSector) || bytesPerSector < 512 || bytesPerSector > 4096) {
        return {};
    }
    if (start.substr(3, kNtfsName.size()) == kNtfsName) {
        return DecodeNtfs(start, bytesPerSector);
    }
    return DecodeFat(start, bytesPerSector);
}

std::wstring DescribeBootRecord(const BootRecord& record) {
    if (record.kind == FileSystemKind::kUnknown) {
        return L"无法识别的引导记录";
    }
    const wchar_t* const names[] = {L"", L"NTFS", L"FAT12", L"FAT16", L"FAT32"};
    return names[static_cast<int>(record.kind)] + std::wstring(L"、每扇区 ") +
           DecimalText(record.bytesPerSector) + L" 字节、共 " +
           DecimalText(static_cast<long long>(record.totalSectors)) + L" 个扇区、保留 " +
           DecimalText(record.reservedSectors) + L" 个扇区" +
           (record.serial ? L"、卷序列号 " + SerialNumberText(*record.serial) : L"");
}

}  // namespace kestrix
