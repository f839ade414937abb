// The advanced dialog: control structure, loop timing, the divider order, the minimum-period marks
// and messages, and the rescaling of slow-loop counted values when the slow period moves.
#include "editor/advanced_dialog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "conversions/motion_units.h"
#include "host/dialog_test_support.h"
#include "host/setup_file.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using Dlg = CAdvancedDialog;

class AdvancedDialogTest : public axis::testing::DialogTest {
 protected:
  // The bundled templates of the build.
  axis::testing::ResourceFolder real_templates_{std::nullopt};
};

std::unique_ptr<CMC_Setup> Demo() {
  axis::LoadResult result = axis::LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/demo-linear.json");
  EXPECT_TRUE(result.setup) << result.error;
  if (result.setup) result.setup->SetScaleProvider({&kestrel::ScaleFactor, &kestrel::ScaleOffset});
  return std::move(result.setup);
}

double Get(CMC_Setup& setup, const char* name) {
  return setup.FindParameter(name)->GetValueInBaseUnit();
}
double Internal(CMC_Setup& setup, const char* name) {
  return setup.FindParameter(name)->GetValueInInternalUnit();
}
void Set(CMC_Setup& setup, const char* name, double value) {
  setup.FindParameter(name)->SetValueInBaseUnit(value);
}

struct Options {
  bool speed_forward = true;
  bool freeze = true;
  bool placement = true;
  bool estimator = true;
};

// 40 MHz clock, PWMPER 1000 (20 kHz, 50 us), CLPER 1, SLPER 10: Ts_C 50 us, Ts_S 500 us.
TestSetup TimingSetup(double mode, double position_type, Options o = {}) {
  TestSetup t;
  t.Physical({{"ControlMode", mode},
              {"PositionControlType", position_type},
              {"DSP_freq", 40e6, "Hz"},
              {"PWM_freq", 20000, "Hz"},
              {"PWMperiod", 50e-6, "s"},
              {"Ts_C", 50e-6, "s"},
              {"Ts_S", 500e-6, "s"}});
  t.Registers({{"PWMPER", 1000}, {"CLPER", 1}, {"SLPER", 10}});
  if (o.speed_forward) t.Physical({{"SpeedForward", 0}});
  if (o.freeze) {
    t.Physical({{"isFreezeControl", 0},
                {"FreezeControl_errband", 1e-5, "m"},
                {"FreezeControl_time", 0.01, "s"}});
    t.Registers({{"POSOKLIM_FC", 0}, {"TONPOSOK_FC", 0}});
  }
  if (o.placement) t.Physical({{"PosSpd_in_FastLoop", 0}});
  if (o.estimator) t.Physical({{"isSpeedEstimator", 0}});
  return t;
}

bool Enabled(const Dlg& d, int id) { return d.Control(id) != nullptr && d.Control(id)->enabled; }
bool Shown(const Dlg& d, int id) { return d.Control(id) != nullptr && d.Control(id)->shown; }

TEST_F(AdvancedDialogTest, ControlsFollowTheControlStructure) {
  struct Row {
    const char* name;
    double mode, position_type;
    Options options;
    const char* picture;
    bool scheme_shown, ff_group, ff_speed, ff_current, freeze, placement_shown, placement,
        estimator;
  };
  const Options none{false, false, false, false};
  const Row rows[] = {
      {"position, cascaded", 0, 1, {}, "3016", true, true, true, true, true, true, true, true},
      {"position only", 0, 0, {}, "3017", true, true, false, true, true, true, true, true},
      {"speed", 1, 1, {}, "3060", false, true, false, true, false, true, true, true},
      {"torque", 2, 1, {}, "3061", false, false, false, false, false, true, false, true},
      {"position without options", 0, 1, none, "3016", true, false, false, false, false, false,
       false, false},
      {"unknown mode", 3, 0, {}, "3061", false, true, false, true, false, true, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = TimingSetup(row.mode, row.position_type, row.options);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(d.Control(Dlg::kPicture)->image, row.picture);
    EXPECT_EQ(Shown(d, Dlg::kCloseOnlyPosition), row.scheme_shown);
    EXPECT_EQ(Shown(d, Dlg::kClosePositionSpeed), row.scheme_shown);
    EXPECT_EQ(Enabled(d, Dlg::kFeedForwardGroup), row.ff_group);
    EXPECT_EQ(Enabled(d, Dlg::kFeedForwardSpeedLoop), row.ff_speed);
    EXPECT_EQ(Enabled(d, Dlg::kFeedForwardCurrentLoop), row.ff_current);
    EXPECT_EQ(Enabled(d, Dlg::kFreezeGroup), row.freeze);
    EXPECT_EQ(Enabled(d, Dlg::kFreezeCheck), row.freeze);
    for (int id : {Dlg::kLoopPlacementGroup, Dlg::kSlowLoopPlacement, Dlg::kFastLoopPlacement}) {
      EXPECT_EQ(Shown(d, id), row.placement_shown) << id;
      if (row.placement_shown) {
        EXPECT_EQ(Enabled(d, id), row.placement) << id;
      }
    }
    EXPECT_EQ(Enabled(d, Dlg::kSpeedComputationGroup), row.estimator);
    EXPECT_EQ(Enabled(d, Dlg::kSpeedEstimator), row.estimator);
    EXPECT_FALSE(Shown(d, Dlg::kFastOutsideLimits));
    EXPECT_FALSE(Shown(d, Dlg::kSlowOutsideLimits));
    // Optional controls are bound only when their parameters exist.
    EXPECT_EQ(d.Control(Dlg::kFreezeTime)->parameter,
              row.options.freeze ? "FreezeControl_time" : "");
    EXPECT_EQ(d.Control(Dlg::kFeedForwardCurrentLoop)->parameter,
              row.options.speed_forward ? "SpeedForward" : "");
  }
}

TEST_F(AdvancedDialogTest, FreezeValuesAreEditableOnlyWithFreezeControlSetInPositionMode) {
  struct Row {
    const char* name;
    double mode;
    bool check_it;
    bool values_enabled;
  };
  const Row rows[] = {
      {"position, not set", 0, false, false},
      {"position, set", 0, true, true},
      {"speed, set", 1, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = TimingSetup(row.mode, 1);
    if (row.check_it) t.Set("isFreezeControl", 1);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    for (int id = 3393; id <= 3398; ++id) EXPECT_EQ(Enabled(d, id), row.values_enabled) << id;
  }
  // Ticking the box through the dialog opens the values at once.
  TestSetup t = TimingSetup(0, 1);
  Dlg d(*t, nullptr);
  d.OnInitDialog();
  ASSERT_TRUE(d.UserClick(Dlg::kFreezeCheck));
  EXPECT_EQ(t.Get("isFreezeControl"), 1);
  EXPECT_TRUE(Enabled(d, Dlg::kFreezeErrorBand));
  EXPECT_TRUE(Enabled(d, Dlg::kFreezeTime));
}

TEST_F(AdvancedDialogTest, ChoosingTheControlSchemeRedrawsAndMovesTheFeedForward) {
  auto setup = Demo();
  ASSERT_TRUE(setup);
  Set(*setup, "PositionControlType", 1);
  Set(*setup, "SpeedForward", 0);
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  EXPECT_EQ(d.Control(Dlg::kPicture)->image, "3016");
  EXPECT_TRUE(Enabled(d, Dlg::kFeedForwardSpeedLoop));

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
}

TEST_F(AdvancedDialogTest, TheSlowDividerIsNeverBelowTheFastOne) {
  struct Row {
    const char* name;
    const char* divider;  // "fast" or "slow"
    const char* typed;
    double clper, slper;
    double ts_c_s, ts_s_s;  // 50 us per divider step
  };
  const Row rows[] = {
      {"fast above slow lifts slow", "fast", "12", 12, 12, 600e-6, 600e-6},
      {"fast below slow", "fast", "4", 4, 10, 200e-6, 500e-6},
      {"slow below fast is lifted back", "slow", "1", 1, 1, 50e-6, 50e-6},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    const int edit = std::string(row.divider) == "fast" ? Dlg::kFastDivider : Dlg::kSlowDivider;
    ASSERT_TRUE(d.UserType(edit, row.typed));
    EXPECT_EQ(Get(*setup, "CLPER"), row.clper);
    EXPECT_EQ(Get(*setup, "SLPER"), row.slper);
    EXPECT_NEAR(Get(*setup, "Ts_C"), row.ts_c_s, 1e-12);
    EXPECT_NEAR(Get(*setup, "Ts_S"), row.ts_s_s, 1e-12);
    EXPECT_EQ(d.GetChildText(Dlg::kSlowDivider), std::to_string(static_cast<int>(row.slper)));
  }
}

TEST_F(AdvancedDialogTest, OutsideLimitsMarksFollowTheMinimumPeriods) {
  struct Row {
    const char* name;
    int edit;
    const char* minimum_name;
    double minimum_s;
    const char* typed;
    bool mark_shown;
  };
  // 50 us per divider step.
  const Row rows[] = {
      {"fast below its minimum", Dlg::kFastDivider, "Ts_C_min", 100e-6, "1", true},
      {"fast at its minimum", Dlg::kFastDivider, "Ts_C_min", 100e-6, "2", false},
      {"slow below its minimum", Dlg::kSlowDivider, "Ts_S_min", 1e-3, "10", true},
      {"slow above its minimum", Dlg::kSlowDivider, "Ts_S_min", 1e-3, "30", false},
      {"no fast minimum", Dlg::kFastDivider, "Ts_C_min", 0, "1", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Set(*setup, row.minimum_name, row.minimum_s);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_TRUE(d.UserType(row.edit, row.typed));
    const bool fast = row.edit == Dlg::kFastDivider;
    const int mark = fast ? Dlg::kFastOutsideLimits : Dlg::kSlowOutsideLimits;
    const int other = fast ? Dlg::kSlowOutsideLimits : Dlg::kFastOutsideLimits;
    EXPECT_EQ(Shown(d, mark), row.mark_shown);
    EXPECT_FALSE(Shown(d, other));
    const int colour = row.mark_shown ? Dlg::kRedColour : Dlg::kNormalColour;
    EXPECT_EQ(d.TextColour(fast ? 1131 : 1134), colour);
    EXPECT_EQ(d.TextColour(fast ? 1140 : 1143), colour);
    EXPECT_EQ(d.TextColour(fast ? 1134 : 1131), Dlg::kNormalColour);
    EXPECT_EQ(d.TextColour(mark), Dlg::kRedColour);
    EXPECT_EQ(d.TextColour(other), Dlg::kRedColour);
  }
}

TEST_F(AdvancedDialogTest, AMinimumOfZeroLeavesTheMarkAsItWas) {
  auto setup = Demo();
  ASSERT_TRUE(setup);
  Set(*setup, "Ts_C_min", 100e-6);
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  ASSERT_TRUE(d.UserType(Dlg::kFastDivider, "1"));
  ASSERT_TRUE(Shown(d, Dlg::kFastOutsideLimits));
  Set(*setup, "Ts_C_min", 0);
  ASSERT_TRUE(d.UserType(Dlg::kFastDivider, "3"));
  EXPECT_TRUE(Shown(d, Dlg::kFastOutsideLimits));
  EXPECT_EQ(d.TextColour(1131), Dlg::kRedColour);
}

const char kFastMessage[] =
    "The minimum value for Fast loop sampling period is %s ms!\nPlease adjust the PWM frequency "
    "and/or the Fast loop sampling frequency divider until this condition is fulfilled!";
const char kSlowMessage[] =
    "The minimum value for Slow loop sampling period is %s ms!\nPlease adjust the PWM frequency "
    "and/or the Slow loop sampling frequency divider until this condition is fulfilled!";

std::string Message(const char* format, const char* value) {
  std::string text = format;
  text.replace(text.find("%s"), 2, value);
  return text;
}

TEST_F(AdvancedDialogTest, OkChecksTheMinimumPeriods) {
  struct Row {
    const char* name;
    double fast_min_s, slow_min_s;  // Ts_C = 50 us, Ts_S = 500 us
    std::vector<std::string> messages;
    int result;
  };
  const Row rows[] = {
      {"both fulfilled", 50e-6, 500e-6, {}, axis::kIdOk},
      {"no minimums", 0, -1, {}, axis::kIdOk},
      {"fast too short", 0.1e-3, 0, {Message(kFastMessage, "0.100")}, axis::kIdCancel},
      {"slow too short", 0, 1.25e-3, {Message(kSlowMessage, "1.250")}, axis::kIdCancel},
      {"both, fast first",
       0.0626e-3,
       0.5004e-3,
       {Message(kFastMessage, "0.063"), Message(kSlowMessage, "0.500")},
       axis::kIdCancel},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = TimingSetup(0, 1);
    t.Physical({{"Ts_C_min", row.fast_min_s, "s"}, {"Ts_S_min", row.slow_min_s, "s"}});
    Dlg d(*t, nullptr);
    axis::HeadlessPlatform platform;
    axis::SetPlatform(&platform);
    platform.Click(axis::kIdOk);  // then the script runs dry: a dialog still open is cancelled
    EXPECT_EQ(d.DoModal(), row.result);
    std::vector<std::string> shown;
    for (const auto& entry : platform.MessageLog()) shown.push_back(entry.request.text);
    EXPECT_EQ(shown, row.messages);
    axis::SetPlatform(&platform_);
  }
}

TEST_F(AdvancedDialogTest, HelpOpensTheDialogsTopic) {
  TestSetup t = TimingSetup(0, 1);
  Dlg d(*t, nullptr);
  platform_.Click(axis::kHelpButton).EndCancel();
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);
  EXPECT_EQ(platform_.HelpLog(), std::vector<int>{262419});
}

// Slow-loop counted values of the demo setup, one per kind of quantity, with the power of
// (reference period / new period) their internal count is multiplied by.
struct Counted {
  const char* name;
  double power;
};
const Counted kCounted[] = {
    {"FreezeControl_time", 1},    // s
    {"time_ERR_pos", 1},          // s
    {"ERR_speed", -1},            // m/s
    {"ErefMaxAcceleration", -2},  // m/s^2
    {"REF_INC", -1},              // A/s
};

TEST_F(AdvancedDialogTest, HalvingTheSlowPeriodRescalesCountsAndKeepsPhysicalValues) {
  auto setup = Demo();
  ASSERT_TRUE(setup);
  // The drive holds accelerations in whole counts per period squared (1 um encoder): 64 m/s^2 is
  // 16 counts at 500 us and 4 at 250 us, so it survives the change exactly (the demo's 20 m/s^2
  // would be 1.25 counts and move to the nearest whole one).
  Set(*setup, "ErefMaxAcceleration", 64);
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  std::vector<double> physical, internal;
  for (const Counted& c : kCounted) {
    physical.push_back(Get(*setup, c.name));
    internal.push_back(Internal(*setup, c.name));
  }
  const double drive_i2t_A = Get(*setup, "I_I2t_D");
  const double motor_i2t_A = Get(*setup, "I_I2t_M");

  ASSERT_TRUE(d.UserType(Dlg::kSlowDivider, "5"));  // 500 us -> 250 us, ratio 2
  EXPECT_NEAR(Get(*setup, "Ts_S"), 250e-6, 1e-12);
  EXPECT_DOUBLE_EQ(d.ReferenceSlowPeriod(), Get(*setup, "Ts_S"));
  for (size_t i = 0; i < std::size(kCounted); ++i) {
    SCOPED_TRACE(kCounted[i].name);
    EXPECT_NEAR(Get(*setup, kCounted[i].name), physical[i], 1e-9 * std::fabs(physical[i]));
    EXPECT_NEAR(Internal(*setup, kCounted[i].name), internal[i] * std::pow(2.0, kCounted[i].power),
                1e-6 * std::fabs(internal[i]) + 1e-9);
  }
  // The registers follow: the freeze trigger time of 10 ms was 20 periods of 500 us, now 40 of
  // 250 us.
  EXPECT_EQ(Get(*setup, "TONPOSOK_FC"), 40);
  // The I2t times were kept, so their currents stay.
  EXPECT_DOUBLE_EQ(Get(*setup, "I_I2t_D"), drive_i2t_A);
  EXPECT_DOUBLE_EQ(Get(*setup, "I_I2t_M"), motor_i2t_A);
}

TEST_F(AdvancedDialogTest, RandomSlowDividersKeepCountedTimesWithinOnePeriod) {
  auto setup = Demo();
  ASSERT_TRUE(setup);
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int> slper(1, 100);
  for (int i = 0; i < 40; ++i) {
    const int divider = slper(random);
    SCOPED_TRACE(divider);
    const double before_s = Get(*setup, "FreezeControl_time");
    ASSERT_TRUE(d.UserType(Dlg::kSlowDivider, std::to_string(divider)));
    const double ts_s = divider * 2 * 1000 / 40e6;
    ASSERT_NEAR(Get(*setup, "Ts_S"), ts_s, 1e-12);
    // The register holds a whole number of periods: the time moves by at most half of one.
    EXPECT_NEAR(Get(*setup, "FreezeControl_time"), before_s, ts_s / 2 + 1e-12);
    EXPECT_NEAR(Get(*setup, "TONPOSOK_FC") * ts_s, Get(*setup, "FreezeControl_time"), 1e-12);
  }
}

TEST_F(AdvancedDialogTest, ANewPwmFrequencyKeepsTheLoopPeriodsAsCloseAsWholeDividersAllow) {
  struct Row {
    const char* name;
    const char* typed_kHz;
    double pwmper;  // 40 MHz x 0.5 / f, stored whole
    double clper, slper;
    double ts_c_s, ts_s_s;  // divider x 2 x PWMPER / 40 MHz
    double freeze_counts;   // 10 ms / Ts_S, rounded
  };
  const Row rows[] = {
      // 50 us / 25 us = 2 and 500 us / 25 us = 20: both periods kept.
      {"doubled", "40", 500, 2, 20, 50e-6, 500e-6, 20},
      // 1000 / 800 + 0.5 = 1.75 -> 1; 10000 / 800 + 0.5 = 13 -> 13 (520 us).
      {"25 kHz", "25", 800, 1, 13, 40e-6, 520e-6, 19},
      // 1000 / 1600 + 0.5 = 1.125 -> 1; 10000 / 1600 + 0.5 = 6.75 -> 6 (480 us).
      {"12.5 kHz", "12.5", 1600, 1, 6, 80e-6, 480e-6, 21},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_EQ(std::string(setup->GetParameterUnit("PWM_freq")), "kHz");
    ASSERT_TRUE(d.UserType(Dlg::kPwmFrequency, row.typed_kHz));
    EXPECT_EQ(Get(*setup, "PWMPER"), row.pwmper);
    EXPECT_EQ(Get(*setup, "CLPER"), row.clper);
    EXPECT_EQ(Get(*setup, "SLPER"), row.slper);
    EXPECT_NEAR(Get(*setup, "Ts_C"), row.ts_c_s, 1e-12);
    EXPECT_NEAR(Get(*setup, "Ts_S"), row.ts_s_s, 1e-12);
    EXPECT_NEAR(Get(*setup, "PWMperiod"), 2 * row.pwmper / 40e6, 1e-15);
    EXPECT_DOUBLE_EQ(d.ReferenceSlowPeriod(), Get(*setup, "Ts_S"));
    EXPECT_EQ(Get(*setup, "TONPOSOK_FC"), row.freeze_counts);
    EXPECT_EQ(d.GetChildText(Dlg::kSlowDivider), std::to_string(static_cast<int>(row.slper)));
  }
}

TEST_F(AdvancedDialogTest, DegenerateTimingRunsWithoutACrash) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Row {
    const char* name;
    double dsp_Hz, pwmper, ts_s;
  };
  const Row rows[] = {
      {"zero clock", 0, 1000, 0},
      {"zero PWM period", 40e6, 0, inf},
      {"NaN clock", nan, 1000, nan},
      {"infinite clock", inf, 1000, 0},
      {"negative clock", -40e6, 1000, -500e-6},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = TimingSetup(0, 1);
    t.Physical({{"Ts_C_min", 1e-4, "s"}, {"Ts_S_min", 1e-3, "s"}});
    t.Set("DSP_freq", row.dsp_Hz);
    t.Set("PWMPER", row.pwmper);
    t.Set("Ts_S", row.ts_s);
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
