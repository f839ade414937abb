#include "tuning/biquad.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include "support/scripted_drive.h"
#include "support/test_setup.h"

namespace {

using Doubles = std::vector<double>;
using Filter = std::array<double, 6>;  // on, type, location, F1, F2, Q

constexpr double kNaN = NAN, kInf = INFINITY, kPi = std::numbers::pi, k2to31 = 0x1p31;

double Magnitude(const kestrel::BiquadDesigner& d, double w) {  // |H(e^jw)|
  const std::complex<double> z = std::polar(1.0, -w);
  return std::abs((d.b0 + z * (d.b1 + z * d.b2)) / (1.0 + z * (d.a1 + z * d.a2)));
}
bool FitsInt32(double v) { return v >= -k2to31 && v < k2to31 && v == std::floor(v); }

// Prewarped bilinear design: gains at 0, f and Nyquist are the prototype's at 0, corner, infinity.
TEST(BiquadDesign, GainAtZeroCornerAndNyquistMatchesTheAnalogueShape) {
  const double q = 2, v = std::pow(10.0, .3), sm = std::sqrt((v * v + 1) / 2);  // +6 dB, shelf mid
  const double k1 = std::tan(kPi * .05), k2 = std::tan(kPi * .2);  // lead-lag (1 + s/K1)/(1 + s/K2)
  const double lead = std::sqrt(2) / std::hypot(1, k1 / k2);       // and its gain at s = jK1
  // clang-format off
  const struct { int type; double f, p, gain_dB, dc, corner, nyquist; } rows[] = {
      {0, .1, 0, 0, 1, 1 / std::sqrt(2.0), 0}, {1, .1, q, 0, 1, q, 0}, {2, .1, q, 0, 1, 0, 1},
      {3, .1, q, 0, 0, q, 1}, {4, .1, q, 0, 0, 1, 0}, {5, .1, q, -6, 1, 1 / v, 1},
      {6, .1, 0, 0, 1, 1, 1}, {6, .1, 0, 6, v, sm, 1}, {7, .1, 0, -6, 1, 1 / sm, 1 / v},
      {8, .05, .2, 0, 1, lead, k2 / k1}, {9, .05, .2, 0, 1, lead * lead, k2 * k2 / (k1 * k1)}};
  // clang-format on
  for (const auto& r : rows) {
    kestrel::BiquadDesigner d;
    ASSERT_TRUE(d.Design(r.type, r.f, r.p, r.gain_dB));
    EXPECT_LT(std::hypot(Magnitude(d, 0) - r.dc, Magnitude(d, 2 * kPi * r.f) - r.corner,
                         Magnitude(d, kPi) - r.nyquist),
              1e-9)
        << r.type << " " << r.gain_dB;
    EXPECT_EQ(kestrel::HasUnityDcGain(r.type, r.gain_dB), r.dc == 1) << r.type << " " << r.gain_dB;
  }
  kestrel::BiquadDesigner d, one;  // the quarter-rate low pass: K = 1, Q = 1/sqrt2
  d.Design(kestrel::kLowPass2, 0.25, 1 / std::sqrt(2.0), 0.0);
  for (int type : {-1, 10}) EXPECT_FALSE(d.Design(type, 0.2, 1, 0.0));  // keeps the design
  d.Quantise();
  EXPECT_EQ(Doubles({d.scale, d.b0}), Doubles({1, 628983398}));  // floor(0.2928932... x 2^31 + .5)
  one.Design(kestrel::kLeadLag1, 0.1, 0.1, 0.0);  // equal lead and lag: B0 = 1, B1 = A1 = d
  EXPECT_NEAR(one.a1, (std::tan(kPi * 0.1) - 1) / (std::tan(kPi * 0.1) + 1), 1e-15);
  EXPECT_EQ((Doubles{one.b0, one.b1, one.b2, one.a2}), (Doubles{1, one.a1, 0, 0}));
  const struct {
    std::array<double, 5> in;
    Doubles out;  // counts, scale
  } quantised[] = {
      {{2, 0, 0, 1.5}, {0x1p30, 0, 0, 805306368, 0, 4}},          // 2.0 at scale 2 would be 2^31
      {{0.5, -2, 0, 1.5}, {0x1p29, -0x1p31, 0, 0x1.8p30, 0, 2}},  // -2.0 at scale 2 fits
      {{0, 0, 3, -1}, {0, 0, 0x1.8p30, -0x1p29, 0, 4}},           // ceil(log2 3) = 2
      {{-1, 0.25}, {-0x1p30, 0x1p28, 0, 0, 0, 2}},                // largest exactly 1: scale 2
      {{0x1p-32, -0x1p-32, -0x1.8p-31, 0x1.8p-31}, {1, 0, -1, 2, 0, 1}},  // halves round up
      {{1 - 0x1p-40}, {0x1p30, 0, 0, 0, 0, 2}},  // 2^31 at scale 1 once rounded
      {{kNaN, 1}, {0x1p30, 0, 0, 0, 0, 2}},
      {{1e308}, {0x1p30, 0, 0, 0, 0, 2}}};
  for (const auto& r : quantised) {
    kestrel::BiquadDesigner q{r.in[0], r.in[1], r.in[2], r.in[3], r.in[4]};
    q.Quantise();
    EXPECT_EQ((Doubles{q.b0, q.b1, q.b2, q.a1, q.a2, q.scale}), r.out) << r.in[0];
  }
  kestrel::BiquadDesigner big{k2to31 - 1, 0, 0, 10, 0, 1};  // B0 would need 2^31 + 10: left alone
  EXPECT_FALSE(kestrel::ForceUnityDcGain(big));
}

struct Named {
  std::string name;
  double value;
  bool reg = false;
};
constexpr Filter kOff = {0, 1, 0, 100, 0, 0.7};

// Every name the encoder reads or writes, in writing order; each register has its own sentinel.
std::vector<Named> Names(const std::array<Filter, 3>& f, double ts_s = 1e-3) {
  std::vector<Named> v = {{"Ts_S", ts_s}};
  for (std::string c : {"SPDREF", "IQREF", "ASPD"}) v.push_back({c + "_BQ_INI", 1e2 + v.size(), 1});
  for (const std::string i : {"1", "2", "3"}) {
    for (int k = 0; const char* s : {"", "Type", "Location", "F1", "F2", "Q"})
      v.push_back({"BQFilter" + std::string(s) + i, f[i[0] - '1'][k++]});
    for (const char* s : {"B0", "B1", "B2", "A1", "A2", "SF"})
      v.push_back({"BQ" + i + s, 1e2 + v.size(), 1});
  }
  return v;
}

auto Build(const std::array<Filter, 3>& f, double ts = 1e-3, std::string omit = "") {
  axis::testing::TestSetup s;
  for (const Named& n : Names(f, ts))
    if (n.name != omit) s->AddParameter({.name = n.name, .value = n.value, .is_integer = n.reg});
  return s;
}

Doubles Slot(axis::testing::TestSetup& s, int k) {
  Doubles v;
  for (const char* x : {"B0", "B1", "B2", "A1", "A2", "SF"})
    v.push_back(s.Get(("BQ" + std::to_string(k) + x).c_str()));
  return v;
}

// At Ts_S 1 ms: P equal lead-lag, L first- and Q second-order low pass at K = 1; 0 a cleared slot.
constexpr Filter P = {1, 8, 0, 100, 100, 0}, L = {1, 0, 0, 250, 0, 0};
const Filter Q = {1, 1, 0, 250, 0, 1 / std::numbers::sqrt2};
char Kind(const Doubles& s) {
  if (s == Doubles(6, 0.0)) return '0';
  if (s == Doubles{0x1p30, s[3], 0, s[3], 0, 2}) return 'P';
  if (s == Doubles{0x1p30, 0x1p30, 0, 0, 0, 1}) return 'L';
  return s == Doubles{628983398, 1257966796, 628983398, 0, 368449944, 1} ? 'Q' : '?';
}
Filter At(Filter f, double location) { return f[2] = location, f; }

TEST(EncodeBiquadFilters, SlotsAreFilledByLocationThenFilterNumber) {
  // clang-format off
  const struct { std::array<Filter, 3> f; const char* slots; Doubles counts; } rows[] = {
      {{kOff, kOff, kOff}, "000", {0, 0, 0}}, {{At(L, 1), At(Q, 1), At(P, 0)}, "PLQ", {1, 2, 0}},
      {{At(Q, 2), At(P, 2), At(L, 2)}, "QPL", {0, 0, 3}}, {{At(L, 2), kOff, Q}, "QL0", {1, 0, 1}},
      {{At(L, 1.9), At(Q, 3), At(P, -1)}, "L00", {0, 1, 0}},  // truncated; unknown place left out
      {{{{-1, .99, 2, 250, 0, 0}, {1, 10, 0, 250, 0, 1}, {1, -1, 0, 250, 0, 1}}}, "L00", {0, 0, 1}},
      {{{{1, 8, 0, 100, 100, kNaN}, {1, 1, 0, 250, kNaN, Q[5]}, kOff}}, "PQ0", {2, 0, 0}}};
  // clang-format on
  for (const auto& r : rows) {
    auto s = Build(r.f);
    ASSERT_EQ(kestrel::EncodeBiquadFilters(*s), 1);
    EXPECT_EQ(std::string({Kind(Slot(s, 1)), Kind(Slot(s, 2)), Kind(Slot(s, 3))}), r.slots);
    EXPECT_EQ((Doubles{s.Get("SPDREF_BQ_INI"), s.Get("IQREF_BQ_INI"), s.Get("ASPD_BQ_INI")}),
              r.counts)
        << r.slots;
  }
}

TEST(EncodeBiquadFilters, AMissingNameChangesNothingAndIsSkippedWhenWriting) {
  const std::array<Filter, 3> f = {At(L, 1), At(Q, 0), P};
  for (const Named& omit : Names(f)) {
    axis::testing::Reports reports;
    auto s = Build(f, 1e-3, omit.name);
    EXPECT_EQ(kestrel::EncodeBiquadFilters(*s), 0) << omit.name;
    std::vector<std::pair<std::string, double>> want;  // the sentinels
    for (const Named& n : Names(f))
      if (n.reg && n.name != omit.name) want.emplace_back(n.name, n.value);
    axis::testing::ScriptedDrive comm;
    comm.fail_at = int(want.size()) + 2;  // the third write of the second run fails: it stops there
    s->SetComm(&comm);
    EXPECT_EQ(kestrel::WriteBiquadsToDrive(*s), 1);
    EXPECT_EQ(comm.written, want) << omit.name;
    EXPECT_EQ(kestrel::WriteBiquadsToDrive(*s), 0);
    EXPECT_EQ(comm.written.size(), want.size() + 2);
    EXPECT_EQ(reports.messages,
              std::vector<std::string>{"Parameter \"" + omit.name + "\" not found"});
  }
}

// Random designs round-trip (B0 within a few counts: exact unity), degenerate ones still fit.
TEST(EncodeBiquadFilters, RandomAndDegenerateDesignsThroughTheRegisters) {
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> hz(1, 490), quality(0.3, 20);
  const double bad[] = {0.0, -1.0, kNaN, kInf, -kInf, 1e308};
  for (int i = 0; i < 1420; ++i) {  // from 1000 on: every type x input x degenerate value
    const int t = i % 10, input = i / 10 % 7;  // input: Ts_S, then the six of filter 1
    Filter f = {1, double(t), 1, hz(rng), hz(rng), quality(rng)};
    double ts_s = 1e-3;
    if (i >= 1000) (input == 0 ? ts_s : f[input - 1]) = bad[(i - 1000) / 70];
    auto s = Build({f, kOff, kOff}, ts_s);
    ASSERT_EQ(kestrel::EncodeBiquadFilters(*s), 1);
    for (int c = 0; c < 5; ++c) ASSERT_TRUE(FitsInt32(Slot(s, 1)[c])) << i;
    if (i >= 1000) continue;
    kestrel::BiquadDesigner d;
    d.Design(t, f[3] * ts_s, t >= 8 ? f[4] * ts_s : f[5], 0.0);
    const Doubles want = {d.b0, d.b1, d.b2, d.a1, d.a2}, got = Slot(s, 1);
    const double count = got[5] / k2to31;
    const bool unity = t != 3 && t != 4;
    for (int c = 0; c < 5; ++c)
      ASSERT_LE(std::fabs(got[c] * count - want[c]), count * (c == 0 && unity ? 4 : .5)) << i;
    ASSERT_TRUE(!unity || (got[0] + got[1] + got[2] - got[3] - got[4]) * got[5] == k2to31) << i;
  }
}

}  // namespace
