#pragma once
// Fills the selection list with the active partitions that have a drive letter, from the listing
// tool's output for disks 0 to 10, read from the tool's standard output.
#include <optional>
#include <string>
#include <string_view>

#include "exec/run_log.h"
#include "exec/tool_runner.h"
#include "platform/files.h"
#include "platform/windows.h"

namespace kestrix {

// Trims spaces (not tabs), lower-cases and collapses runs of spaces into one.
std::wstring NormaliseListingLine(std::wstring_view line);

// The entry a normalised listing line offers, or nothing when the line does not qualify: at least
// nine fields, field 1 ending in ":" and the fifth field from the end "yes".
std::optional<std::wstring> PartitionEntryFor(const std::wstring& line);

class PartitionScan {
public:
    static constexpr int kLastDisk = 10;

    PartitionScan(RepairWindow& window, Session& session, FileSystem& files, ToolRunner& runner,
                  RunLog& log)
        : window_(window), session_(session), files_(files), runner_(runner), log_(log) {}

    // A listing tool that cannot run or fails is reported as that, not as "nothing found".
    void ScanActivePartitions();

private:
    RepairWindow& window_;
    Session& session_;
    FileSystem& files_;
    ToolRunner& runner_;
    RunLog& log_;
};

}  // namespace kestrix
