#include "repair/restore_job.h"

#include <algorithm>
#include <map>

#include "exec/tool_commands.h"
#include "platform/text.h"
#include "repair/boot_record.h"
#include "repair/run_folder_trust.h"

namespace kestrix {

namespace {

// kestrix-YYYYMMDD-HHMMSS, or with "-N" after it for a later run in the same second.
bool IsRunFolderName(std::wstring_view name) {
    constexpr std::wstring_view kPattern = L"kestrix-########-######";
    if (name.size() != kPattern.size() &&
        !(name.size() == kPattern.size() + 2 && name[kPattern.size()] == L'-' &&
          name.back() >= L'0' && name.back() <= L'9')) {
        return false;
    }
    const auto lower = ToLower(name);
    for (std::size_t i = 0; i < kPattern.size(); ++i) {
        const bool digit = lower[i] >= L'0' && lower[i] <= L'9';
        if (kPattern[i] == L'#' ? !digit : lower[i] != kPattern[i]) {
            return false;
        }
    }
    return true;
}

std::wstring NameOf(const std::wstring& folder) {
    return ToLower(folder.substr(folder.rfind(L'\\') + 1));
}

// The names sort by time.
void KeepNewer(std::wstring& newest, const std::wstring& candidate) {
    if (!candidate.empty() && (newest.empty() || NameOf(candidate) > NameOf(newest))) {
        newest = candidate;
    }
}

// The newest in a folder; with a time, not one named for a later time than that.
std::wstring NewestIn(const Files& files, const std::wstring& parent,
                      const std::optional<std::wstring>& notAfter) {
    std::vector<FolderEntry> entries;
    files.ListFolder(parent, entries);
    std::wstring newest;
    for (const auto& entry : entries) {
        const auto folder = JoinPath(parent, entry.name);
        if (entry.isFolder && IsRunFolderName(entry.name) &&
            !(notAfter && ToLower(entry.name).substr(8, notAfter->size()) > *notAfter) &&
            files.FileLength(JoinPath(folder, kManifestName))) {
            KeepNewer(newest, folder);
        }
    }
    return newest;
}

// "所有者 PC\bob", and what else lets others write the folder or its manifest.
std::wstring WhoMayWrite(const OwnedFile& owned, const TrustVerdict& verdict) {
    auto who = L"所有者 " + owned.folder.ownerName;
    if (verdict.manifest) {
        who += L"；其中 " + std::wstring(kManifestName) + L" 的所有者 " + owned.file.ownerName;
    }
    if (verdict.noAccessList) {
        who += L"，没有访问控制列表，任何用户都可以写入";
    } else if (verdict.writer) {
        who += L"，" + *verdict.writer + L" 也可以写入";
    }
    return who;
}

// A folder beside the program is as trustworthy as the program: whoever may write there could
// replace the program itself.
bool IsBesideProgram(const std::wstring& folder, const std::wstring& ownFolder) {
    const auto slash = folder.rfind(L'\\');
    auto own = ToLower(ownFolder);
    if (own.ends_with(L'\\')) {
        own.pop_back();
    }
    return slash != std::wstring::npos && ToLower(folder.substr(0, slash)) == own;
}

// What a run saves: the boot files and folders at a volume's root, nothing else, and no path that
// could climb out of them.
bool IsBootPath(std::wstring_view source) {
    const auto at = DrivePath::Parse(source);
    if (!at || at->rest.size() < 2 || !IsPlainRelativePath(std::wstring_view(at->rest).substr(1))) {
        return false;
    }
    const auto path = ToLower(at->rest);
    for (const wchar_t* file :
         {L"\\bootmgr", L"\\boot.ini", L"\\ntldr", L"\\ntdetect.com", L"\\bootfont.bin"}) {
        if (path == file) {
            return true;
        }
    }
    return path.starts_with(L"\\boot\\") || path.starts_with(L"\\efi\\");
}

bool IsSamePartition(const VolumeIdentity& saved, const std::optional<VolumeIdentity>& now) {
    return now && now->disk == saved.disk && now->start == saved.start &&
           now->length == saved.length;
}

// Whether a drive now is the volume an item was saved from: the same partition of the same disk
// and, for a file, the same file system (its serial number). A volume known only by its size is
// the same only when its serial number matches too.
bool IsSameVolume(const VolumeIdentity& saved, const std::optional<VolumeIdentity>& now,
                  bool file) {
    if (!IsSamePartition(saved, now)) {
        return false;
    }
    return !(file || saved.disk.empty()) || (saved.serial && now->serial == saved.serial);
}

std::wstring Describe(const ManifestItem& item) {
    if (item.kind == ManifestKind::VolumeStart) {
        return item.source + L" 卷的前 " + DecimalText(static_cast<long long>(item.length)) +
               L" 字节";
    }
    return item.source;
}

}  // namespace

std::wstring RestoreJob::NewestRunFolder() const {
    if (auto beside = NewestIn(files_, files_.OwnFolder(), std::nullopt); !beside.empty()) {
        return beside;
    }
    // Not a removable or network drive, where anybody may have put a folder of that name; nor
    // one named for a time still to come, which would win over every real one.
    const auto now = CompactTimestamp(clock_.Now());
    std::wstring newest;
    for (const auto& entry : volumes_.DriveEntries()) {
        if (volumes_.MediaOf(entry.drive) == DriveMedia::Fixed) {
            KeepNewer(newest, NewestIn(files_, entry.drive.Path(L"\\"), now));
        }
    }
    return newest;
}

RepairOutcome RestoreJob::Run(RepairProgress& progress) {
    const auto& request = request_;
    restored_ = 0;
    steps_.Begin(progress);
    std::wstring problem;
    auto items = ReadItems(problem);
    std::vector<std::wstring> moved;
    if (items) {
        moved = Locate(*items);
    }
    steps_.OpenLog(RunFolderDrives(items),
                   L"开始撤销修复，来源：" + (request.folder.empty() ? L"无" : request.folder));
    steps_.Line(L"正在撤销修复" + (request.folder.empty() ? L"" : L"，按 " + request.folder) + L" ...");
    for (const auto& line : moved) {
        steps_.Line(line);
    }
    if (!items) {
        steps_.Fail(problem);
        return Complete();
    }
    // Every item is checked and its current state saved before the first one is written.
    std::vector<Ready> ready;
    for (const auto& item : *items) {
        if (item.kind != ManifestKind::Created) {
            auto copy = JoinPath(request.folder, item.backup);
            if (Verified(copy, item)) {
                ready.push_back({&item, std::move(copy)});
            }
        }
    }
    std::vector<Ready> saved;
    for (auto& r : ready) {
        if (SaveCurrent(*r.item)) {
            saved.push_back(std::move(r));
        }
    }
    for (const auto& r : saved) {
        if (steps_.Stopping()) {
            break;
        }
        PutBack(r);
    }
    for (const auto& item : *items) {
        if (item.kind == ManifestKind::Created) {
            steps_.Line(L"  修复时新建，未删除：" + item.source);
        }
    }
    return Complete();
}

std::vector<std::wstring> RestoreJob::Locate(std::vector<ManifestItem>& items) {
    // Where each drive's volume is now, by the drive's letter in lower case. The manifest holds
    // drive paths only.
    std::map<wchar_t, DriveLetter> now;
    std::vector<std::wstring> moved;
    for (const auto& item : items) {
        const auto drive = item.Drive();
        if (item.identity && now.count(drive.Lower()) == 0) {
            const auto found = Find(drive, *item.identity);
            now.emplace(drive.Lower(), found);
            if (!found.Is(drive)) {
                moved.push_back(L"  备份时的 " + drive.LowerText() + L" 现在是 " +
                                found.LowerText() + L"（同一分区）");
            }
        }
    }
    // What the run created moves with the volume it lies on.
    for (auto& item : items) {
        const auto path = DrivePath::Parse(item.source);
        if (const auto it = now.find(path->drive.Lower()); it != now.end()) {
            item.source = it->second.LowerText() + path->rest;
        }
    }
    return moved;
}

DriveLetter RestoreJob::Find(DriveLetter drive, const VolumeIdentity& identity) {
    if (identity.disk.empty() || IsSamePartition(identity, IdentifyVolume(volumes_, drive))) {
        return drive;
    }
    for (const auto& entry : volumes_.DriveEntries()) {
        if (IsSamePartition(identity, IdentifyVolume(volumes_, entry.drive))) {
            return entry.drive;
        }
    }
    // A partition without a letter, as an EFI system partition is: one for this run.
    if (const auto place = volumes_.FindPartition(identity)) {
        const auto where = L"磁盘 " + DecimalText(place->disk) + L" 的分区 " +
                           DecimalText(place->partition) + L"（备份时的 " + drive.LowerText() +
                           L"）";
        if (const auto letter = letters_.Assign(place->disk, place->partition, where)) {
            return *letter;
        }
    }
    // Not on this PC: each item says so when it is checked.
    return drive;
}

std::vector<DriveLetter> RestoreJob::RunFolderDrives(
    const std::optional<std::vector<ManifestItem>>& items) const {
    std::vector<DriveLetter> drives;
    const auto add = [&](DriveLetter drive) {
        if (!letters_.IsTemporary(drive) &&
            std::none_of(drives.begin(), drives.end(),
                         [&](DriveLetter added) { return added.Is(drive); })) {
            drives.push_back(drive);
        }
    };
    // The drives put back first, then any fixed one: never one whose letter goes at the end.
    for (const auto& item : items.value_or(std::vector<ManifestItem>{})) {
        add(item.Drive());
    }
    for (const auto drive : letters_.LastingFixedDrives(volumes_.DriveEntries())) {
        add(drive);
    }
    return drives;
}

bool RestoreJob::MayUse(const OwnedFile& owned, std::wstring& problem) {
    const auto& folder = request_.folder;
    const auto verdict = JudgeRunFolder(owned.folder, owned.file);
    switch (verdict.trust) {
        case FolderTrust::Administrators:
            return true;
        case FolderTrust::NoOwners:
            if (request_.confirmed) {
                log_.Write(L"运行目录 " + folder +
                           L" 所在的文件系统不记录所有者：已在窗口中确认使用");
                return true;
            }
            problem = L"  失败：运行目录 " + folder +
                      L" 所在的文件系统不记录所有者，无法确认是管理员创建的，不使用（用 -r "
                      L"指明它并在窗口中确认后才使用）";
            return false;
        case FolderTrust::Other:
            break;
    }
    problem = L"  失败：运行目录 " + folder + L" 不是管理员创建的（" + WhoMayWrite(owned, verdict) +
              L"），不使用";
    return false;
}

std::optional<std::string> RestoreJob::ManifestOf(std::wstring& problem) {
    const auto path = JoinPath(request_.folder, kManifestName);
    std::string text;
    FileResult read;
    if (IsBesideProgram(request_.folder, files_.OwnFolder())) {
        read = files_.ReadWholeFile(path, text);
    } else {
        OwnedFile owned;
        read = security_.ReadOwnedFile(request_.folder, kManifestName, owned);
        if (read && !MayUse(owned, problem)) {
            return std::nullopt;
        }
        text = std::move(owned.bytes);
    }
    if (!read) {
        problem = L"  失败：无法读取清单 " + path + Reason(read);
        return std::nullopt;
    }
    return text;
}

std::optional<std::vector<ManifestItem>> RestoreJob::ReadItems(std::wstring& problem) {
    if (request_.folder.empty()) {
        problem = L"  失败：没有找到修复记录（程序目录和各分区根目录中都没有含 " +
                  std::wstring(kManifestName) + L" 的 kestrix-* 目录）";
        return std::nullopt;
    }
    const auto text = ManifestOf(problem);
    if (!text) {
        return std::nullopt;
    }
    auto items = ReadManifest(*text, problem);
    if (!items) {
        problem = L"  失败：清单 " + JoinPath(request_.folder, kManifestName) + L" 已损坏（" +
                  problem + L"），不恢复任何内容";
    }
    return items;
}

bool RestoreJob::Verified(const std::wstring& copy, const ManifestItem& item) {
    const auto what = Describe(item);
    if (const auto hashed = files_.Sha256OfFile(copy); !hashed.result) {
        steps_.Fail(L"  失败：无法读取备份 " + copy + Reason(hashed.result) + L"，未恢复 " + what);
        return false;
    } else if (hashed.length != item.length || hashed.sha256 != item.sha256) {
        steps_.Fail(L"  失败：备份 " + copy + L" 与清单记录的长度或 SHA-256 不符，未恢复 " + what);
        return false;
    }
    const bool file = item.kind == ManifestKind::File;
    if (file && !IsBootPath(item.source)) {
        steps_.Fail(L"  失败：" + item.source + L" 不是本程序备份的引导文件，未恢复");
        return false;
    }
    // Only the length this program saves, so that the current state saved first covers it.
    if (!file && item.length != Backups::kVolumeStartLength) {
        steps_.Fail(L"  失败：" + what + L" 不是本程序保存的长度，未写入");
        return false;
    }
    const auto drive = item.Drive();
    if (!item.identity) {
        steps_.Fail(L"  失败：备份时无法识别 " + drive.Text() +
                    L" 是哪个卷，无法确认是同一个卷，未恢复 " + what);
        return false;
    }
    if (const auto now = IdentifyVolume(volumes_, drive); !IsSameVolume(*item.identity, now, file)) {
        steps_.Fail(L"  失败：" + drive.Text() + L" 现在是另一个卷（" + DescribeIdentity(now) +
                    L"，备份时是" + DescribeIdentity(item.identity) + L"），未恢复 " + what);
        return false;
    }
    return true;
}

bool RestoreJob::SaveCurrent(const ManifestItem& item) {
    const auto saved = item.kind == ManifestKind::VolumeStart
                           ? steps_.Saved().SaveVolumeStart(item.Drive())
                           : steps_.Saved().SaveFile(item.source);
    if (!saved) {
        steps_.Fail(L"  失败：无法备份 " + Describe(item) + L" 现在的内容" + Reason(saved) + L"，未恢复");
    }
    return static_cast<bool>(saved);
}

std::optional<std::size_t> RestoreJob::BootAreaLength(const ManifestItem& item,
                                                      const std::string& bytes) {
    const auto refused = L"，未写入 " + Describe(item);
    const auto saved = DecodeBootRecord(bytes);
    if (saved.kind == FileSystemKind::kUnknown) {
        steps_.Fail(L"  失败：备份的 " + item.source +
             L" 引导记录不是可识别的 NTFS 或 FAT 引导记录，无法确定其中哪些字节是引导区" + refused);
        return std::nullopt;
    }
    std::string current;
    if (const auto read = volumes_.ReadVolumeStart(item.Drive(), bytes.size(), current); !read) {
        steps_.Fail(L"  失败：无法读取 " + item.source + L" 现在的引导记录" + Reason(read) + refused);
        return std::nullopt;
    }
    if (const auto now = DecodeBootRecord(current); now != saved) {
        steps_.Fail(L"  失败：" + item.source + L" 现在的引导记录与备份时的文件系统不同（现在是" +
             DescribeBootRecord(now) + L"，备份时是" + DescribeBootRecord(saved) + L"）" + refused);
        return std::nullopt;
    }
    return std::min<std::uint64_t>(bytes.size(),
                                   std::uint64_t{saved.reservedSectors} * saved.bytesPerSector);
}

void RestoreJob::PutBack(const Ready& ready) {
    const auto& item = *ready.item;
    if (IsImportedStoreLog(item)) {
        steps_.Line(L"  未写回：" + item.source +
                    L"（存储由 bcdedit.exe /import 导入，其事务日志被系统占用，保持原样）");
        return;
    }
    // Read whole for writing, one item at a time, and only when it is still the copy checked.
    std::string bytes;
    if (const auto read = files_.ReadWholeFile(ready.copy, bytes);
        !read || files_.Sha256(bytes) != std::optional(item.sha256)) {
        steps_.Fail(L"  失败：备份 " + ready.copy + L" 在检查后无法读取或已改变" +
                    (read ? L"" : Reason(read)) + L"，未恢复 " + Describe(item));
        return;
    }
    // Of a volume's start only the boot area goes back, and only over the file system it was saved
    // from: past it lie the file system's own structures (on FAT12 and FAT16 the first FAT, from
    // the second sector on), which every file written since has changed.
    auto what = Describe(item);
    std::string_view written = bytes;
    if (item.kind == ManifestKind::VolumeStart) {
        const auto length = BootAreaLength(item, bytes);
        if (!length) {
            return;
        }
        written = written.substr(0, *length);
        if (written.size() < bytes.size()) {
            what = item.source + L" 卷的前 " + DecimalText(static_cast<long long>(written.size())) +
                   L" 字节（引导区；备份中其后的 " +
                   DecimalText(static_cast<long long>(bytes.size() - written.size())) +
                   L" 字节属于文件系统，未写回）";
        }
    }
    // The record of what was saved reaches the disk before anything is overwritten.
    log_.Flush();
    const auto result = item.kind == ManifestKind::VolumeStart
                            ? volumes_.WriteVolumeStart(item.Drive(), std::string(written))
                        : IsHeldSystemStore(item.source) ? ImportStore(ready.copy)
                                                         : PutFileBack(item, bytes);
    if (!result) {
        steps_.Fail(L"  失败：无法写回 " + Describe(item) + Reason(result));
        return;
    }
    ++restored_;
    steps_.Line(L"  已恢复：" + what);
}

FileResult RestoreJob::PutFileBack(const ManifestItem& item, const std::string& bytes) {
    const auto& path = item.source;
    if (!files_.Attributes(path)) {
        // A folder on the way may be gone too.
        const auto parts = SplitAll(path, L"\\");
        std::wstring folder = parts.front();
        for (std::size_t i = 1; i + 1 < parts.size(); ++i) {
            folder = JoinPath(folder, parts[i]);
            files_.CreateFolder(folder);
        }
    }
    // A protected loader file (read-only, hidden, system) goes back with its recorded attributes.
    return ReplaceWhole(files_, path, item.attributes, [&](const std::wstring& temporary) {
        return files_.WriteNewFile(temporary, bytes);
    });
}

bool RestoreJob::IsImportedStoreLog(const ManifestItem& item) const {
    const auto slash = item.source.rfind(L'\\');
    return item.kind == ManifestKind::File && slash != std::wstring::npos &&
           ToLower(item.source.substr(slash + 1)).starts_with(L"bcd.log") &&
           IsHeldSystemStore(item.source.substr(0, slash) + L"\\BCD");
}

bool RestoreJob::IsHeldSystemStore(const std::wstring& path) const {
    const auto system = volumes_.SystemStorePath();
    std::string probe;
    return system && ToLower(*system) == ToLower(path) &&
           files_.ReadFileStart(path, 1, probe).error == kErrorSharingViolation;
}

FileResult RestoreJob::ImportStore(const std::wstring& copy) {
    // The tool's own outcome is in the log; the item's line says what it means.
    auto command = StoreImportCommand(copy);
    command.failureExpected = true;
    if (!steps_.RunTool(command)) {
        return {false, kErrorSharingViolation, L"被系统占用，且 " + command.Line() + L" 未能导入"};
    }
    return FileResult::Success();
}

RepairOutcome RestoreJob::Complete() {
    steps_.Line(L"");
    RepairOutcome outcome = RepairOutcome::Succeeded;
    if (restored_ == 0) {
        steps_.Line(steps_.Failures() != 0 ? L"撤销结束，未恢复任何内容！请查看上面的记录。"
                           : L"撤销结束，清单中没有需要恢复的内容。请关闭。");
        outcome = RepairOutcome::NothingWritten;
    } else if (steps_.Failures() != 0) {
        steps_.Line(L"撤销结束，但有 " + DecimalText(steps_.Failures()) + L" 项未能恢复！请查看上面的记录。");
        outcome = RepairOutcome::StepsFailed;
    } else {
        steps_.Line(L"撤销完成！已恢复 " + DecimalText(restored_) + L" 项。请关闭。");
    }
    return steps_.End(outcome, L"撤销被中止：窗口在撤销进行中关闭，当前项写完后未再恢复其他项");
}

}  // namespace kestrix
