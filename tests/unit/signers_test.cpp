// Signatures of EFI binaries: the certificate table of Debian's Microsoft-signed shim and
// Debian-signed GRUB and of PE files laid out here, and the signers they name.
#include <gtest/gtest.h>

#include <cstdint>

#include "fakes.h"
#include "pe_image.h"
#include "secure_boot_data.h"
#include "secureboot/boot_manager_signers.h"
#include "secureboot/der.h"
#include "secureboot/pe_certificates.h"
#include "signature_lists.h"

namespace kestrix {
namespace {

using testing::Der;
using testing::Entry;
using testing::kEfiGuid;
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
    const std::string padded = first + std::string(1, '\0');
    const std::string pkcs7Guid("\x9d\xd2\xaf\x4a\xdf\x68\xee\x49\x8a\xa9\x34\x7d\x37\x56\x65\xa7",
                                16);
    const struct {
        const char* name;
        std::string pe;
        std::vector<std::string_view> expected;
        bool present = true;
        bool whole = true;
    } cases[] = {
        {"PE32+, two entries",
         Pe(kPe32Plus, Entry(kSignedData, first) + Entry(kSignedData, second)),
         {first, second}},
        {"PE32, the last entry without its padding",
         Pe(kPe32, Entry(kSignedData, first, Padding::None)),
         {first},
         true,
         false},
        {"padding counted in the entry's length",
         Pe(kPe32Plus, Entry(kSignedData, first, Padding::Counted) + Entry(kSignedData, second)),
         {padded, second}},
        {"an entry of another type passed over",
         Pe(kPe32Plus, Entry(kX509Certificate, first) + Entry(kSignedData, second)),
         {second}},
        {"a UEFI GUID entry of PKCS#7", Pe(kPe32Plus, Entry(kEfiGuid, pkcs7Guid + first)), {first}},
        {"a UEFI GUID entry of another type",
         Pe(kPe32Plus, Entry(kEfiGuid, std::string(16, '\1') + first)),
         {}},
        {"an entry shorter than its header",
         Pe(kPe32Plus, Entry(kSignedData, first) + Le32Bytes(7) + std::string(4, '\0')),
         {first},
         true,
         false},
        {"unsigned", Pe(kPe32Plus, ""), {}, false},
        {"no security directory", Pe(kPe32Plus, Entry(kSignedData, first), 4), {}, false},
    };
    for (const auto& c : cases) {
        const auto table = ReadCertificateTable(c.pe);
        ASSERT_TRUE(table) << c.name;
        EXPECT_EQ(table->signatures, c.expected) << c.name;
        EXPECT_EQ(table->present, c.present) << c.name;
        EXPECT_EQ(table->whole, c.whole) << c.name;
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
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadCertificateTable(c.bytes), std::nullopt) << c.name;
    }
}

// The signatures of the real binaries are whole DER objects whose certificates are what openssl
// finds in them.
TEST(PeCertificates, ReadsDebiansSignedBinaries) {
    const struct {
        const char* path;
        std::vector<std::string> issuers;
        std::vector<Signer> signers;
    } cases[] = {
        {"/usr/lib/shim/shimx64.efi.signed",
         {"CN = Microsoft Corporation UEFI CA 2011", "CN = Microsoft UEFI CA 2023"},
         {{L"Microsoft Windows UEFI Driver Publisher", L"Microsoft Corporation UEFI CA 2011"},
          {L"Microsoft UEFI CA 2023 signer", L"Microsoft UEFI CA 2023"}}},
        {"/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed",
         {"CN = Debian Secure Boot CA"},
         {{L"Debian Secure Boot Signer 2022 - grub2", L"Debian Secure Boot CA"}}},
    };
    for (const auto& c : cases) {
        const std::string pe = ReadBytes(c.path);
        const auto table = ReadCertificateTable(pe);
        ASSERT_TRUE(table && table->whole) << c.path << " (installed by scripts/install-deps.sh)";
        ASSERT_EQ(table->signatures.size(), c.issuers.size()) << c.path;
        for (std::size_t i = 0; i < table->signatures.size(); ++i) {
            std::string_view rest = table->signatures[i];
            const std::string der(TakeDer(rest, kDerSequence).value_or(DerElement{}).whole);
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
        EXPECT_EQ(SignersOf(pe), c.signers) << c.path;
    }
}

}  // namespace
}  // namespace kestrix
