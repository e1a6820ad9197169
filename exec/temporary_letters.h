#pragma once
// Drive letters given for this run only, through diskpart, to partitions that have none (an EFI
// system partition): each is logged, and every one is taken back when the program ends.
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "exec/hold.h"
#include "exec/run_log.h"
#include "exec/tool_runner.h"
#include "platform/drive_letter.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace kestrix {

// The letter an unlettered partition gets: the last free one counting down from Z, or none.
std::optional<wchar_t> LastFreeLetter(const std::vector<DriveEntry>& driveEntries,
                                      const std::wstring& taken);

class TemporaryLetters {
public:
    TemporaryLetters(Files& files, const Volumes& volumes, ToolRunner& runner, RunLog& log)
        : files_(files), volumes_(volumes), runner_(runner), log_(log) {}

    // Partition M of disk N gets the last free letter; "where" names it in the log. The drive
    // in lower case, or none when there is no free letter or diskpart fails.
    std::optional<DriveLetter> Assign(int disk, int partition, const std::wstring& where);
    // Whether a drive has its letter for this run only.
    bool IsTemporary(DriveLetter drive) const;
    // The fixed drives among these that keep their letters after the program ends: where a run's
    // folder may go when the program's own cannot hold it.
    std::vector<DriveLetter> LastingFixedDrives(const std::vector<DriveEntry>& entries) const;
    // Takes back every letter given, when the program ends.
    void RemoveAll();

private:
    struct Given {
        int disk;
        int partition;
        DriveLetter drive;  // upper case
    };
    // Runs one diskpart script; true when it succeeded.
    bool RunDiskpart(const std::wstring& script);

    Files& files_;
    const Volumes& volumes_;
    ToolRunner& runner_;
    RunLog& log_;
    // The end of the program may take the letters back while the listing or a job still gives
    // one (it waits for them only so long): given_ is touched only under this.
    mutable std::atomic_flag busy_;
    std::vector<Given> given_;
};

}  // namespace kestrix
