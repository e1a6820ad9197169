#include "app/program.h"

#include "app/options.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kestrix {

namespace {

// A folder named without its drive lies in the program's folder.
std::wstring FullFolder(const std::wstring& folder, const std::wstring& ownFolder) {
    const auto onDrive = DrivePath::Parse(folder);
    const bool absolute = (onDrive && !onDrive->rest.empty()) || folder.starts_with(L"\\\\");
    return absolute || folder.empty() ? folder : JoinPath(ownFolder, folder);
}

}  // namespace

void Program::WindowProgress::Line(const std::wstring& line) {
    program_.session_.RunOnWindowThread([&] { program_.repairWindow_.AppendLogLine(line); });
}

void Program::WindowScanReport::Problem(const std::wstring& message,
                                       const std::wstring& instruction) {
    program_.session_.RunOnWindowThread([&] {
        program_.session_.ShowMessage(message, MessageButtons::Ok, MessageIcon::Exclamation);
        program_.repairWindow_.SetInstruction(instruction);
    });
}

MessageAnswer Program::WindowProgress::Ask(const std::wstring& question) {
    MessageAnswer answer = MessageAnswer::Cancel;
    program_.session_.RunOnWindowThread([&] {
        answer = program_.session_.ShowMessage(question, MessageButtons::YesNoCancel,
                                               MessageIcon::None);
    });
    return answer;
}

int Program::ExitCode() const {
    switch (phase_) {
        case Phase::Choosing:
            return kExitNotRepaired;
        case Phase::Repairing:
            return kExitStepsFailed;
        case Phase::Done:
            break;
    }
    switch (outcome_) {
        case RepairOutcome::Succeeded:
            return kExitSucceeded;
        case RepairOutcome::StepsFailed:
        case RepairOutcome::Interrupted:
            return kExitStepsFailed;
        case RepairOutcome::NothingWritten:
        case RepairOutcome::Cancelled:
            break;
    }
    return kExitNotRepaired;
}

void Program::Start() {
    // Every step's failure is a value that is passed over: start-up goes on with the next step.
    const auto ownFolder = files_.OwnFolder();
    if (const auto own = DrivePath::Parse(ownFolder)) {
        process_.SetCurrentDrive(own->drive);
    }
    process_.SetCurrentFolder(ownFolder);
    const auto options = ParseOptions(SplitArguments(process_.CommandLineArguments()));
    mode_ = options.mode;
    job_ = &JobOf(mode_);
    unattended_ = options.unattended;
    session_.SetUnattended(unattended_);
    if (options.silent) {
        startWindow_.Hide();
        // The program closes itself two seconds after the repair, unless the click spot is
        // clicked, and its exit code tells the script the outcome.
        closeWhenDone_ = true;
    }
    if (options.bootSectorOnly) {
        startWindow_.SetBootSectorOnly(true);
    }
    if (mode_ == Mode::Diagnose) {
        StartDiagnosis(options);
        return;
    }
    const bool undo = mode_ == Mode::Undo;
    const bool scan = !undo && !options.partition;
    if (scan && options.silent) {
        candidates_ = scan_.ScanActivePartitions(scanReport_);
        OfferCandidates();
    }
    // The start window is shown first; the repair window is made ready behind it while the user
    // reads it. A restore has nothing to choose there: the confirm button starts it.
    if (!options.silent && !undo) {
        startWindow_.Show();
    }
    repairWindow_.Hide();
    repairWindow_.SetTopmost();
    if (undo) {
        // Chosen before this run makes a folder of its own.
        if (!options.restoreFolder) {
            foundFolder_ = restoreJob_.NewestRunFolder();
        }
        const auto folder =
            options.restoreFolder ? FullFolder(*options.restoreFolder, ownFolder) : foundFolder_;
        if (folder.empty()) {
            repairWindow_.SetInstruction(L"没找到修复记录！请手工输入记录目录，不清楚请关闭。");
        } else {
            repairWindow_.AddPartition(folder);
            repairWindow_.SetPartitionText(folder);
            repairWindow_.SetInstruction(L"将按下面记录目录中的清单撤销修复，确认请点“确定”。");
        }
    } else if (options.partition) {
        repairWindow_.AddPartition(*options.partition);
        repairWindow_.SetPartitionText(*options.partition);
    }
    if (options.silent) {
        OnStartButton();
    } else if (undo) {
        repairWindow_.Show();
    } else if (scan) {
        scanning_ = true;
        session_.BlockSessionEnd(L"正在查找启动分区，请稍候……");
        // The scan's thread fills candidates_, which nothing reads until it is done.
        session_.RunInBackground([this] { candidates_ = scan_.ScanActivePartitions(scanReport_); },
                                 [this] { OnScanDone(); });
    }
}

Job& Program::JobOf(Mode mode) {
    switch (mode) {
        case Mode::Undo:
            return restoreJob_;
        case Mode::Diagnose:
            return diagnosis_;
        case Mode::Repair:
            break;
    }
    return repairJob_;
}

void Program::OfferCandidates() {
    for (const auto& candidate : candidates_) {
        repairWindow_.AddPartition(candidate.Text());
    }
    if (!candidates_.empty()) {
        repairWindow_.SelectPartition(0);
    }
}

void Program::OnScanDone() {
    scanning_ = false;
    session_.AllowSessionEnd();
    OfferCandidates();
    if (endWhenScanEnds_) {
        End(ExitCode());
    }
    if (startWhenScanEnds_) {
        OnStartButton();
    }
}

void Program::StartDiagnosis(const Options& options) {
    log_.StayInMemory();
    startWindow_.Hide();
    DiagnosisRequest request;
    request.kind = options.bootSectorOnly ? RepairKind::BootSectorOnly : RepairKind::BootMenu;
    if (options.partition) {
        request.only = DriveLetter::Parse(*options.partition);
        if (!request.only) {
            log_.Write(L"分区 “" + *options.partition + L"” 被拒绝：卷标非法");
            session_.ShowMessage(L"卷标非法！", MessageButtons::Ok, MessageIcon::Exclamation);
            End(kExitNotRepaired);
        }
    }
    diagnosis_.Prepare(request);
    repairWindow_.SetTopmost();
    repairWindow_.Show();
    repairWindow_.ShowProgress();
    StartJob();
}

void Program::OnStartButton() {
    if (scanning_) {
        startWhenScanEnds_ = true;
        return;
    }
    startWindow_.Hide();
    repairWindow_.Show();
    const int count = repairWindow_.PartitionCount();
    if (count == 1) {
        Confirm(false);
        return;
    }
    if (unattended_) {
        // Nobody is there to choose.
        log_.Write(mode_ == Mode::Undo ? std::wstring(L"无人值守：没有找到修复记录，不做撤销")
                                       : L"无人值守：" +
                                             (count == 0 ? std::wstring(L"没有候选分区")
                                                         : L"有 " + DecimalText(count) +
                                                               L" 个候选分区，需要人来选择") +
                                             L"，不做修复");
        End(ExitCode());
    }
}

void Program::Confirm(bool byPerson) {
    if (phase_ == Phase::Done) {
        End(ExitCode());
    }
    if (phase_ == Phase::Repairing) {
        return;
    }
    repairWindow_.ShowProgress();
    if (mode_ == Mode::Undo) {
        const auto folder =
            FullFolder(TrimSpaces(repairWindow_.PartitionText()), files_.OwnFolder());
        // A folder the program found is not one a person named.
        restoreJob_.Prepare({folder, byPerson && folder != foundFolder_});
        StartJob();
        return;
    }
    const auto target = ChosenCandidate();
    if (!target) {
        const auto text = repairWindow_.PartitionText();
        log_.Write(L"分区 “" + text + L"” 被拒绝：卷标非法");
        session_.ShowMessage(L"卷标非法！", MessageButtons::Ok, MessageIcon::Exclamation);
        if (unattended_) {
            End(ExitCode());
        }
        // Back to the selection view, so a corrected entry can be confirmed in the same run.
        repairWindow_.ShowSelection();
        return;
    }
    repairJob_.Prepare(
        {AsItBoots(*target, volumes_),
         startWindow_.BootSectorOnly() ? RepairKind::BootSectorOnly : RepairKind::BootMenu,
         volumes_.DriveEntries()});
    StartJob();
}

std::optional<BootCandidate> Program::ChosenCandidate() const {
    if (const auto chosen = repairWindow_.ChosenPartition();
        chosen && static_cast<std::size_t>(*chosen) < candidates_.size()) {
        return candidates_[static_cast<std::size_t>(*chosen)];
    }
    const auto text = repairWindow_.PartitionText();
    // Typed, or named with -d: the text begins with the drive.
    if (const auto drive = DriveLetter::Leading(text)) {
        return BootCandidate{*drive, BootPath::Bios, L""};
    }
    return std::nullopt;
}

void Program::StartJob() {
    phase_ = Phase::Repairing;
    repairWindow_.SetConfirmEnabled(false);
    if (!job_->OnlyReads()) {
        session_.BlockSessionEnd(L"正在修复引导，请稍候……");
    }
    session_.RunInBackground([this] { outcome_ = job_->Run(progress_); },
                             [this] { OnRepairDone(); });
}

void Program::OnRepairDone() {
    phase_ = Phase::Done;
    // The window cuts the report's long lines: the saved report is shown whole in the system's
    // Notepad.
    if (mode_ == Mode::Diagnose && !unattended_ && !diagnosis_.ReportPath().empty()) {
        const auto notepad = JoinPath(files_.SystemFolder(), L"notepad.exe");
        const auto report = diagnosis_.ReportPath();
        const auto error = session_.ShowFileIn(notepad, report);
        repairWindow_.AppendLogLine(error == 0 ? L"已在记事本中打开报告：" + report
                                               : L"无法启动记事本 " + notepad + L"（错误 " +
                                                     DecimalText(error) + L"），报告在：" + report);
    }
    if (!job_->OnlyReads()) {
        session_.AllowSessionEnd();
    }
    if (endWhenRepairEnds_ || outcome_ == RepairOutcome::Cancelled || unattended_) {
        End(ExitCode());
    }
    repairWindow_.SetConfirmEnabled(true);
    repairWindow_.SetAutoCloseTimer(true);
}

void Program::OnCloseRequest() {
    if (scanning_) {
        // A drive letter the scan is giving is taken back once it has been given.
        startWindow_.Hide();
        endWhenScanEnds_ = true;
        return;
    }
    if (phase_ != Phase::Repairing) {
        End(ExitCode());
    }
    if (endWhenRepairEnds_) {
        return;
    }
    if (!unattended_ && !job_->OnlyReads()) {
        const auto answer = session_.ShowMessage(
            L"修复正在进行，现在退出可能使系统无法启动。仍要退出吗？", MessageButtons::YesNo,
            MessageIcon::Warning);
        if (phase_ == Phase::Done && answer == MessageAnswer::Yes) {
            // The repair ended while the question was open.
            End(ExitCode());
        }
        if (phase_ != Phase::Repairing || answer != MessageAnswer::Yes) {
            return;
        }
    }
    // A tool is never killed in the middle of a write: the program ends once the job stops.
    endWhenRepairEnds_ = true;
    job_->RequestStop();
}

void Program::OnSessionEnd() {
    // Each window is told; the second is told while the first waits.
    if (!sessionEnding_) {
        sessionEnding_ = true;
        session_.StopShowingMessages();
        log_.Write(phase_ == Phase::Repairing && !job_->OnlyReads()
                       ? L"Windows 会话结束（注销或关机），当前步骤结束后中止修复"
                       : L"Windows 会话结束（注销或关机）");
    }
    End(ExitCode());
}

void Program::End(int exitCode) {
    // A diagnosis writes nothing and gives no letter: nothing to wait for.
    const bool writing = phase_ == Phase::Repairing && !job_->OnlyReads();
    if (phase_ == Phase::Repairing) {
        job_->RequestStop();
    }
    if ((scanning_ || writing) && !session_.WaitForBackground(kStepWaitMilliseconds)) {
        log_.Write(L"当前步骤 " + DecimalText(kStepWaitMilliseconds / 1000) +
                   L" 秒内未结束，不再等待");
    }
    session_.EndProgram(exitCode);
}

void Program::EndAtOnce(int exitCode) {
    log_.Write(exitCode == kExitOutOfMemory ? L"内存不足，程序立即结束"
                                            : L"程序内部错误，立即结束");
    session_.EndProgram(exitCode);
}

void Program::OnAutoCloseTimer() {
    repairWindow_.SetAutoCloseTimer(false);
    if (closeWhenDone_) {
        End(ExitCode());
    }
}

}  // namespace kestrix
