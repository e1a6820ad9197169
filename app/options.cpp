#include "app/options.h"

#include <algorithm>
#include <iterator>

#include "platform/text.h"

namespace kestrix {

namespace {

bool IsOption(const std::wstring& argument) {
    constexpr std::wstring_view kOptions[] = {L"-f", L"-u", L"-n", L"-d", L"-r", L"-i"};
    return std::find(std::begin(kOptions), std::end(kOptions), ToLower(argument)) !=
           std::end(kOptions);
}

}  // namespace

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
            options.mode = Mode::Diagnose;
        } else if (option == L"-r") {
            options.mode = options.mode == Mode::Diagnose ? Mode::Diagnose : Mode::Undo;
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
