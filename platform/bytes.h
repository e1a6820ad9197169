#pragma once
// Little-endian numbers in bytes read from outside (boot records, signature lists, PE files). The
// caller has checked that they lie inside the bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrix {

inline std::uint32_t Byte(std::string_view b, std::size_t at) {
    return static_cast<unsigned char>(b[at]);
}

inline std::uint32_t Le16(std::string_view b, std::size_t at) {
    return Byte(b, at) | Byte(b, at + 1) << 8;
}

inline std::uint32_t Le32(std::string_view b, std::size_t at) {
    return Le16(b, at) | Le16(b, at + 2) << 16;
}

inline std::uint64_t Le64(std::string_view b, std::size_t at) {
    return Le32(b, at) | static_cast<std::uint64_t>(Le32(b, at + 4)) << 32;
}

}  // namespace kestrix
