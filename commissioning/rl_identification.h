// CTestRL: identifies the motor's phase resistance "R" and inductance "L".
//
// Five routines in a row: the preliminary positioning and a resistance run at the full test
// current, the same pair at half of it, then an inductance run. The resistance follows from the
// difference of the voltages that held the two currents (the dead band's loss cancels out), the
// inductance from the current's answer to a voltage turning at a known frequency. The resistance
// run measures the DC bus as well: "Vdc" holds the measured value from then until the dialog
// closes, so that the voltage scale is the true one; it is put back whatever the user decides.
// The dialog runs with the sinusoidal voltage scale (g_bKufSinusoidalMode = 1).
#pragma once

#include <memory>

#include "commissioning/my_test_dlg.h"
#include "host/logger.h"

class CTestRL : public CMyTestDlg {
 public:
  enum : int {
    kTemplate = 290,
    kResistanceEdit = 1002,
    kInductanceEdit = 1003,
    kTestCurrentEdit = 1005,
    kTestCurrentUnit = 1017,
    kResistanceUnit = 3128,
    kInductanceUnit = 3129,
  };

  CTestRL(CMC_Setup& setup, CMC_EditSetupDlg* parent);
  ~CTestRL() override;

  int OnInitDialog() override;
  int BeginTest() override;
  void OnCancel() override;

 protected:
  void OnPoll() override;

 private:
  // The logger set up for one run: its settings, then the variables in order.
  void SetUpLogger(int log_type, std::initializer_list<const char*> variables);
  // The means of the record (see the .cc); false (the run failed) without a record or a point.
  bool UploadMeans(double& mean_iq, double* mean_id, double* mean_square);
  bool LaunchResistanceRun(int current_counts, int log_type);
  void AnalyseResistance();
  void AnalyseInductance();
  void RestoreVdc();

  CMC_CoffFormat preliminary_, resistance_, inductance_;
  std::unique_ptr<CMC_SingleAxisLogger> logger_;
  int test_current_counts_ = 0;
  double saved_vdc_V_ = 0.0, saved_r_Ohm_ = 0.0, saved_l_H_ = 0.0;
  double reftst_ = 0.0, rinctst_ = 0.0;
  double u1_ = 0.0, i1_ = 0.0;
  double r_Ohm_ = 0.0, l_H_ = 0.0;
};
