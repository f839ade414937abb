#include "conversions/motion_units.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "conversions/calculators.h"
#include "conversions/scales.h"
#include "host/setup_file.h"
#include "support/test_setup.h"

namespace kestrel {
namespace {

using axis::testing::TestSetup;
using testing::FromInputs;
using testing::Input;

constexpr double kStep = 9.587379924285257e-05;  // 2 pi / 65536: 65536 steps per period
// ADC full scale, loop periods, load scales f = (1 / 0.01) / EncRes, s = f Ts_S, a, j likewise.
constexpr double kN = 65520, kTsC = 5e-5, kTsS = 5e-4, kF = 1e8, kS = 5e4, kA = 25, kJ = 0.0125;

// clang-format off
// MECRESL x ENC2THL / 2^32 = 1.5 pole pairs, which rounds to 2.
const Input kDrive[] = {
    {"EncRes", 1e-6}, {"PolePitch", 0.03}, {"Motor_transmission", 1}, {"Load_transmission", 0.01},
    {"TransmissionType", 0}, {"Vdc", 48}, {"VdcMaxMeasurable", 100}, {"ImaxPS", 10},
    {"CommutationMethod", 0}, {"AnalogueInputsRange", 20}, {"DriveTempSensorGain", 0.01},
    {"DriveTempOutputAt0oC", 0.5}, {"ADCrange", 3.3}, {"DSP_freq", 40e6}, {"Negative_SWLS", -0.01},
    {"Positive_SWLS", 0.02}, {"ErefMaxSpeed", 0.2}, {"ErefMaxAcceleration", 4}, {"CLPER", 1, "", 1},
    {"SLPER", 10, "", 1}, {"PWMPER", 1000, "", 1}, {"MECRESL", 65536, "", 1}, {"ENC2THL", 98304, "", 1},
    {"ELRESL", 30000, "", 1}, {"SWNEGLS", -1e6, "", 1}, {"SWPOSLS", 2e6, "", 1}, {"CSPD", 1000, "", 1},
    {"CACC", 100, "", 1}, {"TRANSMISSION", 1, "", 1}, {"ABSTART_MINMOVE", 0, "", 1}};

// Factors on a reversed load (limits and bands stay positive). Only temperature has an offset.
struct FactorRow { const char* unit; std::vector<const char*> names; double expected; };
const FactorRow kFactors[] = {
    {"V ", {"VDC", "UREF"}, 100 / kN}, {"V", {"UREF", nullptr}, 48 / 32767.0},
    {"v", {"UREF"}, 48 / 32767.0}, {"V", {"AnalogueInputsRange"}, 1.0},
    {"V", {"DeadBand_Point", "DeadBand_Range", "AD2", "AD2FIL_VAL", "ad5"}, 20 / kN},
    {"s", {"Ts_C", "TS_C"}, kTsC}, {"S", {"Ts_S", "x"}, kTsS}, {"rad", {"THTST"}, kStep},
    {"rad", {"Load_Position"}, -1 / kF}, {"rad", {"POS_min"}, 1 / kF}, {"A", {"IQ"}, 20 / kN},
    {"m", {"ERR_position", "FreezeControl_errband", "TestPosition", "POS_max", "POS_min"}, 1 / kF},
    {"m", {"Motor_Position", "APOS_MT"}, 1e-6}, {"m", {"Load_Position", nullptr}, -1 / kF},
    {"rad/s", {"TINCTST"}, kStep / kTsC / 2}, {"rad/s", {"Load_Speed"}, -1 / kS},
    {"rad/s", {"Limit_Speed"}, 1 / kS}, {"m/s", {"Load_Speed"}, -1 / kS},
    {"m/s", {"ERR_speed", "ErefMaxSpeed", "TestSpeed", "SPD_max", "SPD_min"}, 1 / kS},
    {"m/s", {"Motor_Speed", "ASPD", "ASPD_MT", "TestMaxSpeed", "SPDREF", "SPDREFL"}, 1e-6 / kTsS},
    {"m/s^2", {"CACC"}, -1 / kA}, {"rad/s^2", {"CACC"}, -1 / kA}, {"m/s^3", {"JERK"}, -1 / kJ},
    {"RAD/S^3", {"JERK"}, -1 / kJ}, {"\xB0" "c", {"TEMPS"}, 3.3 / (kN * 0.01)},
    {"V/s", {"UREF"}, 48 / 32767.0 / kTsS}, {"A/s", {"IQREF"}, 20 / kN / kTsS},
    {"Hz", {"PWM_freq"}, 1.0}, {"", {"CADIN"}, 1.0}, {"C", {"TEMPS"}, 1.0}, {"V  ", {"VDC"}, 1.0}};

// The registers only ever encoded, on the reversed drive.
const struct { int (*calc)(CMC_Setup&); const char* name; double value; } kEncodeOnly[] = {
    {EncodeMECRESL, "MECRESL", 30000}, {EncodeELRESL, "ELRESL", 30000},  // counts per pitch
    {EncodeENC2THL, "ENC2THL", std::round(4294967296.0 / 30000)},
    {EncodeABSTART_MINMOVE, "ABSTART_MINMOVE", 6000},  // 60 % of a third
    {EncodeTRANSMISSION, "TRANSMISSION", -1}};

const struct { const char* name; int (*encode)(CMC_Setup&), (*derive)(CMC_Setup&);
  const char *forward, *reversed; double (*scale)(CMC_Setup&), low, high; } kFamilies[] = {
    {"Negative_SWLS", EncodeNegativeSWLS, DeriveNegativeSWLS, "SWNEGLS", "SWPOSLS",
     LoadPositionScale, -2147483648.0, 2147483647.0},
    {"Positive_SWLS", EncodePositiveSWLS, DerivePositiveSWLS, "SWPOSLS", "SWNEGLS",
     LoadPositionScale, -2147483648.0, 2147483647.0},
    {"ErefMaxSpeed", EncodeErefMaxSpeed, DeriveErefMaxSpeed, "CSPD", "CSPD", LoadSpeedScale,
     0, 32767},
    {"ErefMaxAcceleration", EncodeErefMaxAcceleration, DeriveErefMaxAcceleration, "CACC", "CACC",
     LoadAccelerationScale, 0, 32767}};

// Units of a linear and a rotary load; skipped when one of the probes is missing.
const struct { const char* name; bool var; const char *lin, *rot; std::string probes; } kUnits[] = {
    {"Load_transmission", 0, "mm", "rot", ""}, {"Limit_Speed", 0, "m/s", "rad/s", ""},
    {"SPD_min", 0, "m/s", "rpm", "CADIN variable"}, {"Positive_SWLS", 0, "mm", "rot", "isSWLS"},
    {"FreezeControl_errband", 0, "mm", "rot", "POSOKLIM_FC TONPOSOK_FC"},
    {"Load_Position", 1, "mm", "rot", ""}, {"JERK", 1, "m/s^3", "rad/s^3", ""},
    {"APOS_MT", 1, "mm", "mm", ""}};
// clang-format on

TestSetup Drive(double ratio = 1) { return FromInputs(kDrive, ratio, static_cast<uint32_t>(kN)); }

TEST(MotionUnits, ReversedDrive) {
  TestSetup t = Drive(-1);
  for (const FactorRow& row : kFactors) {
    for (const char* name : row.names) {
      const double factor = ScaleFactor(&t.setup(), row.unit, name);
      EXPECT_NEAR(factor, row.expected, 1e-12 * std::fabs(row.expected)) << row.unit << name;
    }
    EXPECT_EQ(ScaleOffset(&t.setup(), row.unit), row.unit[0] == '\xB0' ? -kN * 0.5 / 3.3 : 0.0);
  }
  g_bKufSinusoidalMode = 1;  // the sinusoidal form, by the flag alone or a NaN commutation
  EXPECT_DOUBLE_EQ(ScaleFactor(&t.setup(), "V", "x"), 1.1 * 48 / 65534);
  g_bKufSinusoidalMode = 0;
  t.Set("CommutationMethod", std::nan(""));
  EXPECT_DOUBLE_EQ(ScaleFactor(&t.setup(), "V", "x"), 1.1 * 48 / 65534);
  for (const auto& row : kEncodeOnly) {
    EXPECT_EQ(row.calc(t.setup()), 1);
    EXPECT_EQ(t.Get(row.name), row.value) << row.name;
  }
  t.Physical({{"ABSTART_MINMOVE_PERCENT", 30}}).Set("Motor_transmission", -1);  // both reversed
  EXPECT_EQ((std::vector<int>{EncodeABSTART_MINMOVE(t.setup()), EncodeTRANSMISSION(t.setup())}),
            (std::vector<int>{1, 1}));
  EXPECT_EQ(t.Get("ABSTART_MINMOVE"), 3000);
  EXPECT_EQ(t.Get("TRANSMISSION"), 1);
}

// Encode then derive: within a step, in the register slot for the load's direction (a reversed
// load swaps the switches), the range from the register's width.
TEST(MotionCalculators, RoundTripWithinOneStep) {
  std::mt19937 random(1234);
  for (const auto& fam : kFamilies) {
    for (double ratio : {1.0, -1.0, 0.37, -2.5}) {
      TestSetup t = Drive(ratio);
      const double k = fam.scale(t.setup()), step = 1 / std::fabs(k);
      std::uniform_real_distribution<double> pick(fam.low * step, fam.high * step);
      for (int i = 0; i < 200; ++i) {
        const double v = pick(random);
        t.Set(fam.name, v);
        ASSERT_EQ(fam.encode(t.setup()), 1);
        ASSERT_NEAR(t.Get(k > 0 ? fam.forward : fam.reversed), v * (fam.low ? k : 1 / step), 0.5);
        t.Set(fam.name, 1e9);
        ASSERT_EQ(fam.derive(t.setup()), 1);
        ASSERT_NEAR(t.Get(fam.name), v, step) << fam.name << " " << ratio;
      }
      EXPECT_DOUBLE_EQ(t.Min(fam.name), fam.low * step);
      EXPECT_DOUBLE_EQ(t.Max(fam.name), fam.high * step);
    }
  }
}

// Every name is probed: a missing one is skipped and nothing is reported. Without the load kind
// the units are linear.
TEST(AssignMotionUnits, LinearOrRotaryAfterTheLoadKindAndTheProbes) {
  for (std::string missing :
       {"", "CADIN", "variable", "POSOKLIM_FC", "TONPOSOK_FC", "isSWLS", "TransmissionType"}) {
    for (double type : {0.0, 1.0, 2.0, -1.0, 0.5}) {  // only 0 is a linear load
      SCOPED_TRACE(missing + " " + std::to_string(type));
      axis::testing::Reports reports;
      TestSetup t;
      if (missing != "TransmissionType") t.Physical({{"TransmissionType", type}});
      for (const char* probe : {"CADIN", "POSOKLIM_FC", "TONPOSOK_FC", "isSWLS"})
        if (missing != probe) t.Registers({{probe, 0}});
      if (missing != "variable") t.Variable("CADIN");
      for (const auto& row : kUnits) row.var ? t.Variable(row.name) : t.Physical({{row.name, 1}});
      EXPECT_EQ(AssignMotionUnits(t.setup()), 1);
      EXPECT_TRUE(reports.messages.empty()) << reports.messages.front();
      const bool linear = type == 0.0 || missing == "TransmissionType";
      for (const auto& row : kUnits) {
        const bool skipped = !missing.empty() && row.probes.find(missing) != std::string::npos;
        const std::string unit =
            row.var ? t->FindVariable(row.name)->GetUnitName() : t->GetParameterUnit(row.name);
        EXPECT_EQ(unit, skipped ? "" : linear ? row.lin : row.rot) << row.name;
      }
    }
  }
}

}  // namespace
}  // namespace kestrel
