#include "sim/mechanics.h"

#include <cmath>

namespace sim {

void StepMechanics(const MechanicsParams& p, double force_N, double period_s, MechanicsState& s) {
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
