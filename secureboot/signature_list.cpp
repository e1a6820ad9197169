#include "secureboot/signature_list.h"

#include <cstdint>

#include "platform/bytes.h"

namespace kestrix {

namespace {

constexpr std::size_t kGuidSize = 16;
// SignatureType, SignatureListSize, SignatureHeaderSize, SignatureSize.
constexpr std::size_t kListHeaderSize = kGuidSize + 12;

struct KnownType {
    SignatureKind kind;
    // The type GUID in its on-disk byte order, and the size of an entry's data (0: any).
    std::string_view guid;
    std::size_t size;
};

// The EFI_CERT_*_GUID types: X509 a5c059a1-94e4-4aa7-87b5-ab155c2bf072, SHA1
// 826ca512-cf10-4ac9-b187-be01496631bd, SHA256 c1c41626-504c-4092-aca9-41f936934328, SHA384
// ff3e5307-9fd0-48c9-85f1-8ad56c701e01, SHA512 093e0fae-a6c4-4f50-9f1b-d41e2b89c19a, X509_SHA256
// 3bd2a492-96c0-4079-b420-fcf98ef103ed, X509_SHA384 7076876e-80c2-4ee6-aad2-28b349a6865b,
// X509_SHA512 446dbf63-2502-4cda-bcfa-2465d2b0fe9d.
constexpr KnownType kTypes[] = {
    {SignatureKind::X509,
     {"\xa1\x59\xc0\xa5\xe4\x94\xa7\x4a\x87\xb5\xab\x15\x5c\x2b\xf0\x72", kGuidSize},
     0},
    {SignatureKind::Sha1,
     {"\x12\xa5\x6c\x82\x10\xcf\xc9\x4a\xb1\x87\xbe\x01\x49\x66\x31\xbd", kGuidSize},
     20},
    {SignatureKind::Sha256,
     {"\x26\x16\xc4\xc1\x4c\x50\x92\x40\xac\xa9\x41\xf9\x36\x93\x43\x28", kGuidSize},
     32},
    {SignatureKind::Sha384,
     {"\x07\x53\x3e\xff\xd0\x9f\xc9\x48\x85\xf1\x8a\xd5\x6c\x70\x1e\x01", kGuidSize},
     48},
    {SignatureKind::Sha512,
     {"\xae\x0f\x3e\x09\xc4\xa6\x50\x4f\x9f\x1b\xd4\x1e\x2b\x89\xc1\x9a", kGuidSize},
     64},
    {SignatureKind::X509Sha256,
     {"\x92\xa4\xd2\x3b\xc0\x96\x79\x40\xb4\x20\xfc\xf9\x8e\xf1\x03\xed", kGuidSize},
     32 + 16},
    {SignatureKind::X509Sha384,
     {"\x6e\x87\x76\x70\xc2\x80\xe6\x4e\xaa\xd2\x28\xb3\x49\xa6\x86\x5b", kGuidSize},
     48 + 16},
    {SignatureKind::X509Sha512,
     {"\x63\xbf\x6d\x44\x02\x25\xda\x4c\xbc\xfa\x24\x65\xd2\xb0\xfe\x9d", kGuidSize},
     64 + 16},
};

KnownType TypeOf(std::string_view guid) {
    for (const auto& known : kTypes) {
        if (guid == known.guid) {
            return known;
        }
    }
    return {SignatureKind::Other, guid, 0};
}

}  // namespace

std::optional<std::vector<SignatureEntry>> DecodeSignatureLists(std::string_view bytes) {
    std::vector<SignatureEntry> entries;
    while (!bytes.empty()) {
        if (bytes.size() < kListHeaderSize) {
            return std::nullopt;
        }
        const KnownType type = TypeOf(bytes.substr(0, kGuidSize));
        const std::uint64_t listSize = Le32(bytes, kGuidSize);
        const std::uint64_t headerSize = Le32(bytes, kGuidSize + 4);
        const std::uint64_t entrySize = Le32(bytes, kGuidSize + 8);
        if (listSize > bytes.size() || listSize < kListHeaderSize + headerSize ||
            entrySize <= kGuidSize || (listSize - kListHeaderSize - headerSize) % entrySize != 0 ||
            (type.size != 0 && entrySize != kGuidSize + type.size)) {
            return std::nullopt;
        }
        for (std::size_t at = kListHeaderSize + headerSize; at < listSize; at += entrySize) {
            entries.push_back(
                {type.kind, std::string(bytes.substr(at + kGuidSize, entrySize - kGuidSize))});
        }
        bytes.remove_prefix(listSize);
    }
    return entries;
}

}  // namespace kestrix
