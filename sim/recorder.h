// The drive's recorder: samples named drive variables at the end of control-loop periods while a
// routine runs, at the fast-loop or the slow-loop rate, keeping one sample in `every`, until it
// holds the points asked for. The routine starts it when its measurement begins (or the engine
// does, when the routine has started and does not start it itself).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/comm.h"

namespace sim {

class DriveCore;

class Recorder {
 public:
  // Forgets any record and prepares one; `slots` are the variable indices of `core`, the drive
  // it will sample.
  void Arm(const DriveCore& core, const axis::LogRequest& request, std::vector<int> slots,
           int slow_divider, int64_t launch_ticks);
  void Disarm() { armed_ = recording_ = false; }
  bool armed() const { return armed_; }
  bool triggered() const { return triggered_; }
  bool full() const { return points_ >= request_.points; }
  // Armed, triggered and not yet full.
  bool recording() const { return recording_; }
  bool has_record() const { return has_record_; }

  void Trigger();
  // The fast-loop periods from the trigger until the record is full.
  int64_t PeriodsNeeded() const;
  // Fast-loop periods between two points (1 when disarmed).
  int64_t Decimation() const;
  // At the end of each control-loop period: `slow_tick` says whether a slow-loop sample falls in
  // it, `end_ticks` is the drive's time (DSP ticks) at the end of the period.
  void Sample(const DriveCore& core, bool slow_tick, int64_t end_ticks, double dsp_frequency_Hz) {
    if (!recording_ || (slow_only_ && !slow_tick) || --until_kept_ > 0) return;
    Take(core, end_ticks, dsp_frequency_Hz);
  }

  std::vector<axis::LogPoint> Points() const;

 private:
  void Take(const DriveCore& core, int64_t end_ticks, double dsp_frequency_Hz);

  bool armed_ = false;
  bool triggered_ = false;
  bool recording_ = false;
  bool slow_only_ = false;  // samples at the slow-loop rate
  bool has_record_ = false;
  axis::LogRequest request_;
  std::vector<int> slots_;
  std::vector<const double*> sources_;  // where each is held as a plain value, else nullptr
  int slow_divider_ = 1;
  int64_t launch_ticks_ = 0;
  int until_kept_ = 1;  // samples until the next one kept
  // Points, each: time, then one value per variable. Sized for the record at Arm (and kept for
  // the next one), so that taking a point only writes it.
  std::vector<double> data_;
  int points_ = 0;
};

}  // namespace sim
