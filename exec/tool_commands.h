#pragma once
// Every outside command of the program, built in one place as a value: the tool, its arguments,
// what it leaves and whether its failure is expected. The launcher quotes the arguments
// (platform/command_line.h). A drive is used with the letter case it has.
#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_line.h"
#include "platform/drive_letter.h"

namespace kestrix {

// The two generations of Windows that boot differently: NT 5.x (XP, 2003) is started by NTLDR
// and boot.ini, NT 6.x and later (Vista to 11) by the boot manager and its store.
enum class WindowsGeneration { Nt5, Nt6 };

// An outside tool's run: the tool by its bare name ("bcdboot.exe"), its arguments, the files it is
// documented to create (full paths), and whether its failure is expected rather than a failed step.
struct ToolCommand {
    // The tool and its arguments, each quoted only where it must be.
    ToolCommand(std::wstring_view name, std::initializer_list<std::wstring_view> toolArguments);

    // More arguments after those it has.
    ToolCommand& Add(std::initializer_list<std::wstring_view> more);
    // A path in a folder whose name the program does not choose, always quoted.
    ToolCommand& AddFolderPath(std::wstring_view path);

    std::wstring tool;
    std::vector<Argument> arguments;
    std::vector<std::wstring> leaves;
    bool failureExpected = false;

    // As the log and the window show it: the tool's name, then its arguments as the launcher
    // quotes them.
    std::wstring Line() const;
};

// The listing of one disk's partitions, which the lister writes to its standard output.
ToolCommand ListingCommand(int disk);

// The listings of disks 0 to 10 in one run, each behind a line "disk N".
ToolCommand AllListingsCommand();

ToolCommand BootSectorCommand(WindowsGeneration generation, DriveLetter boot);

// Which firmware's boot files bcdboot builds: by default those of the firmware that started the
// running Windows, which from a rescue system started through UEFI are not a BIOS partition's.
enum class BootFilesFor { RunningFirmware, Bios, Uefi };

// Which boot manager bcdboot copies to an EFI system partition: the one in \Windows\Boot\EFI, or
// the one signed under the 2023 certificate in \Windows\Boot\EFI_EX (/bootex).
enum class BootManagerSource { Default, Updated };

// Builds the 6.x boot files of the installation on scannedDrive onto bootDrive: the boot manager
// and its store, and for UEFI the fallback loader too. For the running firmware, those of BIOS
// unless the PC started through UEFI, where the caller names them.
ToolCommand BootFilesCommand(DriveLetter scanned, DriveLetter boot,
                             BootFilesFor firmware = BootFilesFor::RunningFirmware,
                             BootManagerSource manager = BootManagerSource::Default);

// The seven store edits that add the 5.x entry to the boot drive's store, in their order. The two
// creations may fail, when bcdboot.exe has made the object already; the settings that follow fail
// if it is truly missing.
std::array<ToolCommand, 7> BootMenuStoreCommands(DriveLetter boot);

ToolCommand StoreTimeoutCommand(DriveLetter boot);

// The store that the running Windows holds open, copied to a file, or replaced by one.
ToolCommand StoreExportCommand(std::wstring_view file);
ToolCommand StoreImportCommand(std::wstring_view file);

// The boot menu's timeout in the EFI system partition's store.
ToolCommand UefiStoreTimeoutCommand(DriveLetter esp);

// The default loader's Windows RE entry set to the object {guid}.
ToolCommand UefiRecoverySequenceCommand(DriveLetter esp, std::wstring_view guid);

// diskpart.exe running the script at scriptPath.
ToolCommand DiskpartCommand(std::wstring_view scriptPath);

// The script that gives partition M of disk N the letter ("S"), or takes it away again.
std::wstring AssignLetterScript(int disk, int partition, wchar_t letter);
std::wstring RemoveLetterScript(int disk, int partition, wchar_t letter);

}  // namespace kestrix
