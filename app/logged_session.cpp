#include "app/logged_session.h"
#include "platform/text.h"

#include <cstdlib>

namespace kestrix {

namespace {

const wchar_t* AnswerName(MessageAnswer answer) {
    switch (answer) {
        case MessageAnswer::Ok:
            return L"确定";
        case MessageAnswer::Yes:
            return L"是";
        case MessageAnswer::No:
            return L"否";
        case MessageAnswer::Cancel:
            return L"取消";
        case MessageAnswer::Closed:
            break;
    }
    return L"关闭";
}

}  // namespace

MessageAnswer LoggedSession::ShowMessage(const std::wstring& text, MessageButtons buttons,
                                         MessageIcon icon) {
    if (unattended_ || sessionEnding_) {
        const auto answer = buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
        log_.Write(std::wstring(unattended_ ? L"提示（无人值守，未显示）："
                                            : L"提示（会话结束，未显示）：") +
                   text + L" → " + AnswerName(answer));
        return answer;
    }
    const auto answer = inner_.ShowMessage(text, buttons, icon);
    log_.Write(L"提示：" + text + L" → " + AnswerName(answer));
    return answer;
}

void LoggedSession::EndProgram(int exitCode) {
    if (beforeEnd_) {
        // Once: an end from inside it must not run it again.
        const auto action = std::move(beforeEnd_);
        beforeEnd_ = nullptr;
        action();
    }
    log_.Write(L"程序结束，退出码 " + DecimalText(exitCode));
    log_.Close();
    inner_.EndProgram(exitCode);
    // The inner session never returns either; the compiler cannot see through the virtual call.
    std::abort();
}

}  // namespace kestrix
