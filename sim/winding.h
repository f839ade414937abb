// The motor's three windings as an electrical network between the drive's three output terminals.
//
// Each winding (branch) j has a resistance R_j, an inductance L_j and a back-EMF e_j in series.
// Star: the branches join terminals A, B, C to a floating neutral. Delta: they join A-B, B-C and
// C-A. An open terminal is a lead that is not connected to the drive: its node floats as well.
//
// Continuous model. With i the vector of branch currents and v the branch voltages,
//
//     L di/dt = -R i - e + v,      L = diag(L_j),  R = diag(R_j),
//
// and Kirchhoff's current law at every floating node (the neutral, an open terminal) confines i
// to a subspace i = B x (B: a basis of the currents that the floating nodes let through). The
// node potentials of floating nodes drop out when the equation is projected on that subspace
// (they do no work on currents that satisfy the node law):
//
//     (B' L B) dx/dt = -(B' R B) x + B' (D p - e)
//
// where p are the terminals' pole voltages and D maps them to branch voltages (from-terminal minus
// to-terminal; an open terminal's pole voltage does not reach the motor).
//
// Discretisation. Over one fast-loop period T the drive holds its pole voltages (PWM averages),
// and the back-EMF changes little, so both are held constant over the period (a zero-order hold)
// and the linear equation is solved exactly:
//
//     x[k+1] = Phi x[k] + Gamma u[k],   Phi = e^(A T),  Gamma = integral_0^T e^(A s) ds G,
//
// with A = -(B' L B)^-1 B' R B, G = (B' L B)^-1 B' [D, -I] and u = (p_A, p_B, p_C, e_1, e_2, e_3).
// Phi and Gamma come from one matrix exponential of the block matrix [[A, G], [0, 0]] T. The step
// is mapped back to branch currents, so a period costs a 3x3 and a 3x6 product.
//
// Balanced windings (the same R and L in every branch, every lead connected) have a cheaper model
// of the same physics in their line currents alone (see StepLines). Star: each line current is its
// phase current, and the node law puts the neutral at the mean pole voltage less the mean EMF,
//
//     L di_x/dt = -R i_x - (e_x - mean e) + (p_x - mean p).
//
// Delta: line current A is i_AB - i_CA; subtracting the two branch equations gives the same
// equation with R/3, L/3 and the EMF (e_AB - e_CA) / 3, which for the motor's sinusoidal EMF is the
// star-equivalent phase EMF. The current circulating round the delta is driven only by the mean of
// the branch EMFs, which is nil for a sinusoidal EMF, so it stays at zero and the line currents say
// everything. Held over the period, the equation is solved exactly:
//
//     i[k+1] = a i[k] + b u,   a = e^(-R T / L),  b = (1 - a) / R  (T / L without resistance).
#pragma once

#include <array>

#include "sim/sim_config.h"

namespace sim {

struct WindingParams {
  Connection connection = Connection::kStar;
  std::array<double, 3> resistance_Ohm{};  // per branch: star A, B, C; delta A-B, B-C, C-A
  std::array<double, 3> inductance_H{};
  Terminal open_terminal = Terminal::kNone;
  double period_s = 50e-6;
};

struct WindingState {
  std::array<double, 3> branch_current_A{};  // in the direction from-terminal to to-terminal
};

class Winding {
 public:
  // The parameters must be finite with R >= 0, L > 0 and a period > 0 (the caller checks).
  explicit Winding(const WindingParams& params);

  const WindingParams& params() const { return params_; }

  // One period with pole voltages `pole_V` (terminal to the DC bus minus) and branch EMFs
  // `emf_V`, both held over the period.
  void Step(const std::array<double, 3>& pole_V, const std::array<double, 3>& emf_V,
            WindingState& state) const {
    const std::array<double, 3> i = state.branch_current_A;
    for (int r = 0; r < 3; ++r) {
      const auto& phi = phi_[r];
      const auto& gamma = gamma_[r];
      state.branch_current_A[r] = phi[0] * i[0] + phi[1] * i[1] + phi[2] * i[2] +
                                  gamma[0] * pole_V[0] + gamma[1] * pole_V[1] +
                                  gamma[2] * pole_V[2] + gamma[3] * emf_V[0] + gamma[4] * emf_V[1] +
                                  gamma[5] * emf_V[2];
    }
  }

  // Whether StepLines may be used instead of Step (a balanced winding, every lead connected).
  bool balanced() const { return balanced_; }

  // A balanced winding only: one period on its line currents (into the motor at each terminal)
  // with pole voltages `pole_V` and star-equivalent phase EMFs `phase_emf_V` held over the period.
  void StepLines(const std::array<double, 3>& pole_V, const std::array<double, 3>& phase_emf_V,
                 std::array<double, 3>& line_A) const {
    const double u[3] = {pole_V[0] - phase_emf_V[0], pole_V[1] - phase_emf_V[1],
                         pole_V[2] - phase_emf_V[2]};
    const double mean = (u[0] + u[1] + u[2]) * (1.0 / 3.0);
    for (int x = 0; x < 3; ++x) line_A[x] = line_decay_ * line_A[x] + line_gain_ * (u[x] - mean);
  }

  // The branch currents' change at the end of a period per volt held at each terminal's pole:
  // [branch][terminal].
  std::array<std::array<double, 3>, 3> PoleResponse() const;
  // The same for the line currents: [line][terminal].
  std::array<std::array<double, 3>, 3> LinePoleResponse() const;

  // Current flowing from the drive into the motor at each terminal.
  std::array<double, 3> LineCurrents(const WindingState& state) const {
    const auto& i = state.branch_current_A;
    if (params_.connection == Connection::kStar) return i;
    // Into terminal A: out along A-B, back along C-A.
    return {i[0] - i[2], i[1] - i[0], i[2] - i[1]};
  }

  // The terminals at the ends of branch j.
  static Terminal From(Connection connection, int branch);
  static Terminal To(Connection connection, int branch);  // kNone: the star's neutral

 private:
  WindingParams params_;
  std::array<std::array<double, 3>, 3> phi_{};    // branch currents -> branch currents
  std::array<std::array<double, 6>, 3> gamma_{};  // (poles, EMFs) -> branch currents
  bool balanced_ = false;
  double line_decay_ = 0.0, line_gain_ = 0.0;  // a and b of the balanced model
};

}  // namespace sim
