#pragma once
// What the program reads back from bcdedit's listing of a store entry ("/enum {default} /v"):
// one line per setting, its name first, then its value.
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// The Windows RE object that a loader's "recoverysequence" names, "{xxxxxxxx-xxxx-xxxx-xxxx-
// xxxxxxxxxxxx}"; nothing when the listing has no such line or its value is not one GUID.
std::optional<std::wstring> RecoverySequenceIn(std::wstring_view listing);

}  // namespace kestrix
