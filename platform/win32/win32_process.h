#pragma once
#include "platform/process.h"

namespace kestrix::win32 {

// Starts a program by its full path with CreateProcessW, hidden, its standard output and standard
// error in one pipe that a thread of its own reads, and waits for it on the calling thread.
class Win32ProcessLauncher final : public ProcessLauncher {
public:
    LaunchResult Launch(const LaunchRequest& request, LaunchProgress& progress) override;
};

}  // namespace kestrix::win32
