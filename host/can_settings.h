// The host's own CAN settings, run by CMC_EditSetupDlg::EnableCANSettings for a dialog whose
// template has the CAN bit-rate combo (6303) and the "CANopen settings..." button (6304).
//
// Bit rate. The combo lists the standard CAN bit rates, 10 kbit/s to 1 Mbit/s, that the setup's
// bit-rate parameter "CAN_baudrate" (kbit/s) can hold within its range. It shows the present value
// (a value that is no standard rate is listed as well, so that what the drive has is seen) and a
// choice is stored there at once. A setup without "CAN_baudrate" has nowhere to keep a choice: the
// combo is then left empty and disabled.
//
// CANopen settings. The button opens the host's "CANopen Settings" dialog (template 120) for the
// CANopen communication values the setup carries: the heartbeat producer time
// ("CANopen_HeartbeatTime", s), the node guard time ("CANopen_GuardTime", s) and the life time
// factor ("CANopen_LifeTimeFactor"). Rows whose parameter is missing are hidden; a setup with none
// of them gets the message "The setup holds no CANopen settings." instead of the dialog. Values go
// into the setup as they are typed; Cancel puts back the values the dialog opened with.
//
// None of these values is a drive register: the plug-in neither encodes nor derives them.
#pragma once

#include <cstdint>

#include "host/edit_setup_dlg.h"

namespace axis {

constexpr int kCanBitRateCombo = 6303;
constexpr int kCanOpenSettingsButton = 6304;
constexpr int kCanOpenSettingsTemplate = 120;
constexpr const char* kCanBitRateName = "CAN_baudrate";

// The standard CAN bit rates, kbit/s, in the order the combo lists them.
constexpr int64_t kCanBitRates[] = {10, 20, 50, 125, 250, 500, 800, 1000};

// "125 kbit/s", "1 Mbit/s".
std::string CanBitRateText(int64_t kbit_per_s);

// Fills the bit-rate combo of `dialog` from the setup and selects the present value. Returns true
// when the setup has the bit-rate parameter; otherwise the combo is emptied and disabled.
bool ShowCanBitRate(CMC_EditSetupDlg& dialog, CMC_Setup& setup);
// Stores the bit rate selected in the combo and reports the change to the dialog.
void StoreCanBitRate(CMC_EditSetupDlg& dialog, CMC_Setup& setup);
// The "CANopen settings..." button: the dialog, or the message that the setup has none. Returns 1
// when the dialog ended with OK.
int OpenCanOpenSettings(CMC_EditSetupDlg& owner, CMC_Setup& setup);

}  // namespace axis

class CMC_CANopenSettingsDlg : public CMC_EditSetupDlg {
 public:
  struct Row {
    const char* name;
    int label_id, edit_id, unit_id;
  };
  static constexpr Row kRows[] = {
      {"CANopen_HeartbeatTime", 1201, 1202, 1203},
      {"CANopen_GuardTime", 1211, 1212, 1213},
      {"CANopen_LifeTimeFactor", 1221, 1222, 0},
  };

  CMC_CANopenSettingsDlg(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  // True when the setup carries at least one of the rows' parameters.
  static bool SetupHasSettings(CMC_Setup& setup);

  void OnCancel() override;

 private:
  struct Saved {
    CMC_Parameter* parameter;
    double value;
  };
  std::vector<Saved> saved_;
};
