#pragma once
// Copies of what the repair is about to overwrite, kept in the run's folder: the boot volume's
// first 8 KiB before its boot sector is rewritten, the boot store before the first tool changes it,
// and each loader file before it is replaced. Files keep their path under a folder named for their
// drive (d:\boot\bcd is saved as d\boot\bcd).
#include <set>
#include <string>

#include "exec/run_log.h"
#include "platform/files.h"

namespace kestrix {

class Backups {
public:
    static constexpr std::size_t kVolumeStartLength = 8192;

    Backups(FileSystem& files, RunLog& log) : files_(files), log_(log) {}

    // Once per drive; a failure is a value with its reason.
    FileResult SaveVolumeStart(const std::wstring& drive);
    // Once per path; a missing file has nothing to save and succeeds.
    FileResult SaveFile(const std::wstring& path);

private:
    FileResult NoFolder() const;

    FileSystem& files_;
    RunLog& log_;
    std::set<std::wstring> saved_;
};

}  // namespace kestrix
