#pragma once
#include "platform/process.h"

namespace kestrix::win32 {

// Starts a program through the shell with the "open" verb and waits for it on the calling thread.
class Win32ProcessLauncher final : public ProcessLauncher {
public:
    LaunchResult Launch(const LaunchRequest& request) override;
};

}  // namespace kestrix::win32
