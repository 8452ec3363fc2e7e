// The real clock: the standard library's steady clock, on every platform.
#include <thread>

#include "device/clock.h"

namespace tv {

Clock::TimePoint SystemClock::Now() { return std::chrono::steady_clock::now(); }

void SystemClock::Sleep(Millis duration) { std::this_thread::sleep_for(duration); }

}  // namespace tv
