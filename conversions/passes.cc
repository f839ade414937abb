#include "conversions/passes.h"

#include <initializer_list>

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

// One step of a pass: the calculators run in order when the guard (a presence probe of an optional
// feature) holds; a step without a guard always runs. Results are not looked at: a calculator
// whose parameters are missing simply does nothing.
struct Step {
  bool (*guard)(CMC_Setup& setup);
  std::initializer_list<Calculator> calculators;
};

void RunSteps(CMC_Setup& setup, std::initializer_list<Step> steps) {
  for (const Step& step : steps) {
    if (step.guard != nullptr && !step.guard(setup)) continue;
    RunAll(setup, step.calculators);
  }
}

}  // namespace

void ComputeParametersFromRegisters(CMC_Setup& setup) {
  RunSteps(
      setup,
      {
          // 1: temperature sensor of the motor
          {nullptr, {DeriveIsMotorTemperatureSensor, DeriveMotor_TempSensor_Type}},
          // 2: timing base; the periods written here are read by later steps
          {nullptr,
           {DerivePWM_freq, DerivePWMperiod, DeriveTs_C, DeriveTs_S, DerivePosSpd_in_FastLoop}},
          // 3: drive protections
          {nullptr,
           {DeriveIsDriveTemperatureSensor, DeriveIsOverVoltage, DeriveIsUnderVoltage,
            DeriveIsDriveOverTemp, DeriveIsDriveI2t, DeriveUMAX_PROT, DeriveUMIN_PROT, DeriveTemp_2,
            DeriveI_I2t_D, Derivet_I2t_D}},
          // 4: control structure
          {nullptr,
           {DeriveControlMode, DeriveExternalReference, DeriveIsAutoActivatedAfterPowerOn,
            DeriveAxis_ID_list, DeriveCommutationMethod}},
          // 5: current, speed and position controllers, test limits
          {nullptr,
           {DeriveIlimPS, DeriveKp_C_scl, DeriveKi_C_scl, DeriveTestCurrent,
            DeriveTestProtectionCurrent, DeriveIsUseFilterOnCrtCtrlOutput,
            DeriveFilterOnCurrentControllerOutput, DeriveIsCompensateGravitationalLoads,
            DeriveOffsetCurrent, DeriveKp_S_scl, DeriveKi_S_scl, DeriveIPSatS, DeriveKFFA_scl,
            DeriveTestLimitCurrent, DeriveTestStartCurrent, DeriveMload_over_M, DeriveKp_P_scl,
            DeriveKi_P_scl, DeriveKd_P_scl}},
          // 6: electric angle controller
          {HasAngleController, {DeriveKp_T_scl, DeriveKi_T_scl}},
          // 7: position loop limits and speed feed-forward
          {nullptr,
           {DeriveFilter_D, DeriveIPSatP, DeriveLimit_Speed, DeriveTestMaxSpeed, DeriveKFFS_scl}},
          // 8: motor and control-error protections, brake resistor
          {nullptr,
           {DeriveIsOverCurrent, DeriveImax_Prot, Derivetime_Imax_Prot,
            DeriveIsPositionControlError, DeriveERR_position, Derivetime_ERR_pos,
            DeriveIsSpeedControlError, DeriveERR_speed, Derivetime_ERR_spd, DeriveIsMotorOverTemp,
            DeriveIsMotorI2t, DeriveI_I2t_M, Derivet_I2t_M, DeriveIsBrakeResistor, DeriveVbrake}},
          // 9: input polarities
          {nullptr, {DeriveEnablePolarity, DeriveLSPPolarity, DeriveLSNPolarity}},
          // 10: software limit switches
          {HasSoftwareLimits, {DeriveIsSWLS, DeriveNegativeSWLS, DerivePositiveSWLS}},
          // 11: speed estimator
          {HasSpeedEstimator, {DeriveIsSpeedEstimator}},
          // 12: start-up
          {nullptr, {DeriveStartMode, DeriveStartCurrent, Derivetime_AB}},
          // 13: reference source
          {nullptr, {DeriveIsAnalogueReference, DeriveDigitalReferenceType, DeriveIsLimitMaximum}},
          // 14: external reference profile
          {nullptr, {DeriveErefMaxSpeed, DeriveErefMaxAcceleration}},
          // 15: analogue reference scaling, dead band and filter
          {HasAnalogueReference,
           {DeriveDeadBandPoint, DeriveDeadBandRange, DeriveUseFilter, DeriveFilter, DerivePosMin,
            DerivePosMax, DeriveSpdMin, DeriveSpdMax, DeriveCrtMin, DeriveCrtMax}},
          // 16: what the drive keeps after a CAN layer-setting change
          {HasLssActive, {Derivesave_CAN_baudrate, Derivesave_axis_id}},
          // 17: encoder counting direction
          {HasReverseCounting, {DeriveReverseCounting}},
          // 18: encoder input filter
          {HasEncoderInputFilter, {DeriveIsFilterEnc}},
          // 19: motor brake
          {HasMotorBrake,
           {DeriveIsMotorBrake, DeriveMotorBrake_output, DeriveMotorBrake_releasetime,
            DeriveMotorBrake_applytime}},
          // 20: where the speed feed-forward is applied
          {HasSpeedForward, {DeriveSpeedForward}},
          // 21: freeze control
          {HasFreezeControl,
           {DeriveIsFreezeControl, DeriveFreezeControl_errband, DeriveFreezeControl_time}},
          // 22: input polarity type
          {HasInputsPolarityType, {DeriveInputsPolarityType}},
      });
}

void ComputeRegistersFromParameters(CMC_Setup& setup) {
  RunSteps(
      setup,
      {
          // 1: the PWM timer first: everything timed reads it
          {nullptr, {EncodePWMPER}},
          // 2: drive protections and drive I2t
          {nullptr,
           {EncodeT2MAXPROT, EncodeUMAXPROT, EncodeUMINPROT, EncodeII2TPROT_D, EncodeSFI2T_D,
            EncodeI2TINTLIM_D}},
          // 3: drive I2t warning level
          {HasI2tWarningLevels, {EncodeII2TWARLIM_D}},
          // 4: PWM saturation
          {nullptr, {EncodeSATPWM}},
          // 5: encoder resolution per pole pitch
          {nullptr, {EncodeMECRESL, EncodeENC2THL}},
          // 6: configuration words
          {nullptr,
           {EncodeMTSTYPE, EncodeAAR_table, EncodeSCR, EncodeOSR, EncodeASR, EncodePCR, EncodeACR}},
          // 7: current controller (shift before mantissa)
          {nullptr, {EncodeSFTKPI, EncodeKPI, EncodeSFTKII, EncodeKII}},
          // 8: current controller output saturations
          {nullptr, {EncodeSATID, EncodeSATIQ}},
          // 9: current-loop output filter and gravitational offset
          {nullptr, {EncodeFILTERQ, EncodeFFL, EncodeKFFL}},
          // 10: speed and position controllers
          {nullptr,
           {EncodeSFTKPS, EncodeKPS, EncodeSFTKIS, EncodeKIS, EncodeIMAXS, EncodeSATS, EncodeSFTKPP,
            EncodeKPP, EncodeSFTKIP, EncodeKIP, EncodeSFTKDP, EncodeKDP, EncodeKDFP}},
          // 11: electric angle controller
          {HasAngleController, {EncodeSFTKPTHT, EncodeKPTHT, EncodeSFTKITHT, EncodeKITHT}},
          // 12: position loop limits and feed-forwards
          {nullptr,
           {EncodeIMAXP, EncodeSATP, EncodeSFTSFFW, EncodeKFFS, EncodeSFTAFFW, EncodeSFTKFF,
            EncodeKFFA}},
          // 13: motor and control-error protections, motor I2t
          {nullptr,
           {EncodeIMAXPROT, EncodeTIMAXPROT, EncodeERRMAX, EncodeTERRMAX, EncodeSERRMAX,
            EncodeTSERRMAX, EncodeT1MAXPROT, EncodeII2TPROT_M, EncodeSFI2T_M, EncodeI2TINTLIM_M}},
          // 14: motor I2t warning level
          {HasI2tWarningLevels, {EncodeI2TWARLIM_M}},
          // 15: software limit switches
          {HasSoftwareLimits, {EncodeNegativeSWLS, EncodePositiveSWLS}},
          // 16: external reference profile
          {nullptr, {EncodeErefMaxAcceleration, EncodeErefMaxSpeed}},
          // 17: analogue reference
          {HasAnalogueReference,
           {EncodeReferenceGain, EncodeFILTER1, EncodeLEVEL_AD5, EncodeE_LEVEL_AD5}},
          // 18: gear ratio
          {nullptr, {EncodeGEAR}},
          // 19: alignment time and start-up voltage references
          {nullptr, {EncodeT1ONA, EncodeT1ONB, EncodeREFTST, EncodeRINCTST}},
          // 20: electrical resolution
          {nullptr, {EncodeELRESL}},
          // 21: brake resistor threshold
          {nullptr, {EncodeBRAKELIM}},
          // 22: input polarities
          {nullptr, {EncodeDIGIN_ACTIVE_LEVEL}},
          // 23: feature word
          {nullptr, {EncodeUPGRADE}},
          // 24: CAN layer-setting behaviour
          {HasLssActive, {EncodeLSS_Active}},
          // 25: encoder counting direction
          {HasReverseCounting, {EncodeCOUNTINGDIR}},
          // 26: encoder input filter
          {HasEncoderInputFilter, {EncodeEncoderInputFilter}},
          // 27: motor brake
          {HasMotorBrake, {EncodeBRAKECFG, EncodeBRAKEAPPLYDELAY, EncodeBRAKERELEASEDELAY}},
          // 28: freeze control
          {HasFreezeControl, {EncodePOSOKLIM_FC, EncodeTONPOSOK_FC}},
          // 29: transmission sign
          {HasTransmissionSign, {EncodeTRANSMISSION}},
          // 30: start-up minimum move
          {HasStartupMinimumMove, {EncodeABSTART_MINMOVE}},
          // 31: biquad filters
          {HasBiquadFilters, {EncodeBiquadFilters}},
      });
}

void CompleteSetup(CMC_Setup& setup) {
  ComputeParametersFromRegisters(setup);
  ComputeParameterLimits(setup);
  SetCapabilityOptions(setup);
  AssignMotionUnits(setup);
}

}  // namespace kestrel
