// "Brushless Motor Setup": the motor, its sensors, its brake and the transmission to the load.
//
// The user describes the linear motor (currents, pole pitch, force constant, phase resistance and
// inductance, moving mass, star or delta connection), its encoder (resolution, counting direction,
// input filter), its Hall sensors and configuration, its temperature sensor, the brake output with
// its delays, and the transmission between motor and load travel. A motor can be taken from a
// motor database, or the setup's motor saved to the user's database, through the host's motor
// editor (host/motor_editor.h), whose changes reach this dialog's rules like typed values.
//
// What the dialog keeps consistent:
// - the mass, Hall configuration, temperature sensor type and brake rows are enabled only while
//   their check box says the item is there; the brake group only when the drive has the brake
//   registers and at least one brake output, and the text under the brake output says whether
//   the brake is applied with the output connected to GND (NPN) or to +Vlog (PNP);
// - a negative transmission on a drive that cannot reverse it itself shows the "Switch h/w limit
//   switches" button, which explains the rewiring;
// - a transmission term of 0 is never stored: it becomes 0.001;
// - the load kind ("Linear to linear" / "Linear to rotary") moves every load quantity to its
//   linear or rotary unit at once;
// - OK: no motor over-temperature protection without a temperature sensor, and without Hall
//   sensors neither trapezoidal commutation nor a start mode that needs them.
//
// Whole-setup passes: this dialog adds no calculator to either pass and runs none itself; its
// opener runs both passes before it and after OK.
//
// Commissioning tests (each with the two passes before it and, after OK, again): 1175 "Test Phase
// Connections", 1177 "Identify Resistance and Inductance", 1187 "Test Connections" (encoder),
// 1189 "Detect resolution", 1188 "Test Connections" (Hall) and 1190 "Detect Hall Configuration"
// (the Hall tests enabled with the Hall sensors). A resolution run closed without its result
// that found the encoder counting against the motor turns "ReverseCounting" the other way.
#pragma once

#include "editor/my_setup_dlg.h"

class CMotorSetupDialog : public CMySetupDlg {
 public:
  static constexpr int kTemplateId = 108;
  static constexpr int kHelpContext = 262407;
  enum : int {
    kNominalCurrent = 1159,
    kNominalCurrentUnit = 1160,
    kPeakCurrent = 1161,
    kPeakCurrentUnit = 1162,
    kMotorTransmission = 1163,
    kMotorTransmissionUnit = 1164,
    kPolePitch = 1165,
    kForceConstant = 1166,
    kForceConstantUnit = 1167,
    kResistance = 1168,
    kResistanceUnit = 1169,
    kInductance = 1170,
    kInductanceUnit = 1171,
    kMass = 1172,
    kMassUnit = 1173,
    kLoadTransmission = 1174,
    kTestPhaseConnections = 1175,
    kPolePitchUnit = 1176,
    kIdentifyResistanceInductance = 1177,
    kMassUnknown = 1178,
    kHallSensors = 1181,
    kHallConfiguration = 1182,
    kTemperatureSensor = 1183,
    kSensorTypeLabel = 1184,
    kNtc = 1185,
    kPtc = 1186,
    kTestEncoderConnections = 1187,
    kTestHallConnections = 1188,
    kDetectResolution = 1189,
    kDetectHallConfiguration = 1190,
    kLoadTransmissionUnit = 1192,
    kLinearToLinear = 1193,
    kLinearToRotary = 1194,
    kStar = 1195,
    kDelta = 1196,
    kMassLabel = 3267,
    kHallConfigurationLabel = 3268,
    kFilterLabel = 3271,
    kFilterBandwidthLabel = 3272,
    kEncoderResolutionUnit = 3351,
    kEncoderResolution = 3352,
    kReverseCounting = 3358,
    kFilterValue = 3359,
    kFilterCheck = 3360,
    kBrakeGroup = 3373,
    kBrakeCheck = 3376,
    kBrakeOutput = 3377,
    kBrakeText = 3381,
    kPicture = 3382,
    kReleaseDelayLabel = 3383,
    kApplyDelayLabel = 3384,
    kReleaseDelay = 3385,
    kReleaseDelayUnit = 3386,
    kApplyDelay = 3387,
    kApplyDelayUnit = 3388,
    kLimitSwitchWarning = 3404,
    kAlsoOk = 10018,
  };
  static constexpr const char* kLimitSwitchMessage =
      "When there is only a position sensor on the motor and the load moves in opposite direction "
      "(i.e. transmission is negative), the h/w limit switches connections need to be reversed. "
      "\n\nConnect positive limit switch sensor to drive's LSN input and negative limit switch "
      "sensor to drive's LSP input.";

  CMotorSetupDialog(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  void DoDataExchange() override;
  void OnOK() override;
  void OnCommand(int id) override;
  void OnChangedParameterValue(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;

 private:
  // The drive has the brake registers and at least one output that can drive the brake.
  bool BrakePresent();
  void FillHallConfigurations();
  void FillEncoderFilter();
  void FillBrakeOutputs();
  void ApplyBrakeRules();
  void ApplyFilterRule();
  void RefreshFromSetup();
  void DetectResolution();

  bool filter_available_;  // "isFilterEnc" and "FilterEncValue" exist
  bool brake_registers_;   // "BRAKECFG" and "isMotorBrake" exist
};
