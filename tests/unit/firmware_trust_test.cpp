// What the Secure Boot variables say about the boot manager's signature: real Microsoft
// certificates from the firmware store that Debian's ovmf ships, lists made by efitools, a
// look-alike certificate made by openssl; and the boot manager a repair may install for it.
#include "secureboot/firmware_trust.h"

#include <gtest/gtest.h>

#include <ostream>

#include "fakes.h"
#include "secure_boot_data.h"
#include "secureboot/signature_list.h"
#include "signature_lists.h"

namespace kestrix {

void PrintTo(const FirmwareTrust& t, std::ostream* os) {
    *os << "{secure boot " << static_cast<int>(t.secureBoot) << ", db PCA 2011 "
        << static_cast<int>(t.dbTrustsPca2011) << ", db CA 2023 "
        << static_cast<int>(t.dbTrustsCa2023) << ", dbx PCA 2011 "
        << static_cast<int>(t.dbxRevokesPca2011) << "}";
}

namespace {

using testing::Events;
using testing::FakeFileSystem;
using testing::kSecurityDatabaseGuid;
using testing::kX509Type;
using testing::OvmfVariable;
using testing::ReadBytes;
using testing::RunIn;
using testing::SignatureList;
using testing::TempFolder;

constexpr auto kUnknown = Known::Unknown;
constexpr auto kNo = Known::No;
constexpr auto kYes = Known::Yes;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kPrivilegeNotHeld = 1314;
const std::wstring kGlobal = L"{8be4df61-93ca-11d2-aa0d-00e098032b8c}";
const std::wstring kSecurity = L"{d719b2cb-3d3a-4596-a3bc-dad00e67656f}";

// A variable as a test sets it: its bytes, or the error reading it gives, or neither (absent).
struct Variable {
    std::optional<std::string> bytes;
    std::uint32_t error = 0;
};

TEST(FirmwareTrust, ReadsWhatDbAndDbxSayOfTheBootManagerCas) {
    const std::string store = ReadBytes(testing::kOvmfVariables);
    const auto ovmfDb = OvmfVariable(store, "db", kSecurityDatabaseGuid);
    const auto ovmfDbx = OvmfVariable(store, "dbx", kSecurityDatabaseGuid);
    ASSERT_TRUE(ovmfDb && ovmfDbx) << "the ovmf package is not installed";
    // OVMF's db: Microsoft Windows Production PCA 2011, then Microsoft Corporation UEFI CA 2011.
    const auto ovmfCertificates = DecodeSignatureLists(*ovmfDb);
    ASSERT_TRUE(ovmfCertificates && ovmfCertificates->size() == 2);
    const std::string pca2011 = (*ovmfCertificates)[0].data;
    const std::string uefiCa2011 = (*ovmfCertificates)[1].data;

    // A dbx that revokes PCA 2011 as Microsoft's update does: its certificate beside the digests,
    // listed by efitools; and a certificate that only bears the 2023 CA's name.
    const TempFolder folder;
    std::ofstream(folder.path() / "pca.der", std::ios::binary) << pca2011;
    ASSERT_TRUE(RunIn(folder,
                      "openssl x509 -inform DER -in pca.der -out pca.pem && "
                      "cert-to-efi-sig-list pca.pem pca.esl && "
                      "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -days 30 "
                      "-subj '/CN=Windows UEFI CA 2023' -outform DER -out lookalike.der"))
        << "openssl or efitools is missing";
    const std::string revokingDbx = *ovmfDbx + ReadBytes(folder.path() / "pca.esl");
    const std::string lookalike = ReadBytes(folder.path() / "lookalike.der");

    const Variable on{std::string(1, '\1')};
    const Variable absent{};
    const struct {
        const char* name;
        Firmware firmware;
        Variable secureBoot, db, dbx;
        FirmwareTrust expected;
    } cases[] = {
        {"OVMF as shipped",
         Firmware::Uefi,
         on,
         {ovmfDb},
         {ovmfDbx},
         {SecureBoot::On, kYes, kNo, kNo}},
        {"started through BIOS", Firmware::Bios, on, {ovmfDb}, {ovmfDbx}, {}},
        {"dbx revokes PCA 2011",
         Firmware::Uefi,
         on,
         {ovmfDb},
         {revokingDbx},
         {SecureBoot::On, kYes, kNo, kYes}},
        {"Secure Boot off",
         Firmware::Uefi,
         {std::string(1, '\0')},
         {ovmfDb},
         {ovmfDbx},
         {SecureBoot::Off, kYes, kNo, kNo}},
        {"no Secure Boot in the firmware, no databases",
         Firmware::Uefi,
         absent,
         absent,
         absent,
         {SecureBoot::Off, kNo, kNo, kNo}},
        {"SecureBoot unreadable",
         Firmware::Uefi,
         {std::nullopt, kPrivilegeNotHeld},
         {ovmfDb},
         {ovmfDbx},
         {SecureBoot::Unknown, kYes, kNo, kNo}},
        {"SecureBoot of another value",
         Firmware::Uefi,
         {std::string(1, '\2')},
         {ovmfDb},
         {ovmfDbx},
         {SecureBoot::Unknown, kYes, kNo, kNo}},
        {"db of other vendors' CA only",
         Firmware::Uefi,
         on,
         {SignatureList(kX509Type, {uefiCa2011})},
         {ovmfDbx},
         {SecureBoot::On, kNo, kNo, kNo}},
        {"a certificate that only bears the 2023 name",
         Firmware::Uefi,
         on,
         {*ovmfDb + SignatureList(kX509Type, {lookalike})},
         {ovmfDbx},
         {SecureBoot::On, kYes, kNo, kNo}},
        {"db cut short",
         Firmware::Uefi,
         on,
         {ovmfDb->substr(0, ovmfDb->size() - 1)},
         {ovmfDbx},
         {SecureBoot::On, kUnknown, kUnknown, kNo}},
        {"db unreadable",
         Firmware::Uefi,
         on,
         {std::nullopt, kAccessDenied},
         {ovmfDbx},
         {SecureBoot::On, kUnknown, kUnknown, kNo}},
        {"dbx unreadable",
         Firmware::Uefi,
         on,
         {ovmfDb},
         {std::nullopt, kAccessDenied},
         {SecureBoot::On, kYes, kNo, kUnknown}},
    };
    for (const auto& c : cases) {
        Events events;
        FakeFileSystem machine(events);
        machine.firmware = c.firmware;
        const auto set = [&](const std::wstring& name, const std::wstring& vendor,
                             const Variable& variable) {
            if (variable.bytes) {
                machine.variables[{name, vendor}] = *variable.bytes;
            } else if (variable.error != 0) {
                machine.variableErrors[{name, vendor}] = variable.error;
            }
        };
        set(L"SecureBoot", kGlobal, c.secureBoot);
        set(L"db", kSecurity, c.db);
        set(L"dbx", kSecurity, c.dbx);
        EXPECT_EQ(ReadFirmwareTrust(machine, machine), c.expected) << c.name;
    }
}

TEST(FirmwareTrust, ChoosesABootManagerTheFirmwareStarts) {
    using enum BootManagerChoice;
    constexpr auto kOn = SecureBoot::On;
    constexpr auto kPca = PresentSigner::Pca2011;
    constexpr auto k2023 = PresentSigner::Ca2023;
    constexpr auto kNone = PresentSigner::Unknown;
    const struct {
        const char* name;
        FirmwareTrust trust;
        PresentSigner present;
        bool hasEfiEx;
        BootManagerChoice expected;
    } cases[] = {
        {"Secure Boot off", {SecureBoot::Off, kNo, kYes, kYes}, kPca, true, AsToday},
        {"Secure Boot unknown", {SecureBoot::Unknown, kYes, kNo, kNo}, kPca, true, AsToday},
        {"PCA 2011 revoked", {kOn, kYes, kYes, kYes}, kPca, true, BootEx},
        {"PCA 2011 revoked, Windows not updated",
         {kOn, kYes, kYes, kYes},
         k2023,
         false,
         RefuseNotUpdated},
        {"PCA 2011 revoked, db unreadable", {kOn, kUnknown, kUnknown, kYes}, kNone, true, BootEx},
        {"PCA 2011 revoked, db without CA 2023", {kOn, kYes, kNo, kYes}, kPca, true, Undetermined},
        {"only CA 2023 trusted", {kOn, kNo, kYes, kNo}, kPca, true, BootEx},
        {"only CA 2023 trusted, Windows not updated",
         {kOn, kNo, kYes, kUnknown},
         kPca,
         false,
         RefuseNotUpdated},
        {"only PCA 2011 trusted", {kOn, kYes, kNo, kNo}, k2023, true, Plain},
        {"only PCA 2011 trusted, dbx unreadable", {kOn, kYes, kNo, kUnknown}, kNone, true, Plain},
        {"both, a 2023 boot manager now", {kOn, kYes, kYes, kNo}, k2023, true, BootEx},
        {"both, a 2023 boot manager now, Windows not updated",
         {kOn, kYes, kYes, kNo},
         k2023,
         false,
         Plain},
        {"both, a PCA 2011 boot manager now", {kOn, kYes, kYes, kNo}, kPca, true, Plain},
        {"both, no boot manager now", {kOn, kYes, kYes, kNo}, kNone, true, Plain},
        {"both, dbx unreadable", {kOn, kYes, kYes, kUnknown}, kPca, true, BootEx},
        {"both, dbx unreadable, Windows not updated",
         {kOn, kYes, kYes, kUnknown},
         kPca,
         false,
         Undetermined},
        {"neither trusted", {kOn, kNo, kNo, kNo}, kPca, true, Undetermined},
        {"db unreadable", {kOn, kUnknown, kUnknown, kNo}, kPca, true, Undetermined},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseBootManager(c.trust, c.present, c.hasEfiEx), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace kestrix
