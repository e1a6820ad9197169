#include "repair/backups.h"

#include <algorithm>

#include "platform/text.h"

namespace kestrix {

namespace {

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
    const auto parts = SplitAll(ToLower(Left(path, 1)) + path.substr(2), L"\\");
    std::wstring target = log_.Folder();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (!parts[i].empty()) {
            target = JoinPath(target, parts[i]);
            files_.CreateFolder(target);
        }
    }
    return JoinPath(target, parts.back());
}

FileResult Backups::SaveVolumeStart(const std::wstring& drive) {
    const auto key = L"volume:" + ToLower(drive);
    if (const auto it = outcomes_.find(key); it != outcomes_.end()) {
        return it->second;
    }
    if (log_.Folder().empty()) {
        return NoFolder();
    }
    std::string bytes;
    auto result = files_.ReadVolumeStart(drive, kVolumeStartLength, bytes);
    if (result && bytes.size() != kVolumeStartLength) {
        result = {false, 0, L"只读到 " + DecimalText(static_cast<long long>(bytes.size())) + L" 字节"};
    }
    if (result) {
        const auto target =
            JoinPath(log_.Folder(), L"volume-" + ToLower(Left(drive, 1)) + L"-first8k.bin");
        result = Flushed(target, files_.WriteNewFile(target, bytes));
        if (result) {
            log_.Write(L"备份：" + drive + L" 卷的前 " + DecimalText(bytes.size()) + L" 字节 → " +
                       target);
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
    } else if (log_.Folder().empty()) {
        return NoFolder();
    } else if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') {
        result = {false, 0, L"路径无效"};
    } else {
        const auto target = TargetFor(path);
        result = files_.CopyFileOver(path, target);
        if (!result && result.error == kErrorSharingViolation && IsHeldStoreFile(path)) {
            result = ExportStore(path, target);
        } else if (result) {
            result = Flushed(target, result);
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
    const auto run = runner_.Run(L"bcdedit.exe /export \"" + target + L"\"");
    if (run.status != RunStatus::Finished || run.exitCode != 0u) {
        return {false, kErrorSharingViolation, L"被系统占用，且无法用 bcdedit.exe /export 导出"};
    }
    const auto result = Flushed(target, FileResult::Success());
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
        return IsMissing(listed) ? FileResult::Success() : listed;
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

FileResult Backups::SaveOnce(const std::wstring& key,
                             std::initializer_list<std::pair<std::wstring, bool>> items) {
    if (const auto it = outcomes_.find(key); it != outcomes_.end()) {
        return it->second;
    }
    auto result = FileResult::Success();
    for (const auto& [path, isFolder] : items) {
        result = isFolder ? SaveFolder(path) : SaveFile(path);
        if (!result) {
            break;
        }
    }
    outcomes_[key] = result;
    return result;
}

FileResult Backups::SaveBootFiles(const std::wstring& drive) {
    return SaveOnce(L"bootfiles:" + ToLower(drive),
                    {{drive + L"\\bootmgr", false}, {drive + L"\\Boot", true}});
}

FileResult Backups::SaveEfiBootFiles(const std::wstring& drive) {
    return SaveOnce(L"efifiles:" + ToLower(drive), {{drive + L"\\EFI\\Microsoft\\Boot", true},
                                                    {drive + L"\\EFI\\Boot", true}});
}

}  // namespace kestrix
