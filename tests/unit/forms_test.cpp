#include "app_fixture.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;
using testing::AppFixture;
using testing::FakeLauncher;

using Startup = AppFixture;

TEST_F(Startup, MakesTheOwnFolderCurrentAndPreparesBothWindows) {
    files.ownFolder = L"D:\\tools\\repair";
    EXPECT_FALSE(Start(L""));
    EXPECT_EQ(files.currentDrive, L"D:");
    EXPECT_EQ(files.currentFolder, L"D:\\tools\\repair");
    EXPECT_TRUE(ch2Window.topmost);
    EXPECT_FALSE(ch2Window.visible);
    EXPECT_TRUE(ch1Window.visible);
    EXPECT_FALSE(app.ch1.Aup);
    // Without "-d" the disks are listed; nothing else runs.
    EXPECT_EQ(launcher.requests.size(), 11u);
    EXPECT_EQ(launcher.requests[0].program, L"C:\\Windows\\System32\\dsptw.exe");
}

TEST_F(Startup, ANetworkFolderSkipsTheDriveChangeAndStillTriesTheFolder) {
    files.ownFolder = L"\\\\server\\share\\kestrix";
    Start(L"-d c:");
    EXPECT_TRUE(files.currentDrive.empty());
    EXPECT_EQ(files.currentFolder, L"\\\\server\\share\\kestrix");
    EXPECT_EQ(ch2Window.partitions, Lines{L"c:"});
}

TEST_F(Startup, GivenPartitionBecomesTheOnlyEntryAndMainWindowWaits) {
    Start(L"-D C:\\");
    EXPECT_EQ(ch2Window.partitions, Lines{L"c:"});
    EXPECT_EQ(ch2Window.partitionText, L"c:");
    EXPECT_TRUE(ch1Window.visible);
    EXPECT_FALSE(ch2Window.visible);
    EXPECT_EQ(ch1Window.bootOnly, 0);
}

TEST_F(Startup, SilentBootSectorRepairRunsInsideTheLoad) {
    files.Put(L"c:\\boot\\bcd", 100);
    EXPECT_FALSE(Start(L"-f -n -d c:"));
    EXPECT_FALSE(ch1Window.visible);
    EXPECT_TRUE(ch2Window.visible);
    EXPECT_EQ(ch2Window.log, (Lines{L"先检测出BCD，正在建立Win6.x引导...", L"", L"纯引导修复完成！请关闭。"}));
    EXPECT_EQ(ToolRuns(), Lines{L"bootsect.exe /nt60 c:"});
    // The main window was never shown.
    EXPECT_EQ(std::count(events.begin(), events.end(), L"ch1.show"), 0);
}

TEST_F(Startup, SilentWithoutAnEntryShowsTheSelectionAndWaits) {
    Start(L"-f");
    EXPECT_FALSE(ch1Window.visible);
    EXPECT_TRUE(ch2Window.visible);
    EXPECT_FALSE(ch2Window.logVisible);
    EXPECT_EQ(FakeLauncher::Name(launcher.requests.back()), L"dsptw.exe");
}

TEST_F(Startup, HandOverWithOneEntryStartsTheRepairAtOnce) {
    files.Put(L"d:\\ntldr", 6);
    Start(L"-n -d d:");
    EXPECT_TRUE(ch1Window.visible);
    app.ch1.Command2_Click();
    EXPECT_FALSE(ch1Window.visible);
    EXPECT_TRUE(ch2Window.logVisible);
    EXPECT_EQ(ToolRuns(), Lines{L"bootsect.exe /nt52 d:"});
}

TEST_F(Startup, HandOverWithSeveralOrNoEntriesWaitsForTheUser) {
    Start(L"");
    app.ch1.Command2_Click();
    EXPECT_TRUE(ch2Window.visible);
    EXPECT_FALSE(ch2Window.logVisible);
    ch2Window.AddPartition(L"e:");
    ch2Window.AddPartition(L"d:");
    app.ch1.Command2_Click();
    EXPECT_FALSE(ch2Window.logVisible);
    EXPECT_EQ(ch2Window.partitions, (Lines{L"d:", L"e:"}));
}

TEST_F(Startup, CloseRequestsAndTheTimer) {
    Start(L"");
    EXPECT_TRUE(Ends([&] { app.ch1.Form_QueryUnload(); }));
    EXPECT_TRUE(Ends([&] { app.ch2.Form_QueryUnload(); }));
    ch2Window.SetTimerEnabled(true);
    app.ch2.Label2_Click();
    EXPECT_FALSE(ch2Window.timerEnabled);
    ch2Window.SetTimerEnabled(true);
    // Aup stays False: the timer only disarms itself.
    EXPECT_FALSE(Ends([&] { app.ch2.e_t1_Timer(); }));
    EXPECT_FALSE(ch2Window.timerEnabled);
    app.ch1.Aup = true;
    ch2Window.SetTimerEnabled(true);
    EXPECT_TRUE(Ends([&] { app.ch2.e_t1_Timer(); }));
}

}  // namespace
}  // namespace kestrix
