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
    // The store bcdboot leaves is read back: its default entry starts the Windows on e:.
    EXPECT_EQ(repairWindow.log,
              (Lines{kScan6, L"  在 e: [Win7] 发现6.x系统，修复中...",
                     L"    d:\\Boot\\BCD 的默认启动项指向 e:\\Windows", kScan5,
                     L"  在 d: [XP] 发现5.x系统，修复中...", kKeep, L"", kDone}));
    Lines expected{L"bcdboot.exe e:\\windows /l zh-cn /s d:"};
    for (const auto& command : BootMenuStoreCommands(*DriveLetter::Parse(L"d:"))) {
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
    EXPECT_EQ(repairWindow.log, (Lines{kScan6, L"  在 e: 发现6.x系统，修复中...",
                                       L"    d:\\Boot\\BCD 的默认启动项指向 e:\\Windows", kScan5,
                                       L"  在 h: 发现5.x系统，修复中...", kKeep, L"", kDone}));
}

// After bcdboot the store on the boot drive is read back: a default entry that does not start
// the Windows it was made for is a failed step; where Windows cannot say which partition that
// Windows' drive is (a dynamic volume, an image), the check says so and nothing fails.
TEST(BootMenuStore, TheStoreBcdbootLeavesIsCheckedForItsWindows) {
    const std::wstring elsewhere = L"    失败：d:\\Boot\\BCD 的默认启动项没有指向 e:\\Windows";
    const struct {
        const char* name;
        const char* store;
        std::optional<VolumeIdentity> windows;
        std::wstring line;
    } cases[] = {
        {"a Windows PE store", "winpe-mbr-boot.bcd", VolumeIdentity{L"MBR 1A2B3C4D", 105906176, 1, 1},
         elsewhere},
        {"another partition of the disk", "mbr.bcd", VolumeIdentity{L"MBR 1A2B3C4D", 1048576, 1, 1},
         elsewhere},
        {"another disk", "mbr.bcd", VolumeIdentity{L"MBR 0BADF00D", 105906176, 1, 1}, elsewhere},
        {"a default that names nothing", "missing.bcd",
         VolumeIdentity{L"MBR 1A2B3C4D", 105906176, 1, 1}, elsewhere},
        {"the drive's partition cannot be told", "mbr.bcd", VolumeIdentity{L"", 0, 1u << 30, 1},
         L"    无法判断 e: 是哪个分区（动态卷或映像），未核对 d:\\Boot\\BCD 的默认启动项"},
        {"not a store", "", VolumeIdentity{L"MBR 1A2B3C4D", 105906176, 1, 1},
         L"    d:\\Boot\\BCD 无法解读（不是注册表文件，或没有启动配置），未核对其默认启动项"},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        m.InstallInKestrixFolder();
        m.files.drives = {L"d:", L"e:"};
        m.files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
        m.launcher.onSuccess = [&](const LaunchRequest& request) {
            if (testing::FakeLauncher::Name(request) == L"bcdboot.exe") {
                m.files.Put(L"d:\\bootmgr", 400);
                m.files.Put(L"d:\\boot\\bcd", *c.store ? testing::StoreBytes(c.store) : "no hive at all");
                m.files.identities[L"e:"] = c.windows;
            }
        };
        testing::RecordingProgress progress;
        EXPECT_EQ(m.Repair(L"d:", BootPath::Bios, RepairKind::BootMenu, progress),
                  c.line == elsewhere ? RepairOutcome::StepsFailed : RepairOutcome::Succeeded)
            << c.name;
        EXPECT_NE(std::find(progress.lines.begin(), progress.lines.end(), c.line),
                  progress.lines.end())
            << c.name;
    }
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
