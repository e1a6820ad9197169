#include "app_fixture.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;
using testing::AppFixture;

using Startup = AppFixture;

TEST_F(Startup, MakesTheOwnFolderCurrentAndPreparesBothWindows) {
    files.ownFolder = L"D:\\tools\\repair";
    EXPECT_FALSE(Start(L""));
    EXPECT_EQ(files.currentDrive, L"D:");
    EXPECT_EQ(files.currentFolder, L"D:\\tools\\repair");
    EXPECT_TRUE(repairWindow.topmost);
    EXPECT_FALSE(repairWindow.visible);
    EXPECT_TRUE(startWindow.visible);
    // Without "-d" the disks are listed; nothing else runs.
    EXPECT_EQ(launcher.requests.size(), 1u);
    EXPECT_EQ(launcher.requests[0].program, L"C:\\Windows\\System32\\dsptw.exe");
}

// The disks are listed behind the start window; its button, or a close, waits for the listing.
TEST(StartupScan, RunsBehindTheStartWindow) {
    const struct {
        const char* name;
        bool close;
    } cases[] = {{"start pressed", false}, {"closed", true}};
    for (const auto& c : cases) {
        testing::Machine m;
        m.session.holdBackground = true;
        EXPECT_FALSE(m.Start(L"")) << c.name;
        EXPECT_TRUE(m.startWindow.visible) << c.name;
        EXPECT_TRUE(m.launcher.requests.empty()) << c.name;
        // A log-off waits for the scan, which may be giving a partition a letter for the run.
        EXPECT_FALSE(m.app.program.OnQueryEndSession()) << c.name;
        EXPECT_TRUE(m.session.sessionEndBlock) << c.name;
        const bool ended = m.Ends([&] {
            c.close ? m.app.program.OnCloseRequest() : m.app.program.OnStartButton();
        });
        EXPECT_FALSE(ended) << c.name;
        EXPECT_FALSE(m.repairWindow.visible) << c.name;
        EXPECT_EQ(m.startWindow.visible, !c.close) << c.name;
        EXPECT_EQ(m.Ends([&] { m.session.FinishBackground(); }), c.close) << c.name;
        EXPECT_EQ(m.launcher.requests.size(), 1u) << c.name;
        // Nothing found: the box comes once the listing is read, then the list waits.
        EXPECT_EQ(m.session.messages.size(), 1u) << c.name;
        EXPECT_EQ(m.repairWindow.visible, !c.close) << c.name;
        EXPECT_FALSE(m.session.sessionEndBlock) << c.name;
        EXPECT_TRUE(m.app.program.OnQueryEndSession()) << c.name;
    }
}

TEST_F(Startup, ANetworkFolderSkipsTheDriveChangeAndStillTriesTheFolder) {
    files.ownFolder = L"\\\\server\\share\\kestrix";
    Start(L"-d c:");
    EXPECT_TRUE(files.currentDrive.empty());
    EXPECT_EQ(files.currentFolder, L"\\\\server\\share\\kestrix");
    EXPECT_EQ(repairWindow.partitions, Lines{L"c:"});
}

TEST_F(Startup, GivenPartitionBecomesTheOnlyEntryAndMainWindowWaits) {
    Start(L"-D C:\\");
    EXPECT_EQ(repairWindow.partitions, Lines{L"c:"});
    EXPECT_EQ(repairWindow.partitionText, L"c:");
    EXPECT_TRUE(startWindow.visible);
    EXPECT_FALSE(repairWindow.visible);
    // The start window is on screen before the repair window is prepared behind it.
    EXPECT_LT(std::find(events.begin(), events.end(), L"start.show"),
              std::find(events.begin(), events.end(), L"repair.hide"));
    EXPECT_FALSE(startWindow.bootSectorOnly);
}

TEST_F(Startup, SilentBootSectorRepairRunsInsideTheLoad) {
    files.Put(L"c:\\boot\\bcd", 100);
    EXPECT_FALSE(Start(L"-f -n -d c:"));
    EXPECT_FALSE(startWindow.visible);
    EXPECT_TRUE(repairWindow.visible);
    EXPECT_EQ(repairWindow.log, (Lines{L"先检测出BCD，正在建立Win6.x引导...", L"", L"纯引导修复完成！请关闭。"}));
    EXPECT_EQ(ToolRuns(), Lines{L"bootsect.exe /nt60 c:"});
    // The main window was never shown.
    EXPECT_EQ(std::count(events.begin(), events.end(), L"start.show"), 0);
}

TEST_F(Startup, SilentWithoutAnEntryShowsTheSelectionAndWaits) {
    Start(L"-f");
    EXPECT_FALSE(startWindow.visible);
    EXPECT_TRUE(repairWindow.visible);
    EXPECT_FALSE(repairWindow.progressShown);
    EXPECT_EQ(testing::FakeLauncher::Name(launcher.requests.back()), L"dsptw.exe");
}

TEST_F(Startup, HandOverWithOneEntryStartsTheRepairAtOnce) {
    files.Put(L"d:\\ntldr", 6);
    Start(L"-n -d d:");
    EXPECT_TRUE(startWindow.visible);
    app.program.OnStartButton();
    EXPECT_FALSE(startWindow.visible);
    EXPECT_TRUE(repairWindow.progressShown);
    EXPECT_EQ(ToolRuns(), Lines{L"bootsect.exe /nt52 d:"});
}

TEST_F(Startup, HandOverWithSeveralOrNoEntriesWaitsForTheUser) {
    Start(L"");
    app.program.OnStartButton();
    EXPECT_TRUE(repairWindow.visible);
    EXPECT_FALSE(repairWindow.progressShown);
    repairWindow.AddPartition(L"e:");
    repairWindow.AddPartition(L"d:");
    app.program.OnStartButton();
    EXPECT_FALSE(repairWindow.progressShown);
    EXPECT_EQ(repairWindow.partitions, (Lines{L"d:", L"e:"}));
}

TEST_F(Startup, CloseRequestsAndTheTimer) {
    Start(L"");
    EXPECT_TRUE(Ends([&] { app.program.OnCloseRequest(); }));
    EXPECT_EQ(exitCode, 2);
    repairWindow.SetAutoCloseTimer(true);
    app.program.OnKeepOpenClick();
    EXPECT_FALSE(repairWindow.autoCloseArmed);
    // Without -f the timer only disarms itself.
    repairWindow.SetAutoCloseTimer(true);
    EXPECT_FALSE(Ends([&] { app.program.OnAutoCloseTimer(); }));
    EXPECT_FALSE(repairWindow.autoCloseArmed);
}

// Unattended: no box waits for a person, and the program always ends by itself.
TEST(Unattended, NeverWaitsForAPerson) {
    const std::wstring twoActive = L"1 D: mbr 07 ntfs - yes 1 2 1 MB\r\n1 E: mbr 07 ntfs - yes 1 2 1 MB\r\n";
    struct Case {
        const char* name;
        std::wstring arguments;
        bool bcdOnD;
        std::wstring listing;
        int exitCode;
        Lines runs;
        const wchar_t* logged;
    };
    const Case cases[] = {
        {"repairs and ends at once", L"-u -n -d d:", true, L"", 0, {L"bootsect.exe /nt60 d:"},
         L"记录：纯引导修复完成！请关闭。"},
        {"the question takes Cancel", L"-u -n -d d:", false, L"", 2, {},
         L"提示（无人值守，未显示）：未检测出有效的引导文件"},
        {"a rejected drive", L"-u -d 1:", false, L"", 2, {}, L"提示（无人值守，未显示）：卷标非法！ → 确定"},
        {"two candidates", L"-u -n", true, twoActive, 2, {}, L"无人值守：有 2 个候选分区，需要人来选择，不做修复"},
        {"no candidate", L"-U", true, L"", 2, {}, L"提示（无人值守，未显示）：出错了！没找到活动分区！ → 确定"},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        m.InstallInKestrixFolder();
        if (c.bcdOnD) {
            m.files.Put(L"d:\\boot\\bcd", 100);
        }
        m.launcher.outputs[ListingCommand(0).Line()] = c.listing;
        m.launcher.outputs[ListingCommand(1).Line()] = L"open disk error!\r\n";
        m.launcher.exitCodes[ListingCommand(1).Line()] = 1;
        EXPECT_TRUE(m.Start(c.arguments)) << c.name;
        EXPECT_EQ(m.exitCode, c.exitCode) << c.name;
        EXPECT_TRUE(m.session.messages.empty()) << c.name;
        Lines runs;
        for (const auto& run : m.ToolRuns()) {
            if (run.rfind(L"dsptw.exe", 0) != 0) {
                runs.push_back(run);
            }
        }
        EXPECT_EQ(runs, c.runs) << c.name;
        EXPECT_NE(m.files.Text(L"c:\\kestrix\\kestrix-20261207-103026\\kestrix.log").find(c.logged),
                  std::wstring::npos)
            << c.name;
    }
}

}  // namespace
}  // namespace kestrix
