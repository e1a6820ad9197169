// Whatever bytes a hive file holds, decoding it never fails badly and stays inside its limits;
// the boot store read over what it decodes names only keys the hive holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "store/bcd.h"
#include "store/hive.h"
#include "store/store_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto hive = kestrix::DecodeHive(bytes);
    if (!hive) {
        return 0;
    }
    if (hive->keys.empty() || hive->keys.size() > kestrix::kHiveMaxKeys) {
        std::abort();
    }
    for (const auto& key : hive->keys) {
        for (const auto index : key.subkeys) {
            if (index == 0 || index >= hive->keys.size()) {
                std::abort();
            }
        }
    }
    const kestrix::HiveTree tree(std::move(*hive));
    if (const auto store = kestrix::ReadBcd(tree)) {
        if (store->objects.size() > tree.Subkeys({L"Objects"})->size()) {
            std::abort();
        }
        // What goes back into a command line is a whole GUID, or nothing.
        if (const auto recovery = kestrix::DefaultRecoverySequence(*store);
            recovery && recovery->size() != 38) {
            std::abort();
        }
    }
    return 0;
}
