#include "host/setup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host/numeric.h"

namespace {

CMC_Setup& SmallSetup(CMC_Setup& setup) {
  setup.AddParameter({.name = "PWM_freq",
                      .value = 20000,
                      .min = 1000,
                      .max = 50000,
                      .base_unit = "Hz",
                      .display_unit = "kHz"});
  setup.AddParameter({.name = "PWMPER",
                      .value = 1000,
                      .max = 65535,
                      .type = axis::kTypeRegister,
                      .is_integer = true});
  setup.AddParameter(
      {.name = "PolePitch", .value = 0.03, .max = 1, .base_unit = "m", .display_unit = "mm"});
  return setup;
}

TEST(SetupLookup, IgnoresCaseAndReportsMissingNamesOnlyWhenAsked) {
  CMC_Setup setup;
  SmallSetup(setup);
  std::vector<std::string> reports;
  axis::SetErrorReporter([&](const std::string& m) { reports.push_back(m); });

  EXPECT_EQ(setup.FindParameter("pwm_FREQ"), setup.FindParameter("PWM_freq"));
  EXPECT_NE(setup.FindParameter("pwmper"), nullptr);
  EXPECT_EQ(setup.FindParameter("PWM_freq2"), nullptr);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "Parameter \"PWM_freq2\" not found");

  g_bShowErrors = 0;
  EXPECT_EQ(setup.FindParameter("Missing"), nullptr);
  g_bShowErrors = 1;
  EXPECT_EQ(reports.size(), 1u);
  axis::SetErrorReporter(nullptr);
}

TEST(SetupLookup, RefusesDuplicateNamesAndUnknownUnits) {
  CMC_Setup setup;
  SmallSetup(setup);
  std::string error;
  EXPECT_EQ(setup.AddParameter({.name = "pwmper", .base_unit = ""}, &error), nullptr);
  EXPECT_EQ(error, "duplicate parameter name \"pwmper\"");
  EXPECT_EQ(setup.AddParameter({.name = "X", .base_unit = "furlong"}, &error), nullptr);
  EXPECT_EQ(error, "unknown base unit \"furlong\"");
  EXPECT_EQ(setup.AddParameter({.name = "Y", .base_unit = "m", .display_unit = "rpm"}, &error),
            nullptr);
  EXPECT_EQ(error, "unit \"rpm\" does not measure the same as \"m\"");
  EXPECT_EQ(setup.GetParameters().GetParametersCount(), 3);
}

TEST(SetupValues, IntegerRegistersAreStoredRoundedToNearest) {
  struct Row {
    double written;
    double stored;
  };
  const Row rows[] = {{1333.33, 1333}, {1333.5, 1334}, {-2.5, -3}, {2621.4, 2621}, {7, 7}};
  CMC_Setup setup;
  SmallSetup(setup);
  CMC_Parameter* reg = setup.FindParameter("PWMPER");
  CMC_Parameter* physical = setup.FindParameter("PWM_freq");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.written);
    reg->SetValueInBaseUnit(row.written);
    EXPECT_EQ(reg->GetValueInBaseUnit(), row.stored);
    physical->SetValueInBaseUnit(row.written);
    EXPECT_EQ(physical->GetValueInBaseUnit(), row.written);
  }
  reg->SetValueInBaseUnit(std::numeric_limits<double>::quiet_NaN());
  EXPECT_TRUE(std::isnan(reg->GetValueInBaseUnit()));
}

double HalfFactor(CMC_Setup*, const char* unit, const char*) {
  return std::string(unit) == "m" ? 0.5 : 1.0;
}
double TenOffset(CMC_Setup*, const char* unit) { return std::string(unit) == "m" ? 10.0 : 0.0; }

TEST(SetupValues, InternalUnitsGoThroughThePluginScales) {
  CMC_Setup setup;
  SmallSetup(setup);
  setup.SetScaleProvider({&HalfFactor, &TenOffset});
  CMC_Parameter* pitch = setup.FindParameter("PolePitch");
  // internal = base / factor - offset
  EXPECT_DOUBLE_EQ(pitch->GetValueInInternalUnit(), 0.03 / 0.5 - 10.0);
  pitch->SetValueInInternalUnit(4.0);
  EXPECT_DOUBLE_EQ(pitch->GetValueInBaseUnit(), (4.0 + 10.0) * 0.5);
  EXPECT_DOUBLE_EQ(setup.FindParameter("PWM_freq")->GetValueInInternalUnit(), 20000.0);
}

TEST(SetupUnits, DisplayUnitsAndFamilies) {
  CMC_Setup setup;
  SmallSetup(setup);
  CMC_Parameter* pitch = setup.FindParameter("PolePitch");
  EXPECT_DOUBLE_EQ(pitch->GetValueInDisplayUnit(), 30.0);
  EXPECT_EQ(pitch->ChangeUnit("\xB5m"), 1);
  EXPECT_DOUBLE_EQ(pitch->GetValueInDisplayUnit(), 30000.0);
  EXPECT_EQ(pitch->ChangeUnit("rpm"), 0);  // another unit type: refused
  EXPECT_STREQ(pitch->GetUnitName(), "\xB5m");
  EXPECT_EQ(pitch->ChangeUnitType("rot"), 1);
  EXPECT_EQ(pitch->GetBaseUnitName(), "rad");
  EXPECT_DOUBLE_EQ(pitch->GetValueInBaseUnit(), 0.03);
  EXPECT_EQ(pitch->ChangeUnitType("parsec"), 0);
  EXPECT_STREQ(setup.GetParameterUnit("PWM_freq"), "kHz");
}

TEST(SetupOptions, TextAndIntegerOptions) {
  CMC_Setup setup;
  setup.SetOption("PMSMStartwithHalls", "1");
  setup.SetOption("IsInputsTypeProgrammable", "abc");
  EXPECT_EQ(setup.GetIntOption("pmsmstartwithhalls"), 1);
  EXPECT_EQ(setup.GetIntOption("IsInputsTypeProgrammable"), 0);
  EXPECT_EQ(setup.GetIntOption("Absent"), 0);
  EXPECT_EQ(setup.GetOptionNoError("Absent"), "");
  setup.SetOption("pmsmSTARTwithHalls", "0");
  EXPECT_EQ(setup.GetOptions().size(), 2u);
  EXPECT_EQ(setup.GetIntOption("PMSMStartwithHalls"), 0);
  setup.ClearOption("PMSMStartwithHalls");
  EXPECT_FALSE(setup.HasOption("PMSMStartwithHalls"));
}

TEST(SetupIoPorts, PinAndPortMapBothWaysAndUnknownGivesMinusOne) {
  CMC_Setup setup;
  setup.SetIoPorts({{0, 25}, {1, 26}});
  EXPECT_EQ(setup.GetIOPortFromPin(26), 1);
  EXPECT_EQ(setup.GetIOPinFromPort(0), 25);
  EXPECT_EQ(setup.GetIOPinFromPort(7), -1);
  EXPECT_EQ(setup.GetIOPortFromPin(7), -1);
}

TEST(SetupIoPorts, BrakeOutputsReportTheirStageAndInversion) {
  using axis::OutputStage;
  CMC_Setup setup;
  EXPECT_EQ(setup.GetNumberOfBrakeOutputs(), 0);
  setup.SetIoPorts({{0, 25}, {1, 26, OutputStage::kSource}, {2, 27, OutputStage::kSink, true}});
  EXPECT_EQ(setup.GetNumberOfBrakeOutputs(), 3);
  const struct {
    int port;
    int enable;
    int inverted;
  } rows[] = {{0, axis::kBrakePortEnabled | axis::kBrakePortSink, 0},
              {1, axis::kBrakePortEnabled | axis::kBrakePortSource, 0},
              {2, axis::kBrakePortEnabled | axis::kBrakePortSink, 1},
              {7, 0, 0}};  // not in the table
  for (const auto& row : rows) {
    SCOPED_TRACE(row.port);
    EXPECT_EQ(setup.IsBrakePortEnable(row.port), row.enable);
    EXPECT_EQ(setup.IsOutputPortInverted(row.port), row.inverted);
  }
}

TEST(HostRounding, DefinedForEveryDouble) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(axis::TruncToInt(nan), 0);
  EXPECT_EQ(axis::TruncToInt(inf), std::numeric_limits<int>::max());
  EXPECT_EQ(axis::TruncToInt(-inf), std::numeric_limits<int>::min());
  EXPECT_EQ(axis::TruncToInt(-2.9), -2);
  EXPECT_EQ(axis::TruncToWord(-1.0), 0xFFFFFFFFu);
  EXPECT_EQ(axis::TruncToWord(4294967296.0 + 5), 5u);
  EXPECT_EQ(TG_Round(2.5), 3);
  EXPECT_EQ(TG_Round(-2.5), -3);
  EXPECT_EQ(TG_Round(1e300), std::numeric_limits<int>::max());
  EXPECT_EQ(TG_FRound(1e300), 1e300);
  EXPECT_DOUBLE_EQ(RoundDecimalValue(1.23456, 2), 1.23);
  EXPECT_DOUBLE_EQ(RoundDecimalValue(0.9999999, 0), 1.0);
  EXPECT_TRUE(std::isnan(RoundDecimalValue(nan, 3)));
}

}  // namespace
