// Any listing line must normalise to a line with no leading, trailing or doubled space (and
// normalising again changes nothing), and an entry is only ever made from a drive field with a
// colon. The same bytes as an answer for all disks: cut into sections only when its first line is
// disk 0's, and every line is either a section's own line or one line in a section.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "partitions/partition_scan.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto raw = kestrix::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto line = kestrix::NormaliseListingLine(raw);
    if (line.find(L"  ") != std::wstring::npos || kestrix::NormaliseListingLine(line) != line ||
        (!line.empty() && (line.front() == L' ' || line.back() == L' '))) {
        std::abort();
    }
    const auto partition = kestrix::ReadListedPartition(line);
    if (const auto candidate = partition ? kestrix::CandidateFor(*partition) : std::nullopt) {
        // A drive the listing names is a letter and its colon, and the list shows it first.
        const auto entry = candidate->Text();
        if (kestrix::SplitAll(line, L" ")[1].size() != 2 || entry.find(L"  容量:") != 2) {
            std::abort();
        }
    }
    if (const auto sections = kestrix::SplitDiskSections(raw)) {
        const auto lines = kestrix::SplitLines(raw);
        std::size_t counted = sections->size();
        for (const auto& section : *sections) {
            counted += section.size();
        }
        if (sections->empty() || counted != lines.size() ||
            kestrix::NormaliseListingLine(lines.front()) != L"disk 0") {
            std::abort();
        }
    }
    return 0;
}
