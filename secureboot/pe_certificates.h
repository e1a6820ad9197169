#pragma once
// Decodes the certificate table of a PE file (an EFI application, a boot manager): the
// Authenticode signatures it carries, each a PKCS#7 SignedData.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// The PKCS#7 bytes of every signature entry (WIN_CERT_TYPE_PKCS_SIGNED_DATA) of the table, in
// order, without the padding an entry's length may count; entries of other types are passed
// over, and an unsigned file has none. Nothing when the bytes are no PE file, or its table
// overruns them, or its entries, or a signature's DER length, do not fit.
std::optional<std::vector<std::string>> DecodePeCertificates(std::string_view pe);

}  // namespace kestrix
