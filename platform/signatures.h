#pragma once
// What the logic needs of Authenticode signatures: who signed, under which CA.
#include <string>
#include <vector>

namespace kestrix {

struct Signer {
    // The common names of the signing certificate (empty when the signature does not carry it)
    // and of its issuer.
    std::wstring subject;
    std::wstring issuer;
    // The SHA-1 of the issuing CA's certificate (20 bytes) when the signature carries it, else
    // empty.
    std::string issuerThumbprint;
};

class Signatures {
  public:
    virtual ~Signatures() = default;
    // Every signature of a PKCS#7 SignedData in order, each followed by those nested in it;
    // empty when the bytes cannot be decoded.
    virtual std::vector<Signer> SignersOf(const std::string& pkcs7) const = 0;
};

}  // namespace kestrix
