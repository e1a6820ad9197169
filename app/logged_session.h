#pragma once
// The platform's session, with every message box and the end of the program written to the run's
// log, which is completed before the process ends.
#include "exec/run_log.h"
#include "platform/windows.h"

namespace kestrix {

class LoggedSession final : public Session {
public:
    LoggedSession(Session& inner, RunLog& log) : inner_(inner), log_(log) {}

    MessageAnswer ShowMessage(const std::wstring& text, MessageButtons buttons,
                              MessageIcon icon) override;
    void ProcessPendingEvents() override { inner_.ProcessPendingEvents(); }
    [[noreturn]] void EndProgram(int exitCode) override;

private:
    Session& inner_;
    RunLog& log_;
};

}  // namespace kestrix
