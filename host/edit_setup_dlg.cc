#include "host/edit_setup_dlg.h"

#include <algorithm>
#include <cmath>

#include "host/can_settings.h"
#include "host/motor_editor.h"
#include "host/number_text.h"
#include "host/numeric.h"
#include "host/text.h"

using axis::ControlKind;
using axis::ControlState;

namespace {

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
    : setup_(setup), flag_(flag), parent_(parent) {
  axis::TemplateResult loaded = axis::LoadDialogTemplate(template_id);
  if (loaded) {
    template_ = std::move(*loaded.dialog);
  } else {
    template_.id = template_id;
    load_error_ = loaded.error;
  }
  for (const axis::ControlTemplate& t : template_.controls) {
    ControlState& c = controls_[t.id];
    c = {.id = t.id,
         .kind = t.kind,
         .caption = t.caption,
         .text = t.caption,
         .enabled = t.enabled,
         .shown = t.visible,
         .image = t.image,
         .parent = t.parent,
         .page = t.page,
         .range_min = t.range_min,
         .range_max = t.range_max};
    for (size_t i = 0; i < t.items.size(); ++i)
      c.items.push_back({t.items[i], static_cast<int64_t>(i)});
    if (t.kind == ControlKind::kTab) {
      for (size_t i = 0; i < t.pages.size(); ++i)
        c.items.push_back({t.pages[i], static_cast<int64_t>(i)});
      c.selection = 0;
    }
    if (t.kind == ControlKind::kSlider) c.selection = t.range_min;
  }
  for (const char* const* text = guidelines; text != nullptr && *text != nullptr; ++text)
    guidelines_.emplace_back(*text);
}

CMC_EditSetupDlg::~CMC_EditSetupDlg() = default;

// --- control table -------------------------------------------------------------------------------

ControlState* CMC_EditSetupDlg::Mutable(int id) {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const ControlState* CMC_EditSetupDlg::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

bool CMC_EditSetupDlg::IsVisible(int id) const {
  // Parents come from the template, which refuses a control naming itself; the depth bound
  // guards against a cycle through several controls.
  for (int depth = 0; depth < 64; ++depth) {
    const ControlState* c = Control(id);
    if (c == nullptr || !c->shown) return false;
    if (c->parent == 0) return true;
    const ControlState* parent = Control(c->parent);
    if (parent == nullptr) return false;
    if (parent->kind == ControlKind::kTab && parent->selection != c->page) return false;
    id = c->parent;
  }
  return false;
}

bool CMC_EditSetupDlg::IsKind(int id, std::initializer_list<ControlKind> kinds) const {
  const ControlState* c = Control(id);
  return c != nullptr && std::find(kinds.begin(), kinds.end(), c->kind) != kinds.end();
}

bool CMC_EditSetupDlg::Usable(int id, ControlKind kind) const {
  const ControlState* c = Control(id);
  return c != nullptr && c->kind == kind && c->enabled && IsVisible(id);
}

void CMC_EditSetupDlg::AttachCustom(int control_id, axis::CustomControl* model) {
  const auto it = custom_.find(control_id);
  if (it != custom_.end() && it->second != model) {
    it->second->SetChangeListener(nullptr);
    custom_.erase(it);
  }
  if (model == nullptr) return;
  custom_[control_id] = model;
  model->SetChangeListener([this, control_id] { Touch(control_id); });
  Touch(control_id);
}

axis::CustomControl* CMC_EditSetupDlg::Custom(int control_id) const {
  const auto it = custom_.find(control_id);
  return it == custom_.end() ? nullptr : it->second;
}

void CMC_EditSetupDlg::Touch(int id) {
  ++change_count_;
  if (listener_) listener_(id);
  if (running_ && axis::GetPlatform() != nullptr) axis::GetPlatform()->ControlsChanged(*this, id);
}

void CMC_EditSetupDlg::SetText(int id, const std::string& text) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->text == text) return;
  c->text = text;
  Touch(id);
}

void CMC_EditSetupDlg::EnableChild(int id, int enable, int) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->enabled == (enable != 0)) return;
  c->enabled = enable != 0;
  Touch(id);
}

void CMC_EditSetupDlg::EnableChildren(const int* ids, int enable, int) {
  for (; ids != nullptr && *ids != 0; ++ids) EnableChild(*ids, enable);
}

void CMC_EditSetupDlg::ShowChild(int id, int show) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->shown == (show != 0)) return;
  c->shown = show != 0;
  Touch(id);
}

void CMC_EditSetupDlg::SetTextColour(int id, int colour) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->text_colour == colour) return;
  c->text_colour = colour;
  Touch(id);
}

int CMC_EditSetupDlg::GetTextColour(int id) const {
  const ControlState* c = Control(id);
  return c == nullptr ? axis::kDefaultTextColour : c->text_colour;
}

void CMC_EditSetupDlg::ShowChildren(const int* ids, int show) {
  for (; ids != nullptr && *ids != 0; ++ids) ShowChild(*ids, show);
}

void CMC_EditSetupDlg::SetChildText(int id, const char* text) { SetText(id, text ? text : ""); }

std::string CMC_EditSetupDlg::GetChildText(int id) const {
  const ControlState* c = Control(id);
  return c == nullptr ? std::string() : c->text;
}

void CMC_EditSetupDlg::LimitText(int id, size_t count) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->text_limit == count) return;
  c->text_limit = count;
  Touch(id);
}

void CMC_EditSetupDlg::SetButtonImage(int id, const char* image) {
  ControlState* c = Mutable(id);
  if (c == nullptr) return;
  c->image = image ? image : "";
  Touch(id);
}

void CMC_EditSetupDlg::SetCheck(int id, int check) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->check == check) return;
  c->check = check;
  Touch(id);
}

int CMC_EditSetupDlg::GetCheck(int id) const {
  const ControlState* c = Control(id);
  return c == nullptr ? 0 : c->check;
}

void CMC_EditSetupDlg::ResetComboItems(int id) {
  ControlState* c = Mutable(id);
  if (c == nullptr) return;
  c->items.clear();
  c->selection = -1;
  Touch(id);
}

int CMC_EditSetupDlg::AddComboItem(int id, const char* text, int64_t data) {
  ControlState* c = Mutable(id);
  if (c == nullptr || !IsKind(id, {ControlKind::kCombo, ControlKind::kUnit})) return -1;
  c->items.push_back({text ? text : "", data});
  Touch(id);
  return static_cast<int>(c->items.size()) - 1;
}

void CMC_EditSetupDlg::SetComboSelection(int id, int index) {
  ControlState* c = Mutable(id);
  if (c == nullptr) return;
  const int selection = (index >= 0 && index < static_cast<int>(c->items.size())) ? index : -1;
  if (c->selection == selection) return;
  c->selection = selection;
  if (c->kind == ControlKind::kCombo || c->kind == ControlKind::kUnit)
    c->text = selection < 0 ? std::string() : c->items[static_cast<size_t>(selection)].text;
  Touch(id);
}

int CMC_EditSetupDlg::GetComboSelection(int id) const {
  const ControlState* c = Control(id);
  return c == nullptr ? -1 : c->selection;
}

int64_t CMC_EditSetupDlg::GetComboItemData(int id, int index) const {
  const ControlState* c = Control(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return -1;
  return c->items[static_cast<size_t>(index)].data;
}

int CMC_EditSetupDlg::EnableCANSettings() {
  if (!IsKind(axis::kCanBitRateCombo, {ControlKind::kCombo})) return 0;
  can_settings_ = true;
  return axis::ShowCanBitRate(*this, setup_) ? 1 : 0;
}

int CMC_EditSetupDlg::InitializeMotorEditor() {
  if (!axis::MotorEditor::HasControls(*this)) return 0;
  motor_editor_ = std::make_unique<axis::MotorEditor>(*this);
  motor_editor_->Start();
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
      SetText(b.edit_id, FormatValue(b.parameter->GetValueInDisplayUnit()));
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
  if (can_settings_) axis::ShowCanBitRate(*this, setup_);
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

bool CMC_EditSetupDlg::UserType(int id, const std::string& text) {
  if (!Usable(id, ControlKind::kEdit)) return false;
  if (const axis::ControlTemplate* t = template_.Find(id); t != nullptr && t->read_only)
    return false;
  const size_t limit = Control(id)->text_limit;
  const std::string typed = limit != 0 && text.size() > limit ? text.substr(0, limit) : text;
  SetText(id, typed);
  if (Binding* b = FindBinding(id); b != nullptr && b->edit_id == id) CommitEdit(*b, typed);
  return true;
}

void CMC_EditSetupDlg::SelectRadio(int id) {
  // The radio group is the run of consecutive radio ids around `id`.
  int first = id, last = id;
  while (IsKind(first - 1, {ControlKind::kRadio})) --first;
  while (IsKind(last + 1, {ControlKind::kRadio})) ++last;
  for (int other = first; other <= last; ++other) SetCheck(other, other == id ? 1 : 0);
}

bool CMC_EditSetupDlg::UserClick(int id) {
  const ControlState* c = Control(id);
  if (c == nullptr || !c->enabled || !IsVisible(id)) return false;
  switch (c->kind) {
    case ControlKind::kButton:
    case ControlKind::kBitmapButton:
      // The host's own controls are run by the host, whatever the dialog overrides.
      if (!(motor_editor_ && motor_editor_->OnCommand(id))) OnCommand(id);
      return true;
    case ControlKind::kCheck:
      return UserSetCheck(id, c->check == 0);
    case ControlKind::kRadio:
      return UserSetCheck(id, true);
    default:
      return false;
  }
}

bool CMC_EditSetupDlg::UserSetCheck(int id, bool checked) {
  const ControlState* c = Control(id);
  if (c == nullptr || !c->enabled || !IsVisible(id) ||
      (c->kind != ControlKind::kCheck && c->kind != ControlKind::kRadio))
    return false;
  if (c->kind == ControlKind::kRadio && !checked) return false;  // a radio is cleared by another
  Binding* b = FindBinding(id);
  if (b == nullptr) {
    if (c->kind == ControlKind::kRadio)
      SelectRadio(id);
    else
      SetCheck(id, checked ? 1 : 0);
    OnCommand(id);
    return true;
  }
  if (b->kind == BindingKind::kSwitchRange) {
    StoreFromUser(*b, static_cast<double>(id - b->first_id));
  } else {
    StoreFromUser(*b, checked ? 1.0 : 0.0);
  }
  return true;
}

bool CMC_EditSetupDlg::UserSelectCombo(int id, int index) {
  const ControlState* c = Control(id);
  if (c == nullptr || !c->enabled || !IsVisible(id) ||
      (c->kind != ControlKind::kCombo && c->kind != ControlKind::kUnit) || index < 0 ||
      index >= static_cast<int>(c->items.size()))
    return false;
  const std::string unit = c->items[static_cast<size_t>(index)].text;
  const int64_t data = c->items[static_cast<size_t>(index)].data;
  SetComboSelection(id, index);
  Binding* b = FindBinding(id);
  if (b != nullptr && b->kind == BindingKind::kCombo && b->edit_id == id) {
    StoreFromUser(*b, static_cast<double>(data));
    return true;
  }
  if (b == nullptr || b->unit_id != id) {
    if (!(motor_editor_ && motor_editor_->OnSelectionChanged(id))) OnSelectionChanged(id);
    return true;
  }
  const std::string name = b->name;
  if (b->parameter->ChangeUnit(unit.c_str()) != 0) OnChangedParameterUnit(name.c_str());
  ShowParameter(name.c_str());
  return true;
}

bool CMC_EditSetupDlg::UserSelectTab(int id, int page) {
  ControlState* c = Mutable(id);
  if (c == nullptr || !Usable(id, ControlKind::kTab) || page < 0 ||
      page >= static_cast<int>(c->items.size()))
    return false;
  if (c->selection != page) {
    c->selection = page;
    Touch(id);
  }
  OnTabChanged(id, page);
  return true;
}

bool CMC_EditSetupDlg::UserMoveSlider(int id, int position) {
  const ControlState* c = Control(id);
  if (!Usable(id, ControlKind::kSlider) || position < c->range_min || position > c->range_max)
    return false;
  Binding* b = FindBinding(id);
  if (b == nullptr || b->slider_id != id) {
    Mutable(id)->selection = position;
    Touch(id);
    OnCommand(id);
    return true;
  }
  const double fraction = static_cast<double>(position - c->range_min) /
                          static_cast<double>(c->range_max - c->range_min);
  StoreFromUser(*b, b->lower + fraction * (b->upper - b->lower));
  return true;
}

bool CMC_EditSetupDlg::UserKeyChord(const std::string& chord) { return OnKeyChord(chord); }

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

// --- running -------------------------------------------------------------------------------------

int CMC_EditSetupDlg::DoModal() {
  axis::Platform* platform = axis::GetPlatform();
  if (!load_error_.empty()) {
    axis::ReportError(load_error_);
    return -1;
  }
  if (platform == nullptr) return -1;
  running_ = true;
  result_ = 0;
  OnInitDialog();
  const int result = running_ ? platform->RunModal(*this) : result_;
  running_ = false;
  return result;
}

void CMC_EditSetupDlg::EndDialog(int result) {
  if (!running_) return;
  running_ = false;
  result_ = result;
  if (axis::Platform* platform = axis::GetPlatform()) platform->EndModal(*this, result);
}

bool CMC_EditSetupDlg::SetTimer(int id, unsigned period_ms) {
  axis::Platform* platform = axis::GetPlatform();
  return running_ && platform != nullptr && platform->SetTimer(*this, id, period_ms);
}

bool CMC_EditSetupDlg::KillTimer(int id) {
  axis::Platform* platform = axis::GetPlatform();
  return platform != nullptr && platform->KillTimer(*this, id);
}

int CMC_EditSetupDlg::MessageBox(const std::string& text, axis::MessageButtons buttons,
                                 axis::MessageIcon icon, bool help_button) {
  return axis::ShowMessage({.text = text,
                            .caption = template_.caption,
                            .buttons = buttons,
                            .icon = icon,
                            .help_button = help_button,
                            .help_context = template_.help_context});
}

int CMC_EditSetupDlg::OnInitDialog() {
  DoDataExchange();
  RefreshAllParameters();
  guideline_index_ = 0;
  ShowGuideline();
  return 1;
}

// Values move between the setup and the controls through the bindings as they change, so the
// base exchange has nothing left to move.
void CMC_EditSetupDlg::DoDataExchange() {}

void CMC_EditSetupDlg::OnOK() { EndDialog(axis::kIdOk); }
void CMC_EditSetupDlg::OnCancel() { EndDialog(axis::kIdCancel); }
void CMC_EditSetupDlg::OnTimer(int) {}
void CMC_EditSetupDlg::OnSelectionChanged(int id) {
  if (can_settings_ && id == axis::kCanBitRateCombo) axis::StoreCanBitRate(*this, setup_);
}
void CMC_EditSetupDlg::OnTabChanged(int, int) {}
bool CMC_EditSetupDlg::OnKeyChord(const std::string&) { return false; }
void CMC_EditSetupDlg::OnChangedParameterUnit(const char*) {}
void CMC_EditSetupDlg::OnRefreshParameterValue(const char*) {}

void CMC_EditSetupDlg::OnChangedParameterValue(const char* name) { ShowParameter(name); }

void CMC_EditSetupDlg::OnCommand(int id) {
  switch (id) {
    case axis::kIdOk:
      OnOK();
      break;
    case axis::kIdCancel:
      OnCancel();
      break;
    case axis::kGuidelinePrevious:
      --guideline_index_;
      ShowGuideline();
      break;
    case axis::kGuidelineNext:
      ++guideline_index_;
      ShowGuideline();
      break;
    case axis::kCanOpenSettingsButton:
      if (can_settings_) axis::OpenCanOpenSettings(*this, setup_);
      break;
    case axis::kHelpButton:
      if (axis::Platform* platform = axis::GetPlatform())
        platform->OpenHelp(template_.help_context);
      break;
    default:
      break;
  }
}
