// "External Reference Setup": where the drive takes its set-point from when driven from outside.
//
// Either the analogue input (its voltage span mapped onto the range of the controlled quantity,
// with a dead band, an optional filter and an optional limit) or, in position control only, a
// digital reference (pulse and direction, or an incremental encoder) with a gear ratio. The
// analogue controls exist only when the drive has the analogue input (the variable and the
// parameter "CADIN"); which quantity they edit follows "ControlMode" at construction.
//
// Whole-setup passes: this dialog adds no calculator to either pass; the reference conversions and
// their ranges are in conversions/reference.h. Values go into the setup as the user edits them.
//
// "&Test" (enabled with the analogue reference) runs the analogue reference test between two runs
// of both passes. The characteristic pictures are 3003 (position), 3044 (speed) and 3002
// (current).
#pragma once

#include "editor/my_setup_dlg.h"

class CAnalogReferenceDlg : public CMySetupDlg {
 public:
  enum : int {
    kTest = 1000,
    kUseFilter = 1001,
    kFilterLabel = 1002,
    kFilter = 1003,
    kFilterUnit = 1004,
    kMaximum = 1006,
    kMaximumLabel = 1007,
    kMinimum = 1008,
    kMinimumLabel = 1009,
    kDeadBandPoint = 1010,
    kDeadBandRange = 1012,
    kPicture = 1014,
    kMaximumUnit = 1015,
    kDeadBandPointUnit = 1016,
    kLimitCheck = 3116,
    kLimitUnit = 3136,
    kOtherLimitUnit = 3137,
    kDigital = 3289,
    kAnalogue = 3290,
    kPulseDirection = 3291,
    kIncrementalEncoder = 3292,
    kGearLabel = 3294,
    kGearSlave = 3295,
    kGearMaster = 3296,
    kGearLast = 3300,
    kLimit = 3302,
    kOtherLimit = 3304,
    kInputHigh = 3327,
    kInputLow = 3328,
  };

  CAnalogReferenceDlg(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  void OnCommand(int id) override;
  void OnChangedParameterValue(const char* name) override;
  void OnChangedParameterUnit(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;

 private:
  // Settings read afresh from the setup.
  bool Analogue();  // the analogue source is selected
  bool Limited();   // the limit is checked
  void RefreshControls();
  void ShowFilter();
  void SetLimitText();

  bool has_input_;  // the drive has the analogue input
  int mode_;        // "ControlMode" at construction: 0 position, 1 speed, 2 current
};
