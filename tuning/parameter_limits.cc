#include "tuning/parameter_limits.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "conversions/reference.h"
#include "conversions/scales.h"

namespace kestrel {

namespace {

// Speeds, positions and times held by the drive in 16-bit registers.
constexpr double kFullScale16 = 32767.0;
// Test profile segments count slow-loop samples in 16 bits, unsigned.
constexpr double kMaxProfileSamples = 65535.0;

// Absent parameters are normal here: nothing is reported.
CMC_Parameter* Find(CMC_Setup& setup, const char* name) { return FindOptional(setup, name); }

double SpeedBound(CMC_Setup& setup) { return kFullScale16 / std::fabs(LoadSpeedScale(setup)); }
double PositionBound(CMC_Setup& setup) {
  return kFullScale16 / std::fabs(LoadPositionScale(setup));
}
double ErrorTimeBound(CMC_Setup& setup) { return kFullScale16 * Ts_S(setup); }
// Filter corners stay below the slow loop's Nyquist frequency.
double NyquistBound(CMC_Setup& setup) { return 0.5 / Ts_S(setup); }

struct MaximumRow {
  const char* name;
  double (*maximum)(CMC_Setup& setup);
};

// Control errors and their times.
constexpr MaximumRow kErrorMaxima[] = {
    {"ERR_speed", SpeedBound},
    {"ERR_position", PositionBound},
    {"time_ERR_spd", ErrorTimeBound},
    {"time_ERR_pos", ErrorTimeBound},
};

// Frequencies of the three biquad filters, wherever each sits in the loop.
constexpr MaximumRow kBiquadMaxima[] = {
    {"BQFilterF11", NyquistBound}, {"BQFilterF21", NyquistBound}, {"BQFilterF12", NyquistBound},
    {"BQFilterF22", NyquistBound}, {"BQFilterF13", NyquistBound}, {"BQFilterF23", NyquistBound},
};

void SetMaxima(CMC_Setup& setup, std::span<const MaximumRow> rows) {
  for (const MaximumRow& row : rows) {
    if (CMC_Parameter* p = Find(setup, row.name)) p->SetMaxInBaseUnit(row.maximum(setup));
  }
}

struct PassBandRow {
  const char* name;
  const char* minimum;
  const char* maximum;
};

constexpr PassBandRow kPassBands[] = {
    {"PB_C", "PB_C_minim", "PB_C_maxim"},
    {"PB_S", "PB_S_minim", "PB_S_maxim"},
    {"PB_P", "PB_P_minim", "PB_P_maxim"},
};

void SetPassBandRanges(CMC_Setup& setup) {
  for (const PassBandRow& row : kPassBands) {
    CMC_Parameter* p = Find(setup, row.name);
    CMC_Parameter* minimum = Find(setup, row.minimum);
    CMC_Parameter* maximum = Find(setup, row.maximum);
    if (p == nullptr || minimum == nullptr || maximum == nullptr) continue;
    p->SetMinInBaseUnit(V(minimum));
    p->SetMaxInBaseUnit(V(maximum));
  }
}

// Test profile times in slow-loop samples; an acceleration of the position test needs two.
struct ProfileTimeRow {
  const char* name;
  double min_samples;
};

constexpr ProfileTimeRow kProfileTimes[] = {
    {"TPP", 1.0}, {"TNP", 1.0}, {"TaPP", 2.0}, {"TaNP", 2.0},
    {"TPS", 1.0}, {"TNS", 1.0}, {"TaPS", 1.0}, {"TaNS", 1.0},
};

void SetProfileTimeRanges(CMC_Setup& setup) {
  for (const ProfileTimeRow& row : kProfileTimes) {
    CMC_Parameter* p = Find(setup, row.name);
    if (p == nullptr) continue;
    const double ts_s = Ts_S(setup);
    p->SetMinInBaseUnit(row.min_samples * ts_s);
    p->SetMaxInBaseUnit(kMaxProfileSamples * ts_s);
  }
}

void SetSymmetricRange(CMC_Parameter* p, double limit) {
  p->SetMinInBaseUnit(-limit);
  p->SetMaxInBaseUnit(limit);
}

// The position test accelerates by at most full-scale counts per sample over the shorter of its
// two acceleration times.
void SetTestPositionRange(CMC_Setup& setup) {
  CMC_Parameter* position = Find(setup, "TestPosition");
  CMC_Parameter* positive_s = Find(setup, "TaPP");
  CMC_Parameter* negative_s = Find(setup, "TaNP");
  if (position == nullptr || positive_s == nullptr || negative_s == nullptr) return;
  const double ts_s = Ts_S(setup);
  const double bound = PositionBound(setup);
  SetSymmetricRange(position, std::min(V(positive_s) / ts_s * bound, V(negative_s) / ts_s * bound));
}

void SetTestSpeedRange(CMC_Setup& setup) {
  CMC_Parameter* speed = Find(setup, "TestSpeed");
  CMC_Parameter* limit = Find(setup, "Limit_Speed");
  if (speed == nullptr || limit == nullptr) return;
  SetSymmetricRange(speed, std::min(SpeedBound(setup), V(limit)));
}

void SetReferenceLimits(CMC_Setup& setup) {
  if (!HasAnalogueReference(setup)) return;
  if (CMC_Parameter* corner = Find(setup, "filter")) {
    corner->SetMaxInBaseUnit(1.0 / (2.0 * Ts_S(setup)));
  }
  SetDeadBandPointRange(setup);
  SetDeadBandRangeRange(setup);
  SetPosMaxRange(setup);
  SetPosMinRange(setup);
  SetSpdMaxRange(setup);
  SetSpdMinRange(setup);
  SetCrtMaxRange(setup);
  SetCrtMinRange(setup);
}

}  // namespace

void SetEncResMaximum(CMC_Setup& setup) {
  CMC_Parameter* resolution_m = Find(setup, "EncRes");
  CMC_Parameter* pitch_m = Find(setup, "PolePitch");
  if (resolution_m == nullptr || pitch_m == nullptr) return;
  resolution_m->SetMaxInBaseUnit(V(pitch_m));
}

void SetMaxCurrentRange(CMC_Setup& setup) {
  if (!ParametersExist(setup, {"KPTHT"})) return;
  CMC_Parameter* current_A = Find(setup, "MAX_CURRENT");
  CMC_Parameter* motor_A = Find(setup, "In");
  CMC_Parameter* drive_A = Find(setup, "InPS");
  if (current_A == nullptr || motor_A == nullptr || drive_A == nullptr) return;
  current_A->SetMinInBaseUnit(0.0);
  current_A->SetMaxInBaseUnit(std::min(V(motor_A), V(drive_A)));
}

void ComputeParameterLimits(CMC_Setup& setup) {
  SetEncResMaximum(setup);
  SetMaxima(setup, kErrorMaxima);
  SetPassBandRanges(setup);
  SetProfileTimeRanges(setup);
  SetTestPositionRange(setup);
  SetTestSpeedRange(setup);
  SetMaxCurrentRange(setup);
  SetReferenceLimits(setup);
  if (ParametersExist(setup, {"IQREF_BQ_INI"})) SetMaxima(setup, kBiquadMaxima);
}

}  // namespace kestrel
