#include "conversions/timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "conversions/calculator.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using axis::testing::Value;
using kestrel::Calculator;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Collects the host's reports of missing names for the lifetime of the object.
class ReportLog {
 public:
  ReportLog() {
    axis::SetErrorReporter([this](const std::string& m) { reports.push_back(m); });
  }
  ~ReportLog() { axis::SetErrorReporter(nullptr); }
  std::vector<std::string> reports;
};

TEST(TimingDerive, PeriodsAndFrequencyFollowTheTimerRegisters) {
  struct Row {
    const char* name;
    double pwmper, clper, slper, dsp_Hz;
    double pwm_freq_Hz, pwm_period_s, ts_c_s, ts_s_s;
  };
  const Row rows[] = {
      // 40 MHz / (2 x 1000) = 20 kHz; a period of 50 us; 1 and 10 periods per sample.
      {"20 kHz", 1000, 1, 10, 40e6, 20000, 50e-6, 50e-6, 500e-6},
      // 20e6 / 1333 = 15003.75 Hz; 2666 / 40e6 = 66.65 us; x2 and x8.
      {"odd period", 1333, 2, 8, 40e6, 15003.750937734434, 66.65e-6, 133.3e-6, 533.2e-6},
      // 30e6 / 2500 = 12 kHz; 5000 / 60e6 = 83.33 us; x3 = 250 us, x12 = 1 ms.
      {"60 MHz clock", 2500, 3, 12, 60e6, 12000, 83.333333333333333e-6, 250e-6, 1e-3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Registers({{"PWMPER", row.pwmper}, {"CLPER", row.clper}, {"SLPER", row.slper}})
        .Physical({{"DSP_freq", row.dsp_Hz, "Hz"},
                   {"PWM_freq", 0, "Hz"},
                   {"PWMperiod", 0, "s"},
                   {"Ts_C", 0, "s"},
                   {"Ts_S", 0, "s"}});
    EXPECT_EQ(kestrel::DerivePWM_freq(*s), 1);
    EXPECT_EQ(kestrel::DerivePWMperiod(*s), 1);
    EXPECT_EQ(kestrel::DeriveTs_C(*s), 1);
    EXPECT_EQ(kestrel::DeriveTs_S(*s), 1);
    EXPECT_NEAR(s.Get("PWM_freq"), row.pwm_freq_Hz, 1e-9 * row.pwm_freq_Hz);
    EXPECT_NEAR(s.Get("PWMperiod"), row.pwm_period_s, 1e-12 * row.pwm_period_s);
    EXPECT_NEAR(s.Get("Ts_C"), row.ts_c_s, 1e-12 * row.ts_c_s);
    EXPECT_NEAR(s.Get("Ts_S"), row.ts_s_s, 1e-12 * row.ts_s_s);
    // No range is set by these conversions: the builder's wide range stays.
    for (const char* name : {"PWM_freq", "PWMperiod", "Ts_C", "Ts_S"}) {
      EXPECT_EQ(s.Min(name), -1e300) << name;
      EXPECT_EQ(s.Max(name), 1e300) << name;
    }
  }
}

TEST(TimingEncode, PwmPeriodRegisterIsHandedOverUnrounded) {
  struct Row {
    const char* name;
    double pwm_freq_Hz, dsp_Hz, pwmper_raw, pwmper_stored;
  };
  const Row rows[] = {
      {"15 kHz: 20e6 / 15000", 15000, 40e6, 1333.3333333333333, 1333},
      {"20 kHz", 20000, 40e6, 1000, 1000},
      {"16 kHz on 60 MHz: 30e6 / 16000", 16000, 60e6, 1875, 1875},
      {"20e6 / 8000.8 = 2499.750025 is kept as 2500", 8000.8, 40e6, 2499.750024997500, 2500},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // A plain (non-integer) parameter shows what the conversion hands over; the register shows
    // what the host keeps.
    TestSetup raw;
    raw.Physical(
        {{"PWMPER", 0}, {"PWM_freq", row.pwm_freq_Hz, "Hz"}, {"DSP_freq", row.dsp_Hz, "Hz"}});
    EXPECT_EQ(kestrel::EncodePWMPER(*raw), 1);
    EXPECT_NEAR(raw.Get("PWMPER"), row.pwmper_raw, 1e-6);

    TestSetup reg;
    reg.Registers({{"PWMPER", 0}})
        .Physical({{"PWM_freq", row.pwm_freq_Hz, "Hz"}, {"DSP_freq", row.dsp_Hz, "Hz"}});
    EXPECT_EQ(kestrel::EncodePWMPER(*reg), 1);
    EXPECT_EQ(reg.Get("PWMPER"), row.pwmper_stored);
  }
}

TEST(TimingEncode, PwmSaturationDependsOnCurrentMeasurement) {
  struct Row {
    const char* name;
    double measurement_type, pwm_freq_Hz, satpwm;
  };
  const Row rows[] = {
      {"measured: 20000 x 0.13107", 1, 20000, 2621.4},
      {"measured: 10000 x 0.13107", 1, 10000, 1310.7},
      {"other type codes use the formula too", 2, 15000, 1966.05},
      {"0.5 is not exactly 0", 0.5, 20000, 2621.4},
      {"type 0 gives no saturation", 0, 20000, 0},
      {"negative zero equals 0", -0.0, 20000, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Physical({{"SATPWM", -7},
                {"PWM_freq", row.pwm_freq_Hz, "Hz"},
                {"CurrentMeasurementType", row.measurement_type}});
    EXPECT_EQ(kestrel::EncodeSATPWM(*s), 1);
    EXPECT_NEAR(s.Get("SATPWM"), row.satpwm, 1e-9);
  }
}

TEST(TimingDerive, PositionAndSpeedInFastLoopIsBitSixOfTheFeatureWord) {
  struct Row {
    const char* name;
    double upgrade, flag;
  };
  const Row rows[] = {
      {"0x0040", 0x40, 1},
      {"nothing set", 0, 0},
      {"every bit but 6", 0xFFBF, 0},
      {"0x0041", 0x41, 1},
      {"bit 7 only", 0x80, 0},
      {"fraction truncated: 64.9", 64.9, 1},
      {"-1 keeps all bits", -1, 1},
      {"NaN reads as 0", kNaN, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    // A plain parameter so that fractions and NaN reach the conversion as written.
    s.Physical({{"UPGRADE", row.upgrade}, {"PosSpd_in_FastLoop", -5}});
    EXPECT_EQ(kestrel::DerivePosSpd_in_FastLoop(*s), 1);
    EXPECT_EQ(s.Get("PosSpd_in_FastLoop"), row.flag);
    EXPECT_EQ(s.Min("PosSpd_in_FastLoop"), 0.0);
    EXPECT_EQ(s.Max("PosSpd_in_FastLoop"), 1.0);
  }
}

TEST(TimingDerive, OptionalFastLoopFlagAbsentIsQuietAndDone) {
  ReportLog log;
  TestSetup s;
  s.Registers({{"UPGRADE", 0x40}});
  EXPECT_EQ(kestrel::DerivePosSpd_in_FastLoop(*s), 1);
  EXPECT_TRUE(log.reports.empty());
  EXPECT_EQ(g_bShowErrors, 1);  // the probe restores the host's setting

  // The flag without its word: nothing can be read, nothing is written.
  TestSetup t;
  t.Physical({{"PosSpd_in_FastLoop", 0.5}});
  EXPECT_EQ(kestrel::DerivePosSpd_in_FastLoop(*t), 0);
  EXPECT_EQ(t.Get("PosSpd_in_FastLoop"), 0.5);
  EXPECT_EQ(t.Min("PosSpd_in_FastLoop"), -1e300);
}

// Every timing conversion with one of its names missing does nothing and reports the name.
TEST(TimingContract, MissingNameChangesNothing) {
  struct Row {
    const char* name;
    Calculator calculator;
    std::vector<const char*> names;  // everything it reads or writes
  };
  const std::vector<Row> rows = {
      {"PWM_freq", kestrel::DerivePWM_freq, {"PWM_freq", "PWMPER", "DSP_freq"}},
      {"PWMperiod", kestrel::DerivePWMperiod, {"PWMperiod", "PWMPER", "DSP_freq"}},
      {"Ts_C", kestrel::DeriveTs_C, {"Ts_C", "CLPER", "PWMPER", "DSP_freq"}},
      {"Ts_S", kestrel::DeriveTs_S, {"Ts_S", "SLPER", "PWMPER", "DSP_freq"}},
      {"PWMPER", kestrel::EncodePWMPER, {"PWMPER", "PWM_freq", "DSP_freq"}},
      {"SATPWM", kestrel::EncodeSATPWM, {"SATPWM", "PWM_freq", "CurrentMeasurementType"}},
  };
  for (const Row& row : rows) {
    for (const char* missing : row.names) {
      SCOPED_TRACE(std::string(row.name) + " without " + missing);
      ReportLog log;
      TestSetup s;
      for (const char* name : row.names) {
        if (std::string(name) != missing) s.Physical({{name, 3.0}});
      }
      EXPECT_EQ(row.calculator(*s), 0);
      for (const char* name : row.names) {
        if (std::string(name) == missing) continue;
        EXPECT_EQ(s.Get(name), 3.0) << name;
        EXPECT_EQ(s.Min(name), -1e300) << name;
      }
      ASSERT_EQ(log.reports.size(), 1u);
      EXPECT_NE(log.reports[0].find(missing), std::string::npos);
    }
  }
}

TEST(TimingRoundTrip, PwmFrequencyComesBackWithinOneRegisterStep) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> freq(1000.0, 100000.0);
  std::uniform_int_distribution<int> clock(0, 2);
  const double clocks_Hz[] = {20e6, 40e6, 60e6};
  for (int i = 0; i < 2000; ++i) {
    const double f_Hz = freq(rng);
    const double dsp_Hz = clocks_Hz[clock(rng)];
    TestSetup s;
    s.Registers({{"PWMPER", 0}}).Physical({{"PWM_freq", f_Hz, "Hz"}, {"DSP_freq", dsp_Hz, "Hz"}});
    ASSERT_EQ(kestrel::EncodePWMPER(*s), 1);
    ASSERT_EQ(kestrel::DerivePWM_freq(*s), 1);
    // The host keeps PWMPER to the nearest count; a half count off moves the frequency by at most
    // f x 0.5 / (P - 0.5), P being the exact count.
    const double exact_count = dsp_Hz / (2.0 * f_Hz);
    EXPECT_LE(std::fabs(s.Get("PWM_freq") - f_Hz), f_Hz * 0.5 / (exact_count - 0.5))
        << "f " << f_Hz << " clock " << dsp_Hz;
  }
}

TEST(TimingEdges, ZeroNaNAndInfiniteInputsGiveDefinedResults) {
  struct Row {
    const char* name;
    double pwmper, dsp_Hz, pwm_freq_Hz;
    bool freq_inf, freq_nan, pwmper_inf, pwmper_nan;
  };
  const Row rows[] = {
      {"zero PWMPER", 0, 40e6, 0, true, false, true, false},
      {"NaN clock", 1000, kNaN, 20000, false, true, false, true},
      {"infinite PWMPER", kInf, 40e6, kInf, false, false, false, false},
      {"negative PWM_freq", 1000, 40e6, -20000, false, false, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Registers(
         {{"PWMPER", row.pwmper}, {"CLPER", 1}, {"SLPER", 10}, {"UPGRADE", kNaN}, {"SATPWM", 0}})
        .Physical({{"DSP_freq", row.dsp_Hz},
                   {"PWM_freq", 0},
                   {"PWMperiod", 0},
                   {"Ts_C", 0},
                   {"Ts_S", 0},
                   {"PosSpd_in_FastLoop", 0},
                   {"CurrentMeasurementType", kNaN}});
    for (Calculator c : {kestrel::DerivePWM_freq, kestrel::DerivePWMperiod, kestrel::DeriveTs_C,
                         kestrel::DeriveTs_S, kestrel::DerivePosSpd_in_FastLoop}) {
      EXPECT_EQ(c(*s), 1);
    }
    EXPECT_EQ(std::isinf(s.Get("PWM_freq")), row.freq_inf);
    EXPECT_EQ(std::isnan(s.Get("PWM_freq")), row.freq_nan);
    s.Set("PWM_freq", row.pwm_freq_Hz);
    EXPECT_EQ(kestrel::EncodePWMPER(*s), 1);
    EXPECT_EQ(kestrel::EncodeSATPWM(*s), 1);
    EXPECT_EQ(std::isinf(s.Get("PWMPER")), row.pwmper_inf);
    EXPECT_EQ(std::isnan(s.Get("PWMPER")), row.pwmper_nan);
  }
}

}  // namespace
