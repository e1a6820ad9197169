#pragma once
// Starting an outside program by its full path, hidden, and waiting for its end on the calling
// thread. What it writes to standard output and standard error comes back as text.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/command_line.h"

namespace kestrix {

// The code page of a program's redirected output: console tools write the OEM one, the partition
// lister the ANSI one.
enum class OutputCodePage { Oem, Ansi };

struct LaunchRequest {
    // The exe's full path: the platform searches nothing.
    std::wstring program;
    // The arguments after the program's name.
    std::vector<Argument> arguments;
    OutputCodePage codePage = OutputCodePage::Oem;
    // The files the program is documented to create (full paths): a launcher that only plans puts
    // them in their place, as the program would have; one that starts it has no use for them.
    std::vector<std::wstring> leaves;

    // The command line after the program's name, quoted as the program reads it back.
    std::wstring Parameters() const { return JoinArguments(arguments); }
};

struct LaunchResult {
    bool started = false;
    // Set when the start failed: the platform's error code and its text.
    std::uint32_t error = 0;
    std::wstring errorText;
    // Set when the exit code could be read.
    std::optional<std::uint32_t> exitCode;
    // Standard output and standard error together, in the order written, up to a limit.
    std::wstring output;
    // How many bytes of output came past that limit and were not kept.
    std::uint64_t outputDropped = 0;
};

// What the launcher reports while it waits, on the launching thread.
class LaunchProgress {
public:
    virtual ~LaunchProgress() = default;
    // Each full minute the program is still running: 1, 2, ...
    virtual void StillRunning(int minutes) = 0;
};

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    virtual LaunchResult Launch(const LaunchRequest& request, LaunchProgress& progress) = 0;
};

}  // namespace kestrix
