#pragma once
// The desktop session: message boxes, the message loop, the repair's own thread and the way back
// from it to the window thread, and the end of the process.
#include <windows.h>

#include <functional>

#include "platform/win32/repair_window.h"
#include "platform/win32/start_window.h"
#include "platform/windows.h"

namespace kestrix::win32 {

class Win32Session final : public Session {
public:
    Win32Session(const Win32StartWindow& startWindow, const Win32RepairWindow& repairWindow)
        : startWindow_(startWindow), repairWindow_(repairWindow) {}

    // On the window thread, before anything runs in the background.
    bool Create(HINSTANCE instance);

    MessageAnswer ShowMessage(const std::wstring& text, MessageButtons buttons,
                              MessageIcon icon) override;
    [[noreturn]] void EndProgram(int exitCode) override;
    void RunInBackground(std::function<void()> work, std::function<void()> whenDone) override;
    void RunOnWindowThread(const std::function<void()>& action) override;
    bool WaitForBackground(std::uint32_t milliseconds) override;
    void BlockSessionEnd(const std::wstring& reason) override;
    void AllowSessionEnd() override;
    std::uint32_t ShowFileIn(const std::wstring& program, const std::wstring& file) override;

    // Runs the window events until the program ends, or until a WM_QUIT.
    void RunMessageLoop();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    const Win32StartWindow& startWindow_;
    const Win32RepairWindow& repairWindow_;
    // A message-only window on the window thread: background work reaches that thread through it.
    HWND messages_ = nullptr;
    DWORD windowThread_ = 0;
    // The thread of the background work while it runs (its task owns the handle).
    HANDLE background_ = nullptr;
};

}  // namespace kestrix::win32
