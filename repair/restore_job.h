#pragma once
// Puts back what an earlier run saved, as a job like the repair, from a run folder beside the
// program or, anywhere else, one that only an administrator could have made (run_folder_trust.h):
// each item of the run folder's manifest goes back only when its copy still has the recorded length
// and SHA-256 and, for a volume's boot area, when the volume is the one it was saved from. Before
// anything is written the current state of every item about to be put back is saved into this run's
// own folder, with its own manifest, so that a restore can itself be undone. Files that the earlier
// run created are named, never deleted.
#include <optional>
#include <string>
#include <vector>

#include "exec/run_log.h"
#include "exec/temporary_letters.h"
#include "exec/tool_runner.h"
#include "platform/clock.h"
#include "platform/file_security.h"
#include "platform/files.h"
#include "platform/volumes.h"
#include "repair/backups.h"
#include "repair/manifest.h"
#include "repair/steps.h"

namespace kestrix {

struct RestoreRequest {
    // The run folder to restore from, a full path; empty when none was found.
    std::wstring folder;
    // A person named the folder (with -r or in the window) and confirmed it in the window: only
    // then is a folder on a file system that keeps no owners used outside the program's folder.
    bool confirmed = false;
};

class RestoreJob final : public Job {
public:
    RestoreJob(Files& files, const FileSecurity& security, Volumes& volumes, ToolRunner& runner,
               RunLog& log, TemporaryLetters& letters, const Clock& clock)
        : files_(files),
          security_(security),
          volumes_(volumes),
          clock_(clock),
          log_(log),
          letters_(letters),
          steps_(files, volumes, runner, log) {}

    // The newest run folder that holds a manifest: beside the program, else in the root of a
    // fixed drive, passing over names whose time lies in the future. Empty when there is none.
    std::wstring NewestRunFolder() const;
    // What the next run puts back.
    void Prepare(RestoreRequest request) { request_ = std::move(request); }
    // Succeeded: every item put back; StepsFailed: some were; NothingWritten: none was.
    RepairOutcome Run(RepairProgress& progress) override;
    // No further item is written; the one being written is finished.
    void RequestStop() override { steps_.RequestStop(); }

private:
    struct Ready {
        const ManifestItem* item;
        // The copy in the run folder.
        std::wstring copy;
    };

    // Each item's source on the drive that holds its volume now (a partition known by its disk
    // may have another letter, or none, which it then gets for this run); a line for each drive
    // that moved.
    std::vector<std::wstring> Locate(std::vector<ManifestItem>& items);
    DriveLetter Find(DriveLetter drive, const VolumeIdentity& identity);
    // Where this run's own folder goes when the program's cannot hold it.
    std::vector<DriveLetter> RunFolderDrives(
        const std::optional<std::vector<ManifestItem>>& items) const;
    // Empty, with the failed line in problem, when there is nothing that can be read, or nothing
    // that may be trusted.
    std::optional<std::vector<ManifestItem>> ReadItems(std::wstring& problem);
    // The manifest's text: beside the program as it is, elsewhere only from a folder that an
    // administrator made; else a failed line in problem.
    std::optional<std::string> ManifestOf(std::wstring& problem);
    // Whether a run folder outside the program's folder may be used, as its owners say; else the
    // failed line in problem.
    bool MayUse(const OwnedFile& owned, std::wstring& problem);
    // Whether the item's copy in the run folder (hashed in pieces) and its volume are as
    // recorded; else a failed line.
    bool Verified(const std::wstring& copy, const ManifestItem& item);
    bool SaveCurrent(const ManifestItem& item);
    // How much of a saved volume start is its boot area, while the volume holds the same file
    // system; else a failed line.
    std::optional<std::size_t> BootAreaLength(const ManifestItem& item, const std::string& bytes);
    void PutBack(const Ready& ready);
    FileResult PutFileBack(const ManifestItem& item, const std::string& bytes);
    // The store that the running Windows holds open goes back through the store tool.
    bool IsHeldSystemStore(const std::wstring& path) const;
    // A transaction log (BCD.LOG*) beside that store: the import replaces the store with its
    // logs, which Windows holds open; such an item is left alone.
    bool IsImportedStoreLog(const ManifestItem& item) const;
    FileResult ImportStore(const std::wstring& copy);
    RepairOutcome Complete();

    Files& files_;
    const FileSecurity& security_;
    Volumes& volumes_;
    const Clock& clock_;
    RunLog& log_;
    TemporaryLetters& letters_;
    Steps steps_;

    RestoreRequest request_;
    // Items put back in this run.
    int restored_ = 0;
};

}  // namespace kestrix
