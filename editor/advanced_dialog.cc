#include "editor/advanced_dialog.h"

#include <cmath>
#include <string>

#include "conversions/calculator.h"
#include "conversions/configuration.h"
#include "conversions/periods.h"
#include "conversions/timing.h"
#include "host/number_text.h"
#include "host/text.h"
#include "passes/passes.h"

using kestrel::FindOptional;
using kestrel::ParametersExist;

namespace {

bool Is(const char* name, const char* expected) {
  return name != nullptr && axis::EqualsNoCase(name, expected);
}

// Values the drive counts in slow-loop periods, by the base unit of their quantity: times (counts
// of periods), speeds (counts per period), accelerations (per period squared) and current slopes.
constexpr const char* kSlowLoopCountedUnits[] = {"s", "rad/s", "m/s", "rad/s^2", "m/s^2", "A/s"};

bool IsSlowLoopCounted(const CMC_Parameter& parameter, const CMC_Units& units) {
  const CMC_Unit* unit = parameter.GetUnit();
  if (unit == nullptr) return false;
  for (const char* name : kSlowLoopCountedUnits) {
    const CMC_Unit* base = units.FindBaseUnit(name);
    if (base != nullptr && base->GetUnitType() == unit->GetUnitType()) return true;
  }
  return false;
}

double Value(CMC_Setup& setup, const char* name) { return kestrel::OptionalValue(setup, name); }

}  // namespace

CAdvancedDialog::CAdvancedDialog(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMySetupDlg(setup, 110, 1, nullptr, parent) {
  AddSwitchParameterControls("PositionControlType", kCloseOnlyPosition, kClosePositionSpeed);
  {
    // Older firmware has no choice of loop placement.
    kestrel::QuietLookups quiet;
    AddSwitchParameterControls("PosSpd_in_FastLoop", kSlowLoopPlacement, kFastLoopPlacement);
  }
  if (kestrel::HasSpeedEstimator(setup_))
    AddCheckParameterControls("isSpeedEstimator", kSpeedEstimator);
  AddParameterControls("CLPER", kFastDivider, 0);
  AddParameterControls("SLPER", kSlowDivider, 0);
  AddParameterControls("PWM_freq", kPwmFrequency, kPwmFrequencyUnit);
  AddParameterControls("Ts_C", kFastPeriod, kFastPeriodUnit);
  AddParameterControls("Ts_S", kSlowPeriod, kSlowPeriodUnit);
  AddParameterControls("PWMperiod", kPwmPeriod, kPwmPeriodUnit);
  if (kestrel::HasSpeedForward(setup_))
    AddSwitchParameterControls("SpeedForward", kFeedForwardSpeedLoop, kFeedForwardCurrentLoop);
  if (kestrel::HasFreezeControl(setup_)) {
    AddCheckParameterControls("isFreezeControl", kFreezeCheck);
    AddParameterControls("FreezeControl_errband", kFreezeErrorBand, kFreezeErrorBandUnit);
    AddParameterControls("FreezeControl_time", kFreezeTime, kFreezeTimeUnit);
  }
}

bool CAdvancedDialog::PositionMode() { return Value(setup_, "ControlMode") == 0.0; }

bool CAdvancedDialog::CascadedPositionLoop() {
  return PositionMode() && Value(setup_, "PositionControlType") == 1.0;
}

int CAdvancedDialog::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  const double mode = Value(setup_, "ControlMode");

  const int scheme[] = {kCloseOnlyPosition, kClosePositionSpeed, 0};
  ShowChildren(scheme, mode == 0.0);

  const bool feed_forward = kestrel::HasSpeedForward(setup_) && mode != 2.0;
  EnableChild(kFeedForwardGroup, feed_forward);
  EnableChild(kFeedForwardCurrentLoop, feed_forward);
  EnableChild(kFeedForwardSpeedLoop, feed_forward && CascadedPositionLoop());

  const bool freeze = kestrel::HasFreezeControl(setup_) && mode == 0.0;
  for (int id = kFreezeGroup; id <= kFreezeTimeUnit; ++id) EnableChild(id, freeze);

  const int placement[] = {kSlowLoopPlacement, kFastLoopPlacement, kLoopPlacementGroup, 0};
  if (!ParametersExist(setup_, {"PosSpd_in_FastLoop"})) {
    ShowChildren(placement, 0);
  } else {
    // Torque control has no position or speed loop to place.
    EnableChildren(placement, mode < 2.0);
  }

  const bool estimator = kestrel::HasSpeedEstimator(setup_);
  EnableChild(kSpeedComputationGroup, estimator);
  EnableChild(kSpeedEstimator, estimator);

  reference_slow_s_ = Value(setup_, "Ts_S");
  remembered_fast_s_ = Value(setup_, "Ts_C");
  remembered_slow_s_ = reference_slow_s_;
  for (int mark : {kFastOutsideLimits, kSlowOutsideLimits}) {
    ShowChild(mark, 0);
    SetTextColour(mark, kRedColour);
  }
  RefreshDialog();
  return 1;
}

void CAdvancedDialog::DoDataExchange() {
  CMySetupDlg::DoDataExchange();
  const double mode = Value(setup_, "ControlMode");
  const char* picture = CascadedPositionLoop() ? "3016"
                        : mode == 0.0          ? "3017"
                        : mode == 1.0          ? "3060"
                                               : "3061";
  SetButtonImage(kPicture, picture);

  const bool feed_forward_off = !kestrel::HasSpeedForward(setup_) || mode == 2.0;
  EnableChild(kFeedForwardGroup, !feed_forward_off);
  EnableChild(kFeedForwardCurrentLoop, !feed_forward_off);
  EnableChild(kFeedForwardSpeedLoop, !feed_forward_off && CascadedPositionLoop());

  const bool freeze_values =
      kestrel::HasFreezeControl(setup_) && Value(setup_, "isFreezeControl") == 1.0 && mode == 0.0;
  for (int id = kFreezeCheck + 1; id <= kFreezeTimeUnit; ++id) EnableChild(id, freeze_values);
}

void CAdvancedDialog::OnCommand(int id) {
  if (id == kCloseOnlyPosition || id == kClosePositionSpeed) {
    RefreshDialog();
    return;
  }
  CMySetupDlg::OnCommand(id);
}

void CAdvancedDialog::OnChangedParameterValue(const char* name) {
  if (Is(name, "PWM_freq")) {
    kestrel::EncodePWMPER(setup_);
    kestrel::EncodeSATPWM(setup_);
    kestrel::DerivePWMperiod(setup_);
    // Keep both loop periods as close to what they were as whole dividers allow.
    CMC_Parameter* clper = nullptr;
    CMC_Parameter* slper = nullptr;
    CMC_Parameter* pwmper = nullptr;
    CMC_Parameter* dsp = nullptr;
    if (kestrel::FindAll(
            setup_,
            {{"CLPER", &clper}, {"SLPER", &slper}, {"PWMPER", &pwmper}, {"DSP_freq", &dsp}})) {
      const double dsp_Hz = dsp->GetValueInBaseUnit();
      const double pwmper_clocks = pwmper->GetValueInBaseUnit();
      clper->SetValueInBaseUnit(
          std::floor(dsp_Hz * remembered_fast_s_ * 0.5 / pwmper_clocks + 0.5));
      slper->SetValueInBaseUnit(
          std::floor(dsp_Hz * remembered_slow_s_ * 0.5 / pwmper_clocks + 0.5));
    }
    kestrel::DeriveTs_S(setup_);
    kestrel::DeriveTs_C(setup_);
    // The refresh that ran before this saw the new PWM period with the old dividers; the dividers
    // just moved again, so the counted values and the registers follow the final slow period.
    FollowSlowPeriod();
    for (const char* shown : {"CLPER", "SLPER", "Ts_S", "Ts_C", "PWMperiod"})
      RefreshParameterControls(shown);
    RefreshDialog();
  }
  CMySetupDlg::OnChangedParameterValue(name);
}

void CAdvancedDialog::RescaleSlowLoopCounts() {
  // The I2t protections keep their I^2 x t: when a time cannot be kept exactly, the current
  // follows it.
  const double drive_time_s = Value(setup_, "t_I2t_D");
  const double motor_time_s = Value(setup_, "t_I2t_M");

  // With ratio = reference period / new period, a time counts ratio times more periods, a speed
  // or a current slope 1/ratio times as many counts per period, an acceleration 1/ratio^2. The
  // host keeps values in base units and the scales follow the timer registers, so the value read
  // in internal units now already is that new count, and the physical value stays. Writing the
  // count back snaps it to what the quantity can hold; where it does not come back, the passes
  // bring the registers along first.
  const CMC_Units& units = setup_.GetUnits();
  CMC_Parameters& parameters = setup_.GetParameters();
  for (int i = 0; i < parameters.GetParametersCount(); ++i) {
    CMC_Parameter* p = parameters[i];
    if (p == nullptr || p->GetType() == axis::kTypeRegister ||
        p->GetType() == axis::kTypeRegisterWord || !IsSlowLoopCounted(*p, units))
      continue;
    const double count = p->GetValueInInternalUnit();
    p->SetValueInInternalUnit(count);
    if (p->GetValueInInternalUnit() != count) {
      kestrel::ComputeRegistersFromParameters(setup_);
      kestrel::ComputeParametersFromRegisters(setup_);
      p->SetValueInInternalUnit(count);
    }
  }

  struct I2t {
    const char* time;
    const char* current;
    double kept_time_s;
  };
  for (const I2t& i2t :
       {I2t{"t_I2t_D", "I_I2t_D", drive_time_s}, I2t{"t_I2t_M", "I_I2t_M", motor_time_s}}) {
    CMC_Parameter* time = FindOptional(setup_, i2t.time);
    CMC_Parameter* current = FindOptional(setup_, i2t.current);
    if (time == nullptr || current == nullptr) continue;
    const double now_s = time->GetValueInBaseUnit();
    if (now_s != i2t.kept_time_s && now_s > 0.0 && i2t.kept_time_s > 0.0)
      current->SetValueInBaseUnit(current->GetValueInBaseUnit() *
                                  std::sqrt(i2t.kept_time_s / now_s));
  }
}

void CAdvancedDialog::FollowSlowPeriod() {
  const double slow_s = Value(setup_, "Ts_S");
  // A period that is not a positive number (no clock, a zero divider) is no reference to scale by.
  if (reference_slow_s_ > 0.0 && std::isfinite(slow_s) && slow_s > 0.0 &&
      slow_s != reference_slow_s_) {
    reference_slow_s_ = slow_s;
    RescaleSlowLoopCounts();
  }
  kestrel::ComputeRegistersFromParameters(setup_);
  kestrel::ComputeParametersFromRegisters(setup_);
}

void CAdvancedDialog::ShowOutsideLimits(double minimum_s, double period_s,
                                        std::initializer_list<int> labels, int mark) {
  if (!(minimum_s > 0.0)) return;
  const bool outside = minimum_s > period_s;
  for (int label : labels) SetTextColour(label, outside ? kRedColour : kNormalColour);
  ShowChild(mark, outside);
}

void CAdvancedDialog::OnRefreshParameterValue(const char* name) {
  // The slow loop never runs more often than the fast one.
  CMC_Parameter* clper = FindOptional(setup_, "CLPER");
  CMC_Parameter* slper = FindOptional(setup_, "SLPER");
  const bool slow_lifted = clper != nullptr && slper != nullptr &&
                           clper->GetValueInBaseUnit() > slper->GetValueInBaseUnit();
  if (slow_lifted) slper->SetValueInBaseUnit(clper->GetValueInBaseUnit());

  kestrel::DeriveTs_S(setup_);
  kestrel::DeriveTs_C(setup_);
  kestrel::EncodePWMPER(setup_);
  kestrel::EncodeSATPWM(setup_);
  kestrel::DerivePWMperiod(setup_);
  if (kestrel::HasSpeedForward(setup_)) kestrel::ApplySpeedFeedForwardRule(setup_);

  const bool fast = Is(name, "CLPER");
  // A fast divider that lifts the slow one moves the slow period as a slow divider would: the
  // values counted in slow-loop periods must follow it too, or their physical values would change.
  const bool slow = Is(name, "SLPER") || slow_lifted;
  // A new PWM frequency moves both dividers once more afterwards (OnChangedParameterValue); the
  // counted values follow the final slow period there, so that they are not rounded to the
  // passing one first.
  if (slow) FollowSlowPeriod();
  if (fast) {
    ShowOutsideLimits(kestrel::MinimumFastPeriod(setup_), Value(setup_, "Ts_C"),
                      {kFastDividerLabel, kFastPeriodLabel}, kFastOutsideLimits);
    remembered_fast_s_ = Value(setup_, "Ts_C");
  }
  if (slow) {
    ShowOutsideLimits(kestrel::MinimumSlowPeriod(setup_), Value(setup_, "Ts_S"),
                      {kSlowDividerLabel, kSlowPeriodLabel}, kSlowOutsideLimits);
    remembered_slow_s_ = Value(setup_, "Ts_S");
  }
  RefreshAllParameters(0);
  RefreshDialog();
}

void CAdvancedDialog::OnOK() {
  struct Check {
    double minimum_s;
    double period_s;
    const char* loop;
  };
  const Check checks[] = {
      {kestrel::MinimumFastPeriod(setup_), Value(setup_, "Ts_C"), "Fast"},
      {kestrel::MinimumSlowPeriod(setup_), Value(setup_, "Ts_S"), "Slow"},
  };
  bool violated = false;
  for (const Check& check : checks) {
    if (!(check.minimum_s > 0.0 && check.minimum_s > check.period_s)) continue;
    const std::string text = "The minimum value for " + std::string(check.loop) +
                             " loop sampling period is " +
                             axis::FormatFixed(check.minimum_s * 1000.0, 3) +
                             " ms!\nPlease adjust the PWM frequency and/or the " + check.loop +
                             " loop sampling frequency divider until this condition is fulfilled!";
    MessageBox(text, axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
    violated = true;
  }
  if (!violated) CMySetupDlg::OnOK();
}
