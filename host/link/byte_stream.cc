#include "host/link/byte_stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace axis::link {

namespace {

// How long a write may find the stream full before the other end counts as gone.
constexpr int kWriteStallMs = 2000;

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void SetNoDelay(int fd) {
  // Requests and answers are small and each waits for the other: send them at once.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

std::optional<int> ParseInt(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

struct BaudRow {
  int baud;
  speed_t speed;
};
constexpr BaudRow kBauds[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {921600, B921600},
    {1000000, B1000000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

const BaudRow* FindBaud(int baud) {
  for (const BaudRow& row : kBauds)
    if (row.baud == baud) return &row;
  return nullptr;
}

// Raw 8N1 without flow control or echo: the frames are binary.
bool MakeRawLine(int fd, speed_t speed, std::string& error) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    error = SystemError("not a serial line");
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CSIZE | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 ||
      tcsetattr(fd, TCSANOW, &tio) != 0) {
    error = SystemError("cannot set up the serial line");
    return false;
  }
  return true;
}

std::unique_ptr<ByteStream> OpenSerial(const Endpoint& e, std::string& error) {
  const BaudRow* baud = FindBaud(e.baud);
  if (baud == nullptr) {
    error = std::to_string(e.baud) + " baud is not a rate a serial line here can run at";
    return nullptr;
  }
  const int fd = open(e.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = SystemError(("cannot open \"" + e.path + "\"").c_str());
    return nullptr;
  }
  if (!MakeRawLine(fd, baud->speed, error)) {
    error = e.path + ": " + error;
    close(fd);
    return nullptr;
  }
  tcflush(fd, TCIOFLUSH);
  return std::make_unique<FdStream>(fd, false);
}

// A host that never answers the connection must not hold the user up for minutes.
constexpr int kConnectTimeoutMs = 3000;

bool ConnectWithin(int fd, const sockaddr* address, socklen_t size) {
  if (connect(fd, address, size) == 0) return true;
  if (errno != EINPROGRESS) return false;
  pollfd p{fd, POLLOUT, 0};
  if (poll(&p, 1, kConnectTimeoutMs) != 1) {
    errno = ETIMEDOUT;
    return false;
  }
  int fault = 0;
  socklen_t length = sizeof fault;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &fault, &length) != 0) return false;
  errno = fault;
  return fault == 0;
}

std::unique_ptr<ByteStream> OpenTcp(const Endpoint& e, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(e.port);
  if (const int rc = getaddrinfo(e.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "cannot find \"" + e.host + "\": " + gai_strerror(rc);
    return nullptr;
  }
  error = "cannot connect to " + e.host + ":" + port;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (SetNonBlocking(fd) && ConnectWithin(fd, a->ai_addr, a->ai_addrlen)) {
      SetNoDelay(fd);
      freeaddrinfo(found);
      error.clear();
      return std::make_unique<FdStream>(fd, true);
    }
    error = SystemError(("cannot connect to " + e.host + ":" + port).c_str());
    close(fd);
  }
  freeaddrinfo(found);
  return nullptr;
}

}  // namespace

FdStream::FdStream(int fd, bool socket) : fd_(fd), socket_(socket) { SetNonBlocking(fd_); }

FdStream::~FdStream() {
  if (fd_ >= 0) close(fd_);
}

bool FdStream::Write(const uint8_t* bytes, size_t count, std::string& error) {
  while (count > 0) {
    const ssize_t n = socket_ ? send(fd_, bytes, count, MSG_NOSIGNAL) : write(fd_, bytes, count);
    if (n > 0) {
      bytes += n;
      count -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      error = SystemError("the line failed");
      return false;
    }
    pollfd p{fd_, POLLOUT, 0};
    const int ready = poll(&p, 1, kWriteStallMs);
    if (ready == 0 || (ready > 0 && (p.revents & (POLLERR | POLLHUP)))) {
      error = ready == 0 ? "the other end takes no more bytes" : "the other end is gone";
      return false;
    }
  }
  return true;
}

long FdStream::Read(uint8_t* bytes, size_t capacity, int timeout_ms, std::string& error) {
  pollfd p{fd_, POLLIN, 0};
  const int ready = poll(&p, 1, timeout_ms);
  if (ready < 0) {
    if (errno == EINTR) return 0;
    error = SystemError("waiting on the line failed");
    return -1;
  }
  if (ready == 0) return 0;
  const ssize_t n = read(fd_, bytes, capacity);
  if (n > 0) return static_cast<long>(n);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
  if (n == 0 && !socket_ && !(p.revents & (POLLHUP | POLLERR))) return 0;
  error = n == 0 ? "the other end closed the connection" : SystemError("the line failed");
  return -1;
}

bool ParseHostPort(std::string_view text, std::string& host, int& port, std::string& error) {
  const size_t colon = text.rfind(':');
  const std::optional<int> value =
      colon == std::string_view::npos ? std::nullopt : ParseInt(text.substr(colon + 1), 0, 65535);
  if (!value || colon == 0) {
    error = "\"" + std::string(text) + "\" is not HOST:PORT (port 0 to 65535)";
    return false;
  }
  host = std::string(text.substr(0, colon));
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  port = *value;
  return true;
}

std::optional<Endpoint> ParseEndpoint(std::string_view text, std::string& error) {
  Endpoint e;
  if (text.rfind("tcp:", 0) == 0) {
    e.kind = Endpoint::Kind::kTcp;
    if (!ParseHostPort(text.substr(4), e.host, e.port, error)) return std::nullopt;
    if (e.port == 0) {
      error = "a drive is reached at a port from 1 to 65535, not 0";
      return std::nullopt;
    }
    return e;
  }
  if (text.rfind("serial:", 0) == 0) {
    e.kind = Endpoint::Kind::kSerial;
    std::string_view rest = text.substr(7);
    if (const size_t at = rest.rfind('@'); at != std::string_view::npos) {
      const std::optional<int> baud = ParseInt(rest.substr(at + 1), 1, 100'000'000);
      if (!baud || FindBaud(*baud) == nullptr) {
        error = "\"" + std::string(rest.substr(at + 1)) + "\" is not a baud rate (";
        for (const BaudRow& row : kBauds)
          error += std::to_string(row.baud) + (&row == std::end(kBauds) - 1 ? ")" : ", ");
        return std::nullopt;
      }
      e.baud = *baud;
      rest = rest.substr(0, at);
    }
    if (rest.empty()) {
      error = "serial: needs the device path (serial:/dev/ttyUSB0@115200)";
      return std::nullopt;
    }
    e.path = std::string(rest);
    return e;
  }
  error = "\"" + std::string(text) + "\" is no drive link (tcp:HOST:PORT or serial:PATH[@BAUD])";
  return std::nullopt;
}

std::string EndpointText(const Endpoint& e) {
  if (e.kind == Endpoint::Kind::kSerial) return "serial:" + e.path + "@" + std::to_string(e.baud);
  const bool v6 = e.host.find(':') != std::string::npos;
  return "tcp:" + (v6 ? "[" + e.host + "]" : e.host) + ":" + std::to_string(e.port);
}

std::unique_ptr<ByteStream> OpenEndpoint(const Endpoint& endpoint, std::string& error) {
  return endpoint.kind == Endpoint::Kind::kTcp ? OpenTcp(endpoint, error)
                                               : OpenSerial(endpoint, error);
}

std::unique_ptr<TcpListener> TcpListener::Listen(const std::string& host, int port,
                                                 std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port_text = std::to_string(port);
  if (const int rc =
          getaddrinfo(host.empty() ? nullptr : host.c_str(), port_text.c_str(), &hints, &found);
      rc != 0) {
    error = "cannot find \"" + host + "\": " + gai_strerror(rc);
    return nullptr;
  }
  error = "cannot listen on " + host + ":" + port_text;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 4) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
      const int actual = bound.ss_family == AF_INET6
                             ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                             : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
      freeaddrinfo(found);
      error.clear();
      return std::unique_ptr<TcpListener>(new TcpListener(fd, actual));
    }
    error = SystemError(("cannot listen on " + host + ":" + port_text).c_str());
    close(fd);
  }
  freeaddrinfo(found);
  return nullptr;
}

TcpListener::~TcpListener() { close(fd_); }

std::unique_ptr<ByteStream> TcpListener::Accept(int timeout_ms, std::string& error) {
  pollfd p{fd_, POLLIN, 0};
  const int ready = poll(&p, 1, timeout_ms);
  if (ready <= 0) {
    if (ready < 0 && errno != EINTR) error = SystemError("waiting for a client failed");
    return nullptr;
  }
  const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
      error = SystemError("accepting a client failed");
    return nullptr;
  }
  SetNoDelay(fd);
  return std::make_unique<FdStream>(fd, true);
}

std::unique_ptr<PtyPort> PtyPort::Open(std::string& error) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128] = {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, name, sizeof name) != 0) {
    error = SystemError("cannot open a pseudo-terminal");
    if (master >= 0) close(master);
    return nullptr;
  }
  std::unique_ptr<PtyPort> port(new PtyPort);
  port->master_ = std::make_unique<FdStream>(master, false);
  port->path_ = name;
  port->keep_open_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  // Raw from the start: no echo of what the drive sends before the host opens the line.
  if (port->keep_open_ < 0 || !MakeRawLine(port->keep_open_, B115200, error)) {
    if (port->keep_open_ < 0) error = SystemError("cannot open the pseudo-terminal's line");
    return nullptr;
  }
  return port;
}

PtyPort::~PtyPort() {
  if (keep_open_ >= 0) close(keep_open_);
}

}  // namespace axis::link
