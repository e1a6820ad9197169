#pragma once
// Whether a run folder outside the program's own folder is one that only an administrator could
// have made, as Kestrix makes them: the folder and its manifest owned by the Administrators group,
// SYSTEM or TrustedInstaller, and no entry of their access lists letting anybody else change
// either. An entry that denies takes nothing away (it is not followed through group membership
// here); an entry that applies only to what is made inside the folder does not count for the
// folder itself. On a file system that keeps no owners the question cannot be answered.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_security.h"

namespace kestrix {

// The rights that change a file or a folder, what is in it, or who may do so: writing, appending
// (in a folder: adding files and folders), extended attributes, attributes, deleting it or an entry
// of it, its access list, its owner, and the generic rights that include any of them.
inline constexpr std::uint32_t kChangingRights = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 |
                                                 0x40000 | 0x80000 | 0x02000000 | 0x10000000 |
                                                 0x40000000;

enum class FolderTrust { Administrators, NoOwners, Other };

struct TrustVerdict {
    FolderTrust trust = FolderTrust::Other;
    // Of a folder that is not trusted: whether it is its manifest that fails, and a principal
    // other than those that may change it (empty when it is the owner that fails, or there is no
    // access list at all).
    bool manifest = false;
    std::optional<std::wstring> writer;
    bool noAccessList = false;
};

TrustVerdict JudgeRunFolder(const Ownership& folder, const Ownership& manifest);

}  // namespace kestrix
