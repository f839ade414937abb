// The motor setup dialog: its rules, lists, brake text, transmission edits and OK.
#include "editor/motor_setup_dialog.h"

#include <algorithm>

#include "editor/editor_test_support.h"
#include "host/motor_editor.h"

namespace {

using namespace axis::testing;
using Dlg = CMotorSetupDialog;

class MotorSetupDialogTest : public EditorTest {};

// The controls the enabling rules act on, by the switch or part that rules them.
const std::vector<int> kMassRow = {1172, 1173, 3267}, kHallRow = {1182, 3268, 1188, 1190},
                       kSensorType = {1184, 1185, 1186}, kBrakeGroup = {3373, 3376},
                       kBrakeRows = {3377, 3381, 3383, 3385, 3386, 3384, 3387, 3388},
                       kFilterRow = {3360, 3271, 3272}, kFilterValue = {3359}, kReverse = {3358};
// The phase, resistance and encoder tests are always offered; the Hall tests go with the Hall row.
const std::vector<int> kTestButtons = {1175, 1177, 1187, 1189};

// What the optional parts of a small setup hold.
struct Parts {
  double mass_unknown = 0, halls = 1, temperature = 1, brake = 1, filter = 1;
  bool has_filter = true, has_reverse = true, has_brake = true;
  std::vector<axis::IoPort> ports = {{0, 25}, {1, 26}};
};

TestSetup MotorSetup(const Parts& p = {}) {
  TestSetup t;
  // clang-format off
  t.Physical({{"In", 3, "A"}, {"ImaxM", 9, "A"}, {"PolePitch", 0.03, "m"}, {"Kf", 30, "N/A"},
              {"R", 2.5, "Ohm"}, {"L", 0.003, "H"}, {"M", 1.2, "kg"},
              {"isMotorMassUnknown", p.mass_unknown}, {"MotorPhaseConnectionType", 0},
              {"EncRes", 1e-6, "m"}, {"HALLCASE", 5}, {"isHallsensors", p.halls},
              {"isMotorTemperatureSensor", p.temperature}, {"Motor_TempSensor_Type", 0},
              {"TransmissionType", 0}, {"Motor_transmission", 0.001, "m"},
              {"Load_transmission", 0.001, "m"}, {"isMotorOverTemp", 1}, {"CommutationMethod", 1},
              {"StartMode", 0}});
  if (p.has_filter) t.Physical({{"isFilterEnc", p.filter}, {"FilterEncValue", 2}});
  if (p.has_reverse) t.Physical({{"ReverseCounting", 0}});
  if (p.has_brake) {
    t.Physical({{"isMotorBrake", p.brake}, {"MotorBrake_output", 0},
                {"MotorBrake_releasetime", 0.05, "s"}, {"MotorBrake_applytime", 0.1, "s"}});
    t.Registers({{"BRAKECFG", 6401}});
  }
  // clang-format on
  t->SetIoPorts(p.ports);
  return t;
}

TEST_F(MotorSetupDialogTest, GuidelinesMotorDatabasesAndOptionalBindings) {
  TestSetup t = MotorSetup();
  Dlg d(*t, nullptr);
  d.OnInitDialog();
  ASSERT_TRUE(d.UserClick(axis::kGuidelineNext));
  EXPECT_EQ(d.GetChildText(axis::kGuidelineText).rfind("Step 2. Check the values for nominal", 0),
            0u);
  // The host's motor editor is set up: a motor can come from a database.
  EXPECT_EQ(Items(d, axis::MotorEditor::kDatabaseCombo),
            (std::vector<std::string>{"Linear motors", "USER"}));
  // Optional controls are bound only with their parameters, and nothing is reported without them.
  const std::vector<int> optional = {3359, 3360, 3358, 3376, 3377, 3385, 3387};
  for (int id : optional) EXPECT_NE(d.Control(id)->parameter, "") << id;
  ReportedErrors errors;
  TestSetup bare = MotorSetup({.has_filter = false, .has_reverse = false, .has_brake = false});
  Dlg b(*bare, nullptr);
  EXPECT_EQ(errors.list, std::vector<std::string>{});
  for (int id : optional) EXPECT_EQ(b.Control(id)->parameter, "") << id;
}

TEST_F(MotorSetupDialogTest, ControlsAreEnabledAfterWhatTheMotorHas) {
  const std::vector<std::vector<int>> ruled = {kMassRow,   kHallRow,   kSensorType,  kBrakeGroup,
                                               kBrakeRows, kFilterRow, kFilterValue, kReverse};
  // Of the ruled controls, those disabled; every other one is enabled.
  // clang-format off
  struct Row { const char* name; Parts parts; std::vector<std::vector<int>> disabled; };
  const Row rows[] = {
      {"everything present and on", {}, {}},
      {"mass unknown", {.mass_unknown = 1}, {kMassRow}},
      {"no Hall sensors", {.halls = 0}, {kHallRow}},
      {"no temperature sensor", {.temperature = 0}, {kSensorType}},
      {"brake off", {.brake = 0}, {kBrakeRows}},
      {"filter off", {.filter = 0}, {kFilterValue}},
      {"no filter on this drive", {.has_filter = false}, {kFilterRow, kFilterValue}},
      {"no reverse counting", {.has_reverse = false}, {kReverse}},
      {"no brake registers", {.has_brake = false}, {kBrakeGroup, kBrakeRows}},
      // The brake rows need an output to drive the brake, even with the brake switched on.
      {"no brake outputs", {.ports = {}}, {kBrakeGroup, kBrakeRows}},
      {"switches truncated", {.mass_unknown = 0.5, .halls = 1.7, .temperature = 1.2}, {}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = MotorSetup(row.parts);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    for (const std::vector<int>& ids : ruled)
      ExpectEnabled(d, ids,
                    std::find(row.disabled.begin(), row.disabled.end(), ids) == row.disabled.end());
    ExpectShown(d, kTestButtons, true);
    ExpectEnabled(d, kTestButtons, true);
  }
  // Each of the user's checks switches its own row at once.
  TestSetup t = MotorSetup();
  Dlg d(*t, nullptr);
  d.OnInitDialog();
  for (const auto& [check, ids] : {std::pair{Dlg::kMassUnknown, kMassRow},
                                   {Dlg::kHallSensors, kHallRow},
                                   {Dlg::kTemperatureSensor, kSensorType},
                                   {Dlg::kBrakeCheck, kBrakeRows},
                                   {Dlg::kFilterCheck, kFilterValue}}) {
    ASSERT_TRUE(d.UserClick(check));
    ExpectEnabled(d, ids, false);
  }
  ExpectEnabled(d, kTestButtons, true);
}

TEST_F(MotorSetupDialogTest, TheListsOfHallConfigurationsAndFilters) {
  const std::vector<std::string> all = {"2", "3", "4",  "5",  "6",  "7",
                                        "8", "9", "10", "11", "12", "13"};
  // The range of "HALLCASE", its value; the items and the item shown.
  // clang-format off
  const struct { double min, max, value; std::vector<std::string> items; std::string shown; }
  rows[] = {
      {0, 20, 5, all, "5"},  // 2 to 13 only
      {3.7, 6.9, 4, {"3", "4", "5", "6"}, "4"},  // fractional bounds truncated
      {-1e300, 1e300, 13, all, "13"},
      {14, 20, 14, {}, ""},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.min << " to " << row.max);
    TestSetup t = MotorSetup();
    CMC_Parameter* hall_case = t->FindParameter("HALLCASE");
    hall_case->SetMinInBaseUnit(row.min);
    hall_case->SetMaxInBaseUnit(row.max);
    hall_case->SetValueInBaseUnit(row.value);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(Items(d, Dlg::kHallConfiguration), row.items);
    EXPECT_EQ(d.GetChildText(Dlg::kHallConfiguration), row.shown);
  }
  // The encoder input filter offers fractions of the maximum bandwidth.
  TestSetup t = MotorSetup();
  Dlg d(*t, nullptr);
  d.OnInitDialog();
  EXPECT_EQ(Items(d, Dlg::kFilterValue),
            (std::vector<std::string>{"1/3", "1/6", "1/12", "1/18", "1/24", "1/30", "1/36", "1/42",
                                      "1/48", "1/54", "1/60", "1/66", "1/72"}));
  EXPECT_EQ(d.GetChildText(Dlg::kFilterValue), "1/12") << "FilterEncValue 2";
  platform_.SelectCombo(Dlg::kHallConfiguration, 9).SelectCombo(Dlg::kFilterValue, 12).EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(t.Get("HALLCASE"), 11.0);  // the tenth item
  EXPECT_EQ(t.Get("FilterEncValue"), 12.0);
}

TEST_F(MotorSetupDialogTest, BrakeTextSaysWhichOutputLevelAppliesTheBrake) {
  using axis::OutputStage;
  const std::string npn = "Motor brake is applied when NPN (sink) output is connected to GND.";
  const std::string pnp = "Motor brake is applied when PNP (source) output is connected to +Vlog.";
  // clang-format off
  const struct { const char* name; OutputStage stage; bool inverted; double port;
                 const std::string& text; } rows[] = {
      {"NPN output", OutputStage::kSink, false, 1, npn},
      {"PNP output", OutputStage::kSource, false, 1, pnp},
      {"NPN output, inverted", OutputStage::kSink, true, 1, pnp},
      {"PNP output, inverted", OutputStage::kSource, true, 1, npn},
      {"port truncated", OutputStage::kSource, false, 1.8, pnp},
      {"port not in the table", OutputStage::kSource, true, 5, npn},
  };
  // clang-format on
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
  platform_.SelectCombo(Dlg::kBrakeOutput, 1).EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(t.Get("MotorBrake_output"), 1.0);
  EXPECT_EQ(d.GetChildText(Dlg::kBrakeText), pnp);
}

TEST_F(MotorSetupDialogTest, NegativeTransmissionShowsTheLimitSwitchAdvice) {
  // The motor and load travel, "hasNegTransmission" ("": absent), the advice button shown.
  // clang-format off
  const struct { double motor, load; const char* option; bool shown; } rows[] = {
      {0.001, 0.002, "0", false}, {0.001, -0.002, "0", true}, {-0.001, 0.002, "", true},
      {-0.001, -0.002, "0", false}, {0.001, -0.002, "1", false},  // the drive reverses by itself
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.motor << " / " << row.load << ", " << row.option);
    TestSetup t = MotorSetup();
    t.Set("Motor_transmission", row.motor);
    t.Set("Load_transmission", row.load);
    if (*row.option != '\0') t.Option("hasNegTransmission", row.option);
    Dlg d(*t, nullptr);
    d.OnInitDialog();
    EXPECT_EQ(Shown(d, Dlg::kLimitSwitchWarning), row.shown);
  }
}

// The transmission terms as the user edits them, on the demo setup (travel in mm).
TEST_F(MotorSetupDialogTest, TransmissionEdits) {
  std::unique_ptr<CMC_Setup> setup = Bundled();
  Dlg d(*setup, nullptr);
  // A zero term would make the ratio meaningless: it becomes 1 mm, whatever the unit shown.
  ASSERT_EQ(setup->ChangeParameterUnit("Motor_transmission", "m"), 1);
  platform_.Type(Dlg::kLoadTransmission, "0").Type(Dlg::kMotorTransmission, "-0").EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  for (const auto& [edit, name, shown] :
       {std::tuple{Dlg::kLoadTransmission, "Load_transmission", "1"},
        std::tuple{Dlg::kMotorTransmission, "Motor_transmission", "0.001"}}) {
    EXPECT_EQ(d.GetChildText(edit), shown) << name;
    EXPECT_DOUBLE_EQ(Get(*setup, name), 1e-3) << name;
  }
  ASSERT_EQ(setup->ChangeParameterUnit("Motor_transmission", "mm"), 1);
  EXPECT_FALSE(Shown(d, Dlg::kLimitSwitchWarning));
  // A negative load travel shows the advice button; pressing it explains the rewiring.
  platform_.Type(Dlg::kLoadTransmission, "-2").Click(Dlg::kLimitSwitchWarning).EndOk();
  ASSERT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(d.Control(Dlg::kLimitSwitchWarning)->image, "WARN_SWITCH_HW_LS");
  EXPECT_EQ(Messages(platform_),
            std::vector<std::string>{
                "When there is only a position sensor on the motor and the load moves in opposite "
                "direction (i.e. transmission is negative), the h/w limit switches connections "
                "need to be reversed. \n\nConnect positive limit switch sensor to drive's LSN "
                "input and negative limit switch sensor to drive's LSP input."});
  // The load kind moves every load quantity to its linear or rotary unit; the motor stays linear.
  const char* const names[] = {"Load_transmission", "TestSpeed", "TestPosition",
                               "Motor_transmission"};
  for (const auto& [click, units] :
       {std::pair<int, std::vector<std::string>>{Dlg::kLinearToRotary, {"rot", "rpm", "rot", "mm"}},
        {Dlg::kLinearToLinear, {"mm", "m/s", "mm", "mm"}}}) {
    SCOPED_TRACE(click);
    platform_.Click(click).EndOk();
    ASSERT_EQ(d.DoModal(), axis::kIdOk);
    for (size_t i = 0; i < units.size(); ++i)
      EXPECT_EQ(setup->GetParameterUnit(names[i]), units[i]) << names[i];
    // The unit list beside the load travel offers the units of the new kind.
    EXPECT_EQ(d.GetChildText(Dlg::kLoadTransmissionUnit), units[0]);
    EXPECT_EQ(ItemIndex(d, Dlg::kLoadTransmissionUnit, "deg") >= 0, click == Dlg::kLinearToRotary);
  }
}

TEST_F(MotorSetupDialogTest, OkKeepsSensorsAndCommutationConsistent) {
  // clang-format off
  const struct { const char* name; double temperature, halls, commutation, start;
                 double over_temperature_after, commutation_after, start_after; } rows[] = {
      {"all present", 1, 1, 0, 3, 1, 0, 3},
      {"no temperature sensor", 0, 1, 1, 0, 0, 1, 0},
      {"no Halls: trapezoidal, PMSM start", 1, 0, 0, 3, 1, 1, 0},
      {"no Halls: BLDC start", 1, 0, 1, 1, 1, 1, 0},
      {"no Halls: motionless start stays", 1, 0, 1, 2, 1, 1, 2},
      {"Halls truncated to 0", 1, 0.6, 0.4, 3.2, 1, 1, 0},
      {"temperature flag not exactly 0", 0.5, 1, 1, 0, 1, 1, 0},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t = MotorSetup({.halls = row.halls, .temperature = row.temperature});
    t.Set("CommutationMethod", row.commutation);
    t.Set("StartMode", row.start);
    Dlg d(*t, nullptr);
    platform_.EndOk();
    ASSERT_EQ(d.DoModal(), axis::kIdOk);
    EXPECT_EQ(t.Get("isMotorOverTemp"), row.over_temperature_after);
    EXPECT_EQ(t.Get("CommutationMethod"), row.commutation_after);
    EXPECT_EQ(t.Get("StartMode"), row.start_after);
  }
  // Cancel writes none of it back, and the hidden second OK button acts as OK.
  TestSetup t = MotorSetup({.halls = 0});
  t.Set("CommutationMethod", 0);
  Dlg cancelled(*t, nullptr);
  platform_.Click(axis::kIdCancel);
  EXPECT_EQ(cancelled.DoModal(), axis::kIdCancel);
  EXPECT_EQ(t.Get("CommutationMethod"), 0.0);
  cancelled.OnCommand(Dlg::kAlsoOk);
  EXPECT_EQ(t.Get("CommutationMethod"), 1.0);
}

}  // namespace
