// Tuning a controller the way the tuning tests' "Tune" button does: the tuning formula gives the
// scaled gains, which are encoded into their mantissa and shift registers and derived back, so
// the setup holds exactly the gains the drive will use.
#pragma once

#include "host/setup.h"

namespace kestrel {

enum class Loop { kCurrent, kSpeed, kPosition };

// 1 when the gains were computed and encoded; 0 when the tuning formula lacks a parameter or a
// gain lacks one of its registers (then nothing changed, and the missing name is reported).
int TuneAndEncode(CMC_Setup& setup, Loop loop);

}  // namespace kestrel
