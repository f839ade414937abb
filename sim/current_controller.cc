#include "sim/current_controller.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

int32_t Saturate32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// (value << shift) saturated to 32 bits; the shift is at most 31 (the register is clamped).
int32_t ShiftLeftSaturated(int64_t value, int32_t shift) {
  const int64_t limit = int64_t{1} << (62 - shift);
  if (value >= limit) return INT32_MAX;
  if (value <= -limit) return INT32_MIN;
  return Saturate32(value * (int64_t{1} << shift));
}

}  // namespace

int32_t RegisterValue(double value, int32_t low, int32_t high) {
  if (std::isnan(value)) return low < 0 && high > 0 ? 0 : low;
  return static_cast<int32_t>(
      std::clamp(std::nearbyint(value), static_cast<double>(low), static_cast<double>(high)));
}

int32_t StepPi(const PiRegisters& r, int32_t reference, int32_t measured, PiState& s) {
  const int32_t limit = std::max<int32_t>(0, 32767 - std::clamp<int32_t>(r.saturation, 0, 32767));
  const int32_t kp = std::clamp<int32_t>(r.kp_mantissa, 0, 32767);
  const int32_t ki = std::clamp<int32_t>(r.ki_mantissa, 0, 32767);
  const int32_t kp_shift = std::clamp<int32_t>(r.kp_shift, 0, 31);
  const int32_t ki_shift = std::clamp<int32_t>(r.ki_shift, 0, 31);
  const int32_t e = std::clamp<int32_t>(reference - measured, -32768, 32767);

  const int32_t p = ShiftLeftSaturated(int64_t{e} * kp, kp_shift) >> 15;
  const int64_t integral_limit = int64_t{limit} << 15;
  const int64_t integral = int64_t{s.integral_q15} + ShiftLeftSaturated(int64_t{e} * ki, ki_shift);
  s.integral_q15 = static_cast<int32_t>(std::clamp(integral, -integral_limit, integral_limit));
  const int64_t output = int64_t{p} + (s.integral_q15 >> 15);
  return static_cast<int32_t>(std::clamp<int64_t>(output, -limit, limit));
}

}  // namespace sim
