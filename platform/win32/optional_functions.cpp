#include "platform/win32/optional_functions.h"

namespace kestrix::win32 {

OptionalFunctions optionalFunctions;

namespace {

template <typename Function>
void Find(Function& target, HMODULE module, const char* name) {
    target = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

void LoadOptionalFunctions() {
    auto& f = optionalFunctions;
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const HMODULE user = GetModuleHandleW(L"user32.dll");
    Find(f.setDefaultDllDirectories, kernel, "SetDefaultDllDirectories");
    Find(f.wow64DisableFsRedirection, kernel, "Wow64DisableWow64FsRedirection");
    Find(f.wow64RevertFsRedirection, kernel, "Wow64RevertWow64FsRedirection");
    Find(f.getDpiForWindow, user, "GetDpiForWindow");
    Find(f.adjustWindowRectExForDpi, user, "AdjustWindowRectExForDpi");
    // Loaded with the program, which imports it.
    Find(f.bcryptHash, GetModuleHandleW(L"bcrypt.dll"), "BCryptHash");
    BOOL(WINAPI * isWow64Process)(HANDLE, PBOOL) = nullptr;
    Find(isWow64Process, kernel, "IsWow64Process");
    BOOL wow64 = FALSE;
    f.wow64 = isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace kestrix::win32
