#include "conversions/reference.h"

#include <algorithm>
#include <cmath>

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "conversions/scales.h"

namespace kestrel {

namespace {

// The reference registers are 16-bit: the controlled quantity spans at most 32767 internal units
// either side of zero.
constexpr double kFullScale16 = 32767.0;
constexpr double kTwoPowMinus16 = 1.52587890625e-05;
// FILTER1 at full scale lets the reference through unfiltered.
constexpr double kFilterOff = 32767.0;
// Corner shown for a filter that is off, 1/s.
constexpr double kFilterOffCorner = 50.0;

double Sign(double f) { return f > 0.0 ? 1.0 : -1.0; }

// Quiet lookup of every name a range setter needs: a range setter is also run as a limit of the
// setup, where absent parameters are normal.
bool FindQuietly(CMC_Setup& setup,
                 std::initializer_list<std::pair<std::string_view, CMC_Parameter**>> lookups) {
  QuietLookups quiet;
  return FindAll(setup, lookups);
}

// The parameter's own setters, minimum first.
void SetRange(CMC_Parameter* p, double minimum, double maximum) {
  p->SetMinInBaseUnit(minimum);
  p->SetMaxInBaseUnit(maximum);
}

// The drive's bound of a reference pair: the 16-bit register's full scale in physical units, from
// the scale that also carries the pair's internal values. False (the missing name reported while
// g_bShowErrors) when an input of that scale is missing.
using BoundFn = bool (*)(CMC_Setup& setup, double& bound);

double PositionBoundOf(double f) { return kFullScale16 / std::fabs(f); }
bool PositionBound(CMC_Setup& setup, double& bound) {
  double f;
  if (!LoadPositionScale(setup, f)) return false;
  bound = PositionBoundOf(f);
  return true;
}
bool SpeedBound(CMC_Setup& setup, double& bound) {
  double s;
  if (!LoadSpeedScale(setup, s)) return false;
  bound = kFullScale16 / std::fabs(s);
  return true;
}
bool CurrentBound(CMC_Setup& setup, double& bound) {
  double k_i;
  if (!CurrentScale(setup, k_i)) return false;
  bound = kFullScale16 / k_i;
  return true;
}

// The ranges of the reference pairs for a bound already found: a calculator finds it first, so
// that it can refuse before it changes anything.
using BoundedRange = void (*)(CMC_Setup& setup, double bound);

void PosMaxRange(CMC_Setup& setup, double bound) {
  CMC_Parameter *max, *min;
  if (!FindQuietly(setup, {{"POS_max", &max}, {"POS_min", &min}})) return;
  SetRange(max, V(min), bound);
}

void PosMinRange(CMC_Setup& setup, double bound) {
  CMC_Parameter *min, *max;
  if (!FindQuietly(setup, {{"POS_min", &min}, {"POS_max", &max}})) return;
  SetRange(min, -bound, V(max));
}

void SpdMaxRange(CMC_Setup& setup, double bound) {
  CMC_Parameter *max, *min, *limit;
  if (!FindQuietly(setup, {{"SPD_max", &max}, {"SPD_min", &min}, {"Limit_Speed", &limit}})) return;
  SetRange(max, V(min), std::min(bound, V(limit)));
}

void SpdMinRange(CMC_Setup& setup, double bound) {
  CMC_Parameter *min, *max, *limit;
  if (!FindQuietly(setup, {{"SPD_min", &min}, {"SPD_max", &max}, {"Limit_Speed", &limit}})) return;
  SetRange(min, std::max(-V(limit), -bound), V(max));
}

void CrtMaxRange(CMC_Setup& setup, double bound) {
  CMC_Parameter *max, *min, *drive_A, *motor_A;
  if (!FindQuietly(
          setup,
          {{"CRT_max", &max}, {"CRT_min", &min}, {"ImaxPS", &drive_A}, {"ImaxM", &motor_A}})) {
    return;
  }
  SetRange(max, V(min), std::min({bound, V(drive_A), V(motor_A)}));
}

void CrtMinRange(CMC_Setup& setup, double bound) {
  CMC_Parameter *min, *max, *drive_A, *motor_A;
  if (!FindQuietly(
          setup,
          {{"CRT_min", &min}, {"CRT_max", &max}, {"ImaxPS", &drive_A}, {"ImaxM", &motor_A}})) {
    return;
  }
  SetRange(min, std::max(-std::min(V(drive_A), V(motor_A)), -bound), V(max));
}

// A range setter on its own: nothing set, and nothing reported, without an input of the bound.
void SetBoundedRange(CMC_Setup& setup, BoundFn bound_of, BoundedRange set) {
  QuietLookups quiet;
  double bound;
  if (bound_of(setup, bound)) set(setup, bound);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Ranges.

void SetPosMaxRange(CMC_Setup& setup) { SetBoundedRange(setup, PositionBound, PosMaxRange); }
void SetPosMinRange(CMC_Setup& setup) { SetBoundedRange(setup, PositionBound, PosMinRange); }
void SetSpdMaxRange(CMC_Setup& setup) { SetBoundedRange(setup, SpeedBound, SpdMaxRange); }
void SetSpdMinRange(CMC_Setup& setup) { SetBoundedRange(setup, SpeedBound, SpdMinRange); }
void SetCrtMaxRange(CMC_Setup& setup) { SetBoundedRange(setup, CurrentBound, CrtMaxRange); }
void SetCrtMinRange(CMC_Setup& setup) { SetBoundedRange(setup, CurrentBound, CrtMinRange); }

// Input spans: 20 V is -10 V .. +10 V, 5 V is 0 .. 5 V, anything else 0 .. 3.3 V.
void SetDeadBandPointRange(CMC_Setup& setup) {
  CMC_Parameter *point_V, *span_V;
  if (!FindQuietly(setup, {{"DeadBand_Point", &point_V}, {"AnalogueInputsRange", &span_V}})) return;
  const double span = V(span_V);
  const double minimum_V = span == 20.0 ? -10.0 : 0.0;
  const double maximum_V = span == 20.0 ? 10.0 : span == 5.0 ? 5.0 : 3.3;
  SetRange(point_V, minimum_V, maximum_V);
}

// The band must fit in the input span: either the whole span ("NewDeadBand") or the room on the
// narrower side of the point.
void SetDeadBandRangeRange(CMC_Setup& setup) {
  CMC_Parameter *range_V, *point_V;
  if (!FindQuietly(setup, {{"DeadBand_Range", &range_V}, {"DeadBand_Point", &point_V}})) return;
  const double low_V = point_V->GetMinInBaseUnit();
  const double high_V = point_V->GetMaxInBaseUnit();
  const double maximum_V = setup.GetIntOption("NewDeadBand") == 1
                               ? high_V - low_V
                               : std::min(V(point_V) - low_V, high_V - V(point_V));
  SetRange(range_V, 0.0, maximum_V);
}

// ---------------------------------------------------------------------------------------------
// Dead band: ADC counts against volts at the input.

namespace {
// A bipolar input reads 0 at -10 V.
double InputOffset_V(double span_V) { return Trunc(span_V) == 20 ? 10.0 : 0.0; }
}  // namespace

int DeriveDeadBandPoint(CMC_Setup& setup) {
  CMC_Parameter *point_V, *span_V, *level;
  if (!FindAll(setup, {{"DeadBand_Point", &point_V},
                       {"AnalogueInputsRange", &span_V},
                       {"LEVEL_AD5", &level}})) {
    return 0;
  }
  SetDeadBandPointRange(setup);
  const double span = V(span_V);
  point_V->SetValueInBaseUnit(span * V(level) / AdcFullScale(setup) - InputOffset_V(span));
  return 1;
}

int DeriveDeadBandRange(CMC_Setup& setup) {
  CMC_Parameter *range_V, *span_V, *width;
  if (!FindAll(setup, {{"DeadBand_Range", &range_V},
                       {"AnalogueInputsRange", &span_V},
                       {"E_LEVEL_AD5", &width}})) {
    return 0;
  }
  SetDeadBandRangeRange(setup);
  range_V->SetValueInBaseUnit(V(span_V) * V(width) / AdcFullScale(setup));
  return 1;
}

int EncodeLEVEL_AD5(CMC_Setup& setup) {
  CMC_Parameter *level, *point_V, *span_V;
  if (!FindAll(setup, {{"LEVEL_AD5", &level},
                       {"DeadBand_Point", &point_V},
                       {"AnalogueInputsRange", &span_V}})) {
    return 0;
  }
  const double span = V(span_V);
  level->SetValueInBaseUnit(AdcFullScale(setup) * (V(point_V) + InputOffset_V(span)) / span);
  return 1;
}

int EncodeE_LEVEL_AD5(CMC_Setup& setup) {
  CMC_Parameter *width, *range_V, *span_V;
  if (!FindAll(setup, {{"E_LEVEL_AD5", &width},
                       {"DeadBand_Range", &range_V},
                       {"AnalogueInputsRange", &span_V}})) {
    return 0;
  }
  width->SetValueInBaseUnit(V(range_V) * AdcFullScale(setup) / V(span_V));
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Reference filter: FILTER1 = 32767 x (1 - exp(-filter x Ts_S)).

int DeriveUseFilter(CMC_Setup& setup) {
  CMC_Parameter *use, *coefficient;
  if (!FindAll(setup, {{"UseFilter", &use}, {"FILTER1", &coefficient}})) return 0;
  return WriteDerived(use, 0.0, 1.0, V(coefficient) == kFilterOff ? 0.0 : 1.0);
}

int DeriveFilter(CMC_Setup& setup) {
  CMC_Parameter *corner, *coefficient, *use, *slper, *pwmper, *clock;
  if (!FindAll(setup, {{"filter", &corner},
                       {"FILTER1", &coefficient},
                       {"UseFilter", &use},
                       {"SLPER", &slper},
                       {"PWMPER", &pwmper},
                       {"DSP_freq", &clock}})) {
    return 0;
  }
  const double ts_s = LoopPeriodOf(V(slper), V(pwmper), V(clock));
  const double c = V(coefficient);
  return WriteDerived(corner, 0.0, 0.5 / ts_s,
                      c == kFilterOff ? kFilterOffCorner : -std::log(1.0 - c / kFilterOff) / ts_s);
}

int EncodeFILTER1(CMC_Setup& setup) {
  CMC_Parameter *coefficient, *use, *corner, *ts_s;
  if (!FindAll(
          setup,
          {{"FILTER1", &coefficient}, {"UseFilter", &use}, {"filter", &corner}, {"Ts_S", &ts_s}})) {
    return 0;
  }
  coefficient->SetValueInBaseUnit(
      V(use) == 0.0 ? kFilterOff : kFilterOff * (1.0 - std::exp(-V(corner) * V(ts_s))));
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Reference gain: internal value = AD5OFF + reading x CADIN x 2 x sign(f) x 2^(SFTADIN - 16).

namespace {

struct ReferencePair {
  const char* min_name;
  const char* max_name;
  BoundFn bound;
  BoundedRange min_range;  // null: no range step
  BoundedRange max_range;
};

constexpr ReferencePair kPositionPair{"POS_min", "POS_max", PositionBound, PosMinRange,
                                      PosMaxRange};
constexpr ReferencePair kSpeedPair{"SPD_min", "SPD_max", SpeedBound, SpdMinRange, SpdMaxRange};
constexpr ReferencePair kCurrentPair{"CRT_min", "CRT_max", CurrentBound, nullptr, CrtMaxRange};

// The load position scale f, whose sign orients the reference gain, and the pair's bound; the
// position pair's own scale is f, so it is not read twice.
bool ReadScales(CMC_Setup& setup, const ReferencePair& pair, double& f, double& bound) {
  if (!LoadPositionScale(setup, f)) return false;
  if (&pair != &kPositionPair) return pair.bound(setup, bound);
  bound = PositionBoundOf(f);
  return true;
}

// Position for mode 0, speed for 1, current for anything else.
const ReferencePair& PairForMode(int control_mode) {
  if (control_mode == 0) return kPositionPair;
  if (control_mode == 1) return kSpeedPair;
  return kCurrentPair;
}

int DeriveReferenceMin(CMC_Setup& setup, const ReferencePair& pair) {
  CMC_Parameter *min, *offset;
  // The current pair's minimum is a plain copy of the offset, made only when both exist.
  const bool found = pair.min_range == nullptr
                         ? FindQuietly(setup, {{pair.min_name, &min}, {"AD5OFF", &offset}})
                         : FindAll(setup, {{pair.min_name, &min}, {"AD5OFF", &offset}});
  // The internal value is written through the pair's scale, so its inputs must be there too.
  double bound;
  if (!found || !pair.bound(setup, bound)) return 0;
  if (pair.min_range != nullptr) pair.min_range(setup, bound);
  min->SetValueInInternalUnit(VI(offset));
  return 1;
}

int DeriveReferenceMax(CMC_Setup& setup, const ReferencePair& pair) {
  CMC_Parameter *max, *offset, *gain, *shift;
  if (!FindAll(
          setup,
          {{pair.max_name, &max}, {"AD5OFF", &offset}, {"CADIN", &gain}, {"SFTADIN", &shift}})) {
    return 0;
  }
  double f, bound;
  if (!ReadScales(setup, pair, f, bound)) return 0;
  pair.max_range(setup, bound);
  // exp2 of the register as a double: no shift by an unchecked count.
  const double span =
      AdcFullScale(setup) * (VI(gain) * 2.0 * Sign(f)) * kTwoPowMinus16 * std::exp2(VI(shift));
  max->SetValueInInternalUnit(VI(offset) + span);
  return 1;
}

struct FixedPointGain {
  double mantissa;
  double shift;
};

// Mantissa within 16 bits and the shift that scales it back. Normalised on the magnitude, so a
// reversed transmission (negative gain) is shifted like a forward one.
FixedPointGain NormaliseGain(double g) {
  const double magnitude = std::fabs(g);
  if (!(magnitude > kFullScale16)) return {g, 0.0};
  const double k = std::ceil(std::log(magnitude / kFullScale16) / std::log(2.0));
  return {g / std::exp2(k), k};
}

}  // namespace

int DerivePosMin(CMC_Setup& setup) { return DeriveReferenceMin(setup, kPositionPair); }
int DerivePosMax(CMC_Setup& setup) { return DeriveReferenceMax(setup, kPositionPair); }
int DeriveSpdMin(CMC_Setup& setup) { return DeriveReferenceMin(setup, kSpeedPair); }
int DeriveSpdMax(CMC_Setup& setup) { return DeriveReferenceMax(setup, kSpeedPair); }
int DeriveCrtMin(CMC_Setup& setup) { return DeriveReferenceMin(setup, kCurrentPair); }
int DeriveCrtMax(CMC_Setup& setup) { return DeriveReferenceMax(setup, kCurrentPair); }

int EncodeReferenceGain(CMC_Setup& setup) {
  CMC_Parameter *mode, *gain, *shift, *offset, *min, *max;
  if (!FindAll(
          setup,
          {{"ControlMode", &mode}, {"CADIN", &gain}, {"SFTADIN", &shift}, {"AD5OFF", &offset}})) {
    return 0;
  }
  const int control_mode = Trunc(V(mode));
  const ReferencePair& pair = PairForMode(control_mode);
  // The pair's internal values are read through its scale: its inputs are checked with f's.
  double f, bound;
  if (!FindAll(setup, {{pair.min_name, &min}, {pair.max_name, &max}}) ||
      !ReadScales(setup, pair, f, bound)) {
    return 0;
  }

  // Half the span per half of the input reading, in 16-bit units of the reading.
  const double min_internal = VI(min);
  const double g = (VI(max) - min_internal) * 0.5 * 65536.0 / AdcFullScale(setup) * Sign(f);
  const FixedPointGain fixed = NormaliseGain(g);
  shift->SetValueInInternalUnit(fixed.shift);
  gain->SetValueInInternalUnit(fixed.mantissa);
  if (control_mode < 0 || control_mode > 2) return 0;
  offset->SetValueInInternalUnit(min_internal);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Gear and the guarded steps.

int EncodeGEAR(CMC_Setup& setup) {
  CMC_Parameter *gear, *slave, *master;
  if (!FindAll(setup, {{"GEAR", &gear}, {"GEARSLAVE", &slave}, {"GEARMASTER", &master}})) return 0;
  gear->SetValueInBaseUnit(V(slave) / V(master));
  return 1;
}

int DeriveAnalogueReference(CMC_Setup& setup) {
  if (!HasAnalogueReference(setup)) return 0;
  RunAll(setup,
         {DeriveDeadBandPoint, DeriveDeadBandRange, DeriveUseFilter, DeriveFilter, DerivePosMin,
          DerivePosMax, DeriveSpdMin, DeriveSpdMax, DeriveCrtMin, DeriveCrtMax});
  return 1;
}

int EncodeAnalogueReference(CMC_Setup& setup) {
  if (!HasAnalogueReference(setup)) return 0;
  RunAll(setup, {EncodeReferenceGain, EncodeFILTER1, EncodeLEVEL_AD5, EncodeE_LEVEL_AD5});
  return 1;
}

}  // namespace kestrel
