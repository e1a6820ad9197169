// Whatever bytes a firmware variable holds, decoding it never fails badly, and what it accepts
// fits in those bytes: every entry's data, with its owner GUID and its list's header, lies inside
// them, and a SHA-256 entry is a whole digest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "secureboot/signature_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto entries =
        kestrix::DecodeSignatureLists(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!entries) {
        return 0;
    }
    constexpr std::size_t kListHeader = 28;
    constexpr std::size_t kOwner = 16;
    std::size_t least = entries->empty() ? 0 : kListHeader;
    for (const auto& entry : *entries) {
        if (entry.kind == kestrix::SignatureKind::Sha256 && entry.data.size() != 32) {
            std::abort();
        }
        least += kOwner + entry.data.size();
    }
    if (least > size) {
        std::abort();
    }
    return 0;
}
