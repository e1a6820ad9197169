#pragma once
// Which of Windows' boot manager signatures the firmware of the running PC accepts, read from
// its Secure Boot variables, and which boot manager a UEFI repair may therefore install.
#include <vector>

#include "platform/files.h"
#include "platform/firmware.h"
#include "platform/signatures.h"

namespace kestrix {

enum class SecureBoot { Unknown, Off, On };

// An answer the variables give, or Unknown when they could not be read or made no sense.
enum class Known { Unknown, No, Yes };

struct FirmwareTrust {
    SecureBoot secureBoot = SecureBoot::Unknown;
    // db holds "Microsoft Windows Production PCA 2011" / "Windows UEFI CA 2023".
    Known dbTrustsPca2011 = Known::Unknown;
    Known dbTrustsCa2023 = Known::Unknown;
    // dbx holds the PCA 2011 certificate itself, which revokes everything signed under it.
    Known dbxRevokesPca2011 = Known::Unknown;

    bool operator==(const FirmwareTrust&) const = default;
};

// Everything is Unknown unless the running Windows was started through UEFI. A missing
// SecureBoot variable is a firmware without Secure Boot (Off); a missing db or dbx holds nothing.
// files computes the certificates' thumbprints.
FirmwareTrust ReadFirmwareTrust(const FirmwareReader& firmware, const Files& files);

// Under which CA the boot manager now on the ESP is signed.
enum class PresentSigner { Unknown, Pca2011, Ca2023 };

// Ca2023 when one of the signatures is under Windows UEFI CA 2023, else Pca2011 when one is
// under PCA 2011.
PresentSigner PresentSignerOf(const std::vector<Signer>& signers);

enum class BootManagerChoice {
    // Secure Boot is off or cannot be told: the firmware checks no signature.
    AsToday,
    // The boot manager of \Windows\Boot\EFI, signed under PCA 2011.
    Plain,
    // The boot manager of \Windows\Boot\EFI_EX, signed under Windows UEFI CA 2023.
    BootEx,
    // Only a 2023-signed boot manager will start, and the Windows being repaired has none: it must
    // be updated first.
    RefuseNotUpdated,
    // Secure Boot is on, but the variables do not tell which boot manager the firmware accepts
    // (db unreadable, or trusting neither CA): installing either could leave the PC unbootable.
    Undetermined,
};

// targetHasEfiEx: the Windows being repaired has \Windows\Boot\EFI_EX.
BootManagerChoice ChooseBootManager(const FirmwareTrust& trust, PresentSigner present,
                                    bool targetHasEfiEx);

}  // namespace kestrix
