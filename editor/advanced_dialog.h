// "Advanced": the control structure and the loop timing of the drive.
//
// The user picks which loops are closed in position mode, where position and speed control run,
// the speed estimator, the speed feed-forward and the freeze control, and edits the PWM frequency
// and the two loop dividers; the resulting periods are shown read-only. When the slow-loop period
// moves, every value the drive counts in slow-loop periods is rescaled so that its physical value
// stays, and the registers follow through both whole-setup passes.
//
// Whole-setup passes: this dialog adds no calculator to either pass. It runs
// ComputeRegistersFromParameters then ComputeParametersFromRegisters itself after a change of
// "SLPER" or "PWM_freq"; its opener runs both passes before it and applies its own rules after OK.
//
// The pictures of the control structure (3016, 3017, 3060, 3061) are named on the picture control;
// the front end loads them. No test dialog is opened from here.
#pragma once

#include "editor/my_setup_dlg.h"

class CAdvancedDialog : public CMySetupDlg {
 public:
  // Control ids of the template.
  enum : int {
    kPicture = 3280,
    kCloseOnlyPosition = 3344,
    kClosePositionSpeed = 3345,
    kLoopPlacementGroup = 3347,
    kSlowLoopPlacement = 1146,
    kFastLoopPlacement = 1147,
    kSpeedComputationGroup = 3355,
    kSpeedEstimator = 3356,
    kFastDividerLabel = 1131,
    kFastDivider = 1132,
    kSlowDividerLabel = 1134,
    kSlowDivider = 1135,
    kPwmFrequency = 1129,
    kPwmFrequencyUnit = 1130,
    kFastPeriodLabel = 1140,
    kFastPeriod = 1141,
    kFastPeriodUnit = 1142,
    kSlowPeriodLabel = 1143,
    kSlowPeriod = 1144,
    kSlowPeriodUnit = 1145,
    kPwmPeriod = 1138,
    kPwmPeriodUnit = 1139,
    kFastOutsideLimits = 1148,
    kSlowOutsideLimits = 1149,
    kFeedForwardGroup = 3376,
    kFeedForwardSpeedLoop = 3374,
    kFeedForwardCurrentLoop = 3375,
    kFreezeGroup = 3391,
    kFreezeCheck = 3392,
    kFreezeErrorBand = 3395,
    kFreezeErrorBandUnit = 3396,
    kFreezeTime = 3397,
    kFreezeTimeUnit = 3398,
  };
  // Text colours of the divider and period rows.
  static constexpr int kNormalColour = axis::kDefaultTextColour;
  static constexpr int kRedColour = 0x0000FF;

  CAdvancedDialog(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  void DoDataExchange() override;
  void OnOK() override;
  void OnCommand(int id) override;
  void OnChangedParameterValue(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;

  double ReferenceSlowPeriod() const { return reference_slow_s_; }

 private:
  bool PositionMode();
  bool CascadedPositionLoop();  // position mode closing the speed loop too
  void RefreshDialog() { DoDataExchange(); }
  void RescaleSlowLoopCounts();
  void FollowSlowPeriod();
  // Marks a loop's divider and period labels red, and shows its mark, when its period is below
  // the minimum.
  void ShowOutsideLimits(double minimum_s, double period_s, std::initializer_list<int> labels,
                         int mark);

  double reference_slow_s_ = 0.0;
  double remembered_fast_s_ = 0.0;
  double remembered_slow_s_ = 0.0;
};
