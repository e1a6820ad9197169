// Boot records as dosfstools' mkfs.fat and ntfs-3g's mkntfs write them, and the same with one
// field changed: what the decoder takes them for.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "disk_image.h"
#include "repair/boot_record.h"

namespace kestrix {

void PrintTo(const BootRecord& r, std::ostream* os) {
    *os << "{kind " << static_cast<int>(r.kind) << ", " << r.bytesPerSector << " bytes a sector, "
        << r.totalSectors << " sectors, " << r.reservedSectors << " reserved}";
}

namespace {

using testing::DiskImage;
using testing::TempFolder;

constexpr auto kNtfs = FileSystemKind::kNtfs;
constexpr auto kFat12 = FileSystemKind::kFat12;
constexpr auto kFat16 = FileSystemKind::kFat16;
constexpr auto kFat32 = FileSystemKind::kFat32;

// --invariant: no volume ID from the clock; -a: no reserved sectors added for alignment.
constexpr char kFat12Format[] = "mkfs.fat --invariant -a -F 12";
constexpr char kFat16Format[] = "mkfs.fat --invariant -a -F 16";
constexpr char kFat32Format[] = "mkfs.fat --invariant -F 32";
constexpr char kNtfsFormat[] = "mkntfs -F -Q -q";
// The volume ID that mkfs.fat --invariant writes; mkntfs writes a random serial number, so the
// test writes this one over it.
constexpr std::uint32_t kInvariantSerial = 0x1234ABCD;
constexpr std::uint32_t kNtfsSerial = 0x4E544653;

void SetLe(std::string& bytes, std::size_t at, std::uint64_t value, int length) {
    for (int i = 0; i < length; ++i) {
        bytes[at + i] = static_cast<char>(value >> (8 * i));
    }
}

std::function<void(std::string&)> Set(std::size_t at, std::uint64_t value, int length) {
    return [=](std::string& bytes) { SetLe(bytes, at, value, length); };
}

TEST(BootRecord, TellsTheFileSystemFromItsOwnFields) {
    const BootRecord unknown;
    const struct {
        const char* name;
        const char* format;
        std::uint64_t sizeMiB;
        std::function<void(std::string&)> change;
        BootRecord expected;
    } cases[] = {
        {"FAT12", kFat12Format, 1, {}, {kFat12, 512, 2048, 1, kInvariantSerial}},
        {"FAT16", kFat16Format, 10, {}, {kFat16, 512, 20480, 1, kInvariantSerial}},
        {"FAT32 with mkfs.fat's 32 reserved sectors",
         kFat32Format,
         40,
         {},
         {kFat32, 512, 81920, 32, kInvariantSerial}},
        // NTFS counts one sector less than the volume: its boot record's copy lies after it.
        {"NTFS", kNtfsFormat, 4, {}, {kNtfs, 512, 8191, 16, kNtfsSerial}},
        {"NTFS of 4 KiB sectors", "mkntfs -F -Q -q -s 4096", 4, {}, {kNtfs, 4096, 1023, 2, kNtfsSerial}},
        {"FAT16 whose label says FAT32",
         kFat16Format,
         10,
         [](std::string& b) { b.replace(0x36, 8, "FAT32   "); },
         {kFat16, 512, 20480, 1, kInvariantSerial}},
        // 4 sectors a cluster after 1 reserved, 2 FATs of 20 and 32 of root folder: 4084 and 4085
        // clusters, the last count of FAT12 and the first of FAT16.
        {"4084 clusters",
         kFat16Format,
         10,
         Set(0x13, 1 + 40 + 32 + 4084 * 4, 2),
         {kFat12, 512, 16409, 1, kInvariantSerial}},
        {"4085 clusters",
         kFat16Format,
         10,
         Set(0x13, 1 + 40 + 32 + 4085 * 4, 2),
         {kFat16, 512, 16413, 1, kInvariantSerial}},
        {"the long total when the short one is 0",
         kFat16Format,
         10,
         [](std::string& b) {
             SetLe(b, 0x13, 0, 2);
             SetLe(b, 0x20, 20000, 4);
         },
         {kFat16, 512, 20000, 1, kInvariantSerial}},
        // mkfs.fat warns and writes it all the same: too few clusters for FAT32, and a FAT32
        // layout for FAT16's count.
        {"FAT32 layout with FAT16's count of clusters", kFat32Format, 32, {}, unknown},
        // FATs of 600 sectors, large enough for FAT32's first count of clusters.
        {"FAT16 layout with FAT32's count of clusters", kFat16Format, 10,
         [](std::string& b) {
             SetLe(b, 0x16, 600, 2);
             SetLe(b, 0x13, 0, 2);
             SetLe(b, 0x20, 1 + 1200 + 32 + 65525 * 4, 4);
         },
         unknown},
        {"FAT16 without the extended boot signature, so without a serial number",
         kFat16Format,
         10,
         Set(0x26, 0, 1),
         {kFat16, 512, 20480, 1, std::nullopt}},
        {"FAT too small for its clusters", kFat16Format, 10, Set(0x16, 15, 2), unknown},
        {"FAT areas past the volume's end", kFat16Format, 10, Set(0x13, 73, 2), unknown},
        {"no boot signature", kFat16Format, 10, Set(510, 0, 2), unknown},
        {"no jump", kFat16Format, 10, Set(0, 0, 1), unknown},
        {"0 bytes a sector", kFat16Format, 10, Set(0x0B, 0, 2), unknown},
        {"768 bytes a sector", kFat16Format, 10, Set(0x0B, 768, 2), unknown},
        {"8192 bytes a sector", kNtfsFormat, 4, Set(0x0B, 8192, 2), unknown},
        {"3 sectors a cluster", kFat16Format, 10, Set(0x0D, 3, 1), unknown},
        {"0 reserved sectors", kFat32Format, 40, Set(0x0E, 0, 2), unknown},
        {"0 FATs", kFat16Format, 10, Set(0x10, 0, 1), unknown},
        {"0 sectors", kFat16Format, 10, Set(0x13, 0, 2), unknown},
        {"NTFS of 0 sectors", kNtfsFormat, 4, Set(0x28, 0, 8), unknown},
        {"NTFS with its file table past the end", kNtfsFormat, 4, Set(0x30, 1024, 8), unknown},
        {"NTFS with a FAT's reserved sectors", kNtfsFormat, 4, Set(0x0E, 1, 2), unknown},
    };
    TempFolder folder;
    int index = 0;
    for (const auto& c : cases) {
        const DiskImage image(folder, "volume" + std::to_string(index++), c.sizeMiB, c.format, "");
        ASSERT_TRUE(image.ok()) << c.name;
        const auto sector = image.Bytes(0, 512);
        std::string bytes(sector.begin(), sector.end());
        if (bytes.compare(3, 4, "NTFS") == 0) {
            SetLe(bytes, 0x48, kNtfsSerial, 4);
        }
        if (c.change) {
            c.change(bytes);
        }
        EXPECT_EQ(DecodeBootRecord(bytes), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace kestrix
