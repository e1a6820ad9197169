#pragma once
// PE files laid out for tests: headers, a machine type and a certificate table of signatures.
#include <cstdint>
#include <string>

#include "signature_lists.h"

namespace kestrix::testing {

inline constexpr std::uint16_t kPe32 = 0x10B;
inline constexpr std::uint16_t kPe32Plus = 0x20B;
inline constexpr std::uint16_t kSignedData = 2;
inline constexpr std::uint16_t kX509Certificate = 1;
inline constexpr std::uint16_t kEfiGuid = 0x0EF1;

inline std::string Le16Bytes(std::uint16_t value) { return LeBytes(value, 2); }

// A DER SEQUENCE with a two-byte length, as signatures are.
inline std::string Der(const std::string& content) {
    return "0\x82" +
           std::string{static_cast<char>(content.size() >> 8), static_cast<char>(content.size())} +
           content;
}

// How a WIN_CERTIFICATE entry reaches the 8-byte alignment: not at all, with padding after the
// length it records, or with padding that the length counts.
enum class Padding { None, After, Counted };

inline std::string Entry(std::uint16_t type, const std::string& content,
                  Padding padding = Padding::After) {
    const std::size_t padded = (content.size() + 7) / 8 * 8;
    const std::size_t length = 8 + (padding == Padding::Counted ? padded : content.size());
    std::string entry = Le32Bytes(static_cast<std::uint32_t>(length)) + Le16Bytes(0x0200) +
                        Le16Bytes(type) + content;
    if (padding != Padding::None) {
        entry.append(padded - content.size(), '\0');
    }
    return entry;
}

// A PE file's headers with the given count of data directories, the certificate table after
// them; the security directory names the table's offset and size.
inline std::string Pe(std::uint16_t magic, const std::string& table, std::uint32_t directories = 16,
                      std::uint16_t machine = 0) {
    const std::size_t countAt = magic == kPe32 ? 92 : 108;
    std::string optional(countAt + 4 + 8 * directories, '\0');
    optional.replace(0, 2, Le16Bytes(magic));
    optional.replace(countAt, 4, Le32Bytes(directories));
    std::string pe = "MZ" + std::string(0x3A, '\0') + Le32Bytes(0x40) + "PE" + std::string(2, '\0');
    std::string file = Le16Bytes(machine) + std::string(18, '\0');
    file.replace(16, 2, Le16Bytes(static_cast<std::uint16_t>(optional.size())));
    pe += file;
    const std::size_t tableAt = pe.size() + optional.size();
    if (directories > 4) {
        optional.replace(countAt + 4 + 4 * 8, 8,
                         Le32Bytes(table.empty() ? 0 : static_cast<std::uint32_t>(tableAt)) +
                             Le32Bytes(static_cast<std::uint32_t>(table.size())));
    }
    return pe + optional + table;
}

}  // namespace kestrix::testing
