// The external reference setup dialog: bindings per mode and input, rules, units and ranges.
#include "editor/analog_reference_dlg.h"

#include <limits>

#include "editor/editor_test_support.h"

namespace {

using namespace axis::testing;
using Dlg = CAnalogReferenceDlg;

class AnalogReferenceDlgTest : public EditorTest {};

std::string Bound(const Dlg& d, int id) { return d.Control(id)->parameter; }

// Bound whatever the mode: the source, the digital type, the gear, the dead band and the filter.
const std::vector<int> kAlwaysBound = {3289, 3290, 3291, 3292, 3295, 3296};
const std::vector<int> kInputBound = {1010, 1012, 1001, 1003};

TEST_F(AnalogReferenceDlgTest, TheControlModeChoosesWhatIsBoundAndShown) {
  // The ends of the input span are those of 3.3 V unless the range is 20 V or 5 V.
  // clang-format off
  struct Row { double mode, range_V; const char *maximum, *minimum, *limit, *other_limit, *quantity,
               *picture, *low, *high; };
  const Row rows[] = {
      {0, 20, "POS_max", "POS_min", "ErefMaxSpeed", "ErefMaxAcceleration", "Position", "3003",
       "-10", "10"},
      {1, 5, "SPD_max", "SPD_min", "ErefMaxAcceleration", "", "Speed", "3044", "0", "5"},
      {2, 10, "CRT_max", "CRT_min", "", "", "Current", "3002", "0", "3.3"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode);
    auto setup = Bundled({{"ControlMode", row.mode}, {"AnalogueInputsRange", row.range_V}});
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(Bound(d, Dlg::kMaximum), row.maximum);
    EXPECT_EQ(Bound(d, Dlg::kMinimum), row.minimum);
    EXPECT_EQ(Bound(d, Dlg::kLimit), row.limit);
    EXPECT_EQ(Bound(d, Dlg::kOtherLimit), row.other_limit);
    // Current control has no limit of its own.
    EXPECT_EQ(Bound(d, Dlg::kLimitCheck), row.mode < 2 ? "isLimitMaximum" : "");
    EXPECT_EQ(Shown(d, Dlg::kLimitCheck), row.mode < 2);
    EXPECT_EQ(d.GetChildText(Dlg::kMaximumLabel), std::string("Maximum ") + row.quantity);
    EXPECT_EQ(d.GetChildText(Dlg::kMinimumLabel), std::string("Minimum ") + row.quantity);
    EXPECT_EQ(d.Control(Dlg::kPicture)->image, row.picture);
    EXPECT_EQ(d.GetChildText(Dlg::kInputLow), row.low);
    EXPECT_EQ(d.GetChildText(Dlg::kInputHigh), row.high);
    // The minimum is shown in the maximum's unit.
    EXPECT_STREQ(setup->GetParameterUnit(row.minimum), setup->GetParameterUnit(row.maximum));
    for (int id : kAlwaysBound) EXPECT_NE(Bound(d, id), "") << id;
    for (int id : kInputBound) EXPECT_NE(Bound(d, id), "") << id;
  }
}

TEST_F(AnalogReferenceDlgTest, WithoutTheAnalogueInputOnlyTheSourceAndGearAreBound) {
  // The input needs both the variable and the parameter "CADIN"; the minimal setup has neither.
  for (const bool variable : {false, true}) {
    SCOPED_TRACE(variable ? "variable only" : "parameter only");
    auto setup =
        Bundled({{"ControlMode", 0}, {"isAnalogueReference", 0}, {"DigitalReferenceType", 1}},
                "minimal-linear.json");
    if (variable) {
      setup->AddVariable({.name = "CADIN"});
    } else {
      setup->AddParameter({.name = "CADIN"});
    }
    setup->AddParameter({.name = "UseFilter", .value = 1, .max = 1});  // no filter without input
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    for (int id : kAlwaysBound) EXPECT_NE(Bound(d, id), "") << id;
    for (int id : {1006, 1015, 1008, 1016, 1004}) EXPECT_EQ(Bound(d, id), "") << id;
    for (int id : kInputBound) EXPECT_EQ(Bound(d, id), "") << id;
    EXPECT_FALSE(Enabled(d, Dlg::kAnalogue));
    EXPECT_TRUE(Enabled(d, Dlg::kDigital));
    EXPECT_EQ(d.GetCheck(Dlg::kIncrementalEncoder), 1);
    EXPECT_FALSE(Shown(d, Dlg::kFilter));
  }
}

TEST_F(AnalogReferenceDlgTest, ShowAndEnableRules) {
  constexpr bool T = true, F = false;
  // clang-format off
  struct Row { const char* name; double mode, analogue, limit, use_filter;
               const char* disable_digital;
               bool analogue_rows, digital_rows, digital_radio, filter, limit_shown, other_limit; };
  const Row rows[] = {
      {"position, digital, limited", 0, 0, 1, 1, "0", F, T, T, T, F, T},
      {"position, analogue, limited", 0, 1, 1, 1, "0", T, F, T, T, T, F},
      {"position, analogue, no limit", 0, 1, 0, 0, "0", T, F, T, F, F, F},
      {"position, digital refused", 0, 0, 0, 1, "1", F, T, F, T, F, F},
      {"speed, analogue, limited", 1, 1, 1, 1, "0", T, F, F, T, T, F},
      {"speed, digital, limited", 1, 0, 1, 0, "0", F, F, F, F, F, T},
      {"current, analogue, limited", 2, 1, 1, 1, "0", T, F, F, T, F, F},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Bundled({{"ControlMode", row.mode},
                          {"isAnalogueReference", row.analogue},
                          {"isLimitMaximum", row.limit},
                          {"UseFilter", row.use_filter}});
    setup->SetOption("DisableExternalDigitalReference", row.disable_digital);
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ExpectEnabled(d,
                  {1006, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1015, 1016, 1001, 1002, 1003,
                   1004, 3327, 3328},
                  row.analogue_rows);
    ExpectEnabled(d, {3291, 3292, 3294, 3295, 3296, 3297, 3298, 3299, 3300}, row.digital_rows);
    EXPECT_EQ(Enabled(d, Dlg::kDigital), row.digital_radio);
    EXPECT_TRUE(Enabled(d, Dlg::kAnalogue));
    ExpectShown(d, {1002, 1003, 1004}, row.filter);
    ExpectShown(d, {Dlg::kLimit, Dlg::kLimitUnit}, row.limit_shown);
    ExpectShown(d, {Dlg::kOtherLimit, Dlg::kOtherLimitUnit}, row.other_limit);
    // The analogue reference test goes with the analogue reference.
    EXPECT_TRUE(Shown(d, Dlg::kTest));
    EXPECT_EQ(Enabled(d, Dlg::kTest), row.analogue == 1);
  }
}

TEST_F(AnalogReferenceDlgTest, UserChoicesRelabelTheLimitAndShowTheirValues) {
  // clang-format off
  const struct { double mode; int click; const char* text; } rows[] = {
      {0, Dlg::kAnalogue, "Limit maximum speed at"},
      {0, Dlg::kDigital, "Limit maximum acceleration at"},
      {1, Dlg::kAnalogue, "Limit maximum acceleration at"},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "mode " << row.mode << ", click " << row.click);
    const bool analogue = row.click == Dlg::kAnalogue;
    auto setup = Bundled({{"ControlMode", row.mode},
                          {"isAnalogueReference", analogue ? 0.0 : 1.0},
                          {"isLimitMaximum", 1}});
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_TRUE(d.UserClick(row.click));
    EXPECT_EQ(Get(*setup, "isAnalogueReference"), analogue ? 1 : 0);
    EXPECT_EQ(d.GetChildText(Dlg::kLimitCheck), row.text);
    EXPECT_EQ(Shown(d, Dlg::kLimit), analogue);
    EXPECT_EQ(Shown(d, Dlg::kOtherLimit), !analogue);
    EXPECT_EQ(Enabled(d, Dlg::kMaximum), analogue);
    // Unticking the limit hides both limits; the filter (an analogue setting) shows its value.
    ASSERT_TRUE(d.UserClick(Dlg::kLimitCheck));
    ExpectShown(d, {Dlg::kLimit, Dlg::kOtherLimit}, false);
    ASSERT_EQ(d.UserClick(Dlg::kUseFilter), analogue);
    EXPECT_EQ(Shown(d, Dlg::kFilter), Get(*setup, "UseFilter") != 0);
  }
}

TEST_F(AnalogReferenceDlgTest, AMaximumsUnitIsGivenToItsMinimum) {
  // clang-format off
  const struct { int unit_combo; const char *leader, *follower; int follower_edit;
                 const char* unit; } rows[] = {
      {Dlg::kMaximumUnit, "POS_max", "POS_min", Dlg::kMinimum, "\xB5m"},
      {Dlg::kDeadBandPointUnit, "DeadBand_Point", "DeadBand_Range", Dlg::kDeadBandRange, "mV"},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.leader);
    auto setup = Bundled({{"isAnalogueReference", 1}});
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_TRUE(d.UserSelectCombo(row.unit_combo, ItemIndex(d, row.unit_combo, row.unit)));
    EXPECT_STREQ(setup->GetParameterUnit(row.leader), row.unit);
    EXPECT_STREQ(setup->GetParameterUnit(row.follower), row.unit);
    // The edit shows the value in the new unit.
    const double factor = setup->GetUnits().FindUnit(row.unit)->GetFactor();
    const double value = Get(*setup, row.follower);
    EXPECT_NEAR(std::stod(d.GetChildText(row.follower_edit)) * factor, value,
                1e-6 * std::fabs(value));
  }
}

TEST_F(AnalogReferenceDlgTest, EachEndOfARangeBoundsTheOther) {
  // The end typed (in the demo's display unit); the other end's minimum (else maximum) after.
  // clang-format off
  const struct { double mode; int edit; const char *typed, *other; bool other_min;
                 double expected; } rows[] = {
      {0, Dlg::kMaximum, "20", "POS_min", false, 0.02},       // 20 mm
      {1, Dlg::kMaximum, "0.5", "SPD_min", false, 0.5},
      {2, Dlg::kMinimum, "-2", "CRT_max", true, -2},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.other);
    auto setup = Bundled({{"ControlMode", row.mode}, {"isAnalogueReference", 1}});
    Dlg d(*setup, nullptr);
    d.OnInitDialog();
    ASSERT_TRUE(d.UserType(row.edit, row.typed));
    const CMC_Parameter* other = setup->FindParameter(row.other);
    EXPECT_NEAR(row.other_min ? other->GetMinInBaseUnit() : other->GetMaxInBaseUnit(), row.expected,
                1e-12);
  }
  // The dead band fits beside its point: the narrower side of [-10 V, 10 V].
  auto setup = Bundled({{"isAnalogueReference", 1}});
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  ASSERT_TRUE(d.UserType(Dlg::kDeadBandPoint, "-7.5"));
  EXPECT_DOUBLE_EQ(setup->FindParameter("DeadBand_Range")->GetMaxInBaseUnit(), 2.5);
}

// NaN, infinite and out-of-range settings: the dialog runs and ends.
TEST_F(AnalogReferenceDlgTest, OddSettingsRunWithoutACrash) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double value : {nan, inf, -inf, -1.0, 7.0, 0.0}) {
    SCOPED_TRACE(value);
    auto setup = Bundled();
    for (const char* name : {"ControlMode", "isAnalogueReference", "isLimitMaximum", "UseFilter",
                             "AnalogueInputsRange", "ImaxPS", "Limit_Speed"})
      Set(*setup, name, value);
    Dlg d(*setup, nullptr);
    platform_.Click(Dlg::kAnalogue).Type(Dlg::kDeadBandPoint, "1").EndOk();
    d.DoModal();
  }
}

}  // namespace
