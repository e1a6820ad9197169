#include "secureboot/pe_certificates.h"

#include <cstdint>

#include "platform/bytes.h"

namespace kestrix {

namespace {

constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kNewHeaderOffset = 0x3C;
// "PE\0\0" and the COFF file header.
constexpr std::size_t kSignatureAndFileHeader = 24;
// SizeOfOptionalHeader, counted from the "PE" signature.
constexpr std::size_t kOptionalHeaderSizeAt = 20;
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::size_t kDirectorySize = 8;
// WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then the certificate.
constexpr std::size_t kCertificateHeader = 8;
constexpr std::uint16_t kPkcsSignedData = 2;

std::uint64_t Be(std::string_view b) {
    std::uint64_t value = 0;
    for (const char c : b) {
        value = value << 8 | static_cast<unsigned char>(c);
    }
    return value;
}

// The length of the DER object at the start of bytes, its tag and length included; nothing when
// its length is not a definite one of up to four bytes.
std::optional<std::uint64_t> DerLength(std::string_view bytes) {
    if (bytes.size() < 2) {
        return std::nullopt;
    }
    const auto first = static_cast<unsigned char>(bytes[1]);
    if (first < 0x80) {
        return 2 + first;
    }
    const std::size_t count = first & 0x7F;
    if (count == 0 || count > 4 || bytes.size() < 2 + count) {
        return std::nullopt;
    }
    return 2 + count + Be(bytes.substr(2, count));
}

}  // namespace

std::optional<std::vector<std::string>> DecodePeCertificates(std::string_view pe) {
    if (pe.size() < kDosHeaderSize || pe.substr(0, 2) != "MZ") {
        return std::nullopt;
    }
    const std::uint64_t header = Le32(pe, kNewHeaderOffset);
    if (header + kSignatureAndFileHeader + 2 > pe.size() ||
        pe.substr(header, 4) != std::string_view("PE\0\0", 4)) {
        return std::nullopt;
    }
    const std::size_t optional = header + kSignatureAndFileHeader;
    const std::uint64_t optionalEnd = optional + Le16(pe, header + kOptionalHeaderSizeAt);
    const std::uint16_t magic = static_cast<std::uint16_t>(Le16(pe, optional));
    if (optionalEnd > pe.size() || (magic != kPe32 && magic != kPe32Plus)) {
        return std::nullopt;
    }
    // The count of data directories, then the directories themselves.
    const std::size_t count = optional + (magic == kPe32 ? 92 : 108);
    const std::size_t security = count + 4 + kSecurityDirectory * kDirectorySize;
    std::vector<std::string> signatures;
    if (security + kDirectorySize > optionalEnd || Le32(pe, count) <= kSecurityDirectory) {
        return signatures;
    }
    // The security directory's address is a file offset, not a virtual address.
    std::uint64_t at = Le32(pe, security);
    const std::uint64_t end = at + Le32(pe, security + 4);
    if (end > pe.size()) {
        return std::nullopt;
    }
    while (at < end) {
        const std::uint64_t length = end - at < kCertificateHeader ? 0 : Le32(pe, at);
        if (length < kCertificateHeader || length > end - at) {
            return std::nullopt;
        }
        if (Le16(pe, at + 6) == kPkcsSignedData) {
            // The length often counts the padding too: the signature is the DER object alone.
            const std::string_view signature =
                pe.substr(at + kCertificateHeader, length - kCertificateHeader);
            const auto der = DerLength(signature);
            if (der && *der > signature.size()) {
                return std::nullopt;
            }
            signatures.emplace_back(der ? signature.substr(0, *der) : signature);
        }
        // Entries are aligned on 8 bytes; the last one may lack its padding.
        at += (length + 7) & ~std::uint64_t{7};
    }
    return signatures;
}

}  // namespace kestrix
