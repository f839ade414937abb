// Steps that several routines share: the start-up, the power stage, a voltage ramp, the alignment
// that sets the commutation.
#pragma once

#include "sim/routine_engine.h"
#include "sim/routine_task.h"

namespace sim {

// Every routine waits this long after its launch before it sets "STARTED".
constexpr double kStartupDelay_s = 0.005;

// A routine's 16-bit view of a number.
double Int16(double value);

// Switches the power stage on in `mode` with "STARTED", once nothing blocks it.
EachPeriod StartPowered(RoutineRun& run, Mode mode);

// Ramps the voltage along the frame's q axis (frame at `angle`) from 0 to `target` by `step`
// counts per period (at most 0.2 s).
EachPeriod RampVoltage(RoutineRun& run, double target, double step, double angle);

// The start-up alignment of the motion routines: the voltage vector "RefTest" along phase A,
// ramped by "RIncTest" (16.16 counts per period, at most 0.2 s), pulls the mover's magnetic axis
// onto phase A; once the encoder has stood still for 20 ms (after 50 ms at least, 1 s at most)
// its count becomes the electrical angle 0. Then the firmware's current control with the
// commutation from the encoder takes over, with no current. "RefTest" 0 skips the alignment and
// keeps the commutation reference the drive has (the last positioning's).
EachPeriod AlignAndCommutate(RoutineRun& run);

}  // namespace sim
