// The two whole-setup passes. They run the calculators of conversions/ and the biquad encoding
// and parameter limits of tuning/, so they live apart from both: tuning/ builds on conversions/,
// and neither includes this folder.
//
// ComputeParametersFromRegisters derives every physical parameter from the registers the drive
// holds; ComputeRegistersFromParameters encodes every register from the physical parameters the
// user edits. Each runs its calculators in a fixed order: later calculators read physical values
// written earlier in the same pass ("Ts_S" for example), so the order is behaviour. Optional
// feature groups run only when their parameters exist (presence probes, never reported).
#pragma once

#include <vector>

#include "conversions/calculator.h"
#include "host/setup.h"

namespace kestrel {

// A calculator of a pass, with its name for reports and tests.
struct PassCalculator {
  Calculator run;
  const char* name;
};
// One step of a pass: its calculators run in order when the guard (a presence probe of an
// optional feature) holds; a step without a guard always runs. Results are not looked at: a
// calculator whose parameters are missing simply does nothing.
struct PassStep {
  bool (*guard)(CMC_Setup& setup);
  std::vector<PassCalculator> calculators;
};
// The steps of each pass, in the order they run.
const std::vector<PassStep>& DerivePassSteps();
const std::vector<PassStep>& EncodePassSteps();

void ComputeParametersFromRegisters(CMC_Setup& setup);
void ComputeRegistersFromParameters(CMC_Setup& setup);

// Completes a setup read from a drive (the plug-in's ComputeAllOptions): the derive pass, the
// limits of the tuning, test and reference parameters, the capability options, then the linear or
// rotary units of every motion quantity.
void CompleteSetup(CMC_Setup& setup);

}  // namespace kestrel
