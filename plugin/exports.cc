// The plug-in's exports: four functions and one flag, with C linkage. Nothing else is visible
// outside the library.
#include "conversions/motion_units.h"
#include "passes/passes.h"
#include "editor/drive_setup_dlg.h"
#include "host/platform.h"
#include "host/setup.h"

#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))

KESTREL_EXPORT void ComputeAllOptions(CMC_Setup* setup) {
  if (setup == nullptr) return;
  kestrel::CompleteSetup(*setup);
}

// The drive setup dialog, run modally with no parent: 1 when the user ended it with OK. Without a
// platform to show it nothing is touched; a template that fails to load is reported by the dialog.
KESTREL_EXPORT int EditSetup(CMC_Setup* setup) {
  if (setup == nullptr || axis::GetPlatform() == nullptr) return 0;
  try {
    CDriveSetupDlg dialog(*setup, nullptr);
    return dialog.DoModal() == axis::kIdOk ? 1 : 0;
  } catch (...) {
    // Nothing may cross the plug-in boundary; a dialog that could not run was not accepted.
    return 0;
  }
}

KESTREL_EXPORT double GetScaleFactor(CMC_Setup* setup, const char* unit, const char* name) {
  return kestrel::ScaleFactor(setup, unit, name);
}

KESTREL_EXPORT double GetScaleOffset(CMC_Setup* setup, const char* unit) {
  return kestrel::ScaleOffset(setup, unit);
}
