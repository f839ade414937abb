// The host's features that run controls of their own inside a setup dialog, made as handlers of
// the dialog (axis::DialogHandler): the CAN settings (host/can_settings.h) and the motor database
// editor (host/motor_editor.h).
#pragma once

#include <memory>

class CMC_EditSetupDlg;

namespace axis {

class DialogHandler;

// The CAN bit-rate combo and the "CANopen settings..." button of the dialog's template, the combo
// filled; null when the template lacks the combo. `bound`: the setup has a bit rate to show.
std::unique_ptr<DialogHandler> MakeCanSettingsHandler(CMC_EditSetupDlg& dialog, bool& bound);
// The motor database editor, started (its lists filled); null when the template lacks its
// controls.
std::unique_ptr<DialogHandler> MakeMotorEditor(CMC_EditSetupDlg& dialog);

}  // namespace axis
