#include "sim/recorder.h"

#include "sim/drive_core.h"

namespace sim {

void Recorder::Arm(const axis::LogRequest& request, std::vector<int> slots, int slow_divider,
                   int64_t launch_ticks) {
  armed_ = true;
  triggered_ = false;
  has_record_ = true;
  request_ = request;
  slots_ = std::move(slots);
  slow_divider_ = slow_divider;
  launch_ticks_ = launch_ticks;
  samples_seen_ = 0;
  data_.clear();
  data_.reserve(static_cast<size_t>(request.points) * (slots_.size() + 1));
  points_ = 0;
}

bool Recorder::full() const { return points_ >= request_.points; }

void Recorder::Trigger() {
  if (armed_) triggered_ = true;
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

void Recorder::Sample(const DriveCore& core, bool slow_tick, int64_t end_ticks,
                      double dsp_frequency_Hz) {
  if (!armed_ || !triggered_ || full()) return;
  if (request_.rate == axis::LogRequest::Rate::kSlowLoop && !slow_tick) return;
  if (samples_seen_++ % request_.every != 0) return;
  data_.push_back(static_cast<double>(end_ticks - launch_ticks_) / dsp_frequency_Hz);
  for (int slot : slots_) data_.push_back(core.VariableValue(slot));
  ++points_;
}

std::vector<axis::LogPoint> Recorder::Points() const {
  std::vector<axis::LogPoint> points;
  const size_t stride = slots_.size() + 1;
  points.reserve(static_cast<size_t>(points_));
  for (size_t p = 0; p + stride <= data_.size(); p += stride)
    points.emplace_back(data_.begin() + static_cast<std::ptrdiff_t>(p),
                        data_.begin() + static_cast<std::ptrdiff_t>(p + stride));
  return points;
}

}  // namespace sim
