#include "host/link/link_protocol.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace axis::link {

PayloadWriter& PayloadWriter::U8(uint8_t v) {
  bytes_.push_back(v);
  return *this;
}
PayloadWriter& PayloadWriter::U16(uint16_t v) {
  bytes_.push_back(static_cast<uint8_t>(v));
  bytes_.push_back(static_cast<uint8_t>(v >> 8));
  return *this;
}
PayloadWriter& PayloadWriter::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return *this;
}
PayloadWriter& PayloadWriter::I64(int64_t v) {
  const auto u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<uint8_t>(u >> (8 * i)));
  return *this;
}
PayloadWriter& PayloadWriter::F64(double v) { return I64(std::bit_cast<int64_t>(v)); }
PayloadWriter& PayloadWriter::Text(std::string_view text) {
  const size_t n = std::min<size_t>(text.size(), 0xFFFF);
  U16(static_cast<uint16_t>(n));
  bytes_.insert(bytes_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
  return *this;
}

const uint8_t* PayloadReader::Take(size_t n) {
  if (!ok_ || n > count_ - at_) {
    ok_ = false;
    return nullptr;
  }
  const uint8_t* p = p_ + at_;
  at_ += n;
  return p;
}
uint8_t PayloadReader::U8() {
  const uint8_t* p = Take(1);
  return p ? p[0] : 0;
}
uint16_t PayloadReader::U16() {
  const uint8_t* p = Take(2);
  return p ? static_cast<uint16_t>(p[0] | (p[1] << 8)) : 0;
}
uint32_t PayloadReader::U32() {
  const uint8_t* p = Take(4);
  if (p == nullptr) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
int64_t PayloadReader::I64() {
  const uint8_t* p = Take(8);
  if (p == nullptr) return 0;
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}
double PayloadReader::F64() { return std::bit_cast<double>(I64()); }
std::string PayloadReader::Text() {
  const uint16_t n = U16();
  const uint8_t* p = Take(n);
  return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}
size_t PayloadReader::Count(uint32_t count, size_t item_bytes) {
  // An item takes a byte at least: a count is never believed beyond what the payload can hold.
  if (!ok_ || count > left() / std::max<size_t>(item_bytes, 1)) {
    ok_ = false;
    return 0;
  }
  return count;
}
bool PayloadReader::Finish(std::string& error) const {
  if (!ok_) {
    error = "a message shorter than its contents say";
  } else if (at_ != count_) {
    error = "a message with " + std::to_string(count_ - at_) + " bytes too many";
  }
  return ok_ && at_ == count_;
}

void WriteUserVariables(PayloadWriter& w, const UserVariables& inputs) {
  w.U16(static_cast<uint16_t>(std::min<size_t>(inputs.size(), 0xFFFF)));
  for (size_t i = 0; i < inputs.size() && i < 0xFFFF; ++i)
    w.Text(inputs[i].first).F64(inputs[i].second);
}
UserVariables ReadUserVariables(PayloadReader& r) {
  UserVariables inputs(r.Count(r.U16(), 10));
  for (auto& [name, value] : inputs) {
    name = r.Text();
    value = r.F64();
  }
  return inputs;
}

namespace {
void WriteNames(PayloadWriter& w, const std::vector<std::string>& names) {
  w.U8(static_cast<uint8_t>(std::min<size_t>(names.size(), 0xFF)));
  for (size_t i = 0; i < names.size() && i < 0xFF; ++i) w.Text(names[i]);
}
std::vector<std::string> ReadNames(PayloadReader& r) {
  std::vector<std::string> names(r.Count(r.U8(), 2));
  for (std::string& name : names) name = r.Text();
  return names;
}
}  // namespace

void WriteLogRequest(PayloadWriter& w, const LogRequest& log) {
  WriteNames(w, log.variables);
  w.I32(log.points).U8(static_cast<uint8_t>(log.rate)).I32(log.every);
}
LogRequest ReadLogRequest(PayloadReader& r) {
  LogRequest log;
  log.variables = ReadNames(r);
  log.points = r.I32();
  log.rate = static_cast<LogRequest::Rate>(r.U8());
  log.every = r.I32();
  return log;
}

void WriteScopeRequest(PayloadWriter& w, const ScopeRequest& s) {
  WriteNames(w, s.variables);
  w.I32(s.points).I32(s.every).U8(static_cast<uint8_t>(s.mode)).Text(s.trigger_variable);
  w.U8(s.rising ? 1 : 0).F64(s.trigger_level).I32(s.pretrigger_points);
}
ScopeRequest ReadScopeRequest(PayloadReader& r) {
  ScopeRequest s;
  s.variables = ReadNames(r);
  s.points = r.I32();
  s.every = r.I32();
  s.mode = static_cast<ScopeRequest::Mode>(r.U8());
  s.trigger_variable = r.Text();
  s.rising = r.U8() != 0;
  s.trigger_level = r.F64();
  s.pretrigger_points = r.I32();
  return s;
}

void WriteLog(PayloadWriter& w, const std::vector<LogPoint>& points) {
  const size_t width = points.empty() ? 0 : points.front().size();
  w.U32(static_cast<uint32_t>(points.size())).U16(static_cast<uint16_t>(width));
  for (const LogPoint& point : points)
    for (size_t i = 0; i < width; ++i) w.F64(i < point.size() ? point[i] : 0.0);
}
std::vector<LogPoint> ReadLog(PayloadReader& r) {
  const uint32_t count = r.U32();
  const uint16_t width = r.U16();
  if (width == 0 && count > 0) {  // every point holds its time at least
    r.Refuse();
    return {};
  }
  std::vector<LogPoint> points(r.Count(count, 8 * size_t{width}));
  for (LogPoint& point : points) {
    point.resize(width);
    for (double& v : point) v = r.F64();
  }
  return points;
}

void WriteWords(PayloadWriter& w, const UnsolicitedMessage& message) {
  for (uint16_t word : message) w.U16(word);
}
UnsolicitedMessage ReadWords(PayloadReader& r) {
  UnsolicitedMessage message(r.left() / 2);
  for (uint16_t& word : message) word = r.U16();
  return message;
}

const char* KindName(uint8_t kind) {
  static constexpr const char* kNames[] = {"?",
                                           "Connect",
                                           "ReadVariable",
                                           "WriteVariable",
                                           "ReadRegister",
                                           "WriteRegister",
                                           "Execute",
                                           "Launch",
                                           "ReadUserVariable",
                                           "WriteUserVariable",
                                           "GetAxisOn",
                                           "AxisOff",
                                           "UploadLog",
                                           "StartScope",
                                           "StopScope",
                                           "Poll"};
  const uint8_t request = kind & static_cast<uint8_t>(~kAnswer);
  if (request < std::size(kNames)) return kNames[request];
  if (kind == kUnsolicited) return "Unsolicited";
  if (kind == kNak) return "Nak";
  return "?";
}

}  // namespace axis::link
