#include "host/motor_editor.h"

#include <filesystem>
#include <utility>

#include "host/dialog_handlers.h"
#include "host/edit_setup_dlg.h"
#include "host/platform.h"
#include "host/text.h"

namespace axis {

namespace {

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r\n") + 1 - begin);
}

}  // namespace

bool MotorEditor::HasControls(const DialogModel& dialog) {
  const struct {
    int id;
    ControlKind kind;
  } kControls[] = {{kDatabaseCombo, ControlKind::kCombo},
                   {kMotorCombo, ControlKind::kCombo},
                   {kSaveButton, ControlKind::kButton},
                   {kDeleteButton, ControlKind::kButton}};
  for (const auto& row : kControls) {
    const ControlState* c = dialog.Control(row.id);
    if (c == nullptr || c->kind != row.kind) return false;
  }
  return true;
}

void MotorEditor::Warn(const std::string& text) {
  dialog_.MessageBox(text, MessageButtons::kOk, MessageIcon::kWarning);
}

void MotorEditor::Start() {
  sources_.clear();
  for (const std::string& file : BundledMotorDatabaseFiles()) {
    MotorDatabaseLoad loaded = LoadMotorDatabaseFile(file);
    if (!loaded) {
      Warn(loaded.error + "\n\nThis motor database is not used.");
      continue;
    }
    if (loaded.database->name.empty())
      loaded.database->name = std::filesystem::path(file).stem().string();
    sources_.push_back({std::move(*loaded.database), false});
  }
  user_path_ = UserMotorDatabasePath();
  user_broken_ = false;
  if (!user_path_.empty()) {
    MotorDatabaseLoad loaded = LoadMotorDatabaseFile(user_path_, true);
    if (loaded) {
      sources_.push_back({std::move(*loaded.database), true});
    } else {
      user_broken_ = true;
      Warn(loaded.error +
           "\n\nThe user motor database is not used, and it will not be changed until the file "
           "is repaired.");
    }
  }
  FillDatabases(false);
}

MotorEditor::Source* MotorEditor::Selected() {
  const int index = dialog_.GetComboSelection(kDatabaseCombo);
  if (index < 0 || index >= static_cast<int>(sources_.size())) return nullptr;
  return &sources_[static_cast<size_t>(index)];
}

const MotorRecord* MotorEditor::SelectedMotor() {
  const Source* source = Selected();
  const int index = dialog_.GetComboSelection(kMotorCombo);
  if (source == nullptr || index < 0 || index >= static_cast<int>(source->database.motors.size()))
    return nullptr;
  return &source->database.motors[static_cast<size_t>(index)];
}

void MotorEditor::FillDatabases(bool select_user) {
  // The user's database, when usable, is the last source.
  if (!UserAvailable() && !sources_.empty() && sources_.back().user) sources_.pop_back();
  dialog_.ResetComboItems(kDatabaseCombo);
  for (size_t i = 0; i < sources_.size(); ++i) {
    const Source& source = sources_[i];
    const std::string name = source.user ? kUserDatabaseName : source.database.name;
    dialog_.AddComboItem(kDatabaseCombo, name.c_str(), static_cast<int64_t>(i));
  }
  const bool user_last = !sources_.empty() && sources_.back().user;
  dialog_.SetComboSelection(kDatabaseCombo,
                            select_user && user_last ? static_cast<int>(sources_.size()) - 1 : 0);
  FillMotors("");
}

void MotorEditor::FillMotors(const std::string& select_name) {
  dialog_.ResetComboItems(kMotorCombo);
  int selection = -1;
  if (const Source* source = Selected()) {
    const std::vector<MotorRecord>& motors = source->database.motors;
    for (size_t i = 0; i < motors.size(); ++i) {
      dialog_.AddComboItem(kMotorCombo, motors[i].name.c_str(), static_cast<int64_t>(i));
      if (!select_name.empty() && motors[i].name == select_name) selection = static_cast<int>(i);
    }
  }
  dialog_.SetComboSelection(kMotorCombo, selection);
  EnableButtons();
}

void MotorEditor::EnableButtons() {
  const Source* source = Selected();
  dialog_.EnableChild(kSaveButton, UserAvailable());
  dialog_.EnableChild(kDeleteButton,
                      source != nullptr && source->user && SelectedMotor() != nullptr);
}

bool MotorEditor::OnSelectionChanged(int id) {
  if (id == kDatabaseCombo) {
    FillMotors("");
    return true;
  }
  if (id == kMotorCombo) {
    Pick();
    EnableButtons();
    return true;
  }
  return false;
}

bool MotorEditor::OnCommand(int id) {
  if (id == kSaveButton) {
    Save();
    return true;
  }
  if (id == kDeleteButton) {
    Delete();
    return true;
  }
  return false;
}

void MotorEditor::Pick() {
  const MotorRecord* chosen = SelectedMotor();
  if (chosen == nullptr) return;
  // The dialog's handlers may refill the lists: work on a copy.
  const MotorRecord motor = *chosen;
  std::string limited;
  const std::span<const MotorField> fields = MotorFields();
  for (size_t f = 0; f < fields.size(); ++f) {
    if (!motor.values[f]) continue;
    if (dialog_.StoreParameterValue(fields[f].parameter, *motor.values[f]) == 2)
      limited += (limited.empty() ? "" : ", ") + Quoted(fields[f].parameter);
  }
  if (!limited.empty()) {
    Warn("The motor " + Quoted(motor.name) +
         " has values outside the ranges of this setup; these were set to the nearest limit: " +
         limited + ".");
  }
}

bool MotorEditor::ReloadUser(const char* consequence) {
  MotorDatabaseLoad loaded = LoadMotorDatabaseFile(user_path_, true);
  if (!loaded) {
    user_broken_ = true;
    Warn(loaded.error + "\n\n" + consequence);
    FillDatabases(false);
    return false;
  }
  for (Source& source : sources_) {
    if (source.user) source.database = std::move(*loaded.database);
  }
  return true;
}

bool MotorEditor::WriteUser(const MotorDatabase& database, const char* consequence) {
  const std::string error = SaveMotorDatabaseFile(database, user_path_);
  if (error.empty()) return true;
  dialog_.MessageBox(error + "\n\n" + consequence, MessageButtons::kOk, MessageIcon::kError);
  return false;
}

void MotorEditor::Save() {
  if (!UserAvailable()) return;
  const MotorRecord* chosen = SelectedMotor();
  Platform* platform = GetPlatform();
  if (platform == nullptr) return;
  const std::optional<std::string> answer =
      platform->AskText({.title = "Save to User Database",
                         .prompt = "Motor name:",
                         .initial = chosen == nullptr ? std::string() : chosen->name});
  if (!answer) return;
  const std::string name = Trimmed(*answer);
  if (name.empty()) {
    Warn("The motor needs a name. Nothing was saved.");
    return;
  }
  if (!ReloadUser("Nothing was saved; the file is left as it is.")) return;
  MotorDatabase database = sources_.back().database;  // the user's: available, so it is last
  if (const MotorRecord* present = database.Find(name)) {
    const int reply = dialog_.MessageBox(
        "The user database already has a motor named " + Quoted(present->name) + ". Replace it?",
        MessageButtons::kYesNo, MessageIcon::kQuestion);
    if (reply != kIdYes) return;
  }
  database.Put(MotorFromSetup(dialog_.GetSetup(), name));
  if (!WriteUser(database, "The motor was not saved.")) return;
  sources_.back().database = std::move(database);
  FillDatabases(true);
  FillMotors(sources_.back().database.Find(name)->name);
}

void MotorEditor::Delete() {
  const Source* source = Selected();
  const MotorRecord* chosen = SelectedMotor();
  if (source == nullptr || !source->user || chosen == nullptr || !UserAvailable()) return;
  const std::string name = chosen->name;
  const int reply =
      dialog_.MessageBox("Delete the motor " + Quoted(name) + " from the user database?",
                         MessageButtons::kYesNo, MessageIcon::kQuestion);
  if (reply != kIdYes) return;
  if (!ReloadUser("Nothing was deleted; the file is left as it is.")) return;
  MotorDatabase database = sources_.back().database;
  if (database.Remove(name) && !WriteUser(database, "The motor was not deleted.")) return;
  sources_.back().database = std::move(database);
  FillDatabases(true);
}

std::unique_ptr<DialogHandler> MakeMotorEditor(CMC_EditSetupDlg& dialog) {
  if (!MotorEditor::HasControls(dialog)) return nullptr;
  auto editor = std::make_unique<MotorEditor>(dialog);
  editor->Start();
  return editor;
}

}  // namespace axis
