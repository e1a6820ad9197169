#pragma once
// A lock that needs no threads library, for what the window thread and a background thread both
// touch: it is held only for a short piece of work, and whoever waits for it spins.
#include <atomic>

namespace kestrix {

class Hold {
public:
    explicit Hold(std::atomic_flag& flag) : flag_(flag) {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    ~Hold() { flag_.clear(std::memory_order_release); }

private:
    std::atomic_flag& flag_;
};

}  // namespace kestrix
