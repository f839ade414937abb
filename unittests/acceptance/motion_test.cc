// The mass and the speed and position tuning tests end to end on the simulated drive: the mass
// the drive's push implies, step responses against the loops the tuning designed, the reference
// the drive generates from the profile's table, and the runs that go wrong.
#include <cmath>
#include <fstream>
#include <numeric>
#include <sstream>

#include "commissioning/tuning_test.h"
#include "host/number_text.h"
#include "passes/passes.h"
#include "tuning/parameter_limits.h"
#include "tuning/tuning_service.h"
#include "unittests/acceptance/simulated_run.h"
#include "unittests/commissioning/commissioning_test_support.h"

namespace axis::testing {
namespace {

std::string Key(const char* key, double value) {
  return std::string(key) + "=" + FormatNumber(value);
}

// Columns of an exported record by name, in base units.
std::map<std::string, std::vector<double>> ReadColumns(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  std::vector<std::string> names;
  std::istringstream header(line);
  for (std::string name; std::getline(header, name, ',');) names.push_back(name);
  std::map<std::string, std::vector<double>> columns;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string cell;
    for (size_t i = 0; i < names.size() && std::getline(row, cell, ','); ++i)
      columns[names[i]].push_back(ParseNumber(cell).value_or(NAN));
  }
  return columns;
}

// The first step of the reference from sample `from` on (from its first sample off the level
// at `from` to its last sample at the step's value) and the feedback over it, as shares of the
// step.
struct Step {
  std::vector<double> t_s, share, reference;  // the reference as a share of the step too
  double size = 0.0;
  size_t last = 0;  // its last sample
};
// The step may take a sample or two to reach its level; the time counts from its first sample.
Step StepResponse(const std::vector<double>& t, const std::vector<double>& reference,
                  const std::vector<double>& feedback, size_t from = 0) {
  Step s;
  if (from >= reference.size()) return s;
  const double base = reference[from];
  size_t first = from;
  while (first < reference.size() && reference[first] == base) ++first;
  size_t level = first;
  while (level + 1 < reference.size() && reference[level + 1] != reference[level]) ++level;
  if (level + 1 >= reference.size()) return s;
  s.size = reference[level] - base;
  for (size_t k = first; k < reference.size() && (k < level || reference[k] == reference[level]);
       ++k) {
    s.t_s.push_back(t[k] - t[first]);
    s.share.push_back((feedback[k] - base) / s.size);
  }
  for (size_t k = first; k < first + s.t_s.size(); ++k)
    s.reference.push_back((reference[k] - base) / s.size);
  s.last = first + s.t_s.size() - 1;
  return s;
}

// A closed loop's characteristic polynomial and its numerator, integrated in small steps in
// controllable canonical form for the input `u` (a share of the step at each time of `t_s`, held
// between them; a unit step when empty).
std::vector<double> ModelStep(const std::vector<double>& den, const std::vector<double>& num,
                              const std::vector<double>& t_s, const std::vector<double>& u = {}) {
  const size_t n = den.size();  // s^n + den[0] s^(n-1) + ... + den[n-1]
  std::vector<double> x(n, 0.0), y;
  const double dt = 1e-6;
  double now = 0.0;
  for (size_t k = 0; k < t_s.size(); ++k) {
    const double until = t_s[k];
    const double input = u.empty() ? 1.0 : u[k > 0 ? k - 1 : 0];
    for (; now < until - dt / 2; now += dt) {
      double top = input;
      for (size_t i = 0; i < n; ++i) top -= den[i] * x[n - 1 - i];
      for (size_t i = 0; i + 1 < n; ++i) x[i] += dt * x[i + 1];
      x[n - 1] += dt * top;
    }
    double out = 0.0;  // num = b0 s^(n-1) + ... + b(n-1)
    for (size_t i = 0; i < num.size(); ++i) out += num[i] * x[num.size() - 1 - i];
    y.push_back(out);
  }
  return y;
}

// The pass band that makes the model fit the response best (least squares over +-50 %).
template <typename Model>
double FittedPassBand(const Step& step, double pass_band, Model model) {
  double best = 0.0, best_error = INFINITY;
  for (double w = 0.5 * pass_band; w <= 1.5 * pass_band; w *= 1.005) {
    const std::vector<double> y = model(w, step);
    double error = 0.0;
    for (size_t k = 0; k < y.size(); ++k) error += std::pow(step.share[k] - y[k], 2);
    if (error < best_error) best_error = error, best = w;
  }
  return best;
}

double Overshoot(const std::vector<double>& share) {
  return *std::max_element(share.begin(), share.end()) - 1.0;
}

// PI loops (speed; position in the cascade): (2 zeta w s + w^2) / (s^2 + 2 zeta w s + w^2),
// driven by the logged reference.
std::vector<double> PiLoop(double w, double zeta, const Step& step) {
  return ModelStep({2 * zeta * w, w * w}, {2 * zeta * w, w * w}, step.t_s, step.reference);
}
// The PID on the current: (s + w)(s^2 + 2 zeta w s + w^2), numerator Kd s^2 + Kp s + Ki.
std::vector<double> PidLoop(double w, double zeta, const Step& step) {
  const double a = (2 * zeta + 1) * w;
  return ModelStep({a, a * w, w * w * w}, {a, a * w, w * w * w}, step.t_s, step.reference);
}

class MotionTest : public SimulatedRunTest {
 protected:
  std::string Csv(const std::string& tag) {
    return ::testing::TempDir() + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
           tag + ".csv";
  }
  // A drive as the continuous-time tuning models it: a 100 us slow loop and a 10 nm encoder, so
  // that a step small enough for the current loop to follow without reaching the bus voltage is
  // still many counts a period; the current loop more than ten times faster than the speed loop;
  // no dry friction, which the loops see as a disturbance; no filters on the current reference
  // (the demo's notch and low-pass add their lag to the loop's).
  void FastDrive() {
    Set(*setup_, {{"SLPER", 2}, {"EncRes", 1e-8}, {"BQFilter1", 0}, {"BQFilter2", 0}});
    kestrel::ComputeRegistersFromParameters(*setup_);
    kestrel::ComputeParametersFromRegisters(*setup_);
    kestrel::ComputeParameterLimits(*setup_);
    Set(*setup_, {{"TestMaxSpeed", 0.5}, {"PB_C", 8000}});
    kestrel::TuneAndEncode(*setup_, kestrel::Loop::kCurrent);
  }
  const std::vector<std::string> keys_ = {"encRes=1e-8", "friction=0"};
};

// The push of the test current (1.5 A x 30 N/A) after the alignment at the same current: without
// friction the mass itself; with dry friction Fc the method finds M F / (F cos d - Fc), the
// alignment leaving the commutation off by d with sin d = Fc / F.
TEST_F(MotionTest, TotalMassWithinOnePercentOfWhatThePushImplies) {
  const struct {
    double motor_kg, load_kg, friction_N;
  } rows[] = {{0.3, 0.2, 0}, {1.2, 1.8, 0}, {10, 40, 0}, {0.3, 0.2, 4}, {1.2, 1.8, 4}, {10, 40, 4}};
  for (const auto& row : rows) {
    const double m = row.motor_kg + row.load_kg, force_N = 45.0;
    const double cos_d = std::sqrt(1.0 - std::pow(row.friction_N / force_N, 2));
    const double expected = m * force_N / (force_N * cos_d - row.friction_N);
    SCOPED_TRACE(::testing::Message() << m << " kg, " << row.friction_N << " N");
    setup_ = Bundled({{"TestMaxSpeed", 2.0}, {"Mt", 7.0}});
    const SimulatedRun run =
        Run("mass", {Key("motorMass", row.motor_kg), Key("loadMass", row.load_kg),
                     Key("friction", row.friction_N)});
    ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    EXPECT_NEAR(Get(*setup_, "Mt") / expected, 1.0, 0.01);
  }
}

TEST_F(MotionTest, SpeedStepsFollowTheDesignedLoop) {
  FastDrive();
  // 0.01 m/s is 100 counts a period. The step measured is the one back to rest, from a speed
  // held long enough to have settled: the first one starts while the alignment's current dies.
  Set(*setup_, {{"TaPS", 1e-4},
                {"TaNS", 1e-4},
                {"TPS", 0.05},
                {"TNS", 0.05},
                {"TestSpeed", 0.01},
                {"SpeedTestReferenceType", 0}});
  ASSERT_TRUE(Run("mass", keys_).outcome.succeeded);
  for (double pass_band : {100.0, 200.0, 300.0, 450.0, 600.0}) {
    SCOPED_TRACE(::testing::Message() << "pass band " << pass_band);
    Set(*setup_, "PB_S", pass_band);
    const std::string csv = Csv(std::to_string(static_cast<int>(pass_band)));
    const SimulatedRun run = Run("speed", keys_, {.tune = true, .export_csv = csv});
    ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    auto c = ReadColumns(csv);
    const auto& reference = c["Speed_Reference_m/s"];
    const auto& speed = c["Load_Speed_m/s"];
    const Step step =
        StepResponse(c["t_s"], reference, speed, StepResponse(c["t_s"], reference, speed).last);
    ASSERT_GT(step.t_s.size(), 50u);
    const auto model = [](double w, const Step& s) { return PiLoop(w, 1.0, s); };
    const double fitted = FittedPassBand(step, pass_band, model);
    const double overshoot = Overshoot(step.share);
    const double designed = Overshoot(model(pass_band, step));
    std::printf("speed PB %g: fitted %.1f (%+.1f %%), overshoot %.1f %% (model %.1f %%)\n",
                pass_band, fitted, 100 * (fitted / pass_band - 1), 100 * overshoot, 100 * designed);
    EXPECT_NEAR(fitted / pass_band, 1.0, 0.10);
    EXPECT_NEAR(overshoot, designed, 0.03);
  }
}

TEST_F(MotionTest, PositionMovesEndOnTheTargetAndFollowTheDesignedLoop) {
  const struct {
    const char* name;
    double control_type, pass_band;
  } rows[] = {{"cascade", 1, 100}, {"PID on the current", 0, 60}, {"PID on the current", 0, 150}};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.name << " at " << row.pass_band);
    setup_ = Bundled();
    FastDrive();
    Set(*setup_, {{"PositionControlType", row.control_type},
                  {"PB_P", row.pass_band},
                  {"PB_S", 600},
                  {"TaPP", 5e-3},
                  {"TaNP", 5e-3},
                  {"TPP", 0.18},
                  {"TNP", 0.05},
                  {"TestPosition", 0.0005},
                  {"filter_D", 1},
                  {"PositionTestReferenceType", 0}});
    ASSERT_TRUE(Run("mass", keys_).outcome.succeeded);
    if (row.control_type == 1) {
      ASSERT_TRUE(Run("speed", keys_, {.tune = true}).outcome.succeeded);
    }
    const std::string csv = Csv(row.name + std::to_string(static_cast<int>(row.pass_band)));
    const SimulatedRun run = Run("position", keys_, {.tune = true, .export_csv = csv});
    ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    auto c = ReadColumns(csv);
    const auto& reference = c["Target_Position_m"];
    const auto& position = c["Load_Position_m"];
    const Step step = StepResponse(c["t_s"], reference, position);
    ASSERT_GT(step.t_s.size(), 50u);
    const double zeta = Get(*setup_, "Dump_P");
    const auto model = [&](double w, const Step& s) {
      return row.control_type == 1 ? PiLoop(w, zeta, s) : PidLoop(w, zeta, s);
    };
    const double fitted = FittedPassBand(step, row.pass_band, model);
    std::printf("position %s PB %g: fitted %.1f (%+.1f %%)\n", row.name, row.pass_band, fitted,
                100 * (fitted / row.pass_band - 1));
    EXPECT_NEAR(fitted / row.pass_band, 1.0, 0.15);
  }
}

// On the demo drive (0.5 ms slow loop, 1 um counts, no dry friction) the record spans a dwell long
// enough for the move to end on the target. With an ideal inverter every sample of the dwell's
// last 100 ms is within one count of it. The inverter's dead time makes small currents stick
// near zero, which a loop with an integral meets like dry friction: the mover then hunts around
// the target by a few counts, and their mean is on it.
TEST_F(MotionTest, PositionMovesEndOnTheTargetWithinOneCount) {
  const struct {
    const char* name;
    double control_type;
    bool ideal_inverter;
    double worst_counts;
  } rows[] = {
      {"cascade", 1, true, 1}, {"PID", 0, true, 1}, {"cascade", 1, false, 5}, {"PID", 0, false, 5}};
  for (const auto& row : rows) {
    const char* inverter = row.ideal_inverter ? "ideal inverter" : "the demo's dead time";
    SCOPED_TRACE(::testing::Message() << row.name << ", " << inverter);
    setup_ = Bundled({{"PositionControlType", row.control_type},
                      {"TaPP", 0.02},
                      {"TPP", 0.95},
                      {"TestPosition", 0.002},
                      {"PositionTestReferenceType", 0}});
    const std::string csv = Csv(row.name);
    std::vector<std::string> keys = {"friction=0"};
    if (row.ideal_inverter) keys.push_back("deadTime=0");
    ASSERT_TRUE(Run("speed", keys, {.tune = true}).outcome.succeeded);
    const SimulatedRun run = Run("position", keys, {.tune = true, .export_csv = csv});
    ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    auto c = ReadColumns(csv);
    const std::vector<double>& target = c["Target_Position_m"];
    ASSERT_FALSE(target.empty());
    const double top = *std::max_element(target.begin(), target.end());
    size_t last = 0;  // the end of the dwell
    for (size_t k = 0; k < target.size(); ++k)
      if (target[k] == top) last = k;
    ASSERT_GT(last, 200u);
    double mean = 0.0, worst = 0.0;
    for (size_t k = last - 199; k <= last; ++k) {
      mean += c["Load_Position_m"][k] / 200.0;
      worst = std::max(worst, std::fabs(c["Load_Position_m"][k] - top));
    }
    std::printf("position %s, %s: final mean %+.2f counts, worst %.0f counts\n", row.name, inverter,
                (mean - top) * 1e6, worst * 1e6);
    EXPECT_LE(std::fabs(mean - top), 1e-6) << "one count";
    EXPECT_LE(worst, row.worst_counts * 1e-6 + 1e-9);
  }
}

TEST_F(MotionTest, TheDriveGeneratesTheTablesReference) {
  // The demo's bidirectional profile: 0.5 m/s (250 counts a period), 0.05 s ramps (100 samples),
  // 0.2 s dwells, the reverse over twice the ramp time.
  const std::string csv = Csv("");
  const SimulatedRun run = Run("speed", {}, {.export_csv = csv});
  ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure;
  auto c = ReadColumns(csv);
  const std::vector<double>& logged = c["Speed_Reference_m/s"];
  size_t k = 0;
  while (k < logged.size() && logged[k] == 0.0) ++k;
  // Counts a period, sample by sample: +2.5 x 100, 0 x 400, -2.5 x 200, 0 x 400, +250/99 x 99,
  // then the closing sample.
  const struct {
    int samples;
    double per_sample;
  } segments[] = {{100, 2.5}, {400, 0}, {200, -2.5}, {400, 0}, {99, 165495 / 65536.0}};
  double counts = 0.0;
  int checked = 0;
  for (const auto& s : segments) {
    for (int i = 0; i < s.samples && k < logged.size(); ++i, ++k, ++checked) {
      counts += s.per_sample;
      ASSERT_NEAR(logged[k] * 500.0, std::floor(counts * 65536.0 + 1e-6) / 65536.0, 1e-3)
          << "sample " << checked;
    }
  }
  EXPECT_GT(checked, 1000);
}

TEST_F(MotionTest, TheScopeStreamsAWholeProfileAndTheTestJudgesIt) {
  setup_->SetOption("hasOscilloscope", "1");
  Set(*setup_, {{"OnlinePlotS", 1}, {"SpeedTestReferenceType", 0}});
  const std::string csv = Csv("");
  const SimulatedRun run = Run("speed", {}, {.export_csv = csv});
  ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure << run.printed;
  // The single-shot acquisition (1000 points over the profile) came in whole.
  auto c = ReadColumns(csv);
  const std::vector<double>& reference = c["Speed_Reference_m/s"];
  ASSERT_EQ(reference.size(), 1000u);
  EXPECT_NEAR(*std::max_element(reference.begin(), reference.end()), 0.5, 1e-9);
}

TEST_F(MotionTest, RunsThatGoWrong) {
  // A protection below what the profile needs trips after the upload; nothing is kept.
  Set(*setup_, {{"TestProtectionCurrent", 1.0}, {"TestLimitCurrent", 0.9}});
  const auto before = Values(*setup_);
  const SimulatedRun tripped = Run("speed", {});
  EXPECT_FALSE(tripped.outcome.succeeded);
  EXPECT_EQ(tripped.outcome.failure, "Test failed!\nCurrent protection triggered during test!")
      << tripped.printed;
  EXPECT_EQ(Changed(before, Values(*setup_)), std::vector<std::string>{});
  // A good run ends with OK: the test's limits become the drive's.
  Set(*setup_,
      {{"TestProtectionCurrent", 8.5}, {"TestLimitCurrent", 6.0}, {"TestStartCurrent", 40}});
  const SimulatedRun kept = Run("speed", {});
  EXPECT_TRUE(kept.outcome.kept) << kept.outcome.failure;
  EXPECT_EQ(Get(*setup_, "Imax_Prot"), 8.5);
  EXPECT_EQ(Get(*setup_, "IlimPS"), 6.0);
  EXPECT_EQ(Get(*setup_, "StartCurrent"), 40.0);
}

}  // namespace
}  // namespace axis::testing
