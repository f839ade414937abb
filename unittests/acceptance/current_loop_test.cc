// The current controller test end to end on the simulated drive: the step response the drive
// records must be the closed loop the tuning designed, from the gains as the plug-in encoded them
// and the motor the drive is really connected to; and the runs that go wrong (a protection that
// trips, a routine that never starts, a link that fails) end as the user must see them.
#include <cmath>
#include <fstream>
#include <sstream>

#include "commissioning/current_tuning.h"
#include "host/number_text.h"
#include "unittests/acceptance/simulated_run.h"
#include "unittests/commissioning/commissioning_test_support.h"

namespace axis::testing {
namespace {

// The demo drive: 65520 / (2 x 10 A) = 3276 current counts per ampere; 65534 / (1.1 x 48 V)
// = 1241.17 voltage counts per volt of phase amplitude; a 50 us fast loop.
constexpr double kCurrentCounts_per_A = 3276.0;
constexpr double kVoltageCounts_per_V = 65534.0 / (1.1 * 48.0);
constexpr double kTs_s = 50e-6;

struct Record {
  std::vector<double> reference_A, current_A;
};

// The run's exported curves: the reference and the measured current, one row per fast-loop period.
Record ReadRecord(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "t_s,Current_Reference_A,Voltage_Reference_V,Motor_Current_A");
  Record r;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string cell[4];
    for (std::string& c : cell) std::getline(row, c, ',');
    r.reference_A.push_back(ParseNumber(cell[1]).value_or(NAN));
    r.current_A.push_back(ParseNumber(cell[3]).value_or(NAN));
  }
  return r;
}

// The loop as designed: the PI in counts per sample (u = Kp e + the sum of Ki e, the present
// error included), its voltage held over the period after the one it was computed in, and the
// winding's exact answer over a period, i' = a i + (1 - a) v / R with a = exp(-Ts R / L), for the
// motor seen as a star of R and L per phase (a delta of R and L per branch is a star of a third).
std::vector<double> Predicted(const std::vector<double>& reference_A, double kp, double ki,
                              double r_Ohm, double l_H) {
  const double a = std::exp(-kTs_s * r_Ohm / l_H);
  const double volts_per_count = 1.0 / kVoltageCounts_per_V;
  std::vector<double> i(reference_A.size(), 0.0);
  double integral = 0.0, previous_V = 0.0;
  for (size_t k = 0; k + 1 < i.size(); ++k) {
    const double e = (reference_A[k] - i[k]) * kCurrentCounts_per_A;
    integral += ki * e;
    const double v = (kp * e + integral) * volts_per_count;
    i[k + 1] = a * i[k] + (1.0 - a) * previous_V / r_Ohm;
    previous_V = v;
  }
  return i;
}

struct Match {
  double rms, at_end;  // the deviation from the prediction as shares of the step
};

// How far the recorded current is from the prediction: over the whole record, and at the last
// point of the step.
Match Compare(const Record& r, const std::vector<double>& predicted, double step_A) {
  double sum = 0.0;
  size_t last_of_step = 0;
  for (size_t k = 0; k < predicted.size(); ++k) {
    sum += std::pow(r.current_A[k] - predicted[k], 2);
    if (r.reference_A[k] != 0.0) last_of_step = k;
  }
  return {std::sqrt(sum / static_cast<double>(predicted.size())) / step_A,
          std::fabs(r.current_A[last_of_step] - predicted[last_of_step]) / step_A};
}

class CurrentLoopTest : public SimulatedRunTest {
 protected:
  // A run that keeps its result, its curves exported; how it matched the loop the setup's gains
  // (as the plug-in holds them now) design on this motor.
  Match RunAndCompare(const std::vector<std::string>& keys, bool tune, double r_Ohm, double l_H) {
    // (One file per test: ctest runs the tests side by side.)
    const std::string csv = ::testing::TempDir() +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                            ".csv";
    const SimulatedRun run = Run("current", keys, {.tune = tune, .export_csv = csv});
    EXPECT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    EXPECT_TRUE(run.outcome.kept);
    const Record r = ReadRecord(csv);
    EXPECT_GE(r.reference_A.size(), 100u);
    const std::vector<double> predicted =
        Predicted(r.reference_A, Get(*setup_, "Kp_C_scl"), Get(*setup_, "Ki_C_scl"), r_Ohm, l_H);
    return Compare(r, predicted, Get(*setup_, "TestCurrent"));
  }
};

TEST_F(CurrentLoopTest, TunedStepFollowsTheDesignedLoop) {
  const struct {
    bool delta;
    double r_Ohm, l_H, pass_band;  // R and L per phase or per branch
  } rows[] = {
      {false, 2.5, 3e-3, 500},  {false, 2.5, 3e-3, 1000}, {false, 2.5, 3e-3, 2000},
      {false, 2.5, 3e-3, 3000}, {false, 1.0, 4e-3, 1500}, {true, 7.5, 9e-3, 2500},
  };
  for (const auto& m : rows) {
    SCOPED_TRACE(std::string(m.delta ? "delta" : "star") + " PB_C=" + FormatNumber(m.pass_band));
    const double phase = m.delta ? 3.0 : 1.0;
    setup_ = Bundled({{"R", m.r_Ohm},
                      {"L", m.l_H},
                      {"MotorPhaseConnectionType", m.delta ? 1.0 : 0.0},
                      {"PB_C", m.pass_band},
                      {"TestProtectionCurrent", 6.0}});
    const Match match = RunAndCompare({"R=" + FormatNumber(m.r_Ohm), "L=" + FormatNumber(m.l_H),
                                       m.delta ? "connection=delta" : "connection=star"},
                                      true, m.r_Ohm / phase, m.l_H / phase);
    EXPECT_LT(match.rms, 0.03);
    EXPECT_LT(match.at_end, 0.01);
    // OK takes the test's protection current as the drive's.
    EXPECT_EQ(Get(*setup_, "Imax_Prot"), 6.0);
  }
}

TEST_F(CurrentLoopTest, AGainEncodedOneShiftOffFailsTheMatch) {
  // The registers hold a gain twice or half what the plug-in believes it encoded: the recorded
  // step must tell.
  const struct {
    const char* shift;
    int by;
  } rows[] = {{"SFTKPI", 1}, {"SFTKPI", -1}, {"SFTKII", 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.shift) + " " + std::to_string(row.by));
    setup_ = Bundled({{"PB_C", 2000}});
    const Match tuned = RunAndCompare({}, true, 2.5, 3e-3);
    ASSERT_LT(tuned.rms, 0.03);
    Set(*setup_, row.shift, Get(*setup_, row.shift) + row.by);
    const Match wrong = RunAndCompare({}, false, 2.5, 3e-3);
    EXPECT_TRUE(wrong.rms >= 0.03 || wrong.at_end >= 0.01) << wrong.rms << " " << wrong.at_end;
  }
}

TEST_F(CurrentLoopTest, RunsThatGoWrong) {
  // The overshoot of a fast loop passes a protection current set at the step itself.
  setup_ = Bundled({{"PB_C", 3000}, {"TestProtectionCurrent", 1.5}});
  SimulatedRun run = Run("current", {}, {.tune = true});
  EXPECT_FALSE(run.outcome.succeeded);
  EXPECT_EQ(run.outcome.failure, CTestCurrent::kProtectionTripped);

  // A routine that never starts leaves the test waiting with its status until Stop; Close then
  // leaves the setup as it was.
  setup_ = Bundled();
  auto before = Values(*setup_);
  run = Run("current", {"neverStart=Current_Controller_Tuning_Test"},
            {.keep = false, .stop_after_s = 30.0});
  EXPECT_FALSE(run.outcome.succeeded);
  EXPECT_EQ(run.outcome.failure, "");
  EXPECT_NE(run.printed.find("Running test\nTest stopped\n"), std::string::npos) << run.printed;
  EXPECT_EQ(Changed(before, Values(*setup_)), std::vector<std::string>{});

  // A link that fails in the middle of the run: its text, and nothing of the run in the setup.
  for (const char* test : {"current", "rl"}) {
    SCOPED_TRACE(test);
    setup_ = Bundled();
    before = Values(*setup_);
    run = Run(test, {"linkFailAfter=0.2"});
    EXPECT_FALSE(run.outcome.succeeded);
    EXPECT_EQ(run.outcome.failure, "the drive does not answer");
    EXPECT_FALSE(run.outcome.kept);
    EXPECT_EQ(Changed(before, Values(*setup_)), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace axis::testing
