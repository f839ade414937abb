#include "conversions/protections.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "conversions/scales.h"

namespace kestrel {

namespace {

// ---------------------------------------------------------------------------------------------
// Protection word.

struct PcrSwitch {
  int bit;
  const char* name;
};
// Bit 6 (encoder broken wire) is not a switch of its own; bits 8-15 belong to the firmware.
constexpr PcrSwitch kPcrSwitches[] = {
    {0, "isOverCurrent"}, {1, "isMotorI2t"},     {2, "isMotorOverTemp"}, {3, "isDriveOverTemp"},
    {4, "isOverVoltage"}, {5, "isUnderVoltage"}, {7, "isDriveI2t"},
};
constexpr int kEncoderBrokenWireBit = 6;
constexpr uint32_t kPcrKeptBits = 0xFF00;

const PcrSwitch& PcrRow(int bit) {
  for (const PcrSwitch& row : kPcrSwitches) {
    if (row.bit == bit) return row;
  }
  return kPcrSwitches[0];  // not reached: every caller names a bit of the table
}

int DerivePcrSwitch(CMC_Setup& setup, int bit, double maximum = 1.0) {
  CMC_Parameter *pcr, *flag;
  if (!FindAll(setup, {{"PCR", &pcr}, {PcrRow(bit).name, &flag}})) return 0;
  return WriteDerived(flag, 0.0, maximum, Bit(Word(pcr), bit) ? 1.0 : 0.0);
}

// ---------------------------------------------------------------------------------------------
// Control errors: a band (position or speed error) and a delay, with the delay register also
// carrying the on/off switch (65535 = off).

constexpr double kDelayOff = 65535.0;

struct ControlErrorRow {
  const char* flag;
  const char* band;  // physical error band
  const char* band_reg;
  const char* delay;                   // physical delay, s
  const char* delay_reg;               // slow-loop periods, or 65535
  bool (*scale)(CMC_Setup&, double&);  // counts per physical unit; false when an input is missing
};
constexpr ControlErrorRow kPositionError = {
    .flag = "isPositionControlError",
    .band = "ERR_position",
    .band_reg = "ERRMAX",
    .delay = "time_ERR_pos",
    .delay_reg = "TERRMAX",
    .scale = LoadPositionScale,
};
constexpr ControlErrorRow kSpeedError = {
    .flag = "isSpeedControlError",
    .band = "ERR_speed",
    .band_reg = "SERRMAX",
    .delay = "time_ERR_spd",
    .delay_reg = "TSERRMAX",
    .scale = LoadSpeedScale,
};

int DeriveControlErrorFlag(CMC_Setup& setup, const ControlErrorRow& row) {
  CMC_Parameter *flag, *delay;
  if (!FindAll(setup, {{row.flag, &flag}, {row.delay_reg, &delay}})) return 0;
  return WriteDerived(flag, 0.0, 1.0, V(delay) == kDelayOff ? 0.0 : 1.0);
}

int DeriveControlErrorBand(CMC_Setup& setup, const ControlErrorRow& row) {
  CMC_Parameter *band, *reg;
  double scale;
  if (!FindAll(setup, {{row.band, &band}, {row.band_reg, &reg}}) || !row.scale(setup, scale)) {
    return 0;
  }
  const double counts_per_unit = std::fabs(scale);
  return WriteDerived(band, 0.0, 32767.0 / counts_per_unit, V(reg) / counts_per_unit);
}

int DeriveControlErrorDelay(CMC_Setup& setup, const ControlErrorRow& row) {
  CMC_Parameter *delay, *reg;
  double ts_s;
  if (!FindAll(setup, {{row.delay, &delay}, {row.delay_reg, &reg}}) || !Ts_S(setup, ts_s)) {
    return 0;
  }
  return WriteDerived(delay, 0.0, 32767.0 * ts_s, V(reg) * ts_s);
}

int EncodeControlErrorBand(CMC_Setup& setup, const ControlErrorRow& row) {
  CMC_Parameter *band, *reg;
  double scale;
  if (!FindAll(setup, {{row.band, &band}, {row.band_reg, &reg}}) || !row.scale(setup, scale)) {
    return 0;
  }
  reg->SetValueInBaseUnit(V(band) * std::fabs(scale));
  return 1;
}

int EncodeControlErrorDelay(CMC_Setup& setup, const ControlErrorRow& row) {
  CMC_Parameter *flag, *delay, *reg, *ts;
  if (!FindAll(setup,
               {{row.flag, &flag}, {row.delay, &delay}, {row.delay_reg, &reg}, {"Ts_S", &ts}})) {
    return 0;
  }
  reg->SetValueInBaseUnit(IsSet(flag) ? V(delay) / V(ts) : kDelayOff);
  return 1;
}

// ---------------------------------------------------------------------------------------------
// I2t. The limit registers hold (I_trip^2 - I_nominal^2) in squared internal current units / 16;
// the drive's time constant register SFI2T is 2^26 x Ts / t.

constexpr double kTwoPow26 = 67108864.0;
constexpr double kTwoPow11 = 2048.0;
constexpr double kOneSixteenth = 0.0625;

struct I2tRow {
  const char* current;  // trip current, A
  const char* time;     // trip time at that current, s
  const char* nominal;  // A
  const char* peak;     // A
  const char* protect_reg;
  const char* scale_reg;
  const char* limit_reg;
  const char* warning_reg;
  // The drive's current-squared registers travel in internal units, the motor's in base units.
  bool internal_units;
  // Smallest trip current offered, as a multiple of the nominal current.
  double min_current_factor;
  // The drive's time is derived with the parameter "Ts_S", the motor's with the registers' Ts.
  bool time_from_ts_parameter;
};
constexpr I2tRow kDriveI2t = {
    .current = "I_I2t_D",
    .time = "t_I2t_D",
    .nominal = "InPS",
    .peak = "ImaxPS",
    .protect_reg = "II2TPROT_D",
    .scale_reg = "SFI2T_D",
    .limit_reg = "I2TINTLIM_D",
    .warning_reg = "II2TWARLIM_D",
    .internal_units = true,
    .min_current_factor = 1.0,
    .time_from_ts_parameter = true,
};
constexpr I2tRow kMotorI2t = {
    .current = "I_I2t_M",
    .time = "t_I2t_M",
    .nominal = "In",
    .peak = "ImaxM",
    .protect_reg = "II2TPROT_M",
    .scale_reg = "SFI2T_M",
    .limit_reg = "I2TINTLIM_M",
    .warning_reg = "I2TWARLIM_M",
    .internal_units = false,
    .min_current_factor = 1.1,  // a motor must carry a little over its nominal current for ever
    .time_from_ts_parameter = false,
};

double ReadRegister(const CMC_Parameter* p, const I2tRow& row) {
  return row.internal_units ? VI(p) : V(p);
}
void WriteRegister(CMC_Parameter* p, const I2tRow& row, double value) {
  if (row.internal_units) {
    p->SetValueInInternalUnit(value);
  } else {
    p->SetValueInBaseUnit(value);
  }
}

int DeriveI2tCurrent(CMC_Setup& setup, const I2tRow& row) {
  CMC_Parameter *current, *nominal, *peak, *limit;
  if (!FindAll(setup, {{row.current, &current},
                       {row.nominal, &nominal},
                       {row.peak, &peak},
                       {row.limit_reg, &limit}})) {
    return 0;
  }
  double k_i;
  if (!CurrentScale(setup, k_i)) return 0;
  const double nominal_counts = V(nominal) * k_i;
  const double current_A =
      std::sqrt(16.0 * ReadRegister(limit, row) + nominal_counts * nominal_counts) / k_i;
  return WriteDerived(current, row.min_current_factor * V(nominal), V(peak), current_A);
}

int DeriveI2tTime(CMC_Setup& setup, const I2tRow& row) {
  CMC_Parameter *time, *scale;
  double ts_s;
  if (!FindAll(setup, {{row.time, &time}, {row.scale_reg, &scale}}) || !Ts_S(setup, ts_s)) {
    return 0;
  }
  CMC_Parameter* ts_parameter = nullptr;
  if (row.time_from_ts_parameter && !FindAll(setup, {{"Ts_S", &ts_parameter}})) return 0;
  const double numerator_s = (ts_parameter != nullptr ? V(ts_parameter) : ts_s) * kTwoPow26;
  return WriteDerived(time, kTwoPow11 * ts_s, kTwoPow26 * ts_s, numerator_s / V(scale));
}

int EncodeI2tProtection(CMC_Setup& setup, const I2tRow& row) {
  CMC_Parameter *reg, *nominal;
  double k_i;
  if (!FindAll(setup, {{row.protect_reg, &reg}, {row.nominal, &nominal}}) ||
      !CurrentScale(setup, k_i)) {
    return 0;
  }
  WriteRegister(reg, row, V(nominal) * k_i);
  return 1;
}

int EncodeI2tScale(CMC_Setup& setup, const I2tRow& row) {
  CMC_Parameter *reg, *time, *ts;
  if (!FindAll(setup, {{row.scale_reg, &reg}, {row.time, &time}, {"Ts_S", &ts}})) return 0;
  reg->SetValueInBaseUnit(V(ts) * kTwoPow26 / V(time));
  return 1;
}

// (I_trip^2 - I_nominal^2) x kI^2 / 16, optionally scaled (the warning level).
int EncodeI2tExcess(CMC_Setup& setup, const I2tRow& row, const char* reg_name, bool warning) {
  CMC_Parameter *reg, *current, *nominal, *time = nullptr;
  double k_i;
  if (!FindAll(setup, {{reg_name, &reg}, {row.current, &current}, {row.nominal, &nominal}}) ||
      !CurrentScale(setup, k_i) || (warning && !FindAll(setup, {{row.time, &time}}))) {
    return 0;
  }
  double excess = (V(current) * V(current) - V(nominal) * V(nominal)) * k_i * k_i * kOneSixteenth;
  // The warning comes earlier than the trip: the limit scaled by (1 - 2 s / t).
  if (warning) excess *= 1.0 - 2.0 / V(time);
  WriteRegister(reg, row, excess);
  return 1;
}

int EncodeI2tWarning(CMC_Setup& setup, const I2tRow& row) {
  if (!HasI2tWarningLevels(setup)) return 0;
  return EncodeI2tExcess(setup, row, row.warning_reg, true);
}

}  // namespace

bool HasI2tWarningLevels(CMC_Setup& setup) {
  return ParametersExist(setup, {"II2TWARLIM_D", "I2TWARLIM_M"});
}

// ---- Protection word.

int DeriveIsOverCurrent(CMC_Setup& setup) { return DerivePcrSwitch(setup, 0); }
int DeriveIsMotorI2t(CMC_Setup& setup) { return DerivePcrSwitch(setup, 1); }
int DeriveIsMotorOverTemp(CMC_Setup& setup) {
  // Without a motor temperature input the switch may not be turned on; the bit read from the drive
  // is still shown as it is, so that encoding gives the word back unchanged.
  const double maximum = setup.GetIntOption("DisableMotorTemperature") != 0 ? 0.0 : 1.0;
  return DerivePcrSwitch(setup, 2, maximum);
}
int DeriveIsDriveOverTemp(CMC_Setup& setup) { return DerivePcrSwitch(setup, 3); }
int DeriveIsOverVoltage(CMC_Setup& setup) { return DerivePcrSwitch(setup, 4); }
int DeriveIsUnderVoltage(CMC_Setup& setup) { return DerivePcrSwitch(setup, 5); }
int DeriveIsDriveI2t(CMC_Setup& setup) { return DerivePcrSwitch(setup, 7); }

int EncodePCR(CMC_Setup& setup) {
  CMC_Parameter* pcr;
  CMC_Parameter* flags[std::size(kPcrSwitches)];
  bool found = FindAll(setup, {{"PCR", &pcr}});
  for (size_t i = 0; i < std::size(kPcrSwitches); ++i) {
    found = FindAll(setup, {{kPcrSwitches[i].name, &flags[i]}}) && found;
  }
  const bool broken_wire_option = setup.GetIntOption("hasEncoderBrokenWireProtection") != 0;
  CMC_Parameter* halls = nullptr;
  if (broken_wire_option) found = FindAll(setup, {{"isHallsensors", &halls}}) && found;
  if (!found) return 0;

  uint32_t word = Word(pcr) & kPcrKeptBits;
  for (size_t i = 0; i < std::size(kPcrSwitches); ++i) {
    if (IsSet(flags[i])) word = WithBit(word, kPcrSwitches[i].bit, true);
  }
  // Broken-wire detection watches the Hall lines, so it only makes sense with Hall sensors.
  if (broken_wire_option && IsSet(halls)) word = WithBit(word, kEncoderBrokenWireBit, true);
  pcr->SetValueInBaseUnit(static_cast<double>(word));
  return 1;
}

// ---- Thresholds and times.

namespace {
// A DC-bus threshold in volts from its register in ADC counts; no range.
int DeriveBusThreshold(CMC_Setup& setup, const char* physical, const char* reg_name) {
  CMC_Parameter *volts, *reg;
  double k_v;
  if (!FindAll(setup, {{physical, &volts}, {reg_name, &reg}}) || !VdcScale(setup, k_v)) return 0;
  volts->SetValueInBaseUnit(V(reg) / k_v);
  return 1;
}
}  // namespace

int DeriveUMAX_PROT(CMC_Setup& setup) { return DeriveBusThreshold(setup, "UMAX_PROT", "UMAXPROT"); }
int DeriveUMIN_PROT(CMC_Setup& setup) { return DeriveBusThreshold(setup, "UMIN_PROT", "UMINPROT"); }

int DeriveTemp_2(CMC_Setup& setup) {
  CMC_Parameter *temp, *reg, *adc_range, *offset, *gain;
  if (!FindAll(setup, {{"Temp_2", &temp},
                       {"T2MAXPROT", &reg},
                       {"ADCrange", &adc_range},
                       {"DriveTempOutputAt0oC", &offset},
                       {"DriveTempSensorGain", &gain}})) {
    return 0;
  }
  // The sensor gives offset + gain x temperature volts; the ADC maps ADCrange volts to full scale.
  const double sensor_V = V(adc_range) * V(reg) / AdcFullScale(setup);
  temp->SetValueInBaseUnit((sensor_V - V(offset)) / V(gain));
  return 1;
}

int DeriveImax_Prot(CMC_Setup& setup) {
  CMC_Parameter *current, *reg, *drive_peak, *motor_peak;
  if (!FindAll(setup, {{"Imax_Prot", &current},
                       {"IMAXPROT", &reg},
                       {"ImaxPS", &drive_peak},
                       {"ImaxM", &motor_peak}})) {
    return 0;
  }
  return WriteDerived(current, 0.0, std::min(V(drive_peak), V(motor_peak)),
                      V(reg) / CurrentScaleAt(setup, V(drive_peak)));
}

int Derivetime_Imax_Prot(CMC_Setup& setup) {
  CMC_Parameter *time, *reg;
  double ts_s;
  if (!FindAll(setup, {{"time_Imax_Prot", &time}, {"TIMAXPROT", &reg}}) || !Ts_S(setup, ts_s)) {
    return 0;
  }
  return WriteDerived(time, 0.0, 32767.0 * ts_s, V(reg) * ts_s);
}

int DeriveVbrake(CMC_Setup& setup) {
  CMC_Parameter *volts, *reg, *vdc_max;
  if (!FindAll(setup, {{"Vbrake", &volts}, {"BRAKELIM", &reg}, {"VdcMaxMeasurable", &vdc_max}})) {
    return 0;
  }
  return WriteDerived(volts, 1.0, V(vdc_max), V(reg) / VdcScale(setup));
}

namespace {
// A protection threshold the drive compares its readings with: register = physical x scale
// (readings per unit).
struct ThresholdRow {
  const char* reg;
  const char* physical;
  bool (*scale)(CMC_Setup& setup, double& scale);
  bool truncated;  // so that the trip level never lies above the value the user asked for
};
constexpr ThresholdRow kUmaxprot = {"UMAXPROT", "UMAX_PROT", &VdcScale, true};
constexpr ThresholdRow kUminprot = {"UMINPROT", "UMIN_PROT", &VdcScale, false};
constexpr ThresholdRow kImaxprot = {"IMAXPROT", "Imax_Prot", &CurrentScale, false};
constexpr ThresholdRow kBrakelim = {"BRAKELIM", "Vbrake", &VdcScale, false};

int EncodeThreshold(CMC_Setup& setup, const ThresholdRow& row) {
  CMC_Parameter *reg, *physical;
  double scale;
  if (!FindAll(setup, {{row.reg, &reg}, {row.physical, &physical}}) || !row.scale(setup, scale))
    return 0;
  const double value = V(physical) * scale;
  reg->SetValueInBaseUnit(row.truncated ? static_cast<double>(axis::TruncToInt64(value)) : value);
  return 1;
}
}  // namespace

int EncodeUMAXPROT(CMC_Setup& setup) { return EncodeThreshold(setup, kUmaxprot); }
int EncodeUMINPROT(CMC_Setup& setup) { return EncodeThreshold(setup, kUminprot); }
int EncodeIMAXPROT(CMC_Setup& setup) { return EncodeThreshold(setup, kImaxprot); }
int EncodeBRAKELIM(CMC_Setup& setup) { return EncodeThreshold(setup, kBrakelim); }

int EncodeT2MAXPROT(CMC_Setup& setup) {
  CMC_Parameter *reg, *temp, *adc_range, *offset, *gain;
  if (!FindAll(setup, {{"T2MAXPROT", &reg},
                       {"Temp_2", &temp},
                       {"ADCrange", &adc_range},
                       {"DriveTempOutputAt0oC", &offset},
                       {"DriveTempSensorGain", &gain}})) {
    return 0;
  }
  reg->SetValueInBaseUnit(AdcFullScale(setup) * (V(offset) + V(gain) * V(temp)) / V(adc_range));
  return 1;
}

int EncodeTIMAXPROT(CMC_Setup& setup) {
  CMC_Parameter *reg, *time, *ts;
  if (!FindAll(setup, {{"TIMAXPROT", &reg}, {"time_Imax_Prot", &time}, {"Ts_S", &ts}})) return 0;
  reg->SetValueInBaseUnit(V(time) / V(ts));
  return 1;
}

int EncodeT1MAXPROT(CMC_Setup& setup) {
  // Only some firmware has this timer; where it is absent there is nothing to report.
  CMC_Parameter* reg = FindOptional(setup, "T1MAXPROT");
  if (reg == nullptr) return 0;
  reg->SetValueInBaseUnit(32767.0);
  return 1;
}

// ---- Control errors.

int DeriveIsPositionControlError(CMC_Setup& setup) {
  return DeriveControlErrorFlag(setup, kPositionError);
}
int DeriveERR_position(CMC_Setup& setup) { return DeriveControlErrorBand(setup, kPositionError); }
int Derivetime_ERR_pos(CMC_Setup& setup) { return DeriveControlErrorDelay(setup, kPositionError); }
int DeriveIsSpeedControlError(CMC_Setup& setup) {
  return DeriveControlErrorFlag(setup, kSpeedError);
}
int DeriveERR_speed(CMC_Setup& setup) { return DeriveControlErrorBand(setup, kSpeedError); }
int Derivetime_ERR_spd(CMC_Setup& setup) { return DeriveControlErrorDelay(setup, kSpeedError); }
int EncodeERRMAX(CMC_Setup& setup) { return EncodeControlErrorBand(setup, kPositionError); }
int EncodeTERRMAX(CMC_Setup& setup) { return EncodeControlErrorDelay(setup, kPositionError); }
int EncodeSERRMAX(CMC_Setup& setup) { return EncodeControlErrorBand(setup, kSpeedError); }
int EncodeTSERRMAX(CMC_Setup& setup) { return EncodeControlErrorDelay(setup, kSpeedError); }

// ---- I2t.

int DeriveI_I2t_D(CMC_Setup& setup) { return DeriveI2tCurrent(setup, kDriveI2t); }
int Derivet_I2t_D(CMC_Setup& setup) { return DeriveI2tTime(setup, kDriveI2t); }
int DeriveI_I2t_M(CMC_Setup& setup) { return DeriveI2tCurrent(setup, kMotorI2t); }
int Derivet_I2t_M(CMC_Setup& setup) { return DeriveI2tTime(setup, kMotorI2t); }
int EncodeII2TPROT_D(CMC_Setup& setup) { return EncodeI2tProtection(setup, kDriveI2t); }
int EncodeSFI2T_D(CMC_Setup& setup) { return EncodeI2tScale(setup, kDriveI2t); }
int EncodeI2TINTLIM_D(CMC_Setup& setup) {
  return EncodeI2tExcess(setup, kDriveI2t, kDriveI2t.limit_reg, false);
}
int EncodeII2TWARLIM_D(CMC_Setup& setup) { return EncodeI2tWarning(setup, kDriveI2t); }
int EncodeII2TPROT_M(CMC_Setup& setup) { return EncodeI2tProtection(setup, kMotorI2t); }
int EncodeSFI2T_M(CMC_Setup& setup) { return EncodeI2tScale(setup, kMotorI2t); }
int EncodeI2TINTLIM_M(CMC_Setup& setup) {
  return EncodeI2tExcess(setup, kMotorI2t, kMotorI2t.limit_reg, false);
}
int EncodeI2TWARLIM_M(CMC_Setup& setup) { return EncodeI2tWarning(setup, kMotorI2t); }

}  // namespace kestrel
