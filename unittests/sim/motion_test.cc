// The motion routines as a host drives them: the reference generator, the speed and position loops
// against the physics they are tuned for, the protection, live gains, the filters, the mass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "sim/motion_control.h"
#include "sim/routine_engine.h"
#include "unittests/sim/host_side.h"

namespace sim {
namespace {

using axis::LogRequest;
using testing::HostSide;
using testing::Record;

// The demo drive and motor: 3276 current counts per ampere, a 500 us slow loop, 1 um counts.
constexpr double kCountsPerAmpere = 65520.0 / 20.0;
constexpr double kTs = 500e-6;
constexpr double kCountsPerMetre = 1e6;
constexpr double kKf = 30.0;
constexpr double kMass = 3.0;  // the default mover and load

Config Motor(double friction_N, double mass_kg = kMass) {
  Config c = DefaultConfig();
  c.motor.friction_N = friction_N;
  c.motor.motor_mass_kg = mass_kg;
  c.motor.load_mass_kg = 0.0;
  return c;
}

// A gain as a mantissa and a shift (g = m 2^s / 32767), the way a host writes it.
void WriteGain(HostSide& host, const char* mantissa, const char* shift, double gain) {
  const int s = gain > 1.0 ? static_cast<int>(std::ceil(std::log2(gain))) : 0;
  ASSERT_TRUE(host.drive().WriteRegister(shift, s));
  ASSERT_TRUE(host.drive().WriteRegister(mantissa, std::round(gain * 32767.0 / std::ldexp(1, s))));
}

// Speed-loop gains for a PI that gives the rigid mass the characteristic polynomial
// s^2 + 2 zeta w s + w^2: Kp = 2 zeta w m / Kf (A per m/s), Ki = w^2 m / Kf (A per m), taken into
// current counts per speed count (counts per slow-loop period) and per sample.
// With the loops in the fast loop (UPGRADE bit 6) the integral acts every 50 us.
void TuneSpeedLoop(HostSide& host, double w, double zeta, bool fast = false) {
  const double per_speed_unit = kCountsPerAmpere / (kCountsPerMetre * kTs);
  WriteGain(host, "KPS", "SFTKPS", 2.0 * zeta * w * kMass / kKf * per_speed_unit);
  WriteGain(host, "KIS", "SFTKIS", w * w * kMass / kKf * per_speed_unit * (fast ? kTs / 10 : kTs));
  ASSERT_TRUE(host.drive().WriteRegister("UPGRADE", fast ? 64 : 0));
}

// The segment table of a profile: (samples, increment per sample), up to six.
axis::UserVariables Profile(std::initializer_list<std::pair<int, double>> segments,
                            axis::UserVariables inputs) {
  int i = 0;
  for (auto [n, b] : segments) {
    inputs.emplace_back("a" + std::to_string(i), n);
    inputs.emplace_back("b" + std::to_string(i), b);
    ++i;
  }
  return inputs;
}
const axis::UserVariables kAlign = {{"RefTest", 5250}, {"RIncTest", 1 << 22}};
axis::UserVariables SpeedInputs(axis::UserVariables extra = {}) {
  axis::UserVariables in = kAlign;
  in.insert(in.end(), {{"IlimPS_Test", 20000}, {"Imax_Prot_Test", 30000}});
  in.insert(in.end(), extra.begin(), extra.end());
  return in;
}

TEST(ReferenceGenerator, EndsExactlyAtZeroAndRepeats) {
  // Increments that are no whole 16.16 numbers, closed by the last segment as a host computes it.
  const std::array<double, 6> n = {99, 1, 40, 33, 1, 7};
  std::array<double, 6> b = {0.123457, 0, 0, -0.3, 0, 0};
  const auto fixed = [](double x) { return std::llround(x * 65536.0); };
  b[1] = static_cast<double>(-(99 * fixed(b[0]) + 33 * fixed(b[3]))) / 65536.0;
  for (bool repeat : {false, true}) {
    ReferenceGenerator g(n, b);
    int samples = 0, zeros = 0;
    while (samples < 5 * 181 && g.Step(repeat)) {
      ++samples;
      if (samples % 181 == 0) zeros += g.value() == 0;
    }
    EXPECT_EQ(samples, repeat ? 5 * 181 : 181);
    EXPECT_EQ(g.value(), 0);
    EXPECT_EQ(zeros, repeat ? 5 : 1);
  }
  EXPECT_FALSE(ReferenceGenerator({}, {}).Step(true));  // an empty table ends at once
}

// The speed loop's step response against the continuous two-pole loop it was tuned for:
// v'' + 2 zeta w v' + w^2 v = 2 zeta w r' + w^2 r (PI on a rigid mass), integrated finely here.
struct Step {
  double peak_time_s, overshoot;
};
Step ModelStep(double w, double zeta) {
  double v = 0.0, integral = 0.0, peak = 0.0, peak_t = 0.0;
  const double dt = 1e-6;
  for (double t = 0.0; t < 20.0 / w; t += dt) {
    const double e = 1.0 - v;
    integral += e * dt;
    v += (2.0 * zeta * w * e + w * w * integral) * dt;
    if (v > peak) peak = v, peak_t = t;
  }
  return {peak_t, peak - 1.0};
}

// The recorded speed step (Load_Position over 4 samples, centred): peak time and overshoot.
Step MeasuredStep(const std::vector<axis::LogPoint>& record, double height) {
  size_t start = 0;
  while (start < record.size() && record[start][1] == 0.0) ++start;
  double peak = 0.0, peak_t = 0.0;
  for (size_t k = start + 2; k + 2 < record.size() && record[k][1] != 0.0; ++k) {
    const double v = (record[k + 2][2] - record[k - 2][2]) / 4.0;
    if (v > peak) peak = v, peak_t = record[k][0] - record[start][0];
  }
  return {peak_t + kTs, peak / height - 1.0};
}

Step RunSpeedStep(HostSide& host, double height) {
  const LogRequest log =
      Record({"Speed_Reference", "Load_Position"}, 4000, LogRequest::Rate::kSlowLoop);
  EXPECT_TRUE(host.Run("Speed_Controller_Tuning_Test",
                       Profile({{1, height}, {600, 0}, {1, -height}, {600, 0}}, SpeedInputs()),
                       &log));
  EXPECT_EQ(host.User("Speed_Controller_Tuning_Test", "test_flag"), 1.0);
  return MeasuredStep(host.Record(), height);
}

TEST(SpeedLoop, StepResponseMatchesTheTwoPoleLoop) {
  const struct {
    double w, zeta;
    bool fast;
  } rows[] = {{60, 0.5, false}, {100, 0.7, false}, {40, 1.0, false}, {100, 0.7, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.w + row.fast);
    HostSide host(Motor(0.0));
    TuneSpeedLoop(host, row.w, row.zeta, row.fast);
    const Step model = ModelStep(row.w, row.zeta), seen = RunSpeedStep(host, 100);
    EXPECT_NEAR(seen.peak_time_s, model.peak_time_s, 0.1 * model.peak_time_s);
    EXPECT_NEAR(seen.overshoot, model.overshoot, 0.03);
  }
}

// The speed loop's output stays within the test's current limit and SATS, whichever is lower.
TEST(SpeedLoop, CurrentLimits) {
  const struct {
    double test_limit, sats, largest;
  } rows[] = {{500, 9835, 500}, {20000, 32767 - 300, 300}};
  for (const auto& row : rows) {
    HostSide host(Motor(0.0));
    TuneSpeedLoop(host, 300, 1.0);
    ASSERT_TRUE(host.drive().WriteRegister("SATS", row.sats));
    const LogRequest log = Record({"Current_Reference"}, 4000, LogRequest::Rate::kSlowLoop);
    axis::UserVariables in = SpeedInputs();
    in[2].second = row.test_limit;  // "IlimPS_Test"
    ASSERT_TRUE(host.Run("Speed_Controller_Tuning_Test",
                         Profile({{1, 100}, {200, 0}, {1, -100}, {200, 0}}, in), &log));
    double largest = 0.0;
    for (const auto& point : host.Record()) largest = std::max(largest, std::fabs(point[1]));
    EXPECT_EQ(largest, row.largest);
  }
}

// Feedforward alone (no PI): KFFA = m CS / (Kf MSS Ts) turns the reference's change per sample into
// the force of that acceleration, KFFS = c CS / (Kf MSS) the reference's speed into the viscous
// force; a ramp of 0.5 per sample to 100 (2 m/s^2 on 3 kg) is then followed open loop.
TEST(SpeedLoop, FeedforwardFollowsTheRamp) {
  const double per_speed_unit = kCountsPerAmpere / (kCountsPerMetre * kTs);
  const struct {
    double acceleration_share, viscous, speed_gain, low, high;
  } rows[] = {{1, 0, 0, 97, 103}, {0.5, 0, 0, 47, 53}, {1, 20, 0, 60, 95}, {1, 20, 20, 97, 103}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.acceleration_share + row.viscous + row.speed_gain);
    Config c = Motor(0.0);
    c.motor.viscous_N_s_per_m = row.viscous;
    HostSide host(c);
    TuneSpeedLoop(host, 0.0, 0.0);
    const double kffa = row.acceleration_share * kMass / kKf * per_speed_unit / kTs;  // 1310
    const int shift = static_cast<int>(std::ceil(std::log2(kffa)));
    ASSERT_TRUE(host.drive().WriteRegister("SFTAFFW", shift));
    ASSERT_TRUE(
        host.drive().WriteRegister("KFFA", std::round(kffa * 32767 / std::ldexp(1, shift))));
    WriteGain(host, "KFFS", "SFTSFFW", row.speed_gain / kKf * per_speed_unit);
    const LogRequest log =
        Record({"Speed_Reference", "Load_Position"}, 4000, LogRequest::Rate::kSlowLoop);
    ASSERT_TRUE(host.Run("Speed_Controller_Tuning_Test",
                         Profile({{200, 0.5}, {100, 0}, {200, -0.5}, {100, 0}}, SpeedInputs()),
                         &log));
    const auto record = host.Record();
    size_t top = 0;  // the first sample at the top
    while (top < record.size() && record[top][1] < 100.0) ++top;
    ASSERT_LT(top + 3, record.size());
    const double speed = (record[top + 3][2] - record[top - 3][2]) / 6.0;
    EXPECT_GE(speed, row.low);
    EXPECT_LE(speed, row.high);
  }
}

// Biquads where the placement registers put them: a unity filter changes nothing, a 20 Hz low pass
// in the loop (current reference or speed feedback) adds overshoot, a slot left cleared at the
// current reference lets no current through.
TEST(SpeedLoop, FiltersActWhereTheyArePlaced) {
  const double k = std::tan(3.14159265358979 * 20.0 * kTs), lp = k / (k + 1);
  const struct {
    const char* place;
    std::array<double, 6> coefficients;  // B0 B1 B2 A1 A2 SF
    double overshoot_change_low, overshoot_change_high;
  } rows[] = {
      {"IQREF_BQ_INI", {1 << 30, 0, 0, 0, 0, 2}, -0.005, 0.005},
      {"ASPD_BQ_INI", {1 << 30, 0, 0, 0, 0, 2}, -0.005, 0.005},
      {"IQREF_BQ_INI", {lp * 0x1p31, lp * 0x1p31, 0, (k - 1) / (k + 1) * 0x1p31, 0, 1}, 0.1, 1},
      {"ASPD_BQ_INI", {lp * 0x1p31, lp * 0x1p31, 0, (k - 1) / (k + 1) * 0x1p31, 0, 1}, 0.1, 1},
      {"IQREF_BQ_INI", {0, 0, 0, 0, 0, 0}, -2, -0.99},  // no motion: -100 %
  };
  const char* names[6] = {"BQ1B0", "BQ1B1", "BQ1B2", "BQ1A1", "BQ1A2", "BQ1SF"};
  HostSide plain(Motor(0.0));
  TuneSpeedLoop(plain, 60, 0.7);
  const double base = RunSpeedStep(plain, 100).overshoot;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.place + std::to_string(row.coefficients[0]));
    HostSide host(Motor(0.0));
    TuneSpeedLoop(host, 60, 0.7);
    for (int i = 0; i < 6; ++i)
      ASSERT_TRUE(host.drive().WriteRegister(names[i], std::round(row.coefficients[i])));
    ASSERT_TRUE(host.drive().WriteRegister(row.place, 1));
    const double change = RunSpeedStep(host, 100).overshoot - base;
    EXPECT_GE(change, row.overshoot_change_low);
    EXPECT_LE(change, row.overshoot_change_high);
  }
}

// A register written while the routine runs acts at the next sample: without gains the mover
// stands, with them written it follows the reference; the protection then ends it with flag 0.
TEST(SpeedLoop, LiveGainsAndCurrentProtection) {
  HostSide host(Motor(4.0));
  TuneSpeedLoop(host, 0.0, 0.0);
  const char* label = "Speed_Controller_Tuning_Test";
  ASSERT_TRUE(host.drive().Launch(
      label, Profile({{1, 50}, {60000, 0}, {1, -50}}, SpeedInputs({{"MultiC", 1}})), nullptr));
  EXPECT_EQ(host.User(label, "test_flag"), 1.0);  // valid before "STARTED"
  host.Wait(0.5);
  EXPECT_EQ(host.Variable("Speed_Reference"), 50.0);
  EXPECT_EQ(host.Variable("Load_Speed"), 0.0);
  TuneSpeedLoop(host, 100, 1.0);
  host.Wait(0.2);
  EXPECT_NEAR(host.Variable("Load_Speed"), 50.0, 1.0);
  ASSERT_TRUE(host.drive().AxisOff());
  bool on = true;
  ASSERT_TRUE(host.drive().Launch(
      label, Profile({{1, 50}, {1000, 0}, {1, -50}}, SpeedInputs({{"Imax_Prot_Test", 300}})),
      nullptr));
  host.Wait(1.0);
  ASSERT_TRUE(host.drive().GetAxisOn(on));
  EXPECT_FALSE(on);
  EXPECT_EQ(host.User(label, "test_flag"), 0.0);
}

// Position moves of 2 mm and back, cascade (a P position loop over the speed PI) and PID on the
// current: at the end of each dwell the mover is within a count of the target.
TEST(PositionLoop, MovesEndWithinOneCount) {
  const double g = kMass * kCountsPerAmpere / (kCountsPerMetre * kKf);  // counts/(count/s^2)
  const double w = 50.0;
  const struct {
    const char* label;
    double friction_N;
  } rows[] = {{"Position_Controller_Tuning_Test_with_SpdCtrl", 0.0},
              {"Position_Controller_Tuning_Test_with_SpdCtrl", 4.0},
              {"Position_Controller_Tuning_Test_without_SpdCtrl", 0.0},
              {"Position_Controller_Tuning_Test_without_SpdCtrl", 4.0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.label) + " " + std::to_string(row.friction_N));
    HostSide host(Motor(row.friction_N));
    axis::UserVariables in = kAlign;
    if (std::string(row.label).ends_with("with_SpdCtrl")) {
      TuneSpeedLoop(host, 6 * w, 1.0);
      WriteGain(host, "KPP", "SFTKPP", 2 * w * kTs);  // speed counts per count
      in.insert(in.end(), {{"LimitSpeed_Test", 1000}, {"Imax_Prot_Test", 30000}});
    } else {
      WriteGain(host, "KPP", "SFTKPP", 3 * w * w * g);
      WriteGain(host, "KIP", "SFTKIP", w * w * w * kTs * g);
      WriteGain(host, "KDP", "SFTKDP", 3 * w * g / kTs);
      in.insert(in.end(), {{"IlimPS_Test", 20000}, {"Imax_Prot_Test", 30000}});
    }
    const LogRequest log =
        Record({"Target_Position", "Load_Position"}, 4000, LogRequest::Rate::kSlowLoop);
    ASSERT_TRUE(host.Run(row.label,
                         Profile({{99, 20}, {1, 20}, {800, 0}, {99, -20}, {1, -20}, {800, 0}}, in),
                         &log));
    EXPECT_EQ(host.User(row.label, "test_flag"), 1.0);
    const auto record = host.Record();
    size_t moved = 0;  // the first sample of the ramp (after the alignment)
    while (moved < record.size() && record[moved][1] == 0.0) ++moved;
    ASSERT_LT(moved, record.size());
    const double start = record[moved][1] - 20;
    for (size_t end : {moved + 899, moved + 1799}) {
      ASSERT_LT(end, record.size());
      EXPECT_EQ(record[end][1] - start, end < moved + 1000 ? 2000 : 0);
      EXPECT_NEAR(record[end][2], record[end][1], 1.0) << end - moved;
    }
  }
}

// The mass routine as the host evaluates it: Mt = Kf In1 delta_time Ts / (delta_speed / 500).
TEST(TotalMass, IdentifiesTheMass) {
  const struct {
    double mass_kg, acceleration, friction_N, tolerance, stroke_m;
  } rows[] = {{0.5, 2, 0, 0.01, 0.5}, {0.5, 10, 0, 0.01, 0.5},
              {3, 5, 0, 0.01, 0.5},   {50, 2, 0, 0.01, 0.5},
              {3, 5, 4, 0.02, 0.5},   {3, 5, 0, 0.01, 0.02}};  // it meets the end stop 20 mm on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mass_kg);
    Config c = Motor(row.friction_N, row.mass_kg);
    c.motor.stroke_max_m = row.stroke_m;
    HostSide host(c);
    const double in1 = std::round(row.mass_kg * row.acceleration / kKf * kCountsPerAmpere);
    axis::UserVariables in = kAlign;
    in.insert(in.end(), {{"In1", in1}, {"LimitSpeedMax", 400}, {"Imax_Prot_Test", 30000}});
    const char* label = "Total_Mass_Identification_Test";
    ASSERT_TRUE(host.Run(label, in));
    ASSERT_EQ(host.User(label, "test_flag"), 1.0);
    const double dt = host.User(label, "delta_time"), dv = host.User(label, "delta_speed");
    ASSERT_GT(dt, 0.0);
    const double force = kKf * in1 / kCountsPerAmpere;
    const double mass = force * dt * kTs / (dv / (kTs * kCountsPerMetre));
    // Dry friction takes its share of the force: M Kf I / (Kf I - Fc) (and it leaves the
    // alignment a few degrees off: the 2 %).
    EXPECT_NEAR(mass, row.mass_kg * force / (force - row.friction_N), row.tolerance * row.mass_kg);
  }
}

// The verdicts: backward (encoder reversed), no motion (friction beyond the force), protection.
TEST(TotalMass, Verdicts) {
  const struct {
    bool reversed;
    double friction_N, in1, protection, flag, delta_time;
  } rows[] = {{true, 0, 500, 30000, 1, -1},
              {false, 50, 500, 30000, 1, -2},
              {false, 0, 2000, 1000, 0, kNotDelivered}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.delta_time);
    Config c = Motor(row.friction_N);
    c.sensors.encoder_reversed = row.reversed;
    HostSide host(c);
    const char* label = "Total_Mass_Identification_Test";
    axis::UserVariables in = kAlign;
    in.insert(in.end(),
              {{"In1", row.in1}, {"LimitSpeedMax", 400}, {"Imax_Prot_Test", row.protection}});
    ASSERT_TRUE(host.Run(label, in));
    EXPECT_EQ(host.User(label, "test_flag"), row.flag);
    EXPECT_EQ(host.User(label, "delta_time"), row.delta_time);
  }
}

}  // namespace
}  // namespace sim
