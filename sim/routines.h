// The routines that the simulated drive holds, one C++ function per label, and how they choose
// what they apply.
//
// A routine may use what a real drive knows about itself (its sampling and computation delay, its
// hold, its dead-time compensation, its registers and limits) and what it measures while it runs;
// it never uses the motor's unknowns (R, L, Kf, the mass): those are what the host identifies.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/routine_engine.h"

namespace sim {

// Every routine this drive holds, with its user variables.
const std::vector<RoutineDefinition>& Routines();

// The rotating voltage of the inductance routine, chosen from what the winding probe learnt.
struct Rotation {
  int32_t angle_increment = 0;  // per fast-loop period, 1/65535 of an electrical period
  double amplitude = 0.0;       // voltage counts, the amplitude the routine reports
  double current = 0.0;         // the current amplitude aimed at, counts
};

// `gain` and `resistance` from WindingProbe; `test_current` and `voltage_limit` in counts;
// `decimation` the fast-loop periods between recorded points.
Rotation ChooseRotation(double gain, double resistance, double test_current, double voltage_limit,
                        int64_t decimation);

}  // namespace sim
