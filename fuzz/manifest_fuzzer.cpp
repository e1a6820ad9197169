// Whatever a run folder's manifest.txt holds, reading it never fails badly, and a manifest that is
// read is written out again as one that reads back to the same items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "repair/manifest.h"

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
