// The timing base: PWM frequency and loop sampling periods from the timer registers, and back.
//
// One PWM period lasts 2 x PWMPER clocks of the DSP_freq timer; the fast loop samples every CLPER
// PWM periods, the slow loop every SLPER. The period functions themselves are in periods.h.
//
// Whole-setup passes:
//   ComputeParametersFromRegisters, step 2, in this order:
//     DerivePWM_freq, DerivePWMperiod, DeriveTs_C, DeriveTs_S, DerivePosSpd_in_FastLoop
//   ComputeRegistersFromParameters:
//     step 1: EncodePWMPER (first of all, so every later step sees the new PWM period)
//     step 4: EncodeSATPWM
//   "PosSpd_in_FastLoop" is encoded as bit 6 of the "UPGRADE" word, with that word.
#pragma once

#include "host/setup.h"

namespace kestrel {

// Register -> physical. None of these sets a range.
int DerivePWM_freq(CMC_Setup& setup);   // DSP_freq x 0.5 / PWMPER, Hz
int DerivePWMperiod(CMC_Setup& setup);  // PWMPER x 2 / DSP_freq, s
int DeriveTs_C(CMC_Setup& setup);       // fast loop period, s
int DeriveTs_S(CMC_Setup& setup);       // slow loop period, s
// Bit 6 of "UPGRADE", range [0, 1]. Optional: a setup without "PosSpd_in_FastLoop" returns 1 and
// changes nothing.
int DerivePosSpd_in_FastLoop(CMC_Setup& setup);

// Physical -> register.
int EncodePWMPER(CMC_Setup& setup);  // DSP_freq x 0.5 / PWM_freq, unrounded
// PWM saturation: 0 when "CurrentMeasurementType" is exactly 0, else PWM_freq x 0.13107.
int EncodeSATPWM(CMC_Setup& setup);

}  // namespace kestrel
