// The electric angle controller tuning test on a scripted drive: what it launches and records,
// the routine's verdicts, the details box and the record settings of a setup without its own.
#include "commissioning/angle_tuning.h"

#include <fstream>
#include <sstream>

#include "commissioning/commissioning_test_support.h"
#include "host/setup_file.h"

namespace {

using namespace axis::testing;
using Dlg = CTestAngle;

class AngleTuningTest : public CommissioningTest {
 protected:
  // A run whose routine leaves these outputs and a record of two points, read on the Test page.
  void Run(std::map<std::string, double> outputs) {
    drive_.log = {{0.0, 0.5, -16000}, {0.001, 0.0, -16384}};
    Play({{.outputs = std::move(outputs)}});
    platform_.SelectTab(Dlg::kTabs, Dlg::kTestPage).Click(Dlg::kStartStop).Wait(100);
  }
};

TEST_F(AngleTuningTest, LaunchesWithTheStartParametersAndRecordsCurrentAndAngle) {
  Dlg d(*setup_, nullptr);
  Run({{"test_flag", 1}});
  platform_.Do([&](axis::DialogModel&) {
    EXPECT_EQ(platform_.statuses, (std::vector<std::string>{"Launching the application for test",
                                                            "Running test", "Uploading results"}));
    ASSERT_EQ(Labels(), std::vector<std::string>{"Angle_Controller_Tuning_Test"});
    // 2 A in 3276 counts per ampere, 20 A/s and 0.5 s in the drive's units, not truncated.
    const axis::UserVariables& in = drive_.launches[0].inputs;
    ASSERT_EQ(in.size(), 3u);
    EXPECT_EQ(in[0], (std::pair<std::string, double>{"In1", 6552}));
    EXPECT_EQ(in[1].first, "ReferenceIncrement");
    EXPECT_EQ(in[2].first, "TimeLimit");
    const axis::LogRequest& log = drive_.launches[0].log;
    EXPECT_EQ(log.variables, (std::vector<std::string>{"Motor_Current", "Electric_Angle"}));
    EXPECT_EQ(log.points, 2000);
    EXPECT_EQ(log.every, 2);
    EXPECT_EQ(log.rate, axis::LogRequest::Rate::kFastLoop);
    EXPECT_EQ(d.TestResult(), 1);
    ASSERT_EQ(d.Logger()->GetDocument().GetAt(0)->GetCount(), 2);
    EXPECT_EQ(d.Logger()->GetDocument().GetAt(0)->GetCurve(1)->Points().size(), 2u);
  });
  platform_.Click(axis::kIdCancel);
  d.DoModal();
}

TEST_F(AngleTuningTest, TheRoutinesFlagDecidesAndDetailsOfferHelpWhenTheAngleDidNotSettle) {
  const std::string not_settled_at =
      "Test failed!\n\nIf the Test current doesn\x92t decreases to zero, increase/decrease Kp "
      "and/or Ki parameters.\nIf the Test current decreases to zero but the Electric_Angle graph "
      "does not stabilize to a value close to -16000 with a tolerance of +/- 1820 (equivalent to "
      "+/- 10 electrical degrees), you have to fine tune the Kp and/or Ki parameters until it "
      "does.\nSee Electric Angle Controller Tuning Help for details";
  // clang-format off
  const struct { std::map<std::string, double> outputs; std::string error; bool help; } rows[] = {
      {{{"test_flag", 7}}, "", false},
      {{{"test_flag", -1}}, Dlg::kProtectionTripped, false},
      {{{"test_flag", -2}, {"theta_1", -16000.7}}, not_settled_at, true},  // truncated
      {{{"test_flag", -2}, {"theta_1", CMC_TestDlg::kUndelivered}}, Dlg::kNotStabilized, true},
      {{{"test_flag", -3}}, Dlg::kCurrentTooLow, false},
      {{{"test_flag", CMC_TestDlg::kUndelivered}}, CMC_TestDlg::msc_pszErrInternal, false},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.error);
    FreshDrive({{"MER", 0}});
    Dlg d(*setup_, nullptr);
    Run(row.outputs);
    const size_t boxes = platform_.MessageLog().size();
    if (!row.error.empty()) platform_.Click(CMC_TestDlg::kDetailsButton);
    platform_.Click(axis::kIdCancel);
    d.DoModal();
    EXPECT_EQ(d.TestResult(), row.error.empty() ? 1 : 0);
    EXPECT_EQ(d.ErrorText(), row.error);
    if (row.error.empty()) continue;
    ASSERT_EQ(platform_.MessageLog().size(), boxes + 1);
    EXPECT_EQ(platform_.MessageLog().back().request.text, row.error);
    EXPECT_EQ(platform_.MessageLog().back().request.help_button, row.help);
  }
}

// A setup without "AquisitionsNo" and "SamplingRate": the dialog's own, with their ranges.
TEST_F(AngleTuningTest, ASetupWithoutRecordSettingsUsesTheDialogsOwn) {
  std::ifstream in(std::string(AXIS_SETUPS_DIR) + "/demo-linear.json");
  std::stringstream text;
  text << in.rdbuf();
  std::string json = text.str();
  for (const char* name : {"\"AquisitionsNo\"", "\"SamplingRate\""}) {
    const size_t at = json.find(std::string("{\"name\": ") + name);
    ASSERT_NE(at, std::string::npos) << name;
    json.erase(at, json.find('}', at) + 2 - at);  // the parameter and its comma
  }
  axis::LoadResult loaded = axis::LoadSetupText(json, "without-record-settings.json");
  ASSERT_TRUE(loaded.setup) << loaded.error;
  setup_ = std::move(loaded.setup);
  setup_->SetComm(&drive_);
  Dlg d(*setup_, nullptr);
  EXPECT_EQ(d.AcquisitionPoints(), 2000);
  EXPECT_EQ(d.SamplingEvery(), 2);
  // They are edited like the setup's own; a value beyond the range is refused.
  platform_.SelectTab(Dlg::kTabs, Dlg::kTestPage)
      .Type(Dlg::kAcquisitionsEdit, "4000")
      .Type(Dlg::kSamplingEdit, "0")
      .Do([&](axis::DialogModel&) {
        EXPECT_EQ(d.AcquisitionPoints(), 4000);
        EXPECT_EQ(d.SamplingEvery(), 2);
      })
      .Click(axis::kIdCancel);
  d.DoModal();
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_EQ(platform_.MessageLog()[0].request.text, "Please enter a value between 1 and 200.");
}

}  // namespace
