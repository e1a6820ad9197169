// Whatever a run folder's manifest.txt holds, reading it never fails badly, and a manifest that is
// read is written out again as one that reads back to the same items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <tuple>

#include "repair/manifest.h"

namespace kestrix {

bool operator==(const ManifestItem& a, const ManifestItem& b) {
    return std::tie(a.kind, a.source, a.backup, a.length, a.sha256, a.attributes, a.identity) ==
           std::tie(b.kind, b.source, b.backup, b.length, b.sha256, b.attributes, b.identity);
}

}  // namespace kestrix

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring problem;
    const auto items =
        kestrix::ReadManifest(std::string_view(reinterpret_cast<const char*>(data), size), problem);
    if (!items) {
        if (problem.empty()) {
            std::abort();
        }
        return 0;
    }
    if (kestrix::ReadManifest(kestrix::ManifestText(*items), problem) != items) {
        std::abort();
    }
    return 0;
}
