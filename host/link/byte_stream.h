// The drive link's wire: a byte stream over TCP or a serial line (a pseudo-terminal counts as one).
//
// Endpoints are written as the command line takes them: "tcp:HOST:PORT" and
// "serial:PATH[@BAUD]" (8 data bits, no parity, one stop bit, no flow control; 115200 baud when
// none is given).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace axis::link {

class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // Writes every byte; false with `error` set when the stream is gone or takes nothing for a while.
  virtual bool Write(const uint8_t* bytes, size_t count, std::string& error) = 0;
  // What arrives within `timeout_ms` (0: what is there now): the number of bytes read, 0 when
  // nothing came (or a signal interrupted the wait), -1 when the stream has ended (`error` says
  // why).
  virtual long Read(uint8_t* bytes, size_t capacity, int timeout_ms, std::string& error) = 0;
};

// A stream over a file descriptor it owns (a socket or a terminal).
class FdStream : public ByteStream {
 public:
  FdStream(int fd, bool socket);
  ~FdStream() override;
  FdStream(const FdStream&) = delete;
  FdStream& operator=(const FdStream&) = delete;
  bool Write(const uint8_t* bytes, size_t count, std::string& error) override;
  long Read(uint8_t* bytes, size_t capacity, int timeout_ms, std::string& error) override;

 private:
  int fd_;
  bool socket_;
};

struct Endpoint {
  enum class Kind { kTcp, kSerial };
  Kind kind = Kind::kTcp;
  std::string host;  // kTcp
  int port = 0;
  std::string path;  // kSerial
  int baud = 115200;
};

// "tcp:HOST:PORT" or "serial:PATH[@BAUD]"; nullopt with `error` set when it is neither.
std::optional<Endpoint> ParseEndpoint(std::string_view text, std::string& error);
std::string EndpointText(const Endpoint& endpoint);
// Opens the stream to the endpoint; null with `error` set.
std::unique_ptr<ByteStream> OpenEndpoint(const Endpoint& endpoint, std::string& error);
// "HOST:PORT" (port 0..65535); false with `error` set.
bool ParseHostPort(std::string_view text, std::string& host, int& port, std::string& error);

// A listening TCP socket.
class TcpListener {
 public:
  static std::unique_ptr<TcpListener> Listen(const std::string& host, int port, std::string& error);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;
  int port() const { return port_; }
  // The next client within `timeout_ms`; null when none came (`error` empty) or on failure.
  std::unique_ptr<ByteStream> Accept(int timeout_ms, std::string& error);

 private:
  TcpListener(int fd, int port) : fd_(fd), port_(port) {}
  int fd_;
  int port_;
};

// A pseudo-terminal: the drive's end (master) as a stream, the host's end as a serial device path.
class PtyPort {
 public:
  static std::unique_ptr<PtyPort> Open(std::string& error);
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;
  const std::string& path() const { return path_; }
  // The drive's end; the port must outlive it.
  std::unique_ptr<ByteStream> TakeStream() { return std::move(master_); }

 private:
  PtyPort() = default;
  std::unique_ptr<FdStream> master_;
  int keep_open_ = -1;  // the host's end held open, so that the drive's end never reads EIO
  std::string path_;
};

}  // namespace axis::link
