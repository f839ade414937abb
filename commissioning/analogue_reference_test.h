// CTestAnalogueRef: checks the analogue reference input.
//
// "Analogue_Reference_Test" keeps the drive's reading of the input, "AD5", up to date while the
// dialog shows it side by side as the input voltage and as the command the drive derives from it
// (a position, speed or current according to "ControlMode"), each as a number and a bar. The
// test has no verdict of its own: Stop ends it as a success at the next tick, unless a short
// circuit or a failed read ended it first. The setup is never changed.
#pragma once

#include <string>

#include "commissioning/my_test_dlg.h"
#include "host/plot.h"

class CTestAnalogueRef : public CMyTestDlg {
 public:
  enum : int {
    kTemplate = 104,
    kVoltageEdit = 1010,
    kCommandEdit = 1011,
    kCommandLabel = 1013,
    kVoltageBar = 1014,
    kCommandBar = 1015,
    kVoltageUnit = 1016,
    kCommandUnit = 1017,
  };
  // "AD5" at the top of its range: a 10-bit reading in the upper bits of a 16-bit word.
  static constexpr double kFullScale = 65472.0;

  CTestAnalogueRef(CMC_Setup& setup, CMC_EditSetupDlg* parent);
  ~CTestAnalogueRef() override;

  int OnInitDialog() override;
  void OnCommand(int id) override;
  int BeginTest() override;

  const CBarGraph& VoltageBar() const { return voltage_bar_; }
  const CBarGraph& CommandBar() const { return command_bar_; }

 protected:
  void OnPoll() override;

 private:
  struct Range {
    double min = 0.0, max = 0.0;
  };
  void Show(CBarGraph& bar, const Range& range, double value);

  Range voltage_, command_;
  bool command_known_ = false;  // "ControlMode" names a command this test can show
  std::string command_label_;
  CBarGraph voltage_bar_, command_bar_;
  CMC_CoffFormat image_;
};
