#include "commissioning/tuning_profile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace kestrel {
namespace {

constexpr double kT = 1e-3;  // a slow-loop sample

// The reference the routine generates, sample by sample in 16.16 fixed point: the value after
// each segment.
std::array<int64_t, 6> Walk(const SegmentTable& table) {
  std::array<int64_t, 6> after{};
  int64_t ref = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    ref += int64_t{table[i].increment} * table[i].count;
    after[i] = ref;
  }
  return after;
}

TEST(TuningProfile, RandomProfilesLandOnTheirTargetsAndEndAtZero) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> time(0.0015, 2.0);
  std::uniform_int_distribution<int32_t> final(-200000, 200000);
  int refused = 0;
  for (int k = 0; k < 10000; ++k) {
    const TunedLoop loop = k % 2 ? TunedLoop::kSpeed : TunedLoop::kPosition;
    const int type = k % 3;
    int32_t f = final(rng);
    if (f == 0) f = 1;
    const ProfileTimes t{time(rng), time(rng), time(rng), time(rng)};
    const SegmentTable table = ComputeReferenceSegments(loop, f, type, t, kT);
    if (const char* refusal = RefuseSegments(table)) {
      // Only a ramp too steep for a 16-bit step per sample is refused here.
      const double shortest = std::min(t.first_ramp_s, t.second_ramp_s) / kT;
      EXPECT_EQ(refusal, kSegmentSlopeRefused);
      EXPECT_GT(std::abs(f) / std::round(shortest), 16383.0) << k;
      ++refused;
      continue;
    }
    const auto after = Walk(table);
    SCOPED_TRACE(testing::Message() << "profile " << k << " F " << f << " type " << type);
    EXPECT_EQ(after[5], 0);
    if (type != 2) {
      EXPECT_EQ(after[1], int64_t{type == 1 ? -f : f} * 65536);
    }
  }
  EXPECT_LT(refused, 100);
}

TEST(TuningProfile, WorkedTables) {
  const ProfileTimes one_sample{kT, 0.01, 0.004, 0.02};
  // clang-format off
  const struct { const char* name; TunedLoop loop; int32_t f; int type; ProfileTimes t;
                 SegmentTable expected; } cases[] = {
      {"speed, 10 counts over 4 samples", TunedLoop::kSpeed, 10, 0, {0.004, 0.01, 0.004, 0.02},
       {{{3, 163840}, {1, 163840}, {10, 0}, {3, -163840}, {1, -163840}, {20, 0}}}},
      {"negative, 7 over 3 samples", TunedLoop::kPosition, 7, 1, {0.003, 0.002, 0.003, 0.001},
       // -7/3 = -2.3333 counts: 2 samples of -152917 (16.16), the landing takes -152918
       {{{2, -152917}, {1, -152918}, {2, 0}, {2, 152917}, {1, 152918}, {1, 0}}}},
      {"speed, one-sample first ramp", TunedLoop::kSpeed, 5, 0, one_sample,
       {{{1, 327680}, {1, 0}, {10, 0}, {3, -81920}, {1, -81920}, {20, 0}}}},
      {"position, one-sample first ramp", TunedLoop::kPosition, 5, 0, one_sample,
       {{{0, 327680}, {1, 327680}, {10, 0}, {3, -81920}, {1, -81920}, {20, 0}}}},
      {"bidirectional", TunedLoop::kSpeed, 9, 2, {0.003, 0.002, 0.002, 0.001},
       // up 3/sample x 3, down -18/4 = -4.5 x 4, back 9/1 x 1 then 0 to close
       {{{3, 196608}, {2, 0}, {4, -294912}, {1, 0}, {1, 589824}, {1, 0}}}},
      {"bidirectional, second ramp under half a sample", TunedLoop::kSpeed, 9, 2,
       {0.003, 0.002, 0.0004, 0.001},
       {{{3, 196608}, {2, 0}, {1, -1179648}, {1, 0}, {1, 0}, {1, 589824}}}}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SegmentTable table = ComputeReferenceSegments(c.loop, c.f, c.type, c.t, kT);
    for (size_t i = 0; i < 6; ++i) {
      EXPECT_EQ(table[i].count, c.expected[i].count) << "segment " << i;
      EXPECT_EQ(table[i].increment, c.expected[i].increment) << "segment " << i;
    }
    EXPECT_EQ(RefuseSegments(table), nullptr);
  }
}

TEST(TuningProfile, TablesTheDriveCannotTakeAreRefused) {
  const struct {
    const char* name;
    TunedLoop loop;
    int32_t f;
    int type;
    ProfileTimes t;
    const char* refusal;
  } cases[] = {
      {"position, first ramp under half a sample",
       TunedLoop::kPosition,
       100,
       0,
       {0.0004, 0.01, 0.01, 0.01},
       kSegmentCountRefused},
      {"speed, first ramp under half a sample",
       TunedLoop::kSpeed,
       100,
       0,
       {0.0004, 0.01, 0.01, 0.01},
       kSegmentSlopeRefused},
      {"bidirectional, no first ramp",
       TunedLoop::kSpeed,
       100,
       2,
       {0.0, 0.01, 0.01, 0.01},
       kSegmentSlopeRefused},
      {"dwell of 32768 samples",
       TunedLoop::kSpeed,
       100,
       0,
       {0.01, 32.768, 0.01, 0.01},
       kSegmentCountRefused},
      {"dwell of 32767 samples", TunedLoop::kSpeed, 100, 0, {0.01, 32.767, 0.01, 0.01}, nullptr},
      {"slope of 32768 per sample",
       TunedLoop::kSpeed,
       65536,
       0,
       {0.002, 0.01, 0.01, 0.01},
       kSegmentSlopeRefused},
      {"slope of 32767 per sample",
       TunedLoop::kSpeed,
       65534,
       0,
       {0.002, 0.01, 0.01, 0.01},
       nullptr},
  };
  for (const auto& c : cases) {
    const char* refusal = RefuseSegments(ComputeReferenceSegments(c.loop, c.f, c.type, c.t, kT));
    EXPECT_EQ(refusal == nullptr ? "" : refusal, std::string(c.refusal ? c.refusal : "")) << c.name;
  }
}

TEST(TuningProfile, ScaleStepsAndScopeTrigger) {
  for (const auto& [x, step] : std::vector<std::pair<double, double>>{
           {2.5, 5}, {0.3, 0.5}, {0, 0.2}, {1, 1}, {1.01, 2}, {7, 10}, {0.02, 0.02}, {45, 50}})
    EXPECT_DOUBLE_EQ(ScaleStep(x), step) << x;

  const ProfileTimes t{0.1, 0.3, 0.2, 0.4};
  const struct {
    TunedLoop loop;
    double p;
    int type;
    bool has_type, repeat;
    ScopeTrigger expected;
  } cases[] = {
      // 0.1 + 0.3 + 0.2 + min(0.1, 0.2) = 0.7 s; 0.1 x 100 / 0.7 = 14.3 -> 15 %
      {TunedLoop::kSpeed, -2.0, 1, true, false, {0.7, -2.0, 0, 15, 4}},
      {TunedLoop::kPosition, 0.05, 0, true, true, {0.7, 0.0475, 1, 15, 2}},
      {TunedLoop::kPosition, 0.05, 1, true, false, {0.7, -0.0475, 0, 15, 4}},
      {TunedLoop::kPosition, -0.05, 1, true, false, {0.7, 0.0475, 1, 15, 4}},
      // 0.2 + 0.3 + 0.4 + 0.4 = 1.3 s; 10 / 1.3 = 7.7 -> 8 %
      {TunedLoop::kPosition, 0.05, 2, true, false, {1.3, 0.045, 1, 8, 4}},
      {TunedLoop::kPosition, -0.05, 0, false, false, {0.7, -0.0475, 1, 15, 4}},
  };
  for (const auto& c : cases) {
    const ScopeTrigger s = ComputeScopeTrigger(c.loop, c.p, c.type, c.has_type, t, c.repeat);
    EXPECT_NEAR(s.time_base_s, c.expected.time_base_s, 1e-12);
    EXPECT_NEAR(s.level, c.expected.level, 1e-12);
    EXPECT_EQ(s.slope, c.expected.slope);
    EXPECT_EQ(s.pretrigger_percent, c.expected.pretrigger_percent);
    EXPECT_EQ(s.mode, c.expected.mode);
  }
}

}  // namespace
}  // namespace kestrel
