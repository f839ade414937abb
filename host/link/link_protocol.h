// The drive link's messages: what each frame kind carries (docs/drive-link.md).
//
// The host sends one request at a time and waits for its answer, which carries the request's kind
// with kAnswer set and the request's sequence number. Between answers the drive may send
// unsolicited frames (scope frames, fault messages). Every request payload starts with the host's
// time, so that a drive that follows the host's time (the simulated drive serving a headless test)
// runs exactly as it would in the host's own process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/comm.h"

namespace axis::link {

constexpr uint16_t kProtocolVersion = 1;

enum Kind : uint8_t {
  kConnect = 0x01,
  kReadVariable = 0x02,
  kWriteVariable = 0x03,
  kReadRegister = 0x04,
  kWriteRegister = 0x05,
  kExecute = 0x06,
  kLaunch = 0x07,
  kReadUserVariable = 0x08,
  kWriteUserVariable = 0x09,
  kGetAxisOn = 0x0A,
  kAxisOff = 0x0B,
  kUploadLog = 0x0C,
  kStartScope = 0x0D,
  kStopScope = 0x0E,
  kPoll = 0x0F,         // nothing to do: lets a drive on the host's time catch up
  kUnsolicited = 0x40,  // drive to host, unasked: one message of 16-bit words
  kNak = 0x7E,          // drive to host: the request with this sequence arrived damaged
  kAnswer = 0x80,       // set in an answer's kind
};

// Answer flags.
constexpr uint8_t kFailed = 0x01;  // the payload is the drive's error text

// Capabilities, in the connect exchange.
constexpr uint32_t kHostTime = 1u << 0;       // host: "follow my time if you can"; drive: "I do"
constexpr uint32_t kScope = 1u << 1;          // the drive has the oscilloscope
constexpr uint32_t kLogger = 1u << 2;         // the drive records while routines run
constexpr uint32_t kFaultMessages = 1u << 3;  // a fault message when the fault register changes

// A request's host time when the host keeps none.
constexpr int64_t kNoHostTime = -1;

// The unsolicited message kind (word 2) of a fault message: payload the fault register "MER" as a
// 32-bit value in two words, the low half first.
constexpr uint16_t kFaultMessageKind = 0xE800;

// Little-endian payload writing.
class PayloadWriter {
 public:
  PayloadWriter& U8(uint8_t v);
  PayloadWriter& U16(uint16_t v);
  PayloadWriter& U32(uint32_t v);
  PayloadWriter& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  PayloadWriter& I64(int64_t v);
  PayloadWriter& F64(double v);
  // A text: its length (16 bits) and its bytes; a longer text is cut at 65535 bytes.
  PayloadWriter& Text(std::string_view text);
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Little-endian payload reading. A read past the end fails the reader (every later read gives 0
// or "") so that a payload is checked once, at the end, with ok() and Finish().
class PayloadReader {
 public:
  PayloadReader(const uint8_t* bytes, size_t count) : p_(bytes), count_(count) {}
  explicit PayloadReader(const std::vector<uint8_t>& bytes)
      : PayloadReader(bytes.data(), bytes.size()) {}
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  int32_t I32() { return static_cast<int32_t>(U32()); }
  int64_t I64();
  double F64();
  std::string Text();
  // A count of items of `item_bytes` each that must fit in what is left.
  size_t Count(uint32_t count, size_t item_bytes);
  bool ok() const { return ok_; }
  void Refuse() { ok_ = false; }  // what was read makes no sense
  size_t left() const { return count_ - at_; }
  // True when the payload was read whole and nothing is left over; else `error` says what.
  bool Finish(std::string& error) const;

 private:
  const uint8_t* Take(size_t n);
  const uint8_t* p_;
  size_t count_;
  size_t at_ = 0;
  bool ok_ = true;
};

// The composite parts of requests and answers, written and read the same way on both sides.
void WriteUserVariables(PayloadWriter& w, const UserVariables& inputs);
UserVariables ReadUserVariables(PayloadReader& r);
void WriteLogRequest(PayloadWriter& w, const LogRequest& log);
LogRequest ReadLogRequest(PayloadReader& r);
void WriteScopeRequest(PayloadWriter& w, const ScopeRequest& request);
ScopeRequest ReadScopeRequest(PayloadReader& r);
void WriteLog(PayloadWriter& w, const std::vector<LogPoint>& points);
std::vector<LogPoint> ReadLog(PayloadReader& r);
void WriteWords(PayloadWriter& w, const UnsolicitedMessage& message);
UnsolicitedMessage ReadWords(PayloadReader& r);

// "ReadVariable", for error texts.
const char* KindName(uint8_t kind);

}  // namespace axis::link
