// The external reference setup dialog: which controls exist per control mode and analogue input,
// the show and enable rules, the shared units and the ranges the pairs of limits give each other.
#include "editor/analog_reference_dlg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "conversions/motion_units.h"
#include "host/dialog_test_support.h"
#include "host/setup_file.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using Dlg = CAnalogReferenceDlg;

class AnalogReferenceDlgTest : public axis::testing::DialogTest {
 protected:
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
void Set(CMC_Setup& setup, const char* name, double value) {
  setup.FindParameter(name)->SetValueInBaseUnit(value);
}
bool Enabled(const Dlg& d, int id) { return d.Control(id) != nullptr && d.Control(id)->enabled; }
bool Shown(const Dlg& d, int id) { return d.Control(id) != nullptr && d.Control(id)->shown; }
std::string Bound(const Dlg& d, int id) { return d.Control(id)->parameter; }

TEST_F(AnalogReferenceDlgTest, TheControlModeChoosesWhatIsBoundAndShown) {
  struct Row {
    double mode;
    const char *maximum, *minimum, *limit, *other_limit;
    const char *maximum_label, *minimum_label, *picture;
    bool limit_check_shown;
  };
  const Row rows[] = {
      {0, "POS_max", "POS_min", "ErefMaxSpeed", "ErefMaxAcceleration", "Maximum Position",
       "Minimum Position", "3003", true},
      {1, "SPD_max", "SPD_min", "ErefMaxAcceleration", "", "Maximum Speed", "Minimum Speed", "3044",
       true},
      {2, "CRT_max", "CRT_min", "", "", "Maximum Current", "Minimum Current", "3002", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Set(*setup, "ControlMode", row.mode);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(Bound(d, Dlg::kMaximum), row.maximum);
    EXPECT_EQ(Bound(d, Dlg::kMaximumUnit), row.maximum);
    EXPECT_EQ(Bound(d, Dlg::kMinimum), row.minimum);
    EXPECT_EQ(Bound(d, Dlg::kLimit), row.limit);
    EXPECT_EQ(Bound(d, Dlg::kOtherLimit), row.other_limit);
    EXPECT_EQ(Bound(d, Dlg::kLimitCheck), row.limit_check_shown ? "isLimitMaximum" : "");
    EXPECT_EQ(d.GetChildText(Dlg::kMaximumLabel), row.maximum_label);
    EXPECT_EQ(d.GetChildText(Dlg::kMinimumLabel), row.minimum_label);
    EXPECT_EQ(d.Control(Dlg::kPicture)->image, row.picture);
    EXPECT_EQ(Shown(d, Dlg::kLimitCheck), row.limit_check_shown);
    // The minimum is shown in the maximum's unit.
    EXPECT_STREQ(setup->GetParameterUnit(row.minimum), setup->GetParameterUnit(row.maximum));
    for (int id : {3289, 3290, 3291, 3292, 3295, 3296, 1010, 1012, 1001, 1003})
      EXPECT_NE(Bound(d, id), "") << id;
  }
}

TEST_F(AnalogReferenceDlgTest, WithoutTheAnalogueInputOnlyTheSourceAndGearAreBound) {
  struct Row {
    const char* name;
    bool variable, parameter;
  };
  const Row rows[] = {
      {"neither", false, false}, {"variable only", true, false}, {"parameter only", false, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    t.Physical({{"ControlMode", 0},
                {"isAnalogueReference", 0},
                {"DigitalReferenceType", 1},
                {"isLimitMaximum", 0},
                {"ErefMaxSpeed", 1, "m/s"},
                {"ErefMaxAcceleration", 10, "m/s^2"},
                {"POS_max", 1, "m"},
                {"POS_min", -1, "m"},
                {"DeadBand_Point", 0, "V"},
                {"DeadBand_Range", 0, "V"},
                {"UseFilter", 1},
                {"filter", 100, "1/s"}});
    t.Registers({{"GEARMASTER", 1}, {"GEARSLAVE", 2}});
    if (row.variable) t.Variable("CADIN");
    if (row.parameter) t.Registers({{"CADIN", 0}});
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    for (int id : {3289, 3290, 3291, 3292, 3295, 3296}) EXPECT_NE(Bound(d, id), "") << id;
    for (int id : {1006, 1015, 1008, 1010, 1016, 1012, 1001, 1003, 1004})
      EXPECT_EQ(Bound(d, id), "") << id;
    EXPECT_FALSE(Enabled(d, Dlg::kAnalogue));
    EXPECT_TRUE(Enabled(d, Dlg::kDigital));
    EXPECT_EQ(d.GetCheck(Dlg::kIncrementalEncoder), 1);
    // No filter to show without the input, whatever "UseFilter" says.
    EXPECT_FALSE(Shown(d, Dlg::kFilter));
  }
}

TEST_F(AnalogReferenceDlgTest, ShowAndEnableRules) {
  struct Row {
    const char* name;
    double mode, analogue, limit, use_filter;
    const char* disable_digital;
    bool analogue_enabled, digital_enabled, digital_radio, filter_shown, limit_shown,
        other_limit_shown;
  };
  const Row rows[] = {
      {"position, digital, limited", 0, 0, 1, 1, "0", false, true, true, true, false, true},
      {"position, analogue, limited", 0, 1, 1, 1, "0", true, false, true, true, true, false},
      {"position, analogue, no limit", 0, 1, 0, 0, "0", true, false, true, false, false, false},
      {"position, digital refused", 0, 0, 0, 1, "1", false, true, false, true, false, false},
      {"speed, analogue, limited", 1, 1, 1, 1, "0", true, false, false, true, true, false},
      {"speed, digital, limited", 1, 0, 1, 0, "0", false, false, false, false, false, true},
      {"current, analogue, limited", 2, 1, 1, 1, "0", true, false, false, true, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Set(*setup, "ControlMode", row.mode);
    Set(*setup, "isAnalogueReference", row.analogue);
    Set(*setup, "isLimitMaximum", row.limit);
    Set(*setup, "UseFilter", row.use_filter);
    setup->SetOption("DisableExternalDigitalReference", row.disable_digital);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    for (int id : {1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1015, 1016, 1001, 1002, 1003,
                   1004, 3327, 3328})
      EXPECT_EQ(Enabled(d, id), row.analogue_enabled) << id;
    for (int id : {3291, 3292, 3294, 3295, 3296, 3297, 3298, 3299, 3300})
      EXPECT_EQ(Enabled(d, id), row.digital_enabled) << id;
    EXPECT_EQ(Enabled(d, Dlg::kDigital), row.digital_radio);
    EXPECT_TRUE(Enabled(d, Dlg::kAnalogue));
    for (int id : {1002, 1003, 1004}) EXPECT_EQ(Shown(d, id), row.filter_shown) << id;
    EXPECT_EQ(Shown(d, Dlg::kLimit), row.limit_shown);
    EXPECT_EQ(Shown(d, Dlg::kLimitUnit), row.limit_shown);
    EXPECT_EQ(Shown(d, Dlg::kOtherLimit), row.other_limit_shown);
    EXPECT_EQ(Shown(d, Dlg::kOtherLimitUnit), row.other_limit_shown);
    // The analogue reference test is not available: its button stays visible and disabled.
    EXPECT_TRUE(Shown(d, Dlg::kTest));
    EXPECT_FALSE(Enabled(d, Dlg::kTest));
  }
}

TEST_F(AnalogReferenceDlgTest, InputRangeLabels) {
  struct Row {
    double range_V;
    const char *low, *high;
  };
  const Row rows[] = {{20, "-10", "10"}, {5, "0", "5"}, {3.3, "0", "3.3"}, {10, "0", "3.3"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.range_V);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Set(*setup, "AnalogueInputsRange", row.range_V);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(d.GetChildText(Dlg::kInputLow), row.low);
    EXPECT_EQ(d.GetChildText(Dlg::kInputHigh), row.high);
  }
}

TEST_F(AnalogReferenceDlgTest, ChoosingTheSourceRelabelsTheLimitAndSwapsItsPair) {
  struct Row {
    const char* name;
    double mode;
    int click;
    const char* text;
    bool limit_shown, other_limit_shown;
  };
  const Row rows[] = {
      {"position, to analogue", 0, Dlg::kAnalogue, "Limit maximum speed at", true, false},
      {"position, back to digital", 0, Dlg::kDigital, "Limit maximum acceleration at", false, true},
      {"speed, to analogue", 1, Dlg::kAnalogue, "Limit maximum acceleration at", true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Set(*setup, "ControlMode", row.mode);
    Set(*setup, "isAnalogueReference", row.click == Dlg::kAnalogue ? 0 : 1);
    Set(*setup, "isLimitMaximum", 1);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_TRUE(d.UserClick(row.click));
    EXPECT_EQ(Get(*setup, "isAnalogueReference"), row.click == Dlg::kAnalogue ? 1 : 0);
    EXPECT_EQ(d.GetChildText(Dlg::kLimitCheck), row.text);
    EXPECT_EQ(Shown(d, Dlg::kLimit), row.limit_shown);
    EXPECT_EQ(Shown(d, Dlg::kOtherLimit), row.other_limit_shown);
    EXPECT_EQ(Enabled(d, Dlg::kMaximum), row.click == Dlg::kAnalogue);
  }
}

TEST_F(AnalogReferenceDlgTest, TickingTheLimitAndTheFilterShowsTheirValues) {
  auto setup = Demo();
  ASSERT_TRUE(setup);
  Set(*setup, "isAnalogueReference", 1);
  Set(*setup, "isLimitMaximum", 0);
  Set(*setup, "UseFilter", 0);
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  EXPECT_FALSE(Shown(d, Dlg::kLimit));
  EXPECT_FALSE(Shown(d, Dlg::kFilter));
  ASSERT_TRUE(d.UserClick(Dlg::kLimitCheck));
  EXPECT_TRUE(Shown(d, Dlg::kLimit));
  ASSERT_TRUE(d.UserClick(Dlg::kUseFilter));
  EXPECT_TRUE(Shown(d, Dlg::kFilter));
  EXPECT_TRUE(Shown(d, Dlg::kFilterLabel));
  ASSERT_TRUE(d.UserClick(Dlg::kUseFilter));
  EXPECT_FALSE(Shown(d, Dlg::kFilterUnit));
}

TEST_F(AnalogReferenceDlgTest, AMaximumsUnitIsGivenToItsMinimum) {
  struct Row {
    const char* name;
    int unit_combo;
    const char* leader;
    const char* follower;
    int follower_edit;
    const char* unit;
  };
  const Row rows[] = {
      {"position in micrometres", Dlg::kMaximumUnit, "POS_max", "POS_min", Dlg::kMinimum, "\xB5m"},
      {"position in metres", Dlg::kMaximumUnit, "POS_max", "POS_min", Dlg::kMinimum, "m"},
      {"dead band in millivolts", Dlg::kDeadBandPointUnit, "DeadBand_Point", "DeadBand_Range",
       Dlg::kDeadBandRange, "mV"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Set(*setup, "isAnalogueReference", 1);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    const axis::ControlState* combo = d.Control(row.unit_combo);
    int index = -1;
    for (size_t i = 0; i < combo->items.size(); ++i) {
      if (combo->items[i].text == row.unit) index = static_cast<int>(i);
    }
    ASSERT_GE(index, 0);
    ASSERT_TRUE(d.UserSelectCombo(row.unit_combo, index));
    EXPECT_STREQ(setup->GetParameterUnit(row.leader), row.unit);
    EXPECT_STREQ(setup->GetParameterUnit(row.follower), row.unit);
    // The edit shows the value in the new unit.
    const double shown = std::stod(d.GetChildText(row.follower_edit));
    const double factor = setup->GetUnits().FindUnit(row.unit)->GetFactor();
    EXPECT_NEAR(shown * factor, Get(*setup, row.follower),
                1e-6 * std::fabs(Get(*setup, row.follower)));
  }
}

TEST_F(AnalogReferenceDlgTest, EachEndOfTheRangeBoundsTheOther) {
  struct Row {
    double mode;
    int edit;
    const char* typed;  // in the display unit of the demo
    const char* other;
    bool other_min;   // the other end's minimum moved (else its maximum)
    double expected;  // base units
  };
  const Row rows[] = {
      {0, Dlg::kMaximum, "20", "POS_min", false, 0.02},       // 20 mm
      {0, Dlg::kMinimum, "-12.5", "POS_max", true, -0.0125},  // -12.5 mm
      {1, Dlg::kMaximum, "0.5", "SPD_min", false, 0.5},
      {2, Dlg::kMinimum, "-2", "CRT_max", true, -2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.other);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Set(*setup, "ControlMode", row.mode);
    Set(*setup, "isAnalogueReference", 1);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_TRUE(d.UserType(row.edit, row.typed));
    const CMC_Parameter* other = setup->FindParameter(row.other);
    EXPECT_NEAR(row.other_min ? other->GetMinInBaseUnit() : other->GetMaxInBaseUnit(), row.expected,
                1e-12);
  }
}

TEST_F(AnalogReferenceDlgTest, TheDeadBandRangeFitsBesideThePoint) {
  struct Row {
    const char* point_V;
    double range_max_V;  // the narrower side of [-10, 10] around the point
  };
  const Row rows[] = {{"4", 6}, {"-7.5", 2.5}, {"0", 10}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.point_V);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    Set(*setup, "isAnalogueReference", 1);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_TRUE(d.UserType(Dlg::kDeadBandPoint, row.point_V));
    EXPECT_DOUBLE_EQ(setup->FindParameter("DeadBand_Range")->GetMaxInBaseUnit(), row.range_max_V);
    // A band too wide for the point is refused with the new bound.
    const int boxes = static_cast<int>(platform_.MessageLog().size());
    const std::string too_wide = std::to_string((row.range_max_V + 0.5) * 1000);  // mV
    EXPECT_TRUE(d.UserType(Dlg::kDeadBandRange, too_wide));
    EXPECT_EQ(static_cast<int>(platform_.MessageLog().size()), boxes + 1);
  }
}

TEST_F(AnalogReferenceDlgTest, HelpOpensTheDialogsTopic) {
  auto setup = Demo();
  ASSERT_TRUE(setup);
  Dlg d(*setup, nullptr);
  platform_.Click(axis::kHelpButton).Click(Dlg::kTest).Click(axis::kIdOk);
  EXPECT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(platform_.HelpLog(), std::vector<int>{0x40101});
  // The disabled Test button could not be clicked.
  EXPECT_EQ(platform_.ScriptErrors().size(), 1u);
}

TEST_F(AnalogReferenceDlgTest, OddSettingsRunWithoutACrash) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double value : {nan, inf, -inf, -1.0, 7.0, 0.0}) {
    SCOPED_TRACE(value);
    auto setup = Demo();
    ASSERT_TRUE(setup);
    for (const char* name : {"ControlMode", "isAnalogueReference", "isLimitMaximum", "UseFilter",
                             "AnalogueInputsRange", "ImaxPS", "Limit_Speed"})
      Set(*setup, name, value);
    Dlg d(*setup, nullptr);
    platform_.Click(Dlg::kAnalogue).Type(Dlg::kDeadBandPoint, "1").EndOk();
    d.DoModal();
  }
}

}  // namespace
