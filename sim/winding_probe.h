// How the routines learn the winding before they regulate its current.
//
// The identification routines must work on a motor whose resistance and inductance are what they
// are about to measure, so their current regulator cannot be set from the setup. They first probe
// the winding along one axis: nothing for 4 periods, then a voltage of 64 counts doubled every 4
// periods until the current passes a quarter of the test current (or the voltage has stood at its
// limit for 64 periods); then for 48 periods a relay: that voltage while the current is below half
// the test current, half of it above; then no voltage until the current has fallen to an eighth
// (at most 8 periods). The samples taken while the current flows (above a sixteenth of the test
// current, so that the dead-time error keeps its sign) are fitted by least squares to the
// first-order model of a period,
//
//     i[k+1] - i[k] = (a - 1) i[k] + b u[k-1] + c,
//
// where u[k-1] is the command applied during period k (the drive's one-period delay), and c takes
// the constant dead-time error. b (current counts per voltage count and period, about T / L in the
// drive's units) sets the regulator's gain; (1 - a) / b is the winding's resistance in voltage
// counts per current count.
#pragma once

#include <vector>

namespace sim {

class WindingProbe {
 public:
  WindingProbe(double target_counts, double voltage_limit);

  // One period: the current just sampled on the probed axis in, the voltage for the next period
  // out (counts).
  double Step(double current_counts);
  bool done() const { return phase_ == Phase::kDone; }

  // The fitted b (> 0); a rough value when the fit was not possible.
  double gain() const { return gain_; }
  // (1 - a) / b, at least 0.
  double resistance() const { return resistance_; }

 private:
  enum class Phase { kBase, kUp, kRelay, kDown, kDone };
  void Fit();

  double target_, limit_;
  Phase phase_ = Phase::kBase;
  int in_phase_ = 0;
  double stage_voltage_ = 64.0;
  std::vector<double> current_, voltage_;  // per period: sample, command
  double gain_ = 0.0;
  double resistance_ = 0.0;
};

}  // namespace sim
