#include "app/options.h"

#include "platform/text.h"

namespace kestrix {

std::wstring BuildOptionString(std::wstring_view arguments) {
    return L"nu " + TrimSpaces(ToLower(arguments));
}

Options ParseOptions(std::wstring_view optionString) {
    Options options;
    // "-f" counts anywhere after the prefix, with or without spaces around it.
    const auto silentAt = optionString.find(L"-f");
    options.silent = silentAt != std::wstring_view::npos && silentAt >= 2;
    options.bootSectorOnly = SplitAll(optionString, L" -n").size() >= 2;
    // Unattended implies silent.
    options.unattended = SplitAll(optionString, L" -u").size() >= 2;
    options.silent = options.silent || options.unattended;
    const auto pieces = SplitAll(optionString, L" -d ");
    if (pieces.size() >= 2) {
        options.partition = Left(pieces[1], 2);
    }
    const auto restore = SplitAll(optionString, L" -r");
    options.restore = restore.size() >= 2;
    if (options.restore && restore[1].starts_with(L' ')) {
        // A quoted folder may hold " -"; an unquoted one ends at the next option.
        const auto rest = TrimSpaces(restore[1]);
        std::wstring folder;
        if (rest.starts_with(L'"')) {
            folder = rest.substr(1, rest.find(L'"', 1) - 1);
        } else if (!rest.starts_with(L'-')) {
            folder = TrimSpaces(Left(rest, rest.find(L" -")));
        }
        if (!folder.empty()) {
            options.restoreFolder = folder;
        }
    }
    return options;
}

}  // namespace kestrix
