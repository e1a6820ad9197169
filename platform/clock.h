#pragma once
#include <cstdint>

namespace kestrix {

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalTime Now() const = 0;
    // A monotonic count for measuring how long a step took.
    virtual std::uint64_t Milliseconds() const = 0;
};

}  // namespace kestrix
