// Motor databases: the file format and its faults, the user's file, and the host's motor editor
// (pick, save, replace, delete) run through a dialog on the real motor setup template.
#include "host/motor_database.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
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

constexpr const char* kSource = "motors.json";

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Database(const std::string& motors) {
  return R"({"format": "axiscore-motors", "version": 1, "motors": [)" + motors + "]}";
}

// The names of the motors in a database file.
std::vector<std::string> MotorNamesIn(const std::string& path) {
  const MotorDatabaseLoad loaded = LoadMotorDatabaseFile(path);
  EXPECT_TRUE(loaded) << loaded.error;
  std::vector<std::string> names;
  if (loaded) {
    for (const MotorRecord& motor : loaded.database->motors) names.push_back(motor.name);
  }
  return names;
}

// The slot of a field by its parameter name.
size_t Slot(const char* parameter) {
  const auto fields = MotorFields();
  for (size_t f = 0; f < fields.size(); ++f) {
    if (std::string(fields[f].parameter) == parameter) return f;
  }
  ADD_FAILURE() << parameter;
  return 0;
}

TEST(MotorDatabaseFile, RefusesMalformedInputNamingFilePlaceAndFault) {
  const std::string m = ": /motors/0";
  const struct {
    const char* name;
    std::string text;
    std::string error;  // after "motors.json"
  } rows[] = {
      {"not an object", "[]", ": expected an object at the top level, found an array"},
      {"no format", R"({"version": 1, "motors": []})", ": missing member \"format\""},
      {"other format", R"({"format": "axiscore-setup", "version": 1, "motors": []})",
       ": /format: expected \"axiscore-motors\""},
      {"version 2", R"({"format": "axiscore-motors", "version": 2, "motors": []})",
       ": /version: unsupported version 2 (this program reads version 1)"},
      {"unknown member", R"({"format": "axiscore-motors", "version": 1, "motors": [], "x": 1})",
       ": /x: unknown member"},
      {"no motors", R"({"format": "axiscore-motors", "version": 1})",
       ": missing member \"motors\""},
      {"motors not a list", R"({"format": "axiscore-motors", "version": 1, "motors": {}})",
       ": /motors: expected an array, found an object"},
      {"motor not an object", Database("3"), m + ": expected an object, found an integer"},
      {"no name", Database(R"({"peakCurrent": 3})"), m + ": missing member \"name\""},
      {"empty name", Database(R"({"name": ""})"), m + "/name: a motor needs a name"},
      {"name outside Latin-1", Database("{\"name\": \"\xE2\x82\xAC\"}"),
       m + "/name: text \"\xE2\x82\xAC\" holds a character outside Latin-1"},
      {"two motors of one name", Database(R"({"name": "LM"}, {"name": "lm"})"),
       ": /motors/1/name: \"lm\" names a motor twice (case ignored)"},
      {"member given twice", Database(R"({"name": "A", "name": "B"})"),
       m + "/name: member given twice"},
      {"unknown motor member", Database(R"({"name": "A", "colour": "red"})"),
       m + "/colour: unknown member"},
      {"negative current", Database(R"({"name": "A", "peakCurrent": -3})"),
       m + "/peakCurrent: -3 is not a positive number (A)"},
      {"zero resistance", Database(R"({"name": "A", "phaseResistance": 0.0})"),
       m + "/phaseResistance: 0.0 is not a positive number (Ohm)"},
      {"text for a number", Database(R"({"name": "A", "movingMass": "1 kg"})"),
       m + "/movingMass: expected a number, found a string"},
      {"number for a flag", Database(R"({"name": "A", "hallSensors": 1})"),
       m + "/hallSensors: expected true or false, found an integer"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const MotorDatabaseLoad loaded = LoadMotorDatabaseText(row.text, kSource);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(loaded.error, kSource + row.error);
  }
  const std::string syntax = LoadMotorDatabaseText("{\n  \"format\": ,", kSource).error;
  EXPECT_EQ(syntax.rfind("motors.json:2:13: malformed JSON: syntax error", 0), 0u) << syntax;
}

TEST(MotorDatabaseFile, SavedTextLoadsBackTheSameMotors) {
  MotorDatabase database{.name = "Caf\xE9 motors"};
  MotorRecord full{.name = "Full \xB5m motor"};
  for (size_t f = 0; f < kMotorFieldCount; ++f) full.values[f] = 0.125 * double(f + 1);
  full.values[Slot("isHallsensors")] = 1.0;
  MotorRecord sparse{.name = "Only a mass"};
  sparse.values[Slot("M")] = 2.5e-3;
  database.motors = {full, sparse};

  const std::string text = MotorDatabaseToText(database);
  EXPECT_NE(text.find("\"hallSensors\": true"), std::string::npos) << text;
  EXPECT_NE(text.find("Caf\xC3\xA9"), std::string::npos) << "UTF-8 in the file";
  const MotorDatabaseLoad back = LoadMotorDatabaseText(text, kSource);
  ASSERT_TRUE(back) << back.error;
  EXPECT_EQ(back.database->name, database.name);
  ASSERT_EQ(back.database->motors.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(back.database->motors[i].name, database.motors[i].name);
    EXPECT_EQ(back.database->motors[i].values, database.motors[i].values) << i;
  }
}

TEST(MotorDatabaseFile, ValuesTheFileCannotHoldAreLeftOutNotWrittenUnreadable) {
  MotorRecord odd{.name = "Odd"};
  odd.values[Slot("In")] = -1.0;
  odd.values[Slot("R")] = std::numeric_limits<double>::quiet_NaN();
  odd.values[Slot("Kf")] = 20.0;
  const MotorDatabaseLoad back =
      LoadMotorDatabaseText(MotorDatabaseToText({.motors = {odd}}), kSource);
  ASSERT_TRUE(back) << back.error;
  const MotorRecord& motor = back.database->motors.at(0);
  EXPECT_FALSE(motor.values[Slot("In")]);
  EXPECT_FALSE(motor.values[Slot("R")]);
  EXPECT_EQ(motor.values[Slot("Kf")], 20.0);
}

TEST(MotorDatabaseFile, MotorsAreFoundReplacedAndRemovedByNameIgnoringCase) {
  MotorDatabase database;
  EXPECT_FALSE(database.Put({.name = "LM 30"}));
  EXPECT_FALSE(database.Put({.name = "LM 60"}));
  MotorRecord renamed{.name = "lm 30"};
  renamed.values[0] = 4.0;
  EXPECT_TRUE(database.Put(renamed)) << "same name, other case: replaced";
  ASSERT_EQ(database.motors.size(), 2u);
  EXPECT_EQ(database.motors[0].name, "lm 30") << "replaced in its place";
  EXPECT_EQ(database.Find("LM 30")->values[0], 4.0);
  EXPECT_EQ(database.Find("LM 90"), nullptr);
  EXPECT_TRUE(database.Remove("Lm 60"));
  EXPECT_FALSE(database.Remove("Lm 60"));
  EXPECT_EQ(database.motors.size(), 1u);
}

TEST(MotorDatabaseFile, TheBundledDatabaseIsCompleteAndPlausible) {
  testing::ResourceFolder real{std::string(AXIS_UNITTESTS_DIR) + "/../resources"};
  const std::vector<std::string> files = BundledMotorDatabaseFiles();
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const MotorDatabaseLoad loaded = LoadMotorDatabaseFile(file);
    ASSERT_TRUE(loaded) << loaded.error;
    EXPECT_FALSE(loaded.database->name.empty());
    EXPECT_GE(loaded.database->motors.size(), 4u);
    for (const MotorRecord& motor : loaded.database->motors) {
      SCOPED_TRACE(motor.name);
      for (size_t f = 0; f < kMotorFieldCount; ++f)
        EXPECT_TRUE(motor.values[f]) << MotorFields()[f].member;
      EXPECT_GT(*motor.values[Slot("ImaxM")], *motor.values[Slot("In")]);
      // One encoder count is a small part of a pole pitch.
      EXPECT_LT(*motor.values[Slot("EncRes")] * 1000, *motor.values[Slot("PolePitch")]);
    }
  }
}

TEST(MotorDatabaseFile, TheUsersFileFollowsTheConfigurationFolder) {
  const struct {
    const char* name;
    std::optional<std::string> xdg, home;
    std::string path;
  } rows[] = {
      {"XDG_CONFIG_HOME", "/cfg", "/home/u", "/cfg/axiscore/motors.json"},
      {"relative XDG_CONFIG_HOME is ignored", "cfg", "/home/u",
       "/home/u/.config/axiscore/motors.json"},
      {"empty XDG_CONFIG_HOME", "", "/home/u", "/home/u/.config/axiscore/motors.json"},
      {"HOME only", std::nullopt, "/home/u", "/home/u/.config/axiscore/motors.json"},
      {"neither", std::nullopt, std::nullopt, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScopedEnv xdg("XDG_CONFIG_HOME", row.xdg);
    ScopedEnv home("HOME", row.home);
    EXPECT_EQ(UserMotorDatabasePath(), row.path);
  }
}

TEST(MotorDatabaseFile, SetupValuesBecomeAnEntry) {
  CMC_Setup setup;
  for (const auto& [name, value] : {std::pair{"In", 3.0},
                                    {"PolePitch", 0.03},
                                    {"R", 0.0},
                                    {"isHallsensors", 5.0},
                                    {"Kf", -2.0}})
    setup.AddParameter({.name = name, .value = value, .min = -10, .max = 10});
  const MotorRecord motor = MotorFromSetup(setup, "From setup");
  EXPECT_EQ(motor.name, "From setup");
  EXPECT_EQ(motor.values[Slot("In")], 3.0);
  EXPECT_EQ(motor.values[Slot("PolePitch")], 0.03);
  EXPECT_EQ(motor.values[Slot("isHallsensors")], 1.0) << "a flag is 0 or 1";
  EXPECT_FALSE(motor.values[Slot("R")]) << "no positive resistance to keep";
  EXPECT_FALSE(motor.values[Slot("Kf")]);
  EXPECT_FALSE(motor.values[Slot("M")]) << "not in the setup";
}

// --- on disk, and the editor ---------------------------------------------------------------------

constexpr const char* kTestMotors = R"({"format": "axiscore-motors", "version": 1,
  "name": "Test motors", "motors": [
    {"name": "Small", "nominalCurrent": 1.5, "peakCurrent": 6, "polePitch": 0.024,
     "forceConstant": 12, "phaseResistance": 5.5, "phaseInductance": 0.001, "movingMass": 0.2,
     "hallSensors": false, "encoderResolution": 5e-7},
    {"name": "Too strong", "nominalCurrent": 80, "peakCurrent": 160, "encoderResolution": 1e-9}
  ]})";

class MotorEditorTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    char pattern[] = "/tmp/motor_database_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const std::string resources = dir_ + "/resources";
    std::filesystem::create_directories(resources + "/dialogs");
    std::filesystem::copy_file(
        std::string(AXIS_UNITTESTS_DIR) + "/../resources/dialogs/108-motor-setup.json",
        resources + "/dialogs/108-motor-setup.json");
    Write(resources + "/motors/test.json", kTestMotors);
    resources_.emplace(resources);
    config_.emplace("XDG_CONFIG_HOME", dir_ + "/config");
    user_file_ = dir_ + "/config/axiscore/motors.json";
    LoadResult demo = LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/demo-linear.json");
    ASSERT_TRUE(demo) << demo.error;
    setup_ = std::move(demo.setup);
  }
  void TearDown() override {
    config_.reset();
    resources_.reset();
    std::filesystem::remove_all(dir_);
    DialogTest::TearDown();
  }

  double Value(const char* name) { return setup_->FindParameter(name)->GetValueInBaseUnit(); }
  static std::vector<std::string> Items(const CMC_EditSetupDlg& dlg, int id) {
    std::vector<std::string> texts;
    for (const ComboItem& item : dlg.Control(id)->items) texts.push_back(item.text);
    return texts;
  }
  static bool Enabled(const CMC_EditSetupDlg& dlg, int id) { return dlg.Control(id)->enabled; }
  std::vector<std::string> UserMotors() { return MotorNamesIn(user_file_); }
  void WriteUserMotors(std::initializer_list<const char*> names) {
    MotorDatabase database;
    for (const char* name : names) {
      MotorRecord motor{.name = name};
      motor.values[Slot("In")] = 2.0;
      database.motors.push_back(motor);
    }
    ASSERT_EQ(SaveMotorDatabaseFile(database, user_file_), "");
  }

  std::string dir_, user_file_;
  std::optional<testing::ResourceFolder> resources_;
  std::optional<ScopedEnv> config_;
  std::unique_ptr<CMC_Setup> setup_;
};

using Editor = MotorEditor;

TEST_F(MotorEditorTest, PickingAMotorStoresItsValuesAndTheDialogSeesEachChange) {
  RecordingDlg dlg(*setup_, 108);
  ASSERT_EQ(dlg.InitializeMotorEditor(), 1);
  EXPECT_EQ(Items(dlg, Editor::kDatabaseCombo), (std::vector<std::string>{"Test motors", "USER"}));
  EXPECT_EQ(Items(dlg, Editor::kMotorCombo), (std::vector<std::string>{"Small", "Too strong"}));
  EXPECT_EQ(dlg.GetComboSelection(Editor::kMotorCombo), -1) << "no motor chosen at first";
  EXPECT_TRUE(Enabled(dlg, Editor::kSaveButton));
  EXPECT_FALSE(Enabled(dlg, Editor::kDeleteButton)) << "bundled motors cannot be deleted";

  platform_.SelectCombo(Editor::kMotorCombo, 0).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  const struct {
    const char* name;
    double value;
  } expected[] = {{"In", 1.5},  {"ImaxM", 6}, {"PolePitch", 0.024}, {"Kf", 12},      {"R", 5.5},
                  {"L", 0.001}, {"M", 0.2},   {"isHallsensors", 0}, {"EncRes", 5e-7}};
  std::vector<std::string> log;
  for (const auto& row : expected) {
    EXPECT_EQ(Value(row.name), row.value) << row.name;
    log.push_back(std::string("refresh:") + row.name);
    log.push_back(std::string("changed:") + row.name);
  }
  EXPECT_EQ(dlg.log, log) << "in the order of the fields, the pole pitch before the resolution";
  EXPECT_TRUE(platform_.MessageLog().empty());
  EXPECT_FALSE(Enabled(dlg, Editor::kDeleteButton));
}

TEST_F(MotorEditorTest, ValuesOutsideTheSetupsRangesAreLimitedAndNamed) {
  RecordingDlg dlg(*setup_, 108);
  ASSERT_EQ(dlg.InitializeMotorEditor(), 1);
  const double mass = Value("M");
  platform_.SelectCombo(Editor::kMotorCombo, 1).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("In"), 50.0);  // demo-linear: In at most 50 A, ImaxM 100 A, EncRes 1e-8 m
  EXPECT_EQ(Value("ImaxM"), 100.0);
  EXPECT_EQ(Value("EncRes"), 1e-8);
  EXPECT_EQ(Value("M"), mass) << "a value the motor does not give stays";
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text,
            "The motor \"Too strong\" has values outside the ranges of this setup; these were set "
            "to the nearest limit: \"In\", \"ImaxM\", \"EncRes\".");
}

TEST_F(MotorEditorTest, SavingAsksForANameAndWritesTheSetupsMotorToTheUsersFile) {
  RecordingDlg dlg(*setup_, 108);
  ASSERT_EQ(dlg.AddParameterControls("In", 1159, 1160), 1);
  ASSERT_EQ(dlg.InitializeMotorEditor(), 1);
  EXPECT_EQ(Items(dlg, Editor::kMotorCombo).size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(user_file_)) << "a missing user file is an empty database";
  EXPECT_TRUE(platform_.MessageLog().empty());

  platform_
      .SelectCombo(Editor::kMotorCombo, 0)  // "Small" proposed as the name
      .Type(1159, "2.5")                    // the user edits the nominal current
      .Click(Editor::kSaveButton)
      .EndOk();
  platform_.AnswerText("  My motor ");
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  ASSERT_EQ(platform_.TextLog().size(), 1u);
  EXPECT_EQ(platform_.TextLog()[0].title, "Save to User Database");
  EXPECT_EQ(platform_.TextLog()[0].initial, "Small");

  const MotorDatabaseLoad saved = LoadMotorDatabaseFile(user_file_);
  ASSERT_TRUE(saved) << saved.error;
  ASSERT_EQ(saved.database->motors.size(), 1u);
  const MotorRecord& motor = saved.database->motors[0];
  EXPECT_EQ(motor.name, "My motor") << "blanks around the name are dropped";
  EXPECT_EQ(motor.values[Slot("In")], 2.5);
  EXPECT_EQ(motor.values[Slot("PolePitch")], 0.024);
  EXPECT_EQ(motor.values[Slot("isHallsensors")], 0.0);
  // The list shows the user's database with the new motor chosen, which may now be deleted.
  EXPECT_EQ(dlg.GetChildText(Editor::kDatabaseCombo), "USER");
  EXPECT_EQ(dlg.GetChildText(Editor::kMotorCombo), "My motor");
  EXPECT_TRUE(Enabled(dlg, Editor::kDeleteButton));
}

TEST_F(MotorEditorTest, ASavedNameThatExistsIsReplacedOnlyAfterYes) {
  WriteUserMotors({"My motor", "Other"});
  const std::string before = Read(user_file_);
  RecordingDlg dlg(*setup_, 108);
  ASSERT_EQ(dlg.InitializeMotorEditor(), 1);
  platform_.Click(Editor::kSaveButton).Click(Editor::kSaveButton).EndOk();
  platform_.AnswerText("MY MOTOR").Answer(kIdNo).AnswerText("MY MOTOR").Answer(kIdYes);
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  ASSERT_EQ(platform_.MessageLog().size(), 2u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text,
            "The user database already has a motor named \"My motor\". Replace it?");
  EXPECT_EQ(platform_.MessageLog()[0].request.buttons, MessageButtons::kYesNo);
  EXPECT_EQ(UserMotors(), (std::vector<std::string>{"MY MOTOR", "Other"}))
      << "replaced in its place";
  const MotorDatabaseLoad saved = LoadMotorDatabaseFile(user_file_);
  EXPECT_EQ(saved.database->motors[0].values[Slot("In")], Value("In"));
  EXPECT_NE(Read(user_file_), before);
}

TEST_F(MotorEditorTest, AnsweringNoOrCancellingTheNameWritesNothing) {
  WriteUserMotors({"My motor"});
  const std::string before = Read(user_file_);
  RecordingDlg dlg(*setup_, 108);
  ASSERT_EQ(dlg.InitializeMotorEditor(), 1);
  platform_.Click(Editor::kSaveButton)
      .Click(Editor::kSaveButton)
      .Click(Editor::kSaveButton)
      .EndOk();
  platform_.AnswerText("my motor").Answer(kIdNo).AnswerText(std::nullopt).AnswerText("   ");
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Read(user_file_), before);
  ASSERT_EQ(platform_.MessageLog().size(), 2u);
  EXPECT_EQ(platform_.MessageLog()[1].request.text, "The motor needs a name. Nothing was saved.");
}

TEST_F(MotorEditorTest, DeletingAUserMotorAsksFirst) {
  WriteUserMotors({"First", "Second"});
  RecordingDlg dlg(*setup_, 108);
  ASSERT_EQ(dlg.InitializeMotorEditor(), 1);
  platform_.SelectCombo(Editor::kDatabaseCombo, 1)
      .SelectCombo(Editor::kMotorCombo, 1)
      .Click(Editor::kDeleteButton)  // answered No
      .Click(Editor::kDeleteButton)  // answered Yes
      .Click(Editor::kDeleteButton)  // nothing chosen any more: disabled
      .EndOk();
  platform_.Answer(kIdNo).Answer(kIdYes);
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  ASSERT_EQ(platform_.MessageLog().size(), 2u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text,
            "Delete the motor \"Second\" from the user database?");
  EXPECT_EQ(UserMotors(), (std::vector<std::string>{"First"}));
  EXPECT_EQ(Items(dlg, Editor::kMotorCombo), (std::vector<std::string>{"First"}));
  EXPECT_EQ(platform_.ScriptErrors().size(), 1u) << "the third Delete could not be clicked";
  EXPECT_FALSE(Enabled(dlg, Editor::kDeleteButton));
}

TEST_F(MotorEditorTest, AMalformedUserFileIsReportedOnceAndNeverWritten) {
  const std::string broken =
      "{\"format\": \"axiscore-motors\", \"version\": 1,\n"
      " \"motors\": [{\"name\": \"A\", \"peakCurrent\": \"high\"}]}";
  Write(user_file_, broken);
  RecordingDlg dlg(*setup_, 108);
  ASSERT_EQ(dlg.InitializeMotorEditor(), 1);
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text,
            user_file_ +
                ": /motors/0/peakCurrent: expected a number, found a string\n\nThe user motor "
                "database is not used, and it will not be changed until the file is repaired.");
  EXPECT_EQ(Items(dlg, Editor::kDatabaseCombo), (std::vector<std::string>{"Test motors"}));
  EXPECT_FALSE(Enabled(dlg, Editor::kSaveButton));
  // The bundled database still works.
  platform_.SelectCombo(Editor::kMotorCombo, 0).Click(Editor::kSaveButton).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Value("In"), 1.5);
  EXPECT_EQ(Read(user_file_), broken);
  EXPECT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_TRUE(platform_.TextLog().empty());
}

TEST_F(MotorEditorTest, TheUsersFileIsReadAgainBeforeEachChange) {
  RecordingDlg dlg(*setup_, 108);
  ASSERT_EQ(dlg.InitializeMotorEditor(), 1);
  // Another program adds a motor while the dialog is open; saving keeps it.
  WriteUserMotors({"Added elsewhere"});
  platform_.Click(Editor::kSaveButton).EndOk();
  platform_.AnswerText("Mine");
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(UserMotors(), (std::vector<std::string>{"Added elsewhere", "Mine"}));
  // Then the file goes bad: the next save reports it and leaves the file alone.
  Write(user_file_, "not json");
  platform_.Click(Editor::kSaveButton).EndOk();
  platform_.AnswerText("Second");
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(Read(user_file_), "not json");
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  const std::string& text = platform_.MessageLog()[0].request.text;
  EXPECT_EQ(text.rfind(user_file_ + ":1:", 0), 0u) << text;
  EXPECT_NE(text.find("\n\nNothing was saved; the file is left as it is."), std::string::npos);
  EXPECT_EQ(Items(dlg, Editor::kDatabaseCombo), (std::vector<std::string>{"Test motors"}));
  EXPECT_FALSE(Enabled(dlg, Editor::kSaveButton));
}

TEST_F(MotorEditorTest, WithoutAPlaceForTheUsersFileOnlyTheBundledOnesAreOffered) {
  ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv home("HOME", std::nullopt);
  RecordingDlg dlg(*setup_, 108);
  ASSERT_EQ(dlg.InitializeMotorEditor(), 1);
  EXPECT_EQ(Items(dlg, Editor::kDatabaseCombo), (std::vector<std::string>{"Test motors"}));
  EXPECT_FALSE(Enabled(dlg, Editor::kSaveButton));
  EXPECT_TRUE(platform_.MessageLog().empty());
}

TEST_F(MotorEditorTest, SavingCreatesTheFolderOrNamesWhyItCannot) {
  MotorDatabase database{.motors = {{.name = "A"}}};
  const std::string nested = dir_ + "/a/b/c/motors.json";
  EXPECT_EQ(SaveMotorDatabaseFile(database, nested), "");
  EXPECT_EQ(MotorNamesIn(nested), std::vector<std::string>{"A"});
  Write(dir_ + "/plain", "x");
  const std::string error = SaveMotorDatabaseFile(database, dir_ + "/plain/motors.json");
  EXPECT_EQ(error.rfind(dir_ + "/plain: cannot create the folder: ", 0), 0u) << error;
  EXPECT_EQ(LoadMotorDatabaseFile(dir_ + "/absent.json").error,
            dir_ + "/absent.json: cannot read: No such file or directory");
  EXPECT_EQ(LoadMotorDatabaseFile(dir_ + "/absent.json", true).database->motors.size(), 0u);
  EXPECT_EQ(LoadMotorDatabaseFile(dir_).error, dir_ + ": cannot read: Is a directory");
}

}  // namespace
}  // namespace axis
