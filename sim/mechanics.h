// The mover: motor and load as one rigid mass on a straight stroke with end stops.
//
//     m dv/dt = F - F_gravity - F_friction - c v,     dx/dt = v
//
// F is the motor's force, F_gravity = m g pulls toward negative positions, c v is viscous
// friction and F_friction is dry (Coulomb) friction: +-F_c against the motion while moving; at
// rest it holds the mover as long as the other forces stay within +-F_c (stiction).
//
// Discretisation: semi-implicit Euler over the fast-loop period (the velocity first, then the
// position with the new velocity). A velocity that would cross zero within a period while the
// other forces cannot overcome dry friction stops at zero instead of chattering. At an end stop
// the mover stops dead (an inelastic stop).
#pragma once

#include <cmath>

namespace sim {

struct MechanicsParams {
  double mass_kg = 3.0;
  double friction_N = 0.0;
  double viscous_N_s_per_m = 0.0;
  double gravity_m_per_s2 = 0.0;
  double stroke_min_m = -1.0;
  double stroke_max_m = 1.0;
};

struct MechanicsState {
  double position_m = 0.0;
  double velocity_m_per_s = 0.0;
};

inline void StepMechanics(const MechanicsParams& p, double force_N, double period_s,
                          MechanicsState& s) {
  const double driving_N = force_N - p.mass_kg * p.gravity_m_per_s2;
  const double v = s.velocity_m_per_s;
  double next_v = v;
  if (v == 0.0) {
    if (std::fabs(driving_N) > p.friction_N) {
      const double net_N = driving_N - std::copysign(p.friction_N, driving_N);
      next_v = net_N / p.mass_kg * period_s;
    }
  } else {
    const double net_N = driving_N - std::copysign(p.friction_N, v) - p.viscous_N_s_per_m * v;
    next_v = v + net_N / p.mass_kg * period_s;
    // Crossing zero: dry friction holds the mover unless the other forces overcome it.
    if ((next_v > 0.0) != (v > 0.0) && std::fabs(driving_N) <= p.friction_N) next_v = 0.0;
  }
  double x = s.position_m + next_v * period_s;
  if (x <= p.stroke_min_m) {
    x = p.stroke_min_m;
    if (next_v < 0.0) next_v = 0.0;
  } else if (x >= p.stroke_max_m) {
    x = p.stroke_max_m;
    if (next_v > 0.0) next_v = 0.0;
  }
  s.position_m = x;
  s.velocity_m_per_s = next_v;
}

}  // namespace sim
