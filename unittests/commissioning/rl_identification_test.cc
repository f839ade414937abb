// The resistance and inductance test: its five routines step by step, the values it identifies
// from what a 2 Ohm, 3 mH motor makes the drive measure, its failures and its close question.
#include "commissioning/rl_identification.h"

#include "commissioning/commissioning_test_support.h"

namespace {

using namespace axis::testing;
using Dlg = CTestRL;

// The motor: R = 2 Ohm, L = 3 mH, 0.5 V lost in the dead band. Test current 1.5005 A: 4915 counts,
// the second level 2457 counts (0.75 A). The bus reads 36400 counts: 50 V, so a volt is
// 65534 / 55 = 1191.53 voltage counts.
//  - R runs: 2 x 1.50031 A + 0.5 V = 3.50061 V (4171 counts) and 2 x 0.75 A + 0.5 V = 2 V (2383).
//    R = 1788 counts / 2458 counts in volts and amperes: 1.50061 V / 0.750305 A = 1.999979 Ohm.
//  - L run: 10 V (11915 counts) turning 328 / 65535 of a period every 50 us: 100.1 Hz,
//    w = 628.942 rad/s, wL = 1.8868 Ohm. The current answers 10 V x (R - jwL) / (R^2 + (wL)^2):
//    2.6455 A in phase (8667 counts) and 2.4958 A behind (8176 counts), here with a +-300 count
//    ripple, which adds 2 x 300^2 to the mean square: L = 2.995962 mH.
constexpr double kR_Ohm = 1.9999794888;
constexpr double kL_H = 2.9959620733e-3;
constexpr double kTolerance = 1e-9;

using Points = std::vector<axis::LogPoint>;
Points Iq(double first, double a, double b) { return {{0.0, first}, {1e-4, a}, {2e-4, b}}; }

// The five routines of a run on the motor above, with a change.
std::vector<Routine> Motor(const std::function<void(std::vector<Routine>&)>& change = nullptr) {
  std::vector<Routine> routines = {
      {},
      {.drive = {{"var_i1", 4171}}, .log = Iq(0, 4913, 4917)},
      {.drive = {{"REFTST_V", 1300}, {"RINCTST_V", -9}}},
      {.drive = {{"var_i1", 2383}, {"var_u2", 36400}}, .log = Iq(0, 2455, 2459)},
      {.drive = {{"var_i1", 11915}, {"TINCTST", 328}},
       .log = Points{{0, 0, 0}, {1e-4, 8967, 7876}, {2e-4, 8367, 8476}}}};
  if (change) change(routines);
  return routines;
}

const char* const kStatus[] = {"Launching code for preliminary test (1)",
                               "Waiting preliminary test to be finished (1)",
                               "Launching code for R test (1)",
                               "Waiting R test to be finished (1)",
                               "Launching code for preliminary test (2)",
                               "Waiting preliminary test to be finished (2)",
                               "Launching code for R test (2)",
                               "Waiting R test to be finished (2)",
                               "Launching code for L test",
                               "Waiting L test to be finished"};

std::string Question(const std::string& lines) {
  return "A different value than specified has been detected for the following "
         "parameter(s):\r\n\r\n" +
         lines + "\r\nDo you want to save the new value(s)? (Recommended)";
}

class RlTest : public CommissioningTest {
 protected:
  void SetUp() override {
    CommissioningTest::SetUp();
    Set(*setup_, "TestCurrent", 1.5005);
  }
  // A whole run of `routines`, then the dialog closes (answers as scripted, else Yes).
  int Run(std::vector<Routine> routines) {
    Play(std::move(routines));
    Dlg d(*setup_, nullptr);
    platform_.Click(Dlg::kStartStop).Wait(200).Do([&](axis::DialogModel&) {
      result = d.TestResult();
      error = d.ErrorText();
    });
    return d.DoModal();
  }
  std::vector<std::string> StatusesUpTo(size_t n) const {
    return {std::begin(kStatus), std::begin(kStatus) + n};
  }
  int result = 0;
  std::string error;
};

TEST_F(RlTest, RunsItsFiveRoutinesStepByStep) {
  using Rate = axis::LogRequest::Rate;
  Play(Motor());
  Dlg d(*setup_, nullptr);
  platform_.Click(Dlg::kStartStop).Do([&](axis::DialogModel&) {
    EXPECT_EQ(platform_.statuses, StatusesUpTo(2));
    EXPECT_EQ(drive_.launches.at(0).inputs, (axis::UserVariables{{"In1", 4915}}));
  });
  // After each tick: the statuses shown, the label launched, its inputs and its record.
  // clang-format off
  const struct { const char* label; axis::UserVariables inputs; std::vector<std::string> logged;
                 Rate rate; } steps[] = {
      {"Ident_R_or_Rs", {{"RefTest", 1200}, {"RIncTest", -7}, {"In1", 4915}}, {"IQ"},
       Rate::kSlowLoop},
      {"Initial_Positioning_Test", {{"In1", 2457}}, {}, {}},
      {"Ident_R_or_Rs", {{"RefTest", 1300}, {"RIncTest", -9}, {"In1", 2457}}, {"IQ"},
       Rate::kFastLoop},
      {"Ident_L_or_Tau_el", {{"In1", 4915}}, {"IQ", "ID"}, Rate::kFastLoop},
  };
  // clang-format on
  for (size_t i = 0; i < std::size(steps); ++i) {
    Tick([&, i](CMC_TestDlg& t) {
      SCOPED_TRACE(i);
      const auto& step = steps[i];
      EXPECT_EQ(platform_.statuses, StatusesUpTo(4 + 2 * i));
      EXPECT_EQ(t.StepIndex(), 4 + 2 * i);
      ASSERT_EQ(drive_.launches.size(), i + 2);
      const auto& call = drive_.launches.back();
      EXPECT_EQ(call.label, step.label);
      EXPECT_EQ(call.inputs, step.inputs);
      EXPECT_EQ(call.logged, !step.logged.empty());
      if (call.logged) {
        EXPECT_EQ(call.log.variables, step.logged);
        EXPECT_EQ(call.log.rate, step.rate);
        EXPECT_EQ(call.log.points, 400);
        EXPECT_EQ(call.log.every, 1);
      }
      // The measured bus holds from the second resistance run on; R and L only at the end.
      EXPECT_EQ(Get(*setup_, "Vdc"), i == 3 ? 50.0 : 48.0);
      EXPECT_EQ(Get(*setup_, "R"), 2.5);
      EXPECT_EQ(Get(*setup_, "L"), 0.003);
    });
  }
  Tick([&](CMC_TestDlg& t) {
    EXPECT_EQ(t.TestResult(), 1) << t.ErrorText();
    EXPECT_NEAR(Get(*setup_, "R"), kR_Ohm, kTolerance);
    EXPECT_NEAR(Get(*setup_, "L"), kL_H, kTolerance);
    EXPECT_EQ(drive_.launches.size(), 5u);
  });
  platform_.Click(axis::kIdCancel).Answer(axis::kIdNo);
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);
  EXPECT_EQ(Messages(platform_), std::vector<std::string>{Question(
                                     "Phase resistance:\tOld = 2.5\tNew = 1.99998\r\n"
                                     "Phase inductance:\tOld = 0.003\tNew = 0.00299596\r\n")});
  EXPECT_EQ(platform_.MessageLog()[0].request.buttons, axis::MessageButtons::kYesNoCancel);
  // No: both go back; the bus is the old one whatever the answer.
  EXPECT_EQ(Get(*setup_, "R"), 2.5);
  EXPECT_EQ(Get(*setup_, "L"), 0.003);
  EXPECT_EQ(Get(*setup_, "Vdc"), 48.0);
}

TEST_F(RlTest, IdentifiesWhatTheMotorMakesTheDriveMeasure) {
  // clang-format off
  const struct {
    const char* name;
    double connection;
    std::vector<Routine> routines;
    double r, l;
  } rows[] = {
      {"star", 0, Motor(), kR_Ohm, kL_H},
      // A delta winding measures as its equivalent star: each branch holds three times as much.
      {"delta", 1, Motor(), 3 * kR_Ohm, 3 * kL_H},
      {"other connection", 2, Motor(), kR_Ohm, kL_H},
      // A record of one point is its own mean; with more, the first (unsettled) one is left out.
      {"single points", 0,
       Motor([](auto& r) { r[1].log = Points{{0, 4915}}; r[3].log = Points{{0, 2457}}; }),
       kR_Ohm, kL_H},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    setup_ = Bundled({{"TestCurrent", 1.5005}, {"MotorPhaseConnectionType", row.connection}});
    setup_->SetComm(&drive_);
    platform_.Answer(axis::kIdYes);
    EXPECT_EQ(Run(row.routines), axis::kIdOk);
    EXPECT_EQ(result, 1) << error;
    EXPECT_NEAR(Get(*setup_, "R"), row.r, kTolerance);
    EXPECT_NEAR(Get(*setup_, "L"), row.l, kTolerance);
    EXPECT_EQ(Get(*setup_, "Vdc"), 48.0);
  }
}

TEST_F(RlTest, UndefinedOrFailedMeasurementsLeaveTheSetupAlone) {
  const std::string same =
      "Both current levels gave the same measured current, so the resistance cannot be computed. "
      "Check the motor connections and increase the test current.";
  const std::string no_r =
      "The measured resistance is not positive. Check the motor connections and the test current.";
  const std::string no_l =
      "The inductance cannot be computed from the current's answer: no current turned with the "
      "applied voltage, or the drive gave no frequency. Check the motor connections and the test "
      "current.";
  // clang-format off
  const struct { const char* name; std::vector<Routine> routines; std::string error; } rows[] = {
      {"equal currents", Motor([](auto& r) { r[3].log = Iq(0, 4913, 4917); }), same},
      {"voltage falls as the current rises", Motor([](auto& r) {
         r[1].drive["var_i1"] = 2383; r[3].drive["var_i1"] = 4171; }), no_r},
      {"no frequency", Motor([](auto& r) { r[4].drive["TINCTST"] = 0; }), no_l},
      {"no current in the L run",
       Motor([](auto& r) { r[4].log = Points{{0, 0, 0}, {1e-4, 0, 0}}; }), no_l},
      {"current ahead of the voltage", Motor([](auto& r) {
         r[4].log = Points{{0, 0, 0}, {1e-4, 8667, -8176}}; }), no_l},
      {"no point recorded", Motor([](auto& r) { r[3].log.emplace(); }),
       "The drive recorded no current during the test: the motor current could not be measured."},
      {"preliminary current undelivered", Motor([](auto& r) { r[2].outputs["In1"] = 1.2345e100; }),
       ErrInternal()},
      {"preliminary current zero", Motor([](auto& r) { r[0].outputs["In1"] = 0; }),
       CMC_TestDlg::msc_pszErrInZero},
      {"preliminary current negative", Motor([](auto& r) { r[2].outputs["In1"] = -3; }),
       CMC_TestDlg::msc_pszErrInZero},
      {"enable input off", Motor([](auto& r) { r[3].drive["MER"] = 0x8000; }),
       "Drive / Motor ENABLE input is in DISABLED state."},
  };
  // clang-format on
  const auto before = Values(*setup_);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    drive_.variables["MER"] = 0;
    const size_t asked = platform_.MessageLog().size();
    EXPECT_EQ(Run(row.routines), axis::kIdCancel);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, row.error);
    EXPECT_EQ(platform_.MessageLog().size(), asked) << "no question after a failed run";
    EXPECT_EQ(Changed(before, Values(*setup_)), std::vector<std::string>{});
  }
}

TEST_F(RlTest, CloseQuestionAndTheBusVoltage) {
  // Cancel stays open with the old bus; Yes keeps R and L and ends with OK.
  Play(Motor());
  {
    Dlg d(*setup_, nullptr);
    platform_.Click(Dlg::kStartStop).Wait(200).Click(axis::kIdCancel).Answer(axis::kIdCancel);
    platform_.Do([&](axis::DialogModel& dlg) {
      EXPECT_TRUE(dlg.IsRunning());
      EXPECT_EQ(Get(*setup_, "Vdc"), 48.0);
    });
    platform_.Click(axis::kIdCancel).Answer(axis::kIdYes);
    EXPECT_EQ(d.DoModal(), axis::kIdOk);
    EXPECT_EQ(platform_.MessageLog().size(), 2u);
    EXPECT_NEAR(Get(*setup_, "R"), kR_Ohm, kTolerance);
    EXPECT_EQ(Get(*setup_, "ABSTART_MINMOVE"), 0.0) << "kept as the test ran: it ended with OK";
  }
  EXPECT_EQ(Get(*setup_, "Vdc"), 48.0);
  // The same motor again: nothing differs from the setup, so nothing is asked.
  EXPECT_EQ(Run(Motor()), axis::kIdCancel);
  EXPECT_EQ(result, 1) << error;
  EXPECT_EQ(platform_.MessageLog().size(), 2u);
  EXPECT_EQ(Get(*setup_, "Vdc"), 48.0);
}

TEST_F(RlTest, ADialogThatNeverOpenedLeavesTheBusAlone) {
  { Dlg d(*setup_, nullptr); }  // as when its template cannot be loaded
  EXPECT_EQ(Get(*setup_, "Vdc"), 48.0);
  axis::SetPlatform(nullptr);
  {
    Dlg d(*setup_, nullptr);
    EXPECT_EQ(d.DoModal(), -1);
  }
  axis::SetPlatform(&platform_);
  EXPECT_EQ(Get(*setup_, "Vdc"), 48.0);
  EXPECT_EQ(Get(*setup_, "ABSTART_MINMOVE"), 6000.0);
}

TEST_F(RlTest, LinkFailureDuringTheInductanceRun) {
  const auto before = Values(*setup_);
  Play(Motor());
  {
    Dlg d(*setup_, nullptr);
    platform_.Click(Dlg::kStartStop).Wait(90).Do([&](axis::DialogModel&) {
      EXPECT_EQ(d.StepIndex(), 10);
      EXPECT_EQ(Get(*setup_, "Vdc"), 50.0);
      drive_.fail_at = drive_.calls();
    });
    Tick([&](CMC_TestDlg& t) {
      EXPECT_FALSE(t.TestRunning());
      EXPECT_EQ(t.ErrorText(), "the drive does not answer");
      EXPECT_EQ(t.GetChildText(CMC_TestDlg::kResultText), "the drive does not answer");
    });
    EXPECT_EQ(d.DoModal(), axis::kIdCancel);
  }
  EXPECT_TRUE(platform_.MessageLog().empty());
  EXPECT_EQ(Changed(before, Values(*setup_)), std::vector<std::string>{})
      << "R, L, the bus and the minimum move as before";
}

}  // namespace
