#pragma once
// The platform's session, with every message box and the end of the program written to the run's
// log, which is completed before the process ends. Unattended, no box is shown: its text goes to
// the log, and a question takes the answer that writes nothing.
#include "exec/run_log.h"
#include "platform/windows.h"

namespace kestrix {

class LoggedSession final : public Session {
public:
    LoggedSession(Session& inner, RunLog& log) : inner_(inner), log_(log) {}

    void SetUnattended(bool unattended) { unattended_ = unattended; }
    // The Windows session ends: from now on no box is shown, as when unattended.
    void StopShowingMessages() { sessionEnding_ = true; }
    // Runs just before the program ends, whichever way it ends.
    void SetBeforeEnd(std::function<void()> action) { beforeEnd_ = std::move(action); }

    MessageAnswer ShowMessage(const std::wstring& text, MessageButtons buttons,
                              MessageIcon icon) override;
    [[noreturn]] void EndProgram(int exitCode) override;
    void RunInBackground(std::function<void()> work, std::function<void()> whenDone) override {
        inner_.RunInBackground(std::move(work), std::move(whenDone));
    }
    void RunOnWindowThread(const std::function<void()>& action) override {
        inner_.RunOnWindowThread(action);
    }
    bool WaitForBackground(std::uint32_t milliseconds) override {
        return inner_.WaitForBackground(milliseconds);
    }
    void BlockSessionEnd(const std::wstring& reason) override { inner_.BlockSessionEnd(reason); }
    void AllowSessionEnd() override { inner_.AllowSessionEnd(); }
    std::uint32_t ShowFileIn(const std::wstring& program, const std::wstring& file) override {
        return inner_.ShowFileIn(program, file);
    }

private:
    Session& inner_;
    RunLog& log_;
    bool unattended_ = false;
    bool sessionEnding_ = false;
    std::function<void()> beforeEnd_;
};

}  // namespace kestrix
