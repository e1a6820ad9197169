#include <gtest/gtest.h>

#include <map>
#include <set>

#include "disk_image.h"
#include "lister/listing_line.h"
#include "offered.h"
#include "partitions/partition_scan.h"
#include "platform/text.h"

namespace kestrix {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;

// The line as the boot-partition scan cuts it: its own normalisation, then one field per word.
std::vector<std::wstring> ScanFields(const std::wstring& line) {
    return SplitAll(NormaliseListingLine(line), L" ");
}

PartitionInfo Mbr(std::uint32_t number, std::uint64_t start, std::uint64_t length, bool active,
                  std::uint8_t type = 0x07) {
    PartitionInfo p;
    p.number = number;
    p.style = PartitionStyle::kMbr;
    p.startBytes = start;
    p.lengthBytes = length;
    p.active = active;
    p.mbrType = type;
    return p;
}

PartitionInfo Gpt(std::uint32_t number, std::uint64_t start, std::uint64_t length) {
    PartitionInfo p = Mbr(number, start, length, false);
    p.style = PartitionStyle::kGpt;
    p.gptType = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                 0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
    return p;
}

TEST(ListingLineFormat, ExactLines) {
    EXPECT_EQ(ListingLine(Mbr(1, kMiB, 100 * kMiB, true), {L"C:", L"NTFS", L"System Reserved"}),
              L"1 C: mbr 07 NTFS System Reserved yes 1 101 100 MB");
    EXPECT_EQ(ListingLine(Gpt(3, 16 * kMiB, 100 * kMiB), {}),
              L"3 - gpt basic-data - - no 16 116 100 MB");
    EXPECT_EQ(ListingLine(Mbr(5, 63 * 512, 3 * kMiB / 2, false, 0x0c), {L"E:", L"FAT32", L""}),
              L"5 E: mbr 0c FAT32 - no 0 1 1 MB");
}

// Every line is checked the way the scan reads it: the entry it offers (if any), and the words it
// counts from either end.
TEST(ListingLineFormat, ScanReadsTheRightFields) {
    struct Case {
        const char* name;
        PartitionInfo partition;
        VolumeInfo volume;
        std::optional<std::wstring> entry;
        std::wstring active;
        std::wstring size;
    };
    const Case cases[] = {
        {"active with letter and label",
         Mbr(1, kMiB, 100 * kMiB, true),
         {L"C:", L"NTFS", L"System Reserved"},
         L"c:  容量:100MB",
         L"yes",
         L"100"},
        {"inactive",
         Mbr(2, kMiB, 100 * kMiB, false),
         {L"D:", L"NTFS", L"Data"},
         std::nullopt,
         L"no",
         L"100"},
        {"active without a letter",
         Mbr(1, kMiB, 500 * kMiB, true),
         {},
         std::nullopt,
         L"yes",
         L"500"},
        {"GPT never active",
         [] {
             PartitionInfo p = Gpt(2, kMiB, 300 * kMiB);
             p.active = true;
             return p;
         }(),
         {L"C:", L"NTFS", L""},
         std::nullopt,
         L"no",
         L"300"},
        {"empty label and file system keep their places",
         Mbr(1, kMiB, 64 * kMiB, true),
         {L"C:", L"", L""},
         L"c:  容量:64MB",
         L"yes",
         L"64"},
        {"label of spaces only",
         Mbr(1, kMiB, 64 * kMiB, true),
         {L"C:", L"NTFS", L"   "},
         L"c:  容量:64MB",
         L"yes",
         L"64"},
        {"label with line ends, tabs and space runs",
         Mbr(1, kMiB, 64 * kMiB, true),
         {L"C:", L"NTFS", L"  My\r\n  Disk\t1  "},
         L"c:  容量:64MB",
         L"yes",
         L"64"},
        {"label that looks like the tail of a line",
         Mbr(1, kMiB, 64 * kMiB, false),
         {L"C:", L"NTFS", L"yes 1 2 999 MB"},
         std::nullopt,
         L"no",
         L"64"},
        {"label ending in a colon",
         Mbr(1, kMiB, 64 * kMiB, true),
         {L"C:", L"NTFS", L"Win:"},
         L"c:  容量:64MB",
         L"yes",
         L"64"},
        {"file system name with a space",
         Mbr(1, kMiB, 64 * kMiB, true),
         {L"C:", L"Some FS", L"x"},
         L"c:  容量:64MB",
         L"yes",
         L"64"},
        {"Chinese label",
         Mbr(1, kMiB, 64 * kMiB, true),
         {L"C:", L"NTFS", L"系统 保留"},
         L"c:  容量:64MB",
         L"yes",
         L"64"},
        {"size below one MiB",
         Mbr(1, 32256, kMiB - 512, true),
         {L"A:", L"FAT", L""},
         L"a:  容量:0MB",
         L"yes",
         L"0"},
        {"3 TiB partition",
         Mbr(1, kMiB, 3ull << 40, true),
         {L"Z:", L"NTFS", L"Big"},
         L"z:  容量:3145728MB",
         L"yes",
         L"3145728"},
    };
    for (const auto& c : cases) {
        const std::wstring line = ListingLine(c.partition, c.volume);
        EXPECT_EQ(line.find_first_of(L"\r\n"), std::wstring::npos) << c.name;
        EXPECT_EQ(testing::Offered(NormaliseListingLine(line)), c.entry) << c.name;
        const auto fields = ScanFields(line);
        ASSERT_GE(fields.size(), 11u) << c.name;
        const std::size_t last = fields.size() - 1;
        EXPECT_EQ(fields[0], std::to_wstring(c.partition.number)) << c.name;
        EXPECT_EQ(fields[1].ends_with(L':'), !c.volume.drive.empty()) << c.name;
        EXPECT_EQ(fields[last - 4], c.active) << c.name;
        EXPECT_EQ(fields[last - 1], c.size) << c.name;
        EXPECT_EQ(fields[last], L"mb") << c.name;
    }
}

TEST(ListingLineFormat, TypeWords) {
    EXPECT_EQ(PartitionTypeWord(Mbr(1, 0, 1, false, 0x0c)), L"0c");
    EXPECT_EQ(PartitionTypeWord(Mbr(1, 0, 1, false, 0xEE)), L"ee");
    PartitionInfo unknown = Gpt(1, 0, 1);
    unknown.gptType.fill(0x11);
    EXPECT_EQ(PartitionTypeWord(unknown), L"11111111-1111-1111-1111-111111111111");
}

TEST(ListingLineFormat, DiskArgument) {
    using Args = std::vector<std::wstring>;
    const std::pair<Args, std::optional<std::uint32_t>> cases[] = {
        {{L"0", L"/find:all", L"/getid"}, 0},
        {{L"10", L"/find:all", L"/getid"}, 10},
        {{L"/find:all", L"3"}, 3},
        {{L"007"}, 7},
        {{L"999999999"}, 999999999},
        {{}, std::nullopt},
        {{L"/find:all", L"/getid"}, std::nullopt},
        {{L"1234567890"}, std::nullopt},
        {{L"-1"}, std::nullopt},
        {{L"1a"}, std::nullopt},
        {{L""}, std::nullopt},
    };
    for (const auto& [args, disk] : cases) {
        EXPECT_EQ(ListingDiskArgument(args), disk) << (args.empty() ? "" : ToUtf8(args[0]));
    }
}

TEST(ListingLineFormat, ImageArgument) {
    using Args = std::vector<std::wstring>;
    const std::pair<Args, std::optional<std::wstring>> cases[] = {
        {{L"/image:d:\\disk.img", L"/find:all", L"/getid"}, L"d:\\disk.img"},
        {{L"/IMAGE:C:\\my images\\a.img"}, L"C:\\my images\\a.img"},
        {{L"/find:all", L"/image:x.img"}, L"x.img"},
        {{L"/image:"}, std::nullopt},
        {{L"image:x.img"}, std::nullopt},
        {{L"0", L"/find:all"}, std::nullopt},
    };
    for (const auto& [args, file] : cases) {
        EXPECT_EQ(ListingImageArgument(args), file) << ToUtf8(args[0]);
    }
}

class FakeDisks final : public DiskSource {
public:
    std::optional<std::vector<PartitionInfo>> Partitions(std::uint32_t disk) override {
        const auto it = disks.find(disk);
        if (it == disks.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    bool DiskExists(std::uint32_t disk) override { return disks.contains(disk); }
    std::vector<MountedVolume> Volumes() override { return volumes; }

    std::map<std::uint32_t, std::vector<PartitionInfo>> disks;
    std::vector<MountedVolume> volumes;
};

TEST(ListingLineFormat, MarkerOnlyPastTheLastDisk) {
    struct Case {
        const char* name;
        std::uint32_t disk;
        std::set<std::uint32_t> present;
        std::vector<std::wstring> lines;
        int exitCode;
    };
    const Case cases[] = {
        {"no disk at all", 0, {}, {kOpenDiskError}, 1},
        {"past the last disk", 2, {0, 1}, {kOpenDiskError}, 1},
        {"gap before a higher disk", 1, {0, 4}, {}, 0},
        {"higher disk at the end of the probe", 0, {kDiskProbeSpan}, {}, 0},
        {"higher disk beyond the probe", 0, {kDiskProbeSpan + 1}, {kOpenDiskError}, 1},
        {"disk without partitions", 0, {0}, {}, 0},
    };
    for (const auto& c : cases) {
        FakeDisks disks;
        for (const auto number : c.present) {
            disks.disks[number] = {};
        }
        const Listing listing = MakeListing(c.disk, disks);
        EXPECT_EQ(listing.lines, c.lines) << c.name;
        EXPECT_EQ(listing.exitCode, c.exitCode) << c.name;
    }
    EXPECT_EQ(NormaliseListingLine(kOpenDiskError), kOpenDiskError);
}

// The answer for all disks as the lister writes it and as the scan cuts it: each section holds
// exactly what the lister prints for that disk alone. Anything that does not begin with disk 0's
// line is no such answer.
TEST(ListingLineFormat, AllDisksInSections) {
    using Sections = std::vector<std::vector<std::wstring>>;
    FakeDisks disks;
    disks.disks[0] = {Mbr(1, kMiB, 100 * kMiB, true)};
    disks.disks[2] = {};
    disks.volumes = {{0, kMiB, {L"C:", L"NTFS", L""}}};
    const Listing all = MakeAllDisksListing(disks);
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_TRUE(all.notice.empty());
    std::wstring written;
    for (const auto& line : all.lines) {
        written += line + L"\r\n";
    }
    Sections listed = {{L"1 C: mbr 07 NTFS - yes 1 101 100 MB"}, {}, {}};
    listed.resize(kLastListedDisk + 1, {kOpenDiskError});

    const std::pair<std::wstring, std::optional<Sections>> cases[] = {
        {written, listed},
        {L"DISK  0\r\n  1 c: mbr  \nDisk 1\r\n", Sections{{L"  1 c: mbr  "}, {}}},
        {L"disk 0\r\ndisk 2\r\ndisk 1\r\nx", Sections{{L"disk 2"}, {L"x"}}},
        {L"disk 0", Sections{{}}},
        {L"", std::nullopt},
        {L"usage: dsptw N [/find:all] [/getid]\r\n", std::nullopt},
        {L"1 c: mbr 07 ntfs - yes 1 2 100 mb\r\ndisk 0\r\n", std::nullopt},
        {L"\r\ndisk 0\r\n", std::nullopt},
        {L"disk 1\r\n", std::nullopt},
    };
    for (const auto& [output, sections] : cases) {
        EXPECT_EQ(SplitDiskSections(output), sections) << ToUtf8(output.substr(0, 40));
    }
}

// Windows' layout of an MBR disk also reports the extended container and empty slots (number 0),
// and not necessarily in number order.
TEST(ListingLineFormat, ListingSkipsContainersAndMatchesVolumesByDiskAndStart) {
    FakeDisks disks;
    disks.disks[1] = {Mbr(0, 200 * kMiB, 300 * kMiB, false, 0x0F), Mbr(0, 0, 0, false, 0x00),
                      Mbr(3, 201 * kMiB, 50 * kMiB, false), Mbr(1, kMiB, 100 * kMiB, true),
                      Mbr(2, 101 * kMiB, 99 * kMiB, false, 0x83)};
    disks.volumes = {{0, kMiB, {L"C:", L"NTFS", L"Other disk"}},
                     {1, kMiB, {L"D:", L"NTFS", L"Boot"}},
                     {1, 201 * kMiB, {L"E:", L"FAT32", L""}}};
    const Listing listing = MakeListing(1, disks);
    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_EQ(listing.lines, (std::vector<std::wstring>{
                                 L"1 D: mbr 07 NTFS Boot yes 1 101 100 MB",
                                 L"2 - mbr 83 - - no 101 200 99 MB",
                                 L"3 E: mbr 07 FAT32 - no 201 251 50 MB",
                             }));
}

// A disk image decoded and listed end to end, read back by the scan.
class ImageDisks final : public DiskSource {
public:
    explicit ImageDisks(DiskLayout layout) : layout_(std::move(layout)) {}
    std::optional<std::vector<PartitionInfo>> Partitions(std::uint32_t disk) override {
        if (disk != 0) {
            return std::nullopt;
        }
        return layout_.partitions;
    }
    bool DiskExists(std::uint32_t disk) override { return disk == 0; }
    std::vector<MountedVolume> Volumes() override { return volumes; }

    std::vector<MountedVolume> volumes;

private:
    DiskLayout layout_;
};

TEST(ListingLineFormat, ImageListedAndScanned) {
    testing::TempFolder folder;
    const testing::DiskImage image(folder, "listed", 16, testing::DiskImage::kSfdisk,
                                   "label: dos\n"
                                   "start=2048, size=2048, type=83\n"
                                   "start=4096, size=16384, type=f\n"
                                   "start=22528, size=4096, type=7, bootable\n"
                                   "start=6144, size=2048, type=7\n");
    ASSERT_TRUE(image.ok());
    ImageDisks disks(image.Decode());
    disks.volumes = {{0, 22528 * 512, {L"C:", L"NTFS", L"System"}},
                     {0, 6144 * 512, {L"D:", L"NTFS", L"Data"}}};

    const Listing listing = MakeListing(0, disks);
    ASSERT_EQ(listing.lines.size(), 3u);
    std::vector<std::wstring> offered;
    for (const auto& line : listing.lines) {
        if (const auto entry = testing::Offered(NormaliseListingLine(line))) {
            offered.push_back(*entry);
        }
    }
    EXPECT_EQ(offered, std::vector<std::wstring>{L"c:  容量:2MB"});
    EXPECT_EQ(listing.lines[2], L"3 D: mbr 07 NTFS Data no 3 4 1 MB");
    EXPECT_EQ(MakeListing(1, disks).lines, std::vector<std::wstring>{kOpenDiskError});
}

}  // namespace
}  // namespace kestrix
