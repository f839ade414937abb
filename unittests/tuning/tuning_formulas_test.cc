#include "tuning/tuning_formulas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using axis::testing::Value;
using kestrel::TuneCurrentController;
using kestrel::TunePositionController;
using kestrel::TuneSpeedController;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Timing used by every case: one PWM period is 2 x 1000 / 20 MHz = 100 us; CLPER 1 gives
// Ts_C = 100 us, SLPER 10 gives Ts_S = 1 ms. ADC full scale is the host default, 65520.
constexpr double kTsC = 1e-4;

// Collects the host's lookup reports for the duration of a test.
class Reports {
 public:
  Reports() {
    axis::SetErrorReporter([this](const std::string& m) { messages.push_back(m); });
  }
  ~Reports() {
    axis::SetErrorReporter(nullptr);
    g_bShowErrors = 1;
  }
  std::vector<std::string> messages;
};

// Builds a setup from rows, leaving out the name `omit` (if any).
void AddAll(TestSetup& s, const std::vector<Value>& values, const std::string& omit) {
  for (const Value& v : values) {
    if (omit != v.name) s.Physical({v});
  }
}

const std::vector<Value> kTiming = {
    {"CLPER", 1}, {"SLPER", 10}, {"PWMPER", 1000}, {"DSP_freq", 20e6}, {"CommutationMethod", 0},
};

// ------------------------------------------------------------------------------------------------
// Current loop. Vdc = 32767 and ImaxPS = 32760 make VoltageScale = 1 and CurrentScale =
// 65520 / (2 x 32760) = 1 with trapezoidal commutation, so k = R' and the gains are plain numbers.

struct CurrentRow {
  const char* name;
  double r_ohm, l_h, connection, commutation, omega, zeta;
  double kp, ki;  // expected
};

TEST(CurrentTuning, PlacesPolesOrFallsBackForShortTimeConstants) {
  const double boundary_l = 4.0 * (1.0 * 2.0 * 1000.0 / 20e6);  // tau = 4 Ts_C with R = 1
  const double sqrt2 = std::sqrt(2.0);
  const CurrentRow rows[] = {
      // tau = 10 ms: Kp = 2*1*1000*0.01 - 1 = 19; Ki = 1000^2 * 0.01 * 1e-4 = 1.
      {"worked example, k = 1", 1, 0.01, 0, 0, 1000, 1, 19, 1},
      // Same tau, R = 3: k = 3 for a star connection.
      {"star, R = 3", 3, 0.03, 0, 0, 1000, 1, 57, 3},
      // Delta: the model resistance is R/3 = 1 while tau stays L/R = 10 ms.
      {"delta, R = 3", 3, 0.03, 1, 0, 1000, 1, 19, 1},
      // Connection type 2 is not delta.
      {"connection type 2 uses R", 3, 0.03, 2, 0, 1000, 1, 57, 3},
      // Sinusoidal commutation: VoltageScale = 65534 / (1.1 * 32767) = 2 / 1.1.
      {"sinusoidal voltage scale", 1, 0.01, 0, 1, 1000, 1, 19 * 2 / 1.1, 2 / 1.1},
      // zeta = 0.5, omega = 2000, tau = 5 ms: Kp = 2*0.5*2000*0.005 - 1 = 9; Ki = 4e6*0.005*1e-4
      // = 2.
      {"zeta and omega both used", 2, 0.01, 0, 0, 2000, 0.5, 18, 4},
      // tau exactly 4 Ts_C: short formulas. Kp = (4 Ts * 0.5 / sqrt2 / Ts - 1) = sqrt2 - 1;
      // Ki = omega * Ts_C = 0.1.
      {"tau = 4 Ts_C takes the short formulas", 1, boundary_l, 0, 0, 1000, 1, sqrt2 - 1, 0.1},
      // Just above: long formulas. Kp = 2 * 1000 * 4e-4 - 1 = -0.2; Ki = 1e6 * 4e-4 * 1e-4 = 0.04.
      {"tau just above 4 Ts_C", 1, std::nextafter(boundary_l, 1.0), 0, 0, 1000, 1, -0.2, 0.04},
      // tau = 50 us, k = 2: Kp = (5e-5 * 0.5 / sqrt2 / 1e-4 - 1) * 2; Ki = 500 * 1e-4 * 2.
      {"short time constant", 2, 1e-4, 0, 0, 500, 1, (0.25 / sqrt2 - 1) * 2, 0.1},
      // Short formula ignores zeta.
      {"short formula ignores zeta", 2, 1e-4, 0, 0, 500, 7, (0.25 / sqrt2 - 1) * 2, 0.1},
  };
  for (const CurrentRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    AddAll(s, kTiming, "");
    s.Set("CommutationMethod", row.commutation);
    s.Physical({{"Vdc", 32767},
                {"ImaxPS", 32760},
                {"R", row.r_ohm},
                {"L", row.l_h},
                {"MotorPhaseConnectionType", row.connection},
                {"PB_C", row.omega},
                {"Dump_C", row.zeta},
                {"Kp_C_scl", -99},
                {"Ki_C_scl", -99}});
    EXPECT_EQ(TuneCurrentController(*s), 1);
    EXPECT_NEAR(s.Get("Kp_C_scl"), row.kp, 1e-9 * std::max(1.0, std::fabs(row.kp)));
    EXPECT_NEAR(s.Get("Ki_C_scl"), row.ki, 1e-9 * std::max(1.0, std::fabs(row.ki)));
  }
}

TEST(CurrentTuning, DeltaConnectionDividesEveryGainByThree) {
  // Both formulas (tau = 10 ms and tau = 50 us), realistic scales.
  for (double l_h : {0.01, 5e-5}) {
    SCOPED_TRACE(l_h);
    double gains[2][2];
    for (int connection = 0; connection < 2; ++connection) {
      TestSetup s;
      AddAll(s, kTiming, "");
      s.Physical({{"Vdc", 48},
                  {"ImaxPS", 20},
                  {"R", 1.2},
                  {"L", l_h},
                  {"MotorPhaseConnectionType", double(connection)},
                  {"PB_C", 3000},
                  {"Dump_C", 0.9},
                  {"Kp_C_scl", 0},
                  {"Ki_C_scl", 0}});
      ASSERT_EQ(TuneCurrentController(*s), 1);
      gains[connection][0] = s.Get("Kp_C_scl");
      gains[connection][1] = s.Get("Ki_C_scl");
    }
    EXPECT_NEAR(gains[1][0] * 3, gains[0][0], 1e-12 * std::fabs(gains[0][0]));
    EXPECT_NEAR(gains[1][1] * 3, gains[0][1], 1e-12 * std::fabs(gains[0][1]));
    EXPECT_NE(gains[0][0], 0.0);
  }
}

// ------------------------------------------------------------------------------------------------
// Speed and position loops. PolePitch 0.032 m x Mt 2.5 gives m = 0.08; ImaxPS = 10 gives
// CurrentScale = 65520 / 20 = 3276; EncRes = 1 um gives MotorPositionScale = 1e6 and
// MotorSpeedScale = Ts_S / EncRes = 1000.

const std::vector<Value> kMechanics = {
    {"Vdc", 48}, {"ImaxPS", 10}, {"EncRes", 1e-6}, {"PolePitch", 0.032}, {"Mt", 2.5}, {"Kf", 40},
};

struct SpeedRow {
  const char* name;
  double fast_loop, omega, zeta;
  double ki, kp;
};

TEST(SpeedTuning, GainsFollowTheMassModelAndTheLoopPeriod) {
  // plant = 0.08 * 3276 / 1000 / 40 = 0.006552.
  const SpeedRow rows[] = {
      // Ki = 200^2 * 1e-3 * plant = 0.26208; Kp = 2 * 200 * 0.8 * plant = 2.09664.
      {"slow loop", 0, 200, 0.8, 0.26208, 2.09664},
      // Fast loop: Ts = Ts_C = 1e-4 in Ki only; MotorSpeedScale keeps Ts_S.
      {"fast loop", 1, 200, 0.8, 0.026208, 2.09664},
      {"any non-zero switch is the fast loop", -3, 200, 0.8, 0.026208, 2.09664},
      // omega = 50, zeta = 2: Ki = 2500 * 1e-3 * plant = 0.01638; Kp = 200 * plant = 1.3104.
      {"other pass band", 0, 50, 2, 0.01638, 1.3104},
  };
  for (const SpeedRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    AddAll(s, kTiming, "");
    AddAll(s, kMechanics, "");
    s.Physical({{"PosSpd_in_FastLoop", row.fast_loop},
                {"PB_S", row.omega},
                {"Dump_S", row.zeta},
                {"Kp_S_scl", 5},
                {"Ki_S_scl", 5}});
    EXPECT_EQ(TuneSpeedController(*s), 1);
    EXPECT_NEAR(s.Get("Ki_S_scl"), row.ki, 1e-12);
    EXPECT_NEAR(s.Get("Kp_S_scl"), row.kp, 1e-12);
  }
}

struct PositionRow {
  const char* name;
  double control_type, zeta;
  bool has_fast_loop;
  double fast_loop;
  double ki, kp, kd;
};

TEST(PositionTuning, CascadeAndPidForms) {
  // omega = 50. Cascade: MotorSpeedScale / MotorPositionScale = Ts_S = 1e-3.
  // PID: g = 0.08 * 3276 / 1e6 / 40 = 6.552e-6.
  const PositionRow rows[] = {
      // Ki = 2500 * 1e-3 * 1e-3; Kp = 2 * 50 * 1 * 1e-3; Kd = 0.
      {"cascade, switch absent", 1, 1, false, 0, 2.5e-3, 0.1, 0},
      {"cascade, slow loop", 1, 1, true, 0, 2.5e-3, 0.1, 0},
      {"cascade, fast loop", 1, 1, true, 1, 2.5e-4, 0.1, 0},
      {"cascade, zeta 0.7", 1, 0.7, true, 0, 2.5e-3, 0.07, 0},
      // Ki = 50^3 * 1e-3 * g = 8.19e-4; Kp = 3 * 2500 * g = 0.04914; Kd = 3 * 50 * g / 1e-3.
      {"PID, switch absent", 0, 1, false, 0, 8.19e-4, 0.04914, 0.9828},
      {"PID, fast loop", 0, 1, true, 1, 8.19e-5, 0.04914, 9.828},
      // zeta = 0.5: 2 zeta + 1 = 2.
      {"PID, type 2, zeta 0.5", 2, 0.5, true, 0, 8.19e-4, 0.03276, 0.6552},
      {"PID, type 1.5 is not cascade", 1.5, 1, false, 0, 8.19e-4, 0.04914, 0.9828},
  };
  for (const PositionRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    AddAll(s, kTiming, "");
    AddAll(s, kMechanics, "");
    if (row.has_fast_loop) s.Physical({{"PosSpd_in_FastLoop", row.fast_loop}});
    s.Physical({{"PositionControlType", row.control_type},
                {"PB_P", 50},
                {"Dump_P", row.zeta},
                {"Kp_P_scl", 7},
                {"Ki_P_scl", 7},
                {"Kd_P_scl", 7}});
    EXPECT_EQ(TunePositionController(*s), 1);
    EXPECT_NEAR(s.Get("Ki_P_scl"), row.ki, 1e-12);
    EXPECT_NEAR(s.Get("Kp_P_scl"), row.kp, 1e-12);
    EXPECT_NEAR(s.Get("Kd_P_scl"), row.kd, 1e-12);
    if (row.control_type == 1) {
      EXPECT_EQ(s.Get("Kd_P_scl"), 0.0);
    }
  }
}

// ------------------------------------------------------------------------------------------------
// Missing parameters: nothing written, 0 returned, the missing name reported.

using Tuner = int (*)(CMC_Setup&);

struct MissingRow {
  const char* name;
  Tuner tune;
  std::vector<Value> inputs;
  std::vector<const char*> outputs;
  const char* omit;
  bool reported;  // the host reports the missing name
};

std::vector<Value> CurrentInputs() {
  return {{"Vdc", 48},
          {"ImaxPS", 20},
          {"R", 1},
          {"L", 0.01},
          {"MotorPhaseConnectionType", 0},
          {"PB_C", 1000},
          {"Dump_C", 1},
          {"Kp_C_scl", 11},
          {"Ki_C_scl", 11}};
}
std::vector<Value> SpeedInputs() {
  std::vector<Value> v = kMechanics;
  v.insert(v.end(), {{"PosSpd_in_FastLoop", 0},
                     {"PB_S", 100},
                     {"Dump_S", 1},
                     {"Kp_S_scl", 11},
                     {"Ki_S_scl", 11}});
  return v;
}
std::vector<Value> PositionInputs(double control_type) {
  std::vector<Value> v = kMechanics;
  v.insert(v.end(), {{"PosSpd_in_FastLoop", 0},
                     {"PositionControlType", control_type},
                     {"PB_P", 100},
                     {"Dump_P", 1},
                     {"Kp_P_scl", 11},
                     {"Ki_P_scl", 11},
                     {"Kd_P_scl", 11}});
  return v;
}

TEST(TuningContract, AMissingParameterWritesNothing) {
  const std::vector<const char*> current_out = {"Kp_C_scl", "Ki_C_scl"};
  const std::vector<const char*> speed_out = {"Kp_S_scl", "Ki_S_scl"};
  const std::vector<const char*> position_out = {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"};
  std::vector<MissingRow> rows;
  for (const char* name :
       {"MotorPhaseConnectionType", "L", "R", "Kp_C_scl", "Ki_C_scl", "PB_C", "Dump_C"}) {
    rows.push_back({"current", TuneCurrentController, CurrentInputs(), current_out, name, true});
  }
  for (const char* name : {"Ki_S_scl", "Kp_S_scl", "Mt", "PolePitch", "Kf", "PB_S", "Dump_S"}) {
    rows.push_back({"speed", TuneSpeedController, SpeedInputs(), speed_out, name, true});
  }
  // The fast-loop switch is probed quietly.
  rows.push_back(
      {"speed", TuneSpeedController, SpeedInputs(), speed_out, "PosSpd_in_FastLoop", false});
  for (const char* name :
       {"Ki_P_scl", "Kp_P_scl", "Kd_P_scl", "PositionControlType", "PB_P", "Dump_P"}) {
    rows.push_back(
        {"position", TunePositionController, PositionInputs(1), position_out, name, true});
  }
  // The PID form needs the mass model too.
  for (const char* name : {"Mt", "PolePitch", "Kf"}) {
    rows.push_back(
        {"position PID", TunePositionController, PositionInputs(0), position_out, name, true});
  }
  for (const MissingRow& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " without " + row.omit);
    Reports reports;
    TestSetup s;
    AddAll(s, kTiming, "");
    AddAll(s, row.inputs, row.omit);
    EXPECT_EQ(row.tune(*s), 0);
    for (const char* out : row.outputs) {
      if (std::string(out) != row.omit) {
        EXPECT_EQ(s.Get(out), 11.0) << out;
      }
    }
    const std::string expected = std::string("Parameter \"") + row.omit + "\" not found";
    bool seen = false;
    for (const std::string& m : reports.messages) seen = seen || m == expected;
    EXPECT_EQ(seen, row.reported);
    EXPECT_EQ(g_bShowErrors, 1);
  }
}

TEST(TuningContract, CascadePositionTuningNeedsNoMassModel) {
  TestSetup s;
  AddAll(s, kTiming, "");
  s.Physical({{"Vdc", 48},
              {"ImaxPS", 10},
              {"EncRes", 1e-6},
              {"PositionControlType", 1},
              {"PB_P", 50},
              {"Dump_P", 1},
              {"Kp_P_scl", 7},
              {"Ki_P_scl", 7},
              {"Kd_P_scl", 7}});
  Reports reports;
  EXPECT_EQ(TunePositionController(*s), 1);
  EXPECT_NEAR(s.Get("Kp_P_scl"), 0.1, 1e-12);
  EXPECT_TRUE(reports.messages.empty());
}

TEST(TuningContract, FastLoopSwitchProbeRestoresTheReportSetting) {
  // Without the switch: position tuning runs with Ts_S, speed tuning refuses; neither reports the
  // switch, and the report setting is back to what it was, whether it was on or off.
  for (int before : {1, 0}) {
    SCOPED_TRACE(before);
    Reports reports;
    TestSetup s;
    AddAll(s, kTiming, "");
    AddAll(s, SpeedInputs(), "PosSpd_in_FastLoop");
    s.Physical({{"PositionControlType", 1},
                {"PB_P", 50},
                {"Dump_P", 1},
                {"Kp_P_scl", 7},
                {"Ki_P_scl", 7},
                {"Kd_P_scl", 7}});
    g_bShowErrors = before;
    EXPECT_EQ(TunePositionController(*s), 1);
    EXPECT_EQ(g_bShowErrors, before);
    EXPECT_NEAR(s.Get("Ki_P_scl"), 2.5e-3, 1e-15);  // 50^2 * Ts_S * Ts_S
    EXPECT_EQ(TuneSpeedController(*s), 0);
    EXPECT_EQ(g_bShowErrors, before);
    EXPECT_EQ(s.Get("Kp_S_scl"), 11.0);
    EXPECT_TRUE(reports.messages.empty());
  }
}

// ------------------------------------------------------------------------------------------------
// Degenerate models: a gain that would not be finite leaves the old gains; finite ones are written.

struct DegenerateRow {
  const char* name;
  const char* parameter;
  double value;
  bool current_written, speed_written, position_written;
};

TEST(TuningContract, DegenerateInputsNeverCrashOrWriteNonFiniteGains) {
  const DegenerateRow rows[] = {
      {"R = 0", "R", 0, false, true, true},
      {"R and L NaN", "R", kNaN, false, true, true},
      {"L = 0 (short formulas, Kp = -k)", "L", 0, true, true, true},
      {"Kf = 0", "Kf", 0, true, false, true},  // cascade position does not use Kf
      {"Kf NaN", "Kf", kNaN, true, false, true},
      // MotorSpeedScale infinite: the speed plant gain is 0, the cascade ratio inf / inf.
      {"EncRes = 0", "EncRes", 0, true, true, false},
      {"DSP_freq = 0", "DSP_freq", 0, false, false, false},
      // CurrentScale infinite: current gains 0, speed gains infinite.
      {"ImaxPS = 0", "ImaxPS", 0, true, false, true},
      {"current pass band infinite", "PB_C", kInf, false, true, true},
      {"current pass band zero", "PB_C", 0, true, true, true},
      {"Mt negative", "Mt", -1, true, true, true},
  };
  for (const DegenerateRow& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup s;
    AddAll(s, kTiming, "");
    AddAll(s, CurrentInputs(), "");
    for (const Value& v : SpeedInputs()) {
      if (s->FindParameter(v.name) == nullptr) s.Physical({v});
    }
    for (const Value& v : PositionInputs(1)) {
      if (s->FindParameter(v.name) == nullptr) s.Physical({v});
    }
    s.Set(row.parameter, row.value);
    if (std::string(row.parameter) == "R" && std::isnan(row.value)) s.Set("L", kNaN);
    const bool speed_written = row.speed_written;
    EXPECT_EQ(TuneCurrentController(*s), row.current_written ? 1 : 0);
    EXPECT_EQ(TuneSpeedController(*s), speed_written ? 1 : 0);
    EXPECT_EQ(TunePositionController(*s), row.position_written ? 1 : 0);
    for (const char* out :
         {"Kp_C_scl", "Ki_C_scl", "Kp_S_scl", "Ki_S_scl", "Kp_P_scl", "Ki_P_scl", "Kd_P_scl"}) {
      EXPECT_TRUE(std::isfinite(s.Get(out))) << out;
    }
    if (!row.current_written) {
      EXPECT_EQ(s.Get("Kp_C_scl"), 11.0);
    }
    if (!speed_written) {
      EXPECT_EQ(s.Get("Kp_S_scl"), 11.0);
    }
    if (!row.position_written) {
      EXPECT_EQ(s.Get("Kp_P_scl"), 11.0);
    }
  }
}

}  // namespace
