#include "commissioning/plot_test_dlg.h"

#include <algorithm>

#include "conversions/calculator.h"
#include "host/platform.h"

CPlotTestDlg::CPlotTestDlg(CMC_Setup& setup, int template_id, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, template_id, 1, parent) {}

// The plot is a member: it leaves its control before it is destroyed, ahead of the dialog base.
CPlotTestDlg::~CPlotTestDlg() { AttachCustom(kPlot, nullptr); }

void CPlotTestDlg::ShowTab(int page) {
  SelectTab(kTabs, page);
  DoDataExchange();
  if (page == kParametersPage) {
    ShowChild(kDetailsButton, 0);
    return;
  }
  // The last verdict stays in view on the test page.
  if (result_ == 1) {
    TestSucceeded(0);
  } else if (!error_text_.empty()) {
    TestFailed(0);
  }
}

void CPlotTestDlg::OnTabChanged(int id, int page) {
  if (id != kTabs) return CMyTestDlg::OnTabChanged(id, page);
  if (page == kParametersPage && running_flag_ != 0) {
    SelectTab(kTabs, kTestPage);  // the test runs on its page
    return;
  }
  if (page == kTestPage && !TestPageAllowed()) {
    SelectTab(kTabs, kParametersPage);
    return;
  }
  ShowTab(page);
}

void CPlotTestDlg::AddGainSlider(const char* name, int slider, int edit, int unit, int lower,
                                 int upper) {
  const CMC_Parameter* p = kestrel::FindOptional(setup_, name);
  if (p == nullptr) return;
  const double value = p->GetValueInBaseUnit();
  AddSliderParameterControls(name, slider, edit, unit, lower, upper,
                             std::max(p->GetMinInBaseUnit(), 0.5 * value),
                             std::min(p->GetMaxInBaseUnit(), 1.5 * value));
}

void CPlotTestDlg::OnCommand(int id) {
  CMyTestDlg::OnCommand(id);
  if (id == kStartStop) DoDataExchange();
}

void CPlotTestDlg::OnTimer(int id) {
  CMyTestDlg::OnTimer(id);
  // A run that has ended gives OK and the gain controls back to the user.
  if (running_flag_ == 0) DoDataExchange();
}

bool CPlotTestDlg::WriteToDrive(std::initializer_list<const char*> registers) {
  for (const char* name : registers) {
    CMC_Parameter* reg = kestrel::FindOptional(setup_, name);
    if (reg == nullptr || reg->WriteToChip() == 0) return false;
  }
  return true;
}

bool CPlotTestDlg::ReadPoints() {
  plot_.DoZoomOut();
  while (logger_->ReadPoint(nullptr) != 0) {
    plot_.UpdateLastPoint();
    // The user may press Stop while the points come in.
    if (axis::Platform* platform = axis::GetPlatform()) platform->DispatchPendingMessages();
    if (continuous_run_ == 1 && stop_request_ != 0) break;
    if (running_flag_ == 0 && continuous_run_ == 0) {
      plot_.DoZoomOut();
      return false;
    }
  }
  logger_->EndUploadData();
  plot_.DoZoomOut();
  return true;
}
