#include "conversions/configuration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "conversions/calculator.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using kestrel::Calculator;

// Every name the configuration calculators read or write, with neutral values. Hand-computed
// quantities of this setup:
//   VoltageScale (trapezoidal) = 32767 / Vdc = 32767 / 32.767 = 1000 per V
//   dead-band time = max(0x0A, 0x14) counts x 50 % / 40 MHz = 10 / 40e6 = 0.25 us
//   PWM frequency from the registers = 40e6 / (2 x 1000) = 20 kHz; Ts_S = 1 ms
struct Entry {
  const char* name;
  double value;
  bool is_register;
};
// clang-format off
const Entry kConfig[] = {
    {"CommutationMethod", 0, false}, {"isMotorTemperatureSensor", 0, false},
    {"isDriveTemperatureSensor", 0, false}, {"isSpeedEstimator", 0, false},
    {"StartMode", 0, false}, {"isBrakeResistor", 0, false}, {"InputsPolarityType", 0, false},
    {"isSWLS", 0, false}, {"Motor_transmission", 1, false}, {"Load_transmission", 1, false},
    {"IsAutoActivatedAfterPowerOn", 0, false}, {"isAnalogueReference", 0, false},
    {"DigitalReferenceType", 0, false}, {"PositionControlType", 0, false},
    {"ControlMode", 2, false}, {"ExternalReference", 0, false}, {"SpeedForward", 0, false},
    {"isFreezeControl", 0, false}, {"POSOKLIM_FC", 0, true}, {"TONPOSOK_FC", 0, true},
    {"isLimitMaximum", 0, false}, {"PosSpd_in_FastLoop", 0, false}, {"time_AB", 0, false},
    {"EnablePolarity", 0, false}, {"LSNPolarity", 0, false}, {"LSPPolarity", 0, false},
    {"save_CAN_baudrate", 0, false}, {"save_axis_id", 0, false}, {"isMotorBrake", 0, false},
    {"MotorBrake_output", 0, false}, {"MotorBrake_releasetime", 0, false},
    {"MotorBrake_applytime", 0, false}, {"Ts_S", 0.001, false}, {"isFilterEnc", 0, false},
    {"FilterEncValue", 0, false}, {"Motor_TempSensor_Type", 0, false}, {"Axis_ID_list", 0, false},
    {"ReverseCounting", 0, false}, {"StartCurrent", 0, false}, {"R", 3, false}, {"In", 2, false},
    {"PWM_freq", 20000, false}, {"Vdc", 32.767, false}, {"MotorPhaseConnectionType", 0, false},
    {"DSP_freq", 40e6, false}, {"DBTPC", 50, false}, {"PWMPER", 1000, true},
    {"DBT", 0x0A14, true}, {"SCR", 0, true}, {"OSR", 0, true}, {"ASR", 0, true}, {"ACR", 0, true},
    {"UPGRADE", 0, true}, {"T1ONA", 0, true}, {"T1ONB", 0, true}, {"DIGIN_ACTIVE_LEVEL", 0, true},
    {"LSS_Active", 0, true}, {"BRAKECFG", 0, true}, {"BRAKERELEASEDELAY", 0, true},
    {"BRAKEAPPLYDELAY", 0, true}, {"QUAL", 0, true}, {"QUAL_ACT", 0, true}, {"QUAL_AQ2", 0, true},
    {"MTSTYPE", 0, true}, {"AAR_table", 0, true}, {"COUNTINGDIR", 0, true}, {"REFTST", 0, true},
    {"RINCTST", 0, true},
};
// clang-format on

TestSetup Config(std::vector<const char*> skip = {}) {
  TestSetup s;
  for (const Entry& e : kConfig) {
    if (std::any_of(skip.begin(), skip.end(),
                    [&](const char* n) { return std::strcmp(n, e.name) == 0; })) {
      continue;
    }
    s->AddParameter({.name = e.name,
                     .value = e.value,
                     .min = -1e300,
                     .max = 1e300,
                     .type = e.is_register ? axis::kTypeRegisterWord : axis::kTypePhysical,
                     .is_integer = e.is_register});
  }
  s->SetIoPorts({{1, 5}, {2, 7}, {3, 300}});
  return s;
}

constexpr double kMissing = -12345;  // in a row: the flag is absent from the setup

// ---------------------------------------------------------------------------------------------
// Single-bit flags

TEST(ConfigurationBits, EachFlagReadsItsBit) {
  const struct {
    const char* name;
    Calculator derive;
    const char* word;
    int bit;
    bool inverted;  // 1 when the bit is clear
  } rows[] = {
      {"isMotorTemperatureSensor", kestrel::DeriveIsMotorTemperatureSensor, "SCR", 7, false},
      {"isDriveTemperatureSensor", kestrel::DeriveIsDriveTemperatureSensor, "SCR", 8, false},
      {"CommutationMethod", kestrel::DeriveCommutationMethod, "SCR", 13, false},
      {"isBrakeResistor", kestrel::DeriveIsBrakeResistor, "OSR", 9, false},
      {"InputsPolarityType", kestrel::DeriveInputsPolarityType, "ASR", 2, true},
      {"isSWLS", kestrel::DeriveIsSWLS, "ASR", 12, false},
      {"IsAutoActivatedAfterPowerOn", kestrel::DeriveIsAutoActivatedAfterPowerOn, "ACR", 1, false},
      {"DigitalReferenceType", kestrel::DeriveDigitalReferenceType, "ACR", 2, true},
      {"isLimitMaximum", kestrel::DeriveIsLimitMaximum, "UPGRADE", 2, false},
      {"LSPPolarity", kestrel::DeriveLSPPolarity, "DIGIN_ACTIVE_LEVEL", 13, false},
      {"LSNPolarity", kestrel::DeriveLSNPolarity, "DIGIN_ACTIVE_LEVEL", 14, false},
      {"EnablePolarity", kestrel::DeriveEnablePolarity, "DIGIN_ACTIVE_LEVEL", 15, false},
      {"save_CAN_baudrate", kestrel::Derivesave_CAN_baudrate, "LSS_Active", 1, true},
      {"save_axis_id", kestrel::Derivesave_axis_id, "LSS_Active", 0, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const double only = std::ldexp(1.0, row.bit);
    const double words[] = {only, 65535 - only};
    const double set_values[] = {row.inverted ? 0.0 : 1.0, row.inverted ? 1.0 : 0.0};
    for (int i = 0; i < 2; ++i) {
      TestSetup s = Config();
      s.Set(row.word, words[i]);
      s.Set(row.name, 0.5);
      ASSERT_EQ(row.derive(*s), 1);
      EXPECT_EQ(s.Get(row.name), set_values[i]) << row.word << " = " << words[i];
      EXPECT_EQ(s.Min(row.name), 0.0);
      EXPECT_EQ(s.Max(row.name), 1.0);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// SCR

TEST(ConfigurationScr, SpeedEstimatorNeedsTheCode110) {
  const struct {
    double scr;
    double estimator;
    double commutation;
  } rows[] = {
      {0x2030, 1, 1}, {0x2038, 0, 1}, {0x0030, 1, 0}, {0x0010, 0, 0},
      {0x0020, 0, 0}, {0x0070, 1, 0}, {0x0008, 0, 0}, {0xFFFF, 0, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.scr);
    TestSetup s = Config();
    s.Set("SCR", row.scr);
    ASSERT_EQ(kestrel::DeriveIsSpeedEstimator(*s), 1);
    ASSERT_EQ(kestrel::DeriveCommutationMethod(*s), 1);
    EXPECT_EQ(s.Get("isSpeedEstimator"), row.estimator);
    EXPECT_EQ(s.Get("CommutationMethod"), row.commutation);
  }
}

TEST(ConfigurationScr, EncodeRebuildsItsBits) {
  const struct {
    const char* name;
    double scr;
    double commutation, motor_sensor, drive_sensor, estimator;
    double expected;
  } rows[] = {
      // 0x8FFF, then bits 3-5, 7 and 8 cleared
      {"all off from all ones", 0xFFFF, 0, 0, 0, 0, 0x8E47},
      {"all on from zero", 0, 1, 1, 1, 1, 0x21B0},
      {"estimator on clears bit 3", 0x0008, 0, 0, 0, 1, 0x0030},
      {"no estimator keeps bits 3-5", 0x0038, 0, 0, 0, kMissing, 0x0038},
      {"bits 12 and 14 cleared", 0x7000, 1, 0, 0, 0, 0x2000},
      {"bits above 15 dropped", 0x1FFFF, 0, 0, 0, kMissing, 0x8E7F},
      {"negative word kept to 16 bits", -1, 0, 1, 1, 1, 0x8FF7},
      {"half a switch is not set", 0, 0.5, 0.5, 0.5, 0.5, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = row.estimator == kMissing ? Config({"isSpeedEstimator"}) : Config();
    s.Set("SCR", row.scr);
    s.Set("CommutationMethod", row.commutation);
    s.Set("isMotorTemperatureSensor", row.motor_sensor);
    s.Set("isDriveTemperatureSensor", row.drive_sensor);
    if (row.estimator != kMissing) s.Set("isSpeedEstimator", row.estimator);
    ASSERT_EQ(kestrel::EncodeSCR(*s), 1);
    EXPECT_EQ(s.Get("SCR"), row.expected);
  }
}

TEST(ConfigurationScr, FlagsSurviveEncodeThenDerive) {
  const char* flags[] = {"CommutationMethod", "isMotorTemperatureSensor",
                         "isDriveTemperatureSensor", "isSpeedEstimator"};
  const Calculator derives[] = {
      kestrel::DeriveCommutationMethod, kestrel::DeriveIsMotorTemperatureSensor,
      kestrel::DeriveIsDriveTemperatureSensor, kestrel::DeriveIsSpeedEstimator};
  std::mt19937 rng(3);
  for (int combination = 0; combination < 16; ++combination) {
    for (int trial = 0; trial < 20; ++trial) {
      const uint32_t start = rng() & 0xFFFF;
      TestSetup s = Config();
      s.Set("SCR", start);
      for (int f = 0; f < 4; ++f) s.Set(flags[f], (combination >> f) & 1);
      ASSERT_EQ(kestrel::EncodeSCR(*s), 1);
      // Bits 0-2, 6, 9-11 and 15 belong to nobody here and survive.
      EXPECT_EQ(static_cast<uint32_t>(s.Get("SCR")) & 0x8E47u, start & 0x8E47u);
      for (int f = 0; f < 4; ++f) {
        s.Set(flags[f], 7);
        ASSERT_EQ(derives[f](*s), 1);
        EXPECT_EQ(s.Get(flags[f]), (combination >> f) & 1) << flags[f] << " from " << start;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// OSR and the start mode

TEST(ConfigurationOsr, StartModeDecoding) {
  const struct {
    const char* name;
    double osr;
    const char* halls_option;
    double acr;
    double expected;
  } rows[] = {
      {"bits 3 and 4", 0x18, nullptr, 0, 2},
      {"bit 4", 0x10, nullptr, 0, 2},
      {"bit 3", 0x08, nullptr, 0x8000, 1},
      {"bit 3 with Hall start", 0x08, "1", 0x8000, 3},
      {"bit 3, option but ACR bit 15 clear", 0x08, "1", 0x7FFF, 1},
      {"bit 3, option 0", 0x08, "0", 0x8000, 1},
      {"bit 3, option 2", 0x08, "2", 0x8000, 1},
      {"bits 3 and 4 with Hall start", 0x18, "1", 0x8000, 2},
      {"bit 2", 0x04, nullptr, 0, 0},
      {"nothing", 0, "1", 0x8000, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config();
    if (row.halls_option != nullptr) s.Option("PMSMStartwithHalls", row.halls_option);
    s.Set("OSR", row.osr);
    s.Set("ACR", row.acr);
    s.Set("StartMode", 9);
    ASSERT_EQ(kestrel::DeriveStartMode(*s), 1);
    EXPECT_EQ(s.Get("StartMode"), row.expected);
    EXPECT_EQ(s.Min("StartMode"), 0.0);
    EXPECT_EQ(s.Max("StartMode"), 3.0);
  }
  // With the option the ACR word is required.
  TestSetup s = Config({"ACR"});
  s.Option("PMSMStartwithHalls", "1");
  s.Set("OSR", 0x08);
  s.Set("StartMode", 9);
  EXPECT_EQ(kestrel::DeriveStartMode(*s), 0);
  EXPECT_EQ(s.Get("StartMode"), 9);
}

TEST(ConfigurationOsr, EncodeSetsStartBitsAndBrakeResistor) {
  const struct {
    const char* name;
    double osr;
    double resistor;
    double start_mode;
    double expected;
  } rows[] = {
      {"mode 0", 0xFFFF, 0, 0, 0xFDE7},
      {"mode 1", 0xFFFF, 0, 1, 0xFDEB},
      {"mode 2", 0xFFFF, 0, 2, 0xFDF7},
      {"mode 3 shares mode 1's bit", 0xFFFF, 0, 3, 0xFDEB},
      {"unknown mode 7", 0xFFFF, 0, 7, 0xFDE7},
      {"negative mode", 0xFFFF, 0, -1, 0xFDE7},
      {"resistor on, mode 1", 0, 1, 1, 0x0208},
      {"resistor on, mode 2", 0, 1, 2, 0x0214},
      {"mode 2.9 truncates", 0xFFFF, 1, 2.9, 0xFFF7},
      {"bits above 15 cleared", 0x10010, 0, 1, 0x0008},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config();
    s.Set("OSR", row.osr);
    s.Set("isBrakeResistor", row.resistor);
    s.Set("StartMode", row.start_mode);
    ASSERT_EQ(kestrel::EncodeOSR(*s), 1);
    EXPECT_EQ(s.Get("OSR"), row.expected);
  }
}

TEST(ConfigurationOsr, StartModeSurvivesEncodeThenDerive) {
  for (bool halls_option : {false, true}) {
    for (int mode = 0; mode <= 3; ++mode) {
      SCOPED_TRACE(std::to_string(mode) + (halls_option ? " with Hall start option" : ""));
      TestSetup s = Config();
      if (halls_option) s.Option("PMSMStartwithHalls", "1");
      s.Set("StartMode", mode);
      ASSERT_EQ(kestrel::EncodeOSR(*s), 1);
      ASSERT_EQ(kestrel::EncodeACR(*s), 1);
      s.Set("StartMode", 9);
      ASSERT_EQ(kestrel::DeriveStartMode(*s), 1);
      // Without the option a PMSM start with Hall sensors reads back as a BLDC start.
      const double expected = (mode == 3 && !halls_option) ? 1 : mode;
      EXPECT_EQ(s.Get("StartMode"), expected);
      EXPECT_EQ(static_cast<uint32_t>(s.Get("OSR")) & 0x1Cu,
                mode == 2 ? 0x14u : (mode == 0 ? 0x04u : 0x08u));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// ASR

TEST(ConfigurationAsr, EncodeTable) {
  const struct {
    const char* name;
    double asr;
    double polarity;  // kMissing: absent
    double swls;      // kMissing: absent
    const char* neg_option;
    double motor_tr, load_tr;
    double expected;
  } rows[] = {
      {"sink inputs, no limits", 0xFFFF, 1, 0, nullptr, 1, 1, 0xEF7B},
      {"source inputs, limits", 0, 0, 1, nullptr, 1, 1, 0x1004},
      {"polarity 2 counts as not 1", 0, 2, 0, nullptr, 1, 1, 0x0004},
      {"optional flags absent", 0xFFFF, kMissing, kMissing, nullptr, 1, 1, 0xFF7F},
      {"reversed transmission", 0, kMissing, kMissing, "1", -1, 1, 0x0080},
      {"forward transmission", 0x0080, kMissing, kMissing, "1", 1, 2, 0},
      {"reversed, option off", 0x0080, kMissing, kMissing, "0", -1, 1, 0},
      {"reversed load side", 0, kMissing, kMissing, "1", 3, -0.5, 0x0080},
      {"negative word kept to 16 bits", -1, kMissing, kMissing, nullptr, 1, 1, 0xFF7F},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<const char*> skip;
    if (row.polarity == kMissing) skip.push_back("InputsPolarityType");
    if (row.swls == kMissing) skip.push_back("isSWLS");
    TestSetup s = Config(skip);
    if (row.neg_option != nullptr) s.Option("hasNegTransmission", row.neg_option);
    s.Set("ASR", row.asr);
    if (row.polarity != kMissing) s.Set("InputsPolarityType", row.polarity);
    if (row.swls != kMissing) s.Set("isSWLS", row.swls);
    s.Set("Motor_transmission", row.motor_tr);
    s.Set("Load_transmission", row.load_tr);
    ASSERT_EQ(kestrel::EncodeASR(*s), 1);
    EXPECT_EQ(s.Get("ASR"), row.expected);
  }
  // With the reversed-transmission option both transmissions are required.
  TestSetup s = Config({"Load_transmission"});
  s.Option("hasNegTransmission", "1");
  s.Set("ASR", 0x1234);
  EXPECT_EQ(kestrel::EncodeASR(*s), 0);
  EXPECT_EQ(s.Get("ASR"), 0x1234);
}

// ---------------------------------------------------------------------------------------------
// ACR

TEST(ConfigurationAcr, ControlModeAndReferenceDecoding) {
  const struct {
    double acr;
    double control_mode;
    double external;
  } rows[] = {
      {0x0400, 0, 0}, {0x0600, 0, 0}, {0x0700, 0, 0}, {0x0200, 1, 0}, {0x0100, 2, 0},
      {0, 2, 0},      {0x0040, 2, 1}, {0x0080, 2, 1}, {0x03C0, 1, 1}, {0x003F, 2, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.acr);
    TestSetup s = Config();
    s.Set("ACR", row.acr);
    ASSERT_EQ(kestrel::DeriveControlMode(*s), 1);
    ASSERT_EQ(kestrel::DeriveExternalReference(*s), 1);
    EXPECT_EQ(s.Get("ControlMode"), row.control_mode);
    EXPECT_EQ(s.Max("ControlMode"), 2.0);
    EXPECT_EQ(s.Get("ExternalReference"), row.external);
  }
}

TEST(ConfigurationAcr, AnalogueReferenceNeedsTheAnalogueInput) {
  for (bool has_input : {false, true}) {
    SCOPED_TRACE(has_input ? "with CADIN" : "without CADIN");
    TestSetup s = Config();
    if (has_input) {
      s.Variable("CADIN");
      s.Registers({{"CADIN", 0}});
    }
    s.Set("ACR", 0x0040);
    ASSERT_EQ(kestrel::DeriveIsAnalogueReference(*s), 1);
    EXPECT_EQ(s.Get("isAnalogueReference"), 1.0);
    EXPECT_EQ(s.Max("isAnalogueReference"), has_input ? 1.0 : 0.0);
  }
}

TEST(ConfigurationAcr, EncodeTable) {
  struct Row {
    const char* name;
    double acr;
    std::vector<std::pair<const char*, double>> values;
    std::vector<const char*> skip = {};
    const char* halls_option = nullptr;
    double expected = 0;
  };
  // Defaults of the setup: torque mode (2), every flag 0, SpeedForward 0, freeze control present
  // and off, no Hall start option.
  const Row rows[] = {
      // 0xFFFF: bit 1 off, bits 6-7 off, bits 8-10 = 001, bit 14 off, bit 4 off
      {"torque, everything off", 0xFFFF, {}, {}, nullptr, 0xB92D},
      {"position, no cascade, clears bit 9",
       0x0200,
       {{"ControlMode", 0}, {"PositionControlType", 0}},
       {},
       nullptr,
       0x0500},
      {"position cascade",
       0,
       {{"ControlMode", 0}, {"PositionControlType", 1}},
       {},
       nullptr,
       0x0700},
      {"speed", 0x0400, {{"ControlMode", 1}}, {}, nullptr, 0x0300},
      {"speed, mode 1.9", 0, {{"ControlMode", 1.9}}, {}, nullptr, 0x0300},
      {"torque from cascade", 0x0700, {}, {}, nullptr, 0x0100},
      {"digital reference type 0",
       0,
       {{"ExternalReference", 1}, {"DigitalReferenceType", 0}},
       {},
       nullptr,
       0x0184},
      {"digital reference type 1",
       0x0004,
       {{"ExternalReference", 1}, {"DigitalReferenceType", 1}},
       {},
       nullptr,
       0x0180},
      {"analogue reference keeps bit 2",
       0x0084,
       {{"ExternalReference", 1}, {"isAnalogueReference", 1}},
       {},
       nullptr,
       0x0144},
      {"no external reference", 0x00C4, {}, {}, nullptr, 0x0104},
      {"auto-activation", 0, {{"IsAutoActivatedAfterPowerOn", 1}}, {}, nullptr, 0x0102},
      {"speed feed-forward", 0, {{"SpeedForward", 1}}, {}, nullptr, 0x4100},
      {"speed feed-forward off", 0x4000, {}, {}, nullptr, 0x0100},
      {"speed feed-forward absent", 0x4000, {}, {"SpeedForward"}, nullptr, 0x0100},
      {"freeze control", 0, {{"isFreezeControl", 1}}, {}, nullptr, 0x0110},
      {"no freeze control keeps bit 4", 0x0010, {}, {"POSOKLIM_FC"}, nullptr, 0x0110},
      {"Hall start", 0, {{"StartMode", 3}}, {}, "1", 0x8100},
      {"no Hall start", 0x8000, {{"StartMode", 1}}, {}, "1", 0x0100},
      {"bit 15 kept without the option", 0x8000, {{"StartMode", 3}}, {}, nullptr, 0x8100},
      // Read as 0xFFFF: a set bit 1 must not bring back bits above 15.
      {"negative word", -1, {{"IsAutoActivatedAfterPowerOn", 1}}, {}, nullptr, 0xB92F},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config(row.skip);
    if (row.halls_option != nullptr) s.Option("PMSMStartwithHalls", row.halls_option);
    s.Set("ACR", row.acr);
    for (const auto& [name, value] : row.values) s.Set(name, value);
    ASSERT_EQ(kestrel::EncodeACR(*s), 1);
    EXPECT_EQ(s.Get("ACR"), row.expected);
  }
}

TEST(ConfigurationAcr, RefusedEncodingsWriteNothing) {
  const struct {
    const char* name;
    double control_mode;
    std::vector<const char*> skip;
    const char* halls_option;
  } rows[] = {
      {"control mode 3", 3, {}, nullptr},
      {"control mode -1", -1, {}, nullptr},
      {"control mode NaN", std::nan(""), {}, nullptr},
      {"freeze control without its switch", 2, {"isFreezeControl"}, nullptr},
      {"Hall start option without StartMode", 2, {"StartMode"}, "1"},
      {"no PositionControlType", 2, {"PositionControlType"}, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config(row.skip);
    if (row.halls_option != nullptr) s.Option("PMSMStartwithHalls", row.halls_option);
    s.Set("ACR", 0x0A0A);
    s.Set("ControlMode", row.control_mode);
    EXPECT_EQ(kestrel::EncodeACR(*s), 0);
    EXPECT_EQ(s.Get("ACR"), 0x0A0A);
  }
}

// ---------------------------------------------------------------------------------------------
// UPGRADE and the alignment time

TEST(ConfigurationUpgrade, EncodeTable) {
  const struct {
    const char* name;
    double upgrade;
    double limit;
    double fast_loop;  // kMissing: absent
    double expected;
  } rows[] = {
      {"all ones, no fast-loop flag", 0xFFFF, 0, kMissing, 0x7FFB},
      {"all ones, fast loop off", 0xFFFF, 0, 0, 0x7FBB},
      {"both on", 0, 1, 1, 0x0044},
      {"time unit bit kept", 0x0200, 0, kMissing, 0x0200},
      {"bits 15 and 16 cleared", 0x18000, 1, kMissing, 0x0004},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = row.fast_loop == kMissing ? Config({"PosSpd_in_FastLoop"}) : Config();
    s.Set("UPGRADE", row.upgrade);
    s.Set("isLimitMaximum", row.limit);
    if (row.fast_loop != kMissing) s.Set("PosSpd_in_FastLoop", row.fast_loop);
    ASSERT_EQ(kestrel::EncodeUPGRADE(*s), 1);
    EXPECT_EQ(s.Get("UPGRADE"), row.expected);
  }
}

TEST(ConfigurationAlignment, TimeUnitFollowsUpgradeBit9) {
  const struct {
    const char* name;
    double upgrade;
    double t1ona;
    double time_s;
    double max_s;
  } rows[] = {
      {"10 ms steps", 0x0200, 150, 1.5, 655.35},
      {"1/65535 s steps", 0, 13107, 0.2, 1.0},
      {"other UPGRADE bits do not matter", 0xFDFF, 65535, 1.0, 1.0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config();
    s.Set("UPGRADE", row.upgrade);
    s.Set("T1ONA", row.t1ona);
    s.Set("T1ONB", 999);  // not read
    ASSERT_EQ(kestrel::Derivetime_AB(*s), 1);
    EXPECT_NEAR(s.Get("time_AB"), row.time_s, 1e-12);
    EXPECT_EQ(s.Min("time_AB"), 0.01);
    EXPECT_EQ(s.Max("time_AB"), row.max_s);

    s.Set("T1ONA", 0);
    ASSERT_EQ(kestrel::EncodeT1ONA(*s), 1);
    ASSERT_EQ(kestrel::EncodeT1ONB(*s), 1);
    EXPECT_EQ(s.Get("T1ONA"), row.t1ona);
    EXPECT_EQ(s.Get("T1ONB"), row.t1ona);
  }
}

TEST(ConfigurationAlignment, RandomTimesComeBackWithinOneStep) {
  std::mt19937 rng(11);
  for (double upgrade : {0.0, 512.0}) {
    const double step_s = upgrade != 0 ? 0.01 : 1.0 / 65535;
    std::uniform_real_distribution<double> dist(0.01, upgrade != 0 ? 655.35 : 1.0);
    TestSetup s = Config();
    s.Set("UPGRADE", upgrade);
    for (int i = 0; i < 500; ++i) {
      const double time_s = dist(rng);
      s.Set("time_AB", time_s);
      ASSERT_EQ(kestrel::EncodeT1ONA(*s), 1);
      s.Set("time_AB", 0);
      ASSERT_EQ(kestrel::Derivetime_AB(*s), 1);
      ASSERT_NEAR(s.Get("time_AB"), time_s, step_s * (0.5 + 1e-9));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// DIGIN_ACTIVE_LEVEL and LSS_Active

TEST(ConfigurationInputs, ActiveLevelEncodeTable) {
  const struct {
    const char* name;
    double word;
    double enable, lsn, lsp;
    double expected;
  } rows[] = {
      {"all off from all ones", 0xFFFF, 0, 0, 0, 0x1FFF},
      {"all on from zero", 0, 1, 1, 1, 0xE000},
      {"mixed", 0x1234, 1, 0, 1, 0xB234},
      {"limit switch only", 0xC000, 0, 1, 0, 0x4000},
      {"negative word kept to 16 bits", -1, 1, 1, 1, 0xFFFF},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config();
    s.Set("DIGIN_ACTIVE_LEVEL", row.word);
    s.Set("EnablePolarity", row.enable);
    s.Set("LSNPolarity", row.lsn);
    s.Set("LSPPolarity", row.lsp);
    ASSERT_EQ(kestrel::EncodeDIGIN_ACTIVE_LEVEL(*s), 1);
    EXPECT_EQ(s.Get("DIGIN_ACTIVE_LEVEL"), row.expected);
  }
}

TEST(ConfigurationInputs, LssWordIsRebuiltFromScratch) {
  const struct {
    double save_axis_id, save_baudrate;
    double expected;
  } rows[] = {{1, 1, 0}, {0, 1, 1}, {1, 0, 2}, {0, 0, 3}, {2, 0.5, 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.expected);
    TestSetup s = Config();
    s.Set("LSS_Active", 0xFF00);  // unrelated bits are lost
    s.Set("save_axis_id", row.save_axis_id);
    s.Set("save_CAN_baudrate", row.save_baudrate);
    ASSERT_EQ(kestrel::EncodeLSS_Active(*s), 1);
    EXPECT_EQ(s.Get("LSS_Active"), row.expected);
  }
}

TEST(ConfigurationInputs, PolarityAndLssFlagsSurviveEncodeThenDerive) {
  for (int combination = 0; combination < 8; ++combination) {
    SCOPED_TRACE(combination);
    TestSetup s = Config();
    s.Set("DIGIN_ACTIVE_LEVEL", 0x0F0F);
    s.Set("EnablePolarity", combination & 1);
    s.Set("LSNPolarity", (combination >> 1) & 1);
    s.Set("LSPPolarity", (combination >> 2) & 1);
    s.Set("save_axis_id", combination & 1);
    s.Set("save_CAN_baudrate", (combination >> 1) & 1);
    ASSERT_EQ(kestrel::EncodeDIGIN_ACTIVE_LEVEL(*s), 1);
    ASSERT_EQ(kestrel::EncodeLSS_Active(*s), 1);
    for (const char* flag :
         {"EnablePolarity", "LSNPolarity", "LSPPolarity", "save_axis_id", "save_CAN_baudrate"}) {
      s.Set(flag, 5);
    }
    for (Calculator derive :
         {kestrel::DeriveEnablePolarity, kestrel::DeriveLSNPolarity, kestrel::DeriveLSPPolarity,
          kestrel::Derivesave_axis_id, kestrel::Derivesave_CAN_baudrate}) {
      ASSERT_EQ(derive(*s), 1);
    }
    EXPECT_EQ(s.Get("EnablePolarity"), combination & 1);
    EXPECT_EQ(s.Get("LSNPolarity"), (combination >> 1) & 1);
    EXPECT_EQ(s.Get("LSPPolarity"), (combination >> 2) & 1);
    EXPECT_EQ(s.Get("save_axis_id"), combination & 1);
    EXPECT_EQ(s.Get("save_CAN_baudrate"), (combination >> 1) & 1);
    EXPECT_EQ(static_cast<uint32_t>(s.Get("DIGIN_ACTIVE_LEVEL")) & 0x1FFFu, 0x0F0Fu);
  }
}

// ---------------------------------------------------------------------------------------------
// Motor brake (brake table of the setup: port 1 -> pin 5, port 2 -> pin 7, port 3 -> pin 300)

TEST(ConfigurationBrake, DecodeWordToSwitchAndPort) {
  const struct {
    const char* name;
    double brakecfg;
    double brake;
    int output_result;
    double output;
  } rows[] = {
      {"pin 5, on", 0x0501, 1, 1, 1},
      {"pin 7, off", 0x0700, 0, 1, 2},
      {"unknown pin 9 keeps the port", 0x0901, 1, 0, 77},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config();
    s.Set("BRAKECFG", row.brakecfg);
    s.Set("MotorBrake_output", 77);
    ASSERT_EQ(kestrel::DeriveIsMotorBrake(*s), 1);
    EXPECT_EQ(kestrel::DeriveMotorBrake_output(*s), row.output_result);
    EXPECT_EQ(s.Get("isMotorBrake"), row.brake);
    EXPECT_EQ(s.Max("isMotorBrake"), 1.0);
    EXPECT_EQ(s.Get("MotorBrake_output"), row.output);
    EXPECT_EQ(s.Max("MotorBrake_output"), 1e300);  // no range
  }
}

TEST(ConfigurationBrake, EncodePortAndSwitch) {
  const struct {
    const char* name;
    double output;
    double brake;
    int result;
    double expected;
  } rows[] = {
      {"port 2, on", 2, 1, 1, 0x0701},
      {"port 2, off", 2, 0, 1, 0x0700},
      {"switch compared with 0", 1, 0.5, 1, 0x0501},
      {"port 2.7 truncates", 2.7, 1, 1, 0x0701},
      {"unknown port", 9, 1, 0, 0x1234},
      {"port -1", -1, 1, 0, 0x1234},
      {"pin beyond bits 8-15", 3, 1, 0, 0x1234},
      {"port NaN", std::nan(""), 1, 0, 0x1234},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config();
    s.Set("BRAKECFG", 0x1234);
    s.Set("MotorBrake_output", row.output);
    s.Set("isMotorBrake", row.brake);
    EXPECT_EQ(kestrel::EncodeBRAKECFG(*s), row.result);
    EXPECT_EQ(s.Get("BRAKECFG"), row.expected);
  }
}

TEST(ConfigurationBrake, DelaysCountSlowLoopPeriods) {
  TestSetup s = Config();
  s.Set("MotorBrake_releasetime", 0.05);
  s.Set("MotorBrake_applytime", 0.02);
  ASSERT_EQ(kestrel::EncodeBRAKERELEASEDELAY(*s), 1);
  ASSERT_EQ(kestrel::EncodeBRAKEAPPLYDELAY(*s), 1);
  EXPECT_EQ(s.Get("BRAKERELEASEDELAY"), 50);
  EXPECT_EQ(s.Get("BRAKEAPPLYDELAY"), 20);
  s.Set("Ts_S", 0.002);
  ASSERT_EQ(kestrel::DeriveMotorBrake_releasetime(*s), 1);
  ASSERT_EQ(kestrel::DeriveMotorBrake_applytime(*s), 1);
  EXPECT_NEAR(s.Get("MotorBrake_releasetime"), 0.1, 1e-15);
  EXPECT_NEAR(s.Get("MotorBrake_applytime"), 0.04, 1e-15);
}

// ---------------------------------------------------------------------------------------------
// Encoder input filter

TEST(ConfigurationEncoderFilter, EveryChoiceWritesItsFields) {
  const struct {
    double choice;
    uint32_t period;   // QUAL_ACT bits 16-23
    uint32_t samples;  // QUAL_AQ2 under 0xCF00
  } rows[] = {
      {0, 0x00, 0x4500},
      {1, 0x00, 0x8A00},
      {2, 0x01, 0x8A00},
      {3, 0x03, 0x4500},
      {4, 0x02, 0x8A00},
      {5, 0x05, 0x4500},
      {6, 0x03, 0x8A00},
      {7, 0x07, 0x4500},
      {8, 0x04, 0x8A00},
      {9, 0x09, 0x4500},
      {10, 0x05, 0x8A00},
      {11, 0x0B, 0x4500},
      {12, 0x06, 0x8A00},
      {13, 0x00, 0x0000},
      {-1, 0x00, 0x0000},
      {1e10, 0x00, 0x0000},
      {std::nan(""), 0x00, 0x0000},
      {12.5, 0x06, 0x8A00},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.choice);
    TestSetup s = Config();
    s.Set("isFilterEnc", 1);
    s.Set("FilterEncValue", row.choice);
    s.Set("QUAL_ACT", 0x12FF3456);
    s.Set("QUAL_AQ2", 0xFFFF);
    ASSERT_EQ(kestrel::EncodeEncoderInputFilter(*s), 1);
    EXPECT_EQ(s.Get("QUAL"), 1);
    EXPECT_EQ(s.Get("QUAL_ACT"), 0x12003456u | (row.period << 16));
    EXPECT_EQ(s.Get("QUAL_AQ2"), 0x30FFu | row.samples);
  }
}

TEST(ConfigurationEncoderFilter, TopBitIsUnsignedAndOffLeavesTheWordsAlone) {
  TestSetup s = Config();
  s.Set("isFilterEnc", 1);
  s.Set("FilterEncValue", 12);
  s.Set("QUAL_ACT", 0x80FF0001);
  ASSERT_EQ(kestrel::EncodeEncoderInputFilter(*s), 1);
  EXPECT_EQ(s.Get("QUAL_ACT"), 2147876865.0);  // 0x80060001, unsigned

  TestSetup off = Config();
  off.Set("QUAL", 1);
  off.Set("isFilterEnc", 0);
  off.Set("QUAL_ACT", 0x12FF3456);
  off.Set("QUAL_AQ2", 0xFFFF);
  ASSERT_EQ(kestrel::EncodeEncoderInputFilter(*off), 1);
  EXPECT_EQ(off.Get("QUAL"), 0);
  EXPECT_EQ(off.Get("QUAL_ACT"), 0x12FF3456);
  EXPECT_EQ(off.Get("QUAL_AQ2"), 0xFFFF);

  for (const double qual : {1.0, 0.0, 2.0}) {
    off.Set("QUAL", qual);
    ASSERT_EQ(kestrel::DeriveIsFilterEnc(*off), 1);
    EXPECT_EQ(off.Get("isFilterEnc"), qual == 1.0 ? 1 : 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Coded registers

TEST(ConfigurationCodedRegisters, EncodeAndDecodeTables) {
  struct Row {
    const char* name;
    Calculator calc;
    const char* in;
    double in_value;
    const char* out;
    double expected;
  };
  const Row rows[] = {
      {"sensor type 1", kestrel::EncodeMTSTYPE, "Motor_TempSensor_Type", 1, "MTSTYPE", 1},
      {"sensor type 1.9", kestrel::EncodeMTSTYPE, "Motor_TempSensor_Type", 1.9, "MTSTYPE", 1},
      {"sensor type 0.7", kestrel::EncodeMTSTYPE, "Motor_TempSensor_Type", 0.7, "MTSTYPE", 0},
      {"sensor type 2", kestrel::EncodeMTSTYPE, "Motor_TempSensor_Type", 2, "MTSTYPE", 0},
      {"sensor register 1", kestrel::DeriveMotor_TempSensor_Type, "MTSTYPE", 1,
       "Motor_TempSensor_Type", 1},
      {"axis 0", kestrel::EncodeAAR_table, "Axis_ID_list", 0, "AAR_table", 0},
      {"axis 5", kestrel::EncodeAAR_table, "Axis_ID_list", 5, "AAR_table", 261},
      {"axis 0.5 counts as none", kestrel::EncodeAAR_table, "Axis_ID_list", 0.5, "AAR_table", 0},
      {"axis register 261", kestrel::DeriveAxis_ID_list, "AAR_table", 261, "Axis_ID_list", 5},
      {"axis register 0", kestrel::DeriveAxis_ID_list, "AAR_table", 0, "Axis_ID_list", 0},
      {"reverse counting", kestrel::EncodeCOUNTINGDIR, "ReverseCounting", 1, "COUNTINGDIR", 1},
      {"reverse counting 1.5", kestrel::EncodeCOUNTINGDIR, "ReverseCounting", 1.5, "COUNTINGDIR",
       1},
      {"forward counting", kestrel::EncodeCOUNTINGDIR, "ReverseCounting", 0, "COUNTINGDIR", 0},
      {"counting register 1", kestrel::DeriveReverseCounting, "COUNTINGDIR", 1, "ReverseCounting",
       1},
      {"counting register 2", kestrel::DeriveReverseCounting, "COUNTINGDIR", 2, "ReverseCounting",
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config();
    s.Set(row.in, row.in_value);
    s.Set(row.out, 77);
    ASSERT_EQ(row.calc(*s), 1);
    EXPECT_EQ(s.Get(row.out), row.expected);
  }
  TestSetup s = Config();
  ASSERT_EQ(kestrel::DeriveAxis_ID_list(*s), 1);
  EXPECT_EQ(s.Max("Axis_ID_list"), 511.0);
  ASSERT_EQ(kestrel::DeriveMotor_TempSensor_Type(*s), 1);
  EXPECT_EQ(s.Max("Motor_TempSensor_Type"), 1.0);
}

// ---------------------------------------------------------------------------------------------
// Start-up voltage references

TEST(ConfigurationStartup, ReferenceFromStartCurrent) {
  const struct {
    const char* name;
    double connection;
    double pwm_freq;
    double dbt;
    double expected;
  } rows[] = {
      // 1000 x (50 % x 2 A x 3 Ohm) + 1000 x 32.767 V x 20 kHz x 0.25 us = 3000 + 163.835
      {"star", 0, 20000, 0x0A14, 3164},
      // R / 3: 1000 + 163.835
      {"delta", 1, 20000, 0x0A14, 1164},
      // the PWM frequency parameter, not the registers: 3000 + 81.9175
      {"PWM_freq parameter", 0, 10000, 0x0A14, 3082},
      // DBT 0: the dead band counts as 1 us; 3000 + 1000 x 32.767 x 20000 x 1e-6 = 3655.34
      {"no dead-band counts", 0, 20000, 0, 3655},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config();
    s.Set("StartCurrent", 50);
    s.Set("MotorPhaseConnectionType", row.connection);
    s.Set("PWM_freq", row.pwm_freq);
    s.Set("DBT", row.dbt);
    ASSERT_EQ(kestrel::EncodeREFTST(*s), 1);
    ASSERT_EQ(kestrel::EncodeRINCTST(*s), 1);
    EXPECT_EQ(s.Get("REFTST"), row.expected);
    EXPECT_EQ(s.Get("RINCTST"), row.expected);
  }
}

TEST(ConfigurationStartup, StartCurrentFromReference) {
  TestSetup s = Config();
  s.Set("REFTST", 3164);
  s.Set("PWM_freq", 5000);  // not read: the frequency comes from the registers
  ASSERT_EQ(kestrel::DeriveStartCurrent(*s), 1);
  // (3164 - 163.835) x 100 / (1000 x 2 x 3)
  EXPECT_NEAR(s.Get("StartCurrent"), 50.00275, 1e-9);
  EXPECT_EQ(s.Min("StartCurrent"), 0.0);
  EXPECT_EQ(s.Max("StartCurrent"), 300.0);
}

TEST(ConfigurationStartup, RandomStartCurrentsComeBackWithinOneStep) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> dist(0, 300);
  for (double commutation : {0.0, 1.0}) {
    for (double connection : {0.0, 1.0}) {
      SCOPED_TRACE(std::to_string(commutation) + " / " + std::to_string(connection));
      TestSetup s = Config();
      s.Set("CommutationMethod", commutation);
      s.Set("MotorPhaseConnectionType", connection);
      // One REFTST count in percent: 100 / (VoltageScale x In x R').
      const double volts_per_count = commutation == 0 ? 32.767 / 32767 : 1.1 * 32.767 / 65534;
      const double step = 100 * volts_per_count / (2 * (connection == 1 ? 1.0 : 3.0));
      for (int i = 0; i < 300; ++i) {
        const double percent = dist(rng);
        s.Set("StartCurrent", percent);
        ASSERT_EQ(kestrel::EncodeREFTST(*s), 1);
        s.Set("StartCurrent", -1);
        ASSERT_EQ(kestrel::DeriveStartCurrent(*s), 1);
        ASSERT_NEAR(s.Get("StartCurrent"), percent, step * (0.5 + 1e-9));
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Capability options and the speed feed-forward rule

TEST(ConfigurationOptions, CapabilitiesFollowTheControlStructure) {
  const struct {
    const char* name;
    double control_mode;
    double position_control_type;
    int result;
    const char* position;  // null: the triple is not written
    const char* speed;
  } rows[] = {
      {"position only", 0, 0, 1, "1", "0"},
      {"position cascade", 0, 1, 1, "1", "1"},
      {"speed", 1, 5, 1, "0", "1"},
      {"speed, mode 1.9", 1.9, 0, 1, "0", "1"},
      {"torque", 2, 7, 1, "0", "0"},
      {"mode 3", 3, 0, 0, nullptr, nullptr},
      {"mode -1", -1, 0, 0, nullptr, nullptr},
      {"mode NaN", std::nan(""), 0, 0, nullptr, nullptr},
      {"position, type 2", 0, 2, 0, nullptr, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config();
    s.Set("ControlMode", row.control_mode);
    s.Set("PositionControlType", row.position_control_type);
    EXPECT_EQ(kestrel::SetCapabilityOptions(*s), row.result);
    EXPECT_EQ(s->GetOptionNoError("IsStepMotor"), "0");
    EXPECT_EQ(s->GetOptionNoError("IsStepperOpenLoop"), "0");
    EXPECT_EQ(s->GetOptionNoError("isPositionFeedbackOnLoad"), "0");
    EXPECT_EQ(s->GetOptionNoError("isPositionFeedbackOnMotor"), "1");
    EXPECT_EQ(s->GetOptionNoError("isSpeedFeedback"), "0");
    EXPECT_EQ(s->GetOptionNoError("isIndex"), "1");
    if (row.position == nullptr) {
      EXPECT_FALSE(s->HasOption("IsClosedPosition"));
      EXPECT_FALSE(s->HasOption("IsClosedSpeed"));
      EXPECT_FALSE(s->HasOption("IsClosedCurrent"));
    } else {
      EXPECT_EQ(s->GetOptionNoError("IsClosedPosition"), row.position);
      EXPECT_EQ(s->GetOptionNoError("IsClosedSpeed"), row.speed);
      EXPECT_EQ(s->GetOptionNoError("IsClosedCurrent"), "1");
    }
  }
  // Outside position mode the position control type is not needed.
  TestSetup s = Config({"PositionControlType"});
  s.Set("ControlMode", 1);
  EXPECT_EQ(kestrel::SetCapabilityOptions(*s), 1);
  EXPECT_EQ(s->GetOptionNoError("IsClosedSpeed"), "1");
}

TEST(ConfigurationOptions, SpeedFeedForwardGoesToTheCurrentLoopUnlessCascaded) {
  const struct {
    const char* name;
    double control_mode, position_control_type;
    std::vector<const char*> skip;
    int result;
    double speed_forward;
    double acr;
  } rows[] = {
      {"cascade keeps its choice", 0, 1, {}, 1, 0, 0x0100},
      {"position only", 0, 0, {}, 1, 1, 0x4100},
      {"speed", 1, 1, {}, 1, 1, 0x4100},
      {"torque", 2, 0, {}, 1, 1, 0x4100},
      {"no SpeedForward", 1, 0, {"SpeedForward"}, 0, 0, 0x0100},
      {"no ACR", 1, 0, {"ACR"}, 0, 0, 0},
      {"no PositionControlType", 1, 0, {"PositionControlType"}, 0, 0, 0x0100},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Config(row.skip);
    s.Set("ControlMode", row.control_mode);
    if (s->FindParameter("PositionControlType") != nullptr) {
      s.Set("PositionControlType", row.position_control_type);
    }
    if (s->FindParameter("ACR") != nullptr) s.Set("ACR", 0x0100);
    std::vector<std::string> reports;
    axis::SetErrorReporter([&](const std::string& m) { reports.push_back(m); });
    EXPECT_EQ(kestrel::ApplySpeedFeedForwardRule(*s), row.result);
    EXPECT_TRUE(reports.empty());
    axis::SetErrorReporter(nullptr);
    if (s->FindParameter("SpeedForward") != nullptr) {
      EXPECT_EQ(s.Get("SpeedForward"), row.speed_forward);
    }
    if (s->FindParameter("ACR") != nullptr) {
      EXPECT_EQ(s.Get("ACR"), row.acr);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Existence probes

TEST(ConfigurationProbes, TrueOnlyWhenEveryNameExistsAndNeverReport) {
  const struct {
    const char* name;
    bool (*probe)(CMC_Setup&);
    std::vector<const char*> names;
  } rows[] = {
      {"angle controller", kestrel::HasAngleController, {"KPTHT"}},
      {"start position", kestrel::HasStartPosition, {"START_POS"}},
      {"acquisitions", kestrel::HasAcquisitionsNo, {"AquisitionsNo"}},
      {"sampling rate", kestrel::HasSamplingRate, {"SamplingRate"}},
      {"software limits", kestrel::HasSoftwareLimits, {"isSWLS"}},
      {"speed estimator", kestrel::HasSpeedEstimator, {"isSpeedEstimator"}},
      {"LSS", kestrel::HasLssActive, {"save_CAN_baudrate", "save_axis_id"}},
      {"motor brake", kestrel::HasMotorBrake, {"BRAKECFG", "isMotorBrake"}},
      {"freeze control", kestrel::HasFreezeControl, {"POSOKLIM_FC", "TONPOSOK_FC"}},
      {"inputs polarity", kestrel::HasInputsPolarityType, {"InputsPolarityType"}},
      {"transmission sign", kestrel::HasTransmissionSign, {"TRANSMISSION"}},
      {"biquad filters", kestrel::HasBiquadFilters, {"IQREF_BQ_INI"}},
      {"speed test reference", kestrel::HasSpeedTestReferenceType, {"SpeedTestReferenceType"}},
      {"start-up minimum move", kestrel::HasStartupMinimumMove, {"ABSTART_MINMOVE"}},
      {"speed feed-forward", kestrel::HasSpeedForward, {"SpeedForward"}},
      {"reverse counting", kestrel::HasReverseCounting, {"ReverseCounting"}},
      {"encoder filter", kestrel::HasEncoderInputFilter, {"isFilterEnc", "FilterEncValue"}},
  };
  std::vector<std::string> reports;
  axis::SetErrorReporter([&](const std::string& m) { reports.push_back(m); });
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup all;
    for (const char* name : row.names) all.Physical({{name, 0}});
    g_bShowErrors = 1;
    EXPECT_TRUE(row.probe(*all));
    for (const char* missing : row.names) {
      TestSetup s;
      for (const char* name : row.names) {
        if (std::strcmp(name, missing) != 0) s.Physical({{name, 0}});
      }
      EXPECT_FALSE(row.probe(*s)) << "without " << missing;
      EXPECT_EQ(g_bShowErrors, 1);
      g_bShowErrors = 0;
      EXPECT_FALSE(row.probe(*s));
      EXPECT_EQ(g_bShowErrors, 0);
      g_bShowErrors = 1;
    }
  }
  EXPECT_TRUE(reports.empty());
  axis::SetErrorReporter(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Contract: a missing name changes nothing

TEST(ConfigurationContract, MissingNameChangesNothing) {
  const struct {
    Calculator calc;
    const char* target;
    std::vector<const char*> names;
  } rows[] = {
      {kestrel::EncodeSCR,
       "SCR",
       {"CommutationMethod", "isMotorTemperatureSensor", "isDriveTemperatureSensor"}},
      {kestrel::EncodeOSR, "OSR", {"isBrakeResistor", "StartMode"}},
      {kestrel::EncodeACR,
       "ACR",
       {"IsAutoActivatedAfterPowerOn", "isAnalogueReference", "DigitalReferenceType", "ControlMode",
        "ExternalReference"}},
      {kestrel::EncodeUPGRADE, "UPGRADE", {"isLimitMaximum"}},
      {kestrel::EncodeT1ONA, "T1ONA", {"time_AB", "UPGRADE"}},
      {kestrel::EncodeDIGIN_ACTIVE_LEVEL,
       "DIGIN_ACTIVE_LEVEL",
       {"EnablePolarity", "LSNPolarity", "LSPPolarity"}},
      {kestrel::EncodeLSS_Active, "LSS_Active", {"save_CAN_baudrate", "save_axis_id"}},
      {kestrel::EncodeBRAKECFG, "BRAKECFG", {"isMotorBrake", "MotorBrake_output"}},
      {kestrel::EncodeBRAKEAPPLYDELAY, "BRAKEAPPLYDELAY", {"MotorBrake_applytime", "Ts_S"}},
      {kestrel::EncodeEncoderInputFilter,
       "QUAL",
       {"isFilterEnc", "FilterEncValue", "QUAL_ACT", "QUAL_AQ2"}},
      {kestrel::EncodeMTSTYPE, "MTSTYPE", {"Motor_TempSensor_Type"}},
      {kestrel::EncodeAAR_table, "AAR_table", {"Axis_ID_list"}},
      {kestrel::EncodeCOUNTINGDIR, "COUNTINGDIR", {"ReverseCounting"}},
      {kestrel::EncodeREFTST,
       "REFTST",
       {"R", "In", "StartCurrent", "PWM_freq", "Vdc", "MotorPhaseConnectionType",
        "CommutationMethod", "DSP_freq"}},
      {kestrel::DeriveStartCurrent,
       "StartCurrent",
       {"REFTST", "R", "In", "DSP_freq", "PWMPER", "Vdc", "MotorPhaseConnectionType",
        "CommutationMethod"}},
      {kestrel::DeriveStartMode, "StartMode", {"OSR"}},
      {kestrel::DeriveControlMode, "ControlMode", {"ACR"}},
      {kestrel::Derivetime_AB, "time_AB", {"UPGRADE", "T1ONA"}},
      {kestrel::DeriveMotorBrake_releasetime,
       "MotorBrake_releasetime",
       {"Ts_S", "BRAKERELEASEDELAY"}},
      {kestrel::DeriveAxis_ID_list, "Axis_ID_list", {"AAR_table"}},
      {kestrel::DeriveIsSpeedEstimator, "isSpeedEstimator", {"SCR"}},
  };
  for (const auto& row : rows) {
    for (const char* missing : row.names) {
      SCOPED_TRACE(std::string(row.target) + " without " + missing);
      TestSetup s = Config({missing});
      for (const char* name : {"isFilterEnc", "StartCurrent", "MotorBrake_output", "ControlMode"}) {
        if (std::strcmp(name, missing) != 0 && std::strcmp(name, row.target) != 0) s.Set(name, 1);
      }
      s.Set(row.target, 99);
      EXPECT_EQ(row.calc(*s), 0);
      EXPECT_EQ(s.Get(row.target), 99);
      EXPECT_EQ(s.Max(row.target), 1e300);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Hostile setups

TEST(ConfigurationRobustness, DegenerateSetupsRunWithoutCrashing) {
  const Calculator all[] = {
      kestrel::DeriveIsSpeedEstimator,
      kestrel::DeriveIsMotorTemperatureSensor,
      kestrel::DeriveIsDriveTemperatureSensor,
      kestrel::DeriveCommutationMethod,
      kestrel::EncodeSCR,
      kestrel::DeriveStartMode,
      kestrel::DeriveIsBrakeResistor,
      kestrel::EncodeOSR,
      kestrel::DeriveInputsPolarityType,
      kestrel::DeriveIsSWLS,
      kestrel::EncodeASR,
      kestrel::DeriveIsAutoActivatedAfterPowerOn,
      kestrel::DeriveDigitalReferenceType,
      kestrel::DeriveIsAnalogueReference,
      kestrel::DeriveExternalReference,
      kestrel::DeriveControlMode,
      kestrel::EncodeACR,
      kestrel::DeriveIsLimitMaximum,
      kestrel::EncodeUPGRADE,
      kestrel::Derivetime_AB,
      kestrel::EncodeT1ONA,
      kestrel::EncodeT1ONB,
      kestrel::DeriveEnablePolarity,
      kestrel::DeriveLSNPolarity,
      kestrel::DeriveLSPPolarity,
      kestrel::EncodeDIGIN_ACTIVE_LEVEL,
      kestrel::Derivesave_CAN_baudrate,
      kestrel::Derivesave_axis_id,
      kestrel::EncodeLSS_Active,
      kestrel::DeriveIsMotorBrake,
      kestrel::DeriveMotorBrake_output,
      kestrel::DeriveMotorBrake_releasetime,
      kestrel::DeriveMotorBrake_applytime,
      kestrel::EncodeBRAKECFG,
      kestrel::EncodeBRAKEAPPLYDELAY,
      kestrel::EncodeBRAKERELEASEDELAY,
      kestrel::DeriveIsFilterEnc,
      kestrel::EncodeEncoderInputFilter,
      kestrel::DeriveMotor_TempSensor_Type,
      kestrel::EncodeMTSTYPE,
      kestrel::DeriveAxis_ID_list,
      kestrel::EncodeAAR_table,
      kestrel::DeriveReverseCounting,
      kestrel::EncodeCOUNTINGDIR,
      kestrel::DeriveStartCurrent,
      kestrel::EncodeREFTST,
      kestrel::EncodeRINCTST,
      kestrel::SetCapabilityOptions,
      kestrel::ApplySpeedFeedForwardRule,
  };
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {0,   1,    -1,    -65535,       std::nan(""),
                           inf, -inf, 1e300, 4294967296.0, -2147483649.0};
  for (double value : values) {
    SCOPED_TRACE(value);
    TestSetup s = Config();
    s.Option("PMSMStartwithHalls", "1");
    s.Option("hasNegTransmission", "1");
    for (const Entry& e : kConfig) s.Set(e.name, value);
    for (int pass = 0; pass < 2; ++pass) {
      for (Calculator c : all) {
        const int result = c(*s);
        EXPECT_TRUE(result == 0 || result == 1);
      }
    }
    // Every 16-bit word the encoders wrote stays a 16-bit word.
    for (const char* word : {"SCR", "OSR", "ASR", "UPGRADE", "DIGIN_ACTIVE_LEVEL", "LSS_Active"}) {
      const double w = s.Get(word);
      EXPECT_TRUE(w >= 0 && w <= 0xFFFF) << word << " = " << w;
    }
  }
}

}  // namespace
