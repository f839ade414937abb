#include "conversions/gains.h"

#include <string_view>

#include <strings.h>
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "conversions/scales.h"

namespace kestrel {

namespace {

// Registers of the controllers saturate at the largest positive 16-bit value.
constexpr double kFullScale = 32767.0;
// "ACR" bits read here.
constexpr int kAcrFreezeControlBit = 4;
constexpr int kAcrSpeedSaturationBit = 9;  // set: IlimPS is the speed controller's output limit
constexpr int kAcrSpeedForwardBit = 14;
// FILTERQ at full scale bypasses the current-loop output filter; its corner is then shown as this.
constexpr double kUnfilteredCorner_per_s = 5000.0;

// CurrentScale from the "ImaxPS" a calculator has already found.
double CurrentScaleOf(const CMC_Parameter* imax_ps) {
  return CurrentScaleAt(*imax_ps->GetSetup(), V(imax_ps));
}

// ControlMode 0 with PositionControlType 1: position, speed and current loops all closed.
bool IsPositionCascade(const CMC_Parameter* control_mode, const CMC_Parameter* control_type) {
  return V(control_mode) == 0.0 && V(control_type) == 1.0;
}

// Largest current the drive and the motor both stand, A.
double PeakCurrent_A(const CMC_Parameter* imax_ps, const CMC_Parameter* imax_m) {
  return std::min(V(imax_ps), V(imax_m));
}

// A saturation register (32767 minus the allowed output) gets its register range, then the value.
void WriteSaturation(CMC_Parameter* reg, double allowed_output) {
  SetParameterRange(reg, 0.0, kFullScale);
  reg->SetValueInBaseUnit(kFullScale - allowed_output);
}

bool PairPresent(CMC_Setup& setup, const GainPair& pair) {
  return pair.guard == nullptr || ParametersExist(setup, {pair.guard});
}

// Reads the gain to encode into `reg`; false when the pair or a name is absent, or when the gain
// is not finite and so cannot be held.
bool EncodableGain(CMC_Setup& setup, const GainPair& pair, const char* reg, double& gain) {
  if (!PairPresent(setup, pair)) return false;
  CMC_Parameter *scaled, *target;
  if (!FindAll(setup, {{pair.scaled, &scaled}, {reg, &target}})) return false;
  gain = V(scaled);
  return std::isfinite(gain);
}

int WriteRegister(CMC_Setup& setup, const char* reg, double value) {
  setup.FindParameter(reg)->SetValueInBaseUnit(value);
  return 1;
}

// Limit of the controller output current, A, from whichever saturation register ACR selects.
int DeriveOutputLimitCurrent(CMC_Setup& setup, const char* name) {
  CMC_Parameter *out, *imax_ps, *imax_m, *acr, *sats, *satp;
  if (!FindAll(setup, {{name, &out},
                       {"ImaxPS", &imax_ps},
                       {"ImaxM", &imax_m},
                       {"ACR", &acr},
                       {"SATS", &sats},
                       {"SATP", &satp}})) {
    return 0;
  }
  const double saturation = Bit(Word(acr), kAcrSpeedSaturationBit) ? V(sats) : V(satp);
  return WriteDerived(out, 0.0, PeakCurrent_A(imax_ps, imax_m),
                      (kFullScale - saturation) / CurrentScaleOf(imax_ps));
}

// Integral limit as a percentage of the output limit.
int DeriveIntegralPercent(CMC_Setup& setup, const char* name, const char* imax, const char* sat) {
  CMC_Parameter *out, *imax_reg, *sat_reg;
  if (!FindAll(setup, {{name, &out}, {imax, &imax_reg}, {sat, &sat_reg}})) return 0;
  return WriteDerived(out, 0.0, 100.0,
                      (kFullScale - V(imax_reg)) * 100.0 / (kFullScale - V(sat_reg)));
}

// SATP and IMAXP: the position controller's output is a speed in the cascade, a current
// otherwise. IMAXP allows the share "IPSatP" (%) of that output, SATP all of it.
int EncodePositionSaturation(CMC_Setup& setup, const char* reg, const char* percent_name) {
  CMC_Parameter *target, *control_mode, *control_type, *percent = nullptr;
  if (!FindAll(setup, {{reg, &target},
                       {"ControlMode", &control_mode},
                       {"PositionControlType", &control_type}})) {
    return 0;
  }
  if (percent_name != nullptr && !FindAll(setup, {{percent_name, &percent}})) return 0;
  const double share = percent == nullptr ? 1.0 : V(percent) / 100.0;
  CMC_Parameter* limit;
  if (IsPositionCascade(control_mode, control_type)) {
    double speed_scale;
    if (!FindAll(setup, {{"Limit_Speed", &limit}}) || !LoadSpeedScale(setup, speed_scale)) return 0;
    WriteSaturation(target, V(limit) * share * std::fabs(speed_scale));
  } else {
    double current_scale;
    if (!FindAll(setup, {{"IlimPS", &limit}}) || !CurrentScale(setup, current_scale)) return 0;
    WriteSaturation(target, V(limit) * share * current_scale);
  }
  return 1;
}

int EncodeSaturationFromPwm(CMC_Setup& setup, const char* reg) {
  CMC_Parameter* target = FindOptional(setup, reg);
  CMC_Parameter* satpwm = FindOptional(setup, "SATPWM");
  if (target == nullptr || satpwm == nullptr) return 0;
  target->SetValueInBaseUnit(V(satpwm));
  return 1;
}

bool FreezeControlPresent(CMC_Setup& setup) {
  return ParametersExist(setup, {"POSOKLIM_FC", "TONPOSOK_FC"});
}

// The table row of a scaled gain, found when the program is compiled.
consteval const GainPair& Row(std::string_view scaled_name) {
  for (const GainPair& pair : kGainPairs) {
    if (std::string_view(pair.scaled) == scaled_name) return pair;
  }
  throw "no such gain";  // not a constant expression: a misspelt name fails to compile
}

}  // namespace

// ---- Fixed-point gains ------------------------------------------------------------------------

const GainPair* FindGainPair(const char* scaled_name) {
  if (scaled_name == nullptr) return nullptr;
  for (const GainPair& pair : kGainPairs) {
    if (strcasecmp(pair.scaled, scaled_name) == 0) return &pair;
  }
  return nullptr;
}

double GainShift(double gain) {
  if (!(gain > 1.0)) return 0.0;  // also NaN
  if (std::isinf(gain)) return std::numeric_limits<double>::infinity();
  // gain = f x 2^e with f in [0.5, 1): gain <= 2^e, and gain <= 2^(e-1) only when f is 0.5.
  // Taking the exponent instead of ln(gain) / ln(2) keeps powers of two exact, where the quotient
  // of logarithms can land a hair above the integer and push the mantissa down to half scale.
  int exponent = 0;
  const double fraction = std::frexp(gain, &exponent);
  return fraction == 0.5 ? exponent - 1.0 : static_cast<double>(exponent);
}

double GainMantissa(double gain, double shift) {
  // For a whole shift, scaling by 2^-shift first is exact and cannot overflow for huge gains.
  if (std::isfinite(shift) && shift == std::trunc(shift) && std::fabs(shift) <= 4096.0) {
    return std::ldexp(gain, -axis::TruncToInt(shift)) * kGainUnity;
  }
  return gain * kGainUnity / std::pow(2.0, shift);
}

double GainValue(double mantissa, double shift) {
  return mantissa * std::pow(2.0, shift) / kGainUnity;
}

int DeriveGain(CMC_Setup& setup, const GainPair& pair) {
  if (!PairPresent(setup, pair)) return 0;
  CMC_Parameter *scaled, *mantissa, *shift, *high = nullptr;
  if (!FindAll(setup, {{pair.scaled, &scaled}, {pair.mantissa, &mantissa}, {pair.shift, &shift}})) {
    return 0;
  }
  if (pair.high_shift != nullptr && !FindAll(setup, {{pair.high_shift, &high}})) return 0;
  const double total_shift = V(shift) + (high == nullptr ? 0.0 : V(high));
  return WriteDerived(scaled, 0.0, pair.max_gain, GainValue(V(mantissa), total_shift));
}

int EncodeGainShift(CMC_Setup& setup, const GainPair& pair) {
  double gain = 0.0;
  if (!EncodableGain(setup, pair, pair.shift, gain)) return 0;
  const double shift = GainShift(gain);
  return WriteRegister(setup, pair.shift,
                       pair.high_shift == nullptr ? shift : std::min(shift, kLowShiftLimit));
}

int EncodeGainHighShift(CMC_Setup& setup, const GainPair& pair) {
  double gain = 0.0;
  if (pair.high_shift == nullptr || !EncodableGain(setup, pair, pair.high_shift, gain)) return 0;
  const double shift = GainShift(gain);
  return WriteRegister(setup, pair.high_shift,
                       shift > kLowShiftLimit ? shift - kLowShiftLimit : 0.0);
}

int EncodeGainMantissa(CMC_Setup& setup, const GainPair& pair) {
  double gain = 0.0;
  if (!EncodableGain(setup, pair, pair.mantissa, gain)) return 0;
  return WriteRegister(setup, pair.mantissa, GainMantissa(gain, GainShift(gain)));
}

int DeriveGain(CMC_Setup& setup, const char* scaled_name) {
  const GainPair* pair = FindGainPair(scaled_name);
  return pair == nullptr ? 0 : DeriveGain(setup, *pair);
}

int EncodeGain(CMC_Setup& setup, const char* scaled_name) {
  const GainPair* pair = FindGainPair(scaled_name);
  if (pair == nullptr || !PairPresent(setup, *pair)) return 0;
  // All registers first, so that a missing one leaves the pair as it was.
  CMC_Parameter *scaled, *mantissa, *shift, *high = nullptr;
  if (!FindAll(setup,
               {{pair->scaled, &scaled}, {pair->mantissa, &mantissa}, {pair->shift, &shift}})) {
    return 0;
  }
  if (pair->high_shift != nullptr && !FindAll(setup, {{pair->high_shift, &high}})) return 0;
  if (!std::isfinite(V(scaled))) return 0;  // refused by each part too; checked once here
  EncodeGainShift(setup, *pair);
  if (high != nullptr) EncodeGainHighShift(setup, *pair);
  return EncodeGainMantissa(setup, *pair);
}

int DeriveKp_C_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("Kp_C_scl")); }
int DeriveKi_C_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("Ki_C_scl")); }
int DeriveKp_S_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("Kp_S_scl")); }
int DeriveKi_S_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("Ki_S_scl")); }
int DeriveKp_P_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("Kp_P_scl")); }
int DeriveKi_P_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("Ki_P_scl")); }
int DeriveKd_P_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("Kd_P_scl")); }
int DeriveKp_T_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("Kp_T_scl")); }
int DeriveKi_T_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("Ki_T_scl")); }
int DeriveKFFS_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("KFFS_scl")); }
int DeriveKFFA_scl(CMC_Setup& setup) { return DeriveGain(setup, Row("KFFA_scl")); }

int EncodeSFTKPI(CMC_Setup& setup) { return EncodeGainShift(setup, Row("Kp_C_scl")); }
int EncodeKPI(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("Kp_C_scl")); }
int EncodeSFTKII(CMC_Setup& setup) { return EncodeGainShift(setup, Row("Ki_C_scl")); }
int EncodeKII(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("Ki_C_scl")); }
int EncodeSFTKPS(CMC_Setup& setup) { return EncodeGainShift(setup, Row("Kp_S_scl")); }
int EncodeKPS(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("Kp_S_scl")); }
int EncodeSFTKIS(CMC_Setup& setup) { return EncodeGainShift(setup, Row("Ki_S_scl")); }
int EncodeKIS(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("Ki_S_scl")); }
int EncodeSFTKPP(CMC_Setup& setup) { return EncodeGainShift(setup, Row("Kp_P_scl")); }
int EncodeKPP(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("Kp_P_scl")); }
int EncodeSFTKIP(CMC_Setup& setup) { return EncodeGainShift(setup, Row("Ki_P_scl")); }
int EncodeKIP(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("Ki_P_scl")); }
int EncodeSFTKDP(CMC_Setup& setup) { return EncodeGainShift(setup, Row("Kd_P_scl")); }
int EncodeKDP(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("Kd_P_scl")); }
int EncodeSFTKPTHT(CMC_Setup& setup) { return EncodeGainShift(setup, Row("Kp_T_scl")); }
int EncodeKPTHT(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("Kp_T_scl")); }
int EncodeSFTKITHT(CMC_Setup& setup) { return EncodeGainShift(setup, Row("Ki_T_scl")); }
int EncodeKITHT(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("Ki_T_scl")); }
int EncodeSFTSFFW(CMC_Setup& setup) { return EncodeGainShift(setup, Row("KFFS_scl")); }
int EncodeKFFS(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("KFFS_scl")); }
int EncodeSFTAFFW(CMC_Setup& setup) { return EncodeGainShift(setup, Row("KFFA_scl")); }
int EncodeSFTKFF(CMC_Setup& setup) { return EncodeGainHighShift(setup, Row("KFFA_scl")); }
int EncodeKFFA(CMC_Setup& setup) { return EncodeGainMantissa(setup, Row("KFFA_scl")); }

// ---- Filters ----------------------------------------------------------------------------------

int DeriveFilter_D(CMC_Setup& setup) {
  CMC_Parameter *filter, *kdfp;
  if (!FindAll(setup, {{"filter_D", &filter}, {"KDFP", &kdfp}})) return 0;
  return WriteDerived(filter, 0.0, 1.0, V(kdfp) / kFullScale);
}

int EncodeKDFP(CMC_Setup& setup) {
  CMC_Parameter* kdfp = FindOptional(setup, "KDFP");
  CMC_Parameter* filter = FindOptional(setup, "filter_D");
  if (kdfp == nullptr || filter == nullptr) return 0;
  kdfp->SetValueInBaseUnit(V(filter) * kFullScale);
  return 1;
}

int DeriveIsUseFilterOnCrtCtrlOutput(CMC_Setup& setup) {
  CMC_Parameter *use, *filterq;
  if (!FindAll(setup, {{"isUseFilterOnCrtCtrlOutput", &use}, {"FILTERQ", &filterq}})) return 0;
  return WriteDerived(use, 0.0, 1.0, V(filterq) == kFullScale ? 0.0 : 1.0);
}

int DeriveFilterOnCurrentControllerOutput(CMC_Setup& setup) {
  CMC_Parameter *corner, *filterq, *clper, *pwmper, *dsp;
  if (!FindAll(setup, {{"FilterOnCurrentControllerOutput", &corner},
                       {"FILTERQ", &filterq},
                       {"CLPER", &clper},
                       {"PWMPER", &pwmper},
                       {"DSP_freq", &dsp}})) {
    return 0;
  }
  // The filter y += q (x - y) each fast sample is a first-order lag with q = 1 - e^(-F Ts_C).
  const double max_per_s = V(dsp) * 0.25 / V(clper) / V(pwmper);  // 0.5 / Ts_C
  const double q = V(filterq);
  const double corner_per_s =
      q == kFullScale ? kUnfilteredCorner_per_s
                      : std::log(1.0 - q / kFullScale) * V(dsp) / V(clper) * (-0.5) / V(pwmper);
  return WriteDerived(corner, 0.0, max_per_s, corner_per_s);
}

int EncodeFILTERQ(CMC_Setup& setup) {
  CMC_Parameter *filterq, *use, *corner, *clper, *pwmper, *dsp;
  if (!FindAll(setup, {{"FILTERQ", &filterq},
                       {"isUseFilterOnCrtCtrlOutput", &use},
                       {"FilterOnCurrentControllerOutput", &corner},
                       {"CLPER", &clper},
                       {"PWMPER", &pwmper},
                       {"DSP_freq", &dsp}})) {
    return 0;
  }
  if (V(use) == 0.0) {
    filterq->SetValueInBaseUnit(kFullScale);
    return 1;
  }
  const double ts_c = LoopPeriodOf(V(clper), V(pwmper), V(dsp));
  const double q = (1.0 - std::exp(-V(corner) * ts_c)) * kFullScale;
  filterq->SetValueInBaseUnit(static_cast<double>(axis::TruncToInt64(q)));
  return 1;
}

// ---- Gravitational load compensation ----------------------------------------------------------

int DeriveIsCompensateGravitationalLoads(CMC_Setup& setup) {
  CMC_Parameter *compensate, *ffl;
  if (!FindAll(setup, {{"isCompensateGravitationalLoads", &compensate}, {"FFL", &ffl}})) return 0;
  return WriteDerived(compensate, 0.0, 1.0, V(ffl) == 0.0 ? 0.0 : 1.0);
}

int DeriveOffsetCurrent(CMC_Setup& setup) {
  CMC_Parameter *offset, *ffl, *nominal, *imax_ps;
  if (!FindAll(
          setup,
          {{"OffsetCurrent", &offset}, {"FFL", &ffl}, {"In", &nominal}, {"ImaxPS", &imax_ps}})) {
    return 0;
  }
  return WriteDerived(offset, -V(nominal), V(nominal), V(ffl) / CurrentScaleOf(imax_ps));
}

int EncodeFFL(CMC_Setup& setup) {
  CMC_Parameter *ffl, *offset, *compensate, *imax_ps;
  if (!FindAll(setup, {{"FFL", &ffl},
                       {"OffsetCurrent", &offset},
                       {"isCompensateGravitationalLoads", &compensate},
                       {"ImaxPS", &imax_ps}})) {
    return 0;
  }
  ffl->SetValueInBaseUnit(Trunc(V(compensate)) != 0 ? V(offset) * CurrentScaleOf(imax_ps) : 0.0);
  return 1;
}

int EncodeKFFL(CMC_Setup& setup) {
  CMC_Parameter* kffl = FindOptional(setup, "KFFL");
  if (kffl == nullptr) return 0;
  kffl->SetValueInBaseUnit(kFullScale);
  return 1;
}

// ---- Saturations and limits -------------------------------------------------------------------

int DeriveIlimPS(CMC_Setup& setup) { return DeriveOutputLimitCurrent(setup, "IlimPS"); }
int DeriveIPSatS(CMC_Setup& setup) {
  return DeriveIntegralPercent(setup, "IPSatS", "IMAXS", "SATS");
}
int DeriveIPSatP(CMC_Setup& setup) {
  return DeriveIntegralPercent(setup, "IPSatP", "IMAXP", "SATP");
}

int DeriveLimit_Speed(CMC_Setup& setup) {
  CMC_Parameter *control_mode, *control_type;
  if (!FindAll(setup, {{"ControlMode", &control_mode}, {"PositionControlType", &control_type}})) {
    return 0;
  }
  if (!IsPositionCascade(control_mode, control_type)) return 1;  // keeps the user's value
  CMC_Parameter *limit, *satp, *pole_pitch, *dsp, *pwmper;
  if (!FindAll(setup, {{"Limit_Speed", &limit},
                       {"SATP", &satp},
                       {"PolePitch", &pole_pitch},
                       {"DSP_freq", &dsp},
                       {"PWMPER", &pwmper}})) {
    return 0;
  }
  double speed_scale;
  if (!LoadSpeedScale(setup, speed_scale)) return 0;
  // Fastest speed the commutation follows: half a pole pitch per PWM period.
  const double max_speed = V(dsp) * V(pole_pitch) * 0.25 / V(pwmper);
  return WriteDerived(limit, 0.0, max_speed, (kFullScale - V(satp)) / std::fabs(speed_scale));
}

int EncodeSATS(CMC_Setup& setup) {
  CMC_Parameter *sats, *ilim, *imax_ps;
  if (!FindAll(setup, {{"SATS", &sats}, {"IlimPS", &ilim}, {"ImaxPS", &imax_ps}})) return 0;
  WriteSaturation(sats, V(ilim) * CurrentScaleOf(imax_ps));
  return 1;
}

int EncodeIMAXS(CMC_Setup& setup) {
  CMC_Parameter *imaxs, *ilim, *percent, *imax_ps;
  if (!FindAll(
          setup,
          {{"IMAXS", &imaxs}, {"IlimPS", &ilim}, {"IPSatS", &percent}, {"ImaxPS", &imax_ps}})) {
    return 0;
  }
  WriteSaturation(imaxs, V(ilim) * (V(percent) / 100.0) * CurrentScaleOf(imax_ps));
  return 1;
}

int EncodeSATP(CMC_Setup& setup) { return EncodePositionSaturation(setup, "SATP", nullptr); }
int EncodeIMAXP(CMC_Setup& setup) { return EncodePositionSaturation(setup, "IMAXP", "IPSatP"); }
int EncodeSATID(CMC_Setup& setup) { return EncodeSaturationFromPwm(setup, "SATID"); }
int EncodeSATIQ(CMC_Setup& setup) { return EncodeSaturationFromPwm(setup, "SATIQ"); }

// ---- Speed feed-forward switch and freeze control ---------------------------------------------

int DeriveSpeedForward(CMC_Setup& setup) {
  CMC_Parameter* forward = FindOptional(setup, "SpeedForward");
  CMC_Parameter* acr;
  if (forward == nullptr || !FindAll(setup, {{"ACR", &acr}})) return 0;
  forward->SetValueInInternalUnit(Bit(Word(acr), kAcrSpeedForwardBit) ? 1.0 : 0.0);
  return 1;
}

int DeriveIsFreezeControl(CMC_Setup& setup) {
  if (!FreezeControlPresent(setup)) return 0;
  CMC_Parameter *freeze, *acr, *control_mode;
  if (!FindAll(setup,
               {{"isFreezeControl", &freeze}, {"ACR", &acr}, {"ControlMode", &control_mode}})) {
    return 0;
  }
  if (!SetParameterRange(freeze, 0.0, 1.0)) return 0;
  // Freezing applies to position control only.
  const bool on = Bit(WordInternal(acr), kAcrFreezeControlBit) && Trunc(VI(control_mode)) == 0;
  freeze->SetValueInInternalUnit(on ? 1.0 : 0.0);
  return 1;
}

int DeriveFreezeControl_errband(CMC_Setup& setup) {
  if (!FreezeControlPresent(setup)) return 0;
  CMC_Parameter *band, *poslim;
  double position_scale;
  if (!FindAll(setup, {{"FreezeControl_errband", &band}, {"POSOKLIM_FC", &poslim}}) ||
      !LoadPositionScale(setup, position_scale)) {
    return 0;
  }
  const double counts_per_unit = std::fabs(position_scale);
  return WriteDerived(band, 0.0, kFullScale / counts_per_unit, V(poslim) / counts_per_unit);
}

int DeriveFreezeControl_time(CMC_Setup& setup) {
  if (!FreezeControlPresent(setup)) return 0;
  CMC_Parameter *time, *samples, *ts;
  if (!FindAll(setup, {{"FreezeControl_time", &time}, {"TONPOSOK_FC", &samples}, {"Ts_S", &ts}}))
    return 0;
  return WriteDerived(time, 0.0, V(ts) * 65535.0, V(ts) * V(samples));
}

int EncodePOSOKLIM_FC(CMC_Setup& setup) {
  if (!FreezeControlPresent(setup)) return 0;
  CMC_Parameter *poslim, *band;
  double position_scale;
  if (!FindAll(setup, {{"POSOKLIM_FC", &poslim}, {"FreezeControl_errband", &band}}) ||
      !LoadPositionScale(setup, position_scale)) {
    return 0;
  }
  poslim->SetValueInBaseUnit(V(band) * std::fabs(position_scale));
  return 1;
}

int EncodeTONPOSOK_FC(CMC_Setup& setup) {
  if (!FreezeControlPresent(setup)) return 0;
  CMC_Parameter *samples, *time, *ts;
  if (!FindAll(setup, {{"TONPOSOK_FC", &samples}, {"FreezeControl_time", &time}, {"Ts_S", &ts}}))
    return 0;
  samples->SetValueInBaseUnit(V(time) / V(ts));
  return 1;
}

// ---- Test limits read from the registers ------------------------------------------------------

int DeriveTestCurrent(CMC_Setup& setup) {
  CMC_Parameter *test, *nominal, *nominal_ps;
  if (!FindAll(setup, {{"TestCurrent", &test}, {"In", &nominal}, {"InPS", &nominal_ps}})) return 0;
  // Half the smaller of the motor's and the drive's nominal currents.
  const double current_A = std::min(V(nominal) * 0.5, V(nominal_ps) * 0.5);
  return WriteDerived(test, 0.0, 1.8 * current_A, current_A);
}

int DeriveTestProtectionCurrent(CMC_Setup& setup) {
  CMC_Parameter *test, *imaxprot, *imax_ps, *imax_m;
  if (!FindAll(setup, {{"TestProtectionCurrent", &test},
                       {"IMAXPROT", &imaxprot},
                       {"ImaxPS", &imax_ps},
                       {"ImaxM", &imax_m}})) {
    return 0;
  }
  return WriteDerived(test, 0.0, PeakCurrent_A(imax_ps, imax_m),
                      V(imaxprot) / CurrentScaleOf(imax_ps));
}

int DeriveTestLimitCurrent(CMC_Setup& setup) {
  return DeriveOutputLimitCurrent(setup, "TestLimitCurrent");
}

int DeriveMload_over_M(CMC_Setup& setup) {
  CMC_Parameter *ratio, *total_mass, *motor_mass;
  if (!FindAll(setup, {{"Mload_over_M", &ratio}, {"Mt", &total_mass}, {"M", &motor_mass}}))
    return 0;
  return WriteDerived(ratio, 0.0, 100.0, V(total_mass) / V(motor_mass) - 1.0);
}

int DeriveTestMaxSpeed(CMC_Setup& setup) {
  CMC_Parameter *test, *dsp, *pole_pitch, *pwmper;
  if (!FindAll(setup, {{"TestMaxSpeed", &test},
                       {"DSP_freq", &dsp},
                       {"PolePitch", &pole_pitch},
                       {"PWMPER", &pwmper}})) {
    return 0;
  }
  const double max_speed = V(dsp) * V(pole_pitch) * 0.25 / V(pwmper);
  return WriteDerived(test, 0.0, max_speed, max_speed / 3.0);
}

}  // namespace kestrel
