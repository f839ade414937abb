#include "conversions/gains.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "conversions/calculator.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using kestrel::Calculator;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class ReportLog {
 public:
  ReportLog() {
    axis::SetErrorReporter([this](const std::string& m) { reports.push_back(m); });
  }
  ~ReportLog() { axis::SetErrorReporter(nullptr); }
  std::vector<std::string> reports;
};

// ---- Fixed-point gains ------------------------------------------------------------------------

// Each named calculator against the registers it must use, written out independently of the
// plug-in's own table so that a crossed wire shows.
struct PairRow {
  const char* scaled;
  const char* mantissa;
  const char* shift;
  Calculator derive, encode_shift, encode_mantissa;
};
const PairRow kPairs[] = {
    {"Kp_C_scl", "KPI", "SFTKPI", kestrel::DeriveKp_C_scl, kestrel::EncodeSFTKPI,
     kestrel::EncodeKPI},
    {"Ki_C_scl", "KII", "SFTKII", kestrel::DeriveKi_C_scl, kestrel::EncodeSFTKII,
     kestrel::EncodeKII},
    {"Kp_S_scl", "KPS", "SFTKPS", kestrel::DeriveKp_S_scl, kestrel::EncodeSFTKPS,
     kestrel::EncodeKPS},
    {"Ki_S_scl", "KIS", "SFTKIS", kestrel::DeriveKi_S_scl, kestrel::EncodeSFTKIS,
     kestrel::EncodeKIS},
    {"Kp_P_scl", "KPP", "SFTKPP", kestrel::DeriveKp_P_scl, kestrel::EncodeSFTKPP,
     kestrel::EncodeKPP},
    {"Ki_P_scl", "KIP", "SFTKIP", kestrel::DeriveKi_P_scl, kestrel::EncodeSFTKIP,
     kestrel::EncodeKIP},
    {"Kd_P_scl", "KDP", "SFTKDP", kestrel::DeriveKd_P_scl, kestrel::EncodeSFTKDP,
     kestrel::EncodeKDP},
    {"Kp_T_scl", "KPTHT", "SFTKPTHT", kestrel::DeriveKp_T_scl, kestrel::EncodeSFTKPTHT,
     kestrel::EncodeKPTHT},
    {"Ki_T_scl", "KITHT", "SFTKITHT", kestrel::DeriveKi_T_scl, kestrel::EncodeSFTKITHT,
     kestrel::EncodeKITHT},
    {"KFFS_scl", "KFFS", "SFTSFFW", kestrel::DeriveKFFS_scl, kestrel::EncodeSFTSFFW,
     kestrel::EncodeKFFS},
};

// A setup with one pair as plain parameters (so unrounded mantissas are visible), plus "KPTHT"
// for the electric angle loop's integral pair, which exists only beside it. The other pairs get
// no "KPTHT", which they must not need.
void AddPair(TestSetup& s, const PairRow& row, double gain) {
  s.Physical({{row.scaled, gain}, {row.mantissa, -1}, {row.shift, -1}});
  if (std::string(row.mantissa) == "KITHT") s.Physical({{"KPTHT", 0}});
}

TEST(GainEncode, ShiftAndMantissaForEveryPair) {
  struct Row {
    const char* name;
    double gain, shift, mantissa;
  };
  const Row rows[] = {
      {"1 needs no shift", 1, 0, 32767},
      {"0.5", 0.5, 0, 16383.5},
      {"2^14 = 32767 x 2^14 / 32767", 16384, 14, 32767},
      {"1.5 = 0.75 x 2", 1.5, 1, 24575.25},
      {"zero", 0, 0, 0},
      {"2", 2, 1, 32767},
      {"3 = 0.75 x 4", 3, 2, 24575.25},
      {"1000 = 1000/1024 x 2^10", 1000, 10, 31999.0234375},
      {"a hair above 1 takes a shift", std::nextafter(1.0, 2.0), 1, 16383.5},
      {"a hair above 2^10", std::nextafter(1024.0, 2048.0), 11, 16383.5},
      {"a hair below 2^10", std::nextafter(1024.0, 0.0), 10, 32767},
      {"0.001", 0.001, 0, 32.767},
  };
  for (const PairRow& pair : kPairs) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(pair.scaled) + ": " + row.name);
      TestSetup s;
      AddPair(s, pair, row.gain);
      EXPECT_EQ(pair.encode_shift(*s), 1);
      EXPECT_EQ(s.Get(pair.shift), row.shift);
      EXPECT_EQ(s.Get(pair.mantissa), -1);  // the shift calculator writes the shift only
      EXPECT_EQ(pair.encode_mantissa(*s), 1);
      EXPECT_NEAR(s.Get(pair.mantissa), row.mantissa, 1e-9);
      EXPECT_LE(s.Get(pair.mantissa), 32767.0);
    }
  }
}

TEST(GainDerive, GainFromMantissaAndShiftForEveryPair) {
  struct Row {
    const char* name;
    double mantissa, shift, gain;
  };
  const Row rows[] = {
      {"full mantissa, no shift", 32767, 0, 1},
      {"half scale", 16384, 0, 16384.0 / 32767.0},
      {"2^14", 32767, 14, 16384},
      {"24575 x 2 / 32767", 24575, 1, 49150.0 / 32767.0},
      {"24575 x 8 / 32767", 24575, 3, 196600.0 / 32767.0},
      {"zero mantissa", 0, 5, 0},
      {"one count", 1, 0, 1.0 / 32767.0},
  };
  for (const PairRow& pair : kPairs) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(pair.scaled) + ": " + row.name);
      TestSetup s;
      AddPair(s, pair, -9);
      s.Set(pair.mantissa, row.mantissa);
      s.Set(pair.shift, row.shift);
      EXPECT_EQ(pair.derive(*s), 1);
      EXPECT_NEAR(s.Get(pair.scaled), row.gain, 1e-12 * std::max(1.0, row.gain));
      EXPECT_EQ(s.Min(pair.scaled), 0.0);
      EXPECT_EQ(s.Max(pair.scaled), 16384.0);
    }
  }
}

TEST(GainShift, IsTheExactCeilingOfTheBinaryLogarithm) {
  struct Row {
    const char* name;
    double gain, shift;
  };
  const Row rows[] = {
      // ln(2^29) / ln(2) evaluates to 29.000000000000004 in doubles: its ceiling would be 30 and
      // the mantissa would drop to half scale.
      {"2^29", 536870912.0, 29},
      {"2^22", 4194304.0, 22},
      {"2^22 + 1", 4194305.0, 23},
      {"5 <= 8", 5, 3},
      {"1e300 lies between 2^996 and 2^997", 1e300, 997},
      {"largest double", DBL_MAX, 1024},
      {"smallest subnormal", std::numeric_limits<double>::denorm_min(), 0},
      {"exactly 1", 1, 0},
      {"negative", -8, 0},
      {"NaN", kNaN, 0},
      {"-inf", -kInf, 0},
      {"+inf", kInf, kInf},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(kestrel::GainShift(row.gain), row.shift);
  }
  // Huge gains keep a finite mantissa: DBL_MAX / 2^1024 is just under 1.
  const double m = kestrel::GainMantissa(DBL_MAX, 1024);
  EXPECT_TRUE(std::isfinite(m));
  EXPECT_NEAR(m, 32767.0, 1e-9);
  EXPECT_LE(m, 32767.0);
}

TEST(GainEncode, AccelerationFeedForwardSplitsItsShift) {
  struct Row {
    const char* name;
    double gain, low_shift, high_shift, mantissa;
  };
  const Row rows[] = {
      // S = 12: 11 in the first register, 1 in the second; 3000 x 32767 / 4096.
      {"3000", 3000, 11, 1, 23999.267578125},
      {"2^11 fits the first register", 2048, 11, 0, 32767},
      {"2049 needs S = 12: 2049 x 32767 / 4096", 2049, 11, 1, 16391.499755859375},
      {"2^22, top of the range", 4194304, 11, 11, 32767},
      {"100: S = 7, 100 x 32767 / 128", 100, 7, 0, 25599.21875},
      {"0.25", 0.25, 0, 0, 8191.75},
      {"zero", 0, 0, 0, 0},
  };
  const Calculator encoders[] = {kestrel::EncodeSFTAFFW, kestrel::EncodeSFTKFF,
                                 kestrel::EncodeKFFA};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Physical({{"KFFA_scl", row.gain}, {"KFFA", -1}, {"SFTAFFW", -1}, {"SFTKFF", -1}});
    for (Calculator c : encoders) EXPECT_EQ(c(*s), 1);
    EXPECT_EQ(s.Get("SFTAFFW"), row.low_shift);
    EXPECT_EQ(s.Get("SFTKFF"), row.high_shift);
    EXPECT_NEAR(s.Get("KFFA"), row.mantissa, 1e-9);

    TestSetup by_name;
    by_name.Physical({{"KFFA_scl", row.gain}, {"KFFA", -1}, {"SFTAFFW", -1}, {"SFTKFF", -1}});
    EXPECT_EQ(kestrel::EncodeGain(*by_name, "KFFA_scl"), 1);
    EXPECT_EQ(by_name.Get("SFTAFFW"), row.low_shift);
    EXPECT_EQ(by_name.Get("SFTKFF"), row.high_shift);
    EXPECT_NEAR(by_name.Get("KFFA"), row.mantissa, 1e-9);
  }
}

TEST(GainDerive, AccelerationFeedForwardAddsBothShifts) {
  TestSetup s;
  s.Registers({{"KFFA", 23999}, {"SFTAFFW", 11}, {"SFTKFF", 1}}).Physical({{"KFFA_scl", 0}});
  EXPECT_EQ(kestrel::DeriveKFFA_scl(*s), 1);
  // 23999 x 2^12 / 32767 = 98299904 / 32767.
  EXPECT_NEAR(s.Get("KFFA_scl"), 2999.966551713614, 1e-9);
  EXPECT_EQ(s.Min("KFFA_scl"), 0.0);
  EXPECT_EQ(s.Max("KFFA_scl"), 4194304.0);
  // The second register alone still counts.
  s.Set("SFTAFFW", 0);
  s.Set("SFTKFF", 3);
  s.Set("KFFA", 32767);
  EXPECT_EQ(kestrel::DeriveGain(*s, "KFFA_scl"), 1);
  EXPECT_EQ(s.Get("KFFA_scl"), 8.0);
}

// Encode, let the host round the registers, derive: the gain comes back within half a mantissa
// count, i.e. 0.5 x 2^s / 32767.
TEST(GainRoundTrip, RandomGainsComeBackWithinHalfAMantissaStep) {
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const kestrel::GainPair& pair : kestrel::kGainPairs) {
    SCOPED_TRACE(pair.scaled);
    const double max_exponent = std::log2(pair.max_gain);
    for (int i = 0; i < 1500; ++i) {
      double gain = 0.0;
      switch (i % 4) {
        case 0:
          gain = std::exp2(-12.0 + (max_exponent + 12.0) * unit(rng));
          break;
        case 1:
          gain = pair.max_gain * unit(rng);
          break;
        case 2:
          gain = std::nextafter(std::exp2(std::floor(max_exponent * unit(rng))), kInf);
          break;
        default:
          gain = std::nextafter(std::exp2(std::floor(max_exponent * unit(rng))), 0.0);
          break;
      }
      TestSetup s;
      // Registers, so that the host rounds them; "KPTHT" is both the guard and a mantissa.
      s.Physical({{pair.scaled, gain}});
      s.Registers({{pair.shift, 0}, {"KPTHT", 0}});
      if (std::string(pair.mantissa) != "KPTHT") s.Registers({{pair.mantissa, 0}});
      if (pair.high_shift != nullptr) s.Registers({{pair.high_shift, 0}});
      ASSERT_EQ(kestrel::EncodeGain(*s, pair.scaled), 1);
      ASSERT_EQ(kestrel::DeriveGain(*s, pair.scaled), 1);

      const double m = s.Get(pair.mantissa);
      const double total_shift =
          s.Get(pair.shift) + (pair.high_shift ? s.Get(pair.high_shift) : 0.0);
      EXPECT_GE(m, 0.0);
      EXPECT_LE(m, 32767.0) << gain;
      // Normalised: with a shift, the gain is above 2^(s-1), so the mantissa is above half scale.
      if (total_shift > 0) {
        EXPECT_GE(m, 16384.0) << gain;
      }
      if (pair.high_shift != nullptr) {
        EXPECT_LE(s.Get(pair.shift), 11.0);
      }
      EXPECT_LE(std::fabs(s.Get(pair.scaled) - gain),
                0.5 * std::exp2(total_shift) / 32767.0 * (1 + 1e-12))
          << "gain " << gain;
    }
  }
}

TEST(GainGuard, AngleLoopPairsNeedKPTHT) {
  ReportLog log;
  TestSetup s;
  s.Physical({{"Kp_T_scl", 3}, {"Ki_T_scl", 3}})
      .Registers({{"SFTKPTHT", 4}, {"KITHT", 5}, {"SFTKITHT", 6}});
  const Calculator calculators[] = {kestrel::DeriveKp_T_scl, kestrel::DeriveKi_T_scl,
                                    kestrel::EncodeSFTKPTHT, kestrel::EncodeKPTHT,
                                    kestrel::EncodeSFTKITHT, kestrel::EncodeKITHT};
  for (Calculator c : calculators) EXPECT_EQ(c(*s), 0);
  EXPECT_EQ(kestrel::DeriveGain(*s, "Ki_T_scl"), 0);
  EXPECT_EQ(kestrel::EncodeGain(*s, "Ki_T_scl"), 0);
  EXPECT_TRUE(log.reports.empty());
  EXPECT_EQ(s.Get("Kp_T_scl"), 3);
  EXPECT_EQ(s.Get("Ki_T_scl"), 3);
  EXPECT_EQ(s.Get("SFTKPTHT"), 4);
  EXPECT_EQ(s.Get("KITHT"), 5);
  EXPECT_EQ(s.Get("SFTKITHT"), 6);
  EXPECT_EQ(s.Min("Ki_T_scl"), -1e300);
}

TEST(GainByName, EncodesAllRegistersOrNone) {
  {
    SCOPED_TRACE("shift register missing: the mantissa keeps its value");
    ReportLog log;
    TestSetup s;
    s.Physical({{"Kp_C_scl", 3}}).Registers({{"KPI", 7}});
    EXPECT_EQ(kestrel::EncodeGain(*s, "Kp_C_scl"), 0);
    EXPECT_EQ(s.Get("KPI"), 7);
    EXPECT_EQ(log.reports.size(), 1u);
  }
  {
    SCOPED_TRACE("second shift register missing");
    TestSetup s;
    s.Physical({{"KFFA_scl", 3000}}).Registers({{"KFFA", 7}, {"SFTAFFW", 7}});
    EXPECT_EQ(kestrel::EncodeGain(*s, "KFFA_scl"), 0);
    EXPECT_EQ(s.Get("KFFA"), 7);
    EXPECT_EQ(s.Get("SFTAFFW"), 7);
  }
  {
    SCOPED_TRACE("case ignored");
    TestSetup s;
    s.Physical({{"Kp_C_scl", 3}}).Registers({{"KPI", 7}, {"SFTKPI", 7}});
    EXPECT_EQ(kestrel::EncodeGain(*s, "kp_c_SCL"), 1);
    EXPECT_EQ(s.Get("SFTKPI"), 2);
    EXPECT_EQ(s.Get("KPI"), 24575);  // 24575.25 kept to the nearest count
  }
  {
    SCOPED_TRACE("unknown names");
    TestSetup s;
    s.Physical({{"Kp_C_scl", 3}});
    EXPECT_EQ(kestrel::EncodeGain(*s, "Kx_C_scl"), 0);
    EXPECT_EQ(kestrel::DeriveGain(*s, "KPI"), 0);
    EXPECT_EQ(kestrel::EncodeGain(*s, nullptr), 0);
    EXPECT_EQ(s.Get("Kp_C_scl"), 3);
  }
}

TEST(GainEdges, NonFiniteGainsLeaveTheRegistersAlone) {
  for (double gain : {kNaN, kInf, -kInf}) {
    SCOPED_TRACE(gain);
    TestSetup s;
    s.Physical({{"Kp_S_scl", gain}, {"KFFA_scl", gain}})
        .Registers({{"KPS", 123}, {"SFTKPS", 4}, {"KFFA", 123}, {"SFTAFFW", 4}, {"SFTKFF", 4}});
    for (Calculator c : {kestrel::EncodeSFTKPS, kestrel::EncodeKPS, kestrel::EncodeSFTAFFW,
                         kestrel::EncodeSFTKFF, kestrel::EncodeKFFA}) {
      EXPECT_EQ(c(*s), 0);
    }
    EXPECT_EQ(kestrel::EncodeGain(*s, "Kp_S_scl"), 0);
    EXPECT_EQ(s.Get("KPS"), 123);
    EXPECT_EQ(s.Get("SFTKPS"), 4);
    EXPECT_EQ(s.Get("KFFA"), 123);
    EXPECT_EQ(s.Get("SFTAFFW"), 4);
    EXPECT_EQ(s.Get("SFTKFF"), 4);
  }
}

TEST(GainEdges, OddRegistersDeriveWithoutFault) {
  struct Row {
    const char* name;
    double mantissa, shift;
    bool finite;
  };
  const Row rows[] = {
      {"NaN shift", 100, kNaN, false},
      {"huge shift", 32767, 5000, false},
      {"negative shift", 24575, -3, true},
      {"infinite mantissa", kInf, 0, false},
      {"zero mantissa, huge shift", 0, 5000, false},  // 0 x inf
      {"shift past int range", 1, 1e12, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Physical({{"Kp_P_scl", 0}, {"KPP", row.mantissa}, {"SFTKPP", row.shift}});
    EXPECT_EQ(kestrel::DeriveKp_P_scl(*s), 1);
    EXPECT_EQ(std::isfinite(s.Get("Kp_P_scl")), row.finite);
  }
  TestSetup s;
  s.Physical({{"Kp_P_scl", 0}, {"KPP", 24575}, {"SFTKPP", -3}});
  kestrel::DeriveKp_P_scl(*s);
  EXPECT_NEAR(s.Get("Kp_P_scl"), 24575.0 / 8.0 / 32767.0, 1e-15);
}

// ---- Filters ----------------------------------------------------------------------------------

TEST(DerivativeFilter, FractionOfFullScaleBothWays) {
  struct Row {
    const char* name;
    double kdfp, filter;
  };
  const Row rows[] = {{"full", 32767, 1},
                      {"none", 0, 0},
                      {"quarter", 8191.75, 0.25},
                      {"one count", 1, 1.0 / 32767}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Physical({{"KDFP", row.kdfp}, {"filter_D", -1}});
    EXPECT_EQ(kestrel::DeriveFilter_D(*s), 1);
    EXPECT_NEAR(s.Get("filter_D"), row.filter, 1e-15);
    EXPECT_EQ(s.Min("filter_D"), 0.0);
    EXPECT_EQ(s.Max("filter_D"), 1.0);
    s.Set("KDFP", -1);
    EXPECT_EQ(kestrel::EncodeKDFP(*s), 1);
    EXPECT_NEAR(s.Get("KDFP"), row.kdfp, 1e-9);
  }
  ReportLog log;
  TestSetup lone;
  lone.Registers({{"KDFP", 5}});
  EXPECT_EQ(kestrel::EncodeKDFP(*lone), 0);
  EXPECT_EQ(lone.Get("KDFP"), 5);
  EXPECT_TRUE(log.reports.empty());
}

// PWMPER 1000, CLPER 1 at 40 MHz: Ts_C = 50 us, so the corner tops out at 0.5 / Ts_C = 10000.
TestSetup FilterSetup(double filterq, double use, double corner) {
  TestSetup s;
  s.Registers({{"FILTERQ", filterq}, {"PWMPER", 1000}, {"CLPER", 1}})
      .Physical({{"DSP_freq", 40e6, "Hz"},
                 {"isUseFilterOnCrtCtrlOutput", use},
                 {"FilterOnCurrentControllerOutput", corner, "1/s"}});
  return s;
}

TEST(CurrentOutputFilter, DerivesSwitchAndCorner) {
  struct Row {
    const char* name;
    double filterq, use, corner_per_s;
  };
  const Row rows[] = {
      {"full scale: no filter, corner shown as 5000", 32767, 0, 5000},
      // -ln(1 - 1598/32767) / 50e-6 = -ln(0.951231) / 50e-6.
      {"1598 is about 1000 1/s", 1598, 1, 999.958004777941},
      {"zero coefficient: corner 0", 0, 1, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = FilterSetup(row.filterq, -1, -1);
    EXPECT_EQ(kestrel::DeriveIsUseFilterOnCrtCtrlOutput(*s), 1);
    EXPECT_EQ(kestrel::DeriveFilterOnCurrentControllerOutput(*s), 1);
    EXPECT_EQ(s.Get("isUseFilterOnCrtCtrlOutput"), row.use);
    EXPECT_NEAR(s.Get("FilterOnCurrentControllerOutput"), row.corner_per_s, 1e-9);
    EXPECT_EQ(s.Min("FilterOnCurrentControllerOutput"), 0.0);
    EXPECT_NEAR(s.Max("FilterOnCurrentControllerOutput"), 10000.0, 1e-9);
    EXPECT_EQ(s.Max("isUseFilterOnCrtCtrlOutput"), 1.0);
  }
}

TEST(CurrentOutputFilter, EncodesTruncatedCoefficient) {
  struct Row {
    const char* name;
    double use, corner_per_s, filterq;
  };
  const Row rows[] = {
      {"switch off, whatever the corner", 0, 1000, 32767},
      {"switch off, corner NaN", 0, kNaN, 32767},
      // (1 - e^-0.05) x 32767 = 1598.07, truncated.
      {"1000 1/s at 50 us", 1, 1000, 1598},
      // (1 - e^-0.5) x 32767 = 12892.81: truncation keeps 12892 where rounding would give 12893.
      {"10000 1/s", 1, 10000, 12892},
      // (1 - e^-0.0503) x 32767 = 813.81.
      {"503 1/s", 1, 503, 813},
      {"zero corner", 1, 0, 0},
      {"infinite corner", 1, kInf, 32767},
      {"any non-zero switch counts as on", 0.5, 1000, 1598},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = FilterSetup(-1, row.use, row.corner_per_s);
    EXPECT_EQ(kestrel::EncodeFILTERQ(*s), 1);
    EXPECT_EQ(s.Get("FILTERQ"), row.filterq);
  }
}

TEST(CurrentOutputFilter, RandomCornersComeBackWithinOneCoefficientStep) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> corner(1.0, 9000.0);
  for (int i = 0; i < 2000; ++i) {
    const double f_per_s = corner(rng);
    TestSetup s = FilterSetup(0, 1, f_per_s);
    ASSERT_EQ(kestrel::EncodeFILTERQ(*s), 1);
    const double q = s.Get("FILTERQ");
    ASSERT_EQ(kestrel::DeriveFilterOnCurrentControllerOutput(*s), 1);
    const double back_per_s = s.Get("FilterOnCurrentControllerOutput");
    // Truncation: the coefficient is the largest count not above the exact one, so the corner
    // read back is at most the one asked for, and the next count would overshoot it.
    const double next_per_s = -std::log(1.0 - (q + 1.0) / 32767.0) / 50e-6;
    EXPECT_LE(back_per_s, f_per_s * (1 + 1e-12)) << f_per_s;
    EXPECT_GT(next_per_s, f_per_s * (1 - 1e-12)) << f_per_s;
  }
}

// ---- Gravitational load compensation ----------------------------------------------------------

// ImaxPS 10 A with the ADC full scale 65520: CurrentScale = 65520 / 20 = 3276 counts per ampere.
TEST(GravitationalLoad, OffsetCurrentBothWays) {
  struct Row {
    const char* name;
    double ffl, compensate, offset_A;
  };
  const Row rows[] = {
      {"off", 0, 0, 0},
      {"1 A = 3276 counts", 3276, 1, 1},
      {"-0.5 A", -1638, 1, -0.5},
      {"one count", 1, 1, 1.0 / 3276},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Physical({{"FFL", row.ffl},
                {"In", 5, "A"},
                {"ImaxPS", 10, "A"},
                {"OffsetCurrent", 9, "A"},
                {"isCompensateGravitationalLoads", -1}});
    EXPECT_EQ(kestrel::DeriveIsCompensateGravitationalLoads(*s), 1);
    EXPECT_EQ(kestrel::DeriveOffsetCurrent(*s), 1);
    EXPECT_EQ(s.Get("isCompensateGravitationalLoads"), row.compensate);
    EXPECT_NEAR(s.Get("OffsetCurrent"), row.offset_A, 1e-12);
    EXPECT_EQ(s.Min("OffsetCurrent"), -5.0);
    EXPECT_EQ(s.Max("OffsetCurrent"), 5.0);
    EXPECT_EQ(s.Max("isCompensateGravitationalLoads"), 1.0);
    s.Set("FFL", 12345);
    EXPECT_EQ(kestrel::EncodeFFL(*s), 1);
    EXPECT_NEAR(s.Get("FFL"), row.ffl, 1e-9);
  }
}

TEST(GravitationalLoad, SwitchIsTruncatedAndKFFLIsFullScale) {
  struct Row {
    const char* name;
    double compensate, ffl;
  };
  const Row rows[] = {{"on", 1, 1638},
                      {"off", 0, 0},
                      {"1.7 truncates to 1", 1.7, 1638},
                      {"0.9 truncates to 0", 0.9, 0},
                      {"-1 is non-zero", -1, 1638},
                      {"NaN reads as 0", kNaN, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Physical({{"FFL", 777},
                {"ImaxPS", 10, "A"},
                {"OffsetCurrent", 0.5, "A"},
                {"isCompensateGravitationalLoads", row.compensate}})
        .Registers({{"KFFL", 0}});
    EXPECT_EQ(kestrel::EncodeFFL(*s), 1);
    EXPECT_EQ(s.Get("FFL"), row.ffl);
    EXPECT_EQ(kestrel::EncodeKFFL(*s), 1);
    EXPECT_EQ(s.Get("KFFL"), 32767);
  }
  ReportLog log;
  TestSetup none;
  EXPECT_EQ(kestrel::EncodeKFFL(*none), 0);
  EXPECT_TRUE(log.reports.empty());
}

// ---- Saturations and limits -------------------------------------------------------------------

// Currents: ImaxPS 10 A, ImaxM 8 A, so the limits go up to 8 A; 3276 counts per ampere.
// Speeds: Ts_S = 10 x 2 x 1000 / 40e6 = 500 us, EncRes 1 um, a reversed 1:1 transmission: the load
// speed scale is -500 counts per sample per m/s, used by magnitude.
TestSetup LimitsSetup(double control_mode, double control_type) {
  TestSetup s;
  s.Registers({{"SATS", 0},
               {"SATP", 0},
               {"IMAXS", 0},
               {"IMAXP", 0},
               {"ACR", 0},
               {"PWMPER", 1000},
               {"SLPER", 10},
               {"IMAXPROT", 0}})
      .Physical({{"ImaxPS", 10, "A"},
                 {"ImaxM", 8, "A"},
                 {"IlimPS", 4, "A"},
                 {"IPSatS", 50, "%"},
                 {"IPSatP", 50, "%"},
                 {"Limit_Speed", 2, "m/s"},
                 {"ControlMode", control_mode},
                 {"PositionControlType", control_type},
                 {"DSP_freq", 40e6, "Hz"},
                 {"EncRes", 1e-6, "m"},
                 {"Motor_transmission", 1},
                 {"Load_transmission", -1},
                 {"PolePitch", 0.03, "m"},
                 {"TestLimitCurrent", 0, "A"},
                 {"TestProtectionCurrent", 0, "A"}});
  return s;
}

TEST(Saturations, EncodeFromCurrentOrSpeedLimit) {
  struct Row {
    const char* name;
    double control_mode, control_type;
    double sats, satp, imaxs, imaxp;
  };
  const Row rows[] = {
      // SATS = 32767 - 4 x 3276; IMAXS = 32767 - 4 x 0.5 x 3276. Outside the cascade SATP and
      // IMAXP use the same current limit.
      {"speed control", 1, 1, 19663, 19663, 26215, 26215},
      {"position, no speed loop", 0, 0, 19663, 19663, 26215, 26215},
      {"type compared exactly: 1.5 is not the cascade", 0, 1.5, 19663, 19663, 26215, 26215},
      // Cascade: SATP = 32767 - 2 x 500; IMAXP = 32767 - 2 x 0.5 x 500.
      {"position cascade", 0, 1, 19663, 31767, 26215, 32267},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = LimitsSetup(row.control_mode, row.control_type);
    for (Calculator c :
         {kestrel::EncodeIMAXS, kestrel::EncodeSATS, kestrel::EncodeIMAXP, kestrel::EncodeSATP}) {
      EXPECT_EQ(c(*s), 1);
    }
    EXPECT_EQ(s.Get("SATS"), row.sats);
    EXPECT_EQ(s.Get("SATP"), row.satp);
    EXPECT_EQ(s.Get("IMAXS"), row.imaxs);
    EXPECT_EQ(s.Get("IMAXP"), row.imaxp);
    for (const char* reg : {"SATS", "SATP", "IMAXS", "IMAXP"}) {
      EXPECT_EQ(s.Min(reg), 0.0) << reg;
      EXPECT_EQ(s.Max(reg), 32767.0) << reg;
    }
  }
}

TEST(Saturations, ValuesOutsideTheRegisterRangeAreNotClamped) {
  TestSetup s = LimitsSetup(1, 1);
  s.Set("IlimPS", 20);  // 20 x 3276 = 65520 > 32767
  EXPECT_EQ(kestrel::EncodeSATS(*s), 1);
  EXPECT_EQ(s.Get("SATS"), 32767 - 65520);
}

TEST(Saturations, DeriveCurrentLimitsFromTheSelectedRegister) {
  struct Row {
    const char* name;
    double acr, sats, satp, ilim_A;
  };
  const Row rows[] = {
      {"bit 9 set: speed controller saturation", 0x200, 19663, 26215, 4},
      {"bit 9 clear: position controller saturation", 0, 19663, 26215, 2},
      {"other bits do not select", 0xFDFF, 19663, 26215, 2},
      {"full saturation: no current", 0x200, 32767, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = LimitsSetup(1, 1);
    s.Set("ACR", row.acr);
    s.Set("SATS", row.sats);
    s.Set("SATP", row.satp);
    s.Set("IlimPS", -1);
    EXPECT_EQ(kestrel::DeriveIlimPS(*s), 1);
    EXPECT_EQ(kestrel::DeriveTestLimitCurrent(*s), 1);
    for (const char* name : {"IlimPS", "TestLimitCurrent"}) {
      EXPECT_NEAR(s.Get(name), row.ilim_A, 1e-12) << name;
      EXPECT_EQ(s.Min(name), 0.0) << name;
      EXPECT_EQ(s.Max(name), 8.0) << name;  // min(ImaxPS, ImaxM)
    }
  }
}

TEST(Saturations, IntegralLimitPercentages) {
  struct Row {
    const char* name;
    double imax, sat, percent;
  };
  const Row rows[] = {
      {"half: 6552 of 13104", 26215, 19663, 50},
      {"all", 19663, 19663, 100},
      {"none", 32767, 19663, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = LimitsSetup(1, 1);
    s.Set("IMAXS", row.imax);
    s.Set("SATS", row.sat);
    s.Set("IMAXP", row.imax);
    s.Set("SATP", row.sat);
    EXPECT_EQ(kestrel::DeriveIPSatS(*s), 1);
    EXPECT_EQ(kestrel::DeriveIPSatP(*s), 1);
    EXPECT_NEAR(s.Get("IPSatS"), row.percent, 1e-12);
    EXPECT_NEAR(s.Get("IPSatP"), row.percent, 1e-12);
    EXPECT_EQ(s.Max("IPSatS"), 100.0);
    EXPECT_EQ(s.Max("IPSatP"), 100.0);
  }
  // No output allowed at all: 0/0 gives NaN, not a fault.
  TestSetup s = LimitsSetup(1, 1);
  s.Set("IMAXS", 32767);
  s.Set("SATS", 32767);
  EXPECT_EQ(kestrel::DeriveIPSatS(*s), 1);
  EXPECT_TRUE(std::isnan(s.Get("IPSatS")));
}

TEST(Saturations, SpeedLimitOnlyInThePositionCascade) {
  struct Row {
    const char* name;
    double control_mode, control_type;
    bool derived;
  };
  const Row rows[] = {
      {"cascade", 0, 1, true},
      {"speed control", 1, 1, false},
      {"position without speed loop", 0, 0, false},
      {"torque", 2, 1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = LimitsSetup(row.control_mode, row.control_type);
    s.Set("SATP", 31767);
    s.Set("Limit_Speed", 7.5);
    EXPECT_EQ(kestrel::DeriveLimit_Speed(*s), 1);
    if (row.derived) {
      // (32767 - 31767) / 500 = 2 m/s, within 40e6 x 0.03 x 0.25 / 1000 = 300 m/s.
      EXPECT_NEAR(s.Get("Limit_Speed"), 2.0, 1e-12);
      EXPECT_EQ(s.Min("Limit_Speed"), 0.0);
      EXPECT_NEAR(s.Max("Limit_Speed"), 300.0, 1e-9);
    } else {
      EXPECT_EQ(s.Get("Limit_Speed"), 7.5);
      EXPECT_EQ(s.Max("Limit_Speed"), 1e300);
    }
  }
}

TEST(Saturations, CurrentControllerSaturationsCopyThePwmSaturation) {
  ReportLog log;
  TestSetup both;
  both.Registers({{"SATPWM", 2621}, {"SATID", 0}, {"SATIQ", 0}});
  EXPECT_EQ(kestrel::EncodeSATID(*both), 1);
  EXPECT_EQ(kestrel::EncodeSATIQ(*both), 1);
  EXPECT_EQ(both.Get("SATID"), 2621);
  EXPECT_EQ(both.Get("SATIQ"), 2621);

  TestSetup no_d;
  no_d.Registers({{"SATPWM", 1310}, {"SATIQ", 0}});
  EXPECT_EQ(kestrel::EncodeSATID(*no_d), 0);
  EXPECT_EQ(kestrel::EncodeSATIQ(*no_d), 1);
  EXPECT_EQ(no_d.Get("SATIQ"), 1310);

  TestSetup no_pwm;
  no_pwm.Registers({{"SATID", 9}});
  EXPECT_EQ(kestrel::EncodeSATID(*no_pwm), 0);
  EXPECT_EQ(no_pwm.Get("SATID"), 9);
  EXPECT_TRUE(log.reports.empty());
}

// ---- Speed feed-forward switch and freeze control ---------------------------------------------

TEST(SpeedForward, IsBitFourteenOfACR) {
  struct Row {
    const char* name;
    double acr, forward;
  };
  const Row rows[] = {
      {"0x4000", 0x4000, 1}, {"clear", 0, 0}, {"with bit 9", 0x4200, 1}, {"all but 14", 0xBFFF, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Registers({{"ACR", row.acr}}).Physical({{"SpeedForward", -1}});
    EXPECT_EQ(kestrel::DeriveSpeedForward(*s), 1);
    EXPECT_EQ(s.Get("SpeedForward"), row.forward);
    EXPECT_EQ(s.Max("SpeedForward"), 1e300);  // no range
  }
  ReportLog log;
  TestSetup absent;
  absent.Registers({{"ACR", 0x4000}});
  EXPECT_EQ(kestrel::DeriveSpeedForward(*absent), 0);
  EXPECT_TRUE(log.reports.empty());
}

// Load position scale: 1 / 1 um x (1 / -1) = -1e6 counts per metre, used by magnitude.
TestSetup FreezeSetup(double acr, double control_mode) {
  TestSetup s;
  s.Registers({{"ACR", acr}, {"POSOKLIM_FC", 100}, {"TONPOSOK_FC", 200}})
      .Physical({{"ControlMode", control_mode},
                 {"isFreezeControl", -1},
                 {"FreezeControl_errband", -1, "m"},
                 {"FreezeControl_time", -1, "s"},
                 {"Ts_S", 500e-6, "s"},
                 {"EncRes", 1e-6, "m"},
                 {"Motor_transmission", 1},
                 {"Load_transmission", -1}});
  return s;
}

TEST(FreezeControl, SwitchNeedsBitFourAndPositionControl) {
  struct Row {
    const char* name;
    double acr, control_mode, freeze;
  };
  const Row rows[] = {
      {"bit 4 in position control", 0x10, 0, 1},
      {"bit 4 in speed control", 0x10, 1, 0},
      {"bit 4 clear", 0xFFEF, 0, 0},
      {"control mode 0.7 truncates to 0", 0x10, 0.7, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = FreezeSetup(row.acr, row.control_mode);
    EXPECT_EQ(kestrel::DeriveIsFreezeControl(*s), 1);
    EXPECT_EQ(s.Get("isFreezeControl"), row.freeze);
    EXPECT_EQ(s.Max("isFreezeControl"), 1.0);
  }
}

TEST(FreezeControl, BandAndTimeBothWays) {
  TestSetup s = FreezeSetup(0, 0);
  EXPECT_EQ(kestrel::DeriveFreezeControl_errband(*s), 1);
  EXPECT_EQ(kestrel::DeriveFreezeControl_time(*s), 1);
  EXPECT_NEAR(s.Get("FreezeControl_errband"), 100e-6, 1e-15);  // 100 counts of 1 um
  EXPECT_NEAR(s.Max("FreezeControl_errband"), 32767e-6, 1e-12);
  EXPECT_NEAR(s.Get("FreezeControl_time"), 0.1, 1e-15);  // 200 x 500 us
  EXPECT_NEAR(s.Max("FreezeControl_time"), 65535 * 500e-6, 1e-12);

  s.Set("FreezeControl_errband", 50e-6);
  s.Set("FreezeControl_time", 0.05);
  EXPECT_EQ(kestrel::EncodePOSOKLIM_FC(*s), 1);
  EXPECT_EQ(kestrel::EncodeTONPOSOK_FC(*s), 1);
  EXPECT_EQ(s.Get("POSOKLIM_FC"), 50);
  EXPECT_EQ(s.Get("TONPOSOK_FC"), 100);
}

TEST(FreezeControl, RandomBandsAndTimesComeBackWithinOneCount) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> band(0.0, 0.03), time(0.0, 30.0);
  for (int i = 0; i < 1000; ++i) {
    const double band_m = band(rng), time_s = time(rng);
    TestSetup s = FreezeSetup(0, 0);
    s.Set("FreezeControl_errband", band_m);
    s.Set("FreezeControl_time", time_s);
    ASSERT_EQ(kestrel::EncodePOSOKLIM_FC(*s), 1);
    ASSERT_EQ(kestrel::EncodeTONPOSOK_FC(*s), 1);
    ASSERT_EQ(kestrel::DeriveFreezeControl_errband(*s), 1);
    ASSERT_EQ(kestrel::DeriveFreezeControl_time(*s), 1);
    EXPECT_LE(std::fabs(s.Get("FreezeControl_errband") - band_m),
              0.5e-6 * (1 + 1e-9));  // half a count
    EXPECT_LE(std::fabs(s.Get("FreezeControl_time") - time_s), 0.5 * 500e-6 * (1 + 1e-9));
  }
}

TEST(FreezeControl, AbsentWithoutBothRegisters) {
  ReportLog log;
  TestSetup s;
  s.Registers({{"ACR", 0x10}, {"POSOKLIM_FC", 100}})
      .Physical({{"ControlMode", 0},
                 {"isFreezeControl", 0.5},
                 {"FreezeControl_errband", 0.5},
                 {"FreezeControl_time", 0.5},
                 {"Ts_S", 500e-6},
                 {"EncRes", 1e-6},
                 {"Motor_transmission", 1},
                 {"Load_transmission", 1}});
  for (Calculator c : {kestrel::DeriveIsFreezeControl, kestrel::DeriveFreezeControl_errband,
                       kestrel::DeriveFreezeControl_time, kestrel::EncodePOSOKLIM_FC,
                       kestrel::EncodeTONPOSOK_FC}) {
    EXPECT_EQ(c(*s), 0);
  }
  EXPECT_TRUE(log.reports.empty());
  EXPECT_EQ(s.Get("POSOKLIM_FC"), 100);
  EXPECT_EQ(s.Get("isFreezeControl"), 0.5);
  EXPECT_EQ(s.Get("FreezeControl_errband"), 0.5);
}

// ---- Test limits read from the registers ------------------------------------------------------

TEST(TestLimits, TestCurrentIsHalfTheSmallerNominalCurrent) {
  struct Row {
    const char* name;
    double in_A, inps_A, current_A;
  };
  const Row rows[] = {
      {"drive smaller", 6, 4, 2}, {"motor smaller", 3, 10, 1.5}, {"equal", 5, 5, 2.5}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Physical({{"TestCurrent", -1, "A"}, {"In", row.in_A, "A"}, {"InPS", row.inps_A, "A"}});
    EXPECT_EQ(kestrel::DeriveTestCurrent(*s), 1);
    EXPECT_EQ(s.Get("TestCurrent"), row.current_A);
    EXPECT_EQ(s.Min("TestCurrent"), 0.0);
    EXPECT_NEAR(s.Max("TestCurrent"), 1.8 * row.current_A, 1e-12);
  }
  // A negative nominal current gives no valid range: nothing is written.
  TestSetup bad;
  bad.Physical({{"TestCurrent", 0.3, "A"}, {"In", -2, "A"}, {"InPS", 4, "A"}});
  EXPECT_EQ(kestrel::DeriveTestCurrent(*bad), 0);
  EXPECT_EQ(bad.Get("TestCurrent"), 0.3);
}

TEST(TestLimits, ProtectionCurrentFromIMAXPROT) {
  TestSetup s = LimitsSetup(1, 1);
  s.Set("IMAXPROT", 16380);  // 16380 / 3276 = 5 A
  EXPECT_EQ(kestrel::DeriveTestProtectionCurrent(*s), 1);
  EXPECT_NEAR(s.Get("TestProtectionCurrent"), 5.0, 1e-12);
  EXPECT_EQ(s.Max("TestProtectionCurrent"), 8.0);
}

TEST(TestLimits, StartCurrentPercentOfNominal) {
  struct Row {
    const char* name;
    double commutation, connection, percent;
  };
  // Vdc 48 V, REFTST 3000, In 2 A, R 1.5 Ohm, DBT 0x0A14 at 40 MHz (0.25 us), PWM 20 kHz.
  // Trapezoidal: VoltageScale = 32767 / 48; dead band takes 32767 x 0.25e-6 x 20000 = 163.835;
  //   100 x (3000 - 163.835) / (32767 / 48 x 2 x 1.5) = 100 x 2836.165 / 2047.9375.
  // Connection 1 uses R / 3 = 0.5 Ohm: the denominator is a third.
  // Sinusoidal: VoltageScale = 65534 / 52.8; dead band 65534 / 1.1 x 0.005 = 297.88;
  //   100 x 2702.12 / 3723.52.
  const Row rows[] = {
      {"trapezoidal", 0, 0, 138.4888454847865},
      {"trapezoidal, connection 1", 0, 1, 415.4665364543595},
      {"connection 2 uses R", 0, 2, 138.4888454847865},
      {"sinusoidal", 1, 0, 72.56886501663259},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Registers({{"REFTST", 3000}, {"PWMPER", 1000}, {"DBT", 0x0A14}})
        .Physical({{"TestStartCurrent", -1, "%"},
                   {"Vdc", 48, "V "},
                   {"CommutationMethod", row.commutation},
                   {"DSP_freq", 40e6, "Hz"},
                   {"In", 2, "A"},
                   {"R", 1.5, "Ohm"},
                   {"MotorPhaseConnectionType", row.connection}});
    EXPECT_EQ(kestrel::DeriveTestStartCurrent(*s), 1);
    EXPECT_NEAR(s.Get("TestStartCurrent"), row.percent, 1e-9);
    EXPECT_EQ(s.Max("TestStartCurrent"), 300.0);
  }
}

TEST(TestLimits, MassRatioAndMaximumSpeed) {
  struct Row {
    const char* name;
    double total_kg, motor_kg, ratio;
  };
  const Row rows[] = {{"half again", 3, 2, 0.5}, {"no load", 2, 2, 0}, {"ten times", 22, 2, 10}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    s.Physical({{"Mload_over_M", -1}, {"Mt", row.total_kg, "kg"}, {"M", row.motor_kg, "kg"}});
    EXPECT_EQ(kestrel::DeriveMload_over_M(*s), 1);
    EXPECT_NEAR(s.Get("Mload_over_M"), row.ratio, 1e-12);
    EXPECT_EQ(s.Max("Mload_over_M"), 100.0);
  }
  // 40e6 x 0.03 x 0.25 / 1000 = 300 m/s; the test uses a third.
  TestSetup s = LimitsSetup(1, 1);
  s.Physical({{"TestMaxSpeed", -1, "m/s"}});
  EXPECT_EQ(kestrel::DeriveTestMaxSpeed(*s), 1);
  EXPECT_NEAR(s.Get("TestMaxSpeed"), 100.0, 1e-9);
  EXPECT_NEAR(s.Max("TestMaxSpeed"), 300.0, 1e-9);
}

// ---- The calculator contract across the whole topic --------------------------------------------

// Values that make every conversion succeed when all its names are present.
double Plausible(const std::string& name) {
  static const std::map<std::string, double> values = {{"DSP_freq", 40e6},
                                                       {"PWMPER", 1000},
                                                       {"CLPER", 1},
                                                       {"SLPER", 10},
                                                       {"ImaxPS", 10},
                                                       {"ImaxM", 8},
                                                       {"In", 6},
                                                       {"InPS", 4},
                                                       {"EncRes", 1e-6},
                                                       {"Load_transmission", -1},
                                                       {"PolePitch", 0.03},
                                                       {"Vdc", 48},
                                                       {"R", 1.5},
                                                       {"Mt", 3},
                                                       {"M", 2},
                                                       {"ControlMode", 0},
                                                       {"PositionControlType", 1},
                                                       {"Ts_S", 500e-6},
                                                       {"ACR", 0x4210},
                                                       {"SATS", 19663},
                                                       {"SATP", 31767},
                                                       {"IMAXS", 26215},
                                                       {"IMAXP", 32267},
                                                       {"FILTERQ", 1598},
                                                       {"FFL", 1638},
                                                       {"IMAXPROT", 16380},
                                                       {"REFTST", 3000},
                                                       {"POSOKLIM_FC", 100},
                                                       {"TONPOSOK_FC", 200},
                                                       {"KDFP", 16384},
                                                       {"MotorPhaseConnectionType", 0},
                                                       {"CommutationMethod", 0},
                                                       {"KPI", 24575},
                                                       {"SFTKPI", 1},
                                                       {"KFFA", 23999},
                                                       {"SFTAFFW", 11},
                                                       {"SFTKFF", 1},
                                                       {"Kp_C_scl", 1.5},
                                                       {"KFFA_scl", 3000},
                                                       {"KPTHT", 100},
                                                       {"SFTKPTHT", 2},
                                                       {"Kp_T_scl", 3}};
  const auto it = values.find(name);
  return it == values.end() ? 0.5 : it->second;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

struct ContractRow {
  const char* name;
  Calculator calculator;
  std::string names;  // everything it reads or writes, from the rules, separated by spaces
  std::string quiet;  // names whose absence is not reported
};

const std::vector<ContractRow>& ContractRows() {
  static const std::vector<ContractRow> rows = {
      {"Kp_C_scl", kestrel::DeriveKp_C_scl, "Kp_C_scl KPI SFTKPI", ""},
      {"KFFA_scl", kestrel::DeriveKFFA_scl, "KFFA_scl KFFA SFTAFFW SFTKFF", ""},
      {"Kp_T_scl", kestrel::DeriveKp_T_scl, "Kp_T_scl KPTHT SFTKPTHT", "KPTHT"},
      {"SFTKPI", kestrel::EncodeSFTKPI, "Kp_C_scl SFTKPI", ""},
      {"KPI", kestrel::EncodeKPI, "Kp_C_scl KPI", ""},
      {"SFTKFF", kestrel::EncodeSFTKFF, "KFFA_scl SFTKFF", ""},
      {"filter_D", kestrel::DeriveFilter_D, "filter_D KDFP", ""},
      {"isUseFilter", kestrel::DeriveIsUseFilterOnCrtCtrlOutput,
       "isUseFilterOnCrtCtrlOutput FILTERQ", ""},
      {"FilterOnCurrentControllerOutput", kestrel::DeriveFilterOnCurrentControllerOutput,
       "FilterOnCurrentControllerOutput FILTERQ CLPER PWMPER DSP_freq", ""},
      {"FILTERQ", kestrel::EncodeFILTERQ,
       "FILTERQ isUseFilterOnCrtCtrlOutput FilterOnCurrentControllerOutput CLPER PWMPER DSP_freq",
       ""},
      {"isCompensate", kestrel::DeriveIsCompensateGravitationalLoads,
       "isCompensateGravitationalLoads FFL", ""},
      {"OffsetCurrent", kestrel::DeriveOffsetCurrent, "OffsetCurrent FFL In ImaxPS", ""},
      {"FFL", kestrel::EncodeFFL, "FFL OffsetCurrent isCompensateGravitationalLoads ImaxPS", ""},
      {"IlimPS", kestrel::DeriveIlimPS, "IlimPS ImaxPS ImaxM ACR SATS SATP", ""},
      {"IPSatS", kestrel::DeriveIPSatS, "IPSatS IMAXS SATS", ""},
      {"IPSatP", kestrel::DeriveIPSatP, "IPSatP IMAXP SATP", ""},
      {"Limit_Speed", kestrel::DeriveLimit_Speed,
       "Limit_Speed ControlMode PositionControlType SATP PolePitch DSP_freq PWMPER SLPER EncRes "
       "Motor_transmission Load_transmission",
       ""},
      {"SATS", kestrel::EncodeSATS, "SATS IlimPS ImaxPS", ""},
      {"IMAXS", kestrel::EncodeIMAXS, "IMAXS IlimPS IPSatS ImaxPS", ""},
      {"SATP in the cascade", kestrel::EncodeSATP,
       "SATP ControlMode PositionControlType Limit_Speed SLPER PWMPER DSP_freq EncRes "
       "Motor_transmission Load_transmission",
       ""},
      {"IMAXP in the cascade", kestrel::EncodeIMAXP,
       "IMAXP ControlMode PositionControlType Limit_Speed IPSatP SLPER PWMPER DSP_freq EncRes "
       "Motor_transmission Load_transmission",
       ""},
      {"SpeedForward", kestrel::DeriveSpeedForward, "SpeedForward ACR", "SpeedForward"},
      {"isFreezeControl", kestrel::DeriveIsFreezeControl,
       "isFreezeControl ACR ControlMode POSOKLIM_FC TONPOSOK_FC", "POSOKLIM_FC TONPOSOK_FC"},
      {"FreezeControl_errband", kestrel::DeriveFreezeControl_errband,
       "FreezeControl_errband POSOKLIM_FC TONPOSOK_FC EncRes Motor_transmission Load_transmission",
       "POSOKLIM_FC TONPOSOK_FC"},
      {"FreezeControl_time", kestrel::DeriveFreezeControl_time,
       "FreezeControl_time POSOKLIM_FC TONPOSOK_FC Ts_S", "POSOKLIM_FC TONPOSOK_FC"},
      {"POSOKLIM_FC", kestrel::EncodePOSOKLIM_FC,
       "POSOKLIM_FC TONPOSOK_FC FreezeControl_errband EncRes Motor_transmission Load_transmission",
       "POSOKLIM_FC TONPOSOK_FC"},
      {"TONPOSOK_FC", kestrel::EncodeTONPOSOK_FC, "TONPOSOK_FC POSOKLIM_FC FreezeControl_time Ts_S",
       "POSOKLIM_FC TONPOSOK_FC"},
      {"TestCurrent", kestrel::DeriveTestCurrent, "TestCurrent In InPS", ""},
      {"TestProtectionCurrent", kestrel::DeriveTestProtectionCurrent,
       "TestProtectionCurrent IMAXPROT ImaxPS ImaxM", ""},
      {"TestLimitCurrent", kestrel::DeriveTestLimitCurrent,
       "TestLimitCurrent ImaxPS ImaxM ACR SATS SATP", ""},
      {"TestStartCurrent", kestrel::DeriveTestStartCurrent,
       "TestStartCurrent REFTST Vdc CommutationMethod DSP_freq PWMPER In R "
       "MotorPhaseConnectionType",
       ""},
      {"Mload_over_M", kestrel::DeriveMload_over_M, "Mload_over_M Mt M", ""},
      {"TestMaxSpeed", kestrel::DeriveTestMaxSpeed, "TestMaxSpeed DSP_freq PolePitch PWMPER", ""},
  };
  return rows;
}

TEST(GainsContract, AMissingNameChangesNothing) {
  for (const ContractRow& row : ContractRows()) {
    const std::vector<std::string> names = Words(row.names), quiet = Words(row.quiet);
    {
      SCOPED_TRACE(std::string(row.name) + " with every name");
      ReportLog log;
      TestSetup s;
      for (const std::string& name : names) s.Physical({{name.c_str(), Plausible(name)}});
      EXPECT_EQ(row.calculator(*s), 1);
      EXPECT_TRUE(log.reports.empty());
    }
    for (const std::string& missing : names) {
      SCOPED_TRACE(std::string(row.name) + " without " + missing);
      ReportLog log;
      TestSetup s;
      for (const std::string& name : names) {
        if (name != missing) s.Physical({{name.c_str(), Plausible(name)}});
      }
      EXPECT_EQ(row.calculator(*s), 0);
      for (const std::string& name : names) {
        if (name == missing) continue;
        EXPECT_EQ(s.Get(name.c_str()), Plausible(name)) << name;
        EXPECT_EQ(s.Min(name.c_str()), -1e300) << name;
        EXPECT_EQ(s.Max(name.c_str()), 1e300) << name;
      }
      if (std::find(quiet.begin(), quiet.end(), missing) != quiet.end()) {
        EXPECT_TRUE(log.reports.empty());
      } else {
        ASSERT_EQ(log.reports.size(), 1u);
        EXPECT_NE(log.reports[0].find(missing), std::string::npos);
      }
    }
  }
}

// Every conversion of the topic over a setup whose every value is degenerate: nothing may crash
// or invoke undefined behaviour (the sanitizer build checks the latter).
TEST(GainsEdges, DegenerateSetupsRunWithoutFault) {
  std::vector<Calculator> all = {kestrel::EncodeKDFP,  kestrel::EncodeKFFL,    kestrel::EncodeSATID,
                                 kestrel::EncodeSATIQ, kestrel::EncodeSFTAFFW, kestrel::EncodeKFFA};
  std::vector<std::string> names = {"DBT", "DBTPC", "KFFL", "SATPWM", "SATID", "SATIQ"};
  for (const PairRow& pair : kPairs) {
    all.insert(all.end(), {pair.derive, pair.encode_shift, pair.encode_mantissa});
  }
  for (const ContractRow& row : ContractRows()) {
    all.push_back(row.calculator);
    for (const std::string& name : Words(row.names)) names.push_back(name);
  }
  for (double poison : {0.0, -1.0, kNaN, kInf, -kInf, 1e308, -1e308}) {
    SCOPED_TRACE(poison);
    TestSetup s;
    for (const std::string& name : names) {
      if (s->FindParameter(name) == nullptr) s.Physical({{name.c_str(), poison}});
    }
    for (const kestrel::GainPair& pair : kestrel::kGainPairs) {
      for (const char* name : {pair.scaled, pair.mantissa, pair.shift}) {
        if (s->FindParameter(name) == nullptr) s.Registers({{name, poison}});
      }
    }
    for (Calculator c : all) {
      const int result = c(*s);
      EXPECT_TRUE(result == 0 || result == 1);
    }
  }
}

}  // namespace
