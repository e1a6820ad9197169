#include "platform/win32/win32_signatures.h"

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/unique_handle.h"

namespace kestrix::win32 {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Where Authenticode puts a further signature: an unauthenticated attribute of a signer.
constexpr char kNestedSignature[] = "1.3.6.1.4.1.311.2.4.1";
// A signature nested in a signature nested in a signature is already more than Windows makes.
constexpr int kMaxDepth = 4;
constexpr DWORD kThumbprintLength = 20;

inline void CloseStore(HCERTSTORE store) {
    ::CertCloseStore(store, 0);
}
using UniqueStore = UniqueHandle<HCERTSTORE, CloseStore>;
using UniqueMessage = UniqueHandle<HCRYPTMSG, ::CryptMsgClose>;
using UniqueCertificate = UniqueHandle<PCCERT_CONTEXT, ::CertFreeCertificateContext>;

// The common name of a certificate's subject, or of its issuer.
std::wstring CommonName(PCCERT_CONTEXT certificate, DWORD flags) {
    char oid[] = szOID_COMMON_NAME;
    const DWORD length =
        CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, oid, nullptr, 0);
    std::wstring name(length, L'\0');
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, flags, oid, name.data(), length);
    name.resize(length == 0 ? 0 : length - 1);
    return name;
}

// The common name in an encoded X.500 name (a signer's issuer, whose certificate may be absent).
std::wstring CommonName(const CERT_NAME_BLOB& encoded) {
    DWORD size = 0;
    if (!CryptDecodeObject(kEncoding, X509_NAME, encoded.pbData, encoded.cbData, 0, nullptr,
                           &size)) {
        return {};
    }
    std::string buffer(size, '\0');
    auto* name = reinterpret_cast<CERT_NAME_INFO*>(buffer.data());
    if (!CryptDecodeObject(kEncoding, X509_NAME, encoded.pbData, encoded.cbData, 0, name, &size)) {
        return {};
    }
    const CERT_RDN_ATTR* attribute = CertFindRDNAttr(szOID_COMMON_NAME, name);
    if (attribute == nullptr) {
        return {};
    }
    const DWORD length = CertRDNValueToStrW(
        attribute->dwValueType, const_cast<CERT_RDN_VALUE_BLOB*>(&attribute->Value), nullptr, 0);
    std::wstring text(length, L'\0');
    CertRDNValueToStrW(attribute->dwValueType, const_cast<CERT_RDN_VALUE_BLOB*>(&attribute->Value),
                       text.data(), length);
    text.resize(length == 0 ? 0 : length - 1);
    return text;
}

std::string Thumbprint(PCCERT_CONTEXT certificate) {
    std::string thumbprint(kThumbprintLength, '\0');
    DWORD length = kThumbprintLength;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, thumbprint.data(),
                                           &length) ||
        length != kThumbprintLength) {
        return {};
    }
    return thumbprint;
}

void AddSigners(const std::string& pkcs7, int depth, std::vector<Signer>& signers);

// One signer of the message, then the signatures nested in it.
void AddSigner(HCRYPTMSG message, HCERTSTORE bag, DWORD index, int depth,
               std::vector<Signer>& signers) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, nullptr, &size)) {
        return;
    }
    std::string buffer(size, '\0');
    auto* info = reinterpret_cast<CMSG_SIGNER_INFO*>(buffer.data());
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, info, &size)) {
        return;
    }
    Signer signer;
    signer.issuer = CommonName(info->Issuer);
    CERT_INFO wanted{};
    wanted.Issuer = info->Issuer;
    wanted.SerialNumber = info->SerialNumber;
    const UniqueCertificate certificate(
        CertFindCertificateInStore(bag, kEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    if (certificate) {
        signer.subject = CommonName(certificate.get(), 0);
    }
    // The issuing CA's certificate is the one whose subject is the signer's issuer.
    const UniqueCertificate issuing(CertFindCertificateInStore(
        bag, kEncoding, 0, CERT_FIND_SUBJECT_NAME, &info->Issuer, nullptr));
    if (issuing) {
        signer.issuerThumbprint = Thumbprint(issuing.get());
    }
    signers.push_back(std::move(signer));
    for (DWORD a = 0; a < info->UnauthAttrs.cAttr; ++a) {
        const CRYPT_ATTRIBUTE& attribute = info->UnauthAttrs.rgAttr[a];
        if (std::strcmp(attribute.pszObjId, kNestedSignature) != 0) {
            continue;
        }
        for (DWORD v = 0; v < attribute.cValue; ++v) {
            AddSigners(std::string(reinterpret_cast<const char*>(attribute.rgValue[v].pbData),
                                   attribute.rgValue[v].cbData),
                       depth + 1, signers);
        }
    }
}

void AddSigners(const std::string& pkcs7, int depth, std::vector<Signer>& signers) {
    if (depth > kMaxDepth || pkcs7.empty()) {
        return;
    }
    CERT_BLOB blob{static_cast<DWORD>(pkcs7.size()),
                   reinterpret_cast<BYTE*>(const_cast<char*>(pkcs7.data()))};
    UniqueStore bag;
    UniqueMessage message;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, bag.put(),
                          message.put(), nullptr)) {
        return;
    }
    DWORD count = 0;
    DWORD size = sizeof(count);
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &count, &size)) {
        return;
    }
    for (DWORD i = 0; i < count; ++i) {
        AddSigner(message.get(), bag.get(), i, depth, signers);
    }
}

}  // namespace

std::vector<Signer> Win32Signatures::SignersOf(const std::string& pkcs7) const {
    std::vector<Signer> signers;
    AddSigners(pkcs7, 0, signers);
    return signers;
}

}  // namespace kestrix::win32
