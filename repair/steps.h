#pragma once
// What every job does, step by step, and how each step's outcome is told: a line in the window and
// in kestrix.log, a failed step counted, a tool run (one that overwrites something only once that
// is saved), a file replaced once saved, a folder made. Once a stop is asked for, no further step
// starts and nothing more reaches the window; a failure still reaches the log file.
#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "exec/run_log.h"
#include "exec/tool_runner.h"
#include "platform/files.h"
#include "platform/volumes.h"
#include "platform/windows.h"
#include "repair/backups.h"

namespace kestrix {

// A failure's reason for a log line: "（错误 5：拒绝访问。）".
std::wstring Reason(const FileResult& result);

// Puts a new file in the place of target whole or not at all: write makes it beside the target
// under a temporary name, it is flushed, the old file's attributes are cleared (Windows replaces
// no read-only file), it is moved over the old one, then given these attributes. On a failure the
// temporary is removed and the old file is left as it was, its attributes included.
FileResult ReplaceWhole(Files& files, const std::wstring& target, std::uint32_t attributes,
                        const std::function<FileResult(const std::wstring&)>& write);

enum class RepairOutcome {
    Succeeded,       // every step succeeded
    StepsFailed,     // the job ran, some step failed
    NothingWritten,  // nothing could rightly be written
    Cancelled,       // the user cancelled the question
    Interrupted,     // stopped between two steps
};

class RepairProgress {
public:
    virtual ~RepairProgress() = default;
    // A line of the progress log; lines of a sub-step are indented.
    virtual void Line(const std::wstring& line) = 0;
    // A Yes/No/Cancel question, Yes the default.
    virtual MessageAnswer Ask(const std::wstring& question) = 0;
};

// A repair or an undo, run on a thread of its own; the program runs whichever it was given.
class Job {
public:
    virtual ~Job() = default;
    virtual RepairOutcome Run(RepairProgress& progress) = 0;
    // From any thread: no further step starts; the one that is running is let finish.
    virtual void RequestStop() = 0;
    // A job that only reads: the session may end during it, and it stops without a question.
    virtual bool OnlyReads() const { return false; }
};

class Steps {
public:
    Steps(Files& files, const Volumes& volumes, ToolRunner& runner, RunLog& log)
        : files_(files), volumes_(volumes), runner_(runner), log_(log) {}

    // A new run: no step failed yet, and its own backups.
    void Begin(RepairProgress& progress);
    // The run's log, opened on the first of the drives that holds the run folder; its first line
    // says what the run does ("what") and names that folder.
    void OpenLog(const std::vector<DriveLetter>& runFolderDrives, const std::wstring& what);
    // The end of the run: one stopped between two steps (and not cancelled) is Interrupted, the
    // log saying so ("stopped"); what it created is entered, the log reaches the disk.
    RepairOutcome End(RepairOutcome outcome, const std::wstring& stopped);
    Backups& Saved() { return *backups_; }

    void Line(const std::wstring& line);
    MessageAnswer Ask(const std::wstring& question) { return progress_->Ask(question); }
    void Fail(const std::wstring& line);
    int Failures() const { return failures_; }
    bool Stopping() const { return stopRequested_; }
    void RequestStop() { stopRequested_ = true; }

    // Runs a tool; one that cannot start or ends with a non-zero code is a failed step unless
    // the command expects that failure. True when it ran and succeeded.
    bool RunTool(const ToolCommand& command);
    // Runs a tool only once what it overwrites ("what") is saved; a failed backup is a failed
    // step and the tool does not run.
    void RunToolOnceSaved(const std::function<FileResult()>& save, const std::wstring& what,
                          const ToolCommand& command);
    // Copies over a file once it is saved, whole or not at all; the copy keeps the source's
    // attributes.
    void ReplaceFile(const std::wstring& source, const std::wstring& target,
                     const std::wstring& indent);
    // Creates a folder and the ones above it when missing; a failure is a failed step.
    bool EnsureFolder(const std::wstring& path);

private:
    Files& files_;
    const Volumes& volumes_;
    ToolRunner& runner_;
    RunLog& log_;
    std::atomic<bool> stopRequested_{false};
    RepairProgress* progress_ = nullptr;
    std::optional<Backups> backups_;
    int failures_ = 0;
};

}  // namespace kestrix
