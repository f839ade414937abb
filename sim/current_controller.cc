#include "sim/current_controller.h"

#include <algorithm>
#include <cmath>

namespace sim {

int32_t RegisterValue(double value, int32_t low, int32_t high) {
  if (std::isnan(value)) return low < 0 && high > 0 ? 0 : low;
  return static_cast<int32_t>(
      std::clamp(std::nearbyint(value), static_cast<double>(low), static_cast<double>(high)));
}

PiGains::PiGains(const PiRegisters& r)
    : kp_shifted(int64_t{std::clamp<int32_t>(r.kp_mantissa, 0, 32767)}
                 << std::clamp<int32_t>(r.kp_shift, 0, 31)),
      ki_shifted(int64_t{std::clamp<int32_t>(r.ki_mantissa, 0, 32767)}
                 << std::clamp<int32_t>(r.ki_shift, 0, 31)),
      limit(32767 - std::clamp<int32_t>(r.saturation, 0, 32767)),
      integral_limit(limit << 15) {}

int32_t StepPi(const PiRegisters& registers, int32_t reference, int32_t measured, PiState& state) {
  return StepPi(PiGains(registers), reference, measured, state);
}

}  // namespace sim
