#include "conversions/motion_units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "conversions/scales.h"
#include "support/test_setup.h"

namespace kestrel {
namespace {

using axis::testing::TestSetup;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Degrees Celsius as the host spells it: the Latin-1 degree sign 0xB0, then "C".
constexpr const char* kDegC = "\xB0\x43";
constexpr const char* kDegLowerC = "\xB0\x63";

// A drive with easy numbers:
//   Ts_C = 2 x CLPER x PWMPER / DSP_freq = 2 x 1 x 1000 / 40e6 = 5e-5 s, Ts_S = 10 x Ts_C = 5e-4 s
//   ADC full scale N = 65520
//   load position scale f = (Motor_transmission / Load_transmission) / EncRes = 100 / 1e-6 = 1e8
//   load speed scale s = Ts_S x f = 5e4, motor speed scale = Ts_S / EncRes = 500
//   load acceleration scale = f x Ts_S^2 = 25, load jerk scale = f x Ts_S^3 = 0.0125
void AddDrive(TestSetup& t, double motor_transmission = 1.0) {
  t.Physical({{"EncRes", 1e-6},
              {"PolePitch", 0.03},
              {"Motor_transmission", motor_transmission},
              {"Load_transmission", 0.01},
              {"TransmissionType", 0},
              {"Vdc", 48},
              {"VdcMaxMeasurable", 100},
              {"ImaxPS", 10},
              {"CommutationMethod", 0},
              {"AnalogueInputsRange", 20},
              {"DriveTempSensorGain", 0.01},
              {"DriveTempOutputAt0oC", 0.5},
              {"ADCrange", 3.3},
              {"DSP_freq", 40e6}})
      .Registers({{"CLPER", 1}, {"SLPER", 10}, {"PWMPER", 1000}});
  t->SetAdcFullScale(65520);
}

// Collects the host's reports of failed lookups for one test.
class ReportLog {
 public:
  ReportLog() {
    axis::SetErrorReporter([this](const std::string& m) { reports.push_back(m); });
  }
  ~ReportLog() { axis::SetErrorReporter(nullptr); }
  std::vector<std::string> reports;
};

// ---------------------------------------------------------------------------------------------
// GetScaleFactor / GetScaleOffset

struct FactorRow {
  const char* name;
  const char* unit;
  const char* variable;
  double motor_transmission;  // -1 reverses the load
  double expected;
};

TEST(ScaleFactor, FollowsTheUnitThenTheVariable) {
  constexpr double kStep_rad = 9.587672516830327e-05;  // the drive's electric angle step
  const FactorRow rows[] = {
      {"dc bus with trailing blank", "V ", "VDC", 1, 100.0 / 65520.0},
      {"dc bus, lower case", "v ", "anything", 1, 100.0 / 65520.0},
      {"input range itself", "V", "AnalogueInputsRange", 1, 1.0},
      {"dead band point in input volts", "V", "DeadBand_Point", 1, 20.0 / 65520.0},
      {"dead band range", "V", "DeadBand_Range", 1, 20.0 / 65520.0},
      {"AD2", "V", "AD2", 1, 20.0 / 65520.0},
      {"AD2FIL_VAL", "V", "AD2FIL_VAL", 1, 20.0 / 65520.0},
      {"AD5, other case", "v", "ad5", 1, 20.0 / 65520.0},
      {"voltage command", "V", "UREF", 1, 48.0 / 32767.0},
      {"lower-case v is the command too", "v", "UREF", 1, 48.0 / 32767.0},
      // 2 x ImaxPS / N
      {"current", "A", "IQ", 1, 20.0 / 65520.0},
      {"fast period", "s", "Ts_C", 1, 5e-5},
      {"fast period, other case", "S", "TS_C", 1, 5e-5},
      {"any other time is the slow period", "s", "time_ERR_pos", 1, 5e-4},
      {"angle command", "rad", "THTST", 1, kStep_rad},
      {"rotary load position", "rad", "Load_Position", 1, 1e-8},
      {"rotary load position reversed", "rad", "Load_Position", -1, -1e-8},
      {"rotary position limit reversed", "rad", "POS_min", -1, 1e-8},
      {"motor position is EncRes", "m", "Motor_Position", 1, 1e-6},
      {"APOS_MT", "m", "APOS_MT", -1, 1e-6},
      {"load position", "m", "Load_Position", 1, 1e-8},
      {"load position reversed is negative", "m", "Load_Position", -1, -1e-8},
      {"ERR_position reversed stays positive", "m", "ERR_position", -1, 1e-8},
      {"FreezeControl_errband reversed", "m", "FreezeControl_errband", -1, 1e-8},
      {"TestPosition reversed", "m", "TestPosition", -1, 1e-8},
      {"POS_max reversed", "m", "POS_max", -1, 1e-8},
      {"POS_min reversed", "m", "POS_min", -1, 1e-8},
      // (angle step / Ts_C) / P, P = round(MECRESL x ENC2THL / 2^32) = round(30000 x 143166 /
      // 2^32) = 1
      {"electric angle rate", "rad/s", "TINCTST", 1, kStep_rad / 5e-5},
      {"rotary speed limit reversed", "rad/s", "Limit_Speed", -1, 2e-5},
      {"rotary speed reversed", "rad/s", "Load_Speed", -1, -2e-5},
      {"motor speed", "m/s", "Motor_Speed", 1, 1.0 / 500.0},
      {"ASPD is a motor speed", "m/s", "ASPD", -1, 1.0 / 500.0},
      {"ASPD_MT", "m/s", "ASPD_MT", 1, 1.0 / 500.0},
      {"TestMaxSpeed", "m/s", "TestMaxSpeed", 1, 1.0 / 500.0},
      {"SPDREF", "m/s", "SPDREF", 1, 1.0 / 500.0},
      {"SPDREFL", "m/s", "SPDREFL", 1, 1.0 / 500.0},
      {"Motor_Speed_Reference", "m/s", "Motor_Speed_Reference", 1, 1.0 / 500.0},
      {"ERR_speed reversed stays positive", "m/s", "ERR_speed", -1, 2e-5},
      {"Limit_Speed", "m/s", "Limit_Speed", -1, 2e-5},
      {"ErefMaxSpeed", "m/s", "ErefMaxSpeed", -1, 2e-5},
      {"TestSpeed", "m/s", "TestSpeed", -1, 2e-5},
      {"SPD_max", "m/s", "SPD_max", -1, 2e-5},
      {"SPD_min", "m/s", "SPD_min", -1, 2e-5},
      {"load speed", "m/s", "Load_Speed", 1, 2e-5},
      {"load speed reversed", "m/s", "Load_Speed", -1, -2e-5},
      {"linear acceleration", "m/s^2", "CACC", 1, 1.0 / 25.0},
      {"rotary acceleration reversed", "rad/s^2", "CACC", -1, -1.0 / 25.0},
      {"linear jerk", "m/s^3", "JERK", 1, 80.0},
      {"rotary jerk", "RAD/S^3", "JERK", 1, 80.0},
      // ADCrange / (N x gain) = 3.3 / (65520 x 0.01)
      {"temperature", kDegC, "TEMPS", 1, 3.3 / 655.2},
      {"temperature lower case", kDegLowerC, "TEMPS", 1, 3.3 / 655.2},
      {"voltage rate", "V/s", "UREF", 1, (48.0 / 32767.0) / 5e-4},
      {"current rate", "A/s", "IQREF", 1, (20.0 / 65520.0) / 5e-4},
      {"unknown unit", "Hz", "PWM_freq", 1, 1.0},
      {"no unit", "", "CADIN", 1, 1.0},
      {"degrees without the sign are unknown", "C", "TEMPS", 1, 1.0},
      {"V with two blanks is unknown", "V  ", "VDC", 1, 1.0},
  };
  for (const FactorRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddDrive(t, row.motor_transmission);
    t.Registers({{"MECRESL", 30000}, {"ENC2THL", 143166}});
    const double factor = ScaleFactor(&t.setup(), row.unit, row.variable);
    EXPECT_NEAR(factor, row.expected, std::fabs(row.expected) * 1e-12);
  }
}

TEST(ScaleFactor, ElectricAngleRateDividesByThePolePairs) {
  struct Row {
    const char* name;
    double mecresl, enc2thl;
    double pole_pairs;
  };
  // MECRESL x ENC2THL / 2^32 rounded to an integer.
  const Row rows[] = {
      {"one pair", 65536, 65536, 1},
      {"two pairs", 131072, 65536, 2},
      {"rounded up", 65536, 98304, 2},    // 1.5 -> 2
      {"rounded down", 65536, 91750, 1},  // 1.39999 -> 1
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddDrive(t);
    t.Registers({{"MECRESL", row.mecresl}, {"ENC2THL", row.enc2thl}});
    EXPECT_DOUBLE_EQ(ScaleFactor(&t.setup(), "rad/s", "TINCTST"),
                     9.587672516830327e-05 / 5e-5 / row.pole_pairs);
  }
}

TEST(ScaleFactor, SinusoidalModeFlagSwitchesTheVoltageCommandOnly) {
  TestSetup t;
  AddDrive(t);
  ASSERT_EQ(g_bKufSinusoidalMode, 0);
  EXPECT_DOUBLE_EQ(ScaleFactor(&t.setup(), "V", "UREF"), 48.0 / 32767.0);
  g_bKufSinusoidalMode = 1;
  const double sinusoidal = ScaleFactor(&t.setup(), "V", "UREF");
  const double dc_bus = ScaleFactor(&t.setup(), "V ", "VDC");
  g_bKufSinusoidalMode = 0;
  EXPECT_DOUBLE_EQ(sinusoidal, 1.1 * 48.0 / 65534.0);
  EXPECT_DOUBLE_EQ(dc_bus, 100.0 / 65520.0);
  // Sinusoidal commutation uses the same form without the flag; NaN counts as non-zero.
  t.Set("CommutationMethod", 1);
  EXPECT_DOUBLE_EQ(ScaleFactor(&t.setup(), "V", "UREF"), 1.1 * 48.0 / 65534.0);
  t.Set("CommutationMethod", kNaN);
  EXPECT_DOUBLE_EQ(ScaleFactor(&t.setup(), "V", "UREF"), 1.1 * 48.0 / 65534.0);
}

TEST(ScaleFactor, NullArgumentsGiveNeutralValues) {
  TestSetup t;
  AddDrive(t);
  EXPECT_EQ(ScaleFactor(nullptr, "m", "Load_Position"), 1.0);
  EXPECT_EQ(ScaleOffset(nullptr, kDegC), 0.0);
  EXPECT_EQ(ScaleFactor(&t.setup(), nullptr, "Load_Position"), 1.0);
  EXPECT_EQ(ScaleOffset(&t.setup(), nullptr), 0.0);
  // A null variable name takes the unit's default row.
  EXPECT_DOUBLE_EQ(ScaleFactor(&t.setup(), "m", nullptr), 1e-8);
}

TEST(ScaleOffset, OnlyTemperatureHasAnOffset) {
  TestSetup t;
  AddDrive(t);
  // -(N x output at 0 degrees / ADCrange) = -(65520 x 0.5 / 3.3)
  const double expected = -65520.0 * 0.5 / 3.3;
  EXPECT_DOUBLE_EQ(ScaleOffset(&t.setup(), kDegC), expected);
  EXPECT_DOUBLE_EQ(ScaleOffset(&t.setup(), kDegLowerC), expected);
  for (const char* unit : {"V", "V ", "A", "s", "m", "m/s", "rad", "Hz", "", "C", "\xB0"}) {
    SCOPED_TRACE(unit);
    EXPECT_EQ(ScaleOffset(&t.setup(), unit), 0.0);
  }
}

TEST(ScaleFactor, DrivesTheSetupsInternalUnits) {
  TestSetup t;
  AddDrive(t);
  t.Physical({{"Temp_2", 25, kDegC}, {"Negative_SWLS", -0.01, "m"}});
  t->SetScaleProvider({&ScaleFactor, &ScaleOffset});
  // 25 degrees: the sensor gives 0.5 + 25 x 0.01 = 0.75 V, read as 0.75 / 3.3 x 65520 counts.
  EXPECT_NEAR(t->FindParameter("Temp_2")->GetValueInInternalUnit(), 0.75 / 3.3 * 65520.0, 1e-9);
  // -1 cm of load travel is -1e6 encoder counts with f = 1e8.
  EXPECT_NEAR(t->FindParameter("Negative_SWLS")->GetValueInInternalUnit(), -1e6, 1e-6);
  t->FindParameter("Temp_2")->SetValueInInternalUnit(0.5 / 3.3 * 65520.0);
  EXPECT_NEAR(t.Get("Temp_2"), 0.0, 1e-12);
}

TEST(ScaleFactor, DegenerateSetupsGiveValuesWithoutStopping) {
  const char* fields[] = {"EncRes", "Load_transmission", "Vdc",      "VdcMaxMeasurable",
                          "ImaxPS", "ADCrange",          "DSP_freq", "DriveTempSensorGain"};
  const double values[] = {0.0, -0.0, kNaN, kInf, -kInf, -1.0};
  const char* queries[][2] = {
      {"V ", "VDC"},     {"V", "UREF"},   {"V", "AD5"},         {"A", "IQ"},
      {"s", "Ts_C"},     {"s", "x"},      {"rad/s", "TINCTST"}, {"m", "POS_max"},
      {"m", "APOS"},     {"m/s", "ASPD"}, {"m/s", "SPD_min"},   {"m/s^2", "CACC"},
      {"m/s^3", "JERK"}, {"V/s", "x"},    {"A/s", "x"},         {kDegC, "T"}};
  for (const char* field : fields) {
    for (double value : values) {
      SCOPED_TRACE(std::string(field) + " = " + std::to_string(value));
      TestSetup t;
      AddDrive(t);
      t.Registers({{"MECRESL", 0}, {"ENC2THL", 0}});  // zero pole pairs
      t.Set(field, value);
      for (const auto& q : queries) {
        (void)ScaleFactor(&t.setup(), q[0], q[1]);
        (void)ScaleOffset(&t.setup(), q[0]);
      }
    }
  }
  // A zero encoder resolution makes positions zero per count rather than failing.
  TestSetup t;
  AddDrive(t);
  t.Set("EncRes", 0.0);
  EXPECT_EQ(ScaleFactor(&t.setup(), "m", "Motor_Position"), 0.0);
}

// ---------------------------------------------------------------------------------------------
// AssignMotionUnits

struct UnitRow {
  const char* name;
  bool variable;
  const char* linear;
  const char* rotary;
};

// Every name AssignMotionUnits knows, with the unit each load kind gives it.
const UnitRow kUnitRows[] = {
    {"Load_transmission", false, "mm", "rot"},
    {"TestSpeed", false, "m/s", "rpm"},
    {"Limit_Speed", false, "m/s", "rad/s"},
    {"TestPosition", false, "mm", "rot"},
    {"ERR_position", false, "mm", "rot"},
    {"ERR_speed", false, "m/s", "rad/s"},
    {"POS_max", false, "mm", "rot"},
    {"POS_min", false, "mm", "rot"},
    {"SPD_max", false, "m/s", "rpm"},
    {"SPD_min", false, "m/s", "rpm"},
    {"ErefMaxSpeed", false, "m/s", "rpm"},
    {"ErefMaxAcceleration", false, "m/s^2", "rad/s^2"},
    {"FreezeControl_errband", false, "mm", "rot"},
    {"Negative_SWLS", false, "mm", "rot"},
    {"Positive_SWLS", false, "mm", "rot"},
    {"Load_Position", true, "mm", "rot"},
    {"Load_Speed", true, "m/s", "rpm"},
    {"Target_Position", true, "mm", "rot"},
    {"Target_Speed", true, "m/s", "rpm"},
    {"Speed_Reference", true, "m/s", "rpm"},
    {"Position_Error", true, "mm", "rot"},
    {"Speed_Error", true, "m/s", "rpm"},
    {"Pulse_Dir_Input_Speed", true, "m/s", "rpm"},
    {"Pulse_Dir_Input_Position", true, "mm", "rot"},
    {"APOS", true, "mm", "rot"},
    {"APOS_MT", true, "mm", "mm"},
    {"APOS_LD", true, "mm", "rot"},
    {"ASPD", true, "m/s", "m/s"},
    {"ASPD_MT", true, "m/s", "m/s"},
    {"ASPD_LD", true, "m/s", "rpm"},
    {"CACC", true, "m/s^2", "rad/s^2"},
    {"CAPPOS", true, "mm", "rot"},
    {"CDEC", true, "m/s^2", "rad/s^2"},
    {"CPOS", true, "mm", "rot"},
    {"CSPD", true, "m/s", "rpm"},
    {"EREFP", true, "mm", "rot"},
    {"EREFS", true, "m/s", "rpm"},
    {"ERRMAX", true, "mm", "rot"},
    {"HOMEPOS", true, "mm", "rot"},
    {"HOMESPD", true, "m/s", "rpm"},
    {"JERK", true, "m/s^3", "rad/s^3"},
    {"POSERR", true, "mm", "rot"},
    {"POSINIT", true, "mm", "rot"},
    {"POSOKLIM", true, "mm", "rot"},
    {"POSTRIGG1", true, "mm", "rot"},
    {"POSTRIGG2", true, "mm", "rot"},
    {"POSTRIGG3", true, "mm", "rot"},
    {"POSTRIGG4", true, "mm", "rot"},
    {"SERRMAX", true, "m/s", "rpm"},
    {"SPDERR", true, "m/s", "rpm"},
    {"SPDREF", true, "m/s", "rpm"},
    {"TACC", true, "m/s^2", "rad/s^2"},
    {"TPOS", true, "mm", "rot"},
    {"TPOSFAST", true, "mm", "rot"},
    {"TSPD", true, "m/s", "rpm"},
};

// Base unit of the family a display unit belongs to, to start each quantity in the other family.
const char* OtherFamilyBase(const char* unit) {
  const std::string u = unit;
  if (u == "mm") return "rad";
  if (u == "rot") return "m";
  if (u == "m/s^2") return "rad/s^2";
  if (u == "rad/s^2") return "m/s^2";
  if (u == "m/s^3") return "rad/s^3";
  if (u == "rad/s^3") return "m/s^3";
  if (u == "m/s") return "rad/s";
  return "m/s";  // rpm, rad/s
}

const char* UnitOf(TestSetup& t, const UnitRow& row) {
  if (row.variable) return t->FindVariable(row.name)->GetUnitName();
  return t->FindParameter(row.name)->GetUnitName();
}

// A setup holding every name above, each starting in the family opposite to its expected unit.
void AddEverything(TestSetup& t, double transmission_type) {
  t.Physical({{"TransmissionType", transmission_type}});
  for (const UnitRow& row : kUnitRows) {
    const char* expected = transmission_type == 0.0 ? row.linear : row.rotary;
    if (row.variable) {
      t.Variable(row.name, OtherFamilyBase(expected));
    } else {
      t.Physical({{row.name, 1.0, OtherFamilyBase(expected)}});
    }
  }
  t.Variable("CADIN");
  t.Registers({{"CADIN", 0}, {"POSOKLIM_FC", 0}, {"TONPOSOK_FC", 0}, {"isSWLS", 0}});
}

TEST(AssignMotionUnits, GivesLinearOrRotaryUnitsAfterTheLoadKind) {
  for (double type : {0.0, 1.0, 2.0, -1.0, 0.5}) {
    SCOPED_TRACE(type);
    TestSetup t;
    AddEverything(t, type);
    EXPECT_EQ(AssignMotionUnits(t.setup()), 1);
    for (const UnitRow& row : kUnitRows) {
      SCOPED_TRACE(row.name);
      EXPECT_STREQ(UnitOf(t, row), type == 0.0 ? row.linear : row.rotary);
    }
  }
}

TEST(AssignMotionUnits, LeavesGuardedGroupsAloneWhenTheirProbeFails) {
  struct Row {
    const char* name;
    std::vector<const char*> removed;  // absent from the setup
    std::vector<const char*> untouched;
    std::vector<const char*> changed;
  };
  const Row rows[] = {
      {"no CADIN parameter",
       {"CADIN"},
       {"POS_max", "POS_min", "SPD_max", "SPD_min"},
       {"ErefMaxSpeed"}},
      {"no TONPOSOK_FC", {"TONPOSOK_FC"}, {"FreezeControl_errband"}, {"ERR_position"}},
      {"no POSOKLIM_FC", {"POSOKLIM_FC"}, {"FreezeControl_errband"}, {"TestPosition"}},
      {"no isSWLS", {"isSWLS"}, {"Negative_SWLS", "Positive_SWLS"}, {"Limit_Speed"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    t.Physical({{"TransmissionType", 1}});
    for (const char* name : {"POS_max", "POS_min", "FreezeControl_errband", "Negative_SWLS",
                             "Positive_SWLS", "ERR_position", "TestPosition"}) {
      t.Physical({{name, 0, "m"}});
    }
    for (const char* name : {"SPD_max", "SPD_min", "ErefMaxSpeed", "Limit_Speed"}) {
      t.Physical({{name, 0, "m/s"}});
    }
    t.Variable("CADIN");
    for (const char* reg : {"CADIN", "POSOKLIM_FC", "TONPOSOK_FC", "isSWLS"}) {
      bool absent = false;
      for (const char* r : row.removed) absent = absent || std::string(r) == reg;
      if (!absent) t.Registers({{reg, 0}});
    }
    ReportLog log;
    AssignMotionUnits(t.setup());
    EXPECT_TRUE(log.reports.empty());
    for (const char* name : row.untouched) {
      SCOPED_TRACE(name);
      const std::string unit = t->FindParameter(name)->GetUnitName();
      EXPECT_TRUE(unit == "m" || unit == "m/s") << unit;
    }
    for (const char* name : row.changed) {
      SCOPED_TRACE(name);
      const std::string unit = t->FindParameter(name)->GetUnitName();
      EXPECT_TRUE(unit == "rot" || unit == "rpm" || unit == "rad/s") << unit;
    }
  }
}

TEST(AssignMotionUnits, NeedsNoVariableOrReferenceToRun) {
  TestSetup t;
  t.Physical({{"TransmissionType", 1}, {"Limit_Speed", 1, "m/s"}});
  t.Registers({{"CADIN", 0}});  // parameter without the variable: no analogue reference
  t.Physical({{"POS_max", 0, "m"}});
  ReportLog log;
  EXPECT_EQ(AssignMotionUnits(t.setup()), 1);
  EXPECT_TRUE(log.reports.empty());
  EXPECT_STREQ(t->FindParameter("Limit_Speed")->GetUnitName(), "rad/s");
  EXPECT_STREQ(t->FindParameter("POS_max")->GetUnitName(), "m");
}

// ---------------------------------------------------------------------------------------------
// Software limit switches

struct SoftwareLimitRow {
  const char* name;
  double motor_transmission;
  double swneg, swpos;            // registers, counts
  double negative_m, positive_m;  // expected physical limits
};

TEST(SoftwareLimits, DecodeSwapsTheRegistersForAReversedLoad) {
  // f = +-1e8 counts per metre of load.
  const SoftwareLimitRow rows[] = {
      {"forward", 1, -1e6, 2e6, -0.01, 0.02},
      // reversed: the load's negative limit is the motor's positive one, sign changed
      {"reversed", -1, -1e6, 2e6, -0.02, 0.01},
  };
  for (const SoftwareLimitRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddDrive(t, row.motor_transmission);
    t.Physical({{"Negative_SWLS", 0}, {"Positive_SWLS", 0}});
    t.Registers({{"SWNEGLS", row.swneg}, {"SWPOSLS", row.swpos}});
    EXPECT_EQ(DeriveNegativeSWLS(t.setup()), 1);
    EXPECT_EQ(DerivePositiveSWLS(t.setup()), 1);
    EXPECT_DOUBLE_EQ(t.Get("Negative_SWLS"), row.negative_m);
    EXPECT_DOUBLE_EQ(t.Get("Positive_SWLS"), row.positive_m);
    for (const char* name : {"Negative_SWLS", "Positive_SWLS"}) {
      EXPECT_DOUBLE_EQ(t.Min(name), -2147483648.0 / 1e8);
      EXPECT_DOUBLE_EQ(t.Max(name), 2147483647.0 / 1e8);
    }
  }
}

TEST(SoftwareLimits, EncodeWritesTheMotorsRegisters) {
  const SoftwareLimitRow rows[] = {
      {"forward", 1, -1e6, 2e6, -0.01, 0.02},
      {"reversed", -1, -1e6, 2e6, -0.02, 0.01},
  };
  for (const SoftwareLimitRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddDrive(t, row.motor_transmission);
    t.Physical({{"Negative_SWLS", row.negative_m}, {"Positive_SWLS", row.positive_m}});
    t.Registers({{"SWNEGLS", 7}, {"SWPOSLS", 7}});
    EXPECT_EQ(EncodeNegativeSWLS(t.setup()), 1);
    EXPECT_EQ(EncodePositiveSWLS(t.setup()), 1);
    EXPECT_EQ(t.Get("SWNEGLS"), row.swneg);
    EXPECT_EQ(t.Get("SWPOSLS"), row.swpos);
  }
}

TEST(SoftwareLimits, RoundTripWithinOneCount) {
  std::mt19937 random(1234);
  std::uniform_real_distribution<double> position_m(-20.0, 20.0);  // within +-2^31 counts
  for (double motor_transmission : {1.0, -1.0, 0.37, -2.5}) {
    SCOPED_TRACE(motor_transmission);
    TestSetup t;
    AddDrive(t, motor_transmission);
    t.Physical({{"Negative_SWLS", 0}, {"Positive_SWLS", 0}});
    t.Registers({{"SWNEGLS", 0}, {"SWPOSLS", 0}});
    const double count_m = 0.01 / (std::fabs(motor_transmission) * 1e6);  // one count of load
    for (int i = 0; i < 500; ++i) {
      double low = position_m(random) * std::fabs(1.0 / motor_transmission) / 2.6;
      double high = position_m(random) * std::fabs(1.0 / motor_transmission) / 2.6;
      if (low > high) std::swap(low, high);
      t.Set("Negative_SWLS", low);
      t.Set("Positive_SWLS", high);
      EncodeNegativeSWLS(t.setup());
      EncodePositiveSWLS(t.setup());
      // The motor's limits stay ordered whatever the transmission's sign.
      ASSERT_LE(t.Get("SWNEGLS"), t.Get("SWPOSLS"));
      t.Set("Negative_SWLS", 1e9);
      t.Set("Positive_SWLS", 1e9);
      DeriveNegativeSWLS(t.setup());
      DerivePositiveSWLS(t.setup());
      ASSERT_NEAR(t.Get("Negative_SWLS"), low, count_m);
      ASSERT_NEAR(t.Get("Positive_SWLS"), high, count_m);
    }
  }
}

TEST(SoftwareLimits, MissingNamesChangeNothing) {
  const char* all[] = {"Negative_SWLS", "SWNEGLS", "SWPOSLS"};
  for (const char* missing : all) {
    SCOPED_TRACE(missing);
    TestSetup t;
    AddDrive(t);
    for (const char* name : all) {
      if (std::string(name) != missing) t.Registers({{name, 5}});
    }
    t.Physical({{"Positive_SWLS", 5}});
    EXPECT_EQ(DeriveNegativeSWLS(t.setup()), 0);
    EXPECT_EQ(EncodeNegativeSWLS(t.setup()), 0);
    for (const char* name : all) {
      if (std::string(name) != missing) {
        EXPECT_EQ(t.Get(name), 5);
      }
    }
  }
}

TEST(SoftwareLimits, DegenerateScalesDoNotStopThePass) {
  struct Row {
    const char* name;
    const char* field;
    double value;
    int derived;  // result of the decode: a NaN scale refuses the range
  };
  const Row rows[] = {
      {"zero resolution", "EncRes", 0.0, 1},
      {"zero load ratio", "Load_transmission", 0.0, 1},
      {"zero motor ratio", "Motor_transmission", 0.0, 1},
      {"NaN resolution", "EncRes", kNaN, 0},
      {"infinite resolution", "EncRes", kInf, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddDrive(t);
    t.Physical({{"Negative_SWLS", 0.25}, {"Positive_SWLS", 0.5}});
    t.Registers({{"SWNEGLS", -100}, {"SWPOSLS", 100}});
    t.Set(row.field, row.value);
    EXPECT_EQ(DeriveNegativeSWLS(t.setup()), row.derived);
    if (row.derived == 0) {
      EXPECT_EQ(t.Get("Negative_SWLS"), 0.25);
    }
    EXPECT_EQ(EncodePositiveSWLS(t.setup()), 1);
  }
}

// ---------------------------------------------------------------------------------------------
// External reference profile

TEST(ReferenceProfile, DecodesPositiveWhateverTheTransmission) {
  struct Row {
    const char* name;
    double motor_transmission;
    int (*derive)(CMC_Setup&);
    const char* physical;
    const char* reg;
    double counts;
    double expected;
    double maximum;
  };
  // |s| = 5e4 per m/s, |a| = 25 per m/s^2.
  const Row rows[] = {
      {"speed", 1, DeriveErefMaxSpeed, "ErefMaxSpeed", "CSPD", 1000, 0.02, 32767.0 / 5e4},
      {"speed reversed", -1, DeriveErefMaxSpeed, "ErefMaxSpeed", "CSPD", 1000, 0.02, 32767.0 / 5e4},
      {"acceleration", 1, DeriveErefMaxAcceleration, "ErefMaxAcceleration", "CACC", 100, 4.0,
       32767.0 / 25.0},
      {"acceleration reversed", -1, DeriveErefMaxAcceleration, "ErefMaxAcceleration", "CACC", 100,
       4.0, 32767.0 / 25.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddDrive(t, row.motor_transmission);
    t.Physical({{row.physical, -1}});
    t.Registers({{row.reg, row.counts}});
    EXPECT_EQ(row.derive(t.setup()), 1);
    EXPECT_DOUBLE_EQ(t.Get(row.physical), row.expected);
    EXPECT_EQ(t.Min(row.physical), 0.0);
    EXPECT_DOUBLE_EQ(t.Max(row.physical), row.maximum);
  }
}

TEST(ReferenceProfile, RoundTripWithinOneStep) {
  std::mt19937 random(99);
  for (double motor_transmission : {1.0, -1.0, -0.3}) {
    SCOPED_TRACE(motor_transmission);
    TestSetup t;
    AddDrive(t, motor_transmission);
    t.Physical({{"ErefMaxSpeed", 0}, {"ErefMaxAcceleration", 0}});
    t.Registers({{"CSPD", 0}, {"CACC", 0}});
    const double speed_step = 1.0 / (5e4 * std::fabs(motor_transmission));
    const double acceleration_step = 1.0 / (25.0 * std::fabs(motor_transmission));
    std::uniform_real_distribution<double> speed(0.0, 32767.0 * speed_step);
    std::uniform_real_distribution<double> acceleration(0.0, 32767.0 * acceleration_step);
    for (int i = 0; i < 300; ++i) {
      const double v = speed(random), a = acceleration(random);
      t.Set("ErefMaxSpeed", v);
      t.Set("ErefMaxAcceleration", a);
      EncodeErefMaxAcceleration(t.setup());
      EncodeErefMaxSpeed(t.setup());
      ASSERT_GE(t.Get("CSPD"), 0.0);
      ASSERT_GE(t.Get("CACC"), 0.0);
      t.Set("ErefMaxSpeed", -1);
      t.Set("ErefMaxAcceleration", -1);
      DeriveErefMaxSpeed(t.setup());
      DeriveErefMaxAcceleration(t.setup());
      ASSERT_NEAR(t.Get("ErefMaxSpeed"), v, speed_step);
      ASSERT_NEAR(t.Get("ErefMaxAcceleration"), a, acceleration_step);
    }
  }
}

TEST(ReferenceProfile, ZeroPeriodDoesNotStopThePass) {
  TestSetup t;
  AddDrive(t);
  t.Physical({{"ErefMaxSpeed", 0.3}, {"ErefMaxAcceleration", 2}});
  t.Registers({{"CSPD", 10}, {"CACC", 10}});
  t.Set("PWMPER", 0);  // Ts_S = 0: the scales vanish
  EXPECT_EQ(DeriveErefMaxSpeed(t.setup()), 1);
  EXPECT_TRUE(std::isinf(t.Get("ErefMaxSpeed")));
  t.Set("ErefMaxSpeed", 0.3);
  EXPECT_EQ(EncodeErefMaxSpeed(t.setup()), 1);
  EXPECT_EQ(t.Get("CSPD"), 0);
  t.Set("EncRes", kNaN);
  EXPECT_EQ(DeriveErefMaxAcceleration(t.setup()), 0);  // NaN range refused
  EXPECT_EQ(t.Get("ErefMaxAcceleration"), 2);
}

// ---------------------------------------------------------------------------------------------
// Encoder and transmission registers

TEST(EncoderRegisters, CountsPerPitchAndAnglePerCount) {
  struct Row {
    const char* name;
    double pitch_m, resolution_m;
    double counts;  // MECRESL and ELRESL, stored rounded
    double angle;   // ENC2THL = 2^32 x EncRes / PolePitch, stored rounded
  };
  const Row rows[] = {
      {"2^16 counts per pitch", 0.032, 0.032 / 65536.0, 65536, 65536},
      {"30000 counts per pitch", 0.03, 1e-6, 30000, 143166},  // 143165.58 rounded
      {"1000 counts per pitch", 0.001, 1e-6, 1000, 4294967},  // 4294967.296 rounded
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddDrive(t);
    t.Set("PolePitch", row.pitch_m);
    t.Set("EncRes", row.resolution_m);
    t.Registers({{"MECRESL", 0}, {"ELRESL", 0}, {"ENC2THL", 0}});
    EXPECT_EQ(EncodeMECRESL(t.setup()), 1);
    EXPECT_EQ(EncodeELRESL(t.setup()), 1);
    EXPECT_EQ(EncodeENC2THL(t.setup()), 1);
    EXPECT_EQ(t.Get("MECRESL"), row.counts);
    EXPECT_EQ(t.Get("ELRESL"), row.counts);
    EXPECT_EQ(t.Get("ENC2THL"), row.angle);
    // Encoded this way the registers describe one pole pair.
    EXPECT_DOUBLE_EQ(ScaleFactor(&t.setup(), "rad/s", "TINCTST"), 9.587672516830327e-05 / 5e-5);
  }
}

TEST(EncoderRegisters, StartMoveIsAShareOfAThirdOfAPitch) {
  struct Row {
    const char* name;
    double percent;  // < 0: no "ABSTART_MINMOVE_PERCENT"
    double expected;
  };
  // 0.03 m / 1e-6 m = 30000 counts per pitch, a third is 10000.
  const Row rows[] = {
      {"default 60 %", -1, 6000},
      {"30 %", 30, 3000},
      {"100 %", 100, 10000},
      {"0 %", 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddDrive(t);
    t.Registers({{"ABSTART_MINMOVE", 1}});
    if (row.percent >= 0) t.Physical({{"ABSTART_MINMOVE_PERCENT", row.percent}});
    ReportLog log;
    EXPECT_EQ(EncodeABSTART_MINMOVE(t.setup()), 1);
    EXPECT_TRUE(log.reports.empty());  // the optional percentage is probed quietly
    EXPECT_EQ(t.Get("ABSTART_MINMOVE"), row.expected);
  }
  TestSetup t;
  AddDrive(t);
  EXPECT_EQ(EncodeABSTART_MINMOVE(t.setup()), 0);
}

TEST(EncoderRegisters, TransmissionSign) {
  struct Row {
    double motor, load, expected;
  };
  const Row rows[] = {{1, 0.01, 1}, {-1, 0.01, -1}, {1, -0.01, -1}, {-2, -3, 1},
                      {0, 1, 1},    {kNaN, 1, 1},   {1, 0, 1},      {-1, 0, -1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.motor << " / " << row.load);
    TestSetup t;
    AddDrive(t);
    t.Set("Motor_transmission", row.motor);
    t.Set("Load_transmission", row.load);
    t.Registers({{"TRANSMISSION", 5}});
    EXPECT_EQ(EncodeTRANSMISSION(t.setup()), 1);
    EXPECT_EQ(t.Get("TRANSMISSION"), row.expected);
  }
}

TEST(EncoderRegisters, ZeroDivisorsDoNotStopThePass) {
  for (const char* field : {"PolePitch", "EncRes"}) {
    for (double value : {0.0, kNaN, kInf}) {
      SCOPED_TRACE(std::string(field) + " " + std::to_string(value));
      TestSetup t;
      AddDrive(t);
      t.Registers({{"MECRESL", 1}, {"ELRESL", 1}, {"ENC2THL", 1}, {"ABSTART_MINMOVE", 1}});
      t.Set(field, value);
      EXPECT_EQ(EncodeMECRESL(t.setup()), 1);
      EXPECT_EQ(EncodeELRESL(t.setup()), 1);
      EXPECT_EQ(EncodeENC2THL(t.setup()), 1);
      EXPECT_EQ(EncodeABSTART_MINMOVE(t.setup()), 1);
    }
  }
}

TEST(EncoderRegisters, MissingNamesChangeNothing) {
  TestSetup t;
  t.Physical({{"PolePitch", 0.03}});
  t.Registers({{"MECRESL", 4}, {"ELRESL", 4}, {"ENC2THL", 4}, {"TRANSMISSION", 4}});
  EXPECT_EQ(EncodeMECRESL(t.setup()), 0);
  EXPECT_EQ(EncodeELRESL(t.setup()), 0);
  EXPECT_EQ(EncodeENC2THL(t.setup()), 0);
  EXPECT_EQ(EncodeTRANSMISSION(t.setup()), 0);
  for (const char* name : {"MECRESL", "ELRESL", "ENC2THL", "TRANSMISSION"}) {
    EXPECT_EQ(t.Get(name), 4);
  }
}

}  // namespace
}  // namespace kestrel
