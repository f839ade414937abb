// The drive's timing base, computed afresh from the timer registers on every call.
//
// One PWM period lasts 2 x PWMPER clocks of the DSP_freq timer; the fast (current) loop runs every
// CLPER PWM periods, the slow (speed and position) loop every SLPER PWM periods.
#pragma once

#include "host/setup.h"

namespace kestrel {
class Inputs;
}

namespace kestrel {

// A loop's sampling period, s, from its divider and the PWM timer: divider x 2 x PWMPER / DSP_freq.
double LoopPeriodOf(double divider, double pwmper, double dsp_freq_Hz);
// Fast loop sampling period, s: CLPER x 2 x PWMPER / DSP_freq.
double Ts_C(CMC_Setup& setup);
// Slow loop sampling period, s: SLPER x 2 x PWMPER / DSP_freq.
double Ts_S(CMC_Setup& setup);
// The periods as a calculator needs them: false (the missing name reported) when a register
// behind one is missing.
bool Ts_C(CMC_Setup& setup, double& period);
bool Ts_S(CMC_Setup& setup, double& period);
// The periods from inputs being read for a formula.
double FastPeriod(Inputs& in);
double SlowPeriod(Inputs& in);
// Smallest allowed fast / slow period, s ("Ts_C_min" / "Ts_S_min"); 0 when absent (no minimum).
double MinimumFastPeriod(CMC_Setup& setup);
double MinimumSlowPeriod(CMC_Setup& setup);
// Dead-band time of the power stage, s, from "DBT" (two 8-bit counts) and "DBTPC" (% to use).
double DeadBandTime(CMC_Setup& setup);
// The same for a calculator that has found "DSP_freq" already (null when it is missing: the time
// is then 0 unless no "DBT" makes it need none); false when "DSP_freq" was needed and missing.
bool DeadBandTime(CMC_Setup& setup, const CMC_Parameter* dsp_freq, double& time_s);

}  // namespace kestrel
