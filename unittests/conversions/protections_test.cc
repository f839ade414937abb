#include "conversions/protections.h"

#include <gtest/gtest.h>

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

// The reference drive of these tests. Hand-computed scales:
//   kI = ADC full scale / (2 x ImaxPS) = 65520 / 20 = 3276 counts per A
//   kV = 65520 / VdcMaxMeasurable = 65520 / 100 = 655.2 counts per V
//   Ts = SLPER x 2 x PWMPER / DSP_freq = 20 x 2 x 1000 / 40e6 = 1 ms
//   load position scale = 1 / EncRes = 1e6 counts per m; load speed scale = Ts x 1e6 = 1000
struct Entry {
  const char* name;
  double value;
  bool is_register;
};
// clang-format off
const Entry kDrive[] = {
    {"ImaxPS", 10, false}, {"InPS", 5, false}, {"ImaxM", 8, false}, {"In", 2, false},
    {"VdcMaxMeasurable", 100, false}, {"Ts_S", 0.001, false}, {"EncRes", 1e-6, false},
    {"Motor_transmission", 1, false}, {"Load_transmission", 1, false}, {"ADCrange", 3.3, false},
    {"DriveTempOutputAt0oC", 0.5, false}, {"DriveTempSensorGain", 0.01, false},
    {"DSP_freq", 40e6, false}, {"SLPER", 20, true}, {"PWMPER", 1000, true},
    {"UMAX_PROT", 0, false}, {"UMIN_PROT", 0, false}, {"Temp_2", 0, false},
    {"Imax_Prot", 0, false}, {"time_Imax_Prot", 0, false}, {"Vbrake", 0, false},
    {"isPositionControlError", 0, false}, {"ERR_position", 0, false}, {"time_ERR_pos", 0, false},
    {"isSpeedControlError", 0, false}, {"ERR_speed", 0, false}, {"time_ERR_spd", 0, false},
    {"I_I2t_D", 0, false}, {"t_I2t_D", 0, false}, {"I_I2t_M", 0, false}, {"t_I2t_M", 0, false},
    {"isOverCurrent", 0, false}, {"isMotori2t", 0, false},  // names ignore case
    {"isMotorOverTemp", 0, false}, {"isDriveOverTemp", 0, false}, {"isOverVoltage", 0, false},
    {"isUnderVoltage", 0, false}, {"isDriveI2t", 0, false},
    {"isHallsensors", 0, false},
    {"PCR", 0, true}, {"UMAXPROT", 0, true}, {"UMINPROT", 0, true}, {"T2MAXPROT", 0, true},
    {"IMAXPROT", 0, true}, {"TIMAXPROT", 0, true}, {"T1MAXPROT", 0, true}, {"BRAKELIM", 0, true},
    {"ERRMAX", 0, true}, {"TERRMAX", 0, true}, {"SERRMAX", 0, true}, {"TSERRMAX", 0, true},
    {"II2TPROT_D", 0, true}, {"SFI2T_D", 0, true}, {"I2TINTLIM_D", 0, true},
    {"II2TWARLIM_D", 0, true}, {"II2TPROT_M", 0, true}, {"SFI2T_M", 0, true},
    {"I2TINTLIM_M", 0, true}, {"I2TWARLIM_M", 0, true},
};
// clang-format on

// The reference drive, without the parameter named `skip` (if any).
TestSetup Drive(const char* skip = nullptr) {
  TestSetup s;
  for (const Entry& e : kDrive) {
    if (skip != nullptr && std::strcmp(skip, e.name) == 0) continue;
    s->AddParameter({.name = e.name,
                     .value = e.value,
                     .min = -1e300,
                     .max = 1e300,
                     .type = e.is_register ? axis::kTypeRegister : axis::kTypePhysical,
                     .is_integer = e.is_register});
  }
  return s;
}

double Tolerance(double expected) { return 1e-9 * std::max(1.0, std::fabs(expected)); }

// ---------------------------------------------------------------------------------------------
// Protection word

struct PcrSwitchRow {
  const char* name;
  Calculator derive;
  int bit;
};
const PcrSwitchRow kPcrSwitches[] = {
    {"isOverCurrent", kestrel::DeriveIsOverCurrent, 0},
    {"isMotorI2t", kestrel::DeriveIsMotorI2t, 1},
    {"isMotorOverTemp", kestrel::DeriveIsMotorOverTemp, 2},
    {"isDriveOverTemp", kestrel::DeriveIsDriveOverTemp, 3},
    {"isOverVoltage", kestrel::DeriveIsOverVoltage, 4},
    {"isUnderVoltage", kestrel::DeriveIsUnderVoltage, 5},
    {"isDriveI2t", kestrel::DeriveIsDriveI2t, 7},
};

TEST(ProtectionWord, EachSwitchReadsItsOwnBit) {
  for (const PcrSwitchRow& row : kPcrSwitches) {
    SCOPED_TRACE(row.name);
    const double only = std::ldexp(1.0, row.bit);
    const struct {
      double pcr;
      double expected;
    } words[] = {{only, 1}, {65535 - only, 0}, {65535, 1}, {0, 0}, {-1, 1}};
    for (const auto& w : words) {
      TestSetup s = Drive();
      s.Set("PCR", w.pcr);
      ASSERT_EQ(row.derive(*s), 1);
      EXPECT_EQ(s.Get(row.name), w.expected) << "PCR " << w.pcr;
      EXPECT_EQ(s.Min(row.name), 0.0);
      EXPECT_EQ(s.Max(row.name), 1.0);
    }
  }
}

TEST(ProtectionWord, EncodeKeepsTheHighByteAndRebuildsTheLowByte) {
  // 0xA5FF with every switch off and no broken-wire option gives 0xA500.
  TestSetup s = Drive();
  s.Set("PCR", 0xA5FF);
  ASSERT_EQ(kestrel::EncodePCR(*s), 1);
  EXPECT_EQ(s.Get("PCR"), 0xA500);

  for (const PcrSwitchRow& row : kPcrSwitches) {
    SCOPED_TRACE(row.name);
    TestSetup t = Drive();
    t.Set("PCR", 0x1200);
    t.Set(row.name, 1);
    ASSERT_EQ(kestrel::EncodePCR(*t), 1);
    EXPECT_EQ(t.Get("PCR"), 0x1200 + std::ldexp(1.0, row.bit));
  }
}

TEST(ProtectionWord, SwitchesAreSetOnlyWhenTheyTruncateToOne) {
  const struct {
    const char* name;
    double value;
    double expected_pcr;
  } rows[] = {{"one", 1, 1}, {"just below one", 0.999, 0}, {"one and a half", 1.5, 1},
              {"two", 2, 0}, {"minus one", -1, 0},         {"NaN", std::nan(""), 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Drive();
    s.Set("isOverCurrent", row.value);
    ASSERT_EQ(kestrel::EncodePCR(*s), 1);
    EXPECT_EQ(s.Get("PCR"), row.expected_pcr);
  }
}

TEST(ProtectionWord, BrokenWireBitNeedsTheOptionAndHallSensors) {
  const struct {
    const char* name;
    const char* option;  // null: no option
    bool has_halls;
    double halls;
    int result;
    double expected_pcr;
  } rows[] = {
      {"option and Hall sensors", "1", true, 1, 1, 0x40},
      {"option, no Hall sensors", "1", true, 0, 1, 0},
      {"option, Hall switch 2", "1", true, 2, 1, 0},
      {"no option", nullptr, true, 1, 1, 0},
      {"option 0", "0", true, 1, 1, 0},
      {"option, isHallsensors missing", "1", false, 0, 0, 0x77},
      {"no option, isHallsensors missing", nullptr, false, 0, 1, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Drive(row.has_halls ? nullptr : "isHallsensors");
    if (row.option != nullptr) s.Option("hasEncoderBrokenWireProtection", row.option);
    if (row.has_halls) s.Set("isHallsensors", row.halls);
    s.Set("PCR", 0x77);
    EXPECT_EQ(kestrel::EncodePCR(*s), row.result);
    EXPECT_EQ(s.Get("PCR"), row.expected_pcr);
  }
}

TEST(ProtectionWord, DeriveThenEncodeGivesTheWordBackWithoutBit6) {
  // Every low byte under three high bytes. Before encoding, the low byte of PCR is inverted so
  // that an encoder keeping the old low bits would be caught.
  for (uint32_t high : {0x0000u, 0xA500u, 0xFF00u}) {
    for (uint32_t low = 0; low < 256; ++low) {
      const uint32_t word = high | low;
      TestSetup s = Drive();
      s.Set("PCR", word);
      for (const PcrSwitchRow& row : kPcrSwitches) ASSERT_EQ(row.derive(*s), 1);
      s.Set("PCR", high | (~low & 0xFFu));
      ASSERT_EQ(kestrel::EncodePCR(*s), 1);
      ASSERT_EQ(s.Get("PCR"), word & ~0x40u) << "word " << word;
    }
  }
}

TEST(ProtectionWord, DisabledMotorTemperatureLimitsTheSwitchButKeepsTheBit) {
  TestSetup s = Drive();
  s.Option("DisableMotorTemperature", "1");
  s.Set("PCR", 0x04);
  ASSERT_EQ(kestrel::DeriveIsMotorOverTemp(*s), 1);
  EXPECT_EQ(s.Min("isMotorOverTemp"), 0.0);
  EXPECT_EQ(s.Max("isMotorOverTemp"), 0.0);
  // The drive's bit is shown as it is, and the switch still encodes its bit.
  EXPECT_EQ(s.Get("isMotorOverTemp"), 1.0);
  s.Set("PCR", 0);
  ASSERT_EQ(kestrel::EncodePCR(*s), 1);
  EXPECT_EQ(s.Get("PCR"), 0x04);

  TestSetup t = Drive();
  t.Option("DisableMotorTemperature", "0");
  ASSERT_EQ(kestrel::DeriveIsMotorOverTemp(*t), 1);
  EXPECT_EQ(t.Max("isMotorOverTemp"), 1.0);
}

// ---------------------------------------------------------------------------------------------
// Register -> physical

struct DeriveRow {
  const char* name;
  Calculator derive;
  const char* reg;
  double reg_value;
  const char* out;
  double expected;
  bool ranged;
  double min = 0;
  double max = 0;
};

const DeriveRow kDeriveRows[] = {
    // 45864 / 655.2
    {"over-voltage", kestrel::DeriveUMAX_PROT, "UMAXPROT", 45864, "UMAX_PROT", 70, false},
    {"under-voltage", kestrel::DeriveUMIN_PROT, "UMINPROT", 13104, "UMIN_PROT", 20, false},
    // 3.3 x 19656 / 65520 = 0.99 V; (0.99 - 0.5) / 0.01 = 49 degC
    {"drive temperature", kestrel::DeriveTemp_2, "T2MAXPROT", 19656, "Temp_2", 49, false},
    // 16380 / 3276; range up to the smaller of ImaxPS 10 and ImaxM 8
    {"over-current", kestrel::DeriveImax_Prot, "IMAXPROT", 16380, "Imax_Prot", 5, true, 0, 8},
    {"over-current delay", kestrel::Derivetime_Imax_Prot, "TIMAXPROT", 500, "time_Imax_Prot", 0.5,
     true, 0, 32.767},
    {"brake resistor", kestrel::DeriveVbrake, "BRAKELIM", 52416, "Vbrake", 80, true, 1, 100},
    {"position error band", kestrel::DeriveERR_position, "ERRMAX", 2000, "ERR_position", 0.002,
     true, 0, 0.032767},
    {"position error delay", kestrel::Derivetime_ERR_pos, "TERRMAX", 300, "time_ERR_pos", 0.3, true,
     0, 32.767},
    {"position error on", kestrel::DeriveIsPositionControlError, "TERRMAX", 300,
     "isPositionControlError", 1, true, 0, 1},
    {"position error off", kestrel::DeriveIsPositionControlError, "TERRMAX", 65535,
     "isPositionControlError", 0, true, 0, 1},
    {"position error delay 65534", kestrel::DeriveIsPositionControlError, "TERRMAX", 65534,
     "isPositionControlError", 1, true, 0, 1},
    // 500 counts per slow period / 1000
    {"speed error band", kestrel::DeriveERR_speed, "SERRMAX", 500, "ERR_speed", 0.5, true, 0,
     32.767},
    {"speed error delay (off)", kestrel::Derivetime_ERR_spd, "TSERRMAX", 65535, "time_ERR_spd",
     65.535, true, 0, 32.767},
    {"speed error on", kestrel::DeriveIsSpeedControlError, "TSERRMAX", 0, "isSpeedControlError", 1,
     true, 0, 1},
    {"speed error off", kestrel::DeriveIsSpeedControlError, "TSERRMAX", 65535,
     "isSpeedControlError", 0, true, 0, 1},
    // sqrt(16 x 16098264 + (5 x 3276)^2) / 3276 = sqrt(525876624) / 3276 = 22932 / 3276
    {"drive I2t current", kestrel::DeriveI_I2t_D, "I2TINTLIM_D", 16098264, "I_I2t_D", 7, true, 5,
     10},
    // sqrt(16 x 3353805 + (2 x 3276)^2) / 3276 = 9828 / 3276; the motor's range starts at 1.1 x In
    {"motor I2t current", kestrel::DeriveI_I2t_M, "I2TINTLIM_M", 3353805, "I_I2t_M", 3, true, 2.2,
     8},
    // 0.001 x 2^26 / 16000; range [2^11, 2^26] x Ts
    {"drive I2t time", kestrel::Derivet_I2t_D, "SFI2T_D", 16000, "t_I2t_D", 4.194304, true, 2.048,
     67108.864},
    {"motor I2t time", kestrel::Derivet_I2t_M, "SFI2T_M", 16000, "t_I2t_M", 4.194304, true, 2.048,
     67108.864},
};

TEST(ProtectionDerive, RegistersGiveThePhysicalValuesAndRanges) {
  for (const DeriveRow& row : kDeriveRows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Drive();
    s.Set(row.reg, row.reg_value);
    ASSERT_EQ(row.derive(*s), 1);
    EXPECT_NEAR(s.Get(row.out), row.expected, Tolerance(row.expected));
    if (row.ranged) {
      EXPECT_NEAR(s.Min(row.out), row.min, Tolerance(row.min));
      EXPECT_NEAR(s.Max(row.out), row.max, Tolerance(row.max));
    } else {
      EXPECT_EQ(s.Min(row.out), -1e300);
      EXPECT_EQ(s.Max(row.out), 1e300);
    }
  }
}

TEST(ProtectionDerive, MissingNameChangesNothing) {
  const struct {
    Calculator derive;
    const char* out;
    std::vector<const char*> names;
  } rows[] = {
      {kestrel::DeriveUMAX_PROT, "UMAX_PROT", {"UMAXPROT", "VdcMaxMeasurable"}},
      {kestrel::DeriveTemp_2,
       "Temp_2",
       {"T2MAXPROT", "ADCrange", "DriveTempOutputAt0oC", "DriveTempSensorGain"}},
      {kestrel::DeriveImax_Prot, "Imax_Prot", {"IMAXPROT", "ImaxPS", "ImaxM"}},
      {kestrel::Derivetime_Imax_Prot,
       "time_Imax_Prot",
       {"TIMAXPROT", "SLPER", "PWMPER", "DSP_freq"}},
      {kestrel::DeriveVbrake, "Vbrake", {"BRAKELIM", "VdcMaxMeasurable"}},
      {kestrel::DeriveERR_position,
       "ERR_position",
       {"ERRMAX", "EncRes", "Motor_transmission", "Load_transmission"}},
      {kestrel::DeriveERR_speed, "ERR_speed", {"SERRMAX", "EncRes", "SLPER", "Load_transmission"}},
      {kestrel::DeriveI_I2t_D, "I_I2t_D", {"I2TINTLIM_D", "InPS", "ImaxPS"}},
      {kestrel::DeriveI_I2t_M, "I_I2t_M", {"I2TINTLIM_M", "In", "ImaxM", "ImaxPS"}},
      {kestrel::Derivet_I2t_D, "t_I2t_D", {"SFI2T_D", "Ts_S", "SLPER"}},
      {kestrel::Derivet_I2t_M, "t_I2t_M", {"SFI2T_M", "PWMPER"}},
      {kestrel::DeriveIsOverVoltage, "isOverVoltage", {"PCR"}},
  };
  for (const auto& row : rows) {
    for (const char* missing : row.names) {
      SCOPED_TRACE(std::string(row.out) + " without " + missing);
      TestSetup s = Drive(missing);
      s.Set(row.out, 123.0);
      EXPECT_EQ(row.derive(*s), 0);
      EXPECT_EQ(s.Get(row.out), 123.0);
      EXPECT_EQ(s.Min(row.out), -1e300);
      EXPECT_EQ(s.Max(row.out), 1e300);
    }
  }
}

TEST(ProtectionDerive, RefusedRangeWritesNothing) {
  const struct {
    const char* name;
    const char* input;
    double input_value;
    Calculator derive;
    const char* out;
  } rows[] = {
      {"motor peak below zero", "ImaxM", -1, kestrel::DeriveImax_Prot, "Imax_Prot"},
      {"measurable bus below 1 V", "VdcMaxMeasurable", 0.5, kestrel::DeriveVbrake, "Vbrake"},
      {"motor peak below 1.1 x In", "ImaxM", 2.1, kestrel::DeriveI_I2t_M, "I_I2t_M"},
      {"drive peak below nominal", "InPS", 11, kestrel::DeriveI_I2t_D, "I_I2t_D"},
      {"negative period", "SLPER", -20, kestrel::Derivetime_Imax_Prot, "time_Imax_Prot"},
      {"NaN period", "DSP_freq", std::nan(""), kestrel::Derivet_I2t_M, "t_I2t_M"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Drive();
    s.Set(row.input, row.input_value);
    s.Set(row.out, 42.0);
    EXPECT_EQ(row.derive(*s), 0);
    EXPECT_EQ(s.Get(row.out), 42.0);
  }
}

TEST(ProtectionDerive, ErrorBandsUseTheMagnitudeOfAReversedTransmission) {
  // Motor/load = -2: position scale -2e6 counts per m, speed scale -2000.
  TestSetup s = Drive();
  s.Set("Motor_transmission", -2);
  s.Set("ERRMAX", 2000);
  s.Set("SERRMAX", 500);
  ASSERT_EQ(kestrel::DeriveERR_position(*s), 1);
  ASSERT_EQ(kestrel::DeriveERR_speed(*s), 1);
  EXPECT_NEAR(s.Get("ERR_position"), 0.001, 1e-15);
  EXPECT_NEAR(s.Max("ERR_position"), 0.0163835, 1e-13);
  EXPECT_NEAR(s.Get("ERR_speed"), 0.25, 1e-12);
  ASSERT_EQ(kestrel::EncodeERRMAX(*s), 1);
  EXPECT_EQ(s.Get("ERRMAX"), 2000);
}

TEST(ProtectionDerive, DriveTimesUseTheTsParameterMotorTimesTheRegisters) {
  // Ts_S (parameter) 2 ms while the registers give 1 ms: the drive's I2t time is derived with the
  // parameter, the motor's and the delays with the registers; the encoders all divide by Ts_S.
  TestSetup s = Drive();
  s.Set("Ts_S", 0.002);
  s.Set("SFI2T_D", 16000);
  s.Set("SFI2T_M", 16000);
  s.Set("TIMAXPROT", 500);
  ASSERT_EQ(kestrel::Derivet_I2t_D(*s), 1);
  ASSERT_EQ(kestrel::Derivet_I2t_M(*s), 1);
  ASSERT_EQ(kestrel::Derivetime_Imax_Prot(*s), 1);
  EXPECT_NEAR(s.Get("t_I2t_D"), 8.388608, 1e-12);  // 0.002 x 2^26 / 16000
  EXPECT_NEAR(s.Get("t_I2t_M"), 4.194304, 1e-12);
  EXPECT_NEAR(s.Min("t_I2t_D"), 2.048, 1e-12);  // ranges from the registers
  EXPECT_NEAR(s.Get("time_Imax_Prot"), 0.5, 1e-12);
  ASSERT_EQ(kestrel::EncodeTIMAXPROT(*s), 1);
  EXPECT_EQ(s.Get("TIMAXPROT"), 250);
  ASSERT_EQ(kestrel::EncodeSFI2T_M(*s), 1);
  EXPECT_EQ(s.Get("SFI2T_M"), 32000);  // 0.002 x 2^26 / 4.194304
}

// ---------------------------------------------------------------------------------------------
// Physical -> register

struct EncodeRow {
  const char* name;
  Calculator encode;
  std::vector<std::pair<const char*, double>> inputs;
  const char* reg;
  double expected;
};

TEST(ProtectionEncode, PhysicalValuesGiveTheRegisters) {
  const EncodeRow rows[] = {
      // 70.0009 x 655.2 = 45864.59: truncated, where rounding would give 45865
      {"over-voltage truncated",
       kestrel::EncodeUMAXPROT,
       {{"UMAX_PROT", 70.0009}},
       "UMAXPROT",
       45864},
      // 20.0009 x 655.2 = 13104.59, passed unrounded; the host stores 13105
      {"under-voltage not truncated",
       kestrel::EncodeUMINPROT,
       {{"UMIN_PROT", 20.0009}},
       "UMINPROT",
       13105},
      // 65520 x (0.5 + 0.01 x 49) / 3.3
      {"drive temperature", kestrel::EncodeT2MAXPROT, {{"Temp_2", 49}}, "T2MAXPROT", 19656},
      {"over-current", kestrel::EncodeIMAXPROT, {{"Imax_Prot", 5}}, "IMAXPROT", 16380},
      {"over-current delay", kestrel::EncodeTIMAXPROT, {{"time_Imax_Prot", 0.5}}, "TIMAXPROT", 500},
      {"I2t delay fixed", kestrel::EncodeT1MAXPROT, {}, "T1MAXPROT", 32767},
      {"brake resistor", kestrel::EncodeBRAKELIM, {{"Vbrake", 80}}, "BRAKELIM", 52416},
      {"position error band", kestrel::EncodeERRMAX, {{"ERR_position", 0.002}}, "ERRMAX", 2000},
      {"speed error band", kestrel::EncodeSERRMAX, {{"ERR_speed", 0.5}}, "SERRMAX", 500},
      {"position delay on",
       kestrel::EncodeTERRMAX,
       {{"isPositionControlError", 1}, {"time_ERR_pos", 0.3}},
       "TERRMAX",
       300},
      {"position delay off",
       kestrel::EncodeTERRMAX,
       {{"isPositionControlError", 0}, {"time_ERR_pos", 0.3}},
       "TERRMAX",
       65535},
      {"position delay switch 0.99",
       kestrel::EncodeTERRMAX,
       {{"isPositionControlError", 0.99}, {"time_ERR_pos", 0.3}},
       "TERRMAX",
       65535},
      {"speed delay on",
       kestrel::EncodeTSERRMAX,
       {{"isSpeedControlError", 1.5}, {"time_ERR_spd", 0.02}},
       "TSERRMAX",
       20},
      {"speed delay off whatever the time",
       kestrel::EncodeTSERRMAX,
       {{"isSpeedControlError", 0}, {"time_ERR_spd", std::nan("")}},
       "TSERRMAX",
       65535},
      // InPS x kI = 5 x 3276; In x kI = 2 x 3276
      {"drive I2t nominal", kestrel::EncodeII2TPROT_D, {}, "II2TPROT_D", 16380},
      {"motor I2t nominal", kestrel::EncodeII2TPROT_M, {}, "II2TPROT_M", 6552},
      // 0.001 x 2^26 / 4.194304
      {"drive I2t time", kestrel::EncodeSFI2T_D, {{"t_I2t_D", 4.194304}}, "SFI2T_D", 16000},
      {"motor I2t time", kestrel::EncodeSFI2T_M, {{"t_I2t_M", 4.194304}}, "SFI2T_M", 16000},
      // (49 - 25) x 3276^2 / 16 = 24 x 670761
      {"drive I2t limit", kestrel::EncodeI2TINTLIM_D, {{"I_I2t_D", 7}}, "I2TINTLIM_D", 16098264},
      // (9 - 4) x 670761
      {"motor I2t limit", kestrel::EncodeI2TINTLIM_M, {{"I_I2t_M", 3}}, "I2TINTLIM_M", 3353805},
      {"motor I2t at nominal", kestrel::EncodeI2TINTLIM_M, {{"I_I2t_M", 2}}, "I2TINTLIM_M", 0},
      // warning = limit x (1 - 2 / t)
      {"drive warning at 2 s",
       kestrel::EncodeII2TWARLIM_D,
       {{"I_I2t_D", 7}, {"t_I2t_D", 2}},
       "II2TWARLIM_D",
       0},
      {"drive warning at 4 s",
       kestrel::EncodeII2TWARLIM_D,
       {{"I_I2t_D", 7}, {"t_I2t_D", 4}},
       "II2TWARLIM_D",
       8049132},
      // (16 - 4) x 670761 x 0.5
      {"motor warning at 4 s",
       kestrel::EncodeI2TWARLIM_M,
       {{"I_I2t_M", 4}, {"t_I2t_M", 4}},
       "I2TWARLIM_M",
       4024566},
  };
  for (const EncodeRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Drive();
    s.Set(row.reg, -7);
    for (const auto& [name, value] : row.inputs) s.Set(name, value);
    ASSERT_EQ(row.encode(*s), 1);
    EXPECT_EQ(s.Get(row.reg), row.expected);
  }
}

TEST(ProtectionEncode, WarningLevelsNeedBothWarningRegisters) {
  for (const char* missing : {"II2TWARLIM_D", "I2TWARLIM_M"}) {
    SCOPED_TRACE(missing);
    std::vector<std::string> reports;
    axis::SetErrorReporter([&](const std::string& m) { reports.push_back(m); });
    TestSetup s = Drive(missing);
    s.Set("I_I2t_D", 7);
    s.Set("t_I2t_D", 4);
    s.Set("I_I2t_M", 4);
    s.Set("t_I2t_M", 4);
    EXPECT_FALSE(kestrel::HasI2tWarningLevels(*s));
    EXPECT_EQ(kestrel::EncodeII2TWARLIM_D(*s), 0);
    EXPECT_EQ(kestrel::EncodeI2TWARLIM_M(*s), 0);
    for (const char* reg : {"II2TWARLIM_D", "I2TWARLIM_M"}) {
      if (std::strcmp(reg, missing) != 0) {
        EXPECT_EQ(s.Get(reg), 0.0) << reg;
      }
    }
    EXPECT_TRUE(reports.empty());
    axis::SetErrorReporter(nullptr);
  }
}

TEST(ProtectionEncode, MissingNameChangesNothing) {
  const struct {
    Calculator encode;
    const char* reg;
    std::vector<const char*> names;
  } rows[] = {
      {kestrel::EncodeUMAXPROT, "UMAXPROT", {"UMAX_PROT", "VdcMaxMeasurable"}},
      {kestrel::EncodeT2MAXPROT, "T2MAXPROT", {"Temp_2", "ADCrange", "DriveTempSensorGain"}},
      {kestrel::EncodeIMAXPROT, "IMAXPROT", {"Imax_Prot", "ImaxPS"}},
      {kestrel::EncodeTIMAXPROT, "TIMAXPROT", {"time_Imax_Prot", "Ts_S"}},
      {kestrel::EncodeBRAKELIM, "BRAKELIM", {"Vbrake", "VdcMaxMeasurable"}},
      {kestrel::EncodeERRMAX, "ERRMAX", {"ERR_position", "EncRes", "Load_transmission"}},
      {kestrel::EncodeSERRMAX, "SERRMAX", {"ERR_speed", "EncRes", "DSP_freq"}},
      {kestrel::EncodeTERRMAX, "TERRMAX", {"isPositionControlError", "time_ERR_pos", "Ts_S"}},
      {kestrel::EncodeI2TINTLIM_D, "I2TINTLIM_D", {"I_I2t_D", "InPS", "ImaxPS"}},
      {kestrel::EncodeI2TWARLIM_M, "I2TWARLIM_M", {"I_I2t_M", "In", "t_I2t_M", "ImaxPS"}},
      {kestrel::EncodeSFI2T_D, "SFI2T_D", {"t_I2t_D", "Ts_S"}},
      {kestrel::EncodeII2TPROT_M, "II2TPROT_M", {"In", "ImaxPS"}},
      {kestrel::EncodePCR, "PCR", {"isOverCurrent", "isMotori2t", "isDriveI2t", "isUnderVoltage"}},
  };
  for (const auto& row : rows) {
    for (const char* missing : row.names) {
      SCOPED_TRACE(std::string(row.reg) + " without " + missing);
      TestSetup s = Drive(missing);
      for (const char* name : {"I_I2t_D", "I_I2t_M", "t_I2t_D", "t_I2t_M", "isOverCurrent"}) {
        if (std::strcmp(name, missing) != 0) s.Set(name, 4);
      }
      s.Set(row.reg, 99);
      EXPECT_EQ(row.encode(*s), 0);
      EXPECT_EQ(s.Get(row.reg), 99);
    }
  }
}

// A unit service that makes the I2t current-squared registers' internal units differ from their
// base units (internal = base / 4).
double QuarterI2tRegisters(CMC_Setup*, const char*, const char* name) {
  const bool current_squared =
      std::strncmp(name, "II2T", 4) == 0 || std::strncmp(name, "I2T", 3) == 0;
  return current_squared ? 4.0 : 1.0;
}

TEST(ProtectionI2t, DriveRegistersTravelInInternalUnitsMotorRegistersInBaseUnits) {
  TestSetup s = Drive();
  s->SetScaleProvider({QuarterI2tRegisters, nullptr});
  s.Set("I_I2t_D", 7);
  s.Set("t_I2t_D", 4);
  s.Set("I_I2t_M", 4);
  s.Set("t_I2t_M", 4);
  for (Calculator encode :
       {kestrel::EncodeII2TPROT_D, kestrel::EncodeI2TINTLIM_D, kestrel::EncodeII2TWARLIM_D,
        kestrel::EncodeII2TPROT_M, kestrel::EncodeI2TINTLIM_M, kestrel::EncodeI2TWARLIM_M}) {
    ASSERT_EQ(encode(*s), 1);
  }
  EXPECT_EQ(s.Get("II2TPROT_D"), 4 * 16380.0);
  EXPECT_EQ(s.Get("I2TINTLIM_D"), 4 * 16098264.0);
  EXPECT_EQ(s.Get("II2TWARLIM_D"), 4 * 8049132.0);
  EXPECT_EQ(s.Get("II2TPROT_M"), 6552.0);
  EXPECT_EQ(s.Get("I2TINTLIM_M"), 8049132.0);  // (16 - 4) x 670761
  EXPECT_EQ(s.Get("I2TWARLIM_M"), 4024566.0);

  s.Set("I_I2t_D", 0);
  s.Set("I_I2t_M", 0);
  ASSERT_EQ(kestrel::DeriveI_I2t_D(*s), 1);
  ASSERT_EQ(kestrel::DeriveI_I2t_M(*s), 1);
  EXPECT_NEAR(s.Get("I_I2t_D"), 7, 1e-12);
  EXPECT_NEAR(s.Get("I_I2t_M"), 4, 1e-12);
}

// ---------------------------------------------------------------------------------------------
// Round trips: encode, let the host round the register, derive; the value comes back within the
// register step (half a step for rounding, a whole step below for truncation).

TEST(ProtectionRoundTrip, RandomValuesComeBackWithinOneRegisterStep) {
  struct Row {
    const char* name;
    Calculator encode;
    Calculator derive;
    const char* phys;
    double lo, hi;
    double step;  // physical value of one register count at the reference drive
    bool truncated;
  };
  const Row rows[] = {
      {"UMAX_PROT", kestrel::EncodeUMAXPROT, kestrel::DeriveUMAX_PROT, "UMAX_PROT", 0, 100,
       1 / 655.2, true},
      {"UMIN_PROT", kestrel::EncodeUMINPROT, kestrel::DeriveUMIN_PROT, "UMIN_PROT", 0, 100,
       1 / 655.2, false},
      // 3.3 V / 65520 counts / 0.01 V per degC
      {"Temp_2", kestrel::EncodeT2MAXPROT, kestrel::DeriveTemp_2, "Temp_2", -40, 150,
       3.3 / 65520 / 0.01, false},
      {"Imax_Prot", kestrel::EncodeIMAXPROT, kestrel::DeriveImax_Prot, "Imax_Prot", 0, 8,
       1 / 3276.0, false},
      {"time_Imax_Prot", kestrel::EncodeTIMAXPROT, kestrel::Derivetime_Imax_Prot, "time_Imax_Prot",
       0, 32.767, 0.001, false},
      {"Vbrake", kestrel::EncodeBRAKELIM, kestrel::DeriveVbrake, "Vbrake", 1, 100, 1 / 655.2,
       false},
      {"ERR_position", kestrel::EncodeERRMAX, kestrel::DeriveERR_position, "ERR_position", 0,
       0.032767, 1e-6, false},
      {"ERR_speed", kestrel::EncodeSERRMAX, kestrel::DeriveERR_speed, "ERR_speed", 0, 32.767, 1e-3,
       false},
      {"time_ERR_pos", kestrel::EncodeTERRMAX, kestrel::Derivetime_ERR_pos, "time_ERR_pos", 0,
       32.767, 0.001, false},
      {"time_ERR_spd", kestrel::EncodeTSERRMAX, kestrel::Derivetime_ERR_spd, "time_ERR_spd", 0,
       32.767, 0.001, false},
  };
  std::mt19937 rng(20261206);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::uniform_real_distribution<double> dist(row.lo, row.hi);
    TestSetup s = Drive();
    s.Set("isPositionControlError", 1);
    s.Set("isSpeedControlError", 1);
    for (int i = 0; i < 500; ++i) {
      const double value = dist(rng);
      s.Set(row.phys, value);
      ASSERT_EQ(row.encode(*s), 1);
      s.Set(row.phys, -12345);
      ASSERT_EQ(row.derive(*s), 1);
      const double back = s.Get(row.phys);
      if (row.truncated) {
        ASSERT_LE(back, value + 1e-9) << value;
        ASSERT_GT(back, value - row.step * (1 + 1e-9)) << value;
      } else {
        ASSERT_NEAR(back, value, row.step * (0.5 + 1e-9)) << value;
      }
    }
  }
}

TEST(ProtectionRoundTrip, I2tCurrentsAndTimesComeBack) {
  std::mt19937 rng(7);
  const double k_i = 3276;
  struct Side {
    const char* name;
    Calculator encode_limit, derive_current, encode_time, derive_time;
    const char *current, *time;
    double nominal, peak;
  };
  const Side sides[] = {
      {"drive", kestrel::EncodeI2TINTLIM_D, kestrel::DeriveI_I2t_D, kestrel::EncodeSFI2T_D,
       kestrel::Derivet_I2t_D, "I_I2t_D", "t_I2t_D", 5, 10},
      {"motor", kestrel::EncodeI2TINTLIM_M, kestrel::DeriveI_I2t_M, kestrel::EncodeSFI2T_M,
       kestrel::Derivet_I2t_M, "I_I2t_M", "t_I2t_M", 2, 8},
  };
  for (const Side& side : sides) {
    SCOPED_TRACE(side.name);
    std::uniform_real_distribution<double> currents(1.1 * side.nominal, side.peak);
    std::uniform_real_distribution<double> times(2.048, 60);
    TestSetup s = Drive();
    for (int i = 0; i < 500; ++i) {
      const double current_A = currents(rng);
      const double time_s = times(rng);
      s.Set(side.current, current_A);
      s.Set(side.time, time_s);
      ASSERT_EQ(side.encode_limit(*s), 1);
      ASSERT_EQ(side.encode_time(*s), 1);
      s.Set(side.current, 0);
      s.Set(side.time, 0);
      ASSERT_EQ(side.derive_current(*s), 1);
      ASSERT_EQ(side.derive_time(*s), 1);
      // Half a count of the limit register moves I^2 by 0.5 x 16 / kI^2, so I by 4 / (I kI^2).
      ASSERT_NEAR(s.Get(side.current), current_A, 4.0 / (current_A * k_i * k_i) * 1.01)
          << current_A;
      // The scale register 2^26 x 1 ms / t is rounded to a count: t moves by t x 0.5 / register.
      const double scale = 67108.864 / time_s;
      ASSERT_NEAR(s.Get(side.time), time_s, time_s * 0.5 / (scale - 0.5)) << time_s;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Hostile setups: zero, negative, NaN and infinite values everywhere must not crash.

TEST(ProtectionRobustness, DegenerateSetupsRunWithoutCrashing) {
  const Calculator all[] = {
      kestrel::DeriveIsOverCurrent,
      kestrel::DeriveIsMotorI2t,
      kestrel::DeriveIsMotorOverTemp,
      kestrel::DeriveIsDriveOverTemp,
      kestrel::DeriveIsOverVoltage,
      kestrel::DeriveIsUnderVoltage,
      kestrel::DeriveIsDriveI2t,
      kestrel::EncodePCR,
      kestrel::DeriveUMAX_PROT,
      kestrel::DeriveUMIN_PROT,
      kestrel::DeriveTemp_2,
      kestrel::DeriveImax_Prot,
      kestrel::Derivetime_Imax_Prot,
      kestrel::DeriveVbrake,
      kestrel::EncodeUMAXPROT,
      kestrel::EncodeUMINPROT,
      kestrel::EncodeT2MAXPROT,
      kestrel::EncodeIMAXPROT,
      kestrel::EncodeTIMAXPROT,
      kestrel::EncodeT1MAXPROT,
      kestrel::EncodeBRAKELIM,
      kestrel::DeriveIsPositionControlError,
      kestrel::DeriveERR_position,
      kestrel::Derivetime_ERR_pos,
      kestrel::DeriveIsSpeedControlError,
      kestrel::DeriveERR_speed,
      kestrel::Derivetime_ERR_spd,
      kestrel::EncodeERRMAX,
      kestrel::EncodeTERRMAX,
      kestrel::EncodeSERRMAX,
      kestrel::EncodeTSERRMAX,
      kestrel::DeriveI_I2t_D,
      kestrel::Derivet_I2t_D,
      kestrel::DeriveI_I2t_M,
      kestrel::Derivet_I2t_M,
      kestrel::EncodeII2TPROT_D,
      kestrel::EncodeSFI2T_D,
      kestrel::EncodeI2TINTLIM_D,
      kestrel::EncodeII2TWARLIM_D,
      kestrel::EncodeII2TPROT_M,
      kestrel::EncodeSFI2T_M,
      kestrel::EncodeI2TINTLIM_M,
      kestrel::EncodeI2TWARLIM_M,
  };
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {0, -1, -65535, std::nan(""), inf, -inf, 1e300, 4294967296.0};
  for (double value : values) {
    SCOPED_TRACE(value);
    TestSetup s = Drive();
    for (const Entry& e : kDrive) s.Set(e.name, value);
    s->SetAdcFullScale(value == 0 ? 0u : 65520u);
    for (int pass = 0; pass < 2; ++pass) {
      for (Calculator c : all) {
        const int result = c(*s);
        EXPECT_TRUE(result == 0 || result == 1);
      }
    }
  }
  // A zero period or zero peak current gives infinities, never a trap.
  TestSetup s = Drive();
  s.Set("Ts_S", 0);
  s.Set("time_Imax_Prot", 0.5);
  ASSERT_EQ(kestrel::EncodeTIMAXPROT(*s), 1);
  EXPECT_TRUE(std::isinf(s.Get("TIMAXPROT")));
}

}  // namespace
