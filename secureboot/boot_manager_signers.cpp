#include "secureboot/boot_manager_signers.h"

#include "secureboot/pe_certificates.h"
#include "secureboot/signing_ca.h"

namespace kestrix {

namespace {

// Whether the firmware trusts the CA, and whether it revokes it.
std::pair<Known, Known> TrustOf(const FirmwareTrust& trust, SigningCa ca) {
    switch (ca) {
        case SigningCa::Pca2011:
            return {trust.dbTrustsPca2011, trust.dbxRevokesPca2011};
        case SigningCa::WindowsUefiCa2023:
            // Nothing revokes the 2023 CA.
            return {trust.dbTrustsCa2023, Known::No};
        default:
            return {Known::Unknown, Known::Unknown};
    }
}

const wchar_t* KnownText(Known known) {
    return known == Known::Yes ? L"是" : known == Known::No ? L"否" : L"未知";
}

}  // namespace

std::vector<std::wstring> TrustLines(const FirmwareTrust& trust) {
    return {std::wstring(L"安全启动（Secure Boot）：") +
                (trust.secureBoot == SecureBoot::On    ? L"开启"
                 : trust.secureBoot == SecureBoot::Off ? L"关闭"
                                                       : L"未知"),
            std::wstring(L"  固件信任 Microsoft Windows Production PCA 2011（db）：") +
                KnownText(trust.dbTrustsPca2011),
            std::wstring(L"  固件信任 Windows UEFI CA 2023（db）：") + KnownText(trust.dbTrustsCa2023),
            std::wstring(L"  固件吊销 Microsoft Windows Production PCA 2011（dbx）：") +
                KnownText(trust.dbxRevokesPca2011)};
}

std::optional<std::vector<Signer>> SignersOfFile(const Files& files, const Signatures& signatures,
                                                 const std::wstring& path) {
    std::string bytes;
    if (!files.ReadWholeFile(path, bytes)) {
        return std::nullopt;
    }
    return SignersOf(signatures, bytes);
}

std::optional<std::vector<Signer>> SignersOf(const Signatures& signatures, std::string_view pe) {
    const auto blobs = DecodePeCertificates(pe);
    if (!blobs) {
        return std::nullopt;
    }
    std::vector<Signer> signers;
    for (const auto& blob : *blobs) {
        for (auto& signer : signatures.SignersOf(blob)) {
            signers.push_back(std::move(signer));
        }
    }
    return signers;
}

std::wstring SignersText(const std::vector<Signer>& signers) {
    if (signers.empty()) {
        return L"无签名";
    }
    std::wstring text;
    for (const auto& signer : signers) {
        text += (text.empty() ? L"" : L"；") + (signer.subject.empty() ? L"?" : signer.subject) +
                L"（" + (signer.issuer.empty() ? L"?" : signer.issuer) + L" 颁发）";
    }
    return text;
}

Known AcceptedByFirmware(const FirmwareTrust& trust, const std::vector<Signer>& signers) {
    bool trusted = false;
    bool unknown = false;
    for (const auto& signer : signers) {
        const auto [inDb, inDbx] = TrustOf(trust, ClassifyIssuer(signer.issuer, signer.issuerThumbprint));
        if (inDbx == Known::Yes) {
            return Known::No;
        }
        trusted = trusted || (inDb == Known::Yes && inDbx == Known::No);
        unknown = unknown || inDb == Known::Unknown || inDbx == Known::Unknown;
    }
    if (unknown) {
        return Known::Unknown;
    }
    return trusted ? Known::Yes : Known::No;
}

}  // namespace kestrix
