// Signature databases as firmware stores them, and the same with a size that does not add up.
#include "secureboot/signature_list.h"

#include <gtest/gtest.h>

#include <ostream>

#include "signature_lists.h"

namespace kestrix {

void PrintTo(const SignatureEntry& e, std::ostream* os) {
    *os << "{kind " << static_cast<int>(e.kind) << ", " << e.data.size() << " bytes}";
}

namespace {

using testing::kRsa2048Type;
using testing::kSha1Type;
using testing::kSha256Type;
using testing::kX509Sha256Type;
using testing::kX509Type;
using testing::Le32Bytes;
using testing::SignatureList;

const std::string kDigestA(32, 'a');
const std::string kDigestB(32, 'b');
const std::string kCert = "0\x82 a certificate's DER";

TEST(SignatureLists, DecodesEveryEntryOfEveryListInOrder) {
    const struct {
        const char* name;
        std::string bytes;
        std::vector<SignatureEntry> expected;
    } cases[] = {
        {"no list at all", "", {}},
        {"one certificate", SignatureList(kX509Type, {kCert}), {{SignatureKind::X509, kCert}}},
        {"digests, then a certificate",
         SignatureList(kSha256Type, {kDigestA, kDigestB}) + SignatureList(kX509Type, {kCert}),
         {{SignatureKind::Sha256, kDigestA},
          {SignatureKind::Sha256, kDigestB},
          {SignatureKind::X509, kCert}}},
        {"a list header is passed over",
         SignatureList(kX509Type, {kCert}, "header"),
         {{SignatureKind::X509, kCert}}},
        {"an unknown kind is kept as such",
         SignatureList(kRsa2048Type, {std::string(256, 'k')}),
         {{SignatureKind::Other, std::string(256, 'k')}}},
        {"a list without entries",
         kX509Type + Le32Bytes(28) + Le32Bytes(0) + Le32Bytes(48) +
             SignatureList(kX509Type, {kCert}),
         {{SignatureKind::X509, kCert}}},
        {"a SHA-1 digest and a certificate's to-be-signed digest with its time",
         SignatureList(kSha1Type, {std::string(20, 'c')}) +
             SignatureList(kX509Sha256Type, {kDigestA + std::string(16, 't')}),
         {{SignatureKind::Sha1, std::string(20, 'c')},
          {SignatureKind::X509Sha256, kDigestA + std::string(16, 't')}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeSignatureLists(c.bytes), c.expected) << c.name;
    }
}

TEST(SignatureLists, RefusesSizesThatDoNotAddUp) {
    const std::string whole = SignatureList(kSha256Type, {kDigestA, kDigestB});
    const auto withSizes = [&](std::uint32_t list, std::uint32_t header, std::uint32_t entry) {
        return whole.substr(0, 16) + Le32Bytes(list) + Le32Bytes(header) + Le32Bytes(entry) +
               whole.substr(28);
    };
    const auto x509WithEntrySize = [&](std::uint32_t entry) {
        std::string list = SignatureList(kX509Type, {kCert});
        return list.replace(24, 4, Le32Bytes(entry));
    };
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"cut inside the list header", whole.substr(0, 27)},
        {"cut inside an entry", whole.substr(0, whole.size() - 1)},
        {"a whole list and a few bytes", whole + "abc"},
        {"the list's size beyond the bytes", withSizes(200, 0, 48)},
        {"the list's size below its header", withSizes(20, 0, 48)},
        {"the header beyond the list", withSizes(124, 100, 48)},
        {"a header size that wraps", withSizes(124, 0xFFFFFFF0u, 48)},
        {"entries not whole", x509WithEntrySize(37)},
        {"an entry size of zero", x509WithEntrySize(0)},
        {"an entry shorter than its owner", x509WithEntrySize(15)},
        {"a SHA-256 entry that is no digest", withSizes(124, 0, 24)},
        {"an entry of its owner alone", SignatureList(kRsa2048Type, {std::string()})},
        {"a to-be-signed digest without its time", SignatureList(kX509Sha256Type, {kDigestA})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeSignatureLists(c.bytes), std::nullopt) << c.name;
    }
}

}  // namespace
}  // namespace kestrix
