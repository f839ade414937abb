#include "sim/motion_control.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

using Wide = __int128;

// A 16.16 value never exceeds 2^31 counts: products with 48-bit gains stay inside 128 bits.
constexpr int64_t kValueLimit = int64_t{1} << 47;

int64_t Saturate(Wide x, int64_t limit = kValueLimit) {
  return static_cast<int64_t>(std::clamp<Wide>(x, -limit, limit));
}

// A register as a whole number within [low, high] (NaN: low).
int64_t Whole(double value, int64_t low, int64_t high) {
  if (!(value == value)) return low;
  return static_cast<int64_t>(
      std::clamp(std::nearbyint(value), static_cast<double>(low), static_cast<double>(high)));
}

// A limit in whole counts, as a 16.16 bound.
int64_t Bound(int64_t counts) { return counts << kFixedBits; }
int64_t Limit(int64_t x, int64_t counts) { return std::clamp(x, -Bound(counts), Bound(counts)); }

}  // namespace

FixedGain FixedGain::From(double mantissa, double shift) {
  return {Whole(mantissa, 0, 32767) << Whole(shift, 0, 31)};
}

int64_t FixedGain::Apply(int64_t x) const {
  return Saturate((static_cast<Wide>(x) * shifted) >> 15, int64_t{1} << 62);
}

int64_t StepBiquad(const BiquadCoefficients& c, int64_t x, BiquadState& s) {
  const Wide sum = static_cast<Wide>(c.b0) * x + static_cast<Wide>(c.b1) * s.x1 +
                   static_cast<Wide>(c.b2) * s.x2 - static_cast<Wide>(c.a1) * s.y1 -
                   static_cast<Wide>(c.a2) * s.y2;
  // |sum| < 5 * 2^31 * 2^47 and the scale is at most 2^16: within 128 bits.
  const int64_t y = Saturate((sum * c.scale) >> 31);
  s.x2 = s.x1;
  s.x1 = Saturate(x);
  s.y2 = s.y1;
  s.y1 = y;
  return y;
}

MotionRegisters MotionRegisters::Decode(const std::function<double(const char*, double)>& value) {
  MotionRegisters r;
  const auto gain = [&value](const char* mantissa, const char* shift) {
    return FixedGain::From(value(mantissa, 0.0), value(shift, 0.0));
  };
  r.kps = gain("KPS", "SFTKPS");
  r.kis = gain("KIS", "SFTKIS");
  r.kpp = gain("KPP", "SFTKPP");
  r.kip = gain("KIP", "SFTKIP");
  r.kdp = gain("KDP", "SFTKDP");
  r.kffs = gain("KFFS", "SFTSFFW");
  // The acceleration feedforward's shift comes in two registers.
  r.kffa =
      FixedGain::From(value("KFFA", 0.0), static_cast<double>(Whole(value("SFTAFFW", 0.0), 0, 31) +
                                                              Whole(value("SFTKFF", 0.0), 0, 31)));
  r.kdfp = Whole(value("KDFP", 32767.0), 0, 32767);
  const auto room = [&value](const char* name) {
    return 32767 - Whole(value(name, 0.0), 0, 32767);
  };
  r.speed_integral_limit = room("IMAXS");
  r.speed_output_limit = room("SATS");
  r.position_integral_limit = room("IMAXP");
  r.position_output_limit = room("SATP");
  const auto word = [&value](const char* name) {
    return static_cast<uint32_t>(Whole(value(name, 0.0), -2147483648LL, 4294967295LL));
  };
  r.speed_feedforward_to_current = (word("ACR") >> 14) & 1u;
  r.loops_in_fast_loop = (word("UPGRADE") >> 6) & 1u;
  static constexpr const char* kNames[3][6] = {
      {"BQ1B0", "BQ1B1", "BQ1B2", "BQ1A1", "BQ1A2", "BQ1SF"},
      {"BQ2B0", "BQ2B1", "BQ2B2", "BQ2A1", "BQ2A2", "BQ2SF"},
      {"BQ3B0", "BQ3B1", "BQ3B2", "BQ3A1", "BQ3A2", "BQ3SF"}};
  for (int k = 0; k < 3; ++k) {
    const auto coefficient = [&](int i) {
      return Whole(value(kNames[k][i], 0.0), -2147483648LL, 2147483647LL);
    };
    r.biquads[static_cast<size_t>(k)] = {coefficient(0), coefficient(1),
                                         coefficient(2), coefficient(3),
                                         coefficient(4), Whole(value(kNames[k][5], 0.0), 0, 65536)};
  }
  // The slots go to the places in order; a place asking for more than are left gets the rest.
  int used = 0;
  const char* counts[3] = {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"};
  for (int p = 0; p < 3; ++p) {
    const int n = std::min(static_cast<int>(Whole(value(counts[p], 0.0), 0, 3)), 3 - used);
    r.slot_counts[static_cast<size_t>(p)] = n;
    used += n;
  }
  return r;
}

ReferenceGenerator::ReferenceGenerator(const std::array<double, 6>& n,
                                       const std::array<double, 6>& b) {
  for (size_t i = 0; i < 6; ++i) {
    n_[i] = Whole(n[i], 0, INT32_MAX);
    // 16.16: the firmware takes round(b 65536); b stays within +-2^31.
    a_[i] = std::isfinite(b[i]) ? std::llround(std::clamp(b[i], -2147483648.0, 2147483647.0) *
                                               static_cast<double>(kFixedOne))
                                : 0;
    total_ += n_[i];
  }
}

bool ReferenceGenerator::Step(bool repeat) {
  if (total_ == 0 || segment_ == 6) return false;
  while (in_segment_ >= n_[static_cast<size_t>(segment_)]) {
    in_segment_ = 0;
    if (++segment_ == 6) {
      if (!repeat) return false;
      segment_ = 0;
    }
  }
  increment_ = a_[static_cast<size_t>(segment_)];
  // (A table that never closes, repeated for ages, stops at the end of the range.)
  value_ = std::clamp<int64_t>(value_ + increment_, -(int64_t{1} << 62), int64_t{1} << 62);
  ++in_segment_;
  return true;
}

int64_t MotionController::Filter(const MotionRegisters& r, FilterPlace place, int64_t x) {
  const int p = static_cast<int>(place);
  int first = 0;
  for (int q = 0; q < p; ++q) first += r.slot_counts[static_cast<size_t>(q)];
  for (int k = first; k < first + r.slot_counts[static_cast<size_t>(p)]; ++k)
    x = StepBiquad(r.biquads[static_cast<size_t>(k)], x, filter_state_[static_cast<size_t>(k)]);
  return x;
}

// PI with its integral limited (IMAXS), the sum limited by SATS and the test's current limit.
int64_t MotionController::SpeedLoop(const MotionRegisters& r, int64_t reference, int64_t measured) {
  const int64_t e = Saturate(static_cast<Wide>(reference) - measured);
  speed_integral_ =
      Limit(Saturate(static_cast<Wide>(speed_integral_) + r.kis.Apply(e)), r.speed_integral_limit);
  return r.kps.Apply(e) + speed_integral_;
}

MotionOutput MotionController::Step(const MotionRegisters& r, const MotionInput& in) {
  MotionOutput out;
  const int64_t current_room = std::min(r.speed_output_limit, current_limit_);
  const int64_t speed = Filter(r, FilterPlace::kSpeedFeedback, in.measured_speed);
  const int64_t speed_feedforward = r.kffs.Apply(in.reference_speed);
  const int64_t acceleration_feedforward = r.kffa.Apply(in.reference_acceleration);
  if (loop_ == MotionLoop::kSpeed) {
    out.speed_reference = in.reference;
    const int64_t sum =
        SpeedLoop(r, in.reference, speed) + speed_feedforward + acceleration_feedforward;
    out.current_reference =
        Limit(Filter(r, FilterPlace::kCurrentReference, Limit(sum, current_room)), current_room);
    return out;
  }
  const int64_t error =
      Saturate(static_cast<Wide>(in.reference) - (static_cast<Wide>(in.position) << kFixedBits));
  const int64_t p = r.kpp.Apply(error);
  position_integral_ = Limit(Saturate(static_cast<Wide>(position_integral_) + r.kip.Apply(error)),
                             r.position_integral_limit);
  if (loop_ == MotionLoop::kPositionCascade) {
    // The speed feedforward goes to the speed reference, or with ACR bit 14 to the current.
    const bool to_current = r.speed_feedforward_to_current;
    const int64_t speed_room = std::min(r.position_output_limit, speed_limit_);
    const int64_t sum = p + position_integral_ + (to_current ? 0 : speed_feedforward);
    out.speed_reference =
        Limit(Filter(r, FilterPlace::kPositionOutput, Limit(sum, speed_room)), speed_room);
    const int64_t current = SpeedLoop(r, out.speed_reference, speed) +
                            (to_current ? speed_feedforward : 0) + acceleration_feedforward;
    out.current_reference = Limit(
        Filter(r, FilterPlace::kCurrentReference, Limit(current, current_room)), current_room);
    return out;
  }
  // PID on the current: the derivative of the error per sample, through a first-order filter
  // that takes the share KDFP / 32767 of each new difference (32767: no filtering).
  const int64_t difference = started_ ? Saturate(static_cast<Wide>(error) - previous_error_) : 0;
  started_ = true;
  previous_error_ = error;
  derivative_ += Saturate((static_cast<Wide>(difference) - derivative_) * r.kdfp >> 15);
  const int64_t room = std::min(r.position_output_limit, current_limit_);
  const int64_t sum = p + position_integral_ + r.kdp.Apply(derivative_) + speed_feedforward +
                      acceleration_feedforward;
  out.speed_reference = in.reference_speed;
  int64_t current = Filter(r, FilterPlace::kPositionOutput, Limit(sum, room));
  current = Filter(r, FilterPlace::kCurrentReference, Limit(current, room));
  out.current_reference = Limit(current, room);
  return out;
}

int64_t SpeedMeter::Step(int64_t count) {
  const int64_t old = history_[next_];
  history_[next_] = count;
  next_ = next_ + 1 == history_.size() ? 0 : next_ + 1;
  return count - old;
}

void SpeedMeter::Reset(int64_t count) {
  std::fill(history_.begin(), history_.end(), count);
  next_ = 0;
}

}  // namespace sim
