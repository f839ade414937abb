// axis::DialogModel: a dialog as a headless model, the base of the setup dialogs
// (CMC_EditSetupDlg) and the commissioning tests (CMC_TestDlg).
//
// The model holds a table of controls keyed by id, built from the dialog's template; dialogs call
// the control operations below, and a front end (or the headless platform in tests) renders the
// table and feeds the user's actions in through the User... operations. Nothing here draws. The
// Platform (host/platform.h) runs a model modally, fires its timers and shows its message boxes.
//
// - Controls the front end draws itself (plots, bars, diagrams) are templates' "custom" controls
//   with a model attached (AttachCustom, host/custom_control.h).
// - Host features that run controls of their own in a dialog (the CAN settings, the motor
//   database) are handlers (DialogHandler): they see the commands and selections first and take
//   those of their own controls.
// - A derived dialog that binds controls to values takes the user's input on them through the
//   Take... hooks; an untaken action goes to OnCommand / OnSelectionChanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/dialog_template.h"
#include "host/platform.h"

namespace axis {

class CustomControl;

struct ComboItem {
  std::string text;
  int64_t data = 0;
};

// A control's text colour as 0x00BBGGRR (red is 0x0000FF), or the window's own colour.
constexpr int kDefaultTextColour = -1;

// One control's present state.
struct ControlState {
  int id = 0;
  ControlKind kind = ControlKind::kLabel;
  std::string caption;  // from the template
  std::string text;     // present text (caption, edit contents)
  bool enabled = true;
  bool shown = true;  // the control's own flag; IsVisible also looks at parents and pages
  int check = 0;      // check boxes and radio buttons
  std::vector<ComboItem> items;
  int selection = -1;  // combo item, tab page, slider position
  std::string image;
  int parent = 0;
  int page = -1;
  int range_min = 0, range_max = 100;
  std::string parameter;  // bound parameter's name, "" when unbound
  size_t text_limit = 0;  // edits: the most characters the user may type, 0 for no limit
  int text_colour = kDefaultTextColour;  // 0x00BBGGRR, or the window's own colour
  CustomControl* custom = nullptr;       // custom controls: the attached model (not owned)
};

constexpr int kHelpButton = 10024;

// The message a scope graph sends its dialog when the user steps a channel's scale (the mouse
// wheel over the channel's legend line): wParam the control id, lParam the channel (low word) and
// the signed step (high word). A dialog model receives it as OnGraphMessage.
constexpr int kGraphChannelScaleMessage = 0x467;

class DialogModel;

// A host feature running controls of its own inside a dialog.
class DialogHandler {
 public:
  virtual ~DialogHandler() = default;
  // True when the id was one of the handler's (then the dialog does nothing more with it).
  virtual bool OnCommand(int /*id*/) { return false; }
  virtual bool OnSelectionChanged(int /*id*/) { return false; }
  // The dialog shows every value afresh.
  virtual void OnRefresh() {}
};

class DialogModel {
 public:
  explicit DialogModel(int template_id);
  virtual ~DialogModel();
  DialogModel(const DialogModel&) = delete;
  DialogModel& operator=(const DialogModel&) = delete;

  // Control operations; an unknown id is ignored. Id lists end with 0.
  void EnableChild(int id, int enable, int unused = 0);
  void EnableChildren(const int* ids, int enable, int unused = 0);
  void ShowChild(int id, int show);
  void ShowChildren(const int* ids, int show);
  void SetChildText(int id, const char* text);
  std::string GetChildText(int id) const;
  // The user can type at most `count` characters into the edit (0: no limit); text set by the
  // program is not cut.
  void LimitText(int id, size_t count);
  // The colour the control's text is drawn in (a label that warns is red): 0x00BBGGRR, or
  // kDefaultTextColour.
  void SetTextColour(int id, int colour);
  int GetTextColour(int id) const;
  void SetButtonImage(int id, const char* image);
  void SetCheck(int id, int check);
  int GetCheck(int id) const;
  void ResetComboItems(int id);
  int AddComboItem(int id, const char* text, int64_t data);  // the new index, -1 when refused
  void SetComboSelection(int id, int index);
  int GetComboSelection(int id) const;
  int64_t GetComboItemData(int id, int index) const;
  void SelectTab(int id, int page);  // selects a tab page as the program, without OnTabChanged
  // Shows `model` in the custom control `id` (null detaches); false when the template has no
  // custom control of that id. The model must outlive the attachment.
  bool AttachCustom(int id, CustomControl* model);

  // Handlers (host features with controls of their own); the dialog owns them.
  void AddHandler(std::unique_ptr<DialogHandler> handler);

  // Running.
  int DoModal();  // 1 OK, 2 Cancel, -1 when the template failed to load or no platform is set
  void EndDialog(int result);
  bool IsRunning() const { return running_; }
  int Result() const { return result_; }
  bool SetTimer(int id, unsigned period_ms);
  bool KillTimer(int id);
  int MessageBox(const std::string& text, MessageButtons buttons, MessageIcon icon,
                 bool help_button = false);

  // Overridables. Overrides of OnInitDialog and DoDataExchange call the base first.
  virtual int OnInitDialog();
  virtual void DoDataExchange();
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnTimer(int id);
  virtual void OnCommand(int id);           // buttons, unbound check boxes and radio buttons
  virtual void OnSelectionChanged(int id);  // unbound combo boxes
  virtual void OnTabChanged(int id, int page);
  virtual bool OnKeyChord(const std::string& chord);  // true when handled
  // The menu a right-click over control `id` offers (empty: none). By default the host menu its
  // custom control's model names (CustomControl::ContextMenu), every command enabled; a dialog
  // overrides it to disable or drop commands, or to offer none while a test runs.
  virtual std::vector<MenuItem> OnContextMenu(int id);
  // kGraphChannelScaleMessage from the plot in control `id`: step channel `channel` (0-based) by
  // `step` (> 0: more units per division, < 0: fewer). Does nothing by default.
  virtual void OnGraphMessage(int id, int channel, int step);

  // User actions, as a front end or a test script delivers them. Each returns false (and does
  // nothing) when the control is missing, disabled, hidden or of the wrong kind.
  bool UserClick(int id);
  bool UserType(int id, const std::string& text);  // typed then committed (Tab)
  bool UserSelectCombo(int id, int index);
  bool UserSetCheck(int id, bool checked);
  bool UserSelectTab(int id, int page);
  bool UserMoveSlider(int id, int position);
  bool UserKeyChord(const std::string& chord);
  // A right-click over control `id`: its menu (OnContextMenu) is shown through the platform and
  // the command chosen goes on as a button's click would (handlers, then OnCommand); a disabled
  // command is not taken. False when the control is not usable.
  bool UserContextMenu(int id);
  // The user stepped a channel's scale on the plot in custom control `id`: OnGraphMessage.
  bool UserGraphMessage(int id, int channel, int step);

  // Read access for renderers and tests.
  const DialogTemplate& Template() const { return template_; }
  const std::string& LoadError() const { return load_error_; }
  const std::map<int, ControlState>& Controls() const { return controls_; }
  const ControlState* Control(int id) const;
  bool IsVisible(int id) const;  // own flag, every parent's, and the tab page shown
  uint64_t ChangeCount() const { return change_count_; }
  void SetChangeListener(std::function<void(int id)> listener) { listener_ = std::move(listener); }

 protected:
  ControlState* Mutable(int id);
  bool Usable(int id, ControlKind kind) const;
  bool IsKind(int id, std::initializer_list<ControlKind> kinds) const;
  void Touch(int id);
  void SetText(int id, const std::string& text);
  // Every handler's OnRefresh.
  void RefreshHandlers();

  // The user's input on controls a derived dialog binds to values: true when taken. The text has
  // been set in the edit already; the check, selection and slider not.
  virtual bool TakeText(int /*id*/, const std::string& /*text*/) { return false; }
  virtual bool TakeCheck(int /*id*/, bool /*checked*/) { return false; }
  virtual bool TakeSelection(int /*id*/, int /*index*/) { return false; }
  virtual bool TakeSlider(int /*id*/, int /*position*/) { return false; }
  // A spin button pressed: true when it stepped a bound value.
  virtual bool TakeSpin(int /*id*/) { return false; }

 private:
  bool HandledCommand(int id);
  bool HandledSelection(int id);
  void SelectRadio(int id);

  DialogTemplate template_;
  std::string load_error_;
  std::map<int, ControlState> controls_;
  std::vector<std::unique_ptr<DialogHandler>> handlers_;
  bool running_ = false;
  int result_ = 0;
  uint64_t change_count_ = 0;
  std::function<void(int id)> listener_;
};

}  // namespace axis
