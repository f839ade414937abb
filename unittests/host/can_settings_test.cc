// The host's CAN settings: the bit-rate combo bound to "CAN_baudrate" and the CANopen settings
// dialog behind "CANopen settings...".
#include "host/can_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/dialog_test_support.h"

namespace axis {
namespace {

using testing::RecordingDlg;
using testing::ResourceFolder;

class CanSettingsTest : public testing::DialogTest {
 protected:
  CMC_Parameter* Add(const char* name, double value, double min, double max,
                     const char* unit = "") {
    CMC_Parameter* p = setup_.AddParameter(
        {.name = name, .value = value, .min = min, .max = max, .base_unit = unit});
    EXPECT_NE(p, nullptr);
    return p;
  }
  static std::vector<std::string> Items(const CMC_EditSetupDlg& dlg) {
    std::vector<std::string> texts;
    for (const ComboItem& item : dlg.Control(kCanBitRateCombo)->items) texts.push_back(item.text);
    return texts;
  }

  ResourceFolder real_templates_{std::nullopt};  // the drive setup template has the CAN controls
  CMC_Setup setup_;
};

TEST_F(CanSettingsTest, BitRateCombo) {
  struct Row {
    const char* name;
    double value, min, max;
    std::vector<std::string> items;
    const char* shown;
  };
  const std::vector<std::string> all = {"10 kbit/s",  "20 kbit/s",  "50 kbit/s",  "125 kbit/s",
                                        "250 kbit/s", "500 kbit/s", "800 kbit/s", "1 Mbit/s"};
  const Row rows[] = {
      {"standard rate", 500, 10, 1000, all, "500 kbit/s"},
      {"1 Mbit/s", 1000, 10, 1000, all, "1 Mbit/s"},
      {"a rate of its own is listed in its place",
       100,
       10,
       1000,
       {"10 kbit/s", "20 kbit/s", "50 kbit/s", "100 kbit/s", "125 kbit/s", "250 kbit/s",
        "500 kbit/s", "800 kbit/s", "1 Mbit/s"},
       "100 kbit/s"},
      {"only the rates the range holds",
       250,
       100,
       500,
       {"125 kbit/s", "250 kbit/s", "500 kbit/s"},
       "250 kbit/s"},
      {"no rate yet", 0, 10, 1000, all, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CMC_Setup setup;
    ASSERT_NE(setup.AddParameter(
                  {.name = "CAN_baudrate", .value = row.value, .min = row.min, .max = row.max}),
              nullptr);
    RecordingDlg dlg(setup, 106);
    EXPECT_EQ(dlg.EnableCANSettings(), 1);
    EXPECT_EQ(Items(dlg), row.items);
    EXPECT_EQ(dlg.GetChildText(kCanBitRateCombo), row.shown);
    EXPECT_TRUE(dlg.Control(kCanBitRateCombo)->enabled);
  }
}

TEST_F(CanSettingsTest, ChoosingARateStoresIt) {
  CMC_Parameter* rate = Add("CAN_baudrate", 500, 10, 1000);
  RecordingDlg dlg(setup_, 106);
  ASSERT_EQ(dlg.EnableCANSettings(), 1);
  ASSERT_TRUE(dlg.UserSelectCombo(kCanBitRateCombo, 3));
  EXPECT_EQ(rate->GetValueInBaseUnit(), 125);
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"select:6303", "refresh:CAN_baudrate",
                                               "changed:CAN_baudrate"}));
  // A value set elsewhere shows at the next refresh.
  rate->SetValueInBaseUnit(800);
  dlg.RefreshAllParameters();
  EXPECT_EQ(dlg.GetChildText(kCanBitRateCombo), "800 kbit/s");
}

TEST_F(CanSettingsTest, WithoutABitRateTheComboStaysEmptyAndDisabled) {
  RecordingDlg dlg(setup_, 106);
  EXPECT_EQ(dlg.EnableCANSettings(), 0);
  EXPECT_TRUE(dlg.Control(kCanBitRateCombo)->items.empty());
  EXPECT_FALSE(dlg.Control(kCanBitRateCombo)->enabled);
  // A template without the combo has no CAN settings at all.
  ResourceFolder test_templates(testing::TestDataDirectory());
  RecordingDlg other(setup_, 900);
  EXPECT_EQ(other.EnableCANSettings(), 0);
}

TEST_F(CanSettingsTest, CanOpenButtonSaysWhenTheSetupHasNone) {
  RecordingDlg dlg(setup_, 106);
  dlg.EnableCANSettings();
  platform_.Click(kCanOpenSettingsButton).EndCancel();
  dlg.DoModal();
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text, "The setup holds no CANopen settings.");
  // Without EnableCANSettings the button is the dialog's own business.
  RecordingDlg plain(setup_, 106);
  platform_.Click(kCanOpenSettingsButton).EndCancel();
  plain.DoModal();
  EXPECT_EQ(platform_.MessageLog().size(), 1u);
}

TEST_F(CanSettingsTest, CanOpenDialogEditsWhatTheSetupCarries) {
  struct Row {
    const char* name;
    int end;
    double heartbeat_s;
  };
  const Row rows[] = {{"OK keeps the typed value", kIdOk, 0.25},
                      {"Cancel puts the old value back", kIdCancel, 0.1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CMC_Setup setup;
    CMC_Parameter* heartbeat = setup.AddParameter(
        {.name = "CANopen_HeartbeatTime", .value = 0.1, .min = 0, .max = 65.535, .base_unit = "s"});
    ASSERT_NE(heartbeat, nullptr);
    RecordingDlg dlg(setup, 106);
    dlg.EnableCANSettings();
    platform_.Click(kCanOpenSettingsButton).Type(1202, "0.25").End(row.end).EndCancel();
    EXPECT_EQ(dlg.DoModal(), kIdCancel);
    EXPECT_EQ(heartbeat->GetValueInBaseUnit(), row.heartbeat_s);
    EXPECT_TRUE(platform_.ScriptErrors().empty()) << platform_.ScriptErrors().front();
  }
}

TEST_F(CanSettingsTest, CanOpenDialogHidesRowsTheSetupLacks) {
  Add("CANopen_LifeTimeFactor", 3, 0, 255);
  CMC_CANopenSettingsDlg dlg(setup_, nullptr);
  ASSERT_EQ(dlg.LoadError(), "");
  EXPECT_EQ(dlg.Template().caption, "CANopen Settings");
  for (int id : {1201, 1202, 1203, 1211, 1212, 1213}) EXPECT_FALSE(dlg.IsVisible(id)) << id;
  for (int id : {1221, 1222}) EXPECT_TRUE(dlg.IsVisible(id)) << id;
  EXPECT_EQ(dlg.Control(1222)->parameter, "CANopen_LifeTimeFactor");
  EXPECT_TRUE(CMC_CANopenSettingsDlg::SetupHasSettings(setup_));
  CMC_Setup empty;
  EXPECT_FALSE(CMC_CANopenSettingsDlg::SetupHasSettings(empty));
}

}  // namespace
}  // namespace axis
