#pragma once
// The repair that the confirm button starts: the boot-sector-only repair, or the boot-menu repair
// (installed-system scan, then boot-menu assembly). Every step is reported as a line of the
// progress log.
#include <cstdint>
#include <string>

#include "exec/run_and_wait.h"
#include "exec/tool_commands.h"
#include "platform/files.h"
#include "platform/windows.h"

namespace kestrix {

// Exit codes of the process.
inline constexpr int kExitDone = 0;

class RepairEngine {
public:
    RepairEngine(const MainWindow& ch1, SelectionWindow& ch2, Session& session, FileSystem& files,
                 CommandRunner& runner)
        : ch1_(ch1), ch2_(ch2), session_(session), files_(files), runner_(runner) {}

    void an1_Click();

private:
    void RepairBootSector(const std::wstring& bootDrive);
    void RepairBootMenu(const std::wstring& bootDrive);
    bool ScanWindows6(const std::wstring& bootDrive);
    bool ScanWindows5(const std::wstring& bootDrive);
    void CopyLoaderSet(const std::wstring& bootDrive);
    void AssembleBootMenu(const std::wstring& bootDrive, bool found6, bool found5);

    void Log(const std::wstring& line);
    // 0 for a missing or unreadable file.
    std::int64_t FileLength(const std::wstring& path) const;
    void RunTool(const std::wstring& commandLine);

    const MainWindow& ch1_;
    SelectionWindow& ch2_;
    Session& session_;
    FileSystem& files_;
    CommandRunner& runner_;
};

}  // namespace kestrix
