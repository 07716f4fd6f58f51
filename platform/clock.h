// Time seam: milliseconds now and sleeping. Protocol time-outs and pauses go through a
// Clock so tests can run them on virtual time.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t nowMs() = 0; // wraps like GetTickCount
    virtual void sleepMs(std::uint32_t ms) = 0;
};

// The real clock of the machine (GetTickCount/Sleep on Windows, steady_clock natively).
Clock& systemClock();

// A clock that moves only when told to, or when someone sleeps on it.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(std::uint32_t startMs = 0) : now_(startMs) {}
    std::uint32_t nowMs() override { return now_; }
    void sleepMs(std::uint32_t ms) override {
        now_ += ms;
        slept_ += ms;
    }
    void advance(std::uint32_t ms) { now_ += ms; }
    // Total time spent in sleepMs, for asserting on pauses.
    std::uint64_t sleptMs() const { return slept_; }

private:
    std::uint32_t now_;
    std::uint64_t slept_ = 0;
};

} // namespace platform
