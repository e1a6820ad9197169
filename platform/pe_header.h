#pragma once
// The headers of a PE file (an exe, a DLL, an EFI application) as far as its bytes hold them:
// where its sections are described and which data directories it has.
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrix {

// The machine types of a PE file's header.
constexpr std::uint16_t kMachineX86 = 0x014C;
constexpr std::uint16_t kMachineX64 = 0x8664;
constexpr std::uint16_t kMachineArm64 = 0xAA64;

struct PeHeader {
    std::uint16_t machine = 0;
    std::uint32_t sections = 0;
    // Where the section table starts: right after the optional header.
    std::uint64_t sectionTable = 0;
    // Where the optional header starts, where its data directories start, and the size of all
    // headers together (SizeOfHeaders) as it records it.
    std::uint64_t optionalHeader = 0;
    std::uint64_t directoryTable = 0;
    std::uint32_t sizeOfHeaders = 0;
    // Each data directory the header counts and holds: its address and its size.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> directories;
};

// Nothing unless the bytes begin with an MZ header that leads to a "PE" signature whose optional
// header (PE32 or PE32+) lies whole inside them.
std::optional<PeHeader> DecodePeHeader(std::string_view pe);

// The machine type alone: it needs only the MZ header and the "PE" signature with the field
// after it, as the first sectors of a file hold them.
std::optional<std::uint16_t> PeMachine(std::string_view pe);

}  // namespace kestrix
