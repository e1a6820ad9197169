#include "repair/store_listing.h"

#include "platform/text.h"

namespace kestrix {

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t'; }

bool IsHex(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// "{8-4-4-4-12}" of hex digits, nothing else: the value goes back into a command line.
bool IsBracedGuid(std::wstring_view text) {
    constexpr std::wstring_view shape = L"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (text.size() != shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == L'x' ? !IsHex(text[i]) : text[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

std::wstring_view Trimmed(std::wstring_view text) {
    while (!text.empty() && (IsSpace(text.front()) || text.front() == L'\r')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (IsSpace(text.back()) || text.back() == L'\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::optional<std::wstring> RecoverySequenceIn(std::wstring_view listing) {
    constexpr std::wstring_view name = L"recoverysequence";
    for (const auto& raw : SplitLines(listing)) {
        const auto line = Trimmed(raw);
        if (line.size() <= name.size() || ToLower(line.substr(0, name.size())) != name ||
            !IsSpace(line[name.size()])) {
            continue;
        }
        const auto value = Trimmed(line.substr(name.size()));
        return IsBracedGuid(value) ? std::optional<std::wstring>(value) : std::nullopt;
    }
    return std::nullopt;
}

}  // namespace kestrix
