// The identification tests end to end on the simulated drive: what the resistance and inductance,
// DC-bus and phase connection tests find must be the motor and the bus the drive is really
// connected to, and a refused result must leave the setup as it was.
#include "commissioning/phase_connections.h"
#include "host/number_text.h"
#include "unittests/acceptance/simulated_run.h"
#include "unittests/commissioning/commissioning_test_support.h"

namespace axis::testing {
namespace {

using IdentificationTest = SimulatedRunTest;

std::string Key(const char* key, double value) {
  return std::string(key) + "=" + FormatNumber(value);
}

// Corners of the range the test must cover: R from 0.3 to 20 Ohm, L from 0.3 to 30 mH, electrical
// time constants down to four fast-loop periods (0.2 ms), star and delta, dead time up to 2 us
// and current noise up to 0.5 % of the 1.5 A test current. The setup starts from other values.
TEST_F(IdentificationTest, ResistanceAndInductanceWithinOnePercent) {
  const struct {
    bool delta;
    double r_Ohm, l_H, dead_time_s, noise_A;
  } motors[] = {
      {false, 2.5, 3e-3, 1e-6, 0.0},      {false, 0.3, 0.3e-3, 2e-6, 0.0075},
      {false, 1.5, 0.3e-3, 2e-6, 0.0075}, {false, 0.3, 30e-3, 2e-6, 0.0075},
      {false, 20.0, 30e-3, 0.0, 0.0075},  {false, 20.0, 4e-3, 2e-6, 0.0075},
      {true, 0.3, 0.3e-3, 2e-6, 0.0075},  {true, 1.5, 0.3e-3, 0.5e-6, 0.0075},
      {true, 0.3, 30e-3, 2e-6, 0.0075},   {true, 20.0, 4e-3, 2e-6, 0.0075},
      {true, 20.0, 30e-3, 1e-6, 0.0},
  };
  for (const auto& m : motors) {
    const std::string motor = std::string(m.delta ? "delta" : "star") +
                              " R=" + FormatNumber(m.r_Ohm) + " L=" + FormatNumber(m.l_H);
    SCOPED_TRACE(motor);
    setup_ = Bundled({{"R", 7.0}, {"L", 7e-3}, {"MotorPhaseConnectionType", m.delta ? 1.0 : 0.0}});
    const SimulatedRun run = Run(
        "rl", {Key("R", m.r_Ohm), Key("L", m.l_H), Key("deadTime", m.dead_time_s),
               Key("currentNoise", m.noise_A), m.delta ? "connection=delta" : "connection=star"});
    ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    EXPECT_TRUE(run.outcome.kept);
    EXPECT_NEAR(Get(*setup_, "R") / m.r_Ohm, 1.0, 0.01);
    EXPECT_NEAR(Get(*setup_, "L") / m.l_H, 1.0, 0.01);
  }
}

TEST_F(IdentificationTest, RefusedResultsLeaveTheSetupAsItWas) {
  // No to the close question keeps R, L and the bus voltage the run measured out of the setup;
  // the zeroed start movement comes back too.
  for (const char* test : {"rl", "vdc"}) {
    SCOPED_TRACE(test);
    setup_ = Bundled();
    const auto before = Values(*setup_);
    const SimulatedRun run = Run(test, {"R=4", "L=0.005", "vdc=40"}, {.keep = false});
    EXPECT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    EXPECT_FALSE(run.outcome.kept);
    EXPECT_EQ(Changed(before, Values(*setup_)), std::vector<std::string>{});
  }
}

TEST_F(IdentificationTest, BusVoltageWithinOneCountOfTheReading) {
  // The bus is read in counts of 90 V / 65520 (VdcMaxMeasurable over the ADC's full scale).
  constexpr double kCount_V = 90.0 / 65520.0;
  for (double bus_V : {12.0, 24.0, 48.0, 61.7, 89.9}) {
    SCOPED_TRACE(bus_V);
    setup_ = Bundled({{"Vdc", 36.0}});
    const SimulatedRun run = Run("vdc", {Key("vdc", bus_V)});
    ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    EXPECT_NEAR(Get(*setup_, "Vdc"), bus_V, kCount_V);
  }
}

TEST_F(IdentificationTest, PhaseConnectionsAndDriveFaults) {
  const std::string open_phase = CTestPhaseConnections::kFailureText;
  const struct {
    std::vector<std::string> keys;
    std::string failure;  // "" when the test passes
  } rows[] = {
      {{"connection=star"}, ""},
      {{"connection=delta"}, ""},
      {{"connection=star", "openPhase=A"}, open_phase},
      {{"connection=star", "openPhase=B"}, open_phase},
      {{"connection=star", "openPhase=C"}, open_phase},
      {{"connection=delta", "openPhase=A"}, open_phase},
      // The test watches the short-circuit and ENABLE bits only.
      {{"faults=0x8000"}, "Drive / Motor ENABLE input is in DISABLED state."},
      {{"faults=0x0002"}, "Drive / Motor shortcircuit protection triggered."},
      {{"faults=0x00C0"}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.keys));
    setup_ = Bundled();
    const SimulatedRun run = Run("phase", row.keys);
    EXPECT_EQ(run.outcome.succeeded, row.failure.empty());
    EXPECT_EQ(run.outcome.failure, row.failure);
  }
}

}  // namespace
}  // namespace axis::testing
