#include "lister/partition_table.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <set>
#include <string_view>

namespace kestrix {

namespace {

constexpr std::size_t kMbrSize = 512;
constexpr std::size_t kEntryTableOffset = 446;
constexpr std::size_t kEntrySize = 16;
constexpr std::uint8_t kActiveFlag = 0x80;
constexpr std::uint8_t kProtectiveType = 0xEE;
// Far beyond any real chain; a crafted chain of distinct in-range links still ends.
constexpr int kMaxLogicals = 256;
constexpr std::uint64_t kPrimaryGptLba = 1;
constexpr std::uint32_t kGptHeaderMinSize = 92;
constexpr std::uint32_t kGptEntryMinSize = 128;
// Windows makes 16 KiB arrays; a bigger one is more likely a damaged count than a real table.
constexpr std::uint64_t kMaxGptArrayBytes = 4u << 20;
constexpr std::size_t kGptNameOffset = 56;
constexpr std::size_t kGptNameUnits = 36;

std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::uint64_t Le64(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint64_t>(Le32(b, at)) | static_cast<std::uint64_t>(Le32(b, at + 4))
                                                         << 32;
}

struct MbrEntry {
    bool active = false;
    std::uint8_t type = 0;
    std::uint64_t lba = 0;
    std::uint64_t sectors = 0;

    bool Used() const { return type != 0 && sectors != 0; }
};

MbrEntry EntryAt(std::span<const std::uint8_t> sector, int index) {
    const std::size_t at = kEntryTableOffset + kEntrySize * static_cast<std::size_t>(index);
    return MbrEntry{sector[at] == kActiveFlag, sector[at + 4], Le32(sector, at + 8),
                    Le32(sector, at + 12)};
}

// A boot record (MBR or EBR): its first 512 bytes, whatever the sector size, with the 55 AA mark.
std::optional<std::vector<std::uint8_t>> ReadBootRecord(SectorReader& disk, std::uint64_t offset) {
    std::vector<std::uint8_t> sector(kMbrSize);
    if (!disk.Read(offset, sector) || sector[510] != 0x55 || sector[511] != 0xAA) {
        return std::nullopt;
    }
    return sector;
}

// Multiplies an LBA by the sector size, or nothing when the byte offset would not fit.
std::optional<std::uint64_t> ByteOffset(std::uint64_t lba, std::uint32_t sectorSize) {
    if (lba > std::numeric_limits<std::uint64_t>::max() / sectorSize) {
        return std::nullopt;
    }
    return lba * sectorSize;
}

PartitionInfo MbrPartition(const MbrEntry& entry, std::uint64_t lba, std::uint32_t sectorSize,
                           bool logical) {
    PartitionInfo p;
    p.style = PartitionStyle::kMbr;
    // 32-bit LBAs times a sector size of at most 64 KiB cannot overflow 64 bits.
    p.startBytes = lba * sectorSize;
    p.lengthBytes = entry.sectors * sectorSize;
    p.active = entry.active;
    p.logical = logical;
    p.mbrType = entry.type;
    return p;
}

// Follows one extended partition's chain. Links are relative to the container's start and each
// logical's start to its own EBR; every EBR must lie inside the container and be new.
void ReadChain(SectorReader& disk, const MbrEntry& container, std::uint32_t sectorSize,
               std::set<std::uint64_t>& visited, std::vector<PartitionInfo>& out) {
    const std::uint64_t first = container.lba;
    const std::uint64_t end = container.lba + container.sectors;
    std::uint64_t ebr = first;
    for (int hops = 0; hops < kMaxLogicals; ++hops) {
        if (ebr < first || ebr >= end || !visited.insert(ebr).second) {
            return;
        }
        const auto record = ReadBootRecord(disk, ebr * sectorSize);
        if (!record) {
            return;
        }
        const MbrEntry logical = EntryAt(*record, 0);
        if (logical.Used() && !IsExtendedType(logical.type)) {
            const std::uint64_t start = ebr + logical.lba;
            if (start > ebr && start + logical.sectors <= end) {
                out.push_back(MbrPartition(logical, start, sectorSize, true));
            }
        }
        const MbrEntry link = EntryAt(*record, 1);
        if (!IsExtendedType(link.type)) {
            return;
        }
        ebr = first + link.lba;
    }
}

std::wstring FromUtf16Le(std::span<const std::uint8_t> bytes) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        if (unit == 0) {
            break;
        }
        text.push_back(static_cast<wchar_t>(unit));
    }
    if constexpr (sizeof(wchar_t) == 4) {
        // Wide strings hold whole code points here: join the pairs, replace the lone halves.
        std::wstring joined;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto unit = static_cast<std::uint32_t>(text[i]);
            const bool high = unit >= 0xD800 && unit <= 0xDBFF;
            const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
            if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                const auto next = static_cast<std::uint32_t>(text[++i]);
                joined.push_back(
                    static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00)));
            } else if (high || low) {
                joined.push_back(static_cast<wchar_t>(0xFFFD));
            } else {
                joined.push_back(static_cast<wchar_t>(unit));
            }
        }
        return joined;
    }
    return text;
}

// What a GPT header that checked out says of its entry array.
struct GptHeader {
    std::uint64_t firstUsable = 0;
    std::uint64_t lastUsable = 0;
    std::uint64_t entriesLba = 0;
    std::uint32_t count = 0;
    std::uint32_t entrySize = 0;
    std::uint32_t entriesCrc = 0;
};

// The GPT header in the sector at the LBA, or nothing when it is not one, its checksum is wrong,
// it places itself elsewhere or its entry array is beyond reason.
std::optional<GptHeader> ReadGptHeader(SectorReader& disk, std::uint32_t sectorSize,
                                       std::uint64_t lba) {
    const auto offset = ByteOffset(lba, sectorSize);
    std::vector<std::uint8_t> header(sectorSize);
    if (!offset || !disk.Read(*offset, header) ||
        std::string_view(reinterpret_cast<const char*>(header.data()), 8) != "EFI PART") {
        return std::nullopt;
    }
    const std::uint32_t headerSize = Le32(header, 12);
    if (headerSize < kGptHeaderMinSize || headerSize > sectorSize) {
        return std::nullopt;
    }
    const std::uint32_t headerCrc = Le32(header, 16);
    std::fill_n(header.begin() + 16, 4, std::uint8_t{0});
    if (Crc32(std::span(header).first(headerSize)) != headerCrc || Le64(header, 24) != lba) {
        return std::nullopt;
    }
    const GptHeader parsed{Le64(header, 40), Le64(header, 48), Le64(header, 72),
                           Le32(header, 80), Le32(header, 84), Le32(header, 88)};
    if (parsed.entrySize < kGptEntryMinSize || parsed.entrySize % 8 != 0 ||
        static_cast<std::uint64_t>(parsed.count) * parsed.entrySize > kMaxGptArrayBytes ||
        parsed.entriesLba < 2) {
        return std::nullopt;
    }
    return parsed;
}

// The backup GPT header, in the disk's last sector; nothing when the disk cannot tell its size
// or the header does not check out there.
std::optional<GptHeader> ReadBackupGptHeader(SectorReader& disk, std::uint32_t sectorSize) {
    const auto size = disk.Size();
    // On a disk of fewer than three sectors the last one is the MBR or the primary header.
    if (!size || *size / sectorSize <= kPrimaryGptLba + 1) {
        return std::nullopt;
    }
    return ReadGptHeader(disk, sectorSize, *size / sectorSize - 1);
}

// The partitions in the header's entry array, or nothing when the array does not check out.
std::optional<std::vector<PartitionInfo>> ReadGptEntries(SectorReader& disk,
                                                         std::uint32_t sectorSize,
                                                         const GptHeader& header) {
    const std::uint32_t entrySize = header.entrySize;
    const auto entriesOffset = ByteOffset(header.entriesLba, sectorSize);
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(header.count) * entrySize);
    if (!entriesOffset || !disk.Read(*entriesOffset, entries) ||
        Crc32(entries) != header.entriesCrc) {
        return std::nullopt;
    }
    std::vector<PartitionInfo> partitions;
    for (std::uint32_t i = 0; i < header.count; ++i) {
        const auto entry = std::span<const std::uint8_t>(entries).subspan(
            static_cast<std::size_t>(i) * entrySize, entrySize);
        PartitionInfo p;
        p.style = PartitionStyle::kGpt;
        std::copy_n(entry.begin(), p.gptType.size(), p.gptType.begin());
        if (p.gptType == Guid{}) {
            continue;
        }
        const std::uint64_t firstLba = Le64(entry, 32);
        const std::uint64_t lastLba = Le64(entry, 40);
        const auto start = ByteOffset(firstLba, sectorSize);
        const auto end = lastLba < std::numeric_limits<std::uint64_t>::max()
                             ? ByteOffset(lastLba + 1, sectorSize)
                             : std::nullopt;
        if (firstLba > lastLba || firstLba < header.firstUsable || lastLba > header.lastUsable ||
            !start || !end) {
            continue;
        }
        p.number = static_cast<std::uint32_t>(partitions.size() + 1);
        p.startBytes = *start;
        p.lengthBytes = *end - *start;
        p.gptName = FromUtf16Le(entry.subspan(kGptNameOffset, kGptNameUnits * 2));
        partitions.push_back(std::move(p));
    }
    return partitions;
}

bool HasProtectiveEntry(std::span<const std::uint8_t> mbr) {
    for (int i = 0; i < 4; ++i) {
        if (EntryAt(mbr, i).type == kProtectiveType) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsExtendedType(std::uint8_t mbrType) {
    return mbrType == 0x05 || mbrType == 0x0F || mbrType == 0x85;
}

DiskLayout DecodePartitionTable(SectorReader& disk, std::uint32_t sectorSize) {
    DiskLayout layout;
    if (sectorSize < kMbrSize || sectorSize > 65536) {
        return layout;
    }
    const auto mbr = ReadBootRecord(disk, 0);
    if (!mbr) {
        return layout;
    }
    MbrEntry entries[4];
    for (int i = 0; i < 4; ++i) {
        entries[i] = EntryAt(*mbr, i);
    }
    if (HasProtectiveEntry(*mbr)) {
        const auto primary = ReadGptHeader(disk, sectorSize, kPrimaryGptLba);
        auto gpt = primary ? ReadGptEntries(disk, sectorSize, *primary) : std::nullopt;
        if (!gpt) {
            const auto backup = ReadBackupGptHeader(disk, sectorSize);
            gpt = backup ? ReadGptEntries(disk, sectorSize, *backup) : std::nullopt;
            layout.gptFromBackup = gpt.has_value();
        }
        if (gpt) {
            layout.style = PartitionStyle::kGpt;
            layout.partitions = std::move(*gpt);
            return layout;
        }
    }
    // A protective MBR whose GPT is unreadable is still shown, as the MBR it also is.
    layout.style = PartitionStyle::kMbr;
    for (const auto& entry : entries) {
        if (entry.Used() && !IsExtendedType(entry.type)) {
            layout.partitions.push_back(MbrPartition(entry, entry.lba, sectorSize, false));
        }
    }
    std::set<std::uint64_t> visited;
    for (const auto& entry : entries) {
        if (entry.Used() && IsExtendedType(entry.type)) {
            ReadChain(disk, entry, sectorSize, visited, layout.partitions);
        }
    }
    for (std::size_t i = 0; i < layout.partitions.size(); ++i) {
        layout.partitions[i].number = static_cast<std::uint32_t>(i + 1);
    }
    return layout;
}

DiskLayout DecodeDiskImage(SectorReader& image) {
    DiskLayout layout = DecodePartitionTable(image, kDefaultSectorSize);
    if (layout.style != PartitionStyle::kMbr) {
        return layout;
    }
    // Some tools record a length of 0 in the protective entry of a 4 KiB-sector disk, so the
    // entry's type alone tells.
    const auto mbr = ReadBootRecord(image, 0);
    if (mbr && HasProtectiveEntry(*mbr)) {
        DiskLayout large = DecodePartitionTable(image, kLargeSectorSize);
        if (large.style == PartitionStyle::kGpt) {
            return large;
        }
    }
    return layout;
}

std::wstring GuidText(const Guid& guid) {
    // The first three groups are stored little-endian, the last two as they read.
    static constexpr int kOrder[] = {3,  2, 1, 0,  -1, 5,  4,  -1, 7,  6,
                                     -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
    static constexpr wchar_t kHex[] = L"0123456789abcdef";
    std::wstring text;
    for (const int index : kOrder) {
        if (index < 0) {
            text.push_back(L'-');
            continue;
        }
        text.push_back(kHex[guid[static_cast<std::size_t>(index)] >> 4]);
        text.push_back(kHex[guid[static_cast<std::size_t>(index)] & 0x0F]);
    }
    return text;
}

std::wstring GptTypeName(const Guid& type) {
    struct Known {
        const wchar_t* guid;
        const wchar_t* name;
    };
    static constexpr Known kKnown[] = {
        {L"c12a7328-f81f-11d2-ba4b-00a0c93ec93b", L"efi-system"},
        {L"e3c9e316-0b5c-4db8-817d-f92df00215ae", L"msr"},
        {L"ebd0a0a2-b9e5-4433-87c0-68b6b72699c7", L"basic-data"},
        {L"de94bba4-06d1-4d40-a16a-bfd50179d6ac", L"recovery"},
        {L"5808c8aa-7e8f-42e0-85d2-e1e90434cfb3", L"ldm-metadata"},
        {L"af9b60a0-1431-4f62-bc68-3311714a69ad", L"ldm-data"},
        {L"21686148-6449-6e6f-744e-656564454649", L"bios-boot"},
        {L"0fc63daf-8483-4772-8e79-3d69d8477de4", L"linux-data"},
        {L"0657fd6d-a4ab-43c4-84e5-0933c84b4f4f", L"linux-swap"},
        {L"e6d6d379-f507-44c2-a23c-238f2a3df928", L"linux-lvm"},
        {L"a19d880f-05fc-4d3b-a006-743f0f84911e", L"linux-raid"},
        {L"48465300-0000-11aa-aa11-00306543ecac", L"apple-hfs"},
        {L"7c3457ef-0000-11aa-aa11-00306543ecac", L"apple-apfs"},
    };
    const std::wstring text = GuidText(type);
    for (const auto& known : kKnown) {
        if (text == known.guid) {
            return known.name;
        }
    }
    return text;
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

}  // namespace kestrix
