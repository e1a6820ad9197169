#pragma once
// Decodes what an Authenticode signature holds, as far as a firmware checks it: the X.509
// certificates, and the PKCS#7 SignedData with its signer and the image digest it signs. Every
// piece is a view into the bytes decoded.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/signatures.h"

namespace kestrix {

struct Certificate {
    std::string_view der;
    // The part the issuer signs (tbsCertificate), with its tag and length.
    std::string_view toBeSigned;
    // The serial number's content, and the issuer's and subject's names as whole DER elements
    // (matched byte for byte).
    std::string_view serial;
    std::string_view issuer;
    std::string_view subject;
    // The subject's key when it is an RSA one.
    std::optional<RsaKey> key;
    // The issuer's signature over toBeSigned and its digest; nothing for an algorithm other than
    // RSA with SHA-1/256/384/512.
    std::optional<DigestAlgorithm> signatureDigest;
    std::string_view signature;
};

// Nothing when the bytes are not one whole certificate.
std::optional<Certificate> DecodeCertificate(std::string_view der);

// The common name (CN) in a DER name, empty when it has none.
std::wstring CommonNameOf(std::string_view name);

struct AuthenticodeSignature {
    // The certificates the signature carries, undecodable ones left out.
    std::vector<Certificate> certificates;
    // The signer, told by its certificate's issuer and serial number.
    std::string_view signerIssuer;
    std::string_view signerSerial;
    // What the signer's signature covers: the authenticated attributes as a SET (or, without
    // them, the signed content), digested with signerDigest.
    std::optional<DigestAlgorithm> signerDigest;
    std::string signedBytes;
    std::string_view encryptedDigest;
    // The signed content (the SpcIndirectDataContent without its tag and length) and, with
    // authenticated attributes, the digest of it that they hold.
    std::string_view content;
    std::optional<std::string_view> messageDigest;
    // The PE image's digest the content holds, and its algorithm.
    std::optional<DigestAlgorithm> imageDigestAlgorithm;
    std::string_view imageDigest;
};

// Nothing when the bytes are no PKCS#7 SignedData of Authenticode with exactly one signer.
std::optional<AuthenticodeSignature> DecodeAuthenticode(std::string_view pkcs7);

}  // namespace kestrix
