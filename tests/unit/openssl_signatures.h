#pragma once
// The signature checks the program asks of the platform, done by OpenSSL's libcrypto in the
// tests as CNG does them in the exe: real digests and real RSA signatures, so that the tables run
// over real signed binaries.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <memory>

#include "platform/signatures.h"

namespace kestrix::testing {

class OpenSslSignatures : public Signatures {
  public:
    std::unique_ptr<Digest> StartDigest(DigestAlgorithm algorithm) const override {
        return std::make_unique<OpenSslDigest>(Md(algorithm));
    }

    bool VerifyRsa(const RsaKey& key, DigestAlgorithm algorithm, std::string_view digest,
                   std::string_view signature) const override {
        const auto number = [](std::string_view bytes) {
            return BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()),
                             static_cast<int>(bytes.size()), nullptr);
        };
        BIGNUM* n = number(key.modulus);
        BIGNUM* e = number(key.exponent);
        OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, n);
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, e);
        OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
        EVP_PKEY_CTX* make = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
        EVP_PKEY* pkey = nullptr;
        bool verified = false;
        if (EVP_PKEY_fromdata_init(make) == 1 &&
            EVP_PKEY_fromdata(make, &pkey, EVP_PKEY_PUBLIC_KEY, params) == 1) {
            EVP_PKEY_CTX* check = EVP_PKEY_CTX_new(pkey, nullptr);
            verified = EVP_PKEY_verify_init(check) == 1 &&
                       EVP_PKEY_CTX_set_rsa_padding(check, RSA_PKCS1_PADDING) == 1 &&
                       EVP_PKEY_CTX_set_signature_md(check, Md(algorithm)) == 1 &&
                       EVP_PKEY_verify(
                           check, reinterpret_cast<const unsigned char*>(signature.data()),
                           signature.size(), reinterpret_cast<const unsigned char*>(digest.data()),
                           digest.size()) == 1;
            EVP_PKEY_CTX_free(check);
        }
        EVP_PKEY_free(pkey);
        EVP_PKEY_CTX_free(make);
        OSSL_PARAM_free(params);
        OSSL_PARAM_BLD_free(build);
        BN_free(n);
        BN_free(e);
        return verified;
    }

  private:
    static const EVP_MD* Md(DigestAlgorithm algorithm) {
        switch (algorithm) {
            case DigestAlgorithm::Sha1:
                return EVP_sha1();
            case DigestAlgorithm::Sha384:
                return EVP_sha384();
            case DigestAlgorithm::Sha512:
                return EVP_sha512();
            case DigestAlgorithm::Sha256:
                break;
        }
        return EVP_sha256();
    }

    class OpenSslDigest final : public Digest {
      public:
        explicit OpenSslDigest(const EVP_MD* md) : context_(EVP_MD_CTX_new()) {
            EVP_DigestInit_ex(context_, md, nullptr);
        }
        ~OpenSslDigest() override { EVP_MD_CTX_free(context_); }
        void Add(std::string_view bytes) override {
            EVP_DigestUpdate(context_, bytes.data(), bytes.size());
        }
        std::optional<std::string> Finish() override {
            unsigned char digest[EVP_MAX_MD_SIZE];
            unsigned int length = 0;
            if (EVP_DigestFinal_ex(context_, digest, &length) != 1) {
                return std::nullopt;
            }
            return std::string(reinterpret_cast<const char*>(digest), length);
        }

      private:
        EVP_MD_CTX* context_;
    };
};

}  // namespace kestrix::testing
