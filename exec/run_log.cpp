#include "exec/run_log.h"


#include "platform/text.h"

namespace kestrix {

namespace {

constexpr wchar_t kLogName[] = L"kestrix.log";
constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

std::wstring Digits(int value, int width) {
    std::wstring text = DecimalText(value);
    while (static_cast<int>(text.size()) < width) {
        text.insert(text.begin(), L'0');
    }
    return text;
}

std::wstring DescribeRun(const RunResult& result) {
    switch (result.status) {
        case RunStatus::InvalidCommand:
            return L"命令行无效，未启动";
        case RunStatus::FolderFailed:
            return L"无法进入程序目录，未启动";
        case RunStatus::NotStarted:
            return L"无法启动（错误 " + DecimalText(result.error) + L"：" + result.errorText +
                   L"）";
        case RunStatus::Finished:
            break;
    }
    if (!result.exitCode) {
        return L"已结束，退出码无法读取";
    }
    return L"退出码 " + DecimalText(*result.exitCode);
}

}  // namespace

std::wstring CompactTimestamp(const LocalTime& t) {
    return Digits(t.year, 4) + Digits(t.month, 2) + Digits(t.day, 2) + L"-" + Digits(t.hour, 2) +
           Digits(t.minute, 2) + Digits(t.second, 2);
}

std::wstring LogTimestamp(const LocalTime& t) {
    return Digits(t.year, 4) + L"-" + Digits(t.month, 2) + L"-" + Digits(t.day, 2) + L" " +
           Digits(t.hour, 2) + L":" + Digits(t.minute, 2) + L":" + Digits(t.second, 2) + L"." +
           Digits(t.millisecond, 3);
}

std::wstring JoinPath(const std::wstring& folder, std::wstring_view name) {
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\') {
        path += L'\\';
    }
    if (!name.empty() && name.front() == L'\\') {
        name.remove_prefix(1);
    }
    path += name;
    return path;
}

void RunLog::Write(std::wstring_view text) {
    const Hold hold(busy_);
    pending_ += ToUtf8(LogTimestamp(clock_.Now()) + L"  " + std::wstring(text) + L"\r\n");
    WritePending();
}

RunResult RunLog::RunTool(CommandRunner& runner, const std::wstring& commandLine) {
    const auto started = clock_.Milliseconds();
    const auto result = runner.RunTool(commandLine);
    const auto elapsed = clock_.Milliseconds() - started;
    Write(L"命令：" + commandLine + L" → " + DescribeRun(result) + L"，用时 " +
          DecimalText(elapsed) + L" 毫秒");
    return result;
}

bool RunLog::TryCreate(const std::wstring& parent) {
    const auto base = JoinPath(parent, L"kestrix-" + CompactTimestamp(clock_.Now()));
    // Two runs in the same second get folders of their own.
    for (int attempt = 1; attempt <= 9; ++attempt) {
        const auto candidate = attempt == 1 ? base : base + L"-" + DecimalText(attempt);
        if (!files_.CreateFolder(candidate)) {
            continue;
        }
        if (files_.WriteNewFile(JoinPath(candidate, kLogName), kUtf8Mark)) {
            folder_ = candidate;
            return true;
        }
        return false;
    }
    return false;
}

bool RunLog::Open(const std::wstring& bootDrive) {
    const Hold hold(busy_);
    return OpenHeld(bootDrive);
}

bool RunLog::OpenHeld(const std::wstring& bootDrive) {
    if (!folder_.empty()) {
        return true;
    }
    if (!triedOwnFolder_) {
        triedOwnFolder_ = true;
        if (TryCreate(files_.OwnFolder())) {
            WritePending();
            return true;
        }
    }
    if (!bootDrive.empty() && TryCreate(bootDrive + L"\\")) {
        WritePending();
        return true;
    }
    return false;
}

void RunLog::Flush() {
    const Hold hold(busy_);
    FlushHeld();
}

void RunLog::FlushHeld() {
    WritePending();
    if (!folder_.empty()) {
        files_.FlushFile(JoinPath(folder_, kLogName));
    }
}

void RunLog::Close() {
    const Hold hold(busy_);
    if (folder_.empty()) {
        OpenHeld(L"");
    }
    FlushHeld();
}

void RunLog::WritePending() {
    if (folder_.empty() || pending_.empty()) {
        return;
    }
    if (files_.AppendToFile(JoinPath(folder_, kLogName), pending_)) {
        pending_.clear();
    }
}

}  // namespace kestrix
