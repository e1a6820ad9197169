#include "platform/win32/win32_process.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/error_text.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

namespace {

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring OwnFolderPath(const std::wstring& name) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

// Turns file-system redirection off for a 32-bit process on 64-bit Windows while it lives.
class RedirectionOff {
public:
    RedirectionOff() {
        using DisableFn = BOOL(WINAPI*)(PVOID*);
        const auto disable = reinterpret_cast<DisableFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Wow64DisableWow64FsRedirection")));
        active_ = disable != nullptr && disable(&old_);
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;
    ~RedirectionOff() {
        using RevertFn = BOOL(WINAPI*)(PVOID);
        const auto revert = reinterpret_cast<RevertFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "Wow64RevertWow64FsRedirection")));
        if (active_ && revert != nullptr) {
            revert(old_);
        }
    }

private:
    PVOID old_ = nullptr;
    bool active_ = false;
};

// A 32-bit process on 64-bit Windows would find System32's tools in SysWOW64, where bcdboot.exe
// does not exist: a bare name that is not beside the program or in the current folder is started
// from the real System32.
struct NativeStart {
    std::wstring file;
    bool turnRedirectionOff = false;
};

NativeStart ResolveNative(const std::wstring& file) {
    if (!IsWow64() || file.find_first_of(L"\\/:") != std::wstring::npos || Exists(file) ||
        Exists(OwnFolderPath(file))) {
        return {file, false};
    }
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {file, false};
    }
    const std::wstring root(windows, length);
    if (Exists(root + L"\\Sysnative")) {
        const std::wstring native = root + L"\\Sysnative\\" + file;
        return {Exists(native) ? native : file, false};
    }
    return {file, true};
}

}  // namespace

LaunchResult Win32ProcessLauncher::Launch(const LaunchRequest& request) {
    LaunchResult result;
    const NativeStart start = ResolveNative(request.file);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // NOASYNC: the start completes before we return; FLAG_NO_UI: a failed start shows no box.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = start.file.c_str();
    info.lpParameters = request.parameters.c_str();
    // No working folder: the program inherits ours.
    info.lpDirectory = nullptr;
    info.nShow = request.showMode;
    BOOL ok = FALSE;
    DWORD error = 0;
    if (start.turnRedirectionOff) {
        RedirectionOff off;
        ok = ShellExecuteExW(&info);
        error = ok ? 0 : GetLastError();
    } else {
        ok = ShellExecuteExW(&info);
        error = ok ? 0 : GetLastError();
    }
    UniqueProcessHandle process(info.hProcess);
    if (!process) {
        result.error = error != 0 ? error : ERROR_FILE_NOT_FOUND;
        result.errorText = ErrorText(result.error);
        return result;
    }
    result.started = true;
    if (request.waitForExit) {
        WaitForSingleObject(process.get(), INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(process.get(), &code)) {
            result.exitCode = code;
        }
    }
    return result;
}

}  // namespace kestrix::win32
