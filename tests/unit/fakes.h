#pragma once
// Recording doubles of the platform. Every observable act goes into one shared event list, so a
// test can check the order of log lines, tool runs, message boxes and window changes.
#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/windows.h"

namespace kestrix::testing {

using Events = std::vector<std::wstring>;

struct ProgramEnded {
    int exitCode;
};

class FakeMainWindow final : public MainWindow {
public:
    explicit FakeMainWindow(Events& events) : events_(events) {}
    void Show() override {
        visible = true;
        events_.push_back(L"ch1.show");
    }
    void Hide() override {
        visible = false;
        events_.push_back(L"ch1.hide");
    }
    int BootOnlyValue() const override { return bootOnly; }
    void SetBootOnlyValue(int value) override { bootOnly = value; }

    bool visible = false;
    int bootOnly = 0;

private:
    Events& events_;
};

class FakeSelectionWindow final : public SelectionWindow {
public:
    explicit FakeSelectionWindow(Events& events) : events_(events) {}
    void Show() override {
        visible = true;
        events_.push_back(L"ch2.show");
    }
    void Hide() override {
        visible = false;
        events_.push_back(L"ch2.hide");
    }
    void AddPartition(const std::wstring& entry) override {
        // The list keeps itself in ascending order of text.
        partitions.insert(std::upper_bound(partitions.begin(), partitions.end(), entry), entry);
    }
    int PartitionCount() const override { return static_cast<int>(partitions.size()); }
    std::wstring PartitionText() const override { return partitionText; }
    void SetPartitionText(const std::wstring& text) override { partitionText = text; }
    void SelectPartition(int index) override {
        partitionText = partitions.at(static_cast<std::size_t>(index));
    }
    void SetInstruction(const std::wstring& text) override { instruction = text; }
    bool IsLogVisible() const override { return logVisible; }
    void ShowLog() override { logVisible = true; }
    void HideLog() override { logVisible = false; }
    void AppendLogLine(const std::wstring& line) override {
        log.push_back(line);
        events_.push_back(L"log:" + line);
    }
    int DriveCount() const override { return static_cast<int>(drives.size()); }
    std::wstring DriveEntry(int index) const override {
        return drives.at(static_cast<std::size_t>(index));
    }
    void SetTimerEnabled(bool enabled) override {
        timerEnabled = enabled;
        events_.push_back(enabled ? L"timer.on" : L"timer.off");
    }
    void SetTopmost() override { topmost = true; }

    bool visible = false;
    std::vector<std::wstring> partitions;
    std::wstring partitionText;
    std::wstring instruction;
    bool logVisible = false;
    std::vector<std::wstring> log;
    std::vector<std::wstring> drives;
    bool timerEnabled = false;
    bool topmost = false;

private:
    Events& events_;
};

class FakeSession final : public Session {
public:
    explicit FakeSession(Events& events) : events_(events) {}
    MessageAnswer ShowMessage(const std::wstring& text, MessageButtons buttons,
                              MessageIcon icon) override {
        messages.push_back({text, buttons, icon});
        events_.push_back(L"message:" + text);
        if (answers.empty()) {
            return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Closed;
        }
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ProcessPendingEvents() override {
        ++eventRounds;
        events_.push_back(L"events");
        if (onEvents) {
            onEvents();
        }
    }
    [[noreturn]] void EndProgram(int exitCode) override {
        events_.push_back(L"end:" + std::to_wstring(exitCode));
        throw ProgramEnded{exitCode};
    }

    struct Message {
        std::wstring text;
        MessageButtons buttons;
        MessageIcon icon;
    };
    std::vector<Message> messages;
    std::deque<MessageAnswer> answers;
    int eventRounds = 0;
    // Runs inside an event round, as a user's click or close would.
    std::function<void()> onEvents;

private:
    Events& events_;
};

class FakeFileSystem final : public FileSystem {
public:
    explicit FakeFileSystem(Events& events) : events_(events) {}
    std::wstring OwnFolder() const override { return ownFolder; }
    std::wstring SystemFolder() const override { return systemFolder; }
    std::wstring CommandLineArguments() const override { return arguments; }
    bool SetCurrentDrive(const std::wstring& drive) override {
        events_.push_back(L"drive:" + drive);
        if (drive.size() != 2 || drive[1] != L':' || failDrive) {
            return false;
        }
        currentDrive = drive;
        return true;
    }
    bool SetCurrentFolder(const std::wstring& folder) override {
        events_.push_back(L"folder:" + folder);
        if (folder.empty() || failFolder) {
            return false;
        }
        currentFolder = folder;
        return true;
    }
    std::optional<std::int64_t> FileLength(const std::wstring& path) const override {
        const auto it = files.find(ToLower(path));
        if (it == files.end()) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(it->second.size());
    }
    FileResult SetNormalAttributes(const std::wstring& path) override {
        events_.push_back(L"attrib:" + path);
        if (files.count(ToLower(path)) == 0) {
            return Failure(2);
        }
        return Writable(path) ? FileResult::Success() : Failure(5);
    }
    FileResult CopyFileOver(const std::wstring& source, const std::wstring& target) override {
        events_.push_back(L"copy:" + source + L">" + target);
        const auto it = files.find(ToLower(source));
        if (it == files.end()) {
            return Failure(2);
        }
        if (!Writable(target)) {
            return Failure(5);
        }
        files[ToLower(target)] = it->second;
        return FileResult::Success();
    }
    FileResult CreateFolder(const std::wstring& path) override {
        events_.push_back(L"mkdir:" + path);
        if (!Writable(path) || folders.count(ToLower(path)) != 0) {
            return Failure(183);
        }
        folders.insert(ToLower(path));
        return FileResult::Success();
    }
    FileResult AppendToFile(const std::wstring& path, const std::string& bytes) override {
        if (!Writable(path)) {
            return Failure(5);
        }
        files[ToLower(path)] += bytes;
        return FileResult::Success();
    }
    FileResult WriteNewFile(const std::wstring& path, const std::string& bytes) override {
        if (!Writable(path)) {
            return Failure(5);
        }
        files[ToLower(path)] = bytes;
        return FileResult::Success();
    }
    FileResult ReadVolumeStart(const std::wstring& drive, std::size_t length,
                               std::string& bytes) override {
        const auto it = volumes.find(ToLower(drive));
        if (it == volumes.end()) {
            return Failure(2);
        }
        bytes = it->second.substr(0, length);
        return FileResult::Success();
    }

    // Paths under a read-only prefix (a drive or a folder, lower case) refuse every write.
    bool Writable(const std::wstring& path) const {
        const auto lower = ToLower(path);
        for (const auto& prefix : readOnly) {
            if (lower.rfind(prefix, 0) == 0) {
                return false;
            }
        }
        return true;
    }
    static FileResult Failure(std::uint32_t error) {
        return {false, error, L"error " + std::to_wstring(error)};
    }
    // The text of a file as written, for checking logs.
    std::wstring Text(const std::wstring& path) const {
        const auto it = files.find(ToLower(path));
        return it == files.end() ? L"" : FromUtf8(it->second);
    }

    // A file of the given length; paths compare without regard to case, as on Windows.
    void Put(const std::wstring& path, std::size_t length) {
        files[ToLower(path)] = std::string(length, 'x');
    }

    std::wstring ownFolder = L"C:\\tools";
    std::wstring systemFolder = L"C:\\Windows\\System32";
    std::wstring arguments;
    std::wstring currentDrive;
    std::wstring currentFolder;
    bool failDrive = false;
    bool failFolder = false;
    std::map<std::wstring, std::string> files;
    std::set<std::wstring> folders;
    std::map<std::wstring, std::string> volumes;
    std::vector<std::wstring> readOnly;

private:
    Events& events_;
};

// Time stands still unless a test moves it; each reading of the counter advances it 10 ms.
class FakeClock final : public Clock {
public:
    LocalTime Now() const override { return now; }
    std::uint64_t Milliseconds() const override { return ticks += 10; }

    LocalTime now{2026, 12, 7, 10, 30, 26, 123};
    mutable std::uint64_t ticks = 0;
};

class FakeLauncher final : public ProcessLauncher {
public:
    explicit FakeLauncher(Events& events) : events_(events) {}
    LaunchResult Launch(const LaunchRequest& request, LaunchProgress& progress) override {
        requests.push_back(request);
        events_.push_back(L"run:" + request.program + L"|" + request.parameters);
        if (onLaunch) {
            onLaunch(request);
        }
        for (int minute = 1; minute <= minutesRunning; ++minute) {
            progress.StillRunning(minute);
        }
        const auto name = Name(request);
        if (refused.count(name) != 0) {
            return {false, 193, L"不是有效的应用程序", std::nullopt, L"", 0};
        }
        LaunchResult launched = result;
        const auto line = name + L" " + request.parameters;
        if (const auto it = exitCodes.find(line); it != exitCodes.end()) {
            launched.exitCode = it->second;
        }
        if (const auto it = outputs.find(line); it != outputs.end()) {
            launched.output = it->second;
        }
        return launched;
    }

    // The program's file name, without the folder it was started from.
    static std::wstring Name(const LaunchRequest& request) {
        return request.program.substr(request.program.rfind(L'\\') + 1);
    }

    std::vector<LaunchRequest> requests;
    LaunchResult result{true, 0, L"", 0u, L"", 0};
    std::function<void(const LaunchRequest&)> onLaunch;
    // Scripted outcomes by "name parameters": the exit code and the output of one command line.
    std::map<std::wstring, std::uint32_t> exitCodes;
    std::map<std::wstring, std::wstring> outputs;
    // Tools the platform refuses to start though they exist.
    std::set<std::wstring> refused;
    // How many full minutes each tool is reported still running.
    int minutesRunning = 0;

private:
    Events& events_;
};

}  // namespace kestrix::testing
