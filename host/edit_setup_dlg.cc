#include "host/edit_setup_dlg.h"

#include <algorithm>
#include <cmath>

#include "host/dialog_handlers.h"
#include "host/number_text.h"
#include "host/numeric.h"
#include "host/text.h"

using axis::ControlKind;
using axis::ControlState;

namespace {

// A slider's spin buttons step its value by a hundredth of its span when there is no slider.
constexpr int kSpinStepsWithoutSlider = 100;

// A value as a bound edit or a slider's bound label shows it: six significant digits.
std::string FormatValue(double value) { return axis::FormatNumber(value, 6); }

double UnitFactor(const CMC_Parameter& parameter) {
  const CMC_Unit* unit = parameter.GetUnit();
  return unit == nullptr ? 1.0 : unit->GetFactor();
}

// The value brought within the parameter's range; a range that is not finite and ordered, and a
// NaN value, leave it as it is.
double WithinRange(const CMC_Parameter& p, double value) {
  const double lo = p.GetMinInBaseUnit(), hi = p.GetMaxInBaseUnit();
  if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi || std::isnan(value)) return value;
  return std::clamp(value, lo, hi);
}

}  // namespace

CMC_EditSetupDlg::CMC_EditSetupDlg(CMC_Setup& setup, int template_id, int flag,
                                   const char* const* guidelines, CMC_EditSetupDlg* parent)
    : DialogModel(template_id), setup_(setup), flag_(flag), parent_(parent) {
  for (const char* const* text = guidelines; text != nullptr && *text != nullptr; ++text)
    guidelines_.emplace_back(*text);
}

CMC_EditSetupDlg::~CMC_EditSetupDlg() = default;

int CMC_EditSetupDlg::EnableCANSettings() {
  bool bound = false;
  AddHandler(axis::MakeCanSettingsHandler(*this, bound));
  return bound ? 1 : 0;
}

int CMC_EditSetupDlg::InitializeMotorEditor() {
  std::unique_ptr<axis::DialogHandler> editor = axis::MakeMotorEditor(*this);
  if (!editor) return 0;
  AddHandler(std::move(editor));
  return 1;
}

// --- bindings ------------------------------------------------------------------------------------

CMC_EditSetupDlg::Binding* CMC_EditSetupDlg::FindBinding(int control_id) {
  for (Binding& b : bindings_) {
    const bool in_switch =
        b.kind == BindingKind::kSwitchRange && control_id >= b.first_id && control_id <= b.last_id;
    if (in_switch || b.edit_id == control_id || b.unit_id == control_id ||
        b.first_id == control_id || b.slider_id == control_id)
      return &b;
  }
  return nullptr;
}

void CMC_EditSetupDlg::Bind(Binding binding) {
  // A control belongs to one parameter: binding it again replaces the old binding.
  for (int id : {binding.edit_id, binding.unit_id, binding.first_id, binding.slider_id}) {
    if (id == 0) continue;
    std::erase_if(bindings_, [&](const Binding& b) {
      return b.edit_id == id || b.unit_id == id || b.first_id == id || b.slider_id == id;
    });
  }
  for (int id = binding.first_id; id != 0 && id <= std::max(binding.first_id, binding.last_id);
       ++id) {
    if (ControlState* c = Mutable(id)) c->parameter = binding.name;
  }
  for (int id : {binding.edit_id, binding.unit_id, binding.slider_id}) {
    if (ControlState* c = Mutable(id)) c->parameter = binding.name;
  }
  FillUnits(binding);
  Show(binding);
  bindings_.push_back(std::move(binding));
}

void CMC_EditSetupDlg::FillUnits(const Binding& b) {
  const ControlState* combo = b.unit_id == 0 ? nullptr : Control(b.unit_id);
  if (combo == nullptr) return;
  const CMC_Unit* current = b.parameter->GetUnit();
  std::vector<std::string> names;
  if (current != nullptr) {
    for (const CMC_Unit* unit : setup_.GetUnits().UnitsOfType(current->Type()))
      names.push_back(unit->GetName());
  }
  // Refilled only when the list changes (the parameter moved to the other motion family), so
  // that a refresh leaves a front end's list alone.
  bool same = combo->items.size() == names.size();
  for (size_t i = 0; same && i < names.size(); ++i) same = combo->items[i].text == names[i];
  if (!same) {
    ResetComboItems(b.unit_id);
    for (const std::string& name : names) AddComboItem(b.unit_id, name.c_str(), 0);
  }
  int selection = -1;
  for (size_t i = 0; current != nullptr && i < names.size(); ++i) {
    if (names[i] == current->GetName()) selection = static_cast<int>(i);
  }
  SetComboSelection(b.unit_id, selection);
}

int CMC_EditSetupDlg::AddParameterControls(const char* name, int edit_id, int unit_id) {
  CMC_Parameter* p = name ? setup_.FindParameter(name) : nullptr;
  if (p == nullptr) return 0;
  if (unit_id == 0 && IsKind(edit_id, {ControlKind::kCombo})) {
    Bind({.kind = BindingKind::kCombo, .name = p->GetName(), .parameter = p, .edit_id = edit_id});
    return 1;
  }
  if (!IsKind(edit_id, {ControlKind::kEdit}) ||
      (unit_id != 0 && !IsKind(unit_id, {ControlKind::kUnit, ControlKind::kCombo})))
    return 0;
  Bind({.kind = BindingKind::kEdit,
        .name = p->GetName(),
        .parameter = p,
        .edit_id = edit_id,
        .unit_id = unit_id});
  return 1;
}

int CMC_EditSetupDlg::AddUserParameterControls(CMC_Parameter& p, int edit_id, int unit_id) {
  if (!IsKind(edit_id, {ControlKind::kEdit}) ||
      (unit_id != 0 && !IsKind(unit_id, {ControlKind::kUnit, ControlKind::kCombo})))
    return 0;
  Bind({.kind = BindingKind::kEdit,
        .name = p.GetName(),
        .parameter = &p,
        .edit_id = edit_id,
        .unit_id = unit_id});
  return 1;
}

int CMC_EditSetupDlg::AddCheckParameterControls(const char* name, int check_id) {
  CMC_Parameter* p = name ? setup_.FindParameter(name) : nullptr;
  if (p == nullptr || !IsKind(check_id, {ControlKind::kCheck})) return 0;
  Bind({.kind = BindingKind::kCheck,
        .name = p->GetName(),
        .parameter = p,
        .first_id = check_id,
        .last_id = check_id});
  return 1;
}

int CMC_EditSetupDlg::AddSwitchParameterControls(const char* name, int first_id, int last_id) {
  CMC_Parameter* p = name ? setup_.FindParameter(name) : nullptr;
  if (p == nullptr || last_id < first_id) return 0;
  for (int id = first_id; id <= last_id; ++id) {
    if (!IsKind(id, {ControlKind::kRadio})) return 0;
  }
  Bind({.kind = BindingKind::kSwitchRange,
        .name = p->GetName(),
        .parameter = p,
        .first_id = first_id,
        .last_id = last_id});
  return 1;
}

int CMC_EditSetupDlg::AddSwitchParameterControls(const char* name, int button_id) {
  CMC_Parameter* p = name ? setup_.FindParameter(name) : nullptr;
  if (p == nullptr || !IsKind(button_id, {ControlKind::kRadio, ControlKind::kCheck})) return 0;
  Bind({.kind = BindingKind::kSwitchSingle,
        .name = p->GetName(),
        .parameter = p,
        .first_id = button_id,
        .last_id = button_id});
  return 1;
}

int CMC_EditSetupDlg::AddSliderParameterControls(const char* name, int slider_id, int edit_id,
                                                 int unit_id, int min_label_id, int max_label_id,
                                                 double lower, double upper) {
  CMC_Parameter* p = name ? setup_.FindParameter(name) : nullptr;
  if (p == nullptr || (slider_id != 0 && !IsKind(slider_id, {ControlKind::kSlider})) ||
      (edit_id != 0 && !IsKind(edit_id, {ControlKind::kEdit})) ||
      (unit_id != 0 && !IsKind(unit_id, {ControlKind::kUnit, ControlKind::kCombo})))
    return 0;
  Bind({.kind = BindingKind::kSlider,
        .name = p->GetName(),
        .parameter = p,
        .edit_id = edit_id,
        .unit_id = unit_id,
        .slider_id = slider_id,
        .min_label_id = min_label_id,
        .max_label_id = max_label_id,
        .lower = lower,
        .upper = upper});
  return 1;
}

void CMC_EditSetupDlg::Show(const Binding& b) {
  const double value = b.parameter->GetValueInBaseUnit();
  FillUnits(b);
  switch (b.kind) {
    case BindingKind::kSlider: {
      const double factor = UnitFactor(*b.parameter);
      SetText(b.min_label_id, FormatValue(b.lower / factor));
      SetText(b.max_label_id, FormatValue(b.upper / factor));
      // Where the bounds show on spin buttons, the lower one steps down and the upper one up.
      for (auto [id, direction] : {std::pair{b.min_label_id, -1}, {b.max_label_id, 1}}) {
        ControlState* spin = Mutable(id);
        if (spin == nullptr || spin->kind != ControlKind::kSpin || spin->selection == direction)
          continue;
        spin->selection = direction;
        Touch(id);
      }
      if (ControlState* s = Mutable(b.slider_id)) {
        const double ticks = s->range_max - s->range_min;
        const double fraction = (value - b.lower) / (b.upper - b.lower);
        // NaN (empty span or NaN value) shows the slider at its low end.
        const double clamped = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
        const int position =
            s->range_min + axis::TruncToInt(axis::RoundToIntegral(clamped * ticks));
        if (s->selection != position) {
          s->selection = position;
          Touch(b.slider_id);
        }
      }
      [[fallthrough]];
    }
    case BindingKind::kEdit:
      SetText(b.edit_id, b.parameter->PrintValue());
      break;
    case BindingKind::kCombo: {
      const ControlState* combo = Control(b.edit_id);
      const int64_t data = axis::TruncToInt64(value);
      int selection = -1;
      for (size_t i = 0; combo != nullptr && !std::isnan(value) && i < combo->items.size(); ++i) {
        if (combo->items[i].data == data) selection = static_cast<int>(i);
      }
      SetComboSelection(b.edit_id, selection);
      break;
    }
    case BindingKind::kCheck:
    case BindingKind::kSwitchSingle:
      SetCheck(b.first_id, value != 0.0 ? 1 : 0);
      break;
    case BindingKind::kSwitchRange: {
      // Value k selects first + k; a value matching no button leaves all of them clear.
      const double k = std::isfinite(value) ? axis::RoundToIntegral(value) : -1.0;
      for (int id = b.first_id; id <= b.last_id; ++id) SetCheck(id, (id - b.first_id) == k ? 1 : 0);
      break;
    }
  }
}

void CMC_EditSetupDlg::ShowParameter(const char* name) {
  for (const Binding& b : bindings_) {
    if (name != nullptr && axis::EqualsNoCase(b.name, name)) Show(b);
  }
}

void CMC_EditSetupDlg::RefreshParameterControls(const char* name) {
  for (Binding& b : bindings_) {
    if (name == nullptr || !axis::EqualsNoCase(b.name, name)) continue;
    CMC_Parameter& p = *b.parameter;
    const double value = p.GetValueInBaseUnit();
    const double kept = WithinRange(p, value);
    if (kept != value) p.SetValueInBaseUnit(kept);
    Show(b);
  }
}

void CMC_EditSetupDlg::RefreshAllParameters(int) {
  for (const Binding& b : bindings_) Show(b);
  RefreshHandlers();
}

int CMC_EditSetupDlg::StoreParameterValue(const char* name, double base_value) {
  CMC_Parameter* p = name == nullptr ? nullptr : setup_.FindParameterNoError(name);
  if (p == nullptr) return 0;
  const double kept = WithinRange(*p, base_value);
  const std::string stored_name = p->GetName();  // the handlers may rebind controls
  p->SetValueInBaseUnit(kept);
  OnRefreshParameterValue(stored_name.c_str());
  OnChangedParameterValue(stored_name.c_str());
  return kept == base_value || std::isnan(base_value) ? 1 : 2;
}

// --- the user's input ----------------------------------------------------------------------------

void CMC_EditSetupDlg::StoreFromUser(Binding& b, double base_value) {
  const std::string name = b.name;  // the handlers may rebind controls
  b.parameter->SetValueInBaseUnit(base_value);
  OnRefreshParameterValue(name.c_str());
  OnChangedParameterValue(name.c_str());
}

void CMC_EditSetupDlg::CommitEdit(Binding& b, const std::string& text) {
  CMC_Parameter& p = *b.parameter;
  const double lo = p.GetMinInBaseUnit(), hi = p.GetMaxInBaseUnit();
  // A number in the unit shown, or with a unit of its own ("16 kHz"); the decimal comma where the
  // user's locale writes one.
  const axis::Platform* platform = axis::GetPlatform();
  const axis::DecimalMark mark =
      platform == nullptr ? axis::DecimalMark::kPoint : platform->TypedDecimalMark();
  const CMC_Unit* base = CMC_Units::Catalogue().FindUnit(p.GetBaseUnitName());
  std::string fault = "\"" + text + "\" is not a number";
  const std::optional<double> typed =
      base == nullptr ? std::nullopt
                      : axis::ParseValueWithUnit(text, *base, p.GetUnit(), mark, fault);
  // The bounds as shown are rounded: a value typed as shown counts as the bound itself. A NaN
  // bound leaves that side open.
  const auto below = [](double value, double bound) {
    return value < bound - 1e-12 * std::fabs(bound);
  };
  const double value = typed.value_or(0.0);
  const bool inside = typed.has_value() && !below(value, lo) && !below(-value, -hi);
  if (!inside) {
    const double factor = UnitFactor(p);
    const std::string unit = p.GetUnitName();
    std::string message = "Please enter a value between " + FormatValue(lo / factor) + " and " +
                          FormatValue(hi / factor) + (unit.empty() ? "" : " " + unit) + ".";
    if (!typed) message = fault + ". " + message;
    MessageBox(message, axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
    Show(b);
    return;
  }
  StoreFromUser(b, WithinRange(p, value));
}

bool CMC_EditSetupDlg::TakeText(int id, const std::string& text) {
  Binding* b = FindBinding(id);
  if (b == nullptr || b->edit_id != id) return false;
  CommitEdit(*b, text);
  return true;
}

bool CMC_EditSetupDlg::TakeCheck(int id, bool checked) {
  Binding* b = FindBinding(id);
  if (b == nullptr) return false;
  if (b->kind == BindingKind::kSwitchRange) {
    StoreFromUser(*b, static_cast<double>(id - b->first_id));
  } else {
    StoreFromUser(*b, checked ? 1.0 : 0.0);
  }
  return true;
}

bool CMC_EditSetupDlg::TakeSelection(int id, int index) {
  Binding* b = FindBinding(id);
  if (b == nullptr) return false;
  const ControlState& c = *Control(id);
  if (b->kind == BindingKind::kCombo && b->edit_id == id) {
    StoreFromUser(*b, static_cast<double>(c.items[static_cast<size_t>(index)].data));
    return true;
  }
  if (b->unit_id != id) return false;
  const std::string name = b->name;
  const std::string unit = c.items[static_cast<size_t>(index)].text;
  if (b->parameter->ChangeUnit(unit.c_str()) != 0) OnChangedParameterUnit(name.c_str());
  ShowParameter(name.c_str());
  return true;
}

// A slider's spin buttons (where its bound labels are spins) step its value by one of the
// slider's ticks toward their end, never past the slider's span.
bool CMC_EditSetupDlg::TakeSpin(int id) {
  for (Binding& b : bindings_) {
    if (b.kind != BindingKind::kSlider || (b.min_label_id != id && b.max_label_id != id)) continue;
    const ControlState* slider = Control(b.slider_id);
    const int ticks = slider != nullptr ? slider->range_max - slider->range_min : 0;
    const double step = (b.upper - b.lower) / (ticks > 0 ? ticks : kSpinStepsWithoutSlider);
    const double value = b.parameter->GetValueInBaseUnit() + (id == b.max_label_id ? step : -step);
    if (!std::isfinite(value)) return true;
    StoreFromUser(b, std::clamp(value, std::min(b.lower, b.upper), std::max(b.lower, b.upper)));
    return true;
  }
  return false;
}

bool CMC_EditSetupDlg::TakeSlider(int id, int position) {
  Binding* b = FindBinding(id);
  if (b == nullptr || b->slider_id != id) return false;
  const ControlState& c = *Control(id);
  const double fraction =
      static_cast<double>(position - c.range_min) / static_cast<double>(c.range_max - c.range_min);
  StoreFromUser(*b, b->lower + fraction * (b->upper - b->lower));
  return true;
}

// --- guideline assistant -------------------------------------------------------------------------

void CMC_EditSetupDlg::ShowGuideline() {
  const int ids[] = {axis::kGuidelinePrevious, axis::kGuidelineNext, axis::kGuidelineText, 0};
  if (guidelines_.empty()) {
    ShowChildren(ids, 0);
    return;
  }
  const int last = static_cast<int>(guidelines_.size()) - 1;
  guideline_index_ = std::clamp(guideline_index_, 0, last);
  SetText(axis::kGuidelineText, guidelines_[static_cast<size_t>(guideline_index_)]);
  EnableChild(axis::kGuidelinePrevious, guideline_index_ > 0);
  EnableChild(axis::kGuidelineNext, guideline_index_ < last);
}

// --- overridables -------------------------------------------------------------------------------

int CMC_EditSetupDlg::OnInitDialog() {
  DialogModel::OnInitDialog();
  RefreshAllParameters();
  guideline_index_ = 0;
  ShowGuideline();
  return 1;
}

void CMC_EditSetupDlg::OnChangedParameterUnit(const char*) {}
void CMC_EditSetupDlg::OnRefreshParameterValue(const char*) {}

void CMC_EditSetupDlg::OnChangedParameterValue(const char* name) { ShowParameter(name); }

void CMC_EditSetupDlg::OnCommand(int id) {
  switch (id) {
    case axis::kGuidelinePrevious:
      --guideline_index_;
      ShowGuideline();
      break;
    case axis::kGuidelineNext:
      ++guideline_index_;
      ShowGuideline();
      break;
    default:
      DialogModel::OnCommand(id);
      break;
  }
}
