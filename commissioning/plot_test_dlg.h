// CPlotTestDlg: the base of the tests on two tabs whose routine's record is plotted (the current
// and the electric angle controller tests).
//
// The "Test Parameters" tab holds what the run needs, the "Test" tab the controller's gains, the
// plot, Start and the verdict. While a run goes on the test stays on its tab; the verdict shows
// again whenever the "Test" tab is shown. Gains changed during a run reach the drive at once.
#pragma once

#include <initializer_list>
#include <memory>

#include "commissioning/my_test_dlg.h"
#include "host/logger.h"
#include "host/plot.h"

class CPlotTestDlg : public CMyTestDlg {
 public:
  enum : int {
    kTabs = 1300,
    kPicture = 1123,
    kPlot = 1361,
    kSavePlots = 1372,
    kProcedureText = 1377,
    // Every plotted test's proportional and integral gain: edit, lower spin, slider, upper spin.
    kKpEdit = 1335,
    kKpLower = 1336,
    kKpSlider = 1337,
    kKpUpper = 1338,
    kKiEdit = 1340,
    kKiLower = 1341,
    kKiSlider = 1342,
    kKiUpper = 1343,
  };
  static constexpr int kParametersPage = 0;
  static constexpr int kTestPage = 1;

  ~CPlotTestDlg() override;

  void OnTimer(int id) override;
  void OnTabChanged(int id, int page) override;
  // Start/Stop: a run refused at its start, or stopped, gives back what it held.
  void OnCommand(int id) override;

  CGraphWindow& Plot() { return plot_; }
  CMC_SingleAxisLogger* Logger() { return logger_.get(); }

 protected:
  CPlotTestDlg(CMC_Setup& setup, int template_id, CMC_EditSetupDlg* parent);

  // Whether the "Test" tab may be shown now (a test may first check its parameters).
  virtual bool TestPageAllowed() { return true; }
  void ShowTab(int page);
  // A gain's slider, edit, unit list (or 0) and bound spins; the slider spans half to one and a
  // half times the value, within the parameter's range. Nothing when the setup lacks the gain.
  void AddGainSlider(const char* name, int slider, int edit, int unit, int lower, int upper);
  // Writes registers to the running drive in order, each only when the one before was written.
  bool WriteToDrive(std::initializer_list<const char*> registers);
  // Reads the recorded points into the plot, letting the user act meanwhile. True when the
  // record was read (or a continuous run was asked to stop); false when a Stop ended the run.
  bool ReadPoints();

  CGraphWindow plot_{2, 0};
  std::unique_ptr<CMC_SingleAxisLogger> logger_;
};
