#include "host/scope_frame.h"

#include <cstring>

namespace axis {

namespace {

uint16_t WordAt(const uint8_t* bytes, size_t word) {
  uint16_t w;
  std::memcpy(&w, bytes + 2 * word, sizeof w);
  return w;
}

}  // namespace

UnsolicitedMessage EncodeScopeFrame(const ScopeFrame& frame, uint16_t sequence) {
  const size_t payload = ScopeFrame::kHeaderWords + 2 * frame.values.size();
  UnsolicitedMessage m;
  m.reserve(3 + payload);
  m.push_back(static_cast<uint16_t>(payload));
  m.push_back(sequence);
  m.push_back(kScopeFrameKind);
  m.push_back(frame.flags);
  m.push_back(static_cast<uint16_t>(frame.channels));
  m.push_back(static_cast<uint16_t>(frame.first_sample));
  m.push_back(static_cast<uint16_t>(frame.samples()));
  for (float v : frame.values) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    m.push_back(static_cast<uint16_t>(bits & 0xFFFFu));
    m.push_back(static_cast<uint16_t>(bits >> 16));
  }
  return m;
}

bool DecodeScopeFrame(const uint8_t* bytes, size_t count, ScopeFrame& frame, std::string& error) {
  if (bytes == nullptr || count < 2 * ScopeFrame::kHeaderWords || count % 2 != 0) {
    error = "scope frame too short or of an odd length";
    return false;
  }
  frame.flags = WordAt(bytes, 0);
  frame.channels = WordAt(bytes, 1);
  frame.first_sample = WordAt(bytes, 2);
  const int samples = WordAt(bytes, 3);
  if (frame.channels < 1 || frame.channels > ScopeRequest::kMaxChannels) {
    error = "scope frame with " + std::to_string(frame.channels) + " channels";
    return false;
  }
  if (samples > ScopeFrame::kMaxSamplesPerFrame) {
    error = "scope frame with " + std::to_string(samples) + " samples";
    return false;
  }
  const size_t values = static_cast<size_t>(samples) * static_cast<size_t>(frame.channels);
  if (count != 2 * (ScopeFrame::kHeaderWords + 2 * values)) {
    error = "scope frame length does not match its sample count";
    return false;
  }
  frame.values.resize(values);
  for (size_t i = 0; i < values; ++i) {
    const uint32_t bits = WordAt(bytes, ScopeFrame::kHeaderWords + 2 * i) |
                          (uint32_t{WordAt(bytes, ScopeFrame::kHeaderWords + 2 * i + 1)} << 16);
    std::memcpy(&frame.values[i], &bits, sizeof(float));
  }
  return true;
}

}  // namespace axis
