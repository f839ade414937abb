#include "host/link/frame_codec.h"

#include <array>
#include <cstring>

namespace axis::link {

namespace {

constexpr std::array<uint16_t, 256> Crc16Table() {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i << 8;
    for (int bit = 0; bit < 8; ++bit) c = (c & 0x8000u) ? (c << 1) ^ 0x1021u : c << 1;
    table[i] = static_cast<uint16_t>(c);
  }
  return table;
}

constexpr std::array<uint32_t, 256> Crc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr auto kCrc16 = Crc16Table();
constexpr auto kCrc32 = Crc32Table();

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Hex(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[(value >> 4) & 15] + kDigits[value & 15];
}

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i)
    crc = static_cast<uint16_t>((crc << 8) ^ kCrc16[((crc >> 8) ^ data[i]) & 0xFF]);
  return crc;
}

uint32_t Crc32(const uint8_t* data, size_t count) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; ++i) crc = (crc >> 8) ^ kCrc32[(crc ^ data[i]) & 0xFF];
  return ~crc;
}

std::vector<uint8_t> EncodeFrame(const Frame& frame) {
  const size_t length = std::min(frame.payload.size(), kMaxPayload);
  std::vector<uint8_t> bytes(kHeaderBytes + length + kTrailerBytes);
  uint8_t* p = bytes.data();
  p[0] = kSync0;
  p[1] = kSync1;
  p[2] = frame.kind;
  p[3] = frame.flags;
  Put16(p + 4, frame.sequence);
  Put32(p + 6, static_cast<uint32_t>(length));
  Put16(p + 10, Crc16(p, 10));
  if (length > 0) std::memcpy(p + kHeaderBytes, frame.payload.data(), length);
  Put32(p + kHeaderBytes + length, Crc32(p + kHeaderBytes, length));
  return bytes;
}

std::optional<size_t> FrameLengthAt(const uint8_t* bytes, size_t count) {
  if (count < kHeaderBytes || bytes[0] != kSync0 || bytes[1] != kSync1) return std::nullopt;
  if (Crc16(bytes, 10) != Get16(bytes + 10)) return std::nullopt;
  const uint32_t length = Get32(bytes + 6);
  if (length > kMaxPayload) return std::nullopt;
  return kHeaderBytes + length + kTrailerBytes;
}

void FrameDecoder::Feed(const uint8_t* bytes, size_t count) {
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  if (count > 0) buffer_.insert(buffer_.end(), bytes, bytes + count);
}

void FrameDecoder::Clear() {
  buffer_.clear();
  start_ = 0;
}

FrameDecoder::Status FrameDecoder::Next(Frame& frame, std::string& error) {
  const uint8_t* p = buffer_.data() + start_;
  const size_t available = buffer_.size() - start_;
  if (available == 0) return Status::kNeedMore;
  // Hunt for a sync; a lone first sync byte at the end may be the start of the next frame.
  size_t skip = 0;
  while (skip < available &&
         !(p[skip] == kSync0 && (skip + 1 == available || p[skip + 1] == kSync1)))
    ++skip;
  if (skip > 0) {
    start_ += skip;
    error = "skipped " + std::to_string(skip) + " bytes that are no frame";
    return Status::kSkipped;
  }
  if (available < kHeaderBytes) return Status::kNeedMore;
  if (Crc16(p, 10) != Get16(p + 10)) {
    start_ += 1;
    error = "a frame header with a wrong check";
    return Status::kSkipped;
  }
  const uint32_t length = Get32(p + 6);
  if (length > kMaxPayload) {
    start_ += 1;
    error = "a frame header announcing " + std::to_string(length) + " bytes (at most " +
            std::to_string(kMaxPayload) + ")";
    return Status::kSkipped;
  }
  const size_t total = kHeaderBytes + length + kTrailerBytes;
  if (available < total) return Status::kNeedMore;
  frame.kind = p[2];
  frame.flags = p[3];
  frame.sequence = Get16(p + 4);
  frame.payload.clear();
  if (Crc32(p + kHeaderBytes, length) != Get32(p + kHeaderBytes + length)) {
    // Only the sync is dropped: a sound frame may start inside what looked like this one (the
    // rest of a frame cut short, then a whole one).
    start_ += 1;
    error = "frame " + std::to_string(frame.sequence) + " (kind " + Hex(frame.kind) +
            ") with a wrong payload check";
    return Status::kDamaged;
  }
  frame.payload.assign(p + kHeaderBytes, p + kHeaderBytes + length);
  start_ += total;
  return Status::kFrame;
}

}  // namespace axis::link
