#include "host/setup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "host/numeric.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class SetupTest : public ::testing::Test {
 protected:
  SetupTest() {
    // clang-format off
    const axis::ParameterDescription parameters[] = {
        {"PWM_freq", 20000, 1000, 50000, "Hz", "kHz"},
        {"PWMPER", 1000, 0, 65535, "", "", axis::kTypeRegister, true},
        {"PolePitch", 0.03, 0, 1, "m", "mm"}};
    // clang-format on
    for (const auto& parameter : parameters) EXPECT_NE(setup_.AddParameter(parameter), nullptr);
  }
  CMC_Setup setup_;
};

TEST_F(SetupTest, LookupIgnoresCaseAndReportsMissingNamesOnlyWhenAsked) {
  std::vector<std::string> reports;
  axis::SetErrorReporter([&](const std::string& m) { reports.push_back(m); });
  EXPECT_EQ(setup_.FindParameter("pwm_FREQ"), setup_.FindParameter("PWM_freq"));
  EXPECT_NE(setup_.FindParameter("pwmper"), nullptr);
  EXPECT_EQ(setup_.FindParameter("PWM_freq2"), nullptr);
  g_bShowErrors = 0;
  EXPECT_EQ(setup_.FindParameter("Missing"), nullptr);
  g_bShowErrors = 1;
  axis::SetErrorReporter(nullptr);
  EXPECT_EQ(reports, (std::vector<std::string>{"Parameter \"PWM_freq2\" not found"}));
}

TEST_F(SetupTest, RefusesDuplicateNamesAndUnknownOrMismatchedUnits) {
  // clang-format off
  const struct { axis::ParameterDescription parameter; const char* error; } rows[] = {
      {{.name = "pwmper"}, "duplicate parameter name \"pwmper\""},
      {{.name = "X", .base_unit = "furlong"}, "unknown base unit \"furlong\""},
      {{.name = "Y", .base_unit = "m", .display_unit = "rpm"},
       "unit \"rpm\" does not measure the same as \"m\""}};
  // clang-format on
  for (const auto& row : rows) {
    std::string error;
    EXPECT_EQ(setup_.AddParameter(row.parameter, &error), nullptr) << row.error;
    EXPECT_EQ(error, row.error);
  }
  EXPECT_EQ(setup_.GetParameters().GetParametersCount(), 3);
}

TEST_F(SetupTest, IntegerRegistersAreStoredRoundedToNearest) {
  CMC_Parameter* reg = setup_.FindParameter("PWMPER");
  CMC_Parameter* physical = setup_.FindParameter("PWM_freq");
  const std::pair<double, double> rows[] = {{1333.33, 1333}, {1333.5, 1334}, {-2.5, -3}, {7, 7}};
  for (const auto& [written, stored] : rows) {
    reg->SetValueInBaseUnit(written);
    physical->SetValueInBaseUnit(written);
    EXPECT_EQ(reg->GetValueInBaseUnit(), stored) << written;
    EXPECT_EQ(physical->GetValueInBaseUnit(), written);
  }
  reg->SetValueInBaseUnit(kNaN);
  EXPECT_TRUE(std::isnan(reg->GetValueInBaseUnit()));
}

double HalfFactor(CMC_Setup*, const char* unit, const char*) {
  return std::string(unit) == "m" ? 0.5 : 1.0;
}
double TenOffset(CMC_Setup*, const char* unit) { return std::string(unit) == "m" ? 10.0 : 0.0; }

TEST_F(SetupTest, InternalUnitsGoThroughThePluginScales) {
  setup_.SetScaleProvider({&HalfFactor, &TenOffset});
  CMC_Parameter* pitch = setup_.FindParameter("PolePitch");
  EXPECT_DOUBLE_EQ(pitch->GetValueInInternalUnit(), 0.03 / 0.5 - 10.0);  // base / factor - offset
  pitch->SetValueInInternalUnit(4.0);
  EXPECT_DOUBLE_EQ(pitch->GetValueInBaseUnit(), (4.0 + 10.0) * 0.5);
  EXPECT_DOUBLE_EQ(setup_.FindParameter("PWM_freq")->GetValueInInternalUnit(), 20000.0);
}

TEST_F(SetupTest, DisplayUnitsAndFamilies) {
  CMC_Parameter* pitch = setup_.FindParameter("PolePitch");
  EXPECT_DOUBLE_EQ(pitch->GetValueInDisplayUnit(), 30.0);
  EXPECT_EQ(pitch->ChangeUnit("\xB5m"), 1);
  EXPECT_DOUBLE_EQ(pitch->GetValueInDisplayUnit(), 30000.0);
  EXPECT_EQ(pitch->ChangeUnit("rpm"), 0);  // another unit type: refused
  EXPECT_STREQ(pitch->GetUnitName(), "\xB5m");
  EXPECT_EQ(pitch->ChangeUnitType("rot"), 1);
  EXPECT_EQ(pitch->GetBaseUnitName(), "rad");
  EXPECT_DOUBLE_EQ(pitch->GetValueInBaseUnit(), 0.03);
  EXPECT_EQ(pitch->ChangeUnitType("parsec"), 0);
  EXPECT_STREQ(setup_.GetParameterUnit("PWM_freq"), "kHz");
}

TEST_F(SetupTest, TextAndIntegerOptions) {
  setup_.SetOption("PMSMStartwithHalls", "1");
  setup_.SetOption("IsInputsTypeProgrammable", "abc");
  EXPECT_EQ(setup_.GetIntOption("pmsmstartwithhalls"), 1);
  EXPECT_EQ(setup_.GetIntOption("IsInputsTypeProgrammable"), 0);  // not a number
  EXPECT_EQ(setup_.GetIntOption("Absent"), 0);
  EXPECT_EQ(setup_.GetOptionNoError("Absent"), "");
  setup_.SetOption("pmsmSTARTwithHalls", "0");  // the same option, whatever the case
  EXPECT_EQ(setup_.GetOptions().size(), 2u);
  EXPECT_EQ(setup_.GetIntOption("PMSMStartwithHalls"), 0);
  setup_.ClearOption("PMSMStartwithHalls");
  EXPECT_FALSE(setup_.HasOption("PMSMStartwithHalls"));
  setup_.SetOption("Last", "2");  // the options after a cleared one are found in their new places
  EXPECT_EQ(setup_.GetOptionNoError("isinputstypeprogrammable") + setup_.GetOptionNoError("LAST"),
            "abc2");
  EXPECT_EQ(setup_.GetOptions().front().first, "IsInputsTypeProgrammable");
}

TEST_F(SetupTest, IoPortsMapBothWaysAndBrakeOutputsReportStageAndInversion) {
  using axis::OutputStage;
  EXPECT_EQ(setup_.GetNumberOfBrakeOutputs(), 0);
  setup_.SetIoPorts({{0, 25}, {1, 26, OutputStage::kSource}, {2, 27, OutputStage::kSink, true}});
  EXPECT_EQ(setup_.GetNumberOfBrakeOutputs(), 3);
  EXPECT_EQ(setup_.GetIOPortFromPin(26), 1);
  EXPECT_EQ(setup_.GetIOPinFromPort(0), 25);
  EXPECT_EQ(setup_.GetIOPinFromPort(7) + setup_.GetIOPortFromPin(7), -2);  // unknown: -1 each
  const int sink = axis::kBrakePortEnabled | axis::kBrakePortSink;
  // port, IsBrakePortEnable, IsOutputPortInverted; port 7 is not in the table.
  const std::tuple<int, int, int> rows[] = {
      {0, sink, 0},
      {1, axis::kBrakePortEnabled | axis::kBrakePortSource, 0},
      {2, sink, 1},
      {7, 0, 0}};
  for (const auto& [port, enable, inverted] : rows) {
    EXPECT_EQ(setup_.IsBrakePortEnable(port), enable) << port;
    EXPECT_EQ(setup_.IsOutputPortInverted(port), inverted) << port;
  }
}

TEST(HostRounding, DefinedForEveryDouble) {
  constexpr int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
  EXPECT_EQ((std::vector{axis::TruncToInt(kNaN), axis::TruncToInt(kInf), axis::TruncToInt(-kInf),
                         axis::TruncToInt(-2.9), TG_Round(2.5), TG_Round(-2.5), TG_Round(1e300)}),
            (std::vector{0, kMax, kMin, -2, 3, -3, kMax}));
  EXPECT_EQ(axis::TruncToWord(-1.0), 0xFFFFFFFFu);
  EXPECT_EQ(axis::TruncToWord(4294967296.0 + 5), 5u);
  EXPECT_EQ(TG_FRound(1e300), 1e300);
  EXPECT_DOUBLE_EQ(RoundDecimalValue(1.23456, 2), 1.23);
  EXPECT_DOUBLE_EQ(RoundDecimalValue(0.9999999, 0), 1.0);
  EXPECT_TRUE(std::isnan(RoundDecimalValue(kNaN, 3)));
}

}  // namespace
