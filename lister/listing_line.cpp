#include "lister/listing_line.h"

#include <algorithm>
#include <utility>

#include "platform/text.h"

namespace kestrix {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr wchar_t kNone[] = L"-";

bool IsControl(wchar_t c) {
    return c < 0x20 || c == 0x7F;
}

// A value that must stay one word: inner spaces and controls become "_", nothing becomes "-".
std::wstring Word(std::wstring_view text) {
    std::wstring word = TrimSpaces(text);
    for (auto& c : word) {
        if (c == L' ' || IsControl(c)) {
            c = L'_';
        }
    }
    return word.empty() ? kNone : word;
}

// A label may keep its spaces, but single ones: the reader collapses runs anyway, and a line end
// inside would split the line.
std::wstring LabelWords(std::wstring_view text) {
    std::wstring label;
    for (const wchar_t c : text) {
        const wchar_t shown = IsControl(c) ? L' ' : c;
        if (shown != L' ' || (!label.empty() && label.back() != L' ')) {
            label.push_back(shown);
        }
    }
    label = TrimSpaces(label);
    return label.empty() ? kNone : label;
}

std::wstring Hex2(std::uint8_t value) {
    static constexpr wchar_t kHex[] = L"0123456789abcdef";
    return {kHex[value >> 4], kHex[value & 0x0F]};
}

// What is listed, in number order.
std::vector<PartitionInfo> Listed(std::vector<PartitionInfo> partitions) {
    std::erase_if(partitions, [](const PartitionInfo& p) { return !IsListedPartition(p); });
    std::stable_sort(
        partitions.begin(), partitions.end(),
        [](const PartitionInfo& a, const PartitionInfo& b) { return a.number < b.number; });
    return partitions;
}

}  // namespace

std::wstring PartitionTypeWord(const PartitionInfo& partition) {
    return partition.style == PartitionStyle::kGpt ? GptTypeName(partition.gptType)
                                                   : Hex2(partition.mbrType);
}

std::wstring ListingLine(const PartitionInfo& partition, const VolumeInfo& volume) {
    const bool gpt = partition.style == PartitionStyle::kGpt;
    // Only the MBR has a boot indicator; a GPT disk boots through its EFI system partition.
    const bool active = !gpt && partition.active;
    const std::uint64_t start = partition.startBytes / kMiB;
    const std::uint64_t end = (partition.startBytes + partition.lengthBytes) / kMiB;
    const std::uint64_t size = partition.lengthBytes / kMiB;
    std::wstring line = DecimalText(partition.number);
    for (const std::wstring& word :
         {Word(volume.drive), std::wstring(gpt ? L"gpt" : L"mbr"),
          Word(PartitionTypeWord(partition)), Word(volume.fileSystem), LabelWords(volume.label),
          std::wstring(active ? L"yes" : L"no"), DecimalText(start), DecimalText(end),
          DecimalText(size), std::wstring(L"MB")}) {
        line += L' ';
        line += word;
    }
    return line;
}

bool IsListedPartition(const PartitionInfo& partition) {
    if (partition.number == 0 || partition.lengthBytes == 0) {
        return false;
    }
    if (partition.style == PartitionStyle::kMbr) {
        return partition.mbrType != 0 && !IsExtendedType(partition.mbrType);
    }
    return partition.style == PartitionStyle::kGpt;
}

VolumeInfo VolumeOf(const std::vector<MountedVolume>& volumes, std::uint32_t disk,
                    const PartitionInfo& partition) {
    const auto it = std::find_if(volumes.begin(), volumes.end(), [&](const MountedVolume& v) {
        return v.disk == disk && v.startBytes == partition.startBytes;
    });
    return it == volumes.end() ? VolumeInfo{} : it->info;
}

std::optional<std::uint32_t> ListingDiskArgument(const std::vector<std::wstring>& arguments) {
    for (const auto& argument : arguments) {
        if (argument.starts_with(L'/')) {
            continue;
        }
        // Nine digits keep the number, and the disks probed after it, inside 32 bits.
        if (argument.empty() || argument.size() > 9 ||
            !std::all_of(argument.begin(), argument.end(),
                         [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(std::stoul(argument));
    }
    return std::nullopt;
}

std::optional<std::wstring> ListingImageArgument(const std::vector<std::wstring>& arguments) {
    constexpr std::wstring_view kSwitch = L"/image:";
    for (const auto& argument : arguments) {
        if (argument.size() > kSwitch.size() &&
            ToLower(Left(argument, kSwitch.size())) == kSwitch) {
            return argument.substr(kSwitch.size());
        }
    }
    return std::nullopt;
}

bool ListingAllArgument(const std::vector<std::wstring>& arguments) {
    return std::any_of(arguments.begin(), arguments.end(),
                       [](const std::wstring& argument) { return ToLower(argument) == L"/all"; });
}

Listing MakeListing(std::uint32_t disk, DiskSource& source) {
    Listing listing;
    auto partitions = source.Partitions(disk);
    if (!partitions) {
        for (std::uint32_t higher = disk + 1; higher <= disk + kDiskProbeSpan; ++higher) {
            if (source.DiskExists(higher)) {
                return listing;
            }
        }
        listing.lines.push_back(kOpenDiskError);
        listing.exitCode = 1;
        return listing;
    }
    const auto listed = Listed(std::move(*partitions));
    if (listed.empty()) {
        return listing;
    }
    const auto volumes = source.Volumes();
    for (const auto& partition : listed) {
        listing.lines.push_back(ListingLine(partition, VolumeOf(volumes, disk, partition)));
    }
    return listing;
}

Listing MakeAllDisksListing(DiskSource& source) {
    Listing all;
    for (std::uint32_t disk = 0; disk <= kLastListedDisk; ++disk) {
        all.lines.push_back(L"disk " + DecimalText(disk));
        const Listing one = MakeListing(disk, source);
        all.lines.insert(all.lines.end(), one.lines.begin(), one.lines.end());
    }
    return all;
}

Listing MakeImageListing(SectorReader& image) {
    Listing listing;
    DiskLayout layout = DecodeDiskImage(image);
    for (const auto& partition : Listed(std::move(layout.partitions))) {
        listing.lines.push_back(ListingLine(partition, {}));
    }
    if (layout.gptFromBackup) {
        listing.notice = kBackupGptNotice;
    }
    return listing;
}

}  // namespace kestrix
