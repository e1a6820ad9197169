#include "app/options.h"

#include <algorithm>
#include <iterator>

#include "platform/text.h"

namespace kestrix {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool IsOption(const std::wstring& argument) {
    constexpr std::wstring_view kOptions[] = {L"-f", L"-u", L"-n", L"-d", L"-r", L"-i"};
    return std::find(std::begin(kOptions), std::end(kOptions), ToLower(argument)) !=
           std::end(kOptions);
}

}  // namespace

std::vector<std::wstring> SplitArguments(std::wstring_view tail) {
    std::vector<std::wstring> arguments;
    std::size_t i = 0;
    while (true) {
        while (i < tail.size() && IsBlank(tail[i])) {
            ++i;
        }
        if (i == tail.size()) {
            return arguments;
        }
        // A quoted part may leave the argument empty, and it still counts.
        std::wstring argument;
        bool quoted = false;
        while (i < tail.size() && (quoted || !IsBlank(tail[i]))) {
            if (tail[i] == L'\\') {
                const std::size_t first = i;
                while (i < tail.size() && tail[i] == L'\\') {
                    ++i;
                }
                const std::size_t count = i - first;
                if (i < tail.size() && tail[i] == L'"') {
                    argument.append(count / 2, L'\\');
                    if (count % 2 == 1) {
                        argument += L'"';
                        ++i;
                    }
                } else {
                    argument.append(count, L'\\');
                }
            } else if (tail[i] == L'"') {
                if (quoted && i + 1 < tail.size() && tail[i + 1] == L'"') {
                    argument += L'"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                argument += tail[i++];
            }
        }
        arguments.push_back(std::move(argument));
    }
}

Options ParseOptions(const std::vector<std::wstring>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto option = ToLower(arguments[i]);
        const bool valueFollows = i + 1 < arguments.size();
        if (option == L"-f") {
            options.silent = true;
        } else if (option == L"-u") {
            options.unattended = true;
        } else if (option == L"-n") {
            options.bootSectorOnly = true;
        } else if (option == L"-d" && valueFollows) {
            // The value is taken whatever it is, so that a wrong one is refused rather than lost.
            auto partition = ToLower(Left(arguments[++i], 2));
            if (!options.partition) {
                options.partition = std::move(partition);
            }
        } else if (option == L"-i") {
            options.diagnose = true;
        } else if (option == L"-r") {
            options.restore = true;
            if (valueFollows && !IsOption(arguments[i + 1])) {
                const auto& folder = arguments[++i];
                if (!folder.empty() && !options.restoreFolder) {
                    options.restoreFolder = folder;
                }
            }
        }
    }
    // Unattended implies silent.
    options.silent = options.silent || options.unattended;
    return options;
}

}  // namespace kestrix
