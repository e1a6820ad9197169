#include "repair/bios_plan.h"

#include "exec/tool_commands.h"
#include "platform/paths.h"

namespace kestrix {

namespace {

constexpr const wchar_t* kLoaderSet[] = {L"\\boot.ini", L"\\BOOTFONT.BIN", L"\\NTLDR",
                                         L"\\NTDETECT.COM"};

const wchar_t* GenerationName(WindowsGeneration generation) {
    return generation == WindowsGeneration::Nt6 ? L"Win6.x" : L"Win5.x";
}

}  // namespace

FileResult BiosPlan::SaveBootFiles() { return steps_.Saved().SaveBootFiles(bootDrive_); }

std::optional<WindowsGeneration> BiosPlan::LoaderOnDrive() const {
    if (IsPresent(files_, bootDrive_ + L"\\boot\\bcd")) {
        return WindowsGeneration::Nt6;
    }
    if (IsPresent(files_, bootDrive_ + L"\\ntldr")) {
        return WindowsGeneration::Nt5;
    }
    return std::nullopt;
}

RepairOutcome BiosPlan::BootSector() {
    // Any generation other than 5 writes the 6.x boot sector.
    WindowsGeneration generation = WindowsGeneration::Nt6;
    if (const auto found = LoaderOnDrive()) {
        generation = *found;
        steps_.Line(generation == WindowsGeneration::Nt6 ? L"先检测出BCD，正在建立Win6.x引导..."
                                                : L"检测出ntldr，正在建立Win5.x引导...");
    } else {
        const auto answer = steps_.Ask(
            L"未检测出有效的引导文件，请手工选择引导方案：\r点“是”建立Win6.x引导。\r点“否”建立Win5.x引导。");
        if (answer == MessageAnswer::Yes) {
            steps_.Line(L"正在建立Win6.x引导...");
        } else if (answer == MessageAnswer::No) {
            generation = WindowsGeneration::Nt5;
            steps_.Line(L"正在建立Win5.x引导...");
        } else {
            log_.Write(L"用户取消了修复");
            return RepairOutcome::Cancelled;
        }
    }
    WriteBootSector(generation);
    return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
}

RepairOutcome BiosPlan::BootMenu() {
    const auto findings = FindInstallations(files_, volumes_, request_.drives);
    const bool found6 = RepairNt6(findings);
    const bool found5 = RepairNt5(findings);
    if (found6 || found5) {
        return AssembleBootMenu(found6, found5);
    }
    return RepairWithoutInstallation();
}

bool BiosPlan::RepairNt6(const std::vector<DriveFinding>& findings) {
    // From a rescue system started through UEFI, bcdboot would otherwise build UEFI boot files on
    // the active partition and no BIOS ones.
    const auto firmware = started_ == Firmware::Uefi ? BootFilesFor::Bios : BootFilesFor::RunningFirmware;
    return ForEachNt6(findings, [&](const DriveFinding& finding) {
        const int failures = steps_.Failures();
        RunBootFilesTool(BootFilesCommand(finding.entry.drive.Text(), bootDrive_, firmware));
        if (steps_.Failures() == failures) {
            CheckStoreDefault(bootDrive_ + L"\\Boot\\BCD", finding.entry.drive, false);
        }
    });
}

bool BiosPlan::RepairNt5(const std::vector<DriveFinding>& findings) {
    bool found = false;
    steps_.Line(L"正在扫描分区中的5.x系统...");
    for (const auto& finding : findings) {
        if (finding.generation != WindowsGeneration::Nt5) {
            continue;
        }
        steps_.Line(FoundLine(finding, L"5.x"));
        found = true;
        WarnIfEncrypted(finding);
        WarnIfHibernated(finding);
        if (IsPresent(files_, bootDrive_ + L"\\boot.ini")) {
            steps_.Line(L"    存在Boot.ini保留并继续。");
        } else {
            steps_.Line(L"    不存在Boot.ini正在建立通用boot.ini ...");
            CopyLoaderSet();
        }
    }
    return found;
}

void BiosPlan::CopyLoaderSet() {
    const auto ownFolder = files_.OwnFolder();
    for (const wchar_t* name : kLoaderSet) {
        if (steps_.Stopping()) {
            return;
        }
        const auto source = JoinPath(ownFolder, name);
        const auto target = bootDrive_ + name;
        if (!files_.FileLength(source)) {
            steps_.Fail(L"    失败：程序目录中缺少 " + source);
            continue;
        }
        steps_.ReplaceFile(source, target, L"    ");
    }
}

RepairOutcome BiosPlan::AssembleBootMenu(bool found6, bool found5) {
    if (found6 && found5) {
        const auto commands = BootMenuStoreCommands(bootDrive_);
        for (std::size_t i = 0; i < commands.size(); ++i) {
            // The two creations fail when bcdboot.exe has made the object already; the settings
            // that follow fail if it is truly missing.
            RunBootFilesTool(commands[i], i < 2);
        }
        WriteBootSectorForLoader(WindowsGeneration::Nt6);
    } else if (found6) {
        RunBootFilesTool(StoreTimeoutCommand(bootDrive_));
        WriteBootSectorForLoader(WindowsGeneration::Nt6);
    } else {
        WriteBootSectorForLoader(WindowsGeneration::Nt5);
    }
    return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复");
}

RepairOutcome BiosPlan::RepairWithoutInstallation() {
    const auto generation = LoaderOnDrive();
    if (!generation) {
        steps_.Line(L"  未发现任何Windows系统，" + bootDrive_ +
            L" 上也没有引导文件（\\boot\\bcd 或 \\ntldr），不写入任何内容。");
    } else {
        steps_.Line(L"  未发现任何Windows系统，按 " + bootDrive_ + L" 上已有的引导文件重写" +
            GenerationName(*generation) + L"引导扇区。");
        WriteBootSectorForLoader(*generation);
    }
    return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复", !generation);
}

void BiosPlan::WriteBootSectorForLoader(WindowsGeneration generation) {
    std::wstring missing;
    const auto required = generation == WindowsGeneration::Nt6
                              ? std::vector<std::wstring>{L"\\bootmgr", L"\\boot\\bcd"}
                              : std::vector<std::wstring>{L"\\ntldr"};
    for (const auto& path : required) {
        if (!IsPresent(files_, bootDrive_ + path)) {
            missing += (missing.empty() ? L"" : L" 和 ") + path;
        }
    }
    if (!missing.empty()) {
        steps_.Fail(L"  失败：" + bootDrive_ + L" 上没有 " + missing + L"，未写入" +
             GenerationName(generation) + L"引导扇区");
        return;
    }
    WriteBootSector(generation);
}

void BiosPlan::WriteBootSector(WindowsGeneration generation) {
    steps_.RunToolOnceSaved([this] { return steps_.Saved().SaveVolumeStart(bootDrive_); },
                            bootDrive_ + L" 的引导扇区", BootSectorCommand(generation, bootDrive_));
}

}  // namespace kestrix
