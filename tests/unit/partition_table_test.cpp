#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "disk_image.h"
#include "lister/partition_table.h"
#include "platform/text.h"

namespace kestrix {
namespace {

using testing::DiskImage;
using testing::TempFolder;

constexpr std::uint64_t kSector = 512;

// What a decoded partition comes to, in sectors of 512 bytes so rows read like sfdisk's input.
struct Row {
    std::uint32_t number;
    std::uint64_t start;
    std::uint64_t sectors;
    bool active;
    int type;  // the MBR type byte; -1 for GPT partitions
    bool logical;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << "{#" << r.number << " start " << r.start << " sectors " << r.sectors
        << (r.active ? " active" : "") << " type " << std::hex << r.type << std::dec
        << (r.logical ? " logical" : "") << "}";
}

std::vector<Row> Rows(const DiskLayout& layout, std::uint64_t sectorSize = kSector) {
    std::vector<Row> rows;
    for (const auto& p : layout.partitions) {
        rows.push_back({p.number, p.startBytes / sectorSize, p.lengthBytes / sectorSize, p.active,
                        p.style == PartitionStyle::kGpt ? -1 : p.mbrType, p.logical});
    }
    return rows;
}

// A primary before and after the extended partition, so numbering must put every primary first.
constexpr char kExtendedScript[] =
    "label: dos\n"
    "start=2048, size=2048, type=83\n"
    "start=4096, size=16384, type=f\n"
    "start=22528, size=2048, type=7, bootable\n"
    "start=6144, size=2048, type=7\n"
    "start=10240, size=2048, type=c\n"
    "start=14336, size=4096, type=83\n";
constexpr std::uint64_t kExtendedStart = 4096;
const std::vector<Row> kPrimariesOfExtended = {{1, 2048, 2048, false, 0x83, false},
                                               {2, 22528, 2048, true, 0x07, false}};
const Row kLogical1{3, 6144, 2048, false, 0x07, true};
const Row kLogical2{4, 10240, 2048, false, 0x0c, true};
const Row kLogical3{5, 14336, 4096, false, 0x83, true};

constexpr char kGptScript[] =
    "label: gpt\n"
    "start=2048, size=2048, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B, name=\"EFI system\"\n"
    "start=4096, size=256, type=E3C9E316-0B5C-4DB8-817D-F92DF00215AE\n"
    "img4 : start=6144, size=8192, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n";
const std::vector<Row> kGptRows = {{1, 2048, 2048, false, -1, false},
                                   {2, 4096, 256, false, -1, false},
                                   {3, 6144, 8192, false, -1, false}};
// The protective entry that a GPT disk of 8 MiB shows when read as MBR.
const std::vector<Row> kProtectiveOnly = {{1, 1, 16383, false, 0xEE, false}};

TEST(PartitionTable, MbrLayoutsFromSfdisk) {
    struct Case {
        const char* name;
        std::uint64_t sizeMiB;
        const char* script;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"one active primary",
         8,
         "label: dos\nstart=2048, size=4096, type=7, bootable\n",
         {{1, 2048, 4096, true, 0x07, false}}},
        {"four primaries, the third active",
         8,
         "label: dos\nstart=2048, size=2048, type=c\nstart=4096, size=2048, type=83\n"
         "start=6144, size=4096, type=7, bootable\nstart=10240, size=2048, type=82\n",
         {{1, 2048, 2048, false, 0x0c, false},
          {2, 4096, 2048, false, 0x83, false},
          {3, 6144, 4096, true, 0x07, false},
          {4, 10240, 2048, false, 0x82, false}}},
        {"primaries around an extended partition (0f) with three logicals",
         16,
         kExtendedScript,
         {kPrimariesOfExtended[0], kPrimariesOfExtended[1], kLogical1, kLogical2, kLogical3}},
        {"extended partition of type 05 in the last slot",
         8,
         "label: dos\nstart=2048, size=2048, type=7, bootable\nstart=4096, size=12288, type=5\n"
         "start=6144, size=2048, type=b\nstart=10240, size=4096, type=7\n",
         {{1, 2048, 2048, true, 0x07, false},
          {2, 6144, 2048, false, 0x0b, true},
          {3, 10240, 4096, false, 0x07, true}}},
        {"extended partition of type 85 only",
         8,
         "label: dos\nstart=2048, size=8192, type=85\nstart=4096, size=2048, type=7\n",
         {{1, 4096, 2048, false, 0x07, true}}},
        {"empty MBR", 8, "label: dos\n", {}},
    };
    TempFolder folder;
    int index = 0;
    for (const auto& c : cases) {
        const DiskImage image(folder, "mbr" + std::to_string(index++), c.sizeMiB,
                              DiskImage::kSfdisk, c.script);
        ASSERT_TRUE(image.ok()) << c.name;
        const DiskLayout layout = image.Decode();
        EXPECT_EQ(layout.style, PartitionStyle::kMbr) << c.name;
        EXPECT_EQ(Rows(layout), c.rows) << c.name;
    }
}

TEST(PartitionTable, GptFromSfdiskNumbersTheUsedEntriesInOrder) {
    TempFolder folder;
    const DiskImage image(folder, "gpt", 8, DiskImage::kSfdisk, kGptScript);
    ASSERT_TRUE(image.ok());
    const DiskLayout layout = image.Decode();
    EXPECT_EQ(layout.style, PartitionStyle::kGpt);
    EXPECT_EQ(Rows(layout), kGptRows);
    ASSERT_EQ(layout.partitions.size(), 3u);
    EXPECT_EQ(GptTypeName(layout.partitions[0].gptType), L"efi-system");
    EXPECT_EQ(GptTypeName(layout.partitions[1].gptType), L"msr");
    EXPECT_EQ(GptTypeName(layout.partitions[2].gptType), L"basic-data");
    EXPECT_EQ(layout.partitions[0].gptName, L"EFI system");
    EXPECT_EQ(layout.partitions[1].gptName, L"");
}

// fdisk's keys for a GPT of 4 KiB sectors: an EFI system partition of 2 MiB, then 1 MiB of Linux
// data, in sectors of 4 KiB.
constexpr char kGpt4kKeys[] = "g\nn\n1\n\n+2M\nt\n1\nn\n2\n\n+1M\nw\n";
const std::vector<Row> kGpt4kRows = {{1, 256, 512, false, -1, false},
                                     {2, 768, 256, false, -1, false}};

// fdisk writes the GPT of a 4 KiB-sector disk: header at byte 4096, LBAs counted in 4 KiB.
TEST(PartitionTable, GptOf4KSectorsNeedsTheRightSectorSize) {
    TempFolder folder;
    const DiskImage image(folder, "gpt4k", 8, DiskImage::Fdisk(4096), kGpt4kKeys);
    ASSERT_TRUE(image.ok());
    const DiskLayout layout = image.Decode(4096);
    EXPECT_EQ(layout.style, PartitionStyle::kGpt);
    EXPECT_EQ(Rows(layout, 4096), kGpt4kRows);
    ASSERT_EQ(layout.partitions.size(), 2u);
    EXPECT_EQ(layout.partitions[0].startBytes, 1u << 20);
    EXPECT_EQ(GptTypeName(layout.partitions[0].gptType), L"efi-system");
    EXPECT_EQ(GptTypeName(layout.partitions[1].gptType), L"linux-data");

    // Read as 512-byte sectors there is no GPT header at byte 512: only the protective MBR shows.
    const DiskLayout wrong = image.Decode(512);
    EXPECT_EQ(wrong.style, PartitionStyle::kMbr);
    ASSERT_EQ(wrong.partitions.size(), 1u);
    EXPECT_EQ(wrong.partitions[0].mbrType, 0xEE);

    // An image is tried with 4 KiB sectors when 512 finds only the protective MBR.
    testing::FileSectorReader reader(image.path());
    EXPECT_EQ(Rows(DecodeDiskImage(reader), 4096), Rows(layout, 4096));
}

TEST(PartitionTable, SectorSizeScalesMbrOffsets) {
    TempFolder folder;
    const DiskImage image(folder, "mbr", 8, DiskImage::kSfdisk,
                          "label: dos\nstart=2048, size=4096, type=7, bootable\n");
    ASSERT_TRUE(image.ok());
    const DiskLayout layout = image.Decode(4096);
    ASSERT_EQ(layout.partitions.size(), 1u);
    EXPECT_EQ(layout.partitions[0].startBytes, 2048u * 4096);
    EXPECT_EQ(layout.partitions[0].lengthBytes, 4096u * 4096);
    for (const std::uint32_t unusable : {0u, 256u, 131072u}) {
        EXPECT_EQ(image.Decode(unusable).style, PartitionStyle::kRaw) << unusable;
    }
}

// The primary GPT header's byte offset, and the backup's in the image's last sector.
constexpr std::uint64_t kPrimaryHeader = kSector;
std::uint64_t BackupHeader(const DiskImage& image) {
    return std::filesystem::file_size(image.path()) - kSector;
}
std::uint64_t EntriesOf(const DiskImage& image, std::uint64_t header) {
    return image.Le32At(header + 72) * kSector;
}

// Rewrites a GPT header's two checksums after a test changed it or its entries on purpose.
void FixGptChecksums(const DiskImage& image, std::uint64_t header = kPrimaryHeader) {
    const std::uint64_t arrayBytes =
        static_cast<std::uint64_t>(image.Le32At(header + 80)) * image.Le32At(header + 84);
    if (arrayBytes <= (1u << 20)) {
        const auto entries = image.Bytes(EntriesOf(image, header), arrayBytes);
        image.SetLe32At(header + 88, Crc32(entries));
    }
    image.SetLe32At(header + 16, 0);
    image.SetLe32At(header + 16, Crc32(image.Bytes(header, image.Le32At(header + 12))));
}

// The same damage to the primary GPT and to its backup, given each header's byte offset.
std::function<void(const DiskImage&)> InBothGpts(
    std::function<void(const DiskImage&, std::uint64_t)> damage) {
    return [damage](const DiskImage& d) {
        damage(d, kPrimaryHeader);
        damage(d, BackupHeader(d));
    };
}

std::uint64_t EbrLink(const DiskImage& image, std::uint64_t ebr) {
    return image.Le32At(ebr * kSector + 446 + 16 + 8);
}
void SetEbrLink(const DiskImage& image, std::uint64_t ebr, std::uint32_t relative) {
    image.SetLe32At(ebr * kSector + 446 + 16 + 8, relative);
}
std::uint64_t SecondEbr(const DiskImage& image) {
    return kExtendedStart + EbrLink(image, kExtendedStart);
}

TEST(PartitionTable, DamagedTablesEndAndKeepWhatIsSound) {
    struct Case {
        const char* name;
        const char* script;
        std::function<void(const DiskImage&)> damage;
        PartitionStyle style;
        std::vector<Row> rows;
    };
    const auto withLogicals = [](std::initializer_list<Row> logicals) {
        std::vector<Row> rows = kPrimariesOfExtended;
        rows.insert(rows.end(), logicals);
        return rows;
    };
    const Case cases[] = {
        {"first EBR links to itself", kExtendedScript,
         [](const DiskImage& d) { SetEbrLink(d, kExtendedStart, 0); }, PartitionStyle::kMbr,
         withLogicals({kLogical1})},
        {"second EBR links to itself", kExtendedScript,
         [](const DiskImage& d) {
             const auto second = SecondEbr(d);
             SetEbrLink(d, second, static_cast<std::uint32_t>(second - kExtendedStart));
         },
         PartitionStyle::kMbr, withLogicals({kLogical1, kLogical2})},
        {"second EBR links back to the first", kExtendedScript,
         [](const DiskImage& d) { SetEbrLink(d, SecondEbr(d), 0); }, PartitionStyle::kMbr,
         withLogicals({kLogical1, kLogical2})},
        {"link far past the container", kExtendedScript,
         [](const DiskImage& d) { SetEbrLink(d, kExtendedStart, 0xFFFFFFF0u); },
         PartitionStyle::kMbr, withLogicals({kLogical1})},
        {"logical runs past the container", kExtendedScript,
         [](const DiskImage& d) { d.SetLe32At(kExtendedStart * kSector + 446 + 12, 0xFFFFFFF0u); },
         PartitionStyle::kMbr,
         withLogicals({{3, 10240, 2048, false, 0x0c, true}, {4, 14336, 4096, false, 0x83, true}})},
        {"second EBR lost its 55 AA mark", kExtendedScript,
         [](const DiskImage& d) {
             d.Write(SecondEbr(d) * kSector + 510, std::vector<std::uint8_t>{0, 0});
         },
         PartitionStyle::kMbr, withLogicals({kLogical1})},
        {"image ends inside the chain", kExtendedScript,
         [](const DiskImage& d) {
             std::filesystem::resize_file(d.path(), SecondEbr(d) * kSector + 100);
         },
         PartitionStyle::kMbr, withLogicals({kLogical1})},
        {"MBR lost its 55 AA mark",
         kExtendedScript,
         [](const DiskImage& d) {
             d.Write(510, std::vector<std::uint8_t>{0x55, 0x00});
         },
         PartitionStyle::kRaw,
         {}},
        {"empty file",
         kExtendedScript,
         [](const DiskImage& d) { std::filesystem::resize_file(d.path(), 0); },
         PartitionStyle::kRaw,
         {}},
        {"GPT header changed without its checksum, in both copies", kGptScript,
         InBothGpts([](const DiskImage& d, std::uint64_t h) { d.SetLe32At(h + 40, 34); }),
         PartitionStyle::kMbr, kProtectiveOnly},
        {"GPT entries changed without their checksum, in both copies", kGptScript,
         InBothGpts(
             [](const DiskImage& d, std::uint64_t h) { d.SetLe32At(EntriesOf(d, h) + 32, 3000); }),
         PartitionStyle::kMbr, kProtectiveOnly},
        {"GPT entry count absurd, checksum right, in both copies", kGptScript,
         InBothGpts([](const DiskImage& d, std::uint64_t h) {
             d.SetLe32At(h + 80, 0xFFFFFFFFu);
             FixGptChecksums(d, h);
         }),
         PartitionStyle::kMbr, kProtectiveOnly},
        {"GPT entry size too small, checksum right, in both copies", kGptScript,
         InBothGpts([](const DiskImage& d, std::uint64_t h) {
             d.SetLe32At(h + 84, 64);
             FixGptChecksums(d, h);
         }),
         PartitionStyle::kMbr, kProtectiveOnly},
        {"GPT entry ends past the disk, checksums right",
         kGptScript,
         [](const DiskImage& d) {
             d.SetLe32At(2 * kSector + 128 + 40, 0xFFFFFFFFu);
             d.SetLe32At(2 * kSector + 128 + 44, 0xFFFFFFFFu);
             FixGptChecksums(d);
         },
         PartitionStyle::kGpt,
         {{1, 2048, 2048, false, -1, false}, {2, 6144, 8192, false, -1, false}}},
        {"GPT entry ends before it starts, checksums right",
         kGptScript,
         [](const DiskImage& d) {
             d.SetLe32At(2 * kSector + 40, 100);
             FixGptChecksums(d);
         },
         PartitionStyle::kGpt,
         {{1, 4096, 256, false, -1, false}, {2, 6144, 8192, false, -1, false}}},
    };
    TempFolder folder;
    int index = 0;
    for (const auto& c : cases) {
        const DiskImage image(folder, "damaged" + std::to_string(index++),
                              c.script == kExtendedScript ? 16 : 8, DiskImage::kSfdisk, c.script);
        ASSERT_TRUE(image.ok()) << c.name;
        c.damage(image);
        const DiskLayout layout = image.Decode();
        EXPECT_EQ(layout.style, c.style) << c.name;
        EXPECT_EQ(Rows(layout), c.rows) << c.name;
    }
}

// GPT images as the lister reads them, past what would hide their table: the backup GPT at the
// disk's end when the primary does not check out, the sector size whatever the protective entry
// records.
TEST(PartitionTable, ImageGptStillFound) {
    struct Case {
        const char* name;
        std::uint32_t sectorSize;  // 512: sfdisk's kGptScript; 4096: fdisk's kGpt4kKeys
        std::function<void(const DiskImage&)> damage;
        PartitionStyle style;
        std::vector<Row> rows;  // in sectors of sectorSize
        bool fromBackup;
    };
    const Case cases[] = {
        {"primary header checksum wrong", 512,
         [](const DiskImage& d) { d.SetLe32At(kPrimaryHeader + 40, 34); }, PartitionStyle::kGpt,
         kGptRows, true},
        {"primary entries checksum wrong", 512,
         [](const DiskImage& d) { d.SetLe32At(EntriesOf(d, kPrimaryHeader) + 32, 3000); },
         PartitionStyle::kGpt, kGptRows, true},
        {"primary header says it is in LBA 2, checksum right", 512,
         [](const DiskImage& d) {
             d.SetLe32At(kPrimaryHeader + 24, 2);
             FixGptChecksums(d);
         },
         PartitionStyle::kGpt, kGptRows, true},
        {"primary header checksum wrong, backup says it is a sector earlier", 512,
         [](const DiskImage& d) {
             d.SetLe32At(kPrimaryHeader + 40, 34);
             const std::uint64_t backup = BackupHeader(d);
             d.SetLe32At(backup + 24, static_cast<std::uint32_t>(backup / kSector - 1));
             FixGptChecksums(d, backup);
         },
         PartitionStyle::kMbr, kProtectiveOnly, false},
        {"4 KiB sectors, primary header checksum wrong", 4096,
         [](const DiskImage& d) { d.SetLe32At(4096 + 40, 34); }, PartitionStyle::kGpt, kGpt4kRows,
         true},
        {"4 KiB sectors, protective entry of 0 sectors", 4096,
         [](const DiskImage& d) { d.SetLe32At(446 + 12, 0); }, PartitionStyle::kGpt, kGpt4kRows,
         false},
    };
    TempFolder folder;
    int index = 0;
    for (const auto& c : cases) {
        const std::string name = "image" + std::to_string(index++);
        const DiskImage image =
            c.sectorSize == 512 ? DiskImage(folder, name, 8, DiskImage::kSfdisk, kGptScript)
                                : DiskImage(folder, name, 8, DiskImage::Fdisk(4096), kGpt4kKeys);
        ASSERT_TRUE(image.ok()) << c.name;
        c.damage(image);
        testing::FileSectorReader reader(image.path());
        const DiskLayout layout = DecodeDiskImage(reader);
        EXPECT_EQ(layout.style, c.style) << c.name;
        EXPECT_EQ(Rows(layout, c.sectorSize), c.rows) << c.name;
        EXPECT_EQ(layout.gptFromBackup, c.fromBackup) << c.name;
    }
}

TEST(PartitionTable, GptNamesAreUtf16WithSurrogatePairs) {
    TempFolder folder;
    const DiskImage image(folder, "gptname", 8, DiskImage::kSfdisk, kGptScript);
    ASSERT_TRUE(image.ok());
    // "数据 😀" into the basic-data entry (the fourth slot): sfdisk only takes ASCII names.
    const std::vector<std::uint8_t> name = {0x70, 0x65, 0x6E, 0x63, 0x20, 0x00,
                                            0x3D, 0xD8, 0x00, 0xDE, 0x3D, 0xD8};
    image.Write(2 * kSector + 3 * 128 + 56, name);
    FixGptChecksums(image);
    const DiskLayout layout = image.Decode();
    ASSERT_EQ(layout.partitions.size(), 3u);
    // The last unit is a high surrogate with no low half after it.
    EXPECT_EQ(ToUtf8(layout.partitions[2].gptName), ToUtf8(L"数据 \U0001F600\uFFFD"));
}

TEST(PartitionTable, GuidTextAndTypeNames) {
    // The basic-data type as stored on disk: the first three groups little-endian.
    const Guid basicData = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                            0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
    EXPECT_EQ(GuidText(basicData), L"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7");
    EXPECT_EQ(GptTypeName(basicData), L"basic-data");
    Guid unknown = basicData;
    unknown[15] = 0x00;
    EXPECT_EQ(GptTypeName(unknown), L"ebd0a0a2-b9e5-4433-87c0-68b6b7269900");
}

TEST(PartitionTable, Crc32MatchesTheStandardCheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
              0xCBF43926u);
    EXPECT_EQ(Crc32({}), 0u);
}

}  // namespace
}  // namespace kestrix
