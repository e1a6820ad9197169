#include "secureboot/firmware_trust.h"

#include <optional>
#include <string>
#include <vector>

#include "secureboot/signature_list.h"
#include "secureboot/signing_ca.h"

namespace kestrix {

namespace {

constexpr wchar_t kSecurityDatabase[] = L"{d719b2cb-3d3a-4596-a3bc-dad00e67656f}";

// The certificates of a signature database (db or dbx); a database that is not there holds none.
// Nothing when it cannot be read or decoded.
std::optional<std::vector<std::string>> Certificates(const FirmwareReader& firmware,
                                                     const wchar_t* name) {
    const VariableReading variable = firmware.ReadVariable(name, kSecurityDatabase);
    if (!variable) {
        return variable.error == kErrorVariableNotFound ? std::optional(std::vector<std::string>{})
                                                        : std::nullopt;
    }
    const auto entries = DecodeSignatureLists(variable.bytes);
    if (!entries) {
        return std::nullopt;
    }
    std::vector<std::string> certificates;
    for (const auto& entry : *entries) {
        if (entry.kind == SignatureKind::X509) {
            certificates.push_back(entry.data);
        }
    }
    return certificates;
}

// Whether the certificates hold the CA's own certificate.
Known Holds(const std::optional<std::vector<std::string>>& certificates, SigningCa ca,
            const Files& files) {
    if (!certificates) {
        return Known::Unknown;
    }
    for (const auto& certificate : *certificates) {
        const auto thumbprint = files.Sha1(certificate);
        if (!thumbprint) {
            return Known::Unknown;
        }
        if (CaOfThumbprint(*thumbprint) == ca) {
            return Known::Yes;
        }
    }
    return Known::No;
}

SecureBoot SecureBootState(const FirmwareReader& firmware) {
    const VariableReading variable = firmware.ReadVariable(L"SecureBoot", kGlobalVariables);
    if (!variable) {
        return variable.error == kErrorVariableNotFound ? SecureBoot::Off : SecureBoot::Unknown;
    }
    if (variable.bytes == std::string(1, '\1')) {
        return SecureBoot::On;
    }
    return variable.bytes == std::string(1, '\0') ? SecureBoot::Off : SecureBoot::Unknown;
}

}  // namespace

FirmwareTrust ReadFirmwareTrust(const FirmwareReader& firmware, const Files& files) {
    if (firmware.RunningFirmware().firmware != Firmware::Uefi) {
        return {};
    }
    const auto db = Certificates(firmware, L"db");
    return {SecureBootState(firmware), Holds(db, SigningCa::Pca2011, files),
            Holds(db, SigningCa::WindowsUefiCa2023, files),
            Holds(Certificates(firmware, L"dbx"), SigningCa::Pca2011, files)};
}

PresentSigner PresentSignerOf(const std::vector<Signer>& signers) {
    PresentSigner present = PresentSigner::Unknown;
    for (const auto& signer : signers) {
        switch (ClassifyIssuer(signer.issuer, signer.issuerThumbprint)) {
            case SigningCa::WindowsUefiCa2023:
                return PresentSigner::Ca2023;
            case SigningCa::Pca2011:
                present = PresentSigner::Pca2011;
                break;
            default:
                break;
        }
    }
    return present;
}

BootManagerChoice ChooseBootManager(const FirmwareTrust& trust, PresentSigner present,
                                    bool targetHasEfiEx) {
    if (trust.secureBoot != SecureBoot::On) {
        return BootManagerChoice::AsToday;
    }
    const auto only2023 =
        targetHasEfiEx ? BootManagerChoice::BootEx : BootManagerChoice::RefuseNotUpdated;
    const Known pca = trust.dbTrustsPca2011;
    const Known ca2023 = trust.dbTrustsCa2023;
    if (trust.dbxRevokesPca2011 == Known::Yes) {
        // A db without the 2023 CA starts neither boot manager.
        return ca2023 == Known::No ? BootManagerChoice::Undetermined : only2023;
    }
    if (ca2023 == Known::Yes && pca == Known::No) {
        return only2023;
    }
    if (pca == Known::Yes && ca2023 == Known::No) {
        return BootManagerChoice::Plain;
    }
    if (pca == Known::Yes && ca2023 == Known::Yes) {
        // Both start. The 2023 one is kept where the PC already starts it, and taken where dbx
        // cannot be read (it may revoke PCA 2011); otherwise the PC stays with the one it knows.
        if (targetHasEfiEx &&
            (present == PresentSigner::Ca2023 || trust.dbxRevokesPca2011 == Known::Unknown)) {
            return BootManagerChoice::BootEx;
        }
        if (trust.dbxRevokesPca2011 == Known::No) {
            return BootManagerChoice::Plain;
        }
    }
    return BootManagerChoice::Undetermined;
}

}  // namespace kestrix
