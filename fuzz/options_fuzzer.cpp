// Any command line must split and parse without crashing. Its arguments, each quoted the way a
// program quotes an argument for another, join to a command line that splits back into them; no
// argument holds a separator or is empty unless quotes made it so; and the partition taken from
// "-d" is never longer than two characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/options.h"
#include "platform/text.h"

namespace {

// In quotes; a quote, and the backslashes before a quote or the closing one, are escaped.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L'"';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto tail =
        kestrix::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto arguments = kestrix::SplitArguments(tail);
    const bool quotes = tail.find(L'"') != std::wstring::npos;
    std::wstring joined;
    for (const auto& argument : arguments) {
        if (!quotes && (argument.empty() || argument.find_first_of(L" \t") != std::wstring::npos)) {
            std::abort();
        }
        joined += Quoted(argument) + L' ';
    }
    if (kestrix::SplitArguments(joined) != arguments) {
        std::abort();
    }
    const auto options = kestrix::ParseOptions(arguments);
    if (options.partition && options.partition->size() > 2) {
        std::abort();
    }
    return 0;
}
