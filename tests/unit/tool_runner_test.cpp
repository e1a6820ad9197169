#include <gtest/gtest.h>

#include "exec/tool_runner.h"
#include "fakes.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;

// A tool's arguments quoted so that Windows splits the line back into exactly them; a path in a
// folder the program does not name is quoted even without a space.
TEST(CommandLine, QuotedAsWindowsReadsThemBack) {
    const struct {
        std::vector<Argument> arguments;
        std::wstring line;
    } cases[] = {
        {{L"/nt60", L"d:"}, L"/nt60 d:"},
        {{}, L""},
        {{L"/d", L"Windows Boot Manager"}, L"/d \"Windows Boot Manager\""},
        {{L"/export", {L"C:\\kestrix\\d\\BCD", true}}, L"/export \"C:\\kestrix\\d\\BCD\""},
        {{{L"C:\\my tools\\", true}}, L"\"C:\\my tools\\\\\""},
        {{L"", L"a\tb"}, L"\"\" \"a\tb\""},
        {{L"say \"hi\"", L"x\\\"y"}, L"\"say \\\"hi\\\"\" \"x\\\\\\\"y\""},
        {{L"a\\b\\"}, L"a\\b\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JoinArguments(c.arguments), c.line) << ToUtf8(c.line);
        std::vector<std::wstring> texts;
        for (const auto& argument : c.arguments) {
            texts.push_back(argument.text);
        }
        EXPECT_EQ(SplitArguments(c.line), texts) << ToUtf8(c.line);
    }
}

// A runner over doubles, logging into C:\\tools\\kestrix-20261207-103026\\kestrix.log.
struct Rig {
    Rig() { log.Open({}); }

    // The log's entries without their timestamps.
    Lines LogEntries() const {
        Lines entries;
        for (const auto& line : SplitLines(files.Text(log.Folder() + L"\\kestrix.log").substr(1))) {
            entries.push_back(line.substr(25));
        }
        return entries;
    }

    testing::Events events;
    testing::FakeLauncher launcher{events};
    testing::FakeFileSystem files{events};
    testing::FakeClock clock;
    RunLog log{files, clock};
    ToolRunner runner{launcher, files, log, clock};
};

TEST(ToolRunner, StartsToolsByFullPathFromTheProgramFolderThenTheSystemFolderOnly) {
    struct Case {
        const char* name;
        std::wstring ownFolder;
        std::wstring systemFolder;
        Lines present;
        ToolCommand command;
        std::wstring started;  // empty: nothing started
        RunStatus status;
    };
    const ToolCommand kBootsect =
        BootSectorCommand(WindowsGeneration::Nt6, *DriveLetter::Parse(L"d:"));
    const ToolCommand kBcdboot{L"bcdboot.exe", {L"e:\\windows", L"/s", L"d:"}};
    const std::wstring own = L"C:\\kestrix";
    const std::wstring system = L"C:\\Windows\\System32";
    const Case cases[] = {
        {"the program folder wins",
         own,
         system,
         {L"C:\\kestrix\\bootsect.exe", L"C:\\Windows\\System32\\bootsect.exe"},
         kBootsect,
         L"C:\\kestrix\\bootsect.exe",
         RunStatus::Finished},
        {"the system folder next",
         own,
         system,
         {L"C:\\Windows\\System32\\bootsect.exe"},
         kBootsect,
         L"C:\\Windows\\System32\\bootsect.exe",
         RunStatus::Finished},
        {"a program at a drive's root",
         L"E:\\",
         system,
         {L"E:\\dsptw.exe"},
         ListingCommand(0),
         L"E:\\dsptw.exe",
         RunStatus::Finished},
        {"32-bit on 64-bit Windows",
         own,
         L"C:\\Windows\\Sysnative",
         {L"C:\\Windows\\Sysnative\\bcdboot.exe"},
         kBcdboot,
         L"C:\\Windows\\Sysnative\\bcdboot.exe",
         RunStatus::Finished},
        {"never the current folder, the Windows folder or PATH",
         own,
         system,
         {L"bootsect.exe", L"D:\\start\\bootsect.exe", L"C:\\Windows\\bootsect.exe",
          L"E:\\bin\\bootsect.exe"},
         kBootsect,
         L"",
         RunStatus::NotFound},
        {"no system folder known",
         own,
         L"",
         {L"C:\\Windows\\System32\\bootsect.exe"},
         kBootsect,
         L"",
         RunStatus::NotFound},
        {"a path is no tool name",
         own,
         system,
         {L"C:\\kestrix\\sub\\t.exe"},
         {L"sub\\t.exe", {}},
         L"",
         RunStatus::NotFound},
        {"nor is a drive-relative name",
         own,
         system,
         {L"C:\\kestrix\\t.exe"},
         {L"C:t.exe", {}},
         L"",
         RunStatus::NotFound},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.files.ownFolder = c.ownFolder;
        rig.files.systemFolder = c.systemFolder;
        rig.files.currentFolder = L"D:\\start";
        for (const auto& path : c.present) {
            rig.files.Put(path, 100);
        }
        const auto result = rig.runner.Run(c.command);
        EXPECT_EQ(result.status, c.status) << c.name;
        if (c.started.empty()) {
            EXPECT_TRUE(rig.launcher.requests.empty()) << c.name;
        } else {
            ASSERT_EQ(rig.launcher.requests.size(), 1u) << c.name;
            EXPECT_EQ(rig.launcher.requests[0].program, c.started) << c.name;
        }
    }
}

TEST(ToolRunner, LogsTheStartTheWaitTheOutputAndTheOutcome) {
    Rig rig;
    rig.launcher.minutesRunning = 2;
    rig.launcher.result.output = L"引导文件已创建。\r\n\r\n  \r\n\tdetail\r\n";
    rig.launcher.result.outputDropped = 70000;
    rig.launcher.exitCodes[L"bcdboot.exe e:\\windows /s d:"] = 3;
    rig.files.Put(L"C:\\Windows\\System32\\bcdboot.exe", 100);
    const auto result = rig.runner.Run({L"bcdboot.exe", {L"e:\\windows", L"/s", L"d:"}});
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_EQ(result.output, rig.launcher.result.output);
    EXPECT_EQ(RunProblem(result), L"返回 3");

    rig.launcher.minutesRunning = 0;
    rig.files.Put(L"C:\\tools\\bootsect.exe", 100);
    rig.launcher.refused = {L"bootsect.exe"};
    EXPECT_EQ(RunProblem(rig.runner.Run(
                  BootSectorCommand(WindowsGeneration::Nt6, *DriveLetter::Parse(L"d:")))),
              L"错误 193：不是有效的应用程序");
    const auto missing = rig.runner.Run(StoreTimeoutCommand(*DriveLetter::Parse(L"d:")));
    EXPECT_EQ(RunProblem(missing), L"程序目录和系统目录中都没有 bcdedit.exe");

    EXPECT_EQ(
        rig.LogEntries(),
        (Lines{
            L"启动：C:\\Windows\\System32\\bcdboot.exe e:\\windows /s d:",
            L"仍在等待 bcdboot.exe e:\\windows /s d: 结束，已运行 1 分钟",
            L"仍在等待 bcdboot.exe e:\\windows /s d: 结束，已运行 2 分钟",
            L"输出：引导文件已创建。", L"输出：\tdetail", L"输出过长，另有 70000 字节未记录",
            L"命令：bcdboot.exe e:\\windows /s d: → 退出码 3，用时 10 毫秒",
            L"启动：C:\\tools\\bootsect.exe /nt60 d:",
            L"命令：bootsect.exe /nt60 d: → 无法启动（错误 193：不是有效的应用程序），用时 10 毫秒",
            L"命令：bcdedit.exe /store d:\\boot\\bcd /timeout 7 → 找不到程序，未启动（查找过："
            L"C:\\tools\\bcdedit.exe、C:\\Windows\\System32\\bcdedit.exe）"}));
}

}  // namespace
}  // namespace kestrix
