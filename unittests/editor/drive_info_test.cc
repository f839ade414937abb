// The drive info dialog: the lock on the hardware data and its key chord, the enabling table, the
// temperature rule, and what OK stores.
#include "editor/drive_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "conversions/motion_units.h"
#include "conversions/passes.h"
#include "host/dialog_test_support.h"
#include "host/setup_file.h"

namespace {

using axis::testing::ResourceFolder;

constexpr const char* kChord = "Ctrl+Alt+Shift+E";

// Always enabled: the application ID and the unit combos of the always-present rows.
const std::set<int> kAlways = {3114, 3088, 3090, 3093, 3095, 1160, 1162, 1164, 1180};
// Enabled only while unlocked.
const std::set<int> kHardware = {3087, 3089, 3092, 3094, 1159, 1161, 1163, 1179,
                                 3097, 3103, 3105, 3107, 3275, 3276, 3277, 3278};
// Per switch: the controls that need the lock open as well, and those that follow the switch alone.
const std::set<int> kSensorEdit = {1165, 1167, 3325}, kSensorShow = {1166, 1168, 3098, 3101};
const std::set<int> kOverVEdit = {1169}, kOverVShow = {1170, 3104};
const std::set<int> kUnderVEdit = {1171}, kUnderVShow = {1172, 3106};
const std::set<int> kI2tEdit = {1173, 1175}, kI2tShow = {1174, 3108, 1176, 3109};
const std::set<int> kOverTEdit = {1177}, kOverTShow = {1178, 3326};

std::set<int> Union(std::initializer_list<std::set<int>> sets) {
  std::set<int> all;
  for (const std::set<int>& s : sets) all.insert(s.begin(), s.end());
  return all;
}

const std::set<int> kEveryRuledControl =
    Union({kAlways, kHardware, kSensorEdit, kSensorShow, kOverVEdit, kOverVShow, kUnderVEdit,
           kUnderVShow, kI2tEdit, kI2tShow, kOverTEdit, kOverTShow});

class DriveInfoTest : public axis::testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    axis::SetErrorReporter([this](const std::string& message) { errors_.push_back(message); });
    setup_ = Load();
  }
  void TearDown() override {
    axis::SetErrorReporter(nullptr);
    DialogTest::TearDown();
  }

  static std::unique_ptr<CMC_Setup> Load() {
    axis::LoadResult loaded =
        axis::LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/demo-linear.json");
    EXPECT_TRUE(loaded) << loaded.error;
    if (loaded) loaded.setup->SetScaleProvider({&kestrel::ScaleFactor, &kestrel::ScaleOffset});
    return std::move(loaded.setup);
  }

  void Set(const char* name, double value) {
    setup_->FindParameter(name)->SetValueInBaseUnit(value);
  }
  double Get(const char* name) { return setup_->FindParameter(name)->GetValueInBaseUnit(); }

  static std::set<int> EnabledAmongRuled(const CDriveInfo& dlg) {
    std::set<int> enabled;
    for (int id : kEveryRuledControl) {
      const axis::ControlState* c = dlg.Control(id);
      EXPECT_NE(c, nullptr) << id;
      if (c != nullptr && c->enabled) enabled.insert(id);
    }
    return enabled;
  }

  ResourceFolder real_templates_{std::nullopt};  // after the fixture's folder: wins
  std::unique_ptr<CMC_Setup> setup_;
  std::vector<std::string> errors_;
};

TEST_F(DriveInfoTest, OpensLockedWithTheDrivesIdentity) {
  CDriveInfo dlg(*setup_, nullptr);
  ASSERT_EQ(dlg.LoadError(), "");
  dlg.OnInitDialog();
  EXPECT_FALSE(dlg.IsEditing());
  // 16384 words are 16 Kwords.
  EXPECT_EQ(dlg.GetChildText(3276), "16");
  EXPECT_EQ(dlg.GetChildText(3278), "KF-2.31");
  EXPECT_EQ(dlg.GetChildText(3277), "KD-4810-L");
  EXPECT_EQ(dlg.GetChildText(3275), setup_->GetDescription());
  EXPECT_EQ(dlg.GetChildText(3114), "demo-linear-1");
  // Bound values show: 12 V minimum motor supply, protections on.
  EXPECT_EQ(dlg.GetChildText(3087), "12");
  EXPECT_EQ(dlg.GetCheck(3325), 1);
  // Every switch of the demo drive is on: locked, only the unit combos beside them open up.
  EXPECT_EQ(EnabledAmongRuled(dlg),
            Union({kAlways, kSensorShow, kOverVShow, kUnderVShow, kI2tShow, kOverTShow}));
  EXPECT_EQ(errors_, std::vector<std::string>{});
}

TEST_F(DriveInfoTest, EnablingFollowsTheLockAndTheSwitches) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Row {
    const char* name;
    bool unlocked;
    double sensor, over_v, under_v, i2t, over_t;
    std::set<int> enabled;
  };
  const std::vector<Row> rows = {
      {"locked, switches off", false, 0, 0, 0, 0, 0, kAlways},
      {"unlocked, switches off", true, 0, 0, 0, 0, 0, Union({kAlways, kHardware})},
      {"unlocked, switches on", true, 1, 1, 1, 1, 1, kEveryRuledControl},
      {"locked, sensor only", false, 1, 0, 0, 0, 0, Union({kAlways, kSensorShow})},
      {"unlocked, sensor only", true, 1, 0, 0, 0, 0,
       Union({kAlways, kHardware, kSensorEdit, kSensorShow})},
      {"unlocked, over voltage only", true, 0, 1, 0, 0, 0,
       Union({kAlways, kHardware, kOverVEdit, kOverVShow})},
      {"unlocked, under voltage only", true, 0, 0, 1, 0, 0,
       Union({kAlways, kHardware, kUnderVEdit, kUnderVShow})},
      {"unlocked, I2t only", true, 0, 0, 0, 1, 0, Union({kAlways, kHardware, kI2tEdit, kI2tShow})},
      // Over temperature without the sensor (a setup as read): its row follows its own switch,
      // but the check box itself needs the sensor.
      {"unlocked, over temperature only", true, 0, 0, 0, 0, 1,
       Union({kAlways, kHardware, kOverTEdit, kOverTShow})},
      {"a switch is set only at exactly 1", true, 0.5, 2, -1, nan, 0.999,
       Union({kAlways, kHardware})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Set("isDriveTemperatureSensor", row.sensor);
    Set("isOverVoltage", row.over_v);
    Set("isUnderVoltage", row.under_v);
    Set("isDriveI2t", row.i2t);
    Set("isDriveOverTemp", row.over_t);
    CDriveInfo dlg(*setup_, nullptr);
    dlg.OnInitDialog();
    if (row.unlocked) dlg.UserKeyChord(kChord);
    EXPECT_EQ(dlg.IsEditing(), row.unlocked);
    EXPECT_EQ(EnabledAmongRuled(dlg), row.enabled);
  }
}

TEST_F(DriveInfoTest, EditChordIsCtrlAltShiftE) {
  struct Row {
    const char* chord;
    bool is_edit_chord;
  };
  const Row rows[] = {
      {"Ctrl+Alt+Shift+E", true},
      {"Shift+Ctrl+Alt+E", true},
      {"alt+shift+ctrl+e", true},
      {"Ctrl+Shift+E", false},
      {"Ctrl+Alt+E", false},
      {"Alt+Shift+E", false},
      {"Ctrl+Alt+Shift+F", false},
      {"Ctrl+Alt+Shift+Meta+E", false},
      {"Ctrl+Ctrl+Alt+Shift+E", false},
      {"Ctrl+Alt+Shift+", false},
      {"E", false},
      {"", false},
      {"E+Ctrl+Alt+Shift", false},
      {"Ctrl+Alt+Shift+EE", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.chord);
    EXPECT_EQ(CDriveInfo::IsEditChord(row.chord), row.is_edit_chord);
    // The same through the dialog: the chord toggles the lock and still goes on to the dialog.
    CDriveInfo dlg(*setup_, nullptr);
    dlg.OnInitDialog();
    EXPECT_FALSE(dlg.UserKeyChord(row.chord));
    EXPECT_EQ(dlg.IsEditing(), row.is_edit_chord);
    EXPECT_EQ(dlg.Control(3087)->enabled, row.is_edit_chord);
  }
}

TEST_F(DriveInfoTest, SecondChordLocksAgain) {
  CDriveInfo dlg(*setup_, nullptr);
  platform_.Key(kChord).Type(1159, "3").Key(kChord).Type(1159, "2").EndOk();
  EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
  // The first edit went through, the second was refused on a locked field.
  EXPECT_EQ(Get("InPS"), 3);
  EXPECT_EQ(platform_.ScriptErrors().size(), 1u);
  EXPECT_FALSE(dlg.IsEditing());
  EXPECT_FALSE(dlg.Control(1159)->enabled);
}

TEST_F(DriveInfoTest, TemperatureSensorOffSwitchesOverTemperatureOff) {
  struct Row {
    const char* name;
    double sensor, over_t;
    int click;  // a check box the user clicks
    double sensor_after, over_t_after;
  };
  const Row rows[] = {
      {"sensor unchecked while protected", 1, 1, 3097, 0, 0},
      {"sensor unchecked, protection already off", 1, 0, 3097, 0, 0},
      {"sensor checked keeps the protection", 0, 0, 3097, 1, 0},
      {"protection unchecked", 1, 1, 3325, 1, 0},
      {"protection checked with the sensor", 1, 0, 3325, 1, 1},
      // A setup read with the protection on but no sensor: any protection click mends it.
      {"over voltage clicked mends it", 0, 1, 3103, 0, 0},
      {"under voltage clicked mends it", 0, 1, 3105, 0, 0},
      {"I2t clicked mends it", 0, 1, 3107, 0, 0},
      // Only exactly 1.0 counts as on.
      {"half-set protection is left", 0, 0.5, 3103, 0, 0.5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Set("isDriveTemperatureSensor", row.sensor);
    Set("isDriveOverTemp", row.over_t);
    CDriveInfo dlg(*setup_, nullptr);
    platform_.Key(kChord).Click(row.click).EndOk();
    EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
    EXPECT_EQ(platform_.ScriptErrors(), std::vector<std::string>{});
    EXPECT_EQ(Get("isDriveTemperatureSensor"), row.sensor_after);
    EXPECT_EQ(Get("isDriveOverTemp"), row.over_t_after);
    EXPECT_EQ(dlg.GetCheck(3325), row.over_t_after != 0.0 ? 1 : 0);
    // The rows that need the sensor follow the click at once.
    EXPECT_EQ(dlg.Control(1165)->enabled, row.sensor_after == 1.0);
    EXPECT_EQ(dlg.Control(3325)->enabled, row.sensor_after == 1.0);
    EXPECT_EQ(dlg.Control(1178)->enabled, row.over_t_after == 1.0);
  }
}

TEST_F(DriveInfoTest, OkStoresTheEepromSizeInWords) {
  struct Row {
    const char* typed;
    int words;
    bool warned;  // larger than the 16-bit field holds
  };
  const Row rows[] = {
      {"32", 32 * 1024, false},
      {"0", 0, false},
      {"1", 1024, false},
      {"63", 63 * 1024, false},
      {" 7 Kwords", 7168, false},
      {"12abc", 12 * 1024, false},
      {"abc", 0, false},
      {"", 0, false},
      {"-5", 0, false},
      {"+4", 0, false},
      {"64", 63 * 1024, true},
      {"1000", 63 * 1024, true},
      {"99999999999999999999999999", 63 * 1024, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    axis::HeadlessPlatform platform;
    axis::SetPlatform(&platform);
    setup_->SetE2ROMSize(8 * 1024);
    CDriveInfo dlg(*setup_, nullptr);
    platform.Key(kChord).Type(3276, row.typed).EndOk();
    EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
    EXPECT_EQ(setup_->GetE2ROMSize(), row.words);
    ASSERT_EQ(platform.MessageLog().size(), row.warned ? 1u : 0u);
    if (row.warned) {
      EXPECT_EQ(platform.MessageLog()[0].request.text,
                "The E2ROM size is at most 63 Kwords; 63 Kwords are stored.");
    }
    axis::SetPlatform(&platform_);
  }
}

TEST_F(DriveInfoTest, EepromSizeShowsAgainAsTyped) {
  CDriveInfo first(*setup_, nullptr);
  platform_.Key(kChord).Type(3276, "32").EndOk();
  EXPECT_EQ(first.DoModal(), axis::kIdOk);
  EXPECT_EQ(setup_->GetE2ROMSize(), 32768);
  CDriveInfo second(*setup_, nullptr);
  second.OnInitDialog();
  EXPECT_EQ(second.GetChildText(3276), "32");
}

TEST_F(DriveInfoTest, OkStoresTheTextsAndARefusedFirmwareIdIsReported) {
  struct Row {
    const char* name;
    const char* firmware;
    const char* firmware_after;
    bool message;
  };
  const Row rows[] = {
      {"accepted", "KF-3.00", "KF-3.00", false},
      {"refused", "", "KF-2.31", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    axis::HeadlessPlatform platform;
    axis::SetPlatform(&platform);
    setup_ = Load();
    CDriveInfo dlg(*setup_, nullptr);
    platform.Key(kChord)
        .Type(3278, row.firmware)
        .Type(3277, "KD-9")
        .Type(3275, "Y axis")
        .Type(3114, "app-7")
        .EndOk();
    EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
    EXPECT_EQ(setup_->GetFirmwareID(), row.firmware_after);
    EXPECT_EQ(setup_->GetProductID(), "KD-9");
    EXPECT_EQ(setup_->GetDescription(), "Y axis");
    EXPECT_EQ(setup_->GetUserAppID(), "app-7");
    ASSERT_EQ(platform.MessageLog().size(), row.message ? 1u : 0u);
    if (row.message) {
      const axis::MessageBoxRequest& box = platform.MessageLog()[0].request;
      EXPECT_EQ(box.text, "Error setting the firmware ID!");
      EXPECT_EQ(box.buttons, axis::MessageButtons::kOk);
    }
    axis::SetPlatform(&platform_);
  }
}

TEST_F(DriveInfoTest, CancelStoresNoText) {
  CDriveInfo dlg(*setup_, nullptr);
  platform_.Key(kChord).Type(3277, "other").Type(3276, "2").Type(3114, "x").EndCancel();
  EXPECT_EQ(dlg.DoModal(), axis::kIdCancel);
  EXPECT_EQ(setup_->GetProductID(), "KD-4810-L");
  EXPECT_EQ(setup_->GetE2ROMSize(), 16384);
  EXPECT_EQ(setup_->GetUserAppID(), "demo-linear-1");
}

TEST_F(DriveInfoTest, ApplicationIdTakesFortyCharactersAndStaysEditableWhenLocked) {
  const std::string typed(50, 'a');
  CDriveInfo dlg(*setup_, nullptr);
  platform_.Type(3114, typed).EndOk();
  EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
  EXPECT_EQ(platform_.ScriptErrors(), std::vector<std::string>{});
  EXPECT_EQ(setup_->GetUserAppID(), std::string(40, 'a'));
}

TEST_F(DriveInfoTest, LockedIdentityCannotBeTyped) {
  for (int id : {3275, 3276, 3277, 3278}) {
    SCOPED_TRACE(id);
    CDriveInfo dlg(*setup_, nullptr);
    dlg.OnInitDialog();
    EXPECT_FALSE(dlg.UserType(id, "1"));
    dlg.UserKeyChord(kChord);
    EXPECT_TRUE(dlg.UserType(id, "1"));
  }
}

// OK encodes the registers from the edited hardware data, as the encoding pass does.
TEST_F(DriveInfoTest, OkRunsTheEncodingPass) {
  const double umax_before = Get("UMAXPROT");
  CDriveInfo dlg(*setup_, nullptr);
  platform_.Key(kChord).Type(1169, "40").EndOk();
  EXPECT_EQ(dlg.DoModal(), axis::kIdOk);

  std::unique_ptr<CMC_Setup> reference = Load();
  reference->FindParameter("UMAX_PROT")->SetValueInBaseUnit(40);
  kestrel::ComputeRegistersFromParameters(*reference);
  EXPECT_NE(reference->FindParameter("UMAXPROT")->GetValueInBaseUnit(), umax_before);
  for (int i = 0; i < setup_->GetParameters().GetParametersCount(); ++i) {
    const CMC_Parameter* p = setup_->GetParameters()[i];
    if (p->GetType() != axis::kTypeRegister) continue;
    SCOPED_TRACE(p->GetName());
    const double expected = reference->FindParameter(p->GetName())->GetValueInBaseUnit();
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(p->GetValueInBaseUnit()));
    } else {
      EXPECT_EQ(p->GetValueInBaseUnit(), expected);
    }
  }
}

// A setup without the drive data: nothing binds, the chord and OK still work.
TEST_F(DriveInfoTest, SetupWithoutDriveDataRuns) {
  CMC_Setup empty;
  CDriveInfo dlg(empty, nullptr);
  platform_.Key(kChord).Click(3097).Type(3276, "4").EndOk();
  EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
  EXPECT_EQ(empty.GetE2ROMSize(), 4096);
  EXPECT_FALSE(dlg.Control(1165)->enabled);
}

}  // namespace
