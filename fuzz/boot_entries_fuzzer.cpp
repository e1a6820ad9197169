// Whatever bytes a Boot#### variable holds, decoding it never fails badly; what it accepts stays
// the same when data is added after it (the load option's optional data), a partition is named by
// a whole GUID or a whole MBR signature, and BootOrder holds one number for every two bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "diagnosis/boot_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (kestrix::DecodeBootOrder(bytes).size() != size / 2) {
        std::abort();
    }
    const auto option = kestrix::DecodeLoadOption(bytes);
    if (!option) {
        return 0;
    }
    if (option->target == kestrix::LoadTarget::Partition &&
        option->signature.size() != (option->gpt ? 16u : 4u)) {
        std::abort();
    }
    if (kestrix::DecodeLoadOption(std::string(bytes) + "optional data") != option) {
        std::abort();
    }
    return 0;
}
