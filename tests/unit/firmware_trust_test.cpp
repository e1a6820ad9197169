// What the Secure Boot variables hold, read from the firmware store that Debian's ovmf ships and
// lists made by efitools; and the boot manager a repair may install from the verdicts on the
// Windows' two.
#include "secureboot/firmware_trust.h"

#include <gtest/gtest.h>

#include <ostream>

#include "fakes.h"
#include "secure_boot_data.h"
#include "secureboot/signature_list.h"
#include "signature_lists.h"

namespace kestrix {

void PrintTo(const FirmwareTrust& t, std::ostream* os) {
    const auto count = [](const std::optional<std::vector<SignatureEntry>>& d) {
        return d ? static_cast<long>(d->size()) : -1L;
    };
    *os << "{secure boot " << static_cast<int>(t.secureBoot) << ", db " << count(t.databases.db)
        << " entries, dbx " << count(t.databases.dbx) << " entries}";
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

    // A dbx that revokes PCA 2011 as Microsoft's update does: its certificate beside the digests,
    // listed by efitools.
    const TempFolder folder;
    std::ofstream(folder.path() / "pca.der", std::ios::binary) << pca2011;
    ASSERT_TRUE(RunIn(folder,
                      "openssl x509 -inform DER -in pca.der -out pca.pem && "
                      "cert-to-efi-sig-list pca.pem pca.esl"))
        << "openssl or efitools is missing";
    const std::string revokingDbx = *ovmfDbx + ReadBytes(folder.path() / "pca.esl");
    const auto db = DecodeSignatureLists(*ovmfDb);
    const auto dbx = DecodeSignatureLists(*ovmfDbx);
    const auto revoking = DecodeSignatureLists(revokingDbx);
    ASSERT_TRUE(revoking && revoking->size() == dbx->size() + 1 &&
                revoking->back() == (SignatureEntry{SignatureKind::X509, pca2011}));
    using Entries = std::optional<std::vector<SignatureEntry>>;
    const Entries none = std::vector<SignatureEntry>{};

    const Variable on{std::string(1, '\1')};
    const Variable absent{};
    const struct {
        const char* name;
        Firmware firmware;
        Variable secureBoot, db, dbx;
        FirmwareTrust expected;
    } cases[] = {
        {"OVMF as shipped", Firmware::Uefi, on, {ovmfDb}, {ovmfDbx}, {SecureBoot::On, {db, dbx}}},
        {"started through BIOS", Firmware::Bios, on, {ovmfDb}, {ovmfDbx}, {}},
        {"dbx revokes PCA 2011",
         Firmware::Uefi,
         on,
         {ovmfDb},
         {revokingDbx},
         {SecureBoot::On, {db, revoking}}},
        {"Secure Boot off",
         Firmware::Uefi,
         {std::string(1, '\0')},
         {ovmfDb},
         {ovmfDbx},
         {SecureBoot::Off, {db, dbx}}},
        {"no Secure Boot in the firmware, no databases",
         Firmware::Uefi,
         absent,
         absent,
         absent,
         {SecureBoot::Off, {none, none}}},
        {"SecureBoot unreadable",
         Firmware::Uefi,
         {std::nullopt, kPrivilegeNotHeld},
         {ovmfDb},
         {ovmfDbx},
         {SecureBoot::Unknown, {db, dbx}}},
        {"SecureBoot of another value",
         Firmware::Uefi,
         {std::string(1, '\2')},
         {ovmfDb},
         {ovmfDbx},
         {SecureBoot::Unknown, {db, dbx}}},
        {"db cut short",
         Firmware::Uefi,
         on,
         {ovmfDb->substr(0, ovmfDb->size() - 1)},
         {ovmfDbx},
         {SecureBoot::On, {std::nullopt, dbx}}},
        {"db unreadable",
         Firmware::Uefi,
         on,
         {std::nullopt, kAccessDenied},
         {ovmfDbx},
         {SecureBoot::On, {std::nullopt, dbx}}},
        {"dbx unreadable",
         Firmware::Uefi,
         on,
         {ovmfDb},
         {std::nullopt, kAccessDenied},
         {SecureBoot::On, {db, std::nullopt}}},
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
        EXPECT_EQ(ReadFirmwareTrust(machine), c.expected) << c.name;
    }
}

TEST(FirmwareTrust, ChoosesABootManagerFromTheVerdicts) {
    using enum BootManagerChoice;
    constexpr auto kOn = SecureBoot::On;
    const ImageVerdict allowed{Verdict::Allowed, VerdictReason::DbCertificate, L"a CA"};
    const ImageVerdict refused{Verdict::Refused, VerdictReason::DbxHash, {}};
    const ImageVerdict unknown{};
    const std::optional<ImageVerdict> none;
    const struct {
        const char* name;
        BootManagerChoiceInput input;
        BootManagerChoice expected;
    } cases[] = {
        {"both allowed, a 2023 boot manager now", {kOn, allowed, allowed, true}, BootEx},
        {"both allowed, another boot manager now", {kOn, allowed, allowed, false}, Plain},
        {"only the plain one allowed", {kOn, allowed, refused, true}, Plain},
        {"only the plain one, the Windows has no EFI_EX", {kOn, allowed, none, true}, Plain},
        {"only the EFI_EX one allowed", {kOn, refused, allowed, false}, BootEx},
        {"neither allowed", {kOn, refused, refused, true}, Neither},
        {"the plain one refused, the Windows has no EFI_EX", {kOn, refused, none, false}, Neither},
        {"the EFI_EX one unknown, a 2023 boot manager now",
         {kOn, allowed, unknown, true},
         Undetermined},
        {"the EFI_EX one unknown, another boot manager now", {kOn, allowed, unknown, false}, Plain},
        {"the plain one unknown", {kOn, unknown, refused, false}, Undetermined},
        {"db or dbx unreadable", {kOn, unknown, unknown, false}, Undetermined},
        {"Secure Boot off, a 2023 boot manager now",
         {SecureBoot::Off, refused, allowed, true},
         BootEx},
        {"Secure Boot unknown, a 2023 boot manager now",
         {SecureBoot::Unknown, unknown, unknown, true},
         BootEx},
        {"Secure Boot unknown, a 2023 boot manager now, the Windows has no EFI_EX",
         {SecureBoot::Unknown, unknown, none, true},
         KeepPresent},
        {"Secure Boot off, another boot manager now",
         {SecureBoot::Off, refused, allowed, false},
         Plain},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseBootManager(c.input), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace kestrix
