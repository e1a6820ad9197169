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

void RunLog::Write(std::wstring_view text) {
    const Hold hold(busy_);
    Add(text);
    WritePending();
}

void RunLog::WriteLines(const std::vector<std::wstring>& lines) {
    const Hold hold(busy_);
    for (const auto& line : lines) {
        Add(line);
    }
    WritePending();
}

void RunLog::Add(std::wstring_view text) {
    pending_ += ToUtf8(LogTimestamp(clock_.Now()) + L"  " + std::wstring(text) + L"\r\n");
}

bool RunLog::TryCreate(const std::wstring& parent, bool besideProgram) {
    const auto base = JoinPath(parent, L"kestrix-" + CompactTimestamp(clock_.Now()));
    // Two runs in the same second get folders of their own.
    for (int attempt = 1; attempt <= 9; ++attempt) {
        const auto candidate = attempt == 1 ? base : base + L"-" + DecimalText(attempt);
        // Where any user may make folders, the run's is made so that only an administrator could
        // have made it: an undo trusts nothing else there.
        const auto created = besideProgram ? files_.CreateFolder(candidate)
                                           : files_.CreateAdministratorsFolder(candidate);
        if (!created) {
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

bool RunLog::Open(const std::vector<DriveLetter>& drives) {
    const Hold hold(busy_);
    return OpenHeld(drives);
}

bool RunLog::OpenHeld(const std::vector<DriveLetter>& drives) {
    if (!folder_.empty()) {
        return true;
    }
    if (inMemory_) {
        return false;
    }
    if (!triedOwnFolder_) {
        triedOwnFolder_ = true;
        if (TryCreate(files_.OwnFolder(), true)) {
            WritePending();
            return true;
        }
    }
    for (const auto& drive : drives) {
        if (TryCreate(drive.Path(L"\\"), false)) {
            WritePending();
            return true;
        }
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
        OpenHeld({});
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
