#include "secureboot/image_verdict.h"

#include <array>
#include <utility>

#include "secureboot/authenticode.h"
#include "secureboot/pe_certificates.h"

namespace kestrix {

namespace {

// A certificate chain longer than this is none a firmware is given.
constexpr std::size_t kMaxChain = 8;

// What db and dbx entries of each digest algorithm are: an image's digest, and a certificate's
// to-be-signed digest.
std::pair<SignatureKind, SignatureKind> KindsOf(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::Sha1:
            return {SignatureKind::Sha1, SignatureKind::Other};
        case DigestAlgorithm::Sha256:
            return {SignatureKind::Sha256, SignatureKind::X509Sha256};
        case DigestAlgorithm::Sha384:
            return {SignatureKind::Sha384, SignatureKind::X509Sha384};
        case DigestAlgorithm::Sha512:
            return {SignatureKind::Sha512, SignatureKind::X509Sha512};
    }
    return {SignatureKind::Other, SignatureKind::Other};
}

bool Lists(const std::vector<SignatureEntry>& entries, SignatureKind kind,
           std::string_view digest) {
    for (const auto& entry : entries) {
        // A to-be-signed digest is followed by its revocation time.
        if (entry.kind == kind && std::string_view(entry.data).substr(0, digest.size()) == digest) {
            return true;
        }
    }
    return false;
}

// How much a refusal's reason tells: of several signatures, the one that got furthest names it.
int Weight(VerdictReason reason) {
    switch (reason) {
        case VerdictReason::Unsigned:
            return 0;
        case VerdictReason::InvalidSignature:
            return 1;
        case VerdictReason::SignerNotInDb:
            return 2;
        default:
            return 3;
    }
}

class Judge {
  public:
    Judge(std::string_view pe, const std::vector<SignatureEntry>& db,
          const std::vector<SignatureEntry>& dbx, const Signatures& signatures)
        : pe_(pe), db_(db), dbx_(dbx), signatures_(signatures) {}

    ImageVerdict Decide() {
        const auto table = ReadCertificateTable(pe_);
        const auto digest = ImageDigest(DigestAlgorithm::Sha256);
        if (!table || !digest) {
            return Refused(VerdictReason::InvalidSignature);
        }
        if (digest->empty()) {
            return {};
        }
        if (!table->present) {
            return Lists(dbx_, SignatureKind::Sha256, *digest) ? Refused(VerdictReason::DbxHash)
                   : Lists(db_, SignatureKind::Sha256, *digest)
                       ? ImageVerdict{Verdict::Allowed, VerdictReason::DbHash, {}}
                       : Refused(VerdictReason::Unsigned);
        }
        ImageVerdict verdict = Refused(VerdictReason::Unsigned);
        for (const auto bytes : table->signatures) {
            const auto signature = DecodeAuthenticode(bytes);
            if (!signature || !signature->imageDigestAlgorithm) {
                Weigh(verdict, Refused(VerdictReason::InvalidSignature));
                continue;
            }
            const auto image = ImageDigest(*signature->imageDigestAlgorithm);
            if (!image || image->empty()) {
                return {};
            }
            const auto chain = VerifiedChain(*signature, *image);
            if (auto revoked = Revoked(chain)) {
                return Refused(VerdictReason::DbxCertificate, std::move(*revoked));
            }
            const auto [imageKind, certificateKind] = KindsOf(*signature->imageDigestAlgorithm);
            if (Lists(dbx_, imageKind, *image)) {
                return Refused(VerdictReason::DbxHash);
            }
            if (verdict.verdict == Verdict::Allowed) {
                continue;
            }
            Weigh(verdict,
                  chain.empty() ? Refused(VerdictReason::InvalidSignature) : Allowing(chain));
            if (verdict.verdict != Verdict::Allowed && Lists(db_, imageKind, *image)) {
                verdict = {Verdict::Allowed, VerdictReason::DbHash, {}};
            }
        }
        return table->whole ? verdict : Refused(VerdictReason::InvalidSignature);
    }

  private:
    static ImageVerdict Refused(VerdictReason reason, std::wstring certificate = {}) {
        return {Verdict::Refused, reason, std::move(certificate)};
    }

    // Keeps the verdict that allows, else the refusal that tells most.
    static void Weigh(ImageVerdict& verdict, ImageVerdict other) {
        if (verdict.verdict != Verdict::Allowed &&
            (other.verdict == Verdict::Allowed || Weight(other.reason) > Weight(verdict.reason))) {
            verdict = std::move(other);
        }
    }

    // The image's digest; nothing when the file's headers or sections do not fit in it, empty
    // when the digest could not be computed.
    std::optional<std::string> ImageDigest(DigestAlgorithm algorithm) {
        auto& known = digests_[static_cast<std::size_t>(algorithm)];
        if (!known) {
            const auto digest = signatures_.StartDigest(algorithm);
            if (!digest) {
                known = std::string();
            } else if (AddAuthenticodeImage(pe_, *digest)) {
                known = digest->Finish().value_or(std::string());
            } else {
                return std::nullopt;
            }
        }
        return known;
    }

    // Whether issuer's key made the certificate's signature.
    bool Signs(const Certificate& issuer, const Certificate& certificate) const {
        if (!issuer.key || !certificate.signatureDigest || certificate.issuer != issuer.subject) {
            return false;
        }
        const auto digest =
            DigestOf(signatures_, *certificate.signatureDigest, certificate.toBeSigned);
        return digest && signatures_.VerifyRsa(*issuer.key, *certificate.signatureDigest, *digest,
                                               certificate.signature);
    }

    // The signer's certificate and those of the signature's own that sign each other up from it;
    // empty unless the signature is valid over the image's digest.
    std::vector<Certificate> VerifiedChain(const AuthenticodeSignature& signature,
                                           std::string_view image) const {
        if (signature.imageDigest != image || !signature.signerDigest) {
            return {};
        }
        const Certificate* signer = nullptr;
        for (const auto& certificate : signature.certificates) {
            if (certificate.issuer == signature.signerIssuer &&
                certificate.serial == signature.signerSerial) {
                signer = &certificate;
                break;
            }
        }
        const auto signedDigest =
            DigestOf(signatures_, *signature.signerDigest, signature.signedBytes);
        if (signer == nullptr || !signer->key || !signedDigest) {
            return {};
        }
        if (signature.messageDigest &&
            DigestOf(signatures_, *signature.signerDigest, signature.content) !=
                std::string(*signature.messageDigest)) {
            return {};
        }
        if (!signatures_.VerifyRsa(*signer->key, *signature.signerDigest, *signedDigest,
                                   signature.encryptedDigest)) {
            return {};
        }
        std::vector<Certificate> chain{*signer};
        while (chain.size() < kMaxChain && chain.back().issuer != chain.back().subject) {
            const Certificate* next = nullptr;
            for (const auto& certificate : signature.certificates) {
                if (Signs(certificate, chain.back())) {
                    next = &certificate;
                    break;
                }
            }
            if (next == nullptr) {
                break;
            }
            chain.push_back(*next);
        }
        return chain;
    }

    // Whether the chain reaches the trusted certificate: holds it, or holds one it signed.
    bool Reaches(const std::vector<Certificate>& chain, const Certificate& trusted) const {
        for (const auto& certificate : chain) {
            if (certificate.der == trusted.der || Signs(trusted, certificate)) {
                return true;
            }
        }
        return false;
    }

    // Whether dbx lists the certificate's to-be-signed digest.
    bool RevokedByDigest(const Certificate& certificate) const {
        for (const auto algorithm :
             {DigestAlgorithm::Sha256, DigestAlgorithm::Sha384, DigestAlgorithm::Sha512}) {
            const SignatureKind kind = KindsOf(algorithm).second;
            bool listed = false;
            for (const auto& entry : dbx_) {
                listed = listed || entry.kind == kind;
            }
            if (!listed) {
                continue;
            }
            const auto digest = DigestOf(signatures_, algorithm, certificate.toBeSigned);
            if (digest && Lists(dbx_, kind, *digest)) {
                return true;
            }
        }
        return false;
    }

    // The name of a certificate dbx revokes that the chain holds or reaches.
    std::optional<std::wstring> Revoked(const std::vector<Certificate>& chain) const {
        for (const auto& entry : dbx_) {
            const auto certificate =
                entry.kind == SignatureKind::X509 ? DecodeCertificate(entry.data) : std::nullopt;
            if (certificate && Reaches(chain, *certificate)) {
                return CommonNameOf(certificate->subject);
            }
        }
        for (const auto& certificate : chain) {
            if (RevokedByDigest(certificate)) {
                return CommonNameOf(certificate.subject);
            }
        }
        return std::nullopt;
    }

    // What db makes of a valid signature: the first of its certificates the chain reaches is
    // the one weighed.
    ImageVerdict Allowing(const std::vector<Certificate>& chain) const {
        for (const auto& entry : db_) {
            const auto certificate =
                entry.kind == SignatureKind::X509 ? DecodeCertificate(entry.data) : std::nullopt;
            if (!certificate || !Reaches(chain, *certificate)) {
                continue;
            }
            const auto name = CommonNameOf(certificate->subject);
            if (RevokedByDigest(*certificate)) {
                return Refused(VerdictReason::DbxCertificate, name);
            }
            return {Verdict::Allowed, VerdictReason::DbCertificate, name};
        }
        return Refused(VerdictReason::SignerNotInDb, CommonNameOf(chain.back().issuer));
    }

    std::string_view pe_;
    const std::vector<SignatureEntry>& db_;
    const std::vector<SignatureEntry>& dbx_;
    const Signatures& signatures_;
    std::array<std::optional<std::string>, 4> digests_;
};

}  // namespace

ImageVerdict JudgeImage(std::string_view pe, const SecurityDatabases& databases,
                        const Signatures& signatures) {
    if (!databases.db || !databases.dbx) {
        return {};
    }
    return Judge(pe, *databases.db, *databases.dbx, signatures).Decide();
}

}  // namespace kestrix
