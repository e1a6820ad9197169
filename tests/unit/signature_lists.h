#pragma once
// Builds the bytes of UEFI signature databases for tests, as firmware stores them.
#include <cstdint>
#include <initializer_list>
#include <string>

namespace kestrix::testing {

inline const std::string kX509Type(
    "\xa1\x59\xc0\xa5\xe4\x94\xa7\x4a\x87\xb5\xab\x15\x5c\x2b\xf0\x72", 16);
inline const std::string kSha256Type(
    "\x26\x16\xc4\xc1\x4c\x50\x92\x40\xac\xa9\x41\xf9\x36\x93\x43\x28", 16);
inline const std::string kSha1Type(
    "\x12\xa5\x6c\x82\x10\xcf\xc9\x4a\xb1\x87\xbe\x01\x49\x66\x31\xbd", 16);
inline const std::string kX509Sha256Type(
    "\x92\xa4\xd2\x3b\xc0\x96\x79\x40\xb4\x20\xfc\xf9\x8e\xf1\x03\xed", 16);
// EFI_CERT_RSA2048_GUID, a kind the reader passes over.
inline const std::string kRsa2048Type(
    "\xe8\x66\x57\x3c\x9c\x26\x34\x4e\xaa\x14\xed\x77\x6e\x85\xb3\xb6", 16);
inline const std::string kOwner(16, '\x77');

// A number as length little-endian bytes.
inline std::string LeBytes(std::uint64_t value, int length) {
    std::string out;
    for (int i = 0; i < length; ++i) {
        out += static_cast<char>(value >> (8 * i));
    }
    return out;
}

inline std::string Le32Bytes(std::uint32_t value) { return LeBytes(value, 4); }

// One EFI_SIGNATURE_LIST of equal-sized entries, each prefixed with the owner GUID; header is
// the list's own header bytes.
inline std::string SignatureList(const std::string& type, std::initializer_list<std::string> data,
                                 const std::string& header = {}) {
    const std::size_t entrySize = 16 + (data.size() == 0 ? 0 : data.begin()->size());
    std::string body = header;
    for (const auto& d : data) {
        body += kOwner + d;
    }
    return type + Le32Bytes(static_cast<std::uint32_t>(28 + body.size())) +
           Le32Bytes(static_cast<std::uint32_t>(header.size())) +
           Le32Bytes(static_cast<std::uint32_t>(entrySize)) + body;
}

}  // namespace kestrix::testing
