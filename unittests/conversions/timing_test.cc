#include "conversions/timing.h"

#include <gtest/gtest.h>

#include <cmath>

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using namespace kestrel;

// 40 MHz timer, PWMPER 1000: 20 kHz and 50 us; CLPER 1, SLPER 10; dead band max(10, 20) counts.
const std::vector<std::pair<const char*, double>> kBase = {
    {"PWMPER", 1000},  {"CLPER", 1},
    {"SLPER", 10},     {"DSP_freq", 40e6},
    {"PWM_freq", 2e4}, {"PWMperiod", -7},
    {"Ts_C", -7},      {"Ts_S", -7},
    {"UPGRADE", 0x40}, {"PosSpd_in_FastLoop", -7},
    {"SATPWM", -7},    {"CurrentMeasurementType", 1},
    {"DBT", 0x0A14}};
std::vector<std::string> said;  // the host's reports since the last Base()
TestSetup Base(std::string skip, std::string in = "", double v = 0) {
  said.clear(), axis::SetErrorReporter([](const std::string& m) { said.push_back(m); });
  TestSetup s;
  for (auto& [n, x] : kBase)
    if (n != skip) s.Physical({{n, n == in ? v : x}});
  return s;
}

// A conversion, the name it writes, and its values with one input set.
struct Row {
  const char* in;
  double v, value;
};
const char *kCm = "CurrentMeasurementType", *kUp = "UPGRADE";
const struct {
  Calculator calc;
  const char* out;
  std::vector<Row> rows;
} kCases[] = {
    {DerivePWM_freq, "PWM_freq", {{"PWM_freq", -7, 2e4}}},
    {DerivePWMperiod, "PWMperiod", {{"", 0, 50e-6}}},
    {DeriveTs_C, "Ts_C", {{"", 0, 50e-6}}},
    {DeriveTs_S, "Ts_S", {{"", 0, 500e-6}}},
    {EncodePWMPER, "PWMPER", {{"PWM_freq", 15e3, 20e6 / 15e3}}},  // as is
    {EncodeSATPWM, "SATPWM", {{"", 0, 2621.4}, {kCm, 0, 0}, {kCm, 0.5, 2621.4}}},
    {DerivePosSpd_in_FastLoop,
     "PosSpd_in_FastLoop",
     {{"", 0, 1}, {kUp, 0xFFBF, 0}, {kUp, 64.9, 1}}},
};

TEST(Timing, ConversionsPeriodsAndPwmRoundTrip) {
  for (const auto& c : kCases) {
    const char* out = c.out;
    for (const Row& r : c.rows) {
      TestSetup s = Base("", r.in, r.v);
      EXPECT_TRUE(c.calc(*s) && s.Max(out) == (c.calc == DerivePosSpd_in_FastLoop ? 1 : 1e300));
      EXPECT_NEAR(s.Get(out), r.value, 1e-9 * r.value) << out << " with " << r.in;
    }
  }
  EXPECT_EQ(DeadBandTime(*Base("", "DBT", 0)), 1e-6);
  TestSetup s = Base("DBT"), t = Base("");  // reports counted from here
  // Absent: each reads as 0.
  EXPECT_EQ((std::vector<double>{MinimumFastPeriod(*s), MinimumSlowPeriod(*s), DeadBandTime(*s)}),
            (std::vector<double>{0, 0, 0}));
  EXPECT_DOUBLE_EQ(DeadBandTime(*t), 0.25e-6);                       // max(10, 20) x 0.5 / 40 MHz
  s.Physical({{"DBTPC", 80}, {"DBT", 0x1E05}, {"Ts_S_min", 7e-4}});  // the high count, 80 %
  EXPECT_TRUE(DeadBandTime(*s) == 30 * 0.8 / 40e6 && MinimumSlowPeriod(*s) == 7e-4 && said.empty());
  axis::SetErrorReporter(nullptr);
  for (int i = 0; i < 2000; ++i) {  // PWM frequencies spread by the golden ratio, three clocks
    const double dsp = 20e6 * (1 + i % 3), f = 1e3 + 99e3 * std::fmod(i * 0.6180339887, 1.0);
    TestSetup u;
    u.Registers({{"PWMPER", 0}}).Physical({{"PWM_freq", f}, {"DSP_freq", dsp}});
    ASSERT_TRUE(EncodePWMPER(*u) && DerivePWM_freq(*u));
    const double p = u.Get("PWMPER");  // whole counts, kept by the host: within one step
    EXPECT_LE(std::fabs(u.Get("PWM_freq") - f), dsp / 2 / p - dsp / 2 / (p + 1)) << f;
  }
}

}  // namespace
