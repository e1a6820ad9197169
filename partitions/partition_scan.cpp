#include "partitions/partition_scan.h"

#include "exec/tool_commands.h"
#include "platform/text.h"

namespace kestrix {

namespace {

constexpr wchar_t kEndOfDisks[] = L"open disk error!";

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

std::optional<std::wstring> PartitionEntryFor(const std::wstring& line) {
    const auto fields = SplitAll(line, L" ");
    if (fields.size() < 9) {
        return std::nullopt;
    }
    const std::size_t last = fields.size() - 1;
    const std::wstring& drive = fields[1];
    if (fields[last - 4] != L"yes" || drive.empty() || drive.back() != L':') {
        return std::nullopt;
    }
    return drive + L"  容量:" + fields[last - 1] + L"MB";
}

void PartitionScan::ScanActivePartitions() {
    // Offered only once every listing has worked: a partial listing could hide the partition
    // that was meant, and a single entry is repaired without asking.
    std::vector<std::wstring> entries;
    bool endOfDisks = false;
    for (int disk = 0; disk <= kLastDisk && !endOfDisks; ++disk) {
        const auto result = runner_.Run(ListingCommand(disk), OutputCodePage::Ansi);
        for (const auto& raw : SplitLines(result.output)) {
            const auto line = NormaliseListingLine(raw);
            if (line == kEndOfDisks) {
                endOfDisks = true;
                break;
            }
            if (auto entry = PartitionEntryFor(line)) {
                entries.push_back(std::move(*entry));
            }
        }
        if (!ListingWorked(result, endOfDisks)) {
            session_.ShowMessage(
                L"出错了！无法运行分区列表工具 " + result.file + L"：" + RunProblem(result),
                MessageButtons::Ok, MessageIcon::Exclamation);
            window_.SetInstruction(L"无法运行分区列表工具 " + result.file +
                                L"！请手工输入，如“C:”，不清楚请关闭。");
            return;
        }
    }
    for (const auto& entry : entries) {
        // The technician's own stick is never offered: it may be the only active partition.
        const auto drive = Left(entry, 2);
        if (const auto media = files_.MediaOf(drive); media != DriveMedia::Fixed) {
            log_.Write(L"跳过 " + drive + L"：位于" + MediaName(media) +
                       L"上，不作为候选分区（确需修复时请用 -d " + drive + L" 指定）");
            continue;
        }
        window_.AddPartition(entry);
    }
    if (window_.PartitionCount() >= 1) {
        window_.SelectPartition(0);
        return;
    }
    session_.ShowMessage(L"出错了！没找到活动分区！", MessageButtons::Ok, MessageIcon::Exclamation);
    window_.SetInstruction(L"没找到活动分区！请手工输入，如“C:”，不清楚请关闭。");
}

}  // namespace kestrix
