// Motor databases: the file format and its faults, the user's file, and the host's motor editor
// (pick, save, replace, delete) run through a dialog on the real motor setup template.
#include "host/motor_database.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/dialog_test_support.h"
#include "host/motor_editor.h"
#include "host/setup_file.h"

namespace axis {
namespace {

using testing::RecordingDlg;
using testing::ScopedEnv;
using Names = std::vector<std::string>;
using Editor = MotorEditor;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

Names MotorNamesIn(const std::string& path) {
  const MotorDatabaseLoad loaded = LoadMotorDatabaseFile(path);
  EXPECT_TRUE(loaded) << loaded.error;
  Names names;
  for (const MotorRecord& motor : loaded ? loaded.database->motors : std::vector<MotorRecord>{})
    names.push_back(motor.name);
  return names;
}

// The slot of a field by its parameter name.
size_t Slot(const std::string& parameter) {
  const auto fields = MotorFields();
  for (size_t f = 0; f < fields.size(); ++f) {
    if (fields[f].parameter == parameter) return f;
  }
  ADD_FAILURE() << parameter;
  return 0;
}

TEST(MotorDatabaseFile, RefusesMalformedInputNamingFilePlaceAndFault) {
  const std::string head = R"({"format": "axiscore-motors", "version": )", m = "/motors/0";
  const auto db = [&](const std::string& motors) {
    return head + "1, \"motors\": [" + motors + "]}";
  };
  // clang-format off
  const std::pair<std::string, std::string> rows[] = {  // the text, the error after "motors.json: "
      {"[]", "expected an object at the top level, found an array"},
      {R"({"format": "axiscore-setup"})", "/format: expected \"axiscore-motors\""},
      {head + R"(2, "motors": []})",
       "/version: unsupported version 2 (this program reads version 1)"},
      {head + R"(1, "motors": [], "x": 1})", "/x: unknown member"},
      {head + "1}", "missing member \"motors\""},
      {db("3"), m + ": expected an object, found an integer"},
      {db(R"({"peakCurrent": 3})"), m + ": missing member \"name\""},
      {db(R"({"name": ""})"), m + "/name: a motor needs a name"},
      {db("{\"name\": \"\xE2\x82\xAC\"}"),
       m + "/name: text \"\xE2\x82\xAC\" holds a character outside Latin-1"},
      {db(R"({"name": "LM"}, {"name": "lm"})"),
       "/motors/1/name: \"lm\" names a motor twice (case ignored)"},
      {db(R"({"name": "A", "colour": "red"})"), m + "/colour: unknown member"},
      {db(R"({"name": "A", "phaseResistance": 0.0})"),
       m + "/phaseResistance: 0.0 is not a positive number (Ohm)"},
      {db(R"({"name": "A", "hallSensors": 1})"),
       m + "/hallSensors: expected true or false, found an integer"}};
  // clang-format on
  for (const auto& [text, error] : rows) {
    const MotorDatabaseLoad loaded = LoadMotorDatabaseText(text, "motors.json");
    EXPECT_FALSE(loaded) << error;
    EXPECT_EQ(loaded.error, "motors.json: " + error);
  }
}

// Values the file cannot hold (not positive, NaN) are left out rather than written unreadable.
TEST(MotorDatabaseFile, SavedTextLoadsBackTheSameMotors) {
  MotorDatabase database{.name = "Caf\xE9 motors"};
  MotorRecord full{.name = "Full \xB5m motor"}, odd{.name = "Odd"};
  for (size_t f = 0; f < kMotorFieldCount; ++f) full.values[f] = 0.125 * double(f + 1);
  full.values[Slot("isHallsensors")] = 1.0;
  odd.values[Slot("In")] = -1.0;
  odd.values[Slot("R")] = std::numeric_limits<double>::quiet_NaN();
  odd.values[Slot("Kf")] = 20.0;
  database.motors = {full, odd};
  const std::string text = MotorDatabaseToText(database);
  EXPECT_NE(text.find("\"hallSensors\": true"), std::string::npos) << text;
  EXPECT_NE(text.find("Caf\xC3\xA9"), std::string::npos) << "UTF-8 in the file";
  const MotorDatabaseLoad back = LoadMotorDatabaseText(text, "motors.json");
  ASSERT_TRUE(back) << back.error;
  EXPECT_EQ(back.database->name, database.name);
  odd.values[Slot("In")] = odd.values[Slot("R")] = std::nullopt;
  database.motors.back() = odd;
  ASSERT_EQ(back.database->motors.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(back.database->motors[i].name, database.motors[i].name);
    EXPECT_EQ(back.database->motors[i].values, database.motors[i].values) << i;
  }
}

TEST(MotorDatabaseFile, TheBundledDatabaseIsCompleteAndPlausible) {
  testing::ResourceFolder real{std::string(AXIS_UNITTESTS_DIR) + "/../resources"};
  const Names files = BundledMotorDatabaseFiles();
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    const MotorDatabaseLoad loaded = LoadMotorDatabaseFile(file);
    ASSERT_TRUE(loaded) << loaded.error;
    EXPECT_FALSE(loaded.database->name.empty());
    EXPECT_GE(loaded.database->motors.size(), 4u);
    for (const MotorRecord& motor : loaded.database->motors) {
      for (size_t f = 0; f < kMotorFieldCount; ++f)
        EXPECT_TRUE(motor.values[f]) << motor.name << ": " << MotorFields()[f].member;
      // A peak above the nominal current; one encoder count a small part of a pole pitch.
      EXPECT_GT(*motor.values[Slot("ImaxM")], *motor.values[Slot("In")]) << motor.name;
      EXPECT_LT(*motor.values[Slot("EncRes")] * 1000, *motor.values[Slot("PolePitch")]);
    }
  }
}

TEST(MotorDatabaseFile, TheUsersFileFollowsTheConfigurationFolder) {
  const std::string home = "/home/u/.config/axiscore/motors.json";
  // clang-format off
  const struct { std::optional<std::string> xdg, home; std::string path; } rows[] = {
      {"/cfg", "/home/u", "/cfg/axiscore/motors.json"}, {"cfg", "/home/u", home} /* relative */,
      {"", "/home/u", home}, {std::nullopt, "/home/u", home}, {std::nullopt, std::nullopt, ""}};
  // clang-format on
  for (const auto& row : rows) {
    ScopedEnv xdg("XDG_CONFIG_HOME", row.xdg), home_folder("HOME", row.home);
    EXPECT_EQ(UserMotorDatabasePath(), row.path) << row.xdg.value_or("(unset)");
  }
}

TEST(MotorDatabaseFile, SetupValuesBecomeAnEntry) {
  CMC_Setup setup;
  for (const auto& [name, value] :
       {std::pair{"In", 3.0}, {"R", 0.0}, {"isHallsensors", 5.0}, {"Kf", -2.0}})
    setup.AddParameter({.name = name, .value = value, .min = -10, .max = 10});
  const MotorRecord motor = MotorFromSetup(setup, "From setup");
  EXPECT_EQ(motor.name, "From setup");
  EXPECT_EQ(motor.values[Slot("In")], 3.0);
  EXPECT_EQ(motor.values[Slot("isHallsensors")], 1.0) << "a flag is 0 or 1";
  // No positive resistance or force constant to keep; no mass in the setup.
  EXPECT_FALSE(motor.values[Slot("R")] || motor.values[Slot("Kf")] || motor.values[Slot("M")]);
}

// --- the editor ----------------------------------------------------------------------------------

// The motor setup template and a test database in resources of their own; the user's file in a
// configuration folder of its own.
class MotorEditorTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    char pattern[] = "/tmp/motor_database_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    Write(dir_ + "/resources/dialogs/108-motor-setup.json",
          Read(std::string(AXIS_UNITTESTS_DIR) + "/../resources/dialogs/108-motor-setup.json"));
    Write(dir_ + "/resources/motors/test.json", R"({"format": "axiscore-motors", "version": 1,
      "name": "Test motors", "motors": [{"name": "Small", "nominalCurrent": 1.5,
        "peakCurrent": 6, "polePitch": 0.024, "forceConstant": 12, "phaseResistance": 5.5,
        "phaseInductance": 0.001, "movingMass": 0.2, "hallSensors": false,
        "encoderResolution": 5e-7},
       {"name": "Too strong", "nominalCurrent": 80, "peakCurrent": 160,
        "encoderResolution": 1e-9}]})");
    resources_.emplace(dir_ + "/resources");
    config_.emplace("XDG_CONFIG_HOME", dir_ + "/config");
    user_file_ = dir_ + "/config/axiscore/motors.json";
    LoadResult demo = LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/demo-linear.json");
    ASSERT_TRUE(demo) << demo.error;
    setup_ = std::move(demo.setup);
    dlg_.emplace(*setup_, 108);
  }
  void TearDown() override {
    dlg_.reset();
    std::filesystem::remove_all(dir_);
    DialogTest::TearDown();
  }

  double Value(const char* name) { return setup_->FindParameter(name)->GetValueInBaseUnit(); }
  Names Items(int id) { return testing::ComboItems(*dlg_, id); }
  bool Enabled(int id) { return dlg_->Control(id)->enabled; }
  const std::string& Message(size_t i) { return platform_.MessageLog().at(i).request.text; }
  void WriteUserMotors(std::initializer_list<const char*> names) {
    MotorDatabase database;
    for (const char* name : names) {
      database.motors.push_back({.name = name});
      database.motors.back().values[Slot("In")] = 2.0;
    }
    ASSERT_EQ(SaveMotorDatabaseFile(database, user_file_), "");
  }
  void Start() { ASSERT_EQ(dlg_->InitializeMotorEditor(), 1); }
  void Run() { ASSERT_EQ(dlg_->DoModal(), kIdOk); }

  std::string dir_, user_file_;
  std::optional<testing::ResourceFolder> resources_;
  std::optional<ScopedEnv> config_;
  std::unique_ptr<CMC_Setup> setup_;
  std::optional<RecordingDlg> dlg_;
};

TEST_F(MotorEditorTest, PickingAMotorStoresItsValuesAndLimitsThemToTheSetupsRanges) {
  Start();
  EXPECT_EQ(Items(Editor::kDatabaseCombo), (Names{"Test motors", "USER"}));
  EXPECT_EQ(Items(Editor::kMotorCombo), (Names{"Small", "Too strong"}));
  EXPECT_EQ(dlg_->GetComboSelection(Editor::kMotorCombo), -1) << "no motor chosen at first";
  EXPECT_TRUE(Enabled(Editor::kSaveButton));
  EXPECT_FALSE(Enabled(Editor::kDeleteButton)) << "bundled motors cannot be deleted";
  platform_.SelectCombo(Editor::kMotorCombo, 0).EndOk();
  Run();
  // clang-format off
  const std::pair<const char*, double> expected[] = {{"In", 1.5}, {"ImaxM", 6},
      {"PolePitch", 0.024}, {"Kf", 12}, {"R", 5.5}, {"L", 0.001}, {"M", 0.2}, {"isHallsensors", 0},
      {"EncRes", 5e-7}};
  // clang-format on
  Names log;
  for (const auto& [name, value] : expected) {
    EXPECT_EQ(Value(name), value) << name;
    log.insert(log.end(), {std::string("refresh:") + name, std::string("changed:") + name});
  }
  EXPECT_EQ(dlg_->log, log) << "in the order of the fields, the pole pitch before the resolution";
  EXPECT_TRUE(platform_.MessageLog().empty());
  EXPECT_FALSE(Enabled(Editor::kDeleteButton));
  // demo-linear: In at most 50 A, ImaxM 100 A, EncRes at least 1e-8 m; no mass given: it stays.
  platform_.SelectCombo(Editor::kMotorCombo, 1).EndOk();
  Run();
  EXPECT_EQ((std::vector{Value("In"), Value("ImaxM"), Value("EncRes"), Value("M")}),
            (std::vector{50.0, 100.0, 1e-8, 0.2}));
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(Message(0),
            "The motor \"Too strong\" has values outside the ranges of this setup; these were set "
            "to the nearest limit: \"In\", \"ImaxM\", \"EncRes\".");
}

TEST_F(MotorEditorTest, SavingAsksForANameAndWritesTheSetupsMotorToTheUsersFile) {
  ASSERT_EQ(dlg_->AddParameterControls("In", 1159, 1160), 1);
  Start();
  EXPECT_FALSE(std::filesystem::exists(user_file_)) << "a missing user file is an empty database";
  // "Small" is proposed as the name; the user edits its nominal current first.
  platform_.SelectCombo(Editor::kMotorCombo, 0).Type(1159, "2.5").Click(Editor::kSaveButton);
  platform_.EndOk().AnswerText("  My motor ");
  Run();
  ASSERT_EQ(platform_.TextLog().size(), 1u);
  EXPECT_EQ(platform_.TextLog()[0].title + "|" + platform_.TextLog()[0].initial,
            "Save to User Database|Small");
  EXPECT_TRUE(platform_.MessageLog().empty());
  const MotorDatabaseLoad saved = LoadMotorDatabaseFile(user_file_);
  ASSERT_TRUE(saved) << saved.error;
  ASSERT_EQ(saved.database->motors.size(), 1u);
  const MotorRecord& motor = saved.database->motors[0];
  EXPECT_EQ(motor.name, "My motor") << "blanks around the name are dropped";
  EXPECT_EQ(motor.values[Slot("In")], 2.5);
  EXPECT_EQ(motor.values[Slot("PolePitch")], 0.024);
  EXPECT_EQ(motor.values[Slot("isHallsensors")], 0.0);
  // The list shows the user's database with the new motor chosen, which may now be deleted.
  EXPECT_EQ(dlg_->GetChildText(Editor::kDatabaseCombo), "USER");
  EXPECT_EQ(dlg_->GetChildText(Editor::kMotorCombo), "My motor");
  EXPECT_TRUE(Enabled(Editor::kDeleteButton));
}

// A name that exists is replaced, in its place, only after Yes; No, a cancelled name and a blank
// one write nothing.
TEST_F(MotorEditorTest, ASavedNameThatExistsIsReplacedOnlyAfterYes) {
  WriteUserMotors({"My motor", "Other"});
  const std::string before = Read(user_file_);
  Start();
  platform_.Click(Editor::kSaveButton).Click(Editor::kSaveButton).Click(Editor::kSaveButton);
  platform_.EndOk().AnswerText("my motor").Answer(kIdNo).AnswerText(std::nullopt).AnswerText(" ");
  Run();
  EXPECT_EQ(Read(user_file_), before);
  ASSERT_EQ(platform_.MessageLog().size(), 2u);
  EXPECT_EQ(Message(0), "The user database already has a motor named \"My motor\". Replace it?");
  EXPECT_EQ(platform_.MessageLog()[0].request.buttons, MessageButtons::kYesNo);
  EXPECT_EQ(Message(1), "The motor needs a name. Nothing was saved.");
  platform_.Click(Editor::kSaveButton).EndOk().AnswerText("MY MOTOR").Answer(kIdYes);
  Run();
  EXPECT_EQ(MotorNamesIn(user_file_), (Names{"MY MOTOR", "Other"}));
  EXPECT_EQ(LoadMotorDatabaseFile(user_file_).database->motors[0].values[Slot("In")], Value("In"));
}

TEST_F(MotorEditorTest, DeletingAUserMotorAsksFirst) {
  WriteUserMotors({"First", "Second"});
  Start();
  platform_.SelectCombo(Editor::kDatabaseCombo, 1).SelectCombo(Editor::kMotorCombo, 1);
  // Answered No, answered Yes, then nothing is chosen any more: disabled.
  platform_.Click(Editor::kDeleteButton).Click(Editor::kDeleteButton).Click(Editor::kDeleteButton);
  platform_.EndOk().Answer(kIdNo).Answer(kIdYes);
  Run();
  ASSERT_EQ(platform_.MessageLog().size(), 2u);
  EXPECT_EQ(Message(0), "Delete the motor \"Second\" from the user database?");
  EXPECT_EQ(MotorNamesIn(user_file_), (Names{"First"}));
  EXPECT_EQ(Items(Editor::kMotorCombo), (Names{"First"}));
  EXPECT_EQ(platform_.ScriptErrors().size(), 1u) << "the third Delete could not be clicked";
  EXPECT_FALSE(Enabled(Editor::kDeleteButton));
}

// A user file that cannot be used is reported once and never written; without a place for it
// there is nothing to report. Either way the bundled databases still work.
TEST_F(MotorEditorTest, WithoutAUsableUserFileOnlyTheBundledDatabasesAreOffered) {
  const std::string broken =
      "{\"format\": \"axiscore-motors\", \"version\": 1,\n"
      " \"motors\": [{\"name\": \"A\", \"peakCurrent\": \"high\"}]}";
  Write(user_file_, broken);
  Start();
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(Message(0), user_file_ +
                            ": /motors/0/peakCurrent: expected a number, found a string\n\nThe "
                            "user motor database is not used, and it will not be changed until "
                            "the file is repaired.");
  EXPECT_EQ(Items(Editor::kDatabaseCombo), (Names{"Test motors"}));
  EXPECT_FALSE(Enabled(Editor::kSaveButton));
  platform_.SelectCombo(Editor::kMotorCombo, 0).Click(Editor::kSaveButton).EndOk();
  Run();
  EXPECT_EQ(Value("In"), 1.5);
  EXPECT_EQ(Read(user_file_), broken);
  EXPECT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_TRUE(platform_.TextLog().empty());

  ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt), home("HOME", std::nullopt);
  RecordingDlg nowhere(*setup_, 108);
  ASSERT_EQ(nowhere.InitializeMotorEditor(), 1);
  EXPECT_EQ(testing::ComboItems(nowhere, Editor::kDatabaseCombo), (Names{"Test motors"}));
  EXPECT_FALSE(nowhere.Control(Editor::kSaveButton)->enabled);
  EXPECT_EQ(platform_.MessageLog().size(), 1u);
}

TEST_F(MotorEditorTest, TheUsersFileIsReadAgainBeforeEachChange) {
  Start();
  WriteUserMotors({"Added elsewhere"});  // by another program while the dialog is open
  platform_.Click(Editor::kSaveButton).EndOk().AnswerText("Mine");
  Run();
  EXPECT_EQ(MotorNamesIn(user_file_), (Names{"Added elsewhere", "Mine"}));
  Write(user_file_, "not json");  // then the file goes bad: reported, left alone
  platform_.Click(Editor::kSaveButton).EndOk().AnswerText("Second");
  Run();
  EXPECT_EQ(Read(user_file_), "not json");
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(Message(0).rfind(user_file_ + ":1:", 0), 0u) << Message(0);
  EXPECT_TRUE(Message(0).ends_with("\n\nNothing was saved; the file is left as it is."));
  EXPECT_EQ(Items(Editor::kDatabaseCombo), (Names{"Test motors"}));
  EXPECT_FALSE(Enabled(Editor::kSaveButton));
}

// The first save creates the user's folder (see the saving test above); here the faults are named.
TEST_F(MotorEditorTest, FilesThatCannotBeWrittenOrReadAreNamed) {
  Write(dir_ + "/plain", "x");
  const std::string error = SaveMotorDatabaseFile({}, dir_ + "/plain/motors.json");
  EXPECT_EQ(error.rfind(dir_ + "/plain: cannot create the folder: ", 0), 0u) << error;
  EXPECT_EQ(LoadMotorDatabaseFile(dir_ + "/absent.json").error,
            dir_ + "/absent.json: cannot read: No such file or directory");
}

}  // namespace
}  // namespace axis
