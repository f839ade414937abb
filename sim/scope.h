// The drive's oscilloscope: while armed and while a routine runs, it samples up to four drive
// variables every `every` slow-loop periods into acquisitions of `points` samples and queues each
// acquisition as scope frames (host/scope_frame.h) for the link to hand over.
//
// Trigger: in normal and single-shot mode an acquisition starts at the sample at which the trigger
// variable crosses the level (rising: from below to at or above it; falling: from above to at or
// below it) and holds the `pretrigger_points` samples before it first; a trigger is taken only once
// that many samples have been seen since arming (at most points - 1: the acquisition holds the
// trigger sample). Normal mode re-arms at once after each
// acquisition (the samples taken meanwhile serve as its pretrigger); single shot stops after one,
// its last frame marked kFinal. Auto mode (or no trigger variable) starts each acquisition at
// once. Frames hold at most ScopeFrame::kMaxSamplesPerFrame samples; a frame is sent when it is
// full, when the acquisition ends, and when the host asks for what has come (Flush).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/comm.h"

namespace sim {

class DriveCore;

class Scope {
 public:
  // Arms the scope for `core`'s variables; "" or why the request is refused (then disarmed).
  std::string Start(const DriveCore& core, const axis::ScopeRequest& request);
  // Disarms; frames already queued stay, the acquisition in progress is dropped.
  void Stop() { armed_ = false; }
  bool armed() const { return armed_; }
  // At the end of a slow-loop period while a routine runs.
  void Sample(const DriveCore& core) {
    if (armed_ && --until_sample_ <= 0) Take(core);
  }
  // Sends the samples of the acquisition in progress that no frame holds yet.
  void Flush();
  // Moves the queued frames into `messages` (appended, oldest first).
  void Hand(std::vector<axis::UnsolicitedMessage>& messages);

 private:
  enum class State { kWaiting, kAcquiring };
  void Take(const DriveCore& core);
  void Begin(bool with_pretrigger);
  void Emit(bool last);

  static constexpr size_t kMaxQueued = 4096;  // frames; older ones are dropped beyond
  bool armed_ = false;
  axis::ScopeRequest request_;
  std::vector<int> slots_;
  std::vector<const double*> sources_;
  int trigger_channel_ = -1;  // -1: none
  int pretrigger_ = 0;        // samples before the trigger (at most points - 1)
  int until_sample_ = 1;
  State state_ = State::kWaiting;
  std::vector<float> now_;      // the sample just taken
  std::vector<float> history_;  // the last `pretrigger_points` samples, a ring
  size_t history_next_ = 0;
  int64_t history_count_ = 0;
  double previous_level_ = 0.0;
  bool has_previous_ = false;
  std::vector<float> pending_;  // samples of the acquisition not yet sent
  int pending_first_ = 0;       // index of the first of them
  int acquired_ = 0;            // samples of the acquisition so far
  uint16_t sequence_ = 0;
  std::vector<axis::UnsolicitedMessage> queue_;
};

}  // namespace sim
