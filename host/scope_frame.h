// Scope frames: how the drive's oscilloscope streams an acquisition to the host.
//
// A frame is an unsolicited message of kind axis::kScopeFrameKind (host/comm.h). Its payload, as
// 16-bit words in the host's byte order once the link has delivered it:
//
//   word 0  flags: kFirst (the frame opens an acquisition), kLast (it closes one), kFinal (the
//           scope has stopped after this acquisition: a single-shot acquisition is complete)
//   word 1  channels c, 1..4
//   word 2  index of the frame's first sample in its acquisition
//   word 3  samples n in the frame, 0..kMaxSamplesPerFrame
//   then    n samples of c values each, every value an IEEE-754 single in two words, the low
//           half first, in internal units
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/comm.h"

namespace axis {

struct ScopeFrame {
  enum Flags : uint16_t { kFirst = 1, kLast = 2, kFinal = 4 };
  uint16_t flags = 0;
  int channels = 0;
  int first_sample = 0;
  std::vector<float> values;  // samples x channels, sample by sample

  int samples() const { return channels > 0 ? static_cast<int>(values.size()) / channels : 0; }
  static constexpr int kHeaderWords = 4;
  static constexpr int kMaxSamplesPerFrame = 256;
};

// The whole message (header and payload) with sequence number `sequence`.
UnsolicitedMessage EncodeScopeFrame(const ScopeFrame& frame, uint16_t sequence);

// Reads a frame's payload (`bytes`, `count` of them, the message from byte 6 on). False with
// `error` set when it is not a well-formed frame; `frame` is then unspecified.
bool DecodeScopeFrame(const uint8_t* bytes, size_t count, ScopeFrame& frame, std::string& error);

}  // namespace axis
