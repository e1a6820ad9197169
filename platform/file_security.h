#pragma once
// Who owns a file or a folder and who may change it, as its security descriptor says: what tells a
// run folder that an administrator made from one that any user could have put there.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace kestrix {

// The principals whose files only an administrator could have made; everybody else is Other.
enum class Principal { Administrators, System, TrustedInstaller, Other };

// One entry of an access list.
struct AccessEntry {
    Principal who = Principal::Other;
    // "PC\\bob", or the SID's text when it has no name.
    std::wstring name;
    // False for an entry that denies.
    bool allows = true;
    // The entry applies only to what is made inside a folder, not to the folder itself.
    bool inheritOnly = false;
    // Windows' access mask, generic rights included.
    std::uint32_t rights = 0;
};

struct Ownership {
    // False on a file system that keeps no owners (FAT).
    bool kept = false;
    Principal owner = Principal::Other;
    std::wstring ownerName;
    // Empty when there is no access list at all, which lets everybody do everything.
    std::optional<std::vector<AccessEntry>> access;
};

// A file read whole, with its own ownership and its folder's.
struct OwnedFile {
    std::string bytes;
    Ownership file;
    Ownership folder;
};

class FileSecurity {
public:
    virtual ~FileSecurity() = default;
    // Reads a file of a folder while neither can be renamed, replaced or deleted, with the
    // ownership of both as it was while it was read.
    virtual FileResult ReadOwnedFile(const std::wstring& folder, const std::wstring& name,
                                     OwnedFile& read) const = 0;
};

}  // namespace kestrix
