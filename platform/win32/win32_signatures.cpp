#include "platform/win32/win32_signatures.h"

// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <string>

#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

namespace {

inline void DestroyKey(BCRYPT_KEY_HANDLE key) {
    ::BCryptDestroyKey(key);
}
using UniqueKey = UniqueHandle<BCRYPT_KEY_HANDLE, DestroyKey>;

LPCWSTR CngName(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::Sha1:
            return BCRYPT_SHA1_ALGORITHM;
        case DigestAlgorithm::Sha256:
            return BCRYPT_SHA256_ALGORITHM;
        case DigestAlgorithm::Sha384:
            return BCRYPT_SHA384_ALGORITHM;
        case DigestAlgorithm::Sha512:
            return BCRYPT_SHA512_ALGORITHM;
    }
    return BCRYPT_SHA256_ALGORITHM;
}

PUCHAR Bytes(std::string_view bytes) {
    return reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));
}

class CngDigest final : public Digest {
  public:
    // The hash object lives in a buffer of the size the provider asks for (Vista needs one).
    bool Start(LPCWSTR algorithm) {
        DWORD objectLength = 0;
        ULONG got = 0;
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm_.put(), algorithm, nullptr, 0)) ||
            !BCRYPT_SUCCESS(BCryptGetProperty(algorithm_.get(), BCRYPT_OBJECT_LENGTH,
                                              reinterpret_cast<PUCHAR>(&objectLength),
                                              sizeof(objectLength), &got, 0)) ||
            !BCRYPT_SUCCESS(BCryptGetProperty(algorithm_.get(), BCRYPT_HASH_LENGTH,
                                              reinterpret_cast<PUCHAR>(&length_), sizeof(length_),
                                              &got, 0))) {
            return false;
        }
        object_.assign(objectLength, '\0');
        return BCRYPT_SUCCESS(BCryptCreateHash(algorithm_.get(), hash_.put(), Bytes(object_),
                                               objectLength, nullptr, 0, 0));
    }
    void Add(std::string_view bytes) override {
        // A piece of more than 4 GiB is passed in parts.
        while (failed_ == false && !bytes.empty()) {
            const auto part = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
            failed_ = !BCRYPT_SUCCESS(BCryptHashData(hash_.get(), Bytes(bytes), part, 0));
            bytes.remove_prefix(part);
        }
    }
    std::optional<std::string> Finish() override {
        std::string digest(length_, '\0');
        if (failed_ || !BCRYPT_SUCCESS(BCryptFinishHash(hash_.get(), Bytes(digest), length_, 0))) {
            return std::nullopt;
        }
        return digest;
    }

  private:
    UniqueAlgorithm algorithm_;
    std::string object_;
    UniqueHash hash_;
    DWORD length_ = 0;
    bool failed_ = false;
};

}  // namespace

std::unique_ptr<Digest> StartCngDigest(LPCWSTR algorithm) {
    auto digest = std::make_unique<CngDigest>();
    if (!digest->Start(algorithm)) {
        return nullptr;
    }
    return digest;
}

std::unique_ptr<Digest> Win32Signatures::StartDigest(DigestAlgorithm algorithm) const {
    return StartCngDigest(CngName(algorithm));
}

bool Win32Signatures::VerifyRsa(const RsaKey& key, DigestAlgorithm algorithm,
                                std::string_view digest, std::string_view signature) const {
    // BCRYPT_RSAPUBLIC_BLOB: the header, then the exponent and the modulus, big-endian.
    BCRYPT_RSAKEY_BLOB header{BCRYPT_RSAPUBLIC_MAGIC,
                              static_cast<ULONG>(key.modulus.size() * 8),
                              static_cast<ULONG>(key.exponent.size()),
                              static_cast<ULONG>(key.modulus.size()),
                              0,
                              0};
    std::string blob(reinterpret_cast<const char*>(&header), sizeof(header));
    blob.append(key.exponent);
    blob.append(key.modulus);
    UniqueAlgorithm rsa;
    UniqueKey imported;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(rsa.put(), BCRYPT_RSA_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptImportKeyPair(rsa.get(), nullptr, BCRYPT_RSAPUBLIC_BLOB,
                                            imported.put(), Bytes(blob),
                                            static_cast<ULONG>(blob.size()), 0))) {
        return false;
    }
    BCRYPT_PKCS1_PADDING_INFO padding{CngName(algorithm)};
    return BCRYPT_SUCCESS(BCryptVerifySignature(
        imported.get(), &padding, Bytes(digest), static_cast<ULONG>(digest.size()),
        Bytes(signature), static_cast<ULONG>(signature.size()), BCRYPT_PAD_PKCS1));
}

}  // namespace kestrix::win32
