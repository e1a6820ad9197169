#pragma once
// The installed Windows on a machine's drives, found by their files alone: nothing is run and
// nothing written.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exec/tool_commands.h"
#include "installed/windows_version.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace kestrix {

// A file counts as present from this many bytes on: one of 5 or fewer is a stub, not the file.
inline constexpr std::int64_t kSmallestPresentFile = 6;

bool IsPresent(const Files& files, const std::wstring& path);

// The Windows that the kernel at path belongs to, from its version resource; nothing when it
// cannot be read or carries none.
std::optional<WindowsVersionName> NameKernel(const Files& files, const std::wstring& path);

// What one drive holds.
struct DriveFinding {
    DriveEntry entry;
    // The Windows installed there, if any: 6.x when \windows\system32\slmgr.vbs is present, 5.x
    // when \windows\regedit.exe is and slmgr.vbs is shorter than 5 bytes (one of exactly 5 bytes
    // makes the drive neither).
    std::optional<WindowsGeneration> generation;
    // The volume carries BitLocker's signature.
    bool encrypted = false;
    // ... and its files cannot be read: whatever it holds is hidden.
    bool locked = false;
    // For a drive with Windows: its \windows\system32\ntoskrnl.exe named, and whether its
    // \hiberfil.sys holds an image waiting to be resumed.
    std::optional<WindowsVersionName> windows;
    bool hibernated = false;
};

// Every drive of the list, in its order.
std::vector<DriveFinding> FindInstallations(const Files& files, const Volumes& volumes,
                                            const std::vector<DriveEntry>& driveEntries);

}  // namespace kestrix
