#include "tuning/parameter_limits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "conversions/motion_units.h"
#include "support/test_setup.h"

namespace kestrel {
namespace {

using axis::testing::TestSetup;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kUnset = 1e300;  // TestSetup's range: [-1e300, 1e300]

// Ts_S = 2 x SLPER x PWMPER / DSP_freq = 2 x 10 x 1000 / 40e6 = 5e-4 s
// f = (Motor_transmission / Load_transmission) / EncRes = +-1e6 counts per metre of load
// s = Ts_S x f = +-500 per m/s
void AddDrive(TestSetup& t, double motor_transmission = 1.0) {
  t.Physical({{"EncRes", 1e-6},
              {"PolePitch", 0.03},
              {"Motor_transmission", motor_transmission},
              {"Load_transmission", 1},
              {"DSP_freq", 40e6},
              {"ImaxPS", 10},
              {"Limit_Speed", 3}})
      .Registers({{"CLPER", 1}, {"SLPER", 10}, {"PWMPER", 1000}});
  t->SetAdcFullScale(4096);
}

class ReportLog {
 public:
  ReportLog() {
    axis::SetErrorReporter([this](const std::string& m) { reports.push_back(m); });
  }
  ~ReportLog() { axis::SetErrorReporter(nullptr); }
  std::vector<std::string> reports;
};

struct LimitRow {
  const char* name;
  double min, max;
};

void ExpectLimits(TestSetup& t, const LimitRow& row) {
  SCOPED_TRACE(row.name);
  EXPECT_NEAR(t.Min(row.name), row.min, std::fabs(row.min) * 1e-12);
  EXPECT_NEAR(t.Max(row.name), row.max, std::fabs(row.max) * 1e-12);
}

TEST(ParameterLimits, ErrorsTimesAndPassBands) {
  for (double motor_transmission : {1.0, -1.0}) {
    SCOPED_TRACE(motor_transmission);
    TestSetup t;
    AddDrive(t, motor_transmission);
    t.Physical({{"ERR_speed", 0},
                {"ERR_position", 0},
                {"time_ERR_spd", 0},
                {"time_ERR_pos", 0},
                {"PB_C", 0},
                {"PB_C_minim", 100},
                {"PB_C_maxim", 5000},
                {"PB_S", 0},
                {"PB_S_minim", 10},
                {"PB_S_maxim", 500},
                {"PB_P", 0},
                {"PB_P_minim", 1},
                {"PB_P_maxim", 50}});
    ComputeParameterLimits(t.setup());
    const LimitRow rows[] = {
        {"ERR_speed", -kUnset, 32767.0 / 500.0},  // positive for a reversed load too
        {"ERR_position", -kUnset, 32767.0 / 1e6},
        {"time_ERR_spd", -kUnset, 32767.0 * 5e-4},
        {"time_ERR_pos", -kUnset, 32767.0 * 5e-4},
        {"PB_C", 100, 5000},
        {"PB_S", 10, 500},
        {"PB_P", 1, 50},
    };
    for (const LimitRow& row : rows) ExpectLimits(t, row);
  }
}

TEST(ParameterLimits, TestProfileTimesCountSlowLoopSamples) {
  TestSetup t;
  AddDrive(t);
  for (const char* name : {"TPP", "TNP", "TaPP", "TaNP", "TPS", "TNS", "TaPS", "TaNS"}) {
    t.Physical({{name, 0.01}});
  }
  ComputeParameterLimits(t.setup());
  // [1 or 2 samples, 65535 samples] of 5e-4 s; the position test accelerates over two at least.
  const LimitRow rows[] = {
      {"TPP", 5e-4, 32.7675},  {"TNP", 5e-4, 32.7675},  {"TaPP", 1e-3, 32.7675},
      {"TaNP", 1e-3, 32.7675}, {"TPS", 5e-4, 32.7675},  {"TNS", 5e-4, 32.7675},
      {"TaPS", 5e-4, 32.7675}, {"TaNS", 5e-4, 32.7675},
  };
  for (const LimitRow& row : rows) ExpectLimits(t, row);
}

TEST(ParameterLimits, TestPositionFollowsTheShorterAccelerationTime) {
  struct Row {
    const char* name;
    double motor_transmission, tapp, tanp;
    double limit;
  };
  // L = min(TaPP, TaNP) / Ts_S x 32767 / |f|
  const Row rows[] = {
      {"positive shorter", 1, 0.01, 0.02, 20 * 0.032767},
      {"negative shorter", 1, 0.02, 0.01, 20 * 0.032767},
      {"reversed load", -1, 0.005, 0.02, 10 * 0.032767},
      {"equal", 1, 0.1, 0.1, 200 * 0.032767},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddDrive(t, row.motor_transmission);
    t.Physical({{"TestPosition", 0}, {"TaPP", row.tapp}, {"TaNP", row.tanp}});
    ComputeParameterLimits(t.setup());
    ExpectLimits(t, {"TestPosition", -row.limit, row.limit});
  }
}

TEST(ParameterLimits, TestSpeedIsTheSmallerOfScaleAndSpeedLimit) {
  struct Row {
    double limit_speed, expected;
  };
  const Row rows[] = {{3, 3}, {100, 32767.0 / 500.0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.limit_speed);
    TestSetup t;
    AddDrive(t, -1);
    t.Set("Limit_Speed", row.limit_speed);
    t.Physical({{"TestSpeed", 0}});
    ComputeParameterLimits(t.setup());
    ExpectLimits(t, {"TestSpeed", -row.expected, row.expected});
  }
}

TEST(ParameterLimits, EncoderResolutionStaysBelowOnePitch) {
  TestSetup t;
  AddDrive(t);
  ComputeParameterLimits(t.setup());
  EXPECT_EQ(t.Max("EncRes"), 0.03);
  t.Set("PolePitch", 0.012);
  SetEncResMaximum(t.setup());
  EXPECT_EQ(t.Max("EncRes"), 0.012);
  EXPECT_EQ(t.Min("EncRes"), -kUnset);
}

TEST(ParameterLimits, MaxCurrentOnlyWithTheAngleController) {
  struct Row {
    const char* name;
    bool kptht;
    double in, in_ps;
    double min, max;
  };
  const Row rows[] = {
      {"motor current smaller", true, 4, 6, 0, 4},
      {"drive current smaller", true, 7, 6, 0, 6},
      {"no KPTHT", false, 4, 6, -kUnset, kUnset},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (bool alone : {false, true}) {
      TestSetup t;
      AddDrive(t);
      t.Physical({{"MAX_CURRENT", 1}, {"In", row.in}, {"InPS", row.in_ps}});
      if (row.kptht) t.Registers({{"KPTHT", 0}});
      ReportLog log;
      if (alone) {
        SetMaxCurrentRange(t.setup());
      } else {
        ComputeParameterLimits(t.setup());
      }
      EXPECT_TRUE(log.reports.empty());
      EXPECT_EQ(t.Min("MAX_CURRENT"), row.min);
      EXPECT_EQ(t.Max("MAX_CURRENT"), row.max);
    }
  }
}

TEST(ParameterLimits, ReferenceLimitsOnlyWithAnAnalogueReference) {
  for (bool reference : {true, false}) {
    SCOPED_TRACE(reference);
    TestSetup t;
    AddDrive(t);
    t.Physical({{"filter", 10},
                {"AnalogueInputsRange", 5},
                {"DeadBand_Point", 1},
                {"DeadBand_Range", 0},
                {"POS_min", -0.001},
                {"POS_max", 0.002},
                {"SPD_min", -1},
                {"SPD_max", 2},
                {"CRT_min", -1},
                {"CRT_max", 2},
                {"ImaxM", 8}});
    t.Registers({{"CADIN", 0}});
    if (reference) t.Variable("CADIN");
    ComputeParameterLimits(t.setup());
    if (!reference) {
      for (const char* name : {"filter", "DeadBand_Point", "POS_max", "CRT_min"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(t.Max(name), kUnset);
      }
      continue;
    }
    // current scale 4096 / 20 = 204.8 per A: 32767 / 204.8 = 160 A, above ImaxM and ImaxPS.
    const LimitRow rows[] = {
        {"filter", -kUnset, 1000},  // 1 / (2 x 5e-4)
        {"DeadBand_Point", 0, 5},
        {"DeadBand_Range", 0, 1},  // min(1 - 0, 5 - 1), with the point's new range
        {"POS_max", -0.001, 0.032767},
        {"POS_min", -0.032767, 0.002},
        {"SPD_max", -1, 3},
        {"SPD_min", -3, 2},
        {"CRT_max", -1, 8},
        {"CRT_min", -8, 2},
    };
    for (const LimitRow& row : rows) ExpectLimits(t, row);
  }
}

TEST(ParameterLimits, BiquadCornersOnlyWithTheBiquadFilter) {
  const char* corners[] = {"BQFilterF11", "BQFilterF12", "BQFilterF13",
                           "BQFilterF21", "BQFilterF22", "BQFilterF23"};
  for (bool biquad : {true, false}) {
    SCOPED_TRACE(biquad);
    TestSetup t;
    AddDrive(t);
    for (const char* name : corners) t.Physical({{name, 100}});
    if (biquad) t.Registers({{"IQREF_BQ_INI", 0}});
    ComputeParameterLimits(t.setup());
    for (const char* name : corners) {
      SCOPED_TRACE(name);
      EXPECT_DOUBLE_EQ(t.Max(name), biquad ? 1000.0 : kUnset);  // 0.5 / 5e-4
      EXPECT_EQ(t.Min(name), -kUnset);
    }
  }
}

TEST(ParameterLimits, AnEmptySetupIsSkippedSilently) {
  TestSetup t;
  ReportLog log;
  ComputeParameterLimits(t.setup());
  SetEncResMaximum(t.setup());
  SetMaxCurrentRange(t.setup());
  EXPECT_TRUE(log.reports.empty());
}

TEST(ParameterLimits, DegenerateTimingAndScalesDoNotStop) {
  const char* fields[] = {"PWMPER", "DSP_freq",   "EncRes", "Load_transmission",
                          "ImaxPS", "Limit_Speed"};
  for (const char* field : fields) {
    for (double value : {0.0, kNaN, kInf, -1.0}) {
      SCOPED_TRACE(std::string(field) + " = " + std::to_string(value));
      TestSetup t;
      AddDrive(t);
      for (const char* name : {"ERR_speed",
                               "ERR_position",
                               "time_ERR_spd",
                               "time_ERR_pos",
                               "TPP",
                               "TaPP",
                               "TaNP",
                               "TestPosition",
                               "TestSpeed",
                               "filter",
                               "AnalogueInputsRange",
                               "DeadBand_Point",
                               "DeadBand_Range",
                               "POS_min",
                               "POS_max",
                               "SPD_min",
                               "SPD_max",
                               "CRT_min",
                               "CRT_max",
                               "ImaxM",
                               "BQFilterF11"}) {
        t.Physical({{name, 0.01}});
      }
      t.Registers({{"CADIN", 0}, {"IQREF_BQ_INI", 0}});
      t.Variable("CADIN");
      t.Set(field, value);
      t->SetScaleProvider({&ScaleFactor, &ScaleOffset});
      ComputeParameterLimits(t.setup());
      if (std::string(field) == "PWMPER" && value == 0.0) {
        // A zero period leaves zero-length times and unbounded corners.
        EXPECT_EQ(t.Max("time_ERR_spd"), 0.0);
        EXPECT_TRUE(std::isinf(t.Max("BQFilterF11")));
      }
    }
  }
}

}  // namespace
}  // namespace kestrel
