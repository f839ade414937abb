// The drive firmware's motion control: the reference generator of the tuning routines, the speed
// and position controllers and the three biquad filters, in the fixed-point arithmetic of a
// 32-bit DSP, from the drive's registers.
//
// Units (the drive's internal units): position in encoder counts, speed in counts per slow-loop
// period, current in current counts. Speeds and positions are carried with 16 fractional bits
// ("16.16"): a reference that advances by a fraction of a count per sample does not lose it.
//
// Gains travel as a mantissa m (0..32767) and a shift s: g = m 2^s / 32767, applied as
// (x m << s) >> 15 (the Q15 product divides by 32768, 3e-5 off the definition). A scaled gain is
// output units per input unit per sample: Kp output per input, Ki per sample of the integral, Kd
// per sample of the difference.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace sim {

constexpr int kFixedBits = 16;
constexpr int64_t kFixedOne = int64_t{1} << kFixedBits;

// A gain register pair as the arithmetic uses it: the mantissa shifted by its shift (mantissa
// clamped to 0..32767, shift to 0..31).
struct FixedGain {
  int64_t shifted = 0;
  static FixedGain From(double mantissa, double shift);
  // x g, floored (x and the result in the same fixed-point format).
  int64_t Apply(int64_t x) const;
};

// One biquad slot: y = SF (B0 x + B1 x1 + B2 x2 - A1 y1 - A2 y2) / 2^31, direct form I, on
// 16.16 values.
struct BiquadCoefficients {
  int64_t b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
  int64_t scale = 0;  // BQnSF
};
struct BiquadState {
  int64_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};
int64_t StepBiquad(const BiquadCoefficients& c, int64_t x, BiquadState& s);

// Where the filters sit, in the order the firmware assigns its slots.
enum class FilterPlace : int {
  kPositionOutput = 0,  // "SPDREF_BQ_INI": the position controller's output
  kCurrentReference,    // "IQREF_BQ_INI": the speed controller's output (and the PID's)
  kSpeedFeedback,       // "ASPD_BQ_INI": the measured speed the speed controller sees
};

// The motion registers as the firmware decodes them when one is written.
struct MotionRegisters {
  FixedGain kps, kis, kpp, kip, kdp, kffs, kffa;
  int64_t kdfp = 0;                           // derivative filter share, Q15 (32767: none)
  int64_t speed_integral_limit = 0;           // 32767 - IMAXS, current counts
  int64_t speed_output_limit = 0;             // 32767 - SATS, current counts
  int64_t position_integral_limit = 0;        // 32767 - IMAXP (speed or current units)
  int64_t position_output_limit = 0;          // 32767 - SATP
  bool speed_feedforward_to_current = false;  // ACR bit 14 ("SpeedForward")
  bool loops_in_fast_loop = false;            // UPGRADE bit 6 ("PosSpd_in_FastLoop")
  std::array<BiquadCoefficients, 3> biquads;  // slots 1..3
  std::array<int, 3> slot_counts{};           // slots used at each FilterPlace
  // `value(name, fallback)` reads a register (the fallback when the drive has none).
  static MotionRegisters Decode(const std::function<double(const char*, double)>& value);
};

// The reference generator: six segments; during segment i the reference advances by A_i / 65536
// per sample for N_i samples; after the sixth it starts again while the routine repeats.
// Accumulated in 16.16 in 64 bits, so that a profile whose increments sum to 0 ends exactly at 0.
class ReferenceGenerator {
 public:
  // n: the sample counts, b: the increments per sample (A_i = round(b_i 65536)).
  ReferenceGenerator(const std::array<double, 6>& n, const std::array<double, 6>& b);
  // One sample; false (and the reference unchanged) when the profile is over and does not repeat.
  bool Step(bool repeat);
  int64_t value() const { return value_; }          // 16.16
  int64_t increment() const { return increment_; }  // of the last sample, 16.16
  bool empty() const { return total_ == 0; }

 private:
  std::array<int64_t, 6> n_{}, a_{};
  int64_t total_ = 0;
  int segment_ = 0;
  int64_t in_segment_ = 0;
  int64_t value_ = 0, increment_ = 0;
};

// Which loops the firmware closes.
enum class MotionLoop {
  kSpeed,            // speed controller on the reference
  kPositionCascade,  // position -> speed -> current
  kPositionPid,      // PID from the position error to the current
};

// What a controller sample needs: the reference of the generator (16.16: speed for kSpeed, the
// position from the start otherwise), its increment in that sample, and the encoder.
struct MotionInput {
  int64_t reference = 0;
  int64_t reference_speed = 0;  // counts per slow-loop period, 16.16
  int64_t reference_acceleration = 0;
  int64_t position = 0;        // encoder counts from the start
  int64_t measured_speed = 0;  // counts per slow-loop period, 16.16
};

struct MotionOutput {
  int64_t speed_reference = 0;    // 16.16 (the speed loop's input)
  int64_t current_reference = 0;  // current counts, 16.16
};

// The controllers. The limits that the routines receive (the test's current and speed limits)
// apply on top of the registers' saturations.
class MotionController {
 public:
  MotionController(MotionLoop loop, int64_t current_limit, int64_t speed_limit)
      : loop_(loop), current_limit_(current_limit), speed_limit_(speed_limit) {}
  MotionOutput Step(const MotionRegisters& r, const MotionInput& in);

 private:
  int64_t Filter(const MotionRegisters& r, FilterPlace place, int64_t x);
  int64_t SpeedLoop(const MotionRegisters& r, int64_t reference, int64_t measured);

  MotionLoop loop_;
  int64_t current_limit_, speed_limit_;  // whole counts, > 0
  int64_t speed_integral_ = 0, position_integral_ = 0;
  int64_t previous_error_ = 0, derivative_ = 0;
  bool started_ = false;
  std::array<BiquadState, 3> filter_state_{};
};

// The measured speed: counts over the last slow-loop period, also when the loops run in the fast
// loop (then a moving sum over its fast-loop periods).
class SpeedMeter {
 public:
  explicit SpeedMeter(int periods_per_slow) : history_(static_cast<size_t>(periods_per_slow)) {}
  // The count at this sample; returns the counts over the last `periods_per_slow` samples.
  int64_t Step(int64_t count);
  void Reset(int64_t count);

 private:
  std::vector<int64_t> history_;
  size_t next_ = 0;
};

}  // namespace sim
