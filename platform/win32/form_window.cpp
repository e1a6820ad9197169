#include "platform/win32/form_window.h"

#include <string>

#include "platform/win32/optional_functions.h"
#include "platform/win32/resource_ids.h"

namespace kestrix::win32 {

namespace {

constexpr int kTwipsPerInch = 1440;
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

int ToPixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch); }

// Newer systems scale per monitor; older ones have one DPI for the whole screen.
UINT DpiOf(HWND hwnd) {
    const auto getDpiForWindow = optionalFunctions.GetDpiForWindow;
    if (getDpiForWindow != nullptr && hwnd != nullptr) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0) {
            return dpi;
        }
    }
    const ScreenDC screen;
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

RECT FrameForClient(int clientWidth, int clientHeight, UINT dpi) {
    const auto adjustForDpi = optionalFunctions.AdjustWindowRectExForDpi;
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
    const int systemDpi = GetDeviceCaps(ScreenDC().get(), LOGPIXELSY);
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

UniqueFont MakeFont(FontKind kind, UINT dpi) {
    switch (kind) {
        case FontKind::SongBold12:
            return SongFont(120, FW_BOLD, dpi);
        case FontKind::SongBold105:
            return SongFont(105, FW_BOLD, dpi);
        case FontKind::SongRegular105:
            return SongFont(105, FW_NORMAL, dpi);
        case FontKind::Default:
            break;
    }
    return DefaultFont(dpi);
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

LRESULT RedText(WPARAM wParam) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace

HFONT Fonts::Get(FontKind kind, UINT dpi) {
    for (const Made& made : made_) {
        if (made.kind == kind && made.dpi == dpi) {
            return made.font.get();
        }
    }
    made_.push_back({kind, dpi, MakeFont(kind, dpi)});
    return made_.back().font.get();
}

std::wstring WindowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}


HWND FormWindow::Create(HINSTANCE instance, const wchar_t* windowClass, const wchar_t* caption,
                        WNDPROC proc, void* window, const ControlSpec* specs, std::size_t count,
                        Twips client) {
    if (!RegisterFrameClass(instance, windowClass, proc)) {
        return nullptr;
    }
    HWND hwnd = CreateFrame(instance, windowClass, caption, window);
    if (hwnd == nullptr) {
        return nullptr;
    }
    hwnd_ = hwnd;
    specs_ = specs;
    for (std::size_t i = 0; i < count; ++i) {
        controls_.push_back(CreateControl(hwnd, specs[i]));
    }
    ApplyDpi(DpiOf(hwnd));
    PlaceCentred(hwnd, client, dpi_);
    return hwnd;
}

void* FormWindow::WindowPointer(HWND hwnd, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        void* window = reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
        return window;
    }
    return reinterpret_cast<void*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
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
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const ControlSpec& spec = specs_[i];
        SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Get(spec.font, dpi)),
                     FALSE);
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

LRESULT FormWindow::HandleShared(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CTLCOLORSTATIC:
            if (IsRed(reinterpret_cast<HWND>(lParam))) {
                return RedText(wParam);
            }
            break;
        case WM_DPICHANGED:
            OnDpiChanged(wParam, lParam);
            return 0;
        case WM_CLOSE:
            if (events_.onCloseRequest) {
                events_.onCloseRequest();
            }
            return 0;
        case WM_QUERYENDSESSION:
            return events_.onQueryEndSession ? events_.onQueryEndSession() : TRUE;
        case WM_ENDSESSION:
            // FALSE: the log-off or shutdown was called off.
            if (wParam != FALSE && events_.onSessionEnd) {
                events_.onSessionEnd();
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

}  // namespace kestrix::win32
