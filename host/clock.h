// Time as the dialogs' timers and the drive see it.
//
// One clock serves the platform's timers and the simulated drive, so that a test's 20 ms polling
// timer and the drive's fast loop advance together: on the headless platform both follow a
// virtual clock that moves only when the scripted user waits or a timer falls due, which makes
// every run repeatable; on the desktop both follow the wall clock.
#pragma once

#include <cstdint>

namespace axis {

class Clock {
 public:
  virtual ~Clock() = default;
  // Nanoseconds since some fixed moment (the start of the program or of the virtual clock); never
  // goes back.
  virtual int64_t NowNs() const = 0;
};

// The wall clock (a steady clock: never set back by the system).
class SteadyClock final : public Clock {
 public:
  int64_t NowNs() const override;
};

// A clock that moves only when told to: starts at 0.
class VirtualClock final : public Clock {
 public:
  int64_t NowNs() const override { return now_ns_; }
  // Moves the clock on by `ns` (a negative amount is ignored).
  void Advance(int64_t ns) {
    if (ns > 0) now_ns_ += ns;
  }

 private:
  int64_t now_ns_ = 0;
};

constexpr int64_t kNsPerMs = 1'000'000;
constexpr int64_t kNsPerSecond = 1'000'000'000;

}  // namespace axis
