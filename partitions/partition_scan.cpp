#include "partitions/partition_scan.h"

#include "exec/tool_commands.h"
#include "lister/listing_line.h"
#include "platform/text.h"

namespace kestrix {

namespace {

const wchar_t* MediaName(DriveMedia media) {
    switch (media) {
        case DriveMedia::Usb:
            return L"USB 磁盘";
        case DriveMedia::SdCard:
            return L"SD 卡";
        case DriveMedia::Mmc:
            return L"MMC 卡";
        case DriveMedia::Removable:
        case DriveMedia::Fixed:
            break;
    }
    return L"可移动介质";
}

// The lister ends the disks with the marker and exit code 1; any other way of not ending with 0
// is a failure of the tool, not an answer about the disks.
bool ListingWorked(const RunResult& result, bool endOfDisks) {
    return result.status == RunStatus::Finished &&
           (result.exitCode == 0u || (result.exitCode == 1u && endOfDisks));
}

}  // namespace

std::wstring NormaliseListingLine(std::wstring_view line) {
    std::wstring current = ToLower(TrimSpaces(line));
    for (;;) {
        std::wstring collapsed = ReplaceAll(current, L"  ", L" ");
        if (collapsed == current) {
            return current;
        }
        current = std::move(collapsed);
    }
}

std::optional<ListedPartition> ReadListedPartition(std::wstring_view line) {
    auto words = SplitAll(TrimSpaces(line), L" ");
    std::erase(words, std::wstring());
    if (words.size() < 9) {
        return std::nullopt;
    }
    const std::size_t last = words.size() - 1;
    ListedPartition partition{
        words[0],       words[1], words[2], words[3], L"", L"", ToLower(words[last - 4]) == L"yes",
        words[last - 1]};
    partition.whole = words.size() >= 11 && ToLower(words.back()) == L"mb";
    if (partition.whole) {
        partition.fileSystem = words[4];
        partition.label = words[5];
        for (std::size_t i = 6; i < last - 4; ++i) {
            partition.label += L" " + words[i];
        }
    }
    return partition;
}

bool ListedPartition::EfiSystem() const {
    const auto kind = ToLower(type);
    return kind == L"efi-system" || (ToLower(scheme) == L"mbr" && kind == L"ef");
}

std::optional<BootCandidate> CandidateFor(const ListedPartition& partition) {
    const auto drive = DriveLetter::Parse(ToLower(partition.drive));
    if (!drive || (!partition.active && !partition.EfiSystem())) {
        return std::nullopt;
    }
    return BootCandidate{*drive, partition.EfiSystem() ? BootPath::Uefi : BootPath::Bios,
                         partition.sizeMiB};
}

std::optional<UnletteredEfiPartition> UnletteredEfiPartitionFor(const ListedPartition& partition) {
    if (partition.drive != L"-" || !partition.EfiSystem()) {
        return std::nullopt;
    }
    int number = 0;
    for (const wchar_t c : partition.number) {
        if (c < L'0' || c > L'9' || number > 1000) {
            return std::nullopt;
        }
        number = number * 10 + (c - L'0');
    }
    return UnletteredEfiPartition{number, partition.sizeMiB};
}

BootCandidate AsItBoots(BootCandidate candidate, const Volumes& volumes) {
    if (volumes.IsEfiSystemPartition(candidate.drive)) {
        candidate.path = BootPath::Uefi;
    }
    return candidate;
}

std::optional<std::vector<std::vector<std::wstring>>> SplitDiskSections(std::wstring_view output) {
    std::vector<std::vector<std::wstring>> sections;
    for (const auto& line : SplitLines(output)) {
        if (NormaliseListingLine(line) ==
            L"disk " + DecimalText(static_cast<long long>(sections.size()))) {
            sections.emplace_back();
        } else if (sections.empty()) {
            return std::nullopt;
        } else {
            sections.back().push_back(line);
        }
    }
    if (sections.empty()) {
        return std::nullopt;
    }
    return sections;
}

namespace {

bool EndsDisks(const std::vector<std::wstring>& lines) {
    for (const auto& line : lines) {
        if (NormaliseListingLine(line) == kOpenDiskError) {
            return true;
        }
    }
    return false;
}

// Adds what one disk's lines offer, up to the line that ends the disks.
void ReadDisk(int disk, const std::vector<std::wstring>& lines,
              std::vector<BootCandidate>& candidates,
              std::vector<std::pair<int, UnletteredEfiPartition>>& unlettered) {
    for (const auto& raw : lines) {
        const auto line = NormaliseListingLine(raw);
        if (line == kOpenDiskError) {
            return;
        }
        const auto partition = ReadListedPartition(line);
        if (!partition) {
            continue;
        }
        if (auto candidate = CandidateFor(*partition)) {
            candidates.push_back(std::move(*candidate));
        } else if (auto efi = UnletteredEfiPartitionFor(*partition)) {
            unlettered.emplace_back(disk, std::move(*efi));
        }
    }
}

}  // namespace

DiskListings ReadDiskListings(ToolRunner& runner) {
    DiskListings listings;
    auto all = runner.Run(AllListingsCommand(), OutputCodePage::Ansi);
    if (all.status != RunStatus::Finished) {
        listings.failure = std::move(all);
        return listings;
    }
    // After anything but a whole answer and exit code 0 (an older lister put beside the program
    // prints its usage and ends with 2) the lister is asked disk by disk, as it always was: one
    // that really fails then fails there, and is reported as that.
    const auto sections = all.exitCode == 0u ? SplitDiskSections(all.output) : std::nullopt;
    if (sections && sections->size() > static_cast<std::size_t>(PartitionScan::kLastDisk)) {
        for (int disk = 0; disk <= PartitionScan::kLastDisk; ++disk) {
            const auto& lines = (*sections)[static_cast<std::size_t>(disk)];
            listings.disks.push_back(lines);
            if (EndsDisks(lines)) {
                break;
            }
        }
        return listings;
    }
    for (int disk = 0; disk <= PartitionScan::kLastDisk; ++disk) {
        auto result = runner.Run(ListingCommand(disk), OutputCodePage::Ansi);
        auto lines = SplitLines(result.output);
        const bool endOfDisks = EndsDisks(lines);
        if (!ListingWorked(result, endOfDisks)) {
            listings.disks.clear();
            listings.failure = std::move(result);
            return listings;
        }
        listings.disks.push_back(std::move(lines));
        if (endOfDisks) {
            break;
        }
    }
    return listings;
}

std::optional<PartitionScan::Found> PartitionScan::ReadListings(ScanProgress& progress) {
    auto listings = ReadDiskListings(runner_);
    if (listings.failure) {
        ReportListerFailure(progress, *listings.failure);
        return std::nullopt;
    }
    Found found;
    for (std::size_t disk = 0; disk < listings.disks.size(); ++disk) {
        ReadDisk(static_cast<int>(disk), listings.disks[disk], found.candidates, found.unlettered);
    }
    return found;
}

void PartitionScan::ReportListerFailure(ScanProgress& progress, const RunResult& result) {
    progress.Problem(L"出错了！无法运行分区列表工具 " + result.file + L"：" + RunProblem(result),
                     L"无法运行分区列表工具 " + result.file + L"！请手工输入，如“C:”，不清楚请关闭。");
}

std::optional<BootCandidate> PartitionScan::OfferUnlettered(
    int disk, const UnletteredEfiPartition& partition) {
    const auto where = L"磁盘 " + DecimalText(disk) + L" 的分区 " + DecimalText(partition.number);
    if (const auto media = volumes_.DiskMediaOf(disk); media != DriveMedia::Fixed) {
        log_.Write(L"跳过 " + where + L"：位于" + MediaName(media) + L"上，不作为候选分区");
        return std::nullopt;
    }
    const auto letter = letters_.Assign(disk, partition.number, where + L"（EFI系统分区）");
    if (!letter) {
        return std::nullopt;
    }
    return BootCandidate{*letter, BootPath::Uefi, partition.size};
}

std::vector<BootCandidate> PartitionScan::ScanActivePartitions(ScanProgress& progress) {
    // Offered only once every listing has worked: a partial listing could hide the partition
    // that was meant, and a single entry is repaired without asking.
    const auto found = ReadListings(progress);
    if (!found) {
        return {};
    }
    std::vector<BootCandidate> offered;
    for (const auto& candidate : found->candidates) {
        // The technician's own stick is never offered: it may be the only active partition.
        const auto drive = candidate.drive.Text();
        if (const auto media = volumes_.MediaOf(candidate.drive); media != DriveMedia::Fixed) {
            log_.Write(L"跳过 " + drive + L"：位于" + MediaName(media) +
                       L"上，不作为候选分区（确需修复时请用 -d " + drive + L" 指定）");
            continue;
        }
        offered.push_back(candidate);
    }
    for (const auto& [disk, partition] : found->unlettered) {
        if (auto candidate = OfferUnlettered(disk, partition)) {
            offered.push_back(std::move(*candidate));
        }
    }
    if (offered.empty()) {
        progress.Problem(L"出错了！没找到活动分区！", L"没找到活动分区！请手工输入，如“C:”，不清楚请关闭。");
    }
    return offered;
}

}  // namespace kestrix
