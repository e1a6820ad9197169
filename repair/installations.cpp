#include "repair/installations.h"

#include <string_view>

#include "installed/hibernation.h"
#include "installed/version_resource.h"
#include "platform/text.h"

namespace kestrix {

namespace {

constexpr std::string_view kBitLockerSignature = "-FVE-FS-";
// Whole sectors for any sector size.
constexpr std::size_t kBootSectorRead = 4096;
// Enough of hiberfil.sys for its signature.
constexpr std::size_t kHibernationRead = 8;
// Not quite present either: see DriveFinding::generation.
constexpr std::int64_t kNeitherLength = kSmallestPresentFile - 1;

std::int64_t Length(const Files& files, const std::wstring& path) {
    return files.FileLength(path).value_or(0);
}

bool HasBitLockerSignature(const Volumes& volumes, DriveLetter drive) {
    std::string bytes;
    return volumes.ReadVolumeStart(drive, kBootSectorRead, bytes) &&
           bytes.size() >= 3 + kBitLockerSignature.size() &&
           bytes.compare(3, kBitLockerSignature.size(), kBitLockerSignature) == 0;
}

}  // namespace

bool IsPresent(const Files& files, const std::wstring& path) {
    return Length(files, path) >= kSmallestPresentFile;
}

std::optional<WindowsVersionName> NameKernel(const Files& files, const std::wstring& path) {
    const auto version = ReadVersionResource([&](std::uint64_t offset, std::size_t length) {
        std::string bytes;
        files.ReadFilePart(path, offset, length, bytes);
        return bytes;
    });
    if (!version) {
        return std::nullopt;
    }
    return NameWindowsVersion(version->fileVersion, version->machine);
}

std::vector<DriveFinding> FindInstallations(const Files& files, const Volumes& volumes,
                                            const std::vector<DriveEntry>& driveEntries) {
    std::vector<DriveFinding> findings;
    for (const auto& entry : driveEntries) {
        DriveFinding finding{entry, std::nullopt, false, false, std::nullopt, false};
        const auto drive = entry.drive;
        const auto licensing = Length(files, drive.Path(L"\\windows\\system32\\slmgr.vbs"));
        if (licensing >= kSmallestPresentFile) {
            finding.generation = WindowsGeneration::Nt6;
        } else if (licensing < kNeitherLength &&
                   IsPresent(files, drive.Path(L"\\windows\\regedit.exe"))) {
            finding.generation = WindowsGeneration::Nt5;
        }
        if (finding.generation) {
            finding.windows = NameKernel(files, drive.Path(L"\\windows\\system32\\ntoskrnl.exe"));
            std::string start;
            finding.hibernated =
                files.ReadFileStart(drive.Path(L"\\hiberfil.sys"), kHibernationRead, start) &&
                IsHibernated(start);
        }
        finding.encrypted = HasBitLockerSignature(volumes, drive);
        std::vector<FolderEntry> entries;
        finding.locked = finding.encrypted && !finding.generation &&
                         !files.ListFolder(drive.Path(L"\\"), entries);
        findings.push_back(finding);
    }
    return findings;
}

}  // namespace kestrix
