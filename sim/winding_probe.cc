#include "sim/winding_probe.h"

#include <algorithm>
#include <cmath>

namespace sim {

WindingProbe::WindingProbe(double target_counts, double voltage_limit)
    : target_(std::max(1.0, target_counts)), limit_(std::max(1.0, voltage_limit)) {
  stage_voltage_ = std::min(64.0, limit_);
}

double WindingProbe::Step(double i) {
  double u = 0.0;
  ++in_phase_;
  switch (phase_) {
    case Phase::kBase:
      if (in_phase_ >= 4) {
        phase_ = Phase::kUp;
        in_phase_ = 0;
      }
      break;
    case Phase::kUp:
      if (i > target_ / 4 || (stage_voltage_ >= limit_ && in_phase_ > 64)) {
        phase_ = Phase::kRelay;
        in_phase_ = 1;
      } else if (in_phase_ > 4 && stage_voltage_ < limit_) {
        stage_voltage_ = std::min(limit_, 2.0 * stage_voltage_);
        in_phase_ = 1;
      }
      u = stage_voltage_;
      break;
    case Phase::kRelay:
      break;
    case Phase::kDown:
      if (i < target_ / 8 || in_phase_ > 8) {
        phase_ = Phase::kDone;
        current_.push_back(i);
        voltage_.push_back(0.0);
        Fit();
        return 0.0;
      }
      break;
    case Phase::kDone:
      return 0.0;
  }
  if (phase_ == Phase::kRelay) {
    // The full step below half the test current, half of it above: the voltage keeps changing
    // while the current keeps its sign.
    u = i < target_ / 2 ? stage_voltage_ : stage_voltage_ / 2;
    if (in_phase_ >= 48) {
      phase_ = Phase::kDown;
      in_phase_ = 0;
      u = 0.0;
    }
  }
  current_.push_back(i);
  voltage_.push_back(u);
  return u;
}

void WindingProbe::Fit() {
  // Normal equations of the least-squares fit over rows (i[k], u[k-1], 1) -> i[k+1] - i[k].
  double m[3][4] = {};
  int rows = 0;
  for (size_t k = 1; k + 1 < current_.size(); ++k) {
    if (current_[k] <= target_ / 16) continue;
    const double x[3] = {current_[k], voltage_[k - 1], 1.0};
    const double y = current_[k + 1] - current_[k];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[r][c] += x[r] * x[c];
      m[r][3] += x[r] * y;
    }
    ++rows;
  }
  bool solved = rows >= 4;
  for (int c = 0; c < 3 && solved; ++c) {
    int pivot = c;
    for (int r = c + 1; r < 3; ++r) {
      if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
    }
    for (int j = 0; j < 4; ++j) std::swap(m[c][j], m[pivot][j]);
    if (!(std::fabs(m[c][c]) > 1e-9)) {
      solved = false;
      break;
    }
    for (int r = 0; r < 3; ++r) {
      if (r == c) continue;
      const double f = m[r][c] / m[c][c];
      for (int j = c; j < 4; ++j) m[r][j] -= f * m[c][j];
    }
  }
  const double a_minus_1 = solved ? m[0][3] / m[0][0] : 0.0;
  const double b = solved ? m[1][3] / m[1][1] : 0.0;
  if (solved && b > 0.0 && std::isfinite(b)) {
    gain_ = b;
    resistance_ = std::max(0.0, -a_minus_1 / b);
    return;
  }
  // No fit: the current against the voltage-time it saw, as if the winding were a pure
  // inductance (a large gain, so the regulator errs on the gentle side).
  double peak = 0.0, volt_periods = 0.0;
  for (size_t k = 0; k < current_.size(); ++k) {
    peak = std::max(peak, current_[k]);
    if (current_[k] <= peak) volt_periods += voltage_[k];
  }
  gain_ = std::max(peak, 1.0) / std::max(volt_periods, 1.0) * 4.0;
  resistance_ = 0.0;
}

}  // namespace sim
