#pragma once
// Copies of what the repair is about to overwrite, kept in the run's folder: the boot volume's
// first 8 KiB before its boot sector is rewritten, the boot manager and the whole boot folder
// before the first tool that rebuilds them, and each loader file before it is replaced. Files keep
// their path under a folder named for their drive (d:\boot\bcd is saved as d\boot\bcd). Every
// copy is complete and on the disk before the step that depends on it, or that step must not run.
// Each copy is entered in the run's manifest, which goes to the disk with it; what was missing
// before and is there at the end of the run is entered as created.
#include <map>
#include <string>
#include <vector>

#include "exec/run_log.h"
#include "exec/tool_runner.h"
#include "platform/drive_letter.h"
#include "platform/files.h"
#include "platform/volumes.h"
#include "repair/manifest.h"

namespace kestrix {

// Which volume a drive is, its file system's serial number read from its boot record where
// Windows does not tell it.
std::optional<VolumeIdentity> IdentifyVolume(const Volumes& volumes, DriveLetter drive);

class Backups {
public:
    static constexpr std::size_t kVolumeStartLength = 8192;

    Backups(Files& files, const Volumes& volumes, RunLog& log, ToolRunner& runner)
        : files_(files), volumes_(volumes), log_(log), runner_(runner) {}

    // Once per drive; a failure, a short read included, is a value with its reason.
    FileResult SaveVolumeStart(DriveLetter volume);
    // Once per path; a missing file has nothing to save and succeeds.
    FileResult SaveFile(const std::wstring& path);
    // \bootmgr, the \Boot folder with everything in it and \EFI when it is there, once per drive.
    // The store that the running Windows holds open cannot be copied; it is exported by the store
    // tool instead.
    FileResult SaveBootFiles(DriveLetter drive);
    // \EFI\Microsoft\Boot and \EFI\Boot with everything in them, once per drive.
    FileResult SaveEfiBootFiles(DriveLetter drive);
    // A folder the run made where there was none.
    void NoteCreated(const std::wstring& path) { missing_.push_back(path); }
    // At the end of the run: enters what the run created where nothing was before.
    void Finish();

private:
    FileResult NoFolder() const;
    FileResult SaveFolder(const std::wstring& path);
    FileResult ExportStore(const std::wstring& path, const std::wstring& target);
    // The backup's path for a file on a drive; creates the folders it lies in.
    std::wstring TargetFor(const std::wstring& path);
    // A copy made but not flushed to the disk does not count.
    FileResult Flushed(const std::wstring& target, FileResult result);
    // Enters a copy of this length and digest in the manifest and writes that to the disk.
    FileResult Record(ManifestItem item, const FileDigest& copy);
    FileResult RecordFile(const std::wstring& path, const std::wstring& target);
    FileResult WriteManifest();
    // Which volume a drive is, asked once per drive.
    const std::optional<VolumeIdentity>& VolumeOf(DriveLetter drive);

    Files& files_;
    const Volumes& volumes_;
    RunLog& log_;
    ToolRunner& runner_;
    // Each item is tried once; a later step that depends on it gets the same outcome.
    std::map<std::wstring, FileResult> outcomes_;
    bool storeExported_ = false;
    std::vector<ManifestItem> manifest_;
    // Each drive's identity, asked once, by its letter in lower case.
    std::map<wchar_t, std::optional<VolumeIdentity>> identities_;
    // Files and folders that did not exist when they were to be saved.
    std::vector<std::wstring> missing_;
};

}  // namespace kestrix
