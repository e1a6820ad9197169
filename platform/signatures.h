#pragma once
// The cryptography that checking a signature needs and the portable code does not do itself:
// digests, computed piece by piece, and the check of an RSA signature with a public key.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

enum class DigestAlgorithm { Sha1, Sha256, Sha384, Sha512 };

// A digest being computed: the bytes given in order, then the digest.
class Digest {
  public:
    virtual ~Digest() = default;
    virtual void Add(std::string_view bytes) = 0;
    // Nothing when the digest could not be computed.
    virtual std::optional<std::string> Finish() = 0;
};

// An RSA public key: its modulus and public exponent, big-endian.
struct RsaKey {
    std::string_view modulus;
    std::string_view exponent;
};

class Signatures {
  public:
    virtual ~Signatures() = default;
    // Nothing when the algorithm is not available.
    virtual std::unique_ptr<Digest> StartDigest(DigestAlgorithm algorithm) const = 0;
    // Whether signature is the key's PKCS#1 v1.5 signature of the digest, made with algorithm.
    virtual bool VerifyRsa(const RsaKey& key, DigestAlgorithm algorithm, std::string_view digest,
                           std::string_view signature) const = 0;
};

// The digest of bytes in one piece; nothing when it could not be computed.
inline std::optional<std::string> DigestOf(const Signatures& signatures, DigestAlgorithm algorithm,
                                           std::string_view bytes) {
    const auto digest = signatures.StartDigest(algorithm);
    if (!digest) {
        return std::nullopt;
    }
    digest->Add(bytes);
    return digest->Finish();
}

}  // namespace kestrix
