// The drive reached over a byte stream: the host's end of the drive link (docs/drive-link.md).
//
// Every operation is one request and its answer. An answer that does not come within the answer
// timeout, or comes damaged, is asked for again with the same sequence number, a bounded number of
// times; the drive answers a repeated request from its memory of the last one, so a write or a
// launch never runs twice. When the stream ends the link is lost; the next operation opens it
// again (the drive then starts a new session).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/comm.h"
#include "host/link/byte_stream.h"
#include "host/link/frame_codec.h"
#include "host/link/link_protocol.h"

namespace axis::link {

struct LinkOptions {
  // No byte of the answer for this long counts the try as lost.
  int answer_timeout_ms = 500;
  int retries = 3;  // tries after the first
  // The host's time, sent with every request. A drive that can follow it (the simulated drive)
  // then runs on it, which makes a headless run over the link repeat exactly; a drive that cannot
  // runs in real time, and the link holds each request back until the wall clock has caught up
  // with the host's time, so that the host's clock never runs ahead of the drive.
  const Clock* host_clock = nullptr;
  // Called every few milliseconds while an answer is awaited (the desktop's message pump). An
  // operation started from inside it (a test's timer) goes out at once and is answered after the
  // one in flight; the drive answers them in turn.
  std::function<void()> wait_hook;
  std::string host_name = "axiscore";
};

// What the drive said of itself at connect.
struct LinkIdentity {
  uint16_t version = 0;
  uint32_t capabilities = 0;  // Capability bits (link_protocol.h)
  std::string text;           // "Simulated drive (demo linear axis)"
  std::string product_id;
  std::string firmware_id;
};

// What went over the link, for tests and the benchmark.
struct LinkCounters {
  int64_t requests = 0;
  int64_t retries = 0;
  int64_t damaged_frames = 0;  // answers that arrived with a wrong check
  int64_t skipped_bytes = 0;   // bytes that were no frame
  int64_t reconnects = 0;
};

using StreamOpener = std::function<std::unique_ptr<ByteStream>(std::string& error)>;

class StreamLink final : public CMC_Comm {
 public:
  // Opens "tcp:HOST:PORT" or "serial:PATH[@BAUD]" and connects; null with `error` set.
  static std::unique_ptr<StreamLink> Open(const std::string& endpoint, LinkOptions options,
                                          std::string& error);
  // Connects over the streams `opener` opens (once now, again after the link was lost).
  static std::unique_ptr<StreamLink> Connect(StreamOpener opener, LinkOptions options,
                                             std::string& error);
  StreamLink(const StreamLink&) = delete;
  StreamLink& operator=(const StreamLink&) = delete;

  bool ReadVariable(std::string_view name, double& internal) override;
  bool WriteVariable(std::string_view name, double internal) override;
  bool ReadRegister(std::string_view name, double& internal) override;
  bool WriteRegister(std::string_view name, double internal) override;
  bool ExecuteString(std::string_view command) override;
  bool Launch(std::string_view label, const UserVariables& inputs, const LogRequest* log) override;
  bool ReadUserVariable(std::string_view label, std::string_view name, double& value) override;
  bool WriteUserVariable(std::string_view label, std::string_view name, double value) override;
  bool GetAxisOn(bool& on) override;
  bool AxisOff() override;
  bool UploadLog(std::vector<LogPoint>& points) override;
  std::string GetLastErrorText() const override { return last_error_; }
  bool StartScope(const ScopeRequest& request) override;
  bool StopScope() override;

  const LinkIdentity& identity() const { return identity_; }
  bool follows_host_time() const { return (identity_.capabilities & kHostTime) != 0; }
  const LinkCounters& counters() const { return counters_; }
  // The fault register of the last fault message the drive sent (0: none yet).
  uint32_t last_fault() const { return last_fault_; }

 protected:
  void TakeUnsolicited(std::vector<UnsolicitedMessage>& messages) override;

 private:
  enum class Wait { kAnswered, kAgain, kLost };

  StreamLink(StreamOpener opener, LinkOptions options);
  bool Reconnect();
  bool Handshake();
  // Sends the request and waits for its answer (in answer_); false with the error text set.
  bool Call(uint8_t kind, std::vector<uint8_t> payload);
  bool Exchange(uint8_t kind, std::vector<uint8_t> payload);
  Wait AwaitAnswer(uint8_t kind, uint16_t sequence);
  // Takes the frames decoded so far; kAnswered/kAgain when one settles the request in flight.
  std::optional<Wait> TakeFrames(uint8_t kind, uint16_t sequence);
  void Keep(UnsolicitedMessage message);
  void HoldBackToHostTime();
  int64_t HostTime() const;
  bool Lost(const std::string& why);
  bool Fail(std::string text);
  // Reads the answer payload with `read`; a malformed answer fails with a text naming `kind`.
  template <typename Read>
  bool Parse(uint8_t kind, Read read);

  StreamOpener opener_;
  LinkOptions options_;
  std::unique_ptr<ByteStream> stream_;
  FrameDecoder decoder_;
  uint16_t sequence_ = 0;
  std::vector<uint8_t> answer_;
  bool answer_failed_ = false;
  int depth_ = 0;                      // operations in flight, nested by the wait hook
  std::vector<uint16_t> in_flight_;    // their sequence numbers, outermost first
  std::map<uint16_t, Frame> settled_;  // answers (or NAKs) for outer operations, kept for them
  LinkIdentity identity_;
  LinkCounters counters_;
  std::deque<UnsolicitedMessage> unsolicited_;
  uint32_t last_fault_ = 0;
  int64_t wall_at_connect_ns_ = 0;
  int64_t host_at_connect_ns_ = 0;
  std::string last_error_;
};

}  // namespace axis::link
