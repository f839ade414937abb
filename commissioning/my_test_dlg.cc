#include "commissioning/my_test_dlg.h"

#include <cmath>

#include "conversions/calculator.h"
#include "conversions/scales.h"
#include "host/number_text.h"
#include "host/numeric.h"

namespace {

// The speed and position tuning tests run the minimum move themselves.
constexpr int kSpeedTuningTemplate = 102;
constexpr int kPositionTuningTemplate = 103;

}  // namespace

CMyTestDlg::CMyTestDlg(CMC_Setup& setup, int template_id, int flag, CMC_EditSetupDlg* parent)
    : CMC_TestDlg(setup, template_id, flag, parent) {
  if (template_id == kSpeedTuningTemplate || template_id == kPositionTuningTemplate) return;
  min_move_ = kestrel::FindOptional(setup_, "ABSTART_MINMOVE");
  if (min_move_ == nullptr) return;
  saved_min_move_ = min_move_->GetValueInBaseUnit();
  min_move_->SetValueInBaseUnit(0.0);
}

CMyTestDlg::~CMyTestDlg() {
  if (min_move_ != nullptr && Result() != axis::kIdOk)
    min_move_->SetValueInBaseUnit(saved_min_move_);
}

void CMyTestDlg::OnTimer(int id) {
  // At most one tick is ever pending: a state that goes on polling re-arms the timer itself.
  KillTimer(kPollTimer);
  if (running_flag_ == 0 || id != kPollTimer) return;
  OnPoll();
}

void CMyTestDlg::LoadImage(CMC_CoffFormat& image, const char* label) {
  image.SetFileName(GetOutPathName(label));
  image.ReadCoff();
}

bool CMyTestDlg::RearmTimer(unsigned period_ms) {
  if (SetTimer(kPollTimer, period_ms)) return true;
  Fail("The test's polling timer cannot be started.");
  return false;
}

void CMyTestDlg::Fail(const std::string& text) {
  error_text_ = text;
  TestFailed(1);
}

int CMyTestDlg::CheckDriveFaults(int end_test, unsigned mask) {
  CMC_Variable* mer = setup_.FindVariable("MER", 1);
  std::string text;
  if (mer == nullptr || mer->ReadFromChip() == 0) {
    text = msc_pszErrInternal;
  } else {
    const unsigned faults =
        static_cast<unsigned>(axis::TruncToInt64(mer->GetValueInBaseUnit())) & 0xFFFFu & mask;
    for (const kestrel::DriveFault& fault : kestrel::kDriveFaults) {
      if ((faults & fault.bit) != 0) {
        text = fault.text;
        break;
      }
    }
    if (text.empty()) return 1;
  }
  error_text_ = text;
  if (end_test != 0) TestFailed(1);
  return 0;
}

CMyTestDlg::Routine CMyTestDlg::PollRoutine(CMC_CoffFormat& image, unsigned mask) {
  double started = 0.0;
  std::string error;
  if (GetUserVariableValue(&image, "STARTED", started, error) == 0) {
    TestFailed(1);
    return Routine::kFailed;
  }
  if (started == 0.0) {  // not begun yet: a fault would keep it from ever beginning
    if (CheckDriveFaults(1, mask) == 0 || !RearmTimer()) return Routine::kFailed;
    return Routine::kWaiting;
  }
  int on = 0;
  if (GetAxisOn(on) == 0) {
    TestFailed(1);
    return Routine::kFailed;
  }
  if (on != 0) return RearmTimer() ? Routine::kWaiting : Routine::kFailed;
  return CheckDriveFaults(1, mask) == 0 ? Routine::kFailed : Routine::kFinished;
}

bool CMyTestDlg::PreliminaryFinished(CMC_CoffFormat& preliminary, double& reftst, double* rinctst,
                                     CurrentBack rule) {
  if (PollRoutine(preliminary, kestrel::kShortCircuitEnableMask) != Routine::kFinished)
    return false;
  double in1 = 0.0;
  std::string error;
  if (GetUserVariableValue(&preliminary, "In1", in1, error) == 0) {
    TestFailed(1);
    return false;
  }
  if (in1 == kUndelivered) {
    Fail(msc_pszErrInternal);
    return false;
  }
  if (rule == CurrentBack::kPositive ? in1 <= 0.0 : in1 == 0.0) {
    Fail(msc_pszErrInZero);
    return false;
  }
  return ReadDriveVariable("REFTST_V", true, reftst) &&
         (rinctst == nullptr || ReadDriveVariable("RINCTST_V", true, *rinctst));
}

bool CMyTestDlg::WriteInputs(CMC_CoffFormat& image, const axis::UserVariables& inputs) {
  for (const auto& [name, value] : inputs) {
    std::string error;
    if (SetUserVariableValue(&image, name.c_str(), value, error) == 0) {
      TestFailed(1);
      return false;
    }
  }
  return true;
}

bool CMyTestDlg::Launch(const char* label, CMC_CoffFormat& image, CMC_Logger* logger) {
  if (ExecuteCode(label, &image, logger) != 0) return true;
  // The host names a missing routine or a link failure; anything else is an internal fault.
  if (error_text_.empty()) error_text_ = msc_pszErrInternal;
  TestFailed(1);
  return false;
}

bool CMyTestDlg::ReadDriveVariable(const char* name, bool internal, double& value) {
  CMC_Variable* variable = setup_.FindVariable(name, 1);
  if (variable == nullptr) {
    Fail(msc_pszErrInternal);
    return false;
  }
  if (variable->ReadFromChip() == 0) {
    Fail(CommErrorText());
    return false;
  }
  value = internal ? variable->GetValueInInternalUnit() : variable->GetValueInBaseUnit();
  return true;
}

bool CMyTestDlg::ReadResult(CMC_CoffFormat& image, const char* name, double& value) {
  std::string error;
  if (GetUserVariableValue(&image, name, value, error) == 0) {
    TestFailed(1);
    return false;
  }
  if (value != kUndelivered) return true;
  Fail(msc_pszErrInternal);
  return false;
}

bool CMyTestDlg::CurrentCounts(const char* name, int& counts) {
  double counts_per_A = 0.0;
  const bool scaled = kestrel::CurrentScale(setup_, counts_per_A);
  const char* what = std::string(name) == "TestCurrent" ? "test current" : "protection current";
  return Int16Counts(name, what, "the drive's current measurement", scaled ? counts_per_A : 0.0,
                     "A", counts);
}

bool CMyTestDlg::Int16Counts(const char* name, const char* what, const char* holder,
                             double counts_per_unit, const char* unit, int& counts) {
  const CMC_Parameter* parameter = kestrel::FindOptional(setup_, name);
  if (parameter == nullptr || !(counts_per_unit != 0.0)) {
    MessageBox(std::string("The setup has no \"") + name + "\" or no scale for it to run the test.",
               axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
    return false;
  }
  const double value = parameter->GetValueInInternalUnit();
  constexpr double kLargestCount = 32767.0;
  if (!(std::fabs(value) < kLargestCount + 1.0)) {
    MessageBox(std::string("The ") + what + " is more than " + holder + " holds: at most " +
                   axis::FormatNumber(kLargestCount / std::fabs(counts_per_unit), 4) + " " + unit +
                   ".",
               axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
    return false;
  }
  counts = kestrel::Trunc(value);
  return true;
}

bool CMyTestDlg::StartPreliminary(CMC_CoffFormat& preliminary, int test_current_counts,
                                  const char* waiting_text) {
  if (!WriteInputs(preliminary, {{"In1", static_cast<double>(test_current_counts)}}) ||
      !Launch(kestrel::kPreliminaryRoutine, preliminary))
    return false;
  SetInfoText(waiting_text);
  return RearmTimer();
}

int CMyTestDlg::AskToKeepValues(const std::vector<kestrel::ChangedValue>& changed,
                                const char* intro) {
  if (changed.empty() || result_ != 1) return axis::kIdOk;
  std::string text = std::string(intro) + "\r\n\r\n";
  for (const kestrel::ChangedValue& value : changed) {
    text += value.label + ":\tOld = " + value.old_text + "\tNew = " + value.new_text + "\r\n";
  }
  text += "\r\nDo you want to save the new value(s)? (Recommended)";
  return MessageBox(text, axis::MessageButtons::kYesNoCancel, axis::MessageIcon::kQuestion);
}
