#include "secureboot/der.h"

namespace kestrix {

std::optional<DerElement> TakeDer(std::string_view& bytes) {
    if (bytes.size() < 2 || (bytes[0] & 0x1F) == 0x1F) {
        return std::nullopt;
    }
    std::uint64_t length = static_cast<unsigned char>(bytes[1]);
    std::size_t header = 2;
    if (length >= 0x80) {
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || bytes.size() < 2 + count) {
            return std::nullopt;
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = length << 8 | static_cast<unsigned char>(bytes[2 + i]);
        }
        header += count;
    }
    if (length > bytes.size() - header) {
        return std::nullopt;
    }
    const DerElement element{static_cast<std::uint8_t>(bytes[0]), bytes.substr(0, header + length),
                             bytes.substr(header, length)};
    bytes.remove_prefix(header + length);
    return element;
}

std::optional<DerElement> TakeDer(std::string_view& bytes, std::uint8_t tag) {
    std::string_view rest = bytes;
    auto element = TakeDer(rest);
    if (!element || element->tag != tag) {
        return std::nullopt;
    }
    bytes = rest;
    return element;
}

}  // namespace kestrix
