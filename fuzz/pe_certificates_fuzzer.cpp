// Whatever bytes a file holds, reading its certificate table and digesting its image never fails
// badly: the signatures and every piece digested are parts of those bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "secureboot/pe_certificates.h"

namespace {

void WithinOrAbort(std::string_view part, std::string_view whole) {
    if (!part.empty() &&
        (part.data() < whole.data() || part.data() + part.size() > whole.data() + whole.size())) {
        std::abort();
    }
}

// Checks each piece it is given instead of digesting it.
class CheckingDigest final : public kestrix::Digest {
  public:
    explicit CheckingDigest(std::string_view file) : file_(file) {}
    void Add(std::string_view bytes) override { WithinOrAbort(bytes, file_); }
    std::optional<std::string> Finish() override { return std::string(); }

  private:
    std::string_view file_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto table = kestrix::ReadCertificateTable(bytes)) {
        for (const auto signature : table->signatures) {
            WithinOrAbort(signature, bytes);
        }
    }
    CheckingDigest digest(bytes);
    kestrix::AddAuthenticodeImage(bytes, digest);
    return 0;
}
