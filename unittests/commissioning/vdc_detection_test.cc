// The DC-bus voltage test: its routine, the measured "Vdc" and the question that proposes it.
#include "commissioning/vdc_detection.h"

#include "commissioning/commissioning_test_support.h"

namespace {

using namespace axis::testing;
using Dlg = CTestVdcDetection;

// 728 bus counts a volt: 36400 counts are 50 V.
std::string Question(const std::string& line) {
  return "A different value than specified has been detected for the following "
         "parameter(s):\r\n\r\n" +
         line + "\r\nDo you want to save the new value(s)? (Recommended)";
}

class VdcTest : public CommissioningTest {};

TEST_F(VdcTest, MeasuresTheBusAndProposesIt) {
  Play({{.drive = {{"var_u2", 36400}}}});
  Dlg d(*setup_, nullptr);
  platform_.Click(Dlg::kStartStop).Do([&](axis::DialogModel&) {
    EXPECT_EQ(platform_.statuses, (std::vector<std::string>{"Launching test", "Running test"}));
    ASSERT_EQ(Labels(), std::vector<std::string>{"VDC_Detection_Test"});
    EXPECT_TRUE(drive_.launches[0].inputs.empty());
    EXPECT_EQ(d.GetChildText(Dlg::kVdcEdit), "");
  });
  Tick([&](CMC_TestDlg& t) {
    EXPECT_EQ(t.TestResult(), 1) << t.ErrorText();
    EXPECT_EQ(Get(*setup_, "Vdc"), 50.0);
    EXPECT_EQ(t.GetChildText(Dlg::kVdcEdit), "50");
  });
  platform_.Click(axis::kIdCancel).Answer(axis::kIdCancel);
  platform_.Do([&](axis::DialogModel& dlg) { EXPECT_TRUE(dlg.IsRunning()) << "Cancel stays"; });
  platform_.Click(axis::kIdCancel).Answer(axis::kIdNo);
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);
  const std::string question = Question("Power supply:\tOld = 48\tNew = 50\r\n");
  EXPECT_EQ(Messages(platform_), (std::vector<std::string>{question, question}));
  EXPECT_EQ(platform_.MessageLog()[0].request.icon, axis::MessageIcon::kQuestion);
  EXPECT_EQ(Get(*setup_, "Vdc"), 48.0) << "No puts the old value back";
  EXPECT_EQ(drive_.launches.size(), 1u);
}

TEST_F(VdcTest, CloseAsksOnlyAfterASuccessfulRunThatChangedTheText) {
  // clang-format off
  const struct {
    const char* name;
    double vdc, reading, mer;
    int answer, result;
    double kept;
    bool asked;
  } rows[] = {
      {"Yes keeps it", 48, 36400, 0, axis::kIdYes, axis::kIdOk, 50, true},
      {"an ENABLE fault is not checked", 48, 36400, 0x8000, axis::kIdYes, axis::kIdOk, 50, true},
      {"the same text", 48.00001, 34944, 0, 0, axis::kIdCancel, 48, false},  // "%G": 48 both
      {"short circuit", 48, 36400, 0x0002, 0, axis::kIdCancel, 48, false},
      {"no reading", 48, -1, 0, 0, axis::kIdCancel, 48, false},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Set(*setup_, "Vdc", row.vdc);
    drive_.variables["MER"] = row.mer;
    drive_.variables.erase("var_u2");
    Play({row.reading < 0 ? Routine{} : Routine{.drive = {{"var_u2", row.reading}}}});
    const size_t asked = platform_.MessageLog().size();
    Dlg d(*setup_, nullptr);
    platform_.Click(Dlg::kStartStop).Wait(40).Click(axis::kIdCancel);
    if (row.asked) platform_.Answer(row.answer);
    EXPECT_EQ(d.DoModal(), row.result);
    EXPECT_EQ(platform_.MessageLog().size(), asked + (row.asked ? 1 : 0));
    EXPECT_EQ(Get(*setup_, "Vdc"), row.kept);
  }
  EXPECT_EQ(Messages(platform_, 0).size(), 2u);
}

TEST_F(VdcTest, AMissingReadingFailsWithTheDrivesText) {
  drive_.variables.erase("var_u2");
  Dlg d(*setup_, nullptr);
  platform_.Click(Dlg::kStartStop).Wait(20);
  d.DoModal();
  EXPECT_EQ(d.TestResult(), 0);
  EXPECT_EQ(d.ErrorText(), "no \"var_u2\" in the drive");
}

}  // namespace
