#pragma once
// Reads the version that a PE file (the kernel, ntoskrnl.exe) carries in its version resource,
// and the machine type of its header, without loading it.
#include <cstdint>
#include <optional>
#include <string_view>

#include "installed/windows_version.h"

namespace kestrix {

struct PeVersion {
    FileVersion fileVersion;
    std::uint16_t machine = 0;  // kMachineX86, kMachineX64, kMachineArm64 or another

    bool operator==(const PeVersion&) const = default;
};

// The bytes are the whole file. The version is the file version of the fixed part of the first
// version resource (type 16, its first name, its first language). Nothing when the file is not a
// PE image, has no version resource, or any offset or size on the way leads outside the file.
std::optional<PeVersion> DecodeVersionResource(std::string_view file);

}  // namespace kestrix
