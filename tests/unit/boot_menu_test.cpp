#include "app_fixture.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kScan6 = L"正在扫描分区中的6.x系统...";
const std::wstring kScan5 = L"正在扫描分区中的5.x系统...";
const std::wstring kDone = L"引导菜单修复完成！请关闭。";
const std::wstring kKeep = L"    存在Boot.ini保留并继续。";
const std::wstring kBuild = L"    不存在Boot.ini正在建立通用boot.ini ...";

struct BootMenu : testing::AppFixture {
    BootMenu() {
        InstallInKestrixFolder();
    }

    void Repair(const Lines& drives, const std::wstring& bootDrive = L"d:") {
        files.drives = drives;
        repairWindow.partitionText = bootDrive;
        app.program.OnConfirm();
    }

    void Windows6(const std::wstring& drive) { files.Put(drive + L"\\windows\\system32\\slmgr.vbs", 100); }
    void Windows5(const std::wstring& drive) { files.Put(drive + L"\\windows\\regedit.exe", 100); }

    std::vector<std::wstring> Copies() const {
        std::vector<std::wstring> copies;
        for (const auto& e : events) {
            // A file put in place, not the manifest's new version.
            const bool placed =
                e.rfind(L"move:", 0) == 0 && e.find(L".kestrix-new>") != std::wstring::npos;
            if (e.rfind(L"copy:", 0) == 0 || e.rfind(L"attrib:", 0) == 0 || placed) {
                copies.push_back(e);
            }
        }
        return copies;
    }
};

TEST_F(BootMenu, XpWithBootIniAndSevenElsewhere) {
    Windows5(L"d:");
    files.Put(L"d:\\boot.ini", 200);
    Windows6(L"e:");
    Repair({L"c:", L"d: [XP]", L"e: [Win7]"});
    EXPECT_EQ(repairWindow.log, (Lines{kScan6, L"  在 e: [Win7] 发现6.x系统，修复中...", kScan5,
                                    L"  在 d: [XP] 发现5.x系统，修复中...", kKeep, L"", kDone}));
    Lines expected{L"bcdboot.exe e:\\windows /l zh-cn /s d:"};
    for (const auto& command : BootMenuStoreCommands(L"d:")) {
        expected.push_back(command.Line());
    }
    expected.push_back(L"bootsect.exe /nt60 d:");
    EXPECT_EQ(ToolRuns(), expected);
    EXPECT_TRUE(Copies().empty());
    EXPECT_TRUE(repairWindow.autoCloseArmed);
}

TEST_F(BootMenu, AssemblyBranches) {
    struct Case {
        bool six, five;
        Lines runs;
    };
    const Case cases[] = {
        {true, false,
         {L"bcdboot.exe e:\\windows /l zh-cn /s d:", L"bcdedit.exe /store d:\\boot\\bcd /timeout 7",
          L"bootsect.exe /nt60 d:"}},
        {false, true, {L"bootsect.exe /nt52 d:"}},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        auto& window = m.repairWindow;
        if (c.six) {
            m.files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
        }
        if (c.five) {
            m.files.Put(L"e:\\windows\\regedit.exe", 100);
            m.files.Put(L"d:\\boot.ini", 100);
            m.files.Put(L"d:\\ntldr", 100);
        }
        m.files.drives = {L"d:", L"e:"};
        window.partitionText = L"d:";
        m.app.program.OnConfirm();
        EXPECT_EQ(m.ToolRuns(), c.runs) << c.six << c.five;
        EXPECT_EQ(window.log.back(), kDone);
        EXPECT_TRUE(window.autoCloseArmed);
    }
}

// Boot code is written only for a loader that is on the drive; with no installation found, the
// boot files on the drive decide, and with none nothing is written.
TEST_F(BootMenu, BootSectorFollowsTheLoaderThatIsThere) {
    const std::wstring none = L"  未发现任何Windows系统，d: 上也没有引导文件（\\boot\\bcd 或 \\ntldr），不写入任何内容。";
    const std::wstring by6 = L"  未发现任何Windows系统，按 d: 上已有的引导文件重写Win6.x引导扇区。";
    const std::wstring by5 = L"  未发现任何Windows系统，按 d: 上已有的引导文件重写Win5.x引导扇区。";
    const std::wstring nothing = L"引导菜单修复结束，未做任何修改。请关闭。";
    const std::wstring oneFailed = L"引导菜单修复结束，但有 1 个步骤失败！请查看上面的记录。";
    struct Case {
        const char* name;
        Lines filesOnD;
        Lines drives;
        Lines log;
        Lines runs;
        int exitCode;
    };
    const Case cases[] = {
        {"nothing at all", {}, {}, {kScan6, kScan5, none, L"", nothing}, {}, 2},
        {"a store and its boot manager",
         {L"boot\\bcd", L"bootmgr", L"ntldr"},
         {},
         {kScan6, kScan5, by6, L"", kDone},
         {L"bootsect.exe /nt60 d:"},
         0},
        {"ntldr alone", {L"ntldr"}, {}, {kScan6, kScan5, by5, L"", kDone}, {L"bootsect.exe /nt52 d:"}, 0},
        {"a store without its boot manager",
         {L"boot\\bcd"},
         {},
         {kScan6, kScan5, by6, L"  失败：d: 上没有 \\bootmgr，未写入Win6.x引导扇区", L"", oneFailed},
         {},
         1},
        {"XP found, no NTLDR to copy",
         {L"boot.ini"},
         {L"e:"},
         {kScan6, kScan5, L"  在 e: 发现5.x系统，修复中...", kKeep,
          L"  失败：d: 上没有 \\ntldr，未写入Win5.x引导扇区", L"", oneFailed},
         {},
         1},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        m.InstallInKestrixFolder();
        m.files.Put(L"e:\\windows\\regedit.exe", 100);
        for (const auto& name : c.filesOnD) {
            m.files.Put(L"d:\\" + name, 100);
        }
        m.files.drives = c.drives;
        m.repairWindow.partitionText = L"d:";
        m.app.program.OnConfirm();
        EXPECT_EQ(m.repairWindow.log, c.log) << c.name;
        EXPECT_EQ(m.ToolRuns(), c.runs) << c.name;
        EXPECT_EQ(m.app.program.ExitCode(), c.exitCode) << c.name;
        EXPECT_TRUE(m.repairWindow.autoCloseArmed) << c.name;
    }
}

TEST_F(BootMenu, MarkerThresholds) {
    // slmgr.vbs without regedit.exe: 6.x only. A 5-byte slmgr.vbs beside regedit.exe: neither.
    files.Put(L"e:\\windows\\system32\\slmgr.vbs", 6);
    files.Put(L"f:\\windows\\regedit.exe", 6);
    files.Put(L"f:\\windows\\system32\\slmgr.vbs", 5);
    files.Put(L"g:\\windows\\regedit.exe", 5);
    files.Put(L"h:\\windows\\regedit.exe", 6);
    files.Put(L"h:\\windows\\system32\\slmgr.vbs", 4);
    files.Put(L"d:\\boot.ini", 6);
    Repair({L"d:", L"e:", L"f:", L"g:", L"h:"});
    EXPECT_EQ(repairWindow.log, (Lines{kScan6, L"  在 e: 发现6.x系统，修复中...", kScan5,
                                    L"  在 h: 发现5.x系统，修复中...", kKeep, L"", kDone}));
}

TEST_F(BootMenu, TwoXpInstallationsCopyTheLoaderSetOnce) {
    Windows5(L"e:");
    Windows5(L"f:");
    files.Put(L"d:\\boot.ini", 5);
    Repair({L"d:", L"e:", L"f:"});
    EXPECT_EQ(repairWindow.log,
              (Lines{kScan6, kScan5, L"  在 e: 发现5.x系统，修复中...", kBuild,
                     L"  在 f: 发现5.x系统，修复中...", kKeep, L"", kDone}));
    // The 5-byte boot.ini is saved before it is replaced. Each file is copied beside its place,
    // made plain so that it can be flushed, and moved over the old one, whose attributes are
    // cleared first.
    const auto placed = [](const std::wstring& name, bool existed) {
        const auto temporary = L"d:\\" + name + L".kestrix-new";
        Lines steps{L"copy:C:\\kestrix\\" + name + L">" + temporary, L"attrib:" + temporary};
        if (existed) {
            steps.push_back(L"attrib:d:\\" + name);
        }
        steps.push_back(L"move:" + temporary + L">d:\\" + name);
        return steps;
    };
    Lines expected{L"copy:d:\\boot.ini>C:\\kestrix\\kestrix-20261207-103026\\d\\boot.ini",
                   L"attrib:C:\\kestrix\\kestrix-20261207-103026\\d\\boot.ini"};
    for (const auto& [name, existed] :
         {std::pair{L"boot.ini", true}, std::pair{L"BOOTFONT.BIN", false},
          std::pair{L"NTLDR", false}, std::pair{L"NTDETECT.COM", false}}) {
        const auto steps = placed(name, existed);
        expected.insert(expected.end(), steps.begin(), steps.end());
    }
    EXPECT_EQ(Copies(), expected);
    EXPECT_EQ(ToolRuns(), Lines{L"bootsect.exe /nt52 d:"});
}

TEST_F(BootMenu, ProgramInADriveRootJoinsWithOneBackslash) {
    files.ownFolder = L"C:\\";
    files.Put(L"C:\\boot.ini", 100);
    Windows5(L"e:");
    Repair({L"e:"});
    EXPECT_EQ(Copies().at(0), L"copy:C:\\boot.ini>d:\\boot.ini.kestrix-new");
}

TEST_F(BootMenu, TheBootDriveItselfHoldingVista) {
    Windows6(L"d:");
    Repair({L"c:", L"d:"});
    EXPECT_EQ(ToolRuns().front(), L"bcdboot.exe d:\\windows /l zh-cn /s d:");
}

TEST_F(BootMenu, ACloseBetweenStepsEndsTheRepairThere) {
    Windows6(L"e:");
    int rounds = 0;
    session.answers = {MessageAnswer::Yes};
    session.onWindowThread = [&] {
        if (++rounds == 2) {
            app.program.OnCloseRequest();
        }
    };
    EXPECT_TRUE(Ends([&] { Repair({L"e:"}); }));
    EXPECT_EQ(repairWindow.log, (Lines{kScan6, L"  在 e: 发现6.x系统，修复中..."}));
    EXPECT_TRUE(launcher.requests.empty());
}

}  // namespace
}  // namespace kestrix
