#include "secureboot/pe_certificates.h"

#include <cstdint>

#include "platform/bytes.h"
#include "platform/pe_header.h"

namespace kestrix {

namespace {

constexpr std::size_t kSecurityDirectory = 4;
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
    const auto header = DecodePeHeader(pe);
    if (!header) {
        return std::nullopt;
    }
    std::vector<std::string> signatures;
    if (header->directories.size() <= kSecurityDirectory) {
        return signatures;
    }
    // The security directory's address is a file offset, not a virtual address.
    std::uint64_t at = header->directories[kSecurityDirectory].first;
    const std::uint64_t end = at + header->directories[kSecurityDirectory].second;
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
