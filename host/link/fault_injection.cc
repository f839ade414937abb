#include "host/link/fault_injection.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <thread>

#include "host/clock.h"
#include "host/link/frame_codec.h"
#include "host/number_text.h"

namespace axis::link {

namespace {

const SteadyClock& Wall() {
  static const SteadyClock wall;
  return wall;
}

constexpr const char* kCut = "the connection was cut (fault injection)";

struct PlanKey {
  const char* name;
  bool probability;  // 0..1, else a count or a duration
  void (*set)(FaultPlan& plan, double value);
};

constexpr PlanKey kPlanKeys[] = {
    {"drop", true, [](FaultPlan& p, double v) { p.drop = v; }},
    {"corrupt", true, [](FaultPlan& p, double v) { p.corrupt = v; }},
    {"truncate", true, [](FaultPlan& p, double v) { p.truncate = v; }},
    {"delay", true, [](FaultPlan& p, double v) { p.delay = v; }},
    {"delay-ms", false, [](FaultPlan& p, double v) { p.delay_ms = static_cast<int>(v); }},
    {"cut-after", false,
     [](FaultPlan& p, double v) { p.cut_after_frames = static_cast<int64_t>(v); }},
    {"cut-after-s", false, [](FaultPlan& p, double v) { p.cut_after_s = v; }},
    {"stall-after", false,
     [](FaultPlan& p, double v) { p.stall_after_frames = static_cast<int64_t>(v); }},
    {"seed", false, [](FaultPlan& p, double v) { p.seed = static_cast<uint64_t>(v); }},
};

}  // namespace

std::optional<FaultPlan> ParseFaultPlan(std::string_view text, std::string& error) {
  FaultPlan plan;
  while (!text.empty()) {
    const size_t comma = std::min(text.find(','), text.size());
    const std::string_view item = text.substr(0, comma);
    text = text.substr(std::min(comma + 1, text.size()));
    const size_t eq = item.find('=');
    const std::string_view name = item.substr(0, eq);
    const PlanKey* key = nullptr;
    for (const PlanKey& row : kPlanKeys)
      if (name == row.name) key = &row;
    const double value = eq == std::string_view::npos
                             ? -1.0
                             : ParseNumber(std::string(item.substr(eq + 1))).value_or(-1.0);
    const double high = key != nullptr && key->probability ? 1.0 : 1e9;
    if (key == nullptr || !(value >= 0.0 && value <= high)) {
      error = "\"" + std::string(item) +
              "\" is no fault (drop, corrupt, truncate, delay=0..1; delay-ms, cut-after, "
              "cut-after-s, stall-after, seed=number)";
      return std::nullopt;
    }
    key->set(plan, value);
  }
  return plan;
}

FaultyStream::FaultyStream(std::unique_ptr<ByteStream> inner, const FaultPlan& plan)
    : inner_(std::move(inner)),
      plan_(plan),
      state_(plan.seed * 0x9E3779B97F4A7C15ull + 1),
      start_ns_(Wall().NowNs()) {}

double FaultyStream::Uniform() {
  // xorshift64*: a fixed sequence per seed, so that a failing run can be repeated.
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return static_cast<double>((state_ * 0x2545F4914F6CDD1Dull) >> 11) * 0x1.0p-53;
}

bool FaultyStream::CutNow() {
  if (!inner_) return true;
  const bool by_count = plan_.cut_after_frames >= 0 && counters_.frames >= plan_.cut_after_frames;
  const bool by_time =
      plan_.cut_after_s >= 0.0 && static_cast<double>(Wall().NowNs() - start_ns_) >=
                                      plan_.cut_after_s * static_cast<double>(kNsPerSecond);
  if (by_count || by_time) inner_.reset();
  return !inner_;
}

std::vector<uint8_t> FaultyStream::Spoil(const uint8_t* frame, size_t count) {
  ++counters_.frames;
  std::vector<uint8_t> out(frame, frame + count);
  if (plan_.stall_after_frames >= 0 && counters_.frames > plan_.stall_after_frames) return {};
  const double u = Uniform();
  double edge = plan_.drop;
  if (u < edge) {
    ++counters_.dropped;
    return {};
  }
  if (u < (edge += plan_.corrupt)) {
    ++counters_.corrupted;
    const auto bit = static_cast<size_t>(Uniform() * static_cast<double>(count * 8));
    out[std::min(bit / 8, count - 1)] ^= static_cast<uint8_t>(1u << (bit % 8));
  } else if (u < (edge += plan_.truncate)) {
    ++counters_.truncated;
    out.resize(1 + static_cast<size_t>(Uniform() * static_cast<double>(count - 1)));
  } else if (u < edge + plan_.delay) {
    ++counters_.delayed;
    std::this_thread::sleep_for(std::chrono::milliseconds(plan_.delay_ms));
  }
  return out;
}

bool FaultyStream::Write(const uint8_t* bytes, size_t count, std::string& error) {
  if (CutNow()) {
    error = kCut;
    return false;
  }
  // Every writer of the link writes one whole frame at a time.
  const std::vector<uint8_t> out = count > 0 ? Spoil(bytes, count) : std::vector<uint8_t>{};
  return out.empty() || inner_->Write(out.data(), out.size(), error);
}

void FaultyStream::SplitIncoming() {
  size_t at = 0;
  while (at < incoming_.size()) {
    const uint8_t* p = incoming_.data() + at;
    const size_t left = incoming_.size() - at;
    if (p[0] == kSync0 && left < kHeaderBytes) break;  // perhaps a frame: wait for its header
    const std::optional<size_t> length = FrameLengthAt(p, left);
    if (!length) {
      passed_.push_back(p[0]);  // no frame: passes as it is
      ++at;
      continue;
    }
    if (*length > left) break;
    const std::vector<uint8_t> out = Spoil(p, *length);
    passed_.insert(passed_.end(), out.begin(), out.end());
    at += *length;
  }
  incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<std::ptrdiff_t>(at));
}

long FaultyStream::Read(uint8_t* bytes, size_t capacity, int timeout_ms, std::string& error) {
  if (passed_.empty()) {
    if (CutNow()) {
      error = kCut;
      return -1;
    }
    uint8_t buffer[16384];
    const long n = inner_->Read(buffer, sizeof buffer, timeout_ms, error);
    if (n <= 0) return n;
    incoming_.insert(incoming_.end(), buffer, buffer + n);
    SplitIncoming();
  }
  const size_t n = std::min(capacity, passed_.size());
  std::memcpy(bytes, passed_.data(), n);
  passed_.erase(passed_.begin(), passed_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<long>(n);
}

}  // namespace axis::link
