#include "commissioning/phase_connections.h"

#include <cmath>
#include <cstring>

#include "conversions/calculator.h"
#include "conversions/scales.h"
#include "host/number_text.h"

namespace {

constexpr const char* kMainRoutine = "Motor_Phase_Connection_Test";
constexpr const char* kStatus[] = {
    "Launching the application for preliminary test", "Waiting preliminary test to be finished",
    "Launching the application for test", "Running test", "Finished test"};

}  // namespace

const char* const CTestPhaseConnections::kFailureText =
    "Possible causes of failure:\n\t- one of the motor phases is disconnected\n\t- the motor "
    "phases are unbalanced (they do not have the same resistance)\n\t- the test current isn't "
    "high enough.\nPlease check the motor phase connections to the drive and repeat the test. If "
    "the test fails and the connections are OK, increase the test current value.";

CTestPhaseConnections::CTestPhaseConnections(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kTemplate, 1, parent) {
  step_count_ = 5;
  if (const CMC_Parameter* current = kestrel::FindOptional(setup_, "TestCurrent"))
    test_current_counts_ = kestrel::Trunc(current->GetValueInInternalUnit());
  AddParameterControls("TestCurrent", kTestCurrentEdit, kTestCurrentUnit);
}

// The bars are members: they leave their controls before they are destroyed, ahead of the
// dialog base.
CTestPhaseConnections::~CTestPhaseConnections() {
  AttachCustom(kPhaseABar, nullptr);
  AttachCustom(kPhaseBBar, nullptr);
}

double CTestPhaseConnections::TestCurrent_A() {
  double counts_per_A = 0.0;
  if (!kestrel::CurrentScale(setup_, counts_per_A) || !(counts_per_A > 0.0)) return 0.0;
  return test_current_counts_ / counts_per_A;
}

void CTestPhaseConnections::ShowBars() {
  const double itest_A = TestCurrent_A();
  for (auto [bar, value] : {std::pair{&bar_a_, phase_a_A_}, std::pair{&bar_b_, phase_b_A_}}) {
    bar->SetLimits(-1.5 * itest_A, 1.5 * itest_A);
    bar->SetCurrentValue(value);
    bar->Repaint();
  }
}

int CTestPhaseConnections::OnInitDialog() {
  bar_a_.SubclassDlgItem(kPhaseABar, this);
  bar_b_.SubclassDlgItem(kPhaseBBar, this);
  ShowBars();
  LoadImage(main_, kMainRoutine);
  LoadImage(preliminary_, kestrel::kPreliminaryRoutine);
  return CMyTestDlg::OnInitDialog();
}

void CTestPhaseConnections::DoDataExchange() {
  CMyTestDlg::DoDataExchange();
  bar_a_.SetCurrentValue(phase_a_A_);
  bar_b_.SetCurrentValue(phase_b_A_);
}

void CTestPhaseConnections::OnChangedParameterValue(const char* name) {
  if (name != nullptr && std::strcmp(name, "TestCurrent") == 0) {
    if (const CMC_Parameter* current = kestrel::FindOptional(setup_, "TestCurrent"))
      test_current_counts_ = kestrel::Trunc(current->GetValueInInternalUnit());
  }
  CMyTestDlg::OnChangedParameterValue(name);
}

int CTestPhaseConnections::BeginTest() {
  phase_a_A_ = phase_b_A_ = 0.0;
  SetChildText(kPhaseAEdit, "");
  SetChildText(kPhaseBEdit, "");
  if (!CurrentCounts("TestCurrent", test_current_counts_)) return 0;
  ShowBars();
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  SetInfoText(kStatus[0]);
  return StartPreliminary(preliminary_, test_current_counts_, kStatus[1]) ? 1 : 0;
}

void CTestPhaseConnections::OnPoll() {
  switch (step_index_) {
    case 2:
      if (!PreliminaryFinished(preliminary_, reftst_, &rinctst_)) return;
      SetInfoText(kStatus[2]);
      [[fallthrough]];
    case 3:
      if (!WriteInputs(main_, {{"RefTest", reftst_}, {"RIncTest", rinctst_}}) ||
          !Launch(kMainRoutine, main_))
        return;
      SetInfoText(kStatus[3]);
      RearmTimer();
      return;
    case 4:
      if (PollRoutine(main_, kestrel::kShortCircuitEnableMask) == Routine::kFinished) Analyse();
      return;
    default:
      TestFailed(1);
  }
}

void CTestPhaseConnections::Analyse() {
  double i1 = 0.0, i2 = 0.0, counts_per_A = 0.0;
  if (!ReadDriveVariable("var_i1", true, i1) || !ReadDriveVariable("var_i2", true, i2)) return;
  if (!kestrel::CurrentScale(setup_, counts_per_A) || !(counts_per_A > 0.0)) {
    Fail(msc_pszErrInternal);
    return;
  }
  phase_a_A_ = RoundDecimalValue(i1 / counts_per_A, 2);
  phase_b_A_ = RoundDecimalValue(i2 / counts_per_A, 2);
  SetChildText(kPhaseAEdit, axis::FormatNumberG(phase_a_A_, 3).c_str());
  SetChildText(kPhaseBEdit, axis::FormatNumberG(phase_b_A_, 3).c_str());
  const double itest_A = test_current_counts_ / counts_per_A;
  const double ia = phase_a_A_, ib = phase_b_A_;
  // Phase A carries the test current; it leaves through phases B and C, half each.
  const bool wired = ib != 0.0 && std::fabs(ia / ib) > 1.5 && std::fabs(ia / ib) < 2.5 &&
                     ia > 0.6 * itest_A && ia < 1.4 * itest_A && ia > 0.0 && ib < 0.0;
  if (!wired) {
    Fail(kFailureText);
    return;
  }
  ShowBars();
  TestSucceeded(1);
}
