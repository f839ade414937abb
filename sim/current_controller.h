// The drive's fixed-point PI current controller, as its firmware runs it every fast-loop period on
// one axis (d or q), from its registers.
//
// Registers. A gain g travels as a mantissa m (0 to 32767) and a shift s, g = m * 2^s / 32767:
// KPI/SFTKPI is the proportional gain (voltage counts per current count), KII/SFTKII the integral
// gain per sample. SATIQ (q axis) and SATID (d axis) hold the output saturation as 32767 minus the
// largest voltage command allowed.
//
// Arithmetic, as a 16/32-bit DSP does it:
//   e      = sat16(reference - measured)                        current counts
//   P      = sat32((e * KPI) << SFTKPI) >> 15                    e * g_p  (Q15 product, floored)
//   acc    = clamp(acc + sat32((e * KII) << SFTKII), +-(limit << 15))   integral in Q15
//   output = clamp(P + (acc >> 15), +-limit),   limit = 32767 - SAT
// The Q15 products divide by 32768 where the gain's definition divides by 32767 (a relative
// difference of 3e-5). The integral is clamped to the output range (anti-windup).
#pragma once

#include <algorithm>
#include <cstdint>

namespace sim {

struct PiRegisters {
  int32_t kp_mantissa = 0;  // KPI
  int32_t kp_shift = 0;     // SFTKPI
  int32_t ki_mantissa = 0;  // KII
  int32_t ki_shift = 0;     // SFTKII
  int32_t saturation = 0;   // SATIQ or SATID
};

struct PiState {
  int32_t integral_q15 = 0;
};

// The registers as the arithmetic uses them: mantissas clamped to 0..32767 and shifted by their
// shifts (past 31 counting as 31), the output limit 32767 - SAT. The firmware decodes them when
// they are written, not every period.
struct PiGains {
  PiGains() = default;
  explicit PiGains(const PiRegisters& registers);
  int64_t kp_shifted = 0;  // KPI << SFTKPI, below 2^46
  int64_t ki_shifted = 0;  // KII << SFTKII
  int64_t limit = 0;
  int64_t integral_limit = 0;  // limit in Q15
};

// One period; returns the voltage command (counts).
inline int32_t StepPi(const PiGains& g, int32_t reference, int32_t measured, PiState& s) {
  const auto saturate32 = [](int64_t v) {
    return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
  };
  const int64_t e = std::clamp<int64_t>(int64_t{reference} - measured, -32768, 32767);
  // |e| <= 2^15 and a shifted gain is below 2^46: the product fits in 64 bits.
  const int32_t p = saturate32(e * g.kp_shifted) >> 15;
  const int64_t integral = int64_t{s.integral_q15} + saturate32(e * g.ki_shifted);
  s.integral_q15 = static_cast<int32_t>(std::clamp(integral, -g.integral_limit, g.integral_limit));
  const int64_t output = int64_t{p} + (s.integral_q15 >> 15);
  return static_cast<int32_t>(std::clamp(output, -g.limit, g.limit));
}
int32_t StepPi(const PiRegisters& registers, int32_t reference, int32_t measured, PiState& state);

// A register value as the firmware holds it: the nearest integer saturated to [low, high].
int32_t RegisterValue(double value, int32_t low, int32_t high);

}  // namespace sim
