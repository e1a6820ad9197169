#include "repair/repair_job.h"

#include "platform/text.h"

namespace kestrix {

namespace {

constexpr const wchar_t* kLoaderSet[] = {L"\\boot.ini", L"\\BOOTFONT.BIN", L"\\NTLDR",
                                         L"\\NTDETECT.COM"};

const wchar_t* GenerationName(WindowsGeneration generation) {
    return generation == WindowsGeneration::Nt6 ? L"Win6.x" : L"Win5.x";
}

// Enough for the DOS header and the PE header that it points to.
constexpr std::size_t kPeHeaderRead = 4096;

}  // namespace

std::optional<std::wstring> FallbackLoaderName(std::string_view pe) {
    const auto byte = [&](std::size_t at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(pe[at])); };
    if (pe.size() < 0x40 || pe[0] != 'M' || pe[1] != 'Z') {
        return std::nullopt;
    }
    const std::size_t header = byte(0x3C) | byte(0x3D) << 8 | byte(0x3E) << 16 | byte(0x3F) << 24;
    if (header > pe.size() || pe.size() - header < 6 || pe.compare(header, 4, std::string_view("PE\0\0", 4)) != 0) {
        return std::nullopt;
    }
    switch (byte(header + 4) | byte(header + 5) << 8) {
        case 0x8664:
            return L"bootx64.efi";
        case 0x014C:
            return L"bootia32.efi";
        case 0xAA64:
            return L"bootaa64.efi";
        default:
            return std::nullopt;
    }
}

RepairOutcome RepairJob::Run(RepairProgress& progress) {
    const auto& request = *request_;
    bootDrive_ = request.target.drive.Text();
    steps_.Begin(progress);
    log_.Open(RunFolderDrives());
    const bool sectorOnly = request.kind == RepairKind::BootSectorOnly;
    log_.Write(L"开始修复 " + bootDrive_ + (sectorOnly ? L"（只修复引导）" : L"") + L"，记录目录：" +
               (log_.Folder().empty() ? L"无" : log_.Folder()));
    std::wstring drives;
    for (const auto& entry : request.drives) {
        drives += (drives.empty() ? L"" : L"、") + entry.Text();
    }
    log_.Write(L"驱动器：" + drives);
    NoteFirmware();
    auto outcome = RepairOutcome::NothingWritten;
    if (request.target.path == BootPath::Uefi) {
        outcome = sectorOnly ? RepairFallbackLoader() : RepairBootMenu();
    } else {
        outcome = sectorOnly ? RepairBootSector() : RepairBootMenu();
    }
    if (steps_.Stopping() && outcome != RepairOutcome::Cancelled) {
        log_.Write(L"修复被中止：窗口在修复进行中关闭，当前步骤结束后未再执行其他步骤");
        outcome = RepairOutcome::Interrupted;
    }
    steps_.End();
    return outcome;
}

std::vector<std::wstring> RepairJob::RunFolderDrives() const {
    // Not on a drive whose letter goes at the end, with all that the run saved.
    if (letters_.IsTemporary(bootDrive_)) {
        return letters_.LastingFixedDrives(request_->drives);
    }
    return {bootDrive_};
}

std::optional<WindowsGeneration> RepairJob::LoaderOnDrive() const {
    if (IsPresent(files_, bootDrive_ + L"\\boot\\bcd")) {
        return WindowsGeneration::Nt6;
    }
    if (IsPresent(files_, bootDrive_ + L"\\ntldr")) {
        return WindowsGeneration::Nt5;
    }
    return std::nullopt;
}

RepairOutcome RepairJob::RepairBootSector() {
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

void RepairJob::NoteFirmware() {
    const auto reading = firmware_.RunningFirmware();
    started_ = reading.firmware;
    log_.Write(std::wstring(L"本机当前的启动方式：") +
               (started_ == Firmware::Uefi   ? L"UEFI"
                : started_ == Firmware::Bios ? L"BIOS"
                : reading.error != 0 ? L"未知" + Reason({false, reading.error, reading.errorText})
                                     : L"未知"));
    const bool uefiRepair = request_->target.path == BootPath::Uefi;
    if (started_ == Firmware::Uefi && !uefiRepair) {
        steps_.Line(L"注意：本机当前以UEFI方式启动，修复的BIOS引导要在固件设置改为传统（BIOS/CSM）方式启动后才会生效。");
    } else if (started_ == Firmware::Bios && uefiRepair) {
        steps_.Line(L"注意：本机当前以BIOS（传统）方式启动，修复的UEFI引导要在固件设置改为UEFI方式启动后才会生效。");
    }
}

RepairOutcome RepairJob::RepairBootMenu() {
    findings_ = FindInstallations(files_, volumes_, request_->drives);
    const bool found6 = RepairNt6();
    if (request_->target.path == BootPath::Uefi) {
        SkipNt5Uefi();
        if (found6) {
            RunBootFilesTool(UefiStoreTimeoutCommand(bootDrive_));
        } else {
            steps_.Line(L"  未发现可以UEFI方式启动的Windows系统（6.x），不写入任何内容。");
        }
        // The firmware starts the EFI loader: no boot sector is written.
        return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复", !found6);
    }
    const bool found5 = RepairNt5();
    if (found6 || found5) {
        return AssembleBootMenu(found6, found5);
    }
    return RepairWithoutInstallation();
}

void RepairJob::SkipNt5Uefi() {
    steps_.Line(L"正在扫描分区中的5.x系统...");
    for (const auto& finding : findings_) {
        if (finding.generation == WindowsGeneration::Nt5) {
            steps_.Line(L"  在 " + finding.entry.Text() + L" 发现5.x系统，5.x系统不能以UEFI方式启动，已跳过。");
        }
    }
}

RepairOutcome RepairJob::RepairFallbackLoader() {
    const auto source = bootDrive_ + L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi";
    if (!IsPresent(files_, source)) {
        steps_.Line(L"  " + bootDrive_ +
            L" 上没有 \\EFI\\Microsoft\\Boot\\bootmgfw.efi，不写入任何内容。请先运行引导菜单修复（不选“只修复引导”）。");
        return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复", true);
    }
    std::string header;
    files_.ReadFileStart(source, kPeHeaderRead, header);
    const auto name = FallbackLoaderName(header);
    if (!name) {
        steps_.Fail(L"  失败：无法识别 " + source + L" 的机器类型，未写入后备启动文件");
        return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
    }
    const auto target = bootDrive_ + L"\\EFI\\Boot\\" + *name;
    steps_.Line(L"检测出bootmgfw.efi，正在建立UEFI后备启动文件 \\EFI\\Boot\\" + *name + L"...");
    if (steps_.EnsureFolder(bootDrive_ + L"\\EFI\\Boot")) {
        steps_.ReplaceFile(source, target, L"  ");
    }
    return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
}

bool RepairJob::RepairNt6() {
    bool found = false;
    steps_.Line(L"正在扫描分区中的6.x系统...");
    for (const auto& finding : findings_) {
        if (finding.locked) {
            // A locked volume hides its files: say so rather than count it as holding no Windows.
            steps_.Line(L"  " + finding.entry.drive.Text() + L" 是BitLocker加密卷（已锁定），无法检查其中的系统。");
        }
        if (finding.generation != WindowsGeneration::Nt6) {
            continue;
        }
        steps_.Line(L"  在 " + finding.entry.Text() + L" 发现6.x系统，修复中...");
        found = true;
        WarnIfEncrypted(finding);
        if (request_->target.path == BootPath::Uefi) {
            // bcdboot fails without the folder on recent Windows.
            if (steps_.EnsureFolder(bootDrive_ + L"\\EFI\\Microsoft\\Boot")) {
                RunBootFilesTool(BootFilesCommand(finding.entry.drive.Text(), bootDrive_, BootFilesFor::Uefi));
            }
        } else {
            // From a rescue system started through UEFI, bcdboot would otherwise build UEFI boot
            // files on the active partition and no BIOS ones.
            RunBootFilesTool(BootFilesCommand(finding.entry.drive.Text(), bootDrive_,
                                              started_ == Firmware::Uefi
                                                  ? BootFilesFor::Bios
                                                  : BootFilesFor::RunningFirmware));
        }
    }
    return found;
}

bool RepairJob::RepairNt5() {
    bool found = false;
    steps_.Line(L"正在扫描分区中的5.x系统...");
    for (const auto& finding : findings_) {
        if (finding.generation != WindowsGeneration::Nt5) {
            continue;
        }
        steps_.Line(L"  在 " + finding.entry.Text() + L" 发现5.x系统，修复中...");
        found = true;
        WarnIfEncrypted(finding);
        if (IsPresent(files_, bootDrive_ + L"\\boot.ini")) {
            steps_.Line(L"    存在Boot.ini保留并继续。");
        } else {
            steps_.Line(L"    不存在Boot.ini正在建立通用boot.ini ...");
            CopyLoaderSet();
        }
    }
    return found;
}

void RepairJob::CopyLoaderSet() {
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

RepairOutcome RepairJob::AssembleBootMenu(bool found6, bool found5) {
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

RepairOutcome RepairJob::RepairWithoutInstallation() {
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

void RepairJob::WriteBootSectorForLoader(WindowsGeneration generation) {
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

void RepairJob::WriteBootSector(WindowsGeneration generation) {
    steps_.RunToolOnceSaved([this] { return steps_.Saved().SaveVolumeStart(bootDrive_); },
                            bootDrive_ + L" 的引导扇区", BootSectorCommand(generation, bootDrive_));
}

RepairOutcome RepairJob::Complete(const std::wstring& successLine, const std::wstring& kind,
                                  bool nothingToDo) {
    steps_.Line(L"");
    if (steps_.Failures() != 0) {
        steps_.Line(kind + L"结束，但有 " + DecimalText(steps_.Failures()) + L" 个步骤失败！请查看上面的记录。");
        return RepairOutcome::StepsFailed;
    }
    if (nothingToDo) {
        steps_.Line(kind + L"结束，未做任何修改。请关闭。");
        return RepairOutcome::NothingWritten;
    }
    steps_.Line(successLine);
    return RepairOutcome::Succeeded;
}

void RepairJob::RunBootFilesTool(const std::wstring& commandLine, bool failureExpected) {
    steps_.RunToolOnceSaved(
        [this] {
            return request_->target.path == BootPath::Uefi ? steps_.Saved().SaveEfiBootFiles(bootDrive_)
                                                   : steps_.Saved().SaveBootFiles(bootDrive_);
        },
        bootDrive_ + L" 的启动文件", commandLine, failureExpected);
}

void RepairJob::WarnIfEncrypted(const DriveFinding& finding) {
    if (finding.encrypted) {
        steps_.Line(L"    警告：" + finding.entry.drive.Text() + L" 是BitLocker加密卷，修复后下次启动时可能要求输入恢复密钥。");
    }
}

}  // namespace kestrix
