// Controller tuning by pole placement.
//
// The user tunes each loop by a pass band (closed-loop bandwidth, rad/s) and a damping factor;
// these functions turn them into the scaled gains of the current, speed and position controllers,
// using an R-L circuit as the model of the current loop and a mass driven by a force for the speed
// and position loops. The gains are in internal units per sample (Kp: output units per input unit,
// Ki times the loop period, Kd divided by it); the gain calculators then encode them into mantissa
// and shift registers.
//
// None of these runs in the two whole-setup passes (ComputeParametersFromRegisters,
// ComputeRegistersFromParameters): the tuning tests call them whenever the user changes a pass band
// or a damping factor, then encode the gains.
//
// Each returns 1 when the gains were written and 0 when a parameter is missing, whether one named
// below or one behind the loop period and the scales it uses ("CLPER", "SLPER", "PWMPER",
// "DSP_freq", "Vdc", "CommutationMethod", "ImaxPS", "EncRes"); nothing is written then. A model
// that gives a gain that is not finite (R, L, Kf, a period or a scale of zero or NaN) returns 0 as
// well and leaves the gains in place, so a bad motor model never wipes tuned gains.
#pragma once

#include "host/setup.h"

namespace kestrel {

// "Kp_C_scl", "Ki_C_scl" from "PB_C", "Dump_C", "R", "L" and "MotorPhaseConnectionType".
int TuneCurrentController(CMC_Setup& setup);

// "Kp_S_scl", "Ki_S_scl" from "PB_S", "Dump_S", "Mt", "Kf" (the plant Mt dv/dt = Kf i). Needs
// "PosSpd_in_FastLoop" (looked up without a report) to know the loop period.
int TuneSpeedController(CMC_Setup& setup);

// "Kp_P_scl", "Ki_P_scl", "Kd_P_scl" from "PB_P", "Dump_P" and "PositionControlType"; the PID form
// (position loop driving the current) also needs "Mt" and "Kf". "PosSpd_in_FastLoop" is
// optional here: absent means the slow loop.
int TunePositionController(CMC_Setup& setup);

}  // namespace kestrel
