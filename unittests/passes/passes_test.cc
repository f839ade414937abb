// The two whole-setup passes: order, guards, and whole-setup behaviour on the bundled setups.
#include "passes/passes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "conversions/configuration.h"
#include "support/calculator_contract.h"
#include "support/test_setup.h"

namespace kestrel {
namespace {

using axis::testing::TestSetup;

using axis::testing::Bundled;
using axis::testing::Reports;

std::vector<double> Snapshot(const CMC_Setup& setup) {
  std::vector<double> values;
  const CMC_Parameters& parameters = setup.GetParameters();
  for (int i = 0; i < parameters.GetParametersCount(); ++i)
    values.push_back(parameters[i]->GetValueInBaseUnit());
  return values;
}

const char* const kBundled[] = {"demo-linear.json", "minimal-linear.json", "demo-rotary.json",
                                "demo-rotary-reversed.json"};

// Every bundled setup completes and goes through both passes without a missing name; the minimal
// one lacks every optional feature, which its guard must skip silently. Once the registers have
// been encoded and derived back, a second encode gives the very same registers: the physical
// values shown are exactly what the registers hold, so editing nothing changes nothing.
TEST(WholeSetup, BundledSetupsCompleteAndReachAFixedPoint) {
  for (const char* name : kBundled) {
    SCOPED_TRACE(name);
    auto setup = Bundled(name);
    ASSERT_TRUE(setup);
    if (name == kBundled[1]) {
      for (const char* optional : {"KPTHT", "isSWLS", "IQREF_BQ_INI", "CADIN", "isMotorBrake"})
        ASSERT_EQ(setup->FindParameterNoError(optional), nullptr) << optional;
    }
    Reports reports;
    CompleteSetup(*setup);
    ComputeRegistersFromParameters(*setup);
    ComputeParametersFromRegisters(*setup);
    EXPECT_TRUE(reports.messages.empty()) << reports.messages.front();
    EXPECT_EQ(g_bShowErrors, 1) << "every presence probe restores error reports";
    const std::vector<double> first = Snapshot(*setup);
    ComputeRegistersFromParameters(*setup);
    ComputeParametersFromRegisters(*setup);
    const std::vector<double> second = Snapshot(*setup);
    ASSERT_EQ(first.size(), second.size());
    const CMC_Parameters& parameters = setup->GetParameters();
    for (size_t i = 0; i < first.size(); ++i) {
      const CMC_Parameter* p = parameters[static_cast<int>(i)];
      EXPECT_TRUE(!p->IsInteger() || first[i] == second[i]) << p->GetName();
    }
  }
}

// Completing a setup read from a drive derives the physical values from the registers and sets
// the capability options. Later steps read physical values written earlier in the same pass: the
// freeze-control time (step 21) and the drive I2t time (step 3) use the parameter "Ts_S" that
// step 2 derives, not the stale value the parameter held before.
TEST(DerivePass, LaterStepsReadThePeriodDerivedEarlier) {
  auto setup = Bundled("demo-linear.json");
  ASSERT_TRUE(setup);
  setup->SetParameterValueInBaseUnit("Ts_S", 1.0);  // stale
  setup->SetParameterValueInBaseUnit("SLPER", 20);  // 1 ms slow loop at 20 kHz
  setup->ClearOption("IsClosedSpeed");
  CompleteSetup(*setup);
  const double ts = 20 * 2 * 1000 / 40e6;
  EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("Ts_S"), ts);
  EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("FreezeControl_time"),
                   ts * setup->GetParameterValueInBaseUnit("TONPOSOK_FC"));
  EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("t_I2t_D"),
                   ts * 67108864.0 / setup->GetParameterValueInBaseUnit("SFI2T_D"));
  EXPECT_EQ(setup->GetOptionNoError("IsClosedSpeed"), "1");
}

// The encode pass reads "Ts_S" as it stands: the user's edit of the slow divider reaches the
// slow-loop counted registers only after the derive pass has refreshed "Ts_S".
TEST(EncodePass, ReadsPhysicalValuesAsTheyStand) {
  auto setup = Bundled("demo-linear.json");
  ASSERT_TRUE(setup);
  CompleteSetup(*setup);
  const double time = setup->GetParameterValueInBaseUnit("FreezeControl_time");
  setup->SetParameterValueInBaseUnit("Ts_S", 2 * setup->GetParameterValueInBaseUnit("Ts_S"));
  ComputeRegistersFromParameters(*setup);
  EXPECT_DOUBLE_EQ(setup->GetParameterValueInBaseUnit("TONPOSOK_FC"),
                   std::round(time / setup->GetParameterValueInBaseUnit("Ts_S")));
}

// Each presence probe is true only with all of its names, reports nothing, and leaves error
// reports as they were.
TEST(Guards, ProbesNeedEveryNameAndStaySilent) {
  struct Row {
    bool (*probe)(CMC_Setup&);
    std::vector<const char*> names;
  };
  // clang-format off
  const Row rows[] = {
      {HasAngleController, {"KPTHT"}}, {HasSoftwareLimits, {"isSWLS"}},
      {HasSpeedEstimator, {"isSpeedEstimator"}}, {HasLssActive, {"save_CAN_baudrate", "save_axis_id"}},
      {HasMotorBrake, {"BRAKECFG", "isMotorBrake"}}, {HasFreezeControl, {"POSOKLIM_FC", "TONPOSOK_FC"}},
      {HasInputsPolarityType, {"InputsPolarityType"}}, {HasTransmissionSign, {"TRANSMISSION"}},
      {HasBiquadFilters, {"IQREF_BQ_INI"}}, {HasStartupMinimumMove, {"ABSTART_MINMOVE"}},
      {HasSpeedForward, {"SpeedForward"}}, {HasReverseCounting, {"ReverseCounting"}},
      {HasEncoderInputFilter, {"isFilterEnc", "FilterEncValue"}},
      {HasSpeedTestReferenceType, {"SpeedTestReferenceType"}}};
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.names.front());
    for (size_t left_out = 0; left_out <= row.names.size(); ++left_out) {
      TestSetup t;
      for (size_t i = 0; i < row.names.size(); ++i) {
        if (i != left_out) t.Physical({{row.names[i], 0}});
      }
      Reports reports;
      EXPECT_EQ(row.probe(*t), left_out == row.names.size());
      EXPECT_TRUE(reports.messages.empty());
      EXPECT_EQ(g_bShowErrors, 1);
    }
  }
}

// Some registers exist only on some firmware: the passes set them "when they exist", so a setup
// without one must go through without a report, and the rest of the step still runs.
TEST(Guards, RegistersSetOnlyWhenTheyExistAreSkippedSilently) {
  const struct {
    const char* missing;
    void (*pass)(CMC_Setup&);
    const char* still_written;  // a value the same step writes afterwards
  } rows[] = {{"T1MAXPROT", ComputeRegistersFromParameters, "II2TPROT_M"},
              {"KFFL", ComputeRegistersFromParameters, "SFTKPS"},
              {"SATID", ComputeRegistersFromParameters, "SATIQ"},
              {"KDFP", ComputeRegistersFromParameters, "IMAXP"},
              {"CRT_min", ComputeParametersFromRegisters, "CRT_max"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.missing);
    auto setup = axis::testing::Demo(row.missing);
    ASSERT_TRUE(setup);
    CMC_Parameter* written = setup->FindParameter(row.still_written);
    ASSERT_NE(written, nullptr);
    written->SetValueInBaseUnit(-12345);
    Reports reports;
    row.pass(*setup);
    EXPECT_TRUE(reports.messages.empty()) << reports.messages.front();
    EXPECT_NE(written->GetValueInBaseUnit(), -12345);
  }
}

}  // namespace
}  // namespace kestrel
