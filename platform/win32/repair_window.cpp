#include "platform/win32/repair_window.h"

#include "platform/win32/control_ids.h"

namespace kestrix::win32 {

namespace {

// In tab order. The log is last but one: it only appears once a repair starts and is then raised
// above the selection controls it covers.
constexpr ControlSpec kRepairControls[] = {
    {IDC_INSTRUCTION, L"STATIC",
     L"您的系统存在多个启动设备分区，请选择需要的分区卷标(不要选择移动硬盘或U盘)：", WS_VISIBLE,
     {240, 120, 4065, 525}, FontKind::Default, true, 0},
    {IDC_PARTITION, L"COMBOBOX", L"",
     WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT | CBS_AUTOHSCROLL,
     {300, 720, 3855, 330}, FontKind::SongRegular105, false, 1800},
    {IDC_CONFIRM, L"BUTTON", L"确定", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
     {1200, 1260, 1995, 525}, FontKind::SongBold105, false, 0},
    {IDC_PROGRESS_LOG, L"LISTBOX", L"", WS_DISABLED | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT,
     {60, 90, 4395, 2010}, FontKind::Default, false, 0},
    {IDC_KEEP_OPEN, L"STATIC", L"", WS_VISIBLE | SS_NOTIFY, {4050, 600, 375, 615},
     FontKind::Default, false, 0},
};

constexpr UINT kAutoCloseMilliseconds = 2000;

}  // namespace

void Win32RepairWindow::Make() {
    if (Handle() != nullptr) {
        return;
    }
    if (form_.Create(instance_, KESTRIX_REPAIR_CLASS, L"引导修复  By Tobrin", &WindowProc, this,
                     kRepairControls, std::size(kRepairControls), {0, 0, 4515, 2175}) == nullptr) {
        onCannotMake();
    }
    progressLog_ = form_.Control(IDC_PROGRESS_LOG);
    partition_ = form_.Control(IDC_PARTITION);
    instruction_ = form_.Control(IDC_INSTRUCTION);
    confirm_ = form_.Control(IDC_CONFIRM);
}

void Win32RepairWindow::Show() {
    Make();
    ShowWindow(Handle(), SW_SHOW);
}

void Win32RepairWindow::Hide() {
    Make();
    ShowWindow(Handle(), SW_HIDE);
}

void Win32RepairWindow::AddPartition(const std::wstring& entry) {
    Make();
    const LRESULT number = SendMessageW(partition_, CB_GETCOUNT, 0, 0);
    const LRESULT at =
        SendMessageW(partition_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    if (at >= 0) {
        SendMessageW(partition_, CB_SETITEMDATA, static_cast<WPARAM>(at), number);
    }
}

int Win32RepairWindow::PartitionCount() const {
    const LRESULT count = SendMessageW(partition_, CB_GETCOUNT, 0, 0);
    return count < 0 ? 0 : static_cast<int>(count);
}

std::wstring Win32RepairWindow::PartitionText() const { return WindowText(partition_); }

std::optional<int> Win32RepairWindow::ChosenPartition() const {
    const LRESULT selected = SendMessageW(partition_, CB_GETCURSEL, 0, 0);
    if (selected < 0) {
        return std::nullopt;
    }
    // Text typed over the selected entry is the user's own.
    const auto at = static_cast<WPARAM>(selected);
    const LRESULT length = SendMessageW(partition_, CB_GETLBTEXTLEN, at, 0);
    if (length < 0) {
        return std::nullopt;
    }
    std::wstring entry(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(partition_, CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(entry.data()));
    entry.resize(static_cast<std::size_t>(length));
    if (entry != PartitionText()) {
        return std::nullopt;
    }
    return static_cast<int>(SendMessageW(partition_, CB_GETITEMDATA, at, 0));
}

void Win32RepairWindow::SetPartitionText(const std::wstring& text) {
    Make();
    SetWindowTextW(partition_, text.c_str());
}

void Win32RepairWindow::SelectPartition(int index) {
    Make();
    SendMessageW(partition_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32RepairWindow::SetInstruction(const std::wstring& text) {
    Make();
    SetWindowTextW(instruction_, text.c_str());
}

bool Win32RepairWindow::IsProgressShown() const {
    return (GetWindowLongW(progressLog_, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Win32RepairWindow::ShowProgress() {
    Make();
    SetWindowPos(progressLog_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

void Win32RepairWindow::ShowSelection() {
    Make();
    ShowWindow(progressLog_, SW_HIDE);
    SetFocus(partition_);
}

void Win32RepairWindow::AppendLogLine(const std::wstring& line) {
    Make();
    const LRESULT index =
        SendMessageW(progressLog_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    // The user cannot scroll a disabled list, so the newest line is kept in view for them.
    if (index >= 0) {
        SendMessageW(progressLog_, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    }
}

void Win32RepairWindow::SetConfirmEnabled(bool enabled) {
    Make();
    EnableWindow(confirm_, enabled);
}

void Win32RepairWindow::SetAutoCloseTimer(bool armed) {
    Make();
    if (armed) {
        SetTimer(Handle(), IDT_AUTO_CLOSE, kAutoCloseMilliseconds, nullptr);
    } else {
        KillTimer(Handle(), IDT_AUTO_CLOSE);
    }
}

void Win32RepairWindow::SetTopmost() {
    Make();
    SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_FRAMECHANGED);
}

LRESULT CALLBACK Win32RepairWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    auto* self = FormWindow::WindowFrom<Win32RepairWindow>(hwnd, message, lParam);
    if (self == nullptr || self->Handle() == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT Win32RepairWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            // Enter in the partition field confirms it, unless the repair runs (the button is
            // disabled then); Escape does nothing.
            if ((LOWORD(wParam) == IDC_CONFIRM || LOWORD(wParam) == IDOK) &&
                HIWORD(wParam) == BN_CLICKED && IsWindowEnabled(confirm_) && onConfirm) {
                onConfirm();
                return 0;
            }
            if (LOWORD(wParam) == IDC_KEEP_OPEN && HIWORD(wParam) == STN_CLICKED &&
                onKeepOpenClick) {
                onKeepOpenClick();
                return 0;
            }
            break;
        case DM_GETDEFID:
            return MAKELRESULT(IDC_CONFIRM, DC_HASDEFID);
        case WM_TIMER:
            if (wParam == IDT_AUTO_CLOSE && onAutoCloseTimer) {
                onAutoCloseTimer();
                return 0;
            }
            break;
        default:
            break;
    }
    return form_.HandleShared(message, wParam, lParam);
}

}  // namespace kestrix::win32
