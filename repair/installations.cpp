#include "repair/installations.h"

#include <string_view>

#include "platform/text.h"

namespace kestrix {

namespace {

constexpr std::string_view kBitLockerSignature = "-FVE-FS-";
// Whole sectors for any sector size.
constexpr std::size_t kBootSectorRead = 4096;
// Not quite present either: see DriveFinding::generation.
constexpr std::int64_t kNeitherLength = kSmallestPresentFile - 1;

std::int64_t Length(const FileSystem& files, const std::wstring& path) {
    return files.FileLength(path).value_or(0);
}

bool HasBitLockerSignature(const FileSystem& files, const std::wstring& drive) {
    std::string bytes;
    return files.ReadVolumeStart(drive, kBootSectorRead, bytes) &&
           bytes.size() >= 3 + kBitLockerSignature.size() &&
           bytes.compare(3, kBitLockerSignature.size(), kBitLockerSignature) == 0;
}

}  // namespace

bool IsPresent(const FileSystem& files, const std::wstring& path) {
    return Length(files, path) >= kSmallestPresentFile;
}

std::vector<DriveFinding> FindInstallations(const FileSystem& files,
                                            const std::vector<std::wstring>& driveEntries) {
    std::vector<DriveFinding> findings;
    for (const auto& entry : driveEntries) {
        DriveFinding finding;
        finding.entry = entry;
        finding.drive = Left(entry, 2);
        const auto licensing = Length(files, finding.drive + L"\\windows\\system32\\slmgr.vbs");
        if (licensing >= kSmallestPresentFile) {
            finding.generation = WindowsGeneration::Nt6;
        } else if (licensing < kNeitherLength &&
                   IsPresent(files, finding.drive + L"\\windows\\regedit.exe")) {
            finding.generation = WindowsGeneration::Nt5;
        }
        finding.encrypted = HasBitLockerSignature(files, finding.drive);
        std::vector<FolderEntry> entries;
        finding.locked = finding.encrypted && !finding.generation &&
                         !files.ListFolder(finding.drive + L"\\", entries);
        findings.push_back(finding);
    }
    return findings;
}

}  // namespace kestrix
