#pragma once
// Who signed a boot manager on a drive, and what the firmware's Secure Boot trust makes of it.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/signatures.h"
#include "secureboot/firmware_trust.h"

namespace kestrix {

// Every signer of a PE file's bytes, in its order; empty for an unsigned file; nothing for bytes
// that are no PE file.
std::optional<std::vector<Signer>> SignersOf(const Signatures& signatures, std::string_view pe);
// The same for the file at path; nothing too when it cannot be read.
std::optional<std::vector<Signer>> SignersOfFile(const Files& files, const Signatures& signatures,
                                                 const std::wstring& path);

// "Microsoft Windows（Microsoft Windows Production PCA 2011 颁发）；…", or "无签名".
std::wstring SignersText(const std::vector<Signer>& signers);

// The firmware's trust as a report names it: Secure Boot on, off or unknown, then a line each for
// db's PCA 2011 and 2023 CA and dbx's PCA 2011.
std::vector<std::wstring> TrustLines(const FirmwareTrust& trust);

// Whether the firmware starts it: no when a signer's CA is revoked or no signer's CA is trusted;
// unknown when the trust or a signer's CA is not known.
Known AcceptedByFirmware(const FirmwareTrust& trust, const std::vector<Signer>& signers);

}  // namespace kestrix
