// The encoder and Hall tests on a scripted drive: their routines step by step, the live display
// of the sensors, the verdicts and what reaches the setup on close.
#include <cmath>

#include "commissioning/analogue_reference_test.h"
#include "commissioning/commissioning_test_support.h"
#include "commissioning/encoder_tests.h"
#include "commissioning/hall_tests.h"

namespace {

using namespace axis::testing;

// Hall diagram slice states.
constexpr int kNone = 0, kVisited = 1, kPresent = 2;

class SensorTest : public CommissioningTest {
 protected:
  void SetUp() override {
    CommissioningTest::SetUp();
    FreshDrive({{"MER", 0},
                {"REFTST_V", 1200},
                {"RINCTST_V", -7},
                {"APOS", 0},
                {"HALL", 0},
                {"CAPPOS", 0},
                {"var_i2", 0},
                {"var_lf_long", 0},
                {"THTST", 0},
                {"HALLCASE", 0}});
  }
  // A routine that begins and runs until it is told to end.
  static Routine Running(std::map<std::string, double> outputs = {}) {
    return {.outputs = std::move(outputs), .ends = false};
  }
  static std::vector<int> Slices(const CSensorTestDlg& d) {
    std::vector<int> status;
    for (int i = 0; i < d.HallDiagram().GetSliceNumber(); ++i)
      status.push_back(d.HallDiagram().GetSliceStatus(i));
    return status;
  }
};

// --- encoder connections -------------------------------------------------------------------------

TEST_F(SensorTest, EncoderConnectionsFollowTheHandUntilStop) {
  using Dlg = CTestEncoderConnections;
  // Position counter, Hall value and captured index of each tick; what the display then shows.
  // clang-format off
  const struct { double apos, hall, cappos; bool pulses; const char* halls; std::vector<int> slices;
                 const char* index; } ticks[] = {
      {1, 1, 0, false, "001", {kPresent, kNone, kNone, kNone, kNone, kNone}, "not detected"},
      {-2, 3, 0, false, "011", {kVisited, kPresent, kNone, kNone, kNone, kNone}, "not detected"},
      // Three counts are pulses; a Hall value of 7 marks no state and leaves the digits.
      {3, 7, 0, true, "011", {kVisited, kVisited, kNone, kNone, kNone, kNone}, "not detected"},
      {3, 7, 0, true, "011", {kVisited, kVisited, kNone, kNone, kNone, kNone}, "not detected"},
      {40, 5, -1234, true, "101", {kVisited, kVisited, kNone, kNone, kNone, kPresent}, "-1234"},
  };
  // clang-format on
  Play({Running()});
  Dlg d(*setup_, nullptr);
  platform_.Click(Dlg::kStartStop).Do([&](axis::DialogModel&) {
    EXPECT_EQ(platform_.statuses,
              (std::vector<std::string>{"Launching code for test", "Running test"}));
    EXPECT_EQ(Labels(), std::vector<std::string>{"Encoder_Connection_Test"});
    EXPECT_EQ(d.EncoderDiagram().GetMinLimit(), -30000);  // 30 mm of 1 um counts
    EXPECT_EQ(d.EncoderDiagram().GetMaxLimit(), 30000);
  });
  for (size_t k = 0; k < std::size(ticks); ++k) {
    const auto& t = ticks[k];
    platform_.Do([this, t](axis::DialogModel&) {
      drive_.variables["APOS"] = t.apos;
      drive_.variables["HALL"] = t.hall;
      drive_.variables["CAPPOS"] = t.cappos;
    });
    Tick([&, k, t](CMC_TestDlg&) {
      SCOPED_TRACE(k);
      EXPECT_EQ(d.GetChildText(Dlg::kPositionEdit), axis::FormatNumber(t.apos));
      EXPECT_EQ(d.EncoderDiagram().GetPosition(), static_cast<long>(t.apos));
      EXPECT_EQ(d.GetChildText(Dlg::kHallsEdit), t.halls);
      EXPECT_EQ(Slices(d), t.slices);
      EXPECT_EQ(d.GetChildText(Dlg::kIndexEdit), t.index);
      // The index capture is armed once, on the tick after the pulses were seen.
      EXPECT_EQ(drive_.commands.size(), k >= 3 ? 1u : 0u);
    });
  }
  platform_.Click(Dlg::kStartStop).Do([&](axis::DialogModel&) {
    EXPECT_EQ(drive_.commands, std::vector<std::string>{"!CAP;ENCAPI1;"});
    EXPECT_EQ(d.TestResult(), 1);
    EXPECT_EQ(platform_.statuses.back(), "Test finished");
    EXPECT_EQ(WritesOf({"var_i2"}), std::vector<std::string>{"var_i2"});
    EXPECT_EQ(drive_.variables["var_i2"], 1.0);
  });
  platform_.Click(axis::kIdCancel);
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);

  // A counter that never moved by more than two counts: no pulses, and the routine is not told.
  FreshDrive({{"MER", 0}, {"APOS", 2}, {"HALL", 1}, {"CAPPOS", 0}, {"var_i2", 0}});
  Play({Running()});
  Dlg still(*setup_, nullptr);
  platform_.Click(Dlg::kStartStop).Wait(100).Click(Dlg::kStartStop).Click(axis::kIdCancel);
  still.DoModal();
  EXPECT_EQ(still.TestResult(), 0);
  EXPECT_EQ(still.ErrorText(), Dlg::kFailureText);
  EXPECT_TRUE(drive_.commands.empty());
  EXPECT_EQ(WritesOf({"var_i2"}), std::vector<std::string>{});
}

// --- encoder resolution --------------------------------------------------------------------------

class ResolutionTest : public SensorTest {
 protected:
  // A whole run: positioning (reading back `in1`), then the main routine, which has left
  // `counts` over the pole pitch.
  void Run(double counts, double in1 = 4914) {
    Play({{.outputs = {{"In1", in1}}},
          {.outputs = {{"H123", 3}}, .drive = {{"var_lf_long", counts}}}});
    platform_.Click(CDetectEncoderResolution::kStartStop).Wait(200);
  }
};

TEST_F(ResolutionTest, CountsOverThePolePitchGiveTheResolution) {
  using Dlg = CDetectEncoderResolution;
  // Counts the routine measured; what the run says, the resolution it found (m) and the counting
  // direction (the box was clear during the run).
  // clang-format off
  const struct { double counts, in1; int result; const char* error; double resolution_m;
                 int direction; bool asks; } rows[] = {
      {30000, 4914, 1, "", 1e-6, 0, false},  // what the setup has: nothing to ask
      {7500, -4914, 1, "", 4e-6, 0, true},  // the test current read back negative passes
      {-30000, 4914, 0, Dlg::kFailureText, NAN, 1, false},
      {0, 4914, 0, Dlg::kFailureText, NAN, -1, false},
      {30000, 0, 0, CMC_TestDlg::msc_pszErrInZero, NAN, -1, false},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.counts);
    Dlg d(*setup_, nullptr);
    Run(row.counts, row.in1);
    platform_.Click(axis::kIdCancel);
    if (row.asks) platform_.Answer(axis::kIdNo);
    EXPECT_EQ(d.DoModal(), row.result == 1 ? axis::kIdOk : axis::kIdCancel);
    EXPECT_EQ(d.TestResult(), row.result);
    EXPECT_EQ(d.ErrorText(), row.error);
    if (std::isnan(row.resolution_m)) {
      EXPECT_TRUE(std::isnan(d.DetectedResolution()));
    } else {
      EXPECT_DOUBLE_EQ(d.DetectedResolution(), row.resolution_m);
    }
    EXPECT_EQ(d.DetectedDirection(), row.direction);
    EXPECT_EQ(Get(*setup_, "EncRes"), 1e-6) << "the setup changes only when the user accepts";
  }
  EXPECT_EQ(platform_.MessageLog().size(), 1u) << "only the run that found 4 um asks";
}

TEST_F(ResolutionTest, StepsAndTheCloseQuestion) {
  using Dlg = CDetectEncoderResolution;
  Set(*setup_, "EncRes", 2e-6);
  Dlg d(*setup_, nullptr);
  Run(30000);
  platform_.Do([&](axis::DialogModel&) {
    EXPECT_EQ(platform_.statuses,
              (std::vector<std::string>{
                  "Launching code for the preliminary test", "Running preliminary test",
                  "Launching code for the encoder resolution and direction test",
                  "Waiting for the test to complete", "Processing test results", "Test finished"}));
    ASSERT_EQ(drive_.launches.size(), 2u);
    EXPECT_EQ(drive_.launches[1].label, "Encoder_Resolution_And_Direction_Test");
    EXPECT_EQ(drive_.launches[1].inputs,
              (axis::UserVariables{{"RefTest", 1200}, {"PolesPairs", 1}}));
    EXPECT_EQ(d.GetChildText(Dlg::kResolutionEdit), "1");  // in um, as the setup shows it
  });
  // Cancel keeps the dialog open; Yes takes the value.
  platform_.Click(axis::kIdCancel)
      .Answer(axis::kIdCancel)
      .Click(axis::kIdCancel)
      .Answer(axis::kIdYes);
  EXPECT_EQ(d.DoModal(), axis::kIdOk);
  ASSERT_EQ(platform_.MessageLog().size(), 2u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text,
            "A different value than specified has been detected for the following parameter:"
            "\r\n\r\nEncoder resolution:\tOld = 2 [\xB5m]\tNew = 1 [\xB5m]\r\n\r\nDo you want to "
            "save the new value(s)? (Recommended)");
  EXPECT_EQ(Get(*setup_, "EncRes"), 1e-6);
}

// --- Hall signals --------------------------------------------------------------------------------

TEST_F(SensorTest, HallSignalsJudgeEachInputOnStop) {
  using Dlg = CTestHallSignals;
  // The Hall values met while the user moves the motor, the sectors the routine counted and its
  // "bad"; the verdicts and the failure.
  // clang-format off
  const struct { const char* name; std::vector<double> halls; double sectors, bad;
                 const char* verdicts[3]; const char* error; } rows[] = {
      {"all six", {1, 3, 2, 6, 4, 5}, 6, 0, {"OK", "OK", "OK"}, ""},
      {"1, 3 and 2 only", {1, 3, 2, 3, 1, 3, 2}, 6, 0, {"Bad", "OK", "OK"}, Dlg::kTransitionsText},
      {"too few sectors", {1, 3, 2, 6, 4, 5}, 5, 0, {"OK", "OK", "OK"}, Dlg::kFailureText},
      {"an invalid state", {1, 3, 2, 6, 4, 5}, 6, 1, {"OK", "OK", "OK"}, Dlg::kFailureText},
      {"Hall3 stuck low", {4, 6, 2, 0}, 6, 1, {"OK", "OK", "Bad"}, Dlg::kFailureText},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FreshDrive({{"MER", 0}, {"APOS", 0}, {"HALL", 0}, {"var_i2", 0}});
    Play({Running({{"bad", row.bad}})});
    Dlg d(*setup_, nullptr);
    platform_.Click(Dlg::kStartStop);
    for (double hall : row.halls) {
      platform_.Do([this, hall](axis::DialogModel&) { drive_.variables["HALL"] = hall; });
      platform_.Wait(CMC_TestDlg::kPollPeriodMs);
    }
    platform_.Do([this, &row](axis::DialogModel&) { drive_.variables["var_i2"] = row.sectors; });
    platform_.Click(Dlg::kStartStop).Click(axis::kIdCancel);
    d.DoModal();
    for (int input = 0; input < 3; ++input)
      EXPECT_EQ(d.GetChildText(Dlg::kHall1Edit + input), row.verdicts[input]);
    EXPECT_EQ(d.ErrorText(), row.error);
    EXPECT_EQ(d.TestResult(), *row.error == '\0' ? 1 : 0);
    // Only a run that passed tells the routine to end by writing "var_i2".
    EXPECT_EQ(WritesOf({"var_i2"}).size(), *row.error == '\0' ? 1u : 0u);
  }
}

// --- Hall configuration --------------------------------------------------------------------------

TEST_F(SensorTest, HallConfigurationFromTheRoutineAndTheCloseQuestion) {
  using Dlg = CTestHallConfiguration;
  // "HALLCASE" the routine found; the verdict; the answer to the close question and what the
  // dialog then returns. The setup holds HALLCASE 5 and HALL30 0.
  // clang-format off
  const struct { double configuration, shift; int result; int answer; int modal;
                 double kept_configuration, kept_shift; } rows[] = {
      {2, 300, 1, axis::kIdYes, axis::kIdOk, 2, 300},
      {13, -300, 1, axis::kIdNo, axis::kIdCancel, 5, 0},
      {5, 0, 1, 0, axis::kIdCancel, 5, 0},  // the values the setup has: no question
      {1, 0, 0, 0, axis::kIdCancel, 5, 0},
      {14, 0, 0, 0, axis::kIdCancel, 5, 0},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.configuration);
    setup_ = Bundled();
    setup_->SetComm(&drive_);
    const size_t messages = platform_.MessageLog().size();
    Play({{.outputs = {{"In1", 4914}}},
          {.outputs = {{"H123", 6}, {"delta_el_pos", row.shift}},
           .drive = {{"HALLCASE", row.configuration}, {"APOS", 1500}, {"THTST", -16384}}}});
    Dlg d(*setup_, nullptr);
    platform_.Click(Dlg::kStartStop).Wait(100).Click(axis::kIdCancel);
    if (row.answer != 0) platform_.Answer(row.answer);
    EXPECT_EQ(d.DoModal(), row.modal);
    EXPECT_EQ(d.TestResult(), row.result);
    EXPECT_EQ(d.ErrorText(), row.result == 1 ? "" : Dlg::kFailureText);
    EXPECT_EQ(d.GetChildText(Dlg::kConfigurationEdit), axis::FormatNumber(row.configuration));
    EXPECT_EQ(d.GetChildText(Dlg::kPositionEdit), "1500");
    EXPECT_EQ(Slices(d)[3], kPresent);  // 6 is "110"
    EXPECT_EQ(Get(*setup_, "HALLCASE"), row.kept_configuration);
    EXPECT_EQ(Get(*setup_, "HALL30"), row.kept_shift);
    EXPECT_EQ(platform_.MessageLog().size(), messages + (row.answer != 0 ? 1 : 0));
    if (row.answer == axis::kIdYes) {
      EXPECT_EQ(platform_.MessageLog().back().request.text,
                "A different value than specified has been detected for the following "
                "parameter(s):\r\n\r\nHall configuration:\tOld = 5\tNew = 2\r\nHall sensors "
                "shift:\tOld = 0\tNew = 300\r\n\r\nDo you want to save the new value(s)? "
                "(Recommended)");
    }
  }
}

// --- analogue reference
// ---------------------------------------------------------------------------

TEST_F(SensorTest, AnalogueReferenceShowsTheInputAndTheCommandUntilStop) {
  using Dlg = CTestAnalogueRef;
  // The input's span, the control mode and its command limits (display units), the raw reading;
  // the voltage and command shown and the point the command bar grows from.
  // clang-format off
  const struct { double span, mode, min, max, reading; const char* volts; const char* command;
                 const char* label; double command_from; } rows[] = {
      {20, 1, -3000, 3000, 32736, "0.00", "0.00", "Speed command", 0},
      {20, 1, -3000, 3000, 65472, "10.00", "3000.00", "Speed command", 0},
      {5, 2, 1, 5, 0, "0.00", "1.00", "Current command", 1},
      {3.3, 2, 1, 5, 32736, "1.65", "3.00", "Current command", 1},  // half the scale
      {5, 7, 1, 5, 65472, "5.00", "", "", 0},  // a mode without a command: none shown
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.reading);
    setup_ = Bundled({{"AnalogueInputsRange", row.span},
                      {"ControlMode", row.mode},
                      {"SPD_min", row.min},
                      {"SPD_max", row.max},
                      {"CRT_min", row.min},
                      {"CRT_max", row.max}});
    setup_->SetComm(&drive_);
    for (const char* name : {"SPD_min", "SPD_max"}) setup_->FindParameter(name)->ChangeUnit("rpm");
    FreshDrive({{"MER", 0}, {"AD5", row.reading}});
    Play({Running()});
    Dlg d(*setup_, nullptr);
    platform_.Click(Dlg::kStartStop).Wait(50);
    Tick([&](CMC_TestDlg&) {
      EXPECT_EQ(d.GetChildText(Dlg::kVoltageEdit), row.volts);
      EXPECT_EQ(d.GetChildText(Dlg::kCommandEdit), row.command);
      EXPECT_EQ(d.GetChildText(Dlg::kCommandLabel), row.label);
      EXPECT_EQ(d.CommandBar().GetDrawingReference(), row.command_from);
      EXPECT_TRUE(d.TestRunning());
    });
    // Stop ends the run at the next tick, as a success.
    platform_.Click(Dlg::kStartStop).Do([&](axis::DialogModel&) { EXPECT_TRUE(d.TestRunning()); });
    Tick([&](CMC_TestDlg& t) { EXPECT_EQ(t.TestResult(), 1); });
    platform_.Click(axis::kIdCancel);
    d.DoModal();
  }
}

}  // namespace
