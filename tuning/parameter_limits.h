// Limits of the tuning, test-profile, control-error and reference parameters, fixed from the
// present setup so that the editor and the tests offer only values the drive can hold.
//
// ComputeParameterLimits is the second step of ComputeAllOptions (after
// ComputeParametersFromRegisters); the drive setup dialog also runs it before the speed controller
// tuning test and the external reference setup dialog. Every item is skipped, silently, when a
// parameter it needs is absent.
#pragma once

#include "host/setup.h"

namespace kestrel {

void ComputeParameterLimits(CMC_Setup& setup);

// "EncRes" may not exceed one pole pitch (also run when the user edits "PolePitch").
void SetEncResMaximum(CMC_Setup& setup);
// "MAX_CURRENT": [0, min(In, InPS)], only on drives with the electric angle controller ("KPTHT")
// (also run when the user edits "In" or "InPS").
void SetMaxCurrentRange(CMC_Setup& setup);

}  // namespace kestrel
