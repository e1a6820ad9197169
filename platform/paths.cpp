#include "platform/paths.h"

namespace kestrix {

std::wstring JoinPath(const std::wstring& folder, std::wstring_view name) {
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\') {
        path += L'\\';
    }
    if (!name.empty() && name.front() == L'\\') {
        name.remove_prefix(1);
    }
    path += name;
    return path;
}

}  // namespace kestrix
