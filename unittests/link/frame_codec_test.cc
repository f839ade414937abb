// Frames on the wire: the checks against their published check values, and the decoder finding
// its way through what a bad line delivers.
#include "host/link/frame_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/link/link_protocol.h"

namespace axis::link {
namespace {

const std::string kCheckText = "123456789";
const auto* kCheckBytes = reinterpret_cast<const uint8_t*>(kCheckText.data());

TEST(FrameChecks, MatchPublishedCheckValues) {
  EXPECT_EQ(Crc16(kCheckBytes, kCheckText.size()), 0x29B1);       // CRC-16/CCITT-FALSE
  EXPECT_EQ(Crc32(kCheckBytes, kCheckText.size()), 0xCBF43926u);  // CRC-32
  EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

TEST(FrameLayout, HeaderFieldsAreLittleEndianAndChecked) {
  const std::vector<uint8_t> bytes = EncodeFrame(Frame{0x07, 0x01, 0x1234, {0xAA, 0xBB, 0xCC}});
  const std::vector<uint8_t> head = {0xA5, 0x5A, 0x07, 0x01, 0x34, 0x12, 3, 0, 0, 0};
  ASSERT_EQ(bytes.size(), 12u + 3 + 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10), head);
  EXPECT_EQ(bytes[10] | (bytes[11] << 8), Crc16(head.data(), head.size()));
  EXPECT_EQ(FrameLengthAt(bytes.data(), bytes.size()), bytes.size());
}

Frame Sample(uint16_t sequence, size_t payload_bytes) {
  Frame f{kReadVariable, 0, sequence, {}};
  for (size_t i = 0; i < payload_bytes; ++i) f.payload.push_back(static_cast<uint8_t>(i * 7));
  return f;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<uint8_t> Flipped(std::vector<uint8_t> bytes, size_t at) {
  bytes.at(at) ^= 0x10;
  return bytes;
}

// What the decoder made of a stream, as one letter per result: F sound frame (with its sequence
// after it), D damaged, S skipped.
std::string Decode(const std::vector<uint8_t>& stream, size_t chunk) {
  FrameDecoder decoder;
  std::string seen;
  Frame frame;
  std::string error;
  for (size_t at = 0; at < stream.size(); at += chunk) {
    decoder.Feed(stream.data() + at, std::min(chunk, stream.size() - at));
    for (FrameDecoder::Status s;
         (s = decoder.Next(frame, error)) != FrameDecoder::Status::kNeedMore;) {
      if (s == FrameDecoder::Status::kFrame) seen += "F" + std::to_string(frame.sequence);
      if (s == FrameDecoder::Status::kDamaged) seen += "D" + std::to_string(frame.sequence);
      if (s == FrameDecoder::Status::kSkipped) seen += "S";
      EXPECT_TRUE(s == FrameDecoder::Status::kFrame || !error.empty());
    }
  }
  return seen;
}

TEST(FrameDecoder, FindsSoundFramesThroughWhatABadLineDelivers) {
  const auto a = EncodeFrame(Sample(1, 20)), b = EncodeFrame(Sample(2, 0));
  const std::vector<uint8_t> garbage = {0x00, 0xA5, 0x13, 0x5A, 0xFF};
  const std::vector<uint8_t> cut(a.begin(), a.begin() + 15);
  struct Row {
    const char* what;
    std::vector<uint8_t> stream;
    std::string expected;
  } rows[] = {
      {"two frames", Cat({a, b}), "F1F2"},
      {"garbage first", Cat({garbage, a}), "SF1"},
      {"payload bit flipped", Cat({Flipped(a, 14), b}), "D1SF2"},
      {"payload check flipped", Cat({Flipped(a, a.size() - 1), b}), "D1SF2"},
      {"length flipped", Cat({Flipped(a, 6), b}), "SSF2"},
      {"sequence flipped", Cat({Flipped(a, 4), b}), "SSF2"},
      {"cut short, then whole", Cat({cut, a, b}), "D1SF1F2"},
      {"empty payload", b, "F2"},
  };
  for (const Row& row : rows) {
    for (size_t chunk : {size_t{1}, size_t{7}, row.stream.size()}) {
      const std::string seen = Decode(row.stream, chunk);
      // A cut frame may swallow a whole one that follows when they arrive together; the skip
      // count may differ with the chunking, never the frames found.
      std::string frames;
      for (char c : seen)
        if (c != 'S') frames += c;
      std::string expected;
      for (char c : row.expected)
        if (c != 'S') expected += c;
      EXPECT_EQ(frames, expected) << row.what << ", fed " << chunk << " bytes at a time";
    }
  }
}

TEST(FrameDecoder, RefusesAnnouncedLengthsBeyondTheLimit) {
  std::vector<uint8_t> header = {0xA5, 0x5A, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F};
  const uint16_t check = Crc16(header.data(), header.size());
  header.push_back(static_cast<uint8_t>(check));
  header.push_back(static_cast<uint8_t>(check >> 8));
  EXPECT_FALSE(FrameLengthAt(header.data(), header.size()));
  FrameDecoder decoder;
  decoder.Feed(header.data(), header.size());
  Frame frame;
  std::string error;
  EXPECT_EQ(decoder.Next(frame, error), FrameDecoder::Status::kSkipped);
  EXPECT_NE(error.find("2147483647 bytes"), std::string::npos) << error;
}

TEST(PayloadReader, ShortOrLongPayloadsAreErrorsNotCrashes) {
  struct Row {
    std::vector<uint8_t> bytes;
    bool whole;
  } rows[] = {
      {{3, 0, 'a', 'b', 'c'}, true},
      {{3, 0, 'a', 'b'}, false},          // text longer than the payload
      {{3, 0, 'a', 'b', 'c', 9}, false},  // a byte too many
      {{}, false},
  };
  for (const Row& row : rows) {
    PayloadReader r(row.bytes);
    r.Text();
    std::string error;
    EXPECT_EQ(r.Finish(error), row.whole);
    EXPECT_EQ(error.empty(), row.whole);
  }
  // A log announcing more points than it carries, or points without even their time, is refused
  // before anything is allocated.
  for (const uint16_t width : {0xFFFF, 0}) {
    PayloadWriter w;
    w.U32(0xFFFFFFFFu).U16(width);
    PayloadReader r(w.bytes());
    EXPECT_TRUE(ReadLog(r).empty());
    EXPECT_FALSE(r.ok());
  }
}

}  // namespace
}  // namespace axis::link
