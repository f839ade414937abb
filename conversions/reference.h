// The external (analogue) reference: the input reading is mapped linearly onto the controlled
// quantity (position, speed or current after "ControlMode"), with a dead band around a point of
// the input, a first-order reference filter, and the gear ratio between master and slave axes.
//
// The reference conversions run only when the setup has an analogue reference (the variable and
// the parameter "CADIN" both exist); the gear is encoded always. Internal values go through the
// setup's scale provider.
//
// Where the calculators run in the two whole-setup passes:
//   ComputeParametersFromRegisters
//     step 15 (guard: the variable and the parameter "CADIN"), in this order:
//       DeriveDeadBandPoint, DeriveDeadBandRange, DeriveUseFilter, DeriveFilter,
//       DerivePosMin, DerivePosMax, DeriveSpdMin, DeriveSpdMax, DeriveCrtMin (no range),
//       DeriveCrtMax -- DeriveAnalogueReference runs the whole step with its guard.
//   ComputeParameterLimits (item 9): the range setters below.
//   ComputeRegistersFromParameters
//     step 17 (same guard): EncodeReferenceGain ("CADIN", "SFTADIN", "AD5OFF"), EncodeFILTER1,
//       EncodeLEVEL_AD5, EncodeE_LEVEL_AD5 -- EncodeAnalogueReference runs the step with its guard.
//     step 18: EncodeGEAR
#pragma once

#include "host/setup.h"

namespace kestrel {

// Range setters (base units; minimum set first, then maximum). Each computes its range from the
// present values of the other parameters and does nothing, reporting nothing, when a parameter it
// needs is absent (an input of the scale behind the drive's bound included).
void SetPosMaxRange(CMC_Setup& setup);         // [POS_min, 32767 / |f|]
void SetPosMinRange(CMC_Setup& setup);         // [-32767 / |f|, POS_max]
void SetSpdMaxRange(CMC_Setup& setup);         // [SPD_min, min(32767 / |s|, Limit_Speed)]
void SetSpdMinRange(CMC_Setup& setup);         // [max(-Limit_Speed, -32767 / |s|), SPD_max]
void SetCrtMaxRange(CMC_Setup& setup);         // [CRT_min, min(32767 / CS, ImaxPS, ImaxM)]
void SetCrtMinRange(CMC_Setup& setup);         // [max(-min(ImaxPS, ImaxM), -32767 / CS), CRT_max]
void SetDeadBandPointRange(CMC_Setup& setup);  // the input span in volts
void SetDeadBandRangeRange(CMC_Setup& setup);  // [0, room around the point]

// Register -> physical.
int DeriveDeadBandPoint(CMC_Setup& setup);
int DeriveDeadBandRange(CMC_Setup& setup);
int DeriveUseFilter(CMC_Setup& setup);
int DeriveFilter(CMC_Setup& setup);
int DerivePosMin(CMC_Setup& setup);
int DerivePosMax(CMC_Setup& setup);
int DeriveSpdMin(CMC_Setup& setup);
int DeriveSpdMax(CMC_Setup& setup);
int DeriveCrtMin(CMC_Setup& setup);  // no range; only when "CRT_min" and "AD5OFF" exist, quietly
int DeriveCrtMax(CMC_Setup& setup);

// Physical -> register.
// Gain mantissa "CADIN" and shift "SFTADIN" from the span of the pair selected by "ControlMode",
// and the offset "AD5OFF" from its minimum. Returns 0 for an unsupported mode, after writing the
// gain from the current pair and leaving "AD5OFF" unchanged.
int EncodeReferenceGain(CMC_Setup& setup);
int EncodeFILTER1(CMC_Setup& setup);
int EncodeLEVEL_AD5(CMC_Setup& setup);
int EncodeE_LEVEL_AD5(CMC_Setup& setup);
int EncodeGEAR(CMC_Setup& setup);

// The reference steps of the two passes with their guard; 0 (nothing touched) without an
// analogue reference.
int DeriveAnalogueReference(CMC_Setup& setup);
int EncodeAnalogueReference(CMC_Setup& setup);

}  // namespace kestrel
