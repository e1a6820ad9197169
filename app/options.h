#pragma once
// The command line is the program's only configuration: "-f" silent, "-u" unattended (silent and
// never waiting for a person), "-n" boot sector only, "-d X:" the partition to repair, "-r [folder]"
// restore what a run saved instead of repairing.
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// "nu " + the arguments, lower-cased and stripped of leading and trailing spaces. The prefix puts
// an option at the very start of the arguments behind a space like every later one.
std::wstring BuildOptionString(std::wstring_view arguments);

struct Options {
    bool silent = false;
    bool unattended = false;
    bool bootSectorOnly = false;
    std::optional<std::wstring> partition;
    bool restore = false;
    // The run folder after "-r", up to the next option, without quotes.
    std::optional<std::wstring> restoreFolder;
};

Options ParseOptions(std::wstring_view optionString);

}  // namespace kestrix
