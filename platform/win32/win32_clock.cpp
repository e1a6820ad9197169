#include "platform/win32/win32_clock.h"

#include <windows.h>

namespace kestrix::win32 {

LocalTime Win32Clock::Now() const {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::uint64_t Win32Clock::Milliseconds() const {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint64_t>(counter.QuadPart) * 1000u /
           static_cast<std::uint64_t>(frequency.QuadPart);
}

}  // namespace kestrix::win32
