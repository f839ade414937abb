#include "editor/drive_setup_dlg.h"

#include <charconv>
#include <string>
#include <vector>

#include "commissioning/angle_tuning.h"
#include "commissioning/current_tuning.h"
#include "commissioning/tuning_test.h"
#include "commissioning/vdc_detection.h"
#include "conversions/calculator.h"
#include "conversions/configuration.h"
#include "conversions/scales.h"
#include "editor/advanced_dialog.h"
#include "editor/analog_reference_dlg.h"
#include "editor/drive_info.h"
#include "editor/motor_setup_dialog.h"
#include "host/number_text.h"
#include "host/text.h"
#include "passes/passes.h"
#include "tuning/parameter_limits.h"

using kestrel::FindOptional;
using kestrel::Trunc;

const char* const CDriveSetupDlg::kGuidelines[] = {
    "Step 1.\tIn the <<Control mode>> group box, select what do you want to control: position, "
    "speed or torque.  In the <<Commutation method>> group box, choose sinusoidal or trapezoidal "
    "mode. The trapezoidal mode is possible only if your motor is equipped with digital Hall "
    "sensors.",
    "Step 2.\tIn the <<External reference>> group box, select <<Yes>> if your drive gets a "
    "position, speed or torque reference from an external device. Press the <<Setup>> button to "
    "select the reference type: analogue or pulse & direction or incremental encoder and its "
    "parameters.",
    "Step 3.\tIn the <<Drive operation parameters>> group box, set the value of the DC voltage "
    "power supply. Use the <<Detect>> button to measure its actual value as applied to the drive. "
    "Also set the <<Current limit>> parameter, e.g. the maximum current value used by the drive "
    "to control the motor.",
    "Step 4.\tIn the <<Current controller>> group box, set the current controller parameters Kp "
    "(proportional) and Ki (integral). Use the <<Tune & Test>> button to automatically compute "
    "the current controller parameters and to test the current loop behavior.",
    "Step 5.\tIn the <<Speed Controller>> group box, set the speed controller parameters Kp "
    "(proportional), Ki (integral), Integral limit (saturation limit for the integral term of the "
    "controller) and the acceleration Feedforward. Use the <<Tune & Test>> button to "
    "automatically compute the speed controller parameters and to test the speed loop response. "
    "Before tuning the speed controller, make sure to set the right value for the ratio load mass "
    "/ motor mass or to identify the total mass. Note that the controller tuning does not include "
    "the acceleration feedforward. Set initially this value to 0, and then establish the other "
    "controller parameters. Finally increase gradually the acceleration feedforward and check the "
    "speed loop response.",
    "Step 6.\tIn the <<Position Controller>> group box, set the position controller parameters Kp "
    "(proportional), Ki (integral), Kd (derivative), Kd filter (filtering coefficient for the "
    "derivative term), Integral limit (saturation limit for the integral term of the controller), "
    "Speed limit (saturation limit for the position controller output, seen as a speed reference "
    "value), acceleration and speed feedforward. Use the <<Tune & Test>> button to automatically "
    "compute the position controller parameters and to test the position loop behavior. Before "
    "tuning the position controller, make sure to set the right value for the ratio load mass / "
    "motor mass or to identify the total mass. Note that the controller tuning does not include "
    "the acceleration and speed feedforward. Set initially these values to 0, and then establish "
    "the other controller parameters. Finally increase gradually the acceleration and speed "
    "feedforward and check the speed loop behavior.",
    "Step 7.\tIn the <<Protections>> group box, select and parameterize the protections that you "
    "want to activate.",
    "Step 8. In the <<External brake resistor>> group box, check <<Connected>> if you have a brake "
    "resistor connected to the drive. Set the voltage level at which the drive starts to clamp "
    "the supply via the brake resistor.",
    "Step 9. In the <<Inputs polarity>> check box, select the active levels for the Enable and the "
    "two limit switch inputs.",
    "Step 10. For sinusoidal commutation, the <<Start mode>> group box is active. If your motor is "
    "equipped with digital Hall sensors, select the start method to be used. For the method "
    "<<Move till aligned with phase A>>, set up the current value to use during the motor start "
    "and the time needed to align the motor first on phase B and then on phase A. For the method "
    "<<Motionless start (encoder only)>>, use the <<Tune & Test>> button to set the electric "
    "angle controller parameters and to test the motionless start.",
    nullptr,
};

const char* const CDriveSetupDlg::kAxisIdWarning =
    "If your drive is set in CANopen mode, the axis ID values must be in the range 1-127. Any "
    "value over 127 will set the drive as non-configured and further CANopen communication will "
    "be disabled until a valid Axis ID will be set in the drive. Leave the drive with a "
    "non-configured axis ID only if you intend to set the Axis ID later via a CANopen master "
    "using CiA305 LSS protocol.";

using Dlg = CDriveSetupDlg;

namespace {

bool Is(const char* name, const char* expected) {
  return name != nullptr && axis::EqualsNoCase(name, expected);
}

// A value as the host reads it for a name that may be missing: 0.0 then, and nothing reported.
double Read(CMC_Setup& setup, const char* name) {
  const CMC_Parameter* p = FindOptional(setup, name);
  return p == nullptr ? 0.0 : p->GetValueInBaseUnit();
}

void SetIfPresent(CMC_Setup& setup, const char* name, double value) {
  if (CMC_Parameter* p = FindOptional(setup, name)) p->SetValueInBaseUnit(value);
}

// ---- Bindings made at construction.

struct EditRow {
  const char* name;
  int edit, unit;
};
constexpr EditRow kEdits[] = {
    {"Vdc", Dlg::kSupply, Dlg::kSupplyUnit},
    {"IlimPS", Dlg::kCurrentLimit, Dlg::kCurrentLimitUnit},
    {"Kp_C_scl", Dlg::kKpCurrent, 0},
    {"Ki_C_scl", Dlg::kKiCurrent, 0},
    {"Kp_S_scl", Dlg::kKpSpeed, 0},
    {"Ki_S_scl", Dlg::kKiSpeed, 0},
    {"IPSatS", Dlg::kSpeedIntegral, Dlg::kSpeedIntegralUnit},
    {"KFFA_scl", Dlg::kSpeedAcceleration, 0},
    {"KFFS_scl", Dlg::kSpeedSpeed, 0},
    {"Kp_P_scl", Dlg::kKpPosition, 0},
    {"Ki_P_scl", Dlg::kKiPosition, 0},
    {"Kd_P_scl", Dlg::kKdPosition, 0},
    {"filter_D", Dlg::kKdFilter, 0},
    {"IPSatP", Dlg::kPositionIntegral, Dlg::kPositionIntegralUnit},
    {"KFFS_scl", Dlg::kPositionSpeed, 0},
    {"KFFA_scl", Dlg::kPositionAcceleration, 0},
    {"Limit_Speed", Dlg::kLoadSpeedLimit, Dlg::kLoadSpeedLimitUnit},
    {"Imax_Prot", 5803, 5804},
    {"time_Imax_Prot", 5806, 5807},
    {"ERR_position", 5813, 5814},
    {"time_ERR_pos", 5816, 5817},
    {"ERR_speed", 5823, 5824},
    {"time_ERR_spd", 5826, 5827},
    {"I_I2t_M", 5843, 5844},
    {"t_I2t_M", 5846, 5847},
    {"Vbrake", Dlg::kBrakeLevel, Dlg::kBrakeLevelUnit},
    {"StartCurrent", Dlg::kStartCurrent, Dlg::kStartCurrentUnit},
    {"time_AB", Dlg::kAlignTime, Dlg::kAlignTimeUnit},
};

struct CheckRow {
  const char* name;
  int id;
};
constexpr CheckRow kChecks[] = {
    {"isAutoActivatedAfterPowerOn", Dlg::kAutoActivated},
    {"isOverCurrent", Dlg::kOverCurrent},
    {"isPositionControlError", Dlg::kPositionError},
    {"isSpeedControlError", Dlg::kSpeedError},
    {"isMotorOverTemp", Dlg::kMotorOverTemperature},
    {"isMotori2t", Dlg::kMotorI2t},
    {"isBrakeResistor", Dlg::kBrakeResistor},
};

// Radio switches: value k selects the button first + k.
struct SwitchRow {
  const char* name;
  int first, last;
};
constexpr SwitchRow kSwitches[] = {
    {"ControlMode", Dlg::kPosition, Dlg::kTorque},
    {"ExternalReference", Dlg::kReferenceNo, Dlg::kReferenceYes},
    {"isAnalogueReference", Dlg::kDigitalReference, Dlg::kAnalogueReference},
    {"CommutationMethod", Dlg::kTrapezoidal, Dlg::kSinusoidal},
    {"LSPPolarity", Dlg::kLimitPlusHigh, Dlg::kLimitPlusLow},
    {"LSNPolarity", Dlg::kLimitMinusHigh, Dlg::kLimitMinusLow},
    {"StartMode", Dlg::kMoveTillAligned, Dlg::kPmsmWithHalls},
};

// Changes after which the enabling rules are applied again.
constexpr const char* kExchangeParameters[] = {
    "StartMode",           "CommutationMethod", "isOverCurrent",   "isPositionControlError",
    "isSpeedControlError", "isMotori2t",        "isBrakeResistor", "isSWLS",
    "save_CAN_baudrate",   "save_axis_id",
};
// The same controls when they could not be bound (their parameter is missing).
constexpr int kExchangeCommands[] = {
    Dlg::kPosition,      Dlg::kSpeed,         Dlg::kTorque,        Dlg::kTrapezoidal,
    Dlg::kSinusoidal,    Dlg::kReferenceNo,   Dlg::kReferenceYes,  Dlg::kMoveTillAligned,
    Dlg::kBldcWithHalls, Dlg::kPmsmWithHalls, Dlg::kOverCurrent,   Dlg::kPositionError,
    Dlg::kSpeedError,    Dlg::kMotorI2t,      Dlg::kBrakeResistor, Dlg::kLimitsCheck,
    Dlg::kStoreBitRate,  Dlg::kStoreAxisId,
};

// What the DC voltage detection test may change.
constexpr const char* kVdcTestChanges[] = {"Kp_C_scl", "Ki_C_scl", "Vdc", nullptr};

// ---- Enabling rules.

// The settings the rules depend on, read afresh for every exchange.
struct State {
  bool pos, spd, trq;   // control mode
  bool S;               // a speed loop is closed: speed control, or position over speed
  bool cascade;         // position over speed
  bool position_only;   // position over current
  double f;             // "PosSpd_in_FastLoop"
  bool sin, kp, halls;  // sinusoidal, angle controller, Hall sensors
  int start_mode;
  bool pmsm_option;
  bool over_current, motor_i2t, position_error, speed_error, motor_temperature;
  bool brake_resistor;
  bool hide_enable;
  bool has_swls, swls_on;
  bool external_reference;
  bool has_speed_forward;
  bool can_switches, store_bit_rate, store_axis_id, can_bit_rate;
};

State ReadState(CMC_Setup& setup, bool can_bit_rate) {
  const double cm = Read(setup, "ControlMode");
  const double pct = Read(setup, "PositionControlType");
  State s{};
  s.pos = Trunc(cm) == 0;
  s.spd = Trunc(cm) == 1;
  s.trq = cm == 2.0;
  s.S = s.spd || (s.pos && Trunc(pct) == 1);
  s.cascade = cm == 0.0 && pct == 1.0;
  s.position_only = cm == 0.0 && pct == 0.0;
  s.f = Read(setup, "PosSpd_in_FastLoop");
  s.sin = Trunc(Read(setup, "CommutationMethod")) == 1;
  s.kp = kestrel::HasAngleController(setup);
  s.halls = Trunc(Read(setup, "isHallsensors")) != 0;
  s.start_mode = Trunc(Read(setup, "StartMode"));
  s.pmsm_option = setup.GetIntOption("PMSMStartwithHalls") == 1;
  s.over_current = Read(setup, "isOverCurrent") == 1.0;
  s.motor_i2t = Read(setup, "isMotori2t") == 1.0;
  s.position_error = Trunc(Read(setup, "isPositionControlError")) != 0;
  s.speed_error = Trunc(Read(setup, "isSpeedControlError")) != 0;
  s.motor_temperature = setup.GetIntOption("DisableMotorTemperature") == 0 &&
                        Read(setup, "isMotorTemperatureSensor") == 1.0;
  s.brake_resistor = Trunc(Read(setup, "isBrakeResistor")) == 1;
  s.hide_enable = setup.GetIntOption("hideEnablePolarity") == 1;
  s.has_swls = kestrel::HasSoftwareLimits(setup);
  s.swls_on = s.has_swls && Trunc(Read(setup, "isSWLS")) == 1;
  s.external_reference = Trunc(Read(setup, "ExternalReference")) == 1;
  s.has_speed_forward = kestrel::HasSpeedForward(setup);
  s.can_switches = kestrel::HasLssActive(setup);
  s.store_bit_rate = Read(setup, "save_CAN_baudrate") == 1.0;
  s.store_axis_id = Read(setup, "save_axis_id") == 1.0;
  s.can_bit_rate = can_bit_rate;
  return s;
}

enum class Effect { kEnable, kShow };

struct Rule {
  Effect effect;
  bool (*applies)(const State&);  // null: always; otherwise the row is skipped when false
  bool (*holds)(const State&);
  std::vector<int> ids;
};

bool Never(const State&) { return false; }

const Rule kRules[] = {
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.S; },
     {Dlg::kSpeedGroup, Dlg::kTuneSpeed, Dlg::kKpSpeedLabel, Dlg::kKpSpeed, Dlg::kKiSpeedLabel,
      Dlg::kKiSpeed, Dlg::kSpeedIntegralLabel, Dlg::kSpeedIntegral, Dlg::kSpeedIntegralUnit}},
    {Effect::kShow,
     nullptr,
     [](const State& s) { return s.spd; },
     {Dlg::kSpeedFeedForwardLabel, Dlg::kSpeedAccelerationLabel, Dlg::kSpeedAcceleration}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.pos; },
     {Dlg::kPositionGroup, Dlg::kTunePosition, Dlg::kKpPositionLabel, Dlg::kKpPosition,
      Dlg::kKiPositionLabel, Dlg::kKiPosition, Dlg::kKdPositionLabel, Dlg::kKdPosition,
      Dlg::kKdFilterLabel, Dlg::kKdFilter, Dlg::kPositionIntegralLabel, Dlg::kPositionIntegral,
      Dlg::kPositionIntegralUnit}},
    {Effect::kShow,
     nullptr,
     [](const State& s) { return s.pos; },
     {Dlg::kPositionFeedForwardLabel, Dlg::kPositionSpeedLabel, Dlg::kPositionSpeed,
      Dlg::kPositionAccelerationLabel, Dlg::kPositionAcceleration}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.pos && s.S; },
     {Dlg::kPositionSpeedLabel, Dlg::kPositionSpeed}},
    // Without a speed loop, loops in the fast loop take no acceleration feed-forward.
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return !(s.pos && !s.S) || s.f != 1.0; },
     {Dlg::kPositionFeedForwardLabel, Dlg::kPositionAccelerationLabel, Dlg::kPositionAcceleration}},
    {Effect::kShow,
     nullptr,
     [](const State& s) { return s.pos && s.S; },
     {Dlg::kLoadSpeedLimitLabel, Dlg::kLoadSpeedLimit, Dlg::kLoadSpeedLimitUnit}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.over_current; },
     {5802, 5803, 5804, 5805, 5806, 5807}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.motor_i2t; },
     {5842, 5843, 5844, 5845, 5846, 5847}},
    {Effect::kEnable, nullptr, [](const State& s) { return s.pos; }, {Dlg::kPositionError}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.pos && s.position_error; },
     {5812, 5813, 5814, 5815, 5816, 5817}},
    {Effect::kEnable, nullptr, [](const State& s) { return s.spd; }, {Dlg::kSpeedError}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.spd && s.speed_error; },
     {5822, 5823, 5824, 5825, 5826, 5827}},
    // Older drives have no choice of where the speed feed-forward goes: no speed feed-forward.
    {Effect::kShow,
     [](const State& s) { return !s.has_speed_forward; },
     Never,
     {Dlg::kSpeedSpeedLabel, Dlg::kSpeedSpeed}},
    // Trapezoidal commutation switches on the Hall sensors.
    {Effect::kEnable, nullptr, [](const State& s) { return s.halls; }, {Dlg::kTrapezoidal}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.start_mode == 0 && s.sin; },
     {Dlg::kStartCurrentLabel, Dlg::kStartCurrent, Dlg::kStartCurrentUnit, Dlg::kAlignTimeLabel,
      Dlg::kAlignTime, Dlg::kAlignTimeUnit}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.start_mode == 2 && s.sin && s.kp; },
     {Dlg::kTuneAngle}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.sin; },
     {Dlg::kStartModeGroup, Dlg::kMoveTillAligned}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.sin && s.halls; },
     {Dlg::kBldcWithHalls}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.sin && s.halls && s.pmsm_option; },
     {Dlg::kPmsmWithHalls}},
    {Effect::kEnable, nullptr, [](const State& s) { return s.sin && s.kp; }, {Dlg::kMotionless}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.motor_temperature; },
     {Dlg::kMotorOverTemperature}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.brake_resistor; },
     {Dlg::kBrakeLevelLabel, Dlg::kBrakeLevel, Dlg::kBrakeLevelUnit}},
    {Effect::kShow,
     nullptr,
     [](const State& s) { return !s.hide_enable; },
     {Dlg::kEnableLabel, Dlg::kEnableLow, Dlg::kEnableHigh}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.has_swls; },
     {Dlg::kLimitsGroup, Dlg::kLimitsCheck}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.swls_on; },
     {6102, Dlg::kNegativeLimit, 6104, 6105, Dlg::kPositiveLimit, 6107}},
    {Effect::kEnable,
     nullptr,
     [](const State& s) { return s.external_reference; },
     {Dlg::kReferenceSetup, Dlg::kAutoActivated}},
    // A bit rate is offered only while it is to be stored, and only when there is one to store.
    {Effect::kEnable,
     [](const State& s) { return s.can_switches; },
     [](const State& s) { return s.store_bit_rate && s.can_bit_rate; },
     {Dlg::kBitRateLabel, Dlg::kBitRate}},
    {Effect::kEnable,
     [](const State& s) { return s.can_switches; },
     [](const State& s) { return s.store_axis_id; },
     {Dlg::kAxisIdLabel, Dlg::kAxisId}},
    {Effect::kShow,
     [](const State& s) { return !s.can_switches; },
     Never,
     {Dlg::kStoreBitRate, Dlg::kStoreAxisId}},
};

// Where the speed feed-forward can act decides which group shows the feed-forward edits; with the
// position and speed loops in the fast loop there is none. Runs after the rules above and wins.
void ApplyFeedForwardOverride(CMC_EditSetupDlg& dialog, const State& s) {
  static const int kSpeedGroupEdits[] = {Dlg::kSpeedFeedForwardLabel,
                                         Dlg::kSpeedAccelerationLabel,
                                         Dlg::kSpeedAcceleration,
                                         Dlg::kSpeedSpeedLabel,
                                         Dlg::kSpeedSpeed,
                                         0};
  static const int kPositionGroupEdits[] = {
      Dlg::kPositionFeedForwardLabel,  Dlg::kPositionSpeedLabel,   Dlg::kPositionSpeed,
      Dlg::kPositionAccelerationLabel, Dlg::kPositionAcceleration, 0};
  const bool slow_loops = s.f == 0.0;
  const bool speed_group = slow_loops && !s.trq && s.spd;
  const bool position_group = slow_loops && !s.trq && !s.spd && (s.position_only || s.cascade);
  dialog.ShowChildren(kSpeedGroupEdits, speed_group);
  dialog.ShowChildren(kPositionGroupEdits, position_group);
  if (speed_group) dialog.EnableChildren(kSpeedGroupEdits, 1);
  if (position_group) dialog.EnableChildren(kPositionGroupEdits, 1);
}

// ---- Secondary dialogs' extra rules.

// Without a speed loop there is no speed feed-forward, and with the loops in the fast loop no
// acceleration feed-forward either.
void ClearFeedForwardsWithoutSpeedLoop(CMC_Setup& setup) {
  if (Read(setup, "ControlMode") != 0.0 || Read(setup, "PositionControlType") != 0.0) return;
  SetIfPresent(setup, "KFFS_scl", 0.0);
  if (Read(setup, "PosSpd_in_FastLoop") == 1.0) SetIfPresent(setup, "KFFA_scl", 0.0);
}

std::string FormatId(double value) { return std::to_string(Trunc(value)); }

// The leading decimal integer of a text, 0 when there is none ("H/W").
int ReadDecimal(const std::string& text) {
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

// How a secondary dialog is run.
struct CDriveSetupDlg::Secondary {
  bool passes_before = true;                     // the encode and derive passes before it is built
  bool limits_before = false;                    // ComputeParameterLimits after those passes
  bool enabling_after = true;                    // the enabling rules after OK
  void (*after_ok)(CMC_Setup& setup) = nullptr;  // a rule of its own, first thing after OK
  bool sinusoidal_mode = false;                  // g_bKufSinusoidalMode is 1 while it runs
  const char* const* refresh_only = nullptr;     // after OK: these parameters' controls, not all
};

template <typename Dialog>
int CDriveSetupDlg::RunSecondary(const Secondary& how) {
  if (how.passes_before) {
    kestrel::ComputeRegistersFromParameters(setup_);
    kestrel::ComputeParametersFromRegisters(setup_);
  }
  if (how.limits_before) kestrel::ComputeParameterLimits(setup_);
  int result = 0;
  {
    const kestrel::SinusoidalModeWhile sinusoidal(how.sinusoidal_mode);
    Dialog dialog(setup_, this);
    result = dialog.DoModal();
  }
  if (result != axis::kIdOk) return result;
  if (how.after_ok != nullptr) how.after_ok(setup_);
  kestrel::ComputeRegistersFromParameters(setup_);
  kestrel::ComputeParametersFromRegisters(setup_);
  if (how.refresh_only != nullptr) {
    for (const char* const* name = how.refresh_only; *name != nullptr; ++name)
      RefreshParameterControls(*name);
  } else {
    RefreshAllParameters();
  }
  if (how.enabling_after) DoDataExchange();
  return result;
}

CDriveSetupDlg::CDriveSetupDlg(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMySetupDlg(setup, kTemplateId, 1, kGuidelines, parent) {
  kestrel::ComputeParametersFromRegisters(setup_);
  kestrel::ComputeParameterLimits(setup_);
  if (kestrel::HasSpeedForward(setup_)) kestrel::ApplySpeedFeedForwardRule(setup_);
  BindParameters();
  can_bit_rate_ = EnableCANSettings() != 0;
}

void CDriveSetupDlg::BindParameters() {
  for (const EditRow& row : kEdits) AddParameterControls(row.name, row.edit, row.unit);
  for (const CheckRow& row : kChecks) AddCheckParameterControls(row.name, row.id);
  for (const SwitchRow& row : kSwitches) AddSwitchParameterControls(row.name, row.first, row.last);
  if (setup_.GetIntOption("hideEnablePolarity") != 1)
    AddSwitchParameterControls("EnablePolarity", kEnableLow, kEnableHigh);
  if (kestrel::HasInputsPolarityType(setup_))
    AddSwitchParameterControls("InputsPolarityType", kSourceInputs, kSinkInputs);
  if (kestrel::HasSoftwareLimits(setup_)) {
    AddCheckParameterControls("isSWLS", kLimitsCheck);
    AddParameterControls("Negative_SWLS", kNegativeLimit, kNegativeLimit + 1);
    AddParameterControls("Positive_SWLS", kPositiveLimit, kPositiveLimit + 1);
  }
  if (kestrel::HasLssActive(setup_)) {
    AddCheckParameterControls("save_CAN_baudrate", kStoreBitRate);
    AddCheckParameterControls("save_axis_id", kStoreAxisId);
  }
}

int CDriveSetupDlg::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  SetButtonImage(kMotorSetup, "TO_MOTORSETUP");
  EnableChild(kAnalogueReference, kestrel::HasAnalogueReference(setup_));
  FillAxisIds();
  ShowDigitalReferenceCaption();
  DecideInputsType();
  DoDataExchange();
  // The motor comes first: its setup dialog opens by itself once this one is on the screen.
  SetTimer(kMotorSetupTimer, 100);
  return 1;
}

void CDriveSetupDlg::OnTimer(int id) {
  if (id != kMotorSetupTimer) {
    CMySetupDlg::OnTimer(id);
    return;
  }
  KillTimer(kMotorSetupTimer);
  RunSecondary<CMotorSetupDialog>({.passes_before = false});
}

void CDriveSetupDlg::FillAxisIds() {
  ResetComboItems(kAxisId);
  for (int id = 1; id <= 255; ++id) AddComboItem(kAxisId, std::to_string(id).c_str(), id);
  const int hardware = AddComboItem(kAxisId, "H/W", 0);
  const CMC_Parameter* list = FindOptional(setup_, "Axis_ID_list");
  if (list == nullptr) return;
  const int id = Trunc(list->GetValueInBaseUnit());
  // An ID the combo does not list selects nothing, and OK then leaves it as it is.
  SetComboSelection(kAxisId, id == 0 ? hardware : (id >= 1 && id <= 255 ? id - 1 : -1));
}

void CDriveSetupDlg::ShowDigitalReferenceCaption() {
  SetChildText(kDigitalReference, Read(setup_, "DigitalReferenceType") == 0.0
                                      ? "Pulse && Direction"
                                      : "Incremental Encoder");
}

void CDriveSetupDlg::DecideInputsType() {
  const bool option_known = !setup_.GetOptionNoError("IsInputsTypeProgrammable").empty();
  const int programmable = option_known ? setup_.GetIntOption("IsInputsTypeProgrammable") : -1;
  const CMC_Parameter* type = FindOptional(setup_, "InputsPolarityType");
  EnableChild(kSourceInputs, type != nullptr && programmable == 1);
  EnableChild(kSinkInputs, type != nullptr && programmable == 1);
  bool sink = false;
  if (programmable != -1 && type != nullptr) {
    sink = type->GetValueInBaseUnit() == 1.0;
  } else if (programmable != -1) {
    // ASR bit 2 set marks source inputs.
    const CMC_Parameter* asr = FindOptional(setup_, "ASR");
    sink = !(asr != nullptr && kestrel::Bit(kestrel::Word(asr), 2));
  } else {
    // Hosts that do not know the option: the drive's description tells the type.
    sink = setup_.GetDescription().find("QZ") != std::string::npos;
  }
  SetCheck(kSourceInputs, sink ? 0 : 1);
  SetCheck(kSinkInputs, sink ? 1 : 0);
  ShowPolarityLines(sink);
}

void CDriveSetupDlg::ShowPolarityLines(bool sink) {
  const char* const* lines = sink ? kSinkLines : kSourceLines;
  SetChildText(kUpperPolarityLine, lines[0]);
  SetChildText(kLowerPolarityLine, lines[1]);
  sink_inputs_ = sink;
}

void CDriveSetupDlg::DoDataExchange() {
  CMySetupDlg::DoDataExchange();
  const State s = ReadState(setup_, can_bit_rate_);
  for (const Rule& rule : kRules) {
    if (rule.applies != nullptr && !rule.applies(s)) continue;
    const bool on = rule.holds(s);
    for (int id : rule.ids) {
      if (rule.effect == Effect::kEnable) {
        EnableChild(id, on);
      } else {
        ShowChild(id, on);
      }
    }
  }
  ShowDigitalReferenceCaption();
  if (s.has_speed_forward) ApplyFeedForwardOverride(*this, s);
  RefreshAllParameters();
}

void CDriveSetupDlg::OnCommand(int id) {
  switch (id) {
    case kMotorSetup:
      RunSecondary<CMotorSetupDialog>({});
      return;
    case kAdvanced:
      RunSecondary<CAdvancedDialog>({.after_ok = &ClearFeedForwardsWithoutSpeedLoop});
      return;
    case kDriveInfo:
      RunSecondary<CDriveInfo>({.enabling_after = false});
      return;
    case kReferenceSetup:
      RunSecondary<CAnalogReferenceDlg>({.limits_before = true});
      return;
    case kDetect:
      RunSecondary<CTestVdcDetection>({.refresh_only = kVdcTestChanges});
      return;
    case kTuneCurrent:
      RunSecondary<CTestCurrent>({.sinusoidal_mode = true});
      return;
    case kTuneAngle:
      RunSecondary<CTestAngle>({});
      return;
    case kTuneSpeed:
      RunSecondary<CTestSpeedTuning>({});
      return;
    case kTunePosition:
      RunSecondary<CTestPositionTuning>({});
      return;
    default:
      break;
  }
  for (int exchange : kExchangeCommands) {
    if (id == exchange) {
      DoDataExchange();
      return;
    }
  }
  CMySetupDlg::OnCommand(id);
}

void CDriveSetupDlg::OnSelectionChanged(int id) {
  if (id != kAxisId) {
    CMySetupDlg::OnSelectionChanged(id);
    return;
  }
  // Index 127 is ID 128; the last item is "H/W".
  const int index = GetComboSelection(kAxisId);
  if (index >= 127 && index <= 254)
    MessageBox(kAxisIdWarning, axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
}

void CDriveSetupDlg::OnChangedParameterValue(const char* name) {
  if (Is(name, "ControlMode")) {
    if (kestrel::HasSpeedForward(setup_)) kestrel::ApplySpeedFeedForwardRule(setup_);
    if (Trunc(Read(setup_, "ControlMode")) != 0) {
      // Speed and torque references come from the analogue input with a 1:1 gear.
      SetIfPresent(setup_, "GEARMASTER", 1.0);
      SetIfPresent(setup_, "GEARSLAVE", 1.0);
      SetIfPresent(setup_, "isAnalogueReference", 1.0);
      RefreshAllParameters();
    }
    DoDataExchange();
  } else if (Is(name, "ExternalReference")) {
    if (Read(setup_, "ExternalReference") == 0.0) {
      SetIfPresent(setup_, "isAutoActivatedAfterPowerOn", 0.0);
      RefreshParameterControls("isAutoActivatedAfterPowerOn");
    }
    DoDataExchange();
  } else if (Is(name, "Negative_SWLS") || Is(name, "Positive_SWLS")) {
    // The edited limit gives way: the negative limit never lies above the positive one.
    CMC_Parameter* negative = FindOptional(setup_, "Negative_SWLS");
    CMC_Parameter* positive = FindOptional(setup_, "Positive_SWLS");
    if (negative != nullptr && positive != nullptr &&
        negative->GetValueInBaseUnit() > positive->GetValueInBaseUnit()) {
      if (Is(name, "Negative_SWLS")) {
        negative->SetValueInBaseUnit(positive->GetValueInBaseUnit());
      } else {
        positive->SetValueInBaseUnit(negative->GetValueInBaseUnit());
      }
    }
  } else {
    for (const char* exchange : kExchangeParameters) {
      if (Is(name, exchange)) {
        DoDataExchange();
        break;
      }
    }
  }
  CMySetupDlg::OnChangedParameterValue(name);
}

void CDriveSetupDlg::OnRefreshParameterValue(const char* name) {
  if (Is(name, "InputsPolarityType")) {
    ChangeInputsType();
  } else if (Is(name, "Limit_Speed")) {
    kestrel::ComputeParameterLimits(setup_);
  } else if (Is(name, "StartCurrent")) {
    ReencodeStartCurrent();
  }
  CMySetupDlg::OnRefreshParameterValue(name);
}

void CDriveSetupDlg::ChangeInputsType() {
  const bool sink = Read(setup_, "InputsPolarityType") == 1.0;
  // Clicking the type already shown changes nothing; a new type inverts every polarity switch so
  // that each input keeps the electrical level it had.
  if (sink != sink_inputs_) {
    for (const char* polarity : {"EnablePolarity", "LSNPolarity", "LSPPolarity"}) {
      if (CMC_Parameter* p = FindOptional(setup_, polarity))
        p->SetValueInBaseUnit(p->GetValueInBaseUnit() == 0.0 ? 1.0 : 0.0);
    }
    ShowPolarityLines(sink);
  }
  RefreshAllParameters();
}

std::string CDriveSetupDlg::StartCurrentWarning(double time_s) {
  return "You have set a start current bigger than the nominal current! The start current will be "
         "applied for " +
         axis::FormatFixed(time_s, 2) +
         " s.\n\nThe motor must withstand this over current condition or it may be damaged.";
}

void CDriveSetupDlg::ReencodeStartCurrent() {
  kestrel::EncodeREFTST(setup_);
  kestrel::EncodeRINCTST(setup_);
  kestrel::DeriveStartCurrent(setup_);
  RefreshParameterControls("StartCurrent");
  // The current flows while the motor aligns on phase B, then on phase A.
  if (Read(setup_, "StartCurrent") > 100.0)
    MessageBox(StartCurrentWarning(2.0 * Read(setup_, "time_AB")), axis::MessageButtons::kOk,
               axis::MessageIcon::kWarning);
}

void CDriveSetupDlg::OnOK() {
  if (CMC_Parameter* list = FindOptional(setup_, "Axis_ID_list")) {
    const std::string text = GetChildText(kAxisId);
    // No selection (an ID the combo does not list) keeps the setup's ID.
    if (!text.empty() && text != FormatId(list->GetValueInBaseUnit()))
      list->SetValueInBaseUnit(ReadDecimal(text));
  }
  kestrel::ComputeRegistersFromParameters(setup_);
  kestrel::SetCapabilityOptions(setup_);
  CMySetupDlg::OnOK();
}
