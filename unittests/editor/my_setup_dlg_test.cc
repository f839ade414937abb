// The editor base: an edited gain goes through its registers at once; dependent limits follow.
#include "editor/my_setup_dlg.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/dialog_test_support.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;

class MySetupDlgTest : public axis::testing::DialogTest {};

TestSetup GainSetup() {
  TestSetup t;
  // clang-format off
  t.Physical({{"Kp_P_scl", 0}, {"KFFA_scl", 0}, {"PolePitch", 0.03, "m"}, {"EncRes", 1e-6, "m"},
              {"In", 3, "A"}, {"InPS", 4, "A"}, {"MAX_CURRENT", 2, "A"}});
  t.Registers({{"KPP", 0}, {"SFTKPP", 0}, {"KFFA", 0}, {"SFTAFFW", 0}, {"SFTKFF", 0}});
  // clang-format on
  return t;
}

TEST_F(MySetupDlgTest, EditedGainsShowWhatTheRegistersHold) {
  // The name the host reports (case ignored); the mantissa kept (the host rounds what it is
  // handed), the shift registers SFTKPP, SFTAFFW and SFTKFF, the gain shown and its maximum.
  // clang-format off
  struct Row { const char *name, *notified; double typed; const char* mantissa;
               double stored_mantissa; std::vector<double> shifts; double shown, max; };
  const Row rows[] = {
      // 1.5 = 24575.25 x 2^1 / 32767; the register keeps 24575.
      {"Kp_P_scl", "Kp_P_scl", 1.5, "KPP", 24575, {1, 0, 0}, 24575 * 2.0 / 32767, 16384},
      {"Kp_P_scl", "KP_P_SCL", 2.0, "KPP", 32767, {1, 0, 0}, 2.0, 16384},
      // 3000 needs 12 shifts: 11 in SFTAFFW, 1 in SFTKFF; 3000 x 32767 / 4096 = 23999.27.
      {"KFFA_scl", "KFFA_scl", 3000, "KFFA", 23999, {0, 11, 1}, 23999 * 4096.0 / 32767, 4194304},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.notified);
    TestSetup t = GainSetup();
    CMySetupDlg dlg(*t, 900, 1, nullptr, nullptr);
    t.Set(row.name, row.typed);
    dlg.OnChangedParameterValue(row.notified);
    EXPECT_EQ(t.Get(row.mantissa), row.stored_mantissa);
    EXPECT_EQ((std::vector<double>{t.Get("SFTKPP"), t.Get("SFTAFFW"), t.Get("SFTKFF")}),
              row.shifts);
    EXPECT_DOUBLE_EQ(t.Get(row.name), row.shown);
    EXPECT_EQ(t.Max(row.name), row.max);
  }
}

TEST_F(MySetupDlgTest, PolePitchAndNominalCurrentBoundTheirDependents) {
  TestSetup t = GainSetup();
  CMySetupDlg dlg(*t, 900, 1, nullptr, nullptr);
  t.Set("PolePitch", 0.02);
  dlg.OnChangedParameterValue("PolePitch");
  EXPECT_EQ(t.Max("EncRes"), 0.02);
  // The test current follows the nominal currents only on drives with the angle controller.
  for (bool angle_controller : {false, true}) {
    SCOPED_TRACE(angle_controller);
    TestSetup a = GainSetup();
    if (angle_controller) a.Registers({{"KPTHT", 0}});
    CMySetupDlg d(*a, 900, 1, nullptr, nullptr);
    const double max_before = a.Max("MAX_CURRENT");
    a.Set("In", 1.5);
    d.OnChangedParameterValue("In");
    EXPECT_EQ(a.Max("MAX_CURRENT"), angle_controller ? 1.5 : max_before);
  }
}

}  // namespace
