#pragma once
// Windows functions that some supported Windows versions lack, in one list, each typed by the
// declaration of the function itself. They are looked up once at start-up, before any second
// thread exists, and only read afterwards; each caller has its fallback beside the call.
#include <windows.h>

namespace kestrix::win32 {

// The declarations the pointers are typed by: the SDK's own where this program's target version
// declares the function, otherwise the documented one. Never called or defined.
namespace declared {
// Windows 7 with KB2533623 and later.
BOOL WINAPI SetDefaultDllDirectories(DWORD flags);
// Windows 10 1607 and later.
UINT WINAPI GetDpiForWindow(HWND window);
BOOL WINAPI AdjustWindowRectExForDpi(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi);
// Windows XP SP2 and later.
using ::IsWow64Process;
}  // namespace declared

// X(module, function): the module is loaded with the program, which imports something from each.
#define KESTRIX_OPTIONAL_FUNCTIONS(X)            \
    X(L"kernel32.dll", SetDefaultDllDirectories) \
    X(L"kernel32.dll", IsWow64Process)           \
    X(L"user32.dll", GetDpiForWindow)            \
    X(L"user32.dll", AdjustWindowRectExForDpi)

struct OptionalFunctions {
#define KESTRIX_OPTIONAL_FUNCTION_POINTER(module, function) \
    decltype(&declared::function) function = nullptr;
    KESTRIX_OPTIONAL_FUNCTIONS(KESTRIX_OPTIONAL_FUNCTION_POINTER)
#undef KESTRIX_OPTIONAL_FUNCTION_POINTER
    // A 32-bit process on 64-bit Windows.
    bool wow64 = false;
};

extern OptionalFunctions optionalFunctions;

void LoadOptionalFunctions();

}  // namespace kestrix::win32
