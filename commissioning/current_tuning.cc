#include "commissioning/current_tuning.h"

#include <algorithm>

#include "conversions/calculator.h"
#include "conversions/gains.h"
#include "host/text.h"
#include "tuning/tuning_service.h"

namespace {

constexpr const char* kMainRoutine = "Current_Controller_Tuning_Test";
constexpr const char* kStatus[] = {"Launching the application for preliminary test",
                                   "Waiting preliminary test to be finished",
                                   "Launching the application for test",
                                   "Running test",
                                   "Uploading results",
                                   "Test running. Press \"Stop\" to end the test"};
constexpr const char* kProcedure =
    "1. Check/setup the test parameters below\r\n2. Go to the \"Test\" tab and press the \"Tune\" "
    "button\r\n3. Set the desired passband and tune the controller\r\n4. Press the \"Start\" "
    "button\r\n5. Wait until the test ends and displays the results\r\n6. If needed, change the "
    "controller parameters during the test, until you get satisfactory results";

// The controls that only move while no test runs.
constexpr int kIdleOnly[] = {axis::kIdOk,
                             CTestCurrent::kKpEdit,
                             CTestCurrent::kKpLower,
                             CTestCurrent::kKpSlider,
                             CTestCurrent::kKpUpper,
                             CTestCurrent::kKiEdit,
                             CTestCurrent::kKiLower,
                             CTestCurrent::kKiSlider,
                             CTestCurrent::kKiUpper,
                             0};

}  // namespace

const char* const CTestCurrent::kProtectionTripped =
    "Test failed!\nCurrent protection triggered during test!";
const char* const CTestCurrent::kProtectionBelowTestCurrent =
    "Over current protection must be greater or equal to Test current.";

CTestCurrent::CTestCurrent(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CPlotTestDlg(setup, kTemplate, parent) {
  step_count_ = 5;
  AddParameterControls("TestCurrent", kTestCurrentEdit, kTestCurrentUnit);
  AddParameterControls("TestProtectionCurrent", kProtectionEdit, kProtectionUnit);
  AddGainSlider("Kp_C_scl", kKpSlider, kKpEdit, 0, kKpLower, kKpUpper);
  AddGainSlider("Ki_C_scl", kKiSlider, kKiEdit, 0, kKiLower, kKiUpper);
  AddGainSlider("PB_C", kPassBandSlider, kPassBandEdit, kPassBandUnit, kPassBandLower,
                kPassBandUpper);
  AddCheckParameterControls("isUseFilterOnCrtCtrlOutput", kFilterCheck);
  AddParameterControls("FilterOnCurrentControllerOutput", kFilterEdit, kFilterUnit);
  AddCheckParameterControls("isCompensateGravitationalLoads", kGravityCheck);
  AddParameterControls("OffsetCurrent", kOffsetEdit, kOffsetUnit);
}

int CTestCurrent::OnInitDialog() {
  CPlotTestDlg::OnInitDialog();
  RefreshAllParameters();
  SetButtonImage(kPicture, "3015");
  SetChildText(kProcedureText, kProcedure);
  SelectTab(kTabs, kParametersPage);
  LoadImage(preliminary_, kestrel::kPreliminaryRoutine);
  LoadImage(main_, kMainRoutine);
  logger_ = std::make_unique<CMC_SingleAxisLogger>(setup_, &main_);
  logger_->ChangeSettings(100, 2, 1);
  for (const char* name : {"Current_Reference", "Motor_Current", "Voltage_Reference"})
    logger_->AddVariable(name, 1);
  logger_->CorrectPointsNo();
  CGraphFilter& curves = *logger_->GetDocument().GetAt(0);
  curves.Add(CXYCurve(0, 1, 1, RGB16(2), 2));  // the reference
  curves.Add(CXYCurve(0, 3, 2, RGB16(8), 2));  // the voltage, on the right axis
  curves.Add(CXYCurve(0, 2, 1, RGB16(5), 2));  // the measured current
  logger_->LocateItems();
  plot_.SubclassDlgItem(kPlot, this, &curves);
  plot_.RefreshGraph();
  ShowTab(kParametersPage);
  return 1;
}

void CTestCurrent::DoDataExchange() {
  CPlotTestDlg::DoDataExchange();
  EnableChildren(kIdleOnly, running_flag_ == 0);
  const auto flag = [&](const char* name) {
    const CMC_Parameter* p = kestrel::FindOptional(setup_, name);
    return p != nullptr && kestrel::Trunc(p->GetValueInBaseUnit()) != 0;
  };
  const int filter[] = {kFilterLabel, kFilterEdit, kFilterUnit, 0};
  const int offset[] = {kOffsetUnit, kOffsetEdit, kOffsetLabel, 0};
  ShowChildren(filter, flag("isUseFilterOnCrtCtrlOutput"));
  ShowChildren(offset, flag("isCompensateGravitationalLoads"));
}

bool CTestCurrent::TestPageAllowed() {
  const auto value = [&](const char* name) { return setup_.GetParameterValueInBaseUnit(name); };
  if (value("TestCurrent") <= value("TestProtectionCurrent")) return true;
  MessageBox(kProtectionBelowTestCurrent, axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
  return false;
}

void CTestCurrent::OnChangedParameterValue(const char* name) {
  const auto is = [&](const char* other) {
    return name != nullptr && axis::EqualsNoCase(name, other);
  };
  if (is("Kp_C_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTKPI, kestrel::EncodeKPI});
  } else if (is("Ki_C_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTKII, kestrel::EncodeKII});
  } else if (is("OffsetCurrent")) {
    kestrel::EncodeFFL(setup_);
  } else if (is("FilterOnCurrentControllerOutput")) {
    kestrel::EncodeFILTERQ(setup_);
  } else if (is("isUseFilterOnCrtCtrlOutput") || is("isCompensateGravitationalLoads")) {
    ApplyOutputRules();
  }
  CPlotTestDlg::OnChangedParameterValue(name);
}

void CTestCurrent::OnRefreshParameterValue(const char* name) {
  if (running_flag_ != 0 && name != nullptr) {
    if (axis::EqualsNoCase(name, "Kp_C_scl")) WriteToDrive({"SFTKPI", "KPI"});
    if (axis::EqualsNoCase(name, "Ki_C_scl")) WriteToDrive({"SFTKII", "KII"});
  }
  CPlotTestDlg::OnRefreshParameterValue(name);
}

void CTestCurrent::ApplyOutputRules() {
  kestrel::RunAll(setup_,
                  {kestrel::EncodeFILTERQ, kestrel::EncodeFFL, kestrel::DeriveOffsetCurrent});
  DoDataExchange();
  RefreshAllParameters();
}

void CTestCurrent::Tune() {
  // The gains as the registers hold them: computed, encoded, derived back.
  kestrel::TuneAndEncode(setup_, kestrel::Loop::kCurrent);
  if (running_flag_ != 0) WriteToDrive({"SFTKPI", "KPI", "SFTKII", "KII"});
  RefreshAllParameters();
}

void CTestCurrent::OnCommand(int id) {
  switch (id) {
    case kTune:
      Tune();
      return;
    case kSavePlots:
      if (logger_ && running_flag_ == 0) logger_->SaveGraph("CurrentTuning");
      return;
    default:
      CPlotTestDlg::OnCommand(id);
  }
}

void CTestCurrent::OnOK() {
  CPlotTestDlg::OnOK();
  setup_.SetParameterValueInBaseUnit("Imax_Prot",
                                     setup_.GetParameterValueInBaseUnit("TestProtectionCurrent"));
}

int CTestCurrent::BeginTest() {
  RefreshAllParameters();
  kestrel::RunAll(setup_,
                  {kestrel::EncodeFILTERQ, kestrel::EncodeFFL, kestrel::DeriveOffsetCurrent});
  if (!CurrentCounts("TestCurrent", test_current_counts_) ||
      !CurrentCounts("TestProtectionCurrent", protection_counts_))
    return 0;
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  DoDataExchange();
  SetInfoText(kStatus[0]);
  return StartPreliminary(preliminary_, test_current_counts_, kStatus[1]) ? 1 : 0;
}

void CTestCurrent::OnPoll() {
  constexpr unsigned kMask = kestrel::kShortCircuitEnableMask;
  switch (step_index_) {
    case 2:
      if (!PreliminaryFinished(preliminary_, reftst_, &rinctst_)) return;
      SetInfoText(kStatus[2]);
      [[fallthrough]];
    case 3:
      if (!WriteInputs(main_, {{"RefTest", reftst_},
                               {"RIncTest", rinctst_},
                               {"In1", static_cast<double>(test_current_counts_)},
                               {"Imax_Prot_Test", static_cast<double>(protection_counts_)}}) ||
          !Launch(kMainRoutine, main_, logger_.get()))
        return;
      SetInfoText(kStatus[3]);
      RearmTimer();
      return;
    case 4: {
      double flag = 0.0;
      if (PollRoutine(main_, kMask) != Routine::kFinished || !ReadResult(main_, "test_flag", flag))
        return;
      if (flag <= 0.0) {
        Fail(kProtectionTripped);
        return;
      }
      if (!logger_ || logger_->BeginUploadData() == 0) {
        Fail(msc_pszErrInternal);
        return;
      }
      plot_.RefreshGraph();
      SetInfoText(kStatus[4]);
      if (ReadPoints()) TestSucceeded(1);
      return;
    }
    case 5:
      if (ReadPoints()) TestSucceeded(1);
      return;
    default:
      Fail(msc_pszErrInternal);
  }
}
