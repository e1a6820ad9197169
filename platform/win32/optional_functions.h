#pragma once
// Windows functions that some supported Windows versions lack, looked up in one place. They are
// looked up once at start-up, before any second thread exists, and only read afterwards.
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

namespace kestrix::win32 {

struct OptionalFunctions {
    // Windows 7 with KB2533623 and later.
    BOOL(WINAPI* setDefaultDllDirectories)(DWORD) = nullptr;
    BOOL(WINAPI* wow64DisableFsRedirection)(PVOID*) = nullptr;
    BOOL(WINAPI* wow64RevertFsRedirection)(PVOID) = nullptr;
    // Windows 10 1607 and later.
    UINT(WINAPI* getDpiForWindow)(HWND) = nullptr;
    BOOL(WINAPI* adjustWindowRectExForDpi)(LPRECT, DWORD, BOOL, DWORD, UINT) = nullptr;
    // Windows 10 and later; before it a hash is made in three calls.
    NTSTATUS(WINAPI* bcryptHash)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG, PUCHAR,
                                 ULONG) = nullptr;
    // A 32-bit process on 64-bit Windows.
    bool wow64 = false;
};

extern OptionalFunctions optionalFunctions;

void LoadOptionalFunctions();

}  // namespace kestrix::win32
