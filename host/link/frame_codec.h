// Frames of the drive link: how requests, answers and unsolicited messages cross a byte stream.
//
// A frame, every multi-byte field little-endian (docs/drive-link.md):
//
//   0  2  sync 0xA5 0x5A
//   2  1  kind            what the frame carries (link_protocol.h)
//   3  1  flags
//   4  2  sequence        pairs an answer with its request
//   6  4  payload length  0..kMaxPayload
//   10 2  header check    CRC-16/CCITT-FALSE of bytes 0..9
//   12 n  payload
//   .. 4  payload check   CRC-32 (IEEE 802.3) of the payload
//
// The header has a check of its own so that a damaged length is caught before the receiver waits
// for bytes that will never come; the receiver then hunts for the next sync.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace axis::link {

uint16_t Crc16(const uint8_t* data, size_t count);  // CRC-16/CCITT-FALSE
uint32_t Crc32(const uint8_t* data, size_t count);  // CRC-32 (IEEE 802.3, zlib's)

constexpr uint8_t kSync0 = 0xA5;
constexpr uint8_t kSync1 = 0x5A;
constexpr size_t kHeaderBytes = 12;
constexpr size_t kTrailerBytes = 4;
constexpr size_t kMaxPayload = size_t{1} << 20;

struct Frame {
  uint8_t kind = 0;
  uint8_t flags = 0;
  uint16_t sequence = 0;
  std::vector<uint8_t> payload;
};

// The frame's bytes (the payload must not exceed kMaxPayload; a longer one is cut to it).
std::vector<uint8_t> EncodeFrame(const Frame& frame);

// The whole length of the frame that starts at `bytes` when its header is complete and sound;
// nullopt when it is not (yet) a frame header.
std::optional<size_t> FrameLengthAt(const uint8_t* bytes, size_t count);

// Splits a byte stream into frames. Bytes that are no frame are skipped and reported, so that the
// receiver finds the next frame after garbage, a damaged frame or a frame cut short.
class FrameDecoder {
 public:
  enum class Status {
    kNeedMore,  // no complete frame yet
    kFrame,     // `frame` holds a sound frame
    kDamaged,   // a frame with a sound header and a wrong payload check: `frame` holds its
                // kind, flags and sequence (no payload), `error` says what was wrong
    kSkipped,   // bytes that were no frame were dropped; `error` says how many
  };

  void Feed(const uint8_t* bytes, size_t count);
  Status Next(Frame& frame, std::string& error);
  // Bytes held that are not yet a frame.
  size_t Buffered() const { return buffer_.size() - start_; }
  void Clear();

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
};

}  // namespace axis::link
