#include "exec/tool_commands.h"
#include "platform/text.h"

namespace kestrix {

namespace {

std::wstring StoreCommand(std::wstring_view bootDrive, std::wstring_view tail) {
    return L"bcdedit.exe /store " + std::wstring(bootDrive) + std::wstring(tail);
}

}  // namespace

std::wstring ListingCommand(int disk) {
    return L"dsptw.exe " + DecimalText(disk) + L" /find:all /getid";
}

std::wstring AllListingsCommand() {
    return L"dsptw.exe /all";
}

std::wstring BootSectorCommand(WindowsGeneration generation, std::wstring_view bootDrive) {
    const wchar_t* option =
        generation == WindowsGeneration::Nt5 ? L"bootsect.exe /nt52 " : L"bootsect.exe /nt60 ";
    return option + std::wstring(bootDrive);
}

ToolCommand BootFilesCommand(std::wstring_view scannedDrive, std::wstring_view bootDrive,
                             BootFilesFor firmware, BootManagerSource manager) {
    const wchar_t* named = firmware == BootFilesFor::Bios   ? L" /f BIOS"
                           : firmware == BootFilesFor::Uefi ? L" /f UEFI"
                                                            : L"";
    const std::wstring drive(bootDrive);
    auto leaves = firmware == BootFilesFor::Uefi
                      ? std::vector<std::wstring>{drive + L"\\EFI\\Microsoft\\Boot\\BCD",
                                                  drive + L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi",
                                                  drive + L"\\EFI\\Boot\\bootx64.efi"}
                      : std::vector<std::wstring>{drive + L"\\bootmgr", drive + L"\\Boot\\BCD"};
    return {L"bcdboot.exe " + std::wstring(scannedDrive) + L"\\windows /l zh-cn /s " + drive +
                named + (manager == BootManagerSource::Updated ? L" /bootex" : L""),
            std::move(leaves)};
}

std::array<std::wstring, 7> BootMenuStoreCommands(std::wstring_view bootDrive) {
    const std::wstring drive(bootDrive);
    return {
        StoreCommand(drive, L"\\boot\\bcd /create {bootmgr} /d \"Windows Boot Manager\""),
        StoreCommand(drive, L"\\boot\\bcd /create {ntldr} /d \"Windows XP/2003\""),
        StoreCommand(drive, L"\\boot\\bcd /set {bootmgr} device partition=" + drive),
        StoreCommand(drive, L"\\boot\\bcd /set {ntldr} device partition=" + drive),
        StoreCommand(drive, L"\\boot\\bcd /set {ntldr} path \\ntldr"),
        StoreCommand(drive, L"\\boot\\bcd /displayorder {ntldr} /addlast"),
        StoreTimeoutCommand(drive),
    };
}

std::wstring StoreTimeoutCommand(std::wstring_view bootDrive) {
    return StoreCommand(bootDrive, L"\\boot\\bcd /timeout 7");
}

ToolCommand StoreExportCommand(std::wstring_view file) {
    return {L"bcdedit.exe /export \"" + std::wstring(file) + L"\"", {std::wstring(file)}};
}

std::wstring StoreImportCommand(std::wstring_view file) {
    return L"bcdedit.exe /import \"" + std::wstring(file) + L"\"";
}

std::wstring UefiStoreTimeoutCommand(std::wstring_view efiDrive) {
    return L"bcdedit.exe /store " + std::wstring(efiDrive) + L"\\EFI\\Microsoft\\Boot\\BCD /timeout 7";
}

std::wstring UefiRecoverySequenceCommand(std::wstring_view efiDrive, std::wstring_view guid) {
    return L"bcdedit.exe /store " + std::wstring(efiDrive) + L"\\EFI\\Microsoft\\Boot\\BCD /set {default} recoverysequence " +
           std::wstring(guid);
}

std::wstring DiskpartCommand(std::wstring_view scriptPath) {
    return L"diskpart.exe /s \"" + std::wstring(scriptPath) + L"\"";
}

namespace {

std::wstring LetterScript(int disk, int partition, const wchar_t* action, wchar_t letter) {
    return L"select disk " + DecimalText(disk) + L"\r\nselect partition " + DecimalText(partition) +
           L"\r\n" + action + L" letter=" + std::wstring(1, letter) + L"\r\n";
}

}  // namespace

std::wstring AssignLetterScript(int disk, int partition, wchar_t letter) {
    return LetterScript(disk, partition, L"assign", letter);
}

std::wstring RemoveLetterScript(int disk, int partition, wchar_t letter) {
    return LetterScript(disk, partition, L"remove", letter);
}

}  // namespace kestrix
