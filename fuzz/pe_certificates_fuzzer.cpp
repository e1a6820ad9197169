// Whatever bytes a file holds, reading its certificate table never fails badly, and the
// signatures it gives are parts of those bytes, each behind its own 8-byte entry header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "secureboot/pe_certificates.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto signatures = kestrix::DecodePeCertificates(bytes);
    if (!signatures) {
        return 0;
    }
    std::size_t total = 0;
    for (const auto& signature : *signatures) {
        if (bytes.find(signature) == std::string_view::npos) {
            std::abort();
        }
        total += 8 + signature.size();
    }
    if (total > size) {
        std::abort();
    }
    return 0;
}
