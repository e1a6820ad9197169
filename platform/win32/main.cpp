#include <windows.h>

#include "app/application.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_windows.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace kestrix::win32;
    // An empty card reader or floppy drive must not stop anything with a "no disk" box; the tools
    // inherit this too.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // DLLs load from the system folder only, never from the folder the exe was started in.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")))) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }

    Win32MainWindow ch1;
    Win32SelectionWindow ch2;
    if (!ch1.Create(instance) || !ch2.Create(instance)) {
        return 1;
    }
    Win32Session session(ch1, ch2);
    Win32FileSystem files;
    Win32ProcessLauncher launcher;
    Win32Clock clock;
    kestrix::Application app(ch1, ch2, session, files, launcher, clock);

    ch1.onCommand2 = [&] { app.ch1.Command2_Click(); };
    ch1.onQueryUnload = [&] { app.ch1.Form_QueryUnload(); };
    ch2.onAn1 = [&] { app.ch2.an1_Click(); };
    ch2.onTimer = [&] { app.ch2.e_t1_Timer(); };
    ch2.onLabel2 = [&] { app.ch2.Label2_Click(); };
    ch2.onQueryUnload = [&] { app.ch2.Form_QueryUnload(); };

    app.ch2.Form_Load();
    app.ch1.Start();
    return session.RunMessageLoop();
}
