#pragma once
// Starting another program through the shell. The logic splits the command line itself and hands
// over the program file and its parameters.
#include <cstdint>
#include <optional>
#include <string>

namespace kestrix {

struct LaunchRequest {
    std::wstring file;
    std::wstring parameters;
    int showMode = 0;
    bool waitForExit = true;
};

struct LaunchResult {
    bool started = false;
    // Set when the start failed: the platform's error code and its text.
    std::uint32_t error = 0;
    std::wstring errorText;
    // Set when the program was waited for and its exit code could be read.
    std::optional<std::uint32_t> exitCode;
};

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    virtual LaunchResult Launch(const LaunchRequest& request) = 0;
};

}  // namespace kestrix
