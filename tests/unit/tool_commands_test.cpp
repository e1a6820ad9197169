#include <gtest/gtest.h>

#include "exec/tool_commands.h"
#include "repair/store_listing.h"

namespace kestrix {
namespace {

TEST(ToolCommands, ExactLines) {
    EXPECT_EQ(ListingCommand(0), L"dsptw.exe 0 /find:all /getid");
    EXPECT_EQ(ListingCommand(10), L"dsptw.exe 10 /find:all /getid");
    EXPECT_EQ(BootSectorCommand(WindowsGeneration::Nt5, L"D:"), L"bootsect.exe /nt52 D:");
    EXPECT_EQ(BootSectorCommand(WindowsGeneration::Nt6, L"d:"), L"bootsect.exe /nt60 d:");
    EXPECT_EQ(BootFilesCommand(L"e:", L"d:").line, L"bcdboot.exe e:\\windows /l zh-cn /s d:");
    EXPECT_EQ(StoreTimeoutCommand(L"d:"), L"bcdedit.exe /store d:\\boot\\bcd /timeout 7");
}

TEST(ToolCommands, StoreCommandsInMenuOrder) {
    const auto commands = BootMenuStoreCommands(L"d:");
    const std::array<std::wstring, 7> expected = {
        L"bcdedit.exe /store d:\\boot\\bcd /create {bootmgr} /d \"Windows Boot Manager\"",
        L"bcdedit.exe /store d:\\boot\\bcd /create {ntldr} /d \"Windows XP/2003\"",
        L"bcdedit.exe /store d:\\boot\\bcd /set {bootmgr} device partition=d:",
        L"bcdedit.exe /store d:\\boot\\bcd /set {ntldr} device partition=d:",
        L"bcdedit.exe /store d:\\boot\\bcd /set {ntldr} path \\ntldr",
        L"bcdedit.exe /store d:\\boot\\bcd /displayorder {ntldr} /addlast",
        L"bcdedit.exe /store d:\\boot\\bcd /timeout 7",
    };
    EXPECT_EQ(commands, expected);
}

// The loader's Windows RE entry read back from bcdedit's listing, only as one whole GUID, since it
// goes back into a command line.
TEST(StoreListing, RecoverySequence) {
    const std::wstring guid = L"{4c5b2c5e-0b6a-11ef-9a1b-b8aeed7f3a21}";
    const struct {
        std::wstring listing;
        std::optional<std::wstring> found;
    } cases[] = {
        {L"Windows 启动加载器\r\n-----\r\nidentifier              {default}\r\nrecoverysequence        " +
             guid + L"\r\nrecoveryenabled         Yes\r\n",
         guid},
        {L"  RecoverySequence\t" + guid + L"  \n", guid},
        {L"recoveryenabled         Yes\r\n", std::nullopt},
        {L"recoverysequence        {default}\r\n", std::nullopt},
        {L"recoverysequence        " + guid + L" & calc\r\n", std::nullopt},
        {L"recoverysequencex       " + guid + L"\r\n", std::nullopt},
        {L"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RecoverySequenceIn(c.listing), c.found);
    }
}

}  // namespace
}  // namespace kestrix
