#include "host/clock.h"

#include <chrono>

namespace axis {

int64_t SteadyClock::NowNs() const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace axis
