#pragma once
// The repair that the confirm button starts: the boot-sector-only repair, or the boot-menu repair
// (installed-system scan, then boot-menu assembly). Every step is reported as a line of the
// progress log and of the run's log file; a step that fails is shown and counted, never hidden.
#include <cstdint>
#include <string>

#include "exec/run_log.h"
#include "exec/tool_commands.h"
#include "exec/tool_runner.h"
#include "platform/files.h"
#include "platform/windows.h"
#include "repair/backups.h"

namespace kestrix {

// Exit codes of the process.
inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitStepsFailed = 1;
inline constexpr int kExitNotRepaired = 2;

class RepairEngine {
public:
    RepairEngine(const MainWindow& ch1, SelectionWindow& ch2, Session& session, FileSystem& files,
                 ToolRunner& runner, RunLog& log)
        : ch1_(ch1),
          ch2_(ch2),
          session_(session),
          files_(files),
          runner_(runner),
          log_(log),
          backups_(files, log) {}

    void an1_Click();

    // What the process reports when it ends now: 0 repaired, 1 a step failed or the repair was
    // cut short, 2 nothing was repaired (no repair yet, a rejected drive, a cancelled question).
    int ExitCode() const;

private:
    enum class State { NotStarted, Running, Succeeded, Failed, NotRepaired };

    void RepairBootSector(const std::wstring& bootDrive);
    void RepairBootMenu(const std::wstring& bootDrive);
    bool ScanWindows6(const std::wstring& bootDrive);
    bool ScanWindows5(const std::wstring& bootDrive);
    void CopyLoaderSet(const std::wstring& bootDrive);
    void AssembleBootMenu(const std::wstring& bootDrive, bool found6, bool found5);
    void Complete(const std::wstring& successLine, const std::wstring& kind);

    void Log(const std::wstring& line);
    void Fail(const std::wstring& line);
    // 0 for a missing or unreadable file.
    std::int64_t FileLength(const std::wstring& path) const;
    // Runs a tool; a tool that could not start or ended with a non-zero code is a failed step
    // unless the caller expects that failure.
    void RunTool(const std::wstring& commandLine, bool failureExpected = false);
    void SaveStore(const std::wstring& bootDrive);
    void SaveVolumeStart(const std::wstring& bootDrive);
    void SaveFile(const std::wstring& path, const std::wstring& indent);

    const MainWindow& ch1_;
    SelectionWindow& ch2_;
    Session& session_;
    FileSystem& files_;
    ToolRunner& runner_;
    RunLog& log_;
    Backups backups_;
    State state_ = State::NotStarted;
    int failures_ = 0;
};

}  // namespace kestrix
