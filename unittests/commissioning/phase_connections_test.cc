// The motor phase connection test: its two routines step by step and its verdict on the phase
// currents the drive measured.
#include "commissioning/phase_connections.h"

#include "commissioning/commissioning_test_support.h"

namespace {

using namespace axis::testing;
using Dlg = CTestPhaseConnections;

class PhaseConnectionTest : public CommissioningTest {
 protected:
  // 2 A is 6552 counts: the bounds on IA are 1.2 A and 2.8 A.
  void SetUp() override {
    CommissioningTest::SetUp();
    Set(*setup_, "TestCurrent", 2.0);
  }
  // A run whose main routine leaves these phase currents (counts); the dialog then closes.
  void Run(Dlg& d, double var_i1, double var_i2) {
    Play({{}, {.drive = {{"var_i1", var_i1}, {"var_i2", var_i2}}}});
    platform_.Click(Dlg::kStartStop).Wait(100);
    d.DoModal();
  }
};

TEST_F(PhaseConnectionTest, PositionsThenDrivesPhaseAStepByStep) {
  Play({{}, {.drive = {{"var_i1", 6552}, {"var_i2", -3276}}}});
  Dlg d(*setup_, nullptr);
  platform_.Click(Dlg::kStartStop).Do([&](axis::DialogModel&) {
    EXPECT_EQ(platform_.statuses,
              (std::vector<std::string>{"Launching the application for preliminary test",
                                        "Waiting preliminary test to be finished"}));
    EXPECT_EQ(d.StepIndex(), 2);
    ASSERT_EQ(Labels(), std::vector<std::string>{"Initial_Positioning_Test"});
    EXPECT_EQ(drive_.launches[0].inputs, (axis::UserVariables{{"In1", 6552}}));
    EXPECT_FALSE(drive_.launches[0].logged);
  });
  Tick([&](CMC_TestDlg& t) {
    EXPECT_EQ(platform_.statuses.size(), 4u);
    EXPECT_EQ(platform_.statuses.back(), "Running test");
    EXPECT_EQ(platform_.statuses[2], "Launching the application for test");
    EXPECT_EQ(t.StepIndex(), 4);
    ASSERT_EQ(drive_.launches.size(), 2u);
    EXPECT_EQ(drive_.launches[1].label, "Motor_Phase_Connection_Test");
    EXPECT_EQ(drive_.launches[1].inputs,
              (axis::UserVariables{{"RefTest", 1200}, {"RIncTest", -7}}));
    EXPECT_TRUE(t.TestRunning());
  });
  Tick([&](CMC_TestDlg& t) {
    EXPECT_FALSE(t.TestRunning());
    EXPECT_EQ(t.TestResult(), 1);
    EXPECT_EQ(t.GetChildText(CMC_TestDlg::kResultText), "Test succeeded.");
    EXPECT_EQ(t.GetChildText(Dlg::kPhaseAEdit), "2");
    EXPECT_EQ(t.GetChildText(Dlg::kPhaseBEdit), "-1");
  });
  platform_.Click(axis::kIdCancel);
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);
  EXPECT_EQ(platform_.statuses.size(), 4u) << "\"Finished test\" is never shown";
  EXPECT_TRUE(platform_.MessageLog().empty()) << "the test identifies nothing";
  EXPECT_EQ(drive_.launches.size(), 2u);
}

TEST_F(PhaseConnectionTest, PassesOnlyWithinTheBoundsAfterRoundingToHundredths) {
  // Counts of phases A and B (3276 a ampere) and the currents shown, rounded to 0.01 A.
  // clang-format off
  const struct { const char* name; double a, b; bool passes; double ia, ib; } rows[] = {
      {"A carries Itest, B half back", 6552, -3276, true, 2.0, -1.0},
      {"shown rounded", 6552, -2871, true, 2.0, -0.88},  // -0.8764 A
      {"no current in B", 6552, 0, false, 2.0, 0.0},
      {"B rounds to zero", 6552, -16, false, 2.0, 0.0},  // -0.0049 A
      {"ratio 1.5 once rounded", 4914, -3274, false, 1.5, -1.0},  // -0.9994 A: 1.5009 unrounded
      {"ratio 1.515", 4914, -3243, true, 1.5, -0.99},
      {"ratio 2.5 once rounded", 6552, -2622, false, 2.0, -0.8},  // -0.8004 A: 2.4989 unrounded
      {"ratio 2.469", 6552, -2654, true, 2.0, -0.81},
      {"IA 0.6 Itest once rounded", 3946, -1966, false, 1.2, -0.6},  // 1.2045 A unrounded
      {"IA 1.21 A", 3964, -1966, true, 1.21, -0.6},
      {"IA 1.4 Itest once rounded", 9170, -4586, false, 2.8, -1.4},  // 2.7991 A unrounded
      {"IA 2.79 A", 9140, -4586, true, 2.79, -1.4},
      {"both negative", -6552, -3276, false, -2.0, -1.0},
      {"B positive", 6552, 3276, false, 2.0, 1.0},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Dlg d(*setup_, nullptr);
    Run(d, row.a, row.b);
    EXPECT_EQ(d.TestResult(), row.passes ? 1 : 0);
    EXPECT_EQ(d.ErrorText(), row.passes ? "" : Dlg::kFailureText);
    EXPECT_EQ(d.GetChildText(CMC_TestDlg::kResultText),
              row.passes ? "Test succeeded." : Dlg::kFailureText);
    EXPECT_EQ(d.PhaseA_A(), row.ia);
    EXPECT_EQ(d.PhaseB_A(), row.ib);
  }
  EXPECT_EQ(platform_.MessageLog().size(), 0u);
}

TEST_F(PhaseConnectionTest, ShowsTheRoundedCurrentsWithThreeDigits) {
  Dlg d(*setup_, nullptr);
  Run(d, 6552, -2871);  // -0.8764 A shows as -0.88, not -0.876
  EXPECT_EQ(d.GetChildText(Dlg::kPhaseBEdit), "-0.88");
  EXPECT_EQ(d.TestResult(), 1);
}

}  // namespace
