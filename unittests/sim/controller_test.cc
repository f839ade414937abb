// The drive's fixed-point current controller: worked values of its arithmetic, and its step
// response on the simulated motor as the registers set it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "sim/current_controller.h"
#include "unittests/sim/host_side.h"

namespace sim {
namespace {

// Each value worked by hand: P = floor(e * KPI * 2^SFTKPI / 32768), the integral adds
// e * KII * 2^SFTKII in Q15 per period, the output is clamped to 32767 - SAT.
TEST(FixedPointPi, ComputesAsTheDspDoes) {
  const struct {
    PiRegisters r;
    int32_t error;
    int periods;
    int32_t want;
    const char* why;
  } rows[] = {
      {{24053, 3, 0, 0, 2621}, 1000, 1, 5872, "1000 * 24053 * 8 / 32768 = 5872.3"},
      {{24053, 2, 0, 0, 2621}, 1000, 1, 2936, "one shift less halves it: 2936.2"},
      {{24053, 4, 0, 0, 2621}, 1000, 1, 11744, "one more doubles it: 11744.6"},
      {{16384, 0, 0, 0, 0}, -3, 1, -2, "-1.5 floors to -2 (arithmetic shift)"},
      {{0, 0, 16759, 0, 2621}, 100, 10, 511, "10 * 100 * 16759 / 32768 = 511.4"},
      {{0, 0, 16759, 1, 2621}, 100, 10, 1022, "the integral's shift doubles it: 1022.9"},
      {{32767, 15, 0, 0, 2621}, 30000, 1, 30146, "clamped to 32767 - SATIQ"},
      {{32767, 15, 0, 0, 2621}, -30000, 1, -30146, "and below"},
      {{32767, 40, 0, 0, 0}, 1, 1, 32767, "a shift past 31 counts as 31: saturates"},
      {{-5, 0, 0, 0, 0}, 1000, 1, 0, "a negative mantissa counts as 0"},
  };
  for (const auto& row : rows) {
    PiState state;
    int32_t out = 0;
    for (int k = 0; k < row.periods; ++k) out = StepPi(row.r, row.error, 0, state);
    EXPECT_EQ(out, row.want) << row.why;
  }
}

// The integral stops at the output limit, so the output leaves the limit at once when the error
// turns.
TEST(FixedPointPi, IntegralDoesNotWindUp) {
  const PiRegisters r{0, 0, 32767, 0, 2621};
  PiState state;
  for (int k = 0; k < 1000; ++k) StepPi(r, 30000, 0, state);
  EXPECT_EQ(StepPi(r, 30000, 0, state), 30146);
  // (30146 * 32768 - 100 * 32767) / 32768 = 30046.0002
  EXPECT_EQ(StepPi(r, 0, 100, state), 30046);
}

// The current step response of the tuning routine on the demo motor (2.5 Ohm, 3 mH). The demo's
// registers hold Kp = 15.5 V/A and Ki = 27000 V/(A s) (Kp_C_scl 5.872, Ki_C_scl 0.5115 at
// 1241.2 voltage counts per volt and 3276 current counts per ampere): a double pole at 3000 1/s
// and a zero at Ki / Kp. The continuous loop's step response,
// y(t) = 1 - e^(-wt) + (Kp / L - Ki / (L w)) t e^(-wt) with w = 3000 1/s, worked out: 63 % at
// 0.174 ms, a peak of 6.3 % over the step. The drive adds its delay of one
// and a half periods (0.075 ms), which also adds to the overshoot. The proportional gain's shift
// off by one either way gives a response that differs from it by more than a fifth of the step.
TEST(FixedPointPi, ShiftOffByOneChangesTheStepResponse) {
  const auto response = [](double kpi_shift, double* rise_s) {
    Config c = DefaultConfig();
    for (auto& r : c.registers) {
      if (r.first == "SFTKPI") r.second = kpi_shift;
    }
    testing::HostSide host(c);
    const axis::LogRequest log = testing::Record({"Current_Reference", "Motor_Current"}, 400,
                                                 axis::LogRequest::Rate::kFastLoop);
    EXPECT_TRUE(host.Run("Current_Controller_Tuning_Test",
                         {{"In1", 3000}, {"Imax_Prot_Test", 30000}}, &log));
    EXPECT_EQ(host.User("Current_Controller_Tuning_Test", "test_flag"), 1.0);
    std::vector<double> current;
    double step_at = NAN;
    for (const auto& p : host.Record()) {
      if (std::isnan(step_at) && p[1] > 0.0) step_at = p[0];
      if (!std::isnan(step_at) && p[1] > 0.0) current.push_back(p[2]);
    }
    if (rise_s != nullptr) {
      for (size_t k = 0; k < current.size(); ++k) {
        if (current[k] >= 0.63 * 3000) {
          *rise_s = (k + 1) * 50e-6;
          break;
        }
      }
    }
    return current;
  };
  double rise_s = NAN;
  const std::vector<double> tuned = response(3, &rise_s);
  ASSERT_GT(tuned.size(), 150u);
  EXPECT_NEAR(rise_s, 0.174e-3 + 0.075e-3, 0.03e-3);
  // The delay only adds to the overshoot.
  const double peak = *std::max_element(tuned.begin(), tuned.end()) / 3000;
  EXPECT_GT(peak, 1.063);
  EXPECT_LT(peak, 1.2);
  EXPECT_NEAR(tuned.back(), 3000, 0.02 * 3000);
  for (double shift : {2.0, 4.0}) {
    const std::vector<double> off = response(shift, nullptr);
    double largest = 0.0;
    for (size_t k = 0; k < std::min(tuned.size(), off.size()); ++k)
      largest = std::max(largest, std::fabs(tuned[k] - off[k]));
    EXPECT_GT(largest, 0.2 * 3000) << "SFTKPI " << shift;
  }
}

// The controller follows the registers the host writes: with both mantissas written as 0 it
// applies no voltage, and no more current flows than the dead-time compensation's residue (a
// hundredth of the step).
TEST(FixedPointPi, RunsFromTheRegistersWritten) {
  testing::HostSide host(DefaultConfig());
  ASSERT_TRUE(host.drive().WriteRegister("KPI", 0));
  ASSERT_TRUE(host.drive().WriteRegister("KII", 0));
  const axis::LogRequest log = testing::Record({"Motor_Current", "Voltage_Reference"}, 100,
                                               axis::LogRequest::Rate::kSlowLoop);
  ASSERT_TRUE(
      host.Run("Current_Controller_Tuning_Test", {{"In1", 3000}, {"Imax_Prot_Test", 30000}}, &log));
  for (const auto& p : host.Record()) {
    EXPECT_EQ(p[2], 0.0);
    EXPECT_LE(std::fabs(p[1]), 30.0);
  }
}

}  // namespace
}  // namespace sim
