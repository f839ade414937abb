// The sensor tests end to end on the simulated drive: the encoder's resolution, the Hall
// configuration, the Hall and encoder connections with the carriage moved by hand, and the
// analogue reference input.
#include <cmath>
#include <fstream>

#include "commissioning/angle_tuning.h"
#include "commissioning/encoder_tests.h"
#include "commissioning/hall_tests.h"
#include "host/number_text.h"
#include "host/text.h"
#include "unittests/acceptance/simulated_run.h"
#include "unittests/commissioning/commissioning_test_support.h"

namespace axis::testing {
namespace {

using SensorsTest = SimulatedRunTest;

std::string Key(const char* key, double value) {
  return std::string(key) + "=" + FormatNumber(value);
}

// The count over a pole pitch is exact, so EncRes is the pole pitch over the whole number of
// counts in it (a resolution that does not divide the pitch: one of the two around it).
TEST_F(SensorsTest, EncoderResolutionIsThePolePitchOverItsCounts) {
  const struct {
    double resolution_m, pitch_m;
    bool reversed;
  } rows[] = {
      {1e-6, 0.03, false}, {5e-8, 0.06, false}, {5e-5, 0.01, false},
      {5e-8, 0.01, false}, {5e-5, 0.06, false}, {1e-6, 0.03, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(FormatNumber(row.resolution_m) + " " + FormatNumber(row.pitch_m));
    setup_ = Bundled({{"PolePitch", row.pitch_m}, {"EncRes", 3e-6}});
    const SimulatedRun run = Run("encoder-resolution",
                                 {Key("encRes", row.resolution_m), Key("polePitch", row.pitch_m),
                                  row.reversed ? "encoderReversed=true" : "encoderReversed=false"});
    if (row.reversed) {
      EXPECT_EQ(run.outcome.failure, CDetectEncoderResolution::kFailureText);
      EXPECT_EQ(Get(*setup_, "EncRes"), 3e-6);
      continue;
    }
    ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    const double counts = std::nearbyint(row.pitch_m / row.resolution_m);
    EXPECT_EQ(FormatNumber(Get(*setup_, "EncRes")), FormatNumber(row.pitch_m / counts));
  }
  // With the firmware counting the other way (COUNTINGDIR 1) the reversed encoder passes; "no"
  // leaves EncRes as it was.
  setup_ = Bundled({{"EncRes", 3e-6}, {"ReverseCounting", 1.0}, {"COUNTINGDIR", 1.0}});
  EXPECT_TRUE(Run("encoder-resolution", {"encoderReversed=true"}).outcome.succeeded);
  EXPECT_EQ(Get(*setup_, "EncRes"), 1e-6);
  setup_ = Bundled({{"EncRes", 3e-6}});
  EXPECT_TRUE(Run("encoder-resolution", {}, {.keep = false}).outcome.succeeded);
  EXPECT_EQ(Get(*setup_, "EncRes"), 3e-6);
}

// Every configuration is found, and the shift within 2 angle counts (the encoder's count is 2.2
// angle counts on the demo motor).
TEST_F(SensorsTest, HallConfigurationAndShift) {
  const double shifts[] = {0.0, 1000.0, -3000.0, 5000.0, -5400.0, 2222.0};
  for (int hall_case = 2; hall_case <= 13; ++hall_case) {
    const double shift = shifts[hall_case % 6];
    SCOPED_TRACE(std::to_string(hall_case) + " " + FormatNumber(shift));
    setup_ = Bundled();
    const SimulatedRun run =
        Run("hall-configuration", {Key("hallCase", hall_case), Key("hallShift", shift)});
    ASSERT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    EXPECT_EQ(Get(*setup_, "HALLCASE"), hall_case);
    EXPECT_NEAR(Get(*setup_, "HALL30"), shift, 2.0);
  }
  setup_ = Bundled();
  EXPECT_EQ(Run("hall-configuration", {"hallStuck=1=1"}).outcome.failure,
            CTestHallConfiguration::kFailureText);
}

TEST_F(SensorsTest, HallSignalsWithTheCarriageMovedByHand) {
  const struct {
    const char* hand;
    const char* stuck;
    std::string failure;
    const char* verdicts;  // Hall1, Hall2, Hall3
  } rows[] = {
      {"0:0,1:0.06", "none", "", "OK OK OK"},
      {"0:0,1:0.06", "2=0", CTestHallSignals::kFailureText, "OK Bad OK"},
      {"0:0,1:0.06", "3=1", CTestHallSignals::kFailureText, "OK OK Bad"},
      // From 48 to 130 electrical degrees and back, twice: the edges at 60 (Hall1) and 120 degrees
      // (Hall2) give six changes, Hall3 never moves.
      {"0:0,0.5:0.0068,1:0,1.5:0.0068,2:0", "none", CTestHallSignals::kTransitionsText,
       "OK OK Bad"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.hand) + " " + row.stuck);
    setup_ = Bundled();
    // (Wiring 3, which the edges above assume.)
    const SimulatedRun run =
        Run("hall-signals",
            {std::string("hand=") + row.hand, std::string("hallStuck=") + row.stuck, "hallCase=3"},
            {.stop_after_s = 2.5});
    EXPECT_EQ(run.outcome.failure, row.failure);
    std::string verdicts;
    for (const char* hall : {"Hall1\t", "Hall2\t", "Hall3\t"}) {
      const size_t at = run.printed.find(hall);
      ASSERT_NE(at, std::string::npos);
      verdicts += (verdicts.empty() ? "" : " ") +
                  run.printed.substr(at + 6, run.printed.find('\t', at + 6) - at - 6);
    }
    EXPECT_EQ(verdicts, row.verdicts);
  }
}

TEST_F(SensorsTest, EncoderConnectionsFollowTheHandAndCaptureTheIndex) {
  // From 4 mm, 60 mm by hand; the index at 21.5 mm is 17500 counts of 1 um from the start.
  const SimulatedRun moved =
      Run("encoder-connections", {"hand=0:0,1:0.06", "indexAt=0.0215"}, {.stop_after_s = 1.5});
  EXPECT_TRUE(moved.outcome.succeeded) << moved.outcome.failure;
  EXPECT_NE(moved.printed.find("Position counter\t60000\t"), std::string::npos) << moved.printed;
  EXPECT_NE(moved.printed.find("Index position\t17500\t"), std::string::npos) << moved.printed;
  // Counting against the motor (firmware direction reversed), the counter runs negative.
  setup_ = Bundled({{"COUNTINGDIR", 1.0}});
  const SimulatedRun reversed =
      Run("encoder-connections", {"hand=0:0,1:0.06", "indexAt=0.0215"}, {.stop_after_s = 1.5});
  EXPECT_NE(reversed.printed.find("Index position\t-17500\t"), std::string::npos)
      << reversed.printed;
  setup_ = Bundled();
  EXPECT_EQ(Run("encoder-connections", {}, {.stop_after_s = 1.0}).outcome.failure,
            CTestEncoderConnections::kFailureText);
}

// The reading is round(share 1023) 64 of 65472; the dialog shows it on the input's range (-10 to
// 10 V) and on the command's range of the control mode.
TEST_F(SensorsTest, AnalogueReferenceInEachControlMode) {
  const struct {
    double mode;
    const char* ad5;
    const char* voltage;
    const char* command;
  } rows[] = {
      {0, "0", "-10.00", "-30.00"}, {0, "1", "10.00", "30.00"},  {1, "0.5", "0.01", "0.00"},
      {1, "1", "10.00", "1.00"},    {2, "0", "-10.00", "-5.00"}, {2, "0.25", "-5.00", "-2.50"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.ad5) + " mode " + FormatNumber(row.mode));
    setup_ = Bundled({{"ControlMode", row.mode}});
    const SimulatedRun run =
        Run("analogue", {std::string("ad5=") + row.ad5}, {.stop_after_s = 0.5});
    EXPECT_TRUE(run.outcome.succeeded) << run.outcome.failure;
    EXPECT_NE(run.printed.find(std::string("Analogue input voltage\t") + row.voltage + "\t"),
              std::string::npos)
        << run.printed;
    EXPECT_NE(run.printed.find(std::string("Command\t") + row.command + "\t"), std::string::npos)
        << run.printed;
  }
}

// The motionless start: the demo's gains hold the mover and settle the current on its axis
// (-16384 in the recorded angle, within 1820); without gains the mover aligns itself by moving;
// a test current that cannot beat the friction moves nothing. From several start positions.
TEST_F(SensorsTest, AngleControllerTuning) {
  const std::string not_settled = "Test failed!\n\nIf the Test current doesn\x92t decreases";
  const struct {
    bool gains;  // the demo's, or none (both mantissas 0)
    double current_A, start_m;
    std::string failure;  // its beginning; "" when the test passes
  } rows[] = {
      {true, 2.0, 0.004, ""},
      {true, 2.0, 0.012, ""},
      {true, 2.0, 0.0205, ""},
      {false, 2.0, 0.004, not_settled},
      {true, 0.1, 0.004, CTestAngle::kCurrentTooLow},
  };
  const std::string csv = ::testing::TempDir() + "angle_start.csv";
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.gains ? "" : "no gains, ") + FormatNumber(row.current_A) +
                 " A from " + FormatNumber(row.start_m) + " m");
    setup_ =
        Bundled({{"MAX_CURRENT", row.current_A}, {"AquisitionsNo", 5000}, {"SamplingRate", 20}});
    if (!row.gains) Set(*setup_, {{"KPTHT", 0}, {"KITHT", 0}});
    const SimulatedRun run =
        Run("angle", {Key("position", row.start_m)}, {.keep = false, .export_csv = csv});
    const std::string failure = Windows1252ToUtf8(row.failure);  // as the command prints it
    EXPECT_EQ(run.outcome.failure.substr(0, failure.size()), failure);
    EXPECT_EQ(run.outcome.succeeded, row.failure.empty());
    if (!row.failure.empty()) continue;
    // The last recorded angle: 5000 points every 20 periods cover the whole run.
    std::ifstream in(csv);
    std::string line, last;
    while (std::getline(in, line)) last = line;
    const double angle = ParseNumber(last.substr(last.rfind(',') + 1)).value_or(NAN);
    EXPECT_NEAR(angle, -16384.0, 1820.0) << last;
  }
}

}  // namespace
}  // namespace axis::testing
