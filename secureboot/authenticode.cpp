#include "secureboot/authenticode.h"

#include "platform/text.h"
#include "secureboot/der.h"

namespace kestrix {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kRsaEncryption = "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01"sv;
constexpr std::string_view kSignedData = "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02"sv;
constexpr std::string_view kMessageDigest = "\x2A\x86\x48\x86\xF7\x0D\x01\x09\x04"sv;
constexpr std::string_view kIndirectData = "\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x04"sv;
constexpr std::string_view kCommonName = "\x55\x04\x03"sv;

struct KnownDigest {
    DigestAlgorithm algorithm;
    // The digest's own OID, and that of RSA signatures made with it.
    std::string_view digest;
    std::string_view withRsa;
};

constexpr KnownDigest kDigests[] = {
    {DigestAlgorithm::Sha1, "\x2B\x0E\x03\x02\x1A"sv, "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x05"sv},
    {DigestAlgorithm::Sha256, "\x60\x86\x48\x01\x65\x03\x04\x02\x01"sv,
     "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0B"sv},
    {DigestAlgorithm::Sha384, "\x60\x86\x48\x01\x65\x03\x04\x02\x02"sv,
     "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0C"sv},
    {DigestAlgorithm::Sha512, "\x60\x86\x48\x01\x65\x03\x04\x02\x03"sv,
     "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0D"sv},
};

// The OID of an AlgorithmIdentifier at the front of bytes, which it takes.
std::optional<std::string_view> TakeAlgorithm(std::string_view& bytes) {
    const auto sequence = TakeDer(bytes, kDerSequence);
    std::string_view inside = sequence ? sequence->content : std::string_view();
    const auto oid = TakeDer(inside, kDerOid);
    if (!oid) {
        return std::nullopt;
    }
    return oid->content;
}

std::optional<DigestAlgorithm> DigestNamed(std::string_view oid, bool withRsa) {
    for (const auto& known : kDigests) {
        if (oid == (withRsa ? known.withRsa : known.digest)) {
            return known.algorithm;
        }
    }
    return std::nullopt;
}

// An INTEGER's magnitude without the zero bytes that lead it.
std::string_view Magnitude(std::string_view integer) {
    while (integer.size() > 1 && integer[0] == '\0') {
        integer.remove_prefix(1);
    }
    return integer;
}

// The bits of a BIT STRING of whole bytes.
std::optional<std::string_view> TakeBits(std::string_view& bytes) {
    const auto bits = TakeDer(bytes, kDerBitString);
    if (!bits || bits->content.empty() || bits->content[0] != '\0') {
        return std::nullopt;
    }
    return bits->content.substr(1);
}

std::optional<RsaKey> DecodeRsaKey(std::string_view publicKeyInfo) {
    const auto algorithm = TakeAlgorithm(publicKeyInfo);
    auto bits = TakeBits(publicKeyInfo);
    if (algorithm != kRsaEncryption || !bits) {
        return std::nullopt;
    }
    const auto key = TakeDer(*bits, kDerSequence);
    std::string_view numbers = key ? key->content : std::string_view();
    const auto modulus = TakeDer(numbers, kDerInteger);
    const auto exponent = TakeDer(numbers, kDerInteger);
    if (!modulus || !exponent) {
        return std::nullopt;
    }
    return RsaKey{Magnitude(modulus->content), Magnitude(exponent->content)};
}

// Text of a directory string: UTF-8 and its ASCII subsets, or big-endian UTF-16.
std::wstring StringText(const DerElement& value) {
    constexpr std::uint8_t kBmpString = 0x1E;
    if (value.tag != kBmpString) {
        return FromUtf8(value.content);
    }
    std::wstring text;
    for (std::size_t at = 0; at + 1 < value.content.size(); at += 2) {
        text += static_cast<wchar_t>(static_cast<unsigned char>(value.content[at]) << 8 |
                                     static_cast<unsigned char>(value.content[at + 1]));
    }
    return text;
}

// The value of the first authenticated attribute of the type, a single OCTET STRING.
std::optional<std::string_view> OctetAttribute(std::string_view attributes, std::string_view type) {
    while (const auto attribute = TakeDer(attributes, kDerSequence)) {
        std::string_view inside = attribute->content;
        const auto oid = TakeDer(inside, kDerOid);
        const auto values = TakeDer(inside, kDerSet);
        if (oid && values && oid->content == type) {
            std::string_view value = values->content;
            const auto octets = TakeDer(value, kDerOctetString);
            if (!octets) {
                return std::nullopt;
            }
            return octets->content;
        }
    }
    return std::nullopt;
}

// The SpcIndirectDataContent of a ContentInfo: its content, the image digest's algorithm and the
// digest.
bool DecodeIndirectData(std::string_view contentInfo, AuthenticodeSignature& signature) {
    const auto type = TakeDer(contentInfo, kDerOid);
    const auto explicit0 = TakeDer(contentInfo, kDerContext0);
    if (!type || type->content != kIndirectData || !explicit0) {
        return false;
    }
    std::string_view inner = explicit0->content;
    const auto indirect = TakeDer(inner, kDerSequence);
    if (!indirect) {
        return false;
    }
    signature.content = indirect->content;
    std::string_view fields = indirect->content;
    const auto data = TakeDer(fields, kDerSequence);
    const auto digestInfo = TakeDer(fields, kDerSequence);
    if (!data || !digestInfo) {
        return false;
    }
    std::string_view info = digestInfo->content;
    const auto algorithm = TakeAlgorithm(info);
    const auto digest = TakeDer(info, kDerOctetString);
    if (!algorithm || !digest) {
        return false;
    }
    signature.imageDigestAlgorithm = DigestNamed(*algorithm, false);
    signature.imageDigest = digest->content;
    return true;
}

bool DecodeSignerInfo(std::string_view signerInfo, AuthenticodeSignature& signature) {
    const auto version = TakeDer(signerInfo, kDerInteger);
    const auto issuerAndSerial = TakeDer(signerInfo, kDerSequence);
    if (!version || !issuerAndSerial) {
        return false;
    }
    std::string_view names = issuerAndSerial->content;
    const auto issuer = TakeDer(names, kDerSequence);
    const auto serial = TakeDer(names, kDerInteger);
    const auto digest = TakeAlgorithm(signerInfo);
    if (!issuer || !serial || !digest) {
        return false;
    }
    signature.signerIssuer = issuer->whole;
    signature.signerSerial = serial->content;
    signature.signerDigest = DigestNamed(*digest, false);
    if (const auto attributes = TakeDer(signerInfo, kDerContext0)) {
        // The signature covers the attributes as the SET OF they are, not under their [0] tag.
        signature.signedBytes = std::string(attributes->whole);
        signature.signedBytes[0] = static_cast<char>(kDerSet);
        signature.messageDigest = OctetAttribute(attributes->content, kMessageDigest);
        if (!signature.messageDigest) {
            return false;
        }
    } else {
        signature.signedBytes = std::string(signature.content);
    }
    const auto encryption = TakeAlgorithm(signerInfo);
    const auto encrypted = TakeDer(signerInfo, kDerOctetString);
    if (!encryption || !encrypted) {
        return false;
    }
    signature.encryptedDigest = encrypted->content;
    return true;
}

}  // namespace

std::optional<Certificate> DecodeCertificate(std::string_view der) {
    std::string_view whole = der;
    const auto certificate = TakeDer(whole, kDerSequence);
    if (!certificate || !whole.empty()) {
        return std::nullopt;
    }
    std::string_view fields = certificate->content;
    const auto tbs = TakeDer(fields, kDerSequence);
    const auto algorithm = TakeAlgorithm(fields);
    const auto signature = TakeBits(fields);
    if (!tbs || !algorithm || !signature) {
        return std::nullopt;
    }
    std::string_view parts = tbs->content;
    TakeDer(parts, kDerContext0);
    const auto serial = TakeDer(parts, kDerInteger);
    const auto signedWith = TakeAlgorithm(parts);
    const auto issuer = TakeDer(parts, kDerSequence);
    const auto validity = TakeDer(parts, kDerSequence);
    const auto subject = TakeDer(parts, kDerSequence);
    const auto keyInfo = TakeDer(parts, kDerSequence);
    if (!serial || !signedWith || !issuer || !validity || !subject || !keyInfo) {
        return std::nullopt;
    }
    return Certificate{der,
                       tbs->whole,
                       serial->content,
                       issuer->whole,
                       subject->whole,
                       DecodeRsaKey(keyInfo->content),
                       DigestNamed(*algorithm, true),
                       *signature};
}

std::wstring CommonNameOf(std::string_view name) {
    const auto sequence = TakeDer(name, kDerSequence);
    std::string_view sets = sequence ? sequence->content : std::string_view();
    while (const auto set = TakeDer(sets, kDerSet)) {
        std::string_view attributes = set->content;
        while (const auto attribute = TakeDer(attributes, kDerSequence)) {
            std::string_view inside = attribute->content;
            const auto oid = TakeDer(inside, kDerOid);
            const auto value = TakeDer(inside);
            if (oid && value && oid->content == kCommonName) {
                return StringText(*value);
            }
        }
    }
    return {};
}

std::optional<AuthenticodeSignature> DecodeAuthenticode(std::string_view pkcs7) {
    const auto contentInfo = TakeDer(pkcs7, kDerSequence);
    std::string_view outer = contentInfo ? contentInfo->content : std::string_view();
    const auto type = TakeDer(outer, kDerOid);
    const auto explicit0 = TakeDer(outer, kDerContext0);
    if (!type || type->content != kSignedData || !explicit0) {
        return std::nullopt;
    }
    std::string_view inner = explicit0->content;
    const auto signedData = TakeDer(inner, kDerSequence);
    std::string_view fields = signedData ? signedData->content : std::string_view();
    const auto version = TakeDer(fields, kDerInteger);
    const auto digestAlgorithms = TakeDer(fields, kDerSet);
    const auto content = TakeDer(fields, kDerSequence);
    AuthenticodeSignature signature;
    if (!version || !digestAlgorithms || !content ||
        !DecodeIndirectData(content->content, signature)) {
        return std::nullopt;
    }
    if (const auto certificates = TakeDer(fields, kDerContext0)) {
        std::string_view bag = certificates->content;
        while (const auto element = TakeDer(bag)) {
            if (const auto certificate = DecodeCertificate(element->whole)) {
                signature.certificates.push_back(*certificate);
            }
        }
    }
    TakeDer(fields, kDerContext1);
    const auto signerInfos = TakeDer(fields, kDerSet);
    std::string_view signers = signerInfos ? signerInfos->content : std::string_view();
    const auto signerInfo = TakeDer(signers, kDerSequence);
    if (!signerInfo || !signers.empty() || !DecodeSignerInfo(signerInfo->content, signature)) {
        return std::nullopt;
    }
    return signature;
}

}  // namespace kestrix
