// The drive's end of the drive link: serves any drive-link implementation (the simulated drive)
// to a host over a byte stream, as a drive's firmware or an Ethernet gateway would.
//
// A session begins with the host's connect request; each one gets a drive of its own, made afresh
// (as if the drive had just been switched on), so that every session starts from the same state.
// When the host asks for it and the server allows it, the session's drive runs on the host's time
// (the time every request carries) instead of the wall clock, which makes a headless run over the
// link repeat exactly what it does in the host's own process.
//
// The answers to the last requests are kept: a request that comes again with the same sequence
// number (the host did not get the answer) is answered from them without being executed again.
// Between requests the drive's unsolicited messages are sent as they come.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/clock.h"
#include "host/comm.h"
#include "host/link/byte_stream.h"
#include "host/link/frame_codec.h"

namespace axis::link {

struct ServerOptions {
  std::string identity = "drive";  // the identity text given at connect
  std::string product_id;
  std::string firmware_id;
  uint32_t capabilities = 0;    // what the drive offers beyond following the host's time
  bool allow_host_time = true;  // a host may ask the session's drive to run on its time
  bool watch_faults = false;    // on the wall clock: a fault message when "MER" changes
  int idle_poll_ms = 5;         // how often unsolicited messages are looked for between requests
};

// Makes the drive of a new session, following `clock`; null with `error` set.
using SessionDriveFactory =
    std::function<std::unique_ptr<CMC_Comm>(const Clock& clock, std::string& error)>;

class DriveServer {
 public:
  DriveServer(SessionDriveFactory make_drive, ServerOptions options);
  ~DriveServer();
  DriveServer(const DriveServer&) = delete;
  DriveServer& operator=(const DriveServer&) = delete;

  // Serves the stream until it ends (returns why) or `stop` turns true (returns "").
  std::string Serve(ByteStream& stream, const std::atomic<bool>& stop);
  // Serves the listener's clients one at a time until `stop`; `note` hears of each client, and
  // `wrap` (when given) may put a stream of its own around each (fault injection).
  using StreamWrapper = std::function<std::unique_ptr<ByteStream>(std::unique_ptr<ByteStream>)>;
  std::string ServeClients(TcpListener& listener, const std::atomic<bool>& stop,
                           const std::function<void(const std::string&)>& note,
                           const StreamWrapper& wrap = nullptr);
  // Ends the session (the next connect starts a new one).
  void EndSession();

 private:
  struct Session;
  bool Handle(const Frame& request, ByteStream& stream, std::string& error);
  // The answer to a request (its kind, flags and payload).
  Frame Answer(const Frame& request);
  Frame Connect(const Frame& request);
  bool Send(ByteStream& stream, const std::vector<uint8_t>& bytes, std::string& error);
  bool SendUnsolicited(ByteStream& stream, std::string& error);
  bool WatchFaults(ByteStream& stream, std::string& error);

  SessionDriveFactory make_drive_;
  ServerOptions options_;
  std::unique_ptr<Session> session_;
};

}  // namespace axis::link
