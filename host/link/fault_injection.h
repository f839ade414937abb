// Fault injection for the drive link: a stream that spoils the frames crossing it, to show how the
// link meets a bad line (tests, and `axiscore simulate --faults`).
//
// It sits on one end of a connection and treats the frames going either way alike: each is
// passed, dropped, damaged (one bit flipped), cut short or held back, at random with the plan's
// probabilities from a seeded generator; after a number of frames or seconds it can cut the
// connection (the other end sees it close) or stall (everything is swallowed from then on: a
// drive that stopped answering).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/link/byte_stream.h"

namespace axis::link {

struct FaultPlan {
  double drop = 0.0;  // probability per frame
  double corrupt = 0.0;
  double truncate = 0.0;
  double delay = 0.0;
  int delay_ms = 50;
  int64_t cut_after_frames = -1;  // -1: never
  double cut_after_s = -1.0;      // below 0: never
  int64_t stall_after_frames = -1;
  uint64_t seed = 1;
};

// "drop=0.01,corrupt=0.01,truncate=0.001,delay=0.01,delay-ms=50,cut-after=200,cut-after-s=3,
// stall-after=100,seed=7" (any of them, in any order); nullopt with `error` set.
std::optional<FaultPlan> ParseFaultPlan(std::string_view text, std::string& error);

struct FaultCounters {
  int64_t frames = 0;
  int64_t dropped = 0;
  int64_t corrupted = 0;
  int64_t truncated = 0;
  int64_t delayed = 0;
};

class FaultyStream final : public ByteStream {
 public:
  FaultyStream(std::unique_ptr<ByteStream> inner, const FaultPlan& plan);
  bool Write(const uint8_t* bytes, size_t count, std::string& error) override;
  long Read(uint8_t* bytes, size_t capacity, int timeout_ms, std::string& error) override;
  const FaultCounters& counters() const { return counters_; }

 private:
  // The frame as it goes on (possibly nothing), after the plan had its way with it.
  std::vector<uint8_t> Spoil(const uint8_t* frame, size_t count);
  bool CutNow();
  double Uniform();
  void SplitIncoming();

  std::unique_ptr<ByteStream> inner_;
  FaultPlan plan_;
  uint64_t state_;
  int64_t start_ns_;
  FaultCounters counters_;
  std::vector<uint8_t> incoming_;  // read, not yet whole frames
  std::vector<uint8_t> passed_;    // read and passed on, not yet taken by the reader
};

}  // namespace axis::link
