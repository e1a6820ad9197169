#include "partitions/partition_scan.h"

#include "exec/tool_commands.h"
#include "platform/text.h"

namespace kestrix {

namespace {

constexpr wchar_t kListingFile[] = L"dinf.txt";
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

void PartitionScan::AddPartitionLine(const std::wstring& line) {
    const auto entry = PartitionEntryFor(line);
    if (!entry) {
        return;
    }
    // The technician's own stick is never offered: it may be the only active partition there is.
    const auto drive = Left(*entry, 2);
    if (const auto media = files_.MediaOf(drive); media != DriveMedia::Fixed) {
        log_.Write(L"跳过 " + drive + L"：位于" + MediaName(media) +
                   L"上，不作为候选分区（确需修复时请用 -d " + drive + L" 指定）");
        return;
    }
    window_.AddPartition(*entry);
}

void PartitionScan::ScanActivePartitions() {
    bool stop = false;
    for (int disk = 0; disk <= kLastDisk && !stop; ++disk) {
        // A listing that could not be made must not leave the previous disk's listing to be read.
        files_.DeleteFileAt(kListingFile);
        log_.RunTool(runner_, ListingCommand(disk));
        const auto lines = files_.ReadTextLines(kListingFile);
        if (!lines) {
            continue;
        }
        for (const auto& raw : *lines) {
            const auto line = NormaliseListingLine(raw);
            if (line == kEndOfDisks) {
                stop = true;
                break;
            }
            if (!line.empty()) {
                AddPartitionLine(line);
            }
        }
    }
    if (window_.PartitionCount() >= 1) {
        window_.SelectPartition(0);
        return;
    }
    session_.ShowMessage(L"出错了！没找到活动分区！", MessageButtons::Ok, MessageIcon::Exclamation);
    window_.SetInstruction(L"没找到活动分区！请手工输入，如“C:”，不清楚请关闭。");
}

}  // namespace kestrix
