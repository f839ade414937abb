// Scale quantities: internal drive units per physical unit, computed from the setup on every use
// (nothing is cached, so a changed parameter takes effect at once).
#pragma once

#include "host/setup.h"

extern "C" int g_bKufSinusoidalMode;

namespace kestrel {

// ADC full scale, the host's unsigned count as a double.
double AdcFullScale(CMC_Setup& setup);
// Voltage command per volt: 32767 / Vdc with trapezoidal commutation (and the sinusoidal-mode
// flag clear), otherwise 65534 / (1.1 x Vdc).
double VoltageScale(CMC_Setup& setup);
// DC-bus reading per volt: ADC full scale / VdcMaxMeasurable.
double VdcScale(CMC_Setup& setup);
// Current reading per ampere: ADC full scale / (2 x ImaxPS).
double CurrentScale(CMC_Setup& setup);
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

}  // namespace kestrel
