// "Motor mass": the user's choice when the motor alone outweighs the total moving mass.
#include "editor/mass_question.h"

#include "editor/editor_test_support.h"

namespace {

using namespace axis::testing;
using Dlg = CMassQuestion;

class MassQuestionTest : public EditorTest {};

TEST_F(MassQuestionTest, EachChoiceChangesItsOwnParameterOnOk) {
  // The radio button clicked (0: none, the default kept), how the dialog ends; the choice after.
  // clang-format off
  struct Row { const char* name; int click, end, selection; double mt, unknown; };
  const Row rows[] = {
      {"default raises the total mass 1 % over the motor's", 0, axis::kIdOk, 1, 1.2 * 1.01, 0},
      {"disregard the motor mass", Dlg::kDisregardMotorMass, axis::kIdOk, 2, 1.0, 1},
      {"cancel changes nothing", Dlg::kDisregardMotorMass, axis::kIdCancel, 2, 1.0, 0},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    t.Physical({{"M", 1.2, "kg"}, {"Mt", 1.0, "kg"}, {"isMotorMassUnknown", 0}});
    Dlg dlg(*t, nullptr);
    if (row.click != 0) platform_.Click(row.click);
    platform_.End(row.end);
    EXPECT_EQ(dlg.DoModal(), row.end);
    EXPECT_EQ(dlg.Selection(), row.selection);
    EXPECT_EQ(dlg.GetCheck(Dlg::kIncreaseTotalMass), row.selection == 1 ? 1 : 0);
    EXPECT_EQ(dlg.GetCheck(Dlg::kDisregardMotorMass), row.selection == 2 ? 1 : 0);
    EXPECT_DOUBLE_EQ(t.Get("Mt"), row.mt);
    EXPECT_EQ(t.Get("isMotorMassUnknown"), row.unknown);
    EXPECT_TRUE(platform_.ScriptErrors().empty());
  }
}

}  // namespace
