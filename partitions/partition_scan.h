#pragma once
// Fills the selection list with the active partitions that have a drive letter, from the listing
// tool's output for disks 0 to 10, read from the tool's standard output.
#include <optional>
#include <string>
#include <string_view>

#include "exec/tool_runner.h"
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

    PartitionScan(SelectionWindow& ch2, Session& session, ToolRunner& runner)
        : ch2_(ch2), session_(session), runner_(runner) {}

    // A listing tool that cannot run or fails is reported as that, not as "nothing found".
    void ScanActivePartitions();

private:
    SelectionWindow& ch2_;
    Session& session_;
    ToolRunner& runner_;
};

}  // namespace kestrix
