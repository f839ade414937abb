#include "conversions/motion_units.h"

#include <array>
#include <cmath>
#include <numbers>
#include <span>
#include <string_view>

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "conversions/scales.h"

namespace kestrel {

namespace {

// ---------------------------------------------------------------------------------------------
// Scale factors: physical units per internal unit.

using FactorFn = double (*)(CMC_Setup& setup);

double Get(CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

// One step of the electric angle, rad: the angle is a 16-bit fraction of an electrical period
// (the top half of the 2^32 per period that ENC2THL counts in), so 65536 steps make a full turn.
// The often quoted 9.587672516830327e-05 is 2 pi / 65534, a full turn misread as the voltage
// command's 65534 steps: it would show a whole period as 360.011 degrees.
constexpr double kAngleStep_rad = 2.0 * std::numbers::pi / 65536.0;
constexpr double kTwoPowMinus32 = 2.3283064365386963e-10;

double One(CMC_Setup&) { return 1.0; }
double DcBusVolts(CMC_Setup& setup) { return 1.0 / VdcScale(setup); }
double AnalogueInputVolts(CMC_Setup& setup) {
  return Get(setup, "AnalogueInputsRange") / AdcFullScale(setup);
}
double CommandVolts(CMC_Setup& setup) { return 1.0 / VoltageScale(setup); }
double Amperes(CMC_Setup& setup) { return 1.0 / CurrentScale(setup); }
double FastPeriod(CMC_Setup& setup) { return Ts_C(setup); }
double SlowPeriod(CMC_Setup& setup) { return Ts_S(setup); }
double AngleStep(CMC_Setup&) { return kAngleStep_rad; }
double MotorPosition(CMC_Setup& setup) { return 1.0 / MotorPositionScale(setup); }
double LoadPosition(CMC_Setup& setup) { return 1.0 / LoadPositionScale(setup); }
double LoadPositionMagnitude(CMC_Setup& setup) { return 1.0 / std::fabs(LoadPositionScale(setup)); }
double MotorSpeed(CMC_Setup& setup) { return 1.0 / MotorSpeedScale(setup); }
double LoadSpeed(CMC_Setup& setup) { return 1.0 / LoadSpeedScale(setup); }
double LoadSpeedMagnitude(CMC_Setup& setup) { return 1.0 / std::fabs(LoadSpeedScale(setup)); }
double LoadAcceleration(CMC_Setup& setup) { return 1.0 / LoadAccelerationScale(setup); }
double LoadJerk(CMC_Setup& setup) { return 1.0 / LoadJerkScale(setup); }
double VoltsPerSecond(CMC_Setup& setup) { return (1.0 / VoltageScale(setup)) / Ts_S(setup); }
double AmperesPerSecond(CMC_Setup& setup) { return (1.0 / CurrentScale(setup)) / Ts_S(setup); }

// Electric angle increment per fast-loop sample, per rad/s of electric speed, over the number of
// electrical periods per mechanical one (1 with the encoder registers as this plug-in encodes
// them).
double AngleRate(CMC_Setup& setup) {
  const double pole_pairs =
      RoundDecimalValue(setup.GetParameterValueInInternalUnit("MECRESL") *
                            setup.GetParameterValueInInternalUnit("ENC2THL") * kTwoPowMinus32,
                        0);
  return (kAngleStep_rad / Ts_C(setup)) / pole_pairs;
}

// ADC counts per degree of the drive's temperature sensor.
double TemperatureCountsPerDegree(CMC_Setup& setup) {
  return AdcFullScale(setup) * Get(setup, "DriveTempSensorGain") / Get(setup, "ADCrange");
}
double Degrees(CMC_Setup& setup) { return 1.0 / TemperatureCountsPerDegree(setup); }

constexpr std::string_view kInputRange[] = {"AnalogueInputsRange"};
constexpr std::string_view kAnalogueInputs[] = {"DeadBand_Point", "DeadBand_Range", "AD2",
                                                "AD2FIL_VAL", "AD5"};
constexpr std::string_view kFastPeriod[] = {"Ts_C"};
constexpr std::string_view kAngleCommand[] = {"THTST"};
// Limits, bands and test amplitudes keep a positive factor with a reversed transmission.
constexpr std::string_view kPositionLimits[] = {"ERR_position", "FreezeControl_errband",
                                                "TestPosition", "POS_max", "POS_min"};
constexpr std::string_view kSpeedLimits[] = {"ERR_speed", "Limit_Speed", "ErefMaxSpeed",
                                             "TestSpeed", "SPD_max",     "SPD_min"};
constexpr std::string_view kMotorPositions[] = {"Motor_Position", "APOS_MT"};
constexpr std::string_view kMotorSpeeds[] = {
    "Motor_Speed", "ASPD", "ASPD_MT", "TestMaxSpeed", "SPDREF", "SPDREFL", "Motor_Speed_Reference"};
constexpr std::string_view kAngleRate[] = {"TINCTST"};

struct FactorRow {
  std::string_view unit;
  std::span<const std::string_view> names;  // empty: any variable
  FactorFn factor;
};

constexpr std::span<const std::string_view> kAny{};
// Degrees Celsius: the Latin-1 degree sign 0xB0, then "C".
constexpr std::string_view kDegreesCelsius = "\xB0\x43";

// Unit first, in this order; inside a unit the first row whose names hold the variable, the
// unit's last row (any variable) otherwise.
constexpr FactorRow kFactorRows[] = {
    {"V ", kAny, DcBusVolts},
    {"V", kInputRange, One},
    {"V", kAnalogueInputs, AnalogueInputVolts},
    {"V", kAny, CommandVolts},
    {"A", kAny, Amperes},
    {"s", kFastPeriod, FastPeriod},
    {"s", kAny, SlowPeriod},
    {"rad", kAngleCommand, AngleStep},
    {"rad", kPositionLimits, LoadPositionMagnitude},
    {"rad", kAny, LoadPosition},
    {"m", kMotorPositions, MotorPosition},
    {"m", kPositionLimits, LoadPositionMagnitude},
    {"m", kAny, LoadPosition},
    {"rad/s", kAngleRate, AngleRate},
    {"rad/s", kSpeedLimits, LoadSpeedMagnitude},
    {"rad/s", kAny, LoadSpeed},
    {"m/s", kMotorSpeeds, MotorSpeed},
    {"m/s", kSpeedLimits, LoadSpeedMagnitude},
    {"m/s", kAny, LoadSpeed},
    {"rad/s^2", kAny, LoadAcceleration},
    {"m/s^2", kAny, LoadAcceleration},
    {"rad/s^3", kAny, LoadJerk},
    {"m/s^3", kAny, LoadJerk},
    {kDegreesCelsius, kAny, Degrees},
    {"V/s", kAny, VoltsPerSecond},
    {"A/s", kAny, AmperesPerSecond},
};

constexpr char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// ASCII case folding only: the degree sign and the trailing blank of "V " must match exactly.
constexpr bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

bool Holds(std::span<const std::string_view> names, std::string_view name) {
  if (names.empty()) return true;
  for (std::string_view candidate : names) {
    if (SameNoCase(candidate, name)) return true;
  }
  return false;
}

// The rows of each unit, which stand together in kFactorRows: a question compares its unit with
// each unit once, not with every row.
struct UnitRows {
  std::string_view unit;
  size_t first = 0, count = 0;
};
constexpr size_t CountUnits() {
  size_t units = 0;
  for (size_t i = 0; i < std::size(kFactorRows); ++i) {
    if (i == 0 || !SameNoCase(kFactorRows[i].unit, kFactorRows[i - 1].unit)) ++units;
  }
  return units;
}
constexpr std::array<UnitRows, CountUnits()> GroupRowsByUnit() {
  std::array<UnitRows, CountUnits()> groups{};
  size_t g = 0;
  for (size_t i = 0; i < std::size(kFactorRows); ++i) {
    if (i != 0 && !SameNoCase(kFactorRows[i].unit, kFactorRows[i - 1].unit)) ++g;
    if (groups[g].count == 0) groups[g] = {kFactorRows[i].unit, i, 0};
    ++groups[g].count;
  }
  return groups;
}
constexpr auto kUnitRows = GroupRowsByUnit();
constexpr bool EachUnitStandsTogether() {
  for (size_t i = 0; i < kUnitRows.size(); ++i) {
    for (size_t j = i + 1; j < kUnitRows.size(); ++j) {
      if (SameNoCase(kUnitRows[i].unit, kUnitRows[j].unit)) return false;
    }
  }
  return true;
}
static_assert(EachUnitStandsTogether());

const FactorRow* FindFactorRow(std::string_view unit, std::string_view name) {
  for (const UnitRows& group : kUnitRows) {
    if (!SameNoCase(group.unit, unit)) continue;
    for (size_t i = group.first; i < group.first + group.count; ++i) {
      if (Holds(kFactorRows[i].names, name)) return &kFactorRows[i];
    }
  }
  return nullptr;
}

// Every unit's group ends in a row for any variable, so a known unit never falls through.
constexpr bool EveryUnitEndsWithAnyRow() {
  for (size_t i = 0; i < std::size(kFactorRows); ++i) {
    const bool last_of_unit = i + 1 == std::size(kFactorRows) ||
                              !SameNoCase(kFactorRows[i].unit, kFactorRows[i + 1].unit);
    if (last_of_unit && !kFactorRows[i].names.empty()) return false;
  }
  return true;
}
static_assert(EveryUnitEndsWithAnyRow());

}  // namespace

double ScaleFactor(CMC_Setup* setup, const char* unit, const char* name) {
  // Registers and plain quantities have no unit name: the commonest question, answered first.
  if (setup == nullptr || unit == nullptr || unit[0] == '\0') return 1.0;
  const FactorRow* row = FindFactorRow(unit, name == nullptr ? std::string_view() : name);
  return row == nullptr ? 1.0 : row->factor(*setup);
}

double ScaleOffset(CMC_Setup* setup, const char* unit) {
  if (setup == nullptr || unit == nullptr || !SameNoCase(unit, kDegreesCelsius)) return 0.0;
  // The ADC reading at 0 degrees, negated.
  return -(AdcFullScale(*setup) * Get(*setup, "DriveTempOutputAt0oC") / Get(*setup, "ADCrange"));
}

// ---------------------------------------------------------------------------------------------
// Linear or rotary units.

namespace {

struct UnitChoice {
  const char* name;
  const char* linear;
  const char* rotary;
};

constexpr UnitChoice kLoadParameters[] = {
    {"Load_transmission", "mm", "rot"}, {"TestSpeed", "m/s", "rpm"},
    {"Limit_Speed", "m/s", "rad/s"},    {"TestPosition", "mm", "rot"},
    {"ERR_position", "mm", "rot"},      {"ERR_speed", "m/s", "rad/s"},
};
constexpr UnitChoice kReferenceParameters[] = {
    {"POS_max", "mm", "rot"},
    {"POS_min", "mm", "rot"},
    {"SPD_max", "m/s", "rpm"},
    {"SPD_min", "m/s", "rpm"},
};
constexpr UnitChoice kProfileParameters[] = {
    {"ErefMaxSpeed", "m/s", "rpm"},
    {"ErefMaxAcceleration", "m/s^2", "rad/s^2"},
};
constexpr UnitChoice kFreezeControlParameters[] = {{"FreezeControl_errband", "mm", "rot"}};
constexpr UnitChoice kSoftwareLimitParameters[] = {
    {"Negative_SWLS", "mm", "rot"},
    {"Positive_SWLS", "mm", "rot"},
};
// The motor's own readings ("_MT", "ASPD") stay linear whatever the load.
constexpr UnitChoice kMotionVariables[] = {
    {"Load_Position", "mm", "rot"},
    {"Load_Speed", "m/s", "rpm"},
    {"Target_Position", "mm", "rot"},
    {"Target_Speed", "m/s", "rpm"},
    {"Speed_Reference", "m/s", "rpm"},
    {"Position_Error", "mm", "rot"},
    {"Speed_Error", "m/s", "rpm"},
    {"Pulse_Dir_Input_Speed", "m/s", "rpm"},
    {"Pulse_Dir_Input_Position", "mm", "rot"},
    {"APOS", "mm", "rot"},
    {"APOS_MT", "mm", "mm"},
    {"APOS_LD", "mm", "rot"},
    {"ASPD", "m/s", "m/s"},
    {"ASPD_MT", "m/s", "m/s"},
    {"ASPD_LD", "m/s", "rpm"},
    {"CACC", "m/s^2", "rad/s^2"},
    {"CAPPOS", "mm", "rot"},
    {"CDEC", "m/s^2", "rad/s^2"},
    {"CPOS", "mm", "rot"},
    {"CSPD", "m/s", "rpm"},
    {"EREFP", "mm", "rot"},
    {"EREFS", "m/s", "rpm"},
    {"ERRMAX", "mm", "rot"},
    {"HOMEPOS", "mm", "rot"},
    {"HOMESPD", "m/s", "rpm"},
    {"JERK", "m/s^3", "rad/s^3"},
    {"POSERR", "mm", "rot"},
    {"POSINIT", "mm", "rot"},
    {"POSOKLIM", "mm", "rot"},
    {"POSTRIGG1", "mm", "rot"},
    {"POSTRIGG2", "mm", "rot"},
    {"POSTRIGG3", "mm", "rot"},
    {"POSTRIGG4", "mm", "rot"},
    {"SERRMAX", "m/s", "rpm"},
    {"SPDERR", "m/s", "rpm"},
    {"SPDREF", "m/s", "rpm"},
    {"TACC", "m/s^2", "rad/s^2"},
    {"TPOS", "mm", "rot"},
    {"TPOSFAST", "mm", "rot"},
    {"TSPD", "m/s", "rpm"},
};

void AssignParameterUnits(CMC_Setup& setup, std::span<const UnitChoice> rows, bool linear) {
  for (const UnitChoice& row : rows) {
    if (CMC_Parameter* p = FindOptional(setup, row.name)) {
      p->ChangeUnitType(linear ? row.linear : row.rotary);
    }
  }
}

void AssignVariableUnits(CMC_Setup& setup, std::span<const UnitChoice> rows, bool linear) {
  for (const UnitChoice& row : rows) {
    if (CMC_Variable* v = setup.FindVariable(row.name, 1)) {
      v->ChangeUnitType(linear ? row.linear : row.rotary);
    }
  }
}

}  // namespace

int AssignMotionUnits(CMC_Setup& setup) {
  // Probed like every other name here: a setup without the load kind gets the linear units, as
  // its value read as 0 would give, and nothing is reported.
  const CMC_Parameter* type = FindOptional(setup, "TransmissionType");
  const bool linear = type == nullptr || V(type) == 0.0;
  AssignParameterUnits(setup, kLoadParameters, linear);
  if (HasAnalogueReference(setup)) AssignParameterUnits(setup, kReferenceParameters, linear);
  AssignParameterUnits(setup, kProfileParameters, linear);
  if (ParametersExist(setup, {"POSOKLIM_FC", "TONPOSOK_FC"})) {
    AssignParameterUnits(setup, kFreezeControlParameters, linear);
  }
  if (ParametersExist(setup, {"isSWLS"})) {
    AssignParameterUnits(setup, kSoftwareLimitParameters, linear);
  }
  AssignVariableUnits(setup, kMotionVariables, linear);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Software limit switches.

namespace {

// With a reversed transmission (f <= 0) the register holding the load's negative limit is the
// motor's positive one.
int DeriveSoftwareLimit(CMC_Setup& setup, const char* physical, const char* register_if_forward,
                        const char* register_if_reversed) {
  CMC_Parameter *limit, *forward, *reversed;
  if (!FindAll(setup, {{physical, &limit},
                       {register_if_forward, &forward},
                       {register_if_reversed, &reversed}})) {
    return 0;
  }
  double f;
  if (!LoadPositionScale(setup, f)) return 0;
  const double magnitude = std::fabs(f);
  return WriteDerived(limit, -2147483648.0 / magnitude, 2147483647.0 / magnitude,
                      (f > 0.0 ? V(forward) : V(reversed)) / f);
}

int EncodeSoftwareLimit(CMC_Setup& setup, const char* physical, const char* register_if_forward,
                        const char* register_if_reversed) {
  CMC_Parameter *limit, *forward, *reversed;
  if (!FindAll(setup, {{physical, &limit},
                       {register_if_forward, &forward},
                       {register_if_reversed, &reversed}})) {
    return 0;
  }
  double f;
  if (!LoadPositionScale(setup, f)) return 0;
  (f > 0.0 ? forward : reversed)->SetValueInBaseUnit(V(limit) * f);
  return 1;
}

}  // namespace

int DeriveNegativeSWLS(CMC_Setup& setup) {
  return DeriveSoftwareLimit(setup, "Negative_SWLS", "SWNEGLS", "SWPOSLS");
}
int DerivePositiveSWLS(CMC_Setup& setup) {
  return DeriveSoftwareLimit(setup, "Positive_SWLS", "SWPOSLS", "SWNEGLS");
}
int EncodeNegativeSWLS(CMC_Setup& setup) {
  return EncodeSoftwareLimit(setup, "Negative_SWLS", "SWNEGLS", "SWPOSLS");
}
int EncodePositiveSWLS(CMC_Setup& setup) {
  return EncodeSoftwareLimit(setup, "Positive_SWLS", "SWPOSLS", "SWNEGLS");
}

// ---------------------------------------------------------------------------------------------
// Profile of the external reference: positive magnitudes, 16-bit registers.

namespace {

// The load scale of a profile value, checked.
using CheckedScale = bool (*)(CMC_Setup& setup, double& scale);

int DeriveProfileValue(CMC_Setup& setup, const char* physical, const char* reg,
                       CheckedScale scale) {
  CMC_Parameter *value, *counts;
  double k;
  if (!FindAll(setup, {{physical, &value}, {reg, &counts}}) || !scale(setup, k)) return 0;
  const double magnitude = std::fabs(k);
  return WriteDerived(value, 0.0, 32767.0 / magnitude, V(counts) / magnitude);
}

int EncodeProfileValue(CMC_Setup& setup, const char* physical, const char* reg,
                       CheckedScale scale) {
  CMC_Parameter *value, *counts;
  double k;
  if (!FindAll(setup, {{physical, &value}, {reg, &counts}}) || !scale(setup, k)) return 0;
  counts->SetValueInBaseUnit(V(value) * std::fabs(k));
  return 1;
}

}  // namespace

int DeriveErefMaxSpeed(CMC_Setup& setup) {
  return DeriveProfileValue(setup, "ErefMaxSpeed", "CSPD", LoadSpeedScale);
}
int DeriveErefMaxAcceleration(CMC_Setup& setup) {
  return DeriveProfileValue(setup, "ErefMaxAcceleration", "CACC", LoadAccelerationScale);
}
int EncodeErefMaxSpeed(CMC_Setup& setup) {
  return EncodeProfileValue(setup, "ErefMaxSpeed", "CSPD", LoadSpeedScale);
}
int EncodeErefMaxAcceleration(CMC_Setup& setup) {
  return EncodeProfileValue(setup, "ErefMaxAcceleration", "CACC", LoadAccelerationScale);
}

// ---------------------------------------------------------------------------------------------
// Encoder and transmission registers (encoded only).

namespace {

// Encoder counts per pole pitch.
int EncodeCountsPerPitch(CMC_Setup& setup, const char* reg) {
  CMC_Parameter *counts, *pitch_m, *resolution_m;
  if (!FindAll(setup, {{reg, &counts}, {"PolePitch", &pitch_m}, {"EncRes", &resolution_m}})) {
    return 0;
  }
  counts->SetValueInBaseUnit(V(pitch_m) / V(resolution_m));
  return 1;
}

}  // namespace

int EncodeMECRESL(CMC_Setup& setup) { return EncodeCountsPerPitch(setup, "MECRESL"); }
int EncodeELRESL(CMC_Setup& setup) { return EncodeCountsPerPitch(setup, "ELRESL"); }

// Electric angle per encoder count as a 32-bit fraction of one electrical period.
int EncodeENC2THL(CMC_Setup& setup) {
  CMC_Parameter *angle, *pitch_m, *resolution_m;
  if (!FindAll(setup, {{"ENC2THL", &angle}, {"PolePitch", &pitch_m}, {"EncRes", &resolution_m}})) {
    return 0;
  }
  angle->SetValueInBaseUnit(V(resolution_m) * 4294967296.0 / V(pitch_m));
  return 1;
}

int EncodeABSTART_MINMOVE(CMC_Setup& setup) {
  CMC_Parameter *move, *pitch_m, *resolution_m;
  if (!FindAll(setup,
               {{"ABSTART_MINMOVE", &move}, {"PolePitch", &pitch_m}, {"EncRes", &resolution_m}})) {
    return 0;
  }
  const CMC_Parameter* percent_p = FindOptional(setup, "ABSTART_MINMOVE_PERCENT");
  const double percent = percent_p == nullptr ? 60.0 : V(percent_p);
  move->SetValueInBaseUnit((V(pitch_m) / V(resolution_m)) / 3.0 * percent / 100.0);
  return 1;
}

int EncodeTRANSMISSION(CMC_Setup& setup) {
  CMC_Parameter *sign, *motor, *load;
  if (!FindAll(setup, {{"TRANSMISSION", &sign},
                       {"Motor_transmission", &motor},
                       {"Load_transmission", &load}})) {
    return 0;
  }
  sign->SetValueInBaseUnit(V(motor) / V(load) < 0.0 ? -1.0 : 1.0);
  return 1;
}

}  // namespace kestrel
