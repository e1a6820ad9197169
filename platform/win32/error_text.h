#pragma once
#include <windows.h>

#include <string>

namespace kestrix::win32 {

// The system's text for an error code, without the trailing line break.
std::wstring ErrorText(DWORD error);

}  // namespace kestrix::win32
