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
  // Forgets any record and prepares one; `slots` are the drive's variable indices.
  void Arm(const axis::LogRequest& request, std::vector<int> slots, int slow_divider,
           int64_t launch_ticks);
  void Disarm() { armed_ = false; }
  bool armed() const { return armed_; }
  bool triggered() const { return triggered_; }
  bool full() const;
  bool has_record() const { return has_record_; }

  void Trigger();
  // The fast-loop periods from the trigger until the record is full.
  int64_t PeriodsNeeded() const;
  // Fast-loop periods between two points (1 when disarmed).
  int64_t Decimation() const;
  // At the end of each control-loop period: `slow_tick` says whether a slow-loop sample falls in
  // it, `end_ticks` is the drive's time (DSP ticks) at the end of the period.
  void Sample(const DriveCore& core, bool slow_tick, int64_t end_ticks, double dsp_frequency_Hz);

  std::vector<axis::LogPoint> Points() const;

 private:
  bool armed_ = false;
  bool triggered_ = false;
  bool has_record_ = false;
  axis::LogRequest request_;
  std::vector<int> slots_;
  int slow_divider_ = 1;
  int64_t launch_ticks_ = 0;
  int64_t samples_seen_ = 0;
  std::vector<double> data_;  // points, each: time, then one value per variable
  int points_ = 0;
};

}  // namespace sim
