#include "tuning/parameter_limits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/test_setup.h"

namespace kestrel {
namespace {

using axis::testing::TestSetup;

// U: an unset range; Ts_S = 2 x 10 x 1000 / 40e6; a reversed load of 1e6 counts per m.
constexpr double U = 1e300, kTs = 5e-4, kT = 65535 * kTs;
// clang-format off
const axis::testing::Value kScales[] = {{"EncRes", 1e-6}, {"Motor_transmission", -1},
    {"Load_transmission", 1}, {"DSP_freq", 40e6}, {"SLPER", 10}, {"PWMPER", 1000}, {"ImaxPS", 10}};
// Other inputs, probes (g: a limit they guard), every limit (TestPosition: 20 x 32767 / 1e6).
const struct { const char* name; double v, min = -U, max = U; const char* g = ""; } kLimits[] = {
    {"KPTHT", 0, -U, U, "MAX_CURRENT"}, {"IQREF_BQ_INI", 0, -U, U, "BQFilterF23"},
    {"CADIN", 0, -U, U, "POS_max"}, {"PolePitch", 0.03},
    {"ERR_speed", 0, -U, 32767 / 500.}, {"ERR_position", 0, -U, 0.032767},
    {"time_ERR_spd", 0, -U, 32767 * kTs}, {"time_ERR_pos", 0, -U, 32767 * kTs}, {"PB_C_minim", 100},
    {"PB_C_maxim", 5000}, {"PB_C", 0, 100, 5000}, {"PB_S_minim", 10}, {"PB_S_maxim", 500},
    {"PB_S", 0, 10, 500}, {"PB_P_minim", 1}, {"PB_P_maxim", 50}, {"PB_P", 0, 1, 50},
    {"TPP", 0, kTs, kT}, {"TNP", 0, kTs, kT}, {"TPS", 0, kTs, kT}, {"TNS", 0, kTs, kT},
    {"TaPS", 0, kTs, kT}, {"TaNS", 0, kTs, kT}, {"TaPP", 0.01, 2 * kTs, kT},
    {"TaNP", 0.02, 2 * kTs, kT}, {"TestPosition", 0, -0.65534, 0.65534}, {"TestSpeed", 0, -3, 3},
    {"Limit_Speed", 3}, {"MAX_CURRENT", 1, 0, 4}, {"In", 4}, {"InPS", 6}, {"filter", 10, -U, 1000},
    {"POS_min", -0.001, -0.032767, 0.002}, {"POS_max", 0.002, -0.001, 0.032767},
    {"BQFilterF11", 0, -U, 1000}, {"BQFilterF12", 0, -U, 1000}, {"BQFilterF13", 0, -U, 1000},
    {"BQFilterF21", 0, -U, 1000}, {"BQFilterF22", 0, -U, 1000}, {"BQFilterF23", 0, -U, 1000}};
// clang-format on

TestSetup Drive(const std::string& skip = "") {
  TestSetup t;
  for (const auto& v : kScales) t.Physical({v});
  for (const auto& row : kLimits)
    if (row.name != skip) t.Physical({{row.name, row.v}});
  t.Variable("CADIN")->SetAdcFullScale(4096);
  return t;
}

// Each input missing (the scales apart): silently, every limit as with all of them or unset.
// Degenerate values of each input go through the real plug-in (plugin/degenerate_values_test.cc).
TEST(ParameterLimits, FromThePresentSetup) {
  TestSetup t = Drive();
  ComputeParameterLimits(*t);
  EXPECT_EQ(t.Max("EncRes"), 0.03);  // one pole pitch
  for (const auto& [n, value, min, max, g] : kLimits) {
    EXPECT_NEAR(t.Min(n), min, 1e-12 * std::fabs(min)) << n;
    EXPECT_NEAR(t.Max(n), max, 1e-12 * std::fabs(max)) << n;
  }
  axis::SetErrorReporter([](const std::string& report) { ADD_FAILURE() << report; });
  for (const auto& row : kLimits) {
    TestSetup m = Drive(row.name);
    ComputeParameterLimits(*m);
    for (const auto& [n, value, min, max, g] : kLimits)
      EXPECT_TRUE(n == row.name || m.Max(n) == U || m.Max(n) == t.Max(n)) << row.name << n;
    EXPECT_TRUE(!*row.g || m.Max(row.g) == U) << row.name;
  }
  axis::SetErrorReporter(nullptr);
  t.Set("TaPP", 0.03);  // now TaNP is the shorter: 40 samples
  ComputeParameterLimits(*t);
  EXPECT_DOUBLE_EQ(t.Max("TestPosition"), 40 * 0.032767);
}

}  // namespace
}  // namespace kestrel
