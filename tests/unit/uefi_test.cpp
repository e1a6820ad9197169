// The EFI system partition: found by the scan (given a letter when it has none), repaired with
// UEFI boot files, and its fallback loader put in place.
#include "offered.h"
#include "app_fixture.h"
#include "partitions/partition_scan.h"
#include "pe_image.h"
#include "repair/uefi_plan.h"
#include "secure_boot_data.h"
#include "secureboot/signature_list.h"
#include "signed_binaries.h"

namespace kestrix {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kScan6 = L"正在扫描分区中的6.x系统...";
const std::wstring kScan5 = L"正在扫描分区中的5.x系统...";
const std::wstring kMenuDone = L"引导菜单修复完成！请关闭。";
const std::wstring kLog = L"c:\\kestrix\\kestrix-20261207-103026\\kestrix.log";

TEST(EfiSystemPartition, ListingLines) {
    struct Case {
        const wchar_t* line;
        std::optional<std::wstring> entry;
        std::optional<int> unlettered;
    };
    const Case cases[] = {
        {L"1 s: gpt efi-system fat32 - no 1 101 100 mb", L"s:  容量:100MB（UEFI）", std::nullopt},
        {L"2 s: mbr ef fat32 - no 1 101 100 mb", L"s:  容量:100MB（UEFI）", std::nullopt},
        {L"3 - gpt efi-system - - no 1 101 100 mb", std::nullopt, 3},
        {L"4 - mbr ef - - no 1 261 260 mb", std::nullopt, 4},
        // An ordinary partition still needs the active flag and a letter.
        {L"1 d: gpt basic-data ntfs - no 1 101 100 mb", std::nullopt, std::nullopt},
        {L"1 - mbr 07 ntfs - yes 1 101 100 mb", std::nullopt, std::nullopt},
        {L"1 d: mbr 07 ntfs - yes 1 101 100 mb", L"d:  容量:100MB", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testing::Offered(c.line), c.entry) << ToUtf8(c.line);
        const auto unlettered = testing::Unlettered(c.line);
        EXPECT_EQ(unlettered ? std::optional<int>(unlettered->number) : std::nullopt, c.unlettered)
            << ToUtf8(c.line);
    }
}

TEST(EfiSystemPartition, TheLastFreeLetterCountingDownFromZ) {
    const auto entries = [](std::initializer_list<const wchar_t*> drives) {
        std::vector<DriveEntry> list;
        for (const auto* drive : drives) {
            list.push_back({*DriveLetter::Parse(drive), L""});
        }
        return list;
    };
    EXPECT_EQ(LastFreeLetter(entries({L"c:", L"d:"}), L""), L'z');
    EXPECT_EQ(LastFreeLetter(entries({L"c:", L"z:", L"Y:"}), L"x"), L'w');
    std::vector<DriveEntry> all;
    for (wchar_t letter = L'c'; letter <= L'z'; ++letter) {
        all.push_back({*DriveLetter::Parse(std::wstring{letter, L':'}), L""});
    }
    EXPECT_EQ(LastFreeLetter(all, L""), std::nullopt);
}

// An unlettered ESP gets the last free letter through diskpart and gives it back at the end.
TEST(EfiSystemPartition, AnUnletteredOneIsLetteredForTheRunOnly) {
    testing::Machine m;
    m.InstallInKestrixFolder();
    m.files.drives = {L"c:", L"d:"};
    m.launcher.outputs[ListingCommand(0).Line()] =
        L"1 D: mbr 07 NTFS - yes 1 2 1 MB\r\n2 - gpt efi-system - - no 1 101 100 MB\r\n";
    m.launcher.outputs[ListingCommand(1).Line()] = L"open disk error!\r\n";
    Lines scripts;
    m.launcher.onLaunch = [&m, &scripts](const LaunchRequest& request) {
        if (testing::FakeLauncher::Name(request) == L"diskpart.exe") {
            scripts.push_back(m.files.Text(L"C:\\temp\\kestrix-diskpart.txt"));
        }
    };
    m.Start(L"");
    EXPECT_EQ(m.repairWindow.partitions, (Lines{L"d:  容量:1MB", L"z:  容量:100MB（UEFI）"}));
    EXPECT_TRUE(m.Ends([&] { m.app.program.OnCloseRequest(); }));
    EXPECT_EQ(scripts, (Lines{L"select disk 0\r\nselect partition 2\r\nassign letter=Z\r\n",
                              L"select disk 0\r\nselect partition 2\r\nremove letter=Z\r\n"}));
    EXPECT_EQ(m.files.files.count(L"c:\\temp\\kestrix-diskpart.txt"), 0u);
    const auto log = m.files.Text(kLog);
    EXPECT_LT(log.find(L"已为 磁盘 0 的分区 2（EFI系统分区）分配盘符 Z:"), log.find(L"已收回盘符 Z:"));

    // On a removable disk it is left alone.
    testing::Machine stick;
    stick.files.diskMedia[0] = DriveMedia::Usb;
    stick.launcher.outputs = m.launcher.outputs;
    stick.Start(L"");
    EXPECT_EQ(stick.repairWindow.partitions, Lines{L"d:  容量:1MB"});
}

struct UefiMachine : testing::Machine {
    UefiMachine() {
        InstallInKestrixFolder();
        files.firmware = Firmware::Uefi;
        files.efiSystem = {L"s:"};
        files.Put(L"s:\\EFI\\Boot\\bootx64.efi", 300);
    }
    using testing::Machine::Repair;
    void Repair(const std::wstring& arguments) { Start(L"-f " + arguments + L" -d s:"); }
};

// What a UEFI PC without Secure Boot says of its trust, and the fallback loader it holds.
Lines TrustOffAndTheFallbackLoader() {
    return {L"安全启动（Secure Boot）：关闭", L"  固件 db：证书 无，哈希 0 个",
            L"  固件 dbx：证书 无，哈希 0 个", L"正在检查启动管理器的签名...",
            L"  s:\\EFI\\Boot\\bootx64.efi 的签名：无法读取", L"    固件判定：拒绝（签名无效或文件已被改动）",
            L"  安全启动未开启，按 ESP 上现有的启动管理器选择：它不是 Windows UEFI CA 2023 签名的，按原方式安装。"};
}

Lines Joined(Lines first, const Lines& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

TEST(UefiPlanAlone, BootMenu) {
    const std::wstring xpSkipped = L"  在 e: 发现5.x系统，5.x系统不能以UEFI方式启动，已跳过。";
    struct Case {
        const char* name;
        bool ten, xp;
        Lines lines;
        Lines runs;
        RepairOutcome outcome;
    };
    const Case cases[] = {
        {"Windows 10 beside XP", true, true,
         Joined(TrustOffAndTheFallbackLoader(),
                {L"  f: 将安装 \\Windows\\Boot\\EFI 中的启动管理器。", kScan6,
                 L"  在 f: 发现6.x系统，修复中...",
                 L"    s:\\EFI\\Microsoft\\Boot\\BCD 的默认启动项指向 f:\\Windows", kScan5,
                 xpSkipped, L"", kMenuDone}),
         {L"bcdboot.exe f:\\windows /l zh-cn /s s: /f UEFI",
          L"bcdedit.exe /store s:\\EFI\\Microsoft\\Boot\\BCD /timeout 7"},
         RepairOutcome::Succeeded},
        {"XP alone", false, true,
         Joined(TrustOffAndTheFallbackLoader(),
                {kScan6, kScan5, xpSkipped, L"  未发现可以UEFI方式启动的Windows系统（6.x），不写入任何内容。",
                 L"", L"引导菜单修复结束，未做任何修改。请关闭。"}),
         {},
         RepairOutcome::NothingWritten},
    };
    for (const auto& c : cases) {
        UefiMachine m;
        if (c.ten) {
            m.files.Put(L"f:\\windows\\system32\\slmgr.vbs", 100);
        }
        if (c.xp) {
            m.files.Put(L"e:\\windows\\regedit.exe", 100);
        }
        m.files.drives = {L"e:", L"f:"};
        testing::RecordingProgress progress;
        EXPECT_EQ(m.Repair(L"s:", BootPath::Uefi, RepairKind::BootMenu, progress), c.outcome)
            << c.name;
        EXPECT_EQ(progress.lines, c.lines) << c.name;
        EXPECT_EQ(m.ToolRuns(), c.runs) << c.name;
        // No XP file is copied, no boot sector written; the EFI folders are saved first.
        EXPECT_EQ(m.files.files.count(L"s:\\ntldr"), 0u) << c.name;
        if (c.ten) {
            EXPECT_EQ(m.files.folders.count(L"s:\\efi\\microsoft\\boot"), 1u) << c.name;
            EXPECT_EQ(m.files.files.count(
                          L"c:\\kestrix\\kestrix-20261207-103026\\s\\efi\\boot\\bootx64.efi"),
                      1u)
                << c.name;
        }
        EXPECT_NE(m.files.Text(kLog).find(L"本机当前的启动方式：UEFI"), std::wstring::npos) << c.name;
    }
}

// With Secure Boot on, the verdicts on the Windows' two boot managers against the firmware's db
// and dbx decide which one bcdboot installs, or that none may be written; what was written is
// checked, and the fallback loader follows the same verdicts. The boot managers are signed under
// look-alike CAs that bear Microsoft's names, the databases made of those CAs.
TEST(UefiPlanAlone, SecureBootChoosesTheBootManager) {
    const auto& made = testing::Made();
    ASSERT_FALSE(made.ca2023Signed.empty()) << "openssl, osslsigncode or sbsigntool is missing";
    const auto certificates = [](std::initializer_list<std::string> list) {
        std::string lists;
        for (const auto& certificate : list) {
            lists += testing::SignatureList(testing::kX509Type, {certificate});
        }
        return lists;
    };
    const std::string pcaOnly = certificates({made.pcaCa});
    const std::string both = certificates({made.pcaCa, made.ca2023});
    const std::string revokesPca = pcaOnly;
    std::string damaged = made.pcaSigned;
    damaged[0x1000] ^= 1;
    const std::wstring security = L"{d719b2cb-3d3a-4596-a3bc-dad00e67656f}";
    // The real Windows 10 store's Windows RE entry.
    const std::wstring recovery = L"{e018a2d1-b134-11ea-95b2-81f0ac71b75b}";
    const std::wstring plain = L"bcdboot.exe f:\\windows /l zh-cn /s s: /f UEFI";
    const std::wstring bootEx = plain + L" /bootex";
    const std::wstring timeout = L"bcdedit.exe /store s:\\EFI\\Microsoft\\Boot\\BCD /timeout 7";
    const std::wstring notUpdated =
        L"  失败：f:：该系统的启动文件尚未更新到 Windows UEFI CA 2023 "
        L"签名，本机固件会拒绝旧的启动管理器。请先更新该系统，或在固件中关闭安全启动。";
    enum class Kind { BootMenu, FallbackLoader };
    const struct {
        const char* name;
        std::optional<std::string> db;
        std::string dbx;
        bool updated;  // the Windows has \Windows\Boot\EFI_EX
        Kind kind;
        RepairOutcome outcome;
        Lines runs;
        Lines shown;  // lines the repair shows, among others
        // What plain bcdboot writes, when not the Windows' own boot manager.
        std::optional<std::string> plainWrites = std::nullopt;
        // The fallback loader bcdboot wrote cannot be read back.
        bool fallbackHeld = false;
    } cases[] = {
        {"only the PCA one allowed",
         pcaOnly,
         "",
         true,
         Kind::BootMenu,
         RepairOutcome::Succeeded,
         {plain, timeout},
         {L"    固件判定：允许（db 中的证书 Microsoft Windows Production PCA 2011）",
          L"    固件判定：拒绝（签名者不在 db 中）",
          L"  f: 将安装 \\Windows\\Boot\\EFI 中的启动管理器。", L"    通过"}},
        {"both allowed, a PCA one on the ESP",
         both,
         "",
         true,
         Kind::BootMenu,
         RepairOutcome::Succeeded,
         {plain, timeout},
         {L"    通过"}},
        {"PCA revoked, Windows updated",
         both,
         revokesPca,
         true,
         Kind::BootMenu,
         RepairOutcome::Succeeded,
         {bootEx,
          L"bcdedit.exe /store s:\\EFI\\Microsoft\\Boot\\BCD /set {default} recoverysequence " +
              recovery,
          timeout},
         {L"    固件判定：拒绝（签名证书已被 dbx 吊销（Microsoft Windows Production PCA 2011））",
          L"    bcdboot /bootex 去掉了 Windows RE（recoverysequence），正在设回 " + recovery +
              L"...",
          L"    通过"}},
        {"PCA revoked, Windows not updated",
         both,
         revokesPca,
         false,
         Kind::BootMenu,
         RepairOutcome::StepsFailed,
         {},
         {notUpdated, L"  未写入任何内容。"}},
        {"neither allowed",
         certificates({}),
         "",
         true,
         Kind::BootMenu,
         RepairOutcome::StepsFailed,
         {},
         {notUpdated, L"  未写入任何内容。"}},
        {"db unreadable",
         std::nullopt,
         "",
         true,
         Kind::BootMenu,
         RepairOutcome::StepsFailed,
         {},
         {L"  失败：安全启动已开启，但无法从固件变量判断它接受哪一种签名的启动管理器，"
          L"为免本机无法启动，不写入任何内容。请在固件中关闭安全启动后再修复。"}},
        {"bcdboot writes a damaged boot manager",
         pcaOnly,
         "",
         true,
         Kind::BootMenu,
         RepairOutcome::StepsFailed,
         {plain, timeout},
         {L"    失败：本机固件会拒绝 "
          L"s:\\EFI\\Microsoft\\Boot\\bootmgfw.efi（签名无效或文件已被改动）"},
         damaged},
        {"the fallback loader written cannot be read back",
         pcaOnly,
         "",
         true,
         Kind::BootMenu,
         RepairOutcome::StepsFailed,
         {plain, timeout},
         {L"    失败：无法按本机固件的 db/dbx 验证 s:\\EFI\\Boot\\bootx64.efi（读不到 db/dbx "
          L"或文件）"},
         std::nullopt,
         true},
        {"fallback loader refused",
         certificates({made.ca2023}),
         "",
         true,
         Kind::FallbackLoader,
         RepairOutcome::StepsFailed,
         {},
         {L"  失败：安全启动已开启，本机固件会拒绝 "
          L"s:\\EFI\\Microsoft\\Boot\\bootmgfw.efi（签名者不在 db 中），未写入后备启动文件。"}},
        {"fallback loader allowed",
         pcaOnly,
         "",
         true,
         Kind::FallbackLoader,
         RepairOutcome::Succeeded,
         {},
         {L"检测出bootmgfw.efi，正在建立UEFI后备启动文件 \\EFI\\Boot\\bootx64.efi...",
          L"    通过"}},
    };
    for (const auto& c : cases) {
        UefiMachine m;
        m.files.variables[{L"SecureBoot", L"{8be4df61-93ca-11d2-aa0d-00e098032b8c}"}] = "\x01";
        if (c.db) {
            m.files.variables[{L"db", security}] = *c.db;
        } else {
            m.files.variableErrors[{L"db", security}] = 5;
        }
        m.files.variables[{L"dbx", security}] = c.dbx;
        m.files.drives = {L"f:"};
        m.files.Put(L"f:\\windows\\system32\\slmgr.vbs", 100);
        m.files.WriteNewFile(L"f:\\Windows\\Boot\\EFI\\bootmgfw.efi", made.pcaSigned);
        if (c.updated) {
            m.files.WriteNewFile(L"f:\\Windows\\Boot\\EFI_EX\\bootmgfw_EX.efi", made.ca2023Signed);
        }
        // The boot manager on the partition now, and its store with Windows RE in it, which
        // bcdboot /bootex drops.
        m.files.WriteNewFile(L"s:\\EFI\\Microsoft\\Boot\\bootmgfw.efi", made.pcaSigned);
        m.files.Put(L"s:\\EFI\\Microsoft\\Boot\\BCD", testing::StoreBytes("windows10-uefi-gpt.bcd"));
        m.files.partitionIds[testing::kWindows10Partition] = {{0, 3}, DriveLetter::Parse(L"f:")};
        m.files.identities[L"f:"] =
            VolumeIdentity{L"GPT {5541E87D-91A5-4F2B-AD43-A0345C199E9B}", 1048576, 1u << 30, 1};
        // bcdboot installs the boot manager it was given, also as the fallback loader.
        m.launcher.onSuccess = [&](const LaunchRequest& request) {
            if (!request.Parameters().starts_with(L"f:\\windows")) {
                return;
            }
            if (c.fallbackHeld) {
                m.files.held.insert(L"s:\\efi\\boot\\bootx64.efi");
            }
            const bool ex = request.Parameters().ends_with(L"/bootex");
            if (ex) {
                m.files.Put(L"s:\\EFI\\Microsoft\\Boot\\BCD",
                            testing::StoreBytes("without-recovery.bcd"));
            }
            for (const wchar_t* path :
                 {L"s:\\EFI\\Microsoft\\Boot\\bootmgfw.efi", L"s:\\EFI\\Boot\\bootx64.efi"}) {
                m.files.WriteNewFile(
                    path, ex ? made.ca2023Signed : c.plainWrites.value_or(made.pcaSigned));
            }
        };
        testing::RecordingProgress progress;
        const auto kind =
            c.kind == Kind::BootMenu ? RepairKind::BootMenu : RepairKind::BootSectorOnly;
        EXPECT_EQ(m.Repair(L"s:", BootPath::Uefi, kind, progress), c.outcome) << c.name;
        EXPECT_EQ(m.ToolRuns(), c.runs) << c.name;
        for (const auto& line : c.shown) {
            EXPECT_NE(std::find(progress.lines.begin(), progress.lines.end(), line),
                      progress.lines.end())
                << c.name << ": " << ToUtf8(line);
        }
        if (c.kind == Kind::FallbackLoader) {
            EXPECT_EQ(m.files.FileLength(L"s:\\EFI\\Boot\\bootx64.efi") == 300u,
                      c.outcome != RepairOutcome::Succeeded)
                << c.name;
        }
    }
}

std::string PeImage(std::uint16_t machine) {
    std::string pe(0x200, '\0');
    pe[0] = 'M';
    pe[1] = 'Z';
    pe[0x3C] = static_cast<char>(0x80);
    pe.replace(0x80, 4, std::string("PE\0\0", 4));
    pe[0x84] = static_cast<char>(machine & 0xFF);
    pe[0x85] = static_cast<char>(machine >> 8);
    return pe;
}

TEST(UefiRepair, FallbackLoaderByMachineType) {
    struct Case {
        std::string pe;
        std::optional<std::wstring> name;
    };
    const Case cases[] = {
        {PeImage(0x8664), L"bootx64.efi"},  {PeImage(0x014C), L"bootia32.efi"},
        {PeImage(0xAA64), L"bootaa64.efi"}, {PeImage(0x01C4), std::nullopt},
        {"MZ", std::nullopt},               {std::string(0x200, 'x'), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FallbackLoaderName(c.pe), c.name);
    }
}

TEST(UefiRepair, BootSectorOnlyPutsTheFallbackLoaderInPlace) {
    UefiMachine m;
    m.files.files[L"s:\\efi\\microsoft\\boot\\bootmgfw.efi"] = PeImage(0x8664);
    m.Repair(L"-n");
    EXPECT_EQ(m.repairWindow.log,
              (Lines{L"检测出bootmgfw.efi，正在建立UEFI后备启动文件 \\EFI\\Boot\\bootx64.efi...", L"",
                     L"纯引导修复完成！请关闭。"}));
    EXPECT_EQ(m.files.files.at(L"s:\\efi\\boot\\bootx64.efi"), PeImage(0x8664));
    // The loader it replaced was saved first.
    EXPECT_EQ(m.files.files.at(L"c:\\kestrix\\kestrix-20261207-103026\\s\\efi\\boot\\bootx64.efi").size(),
              300u);
    EXPECT_TRUE(m.ToolRuns().empty());

    UefiMachine without;
    without.Repair(L"-n");
    EXPECT_EQ(without.repairWindow.log.front(),
              L"  s: 上没有 \\EFI\\Microsoft\\Boot\\bootmgfw.efi，不写入任何内容。请先运行引导菜单修复（不选“只修复引导”）。");
    EXPECT_EQ(without.app.program.ExitCode(), 2);
}

// The firmware that started the PC is named (or why it could not be told); a repair for the
// other kind says when it will work; bcdboot builds a BIOS partition's files for BIOS even from a
// system started through UEFI, after saving the partition's \EFI.
TEST(UefiRepair, TheFirmwareAndTheRepairDiffer) {
    const std::wstring uefiNote =
        L"注意：本机当前以UEFI方式启动，修复的BIOS引导要在固件设置改为传统（BIOS/CSM）方式启动后才会生效。";
    struct Case {
        const char* name;
        Firmware firmware;
        bool esp;
        std::wstring arguments;
        std::wstring firstLine;
        std::wstring logged;
        Lines runs;
    };
    const Case cases[] = {
        {"BIOS, UEFI boot sector", Firmware::Bios, true, L"-f -n -d s:",
         L"注意：本机当前以BIOS（传统）方式启动，修复的UEFI引导要在固件设置改为UEFI方式启动后才会生效。",
         L"本机当前的启动方式：BIOS", {}},
        {"UEFI, BIOS boot sector", Firmware::Uefi, false, L"-f -n -d d:", uefiNote,
         L"本机当前的启动方式：UEFI", {L"bootsect.exe /nt60 d:"}},
        {"UEFI, BIOS boot menu", Firmware::Uefi, false, L"-f -d d:", uefiNote,
         L"本机当前的启动方式：UEFI",
         {L"bcdboot.exe e:\\windows /l zh-cn /s d: /f BIOS",
          L"bcdedit.exe /store d:\\boot\\bcd /timeout 7", L"bootsect.exe /nt60 d:"}},
        {"unknown, UEFI boot menu", Firmware::Unknown, true, L"-f -d s:", L"安全启动（Secure Boot）：未知",
         L"本机当前的启动方式：未知（错误 1314：firmware error）",
         {L"bcdboot.exe e:\\windows /l zh-cn /s s: /f UEFI",
          L"bcdedit.exe /store s:\\EFI\\Microsoft\\Boot\\BCD /timeout 7"}},
        {"unknown, BIOS boot menu", Firmware::Unknown, false, L"-f -d d:", kScan6,
         L"本机当前的启动方式：未知（错误 1314：firmware error）",
         {L"bcdboot.exe e:\\windows /l zh-cn /s d:", L"bcdedit.exe /store d:\\boot\\bcd /timeout 7",
          L"bootsect.exe /nt60 d:"}},
    };
    for (const auto& c : cases) {
        testing::Machine m;
        m.InstallInKestrixFolder();
        m.files.firmware = c.firmware;
        m.files.firmwareError = 1314;
        m.files.drives = {L"d:", L"e:"};
        m.files.Put(L"e:\\windows\\system32\\slmgr.vbs", 100);
        m.files.Put(L"d:\\boot\\bcd", 100);
        m.files.Put(L"d:\\EFI\\Boot\\bootx64.efi", 300);
        if (c.esp) {
            m.files.efiSystem = {L"s:"};
            m.files.Put(L"s:\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 100);
        }
        m.Start(c.arguments);
        EXPECT_EQ(m.repairWindow.log.front(), c.firstLine) << c.name;
        EXPECT_NE(m.files.Text(kLog).find(c.logged), std::wstring::npos) << c.name;
        EXPECT_EQ(m.ToolRuns(), c.runs) << c.name;
        // What bcdboot may touch on a BIOS partition is saved first, \EFI included.
        const bool menuOnD = c.arguments == L"-f -d d:";
        EXPECT_EQ(m.files.FileLength(L"c:\\kestrix\\kestrix-20261207-103026\\d\\EFI\\Boot\\bootx64.efi")
                      .has_value(),
                  menuOnD)
            << c.name;
    }
}

}  // namespace
}  // namespace kestrix
