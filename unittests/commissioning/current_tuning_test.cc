// The current controller tuning test: its tabs, its two routines step by step with the record it
// plots, the protection flag, the gains "Tune" sends to a running drive, and OK.
#include "commissioning/current_tuning.h"

#include "commissioning/commissioning_test_support.h"

namespace {

using namespace axis::testing;
using Dlg = CTestCurrent;

// Test current 1.5 A (4914 counts), protection 7.5 A (24570 counts); "Imax_Prot" is 8 A.
class CurrentTuningTest : public CommissioningTest {
 protected:
  void SetUp() override {
    CommissioningTest::SetUp();
    Set(*setup_, "TestProtectionCurrent", 7.5);
  }
  // The main routine with this protection flag and a record of these motor currents (counts).
  static Routine Main(double test_flag, std::vector<double> currents = {1638}) {
    Routine main{.outputs = {{"test_flag", test_flag}}, .log = std::vector<axis::LogPoint>{}};
    for (double current : currents)
      main.log->push_back({main.log->size() * 1e-3, 3276, current, 2000});
    return main;
  }
  void ToTestPage() { platform_.SelectTab(Dlg::kTabs, Dlg::kTestPage); }
  static int Tab(const Dlg& d) { return d.Control(Dlg::kTabs)->selection; }
  static size_t MotorCurrentPoints(Dlg& d) {
    return d.Logger()->GetDocument().GetAt(0)->GetCurve(2)->Points().size();
  }
};

TEST_F(CurrentTuningTest, TheTestPageWantsTheProtectionAtLeastTheTestCurrent) {
  const std::string refused = "Over current protection must be greater or equal to Test current.";
  const struct {
    double test, protection;
    bool allowed;
  } rows[] = {{1.5, 7.5, true}, {7.5, 7.5, true}, {7.51, 7.5, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.test);
    Set(*setup_, {{"TestCurrent", row.test}, {"TestProtectionCurrent", row.protection}});
    const size_t shown = platform_.MessageLog().size();
    Dlg d(*setup_, nullptr);
    ToTestPage();
    platform_.Do([&](axis::DialogModel&) {
      EXPECT_EQ(Tab(d), row.allowed ? Dlg::kTestPage : Dlg::kParametersPage);
      EXPECT_EQ(d.IsVisible(Dlg::kStartStop), row.allowed);
    });
    d.DoModal();
    EXPECT_EQ(Messages(platform_, shown),
              row.allowed ? std::vector<std::string>{} : std::vector<std::string>{refused});
  }
  EXPECT_TRUE(drive_.launches.empty());
}

TEST_F(CurrentTuningTest, PositionsThenStepsTheCurrentAndPlotsTheRecord) {
  Play({{}, Main(1, {1638, 3276})});
  Dlg d(*setup_, nullptr);
  ToTestPage();
  platform_.Click(Dlg::kStartStop).Do([&](axis::DialogModel&) {
    EXPECT_EQ(platform_.statuses,
              (std::vector<std::string>{"Launching the application for preliminary test",
                                        "Waiting preliminary test to be finished"}));
    EXPECT_EQ(drive_.launches.at(0).inputs, (axis::UserVariables{{"In1", 4914}}));
    EXPECT_FALSE(Enabled(d, axis::kIdOk));
    EXPECT_FALSE(Enabled(d, Dlg::kKpEdit));
    EXPECT_TRUE(d.UserSelectTab(Dlg::kTabs, Dlg::kParametersPage));
    EXPECT_EQ(Tab(d), Dlg::kTestPage) << "the test runs on its page";
  });
  Tick([&](CMC_TestDlg& t) {
    EXPECT_EQ(platform_.statuses.size(), 4u);
    EXPECT_EQ(platform_.statuses[2], "Launching the application for test");
    EXPECT_EQ(platform_.statuses[3], "Running test");
    EXPECT_EQ(t.StepIndex(), 4);
    ASSERT_EQ(drive_.launches.size(), 2u);
    const auto& call = drive_.launches[1];
    EXPECT_EQ(call.label, "Current_Controller_Tuning_Test");
    EXPECT_EQ(call.inputs,
              (axis::UserVariables{
                  {"RefTest", 1200}, {"RIncTest", -7}, {"In1", 4914}, {"Imax_Prot_Test", 24570}}));
    ASSERT_TRUE(call.logged);
    EXPECT_EQ(call.log.variables, (std::vector<std::string>{"Current_Reference", "Motor_Current",
                                                            "Voltage_Reference"}));
    EXPECT_EQ(call.log.points, 100);
    EXPECT_EQ(call.log.rate, axis::LogRequest::Rate::kFastLoop);
    EXPECT_EQ(call.log.every, 1);
  });
  // The points are read with the user's messages pumped between them: these two checks run
  // after the first and the second point.
  platform_.Wait(20)
      .Do([&](axis::DialogModel&) {
        EXPECT_EQ(platform_.statuses.back(), "Uploading results");
        EXPECT_TRUE(d.TestRunning());
        EXPECT_EQ(MotorCurrentPoints(d), 1u);
      })
      .Do([&](axis::DialogModel&) { EXPECT_EQ(MotorCurrentPoints(d), 2u); })
      .Do([&](axis::DialogModel&) {
        EXPECT_EQ(d.TestResult(), 1) << d.ErrorText();
        EXPECT_EQ(d.GetChildText(CMC_TestDlg::kResultText), "Test succeeded.");
        const auto& points = d.Logger()->GetDocument().GetAt(0)->GetCurve(2)->Points();
        ASSERT_EQ(points.size(), 2u);
        EXPECT_DOUBLE_EQ(points[1].y, 1.0) << "3276 counts are 1 A";
        EXPECT_TRUE(Enabled(d, Dlg::kKpEdit)) << "the gains can be edited again";
      });
  // OK keeps the setup and takes the test's protection current as the drive's.
  platform_.Click(axis::kIdOk);
  EXPECT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(Get(*setup_, "Imax_Prot"), 7.5);
  EXPECT_EQ(platform_.statuses.size(), 5u);
}

TEST_F(CurrentTuningTest, CancelLeavesTheDrivesProtectionCurrent) {
  Dlg d(*setup_, nullptr);
  platform_.Click(axis::kIdCancel);
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);
  EXPECT_EQ(Get(*setup_, "Imax_Prot"), 8.0);
}

TEST_F(CurrentTuningTest, TheProtectionFlagDecides) {
  const struct {
    double flag;
    std::string error;
  } rows[] = {
      {1, ""},
      {0.001, ""},
      {0, "Test failed!\nCurrent protection triggered during test!"},
      {-1, "Test failed!\nCurrent protection triggered during test!"},
      {1.2345e100, ErrInternal()},  // the routine did not deliver it
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.flag);
    Play({{}, Main(row.flag)});
    Dlg d(*setup_, nullptr);
    ToTestPage();
    platform_.Click(Dlg::kStartStop).Wait(100);
    d.DoModal();
    EXPECT_EQ(d.TestResult(), row.error.empty() ? 1 : 0);
    EXPECT_EQ(d.ErrorText(), row.error);
    EXPECT_EQ(MotorCurrentPoints(d), row.error.empty() ? 1u : 0u);
  }
}

TEST_F(CurrentTuningTest, TuneSendsTheGainsToARunningDriveInOrder) {
  Set(*setup_, "PB_C", 2000);
  Play({{}, {.outputs = {{"test_flag", 1}}, .ends = false}});
  Dlg d(*setup_, nullptr);
  ToTestPage();
  platform_.Click(Dlg::kTune).Do([&](axis::DialogModel&) {
    EXPECT_TRUE(drive_.written.empty()) << "no run: nothing goes to the drive";
    EXPECT_NE(Get(*setup_, "Kp_C_scl"), 5.87249) << "tuned for the new pass band";
  });
  size_t mark = 0;
  platform_.Click(Dlg::kStartStop).Wait(50).Do([&](axis::DialogModel&) {
    EXPECT_EQ(d.StepIndex(), 4);
    EXPECT_TRUE(drive_.axis_on);
    Set(*setup_, "PB_C", 4000);
    mark = drive_.written.size();
  });
  platform_.Click(Dlg::kTune).Do([&](axis::DialogModel&) {
    std::vector<std::pair<std::string, double>> want;
    for (const char* name : {"SFTKPI", "KPI", "SFTKII", "KII"})
      want.emplace_back(name, setup_->FindParameter(name)->GetValueInInternalUnit());
    EXPECT_EQ(std::vector(drive_.written.begin() + mark, drive_.written.end()), want);
    // A refused first write stops the others.
    mark = drive_.written.size();
    drive_.fail_at = drive_.calls();
  });
  platform_.Click(Dlg::kTune).Do([&](axis::DialogModel&) {
    EXPECT_EQ(drive_.written.size(), mark);
    EXPECT_TRUE(d.TestRunning());
  });
  platform_.Click(Dlg::kStartStop);  // Stop
  d.DoModal();
  EXPECT_EQ(drive_.axis_off_calls, 1);
  EXPECT_FALSE(drive_.axis_on);
  EXPECT_TRUE(Enabled(d, axis::kIdOk));
}

TEST_F(CurrentTuningTest, StopWhileThePointsComeInEndsWithoutAVerdict) {
  Play({{}, Main(1, {100, 200, 300})});
  Dlg d(*setup_, nullptr);
  ToTestPage();
  // The Stop is taken between the first and the second point.
  platform_.Click(Dlg::kStartStop).Wait(40).Click(Dlg::kStartStop).Do([&](axis::DialogModel&) {
    EXPECT_FALSE(d.TestRunning());
    EXPECT_EQ(d.TestResult(), -1);
    EXPECT_EQ(d.GetChildText(CMC_TestDlg::kResultText), "");
    EXPECT_EQ(d.GetChildText(CMC_TestDlg::kStatusText), "Test stopped");
    EXPECT_EQ(MotorCurrentPoints(d), 1u);
    EXPECT_EQ(drive_.axis_off_calls, 1);
  });
  platform_.Click(axis::kIdCancel);
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);
}

TEST_F(CurrentTuningTest, SavePlotsWaitsForTheEndOfTheRun) {
  Play({{}, {.outputs = {{"test_flag", 1}}, .ends = false}});
  Dlg d(*setup_, nullptr);
  ToTestPage();
  platform_.Click(Dlg::kStartStop).Wait(50).Click(Dlg::kSavePlots).Do([&](axis::DialogModel&) {
    EXPECT_TRUE(platform_.FileNameLog().empty()) << "nothing saved while it runs";
  });
  platform_.Click(Dlg::kStartStop).Click(Dlg::kSavePlots).AnswerFileName(std::nullopt);
  d.DoModal();
  ASSERT_EQ(platform_.FileNameLog().size(), 1u);
  EXPECT_EQ(platform_.FileNameLog()[0].default_name, "CurrentTuning.csv");
}

}  // namespace
