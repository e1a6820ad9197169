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

FileResult BiosPlan::SaveBootFiles() {
    return steps.Saved().SaveBootFiles(boot_);
}

std::optional<WindowsGeneration> BiosPlan::LoaderOnDrive() const {
    if (IsPresent(files, boot_.Path(L"\\boot\\bcd"))) {
        return WindowsGeneration::Nt6;
    }
    if (IsPresent(files, boot_.Path(L"\\ntldr"))) {
        return WindowsGeneration::Nt5;
    }
    return std::nullopt;
}

RepairOutcome BiosPlan::BootSector() {
    // Any generation other than 5 writes the 6.x boot sector.
    WindowsGeneration generation = WindowsGeneration::Nt6;
    if (const auto found = LoaderOnDrive()) {
        generation = *found;
        steps.Line(generation == WindowsGeneration::Nt6 ? L"先检测出BCD，正在建立Win6.x引导..."
                                                        : L"检测出ntldr，正在建立Win5.x引导...");
    } else {
        const auto answer = steps.Ask(
            L"未检测出有效的引导文件，请手工选择引导方案：\r点“是”建立Win6.x引导。\r点“否”建立Win5.x引导。");
        if (answer == MessageAnswer::Yes) {
            steps.Line(L"正在建立Win6.x引导...");
        } else if (answer == MessageAnswer::No) {
            generation = WindowsGeneration::Nt5;
            steps.Line(L"正在建立Win5.x引导...");
        } else {
            log.Write(L"用户取消了修复");
            return RepairOutcome::Cancelled;
        }
    }
    WriteBootSector(generation);
    return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
}

RepairOutcome BiosPlan::BootMenu() {
    const auto findings = FindInstallations(files, volumes, request.drives);
    // From a rescue system started through UEFI, bcdboot would otherwise build UEFI boot files on
    // the active partition and no BIOS ones.
    const auto bootFiles =
        started == Firmware::Uefi ? BootFilesFor::Bios : BootFilesFor::RunningFirmware;
    const bool found6 =
        ForEachInstallation(WindowsGeneration::Nt6, findings, [&](const DriveFinding& finding) {
            const int failures = steps.Failures();
            RunBootFilesTool(BootFilesCommand(finding.entry.drive, boot_, bootFiles));
            if (steps.Failures() == failures) {
                CheckStoreDefault(boot_.Path(L"\\Boot\\BCD"), finding.entry.drive, false);
            }
        });
    const bool found5 =
        ForEachInstallation(WindowsGeneration::Nt5, findings, [&](const DriveFinding&) {
            if (IsPresent(files, boot_.Path(L"\\boot.ini"))) {
                steps.Line(L"    存在Boot.ini保留并继续。");
            } else {
                steps.Line(L"    不存在Boot.ini正在建立通用boot.ini ...");
                CopyLoaderSet();
            }
        });
    if (found6 || found5) {
        return AssembleBootMenu(found6, found5);
    }
    return RepairWithoutInstallation();
}

void BiosPlan::CopyLoaderSet() {
    const auto ownFolder = files.OwnFolder();
    for (const wchar_t* name : kLoaderSet) {
        if (steps.Stopping()) {
            return;
        }
        const auto source = JoinPath(ownFolder, name);
        const auto target = boot_.Path(name);
        if (!files.FileLength(source)) {
            steps.Fail(L"    失败：程序目录中缺少 " + source);
            continue;
        }
        steps.ReplaceFile(source, target, L"    ");
    }
}

RepairOutcome BiosPlan::AssembleBootMenu(bool found6, bool found5) {
    if (found6 && found5) {
        for (const auto& command : BootMenuStoreCommands(boot_)) {
            RunBootFilesTool(command);
        }
        WriteBootSectorForLoader(WindowsGeneration::Nt6);
    } else if (found6) {
        RunBootFilesTool(StoreTimeoutCommand(boot_));
        WriteBootSectorForLoader(WindowsGeneration::Nt6);
    } else {
        WriteBootSectorForLoader(WindowsGeneration::Nt5);
    }
    return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复");
}

RepairOutcome BiosPlan::RepairWithoutInstallation() {
    const auto generation = LoaderOnDrive();
    if (!generation) {
        steps.Line(L"  未发现任何Windows系统，" + boot_.Text() +
                   L" 上也没有引导文件（\\boot\\bcd 或 \\ntldr），不写入任何内容。");
    } else {
        steps.Line(L"  未发现任何Windows系统，按 " + boot_.Text() + L" 上已有的引导文件重写" +
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
        if (!IsPresent(files, boot_.Path(path))) {
            missing += (missing.empty() ? L"" : L" 和 ") + path;
        }
    }
    if (!missing.empty()) {
        steps.Fail(L"  失败：" + boot_.Text() + L" 上没有 " + missing + L"，未写入" +
                   GenerationName(generation) + L"引导扇区");
        return;
    }
    WriteBootSector(generation);
}

void BiosPlan::WriteBootSector(WindowsGeneration generation) {
    steps.RunToolOnceSaved([this] { return steps.Saved().SaveVolumeStart(request.target.drive); },
                           boot_.Text() + L" 的引导扇区", BootSectorCommand(generation, boot_));
}

}  // namespace kestrix
