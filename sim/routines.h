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
// The speed and position tuning routines and the mass identification (motion_routines.cc).
std::vector<RoutineDefinition> MotionRoutines();

// A change of the Hall state seen while the field dragged the mover: where (counts, midway between
// the samples before and after it) and between which states.
struct HallEdge {
  double position;
  int from, to;
};
struct HallFinding {
  int hall_case = 0;   // 2 to 13; 0 when no configuration fits
  double shift = 0.0;  // 65536 per electrical turn, within +-8192/3 (30 degrees)
};
// The configuration and the shift from the edges seen moving forward and backward, the count at
// which the electrical angle is 0 and the counts per electrical turn.
HallFinding FindHallConfiguration(const std::vector<HallEdge>& forward,
                                  const std::vector<HallEdge>& backward, double zero_count,
                                  int64_t counts_per_turn);

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
