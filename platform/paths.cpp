#include "platform/paths.h"

#include "platform/text.h"

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

bool IsPlainRelativePath(std::wstring_view path) {
    if (path.empty() || path.find(L':') != std::wstring_view::npos ||
        path.find(L'/') != std::wstring_view::npos) {
        return false;
    }
    for (const auto& part : SplitAll(path, L"\\")) {
        if (part.empty() || part == L"." || part == L"..") {
            return false;
        }
    }
    return true;
}

FileResult ThroughLink(const std::wstring& link) {
    return {false, 0, link + L" 是联接点、符号链接或其他重解析点，不经由它写入"};
}

}  // namespace kestrix
