// Any command line must give an option string and options without crashing, and the partition
// taken from "-d" is never longer than two characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/options.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto arguments =
        kestrix::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto optionString = kestrix::BuildOptionString(arguments);
    if (optionString.rfind(L"nu ", 0) != 0) {
        std::abort();
    }
    const auto options = kestrix::ParseOptions(optionString);
    if (options.partition && options.partition->size() > 2) {
        std::abort();
    }
    return 0;
}
