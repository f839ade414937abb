// "Motor mass": the user's choice when the motor alone outweighs the total moving mass.
#include "editor/mass_question.h"

#include <gtest/gtest.h>

#include "host/dialog_test_support.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;

class MassQuestionTest : public axis::testing::DialogTest {
 protected:
  // The real template, from the build's resources.
  axis::testing::ResourceFolder real_templates_{std::nullopt};
};

TEST_F(MassQuestionTest, EachChoiceChangesItsOwnParameter) {
  struct Row {
    const char* name;
    int click;  // 0: keep the default choice
    double mt;
    double unknown;
  };
  const Row rows[] = {
      {"default raises the total mass by 1 % over the motor's", 0, 1.2 * 1.01, 0},
      {"increase, clicked", CMassQuestion::kIncreaseTotalMass, 1.2 * 1.01, 0},
      {"disregard the motor mass", CMassQuestion::kDisregardMotorMass, 1.0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    t.Physical({{"M", 1.2, "kg"}, {"Mt", 1.0, "kg"}, {"isMotorMassUnknown", 0}});
    CMassQuestion dlg(*t, nullptr);
    if (row.click != 0) platform_.Click(row.click);
    platform_.Click(axis::kIdOk);
    EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
    EXPECT_DOUBLE_EQ(t.Get("Mt"), row.mt);
    EXPECT_EQ(t.Get("isMotorMassUnknown"), row.unknown);
    EXPECT_TRUE(platform_.ScriptErrors().empty());
  }
}

TEST_F(MassQuestionTest, StartsOnIncreaseAndRadioButtonsFollowTheChoice) {
  TestSetup t;
  t.Physical({{"M", 1.2, "kg"}, {"Mt", 1.0, "kg"}, {"isMotorMassUnknown", 0}});
  CMassQuestion dlg(*t, nullptr);
  platform_.Click(CMassQuestion::kDisregardMotorMass).EndCancel();
  EXPECT_EQ(dlg.DoModal(), axis::kIdCancel);
  EXPECT_EQ(dlg.Selection(), 2);
  EXPECT_EQ(dlg.GetCheck(CMassQuestion::kIncreaseTotalMass), 0);
  EXPECT_EQ(dlg.GetCheck(CMassQuestion::kDisregardMotorMass), 1);
  EXPECT_TRUE(dlg.Control(axis::kIdOk)->enabled);
  EXPECT_EQ(t.Get("Mt"), 1.0) << "closing without OK changes nothing";
  EXPECT_EQ(t.Get("isMotorMassUnknown"), 0);
}

}  // namespace
