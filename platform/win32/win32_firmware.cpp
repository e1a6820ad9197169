#include "platform/win32/win32_firmware.h"

#include <windows.h>

#include "platform/win32/error_text.h"
#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

namespace {

// Reading firmware variables needs this privilege, which an administrator holds but has not
// enabled.
void EnableFirmwarePrivilege() {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                          token.put())) {
        return;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, SE_SYSTEM_ENVIRONMENT_NAME,
                              &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
}

}  // namespace

FirmwareReading Win32Firmware::RunningFirmware() const {
    EnableFirmwarePrivilege();
    // A dummy variable of the null GUID: BIOS answers ERROR_INVALID_FUNCTION; UEFI says that the
    // variable or its namespace is not there. (GetFirmwareType is newer, and a stub that aborts
    // under some Wine versions.)
    if (GetFirmwareEnvironmentVariableW(L"", L"{00000000-0000-0000-0000-000000000000}", nullptr,
                                        0) != 0) {
        return {Firmware::Uefi, 0, {}};
    }
    const DWORD error = GetLastError();
    switch (error) {
        case ERROR_INVALID_FUNCTION:
            return {Firmware::Bios, 0, {}};
        case ERROR_ENVVAR_NOT_FOUND:
        case ERROR_NOACCESS:
            return {Firmware::Uefi, 0, {}};
        default:
            // Anything else (the privilege refused, the call not implemented) tells nothing.
            return {Firmware::Unknown, error, ErrorText(error)};
    }
}

}  // namespace kestrix::win32
