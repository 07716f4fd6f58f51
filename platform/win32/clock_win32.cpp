#include "platform/clock.h"

#include <windows.h>

namespace platform {
namespace {

class TickClock : public Clock {
public:
    std::uint32_t nowMs() override { return GetTickCount(); }
    void sleepMs(std::uint32_t ms) override { Sleep(ms); }
};

} // namespace

Clock& systemClock() {
    static TickClock clock;
    return clock;
}

} // namespace platform
