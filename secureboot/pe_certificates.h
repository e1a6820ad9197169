#pragma once
// Reads a PE file (an EFI application, a boot manager) as a UEFI firmware does when it checks its
// signatures: the certificate table with the Authenticode signatures it carries, and the image's
// Authenticode digest.
#include <optional>
#include <string_view>
#include <vector>

#include "platform/signatures.h"

namespace kestrix {

struct CertificateTable {
    // The PKCS#7 SignedData of each signature entry in order: WIN_CERT_TYPE_PKCS_SIGNED_DATA, and
    // WIN_CERT_TYPE_EFI_GUID of type EFI_CERT_TYPE_PKCS7_GUID. Entries of other kinds are passed
    // over. Each runs to its entry's end, padding the length counts included.
    std::vector<std::string_view> signatures;
    // Whether the file has a table at all (its security directory is not empty).
    bool present = false;
    // Whether the entries, each padded to 8 bytes, fill the table exactly; reading stops at the
    // first that does not fit.
    bool whole = true;
};

// Nothing when the bytes are no PE file or the table lies outside them.
std::optional<CertificateTable> ReadCertificateTable(std::string_view pe);

// Gives the digest the PE image's Authenticode digest: the headers without the checksum and the
// certificate table's directory entry, the sections in the order of their place in the file, then
// whatever follows them up to the certificate table. False when the headers or a section lie
// outside the bytes.
bool AddAuthenticodeImage(std::string_view pe, Digest& digest);

}  // namespace kestrix
