#include "exec/tool_commands.h"
#include "platform/text.h"

namespace kestrix {

namespace {

// bcdedit.exe over the store at the path, or, without one, the store of the running Windows.
ToolCommand StoreCommand(std::wstring_view store, std::vector<Argument> edit,
                         bool failureExpected = false) {
    std::vector<Argument> arguments;
    if (!store.empty()) {
        arguments = {L"/store", std::wstring(store)};
    }
    arguments.insert(arguments.end(), edit.begin(), edit.end());
    return {L"bcdedit.exe", std::move(arguments), {}, failureExpected};
}

std::wstring BiosStore(DriveLetter boot) {
    return boot.Path(L"\\boot\\bcd");
}

std::wstring UefiStore(DriveLetter esp) {
    return esp.Path(L"\\EFI\\Microsoft\\Boot\\BCD");
}

}  // namespace

std::wstring ToolCommand::Line() const {
    return arguments.empty() ? tool : tool + L" " + JoinArguments(arguments);
}

ToolCommand ListingCommand(int disk) {
    return {L"dsptw.exe", {DecimalText(disk), L"/find:all", L"/getid"}};
}

ToolCommand AllListingsCommand() {
    return {L"dsptw.exe", {L"/all"}};
}

ToolCommand BootSectorCommand(WindowsGeneration generation, DriveLetter boot) {
    return {L"bootsect.exe",
            {generation == WindowsGeneration::Nt5 ? L"/nt52" : L"/nt60", boot.Text()}};
}

ToolCommand BootFilesCommand(DriveLetter scanned, DriveLetter boot, BootFilesFor firmware,
                             BootManagerSource manager) {
    const auto drive = boot.Text();
    std::vector<Argument> arguments{scanned.Path(L"\\windows"), L"/l", L"zh-cn", L"/s", drive};
    if (firmware != BootFilesFor::RunningFirmware) {
        arguments.insert(arguments.end(),
                         {L"/f", firmware == BootFilesFor::Bios ? L"BIOS" : L"UEFI"});
    }
    if (manager == BootManagerSource::Updated) {
        arguments.emplace_back(L"/bootex");
    }
    auto leaves = firmware == BootFilesFor::Uefi
                      ? std::vector<std::wstring>{drive + L"\\EFI\\Microsoft\\Boot\\BCD",
                                                  drive + L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi",
                                                  drive + L"\\EFI\\Boot\\bootx64.efi"}
                      : std::vector<std::wstring>{drive + L"\\bootmgr", drive + L"\\Boot\\BCD"};
    return {L"bcdboot.exe", std::move(arguments), std::move(leaves)};
}

std::array<ToolCommand, 7> BootMenuStoreCommands(DriveLetter boot) {
    const auto drive = boot.Text();
    const auto store = BiosStore(boot);
    return {
        StoreCommand(store, {L"/create", L"{bootmgr}", L"/d", L"Windows Boot Manager"}, true),
        StoreCommand(store, {L"/create", L"{ntldr}", L"/d", L"Windows XP/2003"}, true),
        StoreCommand(store, {L"/set", L"{bootmgr}", L"device", L"partition=" + drive}),
        StoreCommand(store, {L"/set", L"{ntldr}", L"device", L"partition=" + drive}),
        StoreCommand(store, {L"/set", L"{ntldr}", L"path", L"\\ntldr"}),
        StoreCommand(store, {L"/displayorder", L"{ntldr}", L"/addlast"}),
        StoreTimeoutCommand(boot),
    };
}

ToolCommand StoreTimeoutCommand(DriveLetter boot) {
    return StoreCommand(BiosStore(boot), {L"/timeout", L"7"});
}

ToolCommand StoreExportCommand(std::wstring_view file) {
    auto command = StoreCommand({}, {L"/export", Argument::FolderPath(std::wstring(file))});
    command.leaves = {std::wstring(file)};
    return command;
}

ToolCommand StoreImportCommand(std::wstring_view file) {
    return StoreCommand({}, {L"/import", Argument::FolderPath(std::wstring(file))});
}

ToolCommand UefiStoreTimeoutCommand(DriveLetter esp) {
    return StoreCommand(UefiStore(esp), {L"/timeout", L"7"});
}

ToolCommand UefiRecoverySequenceCommand(DriveLetter esp, std::wstring_view guid) {
    return StoreCommand(UefiStore(esp),
                        {L"/set", L"{default}", L"recoverysequence", std::wstring(guid)});
}

ToolCommand DiskpartCommand(std::wstring_view scriptPath) {
    return {L"diskpart.exe", {L"/s", Argument::FolderPath(std::wstring(scriptPath))}};
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
