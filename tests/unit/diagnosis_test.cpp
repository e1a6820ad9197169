// What the read-only diagnosis names: the boot code of a disk and of a volume, on the sectors
// that syslinux, GRUB, mkfs.fat and mkntfs really write, and on hand-built ones where only
// Windows writes them.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "diagnosis/boot_code.h"
#include "disk_image.h"
#include "fakes.h"
#include "installed/hibernation.h"
#include "installed/version_resource.h"
#include "installed/windows_version.h"
#include "repair/installations.h"

namespace kestrix {
namespace {

using namespace std::string_view_literals;
using testing::DiskImage;
using testing::TempFolder;

constexpr std::size_t kMbrCode = 440;

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void Put(std::string& bytes, std::size_t at, std::string_view what) {
    if (bytes.size() < at + what.size()) {
        bytes.resize(at + what.size());
    }
    bytes.replace(at, what.size(), what);
}

std::string Wide(std::string_view text) {
    std::string wide;
    for (const char c : text) {
        wide += {c, '\0'};
    }
    return wide;
}

// Windows writes its MBRs itself and Debian carries none: these hold only what tells them apart,
// the three message offsets at 0x1B5 and the messages where the offsets put them (0x100 on).
std::string WindowsMbrCode(unsigned char first, unsigned char second, unsigned char third) {
    std::string code(kMbrCode, '\0');
    Put(code, 0, "\x33\xC0\x8E\xD0\xBC\x00\x7C"sv);
    Put(code, 0x100 + first, "Invalid partition table");
    Put(code, 0x100 + second, "Error loading operating system");
    Put(code, 0x100 + third, "Missing operating system");
    Put(code, 0x1B5,
        std::string{static_cast<char>(first), static_cast<char>(second), static_cast<char>(third)});
    return code;
}

TEST(BootCode, NamesTheCodeOverWhateverPartitionTable) {
    const auto kSyslinux = BootCodeKind::kSyslinux;
    const struct {
        const char* name;
        std::string code;  // written over the start of a partitioned disk; empty for none
        BootCodeKind expected;
    } cases[] = {
        {"syslinux mbr.bin", FileBytes("/usr/lib/syslinux/mbr/mbr.bin"), kSyslinux},
        {"syslinux gptmbr.bin", FileBytes("/usr/lib/syslinux/mbr/gptmbr.bin"), kSyslinux},
        {"syslinux altmbr.bin", FileBytes("/usr/lib/syslinux/mbr/altmbr.bin"), kSyslinux},
        {"syslinux mbr_c.bin", FileBytes("/usr/lib/syslinux/mbr/extra/mbr_c.bin"), kSyslinux},
        {"syslinux gptmbr_f.bin", FileBytes("/usr/lib/syslinux/mbr/extra/gptmbr_f.bin"), kSyslinux},
        // What `dd bs=440 count=1` of boot.img leaves; grub-install keeps the table the same way.
        {"GRUB boot.img", FileBytes("/usr/lib/grub/i386-pc/boot.img").substr(0, kMbrCode),
         BootCodeKind::kGrub},
        {"Windows XP", WindowsMbrCode(0x2C, 0x44, 0x63), BootCodeKind::kWindowsNt5},
        {"Windows Vista", WindowsMbrCode(0x62, 0x7A, 0x99), BootCodeKind::kWindowsVista},
        {"Windows 7", WindowsMbrCode(0x63, 0x7B, 0x9A), BootCodeKind::kWindows7},
        {"Windows 7's offsets over Vista's messages",
         [] {
             auto code = WindowsMbrCode(0x62, 0x7A, 0x99);
             Put(code, 0x1B5, "\x63\x7B\x9A");
             return code;
         }(),
         BootCodeKind::kUnknown},
        {"none: sfdisk's zeros before its table", "", BootCodeKind::kNone},
        {"GRUB's messages cut short", std::string("GRUB \0Geom\0Hard Disk"sv),
         BootCodeKind::kUnknown},
    };
    TempFolder folder;
    const DiskImage disk(folder, "disk", 2, DiskImage::kSfdisk,
                         "label: dos\nlabel-id: 0x1a2b3c4d\nstart=2048, type=7, bootable\n");
    ASSERT_TRUE(disk.ok());
    const auto table = disk.Bytes(0, 512);
    for (const auto& c : cases) {
        ASSERT_TRUE(c.code.size() >= 439 || c.expected != kSyslinux) << "syslinux-common missing";
        std::string sector(table.begin(), table.end());
        sector.replace(0, c.code.size(), c.code);
        EXPECT_EQ(NameBootCode(sector).kind, c.expected) << c.name;
    }
}

TEST(BootCode, NamesUnknownCodeByItsFirstBytes) {
    std::string sector(512, '\0');
    Put(sector, 0, "\xFA\x33\xC0\x8E\xD0\xBC\x00\x7C\xFB"sv);
    EXPECT_EQ(NameBootCode(sector).name, L"未知的主引导代码（开头 FA 33 C0 8E D0 BC 00 7C）");
    EXPECT_EQ(NameBootCode(sector.substr(0, 439)).kind, BootCodeKind::kUnknown);
    EXPECT_EQ(NameBootCode(std::string(440, '\0')).kind, BootCodeKind::kNone);
}

// -a: no reserved sectors added for alignment, so FAT16's boot area is its one sector.
constexpr char kFat12Format[] = "mkfs.fat -a -F 12";
constexpr char kFat16Format[] = "mkfs.fat -a -F 16";
constexpr char kFat32Format[] = "mkfs.fat -F 32";
constexpr char kNtfsFormat[] = "mkntfs -F -Q -q";
// Where the code of mkfs.fat's FAT12/16 record and of mkntfs' record starts, after the BPB.
constexpr std::size_t kFatCode = 0x3E;
constexpr std::size_t kNtfsCode = 0x54;

std::function<void(std::string&)> Writes(std::size_t at, std::string what) {
    return [=](std::string& b) { Put(b, at, what); };
}

// Windows' own boot records are likewise hand-built: the formatter's code replaced by the name of
// the loader, where Windows keeps it: in the messages of the first sector, as UTF-16 further into
// NTFS's boot file, as an 8.3 name in FAT32's sector 12 that its first sector loads.
TEST(VolumeBootRecord, NamesTheLoaderTheBootAreaLooksFor) {
    const auto kNtfs = FileSystemKind::kNtfs;
    const auto kFat16 = FileSystemKind::kFat16;
    const auto kFat32 = FileSystemKind::kFat32;
    const auto kNotBootable = VolumeBootKind::kNotBootable;
    const std::string noCode(512 - 2 - kNtfsCode, '\0');
    const struct {
        const char* name;
        const char* format;
        std::uint64_t sizeMiB;
        std::function<void(std::string&)> change;
        VolumeBootKind expected;
        FileSystemKind fileSystem;
    } cases[] = {
        {"mkfs.fat FAT12", kFat12Format, 1, {}, kNotBootable, FileSystemKind::kFat12},
        {"mkfs.fat FAT16", kFat16Format, 10, {}, kNotBootable, kFat16},
        {"mkfs.fat FAT32", kFat32Format, 40, {}, kNotBootable, kFat32},
        {"mkntfs", kNtfsFormat, 4, {}, kNotBootable, kNtfs},
        {"NTFS without code", kNtfsFormat, 4, Writes(kNtfsCode, noCode), kNotBootable, kNtfs},
        {"NTFS loading BOOTMGR from its third sector", kNtfsFormat, 4,
         [&](std::string& b) {
             Put(b, kNtfsCode, noCode);
             Put(b, 1024 + 0x40, Wide("BOOTMGR"));
         },
         VolumeBootKind::kWindowsNt6, kNtfs},
        {"NTFS loading NTLDR", kNtfsFormat, 4, Writes(kNtfsCode + 0x100, "NTLDR is missing"),
         VolumeBootKind::kWindowsNt5, kNtfs},
        {"BOOTMGR past NTFS's 8 KiB of boot file", kNtfsFormat, 4, Writes(8192, "BOOTMGR"),
         kNotBootable, kNtfs},
        {"FAT32 loading BOOTMGR from sector 12", kFat32Format, 40,
         Writes(12 * 512 + 0x1A0, "BOOTMGR    "), VolumeBootKind::kWindowsNt6, kFat32},
        {"FAT16 loading NTLDR", kFat16Format, 10, Writes(kFatCode + 0x130, "NTLDR      "),
         VolumeBootKind::kWindowsNt5, kFat16},
        {"BOOTMGR in FAT16's first FAT, past its one reserved sector", kFat16Format, 10,
         Writes(512 + 0x20, "BOOTMGR"), kNotBootable, kFat16},
        {"BitLocker", kNtfsFormat, 4, Writes(3, "-FVE-FS-"), VolumeBootKind::kBitLocker,
         FileSystemKind::kUnknown},
        {"another loader's code", kFat16Format, 10,
         Writes(kFatCode, "\xFA\x31\xC9\x8E\xD1" + std::string(510 - kFatCode - 5, '\x90')),
         VolumeBootKind::kOther, kFat16},
        // The formatter's message tells its code whatever the BPB around it.
        {"the formatter's code without a file system", kFat16Format, 10,
         Writes(0x0B, std::string(2, '\0')), kNotBootable, FileSystemKind::kUnknown},
    };
    TempFolder folder;
    int index = 0;
    for (const auto& c : cases) {
        const DiskImage image(folder, "volume" + std::to_string(index++), c.sizeMiB, c.format, "");
        ASSERT_TRUE(image.ok()) << c.name;
        const auto start = image.Bytes(0, 16384);
        std::string bytes(start.begin(), start.end());
        if (c.change) {
            c.change(bytes);
        }
        const auto named = NameVolumeBootRecord(bytes);
        EXPECT_EQ(named.kind, c.expected) << c.name;
        EXPECT_EQ(named.fileSystem, c.fileSystem) << c.name;
    }
}

TEST(VolumeBootRecord, NamesTheFileSystemAndTheCode) {
    std::string fat(512, '\0');
    Put(fat, 0, "\xEB\x3C\x90SYSLINUX");
    EXPECT_EQ(NameVolumeBootRecord(fat).name, L"未知文件系统，其他引导代码（OEM 标识“SYSLINUX”）");
    Put(fat, 3, "\x01\x02\x03\x04\x05\x06\x07\x08");
    EXPECT_EQ(NameVolumeBootRecord(fat).name,
              L"未知文件系统，其他引导代码（开头 EB 3C 90 01 02 03 04 05）");
    Put(fat, 0, "\xEB\x52\x90-FVE-FS-");
    EXPECT_EQ(NameVolumeBootRecord(fat).name, L"BitLocker 加密卷");

    TempFolder folder;
    const DiskImage ntfs(folder, "ntfs", 4, kNtfsFormat, "");
    ASSERT_TRUE(ntfs.ok());
    const auto sector = ntfs.Bytes(0, 512);
    std::string bytes(sector.begin(), sector.end());
    EXPECT_EQ(NameVolumeBootRecord(bytes).name, L"NTFS，无 Windows 引导代码（非启动卷）");
    Put(bytes, kNtfsCode, "BOOTMGR");
    EXPECT_EQ(NameVolumeBootRecord(bytes).name, L"NTFS，Windows Vista 及以后的引导代码（BOOTMGR）");
}

TEST(WindowsVersion, NamesProductReleaseAndArchitecture) {
    const struct {
        FileVersion version;
        std::uint16_t machine;
        const wchar_t* expected;
        // The short name a repair's line carries, where a row checks it.
        const wchar_t* brief = nullptr;
    } cases[] = {
        {{5, 1, 2600, 5512}, kMachineX86, L"Windows XP（内部版本 2600.5512，x86）",
         L"Windows XP，版本 2600"},
        {{5, 2, 3790, 3959}, kMachineX86, L"Windows Server 2003（内部版本 3790.3959，x86）"},
        {{5, 2, 3790, 3959},
         kMachineX64,
         L"Windows XP x64 / Server 2003（内部版本 3790.3959，x64）"},
        {{6, 0, 6002, 18005}, kMachineX86, L"Windows Vista（内部版本 6002.18005，x86）"},
        {{6, 1, 7601, 17514}, kMachineX64, L"Windows 7（内部版本 7601.17514，x64）"},
        {{6, 2, 9200, 16384}, kMachineX64, L"Windows 8（内部版本 9200.16384，x64）"},
        {{6, 3, 9600, 17031}, kMachineX64, L"Windows 8.1（内部版本 9600.17031，x64）"},
        {{10, 0, 17763, 1}, kMachineX64, L"Windows 10 1809（内部版本 17763.1，x64）"},
        {{10, 0, 19041, 3636},
         kMachineX64,
         L"Windows 10 2004/20H2/21H1/21H2/22H2（内部版本 19041.3636，x64）"},
        {{10, 0, 19045, 3803}, kMachineX86, L"Windows 10 22H2（内部版本 19045.3803，x86）"},
        {{10, 0, 20348, 1},
         kMachineX64,
         L"Windows Server 2022 21H2（内部版本 20348.1，x64）",
         L"Windows Server 2022，版本 20348"},
        {{10, 0, 21999, 1}, kMachineX64, L"Windows 10（内部版本 21999.1，x64）"},
        {{10, 0, 22000, 1}, kMachineX64, L"Windows 11 21H2（内部版本 22000.1，x64）"},
        {{10, 0, 22621, 2861}, kMachineX64, L"Windows 11 22H2/23H2（内部版本 22621.2861，x64）"},
        {{10, 0, 22631, 2861},
         kMachineX64,
         L"Windows 11 23H2（内部版本 22631.2861，x64）",
         L"Windows 11，版本 22631"},
        {{10, 0, 26100, 1}, kMachineArm64, L"Windows 11 24H2/25H2（内部版本 26100.1，ARM64）"},
        {{10, 0, 26200, 1}, kMachineX64, L"Windows 11 25H2（内部版本 26200.1，x64）"},
        {{5, 0, 2195, 1}, kMachineX86, L"Windows NT 5.0（内部版本 2195.1，x86）"},
        {{6, 1, 7601, 1}, 0x01C4, L"Windows 7（内部版本 7601.1，未知架构 01C4）"},
    };
    for (const auto& c : cases) {
        const auto named = NameWindowsVersion(c.version, c.machine);
        EXPECT_EQ(named.name, c.expected) << c.version.build;
        if (c.brief != nullptr) {
            EXPECT_EQ(named.brief, c.brief) << c.version.build;
        }
    }
}

constexpr char kWineKernel[] = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/ntoskrnl.exe";

// A DLL of nothing but a version resource, as mingw-w64's windres and linker build it.
std::string VersionDll(const TempFolder& folder, const std::string& target) {
    const auto base = (folder.path() / target).string();
    std::ofstream(base + ".rc") << "1 VERSIONINFO\nFILEVERSION 10,0,19041,3636\nBEGIN\nEND\n";
    // The linker warns that the DLL has no entry point; it needs none.
    const auto command = "{ " + target + "-windres -O coff '" + base + ".rc' -o '" + base +
                         ".o' && " + target + "-gcc -shared -nostdlib -s -o '" + base + ".dll' '" +
                         base + ".o'; } > /dev/null 2>&1";
    return std::system(command.c_str()) == 0 ? FileBytes(base + ".dll") : "";
}

std::uint32_t Le32(const std::string& b, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(b[at + i]);
    }
    return value;
}

TEST(VersionResource, ReadsTheFixedFileVersionAndTheMachine) {
    TempFolder folder;
    const auto kernel = FileBytes(kWineKernel);
    const auto x86 = VersionDll(folder, "i686-w64-mingw32");
    const auto x64 = VersionDll(folder, "x86_64-w64-mingw32");
    ASSERT_FALSE(kernel.empty()) << "Wine's kernel is missing";
    ASSERT_FALSE(x86.empty() || x64.empty()) << "mingw-w64 could not build a DLL";
    // The version that the kernel's string table also gives as its FileVersion.
    EXPECT_EQ(DecodeVersionResource(kernel), (PeVersion{{6, 1, 7601, 21863}, kMachineX64}));
    EXPECT_EQ(DecodeVersionResource(x86), (PeVersion{{10, 0, 19041, 3636}, kMachineX86}));
    EXPECT_EQ(DecodeVersionResource(x64), (PeVersion{{10, 0, 19041, 3636}, kMachineX64}));
}

// A kernel is named from its headers and its resource section alone: a few KiB of its megabytes,
// read in parts, never the whole file.
TEST(VersionResource, AKernelIsReadInPartsNotWhole) {
    TempFolder folder;
    const struct {
        const char* name;
        std::string bytes;
        const wchar_t* named;
    } cases[] = {
        {"Wine's kernel", FileBytes(kWineKernel), L"Windows 7（内部版本 7601.21863，x64）"},
        {"an x86 DLL", VersionDll(folder, "i686-w64-mingw32"),
         L"Windows 10 2004/20H2/21H1/21H2/22H2（内部版本 19041.3636，x86）"},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.bytes.empty()) << c.name;
        testing::Events events;
        testing::FakeFileSystem files(events);
        const std::wstring kernel = L"d:\\windows\\system32\\ntoskrnl.exe";
        files.files[kernel] = c.bytes + std::string(4 << 20, '\0');
        const auto named = NameKernel(files, kernel);
        ASSERT_TRUE(named) << c.name;
        EXPECT_EQ(named->name, c.named) << c.name;
        EXPECT_TRUE(files.wholeReads.empty()) << c.name;
        std::size_t read = 0;
        for (const auto& [offset, length] : files.ranges) {
            read += length;
        }
        EXPECT_LT(read, 16u * 1024) << c.name;
    }
}

TEST(VersionResource, RejectsWhatLeadsOutsideOrIsNotAVersion) {
    const auto pe = [](const std::string& b) { return Le32(b, 0x3C); };
    const auto info = [](const std::string& b) { return b.find(Wide("VS_VERSION_INFO")) - 6; };
    const struct {
        const char* name;
        std::function<void(std::string&)> change;
    } cases[] = {
        {"no MZ", [](std::string& b) { b[0] = 'X'; }},
        {"the PE header past the end", [](std::string& b) { Put(b, 0x3C, "\xF0\xFF\xFF\xFF"); }},
        {"no PE signature", [&](std::string& b) { b[pe(b) + 1] = 'X'; }},
        {"an optional header of neither PE32 nor PE32+",
         [&](std::string& b) { b[pe(b) + 24] = 7; }},
        {"no sections", [&](std::string& b) { Put(b, pe(b) + 6, "\0\0"sv); }},
        {"a section's data past the end",
         [&](std::string& b) {
             const auto table = pe(b) + 24 + (static_cast<unsigned char>(b[pe(b) + 20]));
             for (std::size_t s = table; s < table + 40 * 8; s += 40) {
                 Put(b, s + 20, "\x00\x00\x00\x7F"sv);
             }
         }},
        {"no fixed-information signature", [&](std::string& b) { b[info(b) + 40] = 0; }},
        {"another key", [&](std::string& b) { b[info(b) + 6] = 'W'; }},
        {"a value too short for the fixed information",
         [&](std::string& b) { Put(b, info(b) + 2, "\x20\x00"sv); }},
        {"cut inside the fixed information", [&](std::string& b) { b.resize(info(b) + 50); }},
        {"cut inside the headers", [](std::string& b) { b.resize(0x90); }},
    };
    TempFolder folder;
    for (const auto& target : {"i686-w64-mingw32", "x86_64-w64-mingw32"}) {
        const auto dll = VersionDll(folder, target);
        ASSERT_NE(dll.find(Wide("VS_VERSION_INFO")), std::string::npos) << target;
        for (const auto& c : cases) {
            auto bytes = dll;
            c.change(bytes);
            EXPECT_EQ(DecodeVersionResource(bytes), std::nullopt) << target << ": " << c.name;
        }
    }
    EXPECT_EQ(DecodeVersionResource(FileBytes("/bin/true")), std::nullopt);
}

TEST(Hibernation, TakesOnlyAWaitingImageForHibernated) {
    const struct {
        std::string_view start;
        bool expected;
    } cases[] = {
        {"hibr\0\0\0\0"sv, true},
        {"HIBR\0\0\0\0"sv, true},
        {"Hibr\0\0\0\0"sv, false},
        {"wake\0\0\0\0"sv, false},
        {"\0\0\0\0\0\0\0\0"sv, false},
        {"HIB", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsHibernated(c.start), c.expected) << c.start.substr(0, 4);
    }
}

}  // namespace
}  // namespace kestrix
