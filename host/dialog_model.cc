#include "host/dialog_model.h"

#include <algorithm>

#include "host/custom_control.h"
#include "host/error_report.h"

namespace axis {

DialogModel::DialogModel(int template_id) {
  TemplateResult loaded = LoadDialogTemplate(template_id);
  if (loaded) {
    template_ = std::move(*loaded.dialog);
  } else {
    template_.id = template_id;
    load_error_ = loaded.error;
  }
  for (const ControlTemplate& t : template_.controls) {
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
}

DialogModel::~DialogModel() {
  for (auto& [id, c] : controls_) {
    if (c.custom != nullptr) c.custom->SetChangeListener(nullptr);
  }
}

// --- control table -------------------------------------------------------------------------------

ControlState* DialogModel::Mutable(int id) {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const ControlState* DialogModel::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

bool DialogModel::IsVisible(int id) const {
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

bool DialogModel::IsKind(int id, std::initializer_list<ControlKind> kinds) const {
  const ControlState* c = Control(id);
  return c != nullptr && std::find(kinds.begin(), kinds.end(), c->kind) != kinds.end();
}

bool DialogModel::Usable(int id, ControlKind kind) const {
  const ControlState* c = Control(id);
  return c != nullptr && c->kind == kind && c->enabled && IsVisible(id);
}

void DialogModel::Touch(int id) {
  ++change_count_;
  if (listener_) listener_(id);
  if (running_ && GetPlatform() != nullptr) GetPlatform()->ControlsChanged(*this, id);
}

void DialogModel::SetText(int id, const std::string& text) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->text == text) return;
  c->text = text;
  Touch(id);
}

void DialogModel::EnableChild(int id, int enable, int) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->enabled == (enable != 0)) return;
  c->enabled = enable != 0;
  Touch(id);
}

void DialogModel::EnableChildren(const int* ids, int enable, int) {
  for (; ids != nullptr && *ids != 0; ++ids) EnableChild(*ids, enable);
}

void DialogModel::ShowChild(int id, int show) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->shown == (show != 0)) return;
  c->shown = show != 0;
  Touch(id);
}

void DialogModel::SetTextColour(int id, int colour) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->text_colour == colour) return;
  c->text_colour = colour;
  Touch(id);
}

int DialogModel::GetTextColour(int id) const {
  const ControlState* c = Control(id);
  return c == nullptr ? kDefaultTextColour : c->text_colour;
}

void DialogModel::ShowChildren(const int* ids, int show) {
  for (; ids != nullptr && *ids != 0; ++ids) ShowChild(*ids, show);
}

void DialogModel::SetChildText(int id, const char* text) { SetText(id, text ? text : ""); }

std::string DialogModel::GetChildText(int id) const {
  const ControlState* c = Control(id);
  return c == nullptr ? std::string() : c->text;
}

void DialogModel::LimitText(int id, size_t count) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->text_limit == count) return;
  c->text_limit = count;
  Touch(id);
}

void DialogModel::SetButtonImage(int id, const char* image) {
  ControlState* c = Mutable(id);
  if (c == nullptr) return;
  c->image = image ? image : "";
  Touch(id);
}

void DialogModel::SetCheck(int id, int check) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->check == check) return;
  c->check = check;
  Touch(id);
}

int DialogModel::GetCheck(int id) const {
  const ControlState* c = Control(id);
  return c == nullptr ? 0 : c->check;
}

void DialogModel::ResetComboItems(int id) {
  ControlState* c = Mutable(id);
  if (c == nullptr) return;
  c->items.clear();
  c->selection = -1;
  Touch(id);
}

int DialogModel::AddComboItem(int id, const char* text, int64_t data) {
  ControlState* c = Mutable(id);
  if (c == nullptr || !IsKind(id, {ControlKind::kCombo, ControlKind::kUnit})) return -1;
  c->items.push_back({text ? text : "", data});
  Touch(id);
  return static_cast<int>(c->items.size()) - 1;
}

void DialogModel::SetComboSelection(int id, int index) {
  ControlState* c = Mutable(id);
  if (c == nullptr) return;
  const int selection = (index >= 0 && index < static_cast<int>(c->items.size())) ? index : -1;
  if (c->selection == selection) return;
  c->selection = selection;
  if (c->kind == ControlKind::kCombo || c->kind == ControlKind::kUnit)
    c->text = selection < 0 ? std::string() : c->items[static_cast<size_t>(selection)].text;
  Touch(id);
}

int DialogModel::GetComboSelection(int id) const {
  const ControlState* c = Control(id);
  return c == nullptr ? -1 : c->selection;
}

int64_t DialogModel::GetComboItemData(int id, int index) const {
  const ControlState* c = Control(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->items.size())) return -1;
  return c->items[static_cast<size_t>(index)].data;
}

void DialogModel::SelectTab(int id, int page) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->kind != ControlKind::kTab || page < 0 ||
      page >= static_cast<int>(c->items.size()) || c->selection == page)
    return;
  c->selection = page;
  Touch(id);
}

bool DialogModel::AttachCustom(int id, CustomControl* model) {
  ControlState* c = Mutable(id);
  if (c == nullptr || c->kind != ControlKind::kCustom) return false;
  if (c->custom != nullptr && c->custom != model) c->custom->SetChangeListener(nullptr);
  c->custom = model;
  if (model != nullptr) {
    model->SetChangeListener([this, id] { Touch(id); },
                             [this, id] {
                               if (ControlState* control = Mutable(id)) control->custom = nullptr;
                               Touch(id);
                             });
  }
  Touch(id);
  return true;
}

void DialogModel::AddHandler(std::unique_ptr<DialogHandler> handler) {
  if (handler) handlers_.push_back(std::move(handler));
}

bool DialogModel::HandledCommand(int id) {
  for (const auto& handler : handlers_) {
    if (handler->OnCommand(id)) return true;
  }
  return false;
}

bool DialogModel::HandledSelection(int id) {
  for (const auto& handler : handlers_) {
    if (handler->OnSelectionChanged(id)) return true;
  }
  return false;
}

void DialogModel::RefreshHandlers() {
  for (const auto& handler : handlers_) handler->OnRefresh();
}

// --- the user's input ----------------------------------------------------------------------------

bool DialogModel::UserType(int id, const std::string& text) {
  if (!Usable(id, ControlKind::kEdit)) return false;
  if (const ControlTemplate* t = template_.Find(id); t != nullptr && t->read_only) return false;
  const size_t limit = Control(id)->text_limit;
  const std::string typed = limit != 0 && text.size() > limit ? text.substr(0, limit) : text;
  SetText(id, typed);
  TakeText(id, typed);
  return true;
}

void DialogModel::SelectRadio(int id) {
  // The radio group is the run of consecutive radio ids around `id`.
  int first = id, last = id;
  while (IsKind(first - 1, {ControlKind::kRadio})) --first;
  while (IsKind(last + 1, {ControlKind::kRadio})) ++last;
  for (int other = first; other <= last; ++other) SetCheck(other, other == id ? 1 : 0);
}

bool DialogModel::UserClick(int id) {
  const ControlState* c = Control(id);
  if (c == nullptr || !c->enabled || !IsVisible(id)) return false;
  switch (c->kind) {
    case ControlKind::kButton:
    case ControlKind::kBitmapButton:
      // The host's own controls are run by their handlers, whatever the dialog overrides.
      if (!HandledCommand(id)) OnCommand(id);
      return true;
    case ControlKind::kSpin:
      if (!TakeSpin(id)) OnCommand(id);
      return true;
    case ControlKind::kCheck:
      return UserSetCheck(id, c->check == 0);
    case ControlKind::kRadio:
      return UserSetCheck(id, true);
    default:
      return false;
  }
}

std::vector<MenuItem> DialogModel::OnContextMenu(int id) {
  const ControlState* c = Control(id);
  if (c == nullptr || c->custom == nullptr) return {};
  return HostMenu(c->custom->ContextMenu());
}

void DialogModel::OnGraphMessage(int, int, int) {}

bool DialogModel::UserContextMenu(int id) {
  const ControlState* c = Control(id);
  if (c == nullptr || !c->enabled || !IsVisible(id)) return false;
  MenuRequest request{id, OnContextMenu(id)};
  if (request.items.empty() || GetPlatform() == nullptr) return true;
  const std::optional<int> chosen = GetPlatform()->ChooseMenuCommand(request);
  const bool offered =
      chosen && std::any_of(request.items.begin(), request.items.end(), [&](const MenuItem& item) {
        return item.command == *chosen && item.enabled;
      });
  if (offered && !HandledCommand(*chosen)) OnCommand(*chosen);
  return true;
}

bool DialogModel::UserGraphMessage(int id, int channel, int step) {
  if (!Usable(id, ControlKind::kCustom)) return false;
  OnGraphMessage(id, channel, step);
  return true;
}

bool DialogModel::UserSetCheck(int id, bool checked) {
  const ControlState* c = Control(id);
  if (c == nullptr || !c->enabled || !IsVisible(id) ||
      (c->kind != ControlKind::kCheck && c->kind != ControlKind::kRadio))
    return false;
  if (c->kind == ControlKind::kRadio && !checked) return false;  // a radio is cleared by another
  if (TakeCheck(id, checked)) return true;
  if (c->kind == ControlKind::kRadio) {
    SelectRadio(id);
  } else {
    SetCheck(id, checked ? 1 : 0);
  }
  OnCommand(id);
  return true;
}

bool DialogModel::UserSelectCombo(int id, int index) {
  const ControlState* c = Control(id);
  if (c == nullptr || !c->enabled || !IsVisible(id) ||
      (c->kind != ControlKind::kCombo && c->kind != ControlKind::kUnit) || index < 0 ||
      index >= static_cast<int>(c->items.size()))
    return false;
  SetComboSelection(id, index);
  if (!TakeSelection(id, index) && !HandledSelection(id)) OnSelectionChanged(id);
  return true;
}

bool DialogModel::UserSelectTab(int id, int page) {
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

bool DialogModel::UserMoveSlider(int id, int position) {
  const ControlState* c = Control(id);
  if (!Usable(id, ControlKind::kSlider) || position < c->range_min || position > c->range_max)
    return false;
  if (TakeSlider(id, position)) return true;
  Mutable(id)->selection = position;
  Touch(id);
  OnCommand(id);
  return true;
}

bool DialogModel::UserKeyChord(const std::string& chord) { return OnKeyChord(chord); }

// --- running -------------------------------------------------------------------------------------

int DialogModel::DoModal() {
  Platform* platform = GetPlatform();
  if (!load_error_.empty()) {
    ReportError(load_error_);
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

void DialogModel::EndDialog(int result) {
  if (!running_) return;
  running_ = false;
  result_ = result;
  if (Platform* platform = GetPlatform()) platform->EndModal(*this, result);
}

bool DialogModel::SetTimer(int id, unsigned period_ms) {
  Platform* platform = GetPlatform();
  return running_ && platform != nullptr && platform->SetTimer(*this, id, period_ms);
}

bool DialogModel::KillTimer(int id) {
  Platform* platform = GetPlatform();
  return platform != nullptr && platform->KillTimer(*this, id);
}

int DialogModel::MessageBox(const std::string& text, MessageButtons buttons, MessageIcon icon,
                            bool help_button) {
  return ShowMessage({.text = text,
                      .caption = template_.caption,
                      .buttons = buttons,
                      .icon = icon,
                      .help_button = help_button,
                      .help_context = template_.help_context});
}

int DialogModel::OnInitDialog() {
  DoDataExchange();
  return 1;
}

void DialogModel::DoDataExchange() {}
void DialogModel::OnOK() { EndDialog(kIdOk); }
void DialogModel::OnCancel() { EndDialog(kIdCancel); }
void DialogModel::OnTimer(int) {}
void DialogModel::OnSelectionChanged(int) {}
void DialogModel::OnTabChanged(int, int) {}
bool DialogModel::OnKeyChord(const std::string&) { return false; }

void DialogModel::OnCommand(int id) {
  switch (id) {
    case kIdOk:
      OnOK();
      break;
    case kIdCancel:
      OnCancel();
      break;
    case kHelpButton:
      if (Platform* platform = GetPlatform()) platform->OpenHelp(template_.help_context);
      break;
    default:
      break;
  }
}

}  // namespace axis
