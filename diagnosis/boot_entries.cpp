#include "diagnosis/boot_entries.h"

#include "platform/bytes.h"

namespace kestrix {

namespace {

constexpr std::uint32_t kActive = 0x1;
// Attributes and the device path's length.
constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kNodeHeaderSize = 4;
constexpr std::uint32_t kEndType = 0x7F;
constexpr std::uint32_t kMediaType = 0x04;
constexpr std::uint32_t kHardDrive = 0x01;
constexpr std::uint32_t kFilePath = 0x04;
// A file, and a volume, of the firmware's own storage.
constexpr std::uint32_t kFirmwareFile = 0x06;
constexpr std::uint32_t kFirmwareVolume = 0x07;
// A hard drive node: the partition's number, start and size, its signature, the table kind and
// the signature kind (1: MBR disk signature, 2: GPT partition GUID).
constexpr std::size_t kHardDriveSize = 42;
constexpr std::size_t kSignatureAt = 24;
constexpr std::size_t kSignatureKindAt = 41;
constexpr std::uint32_t kMbrSignature = 1;
constexpr std::uint32_t kGuidSignature = 2;

// UCS-2 characters up to the first NUL or the end; the position after the NUL, or npos.
std::wstring Characters(std::string_view bytes, std::size_t& end) {
    std::wstring text;
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        const auto c = static_cast<wchar_t>(Le16(bytes, at));
        if (c == 0) {
            end = at + 2;
            return text;
        }
        text += c;
    }
    end = std::string_view::npos;
    return text;
}

void HardDrive(std::string_view node, LoadOption& option) {
    if (node.size() < kHardDriveSize) {
        return;
    }
    const auto kind = Byte(node, kSignatureKindAt);
    if (kind != kMbrSignature && kind != kGuidSignature) {
        return;
    }
    option.target = LoadTarget::Partition;
    option.gpt = kind == kGuidSignature;
    option.signature = std::string(node.substr(kSignatureAt, option.gpt ? 16 : 4));
    option.partitionNumber = Le32(node, kNodeHeaderSize);
}

// A path may be split over several file path nodes: the pieces are joined with one separator.
void FilePath(std::string_view node, LoadOption& option) {
    std::size_t end = 0;
    const auto piece = Characters(node.substr(kNodeHeaderSize), end);
    if (piece.empty()) {
        return;
    }
    if (!option.file.empty() && option.file.back() != L'\\' && piece.front() != L'\\') {
        option.file += L'\\';
    }
    option.file += piece;
}

}  // namespace

std::vector<std::uint16_t> DecodeBootOrder(std::string_view bytes) {
    std::vector<std::uint16_t> numbers;
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        numbers.push_back(static_cast<std::uint16_t>(Le16(bytes, at)));
    }
    return numbers;
}

std::optional<LoadOption> DecodeLoadOption(std::string_view bytes) {
    if (bytes.size() < kHeaderSize) {
        return std::nullopt;
    }
    LoadOption option;
    option.active = (Le32(bytes, 0) & kActive) != 0;
    const std::size_t pathLength = Le16(bytes, 4);
    std::size_t end = 0;
    option.description = Characters(bytes.substr(kHeaderSize), end);
    if (end == std::string_view::npos || kHeaderSize + end + pathLength > bytes.size()) {
        return std::nullopt;
    }
    auto path = bytes.substr(kHeaderSize + end, pathLength);
    // The first of the path's instances: up to the first end node, or the path's end.
    while (path.size() >= kNodeHeaderSize && Byte(path, 0) != kEndType) {
        const std::size_t length = Le16(path, 2);
        if (length < kNodeHeaderSize || length > path.size()) {
            return std::nullopt;
        }
        const auto node = path.substr(0, length);
        const auto type = Byte(node, 0);
        const auto subtype = Byte(node, 1);
        if (type == kMediaType && subtype == kHardDrive) {
            HardDrive(node, option);
        } else if (type == kMediaType && subtype == kFilePath) {
            FilePath(node, option);
        } else if (type == kMediaType && (subtype == kFirmwareFile || subtype == kFirmwareVolume) &&
                   option.target == LoadTarget::OtherDevice) {
            option.target = LoadTarget::Firmware;
        }
        path.remove_prefix(length);
    }
    return option;
}

}  // namespace kestrix
