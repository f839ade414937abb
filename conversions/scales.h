// Scale quantities: internal drive units per physical unit, computed from the setup on every use
// (nothing is cached, so a changed parameter takes effect at once).
#pragma once

#include "host/setup.h"

extern "C" int g_bKufSinusoidalMode;

namespace kestrel {

// Sets g_bKufSinusoidalMode to 1 for its lifetime when `on` (the current controller and the
// resistance and inductance tests run so), and puts the old value back whatever happens.
class SinusoidalModeWhile {
 public:
  explicit SinusoidalModeWhile(bool on) : saved_(g_bKufSinusoidalMode) {
    if (on) g_bKufSinusoidalMode = 1;
  }
  ~SinusoidalModeWhile() { g_bKufSinusoidalMode = saved_; }
  SinusoidalModeWhile(const SinusoidalModeWhile&) = delete;
  SinusoidalModeWhile& operator=(const SinusoidalModeWhile&) = delete;

 private:
  int saved_;
};

// ADC full scale, the host's unsigned count as a double.
double AdcFullScale(CMC_Setup& setup);
// Voltage command per volt: 32767 / Vdc with trapezoidal commutation (and the sinusoidal-mode
// flag clear), otherwise 65534 / (1.1 x Vdc).
double VoltageScale(CMC_Setup& setup);
// The same for "Vdc" and "CommutationMethod" already read.
double VoltageScaleAt(double vdc_V, double commutation_method);
// The resistance of the equivalent star winding, Ohm: "R" is one phase of a star motor and one
// branch of a delta motor ("MotorPhaseConnectionType" 1), which the drive sees as a star of a
// third of it.
double StarResistance_Ohm(double r_Ohm, double connection_type);
// DC-bus reading per volt: ADC full scale / VdcMaxMeasurable.
double VdcScale(CMC_Setup& setup);
// Current reading per ampere: ADC full scale / (2 x ImaxPS).
double CurrentScale(CMC_Setup& setup);
// The same for an "ImaxPS" already read.
double CurrentScaleAt(CMC_Setup& setup, double imax_ps_A);
// Encoder counts per metre of motor travel: 1 / EncRes.
double MotorPositionScale(CMC_Setup& setup);
// Counts per load position unit; carries the sign of the transmission.
double LoadPositionScale(CMC_Setup& setup);
// Counts per slow-loop period, per m/s of motor speed.
double MotorSpeedScale(CMC_Setup& setup);
// Per load speed / acceleration / jerk unit; carry the sign of the transmission.
double LoadSpeedScale(CMC_Setup& setup);
double LoadAccelerationScale(CMC_Setup& setup);
double LoadJerkScale(CMC_Setup& setup);

// The same scales for calculators and tunings, which must change nothing when an input is
// missing: each input is looked up once (a missing one reported while g_bShowErrors) and the
// result tells whether all were there; `scale` is meaningful only then.
bool VoltageScale(CMC_Setup& setup, double& scale);
bool VdcScale(CMC_Setup& setup, double& scale);
bool CurrentScale(CMC_Setup& setup, double& scale);
bool MotorPositionScale(CMC_Setup& setup, double& scale);
bool LoadPositionScale(CMC_Setup& setup, double& scale);
bool MotorSpeedScale(CMC_Setup& setup, double& scale);
bool LoadSpeedScale(CMC_Setup& setup, double& scale);
bool LoadAccelerationScale(CMC_Setup& setup, double& scale);

}  // namespace kestrel
