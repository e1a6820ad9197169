// Any command line must split and parse without crashing. Its arguments, quoted as the program
// quotes an outside tool's, join to a command line that splits back into them; no argument holds a
// separator or is empty unless quotes made it so; and the partition taken from
// "-d" is never longer than two characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto tail =
        kestrix::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto arguments = kestrix::SplitArguments(tail);
    const bool quotes = tail.find(L'"') != std::wstring::npos;
    std::vector<kestrix::Argument> quoted;
    for (const auto& argument : arguments) {
        if (!quotes && (argument.empty() || argument.find_first_of(L" \t") != std::wstring::npos)) {
            std::abort();
        }
        quoted.emplace_back(argument);
    }
    if (kestrix::SplitArguments(kestrix::JoinArguments(quoted)) != arguments) {
        std::abort();
    }
    const auto options = kestrix::ParseOptions(arguments);
    if (options.partition && options.partition->size() > 2) {
        std::abort();
    }
    return 0;
}
