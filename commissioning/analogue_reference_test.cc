#include "commissioning/analogue_reference_test.h"

#include "conversions/calculator.h"
#include "host/number_text.h"

namespace {

constexpr const char* kRoutine = "Analogue_Reference_Test";
constexpr const char* kStatus[] = {"Launching test", "Running test"};

// The command a control mode derives from the input: its limits and what it is called.
struct CommandOfMode {
  int mode;
  const char* max;
  const char* min;
  const char* label;
};
constexpr CommandOfMode kCommands[] = {
    {0, "POS_max", "POS_min", "Position command"},
    {1, "SPD_max", "SPD_min", "Speed command"},
    {2, "CRT_max", "CRT_min", "Current command"},
};

constexpr axis::Colour kVoltageColour = 0x0000FF;  // red
constexpr axis::Colour kCommandColour = 0x00FF00;  // green

}  // namespace

CTestAnalogueRef::CTestAnalogueRef(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kTemplate, 1, parent) {
  continuous_run_ = 1;
  step_count_ = 2;
}

// The bars are members: they leave their controls before they are destroyed, ahead of the
// dialog base.
CTestAnalogueRef::~CTestAnalogueRef() {
  AttachCustom(kVoltageBar, nullptr);
  AttachCustom(kCommandBar, nullptr);
}

// A bar grows from 0 when its range holds 0, else from its lower end.
void CTestAnalogueRef::Show(CBarGraph& bar, const Range& range, double value) {
  bar.SetLimits(range.min, range.max);
  bar.SetCurrentValue(value);
  bar.SetDrawingReference(range.min <= 0.0 && range.max >= 0.0 ? 0.0 : range.min);
  bar.Repaint();
}

int CTestAnalogueRef::OnInitDialog() {
  const double span_V = kestrel::OptionalValue(setup_, "AnalogueInputsRange", 0.0);
  voltage_ = span_V == 20.0  ? Range{-10.0, 10.0}
             : span_V == 5.0 ? Range{0.0, 5.0}
                             : Range{0.0, 3.3};
  const char* voltage_unit = setup_.GetParameterUnit("AnalogueInputsRange");
  SetChildText(kVoltageUnit, voltage_unit != nullptr ? voltage_unit : "");

  // An unknown control mode shows no command: an empty range, no label, no unit.
  const int mode = kestrel::Trunc(kestrel::OptionalValue(setup_, "ControlMode", -1.0));
  command_known_ = false;
  for (const CommandOfMode& c : kCommands) {
    const CMC_Parameter* max = kestrel::FindOptional(setup_, c.max);
    const CMC_Parameter* min = kestrel::FindOptional(setup_, c.min);
    if (c.mode != mode || max == nullptr || min == nullptr) continue;
    command_ = {min->GetValueInDisplayUnit(), max->GetValueInDisplayUnit()};
    command_label_ = c.label;
    command_known_ = true;
    SetChildText(kCommandUnit, max->GetUnitName());
  }
  if (!command_known_) SetChildText(kCommandUnit, "");

  AttachCustom(kVoltageBar, &voltage_bar_);
  AttachCustom(kCommandBar, &command_bar_);
  SetChildText(kCommandLabel, command_label_.c_str());
  Show(command_bar_, command_, command_.min);
  Show(voltage_bar_, voltage_, 0.0);
  voltage_bar_.SetColour(kVoltageColour);
  command_bar_.SetColour(kCommandColour);
  SetChildText(kVoltageEdit, "");
  SetChildText(kCommandEdit, "");
  return CMyTestDlg::OnInitDialog();
}

int CTestAnalogueRef::BeginTest() {
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  stop_request_ = 0;
  SetChildText(kVoltageEdit, "");
  SetChildText(kCommandEdit, "");
  for (CBarGraph* bar : {&voltage_bar_, &command_bar_}) {
    bar->SetCurrentValue(bar->GetDrawingReference());
    bar->Repaint();
  }
  SetInfoText(kStatus[0]);
  LoadImage(image_, kRoutine);
  if (!Launch(kRoutine, image_)) return 0;
  SetInfoText(kStatus[1]);
  return RearmTimer() ? 1 : 0;
}

// While the test runs, Stop asks it to end: the next tick ends it as a success.
void CTestAnalogueRef::OnCommand(int id) {
  if (id == kStartStop && running_flag_ != 0) {
    stop_request_ = 1;
    return;
  }
  CMyTestDlg::OnCommand(id);
}

void CTestAnalogueRef::OnPoll() {
  if (step_index_ != 2) {
    TestFailed(1);
    return;
  }
  if (stop_request_ != 0) {
    stop_request_ = 0;
    TestSucceeded(1);
    return;
  }
  if (CheckDriveFaults(1, kestrel::kShortCircuitMask) == 0) return;
  double reading = 0.0;
  if (!ReadDriveVariable("AD5", true, reading)) return;
  const auto scaled = [reading](const Range& r) {
    return RoundDecimalValue((r.max - r.min) * reading / kFullScale + r.min, 2);
  };
  const double voltage = scaled(voltage_);
  SetChildText(kVoltageEdit, axis::FormatFixed(voltage, 2).c_str());
  Show(voltage_bar_, voltage_, voltage);
  if (command_known_) {
    const double command = scaled(command_);
    SetChildText(kCommandEdit, axis::FormatFixed(command, 2).c_str());
    Show(command_bar_, command_, command);
  }
  RearmTimer();
}
