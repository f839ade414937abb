// CMC_EditSetupDlg: the host's setup editor dialog as a headless model.
//
// The model holds a table of controls keyed by id, built from the dialog's template, and the
// bindings between controls and setup parameters. Dialogs call the operations below; a front end
// (or the headless platform in tests) renders the table and feeds the user's actions in through
// the User... operations. Nothing here draws.
//
// Behaviour of the editor:
// - A bound edit shows the value in the parameter's display unit, "%.6g".
// - Text committed into a bound edit is read as a number in that unit. Text that is not a finite
//   number, or a value outside the parameter's range, is refused with a warning box
//   "Please enter a value between <min> and <max> <unit>." (preceded by "\"<text>\" is not a
//   number. " for text) and the edit shows the old value again. A NaN bound leaves that side open.
// - An accepted value is stored with SetValueInDisplayUnit; then OnRefreshParameterValue(name)
//   runs, then OnChangedParameterValue(name), whose base shows the stored value in the controls.
// - RefreshParameterControls(name) brings a value that lies outside its parameter's (finite,
//   ordered) range back to the nearer bound before showing it, so a narrowed range holds;
//   RefreshAllParameters shows values as they are.
// - Slider bindings: the slider's ticks (template "range", default 0..100) map linearly onto the
//   given lower..upper bound in the parameter's base unit; the min and max labels show those bounds
//   in the display unit. Any of the five ids may be 0.
// - A combo box bound with AddParameterControls (no unit combo) selects the item whose data equals
//   the value truncated toward zero (none when no item does); picking an item stores its data.
// - A unit combo lists the units of its parameter's unit type; it is filled again when the
//   parameter moves to the other motion family (ChangeUnitType), so it always offers its units.
// - The motor database editor (InitializeMotorEditor, host/motor_editor.h) runs the controls
//   10010-10013 itself: the user's clicks and choices there do not reach OnCommand or
//   OnSelectionChanged.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/custom_control.h"
#include "host/dialog_template.h"
#include "host/platform.h"
#include "host/setup.h"

namespace axis {

struct ComboItem {
  std::string text;
  int64_t data = 0;
};

// One control's present state.
// A control's text colour as 0x00BBGGRR (red is 0x0000FF), or the window's own colour.
constexpr int kDefaultTextColour = -1;

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
};

// Guideline assistant controls.
constexpr int kGuidelinePrevious = 9001;
constexpr int kGuidelineNext = 9002;
constexpr int kGuidelineText = 9003;
constexpr int kHelpButton = 10024;

class MotorEditor;

}  // namespace axis

class CMC_EditSetupDlg {
 public:
  // `guidelines` is a null-terminated list of texts or null. `flag` is kept for derived dialogs.
  CMC_EditSetupDlg(CMC_Setup& setup, int template_id, int flag, const char* const* guidelines,
                   CMC_EditSetupDlg* parent);
  virtual ~CMC_EditSetupDlg();
  CMC_EditSetupDlg(const CMC_EditSetupDlg&) = delete;
  CMC_EditSetupDlg& operator=(const CMC_EditSetupDlg&) = delete;

  // Bindings. Each returns 1 when bound, 0 when the parameter or a named control is missing.
  // AddParameterControls binds an edit (with its unit combo, or 0) or a combo box (unit_id 0).
  int AddParameterControls(const char* name, int edit_id, int unit_id);
  int AddCheckParameterControls(const char* name, int check_id);
  int AddSwitchParameterControls(const char* name, int first_id, int last_id);
  int AddSwitchParameterControls(const char* name, int button_id);
  int AddUserParameterControls(CMC_Parameter& parameter, int edit_id, int unit_id);
  int AddSliderParameterControls(const char* name, int slider_id, int edit_id, int unit_id,
                                 int min_label_id, int max_label_id, double lower, double upper);

  void RefreshParameterControls(const char* name);
  void RefreshAllParameters(int unused = 0);
  // Stores a value as if the user had entered it in the parameter's control: brought within the
  // parameter's (finite, ordered) range, then OnRefreshParameterValue and OnChangedParameterValue
  // run. Returns 0 when the setup has no such parameter (nothing reported), 1 when stored as
  // given, 2 when stored at the nearer bound of its range.
  int StoreParameterValue(const char* name, double base_value);

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

  // The host's CAN bit-rate combo and "CANopen settings..." button of the template (see
  // host/can_settings.h). Returns 1 when the combo is bound to the setup's bit rate, 0 when the
  // setup has none or the template lacks the combo.
  int EnableCANSettings();
  // Runs the motor database controls of the template (host/motor_editor.h); 1 when they are there.
  int InitializeMotorEditor();

  // Controls the front end draws itself (plots, bars): `model` is shown in control `control_id`
  // and the control is redrawn (a change of that id) whenever the model says it changed. Null
  // detaches. The model is not owned; it must stay alive while attached, and the dialog never
  // touches it after it is detached or once the dialog is being destroyed.
  void AttachCustom(int control_id, axis::CustomControl* model);
  // The model attached to the control, or null.
  axis::CustomControl* Custom(int control_id) const;

  // Running.
  int DoModal();  // 1 OK, 2 Cancel, -1 when the template failed to load or no platform is set
  void EndDialog(int result);
  bool IsRunning() const { return running_; }
  int Result() const { return result_; }
  bool SetTimer(int id, unsigned period_ms);
  bool KillTimer(int id);
  int MessageBox(const std::string& text, axis::MessageButtons buttons, axis::MessageIcon icon,
                 bool help_button = false);

  // Overridables. Overrides of OnInitDialog and DoDataExchange call the base first; overrides of
  // OnChangedParameterValue end by calling the base.
  virtual int OnInitDialog();
  virtual void DoDataExchange();
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnTimer(int id);
  virtual void OnCommand(int id);  // buttons, unbound check boxes and radio buttons
  // Unbound combo boxes; an override passes the ids it does not handle on to the base, which runs
  // the CAN bit-rate combo.
  virtual void OnSelectionChanged(int id);
  virtual void OnTabChanged(int id, int page);
  virtual bool OnKeyChord(const std::string& chord);  // true when handled
  virtual void OnChangedParameterValue(const char* name);
  virtual void OnChangedParameterUnit(const char* name);
  virtual void OnRefreshParameterValue(const char* name);

  // User actions, as a front end or a test script delivers them. Each returns false (and does
  // nothing) when the control is missing, disabled, hidden or of the wrong kind.
  bool UserClick(int id);
  bool UserType(int id, const std::string& text);  // typed then committed (Tab)
  bool UserSelectCombo(int id, int index);
  bool UserSetCheck(int id, bool checked);
  bool UserSelectTab(int id, int page);
  bool UserMoveSlider(int id, int position);
  bool UserKeyChord(const std::string& chord);

  // Read access for renderers and tests.
  const axis::DialogTemplate& Template() const { return template_; }
  const std::string& LoadError() const { return load_error_; }
  const std::map<int, axis::ControlState>& Controls() const { return controls_; }
  const axis::ControlState* Control(int id) const;
  bool IsVisible(int id) const;  // own flag, every parent's, and the tab page shown
  uint64_t ChangeCount() const { return change_count_; }
  void SetChangeListener(std::function<void(int id)> listener) { listener_ = std::move(listener); }
  int GuidelineIndex() const { return guideline_index_; }
  CMC_Setup& GetSetup() { return setup_; }
  CMC_EditSetupDlg* GetParent() const { return parent_; }
  int GetFlag() const { return flag_; }

 protected:
  CMC_Setup& setup_;

 private:
  enum class BindingKind { kEdit, kCombo, kCheck, kSwitchRange, kSwitchSingle, kSlider };
  struct Binding {
    BindingKind kind;
    std::string name;
    CMC_Parameter* parameter;
    int edit_id = 0, unit_id = 0, first_id = 0, last_id = 0;
    int slider_id = 0, min_label_id = 0, max_label_id = 0;
    double lower = 0.0, upper = 0.0;
  };

  axis::ControlState* Mutable(int id);
  bool Usable(int id, axis::ControlKind kind) const;
  bool IsKind(int id, std::initializer_list<axis::ControlKind> kinds) const;
  void Touch(int id);
  void SetText(int id, const std::string& text);
  Binding* FindBinding(int control_id);
  void Bind(Binding binding);
  void FillUnits(const Binding& binding);
  void Show(const Binding& binding);
  void ShowParameter(const char* name);
  void CommitEdit(Binding& binding, const std::string& text);
  void StoreFromUser(Binding& binding, double base_value);
  void SelectRadio(int id);
  void ShowGuideline();

  axis::DialogTemplate template_;
  std::string load_error_;
  std::map<int, axis::ControlState> controls_;
  std::vector<Binding> bindings_;
  std::vector<std::string> guidelines_;
  int guideline_index_ = 0;
  int flag_;
  CMC_EditSetupDlg* parent_;
  bool running_ = false;
  bool can_settings_ = false;  // EnableCANSettings has run
  int result_ = 0;
  uint64_t change_count_ = 0;
  std::function<void(int id)> listener_;
  std::unique_ptr<axis::MotorEditor> motor_editor_;
  std::map<int, axis::CustomControl*> custom_;
};
