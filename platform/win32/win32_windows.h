#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include <vector>

#include "platform/win32/unique_handle.h"
#include "platform/windows.h"

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

// The controls of one window, laid out from twips at the window's DPI.
class FormWindow {
public:
    void CreateControls(HWND hwnd, const ControlSpec* specs, std::size_t count);
    HWND Control(int id) const;
    bool IsRed(HWND control) const;
    UINT Dpi() const { return dpi_; }
    void OnDpiChanged(WPARAM wParam, LPARAM lParam);
    // The events both windows handle alike: red labels, DPI changes, close requests.
    LRESULT HandleShared(UINT message, WPARAM wParam, LPARAM lParam,
                         const std::function<void()>& onQueryUnload);

private:
    void ApplyDpi(UINT dpi);

    HWND hwnd_ = nullptr;
    const ControlSpec* specs_ = nullptr;
    std::vector<HWND> controls_;
    UINT dpi_ = 96;
    UniqueFont defaultFont_;
    UniqueFont songBold12_;
    UniqueFont songBold105_;
    UniqueFont songRegular105_;
};

// The main window ch1.
class Win32MainWindow final : public MainWindow {
public:
    bool Create(HINSTANCE instance);
    HWND Handle() const { return hwnd_; }

    void Show() override;
    void Hide() override;
    int BootOnlyValue() const override;
    void SetBootOnlyValue(int value) override;

    std::function<void()> onCommand2;
    std::function<void()> onQueryUnload;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    FormWindow form_;
    HWND hwnd_ = nullptr;
    HWND fx1_ = nullptr;
};

// The selection and progress window ch2.
class Win32SelectionWindow final : public SelectionWindow {
public:
    bool Create(HINSTANCE instance);
    HWND Handle() const { return hwnd_; }

    void Show() override;
    void Hide() override;
    void AddPartition(const std::wstring& entry) override;
    int PartitionCount() const override;
    std::wstring PartitionText() const override;
    void SetPartitionText(const std::wstring& text) override;
    void SelectPartition(int index) override;
    void SetInstruction(const std::wstring& text) override;
    bool IsLogVisible() const override;
    void ShowLog() override;
    void HideLog() override;
    void AppendLogLine(const std::wstring& line) override;
    int DriveCount() const override;
    std::wstring DriveEntry(int index) const override;
    void SetTimerEnabled(bool enabled) override;
    void SetTopmost() override;

    std::function<void()> onAn1;
    std::function<void()> onTimer;
    std::function<void()> onLabel2;
    std::function<void()> onQueryUnload;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void FillDrives();

    FormWindow form_;
    HWND hwnd_ = nullptr;
    HWND l2_ = nullptr;
    HWND d1_ = nullptr;
    HWND l1_ = nullptr;
    HWND label1_ = nullptr;
};

class Win32Session final : public Session {
public:
    Win32Session(const Win32MainWindow& ch1, const Win32SelectionWindow& ch2)
        : ch1_(ch1), ch2_(ch2) {}

    MessageAnswer ShowMessage(const std::wstring& text, MessageButtons buttons,
                              MessageIcon icon) override;
    void ProcessPendingEvents() override;
    [[noreturn]] void EndProgram(int exitCode) override;

    // Runs the window events until the program ends.
    int RunMessageLoop();

private:
    void Dispatch(MSG& message);

    const Win32MainWindow& ch1_;
    const Win32SelectionWindow& ch2_;
};

// A drive list entry as the user knows it: "c: [label]", or the share of a network drive.
std::wstring DescribeDrive(const std::wstring& root);

}  // namespace kestrix::win32
