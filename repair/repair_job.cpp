#include "repair/repair_job.h"

#include "platform/text.h"

namespace kestrix {

namespace {

// A file counts as present from 6 bytes on.
constexpr std::int64_t kPresent = 5;

constexpr const wchar_t* kLoaderSet[] = {L"\\boot.ini", L"\\BOOTFONT.BIN", L"\\NTLDR",
                                         L"\\NTDETECT.COM"};

std::wstring ToolFailure(const std::wstring& commandLine, const RunResult& result) {
    switch (result.status) {
        case RunStatus::Finished:
            if (!result.exitCode) {
                return L"  失败：" + commandLine + L" 的退出码无法读取";
            }
            return L"  失败：" + commandLine + L" " + RunProblem(result);
        case RunStatus::NotFound:
        case RunStatus::NotStarted:
            return L"  失败：无法启动 " + commandLine + L"（" + RunProblem(result) + L"）";
        case RunStatus::InvalidCommand:
            break;
    }
    return L"  失败：无法启动 " + commandLine;
}

const wchar_t* GenerationName(LoaderGeneration generation) {
    return generation == LoaderGeneration::Nt6 ? L"Win6.x" : L"Win5.x";
}

constexpr char kBitLockerSignature[] = "-FVE-FS-";
// Whole sectors for any sector size.
constexpr std::size_t kBootSectorRead = 4096;
// Enough for the DOS header and the PE header that it points to.
constexpr std::size_t kPeHeaderRead = 4096;

}  // namespace

std::wstring Reason(const FileResult& result) {
    return L"（" + FailureText(result.error, result.errorText) + L"）";
}

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

bool IsDriveDesignator(std::wstring_view text) {
    if (text.size() != 2 || text[1] != L':') {
        return false;
    }
    const wchar_t letter = text[0];
    return (letter >= L'a' && letter <= L'z') || (letter >= L'A' && letter <= L'Z');
}

RepairOutcome RepairJob::Run(const RepairRequest& request, RepairProgress& progress) {
    request_ = &request;
    progress_ = &progress;
    bootDrive_ = request.bootDrive;
    failures_ = 0;
    backups_.emplace(files_, log_, runner_);
    log_.Open(RunFolderDrives());
    const bool sectorOnly = request.kind == RepairKind::BootSectorOnly;
    log_.Write(L"开始修复 " + bootDrive_ + (sectorOnly ? L"（只修复引导）" : L"") + L"，记录目录：" +
               (log_.Folder().empty() ? L"无" : log_.Folder()));
    std::wstring drives;
    for (const auto& entry : request.drives) {
        drives += (drives.empty() ? L"" : L"、") + entry;
    }
    log_.Write(L"驱动器：" + drives);
    NoteFirmware();
    auto outcome = RepairOutcome::NothingWritten;
    if (request.path == BootPath::Uefi) {
        outcome = sectorOnly ? RepairFallbackLoader() : RepairBootMenu();
    } else {
        outcome = sectorOnly ? RepairBootSector() : RepairBootMenu();
    }
    if (Stopping() && outcome != RepairOutcome::Cancelled) {
        log_.Write(L"修复被中止：窗口在修复进行中关闭，当前步骤结束后未再执行其他步骤");
        outcome = RepairOutcome::Interrupted;
    }
    backups_->Finish();
    log_.Flush();
    return outcome;
}

std::vector<std::wstring> RepairJob::RunFolderDrives() const {
    if (!letters_.IsTemporary(bootDrive_)) {
        return {bootDrive_};
    }
    // Not on a drive whose letter goes at the end, with all that the run saved.
    std::vector<std::wstring> drives;
    for (const auto& entry : request_->drives) {
        const auto drive = Left(entry, 2);
        if (!letters_.IsTemporary(drive) && files_.MediaOf(drive) == DriveMedia::Fixed) {
            drives.push_back(drive);
        }
    }
    return drives;
}

std::optional<LoaderGeneration> RepairJob::LoaderOnDrive() const {
    if (FileLength(bootDrive_ + L"\\boot\\bcd") > kPresent) {
        return LoaderGeneration::Nt6;
    }
    if (FileLength(bootDrive_ + L"\\ntldr") > kPresent) {
        return LoaderGeneration::Nt5;
    }
    return std::nullopt;
}

RepairOutcome RepairJob::RepairBootSector() {
    // Any generation other than 5 writes the 6.x boot sector.
    LoaderGeneration generation = LoaderGeneration::Nt6;
    if (const auto found = LoaderOnDrive()) {
        generation = *found;
        Log(generation == LoaderGeneration::Nt6 ? L"先检测出BCD，正在建立Win6.x引导..."
                                                : L"检测出ntldr，正在建立Win5.x引导...");
    } else {
        const auto answer = progress_->Ask(
            L"未检测出有效的引导文件，请手工选择引导方案：\r点“是”建立Win6.x引导。\r点“否”建立Win5.x引导。");
        if (answer == MessageAnswer::Yes) {
            Log(L"正在建立Win6.x引导...");
        } else if (answer == MessageAnswer::No) {
            generation = LoaderGeneration::Nt5;
            Log(L"正在建立Win5.x引导...");
        } else {
            log_.Write(L"用户取消了修复");
            return RepairOutcome::Cancelled;
        }
    }
    WriteBootSector(generation);
    return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
}

void RepairJob::NoteFirmware() {
    const auto reading = files_.RunningFirmware();
    firmware_ = reading.firmware;
    log_.Write(std::wstring(L"本机当前的启动方式：") +
               (firmware_ == Firmware::Uefi   ? L"UEFI"
                : firmware_ == Firmware::Bios ? L"BIOS"
                : reading.error != 0 ? L"未知" + Reason({false, reading.error, reading.errorText})
                                     : L"未知"));
    const bool uefiRepair = request_->path == BootPath::Uefi;
    if (firmware_ == Firmware::Uefi && !uefiRepair) {
        Log(L"注意：本机当前以UEFI方式启动，修复的BIOS引导要在固件设置改为传统（BIOS/CSM）方式启动后才会生效。");
    } else if (firmware_ == Firmware::Bios && uefiRepair) {
        Log(L"注意：本机当前以BIOS（传统）方式启动，修复的UEFI引导要在固件设置改为UEFI方式启动后才会生效。");
    }
}

RepairOutcome RepairJob::RepairBootMenu() {
    const bool found6 = ScanWindows6();
    if (request_->path == BootPath::Uefi) {
        SkipWindows5Uefi();
        if (found6) {
            RunBootFilesTool(UefiStoreTimeoutCommand(bootDrive_));
        } else {
            Log(L"  未发现可以UEFI方式启动的Windows系统（6.x），不写入任何内容。");
        }
        // The firmware starts the EFI loader: no boot sector is written.
        return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复", !found6);
    }
    const bool found5 = ScanWindows5();
    if (found6 || found5) {
        return AssembleBootMenu(found6, found5);
    }
    return RepairWithoutInstallation();
}

void RepairJob::SkipWindows5Uefi() {
    Log(L"正在扫描分区中的5.x系统...");
    for (const auto& entry : request_->drives) {
        const auto scanned = Left(entry, 2);
        if (FileLength(scanned + L"\\windows\\regedit.exe") > kPresent &&
            FileLength(scanned + L"\\windows\\system32\\slmgr.vbs") < kPresent) {
            Log(L"  在 " + entry + L" 发现5.x系统，5.x系统不能以UEFI方式启动，已跳过。");
        }
    }
}

bool RepairJob::EnsureFolder(const std::wstring& path) {
    std::vector<FolderEntry> entries;
    if (files_.ListFolder(path, entries)) {
        return true;
    }
    // Each level that is missing, from the top; the manifest lists those the run made.
    std::wstring folder = Left(path, 2);
    for (const auto& part : SplitAll(path.substr(2), L"\\")) {
        if (!part.empty()) {
            folder += L"\\" + part;
            if (files_.CreateFolder(folder)) {
                backups_->NoteCreated(folder);
            }
        }
    }
    if (!files_.ListFolder(path, entries)) {
        Fail(L"    失败：无法创建 " + path);
        return false;
    }
    log_.Write(L"创建：" + path);
    return true;
}

RepairOutcome RepairJob::RepairFallbackLoader() {
    const auto source = bootDrive_ + L"\\EFI\\Microsoft\\Boot\\bootmgfw.efi";
    if (FileLength(source) <= kPresent) {
        Log(L"  " + bootDrive_ +
            L" 上没有 \\EFI\\Microsoft\\Boot\\bootmgfw.efi，不写入任何内容。请先运行引导菜单修复（不选“只修复引导”）。");
        return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复", true);
    }
    std::string header;
    files_.ReadFileStart(source, kPeHeaderRead, header);
    const auto name = FallbackLoaderName(header);
    if (!name) {
        Fail(L"  失败：无法识别 " + source + L" 的机器类型，未写入后备启动文件");
        return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
    }
    const auto target = bootDrive_ + L"\\EFI\\Boot\\" + *name;
    Log(L"检测出bootmgfw.efi，正在建立UEFI后备启动文件 \\EFI\\Boot\\" + *name + L"...");
    if (EnsureFolder(bootDrive_ + L"\\EFI\\Boot")) {
        ReplaceFile(source, target, L"  ");
    }
    return Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
}

bool RepairJob::ScanWindows6() {
    bool found = false;
    Log(L"正在扫描分区中的6.x系统...");
    for (const auto& entry : request_->drives) {
        const auto scanned = Left(entry, 2);
        if (FileLength(scanned + L"\\windows\\system32\\slmgr.vbs") > kPresent) {
            Log(L"  在 " + entry + L" 发现6.x系统，修复中...");
            found = true;
            WarnIfEncrypted(scanned);
            if (request_->path == BootPath::Uefi) {
                // bcdboot fails without the folder on recent Windows.
                if (EnsureFolder(bootDrive_ + L"\\EFI\\Microsoft\\Boot")) {
                    RunBootFilesTool(BootFilesCommand(scanned, bootDrive_, BootFilesFor::Uefi));
                }
            } else {
                // From a rescue system started through UEFI, bcdboot would otherwise build UEFI
                // boot files on the active partition and no BIOS ones.
                RunBootFilesTool(BootFilesCommand(scanned, bootDrive_,
                                                  firmware_ == Firmware::Uefi
                                                      ? BootFilesFor::Bios
                                                      : BootFilesFor::RunningFirmware));
            }
            continue;
        }
        // A locked volume hides its files: say so rather than count it as holding no Windows.
        std::vector<FolderEntry> entries;
        if (!files_.ListFolder(scanned + L"\\", entries) && HasBitLockerSignature(scanned)) {
            Log(L"  " + scanned + L" 是BitLocker加密卷（已锁定），无法检查其中的系统。");
        }
    }
    return found;
}

bool RepairJob::ScanWindows5() {
    bool found = false;
    Log(L"正在扫描分区中的5.x系统...");
    for (const auto& entry : request_->drives) {
        const auto scanned = Left(entry, 2);
        if (FileLength(scanned + L"\\windows\\regedit.exe") <= kPresent) {
            continue;
        }
        // Below 5, not below 6: a 5-byte slmgr.vbs makes the drive neither 6.x nor 5.x.
        if (FileLength(scanned + L"\\windows\\system32\\slmgr.vbs") >= kPresent) {
            continue;
        }
        Log(L"  在 " + entry + L" 发现5.x系统，修复中...");
        found = true;
        WarnIfEncrypted(scanned);
        if (FileLength(bootDrive_ + L"\\boot.ini") > kPresent) {
            Log(L"    存在Boot.ini保留并继续。");
        } else {
            Log(L"    不存在Boot.ini正在建立通用boot.ini ...");
            CopyLoaderSet();
        }
    }
    return found;
}

void RepairJob::CopyLoaderSet() {
    const auto ownFolder = files_.OwnFolder();
    for (const wchar_t* name : kLoaderSet) {
        if (Stopping()) {
            return;
        }
        const auto source = JoinPath(ownFolder, name);
        const auto target = bootDrive_ + name;
        if (!files_.FileLength(source)) {
            Fail(L"    失败：程序目录中缺少 " + source);
            continue;
        }
        ReplaceFile(source, target, L"    ");
    }
}

void RepairJob::ReplaceFile(const std::wstring& source, const std::wstring& target,
                            const std::wstring& indent) {
    if (const auto saved = backups_->SaveFile(target); !saved) {
        Fail(indent + L"失败：无法备份 " + target + Reason(saved) + L"，未复制 " + source);
        return;
    }
    // A protected loader file is replaced too.
    const bool targetExists = files_.FileLength(target).has_value();
    if (const auto cleared = files_.SetNormalAttributes(target); !cleared && targetExists) {
        Fail(indent + L"失败：无法清除 " + target + L" 的属性" + Reason(cleared));
    }
    log_.Flush();
    if (const auto copied = files_.CopyFileOver(source, target); !copied) {
        Fail(indent + L"失败：无法复制 " + source + L" 到 " + target + Reason(copied));
    } else {
        log_.Write(L"复制：" + source + L" → " + target);
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
        WriteBootSectorForLoader(LoaderGeneration::Nt6);
    } else if (found6) {
        RunBootFilesTool(StoreTimeoutCommand(bootDrive_));
        WriteBootSectorForLoader(LoaderGeneration::Nt6);
    } else {
        WriteBootSectorForLoader(LoaderGeneration::Nt5);
    }
    return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复");
}

RepairOutcome RepairJob::RepairWithoutInstallation() {
    const auto generation = LoaderOnDrive();
    if (!generation) {
        Log(L"  未发现任何Windows系统，" + bootDrive_ +
            L" 上也没有引导文件（\\boot\\bcd 或 \\ntldr），不写入任何内容。");
    } else {
        Log(L"  未发现任何Windows系统，按 " + bootDrive_ + L" 上已有的引导文件重写" +
            GenerationName(*generation) + L"引导扇区。");
        WriteBootSectorForLoader(*generation);
    }
    return Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复", !generation);
}

void RepairJob::WriteBootSectorForLoader(LoaderGeneration generation) {
    std::wstring missing;
    const auto required = generation == LoaderGeneration::Nt6
                              ? std::vector<std::wstring>{L"\\bootmgr", L"\\boot\\bcd"}
                              : std::vector<std::wstring>{L"\\ntldr"};
    for (const auto& path : required) {
        if (FileLength(bootDrive_ + path) <= kPresent) {
            missing += (missing.empty() ? L"" : L" 和 ") + path;
        }
    }
    if (!missing.empty()) {
        Fail(L"  失败：" + bootDrive_ + L" 上没有 " + missing + L"，未写入" +
             GenerationName(generation) + L"引导扇区");
        return;
    }
    WriteBootSector(generation);
}

void RepairJob::WriteBootSector(LoaderGeneration generation) {
    if (Stopping()) {
        return;
    }
    const auto command = BootSectorCommand(generation, bootDrive_);
    if (const auto saved = backups_->SaveVolumeStart(bootDrive_); !saved) {
        Fail(L"  失败：无法备份 " + bootDrive_ + L" 的引导扇区" + Reason(saved) + L"，未运行 " +
             command);
        return;
    }
    RunTool(command);
}

RepairOutcome RepairJob::Complete(const std::wstring& successLine, const std::wstring& kind,
                                  bool nothingToDo) {
    Log(L"");
    if (failures_ != 0) {
        Log(kind + L"结束，但有 " + DecimalText(failures_) + L" 个步骤失败！请查看上面的记录。");
        return RepairOutcome::StepsFailed;
    }
    if (nothingToDo) {
        Log(kind + L"结束，未做任何修改。请关闭。");
        return RepairOutcome::NothingWritten;
    }
    Log(successLine);
    return RepairOutcome::Succeeded;
}

void RepairJob::Log(const std::wstring& line) {
    // Once stopped, the window is closing: nothing more is reported.
    if (Stopping()) {
        return;
    }
    progress_->Line(line);
    log_.Write(L"记录：" + line);
}

void RepairJob::Fail(const std::wstring& line) {
    ++failures_;
    if (Stopping()) {
        // The window is closing, but the log file still learns what failed.
        log_.Write(L"记录：" + line);
        return;
    }
    Log(line);
}

std::int64_t RepairJob::FileLength(const std::wstring& path) const {
    return files_.FileLength(path).value_or(0);
}

void RepairJob::RunTool(const std::wstring& commandLine, bool failureExpected) {
    if (Stopping()) {
        return;
    }
    // Every tool here overwrites something: the record of what was saved goes to the disk first.
    log_.Flush();
    const auto result = runner_.Run(commandLine);
    const bool ok = result.status == RunStatus::Finished && result.exitCode == 0u;
    if (!ok && !failureExpected) {
        Fail(ToolFailure(commandLine, result));
    }
}

void RepairJob::RunBootFilesTool(const std::wstring& commandLine, bool failureExpected) {
    if (Stopping()) {
        return;
    }
    const auto saved = request_->path == BootPath::Uefi ? backups_->SaveEfiBootFiles(bootDrive_)
                                                        : backups_->SaveBootFiles(bootDrive_);
    if (!saved) {
        Fail(L"  失败：无法备份 " + bootDrive_ + L" 的启动文件" + Reason(saved) + L"，未运行 " +
             commandLine);
        return;
    }
    RunTool(commandLine, failureExpected);
}

bool RepairJob::HasBitLockerSignature(const std::wstring& drive) {
    std::string bytes;
    const std::string_view signature = kBitLockerSignature;
    return files_.ReadVolumeStart(drive, kBootSectorRead, bytes) &&
           bytes.size() >= 3 + signature.size() && bytes.compare(3, signature.size(), signature) == 0;
}

void RepairJob::WarnIfEncrypted(const std::wstring& drive) {
    if (HasBitLockerSignature(drive)) {
        Log(L"    警告：" + drive + L" 是BitLocker加密卷，修复后下次启动时可能要求输入恢复密钥。");
    }
}

}  // namespace kestrix
