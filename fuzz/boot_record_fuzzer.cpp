// Whatever a volume's first sector holds, decoding it never fails badly, and what it accepts as a
// file system has numbers the restore can rely on: a sector size from 512 to 4096 that is a power
// of two, a boot area that lies inside the volume. What it rejects carries no numbers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "repair/boot_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto record =
        kestrix::DecodeBootRecord(std::string_view(reinterpret_cast<const char*>(data), size));
    if (record.kind == kestrix::FileSystemKind::kUnknown) {
        if (record != kestrix::BootRecord{}) {
            std::abort();
        }
        return 0;
    }
    const auto sector = record.bytesPerSector;
    if (sector < 512 || sector > 4096 || (sector & (sector - 1)) != 0 ||
        record.reservedSectors == 0 || record.totalSectors <= record.reservedSectors) {
        std::abort();
    }
    return 0;
}
