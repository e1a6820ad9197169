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

#include "exec/tool_commands.h"
#include "lister/listing_line.h"
#include "openssl_signatures.h"
#include "platform/clock.h"
#include "platform/file_security.h"
#include "platform/files.h"
#include "platform/firmware.h"
#include "platform/key_tree.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/signatures.h"
#include "platform/text.h"
#include "platform/this_process.h"
#include "platform/volumes.h"
#include "platform/windows.h"
#include "store/hive.h"

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
        added.push_back(entry);
    }
    int PartitionCount() const override { return static_cast<int>(partitions.size()); }
    std::wstring PartitionText() const override { return partitionText; }
    std::optional<int> ChosenPartition() const override {
        const auto it = std::find(added.begin(), added.end(), partitionText);
        return it == added.end() ? std::nullopt
                                 : std::optional<int>(static_cast<int>(it - added.begin()));
    }
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
    // The same entries in the order they were added.
    std::vector<std::wstring> added;
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
    // The work runs at once, as if its thread took no time to start; with holdBackground it
    // waits for FinishBackground, as a slow one would.
    void RunInBackground(std::function<void()> work, std::function<void()> whenDone) override {
        events_.push_back(L"background");
        if (holdBackground) {
            held.emplace_back(std::move(work), std::move(whenDone));
            return;
        }
        work();
        whenDone();
    }
    void FinishBackground() {
        auto [work, whenDone] = std::move(held.front());
        held.erase(held.begin());
        work();
        whenDone();
    }
    // The end of the program waits for held work: it runs now (its whenDone never does), unless
    // the work outlasts the wait.
    bool WaitForBackground(std::uint32_t milliseconds) override {
        events_.push_back(L"wait:" + std::to_wstring(milliseconds));
        if (held.empty()) {
            return true;
        }
        if (backgroundOutlastsWait) {
            return false;
        }
        auto work = std::move(held.front().first);
        held.erase(held.begin());
        work();
        return true;
    }
    bool holdBackground = false;
    bool backgroundOutlastsWait = false;
    std::vector<std::pair<std::function<void()>, std::function<void()>>> held;
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
    std::uint32_t ShowFileIn(const std::wstring& program, const std::wstring& file) override {
        events_.push_back(L"show:" + program + L"|" + file);
        return showFailure;
    }
    // What starting the program that shows a file answers.
    std::uint32_t showFailure = 0;

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

// Files and drives under Windows' rules: a read-only file cannot be opened for writing (error 5,
// even for an administrator), nor a hidden or system one replaced as a normal file; a copy takes
// its original's attributes; a file that the running Windows holds open (the boot store) gives a
// sharing violation; a raw volume is read and written in whole sectors; names keep the case they
// were written in while lookups ignore it; a relative path lies in the current folder. No write
// passes through a link or lands on one. A folder an administrator made is owned by the
// Administrators group and only they may change what is in it; any other folder is as Windows
// makes one in a drive's root, where every signed-in user may change it.
class FakeFileSystem final : public Files,
                             public FileSecurity,
                             public Volumes,
                             public FirmwareReader,
                             public OpenSslSignatures,
                             public ThisProcess,
                             public KeyTree {
public:
    explicit FakeFileSystem(Events& events) : events_(events) {}
    // The store that the running Windows holds, read from the hive a test gave: none without.
    std::optional<std::vector<std::wstring>> Subkeys(const KeyPath& path) const override {
        const auto hive = DecodeHive(heldHive);
        return hive ? HiveTree(*hive).Subkeys(path) : std::nullopt;
    }
    std::optional<KeyValue> Value(const KeyPath& path, const std::wstring& name) const override {
        const auto hive = DecodeHive(heldHive);
        return hive ? HiveTree(*hive).Value(path, name) : std::nullopt;
    }
    std::string heldHive;
    std::wstring OwnFolder() const override { return ownFolder; }
    std::wstring SystemFolder() const override { return systemFolder; }
    std::wstring CommandLineArguments() const override { return arguments; }
    bool SetCurrentDrive(DriveLetter drive) override {
        events_.push_back(L"drive:" + drive.Text());
        if (failDrive) {
            return false;
        }
        currentDrive = drive.Text();
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
        const auto it = files.find(Key(path));
        if (it == files.end()) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(it->second.size());
    }
    FileResult SetNormalAttributes(const std::wstring& path) override {
        events_.push_back(L"attrib:" + path);
        if (const auto link = LinkOnTheWay(path)) {
            return ThroughLink(*link);
        }
        if (files.count(Key(path)) == 0) {
            return Failure(2);
        }
        if (!Writable(path)) {
            return Failure(5);
        }
        attributes.erase(Key(path));
        return FileResult::Success();
    }
    FileResult CopyFileOver(const std::wstring& source, const std::wstring& target) override {
        events_.push_back(L"copy:" + source + L">" + target);
        if (held.count(Key(source)) != 0) {
            return Failure(kErrorSharingViolation);
        }
        const auto it = files.find(Key(source));
        if (it == files.end()) {
            return Failure(2);
        }
        const auto carried = AttributesOf(source);
        if (const auto link = LinkOnTheWay(target)) {
            return ThroughLink(*link);
        }
        if (const auto refused = RefusedReplacing(target, carried)) {
            return Failure(*refused);
        }
        if (const auto written = Written(target, it->second); !written) {
            return written;
        }
        if (carried != 0) {
            attributes[Key(target)] = carried;
        } else {
            attributes.erase(Key(target));
        }
        return FileResult::Success();
    }
    FileResult CreateFolder(const std::wstring& path) override {
        events_.push_back(L"mkdir:" + path);
        if (const auto link = LinkOnTheWay(path)) {
            return ThroughLink(*link);
        }
        std::vector<FolderEntry> entries;
        if (!Writable(path) || ListFolder(path, entries)) {
            return Failure(183);
        }
        folders.insert(Key(path));
        names.emplace(Key(path), Full(path));
        return FileResult::Success();
    }
    FileResult CreateAdministratorsFolder(const std::wstring& path) override {
        auto made = CreateFolder(path);
        if (made) {
            administrators.insert(Key(path));
        }
        return made;
    }
    FileResult AppendToFile(const std::wstring& path, const std::string& bytes) override {
        if (const auto link = LinkOnTheWay(path)) {
            return ThroughLink(*link);
        }
        if (const auto refused = RefusedOpening(path)) {
            return Failure(*refused);
        }
        std::string grown = files[Key(path)] + bytes;
        Store(path, grown);
        return FileResult::Success();
    }
    FileResult WriteNewFile(const std::wstring& path, const std::string& bytes) override {
        if (const auto link = LinkOnTheWay(path)) {
            return ThroughLink(*link);
        }
        if (const auto refused = RefusedReplacing(path, 0)) {
            return Failure(*refused);
        }
        return Written(path, bytes);
    }
    FileResult ReadVolumeStart(DriveLetter drive, std::size_t length,
                               std::string& bytes) const override {
        const auto it = volumes.find(drive.LowerText());
        if (it == volumes.end()) {
            return Failure(2);
        }
        if (length % kSector != 0) {
            return Failure(kInvalidParameter);
        }
        bytes = it->second.substr(0, length);
        return FileResult::Success();
    }
    FileResult ReadDiskStart(int disk, std::size_t length, std::string& bytes) const override {
        const auto it = disks.find(disk);
        if (it == disks.end()) {
            return Failure(2);
        }
        if (length % kSector != 0) {
            return Failure(kInvalidParameter);
        }
        bytes = it->second.substr(0, length);
        return FileResult::Success();
    }
    FileResult WriteVolumeStart(DriveLetter drive, const std::string& bytes) override {
        events_.push_back(L"rawwrite:" + drive.Text());
        const auto it = volumes.find(drive.LowerText());
        if (it == volumes.end() || !Writable(drive.Text())) {
            return Failure(5);
        }
        if (bytes.empty() || bytes.size() % kSector != 0) {
            return Failure(kInvalidParameter);
        }
        it->second.replace(0, bytes.size(), bytes);
        return FileResult::Success();
    }
    // A drive's own identity when a test gave one, else the size of its volume.
    std::optional<VolumeIdentity> IdentifyVolume(DriveLetter drive) const override {
        if (const auto it = identities.find(drive.LowerText()); it != identities.end()) {
            return it->second;
        }
        const auto it = volumes.find(drive.LowerText());
        if (it == volumes.end()) {
            return std::nullopt;
        }
        // Each drive's file system has a serial number of its own.
        return VolumeIdentity{{}, 0, it->second.size(), 0x5E000000u + drive.Lower()};
    }
    std::optional<FoundPartition> FindPartitionById(std::string_view guid) const override {
        const auto it = partitionIds.find(std::string(guid));
        return it == partitionIds.end() ? std::nullopt : std::optional(it->second);
    }
    std::optional<PartitionPlace> FindPartition(const VolumeIdentity& identity) const override {
        for (const auto& [where, place] : partitions) {
            if (where.disk == identity.disk && where.start == identity.start &&
                where.length == identity.length) {
                return place;
            }
        }
        return std::nullopt;
    }
    FileResult ReadWholeFile(const std::wstring& path, std::string& bytes) const override {
        wholeReads.push_back(Key(path));
        const auto it = files.find(Key(path));
        if (it == files.end()) {
            return Failure(2);
        }
        if (held.count(Key(path)) != 0) {
            return Failure(kErrorSharingViolation);
        }
        bytes = it->second;
        return FileResult::Success();
    }
    // A read-only file cannot be replaced; the moved file keeps its attributes.
    FileResult MoveFileOver(const std::wstring& source, const std::wstring& target) override {
        events_.push_back(L"move:" + source + L">" + target);
        for (const auto& path : {source, target}) {
            if (const auto link = LinkOnTheWay(path)) {
                return ThroughLink(*link);
            }
        }
        const auto it = files.find(Key(source));
        if (it == files.end()) {
            return Failure(2);
        }
        if (!Writable(source)) {
            return Failure(5);
        }
        if (const auto refused = RefusedOpening(target)) {
            return Failure(*refused);
        }
        const auto bytes = it->second;
        const auto carried = AttributesOf(source);
        files.erase(it);
        attributes.erase(Key(source));
        files.erase(Key(target));
        Store(target, bytes);
        if (carried != 0) {
            attributes[Key(target)] = carried;
        } else {
            attributes.erase(Key(target));
        }
        return FileResult::Success();
    }
    FileResult ReadOwnedFile(const std::wstring& folder, const std::wstring& name,
                             OwnedFile& read) const override {
        const auto path = JoinFolder(folder, name);
        if (const auto result = ReadWholeFile(path, read.bytes); !result) {
            return result;
        }
        read.file = OwnershipOf(path);
        read.folder = OwnershipOf(folder);
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
    FileDigest Sha256OfFile(const std::wstring& path) const override {
        const auto it = files.find(Key(path));
        if (it == files.end()) {
            return FileDigest::Failed(Failure(kErrorFileNotFound));
        }
        if (held.count(Key(path)) != 0) {
            return FileDigest::Failed(Failure(kErrorSharingViolation));
        }
        return {FileResult::Success(), it->second.size(), *Sha256(it->second)};
    }
    std::optional<std::uint32_t> Attributes(const std::wstring& path) const override {
        if (files.count(Key(path)) == 0) {
            return std::nullopt;
        }
        return AttributesOf(path);
    }
    FileResult SetAttributes(const std::wstring& path, std::uint32_t value) override {
        events_.push_back(L"setattrib:" + path + L"=" + std::to_wstring(value));
        if (const auto link = LinkOnTheWay(path)) {
            return ThroughLink(*link);
        }
        if (files.count(Key(path)) == 0) {
            return Failure(2);
        }
        attributes[Key(path)] = value;
        return FileResult::Success();
    }
    FileResult ListFolder(const std::wstring& path,
                          std::vector<FolderEntry>& entries) const override {
        entries.clear();
        auto base = Key(path);
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
            const auto length = std::min(rest.size(), slash);
            if (!seen.insert(rest.substr(0, length)).second) {
                return;
            }
            // The name as it was written: lower case changes no length.
            const auto written = names.find(key);
            const auto name = written == names.end()
                                  ? rest.substr(0, length)
                                  : written->second.substr(prefix.size(), length);
            entries.push_back({name, deeperIsFolder || slash != std::wstring::npos});
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
        if (const auto link = LinkOnTheWay(path)) {
            return ThroughLink(*link);
        }
        if (files.count(Key(path)) == 0) {
            return Failure(2);
        }
        // Flushing opens the file for writing.
        if (const auto refused = RefusedOpening(path)) {
            return Failure(*refused);
        }
        return FileResult::Success();
    }
    // From the tests' own short form: "c: [SYS]".
    std::vector<DriveEntry> DriveEntries() const override {
        std::vector<DriveEntry> entries;
        for (const auto& text : drives) {
            const auto open = text.find(L'[');
            entries.push_back(
                {*DriveLetter::Parse(text.substr(0, 2)),
                 open == std::wstring::npos ? L"" : text.substr(open + 1, text.size() - open - 2)});
        }
        return entries;
    }
    DriveMedia DiskMediaOf(int disk) const override {
        const auto it = diskMedia.find(disk);
        return it == diskMedia.end() ? DriveMedia::Fixed : it->second;
    }
    bool IsEfiSystemPartition(DriveLetter drive) const override {
        return efiSystem.count(drive.LowerText()) != 0;
    }
    FirmwareReading RunningFirmware() const override {
        return {firmware, firmware == Firmware::Unknown ? firmwareError : 0u,
                firmware == Firmware::Unknown && firmwareError != 0 ? L"firmware error" : L""};
    }
    // BIOS has no variables at all (ERROR_INVALID_FUNCTION); names are told apart by case,
    // vendor GUIDs are not.
    VariableReading ReadVariable(const std::wstring& name,
                                 const std::wstring& vendor) const override {
        if (firmware != Firmware::Uefi) {
            return {false, {}, firmware == Firmware::Bios ? 1u : firmwareError};
        }
        const auto key = std::pair(name, ToLower(vendor));
        if (const auto it = variableErrors.find(key); it != variableErrors.end()) {
            return {false, {}, it->second};
        }
        const auto it = variables.find(key);
        if (it == variables.end()) {
            return {false, {}, kErrorVariableNotFound};
        }
        return {true, it->second, 0};
    }
    FileResult ReadFilePart(const std::wstring& path, std::uint64_t offset, std::size_t length,
                            std::string& bytes) const override {
        const auto it = files.find(Key(path));
        if (it == files.end()) {
            return Failure(kErrorFileNotFound);
        }
        if (held.count(Key(path)) != 0) {
            return Failure(kErrorSharingViolation);
        }
        bytes = offset < it->second.size() ? it->second.substr(offset, length) : std::string();
        ranges.emplace_back(offset, bytes.size());
        return FileResult::Success();
    }
    std::optional<std::wstring> SystemStorePath() const override { return systemStore; }
    std::wstring TempFolder() const override { return L"C:\\temp\\"; }
    bool DeleteFileAt(const std::wstring& path) override {
        events_.push_back(L"delete:" + path);
        if (files.count(Key(path)) == 0 || RefusedOpening(path) || LinkOnTheWay(path)) {
            return false;
        }
        files.erase(Key(path));
        attributes.erase(Key(path));
        return true;
    }
    DriveMedia MediaOf(DriveLetter drive) const override {
        const auto it = media.find(drive.LowerText());
        return it == media.end() ? DriveMedia::Fixed : it->second;
    }

    // Paths under a read-only prefix (a drive or a folder, lower case) refuse every write.
    bool Writable(const std::wstring& path) const {
        const auto lower = Key(path);
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
        const auto it = files.find(Key(path));
        return it == files.end() ? L"" : FromUtf8(it->second);
    }

    // A file of the given length, under the name as given.
    void Put(const std::wstring& path, std::size_t length) {
        Store(path, std::string(length, 'x'));
    }
    void Put(const std::wstring& path, const std::string& bytes) { Store(path, bytes); }
    // Read-only, hidden and system, as Windows keeps its boot files.
    void Protect(const std::wstring& path) {
        attributes[Key(path)] = kAttributeReadOnly | kAttributeHidden | kAttributeSystem;
    }

    std::wstring ownFolder = L"C:\\tools";
    std::wstring systemFolder = L"C:\\Windows\\System32";
    std::wstring arguments;
    std::wstring currentDrive;
    // Where a process started from a command prompt finds itself.
    std::wstring currentFolder = L"C:\\Windows\\System32";
    bool failDrive = false;
    bool failFolder = false;
    // Keyed by the full path in lower case.
    std::map<std::wstring, std::string> files;
    std::set<std::wstring> folders;
    // The full path of each file and folder as it was first written.
    std::map<std::wstring, std::wstring> names;
    std::map<std::wstring, std::string> volumes;
    // The first bytes of each physical disk.
    std::map<int, std::string> disks;
    std::map<std::wstring, std::optional<VolumeIdentity>> identities;
    // Partitions of the disks, lettered or not, by where they lie.
    std::vector<std::pair<VolumeIdentity, PartitionPlace>> partitions;
    // GPT partitions by their unique partition GUID's 16 bytes.
    std::map<std::string, FoundPartition> partitionIds;
    std::map<std::wstring, std::uint32_t> attributes;
    std::vector<std::wstring> readOnly;
    // Folders (lower case, with a trailing backslash) whose files cannot be read at all.
    std::vector<std::wstring> unreadable;
    // Each file read whole (lower case), and each part of a file read (offset, length), in order.
    mutable std::vector<std::wstring> wholeReads;
    // Each part of a file read (offset, length), in order.
    mutable std::vector<std::pair<std::uint64_t, std::size_t>> ranges;
    // Paths (lower case) that the running Windows holds open: no copy, read or write.
    std::set<std::wstring> held;
    // The store the running Windows has loaded.
    std::optional<std::wstring> systemStore;
    std::map<std::wstring, DriveMedia> media;
    // Folders (lower case) that an administrator made, and the ownership a test gave paths (lower
    // case); drives ("d:") whose file system keeps no owners.
    std::set<std::wstring> administrators;
    std::map<std::wstring, Ownership> ownership;
    std::set<std::wstring> withoutOwners;
    // Junctions and symbolic links (lower case), wherever they lead.
    std::set<std::wstring> links;
    // Files (lower case) whose write stops halfway, as on a full disk.
    std::vector<std::wstring> fullAfterHalf;
    std::vector<std::wstring> drives;
    std::map<int, DriveMedia> diskMedia;
    std::set<std::wstring> efiSystem;
    Firmware firmware = Firmware::Bios;
    // What asking the firmware failed with when it tells nothing.
    std::uint32_t firmwareError = 0;
    // UEFI variables by name and vendor GUID (lower case, in braces), and those that cannot be
    // read with the error Windows gives.
    std::map<std::pair<std::wstring, std::wstring>, std::string> variables;
    std::map<std::pair<std::wstring, std::wstring>, std::uint32_t> variableErrors;

    // What Windows makes: a folder an administrator made, and what is in it, is theirs alone.
    static Ownership AdministratorsOnly() {
        return {true, Principal::Administrators, L"BUILTIN\\Administrators",
                std::vector<AccessEntry>{
                    {Principal::Administrators, L"BUILTIN\\Administrators", true, false, 0x1F01FF},
                    {Principal::System, L"NT AUTHORITY\\SYSTEM", true, false, 0x1F01FF},
                    {Principal::Other, L"BUILTIN\\Users", true, false, 0x1200A9}}};
    }
    // A folder made in a drive's root takes the root's access list, which lets every signed-in
    // user change what is made there.
    static Ownership InheritedFromARoot() {
        auto inherited = AdministratorsOnly();
        inherited.access->push_back(
            {Principal::Other, L"NT AUTHORITY\\Authenticated Users", true, false, 0x1301BF});
        return inherited;
    }

private:
    static constexpr std::size_t kSector = 512;
    static constexpr std::uint32_t kInvalidParameter = 87;
    static constexpr std::uint32_t kErrorDiskFull = 112;

    Ownership OwnershipOf(const std::wstring& path) const {
        const auto key = Key(path);
        if (withoutOwners.count(key.substr(0, 2)) != 0) {
            return {};
        }
        if (const auto it = ownership.find(key); it != ownership.end()) {
            return it->second;
        }
        for (const auto& folder : administrators) {
            if (key == folder || key.rfind(folder + L"\\", 0) == 0) {
                return AdministratorsOnly();
            }
        }
        return InheritedFromARoot();
    }
    // The first link on the way to a path, the path itself included.
    std::optional<std::wstring> LinkOnTheWay(const std::wstring& path) const {
        const auto full = Full(path);
        for (std::size_t end = full.find(L'\\', 3);; end = full.find(L'\\', end + 1)) {
            const auto part = full.substr(0, end);
            if (links.count(ToLower(part)) != 0) {
                return part;
            }
            if (end == std::wstring::npos) {
                return std::nullopt;
            }
        }
    }

    std::wstring Full(const std::wstring& path) const {
        // A drive ("d:") names its volume or its root.
        const bool absolute = (path.size() >= 2 && path[1] == L':') || path.rfind(L"\\\\", 0) == 0;
        return absolute || path.empty() ? path : JoinFolder(currentFolder, path);
    }
    static std::wstring JoinFolder(const std::wstring& folder, const std::wstring& name) {
        return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
    }
    std::wstring Key(const std::wstring& path) const { return ToLower(Full(path)); }
    std::uint32_t AttributesOf(const std::wstring& path) const {
        const auto it = attributes.find(Key(path));
        return it == attributes.end() ? 0u : it->second;
    }
    // A new file takes the name as given; a file written over keeps its own.
    void Store(const std::wstring& path, const std::string& bytes) {
        if (files.count(Key(path)) == 0) {
            names[Key(path)] = Full(path);
        }
        files[Key(path)] = bytes;
    }
    // A disk that fills up halfway leaves what was written so far.
    FileResult Written(const std::wstring& path, const std::string& bytes) {
        const bool full =
            std::find(fullAfterHalf.begin(), fullAfterHalf.end(), Key(path)) != fullAfterHalf.end();
        Store(path, full ? bytes.substr(0, bytes.size() / 2) : bytes);
        return full ? Failure(kErrorDiskFull) : FileResult::Success();
    }
    // Why Windows would refuse to open an existing file for writing.
    std::optional<std::uint32_t> RefusedOpening(const std::wstring& path) const {
        if (!Writable(path)) {
            return 5;
        }
        if (held.count(Key(path)) != 0) {
            return kErrorSharingViolation;
        }
        if (files.count(Key(path)) != 0 && (AttributesOf(path) & kAttributeReadOnly) != 0) {
            return 5;
        }
        return std::nullopt;
    }
    // Replacing a file as a new one with these attributes: a hidden or system file only by a
    // file that has them too.
    std::optional<std::uint32_t> RefusedReplacing(const std::wstring& path,
                                                  std::uint32_t newAttributes) const {
        if (const auto refused = RefusedOpening(path)) {
            return refused;
        }
        constexpr std::uint32_t kKept = kAttributeHidden | kAttributeSystem;
        if (files.count(Key(path)) != 0 && (AttributesOf(path) & kKept & ~newAttributes) != 0) {
            return 5;
        }
        return std::nullopt;
    }

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
        events_.push_back(L"run:" + request.program + L"|" + request.Parameters());
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
        const auto line = name + L" " + request.Parameters();
        if (const auto it = exitCodes.find(line); it != exitCodes.end()) {
            launched.exitCode = it->second;
        }
        if (const auto it = outputs.find(line); it != outputs.end()) {
            launched.output = it->second;
        } else if (line == AllListingsCommand().Line()) {
            launched.output = AllListings();
        }
        if (launched.exitCode == 0u && onSuccess) {
            onSuccess(request);
        }
        return launched;
    }

    // The lister's answer for every disk, as it gives it: each disk's scripted output (nothing
    // when none is) behind its line "disk N", on lines of its own.
    std::wstring AllListings() const {
        std::wstring all;
        for (int disk = 0; disk <= static_cast<int>(kLastListedDisk); ++disk) {
            all += L"disk " + std::to_wstring(disk) + L"\r\n";
            if (const auto it = outputs.find(ListingCommand(disk).Line());
                it != outputs.end() && !it->second.empty()) {
                all += it->second.back() == L'\n' ? it->second : it->second + L"\r\n";
            }
        }
        return all;
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
