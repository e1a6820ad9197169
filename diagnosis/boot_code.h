#pragma once
// Names the boot code at the start of a disk and at the start of a volume, for a report that only
// reads: whose master boot record starts the disk, which loader a volume's boot record looks for.
#include <string>
#include <string_view>

#include "repair/boot_record.h"

namespace kestrix {

enum class BootCodeKind {
    kNone,  // the code area is all zeros
    kWindowsNt5,
    kWindowsVista,
    kWindows7,  // Windows 7 and every later Windows
    kGrub,
    kSyslinux,
    kUnknown,
};

struct BootCodeName {
    BootCodeKind kind = BootCodeKind::kUnknown;
    // "Windows 7 及以后的主引导代码", or for unknown code its first 8 bytes in hex.
    std::wstring name;
};

// The bytes are the disk's first sector. Only its 440 bytes of code count: the disk signature and
// the partition table after them say nothing about the code. Fewer than 440 bytes are kUnknown.
BootCodeName NameBootCode(std::string_view firstSector);

enum class VolumeBootKind {
    kWindowsNt6,  // loads BOOTMGR: Vista and later
    kWindowsNt5,  // loads NTLDR: XP and Server 2003
    kBitLocker,
    kNotBootable,  // the formatter's "not a bootable disk" code, or no code at all
    kOther,
};

struct VolumeBootName {
    VolumeBootKind kind = VolumeBootKind::kOther;
    // What the boot record's BPB describes; kUnknown for BitLocker, whose BPB hides the volume.
    FileSystemKind fileSystem = FileSystemKind::kUnknown;
    // "NTFS，Windows Vista 及以后的引导代码（BOOTMGR）".
    std::wstring name;
};

// The bytes are the volume's first sector or more; the boot area looked at is the file system's
// (NTFS's 8 KiB boot file, FAT's reserved sectors) as far as given, at most 8 KiB, and only the
// first sector when the file system is not recognised.
VolumeBootName NameVolumeBootRecord(std::string_view start);

}  // namespace kestrix
