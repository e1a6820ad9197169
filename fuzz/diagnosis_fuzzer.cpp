// Whatever bytes a disk, a volume or a file holds, naming them never fails badly: the MBR namer
// calls the code none exactly when its 440 bytes are zeros, the volume namer reports the file
// system the boot record decoder finds, and a version read from a file does not change when bytes
// are added after its end, since every offset is read from the file's start.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "diagnosis/boot_code.h"
#include "installed/hibernation.h"
#include "installed/version_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const auto code = kestrix::NameBootCode(bytes);
    const bool zeros = size >= 440 && std::all_of(data, data + 440, [](auto b) { return b == 0; });
    if ((code.kind == kestrix::BootCodeKind::kNone) != zeros || code.name.empty()) {
        std::abort();
    }

    const auto volume = kestrix::NameVolumeBootRecord(bytes);
    const auto fileSystem = volume.kind == kestrix::VolumeBootKind::kBitLocker
                                ? kestrix::FileSystemKind::kUnknown
                                : kestrix::DecodeBootRecord(bytes.substr(0, 8192)).kind;
    if (volume.fileSystem != fileSystem || volume.name.empty()) {
        std::abort();
    }

    const auto version = kestrix::DecodeVersionResource(bytes);
    if (version &&
        (!bytes.starts_with("MZ") ||
         kestrix::DecodeVersionResource(std::string(bytes) + std::string(64, '\xCC')) != version)) {
        std::abort();
    }

    static_cast<void>(kestrix::IsHibernated(bytes));
    return 0;
}
