// The drive's end met by a host that speaks nonsense: every request gets an answer that says what
// was wrong, a damaged one a NAK, and nothing of a malformed request reaches the drive.
#include "host/link/drive_server.h"

#include <gtest/gtest.h>

#include "host/link/link_protocol.h"
#include "link/served_drive.h"
#include "support/scripted_drive.h"

namespace axis::testing {
namespace {

using namespace axis::link;

class RawHost : public ::testing::Test {
 protected:
  void SetUp() override {
    served_ = std::make_unique<ServedDrive>(
        [this](const Clock&, std::string&) -> std::unique_ptr<CMC_Comm> {
          auto drive = std::make_unique<ScriptedDrive>();
          drive_ = drive.get();
          return drive;
        },
        ServedDrive::Line::kTcp);
    std::string error;
    const std::optional<Endpoint> endpoint = ParseEndpoint(served_->endpoint(), error);
    stream_ = OpenEndpoint(*endpoint, error);
    ASSERT_NE(stream_, nullptr) << error;
  }

  // Sends the bytes, returns the first frame that comes back.
  Frame Exchange(const std::vector<uint8_t>& bytes) {
    std::string error;
    EXPECT_TRUE(stream_->Write(bytes.data(), bytes.size(), error)) << error;
    FrameDecoder decoder;
    Frame frame;
    uint8_t buffer[4096];
    for (int tries = 0; tries < 100; ++tries) {
      if (decoder.Next(frame, error) == FrameDecoder::Status::kFrame) return frame;
      const long n = stream_->Read(buffer, sizeof buffer, 20, error);
      if (n > 0) decoder.Feed(buffer, static_cast<size_t>(n));
    }
    ADD_FAILURE() << "no answer";
    return {};
  }
  Frame Request(uint8_t kind, uint16_t sequence, PayloadWriter& w) {
    return Exchange(EncodeFrame(Frame{kind, 0, sequence, w.bytes()}));
  }
  static std::string Text(const Frame& f) {
    return std::string(f.payload.begin(), f.payload.end());
  }

  std::unique_ptr<ServedDrive> served_;
  std::unique_ptr<ByteStream> stream_;
  ScriptedDrive* drive_ = nullptr;
};

TEST_F(RawHost, NonsenseIsAnsweredWithWhatWasWrongAndNeverReachesTheDrive) {
  PayloadWriter early;
  early.I64(0).Text("APOS");
  EXPECT_EQ(Text(Request(kReadVariable, 1, early)), "no session: the host must connect first");

  PayloadWriter old_version;
  old_version.I64(0).U16(99).U32(kHostTime).Text("test");
  const Frame refused = Request(kConnect, 2, old_version);
  EXPECT_EQ(refused.flags, kFailed);
  EXPECT_NE(Text(refused).find("version 99"), std::string::npos) << Text(refused);

  PayloadWriter connect;
  connect.I64(0).U16(kProtocolVersion).U32(kHostTime).Text("test");
  const Frame connected = Request(kConnect, 3, connect);
  ASSERT_EQ(connected.flags, 0) << Text(connected);
  EXPECT_EQ(connected.kind, kConnect | kAnswer);

  struct Row {
    uint8_t kind;
    std::vector<uint8_t> payload;
    const char* text;
  };
  PayloadWriter cut, long_write, jump;
  cut.I64(0).U16(40).U8('M');  // a name longer than the payload
  long_write.I64(0).Text("KPI").F64(1.0).U8(0);
  jump.I64(int64_t{7200} * kNsPerSecond);
  const Row rows[] = {
      {0x3F, {}, "unknown request kind 0x3F"},
      {kReadVariable, cut.bytes(), "malformed ReadVariable request: a message shorter"},
      {kWriteRegister, long_write.bytes(), "malformed WriteRegister request: a message with 1"},
      {kGetAxisOn, jump.bytes(), "the host's time jumps 7200 s ahead"},
  };
  uint16_t sequence = 10;
  for (const Row& row : rows) {
    const Frame answer = Exchange(EncodeFrame(Frame{row.kind, 0, ++sequence, row.payload}));
    EXPECT_EQ(answer.flags, kFailed) << row.text;
    EXPECT_EQ(answer.sequence, sequence);
    EXPECT_EQ(Text(answer).rfind(row.text, 0), 0u) << Text(answer);
  }
  EXPECT_EQ(drive_->calls(), 0);

  std::vector<uint8_t> damaged = EncodeFrame(Frame{kAxisOff, 0, 77, std::vector<uint8_t>(8, 0)});
  damaged[14] ^= 1;
  const Frame nak = Exchange(damaged);
  EXPECT_EQ(nak.kind, kNak);
  EXPECT_EQ(nak.sequence, 77);
  EXPECT_EQ(drive_->axis_off_calls, 0);
}

}  // namespace
}  // namespace axis::testing
