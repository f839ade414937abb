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
TestSetup Base(std::string skip, std::string in = "", double v = 0) {  // in "*": every value
  said.clear(), axis::SetErrorReporter([](const std::string& m) { said.push_back(m); });
  TestSetup s;
  for (auto& [n, x] : kBase)
    if (n != skip) s.Physical({{n, in == "*" || n == in ? v : x}});
  return s;
}

// A conversion, the names it reads or writes (the first is written), values with one input set.
struct Row {
  const char* in;
  double v, value;
};
struct Case {
  Calculator calc;
  std::vector<std::string> names;
  std::vector<Row> rows;
};
const char *kCm = "CurrentMeasurementType", *kFlag = "PosSpd_in_FastLoop", *kUp = "UPGRADE";
const Case kCases[] = {
    {DerivePWM_freq, {"PWM_freq", "PWMPER", "DSP_freq"}, {{"PWM_freq", -7, 2e4}}},
    {DerivePWMperiod, {"PWMperiod", "PWMPER", "DSP_freq"}, {{"", 0, 50e-6}}},
    {DeriveTs_C, {"Ts_C", "CLPER", "PWMPER", "DSP_freq"}, {{"", 0, 50e-6}}},
    {DeriveTs_S, {"Ts_S", "SLPER", "PWMPER", "DSP_freq"}, {{"", 0, 500e-6}}},
    {EncodePWMPER, {"PWMPER", "PWM_freq", "DSP_freq"}, {{"PWM_freq", 15e3, 20e6 / 15e3}}},  // as is
    {EncodeSATPWM, {"SATPWM", "PWM_freq", kCm}, {{"", 0, 2621.4}, {kCm, 0, 0}, {kCm, 0.5, 2621.4}}},
    {DerivePosSpd_in_FastLoop, {kFlag, kUp}, {{"", 0, 1}, {kUp, 0xFFBF, 0}, {kUp, 64.9, 1}}},
};

TEST(Timing, ConversionsPeriodsAndPwmRoundTrip) {
  for (const Case& c : kCases) {
    const char* out = c.names[0].c_str();
    for (const Row& r : c.rows) {
      TestSetup s = Base("", r.in, r.v);
      EXPECT_TRUE(c.calc(*s) && s.Max(out) == (c.calc == DerivePosSpd_in_FastLoop ? 1 : 1e300));
      EXPECT_NEAR(s.Get(out), r.value, 1e-9 * r.value) << out << " with " << r.in;
    }
    for (const std::string& missing : c.names) {  // the optional flag absent: done, nothing said
      TestSetup s = Base(missing);
      EXPECT_EQ(c.calc(*s), missing == kFlag) << out << " without " << missing;
      for (auto& [n, v] : kBase) EXPECT_TRUE(n == missing || (s.Get(n) == v && s.Min(n) < -1)) << n;
      EXPECT_TRUE(missing == kFlag ? said.empty() : said.size() == 1 && said[0].find(missing) + 1);
    }
    for (double poison : {0.0, -1.0, std::nan(""), HUGE_VAL, -HUGE_VAL, 1e308}) {
      EXPECT_EQ(c.calc(*Base("", "*", poison)), 1) << out << " with all " << poison;
      (void)DeadBandTime(*Base("", "*", poison));  // defined or not, never a fault
    }
  }
  EXPECT_EQ(DeadBandTime(*Base("", "DBT", 0)), 1e-6);
  TestSetup s = Base("DBT"), t = Base("");  // reports counted from here
  EXPECT_EQ(MinimumFastPeriod(*s) + MinimumSlowPeriod(*s) + DeadBandTime(*s), 0.0);  // absent
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
