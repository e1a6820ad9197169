#pragma once
// Decodes the partition table of a raw disk (MBR with its extended chains, or GPT behind a
// protective MBR), so the partitions can be listed without the operating system's help.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrix {

// The raw disk as the decoder sees it.
class SectorReader {
public:
    virtual ~SectorReader() = default;
    // Fills out with the bytes at the byte offset; false when they cannot all be read.
    virtual bool Read(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
    // The disk's length in bytes, which places the backup GPT in its last sector; nothing when
    // it cannot be told.
    virtual std::optional<std::uint64_t> Size() = 0;
};

enum class PartitionStyle { kRaw, kMbr, kGpt };

// A GUID in its on-disk byte order (the first three groups little-endian), which is also the
// in-memory layout of the Windows GUID structure.
using Guid = std::array<std::uint8_t, 16>;

struct PartitionInfo {
    // Windows' PartitionNumber; for a decoded image the place among the real partitions, from 1.
    std::uint32_t number = 0;
    PartitionStyle style = PartitionStyle::kMbr;
    std::uint64_t startBytes = 0;
    std::uint64_t lengthBytes = 0;
    bool active = false;
    bool logical = false;
    std::uint8_t mbrType = 0;
    Guid gptType{};
    std::wstring gptName;
};

struct DiskLayout {
    PartitionStyle style = PartitionStyle::kRaw;
    std::vector<PartitionInfo> partitions;
    // The primary GPT did not check out: the partitions are those of the backup at the disk's end.
    bool gptFromBackup = false;
};

constexpr std::uint32_t kDefaultSectorSize = 512;
constexpr std::uint32_t kLargeSectorSize = 4096;

// Unused entries and extended containers are left out; primaries come first, then the logicals
// in chain order. A GPT whose primary copy does not check out is read from its backup in the
// disk's last sector. A damaged table yields what could be read of it, never a loop or a crash.
DiskLayout DecodePartitionTable(SectorReader& disk, std::uint32_t sectorSize = kDefaultSectorSize);

// A disk image does not say its sector size: 512 bytes, unless the MBR is protective (whatever
// length its entry records) and only 4 KiB sectors find its GPT.
DiskLayout DecodeDiskImage(SectorReader& image);

// The container types whose first sector starts a chain of extended boot records.
bool IsExtendedType(std::uint8_t mbrType);

// "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7" from its on-disk bytes.
std::wstring GuidText(const Guid& guid);

// A one-word name for the well-known GPT types ("basic-data", "efi-system"...); otherwise the
// GUID's text.
std::wstring GptTypeName(const Guid& type);

// The CRC-32 that GPT headers and entry arrays carry (IEEE 802.3, reflected).
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

}  // namespace kestrix
