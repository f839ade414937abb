// The two whole-setup passes.
//
// ComputeParametersFromRegisters derives every physical parameter from the registers the drive
// holds; ComputeRegistersFromParameters encodes every register from the physical parameters the
// user edits. Each runs its calculators in a fixed order: later calculators read physical values
// written earlier in the same pass ("Ts_S" for example), so the order is behaviour. Optional
// feature groups run only when their parameters exist (presence probes, never reported).
#pragma once

#include "host/setup.h"

namespace kestrel {

void ComputeParametersFromRegisters(CMC_Setup& setup);
void ComputeRegistersFromParameters(CMC_Setup& setup);

// Completes a setup read from a drive (the plug-in's ComputeAllOptions): the derive pass, the
// limits of the tuning, test and reference parameters, the capability options, then the linear or
// rotary units of every motion quantity.
void CompleteSetup(CMC_Setup& setup);

}  // namespace kestrel
