#include "editor/motor_setup_dialog.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <string>

#include "commissioning/encoder_tests.h"
#include "commissioning/hall_tests.h"
#include "commissioning/phase_connections.h"
#include "commissioning/rl_identification.h"
#include "conversions/calculator.h"
#include "conversions/configuration.h"
#include "conversions/motion_units.h"
#include "conversions/scales.h"
#include "host/text.h"
#include "passes/passes.h"

using kestrel::FindOptional;

namespace {

constexpr const char* kGuidelines[] = {
    "Step 1. Select your motor from a database. If your motor does not exist in any database, "
    "proceed through all the next steps in order to define your motor and sensors data. In either "
    "case, use the tests from the next steps to verify/detect the motor and sensors parameters and "
    "operation.",
    "Step 2. Check the values for nominal and peak currents. Press the <<Test Phase Connections>> "
    "button to verify that your motor phases are well connected to the drive.",
    "Step 3. Check the magnetic pole pitch and the force constant values.",
    "Step 4. Check the resistance and inductance values. Press the <<Identify Resistance and "
    "Inductance>> button to autodetect these parameters.",
    "Step 5. Check the value of the motor moving part mass.",
    "Step 6. Use the <<Test Connections>> button in order to verify the presence of encoder "
    "signals. Check the value of the <<Resolution>> parameter giving the encoder resolution. Press "
    "the <<Detect Resolution>> button to automatically detect this value.",
    "Step 7. Check the <<Hall Sensors>> checkbox if Hall sensors are mounted on your motor. Use "
    "the <<Test Connections>> button in order to verify the operation of the 3 Hall sensor inputs. "
    "Press the <<Detect Hall Configuration>> button to automatically detect the commutation "
    "sequence (Hall Configuration).",
    "Step 8. In <<Transmission to load>> select the transmission type and the ratio by setting the "
    "correspondance between the motor and load displacements.",
    "Step 9. If you want to save your motor data, select the USER database, and then press the "
    "<<Save As>> button.",
    nullptr,
};

using Dlg = CMotorSetupDialog;

// Runs a test the way the setup dialogs do: both passes before it; after OK both passes again.
// `ended` sees the test as it ended, before it goes. Returns the test's modal result.
template <typename Test>
int RunTest(CMC_Setup& setup, CMC_EditSetupDlg* parent, bool sinusoidal_mode = false,
            const std::function<void(const Test&)>& ended = nullptr) {
  kestrel::ComputeRegistersFromParameters(setup);
  kestrel::ComputeParametersFromRegisters(setup);
  int result = 0;
  {
    const kestrel::SinusoidalModeWhile sinusoidal(sinusoidal_mode);
    Test test(setup, parent);
    result = test.DoModal();
    if (ended) ended(test);
  }
  if (result == axis::kIdOk) {
    kestrel::ComputeRegistersFromParameters(setup);
    kestrel::ComputeParametersFromRegisters(setup);
  }
  return result;
}

constexpr int kBrakeRowControls[] = {
    Dlg::kBrakeOutput,      Dlg::kBrakeText,       Dlg::kReleaseDelayLabel, Dlg::kReleaseDelay,
    Dlg::kReleaseDelayUnit, Dlg::kApplyDelayLabel, Dlg::kApplyDelay,        Dlg::kApplyDelayUnit};

// The encoder input filter choices, "FilterEncValue" 0 to 12 in this order.
constexpr const char* kFilterChoices[] = {"1/3",  "1/6",  "1/12", "1/18", "1/24", "1/30", "1/36",
                                          "1/42", "1/48", "1/54", "1/60", "1/66", "1/72"};

// Hall configurations that exist: the sequences 2 to 13.
constexpr int kFirstHallCase = 2;
constexpr int kLastHallCase = 13;

constexpr const char* kBrakeTextStart = "Motor brake is applied when ";
constexpr const char* kBrakeTextNpn = "NPN (sink) output is connected to GND.";
constexpr const char* kBrakeTextPnp = "PNP (source) output is connected to +Vlog.";

// Names whose change alters what the rules show.
constexpr const char* kRefreshingNames[] = {
    "isMotorMassUnknown", "isMotorTemperatureSensor", "isHallsensors",
    "isFilterEnc",        "ReverseCounting",          "MotorBrake_output",
    "Motor_transmission", "Load_transmission",        "isMotorBrake"};

bool Is(const char* name, const char* expected) {
  return name != nullptr && axis::EqualsNoCase(name, expected);
}

double Value(CMC_Setup& setup, const char* name) { return kestrel::OptionalValue(setup, name); }

// A switch compared as an integer after truncation; a missing one reads 0.
int Truncated(CMC_Setup& setup, const char* name) {
  const CMC_Parameter* p = FindOptional(setup, name);
  return p == nullptr ? 0 : kestrel::Trunc(p->GetValueInBaseUnit());
}

}  // namespace

CMotorSetupDialog::CMotorSetupDialog(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMySetupDlg(setup, kTemplateId, 1, kGuidelines, parent),
      filter_available_(kestrel::HasEncoderInputFilter(setup)),
      brake_registers_(kestrel::HasMotorBrake(setup)) {
  struct Edit {
    const char* name;
    int edit, unit;
  };
  for (const Edit& e :
       {Edit{"In", kNominalCurrent, kNominalCurrentUnit},
        Edit{"ImaxM", kPeakCurrent, kPeakCurrentUnit},
        Edit{"PolePitch", kPolePitch, kPolePitchUnit},
        Edit{"Kf", kForceConstant, kForceConstantUnit}, Edit{"R", kResistance, kResistanceUnit},
        Edit{"L", kInductance, kInductanceUnit}, Edit{"M", kMass, kMassUnit}})
    AddParameterControls(e.name, e.edit, e.unit);
  AddCheckParameterControls("isMotorMassUnknown", kMassUnknown);
  AddSwitchParameterControls("MotorPhaseConnectionType", kStar, kDelta);

  AddParameterControls("EncRes", kEncoderResolution, kEncoderResolutionUnit);
  AddParameterControls("HALLCASE", kHallConfiguration, 0);
  AddCheckParameterControls("isHallsensors", kHallSensors);
  AddCheckParameterControls("isMotorTemperatureSensor", kTemperatureSensor);
  AddSwitchParameterControls("Motor_TempSensor_Type", kNtc, kPtc);
  if (filter_available_) {
    AddParameterControls("FilterEncValue", kFilterValue, 0);
    AddCheckParameterControls("isFilterEnc", kFilterCheck);
  }
  if (kestrel::HasReverseCounting(setup_))
    AddCheckParameterControls("ReverseCounting", kReverseCounting);

  AddSwitchParameterControls("TransmissionType", kLinearToLinear, kLinearToRotary);
  AddParameterControls("Motor_transmission", kMotorTransmission, kMotorTransmissionUnit);
  AddParameterControls("Load_transmission", kLoadTransmission, kLoadTransmissionUnit);

  if (brake_registers_) {
    AddCheckParameterControls("isMotorBrake", kBrakeCheck);
    AddParameterControls("MotorBrake_output", kBrakeOutput, 0);
    AddParameterControls("MotorBrake_releasetime", kReleaseDelay, kReleaseDelayUnit);
    AddParameterControls("MotorBrake_applytime", kApplyDelay, kApplyDelayUnit);
  }
  InitializeMotorEditor();
}

bool CMotorSetupDialog::BrakePresent() {
  return brake_registers_ && setup_.GetNumberOfBrakeOutputs() > 0;
}

int CMotorSetupDialog::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  SetButtonImage(axis::kIdOk, "TO_DRIVESETUP");
  SetButtonImage(kLimitSwitchWarning, "WARN_SWITCH_HW_LS");
  ShowChild(kLimitSwitchWarning, 0);

  FillHallConfigurations();
  FillEncoderFilter();
  EnableChild(kReverseCounting, kestrel::HasReverseCounting(setup_));
  FillBrakeOutputs();

  SetButtonImage(kPicture, "3065");
  RefreshFromSetup();
  return 1;
}

void CMotorSetupDialog::FillHallConfigurations() {
  const CMC_Parameter* hall_case = FindOptional(setup_, "HALLCASE");
  if (hall_case == nullptr) return;
  const int first = std::max(kFirstHallCase, kestrel::Trunc(hall_case->GetMinInBaseUnit()));
  const int last = std::min(kLastHallCase, kestrel::Trunc(hall_case->GetMaxInBaseUnit()));
  ResetComboItems(kHallConfiguration);
  for (int n = first; n <= last; ++n) {
    AddComboItem(kHallConfiguration, std::to_string(n).c_str(), n);
  }
  RefreshParameterControls("HALLCASE");
}

void CMotorSetupDialog::FillEncoderFilter() {
  for (int id : {kFilterCheck, kFilterLabel, kFilterBandwidthLabel})
    EnableChild(id, filter_available_);
  ApplyFilterRule();
  if (!filter_available_) return;
  ResetComboItems(kFilterValue);
  for (size_t i = 0; i < std::size(kFilterChoices); ++i)
    AddComboItem(kFilterValue, kFilterChoices[i], static_cast<int64_t>(i));
  RefreshParameterControls("FilterEncValue");
}

void CMotorSetupDialog::ApplyFilterRule() {
  EnableChild(kFilterValue, filter_available_ && Value(setup_, "isFilterEnc") == 1.0);
}

void CMotorSetupDialog::FillBrakeOutputs() {
  const bool present = BrakePresent();
  EnableChild(kBrakeGroup, present);
  EnableChild(kBrakeCheck, present);
  for (int id : kBrakeRowControls) EnableChild(id, present);
  setup_.FillIOBrakeCombo(*this, kBrakeOutput);
  // The binding selects the output of "MotorBrake_output"; without a brake the first one shows.
  if (present) {
    RefreshParameterControls("MotorBrake_output");
  } else {
    SetComboSelection(kBrakeOutput, 0);
  }
}

void CMotorSetupDialog::RefreshFromSetup() {
  RefreshAllParameters();
  DoDataExchange();
}

void CMotorSetupDialog::DoDataExchange() {
  CMySetupDlg::DoDataExchange();

  const bool mass_known = Truncated(setup_, "isMotorMassUnknown") == 0;
  for (int id : {kMass, kMassUnit, kMassLabel}) EnableChild(id, mass_known);

  const bool halls = Truncated(setup_, "isHallsensors") == 1;
  for (int id : {kHallConfiguration, kHallConfigurationLabel, kTestHallConnections,
                 kDetectHallConfiguration})
    EnableChild(id, halls);

  const bool temperature = Truncated(setup_, "isMotorTemperatureSensor") == 1;
  for (int id : {kSensorTypeLabel, kNtc, kPtc}) EnableChild(id, temperature);

  if (brake_registers_) ApplyBrakeRules();

  // A drive that handles a reversed transmission itself needs no rewiring.
  if (setup_.GetIntOption("hasNegTransmission") != 1) {
    const double ratio = Value(setup_, "Motor_transmission") / Value(setup_, "Load_transmission");
    ShowChild(kLimitSwitchWarning, ratio < 0.0);
  }
}

void CMotorSetupDialog::ApplyBrakeRules() {
  // Without an output to drive it the brake rows stay disabled, as OnInitDialog left them.
  const bool on = BrakePresent() && Value(setup_, "isMotorBrake") == 1.0;
  for (int id : kBrakeRowControls) EnableChild(id, on);

  const CMC_Parameter* output = FindOptional(setup_, "MotorBrake_output");
  const int port = output == nullptr ? 0 : kestrel::Trunc(output->GetValueInInternalUnit());
  const int pnp = (setup_.IsBrakePortEnable(port) & 0x30) == axis::kBrakePortSource ? 1 : 0;
  const bool npn_text = (pnp ^ setup_.IsOutputPortInverted(port)) == 0;
  SetChildText(kBrakeText,
               (std::string(kBrakeTextStart) + (npn_text ? kBrakeTextNpn : kBrakeTextPnp)).c_str());
}

void CMotorSetupDialog::OnChangedParameterValue(const char* name) {
  CMySetupDlg::OnChangedParameterValue(name);
  bool refresh = false;
  for (const char* refreshing : kRefreshingNames) refresh = refresh || Is(name, refreshing);
  if (refresh) RefreshFromSetup();
  if (Is(name, "TransmissionType")) {
    // Every load quantity moves between the linear and the rotary units.
    kestrel::AssignMotionUnits(setup_);
    RefreshParameterControls("Load_transmission");
  }
  ApplyFilterRule();
}

void CMotorSetupDialog::OnRefreshParameterValue(const char* name) {
  CMySetupDlg::OnRefreshParameterValue(name);
  if (!Is(name, "Motor_transmission") && !Is(name, "Load_transmission")) return;
  // A zero term would make the transmission ratio meaningless: it becomes one millimetre (or a
  // thousandth of a radian) of travel, whatever unit it is shown in.
  constexpr double kSmallestTerm = 0.001;  // m or rad
  if (CMC_Parameter* term = FindOptional(setup_, name);
      term != nullptr && term->GetValueInBaseUnit() == 0.0)
    term->SetValueInBaseUnit(kSmallestTerm);
  RefreshParameterControls(name);
  RefreshFromSetup();
}

void CMotorSetupDialog::OnCommand(int id) {
  switch (id) {
    case kTestPhaseConnections:
      if (RunTest<CTestPhaseConnections>(setup_, this) == axis::kIdOk) RefreshAllParameters();
      return;
    case kIdentifyResistanceInductance:
      if (RunTest<CTestRL>(setup_, this, true) == axis::kIdOk) {
        OnRefreshParameterValue("R");
        OnRefreshParameterValue("L");
        RefreshParameterControls("R");
        RefreshParameterControls("L");
      }
      return;
    case kTestEncoderConnections:
      if (RunTest<CTestEncoderConnections>(setup_, this) == axis::kIdOk) RefreshAllParameters();
      return;
    case kDetectResolution:
      DetectResolution();
      return;
    case kTestHallConnections:
      if (RunTest<CTestHallSignals>(setup_, this) == axis::kIdOk) RefreshAllParameters();
      return;
    case kDetectHallConfiguration:
      if (RunTest<CTestHallConfiguration>(setup_, this) == axis::kIdOk) RefreshAllParameters();
      return;
    case kLimitSwitchWarning:
      MessageBox(kLimitSwitchMessage, axis::MessageButtons::kOk, axis::MessageIcon::kInformation);
      return;
    case kBrakeCheck:  // reaches here only when it could not be bound
      RefreshFromSetup();
      return;
    case kAlsoOk:
      OnOK();
      return;
    default:
      CMySetupDlg::OnCommand(id);
  }
}

// Accepted, the resolution is in the setup. Closed without it, a run that counted against the
// motor's direction turns the reverse counting box to the direction the encoder counts in.
void CMotorSetupDialog::DetectResolution() {
  int direction = -1;
  const int result = RunTest<CDetectEncoderResolution>(
      setup_, this, false,
      [&direction](const CDetectEncoderResolution& test) { direction = test.DetectedDirection(); });
  const bool reverse_counting = FindOptional(setup_, "ReverseCounting") != nullptr;
  if (result == axis::kIdOk) {
    if (reverse_counting) RefreshParameterControls("ReverseCounting");
    kestrel::ComputeRegistersFromParameters(setup_);
    kestrel::ComputeParametersFromRegisters(setup_);
    OnRefreshParameterValue("EncRes");
    RefreshParameterControls("EncRes");
  } else if (result == axis::kIdCancel && reverse_counting && direction != -1) {
    setup_.SetParameterValueInBaseUnit("ReverseCounting", direction);
    RefreshParameterControls("ReverseCounting");
  }
}

void CMotorSetupDialog::OnOK() {
  // The motor over-temperature protection needs the motor's temperature sensor.
  if (CMC_Parameter* over_temperature = FindOptional(setup_, "isMotorOverTemp");
      over_temperature != nullptr && Value(setup_, "isMotorTemperatureSensor") == 0.0)
    over_temperature->SetValueInBaseUnit(0.0);
  // Trapezoidal commutation and the Hall start modes need the Hall sensors.
  if (FindOptional(setup_, "isHallSensors") != nullptr && Truncated(setup_, "isHallSensors") == 0) {
    if (CMC_Parameter* method = FindOptional(setup_, "CommutationMethod");
        method != nullptr && kestrel::Trunc(method->GetValueInBaseUnit()) == 0)
      method->SetValueInBaseUnit(1.0);
    if (CMC_Parameter* start = FindOptional(setup_, "StartMode"); start != nullptr) {
      const int mode = kestrel::Trunc(start->GetValueInBaseUnit());
      if (mode == 1 || mode == 3) start->SetValueInBaseUnit(0.0);
    }
  }
  CMySetupDlg::OnOK();
}
