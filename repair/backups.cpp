#include "repair/backups.h"

#include "platform/text.h"

namespace kestrix {

FileResult Backups::NoFolder() const {
    return {false, 0, L"没有可写的备份目录"};
}

FileResult Backups::SaveVolumeStart(const std::wstring& drive) {
    const auto key = L"volume:" + ToLower(drive);
    if (saved_.count(key) != 0) {
        return FileResult::Success();
    }
    if (log_.Folder().empty()) {
        return NoFolder();
    }
    std::string bytes;
    auto result = files_.ReadVolumeStart(drive, kVolumeStartLength, bytes);
    if (!result) {
        return result;
    }
    const auto target =
        JoinPath(log_.Folder(), L"volume-" + ToLower(Left(drive, 1)) + L"-first8k.bin");
    result = files_.WriteNewFile(target, bytes);
    if (result) {
        saved_.insert(key);
        log_.Write(L"备份：" + drive + L" 卷的前 " + DecimalText(bytes.size()) + L" 字节 → " +
                   target);
    }
    return result;
}

FileResult Backups::SaveFile(const std::wstring& path) {
    const auto key = ToLower(path);
    if (saved_.count(key) != 0) {
        return FileResult::Success();
    }
    if (!files_.FileLength(path)) {
        // Nothing to save; a file that a tool creates later is not the one from before.
        saved_.insert(key);
        return FileResult::Success();
    }
    if (log_.Folder().empty()) {
        return NoFolder();
    }
    const auto slash = path.find(L'\\');
    if (slash == std::wstring::npos || slash == 0) {
        return {false, 0, L"路径无效"};
    }
    // d:\boot\bcd → <folder>\d\boot\bcd
    const std::wstring relative = ToLower(Left(path, 1)) + path.substr(slash);
    std::wstring target = log_.Folder();
    const auto parts = SplitAll(relative, L"\\");
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i].empty()) {
            continue;
        }
        target = JoinPath(target, parts[i]);
        files_.CreateFolder(target);
    }
    target = JoinPath(target, parts.back());
    const auto result = files_.CopyFileOver(path, target);
    if (result) {
        saved_.insert(key);
        log_.Write(L"备份：" + path + L" → " + target);
    }
    return result;
}

}  // namespace kestrix
