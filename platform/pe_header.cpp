#include "platform/pe_header.h"

#include "platform/bytes.h"

namespace kestrix {

namespace {

constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kNewHeaderOffset = 0x3C;
// "PE\0\0" and the COFF file header.
constexpr std::size_t kSignatureAndFileHeader = 24;
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::size_t kDirectorySize = 8;
constexpr std::size_t kSizeOfHeadersAt = 60;

// Where the "PE" signature is, when the MZ header leads to one with at least `after` bytes from
// it to the end.
std::optional<std::size_t> SignatureAt(std::string_view pe, std::size_t after) {
    if (pe.size() < kDosHeaderSize || pe.substr(0, 2) != "MZ") {
        return std::nullopt;
    }
    const std::uint64_t header = Le32(pe, kNewHeaderOffset);
    if (header + after > pe.size() || pe.substr(header, 4) != std::string_view("PE\0\0", 4)) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(header);
}

}  // namespace

std::optional<std::uint16_t> PeMachine(std::string_view pe) {
    const auto header = SignatureAt(pe, 6);
    if (!header) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(Le16(pe, *header + 4));
}

std::optional<PeHeader> DecodePeHeader(std::string_view pe) {
    const auto found = SignatureAt(pe, kSignatureAndFileHeader + 2);
    if (!found) {
        return std::nullopt;
    }
    const std::size_t header = *found;
    const std::size_t optional = header + kSignatureAndFileHeader;
    const std::uint64_t optionalEnd = optional + Le16(pe, header + 20);
    const std::uint32_t magic = Le16(pe, optional);
    if (optionalEnd > pe.size() || (magic != kPe32 && magic != kPe32Plus)) {
        return std::nullopt;
    }
    // The count of data directories and the directories, after the fields whose width differs
    // between PE32 and PE32+.
    const std::size_t countAt = optional + (magic == kPe32 ? 92 : 108);
    PeHeader result{
        static_cast<std::uint16_t>(Le16(pe, header + 4)),
        Le16(pe, header + 6),
        optionalEnd,
        optional,
        countAt + 4,
        optional + kSizeOfHeadersAt + 4 <= optionalEnd ? Le32(pe, optional + kSizeOfHeadersAt) : 0,
        {}};
    if (countAt + 4 > optionalEnd) {
        return result;
    }
    const std::uint32_t count = Le32(pe, countAt);
    for (std::uint64_t at = countAt + 4;
         result.directories.size() < count && at + kDirectorySize <= optionalEnd;
         at += kDirectorySize) {
        result.directories.emplace_back(Le32(pe, at), Le32(pe, at + 4));
    }
    return result;
}

}  // namespace kestrix
