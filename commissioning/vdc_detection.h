// CTestVdcDetection: measures the DC-bus voltage and proposes it as "Vdc".
//
// One routine, "VDC_Detection_Test", leaves the bus reading in "var_u2" (ADC counts); the test
// divides it by the DC-bus scale and sets "Vdc" at once. Closing after a successful run asks
// whether to keep the new value; No puts the old one back.
#pragma once

#include "commissioning/my_test_dlg.h"

class CTestVdcDetection : public CMyTestDlg {
 public:
  enum : int { kTemplate = 105, kVdcEdit = 1012, kVdcUnit = 1013 };

  CTestVdcDetection(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  int BeginTest() override;
  void OnCancel() override;

 protected:
  void OnPoll() override;

 private:
  CMC_CoffFormat image_;
  double saved_vdc_V_ = 0.0;
};
