#include "conversions/reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "conversions/motion_units.h"
#include "support/test_setup.h"

namespace kestrel {
namespace {

using axis::testing::TestSetup;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kAdcFullScale = 4096;

// A drive with an analogue reference and easy numbers:
//   ADC full scale N = 4096
//   f = (Motor_transmission / Load_transmission) / EncRes = +-1e6 counts per metre
//   Ts_S = 2 x SLPER x PWMPER / DSP_freq = 2 x 10 x 1000 / 40e6 = 5e-4 s
//   s = Ts_S x 1e6 = 500 internal speed units per m/s
//   current scale = N / (2 x ImaxPS) = 4096 / 20 = 204.8 per ampere
// The reference gain g = span_internal x 0.5 x 65536 / N = 8 x span_internal.
void AddReferenceDrive(TestSetup& t, double motor_transmission = 1.0) {
  t.Physical({{"EncRes", 1e-6},
              {"Motor_transmission", motor_transmission},
              {"Load_transmission", 1},
              {"TransmissionType", 0},
              {"ImaxPS", 10, "A"},
              {"ImaxM", 8, "A"},
              {"DSP_freq", 40e6},
              {"Ts_S", 5e-4},
              {"Limit_Speed", 3, "m/s"},
              {"ControlMode", 0},
              {"POS_min", -0.0025, "m"},
              {"POS_max", 0.0025, "m"},
              {"SPD_min", -1, "m/s"},
              {"SPD_max", 1, "m/s"},
              {"CRT_min", -5, "A"},
              {"CRT_max", 5, "A"},
              {"AnalogueInputsRange", 20},
              {"DeadBand_Point", 0, "V"},
              {"DeadBand_Range", 0, "V"},
              {"UseFilter", 1},
              {"filter", 100, "1/s"},
              {"GEARMASTER", 2},
              {"GEARSLAVE", 3},
              {"GEAR", 0}})
      .Registers({{"CLPER", 1},
                  {"SLPER", 10},
                  {"PWMPER", 1000},
                  {"AD5OFF", 77},
                  {"CADIN", 0},
                  {"SFTADIN", 0},
                  {"LEVEL_AD5", 0},
                  {"E_LEVEL_AD5", 0},
                  {"FILTER1", 0}})
      .Variable("CADIN");
  t->SetAdcFullScale(static_cast<uint32_t>(kAdcFullScale));
  t->SetScaleProvider({&ScaleFactor, &ScaleOffset});
}

double Internal(TestSetup& t, const char* name) {
  return t->FindParameter(name)->GetValueInInternalUnit();
}
void SetInternal(TestSetup& t, const char* name, double value) {
  t->FindParameter(name)->SetValueInInternalUnit(value);
}

class ReportLog {
 public:
  ReportLog() {
    axis::SetErrorReporter([this](const std::string& m) { reports.push_back(m); });
  }
  ~ReportLog() { axis::SetErrorReporter(nullptr); }
  std::vector<std::string> reports;
};

// ---------------------------------------------------------------------------------------------
// Reference gain, physical -> register

TEST(ReferenceGain, EncodesTheSpanOfThePairSelectedByTheControlMode) {
  struct Row {
    const char* name;
    double mode;
    double motor_transmission;
    const char* min_name;
    double min, max;  // base units
    int result;
    double sftadin, cadin, ad5off;
  };
  const Row rows[] = {
      // +-2500 counts: g = 8 x 5000 = 40000 > 32767, k = ceil(log2(1.22)) = 1
      {"position, span needs one shift", 0, 1, "POS_min", -0.0025, 0.0025, 1, 1, 20000, -2500},
      // reversed: g = -40000 is normalised on its magnitude, AD5OFF still the minimum
      {"position reversed", 0, -1, "POS_min", -0.0025, 0.0025, 1, 1, -20000, -2500},
      // +-0.01 m = +-10000 counts: g = 160000, 160000 / 32767 = 4.88, k = 3, 160000 / 8 = 20000
      {"position, three shifts", 0, 1, "POS_min", -0.01, 0.01, 1, 3, 20000, -10000},
      // +-1 m/s = +-500 units: g = 8000
      {"speed", 1, 1, "SPD_min", -1, 1, 1, 0, 8000, -500},
      // 0..3 m/s = 0..1500: g = 12000; reversed makes it negative without a shift
      {"speed reversed", 1, -1, "SPD_min", 0, 3, 1, 0, -12000, 0},
      // +-5 A = +-1024 units: g = 16384
      {"current", 2, 1, "CRT_min", -5, 5, 1, 0, 16384, -1024},
      {"mode truncated toward zero", 2.9, 1, "CRT_min", -5, 5, 1, 0, 16384, -1024},
      {"mode -0.5 is position", -0.5, 1, "POS_min", -0.0025, 0.0025, 1, 1, 20000, -2500},
      // other modes: the current pair gives the gain, AD5OFF keeps 77
      {"unsupported mode", 3, 1, "CRT_min", -5, 5, 0, 0, 16384, 77},
      {"negative mode", -1, 1, "CRT_min", -5, 5, 0, 0, 16384, 77},
      {"empty span", 1, 1, "SPD_min", 0.5, 0.5, 1, 0, 0, 250},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddReferenceDrive(t, row.motor_transmission);
    t.Set("ControlMode", row.mode);
    const std::string min_name = row.min_name;
    const std::string max_name = min_name.substr(0, 4) + "max";
    t.Set(min_name.c_str(), row.min);
    t.Set(max_name.c_str(), row.max);
    EXPECT_EQ(EncodeReferenceGain(t.setup()), row.result);
    EXPECT_EQ(t.Get("SFTADIN"), row.sftadin);
    EXPECT_EQ(t.Get("CADIN"), row.cadin);
    EXPECT_EQ(t.Get("AD5OFF"), row.ad5off);
  }
}

TEST(ReferenceGain, MissingNamesChangeNothing) {
  for (const char* missing : {"ControlMode", "CADIN", "SFTADIN", "AD5OFF", "POS_min", "POS_max"}) {
    SCOPED_TRACE(missing);
    TestSetup t;
    t.Physical({{"EncRes", 1e-6}, {"Motor_transmission", 1}, {"Load_transmission", 1}});
    for (const char* name : {"ControlMode", "POS_min", "POS_max"}) {
      if (std::string(name) != missing) t.Physical({{name, 0.001}});
    }
    for (const char* name : {"CADIN", "SFTADIN", "AD5OFF"}) {
      if (std::string(name) != missing) t.Registers({{name, 9}});
    }
    EXPECT_EQ(EncodeReferenceGain(t.setup()), 0);
    for (const char* name : {"CADIN", "SFTADIN", "AD5OFF"}) {
      if (std::string(name) != missing) {
        EXPECT_EQ(t.Get(name), 9);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Reference gain, register -> physical

TEST(ReferenceGain, DecodesAllThreePairsFromTheSameRegisters) {
  struct Row {
    const char* name;
    double motor_transmission;
    double cadin;
  };
  // AD5OFF = -2500, SFTADIN = 1: max = -2500 + 4096 x (CADIN x 2 x sign f) x 2^-16 x 2
  //                                  = -2500 + 5000 for |CADIN| = 20000 with the sign of f.
  const Row rows[] = {{"forward", 1, 20000}, {"reversed", -1, -20000}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddReferenceDrive(t, row.motor_transmission);
    t.Set("AD5OFF", -2500);
    t.Set("SFTADIN", 1);
    t.Set("CADIN", row.cadin);
    for (auto derive :
         {DerivePosMin, DerivePosMax, DeriveSpdMin, DeriveSpdMax, DeriveCrtMin, DeriveCrtMax}) {
      EXPECT_EQ(derive(t.setup()), 1);
    }
    EXPECT_DOUBLE_EQ(t.Get("POS_min"), -0.0025);
    EXPECT_DOUBLE_EQ(t.Get("POS_max"), 0.0025);
    EXPECT_DOUBLE_EQ(t.Get("SPD_min"), -5.0);  // -2500 / 500
    EXPECT_DOUBLE_EQ(t.Get("SPD_max"), 5.0);
    EXPECT_DOUBLE_EQ(t.Get("CRT_min"), -2500 / 204.8);
    EXPECT_DOUBLE_EQ(t.Get("CRT_max"), 2500 / 204.8);

    // Ranges, each from the values present when it was set.
    EXPECT_DOUBLE_EQ(t.Min("POS_min"), -32767 / 1e6);
    EXPECT_DOUBLE_EQ(t.Max("POS_min"), 0.0025);  // POS_max before its own decode
    EXPECT_DOUBLE_EQ(t.Min("POS_max"), -0.0025);
    EXPECT_DOUBLE_EQ(t.Max("POS_max"), 32767 / 1e6);
    EXPECT_DOUBLE_EQ(t.Min("SPD_min"), -3.0);  // -Limit_Speed above -32767 / 500
    EXPECT_DOUBLE_EQ(t.Max("SPD_min"), 1.0);
    EXPECT_DOUBLE_EQ(t.Min("SPD_max"), -5.0);
    EXPECT_DOUBLE_EQ(t.Max("SPD_max"), 3.0);  // Limit_Speed below 65.534
    EXPECT_EQ(t.Min("CRT_min"), -1e300);      // no range step for CRT_min
    EXPECT_EQ(t.Max("CRT_min"), 1e300);
    EXPECT_DOUBLE_EQ(t.Min("CRT_max"), -2500 / 204.8);
    EXPECT_DOUBLE_EQ(t.Max("CRT_max"), 8.0);  // ImaxM below ImaxPS and 32767 / 204.8
  }
}

TEST(ReferenceGain, RoundTripGivesTheSpanBackWithinOneStep) {
  struct Pair {
    double mode;
    const char* min_name;
    const char* max_name;
  };
  const Pair pairs[] = {
      {0, "POS_min", "POS_max"}, {1, "SPD_min", "SPD_max"}, {2, "CRT_min", "CRT_max"}};
  std::mt19937 random(2024);
  for (double motor_transmission : {1.0, -1.0}) {
    for (const Pair& pair : pairs) {
      for (double reach : {32767.0, 2e6}) {
        SCOPED_TRACE(testing::Message() << pair.min_name << " transmission " << motor_transmission
                                        << " reach " << reach);
        TestSetup t;
        AddReferenceDrive(t, motor_transmission);
        t.Set("ControlMode", pair.mode);
        std::uniform_real_distribution<double> internal(-reach, reach);
        for (int i = 0; i < 300; ++i) {
          double low = internal(random), high = internal(random);
          if (low > high) std::swap(low, high);
          SetInternal(t, pair.min_name, low);
          SetInternal(t, pair.max_name, high);
          ASSERT_EQ(EncodeReferenceGain(t.setup()), 1);
          const double shift = t.Get("SFTADIN");
          const double cadin = t.Get("CADIN");
          // Sixteen bits, and the smallest shift that gets there.
          ASSERT_LE(std::fabs(cadin), 32767.0);
          if (shift > 0) {
            ASSERT_GE(std::fabs(cadin), 16383.5);
          }
          if (high > low) {
            ASSERT_EQ(cadin * motor_transmission > 0, true);
          }
          // One step of CADIN: 4096 x 2 x 2^-16 x 2^shift = 2^shift / 8 internal units.
          const double step = std::ldexp(1.0, static_cast<int>(shift)) / 8.0;

          SetInternal(t, pair.min_name, 1e5);
          SetInternal(t, pair.max_name, -1e5);
          ASSERT_EQ(pair.mode == 2   ? DeriveCrtMin(t.setup())
                    : pair.mode == 1 ? DeriveSpdMin(t.setup())
                                     : DerivePosMin(t.setup()),
                    1);
          ASSERT_EQ(pair.mode == 2   ? DeriveCrtMax(t.setup())
                    : pair.mode == 1 ? DeriveSpdMax(t.setup())
                                     : DerivePosMax(t.setup()),
                    1);
          ASSERT_NEAR(Internal(t, pair.min_name), low, 0.5 + 1e-6);  // AD5OFF is an integer
          ASSERT_NEAR(Internal(t, pair.max_name), high, step + 0.5);
          ASSERT_LE(Internal(t, pair.min_name), Internal(t, pair.max_name) + 1.0);
        }
      }
    }
  }
}

TEST(ReferenceGain, DegenerateScalesDoNotStopThePass) {
  struct Row {
    const char* field;
    double value;
  };
  const Row rows[] = {
      {"EncRes", 0.0},   {"EncRes", kNaN}, {"Load_transmission", 0.0}, {"ImaxPS", 0.0},
      {"ImaxPS", kInf},  {"PWMPER", 0.0},  {"DSP_freq", kNaN},         {"Motor_transmission", 0.0},
      {"POS_max", kInf}, {"POS_min", kNaN}};
  for (bool zero_adc : {false, true}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(testing::Message() << row.field << " = " << row.value << " adc " << zero_adc);
      TestSetup t;
      AddReferenceDrive(t);
      if (zero_adc) t->SetAdcFullScale(0);
      t.Set(row.field, row.value);
      for (double mode : {0.0, 1.0, 2.0}) {
        t.Set("ControlMode", mode);
        EncodeReferenceGain(t.setup());
        DeriveAnalogueReference(t.setup());
      }
      SUCCEED();
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Ranges

TEST(ReferenceRanges, FollowTheOtherParametersAndTheDriveLimits) {
  struct Row {
    const char* name;
    void (*setter)(CMC_Setup&);
    const char* parameter;
    double motor_transmission;
    double min, max;
  };
  const Row rows[] = {
      {"POS_max", SetPosMaxRange, "POS_max", 1, -0.0025, 0.032767},
      {"POS_max reversed", SetPosMaxRange, "POS_max", -1, -0.0025, 0.032767},
      {"POS_min", SetPosMinRange, "POS_min", -1, -0.032767, 0.0025},
      {"SPD_max", SetSpdMaxRange, "SPD_max", 1, -1, 3},
      {"SPD_min", SetSpdMinRange, "SPD_min", -1, -3, 1},
      {"CRT_max", SetCrtMaxRange, "CRT_max", 1, -5, 8},
      {"CRT_min", SetCrtMinRange, "CRT_min", 1, -8, 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddReferenceDrive(t, row.motor_transmission);
    row.setter(t.setup());
    EXPECT_DOUBLE_EQ(t.Min(row.parameter), row.min);
    EXPECT_DOUBLE_EQ(t.Max(row.parameter), row.max);
  }
}

TEST(ReferenceRanges, DriveScaleBoundsWhenTheyAreTheTighterOnes) {
  TestSetup t;
  AddReferenceDrive(t);
  t.Set("Limit_Speed", 100);  // above 32767 / 500 = 65.534
  t.Set("ImaxPS", 500);       // current scale 4096 / 1000 = 4.096: 32767 / 4.096 = 7999.76
  t.Set("ImaxM", 9000);
  SetSpdMaxRange(t.setup());
  SetSpdMinRange(t.setup());
  SetCrtMaxRange(t.setup());
  SetCrtMinRange(t.setup());
  EXPECT_DOUBLE_EQ(t.Max("SPD_max"), 65.534);
  EXPECT_DOUBLE_EQ(t.Min("SPD_min"), -65.534);
  EXPECT_DOUBLE_EQ(t.Max("CRT_max"), 500.0);  // ImaxPS below 7999.76
  EXPECT_DOUBLE_EQ(t.Min("CRT_min"), -500.0);
  // With a finer ADC the current scale is the tighter bound: N = 1e6, ImaxPS = 10 A gives
  // 1e6 / 20 = 5e4 per A, 32767 / 5e4 = 0.65534 A.
  t->SetAdcFullScale(1000000);
  t.Set("ImaxPS", 10);
  t.Set("ImaxM", 8);
  SetCrtMaxRange(t.setup());
  SetCrtMinRange(t.setup());
  EXPECT_DOUBLE_EQ(t.Max("CRT_max"), 0.65534);
  EXPECT_DOUBLE_EQ(t.Min("CRT_min"), -0.65534);
}

TEST(ReferenceRanges, DoNothingWithoutTheirParameters) {
  struct Row {
    void (*setter)(CMC_Setup&);
    const char* target;
    const char* removed;
  };
  const Row rows[] = {
      {SetPosMaxRange, "POS_max", "POS_min"},
      {SetPosMinRange, "POS_min", "POS_max"},
      {SetSpdMaxRange, "SPD_max", "Limit_Speed"},
      {SetSpdMinRange, "SPD_min", "SPD_max"},
      {SetCrtMaxRange, "CRT_max", "ImaxM"},
      {SetCrtMinRange, "CRT_min", "ImaxPS"},
      {SetDeadBandPointRange, "DeadBand_Point", "AnalogueInputsRange"},
      {SetDeadBandRangeRange, "DeadBand_Range", "DeadBand_Point"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    TestSetup t;
    t.Physical({{"EncRes", 1e-6},
                {"Motor_transmission", 1},
                {"Load_transmission", 1},
                {"DSP_freq", 40e6}});
    t.Registers({{"SLPER", 10}, {"PWMPER", 1000}});
    for (const char* name :
         {"POS_max", "POS_min", "SPD_max", "SPD_min", "Limit_Speed", "CRT_max", "CRT_min", "ImaxM",
          "ImaxPS", "DeadBand_Point", "DeadBand_Range", "AnalogueInputsRange"}) {
      if (std::string(name) != row.removed) t.Physical({{name, 1}});
    }
    ReportLog log;
    row.setter(t.setup());
    EXPECT_TRUE(log.reports.empty());
    EXPECT_EQ(t.Min(row.target), -1e300);
    EXPECT_EQ(t.Max(row.target), 1e300);
  }
}

// ---------------------------------------------------------------------------------------------
// Dead band

TEST(DeadBand, EncodesVoltsAsAdcCounts) {
  struct Row {
    const char* name;
    double span_V, point_V, range_V;
    double level, width;
  };
  // LEVEL_AD5 = N x (point + 10 for a bipolar input) / span, E_LEVEL_AD5 = range x N / span.
  const Row rows[] = {
      {"bipolar, centre", 20, 0, 1, 2048, 205},  // 4096 x 10 / 20; 204.8 rounded
      {"bipolar, bottom", 20, -10, 0, 0, 0},
      {"bipolar, top", 20, 10, 20, 4096, 4096},
      {"0-5 V", 5, 2.5, 0.5, 2048, 410},  // 409.6 rounded
      {"0-3.3 V", 3.3, 1.65, 0.33, 2048, 410},
      {"truncated range 20.5 is still bipolar", 20.5, 0, 0, 1998, 0},  // 4096 x 10 / 20.5
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddReferenceDrive(t);
    t.Set("AnalogueInputsRange", row.span_V);
    t.Set("DeadBand_Point", row.point_V);
    t.Set("DeadBand_Range", row.range_V);
    EXPECT_EQ(EncodeLEVEL_AD5(t.setup()), 1);
    EXPECT_EQ(EncodeE_LEVEL_AD5(t.setup()), 1);
    EXPECT_EQ(t.Get("LEVEL_AD5"), row.level);
    EXPECT_EQ(t.Get("E_LEVEL_AD5"), row.width);
  }
}

TEST(DeadBand, DecodesWithTheRangeOfTheInput) {
  struct Row {
    const char* name;
    double span_V;
    int new_dead_band;
    double level, width;
    double point_V, range_V;
    double point_min, point_max, range_max;
  };
  const Row rows[] = {
      // 20 x 2048 / 4096 - 10 = 0; room either side 10
      {"bipolar centre", 20, 0, 2048, 205, 0, 20 * 205 / 4096.0, -10, 10, 10},
      // 20 x 3072 / 4096 - 10 = 5: room min(15, 5)
      {"bipolar off centre", 20, 0, 3072, 0, 5, 0, -10, 10, 5},
      {"bipolar, whole span allowed", 20, 1, 3072, 0, 5, 0, -10, 10, 20},
      // 5 x 1024 / 4096 = 1.25: room min(1.25, 3.75)
      {"0-5 V", 5, 0, 1024, 410, 1.25, 5 * 410 / 4096.0, 0, 5, 1.25},
      {"0-5 V, whole span", 5, 1, 1024, 410, 1.25, 5 * 410 / 4096.0, 0, 5, 5},
      {"0-3.3 V", 3.3, 0, 2048, 0, 1.65, 0, 0, 3.3, 1.65},
      {"any other span reads 0-3.3 V", 10, 0, 2048, 0, 5, 0, 0, 3.3, -1.7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddReferenceDrive(t);
    if (row.new_dead_band) t.Option("NewDeadBand", "1");
    t.Set("AnalogueInputsRange", row.span_V);
    t.Set("LEVEL_AD5", row.level);
    t.Set("E_LEVEL_AD5", row.width);
    EXPECT_EQ(DeriveDeadBandPoint(t.setup()), 1);
    EXPECT_EQ(DeriveDeadBandRange(t.setup()), 1);
    EXPECT_NEAR(t.Get("DeadBand_Point"), row.point_V, 1e-12);
    EXPECT_NEAR(t.Get("DeadBand_Range"), row.range_V, 1e-12);
    EXPECT_DOUBLE_EQ(t.Min("DeadBand_Point"), row.point_min);
    EXPECT_DOUBLE_EQ(t.Max("DeadBand_Point"), row.point_max);
    EXPECT_EQ(t.Min("DeadBand_Range"), 0.0);
    EXPECT_NEAR(t.Max("DeadBand_Range"), row.range_max, 1e-12);
  }
}

TEST(DeadBand, RoundTripWithinOneCount) {
  std::mt19937 random(7);
  struct Span {
    double span_V, low_V, high_V;
  };
  for (const Span& span : {Span{20, -10, 10}, Span{5, 0, 5}, Span{3.3, 0, 3.3}}) {
    SCOPED_TRACE(span.span_V);
    TestSetup t;
    AddReferenceDrive(t);
    t.Set("AnalogueInputsRange", span.span_V);
    std::uniform_real_distribution<double> point(span.low_V, span.high_V);
    std::uniform_real_distribution<double> width(0, span.high_V - span.low_V);
    const double count_V = span.span_V / kAdcFullScale;
    for (int i = 0; i < 300; ++i) {
      const double p = point(random), w = width(random);
      t.Set("DeadBand_Point", p);
      t.Set("DeadBand_Range", w);
      EncodeLEVEL_AD5(t.setup());
      EncodeE_LEVEL_AD5(t.setup());
      t.Set("DeadBand_Point", 99);
      t.Set("DeadBand_Range", 99);
      DeriveDeadBandPoint(t.setup());
      DeriveDeadBandRange(t.setup());
      ASSERT_NEAR(t.Get("DeadBand_Point"), p, count_V);
      ASSERT_NEAR(t.Get("DeadBand_Range"), w, count_V);
    }
  }
}

TEST(DeadBand, ZeroSpansDoNotStopThePass) {
  for (double span : {0.0, kNaN, kInf}) {
    for (bool zero_adc : {false, true}) {
      SCOPED_TRACE(testing::Message() << span << " " << zero_adc);
      TestSetup t;
      AddReferenceDrive(t);
      if (zero_adc) t->SetAdcFullScale(0);
      t.Set("AnalogueInputsRange", span);
      t.Set("LEVEL_AD5", 100);
      EXPECT_EQ(EncodeLEVEL_AD5(t.setup()), 1);
      EXPECT_EQ(EncodeE_LEVEL_AD5(t.setup()), 1);
      EXPECT_EQ(DeriveDeadBandPoint(t.setup()), 1);
      EXPECT_EQ(DeriveDeadBandRange(t.setup()), 1);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Reference filter

TEST(ReferenceFilter, OffIsFullScaleAndShowsFifty) {
  TestSetup t;
  AddReferenceDrive(t);
  t.Set("UseFilter", 0);
  t.Set("filter", 321);
  EXPECT_EQ(EncodeFILTER1(t.setup()), 1);
  EXPECT_EQ(t.Get("FILTER1"), 32767);
  t.Set("UseFilter", 1);
  EXPECT_EQ(DeriveUseFilter(t.setup()), 1);
  EXPECT_EQ(DeriveFilter(t.setup()), 1);
  EXPECT_EQ(t.Get("UseFilter"), 0);
  EXPECT_EQ(t.Get("filter"), 50);
  EXPECT_EQ(t.Min("UseFilter"), 0);
  EXPECT_EQ(t.Max("UseFilter"), 1);
  EXPECT_EQ(t.Min("filter"), 0);
  EXPECT_DOUBLE_EQ(t.Max("filter"), 1000);  // 0.5 / 5e-4
}

TEST(ReferenceFilter, CornerOfAHundred) {
  TestSetup t;
  AddReferenceDrive(t);
  // 32767 x (1 - e^(-100 x 5e-4)) = 32767 x 0.0487706 = 1598.07
  EXPECT_EQ(EncodeFILTER1(t.setup()), 1);
  EXPECT_EQ(t.Get("FILTER1"), 1598);
  t.Set("UseFilter", 0);
  t.Set("filter", 0);
  EXPECT_EQ(DeriveUseFilter(t.setup()), 1);
  EXPECT_EQ(DeriveFilter(t.setup()), 1);
  EXPECT_EQ(t.Get("UseFilter"), 1);
  // one count of FILTER1 near 1598 is 1 / (Ts_S x (32767 - 1598)) = 0.064 per second
  EXPECT_NEAR(t.Get("filter"), 100, 0.064);
}

TEST(ReferenceFilter, RoundTripWithinOneCount) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> corner(1, 1000);
  TestSetup t;
  AddReferenceDrive(t);
  for (int i = 0; i < 300; ++i) {
    const double w = corner(random);
    t.Set("filter", w);
    t.Set("UseFilter", 1);
    EncodeFILTER1(t.setup());
    t.Set("filter", -1);
    DeriveUseFilter(t.setup());
    DeriveFilter(t.setup());
    ASSERT_EQ(t.Get("UseFilter"), 1);
    // d(filter) / d(FILTER1) = 1 / (Ts_S x (32767 - FILTER1)) = e^(w Ts_S) / (32767 Ts_S)
    const double count = std::exp(w * 5e-4) / (32767 * 5e-4);
    ASSERT_NEAR(t.Get("filter"), w, count);
  }
}

TEST(ReferenceFilter, DegeneratePeriods) {
  struct Row {
    const char* name;
    const char* field;
    double value;
    int derived;
  };
  const Row rows[] = {
      {"zero period: corner unbounded", "PWMPER", 0, 1},
      {"negative period: range refused", "SLPER", -10, 0},
      {"NaN clock: range refused", "DSP_freq", kNaN, 0},
      {"infinite clock: zero period", "DSP_freq", kInf, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    AddReferenceDrive(t);
    t.Set("FILTER1", 1598);
    t.Set("filter", 7);
    t.Set(row.field, row.value);
    EXPECT_EQ(DeriveFilter(t.setup()), row.derived);
    if (row.derived == 0) {
      EXPECT_EQ(t.Get("filter"), 7);
    }
  }
  // Coefficients above full scale have no corner; the value is NaN, not a crash.
  TestSetup t;
  AddReferenceDrive(t);
  t.Set("FILTER1", 40000);
  EXPECT_EQ(DeriveFilter(t.setup()), 1);
  EXPECT_TRUE(std::isnan(t.Get("filter")));
  t.Set("Ts_S", kNaN);
  EXPECT_EQ(EncodeFILTER1(t.setup()), 1);
}

TEST(ReferenceFilter, NeedsTheTimerRegisters) {
  for (const char* missing : {"SLPER", "PWMPER", "DSP_freq", "UseFilter", "FILTER1"}) {
    SCOPED_TRACE(missing);
    TestSetup t;
    for (const char* name : {"SLPER", "PWMPER", "DSP_freq", "UseFilter", "FILTER1"}) {
      if (std::string(name) != missing) t.Registers({{name, 100}});
    }
    t.Physical({{"filter", 7}});
    EXPECT_EQ(DeriveFilter(t.setup()), 0);
    EXPECT_EQ(t.Get("filter"), 7);
    EXPECT_EQ(t.Max("filter"), 1e300);
  }
}

// ---------------------------------------------------------------------------------------------
// Gear and the guard of the reference steps

TEST(Gear, IsSlaveOverMaster) {
  struct Row {
    double slave, master, expected;
  };
  const Row rows[] = {{3, 2, 1.5}, {1, 4, 0.25}, {-2, 1, -2}, {1, 0, kInf}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.slave << " / " << row.master);
    TestSetup t;
    AddReferenceDrive(t);
    t.Set("GEARSLAVE", row.slave);
    t.Set("GEARMASTER", row.master);
    EXPECT_EQ(EncodeGEAR(t.setup()), 1);
    EXPECT_EQ(t.Get("GEAR"), row.expected);
  }
}

TEST(ExternalReference, RunsOnlyWithTheCadinVariableAndParameter) {
  struct Row {
    const char* name;
    bool variable, parameter;
    int expected;
  };
  const Row rows[] = {
      {"both", true, true, 1},
      {"no variable", false, true, 0},
      {"no parameter", true, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    t.Physical({{"EncRes", 1e-6},
                {"Motor_transmission", 1},
                {"Load_transmission", 1},
                {"ImaxPS", 10, "A"},
                {"ImaxM", 8, "A"},
                {"DSP_freq", 40e6},
                {"Ts_S", 5e-4},
                {"Limit_Speed", 3, "m/s"},
                {"ControlMode", 0},
                {"POS_min", -0.0025, "m"},
                {"POS_max", 0.0025, "m"},
                {"AnalogueInputsRange", 20},
                {"DeadBand_Point", 0, "V"},
                {"GEARMASTER", 2},
                {"GEARSLAVE", 3},
                {"GEAR", 0}});
    t.Registers(
        {{"SLPER", 10}, {"PWMPER", 1000}, {"AD5OFF", 77}, {"SFTADIN", 5}, {"LEVEL_AD5", 1024}});
    if (row.parameter) t.Registers({{"CADIN", 5}});
    if (row.variable) t.Variable("CADIN");
    t->SetAdcFullScale(4096);
    t->SetScaleProvider({&ScaleFactor, &ScaleOffset});

    ReportLog log;
    EXPECT_EQ(EncodeAnalogueReference(t.setup()), row.expected);
    EXPECT_EQ(EncodeGEAR(t.setup()), 1);
    EXPECT_EQ(t.Get("GEAR"), 1.5);
    EXPECT_EQ(t.Get("SFTADIN"), row.expected ? 1 : 5);
    EXPECT_EQ(t.Get("AD5OFF"), row.expected ? -2500 : 77);
    EXPECT_EQ(t.Get("LEVEL_AD5"), row.expected ? 2048 : 1024);

    t.Set("AD5OFF", 100);
    t.Set("LEVEL_AD5", 3072);
    EXPECT_EQ(DeriveAnalogueReference(t.setup()), row.expected);
    EXPECT_DOUBLE_EQ(t.Get("POS_min"), row.expected ? 100e-6 : -0.0025);
    EXPECT_EQ(t.Get("DeadBand_Point"), row.expected ? 5.0 : 0.0);
    EXPECT_NEAR(t.Max("POS_max"), row.expected ? 0.032767 : 1e300, 1e-15);
    // Without the guard nothing is looked up, so nothing is reported.
    if (!row.expected) {
      EXPECT_TRUE(log.reports.empty());
    }
  }
}

}  // namespace
}  // namespace kestrel
