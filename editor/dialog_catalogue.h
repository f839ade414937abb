// Every setup dialog and commissioning test of the plug-in, by template id, as the front end opens
// it on its own: built on the setup with no parent and run modally. The command line's `render`
// draws each of them this way and `test` runs the tests; EditSetup opens only the drive setup
// dialog, which opens the others.
#pragma once

#include <span>

#include "host/setup.h"

namespace kestrel {

struct SetupDialogEntry {
  int template_id;
  // The modal result: 1 OK, 2 Cancel, -1 not run (no platform, template missing), 0 null setup.
  int (*open)(CMC_Setup* setup);
};

std::span<const SetupDialogEntry> SetupDialogs();

}  // namespace kestrel
