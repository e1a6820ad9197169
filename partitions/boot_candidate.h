#pragma once
// A partition that a repair can be for, as the scan found it or the user named it.
#include <string>

#include "platform/drive_letter.h"

namespace kestrix {

// How the repaired boot is started: by the BIOS from an active partition's boot sector, or by the
// UEFI firmware from an EFI system partition.
enum class BootPath { Bios, Uefi };

struct BootCandidate {
    DriveLetter drive;
    BootPath path = BootPath::Bios;
    // Its size in MiB as the listing gives it; empty for a partition the user named.
    std::wstring sizeMiB;

    // What the selection list shows: "d:  容量:20480MB", "s:  容量:100MB（UEFI）".
    std::wstring Text() const { return drive.Text() + L"  容量:" + sizeMiB + L"MB" + PathMark(); }
    // "（UEFI）" after an EFI system partition, nothing after an active one.
    std::wstring PathMark() const { return path == BootPath::Uefi ? L"（UEFI）" : L""; }
};

}  // namespace kestrix
