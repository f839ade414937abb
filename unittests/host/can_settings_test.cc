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
using Texts = std::vector<std::string>;

class CanSettingsTest : public testing::DialogTest {
 protected:
  ResourceFolder real_templates_{std::nullopt};  // the drive setup template has the CAN controls
  CMC_Setup setup_;
};

TEST_F(CanSettingsTest, BitRateComboListsTheRatesTheRangeHoldsAndThePresentOne) {
  const Texts all = {"10 kbit/s",  "20 kbit/s",  "50 kbit/s",  "125 kbit/s",
                     "250 kbit/s", "500 kbit/s", "800 kbit/s", "1 Mbit/s"};
  Texts own = all;
  own.insert(own.begin() + 3, "100 kbit/s");
  // clang-format off
  struct Row { const char* name; double value, min, max; Texts items; const char* shown; };
  const Row rows[] = {
      {"standard rate", 500, 10, 1000, all, "500 kbit/s"},
      {"1 Mbit/s", 1000, 10, 1000, all, "1 Mbit/s"},
      {"a rate of its own is listed in its place", 100, 10, 1000, own, "100 kbit/s"},
      {"only the rates the range holds", 250, 100, 500,
       {"125 kbit/s", "250 kbit/s", "500 kbit/s"}, "250 kbit/s"},
      {"no rate yet", 0, 10, 1000, all, ""}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CMC_Setup setup;
    ASSERT_NE(setup.AddParameter(
                  {.name = "CAN_baudrate", .value = row.value, .min = row.min, .max = row.max}),
              nullptr);
    RecordingDlg dlg(setup, 106);
    EXPECT_EQ(dlg.EnableCANSettings(), 1);
    EXPECT_EQ(testing::ComboItems(dlg, kCanBitRateCombo), row.items);
    EXPECT_EQ(dlg.GetChildText(kCanBitRateCombo), row.shown);
    EXPECT_TRUE(dlg.Control(kCanBitRateCombo)->enabled);
  }
}

TEST_F(CanSettingsTest, ChoosingARateStoresIt) {
  CMC_Parameter* rate = setup_.AddParameter({.name = "CAN_baudrate", .value = 500, .max = 1000});
  RecordingDlg dlg(setup_, 106);
  ASSERT_EQ(dlg.EnableCANSettings(), 1);
  ASSERT_TRUE(dlg.UserSelectCombo(kCanBitRateCombo, 3));
  EXPECT_EQ(rate->GetValueInBaseUnit(), 125);
  // The host runs its combo: the choice reaches the dialog as a stored value, not a selection.
  EXPECT_EQ(dlg.log, (Texts{"refresh:CAN_baudrate", "changed:CAN_baudrate"}));
  rate->SetValueInBaseUnit(800);  // a value set elsewhere shows at the next refresh
  dlg.RefreshAllParameters();
  EXPECT_EQ(dlg.GetChildText(kCanBitRateCombo), "800 kbit/s");
  // Without a bit rate there is nowhere to keep a choice; a template without the combo has no
  // CAN settings at all.
  CMC_Setup none;
  RecordingDlg empty(none, 106);
  EXPECT_EQ(empty.EnableCANSettings(), 0);
  EXPECT_TRUE(empty.Control(kCanBitRateCombo)->items.empty());
  EXPECT_FALSE(empty.Control(kCanBitRateCombo)->enabled);
  ResourceFolder test_templates(testing::TestDataDirectory());
  EXPECT_EQ(RecordingDlg(setup_, 900).EnableCANSettings(), 0);
}

TEST_F(CanSettingsTest, CanOpenButtonSaysWhenTheSetupHasNone) {
  RecordingDlg dlg(setup_, 106);
  dlg.EnableCANSettings();
  RecordingDlg plain(setup_, 106);  // without EnableCANSettings the button is the dialog's
  platform_.Click(kCanOpenSettingsButton).EndCancel().Click(kCanOpenSettingsButton).EndCancel();
  dlg.DoModal();
  plain.DoModal();
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text, "The setup holds no CANopen settings.");
}

TEST_F(CanSettingsTest, CanOpenDialogEditsWhatTheSetupCarriesAndCancelPutsItBack) {
  for (const auto& [end, heartbeat_s] : {std::pair{kIdOk, 0.25}, {kIdCancel, 0.1}}) {
    SCOPED_TRACE(end);
    CMC_Setup setup;
    CMC_Parameter* heartbeat = setup.AddParameter(
        {.name = "CANopen_HeartbeatTime", .value = 0.1, .max = 65.535, .base_unit = "s"});
    ASSERT_NE(heartbeat, nullptr);
    RecordingDlg dlg(setup, 106);
    dlg.EnableCANSettings();
    platform_.Click(kCanOpenSettingsButton).Type(1202, "0.25").End(end).EndCancel();
    EXPECT_EQ(dlg.DoModal(), kIdCancel);
    EXPECT_EQ(heartbeat->GetValueInBaseUnit(), heartbeat_s);
    EXPECT_TRUE(platform_.ScriptErrors().empty()) << platform_.ScriptErrors().front();
  }
}

TEST_F(CanSettingsTest, CanOpenDialogHidesRowsTheSetupLacks) {
  ASSERT_NE(setup_.AddParameter({.name = "CANopen_LifeTimeFactor", .value = 3, .max = 255}),
            nullptr);
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
