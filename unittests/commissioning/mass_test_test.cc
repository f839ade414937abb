// The total mass test: its two routines, the mass from the routine's time and speed change, the
// routine's failure codes and the refusals before anything runs.
#include "commissioning/mass_test.h"

#include "commissioning/commissioning_test_support.h"

namespace {

using namespace axis::testing;
using Dlg = CTotalMassTest;

// The demo drive: 3276 current counts per A, speed in counts (1 um) per 0.5 ms period, so 500 per
// m/s; Kf 30 N/A. A test current of 1.5 A is 4914 counts, 45 N: 400 periods (0.2 s) to gain
// 1500 counts (3 m/s) is a mass of 45 x 0.2 / 3 = 3 kg.
class MassTest : public CommissioningTest {
 protected:
  void SetUp() override {
    CommissioningTest::SetUp();
    Set(*setup_, "TestMaxSpeed", 5.0);
    Set(*setup_, "Mt", 2.0);
  }
  Routine Mass(double flag, double periods, double speed) {
    return {.outputs = {{"test_flag", flag}, {"delta_time", periods}, {"delta_speed", speed}}};
  }
};

TEST_F(MassTest, IdentifiesTheMassFromTheRoutinesTimeAndSpeedChange) {
  Set(*setup_, "TestProtectionCurrent", 7.0);  // 22932 counts
  Play({{.outputs = {{"In1", 4914}}}, Mass(1, 400, 1500)});
  Dlg d(*setup_, nullptr);
  platform_.Click(Dlg::kStartStop).Wait(200).Do([&](axis::DialogModel&) {
    EXPECT_EQ(d.TestResult(), 1) << d.ErrorText();
    EXPECT_EQ(platform_.statuses,
              (std::vector<std::string>{
                  "Launching code for preliminary test", "Waiting preliminary test to be finished",
                  "Launching code for M test", "Waiting M test to be finished"}));
    ASSERT_EQ(Labels(), (std::vector<std::string>{"Initial_Positioning_Test",
                                                  "Total_Mass_Identification_Test"}));
    EXPECT_EQ(drive_.launches[1].inputs, (axis::UserVariables{{"RefTest", 1200},
                                                              {"RIncTest", -7},
                                                              {"In1", 4914},
                                                              {"LimitSpeedMax", 2500},
                                                              {"Imax_Prot_Test", 22932}}));
    EXPECT_NEAR(Get(*setup_, "Mt"), 3.0, 1e-12);
    EXPECT_EQ(d.GetChildText(Dlg::kMassEdit), "3");
  });
  platform_.Click(axis::kIdCancel).Answer(axis::kIdYes);
  EXPECT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(Messages(platform_).back(),
            "A different value than specified has been detected for the following "
            "parameter(s):\r\n\r\nTotal mass:\tOld = 2\tNew = 3\r\n\r\nDo you want to save the new "
            "value(s)? (Recommended)");
  EXPECT_NEAR(Get(*setup_, "Mt"), 3.0, 1e-12);
  EXPECT_EQ(Get(*setup_, "Imax_Prot"), 7.0) << "OK hands the test's protection to the drive";
}

TEST_F(MassTest, TheRoutinesVerdictsAndUndefinedMasses) {
  const std::string reversed =
      "When a POSITIVE force level is applied to the motor, the measured speed is NEGATIVE.\n"
      "Possible causes of failure:\n\t\tThe current controller is not tuned;\n\t\tThe encoder "
      "signals are reversed;\n\t\tCheck the current controller tuning;\n\t\tUse the test <<Detect "
      "number of lines>> to verify the encoder counting direction;\n\t\tCheck if the motor "
      "nominal current was correctly set";
  const std::string not_reached = "The motor does not reach the programmed speed level!";
  const struct {
    double flag, periods, speed;
    std::string error;  // the beginning of the failure text
  } rows[] = {
      {0, 400, 1500, reversed},
      {1, -1, 1500, reversed + "."},
      {1, -2, 1500, "When trying to apply POSITIVE force to the motor, the measured speed is ZERO"},
      {1, 0, 1500, not_reached},
      {1, -7, 1500, not_reached},
      {1, 400, 0, Dlg::kNoSpeedChange},
      {1, 400, CMC_TestDlg::kUndelivered, ErrInternal()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.error);
    Play({{.outputs = {{"In1", 4914}}}, Mass(row.flag, row.periods, row.speed)});
    Dlg d(*setup_, nullptr);
    platform_.Click(Dlg::kStartStop).Wait(200).Click(axis::kIdCancel);
    EXPECT_EQ(d.DoModal(), axis::kIdCancel);
    EXPECT_EQ(d.TestResult(), 0);
    EXPECT_EQ(d.ErrorText().substr(0, row.error.size()), row.error);
    EXPECT_EQ(d.ErrorText() == reversed, row.error == reversed) << "F1 has no full stop";
    EXPECT_EQ(Get(*setup_, "Mt"), 2.0);
  }
}

TEST_F(MassTest, ValuesTheDriveCannotTakeStartNothing) {
  const struct {
    const char* name;
    double value;
    const char* message;
  } rows[] = {
      {"TestCurrent", 8.5, "I protection must be greater or equal to Test current."},
      // 100 m/s are 50000 speed counts, beyond the routine's 16-bit limit.
      {"TestMaxSpeed", 100,
       "The speed limit is more than the drive's speed register holds: at "
       "most 65.53 m/s."},
  };
  for (const auto& row : rows) {
    const double before = Get(*setup_, row.name);
    Set(*setup_, row.name, row.value);
    Dlg d(*setup_, nullptr);
    platform_.Click(Dlg::kStartStop).Click(axis::kIdCancel);
    d.DoModal();
    EXPECT_EQ(Messages(platform_).back(), row.message);
    EXPECT_TRUE(drive_.launches.empty()) << row.name;
    Set(*setup_, row.name, before);
  }
  // A test current equal to the protection is accepted.
  Set(*setup_, "TestCurrent", 8.0);
  Play({{.outputs = {{"In1", 26208}}}, Mass(1, 400, 1500)});
  Dlg d(*setup_, nullptr);
  platform_.Click(Dlg::kStartStop).Wait(200).Click(axis::kIdCancel).Answer(axis::kIdNo);
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);
  EXPECT_EQ(d.TestResult(), 1);
  EXPECT_EQ(Get(*setup_, "Mt"), 2.0) << "No puts the old mass back";
}

}  // namespace
