#pragma once
// The repair that the confirm button starts: the boot-sector-only repair, or the boot-menu repair
// (installed-system scan, then boot-menu assembly). Every step is reported as a line of the
// progress log and of the run's log file; a step that fails is shown and counted, never hidden.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "exec/run_and_wait.h"
#include "exec/run_log.h"
#include "exec/tool_commands.h"
#include "platform/files.h"
#include "platform/windows.h"
#include "repair/backups.h"

namespace kestrix {

// Exit codes of the process.
inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitStepsFailed = 1;
inline constexpr int kExitNotRepaired = 2;

// A drive designator is a letter A to Z and a colon, nothing else.
bool IsDriveDesignator(std::wstring_view text);

class RepairEngine {
public:
    RepairEngine(const MainWindow& ch1, SelectionWindow& ch2, Session& session, FileSystem& files,
                 CommandRunner& runner, RunLog& log)
        : ch1_(ch1),
          ch2_(ch2),
          session_(session),
          files_(files),
          runner_(runner),
          log_(log),
          backups_(files, log, runner) {}

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
    // No installation found: the boot sector follows the boot files the drive holds, if any.
    void RepairWithoutInstallation(const std::wstring& bootDrive);
    // The boot-menu repair writes boot code only for a loader that is on the drive.
    void WriteBootSectorForLoader(const std::wstring& bootDrive, LoaderGeneration generation);
    void WriteBootSector(const std::wstring& bootDrive, LoaderGeneration generation);
    // nothingToDo: the repair found nothing it could rightly write.
    void Complete(const std::wstring& successLine, const std::wstring& kind,
                  bool nothingToDo = false);

    void Log(const std::wstring& line);
    void Fail(const std::wstring& line);
    // 0 for a missing or unreadable file.
    std::int64_t FileLength(const std::wstring& path) const;
    // Runs a tool; a tool that could not start or ended with a non-zero code is a failed step
    // unless the caller expects that failure.
    void RunTool(const std::wstring& commandLine, bool failureExpected = false);
    // Runs a tool that rebuilds the boot files, only once they are all saved.
    void RunBootFilesTool(const std::wstring& bootDrive, const std::wstring& commandLine,
                          bool failureExpected = false);
    // The generation that the boot files on the drive call for: \boot\bcd first, then \ntldr.
    std::optional<LoaderGeneration> LoaderOnDrive(const std::wstring& bootDrive) const;
    bool HasBitLockerSignature(const std::wstring& drive);
    void WarnIfEncrypted(const std::wstring& drive);

    const MainWindow& ch1_;
    SelectionWindow& ch2_;
    Session& session_;
    FileSystem& files_;
    CommandRunner& runner_;
    RunLog& log_;
    Backups backups_;
    State state_ = State::NotStarted;
    int failures_ = 0;
};

}  // namespace kestrix
