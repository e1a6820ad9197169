#pragma once
#include "platform/signatures.h"

namespace kestrix::win32 {

// Signatures decoded by crypt32.
class Win32Signatures final : public Signatures {
  public:
    std::vector<Signer> SignersOf(const std::string& pkcs7) const override;
};

}  // namespace kestrix::win32
