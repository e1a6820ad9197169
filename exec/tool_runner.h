#pragma once
// Runs one outside tool, the program's only way of doing so. The tool is started by its full path:
// beside the program first (the technician's deliberate choice), then from Windows' system folder.
// Never from the current folder, the Windows folder or PATH, where anything could plant a
// same-named exe that would then run as administrator. It runs hidden and is waited for; its
// command line, output and outcome go into the run's log.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "exec/run_log.h"
#include "exec/tool_commands.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"

namespace kestrix {

// The full paths a tool is looked for at, in order. None for a name that is not a bare file name.
std::vector<std::wstring> ToolLocations(const std::wstring& ownFolder,
                                        const std::wstring& systemFolder, std::wstring_view name);

enum class RunStatus {
    Finished,    // started and waited for
    NotFound,    // in none of the places a tool is looked for; nothing was started
    NotStarted,  // found, but the platform could not start it
};

struct RunResult {
    RunStatus status = RunStatus::NotFound;
    std::optional<std::uint32_t> exitCode;
    std::uint32_t error = 0;
    std::wstring errorText;
    // The tool's bare name.
    std::wstring file;
    std::wstring output;
};

// Why a tool did not do its work, e.g. "返回 5"; empty when it finished with 0.
std::wstring RunProblem(const RunResult& result);

class ToolRunner {
  public:
    ToolRunner(ProcessLauncher& launcher, const Files& files, RunLog& log, const Clock& clock)
        : launcher_(launcher), files_(files), log_(log), clock_(clock) {}

    RunResult Run(const ToolCommand& command, OutputCodePage codePage = OutputCodePage::Oem);

  private:
    // Writes the log's line for each minute a tool is still running.
    struct Waiting final : LaunchProgress {
        Waiting(RunLog& log, std::wstring commandLine)
            : log(log), commandLine(std::move(commandLine)) {}
        void StillRunning(int minutes) override;
        RunLog& log;
        std::wstring commandLine;
    };

    ProcessLauncher& launcher_;
    const Files& files_;
    RunLog& log_;
    const Clock& clock_;
};

}  // namespace kestrix
