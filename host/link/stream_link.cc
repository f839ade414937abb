#include "host/link/stream_link.h"

#include <algorithm>
#include <thread>

namespace axis::link {

namespace {

// How often the wait hook runs while an answer is awaited.
constexpr int kHookEveryMs = 10;
// A try ends at the latest after this many answer timeouts, however the bytes trickle in.
constexpr int kLongestTryInTimeouts = 40;
// Operations the wait hook may nest inside one another.
constexpr int kMostNested = 4;
// Unsolicited messages kept for the host at most; older ones go first.
constexpr size_t kMostUnsolicited = 8192;

const SteadyClock& Wall() {
  static const SteadyClock wall;
  return wall;
}

}  // namespace

std::unique_ptr<StreamLink> StreamLink::Open(const std::string& endpoint, LinkOptions options,
                                             std::string& error) {
  const std::optional<Endpoint> parsed = ParseEndpoint(endpoint, error);
  if (!parsed) return nullptr;
  return Connect([e = *parsed](std::string& why) { return OpenEndpoint(e, why); },
                 std::move(options), error);
}

std::unique_ptr<StreamLink> StreamLink::Connect(StreamOpener opener, LinkOptions options,
                                                std::string& error) {
  std::unique_ptr<StreamLink> link(new StreamLink(std::move(opener), std::move(options)));
  if (!link->Reconnect()) {
    error = link->last_error_;
    return nullptr;
  }
  return link;
}

StreamLink::StreamLink(StreamOpener opener, LinkOptions options)
    : opener_(std::move(opener)), options_(std::move(options)) {
  options_.answer_timeout_ms = std::max(1, options_.answer_timeout_ms);
  options_.retries = std::clamp(options_.retries, 0, 100);
}

bool StreamLink::Fail(std::string text) {
  last_error_ = std::move(text);
  return false;
}

bool StreamLink::Lost(const std::string& why) {
  stream_.reset();
  decoder_.Clear();
  return Fail("the link was lost (" + why + ")");
}

bool StreamLink::Reconnect() {
  std::string error;
  stream_ = opener_(error);
  if (!stream_) return Fail("the drive cannot be reached (" + error + ")");
  decoder_.Clear();
  if (!Handshake()) {
    stream_.reset();
    return false;
  }
  return true;
}

bool StreamLink::Handshake() {
  PayloadWriter w;
  w.I64(HostTime()).U16(kProtocolVersion);
  w.U32(options_.host_clock != nullptr ? kHostTime : 0).Text(options_.host_name);
  if (!Exchange(kConnect, std::move(w.bytes()))) {
    if (answer_failed_) last_error_ = "the drive refused the connection: " + last_error_;
    return false;
  }
  LinkIdentity identity;
  const bool ok = Parse(kConnect, [&](PayloadReader& r) {
    identity.version = r.U16();
    identity.capabilities = r.U32();
    identity.text = r.Text();
    identity.product_id = r.Text();
    identity.firmware_id = r.Text();
  });
  if (!ok) return false;
  if (identity.version != kProtocolVersion)
    return Fail("the drive speaks version " + std::to_string(identity.version) +
                " of the drive link, this host version " + std::to_string(kProtocolVersion));
  identity_ = std::move(identity);
  wall_at_connect_ns_ = Wall().NowNs();
  host_at_connect_ns_ = options_.host_clock ? options_.host_clock->NowNs() : 0;
  return true;
}

int64_t StreamLink::HostTime() const {
  return options_.host_clock != nullptr ? options_.host_clock->NowNs() : kNoHostTime;
}

void StreamLink::HoldBackToHostTime() {
  if (options_.host_clock == nullptr || follows_host_time()) return;
  const int64_t ahead_ns =
      (options_.host_clock->NowNs() - host_at_connect_ns_) - (Wall().NowNs() - wall_at_connect_ns_);
  if (ahead_ns > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(ahead_ns));
}

bool StreamLink::Call(uint8_t kind, std::vector<uint8_t> payload) {
  if (depth_ >= kMostNested) return Fail("the drive link is busy with other requests");
  // Only the outermost operation opens a lost link again: an inner one would start a session
  // under the feet of the one it interrupted.
  if (!stream_ && depth_ > 0) return Fail("the link was lost");
  ++depth_;
  bool ok = true;
  if (!stream_) {
    ++counters_.reconnects;
    ok = Reconnect();
  }
  if (ok) {
    HoldBackToHostTime();
    ok = Exchange(kind, std::move(payload));
  }
  --depth_;
  return ok;
}

bool StreamLink::Exchange(uint8_t kind, std::vector<uint8_t> payload) {
  answer_failed_ = false;
  Frame request{kind, 0, ++sequence_, std::move(payload)};
  const std::vector<uint8_t> bytes = EncodeFrame(request);
  ++counters_.requests;
  in_flight_.push_back(request.sequence);
  std::optional<Wait> outcome;
  for (int attempt = 0; attempt <= options_.retries && !outcome; ++attempt) {
    if (attempt > 0) ++counters_.retries;
    std::string error;
    if (!stream_) {
      outcome = Wait::kLost;  // lost while the wait hook ran an inner operation
    } else if (!stream_->Write(bytes.data(), bytes.size(), error)) {
      Lost(error);
      outcome = Wait::kLost;
    } else if (const Wait wait = AwaitAnswer(kind, request.sequence); wait != Wait::kAgain) {
      outcome = wait;
    }
  }
  in_flight_.pop_back();
  settled_.erase(request.sequence);
  if (outcome == Wait::kAnswered)
    return !answer_failed_ || Fail(std::string(answer_.begin(), answer_.end()));
  if (outcome == Wait::kLost) return false;
  return Fail(std::string("the drive does not answer (no answer to ") + KindName(kind) + " after " +
              std::to_string(options_.retries + 1) + " tries)");
}

std::optional<StreamLink::Wait> StreamLink::TakeFrames(uint8_t kind, uint16_t sequence) {
  const auto answer_kind = static_cast<uint8_t>(kind | kAnswer);
  Frame frame;
  std::string error;
  for (;;) {
    switch (decoder_.Next(frame, error)) {
      case FrameDecoder::Status::kNeedMore:
        return std::nullopt;
      case FrameDecoder::Status::kSkipped:
        ++counters_.skipped_bytes;
        break;
      case FrameDecoder::Status::kDamaged:
        ++counters_.damaged_frames;
        // The drive keeps its answer: ask again at once instead of waiting out the timeout.
        if (frame.kind == answer_kind && frame.sequence == sequence) return Wait::kAgain;
        break;
      case FrameDecoder::Status::kFrame:
        if (frame.kind == kUnsolicited) {
          PayloadReader r(frame.payload);
          Keep(ReadWords(r));
        } else if (frame.sequence != sequence) {
          // An outer operation's answer is kept for it; any other is a late answer to an earlier
          // try, already dealt with.
          if (std::find(in_flight_.begin(), in_flight_.end(), frame.sequence) != in_flight_.end())
            settled_[frame.sequence] = std::move(frame);
        } else if (frame.kind == kNak) {
          return Wait::kAgain;
        } else if (frame.kind == answer_kind) {
          answer_ = std::move(frame.payload);
          answer_failed_ = (frame.flags & kFailed) != 0;
          return Wait::kAnswered;
        }
        break;
    }
  }
}

StreamLink::Wait StreamLink::AwaitAnswer(uint8_t kind, uint16_t sequence) {
  const int64_t timeout_ns = int64_t{options_.answer_timeout_ms} * kNsPerMs;
  const int64_t start = Wall().NowNs();
  const int64_t latest = start + kLongestTryInTimeouts * timeout_ns;
  int64_t deadline = start + timeout_ns;
  int64_t next_hook = start + kHookEveryMs * kNsPerMs;
  uint8_t buffer[16384];
  for (;;) {
    if (const auto kept = settled_.find(sequence); kept != settled_.end()) {
      // Came while an inner operation waited.
      const Frame frame = std::move(kept->second);
      settled_.erase(kept);
      if (frame.kind == kNak) return Wait::kAgain;
      answer_ = frame.payload;
      answer_failed_ = (frame.flags & kFailed) != 0;
      return Wait::kAnswered;
    }
    if (const std::optional<Wait> settled = TakeFrames(kind, sequence)) return *settled;
    const int64_t now = Wall().NowNs();
    const int64_t end = std::min(deadline, latest);
    if (now >= end) return Wait::kAgain;
    int wait_ms = static_cast<int>((end - now + kNsPerMs - 1) / kNsPerMs);
    if (options_.wait_hook) {
      if (now >= next_hook) {
        options_.wait_hook();
        next_hook = Wall().NowNs() + kHookEveryMs * kNsPerMs;
        if (!stream_) return Wait::kLost;  // an inner operation found the link lost
        continue;
      }
      wait_ms = std::min(wait_ms, kHookEveryMs);
    }
    std::string error;
    const long n = stream_->Read(buffer, sizeof buffer, wait_ms, error);
    if (n < 0) {
      Lost(error);
      return Wait::kLost;
    }
    if (n > 0) {
      decoder_.Feed(buffer, static_cast<size_t>(n));
      deadline = Wall().NowNs() + timeout_ns;
    }
  }
}

void StreamLink::Keep(UnsolicitedMessage message) {
  if (message.size() >= 5 && message[2] == kFaultMessageKind)
    last_fault_ = static_cast<uint32_t>(message[3]) | (static_cast<uint32_t>(message[4]) << 16);
  if (unsolicited_.size() >= kMostUnsolicited) unsolicited_.pop_front();
  unsolicited_.push_back(std::move(message));
}

void StreamLink::TakeUnsolicited(std::vector<UnsolicitedMessage>& messages) {
  if (stream_ && depth_ == 0) {
    if (follows_host_time()) {
      // The drive runs on the host's time: it makes its messages when asked to catch up.
      PayloadWriter w;
      w.I64(HostTime());
      Call(kPoll, std::move(w.bytes()));
    } else {
      uint8_t buffer[16384];
      std::string error;
      long n = 0;
      while (stream_ && (n = stream_->Read(buffer, sizeof buffer, 0, error)) != 0) {
        if (n < 0) {
          Lost(error);
          break;
        }
        decoder_.Feed(buffer, static_cast<size_t>(n));
        TakeFrames(kPoll, static_cast<uint16_t>(sequence_ + 1));
      }
    }
  }
  for (UnsolicitedMessage& message : unsolicited_) messages.push_back(std::move(message));
  unsolicited_.clear();
}

template <typename Read>
bool StreamLink::Parse(uint8_t kind, Read read) {
  PayloadReader r(answer_);
  read(r);
  std::string error;
  if (r.Finish(error)) return true;
  return Fail(std::string("the drive answered ") + KindName(kind) + " with " + error);
}

namespace {
PayloadWriter Request(int64_t host_time) {
  PayloadWriter w;
  w.I64(host_time);
  return w;
}
}  // namespace

bool StreamLink::ReadVariable(std::string_view name, double& internal) {
  PayloadWriter w = Request(HostTime());
  w.Text(name);
  return Call(kReadVariable, std::move(w.bytes())) &&
         Parse(kReadVariable, [&](PayloadReader& r) { internal = r.F64(); });
}

bool StreamLink::WriteVariable(std::string_view name, double internal) {
  PayloadWriter w = Request(HostTime());
  w.Text(name).F64(internal);
  return Call(kWriteVariable, std::move(w.bytes())) && Parse(kWriteVariable, [](PayloadReader&) {});
}

bool StreamLink::ReadRegister(std::string_view name, double& internal) {
  PayloadWriter w = Request(HostTime());
  w.Text(name);
  return Call(kReadRegister, std::move(w.bytes())) &&
         Parse(kReadRegister, [&](PayloadReader& r) { internal = r.F64(); });
}

bool StreamLink::WriteRegister(std::string_view name, double internal) {
  PayloadWriter w = Request(HostTime());
  w.Text(name).F64(internal);
  return Call(kWriteRegister, std::move(w.bytes())) && Parse(kWriteRegister, [](PayloadReader&) {});
}

bool StreamLink::ExecuteString(std::string_view command) {
  PayloadWriter w = Request(HostTime());
  w.Text(command);
  return Call(kExecute, std::move(w.bytes())) && Parse(kExecute, [](PayloadReader&) {});
}

bool StreamLink::Launch(std::string_view label, const UserVariables& inputs,
                        const LogRequest* log) {
  PayloadWriter w = Request(HostTime());
  w.Text(label);
  WriteUserVariables(w, inputs);
  w.U8(log != nullptr ? 1 : 0);
  if (log != nullptr) WriteLogRequest(w, *log);
  return Call(kLaunch, std::move(w.bytes())) && Parse(kLaunch, [](PayloadReader&) {});
}

bool StreamLink::ReadUserVariable(std::string_view label, std::string_view name, double& value) {
  PayloadWriter w = Request(HostTime());
  w.Text(label).Text(name);
  return Call(kReadUserVariable, std::move(w.bytes())) &&
         Parse(kReadUserVariable, [&](PayloadReader& r) { value = r.F64(); });
}

bool StreamLink::WriteUserVariable(std::string_view label, std::string_view name, double value) {
  PayloadWriter w = Request(HostTime());
  w.Text(label).Text(name).F64(value);
  return Call(kWriteUserVariable, std::move(w.bytes())) &&
         Parse(kWriteUserVariable, [](PayloadReader&) {});
}

bool StreamLink::GetAxisOn(bool& on) {
  PayloadWriter w = Request(HostTime());
  return Call(kGetAxisOn, std::move(w.bytes())) &&
         Parse(kGetAxisOn, [&](PayloadReader& r) { on = r.U8() != 0; });
}

bool StreamLink::AxisOff() {
  PayloadWriter w = Request(HostTime());
  return Call(kAxisOff, std::move(w.bytes())) && Parse(kAxisOff, [](PayloadReader&) {});
}

bool StreamLink::UploadLog(std::vector<LogPoint>& points) {
  PayloadWriter w = Request(HostTime());
  std::vector<LogPoint> received;
  if (!Call(kUploadLog, std::move(w.bytes())) ||
      !Parse(kUploadLog, [&](PayloadReader& r) { received = ReadLog(r); }))
    return false;
  points = std::move(received);
  return true;
}

bool StreamLink::StartScope(const ScopeRequest& request) {
  PayloadWriter w = Request(HostTime());
  WriteScopeRequest(w, request);
  return Call(kStartScope, std::move(w.bytes())) && Parse(kStartScope, [](PayloadReader&) {});
}

bool StreamLink::StopScope() {
  PayloadWriter w = Request(HostTime());
  return Call(kStopScope, std::move(w.bytes())) && Parse(kStopScope, [](PayloadReader&) {});
}

}  // namespace axis::link
