// The configuration words and flags: decoding, encoding and round trips of every field.
#include "conversions/configuration.h"

#include <gtest/gtest.h>

#include <strings.h>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "conversions/calculators.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using namespace kestrel;           // NOLINT: the calculators under test
using namespace kestrel::testing;  // NOLINT: the case helpers

// Every name the calculators read or write; entries without a value are 0. Hand-computed:
// VoltageScale (trapezoidal) = 32767 / Vdc = 1000 per V; dead band = max(0x0A, 0x14) counts x
// 50 % / 40 MHz = 0.25 us; PWM frequency from the registers = 40e6 / (2 x 1000) = 20 kHz.
const char kPhysical[] =
    "CommutationMethod isMotorTemperatureSensor isDriveTemperatureSensor isSpeedEstimator "
    "StartMode isBrakeResistor InputsPolarityType isSWLS Motor_transmission=1 Load_transmission=1 "
    "IsAutoActivatedAfterPowerOn isAnalogueReference DigitalReferenceType PositionControlType "
    "ControlMode=2 ExternalReference SpeedForward isFreezeControl isLimitMaximum "
    "PosSpd_in_FastLoop "
    "time_AB EnablePolarity LSNPolarity LSPPolarity save_CAN_baudrate save_axis_id isMotorBrake "
    "MotorBrake_output=1 MotorBrake_releasetime MotorBrake_applytime Ts_S=0.001 isFilterEnc "
    "FilterEncValue Motor_TempSensor_Type Axis_ID_list ReverseCounting StartCurrent R=3 In=2 "
    "PWM_freq=20000 Vdc=32.767 MotorPhaseConnectionType DSP_freq=40e6 DBTPC=50";
const char kRegisters[] =
    "POSOKLIM_FC TONPOSOK_FC PWMPER=1000 DBT=0x0A14 SCR OSR ASR ACR UPGRADE T1ONA T1ONB "
    "DIGIN_ACTIVE_LEVEL LSS_Active BRAKECFG=0x0501 BRAKERELEASEDELAY BRAKEAPPLYDELAY QUAL "
    "QUAL_ACT=0x12FF3456 QUAL_AQ2=0xFFFF MTSTYPE AAR_table COUNTINGDIR REFTST RINCTST";

// The setup changed by `given` (see FromTokens); "+" adds the analogue input "CADIN". The brake
// table: port 1, 2, 3 = pin 5, 7, 300.
TestSetup Config(const std::string& given = "") {
  TestSetup s = FromTokens(kPhysical, kRegisters, given, [](TestSetup& t, const std::string&) {
    t.Variable("CADIN").Registers({{"CADIN", 0}});
  });
  s->SetIoPorts({{1, 5}, {2, 7}, {3, 300}});
  return s;
}

// clang-format off
// Each case runs the calculators writing a name of `expected`, expecting `result` from each.
const struct { const char* given; const char* expected; int result = 1; } kCases[] = {
  // decoding: each flag from its own bit
  {"SCR=0x2030", "CommutationMethod=1 isSpeedEstimator=1 isSpeedEstimator<=1"},
  {"SCR=0x2038", "isSpeedEstimator=0"}, {"OSR=0x18", "StartMode=2 StartMode<=3"},
  {"SCR=0x0080", "isMotorTemperatureSensor=1 isDriveTemperatureSensor=0 CommutationMethod=0"},
  {"ACR=0x46", "IsAutoActivatedAfterPowerOn=1 DigitalReferenceType=0 ExternalReference=1 "
   "isAnalogueReference=1 isAnalogueReference<=0"},  // no analogue input: range [0, 0]
  {"+ ACR=0x80", "isAnalogueReference=0 isAnalogueReference<=1 ExternalReference=1"},
  {"ACR=0x400", "ControlMode=0 ControlMode<=2"}, {"ACR=0x600", "ControlMode=0"},
  {"ACR=0x200", "ControlMode=1"}, {"ACR=0x100", "ControlMode=2"},
  {"ControlMode=0", "ControlMode=2"},
  // start with Hall sensors: OSR bit 3 as mode 1, ACR bit 15 only with the host option
  {"@PMSMStartwithHalls=1 StartMode=3", "OSR=0x08 ACR=0x8100"},
  {"@PMSMStartwithHalls=1 OSR=0x08 ACR=0x8100", "StartMode=3"},
  {"OSR=0x08 ACR=0x8100", "StartMode=1"}, {"StartMode=3 ACR=0x8000", "OSR=0x08 ACR=0x8100"},
  {"@PMSMStartwithHalls=1 !ACR OSR=0x08 StartMode=9", "StartMode=9", 0},
  // SCR: bits 12-14 and above 15 cleared, bit 3 cleared for the estimator
  {"SCR=0xFFFF", "SCR=0x8E47"}, {"SCR=0x1FFFF !isSpeedEstimator", "SCR=0x8E7F"},
  {"CommutationMethod=1 isMotorTemperatureSensor=1 isSpeedEstimator=1 SCR=0x7008", "SCR=0x20B0"},
  // OSR: start mode 1 or 3 bit 3, 2 bits 2 and 4, anything else bit 2
  {"OSR=0xFFFF", "OSR=0xFDE7"}, {"OSR=0xFFFF StartMode=2.9 isBrakeResistor=1", "OSR=0xFFF7"},
  {"StartMode=7 isBrakeResistor=1", "OSR=0x0204"},
  // ASR: bit 2 set when the polarity is not 1, bit 7 for a reversed transmission, bit 12 limits
  {"ASR=0xFFFF InputsPolarityType=1", "ASR=0xEF7B"},
  {"InputsPolarityType=2 isSWLS=1", "ASR=0x1004"},
  {"!InputsPolarityType !isSWLS ASR=-1", "ASR=0xFF7F"},
  {"@hasNegTransmission=1 Load_transmission=-0.5 !isSWLS !InputsPolarityType", "ASR=0x80"},
  {"@hasNegTransmission=1 !Load_transmission ASR=0x1234", "ASR=0x1234", 0},
  // ACR: position without a cascade clears bit 9; digital reference type 0 sets bits 7 and 2
  {"ACR=0x400 ControlMode=1.9", "ACR=0x300"},
  {"ACR=-1 IsAutoActivatedAfterPowerOn=1", "ACR=0xB92F"},
  {"ExternalReference=1 DigitalReferenceType=0", "ACR=0x0184"},
  {"ACR=0x04 ExternalReference=1 DigitalReferenceType=1", "ACR=0x0180"},
  {"ACR=0x84 ExternalReference=1 isAnalogueReference=1", "ACR=0x0144"}, {"ACR=0xC4", "ACR=0x0104"},
  {"SpeedForward=1 isFreezeControl=1", "ACR=0x4110"},
  {"ACR=0x4010 !SpeedForward !POSOKLIM_FC", "ACR=0x0110"},
  {"ACR=0xA0A ControlMode=3", "ACR=0xA0A", 0}, {"ACR=0xA0A ControlMode=nan", "ACR=0xA0A", 0},
  // feed-forward to the current loop unless position runs over speed (ACR encoded first)
  {"ControlMode=0 PositionControlType=1", "SpeedForward=0 ACR=0x0700"},
  {"ACR=0x0200 ControlMode=0 PositionControlType=0", "SpeedForward=1 ACR=0x4500"},
  // UPGRADE: bit 15 and above cleared, bit 6 only with its flag; bit 9: the alignment time unit
  {"UPGRADE=0xFFFF !PosSpd_in_FastLoop", "UPGRADE=0x7FFB"}, {"UPGRADE=0x1FFFF", "UPGRADE=0x7FBB"},
  {"isLimitMaximum=1 PosSpd_in_FastLoop=1", "UPGRADE=0x44"},
  {"UPGRADE=0x200 T1ONA=150 T1ONB=9", "time_AB=1.5 time_AB>=0.01 time_AB<=655.35"},
  {"UPGRADE=0xFDFF T1ONA=13107", "time_AB=0.2 time_AB<=1"},
  {"UPGRADE=0x200 time_AB=1.5", "T1ONA=150 T1ONB=150"}, {"time_AB=0.2", "T1ONA=13107 T1ONB=13107"},
  {"DIGIN_ACTIVE_LEVEL=0x1234 EnablePolarity=1 LSPPolarity=1", "DIGIN_ACTIVE_LEVEL=0xB234"},
  {"LSS_Active=0xFF00 save_axis_id=1 save_CAN_baudrate=0.5", "LSS_Active=2"},  // rebuilt
  // brake: BRAKECFG = the port's pin x 256 + the switch; pin 9 and port 9 unknown, pin 300 too big
  {"BRAKECFG=0x0901 MotorBrake_output=7", "MotorBrake_output=7", 0},
  {"MotorBrake_output=2.7 isMotorBrake=0.5", "BRAKECFG=0x0701"},
  {"MotorBrake_output=3", "BRAKECFG=0x501", 0}, {"MotorBrake_output=9", "BRAKECFG=0x501", 0},
  {"MotorBrake_releasetime=0.05", "BRAKERELEASEDELAY=50"},
  {"Ts_S=0.002 BRAKEAPPLYDELAY=20", "MotorBrake_applytime=0.04"},
  // encoder filter (QUAL_ACT 0x12FF3456, QUAL_AQ2 0xFFFF): choice 12 is 1/72 (field 6, pairs 10)
  {"isFilterEnc=1 FilterEncValue=12", "QUAL=1 QUAL_ACT=0x12063456 QUAL_AQ2=0xBAFF"},
  {"isFilterEnc=1 FilterEncValue=13", "QUAL=1 QUAL_ACT=0x12003456 QUAL_AQ2=0x30FF"},
  {"isFilterEnc=1 FilterEncValue=3 QUAL_ACT=0x80FF0001", "QUAL=1 QUAL_ACT=0x80030001"},
  {"QUAL=1 FilterEncValue=3", "QUAL=0 QUAL_ACT=0x12FF3456 QUAL_AQ2=0xFFFF"},
  {"QUAL=1", "isFilterEnc=1"}, {"QUAL=2", "isFilterEnc=0"},
  {"Axis_ID_list=5", "AAR_table=261"}, {"Axis_ID_list=0.5 AAR_table=7", "AAR_table=0"},
  {"AAR_table=0", "Axis_ID_list=0 Axis_ID_list<=511"},
  {"Motor_TempSensor_Type=1.9", "MTSTYPE=1"}, {"Motor_TempSensor_Type=2 MTSTYPE=1", "MTSTYPE=0"},
  {"MTSTYPE=1", "Motor_TempSensor_Type=1 Motor_TempSensor_Type<=1"},
  {"ReverseCounting=1.5", "COUNTINGDIR=1"}, {"COUNTINGDIR=2", "ReverseCounting=0"},
  // start-up reference: 1000 x 50 % x 2 A x R' + 1000 x 32.767 V x PWM_freq x dead band
  {"StartCurrent=50", "REFTST=3164 RINCTST=3164"},  // 3000 + 163.835
  {"StartCurrent=50 MotorPhaseConnectionType=1", "REFTST=1164"},  // R / 3
  {"StartCurrent=50 PWM_freq=10000", "REFTST=3082"},  // the parameter, not the registers
  {"StartCurrent=50 DBT=0", "REFTST=3655"},  // no dead-band counts: 1 us
  {"REFTST=3164 PWM_freq=5000", "StartCurrent=50.00275 StartCurrent<=300"},  // registers' 20 kHz
  // capability options: the closed loops follow the control structure, nothing for an unknown one
  {"ControlMode=0", "?IsClosedPosition=1 ?IsClosedSpeed=0 ?IsClosedCurrent=1 ?IsStepMotor=0 "
   "?IsStepperOpenLoop=0 ?isPositionFeedbackOnLoad=0 ?isPositionFeedbackOnMotor=1 "
   "?isSpeedFeedback=0 ?isIndex=1"},
  {"ControlMode=0 PositionControlType=1", "?IsClosedPosition=1 ?IsClosedSpeed=1"},
  {"ControlMode=1.9 PositionControlType=5", "?IsClosedPosition=0 ?IsClosedSpeed=1"},
  {"!PositionControlType", "?IsClosedPosition=0 ?IsClosedSpeed=0 ?IsClosedCurrent=1"},
  {"ControlMode=3", "?IsClosedCurrent= ?isIndex=1", 0}, {"ControlMode=nan", "?IsClosedSpeed=", 0},
  {"ControlMode=0 PositionControlType=2", "?IsClosedPosition= ?isIndex=1", 0},
};

// Round trips: the flags (integers in [lo, hi] when step is 0, else values within half a step)
// are encoded into a word that starts as `given` says, then derived back.
struct Trip { Calculator encode; const char* given; const char* flags; double lo, hi, step; };
const Trip kTrips[] = {
  {EncodeSCR, "SCR=0xFFFF", "CommutationMethod isMotorTemperatureSensor isDriveTemperatureSensor "
                            "isSpeedEstimator", 0, 1, 0},
  {EncodeOSR, "OSR=0xFFFF", "isBrakeResistor", 0, 1, 0}, {EncodeOSR, "", "StartMode", 0, 2, 0},
  {EncodeASR, "ASR=0xFFFF", "InputsPolarityType isSWLS", 0, 1, 0},
  {EncodeACR, "ACR=0xFFFF", "IsAutoActivatedAfterPowerOn ExternalReference", 0, 1, 0},
  {EncodeACR, "ACR=0xFFFF", "ControlMode", 0, 2, 0},
  {EncodeUPGRADE, "UPGRADE=0xFFFF", "isLimitMaximum", 0, 1, 0},
  {EncodeDIGIN_ACTIVE_LEVEL, "DIGIN_ACTIVE_LEVEL=0xFFFF", "EnablePolarity LSNPolarity LSPPolarity",
   0, 1, 0},
  {EncodeLSS_Active, "LSS_Active=0xFFFF", "save_CAN_baudrate save_axis_id", 0, 1, 0},
  {EncodeBRAKECFG, "", "isMotorBrake", 0, 1, 0}, {EncodeBRAKECFG, "", "MotorBrake_output", 1, 2, 0},
  {EncodeEncoderInputFilter, "QUAL=7", "isFilterEnc", 0, 1, 0},
  {EncodeMTSTYPE, "", "Motor_TempSensor_Type", 0, 1, 0},
  {EncodeAAR_table, "", "Axis_ID_list", 0, 255, 0},
  {EncodeCOUNTINGDIR, "", "ReverseCounting", 0, 1, 0},
  {EncodeT1ONA, "UPGRADE=0x200", "time_AB", 0.01, 655.35, 0.01},
  {EncodeT1ONA, "", "time_AB", 0.01, 1, 1 / 65535.0},
  {EncodeBRAKERELEASEDELAY, "", "MotorBrake_releasetime", 0, 30, 0.001},
  {EncodeBRAKEAPPLYDELAY, "", "MotorBrake_applytime", 0, 30, 0.001},
  // one REFTST count in percent: 100 / (VoltageScale x In x R')
  {EncodeREFTST, "", "StartCurrent", 0, 300, 100 / (1000 * 2 * 3.0)},
  {EncodeREFTST, "CommutationMethod=1 MotorPhaseConnectionType=1", "StartCurrent", 0, 300,
   100 / (65534 / (1.1 * 32.767) * 2)},
};

// clang-format on

// The derivation of `name`.
Calculator Deriver(const std::string& name) {
  for (const Named& c : kConfiguration)
    if (!strcasecmp(c.name, ("Derive" + name).c_str())) return c.calc;
  return nullptr;
}

TEST(Configuration, Cases) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.given);
    TestSetup s = Config(c.given);
    ExpectCase(s, kConfiguration, c.expected, c.result);
  }
}

TEST(Configuration, RandomValuesSurviveEncodeThenDerive) {
  std::mt19937 rng(5);
  for (const auto& row : kTrips) {
    SCOPED_TRACE(row.flags);
    const std::vector<std::string> flags = Split(row.flags);
    std::uniform_real_distribution<double> dist(row.lo, row.hi);
    for (int i = 0; i < 200; ++i) {
      TestSetup s = Config(row.given);
      std::vector<double> values;
      for (const std::string& f : flags)
        s.Set(f.c_str(), values.emplace_back(row.step == 0 ? std::round(dist(rng)) : dist(rng)));
      ASSERT_EQ(row.encode(*s), 1);
      for (size_t f = 0; f < flags.size(); ++f) {
        s.Set(flags[f].c_str(), -7);
        ASSERT_EQ(Deriver(flags[f])(*s), 1) << flags[f];
        ASSERT_NEAR(s.Get(flags[f].c_str()), values[f], row.step * (0.5 + 1e-9)) << flags[f];
      }
    }
  }
}

}  // namespace
