// Signatures of EFI binaries: the certificate table of Debian's Microsoft-signed shim and
// Debian-signed GRUB and of PE files laid out here, and the CAs that signers are told by.
#include <gtest/gtest.h>

#include <cstdint>

#include "fakes.h"
#include "pe_image.h"
#include "secure_boot_data.h"
#include "secureboot/firmware_trust.h"
#include "secureboot/pe_certificates.h"
#include "secureboot/signature_list.h"
#include "secureboot/signing_ca.h"
#include "signature_lists.h"

namespace kestrix {
namespace {

using testing::Der;
using testing::Entry;
using testing::kPe32;
using testing::kPe32Plus;
using testing::kSignedData;
using testing::kX509Certificate;
using testing::Le16Bytes;
using testing::Le32Bytes;
using testing::Padding;
using testing::Pe;
using testing::ReadBytes;
using testing::RunIn;
using testing::TempFolder;

TEST(PeCertificates, GivesTheSignaturesOfTheCertificateTable) {
    const std::string first = Der("the first signature");
    const std::string second = Der("a second, in an entry of its own");
    const struct {
        const char* name;
        std::string pe;
        std::vector<std::string> expected;
    } cases[] = {
        {"PE32+, two entries",
         Pe(kPe32Plus, Entry(kSignedData, first) + Entry(kSignedData, second)),
         {first, second}},
        {"PE32, the last entry without its padding",
         Pe(kPe32, Entry(kSignedData, first, Padding::None)),
         {first}},
        {"padding counted in the entry's length",
         Pe(kPe32Plus, Entry(kSignedData, first, Padding::Counted) + Entry(kSignedData, second)),
         {first, second}},
        {"an entry of another type passed over",
         Pe(kPe32Plus, Entry(kX509Certificate, first) + Entry(kSignedData, second)),
         {second}},
        {"unsigned", Pe(kPe32Plus, ""), {}},
        {"no security directory", Pe(kPe32Plus, Entry(kSignedData, first), 4), {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodePeCertificates(c.pe), c.expected) << c.name;
    }
}

TEST(PeCertificates, RefusesWhatIsNoPeOrOverrunsIt) {
    const std::string signedPe = Pe(kPe32Plus, Entry(kSignedData, Der("a signature")));
    const auto with = [&](std::size_t at, const std::string& bytes) {
        std::string pe = signedPe;
        return pe.replace(at, bytes.size(), bytes);
    };
    const std::size_t optional = 0x40 + 24;
    const std::size_t security = optional + 112 + 4 * 8;
    const std::size_t table = security + 12 * 8;
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"a DOS header cut short", signedPe.substr(0, 0x3F)},
        {"no MZ", with(0, "ZM")},
        {"the PE header beyond the file", with(0x3C, Le32Bytes(0x10000))},
        {"no PE signature", with(0x40, "NE")},
        {"an optional header of another kind", with(optional, Le16Bytes(0x107))},
        {"an optional header beyond the file", with(0x40 + 20, Le16Bytes(0xFFFF))},
        {"a table beyond the file", with(security + 4, Le32Bytes(0x10000))},
        {"an entry shorter than its header", with(table, Le32Bytes(7))},
        {"an entry beyond the table", with(table, Le32Bytes(0x100))},
        {"a signature longer than its entry", with(table + 10, "\x01\x00")},
        {"a table ending inside an entry's header",
         with(security + 4, Le32Bytes(static_cast<std::uint32_t>(signedPe.size() - table + 4)))
             .append(4, '\0')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodePeCertificates(c.bytes), std::nullopt) << c.name;
    }
}

// The signatures of the real binaries are whole DER objects whose certificates are what openssl
// finds in them.
TEST(PeCertificates, ReadsDebiansSignedBinaries) {
    const struct {
        const char* path;
        std::vector<std::string> issuers;
    } cases[] = {
        {"/usr/lib/shim/shimx64.efi.signed",
         {"CN = Microsoft Corporation UEFI CA 2011", "CN = Microsoft UEFI CA 2023"}},
        {"/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed", {"CN = Debian Secure Boot CA"}},
    };
    for (const auto& c : cases) {
        const auto signatures = DecodePeCertificates(ReadBytes(c.path));
        ASSERT_TRUE(signatures) << c.path << " (installed by scripts/install-deps.sh)";
        ASSERT_EQ(signatures->size(), c.issuers.size()) << c.path;
        for (std::size_t i = 0; i < signatures->size(); ++i) {
            const std::string& der = (*signatures)[i];
            // A SEQUENCE with a two-byte length that ends where the entry's content ends.
            ASSERT_GE(der.size(), 4u);
            EXPECT_EQ(der.substr(0, 2), "0\x82");
            EXPECT_EQ(
                4 + (static_cast<unsigned char>(der[2]) << 8 | static_cast<unsigned char>(der[3])),
                der.size());
            const TempFolder folder;
            std::ofstream(folder.path() / "signature.p7", std::ios::binary) << der;
            ASSERT_TRUE(RunIn(folder,
                              "openssl pkcs7 -inform DER -in signature.p7 -print_certs -noout "
                              ">issuers.txt; grep -c 'issuer=.*" +
                                  c.issuers[i] + "$' issuers.txt"))
                << c.path << " signature " << i;
        }
    }
}

TEST(SigningCas, TellsTheCaByThumbprintElseByName) {
    testing::Events events;
    testing::FakeFileSystem files(events);
    const auto db = DecodeSignatureLists(*testing::OvmfVariable(
        ReadBytes(testing::kOvmfVariables), "db", testing::kSecurityDatabaseGuid));
    ASSERT_TRUE(db && db->size() == 2) << "the ovmf package is not installed";
    const std::string pca2011 = *files.Sha1((*db)[0].data);
    const std::string uefiCa2011 = *files.Sha1((*db)[1].data);
    const std::wstring pcaName = L"Microsoft Windows Production PCA 2011";
    const struct {
        std::wstring issuer;
        std::string thumbprint;
        SigningCa expected;
    } cases[] = {
        {pcaName, pca2011, SigningCa::Pca2011},
        {L"Microsoft Corporation UEFI CA 2011", uefiCa2011, SigningCa::MicrosoftUefiCa2011},
        // The certificate decides: a known name on another certificate is not that CA.
        {pcaName, uefiCa2011, SigningCa::MicrosoftUefiCa2011},
        {pcaName, std::string(20, '\1'), SigningCa::Other},
        // Without the CA's certificate in the signature, its name is all there is.
        {pcaName, "", SigningCa::Pca2011},
        {L"Windows UEFI CA 2023", "", SigningCa::WindowsUefiCa2023},
        {L"Microsoft Corporation UEFI CA 2011", "", SigningCa::MicrosoftUefiCa2011},
        {L"Microsoft UEFI CA 2023", "", SigningCa::MicrosoftUefiCa2023},
        {L"Debian Secure Boot CA", "", SigningCa::Other},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClassifyIssuer(c.issuer, c.thumbprint), c.expected)
            << ToUtf8(c.issuer) << " with a thumbprint of " << c.thumbprint.size() << " bytes";
    }
}

TEST(SigningCas, TheBootManagerOnTheEspIsUnderThe2023CaWhenAnySignatureIs) {
    const Signer pca{L"Microsoft Windows", L"Microsoft Windows Production PCA 2011", ""};
    const Signer ca2023{L"Microsoft Windows", L"Windows UEFI CA 2023", ""};
    const Signer other{L"Debian Secure Boot Signer", L"Debian Secure Boot CA", ""};
    const struct {
        std::vector<Signer> signers;
        PresentSigner expected;
    } cases[] = {
        {{}, PresentSigner::Unknown},
        {{other}, PresentSigner::Unknown},
        {{other, pca}, PresentSigner::Pca2011},
        {{pca, ca2023}, PresentSigner::Ca2023},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PresentSignerOf(c.signers), c.expected) << c.signers.size() << " signers";
    }
}

}  // namespace
}  // namespace kestrix
