#pragma once
// What the selection list shows for a listing line, or nothing when the line offers no partition.
#include <optional>
#include <string>

#include "partitions/partition_scan.h"

namespace kestrix::testing {

inline std::optional<std::wstring> Offered(const std::wstring& line) {
    const auto partition = ReadListedPartition(line);
    const auto candidate = partition ? CandidateFor(*partition) : std::nullopt;
    return candidate ? std::optional(candidate->Text()) : std::nullopt;
}

inline std::optional<UnletteredEfiPartition> Unlettered(const std::wstring& line) {
    const auto partition = ReadListedPartition(line);
    return partition ? UnletteredEfiPartitionFor(*partition) : std::nullopt;
}

}  // namespace kestrix::testing
