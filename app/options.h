#pragma once
// The command line is the program's only configuration: "-f" silent, "-u" unattended (silent and
// never waiting for a person), "-n" boot sector only, "-d X:" the partition to repair,
// "-r [folder]" restore what a run saved instead of repairing, "-i" a diagnosis that only reads.
// Each option is a whole argument, in any order and any case.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_line.h"

namespace kestrix {

// What the run does: repair a partition's boot (the default), undo a run ("-r"), or diagnose
// ("-i", which wins over "-r").
enum class Mode { Repair, Undo, Diagnose };

struct Options {
    bool silent = false;
    bool unattended = false;
    bool bootSectorOnly = false;
    // The first two characters of the argument after the first "-d", lower-cased; the program
    // checks that they name a drive.
    std::optional<std::wstring> partition;
    Mode mode = Mode::Repair;
    // The argument after "-r" unless it is one of the options, as typed.
    std::optional<std::wstring> restoreFolder;
};

// Arguments that are no option are passed over.
Options ParseOptions(const std::vector<std::wstring>& arguments);

}  // namespace kestrix
