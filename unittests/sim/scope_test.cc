// The drive's oscilloscope as a host sees it: frames taken as unsolicited messages every 20 ms
// while the speed test repeats a step of 40, decoded and put back together into acquisitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/scope_frame.h"
#include "unittests/sim/host_side.h"

namespace sim {
namespace {

using axis::ScopeFrame;
using axis::ScopeRequest;
using testing::HostSide;

struct Acquisition {
  std::vector<float> reference;  // channel 0, "Speed_Reference"
  bool closed = false, final = false;
};

std::vector<ScopeFrame>* g_frames = nullptr;

int TakeFrame(const uint16_t* words, int count) {
  ScopeFrame frame;
  std::string error;
  const auto* bytes = reinterpret_cast<const uint8_t*>(words + 3);
  EXPECT_TRUE(axis::DecodeScopeFrame(bytes, 2 * static_cast<size_t>(count - 3), frame, error))
      << error;
  EXPECT_EQ(words[2], axis::kScopeFrameKind);
  EXPECT_LE(frame.samples(), ScopeFrame::kMaxSamplesPerFrame);
  g_frames->push_back(frame);
  return frame.samples();
}

// The speed test repeating +40 for 200 samples, 0 for 200, for 1.5 s with the scope armed.
std::vector<Acquisition> Acquire(const ScopeRequest& request) {
  HostSide host(DefaultConfig());
  EXPECT_TRUE(host.drive().StartScope(request)) << host.drive().GetLastErrorText();
  axis::UserVariables in = {{"RefTest", 5250},
                            {"IlimPS_Test", 20000},
                            {"Imax_Prot_Test", 30000},
                            {"MultiC", 1},
                            {"a0", 1},
                            {"b0", 40},
                            {"a1", 199},
                            {"a2", 1},
                            {"b2", -40},
                            {"a3", 199}};
  EXPECT_TRUE(host.drive().Launch("Speed_Controller_Tuning_Test", in, nullptr));
  std::vector<ScopeFrame> frames;
  g_frames = &frames;
  for (int poll = 0; poll < 75; ++poll) {
    host.Wait(0.02);
    host.drive().CheckForUnrequestedMessages(TakeFrame);
  }
  g_frames = nullptr;
  std::vector<Acquisition> acquisitions;
  for (const ScopeFrame& f : frames) {
    if (f.flags & ScopeFrame::kFirst) acquisitions.emplace_back();
    if (acquisitions.empty() || acquisitions.back().closed) {
      ADD_FAILURE() << "a frame outside an acquisition";
      continue;
    }
    Acquisition& a = acquisitions.back();
    EXPECT_EQ(f.first_sample, static_cast<int>(a.reference.size()));
    for (int s = 0; s < f.samples(); ++s) a.reference.push_back(f.values[s * f.channels]);
    a.closed = f.flags & ScopeFrame::kLast;
    a.final = f.flags & ScopeFrame::kFinal;
  }
  return acquisitions;
}

TEST(Scope, TriggerModesAndFrames) {
  const struct {
    ScopeRequest::Mode mode;
    bool rising;
    int points, pretrigger, every;
    size_t least, most;  // complete acquisitions
  } rows[] = {
      {ScopeRequest::Mode::kSingle, true, 100, 10, 1, 1, 1},
      {ScopeRequest::Mode::kNormal, true, 100, 10, 1, 5, 7},
      {ScopeRequest::Mode::kNormal, false, 300, 260, 1, 5, 7},  // two frames of pretrigger
      {ScopeRequest::Mode::kNormal, true, 100, 20, 3, 5, 7},
      {ScopeRequest::Mode::kNormal, true, 50, 50, 1, 5, 7},  // all before, and the crossing
      {ScopeRequest::Mode::kAuto, true, 300, 0, 1, 9, 10},
      {ScopeRequest::Mode::kAuto, true, 300, 0, 2, 4, 5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.mode) * 10 + row.every);
    ScopeRequest request;
    request.variables = {"Speed_Reference", "Load_Speed", "Motor_Current"};
    request.points = row.points;
    request.every = row.every;
    request.mode = row.mode;
    request.trigger_variable = "Speed_Reference";
    request.rising = row.rising;
    request.trigger_level = 20.0;
    request.pretrigger_points = row.pretrigger;
    const std::vector<Acquisition> seen = Acquire(request);
    size_t complete = 0;
    for (const Acquisition& a : seen) {
      if (!a.closed) continue;
      ++complete;
      ASSERT_EQ(a.reference.size(), static_cast<size_t>(row.points));
      EXPECT_EQ(a.final, row.mode == ScopeRequest::Mode::kSingle);
      if (row.mode == ScopeRequest::Mode::kAuto) continue;
      const size_t at = static_cast<size_t>(std::min(row.pretrigger, row.points - 1));
      EXPECT_EQ(a.reference[at], row.rising ? 40.0f : 0.0f);  // the level crossed here
      EXPECT_EQ(a.reference[at - 1], row.rising ? 0.0f : 40.0f);
      if (at > 200 && row.every == 1) {  // the step before, in its place
        EXPECT_EQ(a.reference[at - 200], 40.0f);
        EXPECT_EQ(a.reference[at - 201], 0.0f);
      }
    }
    EXPECT_GE(complete, row.least);
    EXPECT_LE(complete, row.most);
    EXPECT_LE(seen.size(), complete + 1);  // at most one still filling
  }
}

TEST(Scope, RefusesWhatItCannotDo) {
  ScopeRequest request;
  request.variables = {"Speed_Reference"};
  request.points = 10;
  const struct {
    bool has_scope;
    const char* trigger;
    const char* message;
  } rows[] = {{false, "", "this drive has no oscilloscope"},
              {true, "Load_Speed",
               "the trigger variable \"Load_Speed\" must be one of the oscilloscope's variables"}};
  for (const auto& row : rows) {
    Config c = DefaultConfig();
    c.drive.has_scope = row.has_scope;
    HostSide host(c);
    request.trigger_variable = row.trigger;
    EXPECT_FALSE(host.drive().StartScope(request));
    EXPECT_EQ(host.drive().GetLastErrorText(), row.message);
  }
}

}  // namespace
}  // namespace sim
