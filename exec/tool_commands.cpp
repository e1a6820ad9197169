#include "exec/tool_commands.h"
#include "platform/text.h"

namespace kestrix {

namespace {

// bcdedit.exe over the store at the path.
ToolCommand StoreCommand(std::wstring_view store, std::initializer_list<std::wstring_view> edit) {
    return std::move(ToolCommand(L"bcdedit.exe", {L"/store", store}).Add(edit));
}

}  // namespace

ToolCommand::ToolCommand(std::wstring_view name,
                         std::initializer_list<std::wstring_view> toolArguments)
    : tool(name) {
    Add(toolArguments);
}

ToolCommand& ToolCommand::Add(std::initializer_list<std::wstring_view> more) {
    for (const auto argument : more) {
        arguments.emplace_back(std::wstring(argument));
    }
    return *this;
}

ToolCommand& ToolCommand::AddFolderPath(std::wstring_view path) {
    Add({path});
    arguments.back().alwaysQuoted = true;
    return *this;
}

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
    ToolCommand command(L"bcdboot.exe",
                        {scanned.Path(L"\\windows"), L"/l", L"zh-cn", L"/s", boot.Text()});
    if (firmware != BootFilesFor::RunningFirmware) {
        command.Add({L"/f", firmware == BootFilesFor::Bios ? L"BIOS" : L"UEFI"});
    }
    if (manager == BootManagerSource::Updated) {
        command.Add({L"/bootex"});
    }
    command.leaves = firmware == BootFilesFor::Uefi
                         ? std::vector{boot.Path(L"\\EFI\\Microsoft\\Boot\\BCD"),
                                       boot.Path(L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi"),
                                       boot.Path(L"\\EFI\\Boot\\bootx64.efi")}
                         : std::vector{boot.Path(L"\\bootmgr"), boot.Path(L"\\Boot\\BCD")};
    return command;
}

std::array<ToolCommand, 7> BootMenuStoreCommands(DriveLetter boot) {
    const auto partition = L"partition=" + boot.Text();
    const auto store = boot.Path(L"\\boot\\bcd");
    std::array<ToolCommand, 7> commands{
        StoreCommand(store, {L"/create", L"{bootmgr}", L"/d", L"Windows Boot Manager"}),
        StoreCommand(store, {L"/create", L"{ntldr}", L"/d", L"Windows XP/2003"}),
        StoreCommand(store, {L"/set", L"{bootmgr}", L"device", partition}),
        StoreCommand(store, {L"/set", L"{ntldr}", L"device", partition}),
        StoreCommand(store, {L"/set", L"{ntldr}", L"path", L"\\ntldr"}),
        StoreCommand(store, {L"/displayorder", L"{ntldr}", L"/addlast"}),
        StoreTimeoutCommand(boot),
    };
    commands[0].failureExpected = commands[1].failureExpected = true;
    return commands;
}

ToolCommand StoreTimeoutCommand(DriveLetter boot) {
    return StoreCommand(boot.Path(L"\\boot\\bcd"), {L"/timeout", L"7"});
}

ToolCommand StoreExportCommand(std::wstring_view file) {
    ToolCommand command(L"bcdedit.exe", {L"/export"});
    command.AddFolderPath(file).leaves = {std::wstring(file)};
    return command;
}

ToolCommand StoreImportCommand(std::wstring_view file) {
    return std::move(ToolCommand(L"bcdedit.exe", {L"/import"}).AddFolderPath(file));
}

ToolCommand UefiStoreTimeoutCommand(DriveLetter esp) {
    return StoreCommand(esp.Path(L"\\EFI\\Microsoft\\Boot\\BCD"), {L"/timeout", L"7"});
}

ToolCommand UefiRecoverySequenceCommand(DriveLetter esp, std::wstring_view guid) {
    return StoreCommand(esp.Path(L"\\EFI\\Microsoft\\Boot\\BCD"),
                        {L"/set", L"{default}", L"recoverysequence", guid});
}

ToolCommand DiskpartCommand(std::wstring_view scriptPath) {
    return std::move(ToolCommand(L"diskpart.exe", {L"/s"}).AddFolderPath(scriptPath));
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
