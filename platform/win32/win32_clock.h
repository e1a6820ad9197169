#pragma once
#include "platform/clock.h"

namespace kestrix::win32 {

class Win32Clock final : public Clock {
public:
    LocalTime Now() const override;
    std::uint64_t Milliseconds() const override;
};

}  // namespace kestrix::win32
