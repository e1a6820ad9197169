#include "app_fixture.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;
using testing::Events;

const std::wstring kFolder = L"C:\\kestrix\\kestrix-20261207-103026";

struct Outcome : testing::AppFixture {
    Outcome() {
        InstallInKestrixFolder();
    }

    // XP with a boot.ini on d:, Windows 7 on e:.
    void BothGenerations() {
        files.Put(L"d:\\windows\\regedit.exe", 100);
        files.Put(L"d:\\boot.ini", 100);
        files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
        files.drives = {L"d:", L"e:"};
    }
};

TEST_F(Outcome, FailedToolsAreShownCountedAndChangeTheCompletionLine) {
    struct Case {
        const char* name;
        std::map<std::wstring, std::uint32_t> exitCodes;
        std::set<std::wstring> missing;
        std::set<std::wstring> refused;
        Lines failureLines;
    };
    // The five settings that follow the two creations, which may fail.
    Lines settings;
    const auto commands = BootMenuStoreCommands(*DriveLetter::Parse(L"d:"));
    for (std::size_t i = 2; i < commands.size(); ++i) {
        settings.push_back(L"  失败：无法启动 " + commands[i].Line() +
                           L"（程序目录和系统目录中都没有 bcdedit.exe）");
    }
    const Case cases[] = {
        {"all succeed", {}, {}, {}, {}},
        {"creations fail as they do after bcdboot",
         {{L"bcdedit.exe /store d:\\boot\\bcd /create {bootmgr} /d \"Windows Boot Manager\"", 1},
          {L"bcdedit.exe /store d:\\boot\\bcd /create {ntldr} /d \"Windows XP/2003\"", 1}},
         {},
         {},
         {}},
        {"a setting fails",
         {{L"bcdedit.exe /store d:\\boot\\bcd /set {ntldr} path \\ntldr", 1}},
         {},
         {},
         {L"  失败：bcdedit.exe /store d:\\boot\\bcd /set {ntldr} path \\ntldr 返回 1"}},
        {"bcdboot and bootsect fail",
         {{L"bcdboot.exe e:\\windows /l zh-cn /s d:", 87}, {L"bootsect.exe /nt60 d:", 2}},
         {},
         {},
         {L"  失败：bcdboot.exe e:\\windows /l zh-cn /s d: 返回 87",
          L"  失败：bootsect.exe /nt60 d: 返回 2"}},
        {"bcdedit found nowhere", {}, {L"bcdedit.exe"}, {}, settings},
        {"bootsect refused by the system",
         {},
         {},
         {L"bootsect.exe"},
         {L"  失败：无法启动 bootsect.exe /nt60 d:（错误 193：不是有效的应用程序）"}},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        auto& window = m.repairWindow;
        m.files.Put(L"d:\\windows\\regedit.exe", 100);
        m.files.Put(L"d:\\boot.ini", 100);
        m.files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
        // A system partition that already boots: a failed bcdboot leaves its boot manager.
        m.files.Put(L"d:\\bootmgr", 100);
        m.files.Put(L"d:\\boot\\bcd", 100);
        m.files.drives = {L"d:", L"e:"};
        window.partitionText = L"d:";
        m.launcher.exitCodes = c.exitCodes;
        m.launcher.refused = c.refused;
        for (const auto& tool : c.missing) {
            m.files.files.erase(ToLower(m.files.systemFolder + L"\\" + tool));
        }
        m.app.program.OnConfirm();
        Lines failures;
        for (const auto& line : window.log) {
            if (line.find(L"失败：") != std::wstring::npos) {
                failures.push_back(line);
            }
        }
        EXPECT_EQ(failures, c.failureLines) << c.name;
        const auto n = failures.size();
        EXPECT_EQ(window.log.back(), n == 0 ? L"引导菜单修复完成！请关闭。"
                                         : L"引导菜单修复结束，但有 " + std::to_wstring(n) +
                                               L" 个步骤失败！请查看上面的记录。")
            << c.name;
        EXPECT_EQ(m.app.program.ExitCode(), n == 0 ? 0 : 1) << c.name;
        EXPECT_TRUE(window.autoCloseArmed) << c.name;
    }
}

TEST_F(Outcome, BootSectorFailureIsNotReportedAsSuccess) {
    files.Put(L"d:\\boot\\bcd", 100);
    launcher.exitCodes[L"bootsect.exe /nt60 d:"] = 1;
    Start(L"-f -n -d d:");
    EXPECT_EQ(repairWindow.log, (Lines{L"先检测出BCD，正在建立Win6.x引导...", L"  失败：bootsect.exe /nt60 d: 返回 1", L"",
                                    L"纯引导修复结束，但有 1 个步骤失败！请查看上面的记录。"}));
    EXPECT_EQ(app.program.ExitCode(), 1);
}

TEST_F(Outcome, MissingLoaderFilesAndAReadOnlyBootDrive) {
    files.files.erase(L"c:\\kestrix\\ntldr");
    files.Put(L"e:\\windows\\regedit.exe", 100);
    files.Put(L"d:\\NTDETECT.COM", 50);
    files.readOnly = {L"d:"};
    files.drives = {L"e:"};
    repairWindow.partitionText = L"d:";
    app.program.OnConfirm();
    EXPECT_EQ(repairWindow.log,
              (Lines{L"正在扫描分区中的6.x系统...", L"正在扫描分区中的5.x系统...",
                     L"  在 e: 发现5.x系统，修复中...", L"    不存在Boot.ini正在建立通用boot.ini ...",
                     L"    失败：无法复制 C:\\kestrix\\boot.ini 到 d:\\boot.ini（错误 5：error 5）",
                     L"    失败：无法复制 C:\\kestrix\\BOOTFONT.BIN 到 d:\\BOOTFONT.BIN（错误 5：error 5）",
                     L"    失败：程序目录中缺少 C:\\kestrix\\NTLDR",
                     L"    失败：无法复制 C:\\kestrix\\NTDETECT.COM 到 d:\\NTDETECT.COM（错误 5：error 5）",
                     L"  失败：d: 上没有 \\ntldr，未写入Win5.x引导扇区",
                     L"", L"引导菜单修复结束，但有 5 个步骤失败！请查看上面的记录。"}));
    // The file about to be replaced was saved first, even though the copy then failed.
    EXPECT_EQ(files.files.at(ToLower(kFolder + L"\\d\\NTDETECT.COM")).size(), 50u);
}

TEST_F(Outcome, BackupsComeBeforeEveryOverwrite) {
    BothGenerations();
    files.Put(L"d:\\boot\\bcd", 300);
    files.volumes[L"d:"] = std::string(8192, 'v');
    // The tools change what they touch, so a late backup would hold the new bytes.
    launcher.onLaunch = [this](const LaunchRequest& request) {
        if (testing::FakeLauncher::Name(request) == L"bcdboot.exe") {
            files.Put(L"d:\\boot\\bcd", 999);
        }
        if (testing::FakeLauncher::Name(request) == L"bootsect.exe") {
            files.volumes[L"d:"] = std::string(8192, 'n');
        }
    };
    repairWindow.partitionText = L"d:";
    app.program.OnConfirm();
    EXPECT_EQ(files.files.at(ToLower(kFolder + L"\\d\\boot\\bcd")).size(), 300u);
    EXPECT_EQ(files.files.at(ToLower(kFolder + L"\\volume-d-first8k.bin")), std::string(8192, 'v'));
    EXPECT_EQ(repairWindow.log.back(), L"引导菜单修复完成！请关闭。");
}

TEST_F(Outcome, BackupFolderFallsBackToTheBootDriveAndFailsVisibly) {
    files.Put(L"d:\\boot\\bcd", 100);
    files.readOnly = {L"c:\\kestrix"};
    Start(L"-f -n -d d:");
    EXPECT_EQ(files.files.count(L"d:\\kestrix-20261207-103026\\volume-d-first8k.bin"), 1u);
    EXPECT_EQ(repairWindow.log.back(), L"纯引导修复完成！请关闭。");

    testing::Machine m;
    auto& window = m.repairWindow;
    auto& fs = m.files;
    fs.readOnly = {L"c:", L"d:"};
    fs.ownFolder = L"C:\\kestrix";
    fs.volumes[L"d:"] = "x";
    fs.Put(L"d:\\ntldr", 100);
    m.startWindow.bootSectorOnly = true;
    window.partitionText = L"d:";
    m.app.program.OnConfirm();
    EXPECT_EQ(window.log, (Lines{L"检测出ntldr，正在建立Win5.x引导...",
                              L"  失败：无法备份 d: 的引导扇区（没有可写的备份目录），未运行 bootsect.exe /nt52 d:", L"",
                              L"纯引导修复结束，但有 1 个步骤失败！请查看上面的记录。"}));
}

TEST_F(Outcome, TheLogFileHoldsEveryLineAndCommand) {
    files.Put(L"d:\\boot\\bcd", 100);
    launcher.exitCodes[L"bootsect.exe /nt60 d:"] = 3;
    Start(L"-f -n -d d:");
    const auto log = files.Text(kFolder + L"\\kestrix.log");
    EXPECT_EQ(log.rfind(L"\xFEFF", 0), 0u);
    for (const std::wstring& expected : Lines{
             L"2026-12-07 10:30:26.123  记录：先检测出BCD，正在建立Win6.x引导...\r\n",
          L"  命令：bootsect.exe /nt60 d: → 退出码 3，用时 10 毫秒\r\n",
          L"  备份：d: 卷的前 8192 字节 → " + kFolder + L"\\volume-d-first8k.bin\r\n",
          L"  记录：纯引导修复结束，但有 1 个步骤失败！请查看上面的记录。\r\n"}) {
        EXPECT_NE(log.find(expected), std::wstring::npos) << ToUtf8(expected);
    }
    // Closing the window ends the run's log with the exit code.
    EXPECT_TRUE(Ends([&] { app.program.OnCloseRequest(); }));
    EXPECT_EQ(exitCode, 1);
    EXPECT_NE(files.Text(kFolder + L"\\kestrix.log").find(L"程序结束，退出码 1"), std::wstring::npos);
}

TEST_F(Outcome, ExitCodes) {
    // No repair yet.
    Start(L"-d d:");
    EXPECT_TRUE(Ends([&] { app.program.OnCloseRequest(); }));
    EXPECT_EQ(exitCode, 2);
    // Cancelled question.
    startWindow.bootSectorOnly = true;
    session.answers = {MessageAnswer::Cancel};
    EXPECT_TRUE(Ends([&] { app.program.OnConfirm(); }));
    EXPECT_EQ(exitCode, 2);
}

// A close during the repair asks first; No lets it go on, Yes ends the program once the tool
// that runs has ended, with code 1, and nothing after it runs.
TEST_F(Outcome, ClosedInTheMiddleOfARepair) {
    for (const auto answer : {MessageAnswer::No, MessageAnswer::Yes}) {
        testing::Machine m;
        m.InstallInKestrixFolder();
        m.files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
        m.files.drives = {L"e:"};
        m.repairWindow.partitionText = L"d:";
        m.session.answers = {answer};
        if (answer == MessageAnswer::Yes) {
            // The tool that was let finish fails: the log file says so, the closing window not.
            m.launcher.exitCodes[L"bcdboot.exe e:\\windows /l zh-cn /s d:"] = 1;
        }
        // Closed while the first tool runs.
        m.launcher.onLaunch = [&m](const LaunchRequest&) {
            if (m.launcher.requests.size() == 1) {
                m.app.program.OnCloseRequest();
            }
        };
        const bool ended = m.Ends([&] { m.app.program.OnConfirm(); });
        ASSERT_EQ(m.session.messages.size(), 1u);
        EXPECT_EQ(m.session.messages[0].text, L"修复正在进行，现在退出可能使系统无法启动。仍要退出吗？");
        EXPECT_EQ(m.session.messages[0].buttons, MessageButtons::YesNo);
        if (answer == MessageAnswer::No) {
            EXPECT_FALSE(ended);
            EXPECT_EQ(m.repairWindow.log.back(), L"引导菜单修复完成！请关闭。");
        } else {
            EXPECT_TRUE(ended);
            EXPECT_EQ(m.exitCode, 1);
            EXPECT_EQ(m.ToolRuns(), Lines{L"bcdboot.exe e:\\windows /l zh-cn /s d:"});
            const auto log = m.files.Text(kFolder + L"\\kestrix.log");
            EXPECT_LT(log.find(L"记录：  失败：bcdboot.exe e:\\windows /l zh-cn /s d: "),
                      log.find(L"修复被中止"));
            EXPECT_NE(log.find(L"修复被中止"), std::wstring::npos);
            EXPECT_EQ(m.repairWindow.log.back(), L"  在 e: 发现6.x系统，修复中...");
        }
    }
}

// Windows may end its session (a log-off or shutdown) before and after a repair, not while it
// writes: the end is held for a reason Windows shows.
TEST_F(Outcome, TheSessionMayNotEndWhileARepairWrites) {
    using Seen = std::pair<bool, std::optional<std::wstring>>;
    std::vector<Seen> seen;
    const auto look = [&] { seen.emplace_back(app.program.OnQueryEndSession(), session.sessionEndBlock); };
    files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
    files.drives = {L"e:"};
    repairWindow.partitionText = L"d:";
    look();
    session.onWindowThread = [&] {
        if (launcher.requests.size() == 1 && seen.size() == 1) {
            look();
        }
    };
    app.program.OnConfirm();
    look();
    EXPECT_EQ(seen, (std::vector<Seen>{{true, std::nullopt},
                                       {false, L"正在修复引导，请稍候……"},
                                       {true, std::nullopt}}));
}

// Windows 7 on e:, an active d: and an EFI system partition without a letter, which the scan
// gives one for the run.
void WithAnUnletteredEsp(testing::Machine& m) {
    m.InstallInKestrixFolder();
    m.files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
    m.files.drives = {L"c:", L"d:", L"e:"};
    m.launcher.outputs[ListingCommand(0).Line()] =
        L"1 D: mbr 07 NTFS - yes 1 2 1 MB\r\n2 - gpt efi-system - - no 1 101 100 MB\r\n";
}

// A forced end of the session during a repair: no box, and the program ends once the tool in
// progress has, with the letter the scan gave the EFI system partition taken back after it; no
// further tool starts.
TEST(SessionEnd, DuringARepairEndsTheProgramWithoutABox) {
    testing::Machine m;
    WithAnUnletteredEsp(m);
    m.Start(L"");
    m.repairWindow.partitionText = L"d:";
    bool ended = false;
    m.session.onWindowThread = [&m, &ended] {
        if (!ended && m.launcher.requests.back().program.ends_with(L"bcdboot.exe")) {
            ended = m.Ends([&m] { m.app.program.OnSessionEnd(); });
        }
    };
    m.app.program.OnConfirm();
    EXPECT_TRUE(ended);
    EXPECT_EQ(m.exitCode, 1);
    EXPECT_TRUE(m.session.messages.empty());
    // The removal's diskpart runs after the wait for the step in progress.
    const auto wait = std::find(m.events.begin(), m.events.end(), L"wait:20000");
    EXPECT_EQ(std::count_if(wait, m.events.end(),
                            [](const auto& e) {
                                return e.starts_with(L"run:") &&
                                       e.find(L"diskpart") != std::wstring::npos;
                            }),
              1);
    const auto runs = m.ToolRuns();
    EXPECT_EQ(Lines(runs.end() - 2, runs.end()),
              (Lines{L"bcdboot.exe e:\\windows /l zh-cn /s d:", L"diskpart.exe /s \"C:\\temp\\kestrix-diskpart.txt\""}));
    const auto log = m.files.Text(kFolder + L"\\kestrix.log");
    const auto reason = log.find(L"Windows 会话结束（注销或关机），当前步骤结束后中止修复");
    EXPECT_LT(reason, log.find(L"已收回盘符 Z:"));
    EXPECT_LT(log.find(L"已收回盘符 Z:"), log.find(L"程序结束，退出码 1"));
    EXPECT_NE(log.find(L"程序结束，退出码 1"), std::wstring::npos);
}

// Every way out while the listing or a job runs waits for it (a bounded wait) before the letters
// given for the run are taken back: a letter the listing is giving is given first, then taken back.
TEST(SessionEnd, LettersAreTakenBackAfterTheWorkInProgress) {
    using Program = kestrix::Program;
    const struct {
        const char* name;
        bool duringRepair;
        void (*end)(Program&);
        bool outlastsWait;
        int exitCode;
        std::vector<const wchar_t*> inOrder;
    } cases[] = {
        {"session end during the listing",
         false,
         [](Program& p) { p.OnSessionEnd(); },
         false,
         2,
         {L"Windows 会话结束（注销或关机）", L"已为 磁盘 0 的分区 2", L"已收回盘符 Z:",
          L"程序结束，退出码 2"}},
        {"WM_QUIT during the listing",
         false,
         [](Program& p) { p.End(p.ExitCode()); },
         false,
         2,
         {L"已为 磁盘 0 的分区 2", L"已收回盘符 Z:", L"程序结束，退出码 2"}},
        {"session end during a repair: no further step starts",
         true,
         [](Program& p) { p.OnSessionEnd(); },
         false,
         1,
         {L"已为 磁盘 0 的分区 2", L"当前步骤结束后中止修复", L"修复被中止", L"已收回盘符 Z:",
          L"程序结束，退出码 1"}},
        {"a listing that outlasts the wait",
         false,
         [](Program& p) { p.OnSessionEnd(); },
         true,
         2,
         {L"Windows 会话结束（注销或关机）", L"当前步骤 20 秒内未结束，不再等待",
          L"程序结束，退出码 2"}},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        WithAnUnletteredEsp(m);
        m.session.holdBackground = true;
        m.session.backgroundOutlastsWait = c.outlastsWait;
        m.Start(L"");
        if (c.duringRepair) {
            m.session.FinishBackground();
            m.repairWindow.partitionText = L"d:";
            m.app.program.OnConfirm();
        }
        EXPECT_TRUE(m.Ends([&] { c.end(m.app.program); })) << c.name;
        EXPECT_EQ(m.exitCode, c.exitCode) << c.name;
        EXPECT_TRUE(m.session.messages.empty()) << c.name;
        // Nothing but the listing and the letters' diskpart ran: a stopped repair starts no tool.
        for (const auto& run : m.ToolRuns()) {
            EXPECT_TRUE(run.starts_with(L"dsptw.exe") || run.starts_with(L"diskpart.exe"))
                << c.name << ": " << run;
        }
        const auto log = m.files.Text(kFolder + L"\\kestrix.log");
        std::size_t at = 0;
        for (const auto* line : c.inOrder) {
            const auto found = log.find(line, at);
            ASSERT_NE(found, std::wstring::npos) << c.name << ": " << line;
            at = found;
        }
        EXPECT_EQ(log.find(L"已收回") == std::wstring::npos, c.outlastsWait) << c.name;
    }
}

TEST_F(Outcome, SilentRunClosesItselfWithTheOutcome) {
    files.Put(L"d:\\boot\\bcd", 100);
    Start(L"-f -n -d d:");
    EXPECT_TRUE(repairWindow.autoCloseArmed);
    EXPECT_TRUE(Ends([&] { app.program.OnAutoCloseTimer(); }));
    EXPECT_EQ(exitCode, 0);
}

TEST_F(Outcome, ARejectedEntryCanBeCorrectedInTheSameRun) {
    files.Put(L"e:\\boot\\bcd", 100);
    Start(L"-f -n -d e");
    EXPECT_EQ(session.messages.at(0).text, L"卷标非法！");
    EXPECT_FALSE(repairWindow.progressShown);
    EXPECT_EQ(app.program.ExitCode(), 2);
    repairWindow.partitionText = L"e:";
    app.program.OnConfirm();
    EXPECT_EQ(repairWindow.log.back(), L"纯引导修复完成！请关闭。");
    EXPECT_EQ(app.program.ExitCode(), 0);
}

}  // namespace
}  // namespace kestrix
