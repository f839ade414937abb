// Protections: the drive's thresholds, delays and I2t limits, and the protection word "PCR" that
// switches them on.
//
// Scales used below: kI = CurrentScale (current reading per A), kV = VdcScale (DC-bus reading per
// V). "Ts" is the slow-loop period computed from the timer registers; "Ts_S" is the parameter as
// last derived (the encoders divide by it, so a time survives a change of the timer registers
// only after the derive pass has run).
//
// Place in the whole-setup passes (calculators of one step run in the order listed):
//
// ComputeParametersFromRegisters
//   step 3: DeriveIsDriveTemperatureSensor (configuration.h), DeriveIsOverVoltage,
//           DeriveIsUnderVoltage, DeriveIsDriveOverTemp, DeriveIsDriveI2t, DeriveUMAX_PROT,
//           DeriveUMIN_PROT, DeriveTemp_2, DeriveI_I2t_D, Derivet_I2t_D
//   step 8: DeriveIsOverCurrent, DeriveImax_Prot, Derivetime_Imax_Prot,
//           DeriveIsPositionControlError, DeriveERR_position, Derivetime_ERR_pos,
//           DeriveIsSpeedControlError, DeriveERR_speed, Derivetime_ERR_spd, DeriveIsMotorOverTemp,
//           DeriveIsMotorI2t, DeriveI_I2t_M, Derivet_I2t_M, DeriveIsBrakeResistor
//           (configuration.h), DeriveVbrake
//
// ComputeRegistersFromParameters
//   step 2:  EncodeT2MAXPROT, EncodeUMAXPROT, EncodeUMINPROT, EncodeII2TPROT_D, EncodeSFI2T_D,
//            EncodeI2TINTLIM_D
//   step 3:  EncodeII2TWARLIM_D            (guard: HasI2tWarningLevels)
//   step 6:  EncodePCR                     (among the configuration words, see configuration.h)
//   step 13: EncodeIMAXPROT, EncodeTIMAXPROT, EncodeERRMAX, EncodeTERRMAX, EncodeSERRMAX,
//            EncodeTSERRMAX, EncodeT1MAXPROT, EncodeII2TPROT_M, EncodeSFI2T_M, EncodeI2TINTLIM_M
//   step 14: EncodeI2TWARLIM_M             (guard: HasI2tWarningLevels)
//   step 21: EncodeBRAKELIM
#pragma once

#include "host/setup.h"

namespace kestrel {

// Both I2t warning registers exist ("II2TWARLIM_D" and "I2TWARLIM_M"); the warning encoders also
// check it themselves, so that one present without the other is never encoded.
bool HasI2tWarningLevels(CMC_Setup& setup);

// ---- Protection word "PCR", register -> switch (one calculator per switch, range [0, 1]).
int DeriveIsOverCurrent(CMC_Setup& setup);    // bit 0
int DeriveIsMotorI2t(CMC_Setup& setup);       // bit 1
int DeriveIsMotorOverTemp(CMC_Setup& setup);  // bit 2; range [0, 0] with "DisableMotorTemperature"
int DeriveIsDriveOverTemp(CMC_Setup& setup);  // bit 3
int DeriveIsOverVoltage(CMC_Setup& setup);    // bit 4
int DeriveIsUnderVoltage(CMC_Setup& setup);   // bit 5
int DeriveIsDriveI2t(CMC_Setup& setup);       // bit 7
// Switches -> "PCR": bits 0-7 rebuilt, bits 8-15 kept. Bit 6 (encoder broken wire) only with the
// option "hasEncoderBrokenWireProtection" and Hall sensors.
int EncodePCR(CMC_Setup& setup);

// ---- Thresholds and times.
int DeriveUMAX_PROT(CMC_Setup& setup);
int DeriveUMIN_PROT(CMC_Setup& setup);
int DeriveTemp_2(CMC_Setup& setup);
int DeriveImax_Prot(CMC_Setup& setup);
int Derivetime_Imax_Prot(CMC_Setup& setup);
int DeriveVbrake(CMC_Setup& setup);
int EncodeUMAXPROT(CMC_Setup& setup);  // truncated toward zero
int EncodeUMINPROT(CMC_Setup& setup);
int EncodeT2MAXPROT(CMC_Setup& setup);
int EncodeIMAXPROT(CMC_Setup& setup);
int EncodeTIMAXPROT(CMC_Setup& setup);
int EncodeT1MAXPROT(CMC_Setup& setup);  // always 32767, when it exists; nothing reported otherwise
int EncodeBRAKELIM(CMC_Setup& setup);

// ---- Control errors. A delay register of 65535 switches the protection off.
int DeriveIsPositionControlError(CMC_Setup& setup);
int DeriveERR_position(CMC_Setup& setup);
int Derivetime_ERR_pos(CMC_Setup& setup);
int DeriveIsSpeedControlError(CMC_Setup& setup);
int DeriveERR_speed(CMC_Setup& setup);
int Derivetime_ERR_spd(CMC_Setup& setup);
int EncodeERRMAX(CMC_Setup& setup);
int EncodeTERRMAX(CMC_Setup& setup);
int EncodeSERRMAX(CMC_Setup& setup);
int EncodeTSERRMAX(CMC_Setup& setup);

// ---- I2t of the drive ("_D") and of the motor ("_M").
int DeriveI_I2t_D(CMC_Setup& setup);
int Derivet_I2t_D(CMC_Setup& setup);
int DeriveI_I2t_M(CMC_Setup& setup);
int Derivet_I2t_M(CMC_Setup& setup);
int EncodeII2TPROT_D(CMC_Setup& setup);
int EncodeSFI2T_D(CMC_Setup& setup);
int EncodeI2TINTLIM_D(CMC_Setup& setup);
int EncodeII2TWARLIM_D(CMC_Setup& setup);
int EncodeII2TPROT_M(CMC_Setup& setup);
int EncodeSFI2T_M(CMC_Setup& setup);
int EncodeI2TINTLIM_M(CMC_Setup& setup);
int EncodeI2TWARLIM_M(CMC_Setup& setup);

}  // namespace kestrel
