#pragma once
// A command line by Windows' rules, both ways: the program's own split into its arguments, and an
// outside tool's made from its arguments so that the tool reads back exactly those
// (CommandLineToArgvW and the C runtime split alike).
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrix {

// The arguments after the program's name, split as the C runtime splits them for argv: spaces and
// tabs separate; double quotes group and are dropped; 2n backslashes before a quote give n and the
// quote groups, 2n+1 give n and a literal quote; other backslashes are literal; "" inside quotes
// is a literal quote; an unclosed quote runs to the end.
std::vector<std::wstring> SplitArguments(std::wstring_view tail);

// One argument of an outside tool. A path in a folder whose name the program does not choose (its
// own, the temporary one) is always quoted, so that its line reads the same whatever the folder is
// called; any other argument only when it must be.
struct Argument {
    Argument(std::wstring argument, bool always = false)
        : text(std::move(argument)), alwaysQuoted(always) {}
    Argument(const wchar_t* argument) : text(argument) {}

    std::wstring text;
    bool alwaysQuoted = false;
};

// The arguments joined by single spaces, each one that is empty or holds a space, a tab or a quote
// (or is always quoted) in double quotes, a quote in it and the backslashes before a quote or the
// closing one escaped with a backslash: SplitArguments gives them back.
std::wstring JoinArguments(const std::vector<Argument>& arguments);

}  // namespace kestrix
