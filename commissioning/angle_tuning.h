// CTestAngle: tunes the electric angle controller of the motionless start.
//
// "Angle_Controller_Tuning_Test" raises the current step by step ("In1" the test current,
// "ReferenceIncrement" the step, "TimeLimit" the time it then has to settle) while the angle
// controller turns the electrical angle toward the mover's magnetic axis; the drive records the
// motor current and the electrical angle for the plot. The gains "Kp_T_scl" and "Ki_T_scl" act
// live during the run. The routine's "test_flag" gives the verdict: -1 the current protection
// tripped, -2 the angle did not settle (its final value in "theta_1"), -3 the test current is too
// low to move the mover, anything else success. The setup changes through the gains only.
//
// The number of points recorded and the decimation come from the setup's "AquisitionsNo" and
// "SamplingRate" when it has them; otherwise the dialog keeps its own (2000 points, 10 to 5000;
// every 2nd period, 1 to 200).
#pragma once

#include <memory>

#include "commissioning/plot_test_dlg.h"

class CTestAngle : public CPlotTestDlg {
 public:
  enum : int {
    kTemplate = 3057,
    kTestCurrentEdit = 3362,
    kTestCurrentUnit = 3363,
    kIncrementEdit = 3365,
    kIncrementUnit = 3366,
    kTimeLimitEdit = 3368,
    kTimeLimitUnit = 3369,
    kAcquisitionsEdit = 3357,
    kSamplingEdit = 3359,
  };
  // Status texts 4 to 7: the routine's verdicts.
  static const char* const kProtectionTripped;
  static const char* const kNotStabilized;
  static const char* const kNotStabilizedAt;  // %s: the final angle
  static const char* const kCurrentTooLow;

  CTestAngle(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  void DoDataExchange() override;
  void OnCommand(int id) override;
  void OnChangedParameterValue(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;
  int BeginTest() override;

  // The record's length and decimation as the logger is set up (the setup's or the dialog's own).
  int AcquisitionPoints();
  int SamplingEvery();

 protected:
  void OnPoll() override;

 private:
  void SetUpLogger();
  void Judge();
  void ShowDetails();

  CMC_CoffFormat main_;
  std::unique_ptr<CMC_Parameter> own_acquisitions_, own_sampling_;
  bool help_on_details_ = false;
};
