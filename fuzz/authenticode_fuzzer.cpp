// Whatever bytes a signature holds, decoding it as Authenticode's PKCS#7 SignedData or as a
// certificate never fails badly, and every piece it gives is part of those bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "secureboot/authenticode.h"

namespace {

void WithinOrAbort(std::string_view part, std::string_view whole) {
    if (!part.empty() && (part.data() < whole.data() ||
                          part.data() + part.size() > whole.data() + whole.size())) {
        std::abort();
    }
}

void CheckCertificate(const kestrix::Certificate& certificate, std::string_view bytes) {
    for (const auto part : {certificate.der, certificate.toBeSigned, certificate.serial,
                            certificate.issuer, certificate.subject, certificate.signature}) {
        WithinOrAbort(part, bytes);
    }
    if (certificate.key) {
        WithinOrAbort(certificate.key->modulus, bytes);
        WithinOrAbort(certificate.key->exponent, bytes);
    }
    kestrix::CommonNameOf(certificate.subject);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto certificate = kestrix::DecodeCertificate(bytes)) {
        CheckCertificate(*certificate, bytes);
    }
    kestrix::CommonNameOf(bytes);
    const auto signature = kestrix::DecodeAuthenticode(bytes);
    if (!signature) {
        return 0;
    }
    for (const auto& certificate : signature->certificates) {
        CheckCertificate(certificate, bytes);
    }
    for (const auto part : {signature->signerIssuer, signature->signerSerial,
                            signature->encryptedDigest, signature->content,
                            signature->imageDigest}) {
        WithinOrAbort(part, bytes);
    }
    if (signature->messageDigest) {
        WithinOrAbort(*signature->messageDigest, bytes);
    }
    return 0;
}
