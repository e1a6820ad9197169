#include "secureboot/signature_list.h"

#include <cstdint>

#include "platform/bytes.h"

namespace kestrix {

namespace {

constexpr std::size_t kGuidSize = 16;
// SignatureType, SignatureListSize, SignatureHeaderSize, SignatureSize.
constexpr std::size_t kListHeaderSize = kGuidSize + 12;
constexpr std::size_t kSha256Size = 32;

// EFI_CERT_X509_GUID a5c059a1-94e4-4aa7-87b5-ab155c2bf072 and EFI_CERT_SHA256_GUID
// c1c41626-504c-4092-aca9-41f936934328 in their on-disk byte order.
constexpr char kX509Type[] = "\xa1\x59\xc0\xa5\xe4\x94\xa7\x4a\x87\xb5\xab\x15\x5c\x2b\xf0\x72";
constexpr char kSha256Type[] = "\x26\x16\xc4\xc1\x4c\x50\x92\x40\xac\xa9\x41\xf9\x36\x93\x43\x28";

SignatureKind KindOf(std::string_view type) {
    if (type == std::string_view(kX509Type, kGuidSize)) {
        return SignatureKind::X509;
    }
    if (type == std::string_view(kSha256Type, kGuidSize)) {
        return SignatureKind::Sha256;
    }
    return SignatureKind::Other;
}

}  // namespace

std::optional<std::vector<SignatureEntry>> DecodeSignatureLists(std::string_view bytes) {
    std::vector<SignatureEntry> entries;
    while (!bytes.empty()) {
        if (bytes.size() < kListHeaderSize) {
            return std::nullopt;
        }
        const SignatureKind kind = KindOf(bytes.substr(0, kGuidSize));
        const std::uint64_t listSize = Le32(bytes, kGuidSize);
        const std::uint64_t headerSize = Le32(bytes, kGuidSize + 4);
        const std::uint64_t entrySize = Le32(bytes, kGuidSize + 8);
        if (listSize > bytes.size() || listSize < kListHeaderSize + headerSize ||
            entrySize < kGuidSize || (listSize - kListHeaderSize - headerSize) % entrySize != 0 ||
            (kind == SignatureKind::Sha256 && entrySize != kGuidSize + kSha256Size)) {
            return std::nullopt;
        }
        for (std::size_t at = kListHeaderSize + headerSize; at < listSize; at += entrySize) {
            entries.push_back(
                {kind, std::string(bytes.substr(at + kGuidSize, entrySize - kGuidSize))});
        }
        bytes.remove_prefix(listSize);
    }
    return entries;
}

}  // namespace kestrix
