// Time as the device link sees it: a monotonic clock and a blocking delay.
// Tests put a simulated clock here so that nothing really sleeps.
#pragma once

#include <chrono>

namespace tv {

using Millis = std::chrono::milliseconds;

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint Now() = 0;
  virtual void Sleep(Millis duration) = 0;
};

class SystemClock : public Clock {
 public:
  TimePoint Now() override;
  void Sleep(Millis duration) override;
};

// A clock that moves only when told to, or when someone sleeps on it.
class ManualClock : public Clock {
 public:
  TimePoint Now() override { return now_; }
  void Sleep(Millis duration) override { now_ += duration; }
  void Advance(Millis duration) { now_ += duration; }

 private:
  TimePoint now_{};
};

}  // namespace tv
