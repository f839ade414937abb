// The base of every setup dialog of the plug-in.
//
// The host's editor dialog binds controls to parameters and stores what the user types. On top of
// that, an edited scaled controller gain is encoded into its mantissa and shift registers at once
// and derived back, so the dialog always shows the gain the drive will really use.
#pragma once

#include "host/edit_setup_dlg.h"

class CMySetupDlg : public CMC_EditSetupDlg {
 public:
  CMySetupDlg(CMC_Setup& setup, int template_id, int flag, const char* const* guidelines,
              CMC_EditSetupDlg* parent)
      : CMC_EditSetupDlg(setup, template_id, flag, guidelines, parent) {}

  void OnChangedParameterValue(const char* name) override;
};
