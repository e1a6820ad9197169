// The diagnosis: its planning seams and the job alone, over the simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <tuple>

#include "app_fixture.h"
#include "diagnosis/diagnosis_job.h"
#include "diagnosis/planning.h"
#include "installed/windows_version.h"
#include "load_options.h"
#include "pe_image.h"
#include "platform/text.h"
#include "signed_binaries.h"
#include "stores.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;

struct NoWait final : LaunchProgress {
    void StillRunning(int) override {}
};

// Everything the fake disk holds, to compare before and after.
auto Snapshot(const testing::FakeFileSystem& disk) {
    return std::make_tuple(disk.files, disk.folders, disk.attributes, disk.volumes);
}

TEST(PlanningSeams, WritesStayInThePlanAndLaterReadsSeeThem) {
    testing::Events events;
    testing::FakeFileSystem disk{events};
    disk.Put(L"C:\\tools\\NTLDR", 200);
    disk.Put(L"d:\\ntldr", 100);
    disk.Protect(L"d:\\ntldr");
    disk.volumes[L"d:"] = std::string(8192, 'd');
    const auto before = Snapshot(disk);
    Lines notes;
    const PlanNote note = [&](const std::wstring& line) { notes.push_back(line); };
    PlanningFiles files(disk, note);
    PlanningVolumes volumes(disk, note);

    // Windows' refusals: a read-only target, a missing folder, a folder that exists.
    EXPECT_EQ(files.CopyFileOver(L"C:\\tools\\NTLDR", L"d:\\ntldr").error, 5u);
    EXPECT_EQ(files.CopyFileOver(L"C:\\tools\\NTLDR", L"d:\\run\\d\\ntldr").error, 3u);
    EXPECT_TRUE(files.CreateFolder(L"d:\\run"));
    EXPECT_EQ(files.CreateFolder(L"d:\\run").error, 183u);

    EXPECT_TRUE(files.CopyFileOver(L"d:\\ntldr", L"d:\\run\\ntldr"));
    EXPECT_TRUE(files.SetNormalAttributes(L"d:\\ntldr"));
    EXPECT_TRUE(files.CopyFileOver(L"C:\\tools\\NTLDR", L"d:\\ntldr"));
    EXPECT_TRUE(files.WriteNewFile(L"d:\\run\\log.txt", "a"));
    EXPECT_TRUE(files.AppendToFile(L"d:\\run\\log.txt", "b"));
    EXPECT_TRUE(files.MoveFileOver(L"d:\\run\\log.txt", L"d:\\run\\moved.txt"));
    EXPECT_TRUE(volumes.WriteVolumeStart(*DriveLetter::Parse(L"d:"), std::string(512, 'n')));

    // Nothing reached the disk; every read of the plan sees what it planned.
    EXPECT_EQ(Snapshot(disk), before);
    EXPECT_EQ(files.FileLength(L"d:\\ntldr"), 200);
    EXPECT_EQ(files.Attributes(L"d:\\ntldr"), 0u);
    EXPECT_EQ(files.Attributes(L"d:\\run\\ntldr"),
              kAttributeReadOnly | kAttributeHidden | kAttributeSystem);
    std::string bytes;
    EXPECT_TRUE(files.ReadWholeFile(L"D:\\RUN\\MOVED.TXT", bytes));
    EXPECT_EQ(bytes, "ab");
    EXPECT_FALSE(files.FileLength(L"d:\\run\\log.txt"));
    std::vector<FolderEntry> entries;
    EXPECT_TRUE(files.ListFolder(L"d:\\", entries));
    Lines names;
    for (const auto& entry : entries) {
        names.push_back(entry.name + (entry.isFolder ? L"\\" : L""));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines{L"ntldr", L"run\\"}));
    EXPECT_TRUE(volumes.ReadVolumeStart(*DriveLetter::Parse(L"d:"), 1024, bytes));
    EXPECT_EQ(bytes, std::string(512, 'n') + std::string(512, 'd'));
    EXPECT_EQ(notes, (Lines{L"新建目录：d:\\run", L"复制：d:\\ntldr → d:\\run\\ntldr",
                            L"改属性：d:\\ntldr", L"复制：C:\\tools\\NTLDR → d:\\ntldr",
                            L"写入：d:\\run\\log.txt", L"写入：d:\\run\\moved.txt",
                            L"写入：d: 卷的前 512 字节"}));
}

// A command carries what its tool is documented to create (bcdboot by the firmware it builds
// for, bcdedit the store it exports to a path that may hold spaces); the planning launcher notes
// the run and places those files, and nothing runs.
TEST(PlanningSeams, ToolsAreNotedAndLeaveTheirDocumentedFiles) {
    const Lines bios{L"d:\\bootmgr", L"d:\\Boot\\BCD"};
    const Lines uefi{L"d:\\EFI\\Microsoft\\Boot\\BCD", L"d:\\EFI\\Microsoft\\Boot\\bootmgfw.efi",
                     L"d:\\EFI\\Boot\\bootx64.efi"};
    const std::wstring exported = L"C:\\my tools\\d\\BCD";
    const struct {
        ToolCommand command;
        Lines present;
    } cases[] = {
        {BootFilesCommand(*DriveLetter::Parse(L"c:"), *DriveLetter::Parse(L"d:")), bios},
        {BootFilesCommand(*DriveLetter::Parse(L"c:"), *DriveLetter::Parse(L"d:"),
                          BootFilesFor::Bios),
         bios},
        {BootFilesCommand(*DriveLetter::Parse(L"c:"), *DriveLetter::Parse(L"d:"),
                          BootFilesFor::Uefi, BootManagerSource::Updated),
         uefi},
        {StoreExportCommand(exported), {exported}},
        {BootSectorCommand(WindowsGeneration::Nt6, *DriveLetter::Parse(L"d:")), {}},
    };
    for (const auto& c : cases) {
        testing::Events events;
        testing::FakeFileSystem disk{events};
        Lines notes;
        PlanningFiles files(disk, [&](const std::wstring& line) { notes.push_back(line); });
        PlanningLauncher launcher(files, [&](const std::wstring& line) { notes.push_back(line); });
        const auto program = L"C:\\Windows\\System32\\" + c.command.tool;
        NoWait waiting;
        const LaunchRequest request{program, c.command.arguments, OutputCodePage::Oem,
                                    c.command.leaves};
        const auto result = launcher.Launch(request, waiting);
        EXPECT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(notes, Lines{L"运行：" + program + L" " + request.Parameters()});
        for (const auto& path : {bios, uefi, Lines{exported}}) {
            for (const auto& file : path) {
                const bool expected =
                    std::find(c.present.begin(), c.present.end(), file) != c.present.end();
                EXPECT_EQ(IsPresent(files, file), expected)
                    << ToUtf8(c.command.Line()) << ": " << ToUtf8(file);
            }
        }
        EXPECT_TRUE(disk.files.empty());
    }
}

// A machine as the demo has it: the listing, the drives, Windows on some of them.
struct DiagnosisMachine : testing::Machine {
    DiagnosisMachine() {
        InstallInKestrixFolder();
        files.drives = {L"c: [SYS]", L"d: [BOOT]", L"e:"};
        launcher.outputs[ListingCommand(0).Line()] =
            L"1 C: mbr 07 NTFS SYS no 1 20481 20480 MB\r\n"
            L"2 D: mbr 07 NTFS BOOT yes 20481 20581 100 MB\r\n";
        launcher.outputs[ListingCommand(1).Line()] = L"open disk error!\r\n";
    }

    // The diagnosis alone, recorded.
    RepairOutcome Diagnose(DiagnosisRequest request, testing::RecordingProgress& progress) {
        app.diagnosis.Prepare(request);
        return app.diagnosis.Run(progress);
    }

    // The tool runs from the n-th on, as the diagnosis notes them.
    Lines PlannedRuns(std::size_t from) const {
        Lines runs;
        for (std::size_t i = from; i < launcher.requests.size(); ++i) {
            runs.push_back(L"    → 运行：" + launcher.requests[i].program + L" " +
                           launcher.requests[i].Parameters());
        }
        return runs;
    }
};

// A real kernel with a version resource: Wine's.
std::string WineKernel() {
    std::ifstream file("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/ntoskrnl.exe",
                       std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

Lines Only(const Lines& lines, std::wstring_view start) {
    Lines kept;
    for (const auto& line : lines) {
        if (line.starts_with(start)) {
            kept.push_back(line);
        }
    }
    return kept;
}

bool Holds(const Lines& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// For a few machines: what the report holds, and that its plan runs exactly the tools that the
// repair then runs, step for step, while the diagnosis itself writes nothing but its report.
TEST(DiagnosisJobAlone, ReportsTheMachineAndPlansWhatTheRepairThenDoes) {
    const auto kernel = WineKernel();
    ASSERT_FALSE(kernel.empty()) << "Wine's kernel is missing";
    const auto seven = NameWindowsVersion({6, 1, 7601, 21863}, kMachineX64).name;
    struct Case {
        const char* name;
        std::function<void(DiagnosisMachine&)> setUp;
        DiagnosisRequest request;
        const wchar_t* target;
        BootPath path;
        Lines holds;
    };
    const auto heldHive = testing::StoreBytes("winpe-mbr-boot.bcd");
    const Case cases[] = {
        {"vista-or-later and xp",
         [&](DiagnosisMachine& m) {
             m.files.Put(L"c:\\windows\\system32\\slmgr.vbs", 100);
             m.files.files[L"c:\\windows\\system32\\ntoskrnl.exe"] = kernel;
             m.files.files[L"c:\\hiberfil.sys"] = "HIBR" + std::string(4092, '\0');
             m.files.disks[0] = std::string(4096, '\0');
             m.files.Put(L"e:\\windows\\regedit.exe", 100);
             m.files.Put(L"d:\\boot.ini", 0);
             m.files.files[L"d:\\boot.ini"] = "[boot loader]\r\ntimeout=30\r\n";
         },
         {},
         L"d:",
         BootPath::Bios,
         {L"== 本机 ==", L"启动方式：BIOS（传统）", L"正在运行的 Windows：" + seven,
          L"安全启动（Secure Boot）：未知",
          L"  固件 dbx：无法读取",
          L"磁盘 0（MBR）：", L"  主引导代码：无主引导代码（全为零）",
          L"  分区 2：活动，类型 07，100 MB，D:，NTFS，卷标 BOOT", L"d: [BOOT]：",
          L"  \\boot.ini  27 字节", L"    | timeout=30", L"e:：", L"  没有引导文件",
          L"c: [SYS]：Windows 6.x（Vista 及以后），" + seven,
          L"  已休眠（或快速启动）：修复后请完全关机，不要从休眠恢复", L"e:：Windows 5.x（XP/2003）",
          L"修复 d:，引导菜单修复：", L"    → 新建目录：C:\\kestrix\\kestrix-20261207-103026",
          L"    在 c: [SYS] 发现6.x系统（Windows 7，版本 7601），修复中...",
          L"      警告：已休眠（或快速启动）：修复后请完全关机，不要从休眠恢复",
          L"    在 e: 发现5.x系统，修复中...",
          L"    → 写入：C:\\kestrix\\kestrix-20261207-103026\\volume-d-first8k.bin"}},
        {"an EFI system partition, named",
         [](DiagnosisMachine& m) {
             m.files.firmware = Firmware::Uefi;
             m.files.efiSystem = {L"e:"};
             m.files.Put(L"c:\\windows\\system32\\slmgr.vbs", 100);
         },
         {DriveLetter::Parse(L"e:"), RepairKind::BootMenu},
         L"e:",
         BootPath::Uefi,
         {L"启动方式：UEFI", L"正在运行的 Windows：无法识别（读不到 ntoskrnl.exe 的版本）",
          L"安全启动（Secure Boot）：关闭", L"  固件 db：证书 无，哈希 0 个",
          L"  主引导代码：无法读取（错误 2：error 2）", L"修复 e:（UEFI），引导菜单修复：",
          L"    → 新建目录：e:\\EFI\\Microsoft\\Boot"}},
        {"an EFI system partition's store and loaders",
         [&](DiagnosisMachine& m) {
             m.files.firmware = Firmware::Uefi;
             m.files.efiSystem = {L"e:"};
             m.files.Put(L"c:\\windows\\system32\\slmgr.vbs", 100);
             // A store that is no hive, a fallback loader without a version signed under two
             // look-alike CAs, a manager with a version and no signature.
             m.files.Put(L"e:\\EFI\\Microsoft\\Boot\\BCD", 100);
             m.files.files[L"e:\\efi\\microsoft\\boot\\bootmgfw.efi"] = kernel;
             m.files.files[L"e:\\efi\\boot\\bootia32.efi"] = testing::Made().twoSigned;
         },
         {DriveLetter::Parse(L"e:"), RepairKind::BootMenu},
         L"e:",
         BootPath::Uefi,
         {L"    无法解读：不是注册表文件，或已损坏",
          L"  \\EFI\\Microsoft\\Boot\\bootmgfw.efi  " +
              DecimalText(static_cast<long long>(kernel.size())) + L" 字节",
          L"    版本：6.1.7601.21863", L"    签名：无签名", L"    固件判定：拒绝（未签名）",
          L"  \\EFI\\Boot\\bootia32.efi  " +
              DecimalText(static_cast<long long>(testing::Made().twoSigned.size())) + L" 字节",
          L"    版本：没有版本信息",
          L"    签名：Microsoft Windows（Windows UEFI CA 2023 颁发）；Microsoft Windows（Microsoft "
          L"Windows Production PCA 2011 颁发）",
          L"    固件判定：拒绝（签名者不在 db 中）"}},
        {"the store that the running Windows holds is read from the registry, exported first",
         [&](DiagnosisMachine& m) {
             m.files.Put(L"c:\\windows\\system32\\slmgr.vbs", 100);
             m.files.Put(L"d:\\bootmgr", 300);
             m.files.Put(L"d:\\boot\\bcd", 200);
             m.files.held = {L"d:\\boot\\bcd"};
             m.files.heldHive = heldHive;
             m.files.Put(L"d:\\sources\\boot.wim", 300);
             m.files.systemStore = L"d:\\boot\\bcd";
             m.launcher.onLaunch = [&m](const LaunchRequest& request) {
                 if (request.Parameters().starts_with(L"/export ")) {
                     m.files.Put(request.Parameters().substr(9, request.Parameters().size() - 10),
                                 200);
                 }
             };
         },
         {},
         L"d:",
         BootPath::Bios,
         {L"  \\boot\\bcd  200 字节",
          L"    （正在运行的 Windows 加载的存储，从注册表 HKLM\\BCD00000000 读取）",
          L"    {bootmgr}（Windows 启动管理器）：Windows Boot Manager",
          L"      默认：{7619dcc9-fafe-11d9-b411-000476eba25f}（WinPE）", L"      显示顺序：1 项",
          L"      超时：30 秒",
          L"    {7619dcc9-fafe-11d9-b411-000476eba25f}（Windows 启动加载器）：WinPE",
          L"      device：内存盘，映像在 启动设备（存储所在的 d:），\\sources\\boot.wim 存在",
          L"      osdevice：内存盘，映像在 启动设备（存储所在的 d:），\\sources\\boot.wim 存在",
          L"    {memdiag}（内存诊断）：Windows Memory Diagnostic",
          L"      device：启动设备（存储所在的 d:），\\boot\\memtest.exe 不存在",
          L"    发现：{memdiag}（Windows Memory Diagnostic）的 \\boot\\memtest.exe 在 d: 上不存在",
          L"    → 复制：d:\\bootmgr → C:\\kestrix\\kestrix-20261207-103026\\d\\bootmgr",
          L"    → 运行：C:\\Windows\\System32\\bcdedit.exe /export "
          L"\"C:\\kestrix\\kestrix-20261207-103026\\d\\Boot\\bcd\""}},
        {"boot sector only, no boot files: the question is named",
         [](DiagnosisMachine&) {},
         {DriveLetter::Parse(L"d:"), RepairKind::BootSectorOnly},
         L"d:",
         BootPath::Bios,
         {L"没有发现已安装的 Windows", L"修复 d:，只修复引导：",
          L"  ？这里会询问用户：未检测出有效的引导文件，请手工选择引导方案： "
          L"点“是”建立Win6.x引导。 点“否”建立Win5.x引导。（诊断不作回答，计划到此为止）",
          L"  计划结果：修复要等用户回答上面的问题"}},
    };
    for (const auto& c : cases) {
        DiagnosisMachine m;
        c.setUp(m);
        const auto before = Snapshot(m.files);
        testing::RecordingProgress progress;
        EXPECT_EQ(m.Diagnose(c.request, progress), RepairOutcome::Succeeded) << c.name;
        const auto report = L"C:\\kestrix\\kestrix-report-20261207-103026.txt";
        for (const auto& line : c.holds) {
            EXPECT_TRUE(Holds(progress.lines, line)) << c.name << ": " << ToUtf8(line);
        }
        // The report file holds the window's lines, but for the line that names it.
        auto saved = SplitLines(m.files.Text(report));
        saved.front().erase(0, 1);
        EXPECT_EQ(saved, Lines(progress.lines.begin(), progress.lines.end() - 2)) << c.name;
        m.files.files.erase(ToLower(report));
        EXPECT_EQ(Snapshot(m.files), before) << c.name;
        EXPECT_TRUE(progress.questions.empty()) << c.name;
        // The lister, which only reads, is the only tool that ran.
        const auto listed = m.launcher.requests.size();
        ASSERT_EQ(listed, 1u) << c.name;
        EXPECT_EQ(m.launcher.requests.front().Parameters(), L"/all") << c.name;

        const auto planned = Only(progress.lines, L"    → 运行：");
        testing::RecordingProgress repaired;
        m.Repair(c.target, c.path, c.request.kind, repaired);
        EXPECT_EQ(planned, m.PlannedRuns(listed)) << c.name;
    }
}

TEST(DiagnosisJobAlone, CandidatesAreThoseTheScanOffersAndNothingReadableIsTold) {
    DiagnosisMachine m;
    m.files.media[L"e:"] = DriveMedia::Usb;
    m.launcher.outputs[ListingCommand(0).Line()] +=
        L"3 E: mbr 0c FAT32 STICK yes 1 2 1 MB\r\n4 - gpt efi-system - - no 1 101 100 MB\r\n";
    testing::RecordingProgress progress;
    EXPECT_EQ(m.Diagnose({}, progress), RepairOutcome::Succeeded);
    EXPECT_TRUE(Holds(progress.lines,
                      L"  分区 3：活动，类型 0c，1 MB，E:，FAT32，卷标 STICK（可移动介质，修复不会自动选它）"));
    EXPECT_TRUE(Holds(progress.lines,
                      L"  分区 4：类型 efi-system，100 MB，无盘符（没有盘符的EFI系统分区：修复时会临时分配盘符，诊断不分配）"));
    EXPECT_EQ(Only(progress.lines, L"修复 "), Lines{L"修复 d:，引导菜单修复："});

    // No drive, no listing tool: nothing could be read. The report still goes to the temporary
    // folder when the program's folder refuses it.
    DiagnosisMachine bare;
    bare.files.drives.clear();
    bare.files.files.erase(ToLower(bare.files.systemFolder + L"\\dsptw.exe"));
    bare.files.readOnly = {L"c:\\kestrix"};
    testing::RecordingProgress nothing;
    EXPECT_EQ(bare.Diagnose({}, nothing), RepairOutcome::NothingWritten);
    EXPECT_EQ(bare.app.diagnosis.ReportPath(), L"C:\\temp\\kestrix-report-20261207-103026.txt");
    EXPECT_TRUE(Holds(nothing.lines, L"没有候选分区：修复时要用 -d X: 指定分区"));
}

// A second report in the same second gets a name of its own, as run folders do: none replaces
// another, where the program's folder takes it and where the temporary folder does.
TEST(DiagnosisJobAlone, ReportsInTheSameSecondGetNamesOfTheirOwn) {
    const struct {
        const char* name;
        bool ownFolderWritable;
        std::wstring folder;
    } cases[] = {{"beside the program", true, L"C:\\kestrix\\"},
                 {"in the temporary folder", false, L"C:\\temp\\"}};
    for (const auto& c : cases) {
        DiagnosisMachine m;
        if (!c.ownFolderWritable) {
            m.files.readOnly = {L"c:\\kestrix"};
        }
        Lines paths;
        for (int run = 0; run < 3; ++run) {
            testing::RecordingProgress progress;
            m.Diagnose({}, progress);
            paths.push_back(m.app.diagnosis.ReportPath());
            m.files.files[ToLower(paths.back())] = "report " + std::to_string(run);
        }
        const auto stem = c.folder + L"kestrix-report-20261207-103026";
        EXPECT_EQ(paths, (Lines{stem + L".txt", stem + L"-2.txt", stem + L"-3.txt"})) << c.name;
        EXPECT_EQ(m.files.files.at(ToLower(stem + L".txt")), "report 0") << c.name;
    }
}

// Under UEFI, the firmware's boot entries in the order it tries them, each with where its loader
// is and whether that partition and file are there.
TEST(DiagnosisJobAlone, FirmwareEntriesSayWhereEachLoaderIs) {
    using testing::FileNode;
    using testing::HardDriveNode;
    using testing::kEndOfPath;
    using testing::kEspGuid;
    using testing::LoadOptionBytes;
    DiagnosisMachine m;
    m.files.firmware = Firmware::Uefi;
    const std::string gone(16, 'g');
    const std::string unlettered(16, 'u');
    m.files.partitionIds[kEspGuid] = {{0, 1}, DriveLetter::Parse(L"s:")};
    m.files.partitionIds[unlettered] = {{1, 2}, std::nullopt};
    m.files.Put(L"s:\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 100);
    const auto bootmgfw = FileNode(u"\\EFI\\Microsoft\\Boot\\bootmgfw.efi");
    const auto variable = [&](const wchar_t* name) -> std::string& {
        return m.files.variables[{name, kGlobalVariables}];
    };
    variable(L"BootOrder") = testing::LeBytes(0x00070006000A0003, 8) +
                             testing::LeBytes(0x0002000100000004, 8) + testing::LeBytes(5, 2);
    variable(L"Boot0003") = LoadOptionBytes(
        1, u"Windows Boot Manager", HardDriveNode(1, kEspGuid, 2) + bootmgfw + kEndOfPath);
    variable(L"Boot000A") = LoadOptionBytes(
        0, u"debian", HardDriveNode(1, kEspGuid, 2) + FileNode(u"\\EFI\\debian\\shimx64.efi"));
    variable(L"Boot0006") = LoadOptionBytes(1, u"old disk", HardDriveNode(1, gone, 2) + bootmgfw);
    variable(L"Boot0007") = LoadOptionBytes(1, u"second disk", HardDriveNode(2, unlettered, 2));
    variable(L"Boot0004") = LoadOptionBytes(1, u"UiApp", testing::PathNode(4, 6, gone));
    variable(L"Boot0000") = "xx";
    m.files.variableErrors[{L"Boot0001", kGlobalVariables}] = 5;
    variable(L"Boot0002") = LoadOptionBytes(1, u"mbr", HardDriveNode(1, "\x4d\x3c\x2b\x1a", 1));
    variable(L"Boot0005") = LoadOptionBytes(1, u"PXE", testing::PathNode(3, 11, "mac"));

    testing::RecordingProgress progress;
    EXPECT_EQ(m.Diagnose({}, progress), RepairOutcome::Succeeded);
    const auto first = std::find(progress.lines.begin(), progress.lines.end(), L"== 固件启动项 ==");
    ASSERT_NE(first, progress.lines.end());
    const Lines section(first + 1, std::find(first, progress.lines.end(), L""));
    const std::wstring esp = L"GPT 分区 {C12A7328-F81F-11D2-BA4B-00A0C93EC93B}";
    EXPECT_EQ(section,
              (Lines{L"Boot0003：Windows Boot Manager",
                     L"  " + esp + L" 上的 \\EFI\\Microsoft\\Boot\\bootmgfw.efi（磁盘 0 分区 1，s:）",
                     L"Boot000A（未启用）：debian",
                     L"  " + esp + L" 上的 \\EFI\\debian\\shimx64.efi——s: 上没有这个文件",
                     L"Boot0006：old disk",
                     L"  GPT 分区 {67676767-6767-6767-6767-676767676767} 上的 "
                     L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi——找不到这个分区",
                     L"Boot0007：second disk",
                     L"  GPT 分区 {75757575-7575-7575-7575-757575757575}（磁盘 1 分区 2，没有盘符，未检查文件）",
                     L"Boot0004：UiApp", L"  固件内置程序", L"Boot0000：无法解读（2 字节）",
                     L"Boot0001：无法读取（错误 5）", L"Boot0002：mbr",
                     L"  MBR 磁盘 1A2B3C4D 的分区 1（未核对）", L"Boot0005：PXE",
                     L"  其他设备（不是硬盘分区）"}));

    // Started through BIOS, there are none to read.
    DiagnosisMachine bios;
    testing::RecordingProgress told;
    bios.Diagnose({}, told);
    EXPECT_TRUE(Holds(told.lines, L"本机不是以UEFI方式启动的：没有固件启动项可读"));
}

// "-u -i": the run ends by itself with the diagnosis' code, and writes no log to any disk.
TEST(DiagnosisProgram, UnattendedEndsWithItsCodeAndWritesOnlyTheReport) {
    DiagnosisMachine m;
    m.files.Put(L"c:\\windows\\system32\\slmgr.vbs", 100);
    const auto before = Snapshot(m.files);
    EXPECT_TRUE(m.Start(L"-u -i"));
    EXPECT_EQ(m.exitCode, 0);
    EXPECT_TRUE(m.repairWindow.progressShown);
    EXPECT_TRUE(Holds(m.repairWindow.log, L"== 修复计划 =="));
    m.files.files.erase(L"c:\\kestrix\\kestrix-report-20261207-103026.txt");
    EXPECT_EQ(Snapshot(m.files), before);

    DiagnosisMachine wrong;
    EXPECT_TRUE(wrong.Start(L"-u -i -d 7"));
    EXPECT_EQ(wrong.exitCode, 2);
}

// In the window: no end of the session is held, the saved report is shown whole in the system's
// Notepad (the window cuts long lines) and the log says where it is either way, the confirm button
// closes the finished run, and a close stops it at once without the repair's question, saving no
// report.
TEST(DiagnosisProgram, InTheWindowItEndsAsItReadsOnly) {
    const std::wstring report = L"C:\\kestrix\\kestrix-report-20261207-103026.txt";
    const std::wstring notepad = L"C:\\Windows\\System32\\notepad.exe";
    DiagnosisMachine done;
    EXPECT_FALSE(done.Start(L"-i"));
    EXPECT_FALSE(done.session.sessionEndBlock);
    EXPECT_TRUE(done.repairWindow.confirmEnabled);
    EXPECT_EQ(done.repairWindow.log.back(), L"已在记事本中打开报告：" + report);
    EXPECT_TRUE(Holds(done.events, L"show:" + notepad + L"|" + report));
    EXPECT_TRUE(done.Ends([&] { done.app.program.OnConfirm(); }));
    EXPECT_EQ(done.exitCode, 0);

    DiagnosisMachine noNotepad;
    noNotepad.session.showFailure = 2;
    EXPECT_FALSE(noNotepad.Start(L"-i"));
    EXPECT_EQ(noNotepad.repairWindow.log.back(),
              L"无法启动记事本 " + notepad + L"（错误 2），报告在：" + report);

    // Unattended, nothing is shown.
    DiagnosisMachine unattended;
    EXPECT_TRUE(unattended.Start(L"-u -i"));
    for (const auto& event : unattended.events) {
        EXPECT_FALSE(event.starts_with(L"show:"));
    }

    DiagnosisMachine closed;
    bool asked = false;
    closed.session.onWindowThread = [&] {
        if (!asked) {
            asked = true;
            EXPECT_TRUE(closed.app.program.OnQueryEndSession());
            closed.app.program.OnCloseRequest();
        }
    };
    EXPECT_TRUE(closed.Start(L"-i"));
    EXPECT_EQ(closed.exitCode, 1);
    EXPECT_TRUE(closed.session.messages.empty());
    EXPECT_TRUE(closed.app.diagnosis.ReportPath().empty());
}


// Each entry of a store read by the program itself, named where it points on this PC: a real
// Windows 10 store on an ESP whose Windows partition is gone (the disk was replaced), and a
// damaged one.
TEST(DiagnosisJobAlone, StoreEntriesAreNamedOnThisPc) {
    DiagnosisMachine m;
    m.files.files[L"s:\\efi\\microsoft\\boot\\bcd"] = testing::StoreBytes("windows10-uefi-gpt.bcd");
    m.files.drives.push_back(L"s:");
    // The store's ESP is here; its Windows partition and the recovery partition are not.
    const std::string esp("\x9c\xb8\x6a\x1c\xbf\xbc\xbe\x4a\x85\x93\x61\x8e\x4d\x2f\x58\x11", 16);
    m.files.partitionIds[esp] = {{0, 1}, DriveLetter::Parse(L"s:")};
    m.files.Put(L"s:\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 100);
    m.files.files[L"d:\\boot\\bcd"] = testing::StoreBytes("winpe-mbr-boot.bcd").substr(0, 5000);
    testing::RecordingProgress progress;
    EXPECT_EQ(m.Diagnose({}, progress), RepairOutcome::Succeeded);
    const Lines expected[] = {
        {L"    无法解读：不是注册表文件，或已损坏"},
        {L"    {bootmgr}（Windows 启动管理器）：Windows Boot Manager",
         L"      默认：{e018a2d0-b134-11ea-95b2-81f0ac71b75b}（Windows 10）",
         L"      显示顺序：1 项", L"      超时：3 秒",
         L"      device：磁盘 0 分区 1（s:），\\EFI\\Microsoft\\Boot\\bootmgfw.efi 存在"},
        {L"    {e018a2d0-b134-11ea-95b2-81f0ac71b75b}（Windows 启动加载器）：Windows 10",
         L"      device：找不到这个分区（GPT 磁盘 {5541E87D-91A5-4F2B-AD43-A0345C199E9B} 分区 "
         L"{9D4A7CB0-AB9D-4D71-961F-50F1D9C9252F}）",
         L"      osdevice：找不到这个分区（GPT 磁盘 {5541E87D-91A5-4F2B-AD43-A0345C199E9B} 分区 "
         L"{9D4A7CB0-AB9D-4D71-961F-50F1D9C9252F}）"},
        {L"    {memdiag}（内存诊断）：Windows Memory Diagnostic",
         L"      device：磁盘 0 分区 1（s:），\\EFI\\Microsoft\\Boot\\memtest.efi 不存在"},
        {L"    发现：{e018a2d0-b134-11ea-95b2-81f0ac71b75b}（Windows "
         L"10）指向的分区在本机找不到：硬盘可能"
         L"被克隆、更换或重新分区过。引导菜单修复会重建启动项"},
        {L"    发现：{memdiag}（Windows Memory Diagnostic）的 \\EFI\\Microsoft\\Boot\\memtest.efi "
         L"在 s: "
         L"上不存在"},
    };
    for (const auto& run : expected) {
        const auto at =
            std::search(progress.lines.begin(), progress.lines.end(), run.begin(), run.end());
        EXPECT_NE(at, progress.lines.end()) << ToUtf8(run.front());
    }

    // A store naming MBR partitions by disk signature and offset: the boot manager's is not
    // among the lettered partitions, the Windows 7 loader's is c:, partition 2 of disk 0.
    DiagnosisMachine mbr;
    mbr.files.files[L"d:\\boot\\bcd"] = testing::StoreBytes("mbr.bcd");
    const VolumeIdentity system{L"MBR 1A2B3C4D", 105906176, 1u << 30, 1};
    mbr.files.identities[L"c:"] = system;
    mbr.files.partitions.push_back({system, {0, 2}});
    mbr.files.Put(L"c:\\Windows\\system32\\winload.exe", 100);
    testing::RecordingProgress named;
    EXPECT_EQ(mbr.Diagnose({}, named), RepairOutcome::Succeeded);
    const Lines run{
        L"    {bootmgr}（Windows 启动管理器）：Windows Boot Manager",
        L"      默认：{e2a1b3c4-0000-4000-8000-000000000001}（Windows 7）",
        L"      显示顺序：1 项",
        L"      超时：30 秒",
        L"      device：找不到这个分区（MBR 磁盘 1A2B3C4D 偏移 1048576 字节，或它没有盘符）",
        L"    {e2a1b3c4-0000-4000-8000-000000000001}（Windows 启动加载器）：Windows 7",
        L"      device：磁盘 0 分区 2（c:），\\Windows\\system32\\winload.exe 存在",
        L"      osdevice：磁盘 0 分区 2（c:），\\Windows 存在"};
    EXPECT_NE(std::search(named.lines.begin(), named.lines.end(), run.begin(), run.end()),
              named.lines.end());
    // A default that names nothing and an empty display order; a store not written to its end.
    DiagnosisMachine wrong;
    wrong.files.files[L"d:\\boot\\bcd"] = testing::StoreBytes("missing.bcd");
    wrong.files.files[L"e:\\boot\\bcd"] = testing::StoreBytes("dirty.bcd");
    testing::RecordingProgress findings;
    EXPECT_EQ(wrong.Diagnose({}, findings), RepairOutcome::Succeeded);
    for (const auto& line :
         {L"      默认：{e2a1b3c4-0000-4000-8000-00000000dead}——存储中没有这个对象",
          L"      显示顺序：0 项",
          L"    发现：默认启动项 {e2a1b3c4-0000-4000-8000-00000000dead} 在存储中不存在：启动管理器不知道该启动哪一个",
          L"    发现：显示顺序是空的：启动菜单上没有任何一项",
          L"    发现：该存储没有完整写入（基本块的两个序号不同）：它最新的更改在旁边的 .LOG 文件中，"
          L"上面列出的可能是旧的内容"}) {
        EXPECT_TRUE(Holds(findings.lines, line)) << ToUtf8(line);
    }

    // The running Windows' store on an ESP without a letter: the copy Windows has loaded.
    DiagnosisMachine held;
    held.files.heldHive = testing::StoreBytes("winpe-efi-x64.bcd");
    testing::RecordingProgress loaded;
    EXPECT_EQ(held.Diagnose({}, loaded), RepairOutcome::Succeeded);
    const Lines copy{
        L"正在运行的 Windows 加载的存储（所在分区没有盘符，从注册表 HKLM\\BCD00000000 读取）：",
        L"    {7619dcc9-fafe-11d9-b411-000476eba25f}（Windows 启动加载器）：WinPE"};
    EXPECT_NE(std::search(loaded.lines.begin(), loaded.lines.end(), copy.begin(), copy.end()),
              loaded.lines.end());
    EXPECT_TRUE(Holds(loaded.lines, L"      默认：{7619dcc9-fafe-11d9-b411-000476eba25f}（WinPE）"));
    EXPECT_TRUE(Holds(loaded.lines, L"      device：内存盘，映像在 启动设备（存储所在的分区），"
                                    L"\\sources\\boot.wim 未核对"));
}

}  // namespace
}  // namespace kestrix
