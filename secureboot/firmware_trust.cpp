#include "secureboot/firmware_trust.h"

#include <string>
#include <vector>

#include "secureboot/signature_list.h"
#include "secureboot/windows_uefi_ca_2023.h"

namespace kestrix {

namespace {

constexpr wchar_t kSecurityDatabase[] = L"{d719b2cb-3d3a-4596-a3bc-dad00e67656f}";

// The entries of a signature database (db or dbx); a database that is not there holds none.
// Nothing when it cannot be read or decoded.
std::optional<std::vector<SignatureEntry>> Database(const FirmwareReader& firmware,
                                                    const wchar_t* name) {
    const VariableReading variable = firmware.ReadVariable(name, kSecurityDatabase);
    if (!variable) {
        return variable.error == kErrorVariableNotFound
                   ? std::optional(std::vector<SignatureEntry>{})
                   : std::nullopt;
    }
    return DecodeSignatureLists(variable.bytes);
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

FirmwareTrust ReadFirmwareTrust(const FirmwareReader& firmware) {
    if (firmware.RunningFirmware().firmware != Firmware::Uefi) {
        return {};
    }
    return {SecureBootState(firmware), {Database(firmware, L"db"), Database(firmware, L"dbx")}};
}

bool SignedUnderCa2023(std::string_view pe, const Signatures& signatures) {
    const SecurityDatabases onlyCa2023{
        std::vector<SignatureEntry>{{SignatureKind::X509, std::string(kWindowsUefiCa2023)}},
        std::vector<SignatureEntry>{}};
    const auto verdict = JudgeImage(pe, onlyCa2023, signatures);
    return verdict.verdict == Verdict::Allowed && verdict.reason == VerdictReason::DbCertificate;
}

BootManagerChoice ChooseBootManager(const BootManagerChoiceInput& input) {
    if (input.secureBoot != SecureBoot::On) {
        // Without the firmware's answer the boot manager it starts now is the best witness.
        if (!input.present2023) {
            return BootManagerChoice::Plain;
        }
        return input.updated ? BootManagerChoice::BootEx : BootManagerChoice::KeepPresent;
    }
    const auto verdictOfUpdated = input.updated ? input.updated->verdict : Verdict::Refused;
    const bool plain = input.plain.verdict == Verdict::Allowed;
    const bool updated = verdictOfUpdated == Verdict::Allowed;
    if (plain && updated) {
        return input.present2023 ? BootManagerChoice::BootEx : BootManagerChoice::Plain;
    }
    if (updated) {
        return BootManagerChoice::BootEx;
    }
    if (plain) {
        // The ESP's 2023-signed boot manager is not replaced on a guess.
        return input.present2023 && verdictOfUpdated == Verdict::Unknown
                   ? BootManagerChoice::Undetermined
                   : BootManagerChoice::Plain;
    }
    return input.plain.verdict == Verdict::Unknown || verdictOfUpdated == Verdict::Unknown
               ? BootManagerChoice::Undetermined
               : BootManagerChoice::Neither;
}

}  // namespace kestrix
