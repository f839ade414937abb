// Motion units: the bridge between the drive's internal units and the physical units the user
// sees, and the encoder, transmission, software-limit and motion-profile conversions.
//
// The motor is linear (metres); the load behind the transmission is linear ("TransmissionType" 0)
// or rotary (any other value). Load scales carry the sign of the transmission, so a reversed load
// gets negative factors except for the limits, bands and test amplitudes, which stay positive.
//
// Where the calculators run in the two whole-setup passes:
//   ComputeParametersFromRegisters
//     step 10 (guard "isSWLS", after the flag itself): DeriveNegativeSWLS, DerivePositiveSWLS
//     step 14: DeriveErefMaxSpeed, DeriveErefMaxAcceleration
//   ComputeAllOptions, last step: AssignMotionUnits
//   ComputeRegistersFromParameters
//     step 5: EncodeMECRESL, EncodeENC2THL
//     step 15 (guard "isSWLS"): EncodeNegativeSWLS, EncodePositiveSWLS
//     step 16: EncodeErefMaxAcceleration ("CACC"), EncodeErefMaxSpeed ("CSPD")
//     step 20: EncodeELRESL
//     step 29 (guard "TRANSMISSION"): EncodeTRANSMISSION
//     step 30 (guard "ABSTART_MINMOVE"): EncodeABSTART_MINMOVE (also run by the speed and position
//             tuning tests)
#pragma once

#include "host/setup.h"

namespace kestrel {

// Physical units of the named unit per internal unit of the named variable or parameter. The
// unit is matched first, then the variable, both without regard to case; "V " (with the blank)
// is the DC-bus reading, "V" the voltage command, "\xB0" "C" the temperature. An unknown unit
// gives 1.0, a null setup 1.0. Signature of axis::ScaleFactorFn.
double ScaleFactor(CMC_Setup* setup, const char* unit, const char* name);
// Offset in internal units (reading r is (r + offset) x factor): non-zero only for temperature.
// A null setup gives 0.0. Signature of axis::ScaleOffsetFn.
double ScaleOffset(CMC_Setup* setup, const char* unit);

// Gives every motion parameter and variable its linear or rotary unit after the load kind.
// Missing names are skipped silently. Always 1.
int AssignMotionUnits(CMC_Setup& setup);

// Software limit switches: counts in "SWNEGLS" / "SWPOSLS" against load positions. With a
// reversed transmission the motor's positive limit is the load's negative one.
int DeriveNegativeSWLS(CMC_Setup& setup);
int DerivePositiveSWLS(CMC_Setup& setup);
int EncodeNegativeSWLS(CMC_Setup& setup);
int EncodePositiveSWLS(CMC_Setup& setup);

// Motion profile of the external reference: "CSPD" / "CACC" against "ErefMaxSpeed" /
// "ErefMaxAcceleration" (positive whatever the transmission's sign).
int DeriveErefMaxSpeed(CMC_Setup& setup);
int DeriveErefMaxAcceleration(CMC_Setup& setup);
int EncodeErefMaxSpeed(CMC_Setup& setup);
int EncodeErefMaxAcceleration(CMC_Setup& setup);

// Encoder resolution against the pole pitch; these registers are only ever encoded.
int EncodeMECRESL(CMC_Setup& setup);
int EncodeENC2THL(CMC_Setup& setup);
int EncodeELRESL(CMC_Setup& setup);
// Minimum move at start-up: a share ("ABSTART_MINMOVE_PERCENT", 60 % when absent) of a third of
// a pole pitch, in counts.
int EncodeABSTART_MINMOVE(CMC_Setup& setup);
// Sign of the transmission: -1 for a reversed load, else 1.
int EncodeTRANSMISSION(CMC_Setup& setup);

}  // namespace kestrel
