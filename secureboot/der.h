#pragma once
// A reader of DER, the encoding of X.509 certificates and PKCS#7 signatures: one element at a
// time off the front of the bytes, definite lengths only.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrix {

// Tags of the elements the signatures use.
constexpr std::uint8_t kDerInteger = 0x02;
constexpr std::uint8_t kDerBitString = 0x03;
constexpr std::uint8_t kDerOctetString = 0x04;
constexpr std::uint8_t kDerOid = 0x06;
constexpr std::uint8_t kDerSequence = 0x30;
constexpr std::uint8_t kDerSet = 0x31;
// [0] and [1], constructed: explicit or implicit context tags.
constexpr std::uint8_t kDerContext0 = 0xA0;
constexpr std::uint8_t kDerContext1 = 0xA1;

struct DerElement {
    std::uint8_t tag = 0;
    // The element with its tag and length, and its content alone.
    std::string_view whole;
    std::string_view content;
};

// The element at the front of bytes, which it then leaves behind; nothing when it does not fit in
// them or has a tag of more than one byte or an indefinite length.
std::optional<DerElement> TakeDer(std::string_view& bytes);

// The same, only when it has the tag.
std::optional<DerElement> TakeDer(std::string_view& bytes, std::uint8_t tag);

}  // namespace kestrix
