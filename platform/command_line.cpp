#include "platform/command_line.h"

namespace kestrix {

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
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

std::wstring JoinArguments(const std::vector<Argument>& arguments) {
    std::wstring line;
    for (const auto& argument : arguments) {
        if (!line.empty()) {
            line += L' ';
        }
        const auto& text = argument.text;
        if (!argument.alwaysQuoted && !text.empty() &&
            text.find_first_of(L" \t\"") == std::wstring::npos) {
            line += text;
            continue;
        }
        line += L'"';
        std::size_t backslashes = 0;
        for (const wchar_t c : text) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
            line += c;
            backslashes = 0;
        }
        line.append(2 * backslashes, L'\\');
        line += L'"';
    }
    return line;
}

}  // namespace kestrix
