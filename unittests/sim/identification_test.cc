// The resistance and inductance routines as the identification test uses them, with the host's
// formulas applied to what they leave behind: the identified R and L must match the true motor.
#include <gtest/gtest.h>

#include <cmath>

#include "host/number_text.h"

#include "sim/simulated_drive.h"
#include "unittests/sim/host_side.h"

namespace sim {
namespace {

using axis::LogRequest;
using testing::HostMean;
using testing::HostSide;
using testing::Record;

constexpr double kAdcFullScale = 65520.0, kImaxPS = 10.0, kVdcMax = 90.0, kTsC = 50e-6;
constexpr double kCurrentScale = kAdcFullScale / (2.0 * kImaxPS);  // counts per ampere
constexpr double kTwoPi = 6.283185307179586;

struct Identified {
  double r_Ohm = NAN, l_H = NAN;
};

// The identification test's sequence: positioning and resistance at the test current, the same at
// half of it, then the inductance; R and L from the host's formulas (sinusoidal voltage scale
// 65534 / (1.1 Vdc), Vdc from "var_u2"), tripled for a delta motor.
Identified IdentifyAsTheHost(HostSide& host, int test_counts, bool delta) {
  Identified out;
  double u[2] = {}, i[2] = {}, bus = 0.0;
  const int levels[2] = {test_counts, test_counts / 2};
  for (int run = 0; run < 2; ++run) {
    if (!host.Run("Initial_Positioning_Test", {{"In1", levels[run]}})) return out;
    EXPECT_EQ(host.User("Initial_Positioning_Test", "In1"), levels[run]);
    const double ref = host.Variable("REFTST_V"), inc = host.Variable("RINCTST_V");
    const LogRequest log =
        Record({"IQ"}, 400, run == 0 ? LogRequest::Rate::kFastLoop : LogRequest::Rate::kSlowLoop);
    if (!host.Run("Ident_R_or_Rs", {{"RefTest", ref}, {"RIncTest", inc}, {"In1", levels[run]}},
                  &log))
      return out;
    u[run] = host.Variable("var_i1");
    i[run] = HostMean(host.Record(), [](const axis::LogPoint& p) { return p[1]; });
    bus = host.Variable("var_u2");
  }
  const double vdc = bus * kVdcMax / kAdcFullScale;
  const double voltage_scale = 65534.0 / (1.1 * vdc);
  out.r_Ohm = (u[0] - u[1]) / (i[0] - i[1]) * kCurrentScale / voltage_scale;

  const LogRequest log = Record({"IQ", "ID"}, 400, LogRequest::Rate::kSlowLoop);
  if (!host.Run("Ident_L_or_Tau_el", {{"In1", test_counts}}, &log)) return out;
  const double amplitude = host.Variable("var_i1");
  const double omega = kTwoPi * host.Variable("TINCTST") / (65535.0 * kTsC);
  const auto points = host.Record();
  const double md = HostMean(points, [](const axis::LogPoint& p) { return p[2]; });
  const double m2 =
      HostMean(points, [](const axis::LogPoint& p) { return p[1] * p[1] + p[2] * p[2]; });
  out.l_H = amplitude * md * kCurrentScale / (omega * m2 * voltage_scale);
  if (delta) {
    out.r_Ohm *= 3.0;
    out.l_H *= 3.0;
  }
  return out;
}

struct Motor {
  const char* connection;
  double r_Ohm, l_H, dead_time_s, noise_of_test;  // noise as a share of the test current
};

// Corners of the range (0.3 to 20 Ohm, 0.3 to 30 mH, time constants down to four fast-loop
// periods), star and delta, dead time up to 2 us against the drive's 1 us compensation, noise up
// to 0.5 % of the test current; the demo's force constant and mass (the mover is free).
TEST(Identification, ResistanceAndInductanceWithinOnePercent) {
  const Motor motors[] = {
      {"star", 2.5, 3e-3, 1e-6, 0.0},      {"star", 0.3, 0.3e-3, 2e-6, 0.005},
      {"star", 1.5, 0.3e-3, 2e-6, 0.005},  {"star", 0.3, 30e-3, 2e-6, 0.005},
      {"star", 20.0, 30e-3, 0.0, 0.005},   {"star", 20.0, 4e-3, 2e-6, 0.005},
      {"delta", 0.3, 0.3e-3, 2e-6, 0.005}, {"delta", 1.5, 0.3e-3, 0.5e-6, 0.005},
      {"delta", 0.3, 30e-3, 2e-6, 0.005},  {"delta", 20.0, 4e-3, 2e-6, 0.005},
      {"delta", 20.0, 30e-3, 1e-6, 0.0},
  };
  const double test_A = 1.5;
  for (const Motor& m : motors) {
    Config config = DefaultConfig();
    for (auto [key, value] : {std::pair{"R", m.r_Ohm},
                              {"L", m.l_H},
                              {"deadTime", m.dead_time_s},
                              {"currentNoise", m.noise_of_test * test_A}}) {
      ASSERT_EQ(ApplySimulationKey(config, key, axis::FormatNumber(value)), "");
    }
    ASSERT_EQ(ApplySimulationKey(config, "connection", m.connection), "");
    HostSide host(config);
    const Identified got =
        IdentifyAsTheHost(host, static_cast<int>(test_A * kCurrentScale), m.connection[0] == 'd');
    const std::string motor = std::string(m.connection) + " R=" + axis::FormatNumber(m.r_Ohm) +
                              " L=" + axis::FormatNumber(m.l_H);
    EXPECT_NEAR(got.r_Ohm / m.r_Ohm, 1.0, 0.01) << motor << " R = " << got.r_Ohm;
    EXPECT_NEAR(got.l_H / m.l_H, 1.0, 0.01) << motor << " L = " << got.l_H;
    RecordProperty(motor, "R " + axis::FormatNumber(100 * (got.r_Ohm / m.r_Ohm - 1), 3) + " %, L " +
                              axis::FormatNumber(100 * (got.l_H / m.l_H - 1), 3) + " %");
  }
}

}  // namespace
}  // namespace sim
