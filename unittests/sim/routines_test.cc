// The routines as a host drives them through CMC_Comm on a virtual clock: the handshake, what each
// leaves behind, the fault register, the misbehaviour to order, and repeatability.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "host/number_text.h"
#include "sim/routine_engine.h"
#include "sim/winding_probe.h"
#include "unittests/sim/host_side.h"

namespace sim {
namespace {

using axis::LogRequest;
using testing::HostSide;
using testing::Record;

constexpr double kCountsPerAmpere = 65520.0 / 20.0;

Config With(std::initializer_list<std::pair<const char*, const char*>> keys) {
  Config c = DefaultConfig();
  for (auto [key, value] : keys) EXPECT_EQ(ApplySimulationKey(c, key, value), "") << key;
  return c;
}

// Launch sets "STARTED" to 0 and the outputs to 1.2345e100; after its start-up the routine sets
// "STARTED" with the power stage on, and delivers before it switches off.
TEST(Handshake, StartedThenAxisOnThenOutputsThenAxisOff) {
  const struct {
    const char* label;
    axis::UserVariables inputs;
    const char* output;  // a user variable it delivers, or null
  } rows[] = {
      {"Initial_Positioning_Test", {{"In1", 4914}}, "In1"},
      {"Motor_Phase_Connection_Test", {{"RefTest", 2000}, {"RIncTest", 1 << 20}}, nullptr},
      {"Ident_R_or_Rs", {{"In1", 4914}}, nullptr},
      {"Ident_L_or_Tau_el", {{"In1", 4914}}, nullptr},
      {"Current_Controller_Tuning_Test", {{"In1", 3000}, {"Imax_Prot_Test", 30000}}, "test_flag"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    HostSide host(DefaultConfig());
    ASSERT_TRUE(host.drive().Launch(row.label, row.inputs, nullptr));
    EXPECT_EQ(host.User(row.label, "STARTED"), 0.0);
    if (row.output != nullptr) {
      EXPECT_EQ(host.User(row.label, row.output), kNotDelivered);
    }
    host.Wait(0.004);  // within the start-up delay
    EXPECT_EQ(host.User(row.label, "STARTED"), 0.0);
    host.Wait(0.002);
    bool on = false;
    ASSERT_TRUE(host.drive().GetAxisOn(on));
    EXPECT_EQ(host.User(row.label, "STARTED"), 1.0);
    EXPECT_TRUE(on);
    // Poll as a host does until the axis is off: the outputs are there by then.
    for (int k = 0; k < 500 && on; ++k) {
      host.Wait(0.02);
      ASSERT_TRUE(host.drive().GetAxisOn(on));
    }
    EXPECT_FALSE(on);
    if (row.output != nullptr) {
      EXPECT_NE(host.User(row.label, row.output), kNotDelivered);
    }
  }
}

// The phase test as the host judges it: IA and IB in amperes (two decimals), passed only when
// IB != 0, 1.5 < |IA / IB| < 2.5, 0.6 Itest < IA < 1.4 Itest, IA > 0, IB < 0.
bool HostPassesPhaseTest(const Config& config, double test_A) {
  HostSide host(config);
  const int test = static_cast<int>(test_A * kCountsPerAmpere);
  EXPECT_TRUE(host.Run("Initial_Positioning_Test", {{"In1", test}}));
  const double ref = host.Variable("REFTST_V"), inc = host.Variable("RINCTST_V");
  EXPECT_TRUE(host.Run("Motor_Phase_Connection_Test", {{"RefTest", ref}, {"RIncTest", inc}}));
  const double ia = std::round(host.Variable("var_i1") / kCountsPerAmpere * 100) / 100;
  const double ib = std::round(host.Variable("var_i2") / kCountsPerAmpere * 100) / 100;
  const double itest = test / kCountsPerAmpere;
  return ib != 0.0 && std::fabs(ia / ib) > 1.5 && std::fabs(ia / ib) < 2.5 && ia > 0.6 * itest &&
         ia < 1.4 * itest && ia > 0 && ib < 0;
}

TEST(PhaseConnections, HealthyMotorsPassAndAnOpenLeadFails) {
  for (const char* connection : {"star", "delta"}) {
    for (const char* open : {"none", "A", "B", "C"}) {
      for (const char* dead_time : {"0", "2e-6"}) {
        const Config c = With({{"connection", connection},
                               {"openPhase", open},
                               {"deadTime", dead_time},
                               {"currentNoise", "0.0075"}});
        EXPECT_EQ(HostPassesPhaseTest(c, 1.5), std::string(open) == "none")
            << connection << ", open " << open << ", dead time " << dead_time;
      }
    }
  }
}

// A healthy star motor answers the voltage along phase A with IA = RefTest / R' and IB = -IA/2,
// R' the phase resistance (no dead time here; the mover stands aligned with phase A, so it feels
// no force and makes no back-EMF).
TEST(PhaseConnections, CurrentsFollowTheVoltageAlongPhaseA) {
  HostSide host(With({{"deadTime", "0"}, {"R", "2"}, {"position", "0"}}));
  ASSERT_TRUE(host.Run("Motor_Phase_Connection_Test", {{"RefTest", 2482}, {"RIncTest", 0}}));
  // 2482 counts at 65534 / (1.1 * 48) counts per volt: 1.9997 V, 0.99985 A.
  const double volts = 2482 * 1.1 * 48 / 65534;
  EXPECT_NEAR(host.Variable("var_i1"), volts / 2 * kCountsPerAmpere, 1.0);
  EXPECT_NEAR(host.Variable("var_i2"), -volts / 4 * kCountsPerAmpere, 1.0);
}

// The bus reading: round(Vdc * ADC full scale / VdcMaxMeasurable), the true bus, not the setup's.
TEST(BusVoltage, ReadsTheTrueBusWithinOneCount) {
  for (double vdc : {12.0, 24.0, 48.0, 75.5, 89.9}) {
    HostSide host(With({{"vdc", axis::FormatNumber(vdc).c_str()}}));
    ASSERT_TRUE(host.Run("VDC_Detection_Test", {}));
    EXPECT_NEAR(host.Variable("var_u2"), vdc * 65520 / 90, 1.0) << vdc;
  }
}

// The current tuning routine's steps: 0 for the first tenth of the record, In1 until 55 %, then 0;
// test_flag 1. A protection level below the step ends it with test_flag 0 and no fault bit, so
// that the host can say the protection tripped.
TEST(CurrentSteps, FollowTheRecordAndReportTheProtection) {
  HostSide host(DefaultConfig());
  const LogRequest log = Record({"Current_Reference", "Motor_Current", "Voltage_Reference"}, 100,
                                LogRequest::Rate::kSlowLoop);
  ASSERT_TRUE(host.Run(
      "Current_Controller_Tuning_Test",
      {{"RefTest", 100}, {"RIncTest", 10}, {"In1", 2000}, {"Imax_Prot_Test", 8000}}, &log));
  EXPECT_EQ(host.User("Current_Controller_Tuning_Test", "test_flag"), 1.0);
  const auto points = host.Record();
  ASSERT_EQ(points.size(), 100u);
  int at_step = 0;
  for (const auto& p : points) at_step += p[1] == 2000.0;
  EXPECT_NEAR(at_step, 45, 1);
  EXPECT_EQ(points.front()[1], 0.0);
  EXPECT_EQ(points.back()[1], 0.0);
  EXPECT_NEAR(points[50][2], 2000, 40);                     // the current has followed
  EXPECT_NEAR(points[1][0] - points[0][0], 500e-6, 1e-12);  // slow-loop points

  ASSERT_TRUE(
      host.Run("Current_Controller_Tuning_Test", {{"In1", 2000}, {"Imax_Prot_Test", 1000}}, &log));
  EXPECT_EQ(host.User("Current_Controller_Tuning_Test", "test_flag"), 0.0);
  EXPECT_EQ(host.Variable("MER"), 0.0);
  // A protection level that overflowed to a negative 16-bit number trips at once.
  ASSERT_TRUE(host.Run("Current_Controller_Tuning_Test",
                       {{"In1", 2000}, {"Imax_Prot_Test", -32768}}, &log));
  EXPECT_EQ(host.User("Current_Controller_Tuning_Test", "test_flag"), 0.0);
}

// Forced fault bits read in "MER"; ENABLE low or a short circuit keeps the power stage off, so a
// routine that needs it never starts, while the bus measurement (which does not) runs. An
// over-current against the drive's protection level (IMAXPROT) sets the short-circuit bit.
TEST(Faults, ForcedBitsAndTheOverCurrentProtection) {
  const struct {
    const char* faults;
    bool routine_starts;
  } rows[] = {{"0x8000", false}, {"0x0002", false}, {"0x0040", true}, {"0x00A0", true}};
  for (const auto& row : rows) {
    HostSide host(With({{"faults", row.faults}}));
    EXPECT_EQ(host.Variable("MER"), std::stoi(row.faults, nullptr, 16)) << row.faults;
    ASSERT_TRUE(host.drive().Launch("Ident_R_or_Rs", {{"In1", 2000}}, nullptr));
    host.Wait(0.2);
    EXPECT_EQ(host.User("Ident_R_or_Rs", "STARTED"), row.routine_starts ? 1.0 : 0.0) << row.faults;
    ASSERT_TRUE(host.Run("VDC_Detection_Test", {}));
    EXPECT_NEAR(host.Variable("var_u2"), 48 * 65520 / 90.0, 1.0);
    ASSERT_TRUE(host.drive().WriteVariable("MER", 0));  // forced bits stay
    EXPECT_EQ(host.Variable("MER"), std::stoi(row.faults, nullptr, 16));
  }

  HostSide host(DefaultConfig());
  ASSERT_TRUE(host.drive().WriteRegister("IMAXPROT", 3000));  // 0.92 A
  ASSERT_TRUE(host.drive().Launch("Ident_R_or_Rs", {{"In1", 4914}}, nullptr));
  host.Wait(0.5);
  bool on = true;
  ASSERT_TRUE(host.drive().GetAxisOn(on));
  EXPECT_FALSE(on);
  EXPECT_EQ(host.Variable("MER"), 0x0002);
  EXPECT_EQ(host.User("Ident_R_or_Rs", "STARTED"), 1.0);
  // A new launch starts from a clean fault register.
  ASSERT_TRUE(host.drive().Launch("VDC_Detection_Test", {}, nullptr));
  EXPECT_EQ(host.Variable("MER"), 0.0);
}

TEST(Misbehaviour, NeverStartAndLinkFailure) {
  HostSide never(With({{"neverStart", "Ident_L_or_Tau_el"}}));
  ASSERT_TRUE(never.drive().Launch("Ident_L_or_Tau_el", {{"In1", 2000}}, nullptr));
  never.Wait(10.0);
  EXPECT_EQ(never.User("Ident_L_or_Tau_el", "STARTED"), 0.0);
  EXPECT_TRUE(never.Run("VDC_Detection_Test", {}));  // the others do start

  HostSide failing(With({{"linkFailAfter", "0.5"}}));
  double value = 0.0;
  EXPECT_TRUE(failing.drive().ReadVariable("MER", value));
  failing.Wait(0.49);
  EXPECT_TRUE(failing.drive().WriteRegister("KPI", 100));
  failing.Wait(0.02);
  EXPECT_FALSE(failing.drive().ReadVariable("MER", value));
  EXPECT_EQ(failing.drive().GetLastErrorText(), "the drive does not answer");
  bool on = false;
  EXPECT_FALSE(failing.drive().GetAxisOn(on));
  EXPECT_FALSE(failing.drive().Launch("VDC_Detection_Test", {}, nullptr));
  EXPECT_EQ(failing.drive().GetLastErrorText(), "the drive does not answer");
}

// Launches the drive refuses, with the reason; a refused launch leaves no routine running.
TEST(Launch, RefusesWithAClearReason) {
  const LogRequest unknown_variable = Record({"IQ", "XYZ"}, 10, LogRequest::Rate::kFastLoop);
  const LogRequest no_points = Record({"IQ"}, 0, LogRequest::Rate::kFastLoop);
  const struct {
    const char* label;
    axis::UserVariables inputs;
    const LogRequest* log;
    const char* message;
  } rows[] = {
      {"Speed_Controller_Tuning_Test",
       {{"IlimPS_Test", 3000}},
       nullptr,
       "routine \"Speed_Controller_Tuning_Test\" needs the user variable \"Imax_Prot_Test\""},
      {"Current_Loop_Test", {}, nullptr, "the drive has no routine \"Current_Loop_Test\""},
      {"Ident_R_or_Rs",
       {{"In1", NAN}},
       nullptr,
       "routine \"Ident_R_or_Rs\": \"In1\" must be a number from 1 to 32767, not nan"},
      {"Ident_R_or_Rs",
       {{"In1", 0}},
       nullptr,
       "routine \"Ident_R_or_Rs\": \"In1\" must be a number from 1 to 32767, not 0"},
      {"Ident_L_or_Tau_el",
       {},
       nullptr,
       "routine \"Ident_L_or_Tau_el\" needs the user variable \"In1\""},
      {"VDC_Detection_Test",
       {{"In1", 5}},
       nullptr,
       "routine \"VDC_Detection_Test\" takes no user variable \"In1\""},
      {"Ident_R_or_Rs", {{"In1", 100}}, &unknown_variable, "no drive variable \"XYZ\" to record"},
      {"Ident_R_or_Rs",
       {{"In1", 100}},
       &no_points,
       "a record takes from 1 to 1000000 points, not 0"},
  };
  for (const auto& row : rows) {
    HostSide host(DefaultConfig());
    EXPECT_FALSE(host.drive().Launch(row.label, row.inputs, row.log));
    EXPECT_EQ(host.drive().GetLastErrorText(), row.message);
    host.Wait(0.1);
    bool on = true;
    ASSERT_TRUE(host.drive().GetAxisOn(on));
    EXPECT_FALSE(on);
  }
  HostSide host(DefaultConfig());
  double value = 0.0;
  EXPECT_FALSE(host.drive().ReadUserVariable("Ident_R_or_Rs", "STARTED", value));
  EXPECT_EQ(host.drive().GetLastErrorText(), "routine \"Ident_R_or_Rs\" was not launched");
  std::vector<axis::LogPoint> points;
  EXPECT_FALSE(host.drive().UploadLog(points));
  EXPECT_EQ(host.drive().GetLastErrorText(), "the drive holds no record");
}

// The probe learns a first-order winding i[k+1] = a i[k] + b u[k-1] + c (c a dead-time offset
// while the current flows) from its own staircase and relay, whatever the time constant: the
// gain b within 3 % and the resistance (1 - a) / b within 10 % where it is measurable.
TEST(WindingProbe, LearnsTheWinding) {
  const struct {
    double a, b, offset;
  } rows[] = {
      {0.9990, 0.004, -5.0}, {0.9753, 0.05, -20.0}, {0.7788, 1.3, -300.0}, {0.9999, 0.0044, 0.0}};
  for (const auto& row : rows) {
    WindingProbe probe(4914, 30146);
    double i = 0.0, u_applied = 0.0;
    while (!probe.done()) {
      const double u = probe.Step(i);
      i = row.a * i + row.b * u_applied + (i > 0.0 ? row.offset : 0.0);
      u_applied = u;
    }
    EXPECT_NEAR(probe.gain() / row.b, 1.0, 0.03) << row.a;
    if (row.a < 0.999) {
      EXPECT_NEAR(probe.resistance() / ((1 - row.a) / row.b), 1.0, 0.1) << row.a;
    }
  }
}

// A test current of zero or less: the positioning reports 0 at once and never switches on.
TEST(Positioning, ReportsATestCurrentOfZeroAndLeavesTheAxisOff) {
  for (double in1 : {0.0, -5.0}) {
    HostSide host(DefaultConfig());
    ASSERT_TRUE(host.Run("Initial_Positioning_Test", {{"In1", in1}}));
    EXPECT_EQ(host.User("Initial_Positioning_Test", "In1"), 0.0);
  }
}

// The positioning aligns the mover with phase A (its electrical angle near 0) from anywhere in
// the pole pitch, including opposite phase A.
TEST(Positioning, AlignsTheMoverFromAnyStart) {
  for (double start_mm : {-14.9, -7.0, 0.5, 7.5, 15.0}) {
    HostSide host(With({{"position", axis::FormatNumber(start_mm / 1000).c_str()}}));
    ASSERT_TRUE(host.Run("Initial_Positioning_Test", {{"In1", 4914}}));
    double turns = host.drive().core().mechanics().position_m / 0.03;
    turns -= std::round(turns);
    // Dry friction (4 N) against 45 N of pull stops it within asin(4 / 45) = 5.1 degrees.
    EXPECT_LT(std::fabs(turns) * 360, 5.2) << start_mm;
    EXPECT_NE(host.Variable("REFTST_V"), 0.0);
  }
}

// The drive follows the clock in whole fast-loop periods, whenever it is asked: a host polling
// every millisecond gets the very record that one polling every 50 ms gets, and the drive's time
// never runs ahead of the clock.
TEST(Clock, TheRecordDoesNotDependOnHowOftenTheHostAsks) {
  const auto record = [](double poll_s) {
    HostSide host(With({{"currentNoise", "0.01"}}));
    const LogRequest log =
        Record({"Motor_Current", "Voltage_Reference"}, 300, LogRequest::Rate::kFastLoop);
    EXPECT_TRUE(host.drive().Launch("Current_Controller_Tuning_Test",
                                    {{"In1", 3000}, {"Imax_Prot_Test", 30000}}, &log));
    for (double t = 0.0; t < 0.2; t += poll_s) {
      host.Wait(poll_s);
      bool on = false;
      EXPECT_TRUE(host.drive().GetAxisOn(on));
      const double clock_s = host.clock().NowNs() * 1e-9;
      EXPECT_LE(host.drive().time_s(), clock_s + 1e-12);
      EXPECT_GT(host.drive().time_s(), clock_s - 50e-6);
    }
    return host.Record();
  };
  EXPECT_EQ(record(0.001), record(0.05));
}

// The drive's command line: assignments to registers and variables, clearing the latched
// faults, switching off; nothing is done unless every statement is understood.
TEST(CommandLine, AssignsClearsAndRefusesWhatItDoesNotKnow) {
  HostSide host(DefaultConfig());
  EXPECT_TRUE(host.drive().ExecuteString("KPI=1234; var_i1 = -5;!CAP;ENCAPI1;"));
  double value = 0.0;
  ASSERT_TRUE(host.drive().ReadRegister("KPI", value));
  EXPECT_EQ(value, 1234.0);
  EXPECT_EQ(host.Variable("var_i1"), -5.0);
  EXPECT_FALSE(host.drive().ExecuteString("KPI=1; JUMP 5"));
  EXPECT_EQ(host.drive().GetLastErrorText(), "unknown command \"JUMP 5\"");
  ASSERT_TRUE(host.drive().ReadRegister("KPI", value));
  EXPECT_EQ(value, 1234.0);
  EXPECT_FALSE(host.drive().ExecuteString("NOSUCH=1"));
  EXPECT_EQ(host.drive().GetLastErrorText(), "the drive has no register or variable \"NOSUCH\"");
  EXPECT_FALSE(host.drive().ExecuteString("KPI=abc"));

  // A trip latches the short-circuit bit until FAULTR clears it; AXISOFF ends a routine.
  ASSERT_TRUE(host.drive().WriteRegister("IMAXPROT", 3000));
  ASSERT_TRUE(host.drive().Launch("Ident_R_or_Rs", {{"In1", 4914}}, nullptr));
  host.Wait(0.5);
  EXPECT_EQ(host.Variable("MER"), 0x0002);
  EXPECT_TRUE(host.drive().ExecuteString("FAULTR"));
  EXPECT_EQ(host.Variable("MER"), 0.0);
  ASSERT_TRUE(host.drive().Launch("Ident_L_or_Tau_el", {{"In1", 1000}}, nullptr));
  host.Wait(0.05);
  bool on = false;
  ASSERT_TRUE(host.drive().GetAxisOn(on));
  EXPECT_TRUE(on);
  EXPECT_TRUE(host.drive().ExecuteString("AXISOFF"));
  host.Wait(0.5);
  ASSERT_TRUE(host.drive().GetAxisOn(on));
  EXPECT_FALSE(on);
  EXPECT_EQ(host.Variable("TINCTST"), 0.0);  // never delivered
}

// The same setup, seed and calls give the same record, bit for bit; another seed another one.
TEST(Determinism, SameSeedSameRecord) {
  const auto record = [](const char* seed) {
    HostSide host(With({{"seed", seed}, {"currentNoise", "0.01"}}));
    const LogRequest log = Record({"IQ", "ID"}, 400, LogRequest::Rate::kSlowLoop);
    EXPECT_TRUE(host.Run("Ident_L_or_Tau_el", {{"In1", 4914}}, &log));
    return host.Record();
  };
  const auto a = record("7"), b = record("7"), c = record("8");
  ASSERT_EQ(a.size(), 400u);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

}  // namespace
}  // namespace sim
