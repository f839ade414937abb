// The host's motor database editor: the "Database" and "Motor" lists and the "Save to User
// Database" and "Delete" buttons of a setup dialog (CMC_EditSetupDlg::InitializeMotorEditor).
//
// - "Database" lists the bundled databases (host/motor_database.h), then the user's own as
//   "USER". "Motor" lists the motors of the chosen database, none chosen at first.
// - Choosing a motor stores each value it gives in the setup through the dialog's
//   StoreParameterValue, in the order of MotorFields(), so the dialog's own rules see every change
//   as if the user had typed it. A value outside its parameter's range is stored at the nearer
//   bound, and one message names those parameters.
// - "Save to User Database" asks for a name (the chosen motor's name proposed) and stores the
//   setup's motor values under it in the user's database; a motor of that name is replaced only
//   after a Yes/No question. "Delete" removes the chosen motor of the user's database after a
//   Yes/No question; it is disabled for the bundled databases. Both read the file again first, so
//   a change made meanwhile (by another program) is kept, and write it atomically.
// - A user database that cannot be read (malformed, unreadable) is reported once, with the file,
//   the place and the fault, is left out of the list and is never written; the bundled databases
//   still work. A user database that does not exist yet is empty.
#pragma once

#include <string>
#include <vector>

#include "host/dialog_model.h"
#include "host/motor_database.h"

class CMC_EditSetupDlg;

namespace axis {

class MotorEditor : public DialogHandler {
 public:
  enum : int {
    kDatabaseCombo = 10010,
    kMotorCombo = 10011,
    kSaveButton = 10012,
    kDeleteButton = 10013,
  };
  static constexpr const char* kUserDatabaseName = "USER";

  // Whether the dialog's template has the four controls with their kinds.
  static bool HasControls(const DialogModel& dialog);

  explicit MotorEditor(CMC_EditSetupDlg& dialog) : dialog_(dialog) {}

  // Loads the databases and fills the controls.
  void Start();
  // The dialog's command and selection notifications; true when the id was one of the editor's.
  bool OnCommand(int id) override;
  bool OnSelectionChanged(int id) override;

 private:
  struct Source {
    MotorDatabase database;
    bool user = false;
  };

  Source* Selected();
  const MotorRecord* SelectedMotor();
  bool UserAvailable() const { return !user_path_.empty() && !user_broken_; }
  void FillDatabases(bool select_user);
  void FillMotors(const std::string& select_name);
  void EnableButtons();
  void Pick();
  void Save();
  void Delete();
  // Reads the user's database again; on a fault reports it, stops using the file and returns
  // false.
  bool ReloadUser(const char* consequence);
  // Writes the user's database; on a fault reports it and returns false.
  bool WriteUser(const MotorDatabase& database, const char* consequence);
  void Warn(const std::string& text);

  CMC_EditSetupDlg& dialog_;
  std::vector<Source> sources_;  // bundled ones first, the user's last (when available)
  std::string user_path_;
  bool user_broken_ = false;
};

}  // namespace axis
