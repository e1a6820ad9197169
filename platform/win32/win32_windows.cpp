#include "platform/win32/win32_windows.h"

#include <commctrl.h>
#include <winnetwk.h>

#include <vector>

#include "platform/win32/control_ids.h"

namespace kestrix::win32 {

namespace {

constexpr int kTwipsPerInch = 1440;
constexpr wchar_t kAppTitle[] = L"Kestrix";

struct Twips {
    int left, top, width, height;
};

int ToPixels(int twips) { return MulDiv(twips, 96, kTwipsPerInch); }

HWND CreateControl(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style,
                   Twips place, int id) {
    HWND control = CreateWindowExW(
        0, windowClass, text, WS_CHILD | WS_CLIPSIBLINGS | style, ToPixels(place.left),
        ToPixels(place.top), ToPixels(place.width), ToPixels(place.height), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    return control;
}

// Creates a fixed-size window whose client area has the given size, centred on the work area.
HWND CreateFrame(HINSTANCE instance, const wchar_t* windowClass, const wchar_t* caption,
                 int clientWidthTwips, int clientHeightTwips, void* self) {
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, ToPixels(clientWidthTwips), ToPixels(clientHeightTwips)};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;
    return CreateWindowExW(0, windowClass, caption, style, x, y, width, height, nullptr, nullptr,
                           instance, self);
}

bool RegisterFrameClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0;
}

template <typename Window>
Window* WindowFromCreate(HWND hwnd, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        return self;
    }
    return reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT RedText(WPARAM wParam) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

bool IsOwnFlagVisible(HWND hwnd) {
    return (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::wstring WindowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

}  // namespace

// ch1

bool Win32MainWindow::Create(HINSTANCE instance) {
    if (!RegisterFrameClass(instance, KESTRIX_MAIN_CLASS, &WindowProc)) {
        return false;
    }
    hwnd_ = CreateFrame(instance, KESTRIX_MAIN_CLASS, L"KestrixV1.0   Tobrin制作", 3765, 2505, this);
    if (hwnd_ == nullptr) {
        return false;
    }
    fx1_ = CreateControl(hwnd_, L"BUTTON", L"只修复引导", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                         {420, 630, 3405, 435}, IDC_FX1);
    CreateControl(hwnd_, L"BUTTON", L"自动修复Windows引导",
                  WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, {210, 1140, 3345, 525}, IDC_COMMAND2);
    label2_ = CreateControl(hwnd_, L"STATIC",
                            L"使用命令行为静默模式，请尊重作者劳动成果。Kestrix 由 Tobrin 制作。",
                            WS_VISIBLE, {270, 1860, 3375, 525}, IDC_CH1_LABEL2);
    CreateControl(hwnd_, L"STATIC", L"Kestrix", WS_VISIBLE, {840, 210, 2355, 375}, IDC_CH1_LABEL1);
    return true;
}

void Win32MainWindow::Show() { ShowWindow(hwnd_, SW_SHOW); }
void Win32MainWindow::Hide() { ShowWindow(hwnd_, SW_HIDE); }

int Win32MainWindow::BootOnlyValue() const {
    switch (SendMessageW(fx1_, BM_GETCHECK, 0, 0)) {
        case BST_CHECKED:
            return 1;
        case BST_INDETERMINATE:
            return 2;
        default:
            return 0;
    }
}

void Win32MainWindow::SetBootOnlyValue(int value) {
    const WPARAM state = value == 1 ? BST_CHECKED : value == 2 ? BST_INDETERMINATE : BST_UNCHECKED;
    SendMessageW(fx1_, BM_SETCHECK, state, 0);
}

LRESULT CALLBACK Win32MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    auto* self = WindowFromCreate<Win32MainWindow>(hwnd, message, lParam);
    if (self == nullptr || self->hwnd_ == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT Win32MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_COMMAND2 && HIWORD(wParam) == BN_CLICKED && onCommand2) {
                onCommand2();
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) == label2_) {
                return RedText(wParam);
            }
            break;
        case WM_CLOSE:
        case WM_ENDSESSION:
            if (message == WM_ENDSESSION && wParam == FALSE) {
                break;
            }
            if (onQueryUnload) {
                onQueryUnload();
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

// ch2

bool Win32SelectionWindow::Create(HINSTANCE instance) {
    if (!RegisterFrameClass(instance, KESTRIX_SELECTION_CLASS, &WindowProc)) {
        return false;
    }
    hwnd_ = CreateFrame(instance, KESTRIX_SELECTION_CLASS, L"引导修复  By Tobrin", 4515, 2175, this);
    if (hwnd_ == nullptr) {
        return false;
    }
    l2_ = CreateControl(hwnd_, L"LISTBOX", L"", WS_DISABLED | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT,
                        {60, 90, 4395, 2010}, IDC_L2);
    d1_ = CreateControl(hwnd_, L"LISTBOX", L"", LBS_NOINTEGRALHEIGHT, {1890, 2670, 2025, 300}, IDC_D1);
    an1_ = CreateControl(hwnd_, L"BUTTON", L"确定", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                         {1200, 1260, 1995, 525}, IDC_AN1);
    l1_ = CreateControl(hwnd_, L"COMBOBOX", L"",
                        WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT | CBS_AUTOHSCROLL,
                        {300, 720, 3855, 1800}, IDC_L1);
    label2_ = CreateControl(hwnd_, L"STATIC", L"", WS_VISIBLE | SS_NOTIFY, {4050, 600, 375, 615},
                            IDC_CH2_LABEL2);
    label1_ = CreateControl(
        hwnd_, L"STATIC",
        L"您的系统存在多个启动设备分区，请选择需要的分区卷标(不要选择移动硬盘或U盘)：", WS_VISIBLE,
        {240, 120, 4065, 525}, IDC_CH2_LABEL1);
    FillDrives();
    return true;
}

std::wstring DescribeDrive(const std::wstring& root) {
    std::wstring entry;
    entry += static_cast<wchar_t>(towlower(root[0]));
    entry += L':';
    if (GetDriveTypeW(root.c_str()) == DRIVE_REMOTE) {
        wchar_t remote[MAX_PATH + 1] = {};
        DWORD length = MAX_PATH;
        const std::wstring local = entry;
        if (WNetGetConnectionW(local.c_str(), remote, &length) == NO_ERROR && remote[0] != L'\0') {
            return entry + L" [" + remote + L"]";
        }
        return entry;
    }
    wchar_t label[MAX_PATH + 1] = {};
    // A drive without medium must not raise the system's "insert a disk" box.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const BOOL ok = GetVolumeInformationW(root.c_str(), label, MAX_PATH + 1, nullptr, nullptr,
                                          nullptr, nullptr, 0);
    SetErrorMode(previous);
    if (ok && label[0] != L'\0') {
        entry += L" [";
        entry += label;
        entry += L']';
    }
    return entry;
}

void Win32SelectionWindow::FillDrives() {
    const DWORD size = GetLogicalDriveStringsW(0, nullptr);
    std::vector<wchar_t> buffer(size + 1, L'\0');
    if (size == 0 || GetLogicalDriveStringsW(size, buffer.data()) == 0) {
        return;
    }
    for (const wchar_t* root = buffer.data(); *root != L'\0'; root += wcslen(root) + 1) {
        const std::wstring entry = DescribeDrive(root);
        SendMessageW(d1_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
}

void Win32SelectionWindow::Show() { ShowWindow(hwnd_, SW_SHOW); }
void Win32SelectionWindow::Hide() { ShowWindow(hwnd_, SW_HIDE); }

void Win32SelectionWindow::AddPartition(const std::wstring& entry) {
    SendMessageW(l1_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

int Win32SelectionWindow::PartitionCount() const {
    const LRESULT count = SendMessageW(l1_, CB_GETCOUNT, 0, 0);
    return count < 0 ? 0 : static_cast<int>(count);
}

std::wstring Win32SelectionWindow::PartitionText() const { return WindowText(l1_); }

void Win32SelectionWindow::SetPartitionText(const std::wstring& text) {
    SetWindowTextW(l1_, text.c_str());
}

void Win32SelectionWindow::SelectPartition(int index) {
    SendMessageW(l1_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32SelectionWindow::SetInstruction(const std::wstring& text) {
    SetWindowTextW(label1_, text.c_str());
}

bool Win32SelectionWindow::IsLogVisible() const { return IsOwnFlagVisible(l2_); }

void Win32SelectionWindow::ShowLog() {
    // The log covers the selection controls, so it goes to the top of its siblings.
    SetWindowPos(l2_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

void Win32SelectionWindow::AppendLogLine(const std::wstring& line) {
    SendMessageW(l2_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
}

int Win32SelectionWindow::DriveCount() const {
    const LRESULT count = SendMessageW(d1_, LB_GETCOUNT, 0, 0);
    return count < 0 ? 0 : static_cast<int>(count);
}

std::wstring Win32SelectionWindow::DriveEntry(int index) const {
    const LRESULT length = SendMessageW(d1_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = SendMessageW(d1_, LB_GETTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    return text;
}

void Win32SelectionWindow::SetTimerEnabled(bool enabled) {
    if (enabled) {
        SetTimer(hwnd_, IDT_E_T1, 2000, nullptr);
    } else {
        KillTimer(hwnd_, IDT_E_T1);
    }
}

void Win32SelectionWindow::SetTopmost() {
    SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_FRAMECHANGED);
}

LRESULT CALLBACK Win32SelectionWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    auto* self = WindowFromCreate<Win32SelectionWindow>(hwnd, message, lParam);
    if (self == nullptr || self->hwnd_ == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT Win32SelectionWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_AN1 && HIWORD(wParam) == BN_CLICKED && onAn1) {
                onAn1();
                return 0;
            }
            if (LOWORD(wParam) == IDC_CH2_LABEL2 && HIWORD(wParam) == STN_CLICKED && onLabel2) {
                onLabel2();
                return 0;
            }
            break;
        case WM_TIMER:
            if (wParam == IDT_E_T1 && onTimer) {
                onTimer();
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) == label1_) {
                return RedText(wParam);
            }
            break;
        case WM_CLOSE:
        case WM_ENDSESSION:
            if (message == WM_ENDSESSION && wParam == FALSE) {
                break;
            }
            if (onQueryUnload) {
                onQueryUnload();
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

// Session

MessageAnswer Win32Session::ShowMessage(const std::wstring& text, MessageButtons buttons,
                                        MessageIcon icon) {
    UINT style = buttons == MessageButtons::YesNoCancel ? MB_YESNOCANCEL | MB_DEFBUTTON1 : MB_OK;
    if (icon == MessageIcon::Exclamation) {
        style |= MB_ICONEXCLAMATION;
    }
    // Owned by the visible window, so the box stands above the topmost selection window.
    HWND owner = nullptr;
    if (IsWindowVisible(ch2_.Handle())) {
        owner = ch2_.Handle();
    } else if (IsWindowVisible(ch1_.Handle())) {
        owner = ch1_.Handle();
    }
    switch (MessageBoxW(owner, text.c_str(), kAppTitle, style | MB_SETFOREGROUND)) {
        case IDOK:
            return MessageAnswer::Ok;
        case IDYES:
            return MessageAnswer::Yes;
        case IDNO:
            return MessageAnswer::No;
        case IDCANCEL:
            return MessageAnswer::Cancel;
        default:
            return MessageAnswer::Closed;
    }
}

void Win32Session::Dispatch(MSG& message) {
    HWND window = GetAncestor(message.hwnd, GA_ROOT);
    if (window != nullptr && IsDialogMessageW(window, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void Win32Session::ProcessPendingEvents() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        Dispatch(message);
    }
}

void Win32Session::EndProgram(int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }

int Win32Session::RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        Dispatch(message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace kestrix::win32
