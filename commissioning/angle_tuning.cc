#include "commissioning/angle_tuning.h"

#include <cstdio>
#include <string>

#include "conversions/calculator.h"
#include "conversions/gains.h"
#include "host/text.h"

namespace {

constexpr const char* kRoutine = "Angle_Controller_Tuning_Test";
constexpr const char* kStatus[] = {"Launching the application for test", "Running test",
                                   "Uploading results"};

constexpr const char* kProcedureWithStart =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and tune the angle "
    "controller\r\n3. Press the \"Start\" button\r\n4. Wait until the test ends and displays the "
    "results\r\n5. The test is successful it at the end of the Stabilize time, the "
    "Electric_Angle graph is smooth and reaches final values with a tolerance of +/- 1820 (10 "
    "electrical degrees)\r\n6. If needed, change the controller parameters until you get results "
    "that satisfy point 5 above";
constexpr const char* kProcedure =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and tune the angle "
    "controller\r\n3. Press the \"Start\" button\r\n4. Wait until the test ends and displays the "
    "results\r\n5. If needed, change the controller parameters until you get satisfactory "
    "results.";

// The controls that only move while no test runs.
constexpr int kIdleOnly[] = {axis::kIdOk,          CTestAngle::kKpEdit,
                             CTestAngle::kKpLower, CTestAngle::kKpSlider,
                             CTestAngle::kKpUpper, CTestAngle::kKiEdit,
                             CTestAngle::kKiLower, CTestAngle::kKiSlider,
                             CTestAngle::kKiUpper, 0};

// The dialog's own record settings, for a setup without them: name, default, range.
struct OwnSetting {
  const char* name;
  const char* default_text;
  double min, max;
};
constexpr OwnSetting kOwnAcquisitions = {"AquisitionsNo", "2000", 10, 5000};
constexpr OwnSetting kOwnSampling = {"SamplingRate", "2", 1, 200};

// The routine's verdicts in "test_flag".
constexpr double kFlagProtection = -1.0;
constexpr double kFlagNotStabilized = -2.0;
constexpr double kFlagCurrentTooLow = -3.0;

}  // namespace

const char* const CTestAngle::kProtectionTripped =
    "Test failed!\nCurrent protection triggered during test!";
const char* const CTestAngle::kNotStabilized =
    "Test failed!\nAngle not stabilized.\nIf the Electric_Angle graph is a flat line, please "
    "increase Kp and/or Ki parameters.\n\nIf the Electric_Angle graph oscillates too much, please "
    "decrease Kp and/or Ki parameters.\n\nIf the Electric_Angle graph does not oscillate, but it "
    "does not stabilize to a value between\n-18204 and -14564 (that means -16384 with a tolerance "
    "of +/- 1820, equivalent to\n+/- 10 electrical degrees), you have to fine tune the Kp and/or "
    "Ki parameters until it does.";
// (0x92 is the right single quote of the drive family's 8-bit texts.)
const char* const CTestAngle::kNotStabilizedAt =
    "Test failed!\n\nIf the Test current doesn\x92t decreases to zero, increase/decrease Kp and/or "
    "Ki parameters.\nIf the Test current decreases to zero but the Electric_Angle graph does not "
    "stabilize to a value close to %s with a tolerance of +/- 1820 (equivalent to +/- 10 "
    "electrical degrees), you have to fine tune the Kp and/or Ki parameters until it does.\nSee "
    "Electric Angle Controller Tuning Help for details";
const char* const CTestAngle::kCurrentTooLow =
    "Test failed!\nTest current may not be enough. Please increase test current.";

CTestAngle::CTestAngle(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CPlotTestDlg(setup, kTemplate, parent) {
  step_count_ = 3;
  AddParameterControls("MAX_CURRENT", kTestCurrentEdit, kTestCurrentUnit);
  AddParameterControls("REF_INC", kIncrementEdit, kIncrementUnit);
  AddParameterControls("TIME_LIMIT", kTimeLimitEdit, kTimeLimitUnit);
  const auto own = [&](const OwnSetting& s, int edit, std::unique_ptr<CMC_Parameter>& owned) {
    if (kestrel::FindOptional(setup_, s.name) != nullptr) {
      AddParameterControls(s.name, edit, 0);
      return;
    }
    owned = CMC_Parameter::InitializeMotionParam(setup_, s.name, true, "", s.default_text, s.min,
                                                 s.max);
    if (owned) AddUserParameterControls(*owned, edit, 0);
  };
  own(kOwnAcquisitions, kAcquisitionsEdit, own_acquisitions_);
  own(kOwnSampling, kSamplingEdit, own_sampling_);
  AddGainSlider("Kp_T_scl", kKpSlider, kKpEdit, 0, kKpLower, kKpUpper);
  AddGainSlider("Ki_T_scl", kKiSlider, kKiEdit, 0, kKiLower, kKiUpper);
}

int CTestAngle::AcquisitionPoints() {
  const CMC_Parameter* p = kestrel::FindOptional(setup_, "AquisitionsNo");
  if (p == nullptr) p = own_acquisitions_.get();
  // The drive takes the count as a 16-bit word.
  return p == nullptr ? 0 : static_cast<int>(axis::TruncToWord(p->GetValueInBaseUnit()) & 0xFFFF);
}

int CTestAngle::SamplingEvery() {
  const CMC_Parameter* p = kestrel::FindOptional(setup_, "SamplingRate");
  if (p == nullptr) p = own_sampling_.get();
  return p == nullptr ? 1 : static_cast<int>(axis::TruncToWord(p->GetValueInBaseUnit()) & 0xFFFF);
}

void CTestAngle::SetUpLogger() {
  if (!logger_) return;
  logger_->ChangeSettings(AcquisitionPoints(), 2, SamplingEvery());
  for (const char* name : {"Motor_Current", "Electric_Angle"}) logger_->AddVariable(name, 1);
  logger_->CorrectPointsNo();
  CGraphFilter& curves = *logger_->GetDocument().GetAt(0);
  curves.RemoveAllCurves();                    // the set-up runs again at every start
  curves.Add(CXYCurve(0, 1, 1, RGB16(1), 2));  // the current
  curves.Add(CXYCurve(0, 2, 2, RGB16(4), 2));  // the angle, on the right axis
}

int CTestAngle::OnInitDialog() {
  CPlotTestDlg::OnInitDialog();
  RefreshAllParameters();
  SetButtonImage(kPicture, "3354");
  SetChildText(kProcedureText, kestrel::FindOptional(setup_, "START_POS") != nullptr
                                   ? kProcedureWithStart
                                   : kProcedure);
  SelectTab(kTabs, kParametersPage);
  LoadImage(main_, kRoutine);
  logger_ = std::make_unique<CMC_SingleAxisLogger>(setup_, &main_);
  SetUpLogger();
  logger_->LocateItems();
  plot_.SubclassDlgItem(kPlot, this, logger_->GetDocument().GetAt(0));
  plot_.RefreshGraph();
  ShowTab(kParametersPage);
  return 1;
}

void CTestAngle::DoDataExchange() {
  CPlotTestDlg::DoDataExchange();
  EnableChildren(kIdleOnly, running_flag_ == 0);
  // The details of a failure, on the test's page.
  ShowChild(kDetailsButton, running_flag_ == 0 && result_ == 0 && !error_text_.empty());
}

void CTestAngle::OnChangedParameterValue(const char* name) {
  const auto is = [&](const char* other) {
    return name != nullptr && axis::EqualsNoCase(name, other);
  };
  if (is("Kp_T_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTKPTHT, kestrel::EncodeKPTHT});
  } else if (is("Ki_T_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTKITHT, kestrel::EncodeKITHT});
  }
  CPlotTestDlg::OnChangedParameterValue(name);
}

void CTestAngle::OnRefreshParameterValue(const char* name) {
  if (running_flag_ != 0 && name != nullptr) {
    if (axis::EqualsNoCase(name, "Kp_T_scl")) WriteToDrive({"SFTKPTHT", "KPTHT"});
    if (axis::EqualsNoCase(name, "Ki_T_scl")) WriteToDrive({"SFTKITHT", "KITHT"});
  }
  CPlotTestDlg::OnRefreshParameterValue(name);
}

void CTestAngle::OnCommand(int id) {
  switch (id) {
    case kSavePlots:
      if (logger_ && running_flag_ == 0) logger_->SaveGraph(nullptr);
      return;
    case kDetailsButton:
      ShowDetails();
      return;
    default:
      CPlotTestDlg::OnCommand(id);
  }
}

void CTestAngle::ShowDetails() {
  MessageBox(error_text_, axis::MessageButtons::kOk, axis::MessageIcon::kError, help_on_details_);
}

int CTestAngle::BeginTest() {
  RefreshAllParameters();
  double inputs[3] = {};
  const char* names[] = {"MAX_CURRENT", "REF_INC", "TIME_LIMIT"};
  for (int i = 0; i < 3; ++i) {
    const CMC_Parameter* p = kestrel::FindOptional(setup_, names[i]);
    if (p == nullptr) {
      Fail(msc_pszErrInternal);
      return 0;
    }
    inputs[i] = p->GetValueInInternalUnit();
  }
  running_flag_ = 1;
  result_ = -1;
  help_on_details_ = false;
  step_index_ = 0;
  error_text_.clear();
  DoDataExchange();
  SetInfoText(kStatus[0]);
  SetUpLogger();
  if (!WriteInputs(
          main_,
          {{"In1", inputs[0]}, {"ReferenceIncrement", inputs[1]}, {"TimeLimit", inputs[2]}}) ||
      !Launch(kRoutine, main_, logger_.get()))
    return 0;
  SetInfoText(kStatus[1]);
  return RearmTimer() ? 1 : 0;
}

void CTestAngle::OnPoll() {
  switch (step_index_) {
    case 2:
      if (PollRoutine(main_, kestrel::kShortCircuitEnableMask) != Routine::kFinished) return;
      if (!logger_ || logger_->BeginUploadData() == 0) {
        Fail(msc_pszErrInternal);
        return;
      }
      plot_.RefreshGraph();
      SetInfoText(kStatus[2]);
      [[fallthrough]];
    case 3:
      if (ReadPoints()) Judge();
      return;
    default:
      Fail(msc_pszErrInternal);
  }
}

void CTestAngle::Judge() {
  double flag = 0.0;
  std::string error;
  if (GetUserVariableValue(&main_, "test_flag", flag, error) == 0) {
    TestFailed(1);
    return;
  }
  if (flag == kUndelivered) {
    Fail(msc_pszErrInternal);
  } else if (flag == kFlagProtection) {
    Fail(kProtectionTripped);
  } else if (flag == kFlagNotStabilized) {
    help_on_details_ = true;
    double theta = 0.0;
    if (GetUserVariableValue(&main_, "theta_1", theta, error) == 0 || theta == kUndelivered) {
      Fail(kNotStabilized);
    } else {
      const std::string angle = std::to_string(kestrel::Trunc(theta));
      char text[1024];
      std::snprintf(text, sizeof text, kNotStabilizedAt, angle.c_str());
      Fail(text);
    }
  } else if (flag == kFlagCurrentTooLow) {
    Fail(kCurrentTooLow);
  } else {
    TestSucceeded(1);
  }
  DoDataExchange();
}
