// CMC_EditSetupDlg: the host's setup editor dialog: a dialog model (host/dialog_model.h) whose
// controls are bound to setup parameters.
//
// Behaviour of the editor:
// - A bound edit shows the value in the parameter's display unit, six significant digits.
// - Text committed into a bound edit is read as a number in that unit, or with a unit of its own
//   ("16 kHz"); a decimal comma is taken where the user's locale writes one. Text that is not a
//   finite number, or a value outside the parameter's range, is refused with a warning box
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
// - The motor database editor (InitializeMotorEditor, host/motor_editor.h) and the CAN settings
//   (EnableCANSettings, host/can_settings.h) are handlers of the dialog: the user's clicks and
//   choices on their controls do not reach OnCommand or OnSelectionChanged.
#pragma once

#include <string>
#include <vector>

#include "host/dialog_model.h"
#include "host/setup.h"

namespace axis {

// Guideline assistant controls.
constexpr int kGuidelinePrevious = 9001;
constexpr int kGuidelineNext = 9002;
constexpr int kGuidelineText = 9003;

}  // namespace axis

class CMC_EditSetupDlg : public axis::DialogModel {
 public:
  // `guidelines` is a null-terminated list of texts or null. `flag` is kept for derived dialogs.
  CMC_EditSetupDlg(CMC_Setup& setup, int template_id, int flag, const char* const* guidelines,
                   CMC_EditSetupDlg* parent);
  ~CMC_EditSetupDlg() override;

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

  // The host's CAN bit-rate combo and "CANopen settings..." button of the template (see
  // host/can_settings.h). Returns 1 when the combo is bound to the setup's bit rate, 0 when the
  // setup has none or the template lacks the combo.
  int EnableCANSettings();
  // Runs the motor database controls of the template (host/motor_editor.h); 1 when they are there.
  int InitializeMotorEditor();

  // Overridables. Overrides of OnChangedParameterValue end by calling the base.
  int OnInitDialog() override;
  void OnCommand(int id) override;
  virtual void OnChangedParameterValue(const char* name);
  virtual void OnChangedParameterUnit(const char* name);
  virtual void OnRefreshParameterValue(const char* name);

  int GuidelineIndex() const { return guideline_index_; }
  CMC_Setup& GetSetup() { return setup_; }
  CMC_EditSetupDlg* GetParent() const { return parent_; }
  int GetFlag() const { return flag_; }

 protected:
  bool TakeText(int id, const std::string& text) override;
  bool TakeCheck(int id, bool checked) override;
  bool TakeSelection(int id, int index) override;
  bool TakeSlider(int id, int position) override;
  bool TakeSpin(int id) override;

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

  Binding* FindBinding(int control_id);
  void Bind(Binding binding);
  void FillUnits(const Binding& binding);
  void Show(const Binding& binding);
  void ShowParameter(const char* name);
  void CommitEdit(Binding& binding, const std::string& text);
  void StoreFromUser(Binding& binding, double base_value);
  void ShowGuideline();

  std::vector<Binding> bindings_;
  std::vector<std::string> guidelines_;
  int guideline_index_ = 0;
  int flag_;
  CMC_EditSetupDlg* parent_;
};
