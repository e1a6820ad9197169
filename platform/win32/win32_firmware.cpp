#include "platform/win32/win32_firmware.h"

#include <windows.h>

#include <utility>

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

// Far above any signature database a firmware holds; a bigger answer is not worth the memory.
constexpr DWORD kMaxVariableSize = 1u << 20;

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

VariableReading Win32Firmware::ReadVariable(const std::wstring& name,
                                            const std::wstring& vendor) const {
    EnableFirmwarePrivilege();
    // db is some KiB; the buffer doubles while Windows says it is too small.
    std::string bytes(4096, '\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD got = GetFirmwareEnvironmentVariableW(
            name.c_str(), vendor.c_str(), bytes.data(), static_cast<DWORD>(bytes.size()));
        const DWORD error = got == 0 ? GetLastError() : ERROR_SUCCESS;
        if (error == ERROR_SUCCESS) {
            bytes.resize(got);
            return {true, std::move(bytes), 0};
        }
        if (error != ERROR_INSUFFICIENT_BUFFER || bytes.size() >= kMaxVariableSize) {
            return {false, {}, error};
        }
        bytes.resize(bytes.size() * 2);
    }
}

}  // namespace kestrix::win32
