#pragma once
// A boot store on a drive, read as the program reads every store: the one that the running
// Windows holds open from the copy it has loaded (through the registry), any other from its file
// decoded as a hive. And what the repair asks of a store: its default loader's Windows RE entry,
// and whether its default entry starts the Windows that bcdboot made it for.
#include <optional>
#include <string>

#include "platform/drive_letter.h"
#include "platform/files.h"
#include "platform/key_tree.h"
#include "platform/volumes.h"
#include "store/bcd.h"

namespace kestrix {

struct StoreRead {
    // Nothing when the file could not be read, is no hive, or holds no objects.
    std::optional<BcdStore> store;
    // The file's read; a success for the held store.
    FileResult read = FileResult::Success();
    // The file decodes as a hive; its base block says it was not written to its end.
    bool hive = false;
    bool dirty = false;
    // Read from the copy the running Windows holds.
    bool held = false;
};

StoreRead ReadStoreAt(const Files& files, const Volumes& volumes, const KeyTree& heldStore,
                      const std::wstring& path);

// The object that the boot manager's default names; nothing without one in the store.
const BcdObject* DefaultEntry(const BcdStore& store);

// The default loader's Windows RE entry (its first recoverysequence object), only as one whole
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", since it goes back into a command line.
std::optional<std::wstring> DefaultRecoverySequence(const BcdStore& store);

enum class DefaultCheck {
    Starts,      // a Windows loader whose device and osdevice are the drive's partition,
                 // with winload and \Windows as its path and system root
    Elsewhere,   // anything else
    CannotTell,  // Windows cannot say which partition the drive is (a dynamic volume, an image)
};

// Whether the store's default entry starts the Windows on the drive, through UEFI's winload.efi
// or BIOS's winload.exe.
DefaultCheck CheckDefaultEntry(const BcdStore& store, const Volumes& volumes, DriveLetter windows,
                               bool uefi);

}  // namespace kestrix
