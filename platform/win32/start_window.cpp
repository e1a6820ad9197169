#include "platform/win32/start_window.h"

#include "platform/win32/control_ids.h"

namespace kestrix::win32 {

namespace {

// In tab order, which is also the order of creation: the first control has the focus.
constexpr ControlSpec kStartControls[] = {
    {IDC_START, L"BUTTON", L"自动修复Windows引导", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
     {210, 1140, 3345, 525}, FontKind::Default, false, 0},
    {IDC_BOOT_SECTOR_ONLY, L"BUTTON", L"只修复引导", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
     {420, 630, 3405, 435}, FontKind::Default, false, 0},
    {IDC_START_TITLE, L"STATIC", L"Kestrix", WS_VISIBLE, {840, 210, 2355, 375},
     FontKind::SongBold12, false, 0},
    {IDC_START_NOTICE, L"STATIC",
     L"使用命令行为静默模式，请尊重作者版权。Tobrin制作",
     WS_VISIBLE, {270, 1860, 3375, 525}, FontKind::Default, true, 0},
};

}  // namespace

bool Win32StartWindow::Create(HINSTANCE instance) {
    if (form_.Create(instance, KESTRIX_START_CLASS, L"KestrixV1.0   Tobrin制作", &WindowProc, this,
                     kStartControls, std::size(kStartControls), {0, 0, 3765, 2505}) == nullptr) {
        return false;
    }
    bootSectorOnly_ = form_.Control(IDC_BOOT_SECTOR_ONLY);
    return true;
}

void Win32StartWindow::Show() {
    ShowWindow(Handle(), SW_SHOW);
    // Painted at once: the repair window is made before the message loop runs.
    UpdateWindow(Handle());
}

void Win32StartWindow::Hide() { ShowWindow(Handle(), SW_HIDE); }

bool Win32StartWindow::BootSectorOnly() const {
    return SendMessageW(bootSectorOnly_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32StartWindow::SetBootSectorOnly(bool on) {
    SendMessageW(bootSectorOnly_, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

LRESULT CALLBACK Win32StartWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    auto* self = FormWindow::WindowFrom<Win32StartWindow>(hwnd, message, lParam);
    if (self == nullptr || self->Handle() == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT Win32StartWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            // Enter presses the start button; Escape does nothing.
            if ((LOWORD(wParam) == IDC_START || LOWORD(wParam) == IDOK) &&
                HIWORD(wParam) == BN_CLICKED && onStart) {
                onStart();
                return 0;
            }
            break;
        case DM_GETDEFID:
            return MAKELRESULT(IDC_START, DC_HASDEFID);
        default:
            break;
    }
    return form_.HandleShared(message, wParam, lParam);
}

}  // namespace kestrix::win32
