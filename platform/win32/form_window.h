#pragma once
// What both windows share: controls laid out from a table in twips at the window's DPI, their
// fonts, red labels, close requests and the end of the Windows session.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

// A rectangle in twips (1/1440 inch; 15 twips are one pixel at 96 DPI).
struct Twips {
    int left, top, width, height;
};

enum class FontKind { Default, SongBold12, SongBold105, SongRegular105 };

struct ControlSpec {
    int id;
    const wchar_t* windowClass;
    const wchar_t* caption;
    DWORD style;
    Twips place;
    FontKind font;
    bool red;
    int dropDownHeight;  // twips below a drop-down combo's field for its list
};

// The controls' fonts, each made when a window first needs it at a DPI and kept until the program
// ends: the two windows share them.
class Fonts {
public:
    HFONT Get(FontKind kind, UINT dpi);

private:
    struct Made {
        FontKind kind;
        UINT dpi;
        UniqueFont font;
    };
    std::vector<Made> made_;
};

// What the frames of both windows pass on to the program.
struct FrameEvents {
    // The close box, Alt+F4 or a WM_CLOSE from elsewhere.
    std::function<void()> onCloseRequest;
    // Windows asks whether its session may end; true lets it.
    std::function<bool()> onQueryEndSession;
    // The session ends, whatever was answered.
    std::function<void()> onSessionEnd;
};

class FormWindow {
public:
    FormWindow(Fonts& fonts, const FrameEvents& events) : fonts_(fonts), events_(events) {}
    // Registers the class and creates the frame with its controls, sized for the client area
    // and centred on its monitor. window is handed back by WindowFrom.
    HWND Create(HINSTANCE instance, const wchar_t* windowClass, const wchar_t* caption,
                WNDPROC proc, void* window, const ControlSpec* specs, std::size_t count,
                Twips client);
    HWND Handle() const { return hwnd_; }
    HWND Control(int id) const;
    UINT Dpi() const { return dpi_; }
    // The events both windows handle alike: red labels, DPI changes, close requests and the end
    // of the session.
    LRESULT HandleShared(UINT message, WPARAM wParam, LPARAM lParam);

    // The window object a frame was created for, from its window procedure.
    template <typename Window>
    static Window* WindowFrom(HWND hwnd, UINT message, LPARAM lParam) {
        return static_cast<Window*>(WindowPointer(hwnd, message, lParam));
    }

private:
    static void* WindowPointer(HWND hwnd, UINT message, LPARAM lParam);
    bool IsRed(HWND control) const;
    void ApplyDpi(UINT dpi);
    void OnDpiChanged(WPARAM wParam, LPARAM lParam);

    Fonts& fonts_;
    const FrameEvents& events_;
    HWND hwnd_ = nullptr;
    const ControlSpec* specs_ = nullptr;
    std::vector<HWND> controls_;
    UINT dpi_ = 96;
};

// The text of a window or control.
std::wstring WindowText(HWND hwnd);

}  // namespace kestrix::win32
