// The reference profile of the speed and position tuning tests, and the scope settings that follow
// it.
//
// The routine generates the reference from a table of six segments: during segment i it advances
// the reference by Ai / 65536 internal units at each of its Ni slow-loop samples. The table is
// built so that each ramp ends exactly on its target and the profile ends exactly at 0:
//
//   Positive / Negative (type 0 / 1): ramp to s = +-F, dwell, ramp back to 0, dwell; the one-sample
//   segments 1 and 4 carry what the ramps' rounding left.
//   Bidirectional (type 2): ramp to F, dwell, reverse to -F over twice the second ramp time, dwell,
//   back to 0 over the second ramp time; segment 5 closes the sum of Ai x Ni to 0.
//
// The drive takes Ni and the rounded Ai / 65536 as signed 16-bit numbers: a table that does not
// fit is refused with a text, before anything is launched.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "host/setup.h"

namespace kestrel {

enum class TunedLoop { kSpeed, kPosition };

struct ProfileTimes {
  double first_ramp_s = 0.0;   // "tap"
  double dwell_s = 0.0;        // "tp"
  double second_ramp_s = 0.0;  // "tan"
  double end_dwell_s = 0.0;    // "tn"
};

struct Segment {
  uint32_t count = 0;     // samples
  int32_t increment = 0;  // per sample, 16.16 fixed point
};
using SegmentTable = std::array<Segment, 6>;

// The table for final value `final_counts` (internal units), reference type 0, 1 or 2 (any other
// is taken as 0) and sample period `sample_s`. The speed test keeps a one-sample ramp in its ramp
// segment; the position test always hands the ramp's last sample to the carrying segment.
SegmentTable ComputeReferenceSegments(TunedLoop loop, int32_t final_counts, int type,
                                      const ProfileTimes& times, double sample_s);

// Why the drive cannot take `table` (one of the two texts below), or null when it can.
extern const char* const kSegmentCountRefused;
extern const char* const kSegmentSlopeRefused;
const char* RefuseSegments(const SegmentTable& table);

// The final-value parameter snapped to a whole, non-zero number of internal units (`scale`
// internal units per base unit); nothing happens without the parameter or with a zero scale.
void QuantizeTestValue(CMC_Parameter* final_value, double scale);

// The 1-2-5 step of the decade of x not below x: 2.5 gives 5, 0.3 gives 0.5, 0 gives 0.2.
double ScaleStep(double x);

// The scope's acquisition for a profile: time base, trigger level (base units of the final value
// P), slope (1 rising), pretrigger (percent) and mode (4 single shot, 2 re-arming for a repeated
// profile).
struct ScopeTrigger {
  double time_base_s = 0.0;
  double level = 0.0;
  int slope = 1;
  int pretrigger_percent = 0;
  int mode = 4;
};
// `has_type`: the setup has the reference-type parameter (the position test's level follows the
// type only then).
ScopeTrigger ComputeScopeTrigger(TunedLoop loop, double final_value, int type, bool has_type,
                                 const ProfileTimes& times, bool repeat);

}  // namespace kestrel
