#pragma once
// Who signed an EFI file, and the firmware's verdict on it, as the log and the diagnosis name them.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "secureboot/firmware_trust.h"

namespace kestrix {

// The common names of a signing certificate (empty when the signature does not carry it) and
// of its issuer; only a name, never a reason to trust.
struct Signer {
    std::wstring subject;
    std::wstring issuer;

    bool operator==(const Signer&) const = default;
};

// The signer of each signature in a PE file's certificate table, in its order; empty for an
// unsigned file; nothing for bytes that are no PE file.
std::optional<std::vector<Signer>> SignersOf(std::string_view pe);

// "Microsoft Windows（Microsoft Windows Production PCA 2011 颁发）；…", or "无签名".
std::wstring SignersText(const std::vector<Signer>& signers);

// The firmware's trust as a report names it: Secure Boot on, off or unknown, then what db and
// dbx hold.
std::vector<std::wstring> TrustLines(const FirmwareTrust& trust);

// Why the verdict is what it is: "文件哈希在 db 中", "签名证书已被 dbx 吊销（…）"...
std::wstring VerdictReasonText(const ImageVerdict& verdict);

// "允许（…）", "拒绝（…）" or "无法判断（…）".
std::wstring VerdictText(const ImageVerdict& verdict);

}  // namespace kestrix
