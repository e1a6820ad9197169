#pragma once
#include <windows.h>

#include <string>

#include "platform/files.h"

namespace kestrix::win32 {

// The system's text for an error code, without the trailing line break.
std::wstring ErrorText(DWORD error);

// The calling thread's last error as a failed result.
FileResult LastError();
// Success, or the last error when a call returned FALSE.
FileResult Check(BOOL ok);

}  // namespace kestrix::win32
