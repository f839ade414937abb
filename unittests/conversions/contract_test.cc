// The calculator contract for every conversion: all names looked up before anything changes,
// nothing changed and 0 when one is missing, and no fault on degenerate values.
#include <gtest/gtest.h>

#include <vector>

#include "conversions/calculators.h"
#include "support/calculator_contract.h"
#include "tuning/tuning_formulas.h"

namespace {

using namespace kestrel;           // NOLINT: the calculators under test
using namespace kestrel::testing;  // NOLINT: the lists

// clang-format off
const Named kOthers[] = {
  CALC(DeriveKp_C_scl), CALC(DeriveKi_C_scl), CALC(DeriveKp_S_scl), CALC(DeriveKi_S_scl),
  CALC(DeriveKp_P_scl), CALC(DeriveKi_P_scl), CALC(DeriveKd_P_scl), CALC(DeriveKp_T_scl),
  CALC(DeriveKi_T_scl), CALC(DeriveKFFS_scl), CALC(DeriveKFFA_scl), CALC(EncodeSFTKPI),
  CALC(EncodeKPI), CALC(EncodeSFTKII), CALC(EncodeKII), CALC(EncodeSFTKPS), CALC(EncodeKPS),
  CALC(EncodeSFTKIS), CALC(EncodeKIS), CALC(EncodeSFTKPP), CALC(EncodeKPP), CALC(EncodeSFTKIP),
  CALC(EncodeKIP), CALC(EncodeSFTKDP), CALC(EncodeKDP), CALC(EncodeSFTKPTHT), CALC(EncodeKPTHT),
  CALC(EncodeSFTKITHT), CALC(EncodeKITHT), CALC(EncodeSFTSFFW), CALC(EncodeKFFS),
  CALC(EncodeSFTAFFW), CALC(EncodeSFTKFF), CALC(EncodeKFFA), CALC(DeriveFilter_D), CALC(EncodeKDFP),
  CALC(DeriveIsUseFilterOnCrtCtrlOutput), CALC(DeriveFilterOnCurrentControllerOutput),
  CALC(EncodeFILTERQ), CALC(DeriveIsCompensateGravitationalLoads), CALC(DeriveOffsetCurrent),
  CALC(EncodeFFL), CALC(EncodeKFFL), CALC(DeriveIlimPS), CALC(DeriveIPSatS), CALC(DeriveIPSatP),
  CALC(DeriveLimit_Speed), CALC(EncodeSATS), CALC(EncodeSATP), CALC(EncodeIMAXS), CALC(EncodeIMAXP),
  CALC(EncodeSATID), CALC(EncodeSATIQ), CALC(DeriveSpeedForward), CALC(DeriveIsFreezeControl),
  CALC(DeriveFreezeControl_errband), CALC(DeriveFreezeControl_time), CALC(EncodePOSOKLIM_FC),
  CALC(EncodeTONPOSOK_FC), CALC(DeriveTestCurrent), CALC(DeriveTestProtectionCurrent),
  CALC(DeriveTestLimitCurrent), CALC(DeriveTestStartCurrent), CALC(DeriveMload_over_M),
  CALC(DeriveTestMaxSpeed), CALC(DeriveNegativeSWLS), CALC(DerivePositiveSWLS),
  CALC(EncodeNegativeSWLS), CALC(EncodePositiveSWLS), CALC(DeriveErefMaxSpeed),
  CALC(DeriveErefMaxAcceleration), CALC(EncodeErefMaxSpeed), CALC(EncodeErefMaxAcceleration),
  CALC(EncodeMECRESL), CALC(EncodeENC2THL), CALC(EncodeELRESL), CALC(EncodeABSTART_MINMOVE),
  CALC(EncodeTRANSMISSION), CALC(DeriveDeadBandPoint), CALC(DeriveDeadBandRange),
  CALC(DeriveUseFilter), CALC(DeriveFilter), CALC(DerivePosMin), CALC(DerivePosMax),
  CALC(DeriveSpdMin), CALC(DeriveSpdMax), CALC(DeriveCrtMin), CALC(DeriveCrtMax),
  CALC(EncodeReferenceGain), CALC(EncodeFILTER1), CALC(EncodeLEVEL_AD5), CALC(EncodeE_LEVEL_AD5),
  CALC(EncodeGEAR), CALC(DerivePWM_freq), CALC(DerivePWMperiod), CALC(DeriveTs_C), CALC(DeriveTs_S),
  CALC(DerivePosSpd_in_FastLoop), CALC(EncodePWMPER), CALC(EncodeSATPWM),
  {[](CMC_Setup& s) { return EncodeGain(s, "kffa_SCL"); }, "EncodeGain by name, case ignored"},
  {[](CMC_Setup& s) { return DeriveGain(s, "kd_p_SCL"); }, "DeriveGain by name, case ignored"}};

// The controller tunings: a missing name, a register behind the loop period or an input of a
// scale among them, leaves the tuned gains as they were.
const Named kTunings[] = {
  CALC(TuneCurrentController), CALC(TuneSpeedController), CALC(TunePositionController)};
// clang-format on

std::vector<Named> All() {
  std::vector<Named> all(std::begin(kConfiguration), std::end(kConfiguration));
  all.insert(all.end(), std::begin(kProtections), std::end(kProtections));
  all.insert(all.end(), std::begin(kOthers), std::end(kOthers));
  all.insert(all.end(), std::begin(kTunings), std::end(kTunings));
  return all;
}

TEST(CalculatorContract, EveryConversionOnTheDemoDrive) {
  for (const Named& c : All()) axis::testing::ExpectContract(c.calc, c.name);
}

TEST(CalculatorContract, DegenerateValuesEverywhere) {
  std::vector<Calculator> calculators;
  for (const Named& c : All()) calculators.push_back(c.calc);
  axis::testing::ExpectDegenerateInputsAreHarmless(calculators);
}

}  // namespace
