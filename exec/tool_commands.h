#pragma once
// Every outside command line of the program, built in one place. A drive is a letter and a colon
// with no backslash after it, used with the letter case it has.
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// The two generations of Windows that boot differently: NT 5.x (XP, 2003) is started by NTLDR
// and boot.ini, NT 6.x and later (Vista to 11) by the boot manager and its store.
enum class WindowsGeneration { Nt5, Nt6 };

// A command line, and the files that its tool is documented to create (full paths).
struct ToolCommand {
    ToolCommand(std::wstring commandLine, std::vector<std::wstring> created = {})
        : line(std::move(commandLine)), leaves(std::move(created)) {}

    std::wstring line;
    std::vector<std::wstring> leaves;
};

// The listing of one disk's partitions, which the lister writes to its standard output.
std::wstring ListingCommand(int disk);

// The listings of disks 0 to 10 in one run, each behind a line "disk N".
std::wstring AllListingsCommand();

std::wstring BootSectorCommand(WindowsGeneration generation, std::wstring_view bootDrive);

// Which firmware's boot files bcdboot builds: by default those of the firmware that started the
// running Windows, which from a rescue system started through UEFI are not a BIOS partition's.
enum class BootFilesFor { RunningFirmware, Bios, Uefi };

// Which boot manager bcdboot copies to an EFI system partition: the one in \Windows\Boot\EFI, or
// the one signed under the 2023 certificate in \Windows\Boot\EFI_EX (/bootex).
enum class BootManagerSource { Default, Updated };

// Builds the 6.x boot files of the installation on scannedDrive onto bootDrive: the boot manager
// and its store, and for UEFI the fallback loader too. For the running firmware, those of BIOS
// unless the PC started through UEFI, where the caller names them.
ToolCommand BootFilesCommand(std::wstring_view scannedDrive, std::wstring_view bootDrive,
                             BootFilesFor firmware = BootFilesFor::RunningFirmware,
                             BootManagerSource manager = BootManagerSource::Default);

// The seven store edits that add the 5.x entry to the boot drive's store, in their order.
std::array<std::wstring, 7> BootMenuStoreCommands(std::wstring_view bootDrive);

std::wstring StoreTimeoutCommand(std::wstring_view bootDrive);

// The store that the running Windows holds open, copied to a file, or replaced by one.
ToolCommand StoreExportCommand(std::wstring_view file);
std::wstring StoreImportCommand(std::wstring_view file);

// The boot menu's timeout in the EFI system partition's store.
std::wstring UefiStoreTimeoutCommand(std::wstring_view efiDrive);

// The default loader's Windows RE entry set to the object {guid}.
std::wstring UefiRecoverySequenceCommand(std::wstring_view efiDrive, std::wstring_view guid);


// diskpart.exe running the script at scriptPath.
std::wstring DiskpartCommand(std::wstring_view scriptPath);

// The script that gives partition M of disk N the letter ("S"), or takes it away again.
std::wstring AssignLetterScript(int disk, int partition, wchar_t letter);
std::wstring RemoveLetterScript(int disk, int partition, wchar_t letter);

}  // namespace kestrix
