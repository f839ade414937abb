#include "editor/analog_reference_dlg.h"

#include "commissioning/analogue_reference_test.h"

#include "conversions/calculator.h"
#include "conversions/reference.h"
#include "host/text.h"
#include "passes/passes.h"

using kestrel::FindOptional;

namespace {

bool Is(const char* name, const char* expected) {
  return name != nullptr && axis::EqualsNoCase(name, expected);
}

// The range of the controlled quantity that the input span maps onto, per control mode.
struct LimitPair {
  const char* maximum;
  const char* minimum;
  const char* maximum_label;
  const char* minimum_label;
  const char* picture;
};
constexpr LimitPair kLimitPairs[] = {
    {"POS_max", "POS_min", "Maximum Position", "Minimum Position", "3003"},
    {"SPD_max", "SPD_min", "Maximum Speed", "Minimum Speed", "3044"},
    {"CRT_max", "CRT_min", "Maximum Current", "Minimum Current", "3002"},
};

const LimitPair* PairOf(int mode) {
  return mode >= 0 && mode < static_cast<int>(std::size(kLimitPairs)) ? &kLimitPairs[mode]
                                                                      : nullptr;
}

// A value and the one that shares its unit.
struct UnitFollower {
  const char* leader;
  const char* follower;
};
constexpr UnitFollower kUnitFollowers[] = {{"POS_max", "POS_min"},
                                           {"SPD_max", "SPD_min"},
                                           {"CRT_max", "CRT_min"},
                                           {"DeadBand_Point", "DeadBand_Range"}};

// The two ends of a range bound each other (and the drive's limits bound both).
struct RangePair {
  const char* minimum;
  const char* maximum;
  void (*set_minimum_range)(CMC_Setup&);
  void (*set_maximum_range)(CMC_Setup&);
};
constexpr RangePair kRangePairs[] = {
    {"POS_min", "POS_max", kestrel::SetPosMinRange, kestrel::SetPosMaxRange},
    {"SPD_min", "SPD_max", kestrel::SetSpdMinRange, kestrel::SetSpdMaxRange},
    {"CRT_min", "CRT_max", kestrel::SetCrtMinRange, kestrel::SetCrtMaxRange},
};

// The ends of the analogue input span, V, as the labels under the picture show them.
struct InputSpan {
  double range_V;
  const char* low;
  const char* high;
};
constexpr InputSpan kInputSpans[] = {{20.0, "-10", "10"}, {5.0, "0", "5"}};
constexpr InputSpan kDefaultInputSpan = {3.3, "0", "3.3"};

constexpr const char* kLimitSpeedText = "Limit maximum speed at";
constexpr const char* kLimitAccelerationText = "Limit maximum acceleration at";

double Value(CMC_Setup& setup, const char* name) {
  return kestrel::OptionalValue(setup, name, 0.0);
}

}  // namespace

CAnalogReferenceDlg::CAnalogReferenceDlg(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMySetupDlg(setup, 111, 1, nullptr, parent),
      has_input_(kestrel::HasAnalogueReference(setup)),
      mode_(-1) {
  if (const CMC_Parameter* mode = setup_.FindParameter("ControlMode"))
    mode_ = kestrel::Trunc(mode->GetValueInBaseUnit());

  AddSwitchParameterControls("isAnalogueReference", kDigital, kAnalogue);
  AddSwitchParameterControls("DigitalReferenceType", kPulseDirection, kIncrementalEncoder);
  AddParameterControls("GEARMASTER", kGearMaster, 0);
  AddParameterControls("GEARSLAVE", kGearSlave, 0);
  const LimitPair* pair = PairOf(mode_);
  if (has_input_ && pair != nullptr) {
    AddParameterControls(pair->maximum, kMaximum, kMaximumUnit);
    setup_.ChangeParameterUnit(pair->minimum, setup_.GetParameterUnit(pair->maximum));
    AddParameterControls(pair->minimum, kMinimum, 0);
  }
  if (mode_ == 0 || mode_ == 1) {
    AddCheckParameterControls("isLimitMaximum", kLimitCheck);
    // Position control limits the speed of an analogue reference and the acceleration of a
    // digital one; speed control limits the acceleration.
    AddParameterControls(mode_ == 0 ? "ErefMaxSpeed" : "ErefMaxAcceleration", kLimit, kLimitUnit);
  }
  if (mode_ == 0) AddParameterControls("ErefMaxAcceleration", kOtherLimit, kOtherLimitUnit);
  if (has_input_) {
    AddParameterControls("DeadBand_Point", kDeadBandPoint, kDeadBandPointUnit);
    setup_.ChangeParameterUnit("DeadBand_Range", setup_.GetParameterUnit("DeadBand_Point"));
    AddParameterControls("DeadBand_Range", kDeadBandRange, 0);
    AddCheckParameterControls("UseFilter", kUseFilter);
    AddParameterControls("filter", kFilter, kFilterUnit);
  }
}

bool CAnalogReferenceDlg::Analogue() { return Value(setup_, "isAnalogueReference") == 1.0; }
bool CAnalogReferenceDlg::Limited() { return Value(setup_, "isLimitMaximum") == 1.0; }

int CAnalogReferenceDlg::OnInitDialog() {
  CMySetupDlg::OnInitDialog();

  InputSpan span = kDefaultInputSpan;
  const double range_V = Value(setup_, "AnalogueInputsRange");
  for (const InputSpan& candidate : kInputSpans) {
    if (candidate.range_V == range_V) span = candidate;
  }
  SetChildText(kInputLow, span.low);
  SetChildText(kInputHigh, span.high);
  EnableChild(kInputLow, 0);
  EnableChild(kInputHigh, 0);

  if (const LimitPair* pair = PairOf(mode_)) {
    SetChildText(kMaximumLabel, pair->maximum_label);
    SetChildText(kMinimumLabel, pair->minimum_label);
    SetButtonImage(kPicture, pair->picture);
  }
  if (mode_ == 0) SetChildText(kLimitCheck, Analogue() ? kLimitSpeedText : kLimitAccelerationText);
  if (mode_ == 1) SetChildText(kLimitCheck, kLimitAccelerationText);
  if (mode_ == 2) {
    // Current control has no limit of its own here.
    const int limit[] = {kLimitCheck, kLimit, kLimitUnit, 0};
    ShowChildren(limit, 0);
  }

  EnableChild(kAnalogue, has_input_);
  RefreshControls();
  return 1;
}

void CAnalogReferenceDlg::ShowFilter() {
  const int filter[] = {kFilterLabel, kFilter, kFilterUnit, 0};
  ShowChildren(filter, has_input_ && Value(setup_, "UseFilter") != 0.0);
}

void CAnalogReferenceDlg::SetLimitText() {
  SetChildText(kLimitCheck, Analogue() && mode_ == 0 ? kLimitSpeedText : kLimitAccelerationText);
}

void CAnalogReferenceDlg::RefreshControls() {
  ShowFilter();
  const bool analogue = Analogue();
  const bool limit_mode = Limited() && (mode_ == 0 || mode_ == 1);
  const int limit[] = {kLimit, kLimitUnit, 0};
  const int other_limit[] = {kOtherLimit, kOtherLimitUnit, 0};
  ShowChildren(limit, analogue && limit_mode);
  ShowChildren(other_limit, !analogue && limit_mode);

  for (int id = kMaximum; id <= kMaximumLabel + 6; ++id) EnableChild(id, analogue);  // 1006-1013
  const int analogue_only[] = {
      kMaximumUnit, kDeadBandPointUnit, kUseFilter, kFilterLabel, kFilter, kFilterUnit,
      kInputLow,    kInputHigh,         0};
  EnableChildren(analogue_only, analogue);
  EnableChild(kTest, analogue);

  const bool digital_position = !analogue && mode_ == 0;
  EnableChild(kPulseDirection, digital_position);
  EnableChild(kIncrementalEncoder, digital_position);
  for (int id = kGearLabel; id <= kGearLast; ++id) EnableChild(id, digital_position);

  EnableChild(kDigital, mode_ == 0 && setup_.GetIntOption("DisableExternalDigitalReference") == 0);
}

void CAnalogReferenceDlg::OnCommand(int id) {
  switch (id) {
    case kLimitCheck:
    case kDigital:
    case kAnalogue:
      RefreshControls();
      return;
    case kTest: {
      // The drive-side values follow the dialog before the test and are derived again after it.
      kestrel::ComputeRegistersFromParameters(setup_);
      kestrel::ComputeParametersFromRegisters(setup_);
      CTestAnalogueRef test(setup_, nullptr);
      test.DoModal();
      kestrel::ComputeRegistersFromParameters(setup_);
      kestrel::ComputeParametersFromRegisters(setup_);
      return;
    }
    default:
      CMySetupDlg::OnCommand(id);
  }
}

void CAnalogReferenceDlg::OnChangedParameterValue(const char* name) {
  if (Is(name, "UseFilter")) {
    ShowFilter();
  } else if (Is(name, "isAnalogueReference")) {
    SetLimitText();
    RefreshControls();
  } else if (Is(name, "isLimitMaximum")) {
    RefreshControls();
  } else if (Is(name, "DeadBand_Range") || Is(name, "DeadBand_Point")) {
    kestrel::SetDeadBandPointRange(setup_);
    kestrel::SetDeadBandRangeRange(setup_);
    RefreshParameterControls(Is(name, "DeadBand_Range") ? "DeadBand_Point" : "DeadBand_Range");
  }
  CMySetupDlg::OnChangedParameterValue(name);
}

void CAnalogReferenceDlg::OnChangedParameterUnit(const char* name) {
  for (const UnitFollower& row : kUnitFollowers) {
    if (!Is(name, row.leader)) continue;
    setup_.ChangeParameterUnit(row.follower, setup_.GetParameterUnit(row.leader));
    RefreshParameterControls(row.follower);
  }
  CMySetupDlg::OnChangedParameterUnit(name);
}

void CAnalogReferenceDlg::OnRefreshParameterValue(const char* name) {
  for (const RangePair& row : kRangePairs) {
    if (!Is(name, row.minimum) && !Is(name, row.maximum)) continue;
    row.set_minimum_range(setup_);
    row.set_maximum_range(setup_);
  }
  RefreshAllParameters(0);
  CMySetupDlg::OnRefreshParameterValue(name);
}
