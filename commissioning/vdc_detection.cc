#include "commissioning/vdc_detection.h"

#include "conversions/calculator.h"
#include "conversions/scales.h"
#include "host/number_text.h"

namespace {

constexpr const char* kRoutine = "VDC_Detection_Test";
constexpr const char* kStatus[] = {"Launching test", "Running test"};

}  // namespace

CTestVdcDetection::CTestVdcDetection(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kTemplate, 1, parent) {
  saved_vdc_V_ = setup_.GetParameterValueInBaseUnit("Vdc");
  AddParameterControls("Vdc", kVdcEdit, kVdcUnit);
  step_count_ = 2;
}

int CTestVdcDetection::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  LoadImage(image_, kRoutine);
  return 1;
}

int CTestVdcDetection::BeginTest() {
  SetChildText(kVdcEdit, "");
  SetChildText(kVdcUnit, "");
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  SetInfoText(kStatus[0]);
  if (!Launch(kRoutine, image_)) return 0;
  SetInfoText(kStatus[1]);
  return RearmTimer() ? 1 : 0;
}

void CTestVdcDetection::OnPoll() {
  if (step_index_ != 2) {
    Fail(msc_pszErrInternal);
    return;
  }
  if (PollRoutine(image_, kestrel::kShortCircuitMask) != Routine::kFinished) return;
  double reading = 0.0, counts_per_volt = 0.0;
  if (!ReadDriveVariable("var_u2", false, reading)) return;
  CMC_Parameter* vdc = kestrel::FindOptional(setup_, "Vdc");
  if (vdc == nullptr || !kestrel::VdcScale(setup_, counts_per_volt) || !(counts_per_volt > 0.0)) {
    Fail(msc_pszErrInternal);
    return;
  }
  vdc->SetValueInBaseUnit(reading / counts_per_volt);
  RefreshParameterControls("Vdc");
  TestSucceeded(1);
}

void CTestVdcDetection::OnCancel() {
  const double now_V = setup_.GetParameterValueInBaseUnit("Vdc");
  const std::string old_text = axis::FormatNumberG(saved_vdc_V_, 6);
  const std::string new_text = axis::FormatNumberG(now_V, 6);
  std::vector<kestrel::ChangedValue> changed;
  if (old_text != new_text) changed.push_back({"Power supply", old_text, new_text});
  switch (AskToKeepValues(changed)) {
    case axis::kIdYes:
      EndDialog(axis::kIdOk);
      return;
    case axis::kIdCancel:
      return;
    case axis::kIdNo:
      // The refused measurement does not stay in the setup.
      setup_.SetParameterValueInBaseUnit("Vdc", saved_vdc_V_);
      break;
    default:
      break;
  }
  CMyTestDlg::OnCancel();
}
