// Configuration words and flags: the drive's 16-bit operating words ("SCR", "OSR", "ASR", "ACR",
// "UPGRADE", "DIGIN_ACTIVE_LEVEL", "LSS_Active", "BRAKECFG", "QUAL_AQ2"), the 32-bit "QUAL_ACT",
// the small coded registers that travel with them, the capability options and the existence
// probes that decide which optional conversions run.
//
// Words are read by truncating the parameter's value toward zero. The encoders keep a 16-bit word
// within 16 bits (the firmware has no bits above 15, and a negative word read back from a setup is
// taken by its low 16 bits); "QUAL_ACT" is the only 32-bit word and is written as an unsigned
// number.
//
// Place in the whole-setup passes (calculators of one step run in the order listed; the guard
// is the probe named, tested by the pass):
//
// ComputeParametersFromRegisters
//   step 1:  DeriveIsMotorTemperatureSensor, DeriveMotor_TempSensor_Type
//   step 3:  DeriveIsDriveTemperatureSensor, then the protection switches (protections.h)
//   step 4:  DeriveControlMode, DeriveExternalReference, DeriveIsAutoActivatedAfterPowerOn,
//            DeriveAxis_ID_list, DeriveCommutationMethod
//   step 8:  ... DeriveIsBrakeResistor (between DeriveIsMotorI2t / DeriveI_I2t_M / Derivet_I2t_M
//            and DeriveVbrake of protections.h)
//   step 9:  DeriveEnablePolarity, DeriveLSPPolarity, DeriveLSNPolarity
//   step 10: DeriveIsSWLS, then the software limit positions     (guard: HasSoftwareLimits)
//   step 11: DeriveIsSpeedEstimator                              (guard: HasSpeedEstimator)
//   step 12: DeriveStartMode, DeriveStartCurrent, Derivetime_AB
//   step 13: DeriveIsAnalogueReference, DeriveDigitalReferenceType, DeriveIsLimitMaximum
//   step 16: Derivesave_CAN_baudrate, Derivesave_axis_id         (guard: HasLssActive)
//   step 17: DeriveReverseCounting                               (guard: HasReverseCounting)
//   step 18: DeriveIsFilterEnc                                   (guard: HasEncoderInputFilter)
//   step 19: DeriveIsMotorBrake, DeriveMotorBrake_output, DeriveMotorBrake_releasetime,
//            DeriveMotorBrake_applytime                          (guard: HasMotorBrake)
//   step 22: DeriveInputsPolarityType                            (guard: HasInputsPolarityType)
//   ("PosSpd_in_FastLoop" from UPGRADE bit 6, "SpeedForward" from ACR bit 14 and
//   "isFreezeControl" from ACR bit 4 are derived with the timing and gain calculators.)
//
// ComputeRegistersFromParameters
//   step 6:  EncodeMTSTYPE, EncodeAAR_table, EncodeSCR, EncodeOSR, EncodeASR, EncodePCR
//            (protections.h), EncodeACR
//   step 19: EncodeT1ONA, EncodeT1ONB, EncodeREFTST, EncodeRINCTST
//   step 22: EncodeDIGIN_ACTIVE_LEVEL
//   step 23: EncodeUPGRADE
//   step 24: EncodeLSS_Active                                    (guard: HasLssActive)
//   step 25: EncodeCOUNTINGDIR                                   (guard: HasReverseCounting)
//   step 26: EncodeEncoderInputFilter ("QUAL", "QUAL_ACT", "QUAL_AQ2")
//                                                                (guard: HasEncoderInputFilter)
//   step 27: EncodeBRAKECFG, EncodeBRAKEAPPLYDELAY, EncodeBRAKERELEASEDELAY
//                                                                (guard: HasMotorBrake)
//
// ComputeAllOptions, third step: SetCapabilityOptions.
#pragma once

#include "host/setup.h"

namespace kestrel {

// ---- Existence probes: 1 only when every name exists; nothing is reported and the previous
// report setting is restored.
bool HasAngleController(CMC_Setup& setup);         // "KPTHT"
bool HasStartPosition(CMC_Setup& setup);           // "START_POS"
bool HasAcquisitionsNo(CMC_Setup& setup);          // "AquisitionsNo"
bool HasSamplingRate(CMC_Setup& setup);            // "SamplingRate"
bool HasSoftwareLimits(CMC_Setup& setup);          // "isSWLS"
bool HasSpeedEstimator(CMC_Setup& setup);          // "isSpeedEstimator"
bool HasLssActive(CMC_Setup& setup);               // "save_CAN_baudrate", "save_axis_id"
bool HasMotorBrake(CMC_Setup& setup);              // "BRAKECFG", "isMotorBrake"
bool HasFreezeControl(CMC_Setup& setup);           // "POSOKLIM_FC", "TONPOSOK_FC"
bool HasInputsPolarityType(CMC_Setup& setup);      // "InputsPolarityType"
bool HasTransmissionSign(CMC_Setup& setup);        // "TRANSMISSION"
bool HasBiquadFilters(CMC_Setup& setup);           // "IQREF_BQ_INI"
bool HasSpeedTestReferenceType(CMC_Setup& setup);  // "SpeedTestReferenceType"
bool HasStartupMinimumMove(CMC_Setup& setup);      // "ABSTART_MINMOVE"
bool HasSpeedForward(CMC_Setup& setup);            // "SpeedForward"
bool HasReverseCounting(CMC_Setup& setup);         // "ReverseCounting"
bool HasEncoderInputFilter(CMC_Setup& setup);      // "isFilterEnc", "FilterEncValue"

// ---- "SCR"
int DeriveIsSpeedEstimator(CMC_Setup& setup);          // bits 3-5 read 110
int DeriveIsMotorTemperatureSensor(CMC_Setup& setup);  // bit 7
int DeriveIsDriveTemperatureSensor(CMC_Setup& setup);  // bit 8
int DeriveCommutationMethod(CMC_Setup& setup);         // bit 13
int EncodeSCR(CMC_Setup& setup);

// ---- "OSR"
int DeriveStartMode(CMC_Setup& setup);        // bits 3-4 (and ACR bit 15 with "PMSMStartwithHalls")
int DeriveIsBrakeResistor(CMC_Setup& setup);  // bit 9
int EncodeOSR(CMC_Setup& setup);

// ---- "ASR"
int DeriveInputsPolarityType(CMC_Setup& setup);  // 1 when bit 2 is clear
int DeriveIsSWLS(CMC_Setup& setup);              // bit 12
int EncodeASR(CMC_Setup& setup);

// ---- "ACR"
int DeriveIsAutoActivatedAfterPowerOn(CMC_Setup& setup);  // bit 1
int DeriveDigitalReferenceType(CMC_Setup& setup);         // 1 when bit 2 is clear
int DeriveIsAnalogueReference(CMC_Setup& setup);          // bit 6
int DeriveExternalReference(CMC_Setup& setup);            // bit 6 or bit 7
int DeriveControlMode(CMC_Setup& setup);                  // bits 9-10
// 0 and nothing written for a "ControlMode" outside 0-2.
int EncodeACR(CMC_Setup& setup);

// ---- "UPGRADE" and the alignment time (its bit 9 selects the unit of T1ONA / T1ONB)
int DeriveIsLimitMaximum(CMC_Setup& setup);  // bit 2
int EncodeUPGRADE(CMC_Setup& setup);
int Derivetime_AB(CMC_Setup& setup);
int EncodeT1ONA(CMC_Setup& setup);
int EncodeT1ONB(CMC_Setup& setup);

// ---- "DIGIN_ACTIVE_LEVEL"
int DeriveEnablePolarity(CMC_Setup& setup);  // bit 15
int DeriveLSNPolarity(CMC_Setup& setup);     // bit 14
int DeriveLSPPolarity(CMC_Setup& setup);     // bit 13
int EncodeDIGIN_ACTIVE_LEVEL(CMC_Setup& setup);

// ---- "LSS_Active" (the word is rebuilt from the two flags alone)
int Derivesave_CAN_baudrate(CMC_Setup& setup);  // 1 when bit 1 is clear
int Derivesave_axis_id(CMC_Setup& setup);       // 1 when bit 0 is clear
int EncodeLSS_Active(CMC_Setup& setup);

// ---- Motor brake: "BRAKECFG" (internal values) and its delays in slow-loop periods.
// An I/O pin or port missing from the setup's brake table leaves the other side unchanged (0).
int DeriveIsMotorBrake(CMC_Setup& setup);
int DeriveMotorBrake_output(CMC_Setup& setup);
int DeriveMotorBrake_releasetime(CMC_Setup& setup);
int DeriveMotorBrake_applytime(CMC_Setup& setup);
int EncodeBRAKECFG(CMC_Setup& setup);
int EncodeBRAKEAPPLYDELAY(CMC_Setup& setup);
int EncodeBRAKERELEASEDELAY(CMC_Setup& setup);

// ---- Encoder input filter ("QUAL", "QUAL_ACT", "QUAL_AQ2").
int DeriveIsFilterEnc(CMC_Setup& setup);
int EncodeEncoderInputFilter(CMC_Setup& setup);

// ---- Other coded registers.
int DeriveMotor_TempSensor_Type(CMC_Setup& setup);
int EncodeMTSTYPE(CMC_Setup& setup);
int DeriveAxis_ID_list(CMC_Setup& setup);
int EncodeAAR_table(CMC_Setup& setup);
int DeriveReverseCounting(CMC_Setup& setup);
int EncodeCOUNTINGDIR(CMC_Setup& setup);

// ---- Start-up voltage references: the voltage that drives "StartCurrent" (% of "In") through
// the winding, plus the voltage lost in the power stage's dead band.
// A reference against the start current it drives, in voltage-command counts:
// reference = offset + slope x percent. The slope drives the current through the equivalent star
// resistance; the offset makes up the dead band's loss Vdc x f_PWM x t_dead.
struct StartupReferenceLine {
  double slope_per_percent = 0.0;
  double offset = 0.0;
};
// From "R", "In", "Vdc", "MotorPhaseConnectionType", "CommutationMethod" and the dead band, at
// the PWM frequency given; false (a missing name reported) when an input is missing.
bool StartupReference(CMC_Setup& setup, double pwm_freq_Hz, StartupReferenceLine& line);
int DeriveStartCurrent(CMC_Setup& setup);
int DeriveTestStartCurrent(CMC_Setup& setup);  // the same from "REFTST", for the tests
int EncodeREFTST(CMC_Setup& setup);
int EncodeRINCTST(CMC_Setup& setup);

// ---- Options and rules used by the dialogs.
// Writes the capability options; 0 when "ControlMode" (with "PositionControlType" in position
// mode) does not name a known control structure (the fixed options are written all the same).
int SetCapabilityOptions(CMC_Setup& setup);
// Unless the drive runs a position loop cascaded over a speed loop, the speed feed-forward goes to
// the current loop: "SpeedForward" = 1 and ACR bit 14 set. 0 when a name is missing.
int ApplySpeedFeedForwardRule(CMC_Setup& setup);

}  // namespace kestrel
