// The calculator contract for every conversion: all names looked up before anything changes,
// nothing changed and 0 when one is missing, and no fault on degenerate values.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "conversions/calculators.h"
#include "support/calculator_contract.h"

namespace {

using namespace kestrel;           // NOLINT: the calculators under test
using namespace kestrel::testing;  // NOLINT: the lists

// clang-format off
const Named kOthers[] = {
  KESTREL_CALC(DeriveKp_C_scl), KESTREL_CALC(DeriveKi_C_scl), KESTREL_CALC(DeriveKp_S_scl),
  KESTREL_CALC(DeriveKi_S_scl), KESTREL_CALC(DeriveKp_P_scl), KESTREL_CALC(DeriveKi_P_scl),
  KESTREL_CALC(DeriveKd_P_scl), KESTREL_CALC(DeriveKp_T_scl), KESTREL_CALC(DeriveKi_T_scl),
  KESTREL_CALC(DeriveKFFS_scl), KESTREL_CALC(DeriveKFFA_scl), KESTREL_CALC(EncodeSFTKPI),
  KESTREL_CALC(EncodeKPI), KESTREL_CALC(EncodeSFTKII), KESTREL_CALC(EncodeKII), KESTREL_CALC(EncodeSFTKPS),
  KESTREL_CALC(EncodeKPS), KESTREL_CALC(EncodeSFTKIS), KESTREL_CALC(EncodeKIS), KESTREL_CALC(EncodeSFTKPP),
  KESTREL_CALC(EncodeKPP), KESTREL_CALC(EncodeSFTKIP), KESTREL_CALC(EncodeKIP), KESTREL_CALC(EncodeSFTKDP),
  KESTREL_CALC(EncodeKDP), KESTREL_CALC(EncodeSFTKPTHT), KESTREL_CALC(EncodeKPTHT),
  KESTREL_CALC(EncodeSFTKITHT), KESTREL_CALC(EncodeKITHT), KESTREL_CALC(EncodeSFTSFFW),
  KESTREL_CALC(EncodeKFFS), KESTREL_CALC(EncodeSFTAFFW), KESTREL_CALC(EncodeSFTKFF), KESTREL_CALC(EncodeKFFA),
  KESTREL_CALC(DeriveFilter_D), KESTREL_CALC(EncodeKDFP), KESTREL_CALC(DeriveIsUseFilterOnCrtCtrlOutput),
  KESTREL_CALC(DeriveFilterOnCurrentControllerOutput), KESTREL_CALC(EncodeFILTERQ),
  KESTREL_CALC(DeriveIsCompensateGravitationalLoads), KESTREL_CALC(DeriveOffsetCurrent),
  KESTREL_CALC(EncodeFFL), KESTREL_CALC(EncodeKFFL), KESTREL_CALC(DeriveIlimPS), KESTREL_CALC(DeriveIPSatS),
  KESTREL_CALC(DeriveIPSatP), KESTREL_CALC(DeriveLimit_Speed), KESTREL_CALC(EncodeSATS),
  KESTREL_CALC(EncodeSATP), KESTREL_CALC(EncodeIMAXS), KESTREL_CALC(EncodeIMAXP), KESTREL_CALC(EncodeSATID),
  KESTREL_CALC(EncodeSATIQ), KESTREL_CALC(DeriveSpeedForward), KESTREL_CALC(DeriveIsFreezeControl),
  KESTREL_CALC(DeriveFreezeControl_errband), KESTREL_CALC(DeriveFreezeControl_time),
  KESTREL_CALC(EncodePOSOKLIM_FC), KESTREL_CALC(EncodeTONPOSOK_FC), KESTREL_CALC(DeriveTestCurrent),
  KESTREL_CALC(DeriveTestProtectionCurrent), KESTREL_CALC(DeriveTestLimitCurrent),
  KESTREL_CALC(DeriveTestStartCurrent), KESTREL_CALC(DeriveMload_over_M), KESTREL_CALC(DeriveTestMaxSpeed),
  KESTREL_CALC(DeriveNegativeSWLS), KESTREL_CALC(DerivePositiveSWLS), KESTREL_CALC(EncodeNegativeSWLS),
  KESTREL_CALC(EncodePositiveSWLS), KESTREL_CALC(DeriveErefMaxSpeed), KESTREL_CALC(DeriveErefMaxAcceleration),
  KESTREL_CALC(EncodeErefMaxSpeed), KESTREL_CALC(EncodeErefMaxAcceleration), KESTREL_CALC(EncodeMECRESL),
  KESTREL_CALC(EncodeENC2THL), KESTREL_CALC(EncodeELRESL), KESTREL_CALC(EncodeABSTART_MINMOVE),
  KESTREL_CALC(EncodeTRANSMISSION), KESTREL_CALC(DeriveDeadBandPoint), KESTREL_CALC(DeriveDeadBandRange),
  KESTREL_CALC(DeriveUseFilter), KESTREL_CALC(DeriveFilter), KESTREL_CALC(DerivePosMin),
  KESTREL_CALC(DerivePosMax), KESTREL_CALC(DeriveSpdMin), KESTREL_CALC(DeriveSpdMax), KESTREL_CALC(DeriveCrtMin),
  KESTREL_CALC(DeriveCrtMax), KESTREL_CALC(EncodeReferenceGain), KESTREL_CALC(EncodeFILTER1),
  KESTREL_CALC(EncodeLEVEL_AD5), KESTREL_CALC(EncodeE_LEVEL_AD5), KESTREL_CALC(EncodeGEAR),
  KESTREL_CALC(DerivePWM_freq), KESTREL_CALC(DerivePWMperiod), KESTREL_CALC(DeriveTs_C),
  KESTREL_CALC(DeriveTs_S), KESTREL_CALC(DerivePosSpd_in_FastLoop), KESTREL_CALC(EncodePWMPER),
  KESTREL_CALC(EncodeSATPWM),
  {[](CMC_Setup& s) { return EncodeGain(s, "kffa_SCL"); }, "EncodeGain by name, case ignored"},
  {[](CMC_Setup& s) { return DeriveGain(s, "kd_p_SCL"); }, "DeriveGain by name, case ignored"}};

// Open gap: the software limits, the reference profile and the analogue reference bounds read the
// load and current scales unchecked, so without a scale input they report it and go on with 0.
const std::set<std::string> kUncheckedScaleUsers = {
  "DeriveNegativeSWLS", "DerivePositiveSWLS", "EncodeNegativeSWLS", "EncodePositiveSWLS",
  "DeriveErefMaxSpeed", "DeriveErefMaxAcceleration", "EncodeErefMaxSpeed",
  "EncodeErefMaxAcceleration", "DerivePosMin", "DerivePosMax", "DeriveSpdMin", "DeriveSpdMax",
  "DeriveCrtMin", "DeriveCrtMax", "EncodeReferenceGain"};
const std::set<std::string> kScaleInputs = {"EncRes", "Motor_transmission", "Load_transmission",
                                            "DSP_freq", "PWMPER", "SLPER", "ImaxPS"};
// clang-format on

std::vector<Named> All() {
  std::vector<Named> all(std::begin(kConfiguration), std::end(kConfiguration));
  all.insert(all.end(), std::begin(kProtections), std::end(kProtections));
  all.insert(all.end(), std::begin(kOthers), std::end(kOthers));
  return all;
}

TEST(CalculatorContract, EveryConversionOnTheDemoDrive) {
  for (const Named& c : All())
    axis::testing::ExpectContract(
        c.calc, c.name,
        kUncheckedScaleUsers.contains(c.name) ? kScaleInputs : std::set<std::string>{});
}

TEST(CalculatorContract, DegenerateValuesEverywhere) {
  std::vector<Calculator> calculators;
  for (const Named& c : All()) calculators.push_back(c.calc);
  axis::testing::ExpectDegenerateInputsAreHarmless(calculators);
}

}  // namespace
