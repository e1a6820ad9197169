#include "repair/repair_engine.h"

#include "platform/text.h"

namespace kestrix {

namespace {

// A file counts as present from 6 bytes on.
constexpr std::int64_t kPresent = 5;

constexpr const wchar_t* kLoaderSet[] = {L"\\boot.ini", L"\\BOOTFONT.BIN", L"\\NTLDR",
                                         L"\\NTDETECT.COM"};

std::wstring JoinFolder(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && folder.back() == L'\\') {
        return folder + name.substr(1);
    }
    return folder + name;
}

}  // namespace

void RepairEngine::an1_Click() {
    if (ch2_.IsLogVisible()) {
        session_.EndProgram(kExitDone);
    }
    ch2_.ShowLog();
    const auto bootDrive = Left(ch2_.PartitionText(), 2);
    if (bootDrive.empty() || bootDrive.back() != L':') {
        session_.ShowMessage(L"卷标非法！", MessageButtons::Ok, MessageIcon::Exclamation);
        return;
    }
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
        generation = LoaderGeneration::Nt6;
    } else if (FileLength(bootDrive + L"\\ntldr") > kPresent) {
        Log(L"检测出ntldr，正在建立Win5.x引导...");
        generation = LoaderGeneration::Nt5;
    } else {
        const auto answer = session_.ShowMessage(
            L"未检测出有效的引导文件，请手工选择引导方案：\r点“是”建立Win6.x引导。\r点“否”建立Win5.x引导。",
            MessageButtons::YesNoCancel, MessageIcon::None);
        if (answer == MessageAnswer::Yes) {
            generation = LoaderGeneration::Nt6;
            Log(L"正在建立Win6.x引导...");
        } else if (answer == MessageAnswer::No) {
            generation = LoaderGeneration::Nt5;
            Log(L"正在建立Win5.x引导...");
        } else {
            session_.EndProgram(kExitDone);
        }
    }
    RunTool(BootSectorCommand(generation, bootDrive));
    Log(L"");
    Log(L"纯引导修复完成！请关闭。");
    ch2_.SetTimerEnabled(true);
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
        files_.SetNormalAttributes(bootDrive + name);
        files_.CopyFileOver(JoinFolder(ownFolder, name), bootDrive + name);
    }
}

void RepairEngine::AssembleBootMenu(const std::wstring& bootDrive, bool found6, bool found5) {
    if (found6 && found5) {
        for (const auto& command : BootMenuStoreCommands(bootDrive)) {
            RunTool(command);
        }
        RunTool(BootSectorCommand(LoaderGeneration::Nt6, bootDrive));
    } else if (found6) {
        RunTool(StoreTimeoutCommand(bootDrive));
        RunTool(BootSectorCommand(LoaderGeneration::Nt6, bootDrive));
    } else {
        RunTool(BootSectorCommand(LoaderGeneration::Nt5, bootDrive));
    }
    Log(L"");
    Log(L"引导菜单修复完成！请关闭。");
    ch2_.SetTimerEnabled(true);
}

void RepairEngine::Log(const std::wstring& line) {
    ch2_.AppendLogLine(line);
    if (!line.empty()) {
        session_.ProcessPendingEvents();
    }
}

std::int64_t RepairEngine::FileLength(const std::wstring& path) const {
    return files_.FileLength(path).value_or(0);
}

void RepairEngine::RunTool(const std::wstring& commandLine) {
    runner_.RunTool(commandLine);
}

}  // namespace kestrix
