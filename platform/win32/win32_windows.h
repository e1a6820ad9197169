#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "platform/windows.h"

namespace kestrix::win32 {

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

    HWND hwnd_ = nullptr;
    HWND fx1_ = nullptr;
    HWND label2_ = nullptr;
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

    HWND hwnd_ = nullptr;
    HWND l2_ = nullptr;
    HWND d1_ = nullptr;
    HWND an1_ = nullptr;
    HWND l1_ = nullptr;
    HWND label2_ = nullptr;
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
