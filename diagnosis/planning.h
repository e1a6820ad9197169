#pragma once
// Seams under which the repair's own code plans instead of repairing: nothing is started and
// nothing is written. Reads go through to the machine; every write is noted as a line of the plan
// and kept in an overlay, so that a later read of the same plan sees it (a planned copy is there
// to be read back, a planned folder can be listed). A planned tool is noted and answers success;
// of what it leaves behind, the files its command says it is documented to create are placed
// (bcdboot's boot manager and store, bcdedit's exported store), of content the plan cannot know.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/volumes.h"

namespace kestrix {

// Where the plan's lines go, in the order the repair would do what they name.
using PlanNote = std::function<void(const std::wstring&)>;

class PlanningFiles final : public Files {
public:
    PlanningFiles(const Files& real, PlanNote note) : real_(real), note_(std::move(note)) {}

    std::wstring OwnFolder() const override { return real_.OwnFolder(); }
    std::wstring SystemFolder() const override { return real_.SystemFolder(); }
    std::wstring TempFolder() const override { return real_.TempFolder(); }
    std::optional<std::int64_t> FileLength(const std::wstring& path) const override;
    FileResult SetNormalAttributes(const std::wstring& path) override;
    FileResult CopyFileOver(const std::wstring& source, const std::wstring& target) override;
    FileResult CreateFolder(const std::wstring& path) override;
    FileResult CreateAdministratorsFolder(const std::wstring& path) override {
        return CreateFolder(path);
    }
    FileResult AppendToFile(const std::wstring& path, const std::string& bytes) override;
    FileResult WriteNewFile(const std::wstring& path, const std::string& bytes) override;
    FileResult ReadWholeFile(const std::wstring& path, std::string& bytes) const override;
    FileResult MoveFileOver(const std::wstring& source, const std::wstring& target) override;
    std::optional<std::string> Sha256(const std::string& bytes) const override {
        return real_.Sha256(bytes);
    }
    FileDigest Sha256OfFile(const std::wstring& path) const override;
    std::optional<std::uint32_t> Attributes(const std::wstring& path) const override;
    FileResult SetAttributes(const std::wstring& path, std::uint32_t attributes) override;
    FileResult ListFolder(const std::wstring& path,
                          std::vector<FolderEntry>& entries) const override;
    FileResult FlushFile(const std::wstring& path) override;
    FileResult ReadFilePart(const std::wstring& path, std::uint64_t offset, std::size_t length,
                            std::string& bytes) const override;
    bool DeleteFileAt(const std::wstring& path) override;

    // A file that a planned tool leaves behind, of content the plan cannot know; the folders it
    // lies in are made with it.
    void PlaceByTool(const std::wstring& path);

private:
    // What the plan has done to one path.
    struct Planned {
        std::wstring name;  // the path as it was first written
        bool folder = false;
        bool deleted = false;
        // Empty: as on the disk.
        std::optional<std::string> bytes;
        std::optional<std::uint32_t> attributes;
        // A line of the plan names its write already.
        bool noted = false;
    };

    const Planned* Find(const std::wstring& path) const;
    bool FolderExists(const std::wstring& path) const;
    // The plan's contents of a file, planned or real.
    std::optional<std::string> Contents(const std::wstring& path) const;
    Planned& Plan(const std::wstring& path);
    // Windows refuses to write a file into a missing folder, or over a read-only one.
    std::optional<FileResult> Refused(const std::wstring& path) const;
    // Notes a write of a path once: later writes to the same file add no line.
    void NoteWrite(const std::wstring& line, const std::wstring& path);

    const Files& real_;
    PlanNote note_;
    std::map<std::wstring, Planned> overlay_;
};

class PlanningVolumes final : public Volumes {
public:
    PlanningVolumes(const Volumes& real, PlanNote note) : real_(real), note_(std::move(note)) {}

    std::vector<DriveEntry> DriveEntries() const override { return real_.DriveEntries(); }
    FileResult ReadVolumeStart(DriveLetter drive, std::size_t length,
                               std::string& bytes) const override;
    FileResult ReadDiskStart(int disk, std::size_t length, std::string& bytes) const override {
        return real_.ReadDiskStart(disk, length, bytes);
    }
    FileResult WriteVolumeStart(DriveLetter drive, const std::string& bytes) override;
    std::optional<VolumeIdentity> IdentifyVolume(DriveLetter drive) const override {
        return real_.IdentifyVolume(drive);
    }
    std::optional<PartitionPlace> FindPartition(const VolumeIdentity& identity) const override {
        return real_.FindPartition(identity);
    }
    std::optional<FoundPartition> FindPartitionById(std::string_view guid) const override {
        return real_.FindPartitionById(guid);
    }
    DriveMedia MediaOf(DriveLetter drive) const override { return real_.MediaOf(drive); }
    DriveMedia DiskMediaOf(int disk) const override { return real_.DiskMediaOf(disk); }
    bool IsEfiSystemPartition(DriveLetter drive) const override {
        return real_.IsEfiSystemPartition(drive);
    }
    std::optional<std::wstring> SystemStorePath() const override {
        return real_.SystemStorePath();
    }

private:
    const Volumes& real_;
    PlanNote note_;
    // The planned start of each volume written, by lower-case drive.
    std::map<std::wstring, std::string> written_;
};

// Starts nothing: notes the command line and answers that it ran and ended with 0, without
// output.
class PlanningLauncher final : public ProcessLauncher {
public:
    PlanningLauncher(PlanningFiles& files, PlanNote note) : files_(files), note_(std::move(note)) {}

    // Notes the command, places the files the request says the program leaves, answers success.
    LaunchResult Launch(const LaunchRequest& request, LaunchProgress& progress) override;

private:
    PlanningFiles& files_;
    PlanNote note_;
};

}  // namespace kestrix
