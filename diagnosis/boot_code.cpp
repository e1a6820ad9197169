#include "diagnosis/boot_code.h"

#include <algorithm>
#include <array>

#include "platform/text.h"

namespace kestrix {

namespace {

using namespace std::string_view_literals;

constexpr std::size_t kMbrCodeSize = 440;
constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kMostBootArea = 8192;

// Windows' MBR code keeps, at 0x1B5, the low bytes of where its three messages lie: it shows one
// by loading the byte into SI over 0x700, the page it copied itself to from 0x7C00, so the text
// lies at 0x100 plus the byte in the sector. Each version placed its messages elsewhere.
constexpr std::size_t kMessageOffsets = 0x1B5;
constexpr std::size_t kMessageBase = 0x100;
constexpr std::string_view kInvalidTable = "Invalid partition table";
struct WindowsMbr {
    BootCodeKind kind;
    std::array<unsigned char, 3> offsets;
};
constexpr WindowsMbr kWindowsMbrs[] = {
    {BootCodeKind::kWindowsNt5, {0x2C, 0x44, 0x63}},
    {BootCodeKind::kWindowsVista, {0x62, 0x7A, 0x99}},
    {BootCodeKind::kWindows7, {0x63, 0x7B, 0x9A}},
};

// GRUB's boot.img ends its code with its messages, NUL-separated, since GRUB Legacy's stage1.
constexpr std::string_view kGrubMessages = "GRUB \0Geom\0Hard Disk\0Read\0 Error"sv;

// Every MBR that syslinux ships (mbr, gptmbr, altmbr and their variants) opens with the same 31
// bytes: clear the segments, keep the partition entry its caller pointed at (SI) and the stack's
// top, copy the sector from 0x7C00 to 0x600 and jump there to 0x61F.
constexpr std::string_view kSyslinuxStart =
    "\x33\xC0\xFA\x8E\xD8\x8E\xD0\xBC\x00\x7C\x89\xE6\x06\x57\x8E\xC0"
    "\xFB\xFC\xBF\x00\x06\xB9\x00\x01\xF3\xA5\xEA\x1F\x06\x00\x00"sv;

constexpr std::string_view kBitLockerOem = "-FVE-FS-";
constexpr std::size_t kOemAt = 3;
constexpr std::size_t kOemSize = 8;
constexpr std::string_view kBootmgr = "BOOTMGR";
constexpr std::string_view kNtldr = "NTLDR";
// The message of the code that mkfs.fat and mkntfs put in the boot sector they write.
constexpr std::string_view kNotBootable = "This is not a bootable disk.";
constexpr std::size_t kBootSignatureAt = 510;

bool Contains(std::string_view bytes, std::string_view text) {
    return bytes.find(text) != std::string_view::npos;
}

// The name as ASCII or as the UTF-16 that NTFS's boot code carries file names in.
bool ContainsName(std::string_view bytes, std::string_view name) {
    std::string wide;
    for (const char c : name) {
        wide += c;
        wide += '\0';
    }
    return Contains(bytes, name) || Contains(bytes, wide);
}

bool AllZero(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

std::wstring HexBytes(std::string_view bytes) {
    std::wstring text;
    for (const char c : bytes) {
        text += (text.empty() ? L"" : L" ") + HexText(static_cast<unsigned char>(c), 2);
    }
    return text;
}

BootCodeKind KindOfBootCode(std::string_view code) {
    if (AllZero(code)) {
        return BootCodeKind::kNone;
    }
    for (const auto& mbr : kWindowsMbrs) {
        const auto at = kMessageBase + mbr.offsets[0];
        if (std::equal(
                mbr.offsets.begin(), mbr.offsets.end(), code.begin() + kMessageOffsets,
                [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); }) &&
            code.substr(at, kInvalidTable.size()) == kInvalidTable) {
            return mbr.kind;
        }
    }
    if (Contains(code, kGrubMessages)) {
        return BootCodeKind::kGrub;
    }
    if (code.starts_with(kSyslinuxStart)) {
        return BootCodeKind::kSyslinux;
    }
    return BootCodeKind::kUnknown;
}

// Where a boot record's code begins: after the BPB that the file system put before it.
std::size_t CodeStart(FileSystemKind kind) {
    switch (kind) {
        case FileSystemKind::kNtfs:
            return 0x54;
        case FileSystemKind::kFat32:
            return 0x5A;
        default:
            return 0x3E;
    }
}

VolumeBootKind KindOfVolumeBoot(std::string_view start, const BootRecord& record) {
    std::size_t area = kSectorSize;
    if (record.kind != FileSystemKind::kUnknown) {
        area = std::min<std::size_t>(kMostBootArea,
                                     std::size_t{record.reservedSectors} * record.bytesPerSector);
    }
    const auto bootArea = start.substr(0, area);
    if (ContainsName(bootArea, kBootmgr)) {
        return VolumeBootKind::kWindowsNt6;
    }
    if (ContainsName(bootArea, kNtldr)) {
        return VolumeBootKind::kWindowsNt5;
    }
    const auto sector = start.substr(0, kSectorSize);
    if (Contains(sector, kNotBootable) ||
        (record.kind != FileSystemKind::kUnknown &&
         AllZero(sector.substr(0, kBootSignatureAt).substr(CodeStart(record.kind))))) {
        return VolumeBootKind::kNotBootable;
    }
    return VolumeBootKind::kOther;
}

// The OEM name when it is printable, as "mkfs.fat" or "SYSLINUX"; otherwise the first bytes.
std::wstring OtherCodeName(std::string_view start) {
    const auto oem = start.substr(std::min(start.size(), kOemAt), kOemSize);
    const bool printable =
        oem.size() == kOemSize &&
        std::all_of(oem.begin(), oem.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (printable && !TrimSpaces(FromUtf8(oem)).empty()) {
        return L"其他引导代码（OEM 标识“" + TrimSpaces(FromUtf8(oem)) + L"”）";
    }
    return L"其他引导代码（开头 " + HexBytes(start.substr(0, 8)) + L"）";
}

}  // namespace

BootCodeName NameBootCode(std::string_view firstSector) {
    if (firstSector.size() < kMbrCodeSize) {
        return {BootCodeKind::kUnknown, L"无法识别的主引导代码（不足 440 字节）"};
    }
    const auto code = firstSector.substr(0, kMbrCodeSize);
    const auto kind = KindOfBootCode(code);
    switch (kind) {
        case BootCodeKind::kNone:
            return {kind, L"无主引导代码（全为零）"};
        case BootCodeKind::kWindowsNt5:
            return {kind, L"Windows XP/Server 2003 的主引导代码"};
        case BootCodeKind::kWindowsVista:
            return {kind, L"Windows Vista 的主引导代码"};
        case BootCodeKind::kWindows7:
            return {kind, L"Windows 7 及以后的主引导代码"};
        case BootCodeKind::kGrub:
            return {kind, L"GRUB 的主引导代码"};
        case BootCodeKind::kSyslinux:
            return {kind, L"syslinux 的主引导代码"};
        case BootCodeKind::kUnknown:
            break;
    }
    return {kind, L"未知的主引导代码（开头 " + HexBytes(code.substr(0, 8)) + L"）"};
}

VolumeBootName NameVolumeBootRecord(std::string_view start) {
    start = start.substr(0, kMostBootArea);
    if (start.substr(std::min(start.size(), kOemAt), kOemSize) == kBitLockerOem) {
        return {VolumeBootKind::kBitLocker, FileSystemKind::kUnknown, L"BitLocker 加密卷"};
    }
    const auto record = DecodeBootRecord(start);
    const auto kind = KindOfVolumeBoot(start, record);
    const wchar_t* const systems[] = {L"未知文件系统", L"NTFS", L"FAT12", L"FAT16", L"FAT32"};
    std::wstring name = systems[static_cast<int>(record.kind)] + std::wstring(L"，");
    switch (kind) {
        case VolumeBootKind::kWindowsNt6:
            name += L"Windows Vista 及以后的引导代码（BOOTMGR）";
            break;
        case VolumeBootKind::kWindowsNt5:
            name += L"Windows XP/Server 2003 的引导代码（NTLDR）";
            break;
        case VolumeBootKind::kNotBootable:
            name += L"无 Windows 引导代码（非启动卷）";
            break;
        default:
            name += OtherCodeName(start);
            break;
    }
    return {kind, record.kind, name};
}

}  // namespace kestrix
