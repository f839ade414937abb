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

// A tuner, its gains then the names it needs (the registers of its loop period and the inputs of
// its scales among them), overrides, rows of overrides and gains (Kp, Ki, Kd).
const double kM = 0.032 * 2.5 / 1000 / 40, kG = 0.032 * 2.5 / 1e6 / 40, kSq = std::sqrt(2.0);
using Rows = std::vector<std::pair<Set, std::vector<double>>>;
struct Case {
  int (*tune)(CMC_Setup&);
  std::vector<std::string> names;
  Set set;
  Rows rows;
};
const Case kCases[] = {
    {TuneCurrentController,
     {"Kp_C_scl", "Ki_C_scl", "MotorPhaseConnectionType", "L", "R", "PB_C", "Dump_C", "CLPER",
      "PWMPER", "DSP_freq", "Vdc", "CommutationMethod", "ImaxPS"},
     {},
     {{{}, {19, 1}},                       // tau 10 ms: 2 x 1000 x 0.01 - 1, 1000^2 x 0.01 x 1e-4
      {{{"R", 3}, {"L", 0.03}}, {57, 3}},  // connection type 1: R / 3 in the model
      {{{"R", 3}, {"L", 0.03}, {"MotorPhaseConnectionType", 1}}, {19, 1}},
      {{{"CommutationMethod", 1}}, {19 * 2 / 1.1, 2 / 1.1}},  // VoltageScale 65534 / (1.1 x Vdc)
      {{{"L", 4e-4}}, {0.5 * 4 / kSq - 1, 1000 * 1e-4}},      // tau = 4 Ts_C: the short form
      {{{"L", std::nextafter(4e-4, 1.0)}}, {2 * 1000 * 4e-4 - 1, 1e6 * 4e-4 * 1e-4}},
      {{{"L", 1e-4}, {"Dump_C", 7}}, {0.5 / kSq - 1, 0.1}}}},  // the short form ignores zeta
    {TuneSpeedController,
     {"Kp_S_scl", "Ki_S_scl", "Mt", "PolePitch", "Kf", "PB_S", "Dump_S", "PosSpd_in_FastLoop",
      "SLPER", "PWMPER", "DSP_freq", "ImaxPS", "EncRes"},
     {},
     {{{}, {2 * 200 * 0.8 * kM, 200 * 200 * 1e-3 * kM}},
      {{{"PosSpd_in_FastLoop", -3}}, {2 * 200 * 0.8 * kM, 200 * 200 * 1e-4 * kM}}}},
    {TunePositionController,
     {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl", "PositionControlType", "PB_P", "Dump_P", "SLPER",
      "PWMPER", "DSP_freq", "EncRes"},
     {},
     {{{}, {2 * 50 * 1e-3, 50 * 50 * 1e-3 * 1e-3, 0}},  // cascade: Kd 0
      {{{"PosSpd_in_FastLoop", 1}, {"Dump_P", 0.7}}, {2 * 50 * 0.7e-3, 50 * 50 * 1e-4 * 1e-3, 0}}}},
    {TunePositionController,
     {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl", "Mt", "PolePitch", "Kf", "SLPER", "ImaxPS", "EncRes"},
     {{"PositionControlType", 1.5}},  // PID: poles (s + w)(s^2 + 2 zeta w s + w^2)
     {{{}, {3 * 50 * 50 * kG, 50 * 50 * 50 * 1e-3 * kG, 3 * 50 * kG / 1e-3}},
      {{{"Dump_P", 0.5}}, {2 * 50 * 50 * kG, 50 * 50 * 50 * 1e-3 * kG, 2 * 50 * kG / 1e-3}}}},
};

TEST(Tuning, GainsFollowTheModelAndAMissingNameWritesNothing) {
  for (const auto& [tune, n, common, rows] : kCases) {
    const size_t k = rows[0].second.size();  // the gains it writes
    for (const auto& [set, gains] : rows) {
      TestSetup s = Base(common, set);
      EXPECT_EQ(tune(*s), 1);
      for (size_t i = 0; i < k; ++i) {
        EXPECT_NEAR(s.Get(n[i].c_str()), gains[i], 1e-9 * std::fabs(gains[i])) << n[i];
      }
    }
    for (const std::string& missing : n) {
      TestSetup s = Base(common, {}, missing);
      const bool optional = missing == "PosSpd_in_FastLoop";  // looked up without a report
      EXPECT_TRUE(tune(*s) == 0 && g_bShowErrors == 1) << missing;
      for (size_t i = 0; i < k; ++i) EXPECT_TRUE(n[i] == missing || s.Get(n[i].c_str()) == -7);
      EXPECT_TRUE(optional ? said.empty() : said.size() == 1 && said[0].find(missing) + 1);
    }
  }
  TestSetup s = Base({}, {}, "PosSpd_in_FastLoop");  // position tuning runs at Ts_S: 50^2 Ts_S^2
  EXPECT_EQ(TunePositionController(*s), 1);
  EXPECT_TRUE(std::fabs(s.Get("Ki_P_scl") - 2.5e-3) < 1e-15 && said.empty() && g_bShowErrors == 1);
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
