#pragma once
#include "platform/volumes.h"

namespace kestrix::win32 {

// Drives, raw volumes and disks: the one place that opens \\.\X:.
class Win32Volumes final : public Volumes {
public:
    FileResult ReadVolumeStart(DriveLetter drive, std::size_t length,
                               std::string& bytes) const override;
    FileResult ReadDiskStart(int disk, std::size_t length, std::string& bytes) const override;
    FileResult WriteVolumeStart(DriveLetter drive, const std::string& bytes) override;
    std::optional<VolumeIdentity> IdentifyVolume(DriveLetter drive) const override;
    std::optional<PartitionPlace> FindPartition(const VolumeIdentity& identity) const override;
    std::optional<FoundPartition> FindPartitionById(std::string_view guid) const override;
    std::vector<DriveEntry> DriveEntries() const override;
    DriveMedia MediaOf(DriveLetter drive) const override;
    DriveMedia DiskMediaOf(int disk) const override;
    bool IsEfiSystemPartition(DriveLetter drive) const override;
    std::optional<std::wstring> SystemStorePath() const override;
};

}  // namespace kestrix::win32
