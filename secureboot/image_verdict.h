#pragma once
// Whether a UEFI firmware with Secure Boot on starts an EFI file, decided as the firmware decides
// it: the file's Authenticode digest and the signatures of its certificate table against the
// allowed database (db) and the forbidden one (dbx).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/signatures.h"
#include "secureboot/signature_list.h"

namespace kestrix {

enum class Verdict { Unknown, Allowed, Refused };

enum class VerdictReason {
    // Allowed: the file's digest is in db; a signature verifies up to a db certificate.
    DbHash,
    DbCertificate,
    // Refused: the file's digest is in dbx; dbx revokes a certificate of a signature's chain; no
    // signature reaches a db certificate; a signature does not verify, or the file differs from
    // what was signed, or its certificate table is damaged; the file carries no signature.
    DbxHash,
    DbxCertificate,
    SignerNotInDb,
    InvalidSignature,
    Unsigned,
    // Unknown: db or dbx, or the file, could not be read.
    Unreadable,
};

struct ImageVerdict {
    Verdict verdict = Verdict::Unknown;
    VerdictReason reason = VerdictReason::Unreadable;
    // The common name of the certificate the reason names: the db certificate that allows, the
    // revoked one, or the issuer of a signer db does not know.
    std::wstring certificate;

    bool operator==(const ImageVerdict&) const = default;
};

// A firmware's signature databases as read; nothing for one that could not be read.
struct SecurityDatabases {
    std::optional<std::vector<SignatureEntry>> db;
    std::optional<std::vector<SignatureEntry>> dbx;

    bool operator==(const SecurityDatabases&) const = default;
};

// The verdict on the bytes of a PE file.
ImageVerdict JudgeImage(std::string_view pe, const SecurityDatabases& databases,
                        const Signatures& signatures);

}  // namespace kestrix
