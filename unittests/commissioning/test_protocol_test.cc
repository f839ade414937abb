// What the four tests share: the drive fault check and its masks, waiting for a routine that does
// not begin or does not end, Stop and Close during a run, currents the drive cannot take, and the
// minimum move at the motor start.
#include <memory>

#include "commissioning/commissioning_test_support.h"
#include "commissioning/current_tuning.h"
#include "commissioning/phase_connections.h"
#include "commissioning/rl_identification.h"
#include "commissioning/vdc_detection.h"

namespace {

using namespace axis::testing;

const std::string kShortCircuit = "Drive / Motor shortcircuit protection triggered.";
const std::string kDisabled = "Drive / Motor ENABLE input is in DISABLED state.";

struct Kind {
  const char* name;
  std::unique_ptr<CMyTestDlg> (*make)(CMC_Setup& setup);
  const char* waiting;  // the status text while the first routine is awaited
  bool tabbed;          // Start is on the "Test" tab
};
template <typename T>
std::unique_ptr<CMyTestDlg> Make(CMC_Setup& setup) {
  return std::make_unique<T>(setup, nullptr);
}
const Kind kKinds[] = {
    {"phase", Make<CTestPhaseConnections>, "Waiting preliminary test to be finished", false},
    {"rl", Make<CTestRL>, "Waiting preliminary test to be finished (1)", false},
    {"current", Make<CTestCurrent>, "Waiting preliminary test to be finished", true},
    {"vdc", Make<CTestVdcDetection>, "Running test", false},
};

class TestProtocolTest : public CommissioningTest {
 protected:
  void Start(const Kind& kind) {
    if (kind.tabbed) platform_.SelectTab(CTestCurrent::kTabs, CTestCurrent::kTestPage);
    platform_.Click(CMC_TestDlg::kStartStop);
  }
  size_t Polls() const {
    size_t n = 0;
    for (const auto& firing : platform_.Firings()) n += firing.timer_id == CMC_TestDlg::kPollTimer;
    return n;
  }
};

TEST_F(TestProtocolTest, FaultCheckReportsTheFirstMaskedFault) {
  // clang-format off
  const struct { double mer; unsigned mask; std::string text; } rows[] = {
      {0x00A2, 0xFFFF, kShortCircuit},  // several: the first in the order of the table
      {0x00A8, 0xFFFF, "Drive / Motor control error protection triggered."},
      {0x00A0, 0xFFFF, "Hall sensor is missing."},
      {0x00C0, 0xFFFF, "Drive / Motor stopped due to positive limit switch input triggered."},
      {0x8080, 0xFFFF, "Drive / Motor stopped due to negative limit switch input triggered."},
      {0x8000, 0xFFFF, kDisabled},
      {0x7F15, 0xFFFF, ""},  // bits without a text
      {0x0008, 0x8002, ""},
      {0x80A8, 0x8002, kDisabled},
      {0x0002, 0x8002, kShortCircuit},
      {0x8000, 0x0002, ""},
      {0x18000, 0x8002, kDisabled},  // only the low 16 bits count
      {0x10000, 0xFFFF, ""},
      {-32768, 0x8002, kDisabled},   // read as a signed 16-bit number
      {2.9, 0x0002, kShortCircuit},  // truncated
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.mer << " & " << row.mask);
    CTestVdcDetection d(*setup_, nullptr);
    drive_.variables["MER"] = row.mer;
    EXPECT_EQ(d.CheckDriveFaults(0, row.mask), row.text.empty() ? 1 : 0);
    EXPECT_EQ(d.ErrorText(), row.text);
    EXPECT_EQ(d.TestResult(), -1) << "no verdict without the end-test argument";
  }
  CTestVdcDetection d(*setup_, nullptr);
  drive_.variables["MER"] = 0x0040;
  EXPECT_EQ(d.CheckDriveFaults(0, 0xFFFF), 0);
  drive_.variables["MER"] = 0;
  EXPECT_EQ(d.CheckDriveFaults(0, 0xFFFF), 1);
  EXPECT_EQ(d.ErrorText(), "Drive / Motor stopped due to positive limit switch input triggered.")
      << "a clean check leaves the last error";
  drive_.variables.erase("MER");
  EXPECT_EQ(d.CheckDriveFaults(0, 0xFFFF), 0);
  EXPECT_EQ(d.ErrorText(), ErrInternal());
  drive_.variables["MER"] = 2;
  drive_.fail_at = drive_.calls();
  EXPECT_EQ(d.CheckDriveFaults(1, 0x0002), 0);
  EXPECT_EQ(d.ErrorText(), ErrInternal()) << "an unread fault register is an internal fault";
  EXPECT_EQ(d.TestResult(), 0);
}

TEST_F(TestProtocolTest, ARoutineThatNeverBeginsIsPolledUntilStoppedOrClosed) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    FreshDrive({{"MER", 0}});
    Play({{.begins = false}, {.begins = false}, {.begins = false}});  // three runs
    const size_t polls = Polls();
    std::unique_ptr<CMyTestDlg> d = kind.make(*setup_);
    Start(kind);
    platform_.Wait(1000).Do([&](axis::DialogModel&) {
      EXPECT_TRUE(d->TestRunning());
      EXPECT_EQ(d->GetChildText(CMC_TestDlg::kStatusText), kind.waiting);
      EXPECT_EQ(Polls() - polls, 50u) << "every 20 ms";
      EXPECT_EQ(drive_.launches.size(), 1u);
    });
    platform_.Click(CMC_TestDlg::kStartStop).Do([&](axis::DialogModel&) {
      EXPECT_FALSE(d->TestRunning());
      EXPECT_EQ(d->TestResult(), -1);
      EXPECT_EQ(d->GetChildText(CMC_TestDlg::kStatusText), "Test stopped");
      EXPECT_EQ(drive_.axis_off_calls, 1);
      EXPECT_FALSE(drive_.axis_on);
    });
    // Again, and a fault keeps it from ever beginning: it fails at the next poll.
    platform_.Click(CMC_TestDlg::kStartStop).Wait(100).Do([&](axis::DialogModel&) {
      EXPECT_TRUE(d->TestRunning());
      drive_.variables["MER"] = 0x0002;
    });
    platform_.Wait(20).Do([&](axis::DialogModel&) {
      EXPECT_FALSE(d->TestRunning());
      EXPECT_EQ(d->ErrorText(), kShortCircuit);
      EXPECT_EQ(drive_.axis_off_calls, 2);
      drive_.variables["MER"] = 0;
    });
    // Once more, then Close while it waits: the axis goes off and nothing is asked.
    const size_t asked = platform_.MessageLog().size();
    platform_.Click(CMC_TestDlg::kStartStop).Wait(100).Click(axis::kIdCancel);
    EXPECT_EQ(d->DoModal(), axis::kIdCancel);
    EXPECT_EQ(drive_.axis_off_calls, 3);
    EXPECT_FALSE(drive_.axis_on);
    EXPECT_EQ(platform_.MessageLog().size(), asked);
  }
}

TEST_F(TestProtocolTest, AFaultWhileTheRoutineRunsIsReportedWhenTheAxisGoesOff) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    FreshDrive({{"MER", 0}});
    Play({{.ends = false}});
    std::unique_ptr<CMyTestDlg> d = kind.make(*setup_);
    Start(kind);
    platform_.Wait(100).Do([&](axis::DialogModel&) { drive_.variables["MER"] = 0x0002; });
    platform_.Wait(100).Do([&](axis::DialogModel&) {
      EXPECT_TRUE(d->TestRunning()) << "no fault check while the axis is on";
      EXPECT_EQ(drive_.launches.size(), 1u);
      drive_.axis_on = false;
    });
    platform_.Wait(20).Do([&](axis::DialogModel&) {
      EXPECT_FALSE(d->TestRunning());
      EXPECT_EQ(d->TestResult(), 0);
      EXPECT_EQ(d->ErrorText(), kShortCircuit);
      EXPECT_EQ(d->GetChildText(CMC_TestDlg::kResultText), kShortCircuit);
    });
    d->DoModal();
  }
}

TEST_F(TestProtocolTest, TheEnableInputCountsExceptForTheBusMeasurement) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    drive_.variables["MER"] = 0x8008;
    drive_.variables["var_u2"] = 36400;
    std::unique_ptr<CMyTestDlg> d = kind.make(*setup_);
    Start(kind);
    platform_.Wait(20);
    d->DoModal();
    const bool bus = std::string(kind.name) == "vdc";
    EXPECT_EQ(d->ErrorText(), bus ? "" : kDisabled);
  }
}

TEST_F(TestProtocolTest, CurrentsTheDriveCannotTakeAreRefusedBeforeAnythingIsSent) {
  const std::string too_much_test =
      "The test current is more than the drive's current measurement holds: at most 10 A.";
  const std::string too_much_protection =
      "The protection current is more than the drive's current measurement holds: at most 10 A.";
  // 32767 counts are 10.0021 A.
  // clang-format off
  const struct {
    const char* kind;
    double test, protection;
    std::string message;
    double in1;
  } rows[] = {
      {"phase", 10.0025, 20, too_much_test, 0},
      {"phase", 10.002, 20, "", 32766},
      {"phase", -10.0025, 20, too_much_test, 0},
      {"rl", 11, 20, too_much_test, 0},
      {"rl", 10.002, 20, "", 32766},
      {"current", 10.0025, 20, too_much_test, 0},
      {"current", 1.5, 10.0025, too_much_protection, 0},
      {"current", 10.002, 10.002, "", 32766},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.kind << " " << row.test << " " << row.protection);
    const Kind& kind = *std::find_if(std::begin(kKinds), std::end(kKinds), [&](const Kind& k) {
      return std::string(k.name) == row.kind;
    });
    FreshDrive({{"MER", 0}});
    Set(*setup_, {{"TestCurrent", row.test}, {"TestProtectionCurrent", row.protection}});
    const size_t shown = platform_.MessageLog().size();
    std::unique_ptr<CMyTestDlg> d = kind.make(*setup_);
    Start(kind);
    d->DoModal();
    if (row.message.empty()) {
      EXPECT_EQ(Messages(platform_, shown), std::vector<std::string>{});
      ASSERT_EQ(drive_.launches.size(), 1u);
      EXPECT_EQ(drive_.launches[0].inputs, (axis::UserVariables{{"In1", row.in1}}));
    } else {
      EXPECT_EQ(Messages(platform_, shown), std::vector<std::string>{row.message});
      EXPECT_EQ(drive_.calls(), 0) << "nothing reaches the drive";
      EXPECT_FALSE(d->TestRunning());
      EXPECT_EQ(d->GetChildText(CMC_TestDlg::kStartStop), "Start");
    }
  }
}

TEST_F(TestProtocolTest, TheMinimumMoveIsZeroWhileATestIsOpen) {
  // How each dialog is left after a run: Close (answered when asked) or OK.
  // clang-format off
  const struct { const char* kind; int button, answer, result; double kept; } rows[] = {
      {"phase", axis::kIdCancel, 0, axis::kIdCancel, 6000},
      {"rl", axis::kIdCancel, 0, axis::kIdCancel, 6000},  // its run fails: nothing to ask
      {"current", axis::kIdCancel, 0, axis::kIdCancel, 6000},
      {"current", axis::kIdOk, 0, axis::kIdOk, 0},
      {"vdc", axis::kIdCancel, axis::kIdNo, axis::kIdCancel, 6000},
      {"vdc", axis::kIdCancel, axis::kIdYes, axis::kIdOk, 0},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.kind << " " << row.button << " " << row.answer);
    const Kind& kind = *std::find_if(std::begin(kKinds), std::end(kKinds), [&](const Kind& k) {
      return std::string(k.name) == row.kind;
    });
    FreshDrive({{"MER", 0}, {"var_u2", 36400}, {"var_i1", 6552}, {"var_i2", -3276}});
    Set(*setup_, {{"ABSTART_MINMOVE", 6000}, {"Vdc", 48}});
    {
      std::unique_ptr<CMyTestDlg> d = kind.make(*setup_);
      EXPECT_EQ(Get(*setup_, "ABSTART_MINMOVE"), 0.0);
      Start(kind);
      platform_.Wait(100).Click(row.button);
      if (row.answer != 0) platform_.Answer(row.answer);
      EXPECT_EQ(d->DoModal(), row.result);
      // The drive ran the routines without it.
      EXPECT_NE(std::find(drive_.written.begin(), drive_.written.end(),
                          std::pair<std::string, double>("ABSTART_MINMOVE", 0.0)),
                drive_.written.end());
    }
    EXPECT_EQ(Get(*setup_, "ABSTART_MINMOVE"), row.kept);
  }
}

}  // namespace
