// The simulated motor's physics against analytic results: the winding's exact step responses
// (star, delta, an open lead, an imbalance), a mover braked by its own back-EMF, dry friction and
// end stops, and the current sensors.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "host/number_text.h"
#include "sim/drive_core.h"
#include "sim/mechanics.h"
#include "sim/winding.h"

namespace sim {
namespace {

constexpr double kT = 50e-6;
constexpr double kPi = 3.14159265358979323846;

// Pole voltages held from t = 0 on a winding at rest; the line currents after k periods against
// the circuit's solution, written out per case.
TEST(Winding, StepResponsesMatchTheCircuits) {
  const double r = 2.0, l = 4e-3, v = 10.0, tau = l / r;
  const auto rise = [tau](int k) { return 1.0 - std::exp(-k * kT / tau); };
  struct Row {
    const char* name;
    Connection connection;
    Terminal open;
    std::array<double, 3> poles;
    std::function<std::array<double, 3>(int)> want;  // line currents A, B, C after k periods
  } rows[] = {
      // Star: A carries V across its phase in series with B || C: 2V/3 / R.
      {"star",
       Connection::kStar,
       Terminal::kNone,
       {v, 0, 0},
       [&](int k) {
         const double a = 2 * v / 3 / r * rise(k);
         return std::array<double, 3>{a, -a / 2, -a / 2};
       }},
      // Delta: branches A-B and C-A each see V.
      {"delta",
       Connection::kDelta,
       Terminal::kNone,
       {v, 0, 0},
       [&](int k) {
         const double b = v / r * rise(k);
         return std::array<double, 3>{2 * b, -b, -b};
       }},
      // Star, lead A open: nothing flows from A; B to C through two phases in series.
      {"star open A",
       Connection::kStar,
       Terminal::kA,
       {v, 0, 0},
       [&](int) {
         return std::array<double, 3>{0, 0, 0};
       }},
      {"star open A, B driven",
       Connection::kStar,
       Terminal::kA,
       {0, v, 0},
       [&](int k) {
         const double b = v / (2 * r) * rise(k);
         return std::array<double, 3>{0, b, -b};
       }},
      // Delta, lead A open: B-C directly, and through A-B and C-A in series.
      {"delta open A, B driven",
       Connection::kDelta,
       Terminal::kA,
       {0, v, 0},
       [&](int k) {
         const double b = 1.5 * v / r * rise(k);
         return std::array<double, 3>{0, b, -b};
       }},
  };
  for (const Row& row : rows) {
    WindingParams p{.connection = row.connection,
                    .resistance_Ohm = {r, r, r},
                    .inductance_H = {l, l, l},
                    .open_terminal = row.open,
                    .period_s = kT};
    const Winding winding(p);
    WindingState state;
    for (int k = 1; k <= 200; ++k) {
      winding.Step(row.poles, {0, 0, 0}, state);
      if (k != 1 && k != 7 && k != 200) continue;
      const auto got = winding.LineCurrents(state);
      const auto want = row.want(k);
      for (int x = 0; x < 3; ++x)
        EXPECT_NEAR(got[x], want[x], 1e-12) << row.name << ", period " << k << ", line " << x;
    }
  }
}

// With unequal phases the steady state follows Ohm's law through the network: phase A at twice
// the resistance in series with B || C; an imbalance of inductance alone leaves it unchanged.
TEST(Winding, ImbalancedStarSettlesToItsDcSolution) {
  const double r = 1.0, v = 5.0;
  for (auto [ra, la] : {std::pair{2.0, 1.0}, {1.0, 3.0}}) {
    WindingParams p{.connection = Connection::kStar,
                    .resistance_Ohm = {r * ra, r, r},
                    .inductance_H = {1e-3 * la, 1e-3, 1e-3},
                    .period_s = kT};
    const Winding winding(p);
    WindingState state;
    for (int k = 0; k < 4000; ++k) winding.Step({v, 0, 0}, {0, 0, 0}, state);
    const auto i = winding.LineCurrents(state);
    const double want = v / (r * ra + r / 2);
    EXPECT_NEAR(i[0], want, 1e-9) << ra << " " << la;
    EXPECT_NEAR(i[1], -want / 2, 1e-9);
  }
}

// A vertical axis with the power stage on and no voltage (all poles at half the bus: the windings
// short-circuited): the mover falls until the back-EMF's braking force carries its weight. In
// steady motion at speed v the phase EMF (2/3) Kf v at omega = 2 pi v / pitch drives the in-phase
// current (2/3) Kf v R / (R^2 + (omega L)^2), and Kf times it equals m g. Star and the equivalent
// delta (three times R and L per branch) brake alike.
TEST(Mover, FallsAtTheSpeedItsBackEmfBrakes) {
  const double r = 2.5, l = 3e-3, kf = 30.0, mass = 3.0, g = 9.81, pitch = 0.03;
  double v = 0.0;  // the speed where the braking force equals the weight, by fixed point
  for (int n = 0; n < 50; ++n) {
    const double x = 2 * kPi * v / pitch * l;
    v = mass * g * (r * r + x * x) / (2.0 / 3.0 * kf * kf * r);
  }
  for (const char* connection : {"star", "delta"}) {
    Config c = DefaultConfig();
    const bool delta = connection[0] == 'd';
    for (auto [key, value] : {std::pair{"R", delta ? 3 * r : r},
                              {"L", delta ? 3 * l : l},
                              {"Kf", kf},
                              {"motorMass", 1.0},
                              {"loadMass", mass - 1.0},
                              {"friction", 0.0},
                              {"gravity", g},
                              {"strokeMin", -20.0},
                              {"deadTime", 0.0},
                              {"polePitch", pitch}}) {
      ASSERT_EQ(ApplySimulationKey(c, key, axis::FormatNumber(value)), "") << key;
    }
    ASSERT_EQ(ApplySimulationKey(c, "connection", connection), "");
    std::string error;
    auto core = DriveCore::Create(c, error);
    ASSERT_NE(core, nullptr) << error;
    ASSERT_TRUE(core->SwitchOn(Mode::kVoltage));
    for (int k = 0; k < 20000; ++k) {  // 1 s; the mechanical time constant is about 12 ms
      core->Sample();
      core->Control();
      core->Physics();
    }
    EXPECT_NEAR(-core->mechanics().velocity_m_per_s / v, 1.0, 2e-3) << connection;
    // Falling, the mover's encoder counts down.
    EXPECT_LT(core->encoder_counts(), -100000) << connection;
  }
  // With the power stage off nothing brakes: free fall.
  Config c = DefaultConfig();
  ASSERT_EQ(ApplySimulationKey(c, "gravity", "9.81"), "");
  ASSERT_EQ(ApplySimulationKey(c, "friction", "0"), "");
  std::string error;
  auto core = DriveCore::Create(c, error);
  for (int k = 0; k < 2000; ++k) {
    core->Sample();
    core->Control();
    core->Physics();
  }
  EXPECT_NEAR(core->mechanics().velocity_m_per_s, -9.81 * 0.1, 1e-9);
}

TEST(Mover, DryFrictionHoldsAndEndStopsStop) {
  const MechanicsParams p{.mass_kg = 2.0,
                          .friction_N = 5.0,
                          .viscous_N_s_per_m = 0.0,
                          .gravity_m_per_s2 = 0.0,
                          .stroke_min_m = -0.1,
                          .stroke_max_m = 0.1};
  const struct {
    double force_N, velocity, position;
    int periods;
    double want_velocity, want_position;
  } rows[] = {
      {4.9, 0.0, 0.0, 1000, 0.0, 0.0},                  // below the breakaway force: held
      {-5.0, 0.0, 0.0, 1000, 0.0, 0.0},                 // at it: held
      {9.0, 0.0, 0.0, 1000, 4.0 / 2.0 * 0.05, NAN},     // above: (F - Fc) / m
      {0.0, 0.1, 0.0, 2000, 0.0, 0.1 * 0.1 / 2 / 2.5},  // coasting stops after v m / Fc
      {100.0, 1.0, 0.09, 1000, 0.0, 0.1},               // runs into the end stop and stays
  };
  for (const auto& row : rows) {
    MechanicsState s{.position_m = row.position, .velocity_m_per_s = row.velocity};
    for (int k = 0; k < row.periods; ++k) StepMechanics(p, row.force_N, kT, s);
    EXPECT_NEAR(s.velocity_m_per_s, row.want_velocity, 1e-9) << row.force_N;
    if (!std::isnan(row.want_position)) {
      EXPECT_NEAR(s.position_m, row.want_position, 2e-5) << row.force_N;
    }
  }
}

// The current sensors: quantised to ADC full scale / (2 ImaxPS) counts per ampere, the noise
// Gaussian with the rms asked for, the same noise from the same seed.
TEST(CurrentSensors, QuantiseAndAddTheNoiseAskedFor) {
  for (double noise_A : {0.0, 0.02}) {
    Config c = DefaultConfig();
    c.motor.current_noise_A = noise_A;
    c.motor.dead_time_s = 0.0;
    std::string error;
    auto core = DriveCore::Create(c, error);
    ASSERT_TRUE(core->SwitchOn(Mode::kVoltage));
    core->SetVoltage(0.0, 1000.0);  // about 0.8 V along phase A: 0.32 A in 2.5 Ohm
    double sum = 0.0, squares = 0.0;
    const int n = 20000;
    for (int k = 0; k < n + 2000; ++k) {
      core->Sample();
      if (k >= 2000) {
        const double error_counts =
            core->line_counts()[0] - core->line_currents_A()[0] * core->current_scale();
        sum += error_counts;
        squares += error_counts * error_counts;
        if (noise_A == 0.0) {
          ASSERT_LE(std::fabs(error_counts), 0.5);
        }
      }
      core->Control();
      core->Physics();
    }
    const double rms_counts = std::sqrt(squares / n), want = noise_A * 65520 / 20;
    if (noise_A > 0.0) {  // the noise dithers the rounding: no bias left
      EXPECT_NEAR(sum / n, 0.0, 4 * want / std::sqrt(n));
      EXPECT_NEAR(rms_counts / want, 1.0, 0.03);
    }
  }
}

}  // namespace
}  // namespace sim
