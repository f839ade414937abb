// The one interface between dialog models and a windowing system.
//
// Dialog models (axis::DialogModel and what derives from it: the setup dialogs and the tests) never
// draw. A front end implements Platform: it runs a model modally, renders it from its control
// table and forwards the user's actions to the model's User... operations; tests use the headless
// implementation. The platform also keeps the time the dialogs' timers and the drive follow.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/number_text.h"

namespace axis {

class DialogModel;

enum class MessageButtons { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class MessageIcon { kNone, kInformation, kWarning, kError, kQuestion };

// Buttons as the dialog results of the windowing convention.
enum DialogResult : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdYes = 6,
  kIdNo = 7,
  kIdHelp = 9,
};

struct MessageBoxRequest {
  std::string text;  // Latin-1
  std::string caption;
  MessageButtons buttons = MessageButtons::kOk;
  MessageIcon icon = MessageIcon::kNone;
  bool help_button = false;
  int help_context = 0;  // the topic the Help button opens
};

// The button a box answers with when nobody chooses: its first button (OK or Yes).
int DefaultButton(MessageButtons buttons);
// Whether `answer` is one of the box's buttons (Help counts only when the box has one).
bool OffersButton(const MessageBoxRequest& request, int answer);

struct FileNameRequest {
  bool save = false;  // save dialog (else open)
  std::string title;
  std::string filter;        // "Setup files (*.json)|*.json|All files (*.*)|*.*"
  std::string default_name;  // proposed file name
};

struct TextRequest {
  std::string title;
  std::string prompt;   // what the text is for ("Motor name:")
  std::string initial;  // proposed text (Latin-1)
};

// A context menu: its commands in order; a chosen command goes to the dialog as a click would.
struct MenuItem {
  int command = 0;
  std::string text;  // Latin-1, "&" marks the mnemonic
  bool enabled = true;
};
struct MenuRequest {
  int control_id = 0;  // the control right-clicked
  std::vector<MenuItem> items;
};

// The host's menus by id; empty for an unknown id. Menu kScopeMenu is the oscilloscope graph's:
// Edit..., Reset, Autoscale, Load..., Save..., Save plots, Export picture, Export text.
constexpr int kScopeMenu = 101;
enum ScopeMenuCommand : int {
  kScopeEdit = 10062,
  kScopeReset = 10063,
  kScopeAutoscale = 10064,
  kScopeLoad = 10065,
  kScopeSave = 10066,
  kScopeSavePlots = 10067,
  kScopeExportPicture = 10068,
  kScopeExportText = 10069,
};
std::vector<MenuItem> HostMenu(int menu_id);

class Platform {
 public:
  virtual ~Platform() = default;

  // Runs the dialog until it ends (its EndDialog) and returns the result it ended with. The
  // dialog's OnInitDialog has run already; a dialog that ended during it returns at once.
  virtual int RunModal(DialogModel& dialog) = 0;
  // The dialog asked to end with `result` (the model records it; a front end closes the window).
  virtual void EndModal(DialogModel& dialog, int result) = 0;

  // Timers per dialog: after every `period_ms` the dialog's OnTimer(id) runs. Setting an id again
  // restarts it with the new period. Both return false when refused.
  virtual bool SetTimer(DialogModel& dialog, int id, unsigned period_ms) = 0;
  virtual bool KillTimer(DialogModel& dialog, int id) = 0;

  // Lets pending user input and timers in, for handlers that loop for a long time.
  virtual void DispatchPendingMessages() = 0;
  // A loop that waits on the drive (a live plot's polling) has nothing to do for about `ms`: the
  // desktop lets events in for that long, the headless platform moves its clock on by `ms` (so
  // that the drive moves on too) and lets the next scripted action in when its time has come.
  virtual void Idle(unsigned ms) {
    (void)ms;
    DispatchPendingMessages();
  }

  // Shows a message box and returns the button pressed (a DialogResult).
  virtual int ShowMessageBox(const MessageBoxRequest& request) = 0;
  // Opens the help at a numeric topic.
  virtual void OpenHelp(int context) = 0;
  // Asks for a file name; nullopt when the user cancelled.
  virtual std::optional<std::string> AskFileName(const FileNameRequest& request) = 0;
  // Asks for one line of text (Latin-1); nullopt when the user cancelled.
  virtual std::optional<std::string> AskText(const TextRequest& request) = 0;
  // Shows a context menu at the pointer; the command chosen, nullopt when dismissed.
  virtual std::optional<int> ChooseMenuCommand(const MenuRequest& request) {
    (void)request;
    return std::nullopt;
  }

  // The decimal marks a number typed into a dialog may use: the point always, the comma too where
  // the user's locale writes numbers with one. Dialogs always show numbers with a point.
  virtual DecimalMark TypedDecimalMark() const { return DecimalMark::kPoint; }

  // The time the dialogs' timers follow, and with them an attached simulated drive: the wall clock
  // by default, a virtual one on the headless platform.
  virtual const Clock& GetClock() const;

  // The dialog's controls changed (a front end repaints them); optional.
  virtual void ControlsChanged(DialogModel& /*dialog*/, int /*control_id*/) {}
};

// The installed platform, or null. Not owned.
void SetPlatform(Platform* platform);
Platform* GetPlatform();

// A message box through the installed platform; without one, the box's default button.
int ShowMessage(const MessageBoxRequest& request);

}  // namespace axis
