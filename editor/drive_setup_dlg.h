// "Drive Setup": the main editor of the drive, run by EditSetup.
//
// It shows the control mode, the external reference, the supply and current limit, the three
// controllers, the protections, the brake resistor, the input polarities, the software limit
// switches, the start mode and the CAN settings; keeps the enabling of its controls consistent
// with the choices made; opens the secondary dialogs; and leads the user through ten guideline
// steps ("Previous" / "Next").
//
// Whole-setup passes: the dialog adds no calculator to either pass. Built on a setup it derives
// the physical values (ComputeParametersFromRegisters), fixes the tuning and reference limits
// (ComputeParameterLimits) and applies the speed feed-forward rule. Every secondary dialog opens
// the same way (RunSecondary): encode pass, derive pass, then it is built and run; when it ends
// with OK both passes run again, the controls are refreshed and the enabling rules re-applied.
// OK runs the encode pass and SetCapabilityOptions, then closes.
//
// Secondary dialogs: "Motor setup" (CMotorSetupDialog, button 10019; it also opens by itself,
// without the passes before it, 100 ms after this dialog appears - timer 2), "Advanced"
// (CAdvancedDialog; on OK without a speed loop the speed feed-forward, and with the loops in the
// fast loop the acceleration feed-forward too, is cleared), "Setup" of the external reference
// (CAnalogReferenceDlg, after the parameter limits are fixed again), "Drive Info" (CDriveInfo; its
// OK changes no enabling).
//
// The commissioning tests do not exist yet. Their buttons stay visible and disabled whatever the
// enabling rules say: "Detect" (3171, DC voltage detection), the "Tune && Test" buttons of the
// current (3137), speed (3178) and position (3198) controllers and of the start mode (3370,
// electric angle controller).
//
// The input type. Where the drive's inputs can be either type (host option
// "IsInputsTypeProgrammable" 1 and "InputsPolarityType" present) the user picks source or sink;
// switching the type inverts the three polarity switches so that each input keeps its electrical
// level, and relabels the two polarity lines. Choosing the type already shown changes nothing.
//
// CAN: the bit-rate combo (6303) and "CANopen settings..." (6304) belong to the host
// (CMC_EditSetupDlg::EnableCANSettings, host/can_settings.h). With the store switches
// "save_CAN_baudrate" and "save_axis_id" present, the bit rate is offered only while it is to be
// stored (and the setup has a bit rate to store it in) and the axis ID likewise.
#pragma once

#include <string>

#include "editor/my_setup_dlg.h"

class CDriveSetupDlg : public CMySetupDlg {
 public:
  static constexpr int kTemplateId = 106;
  static constexpr int kMotorSetupTimer = 2;

  // Control ids of the template.
  enum : int {
    // Control mode, commutation, external reference.
    kPosition = 5101,
    kSpeed = 5102,
    kTorque = 5103,
    kTrapezoidal = 5201,
    kSinusoidal = 5202,
    kReferenceNo = 5301,
    kReferenceYes = 5302,
    kReferenceSetup = 3208,
    kAutoActivated = 5303,
    kDigitalReference = 3318,
    kAnalogueReference = 3319,
    // Drive operation parameters and current controller.
    kSupply = 3163,
    kSupplyUnit = 3166,
    kDetect = 3171,
    kCurrentLimit = 3169,
    kCurrentLimitUnit = 3170,
    kKpCurrent = 3173,
    kKiCurrent = 3176,
    kTuneCurrent = 3137,
    // Speed controller.
    kSpeedGroup = 5600,
    kKpSpeedLabel = 5601,
    kKpSpeed = 3179,
    kTuneSpeed = 3178,
    kKiSpeedLabel = 5602,
    kKiSpeed = 3180,
    kSpeedIntegralLabel = 5603,
    kSpeedIntegral = 3181,
    kSpeedIntegralUnit = 3182,
    kSpeedFeedForwardLabel = 5604,
    kSpeedAccelerationLabel = 5605,
    kSpeedAcceleration = 3183,
    kSpeedSpeedLabel = 5606,
    kSpeedSpeed = 3389,
    // Position controller.
    kPositionGroup = 5700,
    kKpPositionLabel = 5701,
    kKpPosition = 3190,
    kTunePosition = 3198,
    kKiPositionLabel = 5702,
    kKiPosition = 3191,
    kKdPositionLabel = 5703,
    kKdPosition = 3192,
    kKdFilterLabel = 5704,
    kKdFilter = 3193,
    kPositionIntegralLabel = 5705,
    kPositionIntegral = 3194,
    kPositionIntegralUnit = 3195,
    kPositionFeedForwardLabel = 5706,
    kPositionSpeedLabel = 5707,
    kPositionSpeed = 3196,
    kPositionAccelerationLabel = 5708,
    kPositionAcceleration = 3197,
    kLoadSpeedLimitLabel = 5709,
    kLoadSpeedLimit = 1043,
    kLoadSpeedLimitUnit = 1044,
    // Protections (each row: check, caption, edit, unit, caption, edit, unit).
    kOverCurrent = 5801,
    kPositionError = 5811,
    kSpeedError = 5821,
    kMotorOverTemperature = 5831,
    kMotorI2t = 5841,
    // External brake resistor.
    kBrakeResistor = 5901,
    kBrakeLevelLabel = 5902,
    kBrakeLevel = 5903,
    kBrakeLevelUnit = 5904,
    // Inputs polarity.
    kUpperPolarityLine = 3399,
    kLowerPolarityLine = 3400,
    kEnableLabel = 6010,
    kEnableLow = 6011,
    kEnableHigh = 6012,
    kLimitPlusHigh = 6021,
    kLimitPlusLow = 6022,
    kLimitMinusHigh = 6031,
    kLimitMinusLow = 6032,
    kSourceInputs = 6041,
    kSinkInputs = 6042,
    // Software limit switches.
    kLimitsGroup = 6100,
    kLimitsCheck = 6101,
    kNegativeLimit = 6103,
    kPositiveLimit = 6106,
    // Start mode.
    kStartModeGroup = 6200,
    kMoveTillAligned = 6201,
    kBldcWithHalls = 6202,
    kMotionless = 6203,
    kPmsmWithHalls = 6204,
    kStartCurrentLabel = 6205,
    kStartCurrent = 6206,
    kStartCurrentUnit = 6207,
    kAlignTimeLabel = 6208,
    kAlignTime = 6209,
    kAlignTimeUnit = 6210,
    kTuneAngle = 3370,
    // CANbus.
    kStoreBitRate = 6301,
    kBitRateLabel = 6302,
    kBitRate = 6303,
    kCanOpenSettings = 6304,
    kStoreAxisId = 6305,
    kAxisIdLabel = 6306,
    kAxisId = 3136,
    // Buttons.
    kMotorSetup = 10019,
    kAdvanced = 3158,
    kDriveInfo = 3159,
  };

  // The guideline texts, null-terminated.
  static const char* const kGuidelines[];
  // The warning shown when an axis ID above 127 is selected.
  static const char* const kAxisIdWarning;
  // Polarity line captions (upper, lower) for sink and source inputs.
  static constexpr const char* kSinkLines[2] = {"Active high (Connected to +Vlog)",
                                                "Active low (Open/No connection)"};
  static constexpr const char* kSourceLines[2] = {"Active high (Open/No connection)",
                                                  "Active low (Connected to GND)"};

  explicit CDriveSetupDlg(CMC_Setup& setup, CMC_EditSetupDlg* parent = nullptr);

  int OnInitDialog() override;
  // The enabling rules (the data exchange towards the controls).
  void DoDataExchange() override;
  void OnOK() override;
  void OnTimer(int id) override;
  void OnCommand(int id) override;
  void OnSelectionChanged(int id) override;
  void OnChangedParameterValue(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;

  // The start-current warning for a time of `time_s` (twice the alignment time).
  static std::string StartCurrentWarning(double time_s);

 private:
  struct Secondary;
  template <typename Dialog>
  int RunSecondary(const Secondary& how);

  void BindParameters();
  void FillAxisIds();
  void DecideInputsType();
  void ShowPolarityLines(bool sink);
  void ShowDigitalReferenceCaption();
  void ChangeInputsType();
  void ReencodeStartCurrent();

  bool can_bit_rate_ = false;  // the host bound the bit-rate combo
  bool sink_inputs_ = false;   // the input type the polarity lines show
};
