#include "platform/win32/win32_session.h"

#include <memory>

#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

namespace {

constexpr wchar_t kAppTitle[] = L"Kestrix";
constexpr wchar_t kMessageClass[] = L"KestrixSession";
// lParam: the action to run, on the sender's stack.
constexpr UINT kRunAction = WM_APP + 1;
// lParam: the finished BackgroundTask, now owned by the window thread.
constexpr UINT kWorkDone = WM_APP + 2;

struct BackgroundTask {
    std::function<void()> work;
    std::function<void()> whenDone;
    HWND notify = nullptr;
    UniqueKernelHandle thread;
    // The session's record of the work that runs, cleared when it is done.
    HANDLE* running = nullptr;
};

DWORD WINAPI RunTask(void* parameter) {
    auto* task = static_cast<BackgroundTask*>(parameter);
    task->work();
    PostMessageW(task->notify, kWorkDone, 0, reinterpret_cast<LPARAM>(task));
    return 0;
}

void Dispatch(MSG& message) {
    HWND window = GetAncestor(message.hwnd, GA_ROOT);
    if (window != nullptr && IsDialogMessageW(window, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

}  // namespace

bool Win32Session::Create(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kMessageClass;
    if (RegisterClassExW(&wc) == 0) {
        return false;
    }
    messages_ = CreateWindowExW(0, kMessageClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                instance, nullptr);
    windowThread_ = GetCurrentThreadId();
    return messages_ != nullptr;
}

LRESULT CALLBACK Win32Session::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kRunAction:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return 0;
        case kWorkDone: {
            const std::unique_ptr<BackgroundTask> task(reinterpret_cast<BackgroundTask*>(lParam));
            WaitForSingleObject(task->thread.get(), INFINITE);
            *task->running = nullptr;
            task->whenDone();
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Win32Session::RunInBackground(std::function<void()> work, std::function<void()> whenDone) {
    auto task = std::make_unique<BackgroundTask>();
    task->work = std::move(work);
    task->whenDone = std::move(whenDone);
    task->notify = messages_;
    task->running = &background_;
    // Suspended, so the handle is stored before the thread can hand the task back.
    HANDLE thread = CreateThread(nullptr, 0, &RunTask, task.get(), CREATE_SUSPENDED, nullptr);
    if (thread == nullptr) {
        // No thread to spare: the work runs here, as it would have before the windows showed.
        task->work();
        task->whenDone();
        return;
    }
    task->thread.reset(thread);
    background_ = thread;
    ResumeThread(task.release()->thread.get());
}

bool Win32Session::WaitForBackground(std::uint32_t milliseconds) {
    const ULONGLONG until = GetTickCount64() + milliseconds;
    while (background_ != nullptr) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now >= until ? 0 : static_cast<DWORD>(until - now);
        const DWORD woke = MsgWaitForMultipleObjects(1, &background_, FALSE, left, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0) {
            return true;
        }
        if (woke != WAIT_OBJECT_0 + 1) {
            return false;
        }
        // The work's calls to the window thread are sent messages: Peek runs them.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return true;
}

void Win32Session::RunOnWindowThread(const std::function<void()>& action) {
    if (GetCurrentThreadId() == windowThread_) {
        action();
        return;
    }
    SendMessageW(messages_, kRunAction, 0, reinterpret_cast<LPARAM>(&action));
}

MessageAnswer Win32Session::ShowMessage(const std::wstring& text, MessageButtons buttons,
                                        MessageIcon icon) {
    UINT style = MB_OK;
    if (buttons == MessageButtons::YesNoCancel) {
        style = MB_YESNOCANCEL | MB_DEFBUTTON1;
    } else if (buttons == MessageButtons::YesNo) {
        style = MB_YESNO | MB_DEFBUTTON2;
    }
    if (icon == MessageIcon::Exclamation) {
        style |= MB_ICONEXCLAMATION;
    } else if (icon == MessageIcon::Warning) {
        style |= MB_ICONWARNING;
    }
    // Owned by the visible window, so the box stands above the topmost repair window.
    HWND owner = nullptr;
    if (IsWindowVisible(repairWindow_.Handle())) {
        owner = repairWindow_.Handle();
    } else if (IsWindowVisible(startWindow_.Handle())) {
        owner = startWindow_.Handle();
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

void Win32Session::EndProgram(int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }

// The reason belongs to the repair window, which shows the job's progress. Windows names it beside
// the window when the window answers WM_QUERYENDSESSION with FALSE.
void Win32Session::BlockSessionEnd(const std::wstring& reason) {
    ShutdownBlockReasonCreate(repairWindow_.Handle(), reason.c_str());
}

void Win32Session::AllowSessionEnd() { ShutdownBlockReasonDestroy(repairWindow_.Handle()); }

std::uint32_t Win32Session::ShowFileIn(const std::wstring& program, const std::wstring& file) {
    std::wstring line = L"\"" + program + L"\" \"" + file + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
        return GetLastError();
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return 0;
}

void Win32Session::RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        Dispatch(message);
    }
}

}  // namespace kestrix::win32
