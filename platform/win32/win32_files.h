#pragma once
#include "platform/files.h"
#include "platform/firmware.h"
#include "platform/this_process.h"
#include "platform/volumes.h"

namespace kestrix::win32 {

// Files and folders.
class Win32Files final : public Files {
public:
    std::wstring OwnFolder() const override;
    std::wstring SystemFolder() const override;
    std::optional<std::int64_t> FileLength(const std::wstring& path) const override;
    FileResult SetNormalAttributes(const std::wstring& path) override;
    FileResult CopyFileOver(const std::wstring& source, const std::wstring& target) override;
    FileResult CreateFolder(const std::wstring& path) override;
    FileResult AppendToFile(const std::wstring& path, const std::string& bytes) override;
    FileResult WriteNewFile(const std::wstring& path, const std::string& bytes) override;
    FileResult ReadWholeFile(const std::wstring& path, std::string& bytes) const override;
    FileResult MoveFileOver(const std::wstring& source, const std::wstring& target) override;
    std::optional<std::string> Sha256(const std::string& bytes) const override;
    std::optional<std::uint32_t> Attributes(const std::wstring& path) const override;
    FileResult SetAttributes(const std::wstring& path, std::uint32_t attributes) override;
    FileResult ListFolder(const std::wstring& path,
                          std::vector<FolderEntry>& entries) const override;
    FileResult FlushFile(const std::wstring& path) override;
    FileResult ReadFileStart(const std::wstring& path, std::size_t length,
                             std::string& bytes) const override;
    std::wstring TempFolder() const override;
    bool DeleteFileAt(const std::wstring& path) override;
};

// Drives, raw volumes and disks: the one place that opens \\.\X:.
class Win32Volumes final : public Volumes {
public:
    FileResult ReadVolumeStart(const std::wstring& drive, std::size_t length,
                               std::string& bytes) const override;
    FileResult WriteVolumeStart(const std::wstring& drive, const std::string& bytes) override;
    std::optional<VolumeIdentity> IdentifyVolume(const std::wstring& drive) const override;
    std::optional<PartitionPlace> FindPartition(const VolumeIdentity& identity) const override;
    std::vector<DriveEntry> DriveEntries() const override;
    DriveMedia MediaOf(const std::wstring& drive) const override;
    DriveMedia DiskMediaOf(int disk) const override;
    bool IsEfiSystemPartition(const std::wstring& drive) const override;
    std::optional<std::wstring> SystemStorePath() const override;
};

// The firmware's variables.
class Win32Firmware final : public FirmwareReader {
public:
    FirmwareReading RunningFirmware() const override;
};

// The process's own command line and current folder.
class Win32ThisProcess final : public ThisProcess {
public:
    std::wstring CommandLineArguments() const override;
    bool SetCurrentDrive(const std::wstring& drive) override;
    bool SetCurrentFolder(const std::wstring& folder) override;
};

// A 32-bit process on 64-bit Windows sees System32 redirected to SysWOW64; the boot tools and the
// marker files live in the real System32, which it reaches through Sysnative.
bool IsWow64();
std::wstring NativePath(const std::wstring& path);

// A drive list entry as the user knows it: "c: [label]", or the share of a network drive.
std::optional<DriveEntry> DescribeDrive(const std::wstring& root);

// The text after the program's own name in a raw command line.
std::wstring ArgumentsOf(const wchar_t* commandLine);

}  // namespace kestrix::win32
