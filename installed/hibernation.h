#pragma once
// Whether the Windows of a volume is hibernated, from the start of its hiberfil.sys: a repair
// made under a hibernated Windows is undone, or worse, when Windows resumes its saved image.
#include <string_view>

namespace kestrix {

// What the report says of a hibernated Windows. Fast startup hibernates the kernel at every shut
// down, so it counts too.
inline constexpr std::wstring_view kHibernatedWarning =
    L"已休眠（或快速启动）：修复后请完全关机，不要从休眠恢复";

// The bytes are the first of hiberfil.sys. A saved image waiting to be resumed starts "hibr",
// or "HIBR" from Windows 8 on. Any other start is not taken for one: the zeros Windows leaves
// after resuming, and other signatures whose meaning is not settled enough to warn on.
bool IsHibernated(std::string_view start);

}  // namespace kestrix
