#pragma once
// What the firmware of the running PC starts: its Secure Boot state and signature databases, the
// verdict they give an EFI file, and which boot manager a UEFI repair may therefore install.
#include <optional>
#include <string>
#include <string_view>

#include "platform/firmware.h"
#include "platform/signatures.h"
#include "secureboot/image_verdict.h"

namespace kestrix {

enum class SecureBoot { Unknown, Off, On };

struct FirmwareTrust {
    SecureBoot secureBoot = SecureBoot::Unknown;
    SecurityDatabases databases;

    bool operator==(const FirmwareTrust&) const = default;
};

// Everything is unknown unless the running Windows was started through UEFI. A missing
// SecureBoot variable is a firmware without Secure Boot (Off); a missing db or dbx holds nothing.
FirmwareTrust ReadFirmwareTrust(const FirmwareReader& firmware);

// Whether the boot manager's signature verifies up to Windows UEFI CA 2023, the certificate the
// program carries.
bool SignedUnderCa2023(std::string_view pe, const Signatures& signatures);

enum class BootManagerChoice {
    // \Windows\Boot\EFI's boot manager (plain bcdboot).
    Plain,
    // \Windows\Boot\EFI_EX's boot manager (bcdboot /bootex).
    BootEx,
    // The firmware starts neither boot manager of the Windows (a verdict is a refusal).
    Neither,
    // A verdict is unknown: installing either could leave the PC unbootable.
    Undetermined,
    // Without Secure Boot's answer the ESP's 2023-signed boot manager is kept, and the Windows has
    // none to put in its place.
    KeepPresent,
};

struct BootManagerChoiceInput {
    SecureBoot secureBoot = SecureBoot::Unknown;
    // The verdicts on the Windows' two boot managers; nothing for the EFI_EX one when the Windows
    // has none.
    ImageVerdict plain;
    std::optional<ImageVerdict> updated;
    // The boot manager on the ESP now is signed under Windows UEFI CA 2023.
    bool present2023 = false;
};

BootManagerChoice ChooseBootManager(const BootManagerChoiceInput& input);

}  // namespace kestrix
