#include "platform/win32/win32_windows.h"

#include <commctrl.h>
#include <winnetwk.h>

#include <vector>

#include "platform/win32/control_ids.h"
#include "platform/win32/optional_functions.h"
#include "platform/win32/resource_ids.h"

namespace kestrix::win32 {

namespace {

constexpr int kTwipsPerInch = 1440;
constexpr wchar_t kAppTitle[] = L"Kestrix";
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

int ToPixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch); }

// Newer systems scale per monitor; older ones have one DPI for the whole screen.
UINT DpiOf(HWND hwnd) {
    const auto getDpiForWindow = optionalFunctions.getDpiForWindow;
    if (getDpiForWindow != nullptr && hwnd != nullptr) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0) {
            return dpi;
        }
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

RECT FrameForClient(int clientWidth, int clientHeight, UINT dpi) {
    const auto adjustForDpi = optionalFunctions.adjustWindowRectExForDpi;
    RECT frame{0, 0, clientWidth, clientHeight};
    if (adjustForDpi != nullptr) {
        adjustForDpi(&frame, kFrameStyle, FALSE, 0, dpi);
    } else {
        AdjustWindowRectEx(&frame, kFrameStyle, FALSE, 0);
    }
    return frame;
}

// The system's message font at the given DPI: the font of every control without one of its own.
UniqueFont DefaultFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        return UniqueFont(CreateFontW(-MulDiv(9, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL,
                                      FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                      L"MS Shell Dlg 2"));
    }
    HDC screen = GetDC(nullptr);
    const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                            systemDpi > 0 ? systemDpi : 96);
    return UniqueFont(CreateFontIndirectW(&metrics.lfMessageFont));
}

// "宋体" in the GB2312 character set; the size in tenths of a point.
UniqueFont SongFont(int decipoints, int weight, UINT dpi) {
    return UniqueFont(CreateFontW(-MulDiv(decipoints, static_cast<int>(dpi), 720), 0, 0, 0, weight,
                                  FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                  L"宋体"));
}

HWND CreateControl(HWND parent, const ControlSpec& spec) {
    return CreateWindowExW(0, spec.windowClass, spec.caption,
                           WS_CHILD | WS_CLIPSIBLINGS | spec.style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)),
                           GetModuleHandleW(nullptr), nullptr);
}

HWND CreateFrame(HINSTANCE instance, const wchar_t* windowClass, const wchar_t* caption,
                 void* self) {
    return CreateWindowExW(0, windowClass, caption, kFrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, self);
}

// Sizes the frame for its client area at the window's DPI, centred on its monitor's work area.
void PlaceCentred(HWND hwnd, Twips client, UINT dpi) {
    const RECT frame = FrameForClient(ToPixels(client.width, dpi), ToPixels(client.height, dpi), dpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        work = monitor.rcWork;
    }
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;
    SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

bool RegisterFrameClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_KESTRIX), IMAGE_ICON,
                                             0, 0, LR_DEFAULTSIZE | LR_SHARED));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_KESTRIX), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
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

// Both windows

void FormWindow::CreateControls(HWND hwnd, const ControlSpec* specs, std::size_t count) {
    hwnd_ = hwnd;
    specs_ = specs;
    controls_.clear();
    for (std::size_t i = 0; i < count; ++i) {
        controls_.push_back(CreateControl(hwnd, specs[i]));
    }
    ApplyDpi(DpiOf(hwnd));
}

HWND FormWindow::Control(int id) const {
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        if (specs_[i].id == id) {
            return controls_[i];
        }
    }
    return nullptr;
}

void FormWindow::ApplyDpi(UINT dpi) {
    defaultFont_ = DefaultFont(dpi);
    songBold12_ = SongFont(120, FW_BOLD, dpi);
    songBold105_ = SongFont(105, FW_BOLD, dpi);
    songRegular105_ = SongFont(105, FW_NORMAL, dpi);
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const ControlSpec& spec = specs_[i];
        HFONT font = defaultFont_.get();
        switch (spec.font) {
            case FontKind::SongBold12:
                font = songBold12_.get();
                break;
            case FontKind::SongBold105:
                font = songBold105_.get();
                break;
            case FontKind::SongRegular105:
                font = songRegular105_.get();
                break;
            case FontKind::Default:
                break;
        }
        SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SetWindowPos(controls_[i], nullptr, ToPixels(spec.place.left, dpi),
                     ToPixels(spec.place.top, dpi), ToPixels(spec.place.width, dpi),
                     ToPixels(spec.place.height + spec.dropDownHeight, dpi),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(controls_[i], nullptr, TRUE);
    }
    dpi_ = dpi;
}

void FormWindow::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    ApplyDpi(HIWORD(wParam));
    const auto* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT FormWindow::HandleShared(UINT message, WPARAM wParam, LPARAM lParam,
                                 const std::function<void()>& onQueryUnload) {
    switch (message) {
        case WM_CTLCOLORSTATIC:
            if (IsRed(reinterpret_cast<HWND>(lParam))) {
                return RedText(wParam);
            }
            break;
        case WM_DPICHANGED:
            OnDpiChanged(wParam, lParam);
            return 0;
        case WM_ENDSESSION:
            if (wParam == FALSE) {
                break;
            }
            [[fallthrough]];
        case WM_CLOSE:
            // Closing, logging off or shutting down ends the program at once.
            if (onQueryUnload) {
                onQueryUnload();
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

bool FormWindow::IsRed(HWND control) const {
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        if (controls_[i] == control) {
            return specs_[i].red;
        }
    }
    return false;
}

// ch1

// In tab order, which is also the order of creation: the first control has the focus.
constexpr ControlSpec kMainControls[] = {
    {IDC_COMMAND2, L"BUTTON", L"自动修复Windows引导", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
     {210, 1140, 3345, 525}, FontKind::Default, false, 0},
    {IDC_FX1, L"BUTTON", L"只修复引导", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
     {420, 630, 3405, 435}, FontKind::Default, false, 0},
    {IDC_CH1_LABEL1, L"STATIC", L"Kestrix", WS_VISIBLE, {840, 210, 2355, 375},
     FontKind::SongBold12, false, 0},
    {IDC_CH1_LABEL2, L"STATIC",
     L"使用命令行为静默模式，请尊重作者版权。Tobrin制作",
     WS_VISIBLE, {270, 1860, 3375, 525}, FontKind::Default, true, 0},
};

bool Win32MainWindow::Create(HINSTANCE instance) {
    if (!RegisterFrameClass(instance, KESTRIX_MAIN_CLASS, &WindowProc)) {
        return false;
    }
    HWND hwnd = CreateFrame(instance, KESTRIX_MAIN_CLASS, L"KestrixV1.0   Tobrin制作", this);
    if (hwnd == nullptr) {
        return false;
    }
    form_.CreateControls(hwnd, kMainControls, std::size(kMainControls));
    hwnd_ = hwnd;
    fx1_ = form_.Control(IDC_FX1);
    PlaceCentred(hwnd_, {0, 0, 3765, 2505}, form_.Dpi());
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
            // Enter presses the start button; Escape does nothing.
            if ((LOWORD(wParam) == IDC_COMMAND2 || LOWORD(wParam) == IDOK) &&
                HIWORD(wParam) == BN_CLICKED && onCommand2) {
                onCommand2();
                return 0;
            }
            break;
        case DM_GETDEFID:
            return MAKELRESULT(IDC_COMMAND2, DC_HASDEFID);
        default:
            break;
    }
    return form_.HandleShared(message, wParam, lParam, onQueryUnload);
}

// ch2

// In tab order. The log is last but one: it only appears once a repair starts and is then raised
// above the selection controls it covers.
constexpr ControlSpec kSelectionControls[] = {
    {IDC_CH2_LABEL1, L"STATIC",
     L"您的系统存在多个启动设备分区，请选择需要的分区卷标(不要选择移动硬盘或U盘)：", WS_VISIBLE,
     {240, 120, 4065, 525}, FontKind::Default, true, 0},
    {IDC_L1, L"COMBOBOX", L"",
     WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT | CBS_AUTOHSCROLL,
     {300, 720, 3855, 330}, FontKind::SongRegular105, false, 1800},
    {IDC_AN1, L"BUTTON", L"确定", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
     {1200, 1260, 1995, 525}, FontKind::SongBold105, false, 0},
    {IDC_L2, L"LISTBOX", L"", WS_DISABLED | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT,
     {60, 90, 4395, 2010}, FontKind::Default, false, 0},
    {IDC_D1, L"LISTBOX", L"", LBS_NOINTEGRALHEIGHT, {1890, 2670, 2025, 300}, FontKind::Default,
     false, 0},
    {IDC_CH2_LABEL2, L"STATIC", L"", WS_VISIBLE | SS_NOTIFY, {4050, 600, 375, 615},
     FontKind::Default, false, 0},
};

bool Win32SelectionWindow::Create(HINSTANCE instance) {
    if (!RegisterFrameClass(instance, KESTRIX_SELECTION_CLASS, &WindowProc)) {
        return false;
    }
    HWND hwnd = CreateFrame(instance, KESTRIX_SELECTION_CLASS, L"引导修复  By Tobrin", this);
    if (hwnd == nullptr) {
        return false;
    }
    form_.CreateControls(hwnd, kSelectionControls, std::size(kSelectionControls));
    hwnd_ = hwnd;
    l2_ = form_.Control(IDC_L2);
    d1_ = form_.Control(IDC_D1);
    l1_ = form_.Control(IDC_L1);
    label1_ = form_.Control(IDC_CH2_LABEL1);
    PlaceCentred(hwnd_, {0, 0, 4515, 2175}, form_.Dpi());
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
        if (WNetGetConnectionW(entry.c_str(), remote, &length) == NO_ERROR && remote[0] != L'\0') {
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
    SetWindowPos(l2_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

void Win32SelectionWindow::HideLog() {
    ShowWindow(l2_, SW_HIDE);
    SetFocus(l1_);
}

void Win32SelectionWindow::AppendLogLine(const std::wstring& line) {
    const LRESULT index = SendMessageW(l2_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    // The user cannot scroll a disabled list, so the newest line is kept in view for them.
    if (index >= 0) {
        SendMessageW(l2_, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    }
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
            // Enter in the partition field confirms it; Escape does nothing.
            if ((LOWORD(wParam) == IDC_AN1 || LOWORD(wParam) == IDOK) &&
                HIWORD(wParam) == BN_CLICKED && onAn1) {
                onAn1();
                return 0;
            }
            if (LOWORD(wParam) == IDC_CH2_LABEL2 && HIWORD(wParam) == STN_CLICKED && onLabel2) {
                onLabel2();
                return 0;
            }
            break;
        case DM_GETDEFID:
            return MAKELRESULT(IDC_AN1, DC_HASDEFID);
        case WM_TIMER:
            if (wParam == IDT_E_T1 && onTimer) {
                onTimer();
                return 0;
            }
            break;
        default:
            break;
    }
    return form_.HandleShared(message, wParam, lParam, onQueryUnload);
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
