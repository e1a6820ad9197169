#pragma once
// What the logic needs of the two windows and of the desktop session. The Win32 layer implements
// these with real windows; the tests with recording doubles. Windows are touched on the window
// thread only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kestrix {

// The start window: the boot-sector-only switch and the start button.
class StartWindow {
public:
    virtual ~StartWindow() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual bool BootSectorOnly() const = 0;
    virtual void SetBootSectorOnly(bool on) = 0;
};

// The repair window: first the partition choice, then the repair's progress log.
class RepairWindow {
public:
    virtual ~RepairWindow() = default;
    virtual void Show() = 0;
    virtual void Hide() = 0;

    // The partition field: a sorted list whose text the user may also type. Its entries are
    // numbered in the order they were added, whatever order the list shows them in.
    virtual void AddPartition(const std::wstring& entry) = 0;
    virtual int PartitionCount() const = 0;
    virtual std::wstring PartitionText() const = 0;
    // The number of the entry the field holds; none when it holds text typed there.
    virtual std::optional<int> ChosenPartition() const = 0;
    virtual void SetPartitionText(const std::wstring& text) = 0;
    virtual void SelectPartition(int index) = 0;

    // The instruction above the partition field.
    virtual void SetInstruction(const std::wstring& text) = 0;

    // The progress log covers the partition choice once a repair starts.
    virtual bool IsProgressShown() const = 0;
    virtual void ShowProgress() = 0;
    virtual void ShowSelection() = 0;
    virtual void AppendLogLine(const std::wstring& line) = 0;

    virtual void SetConfirmEnabled(bool enabled) = 0;
    // Fires once, two seconds after it is armed.
    virtual void SetAutoCloseTimer(bool armed) = 0;

    // Keeps the window above every window that is not topmost.
    virtual void SetTopmost() = 0;
};

// YesNo: No is the default button; YesNoCancel: Yes is.
enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageIcon { None, Exclamation, Warning };
enum class MessageAnswer { Ok, Yes, No, Cancel, Closed };

class Session {
public:
    virtual ~Session() = default;
    // A modal box without a caption of its own, on the window thread.
    virtual MessageAnswer ShowMessage(const std::wstring& text, MessageButtons buttons,
                                      MessageIcon icon) = 0;
    // Ends the process at once; no further handler runs.
    [[noreturn]] virtual void EndProgram(int exitCode) = 0;
    // Runs work on a thread of its own while the windows go on answering; whenDone then runs on
    // the window thread.
    virtual void RunInBackground(std::function<void()> work, std::function<void()> whenDone) = 0;
    // From the background work: runs the action on the window thread and returns when it has.
    virtual void RunOnWindowThread(const std::function<void()>& action) = 0;
    // From the window thread, when the program must end while background work runs: waits at
    // most this long for the work to end, running its calls to the window thread meanwhile (its
    // whenDone is not run). True when no work runs any more.
    virtual bool WaitForBackground(std::uint32_t milliseconds) = 0;
    // While a job writes the boot files: Windows holds a log-off or shutdown and shows the reason
    // to whoever asked for it, until AllowSessionEnd.
    virtual void BlockSessionEnd(const std::wstring& reason) = 0;
    virtual void AllowSessionEnd() = 0;
    // Shows a file to the user in a program of the system (its full path), shown and not waited
    // for; the error code when it could not be started, 0 when it was.
    virtual std::uint32_t ShowFileIn(const std::wstring& program, const std::wstring& file) = 0;
};

}  // namespace kestrix
