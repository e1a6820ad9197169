#include <gtest/gtest.h>

#include "exec/run_and_wait.h"
#include "fakes.h"

namespace kestrix {
namespace {

using testing::Events;
using testing::FakeFileSystem;
using testing::FakeLauncher;

TEST(RunAndWait, NormaliseTrimsSpacesAndAppendsOne) {
    EXPECT_EQ(NormaliseCommandLine(L"  a b  "), L"a b ");
    EXPECT_EQ(NormaliseCommandLine(L"   "), L" ");
    EXPECT_EQ(NormaliseCommandLine(L""), L" ");
    EXPECT_EQ(NormaliseCommandLine(L"\ta\t"), L"\ta\t ");
}

TEST(RunAndWait, SplitTable) {
    struct Case {
        const wchar_t* commandLine;
        std::optional<std::wstring> file;  // empty: the split fails
        std::wstring parameters;
    };
    const Case cases[] = {
        {L"cmd.exe /c dsptw 0 /find:all /getid>dinf.txt", L"cmd.exe",
         L"/c dsptw 0 /find:all /getid>dinf.txt"},
        {L"   ", L"", L""},
        {L"bootsect.exe", L"bootsect.exe", L""},
        {L"bootsect.exe     /nt60 d:  ", L"bootsect.exe", L"/nt60 d:"},
        {L"\"D:\\my tools\\t.exe\" -a", L"D:\\my tools\\t.exe", L"-a "},
        {L"\"D:\\my tools\\t.exe\"", L"D:\\my tools\\t.exe", L""},
        // The character after the closing quote is taken for the separator.
        {L"\"t.exe\"xab", L"t.exe", L"ab "},
        {L"\"D:\\my tools\\t.exe -a", std::nullopt, L""},
        {L"\"", std::nullopt, L""},
        {L"bcdedit.exe /store d:\\boot\\bcd /create {bootmgr} /d \"Windows Boot Manager\"",
         L"bcdedit.exe", L"/store d:\\boot\\bcd /create {bootmgr} /d \"Windows Boot Manager\""},
        {L"a  b   c", L"a", L"b   c"},
    };
    for (const auto& c : cases) {
        const auto parts = SplitCommandLine(NormaliseCommandLine(c.commandLine));
        ASSERT_EQ(parts.has_value(), c.file.has_value()) << c.commandLine;
        if (parts) {
            EXPECT_EQ(parts->file, *c.file) << c.commandLine;
            EXPECT_EQ(parts->parameters, c.parameters) << c.commandLine;
        }
    }
}

TEST(RunAndWait, OwnFolderTable) {
    struct Case {
        const wchar_t* ownFolder;
        const wchar_t* file;
        bool resolves;
        std::wstring drive, folder, bareName;
    };
    const Case cases[] = {
        {L"C:\\tools\\repair", L"t.exe", true, L"C:", L"C:\\tools\\repair", L"t.exe"},
        {L"C:\\tools", L"sub\\t.exe", true, L"C:", L"C:\\tools\\sub", L"t.exe"},
        {L"C:\\", L"t.exe", true, L"C:", L"C:", L"t.exe"},
        {L"C:\\tools", L"E:\\bin\\t.exe", true, L"E:", L"E:\\bin", L"t.exe"},
        {L"C:\\tools", L"E:t.exe", false, L"", L"", L""},
        {L"C:\\tools", L"", true, L"C:", L"C:\\tools", L""},
    };
    for (const auto& c : cases) {
        const auto start = ResolveOwnFolder(c.ownFolder, c.file);
        ASSERT_EQ(start.has_value(), c.resolves) << c.file;
        if (start) {
            EXPECT_EQ(start->drive, c.drive) << c.file;
            EXPECT_EQ(start->folder, c.folder) << c.file;
            EXPECT_EQ(start->file, c.bareName) << c.file;
        }
    }
}

struct RunnerFixture : ::testing::Test {
    Events events;
    FakeLauncher launcher{events};
    FakeFileSystem files{events};
    CommandRunner runner{launcher, files};
};

TEST_F(RunnerFixture, ToolsRunHiddenAndWaitedForAndReportTheExitCode) {
    launcher.result = {true, 0, L"", 3u};
    const auto result = runner.RunTool(L"bootsect.exe /nt60 d:");
    ASSERT_EQ(launcher.requests.size(), 1u);
    EXPECT_EQ(launcher.requests[0].file, L"bootsect.exe");
    EXPECT_EQ(launcher.requests[0].parameters, L"/nt60 d:");
    EXPECT_EQ(launcher.requests[0].showMode, 0);
    EXPECT_TRUE(launcher.requests[0].waitForExit);
    EXPECT_EQ(result.status, RunStatus::Finished);
    EXPECT_EQ(result.exitCode, 3u);
    // Own-folder mode off: the current folder is left alone.
    EXPECT_TRUE(files.currentFolder.empty());
}

TEST_F(RunnerFixture, AnyNonZeroFlagCountsAsSet) {
    runner.RunAndWait(L"a.exe", 5, 1, 0);
    runner.RunAndWait(L"a.exe", 0, 0, 0);
    ASSERT_EQ(launcher.requests.size(), 2u);
    EXPECT_EQ(launcher.requests[0].showMode, 5);
    EXPECT_TRUE(launcher.requests[0].waitForExit);
    EXPECT_FALSE(launcher.requests[1].waitForExit);
}

TEST_F(RunnerFixture, FailuresEndTheCallBeforeAnythingStarts) {
    EXPECT_EQ(runner.RunTool(L"\"unclosed.exe -a").status, RunStatus::InvalidCommand);
    EXPECT_EQ(runner.RunAndWait(L"E:t.exe", 0, -1, 2).status, RunStatus::FolderFailed);
    files.failFolder = true;
    EXPECT_EQ(runner.RunAndWait(L"t.exe", 0, -1, -1).status, RunStatus::FolderFailed);
    files.failFolder = false;
    EXPECT_EQ(runner.RunAndWait(L"", 0, -1, -1).status, RunStatus::InvalidCommand);
    EXPECT_TRUE(launcher.requests.empty());
}

TEST_F(RunnerFixture, OwnFolderModeMakesTheFolderCurrentAndStartsTheBareName) {
    files.ownFolder = L"C:\\tools";
    const auto result = runner.RunAndWait(L"sub\\t.exe -x", 0, -1, -1);
    EXPECT_EQ(result.status, RunStatus::Finished);
    EXPECT_EQ(files.currentDrive, L"C:");
    EXPECT_EQ(files.currentFolder, L"C:\\tools\\sub");
    ASSERT_EQ(launcher.requests.size(), 1u);
    EXPECT_EQ(launcher.requests[0].file, L"t.exe");
    EXPECT_EQ(launcher.requests[0].parameters, L"-x");
}

TEST_F(RunnerFixture, AFailedStartIsAValueNotAnAbort) {
    launcher.result = {false, 2, L"The system cannot find the file specified.", std::nullopt};
    const auto result = runner.RunTool(L"   ");
    EXPECT_EQ(result.status, RunStatus::NotStarted);
    EXPECT_EQ(result.error, 2u);
    EXPECT_FALSE(result.exitCode.has_value());
}

}  // namespace
}  // namespace kestrix
