#pragma once
// The repair window: the partition choice, then the progress log over it.
#include <windows.h>

#include <functional>
#include <string>

#include "platform/win32/form_window.h"
#include "platform/windows.h"

namespace kestrix::win32 {

// The window is made by the first call that changes it, so that a start window shown before that
// does not wait for it. Until then Handle() is null and the queries answer for the empty hidden
// window it will be (on a null window their calls fail with 0 and no text).
class Win32RepairWindow final : public RepairWindow {
public:
    Win32RepairWindow(HINSTANCE instance, Fonts& fonts, const FrameEvents& events)
        : instance_(instance), form_(fonts, events) {}
    HWND Handle() const { return form_.Handle(); }

    void Show() override;
    void Hide() override;
    void AddPartition(const std::wstring& entry) override;
    int PartitionCount() const override;
    std::wstring PartitionText() const override;
    std::optional<int> ChosenPartition() const override;
    void SetPartitionText(const std::wstring& text) override;
    void SelectPartition(int index) override;
    void SetInstruction(const std::wstring& text) override;
    bool IsProgressShown() const override;
    void ShowProgress() override;
    void ShowSelection() override;
    void AppendLogLine(const std::wstring& line) override;
    void SetConfirmEnabled(bool enabled) override;
    void SetAutoCloseTimer(bool armed) override;
    void SetTopmost() override;

    std::function<void()> onConfirm;
    std::function<void()> onAutoCloseTimer;
    std::function<void()> onKeepOpenClick;
    // Ends the program with exit code 1: the window cannot be made.
    std::function<void()> onCannotMake;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Makes the window when it is not made yet; a window that cannot be made ends the program
    // through onCannotMake, as it did when both windows were made at start-up.
    void Make();

    HINSTANCE instance_;
    FormWindow form_;
    HWND progressLog_ = nullptr;
    HWND partition_ = nullptr;
    HWND instruction_ = nullptr;
    HWND confirm_ = nullptr;
};

}  // namespace kestrix::win32
