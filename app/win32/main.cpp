#include <windows.h>

#include "app/application.h"
#include "platform/win32/optional_functions.h"
#include "platform/win32/repair_window.h"
#include "platform/win32/start_window.h"
#include "platform/win32/terminate.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_firmware.h"
#include "platform/win32/win32_held_store.h"
#include "platform/win32/win32_process.h"
#include "platform/win32/win32_session.h"
#include "platform/win32/win32_signatures.h"
#include "platform/win32/win32_this_process.h"
#include "platform/win32/win32_volumes.h"

namespace {

// The program, for the emergency end.
kestrix::Program* running = nullptr;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace kestrix::win32;
    LoadOptionalFunctions();
    // An empty card reader or floppy drive must not stop anything with a "no disk" box; the tools
    // inherit this too.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // DLLs load from the system folder only, never from the folder the exe was started in.
    if (optionalFunctions.SetDefaultDllDirectories != nullptr) {
        optionalFunctions.SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }

    Fonts fonts;
    FrameEvents frameEvents;
    Win32StartWindow startWindow(fonts, frameEvents);
    Win32RepairWindow repairWindow(instance, fonts, frameEvents);
    Win32Session session(startWindow, repairWindow);
    Win32ThisProcess process;
    Win32Files files;
    Win32Volumes volumes;
    Win32Firmware firmware;
    Win32Signatures signatures;
    Win32HeldStore heldStore;
    Win32ProcessLauncher launcher;
    Win32Clock clock;
    kestrix::Application app(startWindow, repairWindow, session, process, files, files, volumes,
                             firmware, signatures, heldStore, launcher, clock);
    auto& program = app.program;
    running = &program;
    // Memory that runs out ends the program through the letters' hook too, without a box.
    SetEmergencyEnd([](int exitCode) { running->EndAtOnce(exitCode); });

    frameEvents.onCloseRequest = [&] { program.OnCloseRequest(); };
    frameEvents.onQueryEndSession = [&] { return program.OnQueryEndSession(); };
    frameEvents.onSessionEnd = [&] { program.OnSessionEnd(); };
    startWindow.onStart = [&] { program.OnStartButton(); };
    repairWindow.onConfirm = [&] { program.OnConfirm(); };
    repairWindow.onAutoCloseTimer = [&] { program.OnAutoCloseTimer(); };
    repairWindow.onKeepOpenClick = [&] { program.OnKeepOpenClick(); };
    repairWindow.onCannotMake = [&] { program.End(kestrix::kExitStepsFailed); };
    if (!startWindow.Create(instance) || !session.Create(instance)) {
        program.End(kestrix::kExitStepsFailed);
    }

    program.Start();
    // Nothing in the program quits the loop; a WM_QUIT from elsewhere ends it the one way out
    // too, which waits for the listing or the job and gives back a drive letter given for the run.
    session.RunMessageLoop();
    program.End(program.ExitCode());
}
