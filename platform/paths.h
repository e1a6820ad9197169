#pragma once
// Windows paths as text: joined, split into the folder and the name.
#include <string>
#include <string_view>

#include "platform/files.h"

namespace kestrix {

// Joins a folder and a name with exactly one backslash.
std::wstring JoinPath(const std::wstring& folder, std::wstring_view name);

// A relative path of plain names that cannot lead out of the folder it is relative to, whichever
// separator Windows would take: no drive, no "/", no empty, "." or ".." part.
bool IsPlainRelativePath(std::wstring_view path);

// The refusal of a write whose path passes through a junction, a symbolic link or another reparse
// point (link), or names one itself (link is the path).
FileResult ThroughLink(const std::wstring& link);

}  // namespace kestrix
