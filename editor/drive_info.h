// The drive info dialog: the identity and hardware data of the drive in the setup.
//
// It shows the drive's name, product and firmware IDs, EEPROM size, supply limits, current
// ratings, DC-voltage and analogue input ranges, temperature sensor, the drive protections and
// the application ID. The hardware data describe the drive as built, so they are locked against
// editing; the edit chord (Ctrl+Alt+Shift+E, resources/help/drive-info.html) unlocks them and a
// second press locks them again. The application ID belongs to the user and stays editable.
//
// The drive setup dialog opens it. OK stores the identification texts in the setup and runs
// ComputeRegistersFromParameters so that the registers follow the edited hardware data.
//
// Whole-setup passes: the dialog holds no calculators of its own; it runs the whole
// ComputeRegistersFromParameters on OK.
#pragma once

#include <string>

#include "editor/my_setup_dlg.h"

class CDriveInfo : public CMySetupDlg {
 public:
  static constexpr int kTemplateId = 3018;
  // The host keeps the EEPROM size as an unsigned 16-bit count of words.
  static constexpr int kMaxE2ROMKwords = 63;
  static constexpr size_t kApplicationIdLength = 40;

  CDriveInfo(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  void DoDataExchange() override;
  bool OnKeyChord(const std::string& chord) override;
  void OnOK() override;
  void OnCommand(int id) override;
  void OnChangedParameterValue(const char* name) override;

  bool IsEditing() const { return edit_ != 0; }

  // Whether a key chord, as the platform spells it ("Ctrl+Alt+Shift+E"; modifiers in any order,
  // case ignored), is the edit chord: exactly Ctrl, Alt and Shift with the letter E.
  static bool IsEditChord(const std::string& chord);
  // The leading decimal digits of a text, blanks before them skipped; 0 when there are none.
  // Saturates instead of overflowing.
  static int64_t LeadingDecimal(const std::string& text);

 private:
  void ApplyTemperatureRule();

  int edit_ = 0;  // hardware data unlocked
};
