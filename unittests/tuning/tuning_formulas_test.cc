// Controller tuning by pole placement: gains from the loop models, missing names and bad models.
#include "tuning/tuning_formulas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using namespace kestrel;
using Set = std::vector<std::pair<std::string, double>>;

// Ts_C 100 us, Ts_S 1 ms; VoltageScale 32767 / Vdc and CurrentScale 65520 / (2 x ImaxPS) both 1;
// MotorSpeedScale / MotorPositionScale = Ts_S. The gains hold -7 until written.
// clang-format off
const Set kBase = {
    {"CLPER", 1}, {"SLPER", 10}, {"PWMPER", 1000}, {"DSP_freq", 20e6}, {"CommutationMethod", 0},
    {"Vdc", 32767}, {"ImaxPS", 32760}, {"EncRes", 1e-6}, {"R", 1}, {"L", 0.01}, {"PB_C", 1000},
    {"MotorPhaseConnectionType", 0}, {"Dump_C", 1}, {"PolePitch", 0.032}, {"Mt", 2.5}, {"Kf", 40},
    {"PosSpd_in_FastLoop", 0}, {"PB_S", 200}, {"Dump_S", 0.8}, {"PositionControlType", 1},
    {"PB_P", 50}, {"Dump_P", 1}, {"Kp_C_scl", -7}, {"Ki_C_scl", -7}, {"Kp_S_scl", -7},
    {"Ki_S_scl", -7}, {"Kp_P_scl", -7}, {"Ki_P_scl", -7}, {"Kd_P_scl", -7}};
// clang-format on
std::vector<std::string> said;  // the host's reports since the last Base()
TestSetup Base(const Set& a, const Set& b = {}, const std::string& skip = "") {
  said.clear(), axis::SetErrorReporter([](const std::string& m) { said.push_back(m); });
  TestSetup s;
  for (const auto& [n, v] : kBase)
    if (n != skip) s.Physical({{n.c_str(), v}});
  for (const Set* set : {&a, &b})
    for (const auto& [n, v] : *set) s.Set(n.c_str(), v);
  return s;
}

// The scales of kBase, worked by hand: Ts_C = 2 x 1000 / 20 MHz = 100 us, Ts_S = 10 Ts_C; 1 voltage
// count per volt (32767 / 32767 V) and 1 current count per ampere (65520 / (2 x 32760 A)); 1e6
// position counts per metre (1 / 1 um); speed counts per slow-loop period per m/s = 1e6 x Ts_S.
constexpr double kTsC = 1e-4, kTsS = 1e-3, kCountsPerMetre = 1e6, kCountsPerAmpere = 1;

// The closed loop the written gains make with the loop's model, as its characteristic polynomial
// s^n + c[0] s^(n-1) + ... + c[n-1]. A gain is in output counts per input count per sample: Ki
// integrates (Ki / Ts per second), Kd differentiates (Kd x Ts seconds).
enum class Model { kWinding, kMass, kCascade, kPid };
struct Loop {
  Model model;
  double ts_s;
  double volts_scale = 1.0;  // voltage counts per volt
};
std::vector<double> ClosedLoop(TestSetup& s, const Loop& loop, const char* kp, const char* ki,
                               const char* kd = nullptr) {
  const double p = s.Get(kp), i = s.Get(ki) / loop.ts_s, d = kd ? s.Get(kd) * loop.ts_s : 0.0;
  // Speeds are counted per slow-loop period, wherever the speed loop runs.
  const double speed_scale = kCountsPerMetre * kTsS;
  const double mass_kg = s.Get("Mt");
  switch (loop.model) {
    case Model::kWinding: {  // L' di/dt + R' i = v: a delta winding as the star of a third
      const double third = s.Get("MotorPhaseConnectionType") == 1 ? 3.0 : 1.0;
      const double r = s.Get("R") / third, l = s.Get("L") / third;
      const double volts_per_count = kCountsPerAmpere / loop.volts_scale;
      return {(r + p * volts_per_count) / l, i * volts_per_count / l};
    }
    case Model::kMass: {  // m dv/dt = Kf i
      const double a = s.Get("Kf") * speed_scale / kCountsPerAmpere / mass_kg;
      return {a * p, a * i};
    }
    case Model::kCascade: {  // dx/dt = v, the speed loop following at once
      const double a = kCountsPerMetre / speed_scale;
      return {a * p, a * i};
    }
    case Model::kPid: {  // m d2x/dt2 = Kf i
      const double a = s.Get("Kf") * kCountsPerMetre / kCountsPerAmpere / mass_kg;
      return {a * d, a * p, a * i};
    }
  }
  return {};
}
// Poles at the pass band w with damping zeta: s^2 + 2 zeta w s + w^2, and (s + w) times it for the
// PID loop.
std::vector<double> Placed(double w, double zeta, bool third_order) {
  if (!third_order) return {2 * zeta * w, w * w};
  return {(2 * zeta + 1) * w, (2 * zeta + 1) * w * w, w * w * w};
}

TEST(Tuning, GainsPlaceTheClosedLoopPolesAtThePassBand) {
  const double vs_sine = 65534 / (1.1 * 32767);  // voltage counts per volt, sinusoidal
  // clang-format off
  const struct { const char* name; Set set; Loop loop; const char* pass_band; const char* damping; }
      rows[] = {
      {"current", {}, {Model::kWinding, kTsC}, "PB_C", "Dump_C"},
      {"current, 3 Ohm", {{"R", 3}, {"L", 0.03}}, {Model::kWinding, kTsC}, "PB_C", "Dump_C"},
      {"current, delta", {{"R", 3}, {"L", 0.03}, {"MotorPhaseConnectionType", 1}},
       {Model::kWinding, kTsC}, "PB_C", "Dump_C"},
      {"current, sinusoidal", {{"CommutationMethod", 1}, {"Dump_C", 0.6}},
       {Model::kWinding, kTsC, vs_sine}, "PB_C", "Dump_C"},
      {"current, tau a hair above 4 Ts_C", {{"L", std::nextafter(4e-4, 1.0)}},
       {Model::kWinding, kTsC}, "PB_C", "Dump_C"},
      {"speed", {}, {Model::kMass, kTsS}, "PB_S", "Dump_S"},
      {"speed in the fast loop", {{"PosSpd_in_FastLoop", -3}}, {Model::kMass, kTsC}, "PB_S", "Dump_S"},
      {"position cascade", {}, {Model::kCascade, kTsS}, "PB_P", "Dump_P"},
      {"position cascade, fast loop", {{"PosSpd_in_FastLoop", 1}, {"Dump_P", 0.7}},
       {Model::kCascade, kTsC}, "PB_P", "Dump_P"},
      {"position PID", {{"PositionControlType", 1.5}}, {Model::kPid, kTsS}, "PB_P", "Dump_P"},
      {"position PID, zeta 0.5", {{"PositionControlType", 0}, {"Dump_P", 0.5}},
       {Model::kPid, kTsS}, "PB_P", "Dump_P"}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s = Base(row.set);
    std::vector<double> closed;
    switch (row.loop.model) {
      case Model::kWinding:
        ASSERT_EQ(TuneCurrentController(*s), 1);
        closed = ClosedLoop(s, row.loop, "Kp_C_scl", "Ki_C_scl");
        break;
      case Model::kMass:
        ASSERT_EQ(TuneSpeedController(*s), 1);
        closed = ClosedLoop(s, row.loop, "Kp_S_scl", "Ki_S_scl");
        break;
      case Model::kCascade:
      case Model::kPid:
        ASSERT_EQ(TunePositionController(*s), 1);
        closed = ClosedLoop(s, row.loop, "Kp_P_scl", "Ki_P_scl", "Kd_P_scl");
        if (row.loop.model == Model::kCascade) {
          EXPECT_EQ(s.Get("Kd_P_scl"), 0.0);
        }
        break;
    }
    const std::vector<double> placed =
        Placed(s.Get(row.pass_band), s.Get(row.damping), row.loop.model == Model::kPid);
    ASSERT_EQ(closed.size(), placed.size());
    for (size_t k = 0; k < placed.size(); ++k)
      EXPECT_NEAR(closed[k], placed[k], 1e-9 * placed[k]) << k;
  }
}

// A time constant short against the sampling period: Kp from tau alone, w as the integral corner.
// Worked values: (tau / 2 / sqrt 2 / Ts_C - 1) and w Ts_C with k = R' VS / CS = 1.
TEST(Tuning, ShortTimeConstantsAndTheWorkedExample) {
  const struct {
    Set set;
    double kp, ki;
  } rows[] = {{{}, 19, 1},  // tau 10 ms, Ts_C 100 us, w 1000, zeta 1
              {{{"R", 3}, {"L", 0.03}, {"MotorPhaseConnectionType", 1}}, 19, 1},  // R' = 1
              {{{"L", 4e-4}}, 0.41421356237309515, 0.1},                          // tau = 4 Ts_C
              {{{"L", 1e-4}, {"Dump_C", 7}}, -0.64644660940672627, 0.1}};  // zeta plays no part
  for (const auto& row : rows) {
    TestSetup s = Base(row.set);
    ASSERT_EQ(TuneCurrentController(*s), 1);
    EXPECT_NEAR(s.Get("Kp_C_scl"), row.kp, 1e-12);
    EXPECT_NEAR(s.Get("Ki_C_scl"), row.ki, 1e-12);
  }
}

// The names each tuner needs (its gains first, the registers of its loop period and the inputs of
// its scales among them): without one, nothing is written and the name is reported.
TEST(Tuning, AMissingNameWritesNothing) {
  const struct {
    int (*tune)(CMC_Setup&);
    Set common;
    std::vector<std::string> n;
    size_t gains;
  } cases[] = {{TuneCurrentController,
                {},
                {"Kp_C_scl", "Ki_C_scl", "MotorPhaseConnectionType", "L", "R", "PB_C", "Dump_C",
                 "CLPER", "PWMPER", "DSP_freq", "Vdc", "CommutationMethod", "ImaxPS"},
                2},
               {TuneSpeedController,
                {},
                {"Kp_S_scl", "Ki_S_scl", "Mt", "Kf", "PB_S", "Dump_S", "PosSpd_in_FastLoop",
                 "SLPER", "PWMPER", "DSP_freq", "ImaxPS", "EncRes"},
                2},
               {TunePositionController,
                {},
                {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl", "PositionControlType", "PB_P", "Dump_P",
                 "SLPER", "PWMPER", "DSP_freq", "EncRes"},
                3},
               {TunePositionController,
                {{"PositionControlType", 1.5}},
                {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl", "Mt", "Kf", "SLPER", "ImaxPS", "EncRes"},
                3}};
  for (const auto& [tune, common, n, k] : cases) {
    for (const std::string& missing : n) {
      TestSetup s = Base(common, {}, missing);
      const bool optional = missing == "PosSpd_in_FastLoop";  // looked up without a report
      EXPECT_EQ(tune(*s), 0) << missing;
      EXPECT_EQ(g_bShowErrors, 1) << missing;
      for (size_t i = 0; i < k; ++i) {
        if (n[i] != missing) {
          EXPECT_EQ(s.Get(n[i].c_str()), -7) << missing;
        }
      }
      if (optional) {
        EXPECT_TRUE(said.empty()) << missing;
      } else {
        EXPECT_EQ(said, std::vector<std::string>{"Parameter \"" + missing + "\" not found"});
      }
    }
  }
}

TEST(Tuning, PositionWithoutTheLoopSwitchAndPoisonedInputs) {
  TestSetup s = Base({}, {}, "PosSpd_in_FastLoop");  // position tuning runs at Ts_S: 50^2 Ts_S^2
  EXPECT_EQ(TunePositionController(*s), 1);
  EXPECT_NEAR(s.Get("Ki_P_scl"), 2.5e-3, 1e-15);
  EXPECT_TRUE(said.empty());
  EXPECT_EQ(g_bShowErrors, 1);
  for (double poison : {0.0, -1.0, std::nan(""), HUGE_VAL, 1e308}) {  // gains stay finite
    TestSetup p = Base({});
    for (const auto& [n, v] : kBase)
      if (v != -7) p.Set(n.c_str(), poison);
    for (auto tune : {TuneCurrentController, TuneSpeedController, TunePositionController}) tune(*p);
    for (const auto& [n, v] : kBase) EXPECT_TRUE(v != -7 || std::isfinite(p.Get(n.c_str()))) << n;
  }
  axis::SetErrorReporter(nullptr);
}

}  // namespace
