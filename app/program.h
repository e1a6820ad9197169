#pragma once
// The program's own logic over its two windows: start-up, the hand-over from the start window to
// the repair window, the repair (or with "-r" the restore) that the confirm button starts in the
// background (with "-i" the diagnosis, started at once), and when the program ends. The Win32
// layer forwards each window event to the handler named for it.
#include "app/logged_session.h"
#include "app/options.h"
#include "diagnosis/diagnosis_job.h"
#include "exec/run_log.h"
#include "partitions/partition_scan.h"
#include "platform/exit_codes.h"
#include "platform/files.h"
#include "platform/this_process.h"
#include "platform/volumes.h"
#include "platform/windows.h"
#include "repair/repair_job.h"
#include "repair/restore_job.h"

namespace kestrix {

class Program {
  public:
    Program(StartWindow& startWindow, RepairWindow& repairWindow, LoggedSession& session,
            ThisProcess& process, const Files& files, const Volumes& volumes, PartitionScan& scan,
            RepairJob& job, RestoreJob& restoreJob, DiagnosisJob& diagnosis, RunLog& log)
        : startWindow_(startWindow),
          repairWindow_(repairWindow),
          session_(session),
          process_(process),
          files_(files),
          volumes_(volumes),
          scan_(scan),
          repairJob_(job),
          restoreJob_(restoreJob),
          diagnosis_(diagnosis),
          log_(log),
          progress_(*this),
          scanReport_(*this) {}

    // At process start: reads the options, shows the start window and finds the partitions on a
    // thread of their own while the user reads it; in silent mode finds them first and goes on by
    // itself.
    void Start();
    void OnStartButton();
    void OnConfirm() { Confirm(true); }
    // A close request of either window.
    void OnCloseRequest();
    // Windows asks whether its session may end (a log-off or a shutdown): not while a job writes.
    // Held while the scan may be giving a partition a drive letter for the run, which must be taken
    // back, and while a repair writes.
    bool OnQueryEndSession() const {
        return !scanning_ && (job_->OnlyReads() || phase_ != Phase::Repairing);
    }
    // The session ends whatever was answered: no box, no further step, and the program ends once
    // the step in progress has.
    [[noreturn]] void OnSessionEnd();
    void OnAutoCloseTimer();
    void OnKeepOpenClick() { repairWindow_.SetAutoCloseTimer(false); }

    // What the process reports if it ends now: 0 repaired (restored), 1 a step (an item) failed or
    // the job was cut short, 2 nothing was repaired (restored).
    int ExitCode() const;

    // Every way out but a failed allocation (a job's end, a close, the session's end, a WM_QUIT, a
    // window that cannot be made): a job that runs is stopped between two steps and the listing
    // or the job is waited for (kStepWaitMilliseconds at most), so that a write is never cut in
    // the middle and a letter given for the run is given before it is taken back; then the
    // session's end takes the letters back and ends the process.
    [[noreturn]] void End(int exitCode);
    // Memory ran out or the program failed itself, on any thread: the letters are taken back as
    // far as they can be, without waiting for the work in progress, and the process ends.
    [[noreturn]] void EndAtOnce(int exitCode);

  private:
    // Carries the job's reports from its thread to the window.
    class WindowProgress final : public RepairProgress {
      public:
        explicit WindowProgress(Program& program) : program_(program) {}
        void Line(const std::wstring& line) override;
        MessageAnswer Ask(const std::wstring& question) override;

      private:
        Program& program_;
    };

    // Carries the scan's problems from its thread to the windows.
    class WindowScanReport final : public ScanProgress {
      public:
        explicit WindowScanReport(Program& program) : program_(program) {}
        void Problem(const std::wstring& message, const std::wstring& instruction) override;

      private:
        Program& program_;
    };

    enum class Phase { Choosing, Repairing, Done };

    Job& JobOf(Mode mode);
    // The scan's candidates, into the repair window's list, in their order.
    void OfferCandidates();
    void OnScanDone();

    // The job of the run's mode, on its own thread.
    void StartJob();
    // The confirm button, or the start of the one candidate by itself.
    void Confirm(bool byPerson);
    // The candidate chosen in the partition field: one the scan offered, else a drive typed there.
    std::optional<BootCandidate> ChosenCandidate() const;
    void OnRepairDone();
    // "-i": the diagnosis in the repair window, at once; it writes no log to any disk.
    void StartDiagnosis(const Options& options);

    StartWindow& startWindow_;
    RepairWindow& repairWindow_;
    LoggedSession& session_;
    ThisProcess& process_;
    const Files& files_;
    const Volumes& volumes_;
    PartitionScan& scan_;
    RepairJob& repairJob_;
    RestoreJob& restoreJob_;
    DiagnosisJob& diagnosis_;
    RunLog& log_;
    WindowProgress progress_;
    WindowScanReport scanReport_;

    Phase phase_ = Phase::Choosing;
    // What the options ask for, and its job: the confirm button starts it ("-i" at once). With
    // "-r" the partition field holds the run folder to undo.
    Mode mode_ = Mode::Repair;
    Job* job_ = &repairJob_;
    // What the scan offered.
    std::vector<BootCandidate> candidates_;
    // The scan runs on its own thread behind the start window; a press of its button, or a close,
    // waits for it.
    bool scanning_ = false;
    bool startWhenScanEnds_ = false;
    bool endWhenScanEnds_ = false;
    // "-r" without a folder: the one the program found.
    std::wstring foundFolder_;
    RepairOutcome outcome_ = RepairOutcome::NothingWritten;
    // Silent mode: the program closes itself two seconds after the repair.
    bool closeWhenDone_ = false;
    // Unattended: no box waits for a person and the program always ends by itself.
    bool unattended_ = false;
    // The window was closed during the repair: the program ends when the job has stopped.
    bool endWhenRepairEnds_ = false;
    // Windows has told that its session ends.
    bool sessionEnding_ = false;
};

}  // namespace kestrix
