#pragma once
// Decodes a UEFI signature database variable (db, dbx, KEK...): a sequence of
// EFI_SIGNATURE_LIST, each a type GUID, its sizes, a header and equal-sized entries of an owner
// GUID followed by the signature data.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// What an entry holds: a DER certificate; a file's digest (an image's Authenticode digest); the
// digest of a certificate's to-be-signed part followed by its 16-byte revocation time; or a kind
// the reader does not use.
enum class SignatureKind {
    X509,
    Sha1,
    Sha256,
    Sha384,
    Sha512,
    X509Sha256,
    X509Sha384,
    X509Sha512,
    Other
};

struct SignatureEntry {
    SignatureKind kind = SignatureKind::Other;
    // The entry's data without its owner GUID.
    std::string data;

    bool operator==(const SignatureEntry&) const = default;
};

// The entries of every list in order; empty bytes are a database with no entry. Nothing when a
// list's sizes overrun the bytes or do not add up (an entry with no data after its owner GUID, a
// list that is not its header plus whole entries, a digest entry of another size than its
// digest's).
std::optional<std::vector<SignatureEntry>> DecodeSignatureLists(std::string_view bytes);

}  // namespace kestrix
