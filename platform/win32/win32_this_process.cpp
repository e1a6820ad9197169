#include "platform/win32/win32_this_process.h"

#include <windows.h>

#include <string>

namespace kestrix::win32 {

namespace {

// The text after the program's own name in a raw command line.
std::wstring ArgumentsOf(const wchar_t* commandLine) {
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') {
            ++p;
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t') {
            ++p;
        }
    }
    // The one separator after the program's name is not part of the arguments.
    if (*p == L' ' || *p == L'\t') {
        ++p;
    }
    return p;
}

}  // namespace

std::wstring Win32ThisProcess::CommandLineArguments() const {
    return ArgumentsOf(GetCommandLineW());
}

bool Win32ThisProcess::SetCurrentDrive(DriveLetter drive) {
    return SetCurrentDirectoryW(drive.Text().c_str()) != FALSE;
}

bool Win32ThisProcess::SetCurrentFolder(const std::wstring& folder) {
    return !folder.empty() && SetCurrentDirectoryW(folder.c_str()) != FALSE;
}

}  // namespace kestrix::win32
