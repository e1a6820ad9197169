#include "secureboot/pe_certificates.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/bytes.h"
#include "platform/pe_header.h"

namespace kestrix {

namespace {

constexpr std::size_t kSecurityDirectory = 4;
// WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then the certificate; of type
// WIN_CERT_TYPE_EFI_GUID, a GUID then the certificate.
constexpr std::size_t kCertificateHeader = 8;
constexpr std::size_t kGuidSize = 16;
constexpr std::uint16_t kPkcsSignedData = 2;
constexpr std::uint16_t kEfiGuid = 0x0EF1;
// EFI_CERT_TYPE_PKCS7_GUID 4aafd29d-68df-49ee-8aa9-347d375665a7 in its byte order.
constexpr std::string_view kPkcs7Guid(
    "\x9d\xd2\xaf\x4a\xdf\x68\xee\x49\x8a\xa9\x34\x7d\x37\x56\x65\xa7", kGuidSize);
constexpr std::size_t kChecksumAt = 64;
constexpr std::size_t kSectionHeader = 40;

}  // namespace

std::optional<CertificateTable> ReadCertificateTable(std::string_view pe) {
    const auto header = DecodePeHeader(pe);
    if (!header) {
        return std::nullopt;
    }
    CertificateTable table;
    if (header->directories.size() <= kSecurityDirectory ||
        header->directories[kSecurityDirectory].second == 0) {
        return table;
    }
    table.present = true;
    // The security directory's address is a file offset, not a virtual address.
    std::uint64_t at = header->directories[kSecurityDirectory].first;
    const std::uint64_t end = at + header->directories[kSecurityDirectory].second;
    if (end > pe.size()) {
        return std::nullopt;
    }
    while (at < end) {
        const std::uint64_t length = end - at <= kCertificateHeader ? 0 : Le32(pe, at);
        if (length < kCertificateHeader || length > end - at) {
            break;
        }
        const std::uint32_t type = Le16(pe, at + 6);
        if (type == kPkcsSignedData) {
            table.signatures.push_back(
                pe.substr(at + kCertificateHeader, length - kCertificateHeader));
        } else if (type == kEfiGuid) {
            if (length < kCertificateHeader + kGuidSize) {
                break;
            }
            if (pe.substr(at + kCertificateHeader, kGuidSize) == kPkcs7Guid) {
                table.signatures.push_back(pe.substr(at + kCertificateHeader + kGuidSize,
                                                     length - kCertificateHeader - kGuidSize));
            }
        }
        at += (length + 7) & ~std::uint64_t{7};
    }
    table.whole = at == end;
    return table;
}

bool AddAuthenticodeImage(std::string_view pe, Digest& digest) {
    const auto header = DecodePeHeader(pe);
    if (!header || header->sizeOfHeaders > pe.size() ||
        header->optionalHeader + kChecksumAt + 4 > header->sizeOfHeaders) {
        return false;
    }
    const std::uint64_t checksum = header->optionalHeader + kChecksumAt;
    digest.Add(pe.substr(0, checksum));
    std::uint64_t certificates = 0;
    if (header->directories.size() > kSecurityDirectory) {
        const std::uint64_t entry = header->directoryTable + 8 * kSecurityDirectory;
        if (entry + 8 > header->sizeOfHeaders) {
            return false;
        }
        digest.Add(pe.substr(checksum + 4, entry - checksum - 4));
        digest.Add(pe.substr(entry + 8, header->sizeOfHeaders - entry - 8));
        certificates = header->directories[kSecurityDirectory].second;
    } else {
        digest.Add(pe.substr(checksum + 4, header->sizeOfHeaders - checksum - 4));
    }
    if (header->sectionTable + std::uint64_t{header->sections} * kSectionHeader > pe.size()) {
        return false;
    }
    // Each section's place in the file and its size there, in the order of their places (sections
    // at the same place in the order of the table).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> sections;
    for (std::uint32_t i = 0; i < header->sections; ++i) {
        const std::uint64_t at = header->sectionTable + i * kSectionHeader;
        if (const std::uint32_t size = Le32(pe, at + 16); size != 0) {
            const std::pair<std::uint64_t, std::uint64_t> section(Le32(pe, at + 20), size);
            sections.insert(
                std::upper_bound(sections.begin(), sections.end(), section,
                                 [](const auto& a, const auto& b) { return a.first < b.first; }),
                section);
        }
    }
    std::uint64_t hashed = header->sizeOfHeaders;
    for (const auto& [at, size] : sections) {
        if (at + size > pe.size()) {
            return false;
        }
        digest.Add(pe.substr(at, size));
        hashed += size;
    }
    if (pe.size() > hashed) {
        if (pe.size() < hashed + certificates) {
            return false;
        }
        digest.Add(pe.substr(hashed, pe.size() - hashed - certificates));
    }
    return true;
}

}  // namespace kestrix
