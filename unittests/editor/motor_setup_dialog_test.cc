// The motor setup dialog: bindings, the enabling rules, the Hall configuration, encoder filter and
// brake output lists, the brake text, the limit-switch warning, the transmission rules, the OK
// consistency rules, Help, and a motor picked from the database reaching the dialog's rules.
#include "editor/motor_setup_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "conversions/motion_units.h"
#include "host/dialog_test_support.h"
#include "host/motor_editor.h"
#include "host/setup_file.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using Dlg = CMotorSetupDialog;

constexpr int kTestButtons[] = {Dlg::kTestPhaseConnections,   Dlg::kIdentifyResistanceInductance,
                                Dlg::kTestEncoderConnections, Dlg::kDetectResolution,
                                Dlg::kTestHallConnections,    Dlg::kDetectHallConfiguration};
constexpr int kBrakeRows[] = {Dlg::kBrakeOutput,  Dlg::kBrakeText,        Dlg::kReleaseDelayLabel,
                              Dlg::kReleaseDelay, Dlg::kReleaseDelayUnit, Dlg::kApplyDelayLabel,
                              Dlg::kApplyDelay,   Dlg::kApplyDelayUnit};

class MotorSetupDialogTest : public axis::testing::DialogTest {
 protected:
  // The bundled templates and motor databases of the build.
  axis::testing::ResourceFolder real_resources_{std::nullopt};
  // The motor editor reads the user's motor database: never the real one.
  axis::testing::PrivateUserConfig user_config_;
};

std::unique_ptr<CMC_Setup> Bundled(const char* file) {
  axis::LoadResult result = axis::LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/" + file);
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
std::vector<std::string> Items(const Dlg& d, int id) {
  std::vector<std::string> texts;
  for (const axis::ComboItem& item : d.Control(id)->items) texts.push_back(item.text);
  return texts;
}

// What the optional parts of a small setup hold.
struct Parts {
  double mass_unknown = 0, halls = 1, temperature = 1, brake = 1, filter = 1;
  bool has_filter = true, has_reverse = true, has_brake = true;
  std::vector<axis::IoPort> ports = {{0, 25}, {1, 26}};
};

TestSetup MotorSetup(const Parts& p = {}) {
  TestSetup t;
  t.Physical({{"In", 3, "A"},
              {"ImaxM", 9, "A"},
              {"PolePitch", 0.03, "m"},
              {"Kf", 30, "N/A"},
              {"R", 2.5, "Ohm"},
              {"L", 0.003, "H"},
              {"M", 1.2, "kg"},
              {"isMotorMassUnknown", p.mass_unknown},
              {"MotorPhaseConnectionType", 0},
              {"EncRes", 1e-6, "m"},
              {"HALLCASE", 5},
              {"isHallsensors", p.halls},
              {"isMotorTemperatureSensor", p.temperature},
              {"Motor_TempSensor_Type", 0},
              {"TransmissionType", 0},
              {"Motor_transmission", 0.001, "m"},
              {"Load_transmission", 0.001, "m"},
              {"isMotorOverTemp", 1},
              {"CommutationMethod", 1},
              {"StartMode", 0}});
  if (p.has_filter) t.Physical({{"isFilterEnc", p.filter}, {"FilterEncValue", 2}});
  if (p.has_reverse) t.Physical({{"ReverseCounting", 0}});
  if (p.has_brake) {
    t.Physical({{"isMotorBrake", p.brake},
                {"MotorBrake_output", 0},
                {"MotorBrake_releasetime", 0.05, "s"},
                {"MotorBrake_applytime", 0.1, "s"}});
    t.Registers({{"BRAKECFG", 6401}});
  }
  t->SetIoPorts(p.ports);
  return t;
}

TEST_F(MotorSetupDialogTest, ControlsAreBoundToTheMotorParameters) {
  TestSetup t = MotorSetup();
  Dlg d(*t, nullptr);
  ASSERT_EQ(d.LoadError(), "");
  EXPECT_EQ(d.Template().caption, "Brushless Motor Setup");
  const struct {
    int id;
    const char* parameter;
  } rows[] = {{1159, "In"},
              {1160, "In"},
              {1161, "ImaxM"},
              {1165, "PolePitch"},
              {1176, "PolePitch"},
              {1166, "Kf"},
              {1168, "R"},
              {1170, "L"},
              {1172, "M"},
              {1178, "isMotorMassUnknown"},
              {1195, "MotorPhaseConnectionType"},
              {1196, "MotorPhaseConnectionType"},
              {3352, "EncRes"},
              {3351, "EncRes"},
              {1182, "HALLCASE"},
              {1181, "isHallsensors"},
              {1183, "isMotorTemperatureSensor"},
              {1185, "Motor_TempSensor_Type"},
              {1186, "Motor_TempSensor_Type"},
              {3359, "FilterEncValue"},
              {3360, "isFilterEnc"},
              {3358, "ReverseCounting"},
              {1193, "TransmissionType"},
              {1194, "TransmissionType"},
              {1163, "Motor_transmission"},
              {1164, "Motor_transmission"},
              {1174, "Load_transmission"},
              {1192, "Load_transmission"},
              {3376, "isMotorBrake"},
              {3377, "MotorBrake_output"},
              {3385, "MotorBrake_releasetime"},
              {3386, "MotorBrake_releasetime"},
              {3387, "MotorBrake_applytime"},
              {3388, "MotorBrake_applytime"}};
  for (const auto& row : rows) EXPECT_EQ(d.Control(row.id)->parameter, row.parameter) << row.id;

  // Without the optional parameters those controls stay unbound, and nothing is reported.
  std::vector<std::string> reports;
  axis::SetErrorReporter([&](const std::string& m) { reports.push_back(m); });
  TestSetup bare = MotorSetup({.has_filter = false, .has_reverse = false, .has_brake = false});
  Dlg b(*bare, nullptr);
  axis::SetErrorReporter(nullptr);
  EXPECT_TRUE(reports.empty()) << (reports.empty() ? std::string() : reports.front());
  for (int id : {3359, 3360, 3358, 3376, 3377, 3385, 3387})
    EXPECT_EQ(b.Control(id)->parameter, "") << id;
}

TEST_F(MotorSetupDialogTest, ControlsAreEnabledAfterWhatTheMotorHas) {
  struct Row {
    const char* name;
    Parts parts;
    bool mass, halls, temperature, brake_group, brake_rows, filter_check, filter_combo, reverse;
  };
  const Row rows[] = {
      {"everything present and on", {}, true, true, true, true, true, true, true, true},
      {"mass unknown", {.mass_unknown = 1}, false, true, true, true, true, true, true, true},
      {"no Hall sensors", {.halls = 0}, true, false, true, true, true, true, true, true},
      {"no temperature sensor",
       {.temperature = 0},
       true,
       true,
       false,
       true,
       true,
       true,
       true,
       true},
      {"brake off", {.brake = 0}, true, true, true, true, false, true, true, true},
      {"filter off", {.filter = 0}, true, true, true, true, true, true, false, true},
      {"no filter on this drive",
       {.has_filter = false},
       true,
       true,
       true,
       true,
       true,
       false,
       false,
       true},
      {"no reverse counting",
       {.has_reverse = false},
       true,
       true,
       true,
       true,
       true,
       true,
       true,
       false},
      {"no brake registers",
       {.has_brake = false},
       true,
       true,
       true,
       false,
       false,
       true,
       true,
       true},
      // The brake rows need an output to drive the brake, even with the brake switched on.
      {"no brake outputs", {.ports = {}}, true, true, true, false, false, true, true, true},
      {"switches truncated",
       {.mass_unknown = 0.5, .halls = 1.7, .temperature = 1.2},
       true,
       true,
       true,
       true,
       true,
       true,
       true,
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = MotorSetup(row.parts);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    for (int id : {Dlg::kMass, Dlg::kMassUnit, Dlg::kMassLabel})
      EXPECT_EQ(Enabled(d, id), row.mass) << id;
    for (int id : {Dlg::kHallConfiguration, Dlg::kHallConfigurationLabel})
      EXPECT_EQ(Enabled(d, id), row.halls) << id;
    for (int id : {Dlg::kSensorTypeLabel, Dlg::kNtc, Dlg::kPtc})
      EXPECT_EQ(Enabled(d, id), row.temperature) << id;
    EXPECT_EQ(Enabled(d, Dlg::kBrakeGroup), row.brake_group);
    EXPECT_EQ(Enabled(d, Dlg::kBrakeCheck), row.brake_group);
    for (int id : kBrakeRows) EXPECT_EQ(Enabled(d, id), row.brake_rows) << id;
    for (int id : {Dlg::kFilterCheck, Dlg::kFilterLabel, Dlg::kFilterBandwidthLabel})
      EXPECT_EQ(Enabled(d, id), row.filter_check) << id;
    EXPECT_EQ(Enabled(d, Dlg::kFilterValue), row.filter_combo);
    EXPECT_EQ(Enabled(d, Dlg::kReverseCounting), row.reverse);
    // The commissioning tests do not exist yet: their buttons show, disabled, whatever the rules.
    for (int id : kTestButtons) {
      EXPECT_TRUE(Shown(d, id)) << id;
      EXPECT_FALSE(Enabled(d, id)) << id;
    }
  }
}

TEST_F(MotorSetupDialogTest, TheUsersChecksSwitchTheirRowsAtOnce) {
  TestSetup t = MotorSetup();
  Dlg d(*t, nullptr);
  platform_.Check(Dlg::kMassUnknown, true)
      .Check(Dlg::kHallSensors, false)
      .Check(Dlg::kTemperatureSensor, false)
      .Check(Dlg::kBrakeCheck, false)
      .Check(Dlg::kFilterCheck, false)
      .EndCancel();
  d.DoModal();
  EXPECT_TRUE(platform_.ScriptErrors().empty());
  EXPECT_FALSE(Enabled(d, Dlg::kMass));
  EXPECT_FALSE(Enabled(d, Dlg::kHallConfiguration));
  EXPECT_FALSE(Enabled(d, Dlg::kNtc));
  for (int id : kBrakeRows) EXPECT_FALSE(Enabled(d, id)) << id;
  EXPECT_FALSE(Enabled(d, Dlg::kFilterValue));
  for (int id : kTestButtons) EXPECT_FALSE(Enabled(d, id)) << id;
  EXPECT_EQ(t.Get("isHallsensors"), 0.0);
  EXPECT_EQ(t.Get("isMotorBrake"), 0.0);
}

TEST_F(MotorSetupDialogTest, HallConfigurationsListTheSequencesTheRangeAllows) {
  const struct {
    const char* name;
    double min, max, value;
    std::vector<std::string> items;
    std::string shown;
  } rows[] = {
      {"wide range: 2 to 13 only",
       0,
       20,
       5,
       {"2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13"},
       "5"},
      {"inside", 5, 8, 8, {"5", "6", "7", "8"}, "8"},
      {"fractional bounds truncated", 3.7, 6.9, 4, {"3", "4", "5", "6"}, "4"},
      {"open range",
       -1e300,
       1e300,
       13,
       {"2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13"},
       "13"},
      {"nothing left", 14, 20, 14, {}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = MotorSetup();
    CMC_Parameter* hall_case = t->FindParameter("HALLCASE");
    hall_case->SetMinInBaseUnit(row.min);
    hall_case->SetMaxInBaseUnit(row.max);
    hall_case->SetValueInBaseUnit(row.value);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(Items(d, Dlg::kHallConfiguration), row.items);
    for (const axis::ComboItem& item : d.Control(Dlg::kHallConfiguration)->items)
      EXPECT_EQ(std::to_string(item.data), item.text);
    EXPECT_EQ(d.GetChildText(Dlg::kHallConfiguration), row.shown);
  }
  TestSetup t = MotorSetup();
  Dlg d(*t, nullptr);
  platform_.SelectCombo(Dlg::kHallConfiguration, 9).EndOk();  // the tenth item: "11"
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(t.Get("HALLCASE"), 11.0);
}

TEST_F(MotorSetupDialogTest, EncoderFilterListsTheFractionsOfTheMaximumBandwidth) {
  TestSetup t = MotorSetup();
  Dlg d(*t, nullptr);
  d.OnInitDialog();
  EXPECT_EQ(Items(d, Dlg::kFilterValue),
            (std::vector<std::string>{"1/3", "1/6", "1/12", "1/18", "1/24", "1/30", "1/36", "1/42",
                                      "1/48", "1/54", "1/60", "1/66", "1/72"}));
  const auto& items = d.Control(Dlg::kFilterValue)->items;
  for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].data, int64_t(i));
  EXPECT_EQ(d.GetChildText(Dlg::kFilterValue), "1/12") << "FilterEncValue 2";

  platform_.SelectCombo(Dlg::kFilterValue, 12).Check(Dlg::kFilterCheck, false).EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(t.Get("FilterEncValue"), 12.0);
  EXPECT_EQ(t.Get("isFilterEnc"), 0.0);
  EXPECT_FALSE(Enabled(d, Dlg::kFilterValue));
}

TEST_F(MotorSetupDialogTest, BrakeTextSaysWhichOutputLevelAppliesTheBrake) {
  using axis::OutputStage;
  const std::string npn = "Motor brake is applied when NPN (sink) output is connected to GND.";
  const std::string pnp = "Motor brake is applied when PNP (source) output is connected to +Vlog.";
  const struct {
    const char* name;
    OutputStage stage;
    bool inverted;
    double port;
    const std::string& text;
  } rows[] = {
      {"NPN output", OutputStage::kSink, false, 1, npn},
      {"PNP output", OutputStage::kSource, false, 1, pnp},
      {"NPN output, inverted", OutputStage::kSink, true, 1, pnp},
      {"PNP output, inverted", OutputStage::kSource, true, 1, npn},
      {"port truncated", OutputStage::kSource, false, 1.8, pnp},
      {"port not in the table", OutputStage::kSource, true, 5, npn},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = MotorSetup({.ports = {{0, 25}, {1, 26, row.stage, row.inverted}}});
    t.Set("MotorBrake_output", row.port);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(d.GetChildText(Dlg::kBrakeText), row.text);
  }
  // Choosing another output in the list changes the text at once.
  TestSetup t = MotorSetup({.ports = {{0, 25}, {1, 26, OutputStage::kSource}}});
  Dlg d(*t, nullptr);
  d.OnInitDialog();
  EXPECT_EQ(Items(d, Dlg::kBrakeOutput),
            (std::vector<std::string>{"Output 0 (pin 25)", "Output 1 (pin 26)"}));
  EXPECT_EQ(d.GetComboSelection(Dlg::kBrakeOutput), 0);
  EXPECT_EQ(d.GetChildText(Dlg::kBrakeText), npn);
  platform_.SelectCombo(Dlg::kBrakeOutput, 1).EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(t.Get("MotorBrake_output"), 1.0);
  EXPECT_EQ(d.GetChildText(Dlg::kBrakeText), pnp);
}

TEST_F(MotorSetupDialogTest, NegativeTransmissionShowsTheLimitSwitchAdvice) {
  const struct {
    const char* name;
    double motor, load;
    const char* option;  // "hasNegTransmission"
    bool shown;
  } rows[] = {
      {"positive", 0.001, 0.002, "0", false},
      {"negative load", 0.001, -0.002, "0", true},
      {"negative motor", -0.001, 0.002, "", true},
      {"both negative", -0.001, -0.002, "0", false},
      {"drive reverses by itself", 0.001, -0.002, "1", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = MotorSetup();
    t.Set("Motor_transmission", row.motor);
    t.Set("Load_transmission", row.load);
    if (*row.option != '\0') t.Option("hasNegTransmission", row.option);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(Shown(d, Dlg::kLimitSwitchWarning), row.shown);
    EXPECT_EQ(d.Control(Dlg::kLimitSwitchWarning)->image, "WARN_SWITCH_HW_LS");
  }
  // Typing a negative load travel shows the button; pressing it explains the rewiring.
  TestSetup t = MotorSetup();
  Dlg d(*t, nullptr);
  platform_.Type(Dlg::kLoadTransmission, "-2").Click(Dlg::kLimitSwitchWarning).EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_TRUE(Shown(d, Dlg::kLimitSwitchWarning));
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  const axis::MessageBoxRequest& box = platform_.MessageLog()[0].request;
  EXPECT_EQ(box.text,
            "When there is only a position sensor on the motor and the load moves in opposite "
            "direction (i.e. transmission is negative), the h/w limit switches connections need "
            "to be reversed. \n\nConnect positive limit switch sensor to drive's LSN input and "
            "negative limit switch sensor to drive's LSP input.");
  EXPECT_EQ(box.buttons, axis::MessageButtons::kOk);
}

TEST_F(MotorSetupDialogTest, AZeroTransmissionTermBecomesOneThousandth) {
  const struct {
    const char* name;
    int edit;
    const char* parameter;
    const char* typed;
  } rows[] = {{"load", Dlg::kLoadTransmission, "Load_transmission", "0"},
              {"motor", Dlg::kMotorTransmission, "Motor_transmission", "0"},
              {"negative zero", Dlg::kLoadTransmission, "Load_transmission", "-0"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<CMC_Setup> setup = Bundled("demo-linear.json");  // transmissions in mm
    Dlg d(*setup, nullptr);
    platform_.Type(row.edit, row.typed).EndOk();
    ASSERT_EQ(d.DoModal(), axis::kIdOk);
    EXPECT_EQ(d.GetChildText(row.edit), "0.001");
    EXPECT_DOUBLE_EQ(Get(*setup, row.parameter), 1e-6);  // 0.001 mm
    EXPECT_FALSE(Shown(d, Dlg::kLimitSwitchWarning));
  }
}

TEST_F(MotorSetupDialogTest, TransmissionTypeMovesTheLoadQuantitiesToTheirUnits) {
  std::unique_ptr<CMC_Setup> setup = Bundled("demo-linear.json");
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  EXPECT_EQ(d.GetChildText(Dlg::kLoadTransmissionUnit), "mm");
  platform_.Click(Dlg::kLinearToRotary).EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(Get(*setup, "TransmissionType"), 1.0);
  const struct {
    const char* name;
    const char* linear;
    const char* rotary;
  } rows[] = {{"Load_transmission", "mm", "rot"},
              {"TestSpeed", "m/s", "rpm"},
              {"TestPosition", "mm", "rot"},
              {"Motor_transmission", "mm", "mm"}};  // the motor stays linear
  for (const auto& row : rows) EXPECT_STREQ(setup->GetParameterUnit(row.name), row.rotary);
  // The unit list beside the load travel offers the rotary units now.
  EXPECT_EQ(d.GetChildText(Dlg::kLoadTransmissionUnit), "rot");
  const std::vector<std::string> units = Items(d, Dlg::kLoadTransmissionUnit);
  EXPECT_NE(std::find(units.begin(), units.end(), "deg"), units.end());
  EXPECT_EQ(std::find(units.begin(), units.end(), "mm"), units.end());

  platform_.Click(Dlg::kLinearToLinear).EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  for (const auto& row : rows) EXPECT_STREQ(setup->GetParameterUnit(row.name), row.linear);
  EXPECT_EQ(d.GetChildText(Dlg::kLoadTransmissionUnit), "mm");
}

TEST_F(MotorSetupDialogTest, OkKeepsSensorsAndCommutationConsistent) {
  const struct {
    const char* name;
    double temperature, over_temperature, halls, commutation, start;
    double over_temperature_after, commutation_after, start_after;
  } rows[] = {
      {"all present", 1, 1, 1, 0, 3, 1, 0, 3},
      {"no temperature sensor", 0, 1, 1, 1, 0, 0, 1, 0},
      {"no Halls: trapezoidal, PMSM start", 1, 1, 0, 0, 3, 1, 1, 0},
      {"no Halls: BLDC start", 1, 1, 0, 1, 1, 1, 1, 0},
      {"no Halls: motionless start stays", 1, 1, 0, 1, 2, 1, 1, 2},
      {"Halls truncated to 0", 1, 1, 0.6, 0.4, 3.2, 1, 1, 0},
      {"temperature flag not exactly 0", 0.5, 1, 1, 1, 0, 1, 1, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = MotorSetup({.halls = row.halls, .temperature = row.temperature});
    t.Set("isMotorOverTemp", row.over_temperature);
    t.Set("CommutationMethod", row.commutation);
    t.Set("StartMode", row.start);
    Dlg d(*t, nullptr);
    platform_.EndOk();
    ASSERT_EQ(d.DoModal(), axis::kIdOk);
    EXPECT_EQ(t.Get("isMotorOverTemp"), row.over_temperature_after);
    EXPECT_EQ(t.Get("CommutationMethod"), row.commutation_after);
    EXPECT_EQ(t.Get("StartMode"), row.start_after);
  }
}

TEST_F(MotorSetupDialogTest, UncheckingHallSensorsThenOkLeavesTrapezoidalAndHallStarts) {
  std::unique_ptr<CMC_Setup> setup = Bundled("demo-linear.json");
  Set(*setup, "CommutationMethod", 0);
  Set(*setup, "StartMode", 3);
  Dlg d(*setup, nullptr);
  platform_.Check(Dlg::kHallSensors, false).Click(axis::kIdOk);
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(Get(*setup, "CommutationMethod"), 1.0);
  EXPECT_EQ(Get(*setup, "StartMode"), 0.0);

  // Cancel writes none of it back, and the hidden second OK button acts as OK.
  std::unique_ptr<CMC_Setup> other = Bundled("demo-linear.json");
  Set(*other, "CommutationMethod", 0);
  Set(*other, "isHallsensors", 0);
  Dlg cancelled(*other, nullptr);
  platform_.Click(2);
  EXPECT_EQ(cancelled.DoModal(), axis::kIdCancel);
  EXPECT_EQ(Get(*other, "CommutationMethod"), 0.0);
  cancelled.OnCommand(Dlg::kAlsoOk);
  EXPECT_EQ(Get(*other, "CommutationMethod"), 1.0);
}

TEST_F(MotorSetupDialogTest, PicturesGuidelinesAndHelp) {
  TestSetup t = MotorSetup();
  Dlg d(*t, nullptr);
  platform_.Click(axis::kGuidelineNext).Click(axis::kHelpButton).EndCancel();
  d.DoModal();
  EXPECT_EQ(d.Control(axis::kIdOk)->image, "TO_DRIVESETUP");
  EXPECT_EQ(d.Control(Dlg::kPicture)->image, "3065");
  EXPECT_EQ(d.GetChildText(axis::kGuidelineText),
            "Step 2. Check the values for nominal and peak currents. Press the <<Test Phase "
            "Connections>> button to verify that your motor phases are well connected to the "
            "drive.");
  EXPECT_EQ(platform_.HelpLog(), (std::vector<int>{Dlg::kHelpContext}));
  EXPECT_EQ(Dlg::kHelpContext, 262407);

  Dlg last(*t, nullptr);
  for (int i = 0; i < 10; ++i) platform_.Click(axis::kGuidelineNext);  // the 9th click is refused
  platform_.EndCancel();
  last.DoModal();
  EXPECT_EQ(last.GuidelineIndex(), 8);
  EXPECT_EQ(last.GetChildText(axis::kGuidelineText),
            "Step 9. If you want to save your motor data, select the USER database, and then press "
            "the <<Save As>> button.");
}

TEST_F(MotorSetupDialogTest, AMotorFromTheDatabaseGoesThroughTheDialogsRules) {
  std::unique_ptr<CMC_Setup> setup = Bundled("demo-linear.json");
  Dlg d(*setup, nullptr);
  d.OnInitDialog();
  const std::vector<std::string> databases = Items(d, axis::MotorEditor::kDatabaseCombo);
  ASSERT_EQ(databases, (std::vector<std::string>{"Linear motors", "USER"}));
  const std::vector<std::string> motors = Items(d, axis::MotorEditor::kMotorCombo);
  const auto tubular =
      std::find(motors.begin(), motors.end(), "Tubular, 60 mm pitch, without Hall sensors");
  ASSERT_NE(tubular, motors.end());
  EXPECT_TRUE(Enabled(d, Dlg::kHallConfiguration));

  platform_.SelectCombo(axis::MotorEditor::kMotorCombo, int(tubular - motors.begin())).EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_TRUE(platform_.MessageLog().empty());
  EXPECT_EQ(Get(*setup, "PolePitch"), 0.06);
  EXPECT_EQ(setup->FindParameter("EncRes")->GetMaxInBaseUnit(), 0.06)
      << "the pole pitch bounds the resolution";
  EXPECT_EQ(Get(*setup, "EncRes"), 5e-6);
  EXPECT_EQ(d.GetChildText(Dlg::kEncoderResolution), "5") << "shown in um";
  EXPECT_EQ(Get(*setup, "isHallsensors"), 0.0);
  EXPECT_EQ(d.GetCheck(Dlg::kHallSensors), 0);
  EXPECT_FALSE(Enabled(d, Dlg::kHallConfiguration)) << "the Hall rule ran";
}

}  // namespace
