#include <gtest/gtest.h>

#include "exec/tool_commands.h"

namespace kestrix {
namespace {

TEST(ToolCommands, ExactLines) {
    EXPECT_EQ(ListingCommand(0).Line(), L"dsptw.exe 0 /find:all /getid");
    EXPECT_EQ(ListingCommand(10).Line(), L"dsptw.exe 10 /find:all /getid");
    EXPECT_EQ(BootSectorCommand(WindowsGeneration::Nt5, *DriveLetter::Parse(L"D:")).Line(),
              L"bootsect.exe /nt52 D:");
    EXPECT_EQ(BootSectorCommand(WindowsGeneration::Nt6, *DriveLetter::Parse(L"d:")).Line(),
              L"bootsect.exe /nt60 d:");
    EXPECT_EQ(BootFilesCommand(*DriveLetter::Parse(L"e:"), *DriveLetter::Parse(L"d:")).Line(),
              L"bcdboot.exe e:\\windows /l zh-cn /s d:");
    EXPECT_EQ(StoreTimeoutCommand(*DriveLetter::Parse(L"d:")).Line(),
              L"bcdedit.exe /store d:\\boot\\bcd /timeout 7");
}

TEST(ToolCommands, StoreCommandsInMenuOrder) {
    std::array<std::wstring, 7> commands;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        commands[i] = BootMenuStoreCommands(*DriveLetter::Parse(L"d:"))[i].Line();
    }
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

}  // namespace
}  // namespace kestrix
