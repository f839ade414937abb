// CTotalMassTest: identifies the total moving mass "Mt" (motor and load).
//
// After the preliminary positioning, the main routine pushes the motor with the test current (a
// known force, Kf x I) and reports how many slow-loop periods it took ("delta_time") to change the
// speed by "delta_speed": Mt = force x time / speed change. The routine stops the motor before
// "TestMaxSpeed" and trips at "TestProtectionCurrent". Closing after a run that found a new mass
// asks whether to keep it; OK also makes the test's protection current the drive's.
#pragma once

#include "commissioning/my_test_dlg.h"

class CTotalMassTest : public CMyTestDlg {
 public:
  enum : int {
    kTemplate = 3041,
    kTestCurrentEdit = 1005,
    kTestCurrentUnit = 1017,
    kMassEdit = 3263,
    kMassUnit = 3264,
    kProtectionEdit = 3265,
    kProtectionUnit = 3266,
    kMaxSpeedEdit = 3267,
    kMaxSpeedUnit = 3268,
  };
  static const char* const kProtectionBelowTestCurrent;
  static const char* const kNoSpeedChange;

  CTotalMassTest(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  void OnCommand(int id) override;
  void OnOK() override;
  void OnCancel() override;
  int BeginTest() override;

  double IdentifiedMass() const { return identified_kg_; }

 protected:
  void OnPoll() override;

 private:
  void Analyse();

  CMC_CoffFormat preliminary_, main_;
  int test_current_counts_ = 0;
  int speed_limit_counts_ = 0;
  int protection_counts_ = 0;
  double reftst_ = 0.0, rinctst_ = 0.0;
  double saved_kg_ = 0.0;
  double identified_kg_ = 0.0;
};
