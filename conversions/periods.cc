#include "conversions/periods.h"

#include <algorithm>

#include "conversions/calculator.h"

namespace kestrel {

namespace {
double LoopPeriod(Inputs& in, const char* divider) {
  const double count = in(divider);
  const double pwmper = in("PWMPER");
  return LoopPeriodOf(count, pwmper, in("DSP_freq"));
}
}  // namespace

double LoopPeriodOf(double divider, double pwmper, double dsp_freq_Hz) {
  return divider * 2.0 * pwmper / dsp_freq_Hz;
}

double FastPeriod(Inputs& in) { return LoopPeriod(in, "CLPER"); }
double SlowPeriod(Inputs& in) { return LoopPeriod(in, "SLPER"); }

double Ts_C(CMC_Setup& setup) { return Compute(FastPeriod, setup); }
double Ts_S(CMC_Setup& setup) { return Compute(SlowPeriod, setup); }
bool Ts_C(CMC_Setup& setup, double& period) { return Compute(FastPeriod, setup, period); }
bool Ts_S(CMC_Setup& setup, double& period) { return Compute(SlowPeriod, setup, period); }

double MinimumFastPeriod(CMC_Setup& setup) { return OptionalValue(setup, "Ts_C_min", 0.0); }
double MinimumSlowPeriod(CMC_Setup& setup) { return OptionalValue(setup, "Ts_S_min", 0.0); }

namespace {
// What "DBT" and "DBTPC" say: no dead band, the fixed 1 us of DBT = 0, or counts x share to be
// divided by the timer clock.
struct DeadBand {
  enum { kNone, kFixed, kClocks } kind = kNone;
  double clocks = 0.0;
};
constexpr double kZeroDeadBand_s = 1e-6;

DeadBand ReadDeadBand(CMC_Setup& setup) {
  const CMC_Parameter* dbt = FindOptional(setup, "DBT");
  if (dbt == nullptr) return {};
  const int64_t d = axis::TruncToInt64(dbt->GetValueInBaseUnit());
  if (d == 0) return {DeadBand::kFixed, 0.0};
  const CMC_Parameter* percent = FindOptional(setup, "DBTPC");
  const double counts = static_cast<double>(std::max((d >> 8) & 255, d & 255));
  const double share = percent != nullptr ? percent->GetValueInBaseUnit() / 100.0 : 0.5;
  return {DeadBand::kClocks, counts * share};
}
}  // namespace

double DeadBandTime(CMC_Setup& setup) {
  const DeadBand band = ReadDeadBand(setup);
  if (band.kind == DeadBand::kNone) return 0.0;
  if (band.kind == DeadBand::kFixed) return kZeroDeadBand_s;
  return band.clocks / setup.GetParameterValueInBaseUnit("DSP_freq");
}

bool DeadBandTime(CMC_Setup& setup, const CMC_Parameter* dsp_freq, double& time_s) {
  const DeadBand band = ReadDeadBand(setup);
  time_s = band.kind == DeadBand::kFixed ? kZeroDeadBand_s : 0.0;
  if (band.kind != DeadBand::kClocks) return true;
  if (dsp_freq == nullptr) {
    setup.FindParameter("DSP_freq");  // reports it
    return false;
  }
  time_s = band.clocks / dsp_freq->GetValueInBaseUnit();
  return true;
}

}  // namespace kestrel
