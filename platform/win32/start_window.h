#pragma once
// The start window: the boot-sector-only switch and the start button.
#include <windows.h>

#include <functional>

#include "platform/win32/form_window.h"
#include "platform/windows.h"

namespace kestrix::win32 {

class Win32StartWindow final : public StartWindow {
public:
    Win32StartWindow(Fonts& fonts, const FrameEvents& events) : form_(fonts, events) {}
    bool Create(HINSTANCE instance);
    HWND Handle() const { return form_.Handle(); }

    void Show() override;
    void Hide() override;
    bool BootSectorOnly() const override;
    void SetBootSectorOnly(bool on) override;

    std::function<void()> onStart;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    FormWindow form_;
    HWND bootSectorOnly_ = nullptr;
};

}  // namespace kestrix::win32
