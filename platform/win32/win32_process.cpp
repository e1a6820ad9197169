#include "platform/win32/win32_process.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/error_text.h"
#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

LaunchResult Win32ProcessLauncher::Launch(const LaunchRequest& request) {
    LaunchResult result;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // NOASYNC: the start completes before we return; FLAG_NO_UI: a failed start shows no box.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = request.file.c_str();
    info.lpParameters = request.parameters.c_str();
    // No working folder: the program inherits ours.
    info.lpDirectory = nullptr;
    info.nShow = request.showMode;
    const BOOL ok = ShellExecuteExW(&info);
    const DWORD error = ok ? 0 : GetLastError();
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
