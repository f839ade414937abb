// The plug-in's exports: four functions and one flag, with C linkage. Nothing else is visible
// outside the library.
#include "conversions/motion_units.h"
#include "conversions/passes.h"
#include "host/setup.h"

#define KESTREL_EXPORT extern "C" __attribute__((visibility("default")))

KESTREL_EXPORT void ComputeAllOptions(CMC_Setup* setup) {
  if (setup == nullptr) return;
  kestrel::CompleteSetup(*setup);
}

// The setup editor's dialogs arrive with the desktop front end; until then editing leaves the
// setup untouched and reports "not accepted".
KESTREL_EXPORT int EditSetup(CMC_Setup* setup) {
  (void)setup;
  return 0;
}

KESTREL_EXPORT double GetScaleFactor(CMC_Setup* setup, const char* unit, const char* name) {
  return kestrel::ScaleFactor(setup, unit, name);
}

KESTREL_EXPORT double GetScaleOffset(CMC_Setup* setup, const char* unit) {
  return kestrel::ScaleOffset(setup, unit);
}
