#pragma once
// Runs one outside command line hidden and waits for its end. The caller's text is split into the
// program file and its parameters here, so every outside tool goes through the same rules.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/process.h"

namespace kestrix {

struct CommandParts {
    std::wstring file;
    std::wstring parameters;
};

// Trims U+0020 at both ends and appends exactly one space.
std::wstring NormaliseCommandLine(std::wstring_view commandLine);

// Splits a normalised line. Empty for a quoted line without a closing quote.
std::optional<CommandParts> SplitCommandLine(std::wstring_view normalisedLine);

// Where own-folder mode starts a program: the folder to make current and the bare name.
struct OwnFolderStart {
    std::wstring drive;
    std::wstring folder;
    std::wstring file;  // empty: the file had no last component
};

// Empty when the full path has no backslash.
std::optional<OwnFolderStart> ResolveOwnFolder(std::wstring_view ownFolder, std::wstring_view file);

enum class RunStatus {
    Finished,        // started, waited for (or not asked to) and the handle released
    NotStarted,      // the platform could not start it
    InvalidCommand,  // the line could not be split; nothing was started
    FolderFailed,    // own-folder mode could not make the drive or folder current
};

struct RunResult {
    RunStatus status = RunStatus::InvalidCommand;
    std::optional<std::uint32_t> exitCode;
    std::uint32_t error = 0;
    std::wstring errorText;
    CommandParts parts;
};

class CommandRunner {
public:
    CommandRunner(ProcessLauncher& launcher, FileSystem& files) : launcher_(launcher), files_(files) {}

    // Flags count as set when non-zero.
    RunResult RunAndWait(std::wstring_view commandLine, std::int16_t showMode,
                         std::int16_t waitForExit, std::int16_t inOwnFolder);

    // How every tool of the program runs: hidden, waited for, own-folder mode off.
    RunResult RunTool(std::wstring_view commandLine) { return RunAndWait(commandLine, 0, -1, 0); }

private:
    ProcessLauncher& launcher_;
    FileSystem& files_;
};

}  // namespace kestrix
