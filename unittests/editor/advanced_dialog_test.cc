// The advanced dialog: control structure, loop timing and the slow-loop counted values.
#include "editor/advanced_dialog.h"

#include <limits>

#include "editor/editor_test_support.h"

namespace {

using namespace axis::testing;
using Dlg = CAdvancedDialog;

class AdvancedDialogTest : public EditorTest {};

struct Options {
  bool speed_forward = true, freeze = true, placement = true, estimator = true;
};

// 40 MHz clock, PWMPER 1000 (20 kHz, 50 us), CLPER 1, SLPER 10: Ts_C 50 us, Ts_S 500 us.
TestSetup TimingSetup(double mode, double position_type, Options o = {}) {
  TestSetup t;
  // clang-format off
  t.Physical({{"ControlMode", mode}, {"PositionControlType", position_type},
              {"DSP_freq", 40e6, "Hz"}, {"PWM_freq", 20000, "Hz"}, {"PWMperiod", 50e-6, "s"},
              {"Ts_C", 50e-6, "s"}, {"Ts_S", 500e-6, "s"}});
  t.Registers({{"PWMPER", 1000}, {"CLPER", 1}, {"SLPER", 10}});
  if (o.speed_forward) t.Physical({{"SpeedForward", 0}});
  if (o.freeze) {
    t.Physical({{"isFreezeControl", 0}, {"FreezeControl_errband", 1e-5, "m"},
                {"FreezeControl_time", 0.01, "s"}});
    t.Registers({{"POSOKLIM_FC", 0}, {"TONPOSOK_FC", 0}});
  }
  // clang-format on
  if (o.placement) t.Physical({{"PosSpd_in_FastLoop", 0}});
  if (o.estimator) t.Physical({{"isSpeedEstimator", 0}});
  return t;
}

TEST_F(AdvancedDialogTest, ControlsFollowTheControlStructure) {
  constexpr bool T = true, F = false;
  const Options none{false, false, false, false};
  // clang-format off
  struct Row { const char* name; double mode, position_type, freeze_on; Options options;
               const char* picture; bool scheme, ff_group, ff_speed, freeze, freeze_values,
               placement_shown, placement, estimator; };
  const Row rows[] = {
      {"position, cascaded", 0, 1, 0, {}, "3016", T, T, T, T, F, T, T, T},
      {"position only, freeze set", 0, 0, 1, {}, "3017", T, T, F, T, T, T, T, T},
      {"speed, freeze set", 1, 1, 1, {}, "3060", F, T, F, F, F, T, T, T},
      {"torque", 2, 1, 0, {}, "3061", F, F, F, F, F, T, F, T},
      {"position without options", 0, 1, 0, none, "3016", T, F, F, F, F, F, F, F},
      {"unknown mode", 3, 0, 0, {}, "3061", F, T, F, F, F, T, F, T},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = TimingSetup(row.mode, row.position_type, row.options);
    if (row.options.freeze) t.Set("isFreezeControl", row.freeze_on);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(d.Control(Dlg::kPicture)->image, row.picture);
    ExpectShown(d, {Dlg::kCloseOnlyPosition, Dlg::kClosePositionSpeed}, row.scheme);
    ExpectEnabled(d, {Dlg::kFeedForwardGroup, Dlg::kFeedForwardCurrentLoop}, row.ff_group);
    EXPECT_EQ(Enabled(d, Dlg::kFeedForwardSpeedLoop), row.ff_speed);
    ExpectEnabled(d, {Dlg::kFreezeGroup, Dlg::kFreezeCheck}, row.freeze);
    ExpectEnabled(d, {3393, 3394, 3395, 3396, 3397, 3398}, row.freeze_values);
    const std::vector<int> placement = {Dlg::kLoopPlacementGroup, Dlg::kSlowLoopPlacement,
                                        Dlg::kFastLoopPlacement};
    ExpectShown(d, placement, row.placement_shown);
    if (row.placement_shown) ExpectEnabled(d, placement, row.placement);
    ExpectEnabled(d, {Dlg::kSpeedComputationGroup, Dlg::kSpeedEstimator}, row.estimator);
    ExpectShown(d, {Dlg::kFastOutsideLimits, Dlg::kSlowOutsideLimits}, false);
    // Optional controls are bound only when their parameters exist.
    EXPECT_EQ(d.Control(Dlg::kFreezeTime)->parameter,
              row.options.freeze ? "FreezeControl_time" : "");
    EXPECT_EQ(d.Control(Dlg::kFeedForwardCurrentLoop)->parameter,
              row.options.speed_forward ? "SpeedForward" : "");
  }
}

TEST_F(AdvancedDialogTest, TheUsersChoicesRedrawAndMoveTheFeedForward) {
  auto setup = Bundled({{"PositionControlType", 1}, {"SpeedForward", 0}, {"isFreezeControl", 0}});
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  ASSERT_TRUE(d.UserClick(Dlg::kCloseOnlyPosition));
  EXPECT_EQ(Get(*setup, "PositionControlType"), 0);
  EXPECT_EQ(d.Control(Dlg::kPicture)->image, "3017");
  EXPECT_FALSE(Enabled(d, Dlg::kFeedForwardSpeedLoop));
  // Without a speed loop the feed-forward can only go to the current loop.
  EXPECT_EQ(Get(*setup, "SpeedForward"), 1);
  EXPECT_EQ(d.GetCheck(Dlg::kFeedForwardCurrentLoop), 1);
  ASSERT_TRUE(d.UserClick(Dlg::kClosePositionSpeed));
  EXPECT_EQ(d.Control(Dlg::kPicture)->image, "3016");
  EXPECT_TRUE(Enabled(d, Dlg::kFeedForwardSpeedLoop));
  // Ticking freeze control opens its values at once.
  ASSERT_TRUE(d.UserClick(Dlg::kFreezeCheck));
  EXPECT_EQ(Get(*setup, "isFreezeControl"), 1);
  EXPECT_TRUE(Enabled(d, Dlg::kFreezeTime));
}

TEST_F(AdvancedDialogTest, DividersKeepTheirOrderAndMarkPeriodsBelowTheMinimum) {
  // The divider typed, the minimum periods; the dividers after (50 us per step) and the marks.
  const int fast = Dlg::kFastDivider, slow = Dlg::kSlowDivider;
  // clang-format off
  struct Row { const char* name; int edit; const char* typed;
               double fast_min_s, slow_min_s, clper, slper; bool fast_mark, slow_mark; };
  const Row rows[] = {
      {"fast above slow lifts slow", fast, "12", 0, 0, 12, 12, false, false},
      {"fast below slow", fast, "4", 0, 0, 4, 10, false, false},
      {"slow below fast is lifted back", slow, "1", 0, 0, 1, 1, false, false},
      {"fast below its minimum", fast, "1", 100e-6, 0, 1, 10, true, false},
      {"fast at its minimum", fast, "2", 100e-6, 0, 2, 10, false, false},
      {"slow below its minimum", slow, "10", 0, 1e-3, 1, 10, false, true},
      {"slow above its minimum", slow, "30", 0, 1e-3, 1, 30, false, false},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Bundled({{"Ts_C_min", row.fast_min_s}, {"Ts_S_min", row.slow_min_s}});
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_TRUE(d.UserType(row.edit, row.typed));
    EXPECT_EQ(Get(*setup, "CLPER"), row.clper);
    EXPECT_EQ(Get(*setup, "SLPER"), row.slper);
    EXPECT_NEAR(Get(*setup, "Ts_C"), row.clper * 50e-6, 1e-12);
    EXPECT_NEAR(Get(*setup, "Ts_S"), row.slper * 50e-6, 1e-12);
    EXPECT_EQ(d.GetChildText(Dlg::kSlowDivider), std::to_string(static_cast<int>(row.slper)));
    EXPECT_EQ(Shown(d, Dlg::kFastOutsideLimits), row.fast_mark);
    EXPECT_EQ(Shown(d, Dlg::kSlowOutsideLimits), row.slow_mark);
    // The labels of a loop outside its limits turn red.
    const auto colour = [](bool red) { return red ? Dlg::kRedColour : Dlg::kNormalColour; };
    for (int id : {1131, 1140}) EXPECT_EQ(d.GetTextColour(id), colour(row.fast_mark)) << id;
    for (int id : {1134, 1143}) EXPECT_EQ(d.GetTextColour(id), colour(row.slow_mark)) << id;
    for (int id : {1148, 1149}) EXPECT_EQ(d.GetTextColour(id), Dlg::kRedColour) << id;
  }
}

std::string MinimumMessage(const char* loop, const char* ms) {
  return std::string("The minimum value for ") + loop + " loop sampling period is " + ms +
         " ms!\nPlease adjust the PWM frequency and/or the " + loop +
         " loop sampling frequency divider until this condition is fulfilled!";
}

TEST_F(AdvancedDialogTest, OkChecksTheMinimumPeriods) {
  // The minimum periods (Ts_C is 50 us, Ts_S 500 us) and the messages OK shows.
  // clang-format off
  struct Row { const char* name; double fast_min_s, slow_min_s;
               std::vector<std::string> messages; };
  const Row rows[] = {
      {"both fulfilled", 50e-6, 500e-6, {}},
      {"no minimums", 0, -1, {}},
      {"fast too short", 0.1e-3, 0, {MinimumMessage("Fast", "0.100")}},
      {"slow too short", 0, 1.25e-3, {MinimumMessage("Slow", "1.250")}},
      {"both, fast first", 0.0626e-3, 0.5004e-3,
       {MinimumMessage("Fast", "0.063"), MinimumMessage("Slow", "0.500")}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = TimingSetup(0, 1);
    t.Physical({{"Ts_C_min", row.fast_min_s, "s"}, {"Ts_S_min", row.slow_min_s, "s"}});
    Dlg d(*t, nullptr);
    const size_t before = platform_.MessageLog().size();
    platform_.Click(axis::kIdOk);  // then the script runs dry: a dialog still open is cancelled
    EXPECT_EQ(d.DoModal(), row.messages.empty() ? axis::kIdOk : axis::kIdCancel);
    EXPECT_EQ(Messages(platform_, before), row.messages);
  }
}

TEST_F(AdvancedDialogTest, HalvingTheSlowPeriodRescalesCountsAndKeepsPhysicalValues) {
  // Slow-loop counted values of the demo setup, one per kind of quantity (s, s, m/s, m/s^2, A/s),
  // with the power of (reference period / new period) their internal count is multiplied by.
  // clang-format off
  const std::pair<const char*, double> counted[] = {{"FreezeControl_time", 1}, {"time_ERR_pos", 1},
      {"ERR_speed", -1}, {"ErefMaxAcceleration", -2}, {"REF_INC", -1}};
  // clang-format on
  // The drive holds accelerations in whole counts per period squared (1 um encoder): 64 m/s^2 is
  // 16 counts at 500 us and 4 at 250 us, so it survives the change exactly.
  auto setup = Bundled({{"ErefMaxAcceleration", 64}});
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  std::vector<double> physical, internal;
  for (const auto& [name, power] : counted) {
    physical.push_back(Get(*setup, name));
    internal.push_back(setup->FindParameter(name)->GetValueInInternalUnit());
  }
  const double drive_i2t_A = Get(*setup, "I_I2t_D");
  const double motor_i2t_A = Get(*setup, "I_I2t_M");

  ASSERT_TRUE(d.UserType(Dlg::kSlowDivider, "5"));  // 500 us -> 250 us, ratio 2
  EXPECT_DOUBLE_EQ(d.ReferenceSlowPeriod(), 250e-6);
  for (size_t i = 0; i < std::size(counted); ++i) {
    const auto& [name, power] = counted[i];
    SCOPED_TRACE(name);
    EXPECT_NEAR(Get(*setup, name), physical[i], 1e-9 * std::fabs(physical[i]));
    EXPECT_NEAR(setup->FindParameter(name)->GetValueInInternalUnit(),
                internal[i] * std::pow(2.0, power), 1e-6 * std::fabs(internal[i]) + 1e-9);
  }
  // The registers follow: 10 ms of freeze trigger time were 20 periods of 500 us, now 40 of 250.
  EXPECT_EQ(Get(*setup, "TONPOSOK_FC"), 40);
  // The I2t times were kept, so their currents stay.
  EXPECT_DOUBLE_EQ(Get(*setup, "I_I2t_D"), drive_i2t_A);
  EXPECT_DOUBLE_EQ(Get(*setup, "I_I2t_M"), motor_i2t_A);
}

// A fast divider typed above the slow one lifts it, and the slow period moves with it: the values
// counted in slow-loop periods follow, as for a slow divider typed.
TEST_F(AdvancedDialogTest, AFastDividerThatLiftsTheSlowOneRescalesToo) {
  auto setup = Bundled({});
  setup->FindParameter("CLPER")->SetMaxInBaseUnit(32);  // the demo drive allows the fast loop 10
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  const double freeze_s = Get(*setup, "FreezeControl_time");
  ASSERT_TRUE(d.UserType(Dlg::kFastDivider, "20"));  // slow divider 10 -> 20: 500 us -> 1 ms
  EXPECT_EQ(Get(*setup, "SLPER"), 20);
  EXPECT_DOUBLE_EQ(d.ReferenceSlowPeriod(), 1e-3);
  EXPECT_NEAR(Get(*setup, "FreezeControl_time"), freeze_s, 1e-12);
  EXPECT_EQ(Get(*setup, "TONPOSOK_FC"), 10);  // 10 ms are 10 periods of 1 ms now
}

TEST_F(AdvancedDialogTest, ANewPwmFrequencyKeepsTheLoopPeriodsAsCloseAsWholeDividersAllow) {
  // PWMPER = 40 MHz x 0.5 / f, stored whole; the dividers round the old periods over the new PWM
  // period; the freeze time of 10 ms is counted in the new slow period.
  // clang-format off
  const struct { const char* typed_kHz; double pwmper, clper, slper, freeze_counts; } rows[] = {
      {"40", 500, 2, 20, 20},    // 50 us / 25 us = 2 and 500 us / 25 us = 20: both periods kept
      {"25", 800, 1, 13, 19},    // 1000 / 800 + 0.5 -> 1; 10000 / 800 + 0.5 = 13 (520 us)
      {"12.5", 1600, 1, 6, 21},  // 1000 / 1600 + 0.5 -> 1; 10000 / 1600 + 0.5 -> 6 (480 us)
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed_kHz);
    auto setup = Bundled();
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_TRUE(d.UserType(Dlg::kPwmFrequency, row.typed_kHz));
    EXPECT_EQ(Get(*setup, "PWMPER"), row.pwmper);
    EXPECT_EQ(Get(*setup, "CLPER"), row.clper);
    EXPECT_EQ(Get(*setup, "SLPER"), row.slper);
    const double pwm_s = 2 * row.pwmper / 40e6;
    EXPECT_NEAR(Get(*setup, "PWMperiod"), pwm_s, 1e-15);
    EXPECT_NEAR(Get(*setup, "Ts_C"), row.clper * pwm_s, 1e-12);
    EXPECT_NEAR(Get(*setup, "Ts_S"), row.slper * pwm_s, 1e-12);
    EXPECT_DOUBLE_EQ(d.ReferenceSlowPeriod(), Get(*setup, "Ts_S"));
    EXPECT_EQ(Get(*setup, "TONPOSOK_FC"), row.freeze_counts);
  }
}

TEST_F(AdvancedDialogTest, DegenerateTimingRunsWithoutACrash) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // A clock of 0, NaN, infinity or below 0, a PWM period of 0.
  // clang-format off
  const struct { double dsp_Hz, pwmper, ts_s; } rows[] = {
      {0, 1000, 0}, {40e6, 0, inf}, {nan, 1000, nan}, {inf, 1000, 0}, {-40e6, 1000, -5e-4}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.dsp_Hz << " Hz, PWMPER " << row.pwmper);
    TestSetup t = TimingSetup(0, 1);
    t.Physical({{"Ts_C_min", 1e-4, "s"}, {"Ts_S_min", 1e-3, "s"}});
    Set(*t, {{"DSP_freq", row.dsp_Hz}, {"PWMPER", row.pwmper}, {"Ts_S", row.ts_s}});
    Dlg d(*t, nullptr);
    platform_.Type(Dlg::kFastDivider, "3")
        .Type(Dlg::kSlowDivider, "2")
        .Type(Dlg::kPwmFrequency, "0")
        .Type(Dlg::kPwmFrequency, "15000")
        .Click(axis::kIdOk);
    d.DoModal();
    // Every scripted action found its control usable: nothing disabled the dialog on the way.
    EXPECT_TRUE(platform_.ScriptErrors().empty()) << platform_.ScriptErrors().front();
  }
}

}  // namespace
