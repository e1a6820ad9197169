#pragma once
// What the logic needs of the two windows and of the desktop session. The Win32 layer implements
// these with real windows; the tests with recording doubles.
#include <cstddef>
#include <string>

namespace kestrix {

// ch1: the boot-sector-only switch and the start button.
class MainWindow {
public:
    virtual ~MainWindow() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    // fx1's check value: 0 clear, 1 ticked, 2 greyed.
    virtual int BootOnlyValue() const = 0;
    virtual void SetBootOnlyValue(int value) = 0;
};

// ch2: partition selection (l1, Label1), progress log (l2), drive list (d1), timer (e_t1).
class SelectionWindow {
public:
    virtual ~SelectionWindow() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;

    // l1, the sorted editable combo.
    virtual void AddPartition(const std::wstring& entry) = 0;
    virtual int PartitionCount() const = 0;
    virtual std::wstring PartitionText() const = 0;
    virtual void SetPartitionText(const std::wstring& text) = 0;
    virtual void SelectPartition(int index) = 0;

    // Label1, the instruction above l1.
    virtual void SetInstruction(const std::wstring& text) = 0;

    // l2, the progress log; its visibility marks a started repair.
    virtual bool IsLogVisible() const = 0;
    virtual void ShowLog() = 0;
    virtual void HideLog() = 0;
    virtual void AppendLogLine(const std::wstring& line) = 0;

    // d1, the machine's drives as listed when the window was created.
    virtual int DriveCount() const = 0;
    virtual std::wstring DriveEntry(int index) const = 0;

    // e_t1, the auto-close timer.
    virtual void SetTimerEnabled(bool enabled) = 0;

    // Keeps the window above every window that is not topmost.
    virtual void SetTopmost() = 0;
};

enum class MessageButtons { Ok, YesNoCancel };
enum class MessageIcon { None, Exclamation };
enum class MessageAnswer { Ok, Yes, No, Cancel, Closed };

class Session {
public:
    virtual ~Session() = default;
    // A modal box without a caption of its own; Yes is the default button of a question.
    virtual MessageAnswer ShowMessage(const std::wstring& text, MessageButtons buttons,
                                      MessageIcon icon) = 0;
    // Lets the window events that are waiting run once, nested.
    virtual void ProcessPendingEvents() = 0;
    // Ends the process at once; no further handler runs.
    [[noreturn]] virtual void EndProgram(int exitCode) = 0;
};

}  // namespace kestrix
