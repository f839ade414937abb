#include "conversions/timing.h"

#include "conversions/calculator.h"
#include "conversions/periods.h"

namespace kestrel {

namespace {
// "PosSpd_in_FastLoop" is this bit of the feature word "UPGRADE".
constexpr int kPosSpdInFastLoopBit = 6;
// The PWM saturation per hertz of PWM frequency.
constexpr double kSatPwmPerHz = 0.13107;
}  // namespace

int DerivePWM_freq(CMC_Setup& setup) {
  CMC_Parameter *freq, *pwmper, *dsp;
  if (!FindAll(setup, {{"PWM_freq", &freq}, {"PWMPER", &pwmper}, {"DSP_freq", &dsp}})) return 0;
  freq->SetValueInBaseUnit(V(dsp) * 0.5 / V(pwmper));
  return 1;
}

int DerivePWMperiod(CMC_Setup& setup) {
  CMC_Parameter *period, *pwmper, *dsp;
  if (!FindAll(setup, {{"PWMperiod", &period}, {"PWMPER", &pwmper}, {"DSP_freq", &dsp}})) return 0;
  period->SetValueInBaseUnit(V(pwmper) * 2.0 / V(dsp));
  return 1;
}

int DeriveTs_C(CMC_Setup& setup) {
  CMC_Parameter *ts, *clper, *pwmper, *dsp;
  if (!FindAll(setup,
               {{"Ts_C", &ts}, {"CLPER", &clper}, {"PWMPER", &pwmper}, {"DSP_freq", &dsp}})) {
    return 0;
  }
  ts->SetValueInBaseUnit(LoopPeriodOf(V(clper), V(pwmper), V(dsp)));
  return 1;
}

int DeriveTs_S(CMC_Setup& setup) {
  CMC_Parameter *ts, *slper, *pwmper, *dsp;
  if (!FindAll(setup,
               {{"Ts_S", &ts}, {"SLPER", &slper}, {"PWMPER", &pwmper}, {"DSP_freq", &dsp}})) {
    return 0;
  }
  ts->SetValueInBaseUnit(LoopPeriodOf(V(slper), V(pwmper), V(dsp)));
  return 1;
}

int DerivePosSpd_in_FastLoop(CMC_Setup& setup) {
  CMC_Parameter* flag = FindOptional(setup, "PosSpd_in_FastLoop");
  if (flag == nullptr) return 1;  // drives without the option: nothing to show
  CMC_Parameter* upgrade;
  if (!FindAll(setup, {{"UPGRADE", &upgrade}})) return 0;
  return WriteDerived(flag, 0.0, 1.0, Bit(Word(upgrade), kPosSpdInFastLoopBit) ? 1.0 : 0.0);
}

int EncodePWMPER(CMC_Setup& setup) {
  CMC_Parameter *pwmper, *freq, *dsp;
  if (!FindAll(setup, {{"PWMPER", &pwmper}, {"PWM_freq", &freq}, {"DSP_freq", &dsp}})) return 0;
  pwmper->SetValueInBaseUnit(V(dsp) * 0.5 / V(freq));
  return 1;
}

int EncodeSATPWM(CMC_Setup& setup) {
  CMC_Parameter *satpwm, *freq, *measurement;
  if (!FindAll(
          setup,
          {{"SATPWM", &satpwm}, {"PWM_freq", &freq}, {"CurrentMeasurementType", &measurement}})) {
    return 0;
  }
  satpwm->SetValueInBaseUnit(V(measurement) == 0.0 ? 0.0 : V(freq) * kSatPwmPerHz);
  return 1;
}

}  // namespace kestrel
