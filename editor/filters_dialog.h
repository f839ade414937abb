// The filters dialog: the three biquad filters of the control loops.
//
// For each filter the user chooses whether it is on, where it sits in the loop, its type and its
// frequency with a quality factor, or for the lead-lag types a lead and a lag frequency. The speed
// and position tuning tests open it (only for drives with "IQREF_BQ_INI"), after running
// ComputeRegistersFromParameters then ComputeParametersFromRegisters; when it ends with OK they run
// both passes again, which designs the filters into the biquad registers
// (EncodeBiquadFilters, the last step of ComputeRegistersFromParameters), and during a test run
// they call WriteBiquadsToDrive so that the drive uses the new filters at once.
//
// While a test run is in progress a filter cannot be switched on or off nor moved to another place
// in the loop: that would reassign the drive's biquad slots under a running controller. Its type
// and values stay editable.
//
// Whole-setup passes: the dialog holds no calculators of its own; the filters are encoded by the
// opener's passes as described above.
#pragma once

#include <vector>

#include "editor/my_setup_dlg.h"
#include "tuning/biquad.h"

class CFiltersDialog : public CMySetupDlg {
 public:
  static constexpr int kTemplateId = 295;

  // `running` is non-zero while a test run is in progress.
  CFiltersDialog(CMC_Setup& setup, CMC_EditSetupDlg* parent, int running = 0);

  int OnInitDialog() override;
  void DoDataExchange() override;
  void OnCommand(int id) override;
  void OnSelectionChanged(int id) override;
  void OnChangedParameterValue(const char* name) override;

  // Writes the slot counts and biquad registers to the drive; 0 when a write failed.
  int WriteBiquadsToDrive();

  bool IsTestRunning() const { return running_ != 0; }

  // Location combo items, in the order of their item data.
  static constexpr const char* kLocationNames[] = {"Position Controller Output",
                                                   "Speed Controller Output", "Speed Feedback"};

  // Control ids and parameter names of one filter (defined with the dialog's code).
  struct FilterRow;

 private:
  // Shows the combo item whose data is the parameter's truncated value (none when no item has it).
  void ShowComboParameter(int combo_id, const char* name);
  void ApplyRules(const FilterRow& row);

  std::vector<kestrel::BiquadTypeRow> types_;
  int running_;
};
