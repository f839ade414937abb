#include "host/link/drive_server.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "host/link/link_protocol.h"
#include "host/numeric.h"

namespace axis::link {

namespace {

const SteadyClock& Wall() {
  static const SteadyClock wall;
  return wall;
}

// Reaches the drive's queue of unsolicited messages, which only the link itself may empty.
class UnsolicitedTap : public CMC_Comm {
 public:
  static void Take(CMC_Comm& drive, std::vector<UnsolicitedMessage>& messages) {
    (drive.*&UnsolicitedTap::TakeUnsolicited)(messages);
  }
};

// Answers kept for requests that come again: the host has at most this many in flight (one, and
// those its message pump starts while it waits).
constexpr size_t kAnswersKept = 8;

// The most a drive on the host's time is moved on by one request: a host time far ahead (a
// host's fault) would keep the drive computing for hours.
constexpr int64_t kLongestHostStepNs = 3600 * kNsPerSecond;

// How often a drive on the wall clock is asked for its fault register.
constexpr int64_t kFaultWatchNs = 20 * kNsPerMs;

enum class Outcome { kDone, kDriveFailed, kMalformed };

// One request kind: reads its arguments, checks the payload was read whole, then asks the drive.
using Handler = Outcome (*)(PayloadReader& r, CMC_Comm& drive, PayloadWriter& w);

// Nothing is asked of the drive before the payload was read whole.
#define AXIS_READ_WHOLE(r)                               \
  do {                                                   \
    std::string unused;                                  \
    if (!(r).Finish(unused)) return Outcome::kMalformed; \
  } while (false)

Outcome Result(bool ok) { return ok ? Outcome::kDone : Outcome::kDriveFailed; }

struct HandlerRow {
  uint8_t kind;
  Handler handler;
};

const HandlerRow kHandlers[] = {
    {kReadVariable,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter& w) {
       const std::string name = r.Text();
       AXIS_READ_WHOLE(r);
       double v = 0.0;
       const bool ok = d.ReadVariable(name, v);
       w.F64(v);
       return Result(ok);
     }},
    {kWriteVariable,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter&) {
       const std::string name = r.Text();
       const double v = r.F64();
       AXIS_READ_WHOLE(r);
       return Result(d.WriteVariable(name, v));
     }},
    {kReadRegister,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter& w) {
       const std::string name = r.Text();
       AXIS_READ_WHOLE(r);
       double v = 0.0;
       const bool ok = d.ReadRegister(name, v);
       w.F64(v);
       return Result(ok);
     }},
    {kWriteRegister,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter&) {
       const std::string name = r.Text();
       const double v = r.F64();
       AXIS_READ_WHOLE(r);
       return Result(d.WriteRegister(name, v));
     }},
    {kExecute,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter&) {
       const std::string command = r.Text();
       AXIS_READ_WHOLE(r);
       return Result(d.ExecuteString(command));
     }},
    {kLaunch,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter&) {
       const std::string label = r.Text();
       const UserVariables inputs = ReadUserVariables(r);
       const bool logged = r.U8() != 0;
       const LogRequest log = logged ? ReadLogRequest(r) : LogRequest{};
       AXIS_READ_WHOLE(r);
       return Result(d.Launch(label, inputs, logged ? &log : nullptr));
     }},
    {kReadUserVariable,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter& w) {
       const std::string label = r.Text();
       const std::string name = r.Text();
       AXIS_READ_WHOLE(r);
       double v = 0.0;
       const bool ok = d.ReadUserVariable(label, name, v);
       w.F64(v);
       return Result(ok);
     }},
    {kWriteUserVariable,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter&) {
       const std::string label = r.Text();
       const std::string name = r.Text();
       const double v = r.F64();
       AXIS_READ_WHOLE(r);
       return Result(d.WriteUserVariable(label, name, v));
     }},
    {kGetAxisOn,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter& w) {
       AXIS_READ_WHOLE(r);
       bool on = false;
       const bool ok = d.GetAxisOn(on);
       w.U8(on ? 1 : 0);
       return Result(ok);
     }},
    {kAxisOff,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter&) {
       AXIS_READ_WHOLE(r);
       return Result(d.AxisOff());
     }},
    {kUploadLog,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter& w) {
       AXIS_READ_WHOLE(r);
       std::vector<LogPoint> points;
       if (!d.UploadLog(points)) return Outcome::kDriveFailed;
       for (const LogPoint& p : points)
         if (p.size() != points.front().size() || p.size() > 0xFFFF) return Outcome::kMalformed;
       WriteLog(w, points);
       return Outcome::kDone;
     }},
    {kStartScope,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter&) {
       const ScopeRequest request = ReadScopeRequest(r);
       AXIS_READ_WHOLE(r);
       return Result(d.StartScope(request));
     }},
    {kStopScope,
     [](PayloadReader& r, CMC_Comm& d, PayloadWriter&) {
       AXIS_READ_WHOLE(r);
       return Result(d.StopScope());
     }},
    {kPoll,
     [](PayloadReader& r, CMC_Comm&, PayloadWriter&) {
       AXIS_READ_WHOLE(r);
       return Outcome::kDone;
     }},
};

#undef AXIS_READ_WHOLE

Frame Failed(const Frame& request, const std::string& text) {
  Frame answer{static_cast<uint8_t>(request.kind | kAnswer), kFailed, request.sequence, {}};
  answer.payload.assign(text.begin(), text.end());
  return answer;
}

std::string Hex(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[(value >> 4) & 15] + kDigits[value & 15];
}

}  // namespace

struct DriveServer::Session {
  VirtualClock host_clock;  // the host's time, when the drive follows it
  bool on_host_time = false;
  std::unique_ptr<CMC_Comm> drive;  // after the clock: it follows the clock
  // The last requests answered, newest last, with their answers' bytes.
  struct Answered {
    uint16_t sequence;
    uint8_t kind;
    uint32_t check;
    std::vector<uint8_t> answer;
  };
  std::deque<Answered> answered;
  uint16_t unsolicited_sequence = 0;
  double fault_register = 0.0;
  int64_t next_fault_watch_ns = 0;
};

DriveServer::DriveServer(SessionDriveFactory make_drive, ServerOptions options)
    : make_drive_(std::move(make_drive)), options_(std::move(options)) {}

DriveServer::~DriveServer() = default;

void DriveServer::EndSession() { session_.reset(); }

Frame DriveServer::Connect(const Frame& request) {
  PayloadReader r(request.payload);
  const int64_t host_time = r.I64();
  const uint16_t version = r.U16();
  const uint32_t wanted = r.U32();
  r.Text();  // the host's name
  std::string error;
  if (!r.Finish(error)) return Failed(request, "malformed connect request: " + error);
  if (version != kProtocolVersion)
    return Failed(request, "the host speaks version " + std::to_string(version) +
                               " of the drive link, this drive version " +
                               std::to_string(kProtocolVersion));
  session_.reset();
  auto session = std::make_unique<Session>();
  session->on_host_time = options_.allow_host_time && (wanted & kHostTime) && host_time >= 0;
  if (session->on_host_time) session->host_clock.Advance(host_time);
  session->drive = make_drive_(
      session->on_host_time ? static_cast<const Clock&>(session->host_clock) : Wall(), error);
  if (!session->drive) return Failed(request, "the drive cannot start: " + error);
  const bool watching = options_.watch_faults && !session->on_host_time;
  PayloadWriter w;
  w.U16(kProtocolVersion);
  w.U32((options_.capabilities & ~(kHostTime | kFaultMessages)) |
        (session->on_host_time ? kHostTime : 0) | (watching ? kFaultMessages : 0));
  w.Text(options_.identity).Text(options_.product_id).Text(options_.firmware_id);
  session_ = std::move(session);
  return Frame{static_cast<uint8_t>(kConnect | kAnswer), 0, request.sequence, std::move(w.bytes())};
}

Frame DriveServer::Answer(const Frame& request) {
  if (request.kind == kConnect) return Connect(request);
  if (!session_) return Failed(request, "no session: the host must connect first");
  const HandlerRow* row = nullptr;
  for (const HandlerRow& candidate : kHandlers)
    if (candidate.kind == request.kind) row = &candidate;
  if (row == nullptr) return Failed(request, "unknown request kind " + Hex(request.kind));
  PayloadReader r(request.payload);
  const int64_t host_time = r.I64();
  const int64_t ahead_ns = host_time - std::min(host_time, session_->host_clock.NowNs());
  if (session_->on_host_time && ahead_ns > kLongestHostStepNs)
    return Failed(request, "the host's time jumps " + std::to_string(ahead_ns / kNsPerSecond) +
                               " s ahead (at most " +
                               std::to_string(kLongestHostStepNs / kNsPerSecond) + " s)");
  if (session_->on_host_time && r.ok()) session_->host_clock.Advance(ahead_ns);
  PayloadWriter w;
  switch (row->handler(r, *session_->drive, w)) {
    case Outcome::kDone:
      if (w.bytes().size() > kMaxPayload)
        return Failed(request, std::string("the answer to ") + KindName(request.kind) + " (" +
                                   std::to_string(w.bytes().size()) +
                                   " bytes) is longer than a frame carries");
      return Frame{static_cast<uint8_t>(request.kind | kAnswer), 0, request.sequence,
                   std::move(w.bytes())};
    case Outcome::kDriveFailed:
      return Failed(request, session_->drive->GetLastErrorText());
    case Outcome::kMalformed:
      break;
  }
  std::string error;
  if (r.Finish(error)) error = "an answer the link cannot carry";
  return Failed(request, std::string("malformed ") + KindName(request.kind) + " request: " + error);
}

bool DriveServer::Send(ByteStream& stream, const std::vector<uint8_t>& bytes, std::string& error) {
  return stream.Write(bytes.data(), bytes.size(), error);
}

bool DriveServer::SendUnsolicited(ByteStream& stream, std::string& error) {
  if (!session_) return true;
  std::vector<UnsolicitedMessage> messages;
  UnsolicitedTap::Take(*session_->drive, messages);
  for (const UnsolicitedMessage& message : messages) {
    PayloadWriter w;
    WriteWords(w, message);
    const Frame frame{kUnsolicited, 0, session_->unsolicited_sequence++, std::move(w.bytes())};
    if (!Send(stream, EncodeFrame(frame), error)) return false;
  }
  return true;
}

bool DriveServer::WatchFaults(ByteStream& stream, std::string& error) {
  if (!session_ || session_->on_host_time || !options_.watch_faults) return true;
  const int64_t now = Wall().NowNs();
  if (now < session_->next_fault_watch_ns) return true;
  session_->next_fault_watch_ns = now + kFaultWatchNs;
  double mer = 0.0;
  if (!session_->drive->ReadVariable("MER", mer) || mer == session_->fault_register) return true;
  session_->fault_register = mer;
  const auto bits = static_cast<uint32_t>(TruncToInt64(mer));
  UnsolicitedMessage message = {2, session_->unsolicited_sequence, kFaultMessageKind,
                                static_cast<uint16_t>(bits & 0xFFFF),
                                static_cast<uint16_t>(bits >> 16)};
  PayloadWriter w;
  WriteWords(w, message);
  return Send(
      stream,
      EncodeFrame(Frame{kUnsolicited, 0, session_->unsolicited_sequence++, std::move(w.bytes())}),
      error);
}

bool DriveServer::Handle(const Frame& request, ByteStream& stream, std::string& error) {
  const uint32_t check = Crc32(request.payload.data(), request.payload.size());
  if (session_) {
    for (const Session::Answered& a : session_->answered)
      if (a.sequence == request.sequence && a.kind == request.kind && a.check == check)
        return Send(stream, a.answer, error);
  }
  const std::vector<uint8_t> answer = EncodeFrame(Answer(request));
  if (session_) {
    if (session_->answered.size() >= kAnswersKept) session_->answered.pop_front();
    session_->answered.push_back({request.sequence, request.kind, check, answer});
  }
  return SendUnsolicited(stream, error) && Send(stream, answer, error);
}

std::string DriveServer::Serve(ByteStream& stream, const std::atomic<bool>& stop) {
  FrameDecoder decoder;
  Frame frame;
  std::string error;
  uint8_t buffer[16384];
  while (!stop.load()) {
    const long n = stream.Read(buffer, sizeof buffer, options_.idle_poll_ms, error);
    if (n < 0) return error;
    decoder.Feed(buffer, static_cast<size_t>(n));
    for (FrameDecoder::Status status;
         (status = decoder.Next(frame, error)) != FrameDecoder::Status::kNeedMore;) {
      const bool request = frame.kind < kUnsolicited;
      if (status == FrameDecoder::Status::kFrame && request) {
        if (!Handle(frame, stream, error)) return error;
      } else if (status == FrameDecoder::Status::kDamaged && request) {
        // Tell the host at once, so that it sends the request again without waiting.
        if (!Send(stream, EncodeFrame(Frame{kNak, 0, frame.sequence, {}}), error)) return error;
      }
    }
    if (session_ && !session_->on_host_time) {
      if (!WatchFaults(stream, error) || !SendUnsolicited(stream, error)) return error;
    }
  }
  return "";
}

std::string DriveServer::ServeClients(TcpListener& listener, const std::atomic<bool>& stop,
                                      const std::function<void(const std::string&)>& note,
                                      const StreamWrapper& wrap) {
  while (!stop.load()) {
    std::string error;
    std::unique_ptr<ByteStream> client = listener.Accept(100, error);
    if (!client) {
      if (!error.empty()) return error;
      continue;
    }
    if (wrap) client = wrap(std::move(client));
    note("a host connected");
    const std::string why = Serve(*client, stop);
    EndSession();
    note(why.empty() ? "stopped" : "the host left (" + why + ")");
  }
  return "";
}

}  // namespace axis::link
