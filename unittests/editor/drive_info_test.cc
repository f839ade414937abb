// The drive info dialog: the lock on the hardware data, the enabling rules and what OK stores.
#include "editor/drive_info.h"

#include <limits>
#include <set>

#include "passes/passes.h"
#include "editor/editor_test_support.h"

namespace {

using namespace axis::testing;

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

class DriveInfoTest : public EditorTest {
 protected:
  double Get(const char* name) { return axis::testing::Get(*setup_, name); }
  std::unique_ptr<CMC_Setup> setup_ = Bundled();
};

TEST_F(DriveInfoTest, EnablingFollowsTheLockAndTheSwitches) {
  const std::set<int> every =
      Union({kAlways, kHardware, kSensorEdit, kSensorShow, kOverVEdit, kOverVShow, kUnderVEdit,
             kUnderVShow, kI2tEdit, kI2tShow, kOverTEdit, kOverTShow});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // clang-format off
  struct Row { const char* name; bool unlocked; double sensor, over_v, under_v, i2t, over_t;
               std::set<int> enabled; };
  const std::vector<Row> rows = {
      {"locked, switches off", false, 0, 0, 0, 0, 0, kAlways},
      {"unlocked, switches off", true, 0, 0, 0, 0, 0, Union({kAlways, kHardware})},
      {"unlocked, switches on", true, 1, 1, 1, 1, 1, every},
      {"locked, switches on", false, 1, 1, 1, 1, 1,
       Union({kAlways, kSensorShow, kOverVShow, kUnderVShow, kI2tShow, kOverTShow})},
      {"unlocked, over voltage only", true, 0, 1, 0, 0, 0,
       Union({kAlways, kHardware, kOverVEdit, kOverVShow})},
      // Over temperature without the sensor (a setup as read): its row follows its own switch,
      // but the check box itself needs the sensor.
      {"unlocked, over temperature only", true, 0, 0, 0, 0, 1,
       Union({kAlways, kHardware, kOverTEdit, kOverTShow})},
      {"a switch is set only at exactly 1", true, 0.5, 2, -1, nan, 0.999,
       Union({kAlways, kHardware})},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Set(*setup_, {{"isDriveTemperatureSensor", row.sensor},
                  {"isOverVoltage", row.over_v},
                  {"isUnderVoltage", row.under_v},
                  {"isDriveI2t", row.i2t},
                  {"isDriveOverTemp", row.over_t}});
    CDriveInfo dlg(*setup_, nullptr);
    dlg.OnInitDialog();
    if (row.unlocked) dlg.UserKeyChord(kChord);
    EXPECT_EQ(dlg.IsEditing(), row.unlocked);
    std::set<int> enabled;
    for (int id : every)
      if (Enabled(dlg, id)) enabled.insert(id);
    EXPECT_EQ(enabled, row.enabled);
  }
}

TEST_F(DriveInfoTest, EditChordIsCtrlAltShiftE) {
  // clang-format off
  const struct { const char* chord; bool is_edit_chord; } rows[] = {
      {"Ctrl+Alt+Shift+E", true}, {"Shift+Ctrl+Alt+E", true}, {"alt+shift+ctrl+e", true},
      {"Ctrl+Alt+E", false}, {"Ctrl+Alt+Shift+F", false}, {"Ctrl+Alt+Shift+Meta+E", false},
      {"Ctrl+Ctrl+Alt+Shift+E", false}, {"Ctrl+Alt+Shift+", false}, {"", false},
      {"E+Ctrl+Alt+Shift", false}, {"Ctrl+Alt+Shift+EE", false},
  };
  // clang-format on
  for (const auto& row : rows)
    EXPECT_EQ(CDriveInfo::IsEditChord(row.chord), row.is_edit_chord) << row.chord;
  // Through the dialog another chord changes nothing and a second edit chord locks again: the
  // first edit goes through, the second is refused.
  CDriveInfo dlg(*setup_, nullptr);
  platform_.Key("Ctrl+Alt+E").Key(kChord).Type(1159, "3").Key(kChord).Type(1159, "2").EndOk();
  EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
  EXPECT_EQ(Get("InPS"), 3);
  EXPECT_EQ(platform_.ScriptErrors().size(), 1u);
}

TEST_F(DriveInfoTest, TemperatureSensorOffSwitchesOverTemperatureOff) {
  // clang-format off
  struct Row { const char* name; double sensor, over_t; int click;
               double sensor_after, over_t_after; };
  const Row rows[] = {
      {"sensor unchecked while protected", 1, 1, 3097, 0, 0},
      {"sensor checked keeps the protection off", 0, 0, 3097, 1, 0},
      {"protection unchecked", 1, 1, 3325, 1, 0},
      {"protection checked with the sensor", 1, 0, 3325, 1, 1},
      // A setup read with the protection on but no sensor: any protection click mends it.
      {"over voltage clicked mends it", 0, 1, 3103, 0, 0},
      {"half-set protection is left", 0, 0.5, 3107, 0, 0.5},  // only exactly 1.0 counts as on
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Set(*setup_, {{"isDriveTemperatureSensor", row.sensor}, {"isDriveOverTemp", row.over_t}});
    CDriveInfo dlg(*setup_, nullptr);
    platform_.Key(kChord).Click(row.click).EndOk();
    EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
    EXPECT_EQ(platform_.ScriptErrors(), std::vector<std::string>{});
    EXPECT_EQ(Get("isDriveTemperatureSensor"), row.sensor_after);
    EXPECT_EQ(Get("isDriveOverTemp"), row.over_t_after);
    EXPECT_EQ(dlg.GetCheck(3325), row.over_t_after != 0.0 ? 1 : 0);
    // The rows that need the sensor follow the click at once.
    EXPECT_EQ(Enabled(dlg, 1165), row.sensor_after == 1.0);
    EXPECT_EQ(Enabled(dlg, 1178), row.over_t_after == 1.0);
  }
}

TEST_F(DriveInfoTest, OkStoresTheEepromSizeInWords) {
  // The leading digits count as Kwords; the host holds 16 bits of words, larger sizes are limited.
  const int kMax = 63 * 1024;
  // clang-format off
  const struct { const char* typed; int words; bool warned; } rows[] = {
      {"32", 32 * 1024}, {" 7 Kwords", 7168}, {"abc", 0}, {"", 0}, {"-5", 0}, {"63", kMax},
      {"64", kMax, true}, {"99999999999999999999999999", kMax, true}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.typed);
    const size_t before = platform_.MessageLog().size();
    CDriveInfo dlg(*setup_, nullptr);
    platform_.Key(kChord).Type(3276, row.typed).EndOk();
    EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
    EXPECT_EQ(setup_->GetE2ROMSize(), row.words);
    EXPECT_EQ(Messages(platform_, before),
              row.warned ? std::vector<std::string>{"The E2ROM size is at most 63 Kwords; 63 "
                                                    "Kwords are stored."}
                         : std::vector<std::string>{});
  }
}

// OK stores the texts (a refused firmware ID is reported) and encodes the edited hardware data;
// Cancel stores nothing. The application ID stays editable while locked, and takes 40 characters.
TEST_F(DriveInfoTest, OpensOnTheIdentityOkStoresItAndEncodesCancelDoesNot) {
  std::unique_ptr<CMC_Setup> encoded = Bundled({{"UMAX_PROT", 40}});
  kestrel::ComputeRegistersFromParameters(*encoded);
  for (const int end : {int{axis::kIdOk}, int{axis::kIdCancel}, 0}) {  // 0: OK, firmware refused
    SCOPED_TRACE(end);
    setup_ = Bundled();
    const std::string description = setup_->GetDescription();
    const double umaxprot = Get("UMAXPROT");
    ReportedErrors errors;
    CDriveInfo dlg(*setup_, nullptr);
    dlg.OnInitDialog();
    EXPECT_EQ(errors.list, std::vector<std::string>{});
    EXPECT_EQ(dlg.GetChildText(3276), "16");  // 16384 words are 16 Kwords
    EXPECT_EQ(dlg.GetChildText(3278), "KF-2.31");
    EXPECT_EQ(dlg.GetChildText(3277), "KD-4810-L");
    EXPECT_EQ(dlg.GetChildText(3275), description);
    EXPECT_EQ(dlg.GetChildText(3114), "demo-linear-1");
    EXPECT_EQ(dlg.GetChildText(3087), "12");  // bound values show: 12 V minimum motor supply
    const bool ok = end != axis::kIdCancel;
    const size_t before = platform_.MessageLog().size();
    platform_.Type(3114, std::string(50, 'a'))
        .Key(kChord)
        .Type(3278, end == 0 ? "" : "KF-3.00")
        .Type(3277, "KD-9")
        .Type(3275, "Y axis")
        .Type(1169, "40")
        .Type(3276, "2")
        .End(ok ? axis::kIdOk : axis::kIdCancel);
    EXPECT_EQ(dlg.DoModal(), ok ? axis::kIdOk : axis::kIdCancel);
    EXPECT_EQ(setup_->GetFirmwareID(), end == axis::kIdOk ? "KF-3.00" : "KF-2.31");
    EXPECT_EQ(setup_->GetProductID(), ok ? "KD-9" : "KD-4810-L");
    EXPECT_EQ(setup_->GetDescription(), ok ? "Y axis" : description);
    EXPECT_EQ(setup_->GetUserAppID(), ok ? std::string(40, 'a') : "demo-linear-1");
    EXPECT_EQ(setup_->GetE2ROMSize(), ok ? 2048 : 16384);
    EXPECT_EQ(Get("UMAXPROT"), ok ? axis::testing::Get(*encoded, "UMAXPROT") : umaxprot);
    EXPECT_EQ(Messages(platform_, before), end == 0 ? std::vector<std::string>{"Error setting the "
                                                                               "firmware ID!"}
                                                    : std::vector<std::string>{});
  }
}

// A setup without the drive data: nothing binds, the chord and OK still work.
TEST_F(DriveInfoTest, SetupWithoutDriveDataRuns) {
  CMC_Setup empty;
  CDriveInfo dlg(empty, nullptr);
  platform_.Key(kChord).Click(3097).Type(3276, "4").EndOk();
  EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
  EXPECT_EQ(empty.GetE2ROMSize(), 4096);
  EXPECT_FALSE(Enabled(dlg, 1165));
}

}  // namespace
