#include "passes/passes.h"

#include <vector>

#include "conversions/calculator.h"
#include "conversions/configuration.h"
#include "conversions/gains.h"
#include "conversions/motion_units.h"
#include "conversions/protections.h"
#include "conversions/reference.h"
#include "conversions/timing.h"
#include "tuning/biquad.h"
#include "tuning/parameter_limits.h"

namespace kestrel {

namespace {

// clang-format off
#define C(f) PassCalculator{f, #f}  // NOLINT: the calculator with its name as written
// clang-format on

void RunSteps(CMC_Setup& setup, const std::vector<PassStep>& steps) {
  for (const PassStep& step : steps) {
    if (step.guard != nullptr && !step.guard(setup)) continue;
    for (const PassCalculator& calculator : step.calculators) calculator.run(setup);
  }
}

}  // namespace

const std::vector<PassStep>& DerivePassSteps() {
  static const std::vector<PassStep> steps = {
      // 1: temperature sensor of the motor
      {nullptr, {C(DeriveIsMotorTemperatureSensor), C(DeriveMotor_TempSensor_Type)}},
      // 2: timing base; the periods written here are read by later steps
      {nullptr,
       {C(DerivePWM_freq), C(DerivePWMperiod), C(DeriveTs_C), C(DeriveTs_S),
        C(DerivePosSpd_in_FastLoop)}},
      // 3: drive protections
      {nullptr,
       {C(DeriveIsDriveTemperatureSensor), C(DeriveIsOverVoltage), C(DeriveIsUnderVoltage),
        C(DeriveIsDriveOverTemp), C(DeriveIsDriveI2t), C(DeriveUMAX_PROT), C(DeriveUMIN_PROT),
        C(DeriveTemp_2), C(DeriveI_I2t_D), C(Derivet_I2t_D)}},
      // 4: control structure
      {nullptr,
       {C(DeriveControlMode), C(DeriveExternalReference), C(DeriveIsAutoActivatedAfterPowerOn),
        C(DeriveAxis_ID_list), C(DeriveCommutationMethod)}},
      // 5: current, speed and position controllers, test limits
      {nullptr,
       {C(DeriveIlimPS), C(DeriveKp_C_scl), C(DeriveKi_C_scl), C(DeriveTestCurrent),
        C(DeriveTestProtectionCurrent), C(DeriveIsUseFilterOnCrtCtrlOutput),
        C(DeriveFilterOnCurrentControllerOutput), C(DeriveIsCompensateGravitationalLoads),
        C(DeriveOffsetCurrent), C(DeriveKp_S_scl), C(DeriveKi_S_scl), C(DeriveIPSatS),
        C(DeriveKFFA_scl), C(DeriveTestLimitCurrent), C(DeriveTestStartCurrent),
        C(DeriveMload_over_M), C(DeriveKp_P_scl), C(DeriveKi_P_scl), C(DeriveKd_P_scl)}},
      // 6: electric angle controller
      {HasAngleController, {C(DeriveKp_T_scl), C(DeriveKi_T_scl)}},
      // 7: position loop limits and speed feed-forward
      {nullptr,
       {C(DeriveFilter_D), C(DeriveIPSatP), C(DeriveLimit_Speed), C(DeriveTestMaxSpeed),
        C(DeriveKFFS_scl)}},
      // 8: motor and control-error protections, brake resistor
      {nullptr,
       {C(DeriveIsOverCurrent), C(DeriveImax_Prot), C(Derivetime_Imax_Prot),
        C(DeriveIsPositionControlError), C(DeriveERR_position), C(Derivetime_ERR_pos),
        C(DeriveIsSpeedControlError), C(DeriveERR_speed), C(Derivetime_ERR_spd),
        C(DeriveIsMotorOverTemp), C(DeriveIsMotorI2t), C(DeriveI_I2t_M), C(Derivet_I2t_M),
        C(DeriveIsBrakeResistor), C(DeriveVbrake)}},
      // 9: input polarities
      {nullptr, {C(DeriveEnablePolarity), C(DeriveLSPPolarity), C(DeriveLSNPolarity)}},
      // 10: software limit switches
      {HasSoftwareLimits, {C(DeriveIsSWLS), C(DeriveNegativeSWLS), C(DerivePositiveSWLS)}},
      // 11: speed estimator
      {HasSpeedEstimator, {C(DeriveIsSpeedEstimator)}},
      // 12: start-up
      {nullptr, {C(DeriveStartMode), C(DeriveStartCurrent), C(Derivetime_AB)}},
      // 13: reference source
      {nullptr,
       {C(DeriveIsAnalogueReference), C(DeriveDigitalReferenceType), C(DeriveIsLimitMaximum)}},
      // 14: external reference profile
      {nullptr, {C(DeriveErefMaxSpeed), C(DeriveErefMaxAcceleration)}},
      // 15: analogue reference scaling, dead band and filter
      {HasAnalogueReference,
       {C(DeriveDeadBandPoint), C(DeriveDeadBandRange), C(DeriveUseFilter), C(DeriveFilter),
        C(DerivePosMin), C(DerivePosMax), C(DeriveSpdMin), C(DeriveSpdMax), C(DeriveCrtMin),
        C(DeriveCrtMax)}},
      // 16: what the drive keeps after a CAN layer-setting change
      {HasLssActive, {C(Derivesave_CAN_baudrate), C(Derivesave_axis_id)}},
      // 17: encoder counting direction
      {HasReverseCounting, {C(DeriveReverseCounting)}},
      // 18: encoder input filter
      {HasEncoderInputFilter, {C(DeriveIsFilterEnc)}},
      // 19: motor brake
      {HasMotorBrake,
       {C(DeriveIsMotorBrake), C(DeriveMotorBrake_output), C(DeriveMotorBrake_releasetime),
        C(DeriveMotorBrake_applytime)}},
      // 20: where the speed feed-forward is applied
      {HasSpeedForward, {C(DeriveSpeedForward)}},
      // 21: freeze control
      {HasFreezeControl,
       {C(DeriveIsFreezeControl), C(DeriveFreezeControl_errband), C(DeriveFreezeControl_time)}},
      // 22: input polarity type
      {HasInputsPolarityType, {C(DeriveInputsPolarityType)}},
  };
  return steps;
}

const std::vector<PassStep>& EncodePassSteps() {
  static const std::vector<PassStep> steps = {
      // 1: the PWM timer first: everything timed reads it
      {nullptr, {C(EncodePWMPER)}},
      // 2: drive protections and drive I2t
      {nullptr,
       {C(EncodeT2MAXPROT), C(EncodeUMAXPROT), C(EncodeUMINPROT), C(EncodeII2TPROT_D),
        C(EncodeSFI2T_D), C(EncodeI2TINTLIM_D)}},
      // 3: drive I2t warning level
      {HasI2tWarningLevels, {C(EncodeII2TWARLIM_D)}},
      // 4: PWM saturation
      {nullptr, {C(EncodeSATPWM)}},
      // 5: encoder resolution per pole pitch
      {nullptr, {C(EncodeMECRESL), C(EncodeENC2THL)}},
      // 6: configuration words
      {nullptr,
       {C(EncodeMTSTYPE), C(EncodeAAR_table), C(EncodeSCR), C(EncodeOSR), C(EncodeASR),
        C(EncodePCR), C(EncodeACR)}},
      // 7: current controller (shift before mantissa)
      {nullptr, {C(EncodeSFTKPI), C(EncodeKPI), C(EncodeSFTKII), C(EncodeKII)}},
      // 8: current controller output saturations
      {nullptr, {C(EncodeSATID), C(EncodeSATIQ)}},
      // 9: current-loop output filter and gravitational offset
      {nullptr, {C(EncodeFILTERQ), C(EncodeFFL), C(EncodeKFFL)}},
      // 10: speed and position controllers
      {nullptr,
       {C(EncodeSFTKPS), C(EncodeKPS), C(EncodeSFTKIS), C(EncodeKIS), C(EncodeIMAXS), C(EncodeSATS),
        C(EncodeSFTKPP), C(EncodeKPP), C(EncodeSFTKIP), C(EncodeKIP), C(EncodeSFTKDP), C(EncodeKDP),
        C(EncodeKDFP)}},
      // 11: electric angle controller
      {HasAngleController, {C(EncodeSFTKPTHT), C(EncodeKPTHT), C(EncodeSFTKITHT), C(EncodeKITHT)}},
      // 12: position loop limits and feed-forwards
      {nullptr,
       {C(EncodeIMAXP), C(EncodeSATP), C(EncodeSFTSFFW), C(EncodeKFFS), C(EncodeSFTAFFW),
        C(EncodeSFTKFF), C(EncodeKFFA)}},
      // 13: motor and control-error protections, motor I2t
      {nullptr,
       {C(EncodeIMAXPROT), C(EncodeTIMAXPROT), C(EncodeERRMAX), C(EncodeTERRMAX), C(EncodeSERRMAX),
        C(EncodeTSERRMAX), C(EncodeT1MAXPROT), C(EncodeII2TPROT_M), C(EncodeSFI2T_M),
        C(EncodeI2TINTLIM_M)}},
      // 14: motor I2t warning level
      {HasI2tWarningLevels, {C(EncodeI2TWARLIM_M)}},
      // 15: software limit switches
      {HasSoftwareLimits, {C(EncodeNegativeSWLS), C(EncodePositiveSWLS)}},
      // 16: external reference profile
      {nullptr, {C(EncodeErefMaxAcceleration), C(EncodeErefMaxSpeed)}},
      // 17: analogue reference
      {HasAnalogueReference,
       {C(EncodeReferenceGain), C(EncodeFILTER1), C(EncodeLEVEL_AD5), C(EncodeE_LEVEL_AD5)}},
      // 18: gear ratio
      {nullptr, {C(EncodeGEAR)}},
      // 19: alignment time and start-up voltage references
      {nullptr, {C(EncodeT1ONA), C(EncodeT1ONB), C(EncodeREFTST), C(EncodeRINCTST)}},
      // 20: electrical resolution
      {nullptr, {C(EncodeELRESL)}},
      // 21: brake resistor threshold
      {nullptr, {C(EncodeBRAKELIM)}},
      // 22: input polarities
      {nullptr, {C(EncodeDIGIN_ACTIVE_LEVEL)}},
      // 23: feature word
      {nullptr, {C(EncodeUPGRADE)}},
      // 24: CAN layer-setting behaviour
      {HasLssActive, {C(EncodeLSS_Active)}},
      // 25: encoder counting direction
      {HasReverseCounting, {C(EncodeCOUNTINGDIR)}},
      // 26: encoder input filter
      {HasEncoderInputFilter, {C(EncodeEncoderInputFilter)}},
      // 27: motor brake
      {HasMotorBrake, {C(EncodeBRAKECFG), C(EncodeBRAKEAPPLYDELAY), C(EncodeBRAKERELEASEDELAY)}},
      // 28: freeze control
      {HasFreezeControl, {C(EncodePOSOKLIM_FC), C(EncodeTONPOSOK_FC)}},
      // 29: transmission sign
      {HasTransmissionSign, {C(EncodeTRANSMISSION)}},
      // 30: start-up minimum move
      {HasStartupMinimumMove, {C(EncodeABSTART_MINMOVE)}},
      // 31: biquad filters
      {HasBiquadFilters, {C(EncodeBiquadFilters)}},
  };
  return steps;
}

#undef C

void ComputeParametersFromRegisters(CMC_Setup& setup) { RunSteps(setup, DerivePassSteps()); }
void ComputeRegistersFromParameters(CMC_Setup& setup) { RunSteps(setup, EncodePassSteps()); }

void CompleteSetup(CMC_Setup& setup) {
  ComputeParametersFromRegisters(setup);
  ComputeParameterLimits(setup);
  SetCapabilityOptions(setup);
  AssignMotionUnits(setup);
}

}  // namespace kestrel
