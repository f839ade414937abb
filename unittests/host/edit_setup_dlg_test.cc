#include "host/edit_setup_dlg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "host/dialog_test_support.h"

namespace axis {
namespace {

using testing::RecordingDlg;

class EditSetupDlgTest : public testing::DialogTest {
 protected:
  EditSetupDlgTest() {
    Add("PeakCurrent", 10.0, 0.0, 20.0, "A", kTypePhysical, false);
    Add("KPP", 100.0, 0.0, 32767.0, "", kTypeRegister, true);
    Add("Enable", 0.0, 0.0, 1.0, "", kTypeSwitch, false);
    Add("Mode", 2.0, 0.0, 2.0, "", kTypeChoice, false);
    Add("Invert", 1.0, 0.0, 1.0, "", kTypeSwitch, false);
    Add("Speed", 0.5, 0.0, 5.0, "m/s", kTypePhysical, false);
  }
  void Add(const char* name, double value, double min, double max, const char* unit, int type,
           bool is_integer) {
    ASSERT_NE(setup_.AddParameter({.name = name,
                                   .value = value,
                                   .min = min,
                                   .max = max,
                                   .base_unit = unit,
                                   .type = type,
                                   .is_integer = is_integer}),
              nullptr);
  }
  double Value(const char* name) { return setup_.FindParameter(name)->GetValueInBaseUnit(); }

  CMC_Setup setup_;
};

TEST_F(EditSetupDlgTest, ControlTableStartsFromTheTemplate) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.LoadError(), "");
  EXPECT_EQ(dlg.Controls().size(), 29u);
  const ControlState* combo = dlg.Control(1060);
  ASSERT_NE(combo, nullptr);
  ASSERT_EQ(combo->items.size(), 2u);
  EXPECT_EQ(combo->items[1].text, "y");
  EXPECT_EQ(combo->items[1].data, 1);
  EXPECT_EQ(combo->selection, -1);
  EXPECT_EQ(dlg.Control(1050)->selection, 0);  // first page
  EXPECT_EQ(dlg.GetChildText(1010), "&Enable");
  EXPECT_FALSE(dlg.IsVisible(1080));  // hidden in the template
  EXPECT_EQ(dlg.Control(77), nullptr);
}

TEST_F(EditSetupDlgTest, TypedValuesAreCheckedAgainstTheRangeInTheDisplayUnit) {
  struct Row {
    const char* name;
    const char* unit;
    const char* typed;
    double stored_A;      // base value afterwards
    const char* message;  // "" when accepted
  };
  const Row rows[] = {
      {"in range", "A", "12.5", 12.5, ""},
      {"milliamps", "mA", "1500", 1.5, ""},
      {"blanks around", "A", "  3 ", 3.0, ""},
      {"plus sign", "A", "+4", 4.0, ""},
      {"upper bound", "A", "20", 20.0, ""},
      {"lower bound", "A", "0", 0.0, ""},
      {"exponent", "mA", "2e3", 2.0, ""},
      {"above", "A", "25", 10.0, "Please enter a value between 0 and 20 A."},
      {"below", "A", "-1", 10.0, "Please enter a value between 0 and 20 A."},
      {"above in mA", "mA", "20001", 10.0, "Please enter a value between 0 and 20000 mA."},
      {"letters", "A", "abc", 10.0,
       "\"abc\" is not a number. Please enter a value between 0 and 20 A."},
      {"number then letters", "A", "5x", 10.0,
       "\"5x\" is not a number. Please enter a value between 0 and 20 A."},
      {"empty", "A", "", 10.0, "\"\" is not a number. Please enter a value between 0 and 20 A."},
      {"nan", "A", "nan", 10.0,
       "\"nan\" is not a number. Please enter a value between 0 and 20 A."},
      {"inf", "A", "inf", 10.0,
       "\"inf\" is not a number. Please enter a value between 0 and 20 A."},
      {"two signs", "A", "+-4", 10.0,
       "\"+-4\" is not a number. Please enter a value between 0 and 20 A."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    setup_.FindParameter("PeakCurrent")->SetValueInBaseUnit(10.0);
    ASSERT_EQ(setup_.ChangeParameterUnit("PeakCurrent", row.unit), 1);
    HeadlessPlatform platform;
    SetPlatform(&platform);
    RecordingDlg dlg(setup_, 900);
    ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
    platform.Type(1001, row.typed).EndOk();
    EXPECT_EQ(dlg.DoModal(), kIdOk);
    EXPECT_DOUBLE_EQ(Value("PeakCurrent"), row.stored_A);
    char shown[32];
    std::snprintf(shown, sizeof(shown), "%g",
                  row.stored_A / (std::string(row.unit) == "mA" ? 1e-3 : 1.0));
    EXPECT_EQ(dlg.GetChildText(1001), shown);
    if (*row.message == '\0') {
      EXPECT_TRUE(platform.MessageLog().empty());
      EXPECT_EQ(dlg.log, (std::vector<std::string>{"refresh:PeakCurrent", "changed:PeakCurrent"}));
    } else {
      ASSERT_EQ(platform.MessageLog().size(), 1u);
      const MessageBoxRequest& box = platform.MessageLog()[0].request;
      EXPECT_EQ(box.text, row.message);
      EXPECT_EQ(box.caption, "Test Editor \xB0");
      EXPECT_EQ(box.icon, MessageIcon::kWarning);
      EXPECT_EQ(box.buttons, MessageButtons::kOk);
      EXPECT_TRUE(dlg.log.empty());
    }
    SetPlatform(&platform_);
  }
}

TEST_F(EditSetupDlgTest, RegisterShowsTheValueAsStored) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("KPP", 1003, 0), 1);
  platform_.Type(1003, "3.6").EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("KPP"), 4.0);  // registers hold whole numbers
  EXPECT_EQ(dlg.GetChildText(1003), "4");
}

TEST_F(EditSetupDlgTest, UnitComboListsTheUnitsOfTheTypeAndChangesTheDisplayUnit) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  const ControlState* combo = dlg.Control(1002);
  ASSERT_EQ(combo->items.size(), 2u);
  EXPECT_EQ(combo->items[0].text, "A");
  EXPECT_EQ(combo->items[1].text, "mA");
  EXPECT_EQ(combo->selection, 0);
  EXPECT_EQ(combo->parameter, "PeakCurrent");

  platform_.SelectCombo(1002, 1).Type(1001, "250").EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_STREQ(setup_.GetParameterUnit("PeakCurrent"), "mA");
  EXPECT_DOUBLE_EQ(Value("PeakCurrent"), 0.25);
  EXPECT_EQ(dlg.GetChildText(1001), "250");
  EXPECT_EQ(dlg.GetChildText(1002), "mA");
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"unit:PeakCurrent", "refresh:PeakCurrent",
                                               "changed:PeakCurrent"}));
}

TEST_F(EditSetupDlgTest, UnitChangeAloneKeepsTheValue) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("Speed", 1041, 1042), 1);
  // m/s family: m/s (base) then mm/s.
  platform_.SelectCombo(1042, 1).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("Speed"), 0.5);
  EXPECT_EQ(dlg.GetChildText(1041), "500");
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"unit:Speed"}));
}

TEST_F(EditSetupDlgTest, CheckAndSwitchBindings) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddCheckParameterControls("Enable", 1010), 1);
  ASSERT_EQ(dlg.AddSwitchParameterControls("Mode", 1020, 1022), 1);
  ASSERT_EQ(dlg.AddSwitchParameterControls("Invert", 1030), 1);
  EXPECT_EQ(dlg.GetCheck(1010), 0);
  EXPECT_EQ(dlg.GetCheck(1030), 1);
  // Mode 2 selects first + 2.
  EXPECT_EQ(dlg.GetCheck(1020), 0);
  EXPECT_EQ(dlg.GetCheck(1021), 0);
  EXPECT_EQ(dlg.GetCheck(1022), 1);

  platform_.Click(1010).Click(1021).Click(1030).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("Enable"), 1.0);
  EXPECT_EQ(Value("Mode"), 1.0);
  EXPECT_EQ(Value("Invert"), 0.0);
  EXPECT_EQ(dlg.GetCheck(1010), 1);
  EXPECT_EQ(dlg.GetCheck(1021), 1);
  EXPECT_EQ(dlg.GetCheck(1022), 0);
  EXPECT_EQ(dlg.GetCheck(1030), 0);
  EXPECT_EQ(dlg.log,
            (std::vector<std::string>{"refresh:Enable", "changed:Enable", "refresh:Mode",
                                      "changed:Mode", "refresh:Invert", "changed:Invert"}));
}

TEST_F(EditSetupDlgTest, SwitchValuesMatchingNoButtonClearAll) {
  struct Row {
    const char* name;
    double mode;
    int checked;  // id of the checked button, 0 for none
  };
  const Row rows[] = {
      {"zero", 0.0, 1020},
      {"one", 1.0, 1021},
      {"beyond", 5.0, 0},
      {"negative", -1.0, 0},
      {"nan", std::numeric_limits<double>::quiet_NaN(), 0},
      {"infinite", std::numeric_limits<double>::infinity(), 0},
  };
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddSwitchParameterControls("Mode", 1020, 1022), 1);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    setup_.FindParameter("Mode")->SetValueInBaseUnit(row.mode);
    dlg.RefreshAllParameters();
    for (int id = 1020; id <= 1022; ++id) EXPECT_EQ(dlg.GetCheck(id), id == row.checked ? 1 : 0);
  }
}

TEST_F(EditSetupDlgTest, BindingIsRefusedForMissingParametersOrWrongControls) {
  g_bShowErrors = 0;
  RecordingDlg dlg(setup_, 900);
  struct Row {
    const char* name;
    int result;
  };
  const Row rows[] = {
      {"missing parameter", dlg.AddParameterControls("Nothing", 1001, 1002)},
      {"label as edit", dlg.AddParameterControls("PeakCurrent", 1043, 0)},
      {"edit as unit", dlg.AddParameterControls("PeakCurrent", 1001, 1003)},
      {"missing edit", dlg.AddParameterControls("PeakCurrent", 4, 0)},
      {"edit as check", dlg.AddCheckParameterControls("Enable", 1001)},
      {"range with a non-radio", dlg.AddSwitchParameterControls("Mode", 1020, 1030)},
      {"reversed range", dlg.AddSwitchParameterControls("Mode", 1022, 1020)},
      {"button as switch", dlg.AddSwitchParameterControls("Invert", 1070)},
      {"edit as slider", dlg.AddSliderParameterControls("Speed", 1041, 0, 0, 0, 0, 0.0, 1.0)},
      {"null name", dlg.AddCheckParameterControls(nullptr, 1010)},
  };
  g_bShowErrors = 1;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.result, 0);
  }
  for (const auto& [id, control] : dlg.Controls()) EXPECT_EQ(control.parameter, "") << id;
}

TEST_F(EditSetupDlgTest, UserParameterIsBoundLikeASetupParameter) {
  CMC_Parameter user(&setup_, "Trial", "s", "ms", kTypePhysical, false);
  user.SetMinInBaseUnit(0.0);
  user.SetMaxInBaseUnit(1.0);
  user.SetValueInBaseUnit(0.25);
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddUserParameterControls(user, 1005, 1006), 1);
  EXPECT_EQ(dlg.GetChildText(1005), "250");
  EXPECT_EQ(dlg.GetChildText(1006), "ms");
  platform_.Type(1005, "1001").Type(1005, "40").EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_DOUBLE_EQ(user.GetValueInBaseUnit(), 0.04);
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text, "Please enter a value between 0 and 1000 ms.");
  EXPECT_EQ(setup_.FindParameterNoError("Trial"), nullptr);
}

TEST_F(EditSetupDlgTest, SliderMapsTicksOntoItsBounds) {
  RecordingDlg dlg(setup_, 900);
  // Ticks 0..50 over 0..2 m/s: 0.5 m/s is 12.5 ticks, shown as 13 (halves away from zero).
  ASSERT_EQ(dlg.AddSliderParameterControls("Speed", 1040, 1041, 1042, 1043, 1044, 0.0, 2.0), 1);
  EXPECT_EQ(dlg.Control(1040)->selection, 13);
  EXPECT_EQ(dlg.GetChildText(1043), "0");
  EXPECT_EQ(dlg.GetChildText(1044), "2");
  // 40 ticks: 40/50 * 2 = 1.6 m/s; then 1 m/s typed is 25 ticks; mm/s shows bounds 0 and 2000.
  platform_.MoveSlider(1040, 40).MoveSlider(1040, 51).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_DOUBLE_EQ(Value("Speed"), 1.6);
  EXPECT_EQ(dlg.GetChildText(1041), "1.6");
  EXPECT_EQ(platform_.ScriptErrors().size(), 1u);  // 51 is past the last tick

  platform_.Type(1041, "1").SelectCombo(1042, 1).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(dlg.Control(1040)->selection, 25);
  EXPECT_EQ(dlg.GetChildText(1043), "0");
  EXPECT_EQ(dlg.GetChildText(1044), "2000");
  EXPECT_EQ(dlg.GetChildText(1041), "1000");
}

TEST_F(EditSetupDlgTest, SliderSurvivesDegenerateBoundsAndValues) {
  struct Row {
    const char* name;
    double lower, upper, value;
    int position;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Row rows[] = {
      {"empty span", 1.0, 1.0, 1.0, 0},       {"nan value", 0.0, 2.0, nan, 0},
      {"below", 0.0, 2.0, -3.0, 0},           {"above", 0.0, 2.0, 9.0, 50},
      {"infinite value", 0.0, 2.0, inf, 50},  {"infinite bound", 0.0, inf, 1.0, 0},
      {"reversed bounds", 2.0, 0.0, 0.5, 38},  // (0.5 - 2) / (0 - 2) = 0.75 -> 37.5 -> 38
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    setup_.FindParameter("Speed")->SetValueInBaseUnit(row.value);
    RecordingDlg dlg(setup_, 900);
    ASSERT_EQ(
        dlg.AddSliderParameterControls("Speed", 1040, 1041, 0, 1043, 1044, row.lower, row.upper),
        1);
    EXPECT_EQ(dlg.Control(1040)->selection, row.position);
  }
}

TEST_F(EditSetupDlgTest, RefreshOfOneParameterHoldsItInsideANarrowedRange) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  CMC_Parameter* p = setup_.FindParameter("PeakCurrent");
  p->SetMaxInBaseUnit(5.0);
  dlg.RefreshAllParameters();  // shows, never changes
  EXPECT_EQ(p->GetValueInBaseUnit(), 10.0);
  EXPECT_EQ(dlg.GetChildText(1001), "10");
  dlg.RefreshParameterControls("peakcurrent");  // names ignore case
  EXPECT_EQ(p->GetValueInBaseUnit(), 5.0);
  EXPECT_EQ(dlg.GetChildText(1001), "5");
  EXPECT_TRUE(dlg.log.empty());  // refreshing is not a change by the user

  struct Row {
    const char* name;
    double min, max, value, after;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Row rows[] = {
      {"below", 1.0, 5.0, 0.5, 1.0},       {"inside", 1.0, 5.0, 3.0, 3.0},
      {"nan value", 1.0, 5.0, nan, nan},   {"nan bound", nan, 5.0, 9.0, 9.0},
      {"open range", -inf, inf, 9.0, 9.0}, {"crossed range", 5.0, 1.0, 9.0, 9.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    p->SetMinInBaseUnit(row.min);
    p->SetMaxInBaseUnit(row.max);
    p->SetValueInBaseUnit(row.value);
    dlg.RefreshParameterControls("PeakCurrent");
    if (std::isnan(row.after)) {
      EXPECT_TRUE(std::isnan(p->GetValueInBaseUnit()));
    } else {
      EXPECT_EQ(p->GetValueInBaseUnit(), row.after);
    }
  }
}

TEST_F(EditSetupDlgTest, NanBoundsLeaveThatSideOpen) {
  CMC_Parameter* p = setup_.FindParameter("PeakCurrent");
  p->SetMinInBaseUnit(std::numeric_limits<double>::quiet_NaN());
  p->SetMaxInBaseUnit(std::numeric_limits<double>::quiet_NaN());
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 0), 1);
  platform_.Type(1001, "-1e6").EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(p->GetValueInBaseUnit(), -1e6);
  EXPECT_TRUE(platform_.MessageLog().empty());
}

TEST_F(EditSetupDlgTest, TypedValuesComeBackWithinOneDisplayedDigit) {
  std::mt19937 random(20261206);
  std::uniform_real_distribution<double> current_A(0.0, 20.0);
  ASSERT_EQ(setup_.ChangeParameterUnit("PeakCurrent", "mA"), 1);
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  std::vector<double> typed_A;
  for (int i = 0; i < 300; ++i) typed_A.push_back(current_A(random));
  // One dialog run per value, checked after each.
  for (double value_A : typed_A) {
    HeadlessPlatform platform;
    SetPlatform(&platform);
    char text[40];
    std::snprintf(text, sizeof(text), "%.17g", value_A * 1000.0);
    platform.Type(1001, text).EndOk();
    ASSERT_EQ(dlg.DoModal(), kIdOk);
    EXPECT_NEAR(Value("PeakCurrent"), value_A, 1e-12 * 20.0);
    // The edit shows six significant digits of the mA value.
    const double shown_mA = std::stod(dlg.GetChildText(1001));
    EXPECT_NEAR(shown_mA, value_A * 1000.0, 5e-6 * std::max(value_A * 1000.0, 1.0));
  }
  SetPlatform(&platform_);
}

TEST_F(EditSetupDlgTest, EnableShowAndVisibility) {
  RecordingDlg dlg(setup_, 900);
  std::vector<int> touched;
  dlg.SetChangeListener([&](int id) { touched.push_back(id); });
  const uint64_t before = dlg.ChangeCount();
  const int ids[] = {1001, 1002, 4, 0, 1003};  // 4 is unknown, 1003 lies after the end mark
  dlg.EnableChildren(ids, 0);
  EXPECT_FALSE(dlg.Control(1001)->enabled);
  EXPECT_FALSE(dlg.Control(1002)->enabled);
  EXPECT_TRUE(dlg.Control(1003)->enabled);
  EXPECT_EQ(touched, (std::vector<int>{1001, 1002}));
  EXPECT_EQ(dlg.ChangeCount(), before + 2);
  dlg.EnableChildren(ids, 0);  // no change, no repaint
  EXPECT_EQ(dlg.ChangeCount(), before + 2);

  struct Row {
    const char* name;
    int id;
    bool visible;
  };
  dlg.ShowChild(1000, 0);  // the group hides what it contains
  dlg.ShowChild(1080, 1);
  const Row rows[] = {
      {"hidden group", 1000, false}, {"inside the hidden group", 1001, false},
      {"shown mark", 1080, true},    {"first page label on page 1", 1051, false},
      {"tab", 1050, true},           {"unknown", 4, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(dlg.IsVisible(row.id), row.visible);
  }
  const int shown[] = {1000, 0};
  dlg.ShowChildren(shown, 1);
  EXPECT_TRUE(dlg.IsVisible(1002));

  dlg.SetChildText(1043, "Kp");
  EXPECT_EQ(dlg.GetChildText(1043), "Kp");
  dlg.SetButtonImage(1070, "TO_MOTORSETUP");
  EXPECT_EQ(dlg.Control(1070)->image, "TO_MOTORSETUP");
}

TEST_F(EditSetupDlgTest, TheUserCannotUseDisabledHiddenOrReadOnlyControls) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  ASSERT_EQ(dlg.AddCheckParameterControls("Enable", 1010), 1);
  dlg.EnableChild(1001, 0);
  dlg.ShowChild(1010, 0);
  platform_.Type(1001, "3")
      .Click(1010)
      .Type(1090, "1")
      .Click(1051)
      .SelectTab(1050, 1)
      .Click(1051)
      .EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("PeakCurrent"), 10.0);
  EXPECT_EQ(Value("Enable"), 0.0);
  EXPECT_EQ(dlg.GetChildText(1090), "");
  // Typing into 1001 and 1090, clicking 1010, the label on a hidden page and then a label.
  EXPECT_EQ(platform_.ScriptErrors().size(), 5u);
  EXPECT_EQ(dlg.Control(1050)->selection, 1);
}

TEST_F(EditSetupDlgTest, GuidelineTextsStepWithPreviousAndNext) {
  const char* const texts[] = {"first", "second", "third", nullptr};
  RecordingDlg dlg(setup_, 900, texts);
  struct Step {
    const char* name;
    int click;  // 0: just opened
    const char* text;
    bool previous, next;
  };
  const Step steps[] = {
      {"opened", 0, "first", false, true},
      {"next", kGuidelineNext, "second", true, true},
      {"next again", kGuidelineNext, "third", true, false},
      {"previous", kGuidelinePrevious, "second", true, true},
  };
  // One dialog run per prefix of the steps, checked at its end.
  for (size_t n = 0; n < std::size(steps); ++n) {
    SCOPED_TRACE(steps[n].name);
    HeadlessPlatform platform;
    SetPlatform(&platform);
    for (size_t i = 0; i <= n; ++i) {
      if (steps[i].click != 0) platform.Click(steps[i].click);
    }
    platform.EndOk();
    ASSERT_EQ(dlg.DoModal(), kIdOk);
    EXPECT_EQ(dlg.GetChildText(kGuidelineText), steps[n].text);
    EXPECT_EQ(dlg.Control(kGuidelinePrevious)->enabled, steps[n].previous);
    EXPECT_EQ(dlg.Control(kGuidelineNext)->enabled, steps[n].next);
    EXPECT_TRUE(platform.ScriptErrors().empty());
  }
  SetPlatform(&platform_);
}

TEST_F(EditSetupDlgTest, WithoutGuidelinesTheAssistantIsHidden) {
  RecordingDlg dlg(setup_, 900);
  platform_.EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  for (int id : {kGuidelinePrevious, kGuidelineNext, kGuidelineText}) {
    EXPECT_FALSE(dlg.IsVisible(id)) << id;
  }
}

TEST_F(EditSetupDlgTest, DoModalResults) {
  struct Row {
    const char* name;
    std::function<void(HeadlessPlatform&)> script;
    int result;
  };
  const Row rows[] = {
      {"OK", [](HeadlessPlatform& p) { p.EndOk(); }, kIdOk},
      {"Cancel", [](HeadlessPlatform& p) { p.EndCancel(); }, kIdCancel},
      {"OK button", [](HeadlessPlatform& p) { p.Click(1); }, kIdOk},
      {"Cancel button", [](HeadlessPlatform& p) { p.Click(2); }, kIdCancel},
      {"other result", [](HeadlessPlatform& p) { p.End(7); }, 7},
      {"script runs out", [](HeadlessPlatform& p) { p.Click(1070); }, kIdCancel},
      {"empty script", [](HeadlessPlatform&) {}, kIdCancel},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HeadlessPlatform platform;
    SetPlatform(&platform);
    RecordingDlg dlg(setup_, 900);
    row.script(platform);
    EXPECT_EQ(dlg.DoModal(), row.result);
    EXPECT_FALSE(dlg.IsRunning());
    EXPECT_EQ(platform.PendingActions(), 0u);
  }
  SetPlatform(&platform_);
}

TEST_F(EditSetupDlgTest, DialogsThatCannotRunReturnMinusOne) {
  std::vector<std::string> reports;
  SetErrorReporter([&](const std::string& message) { reports.push_back(message); });
  RecordingDlg missing(setup_, 999);
  EXPECT_EQ(missing.LoadError(),
            testing::TestDataDirectory() + "/dialogs: no template for dialog 999");
  EXPECT_TRUE(missing.Controls().empty());
  EXPECT_EQ(missing.AddParameterControls("PeakCurrent", 1001, 0), 0);
  EXPECT_EQ(missing.DoModal(), -1);
  EXPECT_EQ(reports, (std::vector<std::string>{missing.LoadError()}));
  SetErrorReporter(nullptr);

  SetPlatform(nullptr);
  RecordingDlg no_platform(setup_, 900);
  EXPECT_EQ(no_platform.DoModal(), -1);
}

TEST_F(EditSetupDlgTest, HelpButtonOpensTheDialogsTopic) {
  RecordingDlg dlg(setup_, 900);
  platform_.Click(kHelpButton).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(platform_.HelpLog(), (std::vector<int>{4242}));
}

TEST_F(EditSetupDlgTest, UnboundControlsReachTheDialog) {
  RecordingDlg dlg(setup_, 900);
  platform_.SelectCombo(1060, 1).Click(1070).Key("Ctrl+Shift+E").EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(dlg.GetComboSelection(1060), 1);
  EXPECT_EQ(dlg.GetChildText(1060), "y");
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"select:1060", "command:1070", "key:Ctrl+Shift+E"}));
}

TEST_F(EditSetupDlgTest, ComboItemsFilledByTheDialog) {
  RecordingDlg dlg(setup_, 900);
  dlg.ResetComboItems(1060);
  EXPECT_EQ(dlg.AddComboItem(1060, "250 kbit/s", 250000), 0);
  EXPECT_EQ(dlg.AddComboItem(1060, "1 Mbit/s", 1000000), 1);
  EXPECT_EQ(dlg.AddComboItem(1001, "edit", 1), -1);  // not a combo
  dlg.SetComboSelection(1060, 1);
  EXPECT_EQ(dlg.GetComboItemData(1060, dlg.GetComboSelection(1060)), 1000000);
  EXPECT_EQ(dlg.GetChildText(1060), "1 Mbit/s");
  dlg.SetComboSelection(1060, 5);  // no such item: nothing selected
  EXPECT_EQ(dlg.GetComboSelection(1060), -1);
  EXPECT_EQ(dlg.GetComboItemData(1060, -1), -1);
}

TEST_F(EditSetupDlgTest, BoundComboSelectsTheItemOfTheValueAndStoresThePickedData) {
  RecordingDlg dlg(setup_, 900);
  EXPECT_EQ(dlg.AddParameterControls("Mode", 1060, 1002), 0) << "a combo takes no unit combo";
  ASSERT_EQ(dlg.AddParameterControls("Mode", 1060, 0), 1);
  EXPECT_EQ(dlg.GetComboSelection(1060), -1) << "the template's items hold data 0 and 1, not 2";
  dlg.ResetComboItems(1060);
  for (int mode : {2, 1, 0}) dlg.AddComboItem(1060, std::to_string(mode).c_str(), mode);
  const struct {
    const char* name;
    double value;
    int selection;
  } rows[] = {{"exact", 2.0, 0},
              {"truncated", 1.9, 1},
              {"no such item", 5.0, -1},
              {"NaN", std::numeric_limits<double>::quiet_NaN(), -1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    setup_.FindParameter("Mode")->SetValueInBaseUnit(row.value);
    dlg.RefreshAllParameters();
    EXPECT_EQ(dlg.GetComboSelection(1060), row.selection);
  }
  platform_.SelectCombo(1060, 2).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("Mode"), 0.0);
  EXPECT_EQ(dlg.GetChildText(1060), "0");
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"refresh:Mode", "changed:Mode"}))
      << "a bound combo is not reported as an unbound selection";
}

TEST_F(EditSetupDlgTest, UnitComboFollowsAMoveToTheOtherMotionFamily) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("Speed", 1041, 1042), 1);
  ASSERT_EQ(dlg.Control(1042)->items[0].text, "m/s");
  const uint64_t before = dlg.ChangeCount();
  dlg.RefreshAllParameters();
  EXPECT_EQ(dlg.ChangeCount(), before) << "a refresh without a unit change leaves the list alone";

  ASSERT_EQ(setup_.FindParameter("Speed")->ChangeUnitType("rpm"), 1);
  dlg.RefreshParameterControls("Speed");
  const ControlState* combo = dlg.Control(1042);
  std::vector<std::string> units;
  for (const ComboItem& item : combo->items) units.push_back(item.text);
  EXPECT_EQ(units, (std::vector<std::string>{"rad/s", "rpm", "rot/s"}));
  EXPECT_EQ(dlg.GetChildText(1042), "rpm");
  platform_.SelectCombo(1042, 2).EndOk();  // the new list works: rot/s
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_STREQ(setup_.GetParameterUnit("Speed"), "rot/s");
}

TEST_F(EditSetupDlgTest, StoredValuesKeepTheRangeAndReachTheDialogLikeTypedOnes) {
  const struct {
    const char* name;
    const char* parameter;
    double value;
    int result;
    double stored;
  } rows[] = {{"inside", "PeakCurrent", 12.0, 1, 12.0},
              {"above", "PeakCurrent", 25.0, 2, 20.0},
              {"below", "speed", -1.0, 2, 0.0},
              {"missing", "Nothing", 1.0, 0, 0.0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingDlg dlg(setup_, 900);
    ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
    EXPECT_EQ(dlg.StoreParameterValue(row.parameter, row.value), row.result);
    if (row.result == 0) {
      EXPECT_TRUE(dlg.log.empty());
      continue;
    }
    const CMC_Parameter* p = setup_.FindParameter(row.parameter);
    EXPECT_EQ(p->GetValueInBaseUnit(), row.stored);
    EXPECT_EQ(dlg.log,
              (std::vector<std::string>{"refresh:" + p->GetName(), "changed:" + p->GetName()}));
  }
  EXPECT_EQ(setup_.FindParameter("PeakCurrent")->GetValueInBaseUnit(), 20.0);
}

TEST_F(EditSetupDlgTest, MotorEditorNeedsItsControls) {
  RecordingDlg dlg(setup_, 900);
  EXPECT_EQ(dlg.InitializeMotorEditor(), 0);  // the test template has no database controls
  platform_.Click(1070).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"command:1070"}));
}

}  // namespace
}  // namespace axis
