// CTestCurrent: tunes the current controller and shows its step response.
//
// On the "Test Parameters" tab the user sets the test and protection currents; on the "Test" tab
// the pass band, "Tune" (the gains computed, encoded into their registers and derived back, so
// the shown gains are the drive's), and Start: the preliminary positioning routine, then
// "Current_Controller_Tuning_Test", which applies current steps while the drive records the
// current reference, the measured current and the voltage reference for the plot. Gains changed
// during a run reach the drive at once. The dialog runs with the sinusoidal voltage scale
// (g_bKufSinusoidalMode = 1); OK copies the test protection current into "Imax_Prot".
#pragma once

#include "commissioning/plot_test_dlg.h"

class CTestCurrent : public CPlotTestDlg {
 public:
  enum : int {
    kTemplate = 101,
    kTestCurrentEdit = 1120,
    kTestCurrentUnit = 1121,
    kProtectionEdit = 1303,
    kProtectionUnit = 1304,
    kFilterLabel = 3139,
    kFilterEdit = 3140,
    kFilterUnit = 3141,
    kFilterCheck = 3142,
    kOffsetUnit = 3144,
    kOffsetEdit = 3145,
    kOffsetLabel = 3146,
    kGravityCheck = 3147,
    kTune = 3149,
    kPassBandUnit = 3151,
    kPassBandSlider = 3152,
    kPassBandLower = 3153,
    kPassBandUpper = 3154,
    kPassBandEdit = 3155,
  };
  static const char* const kProtectionTripped;
  static const char* const kProtectionBelowTestCurrent;

  CTestCurrent(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  void DoDataExchange() override;
  void OnOK() override;
  void OnCommand(int id) override;
  void OnChangedParameterValue(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;
  int BeginTest() override;

 protected:
  void OnPoll() override;
  // The test current may not exceed the protection current.
  bool TestPageAllowed() override;

 private:
  void ApplyOutputRules();  // the filter and the gravitational offset: registers and ranges
  void Tune();

  CMC_CoffFormat preliminary_, main_;
  int test_current_counts_ = 0;
  int protection_counts_ = 0;
  double reftst_ = 0.0, rinctst_ = 0.0;
};
