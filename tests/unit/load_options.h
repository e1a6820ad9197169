#pragma once
// Firmware boot entries (EFI_LOAD_OPTION) built node by node, as firmware and Windows write them.
#include <cstdint>
#include <string>
#include <string_view>

#include "signature_lists.h"

namespace kestrix::testing {

inline std::string Ucs2(std::u16string_view text) {
    std::string bytes;
    for (const char16_t c : text) {
        bytes += LeBytes(c, 2);
    }
    return bytes + LeBytes(0, 2);
}

inline std::string PathNode(int type, int subtype, const std::string& data) {
    return std::string{static_cast<char>(type), static_cast<char>(subtype)} +
           LeBytes(4 + data.size(), 2) + data;
}

// A hard drive node: signature kind 2 names a GPT partition GUID, 1 an MBR disk signature.
inline std::string HardDriveNode(std::uint32_t number, const std::string& signature, int kind) {
    return PathNode(4, 1,
                    LeBytes(number, 4) + LeBytes(2048, 8) + LeBytes(204800, 8) +
                        (signature + std::string(16, '\0')).substr(0, 16) +
                        std::string{static_cast<char>(kind == 2 ? 2 : 1), static_cast<char>(kind)});
}

inline std::string FileNode(std::u16string_view path) {
    return PathNode(4, 4, Ucs2(path));
}

inline const std::string kEndOfPath = PathNode(0x7F, 0xFF, "");

inline std::string LoadOptionBytes(std::uint32_t attributes, std::u16string_view description,
                                   const std::string& path) {
    return LeBytes(attributes, 4) + LeBytes(path.size(), 2) + Ucs2(description) + path;
}

// The unique partition GUID of Windows' ESP in the examples, as stored.
inline const std::string kEspGuid(
    "\x28\x73\x2a\xc1\x1f\xf8\xd2\x11\xba\x4b\x00\xa0\xc9\x3e\xc9\x3b", 16);

}  // namespace kestrix::testing
