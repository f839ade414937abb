// CTestPhaseConnections: checks that the motor's phases are wired to the drive as they should be.
//
// After the preliminary positioning routine, "Motor_Phase_Connection_Test" drives the test current
// into phase A and leaves the currents of phases A and B in "var_i1" and "var_i2". The wiring is
// good when phase A carries about the test current and phase B about minus half of it. Nothing
// is written to the setup but the test current the user edits.
#pragma once

#include "commissioning/my_test_dlg.h"
#include "host/plot.h"

class CTestPhaseConnections : public CMyTestDlg {
 public:
  enum : int {
    kTemplate = 288,
    kTestCurrentEdit = 1005,
    kTestCurrentUnit = 1017,
    kPhaseAEdit = 1020,
    kPhaseABar = 1021,
    kPhaseBEdit = 1022,
    kPhaseBBar = 1023,
  };
  static const char* const kFailureText;

  CTestPhaseConnections(CMC_Setup& setup, CMC_EditSetupDlg* parent);
  ~CTestPhaseConnections() override;

  int OnInitDialog() override;
  void DoDataExchange() override;
  int BeginTest() override;
  void OnChangedParameterValue(const char* name) override;

  double PhaseA_A() const { return phase_a_A_; }
  double PhaseB_A() const { return phase_b_A_; }

 protected:
  void OnPoll() override;

 private:
  double TestCurrent_A();
  void ShowBars();
  void Analyse();

  CBarGraph bar_a_, bar_b_;
  CMC_CoffFormat main_, preliminary_;
  double phase_a_A_ = 0.0, phase_b_A_ = 0.0;
  int test_current_counts_ = 0;
  double reftst_ = 0.0, rinctst_ = 0.0;
};
