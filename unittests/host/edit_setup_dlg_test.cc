#include "host/edit_setup_dlg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host/custom_control.h"
#include "host/dialog_test_support.h"

namespace axis {
namespace {

using testing::ComboItems;
using testing::RecordingDlg;
using Log = std::vector<std::string>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class EditSetupDlgTest : public testing::DialogTest {
 protected:
  EditSetupDlgTest() {
    // clang-format off
    const ParameterDescription parameters[] = {{"PeakCurrent", 10.0, 0.0, 20.0, "A", "", kTypePhysical, false},
                                   {"KPP", 100.0, 0.0, 32767.0, "", "", kTypeRegister, true},
                                   {"Enable", 0.0, 0.0, 1.0, "", "", kTypeSwitch, false},
                                   {"Mode", 2.0, 0.0, 2.0, "", "", kTypeChoice, false},
                                   {"Invert", 1.0, 0.0, 1.0, "", "", kTypeSwitch, false},
                                   {"Speed", 0.5, 0.0, 5.0, "m/s", "", kTypePhysical, false}};
    // clang-format on
    for (const ParameterDescription& parameter : parameters)
      EXPECT_NE(setup_.AddParameter(parameter), nullptr);
  }
  CMC_Parameter& P(const char* name) { return *setup_.FindParameter(name); }
  double Value(const char* name) { return P(name).GetValueInBaseUnit(); }

  CMC_Setup setup_;
};

TEST_F(EditSetupDlgTest, TypedValuesAreCheckedAgainstTheRangeInTheDisplayUnit) {
  const std::string range = "Please enter a value between 0 and 20 A.";
  const auto nan = [&](std::string text) { return "\"" + text + "\" is not a number. " + range; };
  // clang-format off
  // The user's locale decides whether "2,5" is two and a half.
  const DecimalMark point = DecimalMark::kPoint, comma = DecimalMark::kPointOrComma;
  struct Row { const char *name, *unit, *typed; double stored_A; const char* shown;
               std::string warning; DecimalMark mark = DecimalMark::kPoint; };
  const Row rows[] = {  // the base value and the edit's text afterwards; the warning, "" for none
      {"in range", "A", "12.5", 12.5, "12.5", ""},
      {"milliamps, six digits shown", "mA", "1234.5678", 1.2345678, "1234.57", ""},
      {"blanks and plus sign", "A", " +4 ", 4.0, "4", ""},
      {"upper bound", "A", "20", 20.0, "20", ""},
      {"lower bound", "A", "0", 0.0, "0", ""},
      {"exponent", "mA", "2e3", 2.0, "2000", ""},
      {"a unit of its own", "A", "1500 mA", 1.5, "1.5", ""},
      {"decimal comma in a comma locale", "A", "2,5", 2.5, "2.5", "", comma},
      {"decimal point in a comma locale", "mA", "2.5", 0.0025, "2.5", "", comma},
      {"above", "A", "25", 10.0, "10", range},
      {"below", "A", "-1", 10.0, "10", range},
      {"above in mA", "mA", "20001", 10.0, "10000", "Please enter a value between 0 and 20000 mA."},
      {"above in another unit", "A", "21000mA", 10.0, "10", range},
      {"decimal comma in a point locale", "A", "2,5", 10.0, "10",
       "\"2,5\" is not a number (the decimal mark is a point: \"2.5\"). " + range, point},
      {"letters", "A", "abc", 10.0, "10", nan("abc")},
      {"number then letters", "A", "5x", 10.0, "10", "unknown unit \"x\". " + range},
      {"unit of another quantity", "A", "5 mm", 10.0, "10",
       "unit \"mm\" does not measure what \"A\" measures. " + range},
      {"empty", "A", "", 10.0, "10", "no value given. " + range},
      {"nan", "A", "nan", 10.0, "10", nan("nan")},
      {"inf", "A", "inf", 10.0, "10", nan("inf")},
      {"overflow", "A", "1e999", 10.0, "10", "\"1e999\" is too large or too small a number. " + range},
      {"two signs", "A", "+-4", 10.0, "10", nan("+-4")}};
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    P("PeakCurrent").SetValueInBaseUnit(10.0);
    ASSERT_EQ(setup_.ChangeParameterUnit("PeakCurrent", row.unit), 1);
    HeadlessPlatform& platform = FreshPlatform().UserDecimalMark(row.mark);
    RecordingDlg dlg(setup_, 900);
    ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
    platform.Type(1001, row.typed).EndOk();
    EXPECT_EQ(dlg.DoModal(), kIdOk);
    EXPECT_DOUBLE_EQ(Value("PeakCurrent"), row.stored_A);
    EXPECT_EQ(dlg.GetChildText(1001), row.shown);
    if (row.warning.empty()) {
      EXPECT_TRUE(platform.MessageLog().empty());
      EXPECT_EQ(dlg.log, (Log{"refresh:PeakCurrent", "changed:PeakCurrent"}));
      continue;
    }
    ASSERT_EQ(platform.MessageLog().size(), 1u);
    const MessageBoxRequest& box = platform.MessageLog()[0].request;
    EXPECT_EQ(box.text, row.warning);
    EXPECT_TRUE(box.caption == "Test Editor \xB0" && box.icon == MessageIcon::kWarning &&
                box.buttons == MessageButtons::kOk);
    EXPECT_TRUE(dlg.log.empty());
  }
}

// Edits without a unit combo: a register shows the whole number it stores, a NaN bound leaves that
// side of the range open, and a parameter of the dialog's own is bound like one of the setup.
TEST_F(EditSetupDlgTest, EditsOfRegistersOpenRangesAndTheDialogsOwnParameters) {
  P("PeakCurrent").SetMinInBaseUnit(kNaN);
  P("PeakCurrent").SetMaxInBaseUnit(kNaN);
  CMC_Parameter user(&setup_, "Trial", "s", "ms", kTypePhysical, false);
  user.SetMaxInBaseUnit(1.0);
  user.SetValueInBaseUnit(0.25);
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("KPP", 1003, 0), 1);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 0), 1);
  ASSERT_EQ(dlg.AddUserParameterControls(user, 1005, 1006), 1);
  EXPECT_EQ(dlg.GetChildText(1005) + " " + dlg.GetChildText(1006), "250 ms");
  platform_.Type(1003, "3.6").Type(1001, "-1e6").Type(1005, "1001").Type(1005, "40").EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("KPP"), 4.0);
  EXPECT_EQ(dlg.GetChildText(1003), "4");
  EXPECT_EQ(Value("PeakCurrent"), -1e6);
  EXPECT_DOUBLE_EQ(user.GetValueInBaseUnit(), 0.04);
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text, "Please enter a value between 0 and 1000 ms.");
  EXPECT_EQ(setup_.FindParameterNoError("Trial"), nullptr);
}

// A unit combo lists the units of its parameter's type and changes only the display unit; it is
// filled again (and only then) when the parameter moves to the other motion family.
TEST_F(EditSetupDlgTest, UnitCombos) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  ASSERT_EQ(dlg.AddParameterControls("Speed", 1041, 1042), 1);
  EXPECT_EQ(ComboItems(dlg, 1002), (Log{"A", "mA"}));
  EXPECT_EQ(dlg.GetComboSelection(1002), 0);
  EXPECT_EQ(dlg.Control(1002)->parameter, "PeakCurrent");
  platform_.SelectCombo(1002, 1).EndOk();  // the unit alone: the value stays, shown in mA
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("PeakCurrent"), 10.0);
  EXPECT_EQ(dlg.GetChildText(1001), "10000");
  EXPECT_EQ(dlg.log, (Log{"unit:PeakCurrent"}));
  platform_.Type(1001, "250").EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_STREQ(setup_.GetParameterUnit("PeakCurrent"), "mA");
  EXPECT_DOUBLE_EQ(Value("PeakCurrent"), 0.25);
  EXPECT_EQ(dlg.log, (Log{"unit:PeakCurrent", "refresh:PeakCurrent", "changed:PeakCurrent"}));

  EXPECT_EQ(ComboItems(dlg, 1042), (Log{"m/s", "mm/s"}));
  const uint64_t before = dlg.ChangeCount();
  dlg.RefreshAllParameters();
  EXPECT_EQ(dlg.ChangeCount(), before) << "a refresh without a unit change leaves the list alone";
  ASSERT_EQ(P("Speed").ChangeUnitType("rpm"), 1);
  dlg.RefreshParameterControls("Speed");
  EXPECT_EQ(ComboItems(dlg, 1042), (Log{"rad/s", "rpm", "rot/s"}));
  EXPECT_EQ(dlg.GetChildText(1042), "rpm");
  platform_.SelectCombo(1042, 2).EndOk();  // the new list works
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_STREQ(setup_.GetParameterUnit("Speed"), "rot/s");
}
TEST_F(EditSetupDlgTest, CheckAndSwitchBindings) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddCheckParameterControls("Enable", 1010), 1);
  ASSERT_EQ(dlg.AddSwitchParameterControls("Mode", 1020, 1022), 1);
  ASSERT_EQ(dlg.AddSwitchParameterControls("Invert", 1030), 1);
  const auto checks = [&] {
    std::string s;
    for (int id : {1010, 1020, 1021, 1022, 1030}) s += std::to_string(dlg.GetCheck(id));
    return s;
  };
  EXPECT_EQ(checks(), "00011");  // Mode 2 selects first + 2
  platform_.Click(1010).Click(1021).Click(1030).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ((std::vector{Value("Enable"), Value("Mode"), Value("Invert")}),
            (std::vector{1.0, 1.0, 0.0}));
  EXPECT_EQ(checks(), "10100");
  EXPECT_EQ(dlg.log, (Log{"refresh:Enable", "changed:Enable", "refresh:Mode", "changed:Mode",
                          "refresh:Invert", "changed:Invert"}));
  // Mode value -> the checked radio; a value that matches no button (0) clears them all.
  const std::pair<double, int> rows[] = {{0.0, 1020}, {1.0, 1021}, {5.0, 0},
                                         {-1.0, 0},   {kNaN, 0},   {kInf, 0}};
  for (const auto& [mode, checked] : rows) {
    P("Mode").SetValueInBaseUnit(mode);
    dlg.RefreshAllParameters();
    for (int id = 1020; id <= 1022; ++id)
      EXPECT_EQ(dlg.GetCheck(id), id == checked ? 1 : 0) << mode;
  }
}

TEST_F(EditSetupDlgTest, BindingIsRefusedForMissingParametersOrWrongControls) {
  g_bShowErrors = 0;
  RecordingDlg dlg(setup_, 900);
  const std::pair<const char*, int> rows[] = {
      {"missing parameter", dlg.AddParameterControls("Nothing", 1001, 1002)},
      {"label as edit", dlg.AddParameterControls("PeakCurrent", 1043, 0)},
      {"edit as unit", dlg.AddParameterControls("PeakCurrent", 1001, 1003)},
      {"combo with a unit combo", dlg.AddParameterControls("Mode", 1060, 1002)},
      {"edit as check", dlg.AddCheckParameterControls("Enable", 1001)},
      {"range with a non-radio", dlg.AddSwitchParameterControls("Mode", 1020, 1030)},
      {"reversed range", dlg.AddSwitchParameterControls("Mode", 1022, 1020)},
      {"button as switch", dlg.AddSwitchParameterControls("Invert", 1070)},
      {"edit as slider", dlg.AddSliderParameterControls("Speed", 1041, 0, 0, 0, 0, 0.0, 1.0)},
      {"null name", dlg.AddCheckParameterControls(nullptr, 1010)}};
  g_bShowErrors = 1;
  for (const auto& [name, result] : rows) EXPECT_EQ(result, 0) << name;
  for (const auto& [id, control] : dlg.Controls()) EXPECT_EQ(control.parameter, "") << id;
}

TEST_F(EditSetupDlgTest, SliderMapsTicksOntoItsBounds) {
  RecordingDlg dlg(setup_, 900);
  // Ticks 0..50 over 0..2 m/s: 0.5 m/s is 12.5 ticks, shown as 13 (halves away from zero).
  ASSERT_EQ(dlg.AddSliderParameterControls("Speed", 1040, 1041, 1042, 1043, 1044, 0.0, 2.0), 1);
  EXPECT_EQ(dlg.Control(1040)->selection, 13);
  EXPECT_EQ(dlg.GetChildText(1043) + ".." + dlg.GetChildText(1044), "0..2");
  // 40 ticks: 40/50 * 2 = 1.6 m/s; 51 is past the last tick.
  platform_.MoveSlider(1040, 40).MoveSlider(1040, 51).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_DOUBLE_EQ(Value("Speed"), 1.6);
  EXPECT_EQ(dlg.GetChildText(1041), "1.6");
  EXPECT_EQ(platform_.ScriptErrors().size(), 1u);
  // 1 m/s typed is 25 ticks; in mm/s the bounds read 0 and 2000.
  platform_.Type(1041, "1").SelectCombo(1042, 1).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(dlg.Control(1040)->selection, 25);
  EXPECT_EQ(dlg.GetChildText(1043) + ".." + dlg.GetChildText(1044), "0..2000");
  EXPECT_EQ(dlg.GetChildText(1041), "1000");
  // Bounds shown on spin buttons: they step one tick (2/50 m/s) toward their end, not past it.
  RecordingDlg spun(setup_, 900);
  ASSERT_EQ(spun.AddSliderParameterControls("Speed", 1040, 1041, 0, 1045, 1046, 0.0, 2.0), 1);
  EXPECT_EQ(spun.GetChildText(1045) + ".." + spun.GetChildText(1046), "0..2000");  // in mm/s
  EXPECT_EQ(spun.Control(1045)->selection, -1);  // the arrows' directions
  EXPECT_EQ(spun.Control(1046)->selection, 1);
  platform_.Click(1046).Click(1046).Click(1045).EndOk();
  ASSERT_EQ(spun.DoModal(), kIdOk);
  EXPECT_DOUBLE_EQ(Value("Speed"), 1.04);
  EXPECT_EQ(spun.Control(1040)->selection, 26);
  P("Speed").SetValueInBaseUnit(1.99);
  platform_.Click(1046).Click(1046).EndOk();
  ASSERT_EQ(spun.DoModal(), kIdOk);
  EXPECT_DOUBLE_EQ(Value("Speed"), 2.0);
  // clang-format off
  const struct { const char* name; double lower, upper, value; int position; } rows[] = {
      {"empty span", 1.0, 1.0, 1.0, 0}, {"nan value", 0.0, 2.0, kNaN, 0},
      {"below", 0.0, 2.0, -3.0, 0}, {"above", 0.0, 2.0, 9.0, 50},
      {"infinite value", 0.0, 2.0, kInf, 50}, {"infinite bound", 0.0, kInf, 1.0, 0},
      {"reversed bounds", 2.0, 0.0, 0.5, 38}};  // (0.5 - 2) / (0 - 2) * 50 = 37.5
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    P("Speed").SetValueInBaseUnit(row.value);
    RecordingDlg other(setup_, 900);
    ASSERT_EQ(other.AddSliderParameterControls("Speed", 1040, 0, 0, 0, 0, row.lower, row.upper), 1);
    EXPECT_EQ(other.Control(1040)->selection, row.position);
  }
}

// RefreshAllParameters shows values as they are; RefreshParameterControls (names ignore case) and
// StoreParameterValue bring a value back inside a finite, ordered range. A stored value reaches
// the dialog as a typed one does; 2 says it was limited, 0 that there is no such parameter.
TEST_F(EditSetupDlgTest, RefreshAndStoreHoldValuesInsideTheRange) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  CMC_Parameter& p = P("PeakCurrent");
  p.SetMaxInBaseUnit(5.0);
  dlg.RefreshAllParameters();
  EXPECT_EQ(p.GetValueInBaseUnit(), 10.0);
  EXPECT_EQ(dlg.GetChildText(1001), "10");
  EXPECT_EQ(dlg.StoreParameterValue("Nothing", 1.0), 0);
  EXPECT_TRUE(dlg.log.empty());
  // clang-format off
  const struct { const char* name; double min, max, value, after; } rows[] = {
      {"above", 1.0, 5.0, 10.0, 5.0}, {"below", 1.0, 5.0, 0.5, 1.0}, {"inside", 1.0, 5.0, 3.0, 3.0},
      {"nan value", 1.0, 5.0, kNaN, kNaN}, {"nan bound", kNaN, 5.0, 9.0, 9.0},
      {"open range", -kInf, kInf, 9.0, 9.0}, {"crossed range", 5.0, 1.0, 9.0, 9.0}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    p.SetMinInBaseUnit(row.min);
    p.SetMaxInBaseUnit(row.max);
    p.SetValueInBaseUnit(row.value);
    dlg.RefreshParameterControls("peakcurrent");
    const auto same = [&] {  // NaN stays NaN
      const double v = p.GetValueInBaseUnit();
      return std::isnan(row.after) ? std::isnan(v) : v == row.after;
    };
    EXPECT_TRUE(same()) << p.GetValueInBaseUnit();
    EXPECT_TRUE(dlg.log.empty()) << "refreshing is not a change by the user";
    p.SetValueInBaseUnit(0.0);
    EXPECT_EQ(dlg.StoreParameterValue("PEAKCURRENT", row.value),
              std::isnan(row.value) || row.after == row.value ? 1 : 2);
    EXPECT_TRUE(same()) << p.GetValueInBaseUnit();
    EXPECT_EQ(dlg.log, (Log{"refresh:PeakCurrent", "changed:PeakCurrent"}));
    EXPECT_EQ(dlg.GetChildText(1001),
              std::isnan(row.after) ? "nan" : std::to_string(int(row.after)));
    dlg.log.clear();
  }
}
TEST_F(EditSetupDlgTest, ControlTableStartsFromTheTemplateAndFollowsEnableAndShow) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.LoadError(), "");
  EXPECT_EQ(dlg.Controls().size(), 33u);
  EXPECT_EQ(dlg.GetChildText(1010), "&Enable");
  EXPECT_EQ(dlg.Control(77), nullptr);
  EXPECT_FALSE(dlg.IsVisible(1080)) << "hidden in the template";
  std::vector<int> touched;
  dlg.SetChangeListener([&](int id) { touched.push_back(id); });
  const uint64_t before = dlg.ChangeCount();
  const int ids[] = {1001, 1002, 4, 0, 1003};  // 4 is unknown, 1003 lies after the end mark
  dlg.EnableChildren(ids, 0);
  EXPECT_FALSE(dlg.Control(1001)->enabled || dlg.Control(1002)->enabled);
  EXPECT_TRUE(dlg.Control(1003)->enabled);
  EXPECT_EQ(touched, (std::vector<int>{1001, 1002}));
  dlg.EnableChildren(ids, 0);  // no change, no repaint
  EXPECT_EQ(dlg.ChangeCount(), before + 2);
  dlg.ShowChild(1000, 0);  // the group hides what it contains
  dlg.ShowChild(1080, 1);
  // clang-format off
  const std::pair<int, bool> rows[] = {{1000, false}, {1001, false} /* in the hidden group */,
      {1080, true}, {1051, false} /* on page 1 while page 0 shows */, {1050, true}, {4, false}};
  // clang-format on
  for (const auto& [id, visible] : rows) EXPECT_EQ(dlg.IsVisible(id), visible) << id;
  const int shown[] = {1000, 0};
  dlg.ShowChildren(shown, 1);
  EXPECT_TRUE(dlg.IsVisible(1002));
}

// A model drawn by the front end goes to a custom control only; its changes repaint that control
// while it is attached, and a model that outlives its dialog may still change.
TEST_F(EditSetupDlgTest, CustomControlsShowTheModelAttachedToThem) {
  struct Model : axis::CustomControl {
    std::string_view Kind() const override { return "test"; }
    void Poke() { Changed(); }
  } model, other;
  std::vector<int> touched;
  {
    RecordingDlg dlg(setup_, 900);
    dlg.SetChangeListener([&](int id) { touched.push_back(id); });
    EXPECT_FALSE(dlg.AttachCustom(1001, &model)) << "an edit is no custom control";
    EXPECT_FALSE(dlg.AttachCustom(77, &model));
    ASSERT_TRUE(dlg.AttachCustom(1095, &model));
    EXPECT_EQ(dlg.Control(1095)->custom, &model);
    model.Poke();
    ASSERT_TRUE(dlg.AttachCustom(1095, &other));  // the first one is let go
    model.Poke();
    other.Poke();
    EXPECT_EQ(touched, (std::vector<int>{1095, 1095, 1095, 1095}));
  }
  other.Poke();  // its dialog is gone
  EXPECT_EQ(touched.size(), 4u);
}

// The scripted user meets the limits a real one meets; the platform notes each refused action.
TEST_F(EditSetupDlgTest, TheUserCannotUseDisabledHiddenReadOnlyOrMissingControls) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  ASSERT_EQ(dlg.AddCheckParameterControls("Enable", 1010), 1);
  dlg.EnableChild(1001, 0);
  dlg.ShowChild(1010, 0);
  dlg.EnableChild(1070, 0);
  // clang-format off
  platform_.Type(1001, "3").Click(1010).Type(1090, "1")  // disabled, hidden, read-only
      .Click(1051).Click(1070).Click(4)  // on a page not shown, disabled, no such control
      .SelectCombo(1060, 2).SelectTab(1050, 2)  // no such item, no such page
      .Check(1020, false)  // a radio is cleared by another
      .SelectTab(1050, 1).Click(1051)  // a label takes no click
      .Click(1071).EndOk();
  // clang-format on
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("PeakCurrent"), 10.0);
  EXPECT_EQ(Value("Enable"), 0.0);
  EXPECT_EQ(dlg.GetChildText(1090), "");
  EXPECT_EQ(dlg.Control(1050)->selection, 1);
  EXPECT_EQ(dlg.log, (Log{"command:1071"}));
  ASSERT_EQ(platform_.ScriptErrors().size(), 10u);
  EXPECT_EQ(platform_.ScriptErrors()[0], "dialog 900: control 1001 cannot take the action");
}

TEST_F(EditSetupDlgTest, GuidelineTextsStepWithPreviousAndNext) {
  RecordingDlg plain(setup_, 900);
  const char* const texts[] = {"first", "second", "third", nullptr};
  RecordingDlg dlg(setup_, 900, texts);
  platform_.EndOk().EndOk();
  ASSERT_EQ(plain.DoModal(), kIdOk);
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  for (int id : {kGuidelinePrevious, kGuidelineNext, kGuidelineText})
    EXPECT_FALSE(plain.IsVisible(id)) << "without texts the assistant is hidden: " << id;
  // clang-format off
  const struct { int click; const char* text; bool previous, next; } steps[] = {
      {0, "first", false, true}, {kGuidelineNext, "second", true, true},
      {kGuidelineNext, "third", true, false}, {kGuidelinePrevious, "second", true, true}};
  // clang-format on
  for (const auto& step : steps) {
    SCOPED_TRACE(step.text);
    EXPECT_TRUE(step.click == 0 || dlg.UserClick(step.click));
    EXPECT_EQ(dlg.GetChildText(kGuidelineText), step.text);
    EXPECT_EQ(dlg.Control(kGuidelinePrevious)->enabled, step.previous);
    EXPECT_EQ(dlg.Control(kGuidelineNext)->enabled, step.next);
  }
}

TEST_F(EditSetupDlgTest, DialogsThatCannotRunReturnMinusOne) {
  Log reports;
  SetErrorReporter([&](const std::string& message) { reports.push_back(message); });
  RecordingDlg missing(setup_, 999);
  EXPECT_EQ(missing.LoadError(),
            testing::TestDataDirectory() + "/dialogs: no template for dialog 999");
  EXPECT_TRUE(missing.Controls().empty());
  EXPECT_EQ(missing.AddParameterControls("PeakCurrent", 1001, 0), 0);
  EXPECT_EQ(missing.DoModal(), -1);
  EXPECT_EQ(reports, (Log{missing.LoadError()}));
  SetErrorReporter(nullptr);
  SetPlatform(nullptr);
  RecordingDlg no_platform(setup_, 900);
  EXPECT_EQ(no_platform.DoModal(), -1);
}

// Unbound controls, keys and Help reach the dialog; a template without the motor database
// controls runs no motor editor, so its buttons stay the dialog's.
TEST_F(EditSetupDlgTest, UnboundControlsReachTheDialog) {
  RecordingDlg dlg(setup_, 900);
  EXPECT_EQ(dlg.InitializeMotorEditor(), 0);
  platform_.SelectCombo(1060, 1).Click(1070).Key("Ctrl+Shift+E").Click(kHelpButton).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(dlg.GetChildText(1060), "y");
  EXPECT_EQ(dlg.log, (Log{"select:1060", "command:1070", "key:Ctrl+Shift+E", "command:10024"}));
  EXPECT_EQ(platform_.HelpLog(), (std::vector<int>{4242}));
}

TEST_F(EditSetupDlgTest, CombosFilledByTheDialogAndBoundToAValue) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("Mode", 1060, 0), 1);
  EXPECT_EQ(dlg.GetComboSelection(1060), -1) << "the template's items hold data 0 and 1, not 2";
  dlg.ResetComboItems(1060);
  for (int mode : {2, 1, 0})
    EXPECT_EQ(dlg.AddComboItem(1060, std::to_string(mode).c_str(), mode), 2 - mode);
  EXPECT_EQ(dlg.AddComboItem(1001, "edit", 1), -1);  // not a combo
  dlg.SetComboSelection(1060, 5);                    // no such item: nothing selected
  EXPECT_EQ(dlg.GetComboSelection(1060), -1);
  EXPECT_EQ(dlg.GetComboItemData(1060, -1), -1);
  // Mode value -> selection: exact, truncated, no such item, NaN.
  const std::pair<double, int> rows[] = {{2.0, 0}, {1.9, 1}, {5.0, -1}, {kNaN, -1}};
  for (const auto& [value, selection] : rows) {
    P("Mode").SetValueInBaseUnit(value);
    dlg.RefreshAllParameters();
    EXPECT_EQ(dlg.GetComboSelection(1060), selection) << value;
  }
  platform_.SelectCombo(1060, 1).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("Mode"), 1.0);
  EXPECT_EQ(dlg.GetChildText(1060), "1");
  EXPECT_EQ(dlg.GetComboItemData(1060, dlg.GetComboSelection(1060)), 1);
  EXPECT_EQ(dlg.log, (Log{"refresh:Mode", "changed:Mode"}))
      << "a bound combo is not reported as an unbound selection";
}

}  // namespace
}  // namespace axis
