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

void StepMechanics(const MechanicsParams& params, double force_N, double period_s,
                   MechanicsState& state);

}  // namespace sim
