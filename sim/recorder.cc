#include "sim/recorder.h"

#include "sim/drive_core.h"

namespace sim {

void Recorder::Arm(const DriveCore& core, const axis::LogRequest& request, std::vector<int> slots,
                   int slow_divider, int64_t launch_ticks) {
  armed_ = true;
  triggered_ = false;
  recording_ = false;
  has_record_ = true;
  request_ = request;
  slow_only_ = request.rate == axis::LogRequest::Rate::kSlowLoop;
  slots_ = std::move(slots);
  sources_.clear();
  for (int slot : slots_) sources_.push_back(core.VariableSource(slot));
  slow_divider_ = slow_divider;
  launch_ticks_ = launch_ticks;
  until_kept_ = 1;
  const size_t values = static_cast<size_t>(request.points) * (slots_.size() + 1);
  if (data_.size() < values) data_.resize(values);
  points_ = 0;
}

void Recorder::Trigger() {
  if (!armed_) return;
  triggered_ = true;
  recording_ = !full();
}

int64_t Recorder::Decimation() const {
  if (!armed_) return 1;
  const int64_t per_sample = request_.rate == axis::LogRequest::Rate::kSlowLoop ? slow_divider_ : 1;
  return per_sample * request_.every;
}

int64_t Recorder::PeriodsNeeded() const {
  if (!armed_) return 0;
  const int64_t per_sample = request_.rate == axis::LogRequest::Rate::kSlowLoop ? slow_divider_ : 1;
  const int64_t remaining = request_.points - points_;
  return remaining * request_.every * per_sample + per_sample;
}

void Recorder::Take(const DriveCore& core, int64_t end_ticks, double dsp_frequency_Hz) {
  until_kept_ = request_.every;
  const size_t count = slots_.size();
  double* point = data_.data() + static_cast<size_t>(points_) * (count + 1);
  *point++ = static_cast<double>(end_ticks - launch_ticks_) / dsp_frequency_Hz;
  const double* const* sources = sources_.data();
  for (size_t v = 0; v < count; ++v)
    point[v] = sources[v] != nullptr ? *sources[v] : core.VariableValue(slots_[v]);
  recording_ = ++points_ < request_.points;
}

std::vector<axis::LogPoint> Recorder::Points() const {
  std::vector<axis::LogPoint> points;
  const size_t stride = slots_.size() + 1;
  points.reserve(static_cast<size_t>(points_));
  for (size_t p = 0; p < static_cast<size_t>(points_) * stride; p += stride)
    points.emplace_back(data_.begin() + static_cast<std::ptrdiff_t>(p),
                        data_.begin() + static_cast<std::ptrdiff_t>(p + stride));
  return points;
}

}  // namespace sim
