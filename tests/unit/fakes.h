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

class FakeStartWindow final : public StartWindow {
public:
    explicit FakeStartWindow(Events& events) : events_(events) {}
    void Show() override {
        visible = true;
        events_.push_back(L"start.show");
    }
    void Hide() override {
        visible = false;
        events_.push_back(L"start.hide");
    }
    bool BootSectorOnly() const override { return bootSectorOnly; }
    void SetBootSectorOnly(bool on) override { bootSectorOnly = on; }

    bool visible = false;
    bool bootSectorOnly = false;

private:
    Events& events_;
};

class FakeRepairWindow final : public RepairWindow {
public:
    explicit FakeRepairWindow(Events& events) : events_(events) {}
    void Show() override {
        visible = true;
        events_.push_back(L"repair.show");
    }
    void Hide() override {
        visible = false;
        events_.push_back(L"repair.hide");
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
    bool IsProgressShown() const override { return progressShown; }
    void ShowProgress() override { progressShown = true; }
    void ShowSelection() override { progressShown = false; }
    void AppendLogLine(const std::wstring& line) override {
        log.push_back(line);
        events_.push_back(L"log:" + line);
    }
    void SetConfirmEnabled(bool enabled) override {
        confirmEnabled = enabled;
        events_.push_back(enabled ? L"confirm.on" : L"confirm.off");
    }
    void SetAutoCloseTimer(bool armed) override {
        autoCloseArmed = armed;
        events_.push_back(armed ? L"timer.on" : L"timer.off");
    }
    void SetTopmost() override { topmost = true; }

    bool visible = false;
    std::vector<std::wstring> partitions;
    std::wstring partitionText;
    std::wstring instruction;
    bool progressShown = false;
    std::vector<std::wstring> log;
    bool confirmEnabled = true;
    bool autoCloseArmed = false;
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
    [[noreturn]] void EndProgram(int exitCode) override {
        events_.push_back(L"end:" + std::to_wstring(exitCode));
        throw ProgramEnded{exitCode};
    }
    // The work runs at once, as if its thread took no time to start.
    void RunInBackground(std::function<void()> work, std::function<void()> whenDone) override {
        events_.push_back(L"background");
        work();
        whenDone();
    }
    void RunOnWindowThread(const std::function<void()>& action) override {
        ++windowCalls;
        if (onWindowThread) {
            onWindowThread();
        }
        action();
    }
    void BlockSessionEnd(const std::wstring& reason) override {
        sessionEndBlock = reason;
        events_.push_back(L"session-end.block:" + reason);
    }
    void AllowSessionEnd() override {
        sessionEndBlock.reset();
        events_.push_back(L"session-end.allow");
    }

    struct Message {
        std::wstring text;
        MessageButtons buttons;
        MessageIcon icon;
    };
    std::vector<Message> messages;
    std::deque<MessageAnswer> answers;
    int windowCalls = 0;
    // The reason the end of the Windows session is held for, while it is.
    std::optional<std::wstring> sessionEndBlock;
    // Runs on the window thread before each report of the background work, as a user's click
    // or close between two steps would.
    std::function<void()> onWindowThread;

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
        if (!Writable(path)) {
            return Failure(5);
        }
        attributes.erase(ToLower(path));
        return FileResult::Success();
    }
    FileResult CopyFileOver(const std::wstring& source, const std::wstring& target) override {
        events_.push_back(L"copy:" + source + L">" + target);
        if (held.count(ToLower(source)) != 0) {
            return Failure(kErrorSharingViolation);
        }
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
                               std::string& bytes) const override {
        const auto it = volumes.find(ToLower(drive));
        if (it == volumes.end()) {
            return Failure(2);
        }
        bytes = it->second.substr(0, length);
        return FileResult::Success();
    }
    FileResult WriteVolumeStart(const std::wstring& drive, const std::string& bytes) override {
        events_.push_back(L"rawwrite:" + drive);
        const auto it = volumes.find(ToLower(drive));
        if (it == volumes.end() || !Writable(drive)) {
            return Failure(5);
        }
        it->second.replace(0, bytes.size(), bytes);
        return FileResult::Success();
    }
    // A drive's own identity when a test gave one, else the size of its volume.
    std::optional<VolumeIdentity> IdentifyVolume(const std::wstring& drive) const override {
        if (const auto it = identities.find(ToLower(drive)); it != identities.end()) {
            return it->second;
        }
        const auto it = volumes.find(ToLower(drive));
        if (it == volumes.end()) {
            return std::nullopt;
        }
        return VolumeIdentity{{}, 0, it->second.size()};
    }
    FileResult ReadWholeFile(const std::wstring& path, std::string& bytes) const override {
        const auto it = files.find(ToLower(path));
        if (it == files.end()) {
            return Failure(2);
        }
        bytes = it->second;
        return FileResult::Success();
    }
    // Not SHA-256 but as sensitive to every byte for what the tests need: four 64-bit FNV-1a
    // lanes with different starts.
    std::optional<std::string> Sha256(const std::string& bytes) const override {
        std::string digest;
        for (std::uint64_t lane = 0; lane < 4; ++lane) {
            std::uint64_t h = 14695981039346656037ull + lane;
            for (const char c : bytes) {
                h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
            }
            for (int i = 0; i < 8; ++i) {
                digest += static_cast<char>(h >> (8 * i));
            }
        }
        return digest;
    }
    std::optional<std::uint32_t> Attributes(const std::wstring& path) const override {
        if (files.count(ToLower(path)) == 0) {
            return std::nullopt;
        }
        const auto it = attributes.find(ToLower(path));
        return it == attributes.end() ? 0u : it->second;
    }
    FileResult SetAttributes(const std::wstring& path, std::uint32_t value) override {
        events_.push_back(L"setattrib:" + path + L"=" + std::to_wstring(value));
        if (files.count(ToLower(path)) == 0) {
            return Failure(2);
        }
        attributes[ToLower(path)] = value;
        return FileResult::Success();
    }
    FileResult ListFolder(const std::wstring& path,
                          std::vector<FolderEntry>& entries) const override {
        entries.clear();
        auto base = ToLower(path);
        if (!base.empty() && base.back() == L'\\') {
            base.pop_back();
        }
        const auto prefix = base + L"\\";
        for (const auto& locked : unreadable) {
            if (prefix.rfind(locked, 0) == 0) {
                return Failure(21);
            }
        }
        std::set<std::wstring> seen;
        auto add = [&](const std::wstring& key, bool deeperIsFolder) {
            if (key.rfind(prefix, 0) != 0 || key.size() == prefix.size()) {
                return;
            }
            const auto rest = key.substr(prefix.size());
            const auto slash = rest.find(L'\\');
            const auto name = rest.substr(0, slash);
            if (seen.insert(name).second) {
                entries.push_back({name, deeperIsFolder || slash != std::wstring::npos});
            }
        };
        for (const auto& [key, bytes] : files) {
            add(key, false);
        }
        for (const auto& folder : folders) {
            add(folder, true);
        }
        const bool isDriveRoot = base.size() == 2 && base[1] == L':';
        if (entries.empty() && folders.count(base) == 0 && !isDriveRoot) {
            return Failure(kErrorPathNotFound);
        }
        return FileResult::Success();
    }
    FileResult FlushFile(const std::wstring& path) override {
        events_.push_back(L"flush:" + path);
        return files.count(ToLower(path)) != 0 ? FileResult::Success() : Failure(2);
    }
    std::vector<std::wstring> DriveEntries() const override { return drives; }
    DriveMedia DiskMediaOf(int disk) const override {
        const auto it = diskMedia.find(disk);
        return it == diskMedia.end() ? DriveMedia::Fixed : it->second;
    }
    bool IsEfiSystemPartition(const std::wstring& drive) const override {
        return efiSystem.count(ToLower(drive)) != 0;
    }
    Firmware RunningFirmware() const override { return firmware; }
    FileResult ReadFileStart(const std::wstring& path, std::size_t length,
                             std::string& bytes) const override {
        const auto it = files.find(ToLower(path));
        if (it == files.end()) {
            return Failure(kErrorFileNotFound);
        }
        bytes = it->second.substr(0, length);
        return FileResult::Success();
    }
    std::wstring TempFolder() const override { return L"C:\\temp\\"; }
    bool DeleteFileAt(const std::wstring& path) override {
        events_.push_back(L"delete:" + path);
        return files.erase(ToLower(path)) != 0;
    }
    DriveMedia MediaOf(const std::wstring& drive) const override {
        const auto it = media.find(ToLower(drive));
        return it == media.end() ? DriveMedia::Fixed : it->second;
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
    std::map<std::wstring, std::optional<VolumeIdentity>> identities;
    std::map<std::wstring, std::uint32_t> attributes;
    std::vector<std::wstring> readOnly;
    // Folders (lower case, with a trailing backslash) whose files cannot be read at all.
    std::vector<std::wstring> unreadable;
    // Paths whose copy fails because another program holds them open.
    std::set<std::wstring> held;
    std::map<std::wstring, DriveMedia> media;
    std::vector<std::wstring> drives;
    std::map<int, DriveMedia> diskMedia;
    std::set<std::wstring> efiSystem;
    Firmware firmware = Firmware::Bios;

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
        if (launched.exitCode == 0u && onSuccess) {
            onSuccess(request);
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
    // What a tool that succeeds leaves behind.
    std::function<void(const LaunchRequest&)> onSuccess;
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
