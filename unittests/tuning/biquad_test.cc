#include "tuning/biquad.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using kestrel::BiquadDesigner;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = std::numbers::pi;
constexpr double k2to31 = 2147483648.0;
constexpr double k2to30 = 1073741824.0;

// |H(e^jw)| of (B0 + B1 z^-1 + B2 z^-2) / (1 + A1 z^-1 + A2 z^-2).
double Magnitude(const BiquadDesigner& d, double w) {
  const std::complex<double> z1 = std::polar(1.0, -w);
  const std::complex<double> z2 = z1 * z1;
  return std::abs((d.b0 + d.b1 * z1 + d.b2 * z2) / (1.0 + d.a1 * z1 + d.a2 * z2));
}

bool FitsInt32(double v) { return v >= -k2to31 && v <= k2to31 - 1 && v == std::floor(v); }

// ------------------------------------------------------------------------------------------------
// Type table

TEST(BiquadTypes, TableAndOfferedList) {
  struct Row {
    int index;
    const char* name;
    bool offered;
  };
  const Row expected[] = {
      {0, "Low Pass 1st order", true},
      {1, "Low Pass 2nd order", true},
      {2, "Notch", true},
      {3, "High Pass", true},
      {4, "Band Pass", true},
      {5, "Peak", false},
      {6, "Low Shelf", false},
      {7, "High Shelf", false},
      {8, "Lead-lag 1st order", true},
      {9, "Lead-lag 2nd order", true},
  };
  ASSERT_EQ(kestrel::kBiquadTypes.size(), std::size(expected));
  std::vector<int> offered_indices;
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(kestrel::kBiquadTypes[i].index, expected[i].index);
    EXPECT_EQ(std::string(kestrel::kBiquadTypes[i].name), expected[i].name);
    EXPECT_EQ(kestrel::kBiquadTypes[i].offered, expected[i].offered);
  }
  const std::vector<kestrel::BiquadTypeRow> offered = kestrel::OfferedBiquadTypes();
  for (const auto& row : offered) offered_indices.push_back(row.index);
  EXPECT_EQ(offered_indices, (std::vector<int>{0, 1, 2, 3, 4, 8, 9}));
  ASSERT_EQ(offered.size(), 7u);
  EXPECT_EQ(std::string(offered[5].name), "Lead-lag 1st order");
}

// ------------------------------------------------------------------------------------------------
// Coefficients worked by hand

struct CoefficientRow {
  const char* name;
  int type;
  double f, p;
  double b0, b1, b2, a1, a2;
};

TEST(BiquadDesign, CoefficientsAtHandWorkedPoints) {
  const double r2 = std::sqrt(2.0);
  const double r3 = std::sqrt(3.0);
  // f = 0.25 gives K = tan(pi/4) = 1; f = 1/3 gives K = tan(pi/3) = sqrt3.
  const CoefficientRow rows[] = {
      // K/(K+1) = 1/2, (K-1)/(K+1) = 0.
      {"low pass 1st", 0, 0.25, 0, 0.5, 0.5, 0, 0, 0},
      // Q = 1/sqrt2: norm = 1/(2 + sqrt2); A2 = (2 - sqrt2) norm.
      {"low pass 2nd", 1, 0.25, 1 / r2, 1 / (2 + r2), 2 / (2 + r2), 1 / (2 + r2), 0,
       (2 - r2) / (2 + r2)},
      // Q = 1: norm = 1/3.
      {"notch", 2, 0.25, 1, 2.0 / 3, 0, 2.0 / 3, 0, 1.0 / 3},
      {"high pass", 3, 0.25, 1 / r2, 1 / (2 + r2), -2 / (2 + r2), 1 / (2 + r2), 0,
       (2 - r2) / (2 + r2)},
      {"band pass", 4, 0.25, 1, 1.0 / 3, 0, -1.0 / 3, 0, 1.0 / 3},
      // Peak at 0 dB: numerator equals denominator (Q = 2: norm = 1/2.5).
      {"peak 0 dB", 5, 0.25, 2, 1, 0, 0.6, 0, 0.6},
      // Lead at K1 = 1, lag at K2 = sqrt3: r = sqrt3, c0 = 2 sqrt3/(sqrt3 + 1), c1 = 0,
      // d = (sqrt3 - 1)/(sqrt3 + 1).
      {"lead-lag 1st", 8, 0.25, 1.0 / 3, 2 * r3 / (r3 + 1), 0, 0, (r3 - 1) / (r3 + 1), 0},
      // Squares: B1 = 2 r^2 (K1^2 - 1)/(K2 + 1)^2 = 0, A1 = 2d, A2 = d^2.
      {"lead-lag 2nd", 9, 0.25, 1.0 / 3, 12 / ((r3 + 1) * (r3 + 1)), 0, 0, 2 * (r3 - 1) / (r3 + 1),
       (r3 - 1) * (r3 - 1) / ((r3 + 1) * (r3 + 1))},
  };
  for (const CoefficientRow& row : rows) {
    SCOPED_TRACE(row.name);
    BiquadDesigner d;
    EXPECT_TRUE(d.Design(row.type, row.f, row.p, 0.0));
    EXPECT_NEAR(d.b0, row.b0, 1e-12);
    EXPECT_NEAR(d.b1, row.b1, 1e-12);
    EXPECT_NEAR(d.b2, row.b2, 1e-12);
    EXPECT_NEAR(d.a1, row.a1, 1e-12);
    EXPECT_NEAR(d.a2, row.a2, 1e-12);
  }
}

TEST(BiquadDesign, LowPassAtQuarterSampleRateQuantisesAtScaleOne) {
  BiquadDesigner d;
  d.Design(kestrel::kLowPass2, 0.25, 1 / std::sqrt(2.0), 0.0);
  EXPECT_NEAR(d.b0, 0.2929, 1e-4);
  EXPECT_NEAR(d.b1, 0.5858, 1e-4);
  EXPECT_NEAR(d.a1, 0.0, 1e-15);
  EXPECT_NEAR(d.a2, 0.1716, 1e-4);
  d.Quantise();
  EXPECT_EQ(d.scale, 1.0);
  EXPECT_EQ(d.b0, 628983398.0);  // floor(0.2928932... x 2^31 + 0.5)
  EXPECT_EQ(d.b2, 628983398.0);
}

TEST(BiquadDesign, EqualLeadAndLagPassTheSignalUnchanged) {
  for (double f : {0.01, 0.1, 0.3}) {
    SCOPED_TRACE(f);
    const double k = std::tan(kPi * f);
    const double dd = (k - 1) / (k + 1);
    BiquadDesigner first;
    first.Design(kestrel::kLeadLag1, f, f, 0.0);
    EXPECT_EQ(first.b0, 1.0);
    EXPECT_EQ(first.b1, first.a1);
    EXPECT_NEAR(first.a1, dd, 1e-15);
    EXPECT_EQ(first.b2, 0.0);
    EXPECT_EQ(first.a2, 0.0);
    BiquadDesigner second;
    second.Design(kestrel::kLeadLag2, f, f, 0.0);
    EXPECT_EQ(second.b0, 1.0);
    EXPECT_EQ(second.b1, second.a1);
    EXPECT_EQ(second.b2, second.a2);
    EXPECT_NEAR(second.a1, 2 * dd, 1e-15);
    EXPECT_NEAR(second.a2, dd * dd, 1e-15);
    // 1.0 is the largest coefficient: scale 2, stored as 2^30.
    first.Quantise();
    EXPECT_EQ(first.scale, 2.0);
    EXPECT_EQ(first.b0, k2to30);
    EXPECT_EQ(first.b1, first.a1);
  }
}

TEST(BiquadDesign, UnknownTypeKeepsThePreviousCoefficients) {
  BiquadDesigner d;
  ASSERT_TRUE(d.Design(kestrel::kNotch, 0.1, 2, 0.0));
  const BiquadDesigner before = d;
  for (int type : {-1, 10, 1000}) {
    SCOPED_TRACE(type);
    EXPECT_FALSE(d.Design(type, 0.2, 1, 0.0));
    EXPECT_EQ(d.b0, before.b0);
    EXPECT_EQ(d.b1, before.b1);
    EXPECT_EQ(d.b2, before.b2);
    EXPECT_EQ(d.a1, before.a1);
    EXPECT_EQ(d.a2, before.a2);
  }
}

// ------------------------------------------------------------------------------------------------
// Frequency response against the analogue prototype: with the prewarped K = tan(pi f), the
// bilinear transform maps zero frequency to z = 1, the design frequency to w = 2 pi f and
// infinity to the Nyquist frequency (z = -1), so the digital filter has exactly the analogue
// filter's gain at those three points.

struct ResponseRow {
  const char* name;
  int type;
  double f, p, gain_dB;
  double at_dc, at_corner, at_nyquist;
};

TEST(BiquadDesign, GainAtZeroCornerAndNyquistMatchesTheAnalogueShape) {
  const double q = 2.0;
  const double v = std::pow(10.0, 6.0 / 20.0);              // +6 dB as a ratio
  const double shelf_mid = std::sqrt((v * v + 1.0) / 2.0);  // |(V - 1 + j sqrt(2V)) / (j sqrt2)|
  // Lead-lag with the lead at f1 = 0.05, the lag at f2 = 0.2:
  // H(s) = (1 + s/K1) / (1 + s/K2); at s = jK1: sqrt2 / sqrt(1 + (K1/K2)^2); at infinity K2/K1.
  const double k1 = std::tan(kPi * 0.05);
  const double k2 = std::tan(kPi * 0.2);
  const double lead_corner = std::sqrt(2.0) / std::sqrt(1 + (k1 / k2) * (k1 / k2));
  const ResponseRow rows[] = {
      {"low pass 1st", 0, 0.1, 0, 0, 1, 1 / std::sqrt(2.0), 0},
      {"low pass 1st near Nyquist", 0, 0.45, 0, 0, 1, 1 / std::sqrt(2.0), 0},
      {"low pass 2nd: gain Q at the corner", 1, 0.1, q, 0, 1, q, 0},
      {"low pass 2nd, Q = 0.5", 1, 0.02, 0.5, 0, 1, 0.5, 0},
      {"notch", 2, 0.1, q, 0, 1, 0, 1},
      {"high pass", 3, 0.1, q, 0, 0, q, 1},
      {"band pass", 4, 0.1, q, 0, 0, 1, 0},
      {"band pass, narrow", 4, 0.03, 10, 0, 0, 1, 0},
      {"peak 0 dB", 5, 0.1, q, 0, 1, 1, 1},
      {"peak +6 dB", 5, 0.1, q, 6, 1, v, 1},
      {"peak -6 dB", 5, 0.1, q, -6, 1, 1 / v, 1},
      {"low shelf 0 dB", 6, 0.1, 0, 0, 1, 1, 1},
      {"low shelf +6 dB", 6, 0.1, 0, 6, v, shelf_mid, 1},
      {"low shelf -6 dB", 6, 0.1, 0, -6, 1 / v, 1 / shelf_mid, 1},
      {"high shelf +6 dB", 7, 0.1, 0, 6, 1, shelf_mid, v},
      {"high shelf -6 dB", 7, 0.1, 0, -6, 1, 1 / shelf_mid, 1 / v},
      {"lead-lag 1st", 8, 0.05, 0.2, 0, 1, lead_corner, k2 / k1},
      {"lead-lag 2nd", 9, 0.05, 0.2, 0, 1, lead_corner * lead_corner, (k2 / k1) * (k2 / k1)},
      {"lag-lead 1st (lag below lead)", 8, 0.2, 0.05, 0, 1,
       std::sqrt(2.0) / std::sqrt(1 + (k2 / k1) * (k2 / k1)), k1 / k2},
  };
  for (const ResponseRow& row : rows) {
    SCOPED_TRACE(row.name);
    BiquadDesigner d;
    ASSERT_TRUE(d.Design(row.type, row.f, row.p, row.gain_dB));
    EXPECT_NEAR(Magnitude(d, 0.0), row.at_dc, 1e-9);
    EXPECT_NEAR(Magnitude(d, 2 * kPi * row.f), row.at_corner, 1e-9);
    EXPECT_NEAR(Magnitude(d, kPi), row.at_nyquist, 1e-9);

    // The fixed-point filter the drive runs (coefficient x scale / 2^31) keeps the shape.
    BiquadDesigner fixed = d;
    fixed.Quantise();
    if (kestrel::HasUnityDcGain(row.type, row.gain_dB)) kestrel::ForceUnityDcGain(fixed);
    for (double* c : {&fixed.b0, &fixed.b1, &fixed.b2, &fixed.a1, &fixed.a2}) {
      EXPECT_TRUE(FitsInt32(*c));
      *c = *c * fixed.scale / k2to31;
    }
    EXPECT_NEAR(Magnitude(fixed, 2 * kPi * row.f), row.at_corner, 1e-5);
    EXPECT_NEAR(Magnitude(fixed, kPi), row.at_nyquist, 1e-5);
  }
}

// ------------------------------------------------------------------------------------------------
// Quantisation

struct QuantiseRow {
  const char* name;
  double in[5];
  double scale;
  double out[5];
};

TEST(BiquadQuantise, ScaleAndRounding) {
  const double tiny = std::ldexp(1.0, -32);  // half a count at scale 1
  const QuantiseRow rows[] = {
      {"below one: scale 1",
       {0.5, 0.25, -0.125, 0, -0.5},
       1,
       {k2to30, k2to30 / 2, -k2to30 / 4, 0, -k2to30}},
      {"exactly 1.0: scale 2", {1.0, 0.5, 0, 0, 0}, 2, {k2to30, k2to30 / 2, 0, 0, 0}},
      {"exactly -1.0: scale 2", {0, -1.0, 0, 0.25, 0}, 2, {0, -k2to30, 0, k2to30 / 4, 0}},
      {"1.5: scale 2", {1.5, 0, 0, 0, 0}, 2, {1610612736, 0, 0, 0, 0}},
      {"3: scale 4", {0, 0, 3, 0, 0}, 4, {0, 0, 1610612736, 0, 0}},
      // An exact power of two above one takes one more shift, else 2.0 / 2 x 2^31 = 2^31.
      {"exactly 2.0: scale 4", {2.0, 0, 0, 1.0, 0}, 4, {k2to30, 0, 0, k2to30 / 2, 0}},
      {"exactly -2.0: scale 4", {0, -2.0, 0, 0, 0}, 4, {0, -k2to30, 0, 0, 0}},
      {"exactly 4.0: scale 8", {0, 0, 0, 0, 4.0}, 8, {0, 0, 0, 0, k2to30}},
      {"exactly 1024: scale 2048", {1024, 0, 0, 0, 0}, 2048, {k2to30, 0, 0, 0, 0}},
      // Within half a count of one: rounds to 2^31 at scale 1, so scale 2.
      {"just below one", {1 - std::ldexp(1.0, -40), 0, 0, 0, 0}, 2, {k2to30, 0, 0, 0, 0}},
      // Halves round up: +0.5 -> 1, -0.5 -> 0, -1.5 -> -1, 1.5 -> 2.
      {"halves round up", {tiny, -tiny, -3 * tiny, 3 * tiny, 0}, 1, {1, 0, -1, 2, 0}},
      {"all zero", {0, 0, 0, 0, 0}, 1, {0, 0, 0, 0, 0}},
      // A design that is not finite becomes the pass-through filter (1.0 at scale 2).
      {"NaN", {kNaN, 0.5, 0.5, 0, 0}, 2, {k2to30, 0, 0, 0, 0}},
      {"infinite", {0.5, 0, 0, -kInf, 0}, 2, {k2to30, 0, 0, 0, 0}},
      {"near the top of the double range", {1e308, 0, 0, 0, 0}, 2, {k2to30, 0, 0, 0, 0}},
  };
  for (const QuantiseRow& row : rows) {
    SCOPED_TRACE(row.name);
    BiquadDesigner d;
    d.b0 = row.in[0];
    d.b1 = row.in[1];
    d.b2 = row.in[2];
    d.a1 = row.in[3];
    d.a2 = row.in[4];
    d.Quantise();
    EXPECT_EQ(d.scale, row.scale);
    const double got[5] = {d.b0, d.b1, d.b2, d.a1, d.a2};
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(got[i], row.out[i]) << "coefficient " << i;
      EXPECT_TRUE(FitsInt32(got[i])) << "coefficient " << i;
    }
  }
}

// A large coefficient that is not a power of two keeps the plain logarithm rule.
TEST(BiquadQuantise, LargeCoefficientsUseTheSmallestScaleAbove) {
  struct Row {
    double m;
    double scale;
  };
  const Row rows[] = {{1.0001, 2}, {1.9999, 2}, {2.0001, 4}, {5, 8}, {1000, 1024}, {1e6, 1048576}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.m);
    BiquadDesigner d;
    d.b0 = 0.5;
    d.a1 = -row.m;
    d.Quantise();
    EXPECT_EQ(d.scale, row.scale);
    EXPECT_EQ(d.a1, std::floor(-row.m / row.scale * k2to31 + 0.5));
  }
}

// Quantised coefficients give the designed value back within half a count.
TEST(BiquadQuantise, RoundTripWithinHalfACountOverRandomDesigns) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> freq(0.001, 0.49);
  std::uniform_real_distribution<double> quality(0.3, 20);
  std::uniform_int_distribution<int> type(0, 9);
  for (int i = 0; i < 2000; ++i) {
    const int t = type(rng);
    const double f = freq(rng);
    const double p = (t >= 8) ? freq(rng) : quality(rng);
    BiquadDesigner d;
    ASSERT_TRUE(d.Design(t, f, p, 0.0));
    BiquadDesigner q = d;
    q.Quantise();
    const double count = q.scale / k2to31;
    const double designed[5] = {d.b0, d.b1, d.b2, d.a1, d.a2};
    const double fixed[5] = {q.b0, q.b1, q.b2, q.a1, q.a2};
    for (int c = 0; c < 5; ++c) {
      ASSERT_TRUE(FitsInt32(fixed[c])) << "type " << t << " f " << f << " p " << p;
      ASSERT_LE(std::fabs(fixed[c] * count - designed[c]), count / 2)
          << "type " << t << " f " << f << " p " << p << " coefficient " << c;
    }
    // The scale is the smallest that holds the largest coefficient.
    double m = 0;
    for (double c : designed) m = std::max(m, std::fabs(c));
    ASSERT_LT(m, q.scale);
    if (q.scale > 1) {
      ASSERT_GE(m, q.scale / 2 * (1 - 1e-9));
    }
  }
}

// ------------------------------------------------------------------------------------------------
// Unity gain at zero frequency after rounding

TEST(BiquadUnityGain, WhichTypesAreUnityAtZeroFrequency) {
  struct Row {
    int type;
    double gain_dB;
    bool unity;
  };
  const Row rows[] = {
      {0, 0, true}, {1, 0, true}, {2, 0, true},   {3, 0, false},  {4, 0, false}, {5, 0, true},
      {5, 6, true}, {6, 0, true}, {6, 6, false},  {6, -3, false}, {7, 0, true},  {7, -6, true},
      {8, 0, true}, {9, 0, true}, {-1, 0, false}, {10, 0, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.type) + " at " + std::to_string(row.gain_dB) + " dB");
    EXPECT_EQ(kestrel::HasUnityDcGain(row.type, row.gain_dB), row.unity);
    // Where the table says unity, the designed filter agrees.
    if (row.type >= 0 && row.type <= 9) {
      BiquadDesigner d;
      d.Design(row.type, 0.07, row.type >= 8 ? 0.13 : 1.3, row.gain_dB);
      EXPECT_EQ(std::fabs(Magnitude(d, 0.0) - 1.0) < 1e-9, row.unity);
    }
  }
}

TEST(BiquadUnityGain, CorrectionMovesB0ByTheRoundingError) {
  struct Row {
    const char* name;
    double b0, b1, b2, a1, a2, scale;
    bool changed;
    double b0_after;
  };
  const Row rows[] = {
      {"already exact", k2to30, 0, 0, 0, 0, 2, false, k2to30},
      // Sum 2^31 - 3 at scale 1: B0 gets the three counts.
      {"three counts short", k2to30, k2to30 - 3, 0, 0, 0, 1, true, k2to30 + 3},
      // Scale 4: one is 2^29.
      {"scale 4", 100, 0, 0, -5, 7, 4, true, 536870912 - 5 + 7},
      // Corrected B0 would be 2^31 + 9, past the 32-bit range: left alone.
      {"would overflow", k2to31 - 1, 0, 0, 10, 0, 1, false, k2to31 - 1},
      {"not finite", 5, kNaN, 0, 0, 0, 1, false, 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BiquadDesigner d;
    d.b0 = row.b0;
    d.b1 = row.b1;
    d.b2 = row.b2;
    d.a1 = row.a1;
    d.a2 = row.a2;
    d.scale = row.scale;
    EXPECT_EQ(kestrel::ForceUnityDcGain(d), row.changed);
    EXPECT_EQ(d.b0, row.b0_after);
    EXPECT_TRUE(d.b1 == row.b1 || (std::isnan(d.b1) && std::isnan(row.b1)));
  }
}

// ------------------------------------------------------------------------------------------------
// Encoding into the setup

struct Filter {
  double on, type, location, f1, f2, q;
};

constexpr Filter kOff = {0, 1, 0, 100, 0, 0.7};
const char* const kSlotSuffixes[] = {"B0", "B1", "B2", "A1", "A2", "SF"};

std::string SlotName(int k, const char* suffix) { return "BQ" + std::to_string(k) + suffix; }
std::string FilterName(const char* stem, int n) { return stem + std::to_string(n); }

// Registers start at sentinels so that every write shows.
void AddFilters(TestSetup& s, const Filter (&filters)[3], double ts_s,
                const std::string& omit = "") {
  const auto add = [&](const std::string& name, double value, bool is_register) {
    if (name == omit) return;
    std::string error;
    ASSERT_NE(s->AddParameter({.name = name,
                               .value = value,
                               .min = -1e300,
                               .max = 1e300,
                               .type = is_register ? axis::kTypeRegister : axis::kTypePhysical,
                               .is_integer = is_register},
                              &error),
              nullptr)
        << error;
  };
  add("Ts_S", ts_s, false);
  for (const char* name : {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"}) add(name, 9, true);
  for (int n = 1; n <= 3; ++n) {
    const Filter& f = filters[n - 1];
    add(FilterName("BQFilter", n), f.on, false);
    add(FilterName("BQFilterType", n), f.type, false);
    add(FilterName("BQFilterLocation", n), f.location, false);
    add(FilterName("BQFilterF1", n), f.f1, false);
    add(FilterName("BQFilterF2", n), f.f2, false);
    add(FilterName("BQFilterQ", n), f.q, false);
    for (const char* suffix : kSlotSuffixes) add(SlotName(n, suffix), 77, true);
  }
}

struct Slot {
  double b0, b1, b2, a1, a2, sf;
};

Slot ReadSlot(TestSetup& s, int k) {
  const auto get = [&](const char* suffix) { return s.Get(SlotName(k, suffix).c_str()); };
  return {get("B0"), get("B1"), get("B2"), get("A1"), get("A2"), get("SF")};
}

bool IsCleared(const Slot& slot) {
  return slot.b0 == 0 && slot.b1 == 0 && slot.b2 == 0 && slot.a1 == 0 && slot.a2 == 0 &&
         slot.sf == 0;
}

// Fingerprints of three filters with Ts_S = 1 ms, checked by hand:
//  equal lead-lag at 100 Hz: B0 = 1.0 -> 2^30 at scale 2, B1 = A1;
//  first-order low pass at 250 Hz (K = 1): B0 = B1 = 1/2 -> 2^30 at scale 1, A1 = 0;
//  second-order low pass at 250 Hz, Q = 1/sqrt2: B0 = 628983398, B1 = 1257966796 at scale 1.
const Filter kPassThrough = {1, 8, 0, 100, 100, 0};
const Filter kLowPass1 = {1, 0, 0, 250, 0, 0};
const Filter kLowPass2 = {1, 1, 0, 250, 0, 1 / std::numbers::sqrt2};

enum Fingerprint { kCleared, kIsPassThrough, kIsLowPass1, kIsLowPass2, kUnknown };

Fingerprint Identify(const Slot& s) {
  if (IsCleared(s)) return kCleared;
  if (s.sf == 2 && s.b0 == k2to30 && s.b1 == s.a1 && s.b2 == 0) return kIsPassThrough;
  if (s.sf == 1 && s.b0 == k2to30 && s.b1 == k2to30 && s.a1 == 0) return kIsLowPass1;
  if (s.sf == 1 && s.b0 == 628983398 && s.b1 == 1257966796 && s.a2 == 368449944) return kIsLowPass2;
  return kUnknown;
}

Filter At(Filter f, double location) {
  f.location = location;
  return f;
}

struct EncodeRow {
  const char* name;
  Filter filters[3];
  Fingerprint slots[3];
  double counts[3];  // SPDREF_BQ_INI, IQREF_BQ_INI, ASPD_BQ_INI
};

TEST(EncodeBiquadFilters, SlotsAreFilledByLocationThenFilterNumber) {
  const EncodeRow rows[] = {
      {"nothing on", {kOff, kOff, kOff}, {kCleared, kCleared, kCleared}, {0, 0, 0}},
      {"filter 3 at 0, filters 1 and 2 at 1",
       {At(kLowPass1, 1), At(kLowPass2, 1), At(kPassThrough, 0)},
       {kIsPassThrough, kIsLowPass1, kIsLowPass2},
       {1, 2, 0}},
      {"all at speed feedback",
       {At(kLowPass2, 2), At(kPassThrough, 2), At(kLowPass1, 2)},
       {kIsLowPass2, kIsPassThrough, kIsLowPass1},
       {0, 0, 3}},
      {"one per location, reversed",
       {At(kLowPass1, 2), At(kLowPass2, 1), At(kPassThrough, 0)},
       {kIsPassThrough, kIsLowPass2, kIsLowPass1},
       {1, 1, 1}},
      {"filter 2 off leaves slot 3 clear",
       {At(kLowPass1, 2), At(kOff, 0), At(kLowPass2, 0)},
       {kIsLowPass2, kIsLowPass1, kCleared},
       {1, 0, 1}},
      {"location truncated: 1.9 is 1",
       {At(kLowPass1, 1.9), kOff, kOff},
       {kIsLowPass1, kCleared, kCleared},
       {0, 1, 0}},
      {"unknown locations are not placed",
       {At(kLowPass1, 3), At(kLowPass2, -1), At(kPassThrough, kNaN)},
       // NaN truncates to 0: a known location.
       {kIsPassThrough, kCleared, kCleared},
       {1, 0, 0}},
      {"any non-zero switch is on",
       {{0.5, 0, 1, 250, 0, 0}, {-1, 1, 1, 250, 0, 1 / std::numbers::sqrt2}, kOff},
       {kIsLowPass1, kIsLowPass2, kCleared},
       {0, 2, 0}},
      {"type truncated, unknown types left out",
       {{1, 0.99, 0, 250, 0, 0}, {1, 10, 0, 250, 0, 1}, {1, -1, 0, 250, 0, 1}},
       {kIsLowPass1, kCleared, kCleared},
       {1, 0, 0}},
      // Lead-lag reads F2 (Q is ignored, even 0); other types read Q (F2 ignored, even NaN).
      {"lead-lag ignores Q, low pass ignores F2",
       {{1, 8, 0, 100, 100, 0}, {1, 1, 0, 250, kNaN, 1 / std::numbers::sqrt2}, kOff},
       {kIsPassThrough, kIsLowPass2, kCleared},
       {2, 0, 0}},
  };
  for (const EncodeRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    AddFilters(s, row.filters, 1e-3);
    ASSERT_EQ(kestrel::EncodeBiquadFilters(*s), 1);
    for (int k = 1; k <= 3; ++k) {
      EXPECT_EQ(Identify(ReadSlot(s, k)), row.slots[k - 1]) << "slot " << k;
    }
    EXPECT_EQ(s.Get("SPDREF_BQ_INI"), row.counts[0]);
    EXPECT_EQ(s.Get("IQREF_BQ_INI"), row.counts[1]);
    EXPECT_EQ(s.Get("ASPD_BQ_INI"), row.counts[2]);
  }
}

TEST(EncodeBiquadFilters, AMissingParameterChangesNothing) {
  const Filter filters[3] = {At(kLowPass1, 1), At(kLowPass2, 0), kOff};
  for (const char* omit :
       {"Ts_S", "IQREF_BQ_INI", "ASPD_BQ_INI", "BQ3SF", "BQ2A1", "BQFilter3", "BQFilterType1",
        "BQFilterLocation2", "BQFilterF11", "BQFilterF22", "BQFilterQ3"}) {
    SCOPED_TRACE(omit);
    std::vector<std::string> reports;
    axis::SetErrorReporter([&](const std::string& m) { reports.push_back(m); });
    TestSetup s;
    AddFilters(s, filters, 1e-3, omit);
    EXPECT_EQ(kestrel::EncodeBiquadFilters(*s), 0);
    for (int k = 1; k <= 3; ++k) {
      for (const char* suffix : kSlotSuffixes) {
        const std::string name = SlotName(k, suffix);
        if (name != omit) {
          EXPECT_EQ(s.Get(name.c_str()), 77) << name;
        }
      }
    }
    if (std::string(omit) != "IQREF_BQ_INI") {
      EXPECT_EQ(s.Get("IQREF_BQ_INI"), 9);
    }
    EXPECT_EQ(reports,
              std::vector<std::string>{"Parameter \"" + std::string(omit) + "\" not found"});
    axis::SetErrorReporter(nullptr);
  }
}

// Reference design for the unity check, straight from the coefficient formulas.
struct Reference {
  double b0, b1, b2, a1, a2;
};
Reference ReferenceHighOrBandPass(int type, double f, double q) {
  const double k = std::tan(kPi * f);
  const double norm = 1 / (1 + k / q + k * k);
  const double a1 = 2 * (k * k - 1) * norm;
  const double a2 = (1 - k / q + k * k) * norm;
  if (type == 3) return {norm, -2 * norm, norm, a1, a2};
  return {k / q * norm, 0, -k / q * norm, a1, a2};
}

TEST(EncodeBiquadFilters, UnityAtZeroFrequencyIsExactOnlyWhereItBelongs) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> hz(1, 480);
  std::uniform_real_distribution<double> quality(0.4, 8);
  const int types[] = {0, 1, 2, 3, 4, 8, 9};
  int corrected = 0;
  for (int i = 0; i < 700; ++i) {
    const int type = types[i % 7];
    const Filter filter = {1, double(type), 1, hz(rng), hz(rng), quality(rng)};
    TestSetup s;
    AddFilters(s, {filter, kOff, kOff}, 1e-3);
    ASSERT_EQ(kestrel::EncodeBiquadFilters(*s), 1);
    const Slot slot = ReadSlot(s, 1);
    const std::string where = "type " + std::to_string(type) + " f1 " + std::to_string(filter.f1) +
                              " f2 " + std::to_string(filter.f2) + " q " + std::to_string(filter.q);
    for (double c : {slot.b0, slot.b1, slot.b2, slot.a1, slot.a2})
      ASSERT_TRUE(FitsInt32(c)) << where;
    // Unity at z = 1: B0 + B1 + B2 = 2^31 / scale + A1 + A2.
    const double dc_sum = slot.b0 + slot.b1 + slot.b2 - slot.a1 - slot.a2;
    if (type == 3 || type == 4) {
      // No correction: B0 is the plain rounding of the designed value, and the numerator still
      // sums to (nearly) zero, a zero at zero frequency.
      const Reference r = ReferenceHighOrBandPass(type, filter.f1 * 1e-3, filter.q);
      EXPECT_NEAR(slot.b0, std::floor(r.b0 / slot.sf * k2to31 + 0.5), 1) << where;
      EXPECT_LE(std::fabs(slot.b0 + slot.b1 + slot.b2), 2) << where;
    } else {
      EXPECT_EQ(dc_sum * slot.sf, k2to31) << where;
      // The plain rounding would have missed by a few counts at most.
      BiquadDesigner d;
      d.Design(type, filter.f1 * 1e-3, type >= 8 ? filter.f2 * 1e-3 : filter.q, 0);
      d.Quantise();
      EXPECT_LE(std::fabs(slot.b0 - d.b0), 4) << where;
      if (slot.b0 != d.b0) ++corrected;
    }
  }
  // The sample must exercise the correction, or the exactness above proves nothing.
  EXPECT_GT(corrected, 20);
}

TEST(EncodeBiquadFilters, DegenerateInputsGiveRegistersTheDriveCanHold) {
  struct Row {
    const char* name;
    double ts_s;
    Filter filter;
  };
  const Row rows[] = {
      {"Ts_S = 0", 0, {1, 1, 1, 100, 0, 0.7}},
      {"Ts_S NaN", kNaN, {1, 1, 1, 100, 0, 0.7}},
      {"Ts_S infinite", kInf, {1, 0, 1, 100, 0, 0.7}},
      {"Q = 0", 1e-3, {1, 2, 1, 100, 0, 0}},
      {"Q NaN", 1e-3, {1, 3, 1, 100, 0, kNaN}},
      {"frequency at Nyquist (tan(pi/2))", 1e-3, {1, 1, 1, 500, 0, 0.7}},
      {"frequency 0", 1e-3, {1, 4, 1, 0, 0, 0.7}},
      {"negative frequency", 1e-3, {1, 0, 1, -50, 0, 0.7}},
      {"lead at 0 Hz", 1e-3, {1, 8, 1, 0, 100, 0}},
      {"lag at 0 Hz", 1e-3, {1, 9, 1, 100, 0, 0}},
      {"lead NaN", 1e-3, {1, 9, 1, kNaN, 100, 0}},
      {"type NaN (truncates to 0)", 1e-3, {1, kNaN, 1, 100, 0, 0.7}},
      {"type infinite", 1e-3, {1, kInf, 1, 100, 0, 0.7}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    AddFilters(s, {row.filter, kOff, kOff}, row.ts_s);
    ASSERT_EQ(kestrel::EncodeBiquadFilters(*s), 1);
    for (int k = 1; k <= 3; ++k) {
      const Slot slot = ReadSlot(s, k);
      for (double c : {slot.b0, slot.b1, slot.b2, slot.a1, slot.a2}) EXPECT_TRUE(FitsInt32(c));
      EXPECT_TRUE(std::isfinite(slot.sf));
      EXPECT_GE(slot.sf, 0);
    }
  }
}

// ------------------------------------------------------------------------------------------------
// Writing to the drive

class RecordingComm : public CMC_Comm {
 public:
  bool WriteParameter(const CMC_Parameter& parameter, double internal_value) override {
    written.emplace_back(parameter.GetName(), internal_value);
    return fail_at < 0 || static_cast<int>(written.size()) < fail_at + 1;
  }
  bool ReadVariable(const CMC_Variable&, double&) override { return false; }
  bool WriteVariable(const CMC_Variable&, double) override { return false; }
  std::string GetLastErrorText() const override { return "link down"; }

  std::vector<std::pair<std::string, double>> written;
  int fail_at = -1;  // index of the write that fails
};

std::vector<std::string> AllRegisterNames() {
  std::vector<std::string> names = {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"};
  for (int k = 1; k <= 3; ++k) {
    for (const char* suffix : kSlotSuffixes) names.push_back(SlotName(k, suffix));
  }
  return names;
}

TEST(WriteBiquadsToDrive, WritesCountsThenSlotsInOrder) {
  TestSetup s;
  AddFilters(s, {At(kLowPass1, 1), At(kLowPass2, 0), kOff}, 1e-3);
  ASSERT_EQ(kestrel::EncodeBiquadFilters(*s), 1);
  RecordingComm comm;
  s->SetComm(&comm);
  EXPECT_EQ(kestrel::WriteBiquadsToDrive(*s), 1);
  const std::vector<std::string> names = AllRegisterNames();
  ASSERT_EQ(comm.written.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(comm.written[i].first, names[i]);
    EXPECT_EQ(comm.written[i].second, s.Get(names[i].c_str()));
  }
  EXPECT_EQ(comm.written[0].second, 1);          // SPDREF_BQ_INI
  EXPECT_EQ(comm.written[3].second, 628983398);  // BQ1B0: the second-order low pass
}

TEST(WriteBiquadsToDrive, SkipsAbsentRegistersQuietlyAndStopsAtAFailure) {
  struct Row {
    const char* name;
    std::vector<std::string> present;
    int fail_at;
    int result;
    size_t attempts;
  };
  const std::vector<std::string> all = AllRegisterNames();
  const Row rows[] = {
      {"only some registers", {"IQREF_BQ_INI", "BQ1B0", "BQ3SF"}, -1, 1, 3},
      {"none", {}, -1, 1, 0},
      {"fifth write fails", all, 4, 0, 5},
      {"first write fails", all, 0, 0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> reports;
    axis::SetErrorReporter([&](const std::string& m) { reports.push_back(m); });
    TestSetup s;
    for (const std::string& name : row.present) {
      s->AddParameter({.name = name, .value = 3, .type = axis::kTypeRegister, .is_integer = true});
    }
    RecordingComm comm;
    comm.fail_at = row.fail_at;
    s->SetComm(&comm);
    EXPECT_EQ(kestrel::WriteBiquadsToDrive(*s), row.result);
    ASSERT_EQ(comm.written.size(), row.attempts);
    for (size_t i = 0; i < comm.written.size(); ++i)
      EXPECT_EQ(comm.written[i].first, row.present[i]);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(g_bShowErrors, 1);
    axis::SetErrorReporter(nullptr);
  }
}

TEST(WriteBiquadsToDrive, FailsWithoutADrive) {
  TestSetup s;
  s->AddParameter({.name = "IQREF_BQ_INI", .type = axis::kTypeRegister, .is_integer = true});
  EXPECT_EQ(kestrel::WriteBiquadsToDrive(*s), 0);
}

}  // namespace
