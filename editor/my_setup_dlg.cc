#include "editor/my_setup_dlg.h"

#include "conversions/gains.h"
#include "host/text.h"
#include "tuning/parameter_limits.h"

namespace {

// The gains the user edits as scaled values. The electric-angle gains follow the whole-setup
// passes instead.
constexpr const char* kEditedGains[] = {"Kp_C_scl", "Ki_C_scl", "Ki_P_scl", "Kp_P_scl", "Kd_P_scl",
                                        "Ki_S_scl", "Kp_S_scl", "KFFA_scl", "KFFS_scl"};

bool Is(const char* name, const char* expected) { return axis::EqualsNoCase(name, expected); }

}  // namespace

void CMySetupDlg::OnChangedParameterValue(const char* name) {
  if (name == nullptr) return;
  bool gain = false;
  for (const char* scaled : kEditedGains) {
    if (!Is(name, scaled)) continue;
    // Encode into the registers, then show what the registers give back (range included).
    kestrel::EncodeGain(setup_, scaled);
    kestrel::DeriveGain(setup_, scaled);
    RefreshParameterControls(scaled);
    gain = true;
  }
  if (!gain && Is(name, "PolePitch")) {
    // One encoder count can be at most one pole pitch of travel.
    kestrel::SetEncResMaximum(setup_);
    RefreshParameterControls("EncRes");
  } else if (!gain && (Is(name, "In") || Is(name, "InPS"))) {
    // The angle controller's test current is limited by the smaller nominal current; only drives
    // with that controller have it (the range setter checks).
    kestrel::SetMaxCurrentRange(setup_);
    RefreshParameterControls("MAX_CURRENT");
  }
  CMC_EditSetupDlg::OnChangedParameterValue(name);
}
