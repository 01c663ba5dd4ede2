// Long loops in the cores stay interruptible without knowing about Python:
// they poll a hook that the binding layer points at the interpreter's signal
// check, and unwind with `Interrupted` when it reports a pending signal.
#pragma once

#include <cstdint>

namespace core {

// Thrown by poll_interrupt(); the caller's error (for example
// KeyboardInterrupt) is already set by the hook.
struct Interrupted {};

// Returns true when the running call should stop. Null outside the module.
extern bool (*interrupt_requested)() noexcept;

inline void poll_interrupt() {
    if (interrupt_requested != nullptr && interrupt_requested()) throw Interrupted{};
}

// Polls once every `Period` units of work counted by tick(). Period is a
// power of two, so passing a multiple of it shows as a changed bit at or
// above it: one xor and one compare in the loop.
template <std::uint64_t Period = (1u << 20)>
class InterruptPoll {
    static_assert((Period & (Period - 1)) == 0);

public:
    void tick(std::uint64_t units = 1) {
        const std::uint64_t before = count_;
        count_ += units;
        if ((before ^ count_) >= Period) [[unlikely]]
            poll_interrupt();
    }

private:
    std::uint64_t count_ = 0;
};

}  // namespace core
