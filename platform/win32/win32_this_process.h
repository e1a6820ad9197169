#pragma once
#include "platform/this_process.h"

namespace kestrix::win32 {

// The process's own command line and current folder.
class Win32ThisProcess final : public ThisProcess {
public:
    std::wstring CommandLineArguments() const override;
    bool SetCurrentDrive(DriveLetter drive) override;
    bool SetCurrentFolder(const std::wstring& folder) override;
};

}  // namespace kestrix::win32
