// The drive setup dialog: its rules, what the user's choices and edits do, the secondary dialogs.
#include "editor/drive_setup_dlg.h"

#include <fstream>
#include <functional>
#include <iterator>

#include "editor/editor_test_support.h"

namespace {

using namespace axis::testing;
using Dlg = CDriveSetupDlg;

constexpr const char* kDemo = "demo-linear.json";
constexpr const char* kMinimal = "minimal-linear.json";  // no "SpeedForward", no angle controller

// A headless platform that lets a test look at (and change) the setup while a secondary dialog
// runs, as a user would.
class ObservingPlatform : public axis::HeadlessPlatform {
 public:
  std::function<void(axis::DialogModel&)> on_secondary;
  int RunModal(axis::DialogModel& dialog) override {
    if (depth_++ > 0 && on_secondary) on_secondary(dialog);
    const int result = HeadlessPlatform::RunModal(dialog);
    --depth_;
    return result;
  }

 private:
  int depth_ = 0;
};

class DriveSetupDlgTest : public EditorTest {
 protected:
  void SetUp() override { axis::SetPlatform(&platform_); }
  ObservingPlatform platform_;  // in place of the fixture's
};

std::vector<int> Range(int first, int last) {
  std::vector<int> ids;
  for (int id = first; id <= last; ++id) ids.push_back(id);
  return ids;
}

// A change of the setup: parameters set, options given their texts.
using Change = std::function<void(CMC_Setup&)>;
Change Values(std::vector<std::pair<const char*, double>> values,
              std::vector<std::pair<const char*, const char*>> options = {}) {
  return [=](CMC_Setup& s) {
    for (const auto& [name, value] : values) Set(s, name, value);
    for (const auto& [name, text] : options) s.SetOption(name, text);
  };
}

std::vector<int> Join(std::initializer_list<std::vector<int>> groups) {
  std::vector<int> all;
  for (const std::vector<int>& g : groups) all.insert(all.end(), g.begin(), g.end());
  return all;
}

TEST_F(DriveSetupDlgTest, EnablingAndShowRules) {
  // The controllers with their error protections (S speed, P position, E the speed error rows),
  // the load speed limit L, the speed group feed-forwards A and the position group ones B.
  const std::vector<int> S = {5600, 5601, 3179, 5602, 3180, 5603, 3181, 3182},
                         E = Range(5821, 5827);
  const std::vector<int> P =
      Join({{5700, 5701, 3190, 5702, 3191, 5703, 3192, 5704, 3193, 5705, 3194, 3195},
            Range(5811, 5817)});
  const std::vector<int> L = {5709, 1043, 1044}, A = {5604, 5605, 3183, 5606, 3389},
                         B = {5706, 5707, 3196, 5708, 3197};
  // The control structure; f ("PosSpd_in_FastLoop") is added to the minimal setup when given.
  const auto structure = [](double cm, double pct, std::optional<double> f = {}) -> Change {
    return [=](CMC_Setup& s) {
      if (f && s.FindParameterNoError("PosSpd_in_FastLoop") == nullptr)
        s.AddParameter({.name = "PosSpd_in_FastLoop", .value = 0, .min = 0, .max = 1});
      Set(s, {{"ControlMode", cm},
              {"PositionControlType", pct},
              {"isPositionControlError", 1},
              {"isSpeedControlError", 1}});
      if (f) Set(s, "PosSpd_in_FastLoop", *f);
    };
  };
  const Change none = [](CMC_Setup&) {};
  const auto start = [](double sin, double halls, double mode, const char* pmsm = "1") {
    return Values({{"CommutationMethod", sin}, {"isHallsensors", halls}, {"StartMode", mode}},
                  {{"PMSMStartwithHalls", pmsm}});
  };
  // clang-format off
  struct Row { const char *name, *file; Change change; std::vector<int> on, off, shown, hidden; };
  const Row rows[] = {
      // The minimal setup has no "SpeedForward": no choice of where the feed-forward goes.
      {"cascade, slow loops", kDemo, structure(0, 1, 0), Join({S, P, B}), E, Join({B, L}), A},
      {"position only, slow loops", kDemo, structure(0, 0, 0), Join({P, B}), Join({S, E}), B,
       Join({A, L})},
      {"position only, fast loops", kDemo, structure(0, 0, 1), P, Join({S, E}), {},
       Join({A, B, L})},
      {"cascade, fast loops", kDemo, structure(0, 1, 1), Join({S, P}), E, L, Join({A, B})},
      {"speed, slow loops", kDemo, structure(1, 1, 0), Join({S, E}), P, A, Join({B, L})},
      {"speed, fast loops", kDemo, structure(1, 1, 1), Join({S, E}), P, {}, Join({A, B, L})},
      {"torque", kDemo, structure(2, 1, 0), {}, Join({S, P, E}), {}, Join({A, B, L})},
      {"old cascade", kMinimal, structure(0, 1), Join({S, P, B}), E, Join({B, L}), A},
      {"old position only", kMinimal, structure(0, 0), Join({P, {5706, 5708, 3197}}),
       Join({S, E, {5707, 3196}}), B, Join({A, L})},
      {"old position only, fast loops", kMinimal, structure(0, 0, 1), P, Join({S, E, B}), B,
       Join({A, L})},
      {"old speed", kMinimal, structure(1, 0), Join({S, E}), P, {5604, 5605, 3183},
       Join({{5606, 3389}, B, L})},
      {"over current off", kDemo, Values({{"isOverCurrent", 0}}), {}, Range(5802, 5807)},
      {"over current on", kDemo, Values({{"isOverCurrent", 1}}), Range(5802, 5807)},
      {"I2t off", kDemo, Values({{"isMotori2t", 0}}), {}, Range(5842, 5847)},
      {"brake resistor off", kDemo, Values({{"isBrakeResistor", 0}}), {5901}, {5902, 5903, 5904}},
      {"brake resistor on", kDemo, Values({{"isBrakeResistor", 1}}), {5902, 5903, 5904}},
      {"external reference", kDemo, Values({{"ExternalReference", 1}}), {3208, 5303}},
      {"no external reference", kDemo, Values({{"ExternalReference", 0}}), {}, {3208, 5303}},
      {"motor temperature sensor", kDemo, Values({{"isMotorTemperatureSensor", 1}}), {5831}},
      {"no motor temperature sensor", kDemo, Values({{"isMotorTemperatureSensor", 0}}), {}, {5831}},
      {"temperature disabled by the host", kDemo, Values({}, {{"DisableMotorTemperature", "1"}}),
       {}, {5831}},
      {"enable polarity hidden", kDemo, Values({}, {{"hideEnablePolarity", "1"}}), {}, {},
       {6020, 6021}, {6010, 6011, 6012}},
      {"software limits off", kDemo, Values({{"isSWLS", 0}}), {6100, 6101}, Range(6102, 6107)},
      {"software limits on", kDemo, Values({{"isSWLS", 1}}), Range(6100, 6107)},
      {"no software limits", kMinimal, none, {}, {6100, 6101, 6102, 6103}},
      {"axis ID not stored", kDemo, Values({{"save_axis_id", 0}}), {6301, 6305}, {6306, 3136},
       {6301, 6305}},
      {"axis ID stored", kDemo, Values({{"save_axis_id", 1}}), {6306, 3136}},
      {"bit rate not stored", kDemo, Values({{"save_CAN_baudrate", 0}}), {6304}, {6302, 6303}},
      {"bit rate stored", kDemo, Values({{"save_CAN_baudrate", 1}}), {6302, 6303}},
      {"no CAN switches", kMinimal, none, {3136}, {}, {6303, 6304}, {6301, 6305}},
      // Commutation and start mode: 5201 trapezoidal, 6200 the group, 6201 move till aligned,
      // 6202 BLDC with Halls, 6203 motionless, 6204 PMSM with Halls, 6205-6210 start values.
      {"sinusoidal, Halls, aligned", kDemo, start(1, 1, 0), Range(6200, 6210), {3370}},
      {"without the PMSM option", kDemo, start(1, 1, 0, "0"), {6202, 6203}, {6204}},
      {"motionless start", kDemo, start(1, 1, 2), {6203, 6204, 3370}, Range(6205, 6210)},
      {"no Hall sensors", kDemo, start(1, 0, 0), {6200, 6201, 6203, 6205}, {5201, 6202, 6204}},
      {"trapezoidal", kDemo, start(0, 1, 0), {5201}, Range(6200, 6210)},
      {"no angle controller", kMinimal, start(1, 1, 0), {5201, 6202, 6204, 6210}, {6203}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Bundled(row.file);
    Dlg d(*setup);
    d.OnInitDialog();
    row.change(*setup);
    d.DoDataExchange();
    ExpectEnabled(d, row.on, true);
    ExpectEnabled(d, row.off, false);
    ExpectShown(d, row.shown, true);
    ExpectShown(d, row.hidden, false);
    // The DC voltage detection and the current tuning tests are always offered; the speed and
    // position tuning tests with their controllers.
    ExpectShown(d, {3171, 3137, 3178, 3198, 3370}, true);
    ExpectEnabled(d, {3171, 3137}, true);
    EXPECT_EQ(Enabled(d, 3178), Enabled(d, Dlg::kSpeedGroup));
    EXPECT_EQ(Enabled(d, 3198), Enabled(d, Dlg::kPositionGroup));
  }
}

// A drive whose setup lacks "CAN_baudrate" has no bit rate to store: the combo stays disabled
// and empty even while the bit rate is to be stored.
TEST_F(DriveSetupDlgTest, BitRateIsOfferedOnlyWithABitRateToStore) {
  std::ifstream in(std::string(AXIS_SETUPS_DIR) + "/" + kDemo, std::ios::binary);
  std::string without_bit_rate{std::istreambuf_iterator<char>(in), {}};
  const size_t line = without_bit_rate.find("    {\"name\": \"CAN_baudrate\"");
  ASSERT_NE(line, std::string::npos);
  without_bit_rate.erase(line, without_bit_rate.find('\n', line) + 1 - line);
  for (const bool has_bit_rate : {true, false}) {
    SCOPED_TRACE(has_bit_rate);
    auto setup = has_bit_rate ? Bundled(kDemo) : axis::LoadSetupText(without_bit_rate, "").setup;
    Dlg d(*setup);
    Set(*setup, "save_CAN_baudrate", 1);
    d.OnInitDialog();
    EXPECT_EQ(Enabled(d, Dlg::kBitRate), has_bit_rate);
    EXPECT_EQ(d.GetChildText(Dlg::kBitRate), has_bit_rate ? "500 kbit/s" : "");
  }
}

TEST_F(DriveSetupDlgTest, AxisIdsAboveTheCanOpenRangeWarnAndOkStoresTheChoice) {
  auto setup = Bundled();
  Dlg d(*setup);
  d.OnInitDialog();
  // The ten guideline steps are the dialog's.
  ASSERT_TRUE(d.UserClick(axis::kGuidelineNext));
  EXPECT_EQ(d.GetChildText(axis::kGuidelineText), Dlg::kGuidelines[1]);
  int steps = 0;
  while (Dlg::kGuidelines[steps] != nullptr) ++steps;
  EXPECT_EQ(steps, 10);
  EXPECT_EQ(d.GetChildText(Dlg::kAxisId), "1");  // the demo's Axis_ID_list
  for (const std::string text : {"128", "127", "H/W", "255", "1"}) {
    SCOPED_TRACE(text);
    const size_t before = platform_.MessageLog().size();
    ASSERT_TRUE(d.UserSelectCombo(Dlg::kAxisId, ItemIndex(d, Dlg::kAxisId, text)));
    EXPECT_EQ(Messages(platform_, before), text == "128" || text == "255"
                                               ? std::vector<std::string>{Dlg::kAxisIdWarning}
                                               : std::vector<std::string>{});
    EXPECT_EQ(d.GetChildText(Dlg::kAxisId), text);  // the selection stays
  }
  // OK stores the choice, encodes and writes the capability options.
  // The ID present, the item chosen (-1: the combo left as it opened), the ID and AAR after.
  // clang-format off
  const struct { const char* name; double present; int pick; double id, aar_table; } rows[] = {
      {"a new ID", 1, 4, 5, 261},
      {"hardware ID", 7, 255, 0, 0},
      {"unlisted ID kept", 300, -1, 300, 556},  // not replaced by an empty choice
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto ok_setup = Bundled();
    ok_setup->ClearOption("IsClosedSpeed");
    Dlg ok(*ok_setup);
    Set(*ok_setup, "Axis_ID_list", row.present);
    if (row.pick >= 0) platform_.SelectCombo(Dlg::kAxisId, row.pick);
    platform_.EndOk();
    EXPECT_EQ(ok.DoModal(), axis::kIdOk);
    EXPECT_EQ(Get(*ok_setup, "Axis_ID_list"), row.id);
    EXPECT_EQ(Get(*ok_setup, "AAR_table"), row.aar_table);
    EXPECT_EQ(ok_setup->GetOptionNoError("IsClosedSpeed"), "1");
  }
}

TEST_F(DriveSetupDlgTest, InputTypeIsDecidedFromTheSetupAndSwitchingItKeepsEachInputsLevel) {
  // The host option (null: absent), "InputsPolarityType" present and its value, ASR, the name.
  // clang-format off
  struct Row { const char *name, *option; bool has_type; double type, asr;
               const char* description; bool sink, buttons_enabled; };
  const Row rows[] = {
      {"programmable, source", "1", true, 0, 0, "", false, true},
      {"fixed by the host", "0", true, 1, 0, "", true, false},
      {"no type, ASR bit 2 set", "1", false, 0, 4, "", false, false},
      {"no type, ASR bit 2 clear", "0", false, 0, 0, "", true, false},
      {"old host, QZ drive", nullptr, false, 0, 4, "KD-QZ drive", true, false},
      {"old host, other drive", nullptr, false, 0, 0, "KD drive", false, false},
  };
  // clang-format on
  const auto expect_lines = [](const Dlg& d, bool sink) {
    const char* const* lines = sink ? Dlg::kSinkLines : Dlg::kSourceLines;
    EXPECT_EQ(d.GetChildText(Dlg::kUpperPolarityLine), lines[0]);
    EXPECT_EQ(d.GetChildText(Dlg::kLowerPolarityLine), lines[1]);
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Bundled(row.has_type ? kDemo : kMinimal);
    row.option ? setup->SetOption("IsInputsTypeProgrammable", row.option)
               : setup->ClearOption("IsInputsTypeProgrammable");
    setup->SetDescription(row.description);
    Dlg d(*setup);
    if (row.has_type) Set(*setup, "InputsPolarityType", row.type);
    Set(*setup, "ASR", row.asr);
    d.OnInitDialog();
    EXPECT_EQ(d.GetCheck(Dlg::kSinkInputs), row.sink ? 1 : 0);
    EXPECT_EQ(d.GetCheck(Dlg::kSourceInputs), row.sink ? 0 : 1);
    EXPECT_EQ(Enabled(d, Dlg::kSinkInputs), row.buttons_enabled);
    expect_lines(d, row.sink);
  }
  // Switching the type inverts the three polarities; the type already shown changes nothing.
  auto setup = Bundled();
  Dlg d(*setup);
  Set(*setup,
      {{"InputsPolarityType", 0}, {"EnablePolarity", 1}, {"LSPPolarity", 0}, {"LSNPolarity", 1}});
  d.OnInitDialog();
  // clang-format off
  const struct { int click; double enable, lsp, lsn; bool sink; } steps[] = {
      {Dlg::kSinkInputs, 0, 1, 0, true}, {Dlg::kSinkInputs, 0, 1, 0, true},
      {Dlg::kSourceInputs, 1, 0, 1, false}};
  // clang-format on
  for (const auto& step : steps) {
    SCOPED_TRACE(step.click);
    ASSERT_TRUE(d.UserClick(step.click));
    EXPECT_EQ(Get(*setup, "EnablePolarity"), step.enable);
    EXPECT_EQ(Get(*setup, "LSPPolarity"), step.lsp);
    EXPECT_EQ(Get(*setup, "LSNPolarity"), step.lsn);
    EXPECT_EQ(d.GetCheck(Dlg::kEnableLow), step.enable == 0 ? 1 : 0);
    expect_lines(d, step.sink);
  }
}

// The software limits never cross (the edited one gives way), a start current above the nominal
// one warns with the whole alignment time, the load speed limit bounds the test speed, and no
// external reference switches the activation after power-on off.
TEST_F(DriveSetupDlgTest, EditsActAtOnce) {
  auto setup = Bundled({{"isSWLS", 1}});
  Dlg d(*setup);
  Set(*setup, "StartMode", 0);
  d.OnInitDialog();
  // The limits, in mm, from -200 and 200.
  // clang-format off
  const struct { int edit; const char* typed; double negative, positive; } limits[] = {
      {Dlg::kNegativeLimit, "-100", -100, 200}, {Dlg::kNegativeLimit, "300", 200, 200},
      {Dlg::kNegativeLimit, "-200", -200, 200}, {Dlg::kPositiveLimit, "150", -200, 150},
      {Dlg::kPositiveLimit, "-250", -200, -200}};
  // clang-format on
  for (const auto& step : limits) {
    SCOPED_TRACE(step.typed);
    ASSERT_TRUE(d.UserType(step.edit, step.typed));
    EXPECT_NEAR(Get(*setup, "Negative_SWLS"), step.negative / 1000, 1e-9);
    EXPECT_NEAR(Get(*setup, "Positive_SWLS"), step.positive / 1000, 1e-9);
    EXPECT_NEAR(std::stod(d.GetChildText(step.edit)),
                step.edit == Dlg::kNegativeLimit ? step.negative : step.positive, 1e-6);
  }
  // The time shown in the start current warning (null: no warning).
  const std::string warning =
      "You have set a start current bigger than the nominal current! The start current will be "
      "applied for ";
  // clang-format off
  const struct { double time_ab; const char *typed, *shown_time; } starts[] = {
      {0.5, "150", "1.00"}, {0.5, "80", nullptr}, {0.125, "120", "0.25"}};
  // clang-format on
  for (const auto& step : starts) {
    SCOPED_TRACE(step.typed);
    Set(*setup, "time_AB", step.time_ab);
    const double reftst = Get(*setup, "REFTST");
    const size_t before = platform_.MessageLog().size();
    ASSERT_TRUE(d.UserType(Dlg::kStartCurrent, step.typed));
    // Encoded into the start-up references and derived back from them.
    EXPECT_NE(Get(*setup, "REFTST"), reftst);
    EXPECT_EQ(Get(*setup, "RINCTST"), Get(*setup, "REFTST"));
    EXPECT_NEAR(Get(*setup, "StartCurrent"), std::stod(step.typed), 1.0);
    std::vector<std::string> expected;
    if (step.shown_time != nullptr)
      expected.push_back(warning + step.shown_time +
                         " s.\n\nThe motor must withstand this over current condition or it may "
                         "be damaged.");
    EXPECT_EQ(Messages(platform_, before), expected);
  }
  ASSERT_TRUE(d.UserType(Dlg::kLoadSpeedLimit, "1.5"));
  EXPECT_EQ(setup->FindParameter("TestSpeed")->GetMaxInBaseUnit(), 1.5);
  EXPECT_EQ(setup->FindParameter("TestSpeed")->GetMinInBaseUnit(), -1.5);
  ASSERT_TRUE(d.UserClick(Dlg::kReferenceYes));
  ASSERT_TRUE(d.UserClick(Dlg::kAutoActivated));
  EXPECT_EQ(Get(*setup, "isAutoActivatedAfterPowerOn"), 1);
  ASSERT_TRUE(d.UserClick(Dlg::kReferenceNo));
  EXPECT_EQ(Get(*setup, "isAutoActivatedAfterPowerOn"), 0);
  EXPECT_EQ(d.GetCheck(Dlg::kAutoActivated), 0);
  ExpectEnabled(d, {Dlg::kAutoActivated, Dlg::kReferenceSetup}, false);
}

TEST_F(DriveSetupDlgTest, ChoosingTheControlMode) {
  // Speed and torque take the analogue input with a 1:1 gear; cascade keeps the feed-forward.
  // clang-format off
  const struct { int click; double mode, gear, analogue, speed_forward; } rows[] = {
      {Dlg::kSpeed, 1, 1, 1, 1}, {Dlg::kTorque, 2, 1, 1, 1}, {Dlg::kPosition, 0, 3, 0, 0}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode);
    auto setup = Bundled();
    Dlg d(*setup);
    d.OnInitDialog();
    if (row.mode == 0) d.UserClick(Dlg::kSpeed);  // away from position control first
    Set(*setup, {{"GEARMASTER", 3},
                 {"GEARSLAVE", 3},
                 {"isAnalogueReference", 0},
                 {"SpeedForward", 0},
                 {"PositionControlType", 1}});
    ASSERT_TRUE(d.UserClick(row.click));
    EXPECT_EQ(Get(*setup, "ControlMode"), row.mode);
    EXPECT_EQ(Get(*setup, "GEARMASTER"), row.gear);
    EXPECT_EQ(Get(*setup, "GEARSLAVE"), row.gear);
    EXPECT_EQ(Get(*setup, "isAnalogueReference"), row.analogue);
    EXPECT_EQ(d.GetCheck(Dlg::kAnalogueReference), row.analogue == 1 ? 1 : 0);
    EXPECT_EQ(Get(*setup, "SpeedForward"), row.speed_forward);
    // The enabling follows at once.
    EXPECT_EQ(Enabled(d, 5700), row.mode == 0);
    EXPECT_EQ(Enabled(d, 5600), row.mode != 2);
  }
}

// Every secondary dialog: both passes before it is built (and the parameter limits for the
// external reference), and after OK both passes, the refresh and (but for the drive info) the
// enabling rules. Cancel runs nothing after.
TEST_F(DriveSetupDlgTest, SecondaryDialogsRunBetweenBothPasses) {
  // clang-format off
  struct Row { const char* name; int button, template_id; bool ok, limits_before, enabling_after; };
  const Row rows[] = {
      {"motor setup, OK", Dlg::kMotorSetup, 108, true, false, true},
      {"advanced, OK", Dlg::kAdvanced, 110, true, false, true},
      {"external reference, OK", Dlg::kReferenceSetup, 111, true, true, true},
      {"external reference, Cancel", Dlg::kReferenceSetup, 111, false, true, false},
      {"drive info, OK", Dlg::kDriveInfo, 3018, true, false, false},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Bundled();
    Dlg d(*setup);
    // Edits the registers have not followed yet, and a pass band range only the limits restore.
    Set(*setup, {{"ExternalReference", 1}, {"time_AB", 0.25}});
    CMC_Parameter* pass_band = setup->FindParameter("PB_S");
    pass_band->SetMinInBaseUnit(0);
    pass_band->SetMaxInBaseUnit(0);
    int secondary = 0;
    platform_.on_secondary = [&](axis::DialogModel& dialog) {
      secondary = dialog.Template().id;
      EXPECT_EQ(Get(*setup, "T1ONA"), 25);  // time_AB x 100 (UPGRADE bit 9)
      ASSERT_GT(Get(*setup, "PB_S_maxim"), 0);
      EXPECT_EQ(pass_band->GetMaxInBaseUnit(), row.limits_before ? Get(*setup, "PB_S_maxim") : 0);
      // What the user changes there: the alignment time, and torque control.
      Set(*setup, {{"time_AB", 0.75}, {"ControlMode", 2}});
    };
    platform_.Click(row.button).End(row.ok ? axis::kIdOk : axis::kIdCancel);
    d.DoModal();
    EXPECT_EQ(secondary, row.template_id);
    EXPECT_EQ(Get(*setup, "T1ONA"), row.ok ? 75 : 25);
    EXPECT_EQ(d.GetChildText(Dlg::kAlignTime), row.ok ? "750" : "250");
    EXPECT_EQ(Enabled(d, Dlg::kPositionGroup), !row.enabling_after);
    EXPECT_TRUE(platform_.ScriptErrors().empty()) << platform_.ScriptErrors().front();
  }
}

// The motor setup dialog opens by itself once, 100 ms after this one appears, without the passes.
TEST_F(DriveSetupDlgTest, MotorSetupOpensByItselfOnceAfterAHundredMilliseconds) {
  auto setup = Bundled();
  Dlg d(*setup);
  Set(*setup, "time_AB", 0.25);  // not yet encoded into T1ONA
  const double t1ona = Get(*setup, "T1ONA");
  std::vector<int64_t> opened_at;
  platform_.on_secondary = [&](axis::DialogModel& dialog) {
    EXPECT_EQ(dialog.Template().id, 108);
    EXPECT_EQ(Get(*setup, "T1ONA"), t1ona);
    opened_at.push_back(platform_.Now());
    Set(*setup, "ControlMode", 2);
  };
  platform_.Wait(99).Wait(1).EndOk().Wait(1000).EndCancel();
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);
  EXPECT_EQ(opened_at, std::vector<int64_t>{100});
  EXPECT_EQ(Get(*setup, "T1ONA"), 25);            // encoded after the motor dialog's OK
  EXPECT_FALSE(Enabled(d, Dlg::kPositionGroup));  // torque control: enabling rules ran
  EXPECT_TRUE(platform_.ScriptErrors().empty()) << platform_.ScriptErrors().front();
}

TEST_F(DriveSetupDlgTest, AdvancedOkClearsFeedForwardsWithoutASpeedLoop) {
  // The control mode, position control type and loop placement chosen in the advanced dialog.
  // clang-format off
  const struct { const char* name; double cm, pct, f; bool ok; double kffs, kffa; } rows[] = {
      {"position only, slow loops", 0, 0, 0, true, 0, 2},
      {"position only, fast loops", 0, 0, 1, true, 0, 0},
      {"cascade", 0, 1, 1, true, 2, 2},
      {"cancelled", 0, 0, 1, false, 2, 2},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto setup = Bundled();
    Dlg d(*setup);
    platform_.on_secondary = [&](axis::DialogModel&) {
      Set(*setup, {{"ControlMode", row.cm},
                   {"PositionControlType", row.pct},
                   {"PosSpd_in_FastLoop", row.f},
                   {"KFFS_scl", 2},
                   {"KFFA_scl", 2}});
    };
    platform_.Click(Dlg::kAdvanced).End(row.ok ? axis::kIdOk : axis::kIdCancel);
    d.DoModal();
    EXPECT_NEAR(Get(*setup, "KFFS_scl"), row.kffs, 1e-3);
    EXPECT_NEAR(Get(*setup, "KFFA_scl"), row.kffa, 1e-3);
  }
}

TEST_F(DriveSetupDlgTest, OddSetupsRunWithoutACrash) {
  // Missing names, NaN switches and out-of-range choices: the dialog runs and ends.
  for (const char* file : {kMinimal, kDemo}) {
    SCOPED_TRACE(file);
    const double nan = std::nan("");
    auto setup = Bundled(file);
    Dlg d(*setup);
    Set(*setup, {{"ControlMode", nan},
                 {"StartMode", nan},
                 {"CommutationMethod", nan},
                 {"Axis_ID_list", nan}});
    platform_.Click(Dlg::kSpeed).Type(Dlg::kStartCurrent, "1e300").EndOk();
    EXPECT_EQ(d.DoModal(), axis::kIdOk);
  }
}

}  // namespace
