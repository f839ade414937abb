// Controller gains and the conversions around the controllers.
//
// The drive takes every controller gain as a fixed-point pair: a mantissa m (0 to 32767) and a
// shift s (0 or more), the gain being g = m x 2^s / 32767. The user edits the scaled gain g.
// Alongside the gains: output saturations and integral limits, the current-loop output filter,
// the position derivative filter, gravitational load compensation, the speed feed-forward switch,
// freeze control, and the test limits read from the registers.
//
// Whole-setup passes (calculators listed in the order each step runs them):
//
// ComputeParametersFromRegisters
//   step 5:  DeriveIlimPS, DeriveKp_C_scl, DeriveKi_C_scl, DeriveTestCurrent,
//            DeriveTestProtectionCurrent, DeriveIsUseFilterOnCrtCtrlOutput,
//            DeriveFilterOnCurrentControllerOutput, DeriveIsCompensateGravitationalLoads,
//            DeriveOffsetCurrent, DeriveKp_S_scl, DeriveKi_S_scl, DeriveIPSatS, DeriveKFFA_scl,
//            DeriveTestLimitCurrent, DeriveTestStartCurrent (configuration.h), DeriveMload_over_M,
//            DeriveKp_P_scl,
//            DeriveKi_P_scl, DeriveKd_P_scl
//   step 6 (guard "KPTHT"): DeriveKp_T_scl, DeriveKi_T_scl
//   step 7:  DeriveFilter_D, DeriveIPSatP, DeriveLimit_Speed, DeriveTestMaxSpeed, DeriveKFFS_scl
//   step 20 (guard "SpeedForward"): DeriveSpeedForward
//   step 21 (guard "POSOKLIM_FC" and "TONPOSOK_FC"): DeriveIsFreezeControl,
//            DeriveFreezeControl_errband, DeriveFreezeControl_time
//
// ComputeRegistersFromParameters
//   step 7:  EncodeSFTKPI, EncodeKPI, EncodeSFTKII, EncodeKII
//   step 8:  EncodeSATID, EncodeSATIQ
//   step 9:  EncodeFILTERQ, EncodeFFL, EncodeKFFL
//   step 10: EncodeSFTKPS, EncodeKPS, EncodeSFTKIS, EncodeKIS, EncodeIMAXS, EncodeSATS,
//            EncodeSFTKPP, EncodeKPP, EncodeSFTKIP, EncodeKIP, EncodeSFTKDP, EncodeKDP, EncodeKDFP
//   step 11 (guard "KPTHT"): EncodeSFTKPTHT, EncodeKPTHT, EncodeSFTKITHT, EncodeKITHT
//   step 12: EncodeIMAXP, EncodeSATP, EncodeSFTSFFW, EncodeKFFS, EncodeSFTAFFW, EncodeSFTKFF,
//            EncodeKFFA
//   step 28 (guard "POSOKLIM_FC" and "TONPOSOK_FC"): EncodePOSOKLIM_FC, EncodeTONPOSOK_FC
//
// "isFreezeControl" and "SpeedForward" are encoded as bits of the "ACR" word, with that word.
#pragma once

#include "host/setup.h"

namespace kestrel {

// ---- Fixed-point gains ------------------------------------------------------------------------

// The largest mantissa: a gain of exactly 2^s is held as 32767 with shift s.
inline constexpr double kGainUnity = 32767.0;
// The acceleration feed-forward splits its shift over two registers; the first holds at most this.
inline constexpr double kLowShiftLimit = 11.0;

struct GainPair {
  const char* scaled;      // physical gain the user edits
  const char* mantissa;    // mantissa register
  const char* shift;       // shift register (the low part when there are two)
  const char* high_shift;  // second shift register, holding what exceeds kLowShiftLimit; or null
  double max_gain;         // upper end of the scaled gain's range (the lower end is 0)
  const char* guard;       // the pair exists only on drives that have this register; or null
};

inline constexpr GainPair kGainPairs[] = {
    {"Kp_C_scl", "KPI", "SFTKPI", nullptr, 16384.0, nullptr},
    {"Ki_C_scl", "KII", "SFTKII", nullptr, 16384.0, nullptr},
    {"Kp_S_scl", "KPS", "SFTKPS", nullptr, 16384.0, nullptr},
    {"Ki_S_scl", "KIS", "SFTKIS", nullptr, 16384.0, nullptr},
    {"Kp_P_scl", "KPP", "SFTKPP", nullptr, 16384.0, nullptr},
    {"Ki_P_scl", "KIP", "SFTKIP", nullptr, 16384.0, nullptr},
    {"Kd_P_scl", "KDP", "SFTKDP", nullptr, 16384.0, nullptr},
    {"Kp_T_scl", "KPTHT", "SFTKPTHT", nullptr, 16384.0, "KPTHT"},
    {"Ki_T_scl", "KITHT", "SFTKITHT", nullptr, 16384.0, "KPTHT"},
    {"KFFS_scl", "KFFS", "SFTSFFW", nullptr, 16384.0, nullptr},
    {"KFFA_scl", "KFFA", "SFTAFFW", "SFTKFF", 4194304.0, nullptr},
};

// The row of a scaled gain (case ignored), or null.
const GainPair* FindGainPair(const char* scaled_name);

// Total shift for a gain: the smallest s >= 0 with gain <= 2^s, i.e. ceil(log2 gain) for
// gain > 1 and 0 otherwise (also for NaN). Exact, so powers of two give a full mantissa and no
// mantissa ever exceeds 32767. +inf gives +inf.
double GainShift(double gain);
// Mantissa for a gain and its total shift: gain x 32767 / 2^shift.
double GainMantissa(double gain, double shift);
// Gain held by a mantissa and total shift: mantissa x 2^shift / 32767.
double GainValue(double mantissa, double shift);

// Generic calculators over one row. A gain that is NaN or infinite cannot be held by the drive:
// the encoders refuse it (return 0, registers unchanged) rather than write garbage into them.
int DeriveGain(CMC_Setup& setup, const GainPair& pair);
int EncodeGainShift(CMC_Setup& setup, const GainPair& pair);      // low (or only) shift register
int EncodeGainHighShift(CMC_Setup& setup, const GainPair& pair);  // second shift register
int EncodeGainMantissa(CMC_Setup& setup, const GainPair& pair);

// By scaled name, for the tuning formulas and dialogs: derive the gain from its registers, or
// encode it into its shift register(s) and mantissa. 0 (nothing changed) for an unknown name.
int DeriveGain(CMC_Setup& setup, const char* scaled_name);
int EncodeGain(CMC_Setup& setup, const char* scaled_name);

// Register -> physical, one per scaled gain.
int DeriveKp_C_scl(CMC_Setup& setup);
int DeriveKi_C_scl(CMC_Setup& setup);
int DeriveKp_S_scl(CMC_Setup& setup);
int DeriveKi_S_scl(CMC_Setup& setup);
int DeriveKp_P_scl(CMC_Setup& setup);
int DeriveKi_P_scl(CMC_Setup& setup);
int DeriveKd_P_scl(CMC_Setup& setup);
int DeriveKp_T_scl(CMC_Setup& setup);
int DeriveKi_T_scl(CMC_Setup& setup);
int DeriveKFFS_scl(CMC_Setup& setup);
int DeriveKFFA_scl(CMC_Setup& setup);

// Physical -> register, shift before mantissa.
int EncodeSFTKPI(CMC_Setup& setup);
int EncodeKPI(CMC_Setup& setup);
int EncodeSFTKII(CMC_Setup& setup);
int EncodeKII(CMC_Setup& setup);
int EncodeSFTKPS(CMC_Setup& setup);
int EncodeKPS(CMC_Setup& setup);
int EncodeSFTKIS(CMC_Setup& setup);
int EncodeKIS(CMC_Setup& setup);
int EncodeSFTKPP(CMC_Setup& setup);
int EncodeKPP(CMC_Setup& setup);
int EncodeSFTKIP(CMC_Setup& setup);
int EncodeKIP(CMC_Setup& setup);
int EncodeSFTKDP(CMC_Setup& setup);
int EncodeKDP(CMC_Setup& setup);
int EncodeSFTKPTHT(CMC_Setup& setup);
int EncodeKPTHT(CMC_Setup& setup);
int EncodeSFTKITHT(CMC_Setup& setup);
int EncodeKITHT(CMC_Setup& setup);
int EncodeSFTSFFW(CMC_Setup& setup);
int EncodeKFFS(CMC_Setup& setup);
int EncodeSFTAFFW(CMC_Setup& setup);  // min(S, 11)
int EncodeSFTKFF(CMC_Setup& setup);   // S - 11 when S > 11, else 0
int EncodeKFFA(CMC_Setup& setup);

// ---- Filters ----------------------------------------------------------------------------------

// Derivative filter of the position controller: filter_D = KDFP / 32767 and back.
int DeriveFilter_D(CMC_Setup& setup);
int EncodeKDFP(CMC_Setup& setup);  // only when both "KDFP" and "filter_D" exist; nothing reported

// Current-loop output filter. FILTERQ 32767 means no filter (corner shown as 5000 1/s).
int DeriveIsUseFilterOnCrtCtrlOutput(CMC_Setup& setup);
int DeriveFilterOnCurrentControllerOutput(CMC_Setup& setup);  // -ln(1 - FILTERQ/32767) / Ts_C
int EncodeFILTERQ(CMC_Setup& setup);  // (1 - e^(-F Ts_C)) x 32767, truncated

// ---- Gravitational load compensation ----------------------------------------------------------

int DeriveIsCompensateGravitationalLoads(CMC_Setup& setup);
int DeriveOffsetCurrent(CMC_Setup& setup);  // FFL / CurrentScale, range [-In, In]
int EncodeFFL(CMC_Setup& setup);
int EncodeKFFL(CMC_Setup& setup);  // 32767 when "KFFL" exists; nothing reported otherwise

// ---- Saturations and limits -------------------------------------------------------------------
// SATS, SATP, IMAXS and IMAXP hold 32767 minus the allowed controller output. The position
// cascade (ControlMode 0 with PositionControlType 1) limits the position controller's output in
// speed units ("Limit_Speed"), otherwise in current units ("IlimPS").

int DeriveIlimPS(CMC_Setup& setup);
int DeriveIPSatS(CMC_Setup& setup);
int DeriveIPSatP(CMC_Setup& setup);
int DeriveLimit_Speed(CMC_Setup& setup);  // position cascade only; otherwise 1, nothing written
int EncodeSATS(CMC_Setup& setup);
int EncodeSATP(CMC_Setup& setup);
int EncodeIMAXS(CMC_Setup& setup);
int EncodeIMAXP(CMC_Setup& setup);
// Current controller output saturations, each = SATPWM when both it and "SATPWM" exist.
int EncodeSATID(CMC_Setup& setup);
int EncodeSATIQ(CMC_Setup& setup);

// ---- Speed feed-forward switch and freeze control ---------------------------------------------

int DeriveSpeedForward(CMC_Setup& setup);  // bit 14 of "ACR"; only when "SpeedForward" exists
// Freeze control exists only when both "POSOKLIM_FC" and "TONPOSOK_FC" do; otherwise these
// return 0 without a report.
int DeriveIsFreezeControl(CMC_Setup& setup);
int DeriveFreezeControl_errband(CMC_Setup& setup);
int DeriveFreezeControl_time(CMC_Setup& setup);  // reads the parameter "Ts_S"
int EncodePOSOKLIM_FC(CMC_Setup& setup);
int EncodeTONPOSOK_FC(CMC_Setup& setup);  // reads the parameter "Ts_S"

// ---- Test limits read from the registers ------------------------------------------------------

int DeriveTestCurrent(CMC_Setup& setup);
int DeriveTestProtectionCurrent(CMC_Setup& setup);
int DeriveTestLimitCurrent(CMC_Setup& setup);
int DeriveMload_over_M(CMC_Setup& setup);
int DeriveTestMaxSpeed(CMC_Setup& setup);

}  // namespace kestrel
