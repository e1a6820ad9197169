#include "repair/backups.h"

#include <algorithm>

#include "exec/tool_commands.h"
#include "repair/boot_record.h"
#include "platform/text.h"

namespace kestrix {

namespace {

// Whole sectors for any sector size.
constexpr std::size_t kBootRecordRead = 4096;

bool IsMissing(const FileResult& result) {
    return result.error == kErrorFileNotFound || result.error == kErrorPathNotFound;
}

// The store and the transaction logs that the running Windows keeps open beside it.
bool IsHeldStoreFile(const std::wstring& path) {
    const auto lower = ToLower(path);
    const auto slash = lower.rfind(L'\\');
    if (slash == std::wstring::npos || slash < 7 || lower.compare(slash - 5, 5, L"\\boot") != 0) {
        return false;
    }
    const auto name = lower.substr(slash + 1);
    return name == L"bcd" || name.rfind(L"bcd.log", 0) == 0;
}

}  // namespace

std::optional<VolumeIdentity> IdentifyVolume(const Volumes& volumes, DriveLetter drive) {
    auto identity = volumes.IdentifyVolume(drive);
    std::string start;
    if (identity && !identity->serial && volumes.ReadVolumeStart(drive, kBootRecordRead, start)) {
        identity->serial = DecodeBootRecord(start).serial;
    }
    return identity;
}

FileResult Backups::WriteManifest() {
    // Written whole beside the old one, then put in its place: a write that fails leaves the
    // earlier records as they were.
    const auto path = JoinPath(log_.Folder(), kManifestName);
    const auto written = path + L".new";
    auto result = Flushed(written, files_.WriteNewFile(written, ManifestText(manifest_)));
    if (result) {
        result = files_.MoveFileOver(written, path);
    }
    return result;
}

const std::optional<VolumeIdentity>& Backups::VolumeOf(DriveLetter drive) {
    const auto key = drive.Lower();
    if (const auto it = identities_.find(key); it != identities_.end()) {
        return it->second;
    }
    return identities_[key] = IdentifyVolume(volumes_, drive);
}

FileResult Backups::Record(ManifestItem item, const FileDigest& copy) {
    if (!copy.result) {
        return copy.result;
    }
    item.length = copy.length;
    item.sha256 = copy.sha256;
    manifest_.push_back(item);
    const auto result = WriteManifest();
    if (!result) {
        manifest_.pop_back();
    }
    return result;
}

FileResult Backups::RecordFile(const std::wstring& path, const std::wstring& target) {
    constexpr std::uint32_t kKept =
        kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive;
    ManifestItem item;
    item.source = path;
    item.backup = target.substr(log_.Folder().size() + 1);
    item.attributes = files_.Attributes(path).value_or(0) & kKept;
    if (const auto at = DrivePath::Parse(path)) {
        item.identity = VolumeOf(at->drive);
    }
    // The copy as it lies on the disk is what a restore will check.
    return Record(item, files_.Sha256OfFile(target));
}

void Backups::Finish() {
    bool created = false;
    for (const auto& path : missing_) {
        std::vector<FolderEntry> entries;
        if (files_.FileLength(path) || files_.ListFolder(path, entries)) {
            ManifestItem item;
            item.kind = ManifestKind::Created;
            item.source = path;
            manifest_.push_back(item);
            created = true;
        }
    }
    missing_.clear();
    if (created && !log_.Folder().empty()) {
        WriteManifest();
    }
}

FileResult Backups::NoFolder() const {
    return {false, 0, L"没有可写的备份目录"};
}

FileResult Backups::Flushed(const std::wstring& target, FileResult result) {
    if (!result) {
        return result;
    }
    return files_.FlushFile(target);
}

std::wstring Backups::TargetFor(const std::wstring& path) {
    // d:\boot\bcd → <folder>\d\boot\bcd
    const auto at = DrivePath::Parse(path);
    const auto parts = SplitAll(at ? std::wstring(1, at->drive.Lower()) + at->rest : path, L"\\");
    std::wstring target = log_.Folder();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (!parts[i].empty()) {
            target = JoinPath(target, parts[i]);
            files_.CreateFolder(target);
        }
    }
    return JoinPath(target, parts.back());
}

FileResult Backups::SaveVolumeStart(DriveLetter volume) {
    const auto key = L"volume:" + volume.LowerText();
    if (const auto it = outcomes_.find(key); it != outcomes_.end()) {
        return it->second;
    }
    if (log_.Folder().empty()) {
        return NoFolder();
    }
    std::string bytes;
    auto result = volumes_.ReadVolumeStart(volume, kVolumeStartLength, bytes);
    if (result && bytes.size() != kVolumeStartLength) {
        result = {false, 0, L"只读到 " + DecimalText(static_cast<long long>(bytes.size())) + L" 字节"};
    }
    if (result) {
        const auto target =
            JoinPath(log_.Folder(), L"volume-" + std::wstring(1, volume.Lower()) + L"-first8k.bin");
        result = Flushed(target, files_.WriteNewFile(target, bytes));
        if (result) {
            ManifestItem item;
            item.kind = ManifestKind::VolumeStart;
            item.source = volume.LowerText();
            item.backup = target.substr(log_.Folder().size() + 1);
            item.identity = VolumeOf(volume);
            const auto digest = files_.Sha256(bytes);
            result = Record(item, digest ? FileDigest{result, bytes.size(), *digest}
                                         : FileDigest::Failed({false, 0, L"无法计算 SHA-256"}));
        }
        if (result) {
            log_.Write(L"备份：" + volume.Text() + L" 卷的前 " + DecimalText(bytes.size()) +
                       L" 字节 → " + target);
        }
    }
    outcomes_[key] = result;
    return result;
}

FileResult Backups::SaveFile(const std::wstring& path) {
    const auto key = ToLower(path);
    if (const auto it = outcomes_.find(key); it != outcomes_.end()) {
        return it->second;
    }
    FileResult result = FileResult::Success();
    if (!files_.FileLength(path)) {
        // Nothing to save; a file that a tool creates later is not the one from before.
        missing_.push_back(path);
    } else if (log_.Folder().empty()) {
        return NoFolder();
    } else if (const auto at = DrivePath::Parse(path); !at || at->rest.empty()) {
        result = {false, 0, L"路径无效"};
    } else {
        const auto target = TargetFor(path);
        result = files_.CopyFileOver(path, target);
        if (!result && result.error == kErrorSharingViolation && IsHeldStoreFile(path)) {
            result = ExportStore(path, target);
        } else if (result) {
            // The copy has the original's attributes, which the manifest keeps: a read-only copy
            // could not even be opened to flush it, as Windows refuses that to an administrator.
            result = Flushed(target, files_.SetNormalAttributes(target));
            if (result) {
                result = RecordFile(path, target);
            }
            if (result) {
                log_.Write(L"备份：" + path + L" → " + target);
            }
        }
    }
    outcomes_[key] = result;
    return result;
}

FileResult Backups::ExportStore(const std::wstring& path, const std::wstring& target) {
    if (!ToLower(path).ends_with(L"\\bcd")) {
        // The store's own transaction logs: an exported store is complete without them.
        if (storeExported_) {
            log_.Write(L"备份：" + path + L" 被系统占用，导出的存储已包含其内容");
            return FileResult::Success();
        }
        return {false, kErrorSharingViolation, L"被系统占用"};
    }
    // The store tool exports the store that Windows runs with, which must be this one.
    const auto system = volumes_.SystemStorePath();
    if (!system || ToLower(*system) != ToLower(path)) {
        return {false, kErrorSharingViolation, L"被其他程序占用，且不是本机正在使用的启动配置存储，无法导出"};
    }
    const auto run = runner_.Run(StoreExportCommand(target));
    if (run.status != RunStatus::Finished || run.exitCode != 0u) {
        return {false, kErrorSharingViolation, L"被系统占用，且无法用 bcdedit.exe /export 导出"};
    }
    auto result = Flushed(target, FileResult::Success());
    if (result) {
        result = RecordFile(path, target);
    }
    if (result) {
        storeExported_ = true;
        log_.Write(L"备份：" + path + L" 被系统占用，已导出 → " + target);
    }
    return result;
}

FileResult Backups::SaveFolder(const std::wstring& path) {
    std::vector<FolderEntry> entries;
    const auto listed = files_.ListFolder(path, entries);
    if (!listed) {
        // A folder that is not there has nothing to save.
        if (!IsMissing(listed)) {
            return listed;
        }
        missing_.push_back(path);
        return FileResult::Success();
    }
    // The store first, so that its held logs can lean on its export.
    std::partition(entries.begin(), entries.end(),
                   [](const FolderEntry& e) { return ToLower(e.name) == L"bcd"; });
    for (const auto& entry : entries) {
        const auto child = JoinPath(path, entry.name);
        const auto result = entry.isFolder ? SaveFolder(child) : SaveFile(child);
        if (!result) {
            return {false, result.error, child + L"：" + result.errorText};
        }
    }
    return FileResult::Success();
}

FileResult Backups::SaveBootFiles(DriveLetter drive) {
    const auto key = L"bootfiles:" + drive.LowerText();
    if (const auto it = outcomes_.find(key); it != outcomes_.end()) {
        return it->second;
    }
    const auto boot = drive.Path(L"\\Boot");
    auto result = SaveFile(drive.Path(L"\\bootmgr"));
    if (result) {
        result = SaveFolder(boot);
    }
    // A store that the tool makes in a folder that exists is one the run created.
    if (result && (missing_.empty() || missing_.back() != boot)) {
        result = SaveFile(boot + L"\\BCD");
    }
    // UEFI boot files that a tool could change beside the BIOS ones.
    if (result) {
        result = SaveFolder(drive.Path(L"\\EFI"));
    }
    outcomes_[key] = result;
    return result;
}

FileResult Backups::SaveEfiBootFiles(DriveLetter drive) {
    const auto key = L"efifiles:" + drive.LowerText();
    if (const auto it = outcomes_.find(key); it != outcomes_.end()) {
        return it->second;
    }
    auto result = SaveFolder(drive.Path(L"\\EFI\\Microsoft\\Boot"));
    if (result) {
        result = SaveFolder(drive.Path(L"\\EFI\\Boot"));
    }
    outcomes_[key] = result;
    return result;
}

}  // namespace kestrix
