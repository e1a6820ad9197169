// The firmware's verdict on EFI files: Debian's signed binaries against OVMF's db and dbx and
// Microsoft's updates, and binaries signed here under look-alike CAs, checked with real
// signatures (libcrypto in place of CNG).
#include "secureboot/image_verdict.h"

#include <gtest/gtest.h>

#include <ostream>

#include "openssl_signatures.h"
#include "platform/pe_header.h"
#include "platform/text.h"
#include "secure_boot_data.h"
#include "secureboot/authenticode.h"
#include "secureboot/firmware_trust.h"
#include "secureboot/pe_certificates.h"
#include "signature_lists.h"
#include "signed_binaries.h"

namespace kestrix {

void PrintTo(const ImageVerdict& v, std::ostream* os) {
    *os << "{verdict " << static_cast<int>(v.verdict) << ", reason " << static_cast<int>(v.reason)
        << ", " << ToUtf8(v.certificate) << "}";
}

namespace {

using testing::kSecurityDatabaseGuid;
using testing::kSha1Type;
using testing::kSha256Type;
using testing::kX509Sha256Type;
using testing::kX509Type;
using testing::Made;
using testing::OpenSslSignatures;
using testing::ReadBytes;
using testing::SecureBootObject;
using testing::SignatureList;
using testing::UpdatedLists;
using Entries = std::optional<std::vector<SignatureEntry>>;

const OpenSslSignatures kCrypto;

std::string ImageDigest(const std::string& pe, DigestAlgorithm algorithm) {
    const auto digest = kCrypto.StartDigest(algorithm);
    EXPECT_TRUE(AddAuthenticodeImage(pe, *digest));
    return *digest->Finish();
}

// A dbx entry for a certificate: its to-be-signed part's SHA-256, revoked since ever.
std::string ToBeSignedEntry(const std::string& certificate) {
    return *DigestOf(kCrypto, DigestAlgorithm::Sha256, DecodeCertificate(certificate)->toBeSigned) +
           std::string(16, '\0');
}

Entries Lists(const std::string& bytes) {
    return DecodeSignatureLists(bytes);
}

Entries Certificates(std::initializer_list<std::string> certificates) {
    std::string lists;
    for (const auto& certificate : certificates) {
        lists += SignatureList(kX509Type, {certificate});
    }
    return Lists(lists);
}

// The file with one byte of its code changed.
std::string Altered(std::string pe) {
    pe[0x1000] ^= 1;
    return pe;
}

// The file with its certificate table's directory counting 8 bytes more, which the file ends with.
std::string WithTableGap(std::string pe) {
    const auto header = DecodePeHeader(pe);
    const std::size_t sizeAt = header->directoryTable + 4 * 8 + 4;
    pe.replace(sizeAt, 4, testing::Le32Bytes(header->directories[4].second + 8));
    return pe + std::string(8, '\0');
}

// The file with the serial number its signer names changed: the signer's certificate is missing.
std::string WithoutSignerCertificate(std::string pe) {
    pe[pe.rfind(std::string("\x02\x01\x07", 3)) + 2] = '\x08';
    return pe;
}

// The file with its one signature entry made a WIN_CERTIFICATE_UEFI_GUID entry of type PKCS#7.
std::string AsUefiGuidEntry(const std::string& pe) {
    const auto header = DecodePeHeader(pe);
    const auto [at, size] = header->directories[4];
    const std::string pkcs7 = pe.substr(at + 8, size - 8);
    std::string entry =
        testing::Le32Bytes(static_cast<std::uint32_t>(24 + pkcs7.size())) +
        std::string("\x00\x02\xF1\x0E", 4) +
        std::string("\x9d\xd2\xaf\x4a\xdf\x68\xee\x49\x8a\xa9\x34\x7d\x37\x56\x65\xa7", 16) + pkcs7;
    entry.append((8 - entry.size() % 8) % 8, '\0');
    std::string out = pe.substr(0, at) + entry;
    out.replace(header->directoryTable + 4 * 8 + 4, 4,
                testing::Le32Bytes(static_cast<std::uint32_t>(entry.size())));
    return out;
}

TEST(ImageVerdict, JudgesAsTheFirmwareDoes) {
    const auto& made = Made();
    ASSERT_FALSE(made.twoSigned.empty()) << "openssl, osslsigncode or sbsigntool is missing";
    const std::string store = ReadBytes(testing::kOvmfVariables);
    const Entries ovmfDb = Lists(*testing::OvmfVariable(store, "db", kSecurityDatabaseGuid));
    const Entries ovmfDbx = Lists(*testing::OvmfVariable(store, "dbx", kSecurityDatabaseGuid));
    ASSERT_TRUE(ovmfDb && ovmfDbx && ovmfDb->size() == 2) << "the ovmf package is not installed";
    const std::string pca2011 = SecureBootObject("certificates/MicWinProPCA2011_2011-10-19.der");
    const std::string uefiCa2011 = SecureBootObject("certificates/MicCorUEFCA2011_2011-06-27.der");
    const std::string uefiCa2023 = SecureBootObject("certificates/microsoft_uefi_ca_2023.der");
    const std::string windowsCa2023 = SecureBootObject("certificates/windows_uefi_ca_2023.der");
    const Entries fullDbx = Lists(UpdatedLists(SecureBootObject("updates/DBXUpdate-amd64.bin")));
    const Entries dbx2024 = Lists(UpdatedLists(SecureBootObject("updates/DBXUpdate2024.bin")));
    ASSERT_TRUE(fullDbx && fullDbx->size() == 443 && dbx2024) << "../shared/secureboot is missing";
    const Entries none = std::vector<SignatureEntry>{};

    const std::string shim = ReadBytes(testing::kSignedShim);
    const std::string grub = ReadBytes("/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed");
    const std::string mm = ReadBytes("/usr/lib/shim/mmx64.efi.signed");
    const std::string unsignedShim = ReadBytes(testing::kUnsignedShim);
    const std::string shimDigest = ImageDigest(shim, DigestAlgorithm::Sha256);
    const std::string unsignedDigest = ImageDigest(unsignedShim, DigestAlgorithm::Sha256);
    const std::string sha1Digest = ImageDigest(made.sha1Signed, DigestAlgorithm::Sha1);

    using enum VerdictReason;
    const auto allowed = [](VerdictReason reason, std::wstring name = {}) {
        return ImageVerdict{Verdict::Allowed, reason, std::move(name)};
    };
    const auto refused = [](VerdictReason reason, std::wstring name = {}) {
        return ImageVerdict{Verdict::Refused, reason, std::move(name)};
    };
    const std::wstring kUefiCa2011 = L"Microsoft Corporation UEFI CA 2011";
    const std::wstring kPca = L"Microsoft Windows Production PCA 2011";
    const struct {
        const char* name;
        const std::string& pe;
        Entries db, dbx;
        ImageVerdict expected;
    } cases[] = {
        // Debian's shim carries UEFI CA 2011's signature, then UEFI CA 2023's.
        {"shim, OVMF's db", shim, ovmfDb, ovmfDbx, allowed(DbCertificate, kUefiCa2011)},
        {"shim, db of the third-party CA 2023 only", shim,
         Lists(UpdatedLists(SecureBootObject("updates/DBUpdate3P2023.bin"))), none,
         allowed(DbCertificate, L"Microsoft UEFI CA 2023")},
        {"shim, db of the 2023 CA first: the first signature decides", shim,
         Certificates({uefiCa2023, uefiCa2011}), none, allowed(DbCertificate, kUefiCa2011)},
        {"shim, db of Windows' CAs only", shim, Certificates({pca2011, windowsCa2023}), none,
         refused(SignerNotInDb, L"Microsoft Corporation Third Party Marketplace Root")},
        {"shim, the full x64 dbx", shim, ovmfDb, fullDbx, allowed(DbCertificate, kUefiCa2011)},
        {"shim, dbx revoking PCA 2011", shim, ovmfDb, dbx2024, allowed(DbCertificate, kUefiCa2011)},
        {"shim, dbx revoking UEFI CA 2011: the other signature does not save it", shim,
         Certificates({uefiCa2011, uefiCa2023}), Certificates({uefiCa2011}),
         refused(DbxCertificate, kUefiCa2011)},
        {"shim, dbx listing UEFI CA 2011's to-be-signed digest", shim,
         Certificates({uefiCa2011, uefiCa2023}),
         Lists(SignatureList(kX509Sha256Type, {ToBeSignedEntry(uefiCa2011)})),
         refused(DbxCertificate, kUefiCa2011)},
        {"shim, its digest in dbx", shim, ovmfDb, Lists(SignatureList(kSha256Type, {shimDigest})),
         refused(DbxHash)},
        {"shim, its digest in db, its signers not", shim,
         Lists(SignatureList(kSha256Type, {shimDigest})), none, allowed(DbHash)},
        {"shim, one byte altered", Altered(shim), ovmfDb, ovmfDbx, refused(InvalidSignature)},
        {"shim, db unreadable", shim, std::nullopt, ovmfDbx, {}},
        {"shim, dbx unreadable", shim, ovmfDb, std::nullopt, {}},
        {"grub, signed by Debian's CA", grub, ovmfDb, ovmfDbx,
         refused(SignerNotInDb, L"Debian Secure Boot CA")},
        {"MokManager, signed by Debian's CA", mm, ovmfDb, ovmfDbx,
         refused(SignerNotInDb, L"Debian Secure Boot CA")},
        {"unsigned", unsignedShim, ovmfDb, ovmfDbx, refused(Unsigned)},
        {"unsigned, its digest in db", unsignedShim,
         Lists(SignatureList(kSha256Type, {unsignedDigest})), none, allowed(DbHash)},
        {"unsigned, its digest in db and dbx", unsignedShim,
         Lists(SignatureList(kSha256Type, {unsignedDigest})),
         Lists(SignatureList(kSha256Type, {unsignedDigest})), refused(DbxHash)},
        // A CA that only bears Microsoft's name is not Microsoft's.
        {"a look-alike PCA 2011, the real one in db", made.pcaSigned, ovmfDb, ovmfDbx,
         refused(SignerNotInDb, kPca)},
        {"the look-alike in db", made.pcaSigned, Certificates({made.pcaCa}), none,
         allowed(DbCertificate, kPca)},
        {"the look-alike in db, one byte altered", Altered(made.pcaSigned),
         Certificates({made.pcaCa}), none, refused(InvalidSignature)},
        {"a SHA-1 image digest", made.sha1Signed, Certificates({made.pcaCa}), none,
         allowed(DbCertificate, kPca)},
        {"a SHA-1 image digest in dbx", made.sha1Signed, Certificates({made.pcaCa}),
         Lists(SignatureList(kSha1Type, {sha1Digest})), refused(DbxHash)},
        {"a UEFI GUID entry carrying the signature", AsUefiGuidEntry(made.pcaSigned),
         Certificates({made.pcaCa}), none, allowed(DbCertificate, kPca)},
        {"a table its entries do not fill", WithTableGap(made.pcaSigned),
         Certificates({made.pcaCa}), none, refused(InvalidSignature)},
        {"the signer's certificate missing", WithoutSignerCertificate(made.leafOnly),
         Certificates({made.pcaCa, made.signer}), none, refused(InvalidSignature)},
        // The first db certificate the signature reaches is weighed, whatever comes after.
        {"the CA first in db, its to-be-signed digest in dbx", made.leafOnly,
         Certificates({made.pcaCa, made.signer}),
         Lists(SignatureList(kX509Sha256Type, {ToBeSignedEntry(made.pcaCa)})),
         refused(DbxCertificate, kPca)},
        {"the signer first in db", made.leafOnly, Certificates({made.signer, made.pcaCa}),
         Lists(SignatureList(kX509Sha256Type, {ToBeSignedEntry(made.pcaCa)})),
         allowed(DbCertificate, L"Microsoft Windows")},
        // Two signatures: either allows, a revoked one refuses.
        {"two signatures, the first's CA in db", made.twoSigned, Certificates({made.ca2023}), none,
         allowed(DbCertificate, L"Windows UEFI CA 2023")},
        {"two signatures, the second's CA in db", made.twoSigned, Certificates({made.pcaCa}), none,
         allowed(DbCertificate, kPca)},
        {"two signatures, the second's CA revoked", made.twoSigned, Certificates({made.ca2023}),
         Certificates({made.pcaCa}), refused(DbxCertificate, kPca)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JudgeImage(c.pe, {c.db, c.dbx}, kCrypto), c.expected) << c.name;
    }
}

// The Authenticode digest is the one osslsigncode signed, and the one Microsoft signed.
TEST(ImageVerdict, DigestsTheImageAsItsSignersDid) {
    const auto& made = Made();
    ASSERT_FALSE(made.pcaSigned.empty());
    for (const auto* pe : {&made.pcaSigned, &made.twoSigned}) {
        const auto table = ReadCertificateTable(*pe);
        ASSERT_TRUE(table && !table->signatures.empty());
        for (const auto bytes : table->signatures) {
            const auto signature = DecodeAuthenticode(bytes);
            ASSERT_TRUE(signature && signature->imageDigestAlgorithm);
            EXPECT_EQ(signature->imageDigest, ImageDigest(*pe, *signature->imageDigestAlgorithm));
        }
    }
}

TEST(ImageVerdict, TellsAWindowsUefiCa2023BootManagerByItsSignature) {
    const auto& made = Made();
    ASSERT_FALSE(made.ca2023Signed.empty());
    EXPECT_FALSE(SignedUnderCa2023(ReadBytes(testing::kSignedShim), kCrypto));
    EXPECT_FALSE(SignedUnderCa2023(made.ca2023Signed, kCrypto)) << "a look-alike by name";
    EXPECT_FALSE(SignedUnderCa2023(made.twoSigned, kCrypto)) << "a look-alike by name";
}

}  // namespace
}  // namespace kestrix
