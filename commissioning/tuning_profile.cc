#include "commissioning/tuning_profile.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/numeric.h"

namespace kestrel {

const char* const kSegmentCountRefused =
    "Distances between consecutive points on X axis must be greater than 0 and below 32768.";
const char* const kSegmentSlopeRefused =
    "Reference variation between two consecutive points is too big (slope overflow).";

namespace {

constexpr double kFixedOne = 65536.0;

// A whole number of samples; a time that is not finite or does not fit gives a count the drive
// refuses rather than undefined behaviour.
int32_t Samples(double time_s, double sample_s) {
  if (!(sample_s > 0.0)) return 1 << 30;  // no sample period: a count the drive refuses
  return std::clamp(TG_Round(time_s / sample_s), -(1 << 30), 1 << 30);
}

// A count as the drive reads it: the two's-complement word, so -1 is 4294967295.
uint32_t Unsigned(int32_t n) { return static_cast<uint32_t>(n); }
double PerSample(uint32_t n) { return static_cast<double>(n); }

// An increment in 16.16 fixed point, rounded half up; one beyond the 32-bit range saturates, so
// the slope check refuses it.
int32_t Fixed(double x) {
  const double scaled = std::floor(x * kFixedOne + 0.5);
  if (std::isnan(scaled)) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::clamp(scaled, -2147483648.0, 2147483647.0));
}

int32_t TruncatedFixed(double x) {
  if (std::isnan(x)) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::clamp(std::trunc(x), -2147483648.0, 2147483647.0));
}

// The increment that covers `amount` in `n` samples; none (n = 0, a ramp shorter than half a
// sample) saturates, so the slope check refuses it.
int32_t Slope(double amount, uint32_t n) {
  if (n == 0)
    return amount < 0.0 ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
  return Fixed(amount / PerSample(n));
}

// What a segment moves the reference by, in internal units.
double Moved(const Segment& s) { return s.increment / kFixedOne * PerSample(s.count); }

// A ramp to `target` over n samples: its own segment, then the one-sample segment that lands it.
void Ramp(TunedLoop loop, double target, int32_t n, Segment& ramp, Segment& landing) {
  const bool keep_single = loop == TunedLoop::kSpeed && n <= 1;
  ramp.count = Unsigned(keep_single ? n : n - 1);
  ramp.increment = Slope(target, Unsigned(n));
  landing.count = 1;
  landing.increment = Fixed(target - Moved(ramp));
}

}  // namespace

SegmentTable ComputeReferenceSegments(TunedLoop loop, int32_t final_counts, int type,
                                      const ProfileTimes& t, double sample_s) {
  const int32_t n_a = Samples(t.first_ramp_s, sample_s);
  const int32_t n_p = Samples(t.dwell_s, sample_s);
  const int32_t n_b = Samples(t.second_ramp_s, sample_s);
  const int32_t n_n = Samples(t.end_dwell_s, sample_s);
  const double f = final_counts;
  SegmentTable s{};
  if (type != 2) {
    const double target = type == 1 ? -f : f;
    Ramp(loop, target, n_a, s[0], s[1]);
    s[2] = {Unsigned(n_p), 0};
    Ramp(loop, -target, n_b, s[3], s[4]);
    s[5] = {Unsigned(n_n), 0};
    return s;
  }
  const int32_t n_r = Samples(2.0 * t.second_ramp_s, sample_s);
  s[0] = {Unsigned(n_a), Slope(f, Unsigned(n_a))};
  s[1] = {Unsigned(n_p), 0};
  s[2] = {Unsigned(n_r), Slope(-(Moved(s[0]) + f), Unsigned(n_r))};
  s[3] = {Unsigned(n_n), 0};
  // A second ramp of one sample or less leaves the whole way back to segment 5.
  if (n_b - 1 >= 1) {
    s[4] = {Unsigned(n_b - 1), Fixed(f / (n_b - 1))};
  } else {
    s[4] = {1, 0};
  }
  double sum = 0.0;
  for (int i : {0, 2, 4}) sum += static_cast<double>(s[i].increment) * PerSample(s[i].count);
  s[5] = {1, TruncatedFixed(-sum)};
  return s;
}

const char* RefuseSegments(const SegmentTable& table) {
  for (const Segment& segment : table) {
    if (segment.count > 32767u) return kSegmentCountRefused;
    if (std::fabs(TG_FRound(segment.increment / kFixedOne)) > 32767.0) return kSegmentSlopeRefused;
  }
  return nullptr;
}

void QuantizeTestValue(CMC_Parameter* final_value, double scale) {
  if (final_value == nullptr || scale == 0.0 || !std::isfinite(scale)) return;
  const double value = final_value->GetValueInBaseUnit();
  int n = TG_Round(value * scale);
  if (n == 0) n = value * scale >= 0.0 ? 1 : -1;
  final_value->SetValueInBaseUnit(n / scale);
}

double ScaleStep(double x) {
  const double e = x > 0.0 ? std::ceil(std::log10(x)) : 0.0;
  const double d = std::pow(10.0, e);
  if (d / 5.0 >= x) return d / 5.0;
  if (d / 2.0 >= x) return d / 2.0;
  return d;
}

ScopeTrigger ComputeScopeTrigger(TunedLoop loop, double p, int type, bool has_type,
                                 const ProfileTimes& t, bool repeat) {
  ScopeTrigger trigger;
  trigger.time_base_s =
      type == 2 ? 2.0 * t.first_ramp_s + t.dwell_s + 2.0 * t.second_ramp_s + t.end_dwell_s
                : t.first_ramp_s + t.dwell_s + t.second_ramp_s +
                      std::min(t.first_ramp_s, t.second_ramp_s);
  trigger.level = p;
  trigger.slope = p >= 0.0 ? 1 : 0;
  if (loop == TunedLoop::kPosition) {
    if (!has_type) {
      trigger.level = 0.95 * p;
      trigger.slope = 1;
    } else if (type == 1) {
      trigger.level = -0.95 * p;
      trigger.slope = p < 0.0 ? 1 : 0;
    } else {
      trigger.level = (type == 2 ? 0.9 : 0.95) * p;
    }
  }
  trigger.pretrigger_percent =
      trigger.time_base_s > 0.0 ? TG_Round(std::ceil(t.first_ramp_s * 100.0 / trigger.time_base_s))
                                : 0;
  trigger.mode = repeat ? 2 : 4;
  return trigger;
}

}  // namespace kestrel
