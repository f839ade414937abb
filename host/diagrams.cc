#include "host/diagrams.h"

#include <algorithm>
#include <cmath>
#include <numbers>

// --- phase ---------------------------------------------------------------------------------------

void CPhaseDiagram::EnableDiagram() {
  const Picture before = Drawn();
  enabled_ = true;
  ChangedSince(before);
}

void CPhaseDiagram::DisableDiagram() {
  const Picture before = Drawn();
  enabled_ = false;
  ChangedSince(before);
}

void CPhaseDiagram::SetTheta(double angle_rad) {
  const Picture before = Drawn();
  theta_ = angle_rad;
  ChangedSince(before);
}

bool CPhaseDiagram::IsPointerShown() const { return enabled_ && std::isfinite(theta_); }

double CPhaseDiagram::GetDrawnAngle() const {
  if (!IsPointerShown()) return 0.0;
  constexpr double kTurn = 2.0 * std::numbers::pi;
  double angle = std::fmod(theta_, kTurn);  // exact, in (-kTurn, kTurn)
  if (angle < 0.0) angle += kTurn;
  // A tiny negative angle rounds up to a whole turn, drawn as 0 (so is -0).
  return angle > 0.0 && angle < kTurn ? angle : 0.0;
}

// --- Hall ----------------------------------------------------------------------------------------

void CLinearHallDiagram::EnableDiagram() {
  if (enabled_) return;
  enabled_ = true;
  Changed();
}

void CLinearHallDiagram::ResetDiagramStatus() {
  const bool any = std::any_of(status_.begin(), status_.end(), [](int s) { return s != 0; });
  status_.fill(kNotVisited);
  if (any && enabled_) Changed();
}

int CLinearHallDiagram::GetSliceStatus(int i) const {
  return i >= 0 && i < kSlices ? status_[static_cast<size_t>(i)] : kNotVisited;
}

void CLinearHallDiagram::SetSliceStatus(int i, int status) {
  if (i < 0 || i >= kSlices || status < kNotVisited || status > kPresent) return;
  int& slice = status_[static_cast<size_t>(i)];
  if (slice == status) return;
  slice = status;
  if (enabled_) Changed();
}

std::string_view CLinearHallDiagram::GetSliceLabel(int i) {
  constexpr std::array<std::string_view, kSlices> kLabels = {"001", "011", "010",
                                                             "110", "100", "101"};
  return i >= 0 && i < kSlices ? kLabels[static_cast<size_t>(i)] : std::string_view();
}

// --- encoder -------------------------------------------------------------------------------------

void CLinearEncoderDiagram::EnableDiagram() {
  if (enabled_) return;
  enabled_ = true;
  Changed();
}

void CLinearEncoderDiagram::SetLimits(long min, long max) {
  if (min == min_ && max == max_) return;
  min_ = min;
  max_ = max;
  Changed();  // the limits are written even while disabled
}

void CLinearEncoderDiagram::SetPosition(long position) {
  if (position == position_) return;
  position_ = position;
  if (enabled_) Changed();
}

CLinearEncoderDiagram::Geometry CLinearEncoderDiagram::Layout() const {
  Geometry g;
  if (min_ >= max_) return g;
  // Distances from the minimum in unsigned arithmetic: exact for any pair of limits, where a
  // signed difference could overflow.
  const auto from_min = [this](long v) {
    return static_cast<double>(static_cast<unsigned long>(v) - static_cast<unsigned long>(min_));
  };
  const double span = from_min(max_);  // at least 1
  g.scale = true;
  g.below = position_ < min_;
  g.above = position_ > max_;
  g.marker = from_min(std::clamp(position_, min_, max_)) / span;
  g.zero_shown = min_ < 0 && max_ > 0;
  if (g.zero_shown) g.zero = from_min(0) / span;
  return g;
}
