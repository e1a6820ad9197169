#pragma once
// Finds the partitions a repair can be for: the active partitions that have a drive letter and
// every EFI system partition (given a letter for the run when it has none), from the listing
// tool's output for disks 0 to 10, read from the tool's standard output: all of them from one run
// of "dsptw /all", or disk by disk from a lister that does not answer that.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "exec/run_log.h"
#include "exec/temporary_letters.h"
#include "exec/tool_runner.h"
#include "partitions/boot_candidate.h"
#include "platform/volumes.h"
#include "platform/windows.h"

namespace kestrix {

// Trims spaces (not tabs), lower-cases and collapses runs of spaces into one.
std::wstring NormaliseListingLine(std::wstring_view line);

// One partition line of the listing (see lister/listing_line.h), its words kept in the case they
// were printed in; the one reader of a listing line, for the scan and the diagnosis. A line of
// nine words or more gives the number, drive, scheme and type from its start and the active flag
// and size counted from its end; only a whole line (eleven words or more, the last "MB") gives the
// file system and the label between them.
struct ListedPartition {
    std::wstring number;
    std::wstring drive;  // "C:", or "-" without a letter
    std::wstring scheme;
    std::wstring type;
    std::wstring fileSystem;
    std::wstring label;
    bool active = false;
    std::wstring sizeMiB;
    bool whole = false;

    // GPT "efi-system" or MBR "ef": it boots through UEFI.
    bool EfiSystem() const;
};
std::optional<ListedPartition> ReadListedPartition(std::wstring_view line);

// The candidate a listed partition offers, or nothing: it needs a drive letter, and to be active
// or an EFI system partition. The drive is offered in lower case.
std::optional<BootCandidate> CandidateFor(const ListedPartition& partition);

// An EFI system partition without a drive letter: its number on the disk and its size in MiB.
struct UnletteredEfiPartition {
    int number = 0;
    std::wstring size;
};
std::optional<UnletteredEfiPartition> UnletteredEfiPartitionFor(const ListedPartition& partition);

// The candidate as it boots: an EFI system partition, as the scan offered it or as its partition
// type says, boots through UEFI.
BootCandidate AsItBoots(BootCandidate candidate, const Volumes& volumes);

// The lister's answer for all disks cut into what it printed for each: section N holds the lines
// after the line "disk N", up to the line of the next disk (lines compared normalised). A line
// naming any other disk stays in its section. Nothing when the answer does not begin with disk
// 0's line, as a lister that does not know the question answers.
std::optional<std::vector<std::vector<std::wstring>>> SplitDiskSections(std::wstring_view output);

// The lister's lines for each disk from 0, up to the one whose lines end the disks: from one run
// of "/all", or disk by disk from a lister that does not answer that. A lister that cannot run or
// fails gives no disks and its run.
struct DiskListings {
    std::vector<std::vector<std::wstring>> disks;
    std::optional<RunResult> failure;
};
DiskListings ReadDiskListings(ToolRunner& runner);

// Where the scan reports what keeps it from offering anything: a box for the user and the
// instruction that takes the list's place.
class ScanProgress {
public:
    virtual ~ScanProgress() = default;
    virtual void Problem(const std::wstring& message, const std::wstring& instruction) = 0;
};

class PartitionScan {
public:
    static constexpr int kLastDisk = 10;

    PartitionScan(const Volumes& volumes, ToolRunner& runner, RunLog& log,
                  TemporaryLetters& letters)
        : volumes_(volumes),
          runner_(runner),
          log_(log),
          letters_(letters) {}

    // In the order the listings give them. A listing tool that cannot run or fails is reported as
    // that, not as "nothing found", and so is finding nothing. It touches no window, so it may
    // run on a thread of its own.
    std::vector<BootCandidate> ScanActivePartitions(ScanProgress& progress);

private:
    // What the listings offer, in the order they list it.
    struct Found {
        std::vector<BootCandidate> candidates;
        std::vector<std::pair<int, UnletteredEfiPartition>> unlettered;
    };

    // Nothing when the lister could not run or failed; that is reported then.
    std::optional<Found> ReadListings(ScanProgress& progress);
    void ReportListerFailure(ScanProgress& progress, const RunResult& result);
    std::optional<BootCandidate> OfferUnlettered(int disk, const UnletteredEfiPartition& partition);

    const Volumes& volumes_;
    ToolRunner& runner_;
    RunLog& log_;
    TemporaryLetters& letters_;
};

}  // namespace kestrix
