#pragma once
// What the program learns and sets about its own process at start: its arguments and its current
// drive and folder.
#include <string>

#include "platform/drive_letter.h"

namespace kestrix {

class ThisProcess {
public:
    virtual ~ThisProcess() = default;
    // The command-line arguments: everything after the program's own name.
    virtual std::wstring CommandLineArguments() const = 0;
    virtual bool SetCurrentDrive(DriveLetter drive) = 0;
    virtual bool SetCurrentFolder(const std::wstring& folder) = 0;
};

}  // namespace kestrix
