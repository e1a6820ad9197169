#pragma once
// What the selection list shows for a listing line, or nothing when the line offers no partition.
#include <optional>
#include <string>

#include "partitions/partition_scan.h"

namespace kestrix::testing {

inline std::optional<std::wstring> Offered(const std::wstring& line) {
    const auto candidate = CandidateFor(line);
    return candidate ? std::optional(candidate->Text()) : std::nullopt;
}

}  // namespace kestrix::testing
