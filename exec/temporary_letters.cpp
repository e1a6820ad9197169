#include "exec/temporary_letters.h"

#include "exec/tool_commands.h"
#include "platform/text.h"

namespace kestrix {

std::optional<wchar_t> LastFreeLetter(const std::vector<DriveEntry>& driveEntries,
                                      const std::wstring& taken) {
    for (wchar_t letter = L'z'; letter >= L'c'; --letter) {
        bool used = taken.find(letter) != std::wstring::npos;
        for (const auto& entry : driveEntries) {
            used = used || entry.drive.Lower() == letter;
        }
        if (!used) {
            return letter;
        }
    }
    return std::nullopt;
}

bool TemporaryLetters::RunDiskpart(const std::wstring& script) {
    const auto path = JoinPath(files_.TempFolder(), L"kestrix-diskpart.txt");
    if (!files_.WriteNewFile(path, ToUtf8(script))) {
        log_.Write(L"无法写入 diskpart 脚本 " + path);
        return false;
    }
    const auto result = runner_.Run(DiskpartCommand(path));
    files_.DeleteFileAt(path);
    return result.status == RunStatus::Finished && result.exitCode == 0u;
}

std::optional<DriveLetter> TemporaryLetters::Assign(int disk, int partition,
                                                    const std::wstring& where) {
    std::wstring taken;
    {
        const Hold hold(busy_);
        for (const auto& given : given_) {
            taken += given.drive.Lower();
        }
    }
    const auto letter = LastFreeLetter(volumes_.DriveEntries(), taken);
    if (!letter) {
        log_.Write(L"没有空闲的盘符可分配给 " + where);
        return std::nullopt;
    }
    const auto upper = *DriveLetter::Of(static_cast<wchar_t>(*letter - L'a' + L'A'));
    if (!RunDiskpart(AssignLetterScript(disk, partition, upper.Letter()))) {
        log_.Write(L"无法为 " + where + L"分配盘符 " + upper.Text());
        return std::nullopt;
    }
    {
        const Hold hold(busy_);
        given_.push_back({disk, partition, upper});
    }
    log_.Write(L"已为 " + where + L"分配盘符 " + upper.Text() + L"，程序结束时收回");
    return DriveLetter::Of(*letter);
}

bool TemporaryLetters::IsTemporary(DriveLetter drive) const {
    const Hold hold(busy_);
    for (const auto& given : given_) {
        if (drive.Is(given.drive)) {
            return true;
        }
    }
    return false;
}

std::vector<DriveLetter> TemporaryLetters::LastingFixedDrives(
    const std::vector<DriveEntry>& entries) const {
    std::vector<DriveLetter> drives;
    for (const auto& entry : entries) {
        if (!IsTemporary(entry.drive) && volumes_.MediaOf(entry.drive) == DriveMedia::Fixed) {
            drives.push_back(entry.drive);
        }
    }
    return drives;
}

void TemporaryLetters::RemoveAll() {
    std::vector<Given> taken;
    {
        const Hold hold(busy_);
        taken.swap(given_);
    }
    for (const auto& given : taken) {
        const auto text = given.drive.Text();
        if (RunDiskpart(RemoveLetterScript(given.disk, given.partition, given.drive.Letter()))) {
            log_.Write(L"已收回盘符 " + text);
        } else {
            log_.Write(L"无法收回盘符 " + text + L"，请用 diskpart 手工删除");
        }
    }
}

}  // namespace kestrix
