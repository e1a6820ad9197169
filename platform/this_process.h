#pragma once
// What the program learns and sets about its own process at start: its arguments and its current
// drive and folder.
#include <string>

namespace kestrix {

class ThisProcess {
public:
    virtual ~ThisProcess() = default;
    // The command-line arguments: everything after the program's own name.
    virtual std::wstring CommandLineArguments() const = 0;
    // Makes the drive named by a letter and a colon current.
    virtual bool SetCurrentDrive(const std::wstring& drive) = 0;
    virtual bool SetCurrentFolder(const std::wstring& folder) = 0;
};

}  // namespace kestrix
