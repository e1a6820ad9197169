#pragma once
// Windows paths as text: joined, split into the folder and the name.
#include <string>
#include <string_view>

namespace kestrix {

// Joins a folder and a name with exactly one backslash.
std::wstring JoinPath(const std::wstring& folder, std::wstring_view name);

}  // namespace kestrix
