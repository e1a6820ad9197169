#pragma once
#include <windows.h>

#include "platform/signatures.h"

namespace kestrix::win32 {

// A digest with one of CNG's hash algorithms (BCRYPT_SHA256_ALGORITHM...); nothing when the
// provider cannot make one.
std::unique_ptr<Digest> StartCngDigest(LPCWSTR algorithm);

// Digests and RSA signatures checked by CNG (bcrypt.dll).
class Win32Signatures final : public Signatures {
  public:
    std::unique_ptr<Digest> StartDigest(DigestAlgorithm algorithm) const override;
    bool VerifyRsa(const RsaKey& key, DigestAlgorithm algorithm, std::string_view digest,
                   std::string_view signature) const override;
};

}  // namespace kestrix::win32
