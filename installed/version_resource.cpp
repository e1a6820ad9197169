#include "installed/version_resource.h"

#include <algorithm>

#include "platform/bytes.h"
#include "platform/pe_header.h"

namespace kestrix {

namespace {

using namespace std::string_view_literals;

constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kVersionType = 16;
constexpr std::uint32_t kSubdirectory = 0x80000000;
constexpr std::size_t kResourceDirectorySize = 16;
// VS_VERSIONINFO: three 16-bit lengths and types, its key in UTF-16, padding to 32 bits, then
// the fixed file information of 13 32-bit fields.
constexpr std::string_view kVersionKey = "V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0\0\0"sv;
constexpr std::size_t kKeyAt = 6;
constexpr std::size_t kFixedAt = 40;
constexpr std::size_t kFixedSize = 52;
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;

// Reads little-endian numbers inside a view, or tells that they lie outside it.
class Bytes {
  public:
    explicit Bytes(std::string_view bytes) : bytes_(bytes) {}

    bool Has(std::uint64_t at, std::uint64_t length) const {
        return at <= bytes_.size() && length <= bytes_.size() - at;
    }
    std::optional<std::uint32_t> Le16(std::uint64_t at) const { return Le(at, 2); }
    std::optional<std::uint32_t> Le32(std::uint64_t at) const { return Le(at, 4); }
    std::string_view View(std::uint64_t at, std::uint64_t length) const {
        return Has(at, length) ? bytes_.substr(at, length) : std::string_view();
    }

  private:
    std::optional<std::uint32_t> Le(std::uint64_t at, int length) const {
        if (!Has(at, length)) {
            return std::nullopt;
        }
        return length == 2 ? kestrix::Le16(bytes_, at) : kestrix::Le32(bytes_, at);
    }

    std::string_view bytes_;
};

// The first read holds the headers of nearly every PE file; headers that end further in than
// kHeadersLimit, and a resource section or version larger than kPartLimit, are not read.
constexpr std::size_t kHeaderRead = 4096;
constexpr std::size_t kHeadersLimit = 64 * 1024;
constexpr std::uint64_t kPartLimit = 16 * 1024 * 1024;

// Exactly length bytes from offset, else nothing.
std::string ReadExactly(const PartReader& read, std::uint64_t offset, std::uint64_t length) {
    if (length == 0 || length > kPartLimit) {
        return {};
    }
    auto bytes = read(offset, static_cast<std::size_t>(length));
    return bytes.size() == length ? bytes : std::string();
}

// The file's bytes from an address of the loaded image to the end of its section's data, or as
// many as limit says, read from the file.
std::string AtAddress(const PartReader& read, const Bytes& headers, const PeHeader& pe,
                      std::uint32_t address, std::uint64_t limit) {
    for (std::uint32_t i = 0; i < pe.sections; ++i) {
        const auto header = pe.sectionTable + std::uint64_t{i} * kSectionHeaderSize;
        const auto va = headers.Le32(header + 12);
        const auto rawSize = headers.Le32(header + 16);
        const auto rawAt = headers.Le32(header + 20);
        if (!va || !rawSize || !rawAt) {
            return {};
        }
        if (address >= *va && address - *va < *rawSize) {
            const std::uint64_t into = address - *va;
            return ReadExactly(read, *rawAt + into,
                               std::min<std::uint64_t>(*rawSize - into, limit));
        }
    }
    return {};
}

// The offset, in the resource section, of an entry's subdirectory (subdirectory true) or data
// entry: the entry with the ID asked for, or the first of all.
std::optional<std::uint32_t> Entry(const Bytes& resources, std::uint32_t directory,
                                   std::optional<std::uint32_t> id, bool subdirectory) {
    const auto named = resources.Le16(directory + 12);
    const auto ids = resources.Le16(directory + 14);
    if (!named || !ids) {
        return std::nullopt;
    }
    const std::uint32_t first = id ? *named : 0;
    const std::uint32_t end = id ? *named + *ids : std::min<std::uint32_t>(1, *named + *ids);
    for (std::uint32_t i = first; i < end; ++i) {
        const auto entry =
            directory + kResourceDirectorySize + std::uint64_t{i} * kDirectoryEntrySize;
        const auto name = resources.Le32(entry);
        const auto target = resources.Le32(entry + 4);
        if (!name || !target) {
            return std::nullopt;
        }
        if (id && *name != *id) {
            continue;
        }
        if (((*target & kSubdirectory) != 0) != subdirectory) {
            return std::nullopt;
        }
        return *target & ~kSubdirectory;
    }
    return std::nullopt;
}

std::optional<FileVersion> FixedFileVersion(std::string_view data) {
    const Bytes info(data);
    const auto valueLength = info.Le16(2);
    const auto signature = info.Le32(kFixedAt);
    const auto most = info.Le32(kFixedAt + 8);
    const auto least = info.Le32(kFixedAt + 12);
    if (!valueLength || *valueLength < kFixedSize ||
        info.View(kKeyAt, kVersionKey.size()) != kVersionKey || !info.Has(kFixedAt, kFixedSize) ||
        signature != kFixedSignature) {
        return std::nullopt;
    }
    return FileVersion{static_cast<std::uint16_t>(*most >> 16), static_cast<std::uint16_t>(*most),
                       static_cast<std::uint16_t>(*least >> 16),
                       static_cast<std::uint16_t>(*least)};
}

}  // namespace

std::optional<PeVersion> ReadVersionResource(const PartReader& read) {
    auto head = read(0, kHeaderRead);
    // Headers that lie further in than the first read reaches.
    if (!DecodePeHeader(head) && head.size() == kHeaderRead) {
        head = read(0, kHeadersLimit);
    }
    const auto header = DecodePeHeader(head);
    if (!header || header->directories.size() <= kResourceDirectory ||
        header->directories[kResourceDirectory].first == 0) {
        return std::nullopt;
    }
    // The section table, where the first read did not reach its end.
    const auto tableEnd =
        header->sectionTable + std::uint64_t{header->sections} * kSectionHeaderSize;
    if (tableEnd > head.size() && tableEnd <= kHeadersLimit) {
        head = read(0, static_cast<std::size_t>(tableEnd));
    }
    const Bytes headers(head);
    const auto section = AtAddress(read, headers, *header,
                                   header->directories[kResourceDirectory].first, kPartLimit);
    const Bytes resources(section);
    // The version type's directory of names, the first name's of languages, the first language's
    // data entry. No entry may lead back to the root at offset 0, so 0 stands for none.
    const auto names = Entry(resources, 0, kVersionType, true).value_or(0);
    const auto languages = names == 0 ? 0 : Entry(resources, names, std::nullopt, true).value_or(0);
    const auto data =
        languages == 0 ? 0 : Entry(resources, languages, std::nullopt, false).value_or(0);
    const auto dataAddress = resources.Le32(data);
    const auto dataSize = resources.Le32(data + 4);
    if (data == 0 || !dataAddress || !dataSize) {
        return std::nullopt;
    }
    const auto version =
        FixedFileVersion(AtAddress(read, headers, *header, *dataAddress, *dataSize));
    if (!version) {
        return std::nullopt;
    }
    return PeVersion{*version, header->machine};
}

std::optional<PeVersion> DecodeVersionResource(std::string_view file) {
    return ReadVersionResource([file](std::uint64_t offset, std::size_t length) {
        return offset < file.size() ? std::string(file.substr(offset, length)) : std::string();
    });
}

}  // namespace kestrix
