#include "repair/repair_engine.h"

#include "platform/text.h"

namespace kestrix {

namespace {

// A file counts as present from 6 bytes on.
constexpr std::int64_t kPresent = 5;

constexpr const wchar_t* kLoaderSet[] = {L"\\boot.ini", L"\\BOOTFONT.BIN", L"\\NTLDR",
                                         L"\\NTDETECT.COM"};

std::wstring Reason(const FileResult& result) {
    if (result.error == 0) {
        return L"（" + result.errorText + L"）";
    }
    return L"（错误 " + DecimalText(result.error) + L"：" + result.errorText + L"）";
}

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

}  // namespace

int RepairEngine::ExitCode() const {
    switch (state_) {
        case State::Succeeded:
            return kExitSucceeded;
        case State::Running:
        case State::Failed:
            return kExitStepsFailed;
        case State::NotStarted:
        case State::NotRepaired:
            break;
    }
    return kExitNotRepaired;
}

void RepairEngine::an1_Click() {
    if (ch2_.IsLogVisible()) {
        session_.EndProgram(ExitCode());
    }
    ch2_.ShowLog();
    const auto bootDrive = Left(ch2_.PartitionText(), 2);
    if (bootDrive.empty() || bootDrive.back() != L':') {
        state_ = State::NotRepaired;
        log_.Write(L"分区 “" + ch2_.PartitionText() + L"” 被拒绝：卷标非法");
        session_.ShowMessage(L"卷标非法！", MessageButtons::Ok, MessageIcon::Exclamation);
        // Back to the selection view, so a corrected entry can be confirmed in the same run.
        ch2_.HideLog();
        return;
    }
    state_ = State::Running;
    failures_ = 0;
    log_.Open(bootDrive);
    log_.Write(L"开始修复 " + bootDrive + (ch1_.BootOnlyValue() == 1 ? L"（只修复引导）" : L"") +
               L"，记录目录：" + (log_.Folder().empty() ? L"无" : log_.Folder()));
    if (ch1_.BootOnlyValue() == 1) {
        RepairBootSector(bootDrive);
    } else {
        RepairBootMenu(bootDrive);
    }
}

void RepairEngine::RepairBootSector(const std::wstring& bootDrive) {
    // Any generation other than 5 writes the 6.x boot sector.
    LoaderGeneration generation = LoaderGeneration::Nt6;
    if (FileLength(bootDrive + L"\\boot\\bcd") > kPresent) {
        Log(L"先检测出BCD，正在建立Win6.x引导...");
    } else if (FileLength(bootDrive + L"\\ntldr") > kPresent) {
        Log(L"检测出ntldr，正在建立Win5.x引导...");
        generation = LoaderGeneration::Nt5;
    } else {
        const auto answer = session_.ShowMessage(
            L"未检测出有效的引导文件，请手工选择引导方案：\r点“是”建立Win6.x引导。\r点“否”建立Win5.x引导。",
            MessageButtons::YesNoCancel, MessageIcon::None);
        if (answer == MessageAnswer::Yes) {
            Log(L"正在建立Win6.x引导...");
        } else if (answer == MessageAnswer::No) {
            generation = LoaderGeneration::Nt5;
            Log(L"正在建立Win5.x引导...");
        } else {
            state_ = State::NotRepaired;
            log_.Write(L"用户取消了修复");
            session_.EndProgram(ExitCode());
        }
    }
    SaveVolumeStart(bootDrive);
    RunTool(BootSectorCommand(generation, bootDrive));
    Complete(L"纯引导修复完成！请关闭。", L"纯引导修复");
}

void RepairEngine::RepairBootMenu(const std::wstring& bootDrive) {
    const bool found6 = ScanWindows6(bootDrive);
    const bool found5 = ScanWindows5(bootDrive);
    AssembleBootMenu(bootDrive, found6, found5);
}

bool RepairEngine::ScanWindows6(const std::wstring& bootDrive) {
    bool found = false;
    Log(L"正在扫描分区中的6.x系统...");
    const int count = ch2_.DriveCount();
    for (int i = 0; i < count; ++i) {
        const auto scanned = Left(ch2_.DriveEntry(i), 2);
        if (FileLength(scanned + L"\\windows\\system32\\slmgr.vbs") > kPresent) {
            Log(L"  在 " + ch2_.DriveEntry(i) + L" 发现6.x系统，修复中...");
            found = true;
            SaveStore(bootDrive);
            RunTool(BootFilesCommand(scanned, bootDrive));
        }
    }
    return found;
}

bool RepairEngine::ScanWindows5(const std::wstring& bootDrive) {
    bool found = false;
    Log(L"正在扫描分区中的5.x系统...");
    const int count = ch2_.DriveCount();
    for (int i = 0; i < count; ++i) {
        const auto scanned = Left(ch2_.DriveEntry(i), 2);
        if (FileLength(scanned + L"\\windows\\regedit.exe") <= kPresent) {
            continue;
        }
        // Below 5, not below 6: a 5-byte slmgr.vbs makes the drive neither 6.x nor 5.x.
        if (FileLength(scanned + L"\\windows\\system32\\slmgr.vbs") >= kPresent) {
            continue;
        }
        Log(L"  在 " + ch2_.DriveEntry(i) + L" 发现5.x系统，修复中...");
        found = true;
        if (FileLength(bootDrive + L"\\boot.ini") > kPresent) {
            Log(L"    存在Boot.ini保留并继续。");
        } else {
            Log(L"    不存在Boot.ini正在建立通用boot.ini ...");
            CopyLoaderSet(bootDrive);
        }
    }
    return found;
}

void RepairEngine::CopyLoaderSet(const std::wstring& bootDrive) {
    const auto ownFolder = files_.OwnFolder();
    for (const wchar_t* name : kLoaderSet) {
        const auto source = JoinPath(ownFolder, name);
        const auto target = bootDrive + name;
        if (!files_.FileLength(source)) {
            Fail(L"    失败：程序目录中缺少 " + source);
            continue;
        }
        const bool targetExists = files_.FileLength(target).has_value();
        SaveFile(target, L"    ");
        if (const auto cleared = files_.SetNormalAttributes(target); !cleared && targetExists) {
            Fail(L"    失败：无法清除 " + target + L" 的属性" + Reason(cleared));
        }
        if (const auto copied = files_.CopyFileOver(source, target); !copied) {
            Fail(L"    失败：无法复制 " + source + L" 到 " + target + Reason(copied));
        } else {
            log_.Write(L"复制：" + source + L" → " + target);
        }
    }
}

void RepairEngine::AssembleBootMenu(const std::wstring& bootDrive, bool found6, bool found5) {
    if (found6 && found5) {
        const auto commands = BootMenuStoreCommands(bootDrive);
        for (std::size_t i = 0; i < commands.size(); ++i) {
            // The two creations fail when bcdboot.exe has made the object already; the settings
            // that follow fail if it is truly missing.
            RunTool(commands[i], i < 2);
        }
        SaveVolumeStart(bootDrive);
        RunTool(BootSectorCommand(LoaderGeneration::Nt6, bootDrive));
    } else if (found6) {
        RunTool(StoreTimeoutCommand(bootDrive));
        SaveVolumeStart(bootDrive);
        RunTool(BootSectorCommand(LoaderGeneration::Nt6, bootDrive));
    } else {
        SaveVolumeStart(bootDrive);
        RunTool(BootSectorCommand(LoaderGeneration::Nt5, bootDrive));
    }
    Complete(L"引导菜单修复完成！请关闭。", L"引导菜单修复");
}

void RepairEngine::Complete(const std::wstring& successLine, const std::wstring& kind) {
    Log(L"");
    if (failures_ == 0) {
        state_ = State::Succeeded;
        Log(successLine);
    } else {
        state_ = State::Failed;
        Log(kind + L"结束，但有 " + DecimalText(failures_) + L" 个步骤失败！请查看上面的记录。");
    }
    ch2_.SetTimerEnabled(true);
}

void RepairEngine::Log(const std::wstring& line) {
    ch2_.AppendLogLine(line);
    log_.Write(L"记录：" + line);
    if (!line.empty()) {
        session_.ProcessPendingEvents();
    }
}

void RepairEngine::Fail(const std::wstring& line) {
    ++failures_;
    Log(line);
}

std::int64_t RepairEngine::FileLength(const std::wstring& path) const {
    return files_.FileLength(path).value_or(0);
}

void RepairEngine::RunTool(const std::wstring& commandLine, bool failureExpected) {
    const auto result = runner_.Run(commandLine);
    const bool ok = result.status == RunStatus::Finished && result.exitCode == 0u;
    if (!ok && !failureExpected) {
        Fail(ToolFailure(commandLine, result));
    }
}

void RepairEngine::SaveStore(const std::wstring& bootDrive) {
    SaveFile(bootDrive + L"\\boot\\bcd", L"  ");
}

void RepairEngine::SaveVolumeStart(const std::wstring& bootDrive) {
    if (const auto saved = backups_.SaveVolumeStart(bootDrive); !saved) {
        Fail(L"  失败：无法备份 " + bootDrive + L" 的引导扇区" + Reason(saved));
    }
}

void RepairEngine::SaveFile(const std::wstring& path, const std::wstring& indent) {
    if (const auto saved = backups_.SaveFile(path); !saved) {
        Fail(indent + L"失败：无法备份 " + path + Reason(saved));
    }
}

}  // namespace kestrix
