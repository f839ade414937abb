// The sensor tests' diagrams, headless: what each picture shows, how bad input is drawn, and that
// the dialog is told to draw again exactly when the picture changed.
#include "host/diagrams.h"

#include <gtest/gtest.h>

#include <bitset>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.141592653589793;

// Counts the model's change notifications.
struct Changes {
  explicit Changes(axis::CustomControl& model) {
    model.SetChangeListener([this] { ++count; });
  }
  int count = 0;
};

// Runs the steps in order; each must notify exactly `changes` times.
struct Step {
  const char* name;
  std::function<void()> call;
  int changes;
};
void ExpectChanges(const Changes& changes, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const int before = changes.count;
    step.call();
    EXPECT_EQ(changes.count - before, step.changes);
  }
}

TEST(CPhaseDiagram, ThePointerShowsFiniteAnglesModuloATurnWhileEnabled) {
  // clang-format off
  const struct { double theta; bool enabled, shown; double drawn; } rows[] = {
      {0, true, true, 0},
      {kPi / 2, true, true, 1.5707963267948966},
      {-kPi / 2, true, true, 4.71238898038469},
      {7, true, true, 0.7168146928204138},        // 7 - 2 pi
      {-7, true, true, 5.5663706143591725},       // 4 pi - 7
      {100, true, true, 5.752220392306214},       // 100 - 30 pi
      {2 * kPi, true, true, 0},
      {-1e-20, true, true, 0},                    // just below a turn is a whole turn
      {kNaN, true, false, 0},
      {kInf, true, false, 0},
      {-kInf, true, false, 0},
      {1, false, false, 0},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.theta << (row.enabled ? " enabled" : " disabled"));
    CPhaseDiagram dial;
    if (row.enabled) dial.EnableDiagram();
    dial.SetTheta(row.theta);
    EXPECT_EQ(dial.IsDiagramEnabled(), row.enabled);
    EXPECT_EQ(dial.IsPointerShown(), row.shown);
    EXPECT_NEAR(dial.GetDrawnAngle(), row.drawn, 1e-12);
    if (std::isnan(row.theta)) {
      EXPECT_TRUE(std::isnan(dial.GetTheta()));
    } else {
      EXPECT_EQ(dial.GetTheta(), row.theta) << "kept as given";
    }
  }
}

TEST(CPhaseDiagram, RedrawsOnlyWhenThePictureChanges) {
  CPhaseDiagram dial;
  Changes changes(dial);
  EXPECT_FALSE(dial.IsDiagramEnabled()) << "starts disabled";
  ExpectChanges(changes, {
                             {"an angle while disabled", [&] { dial.SetTheta(1); }, 0},
                             {"enabled", [&] { dial.EnableDiagram(); }, 1},
                             {"enabled again", [&] { dial.EnableDiagram(); }, 0},
                             {"the same angle", [&] { dial.SetTheta(1); }, 0},
                             {"zero", [&] { dial.SetTheta(0); }, 1},
                             {"a whole turn", [&] { dial.SetTheta(2 * kPi); }, 0},
                             {"NaN hides the pointer", [&] { dial.SetTheta(kNaN); }, 1},
                             {"infinity keeps it hidden", [&] { dial.SetTheta(kInf); }, 0},
                             {"an angle again", [&] { dial.SetTheta(2); }, 1},
                             {"disabled", [&] { dial.DisableDiagram(); }, 1},
                             {"disabled again", [&] { dial.DisableDiagram(); }, 0},
                         });
}

TEST(CLinearHallDiagram, SixSlicesOneSensorChangingFromEachToTheNext) {
  CLinearHallDiagram strip;
  ASSERT_EQ(strip.GetSliceNumber(), 6);
  const std::vector<std::string> labels = {"001", "011", "010", "110", "100", "101"};
  std::set<std::string> distinct;
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    const std::string label(CLinearHallDiagram::GetSliceLabel(i));
    EXPECT_EQ(label, labels[static_cast<size_t>(i)]);
    const std::string next(CLinearHallDiagram::GetSliceLabel((i + 1) % 6));
    EXPECT_EQ((std::bitset<3>(label) ^ std::bitset<3>(next)).count(), 1u);
    distinct.insert(label);
  }
  EXPECT_EQ(distinct.size(), 6u);
  for (int i : {-1, 6, INT_MIN, INT_MAX}) EXPECT_EQ(CLinearHallDiagram::GetSliceLabel(i), "");
}

TEST(CLinearHallDiagram, StatusesOutsideTheRulesAreIgnored) {
  // clang-format off
  const struct { int slice, status; bool taken; } rows[] = {
      {0, 2, true}, {5, 1, true}, {3, 0, true},
      {-1, 1, false}, {6, 1, false}, {INT_MIN, 2, false}, {INT_MAX, 2, false},
      {2, 3, false}, {2, -1, false}, {2, INT_MIN, false},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "slice " << row.slice << " status " << row.status);
    CLinearHallDiagram strip;
    for (int i = 0; i < 6; ++i) strip.SetSliceStatus(i, i == 3 ? 2 : 1);  // 1 1 1 2 1 1
    strip.SetSliceStatus(row.slice, row.status);
    for (int i = 0; i < 6; ++i) {
      const int before = i == 3 ? 2 : 1;
      EXPECT_EQ(strip.GetSliceStatus(i), row.taken && i == row.slice ? row.status : before) << i;
    }
  }
  CLinearHallDiagram strip;
  for (int i = 0; i < 6; ++i) strip.SetSliceStatus(i, 2);
  for (int i : {-1, 6, INT_MIN, INT_MAX}) EXPECT_EQ(strip.GetSliceStatus(i), 0) << i;
}

TEST(CLinearHallDiagram, RedrawsOnlyWhenThePictureChanges) {
  CLinearHallDiagram strip;
  Changes changes(strip);
  ExpectChanges(changes, {
                             {"a status while disabled", [&] { strip.SetSliceStatus(0, 2); }, 0},
                             {"enabled", [&] { strip.EnableDiagram(); }, 1},
                             {"enabled again", [&] { strip.EnableDiagram(); }, 0},
                             {"the same status", [&] { strip.SetSliceStatus(0, 2); }, 0},
                             {"another status", [&] { strip.SetSliceStatus(0, 1); }, 1},
                             {"no such slice", [&] { strip.SetSliceStatus(6, 1); }, 0},
                             {"no such status", [&] { strip.SetSliceStatus(1, 3); }, 0},
                             {"repaint", [&] { strip.RepaintDiagram(); }, 1},
                             {"reset", [&] { strip.ResetDiagramStatus(); }, 1},
                             {"reset again", [&] { strip.ResetDiagramStatus(); }, 0},
                         });
  for (int i = 0; i < 6; ++i) EXPECT_EQ(strip.GetSliceStatus(i), 0) << i;
}

TEST(CLinearEncoderDiagram, TheMarkerStaysOnTheScaleWhateverTheLimits) {
  // clang-format off
  const struct { const char* name; long min, max, position; bool scale; double marker;
                 bool below, above, zero_shown; double zero; } rows[] = {
      {"in the middle", -1000, 1000, 0, true, 0.5, false, false, true, 0.5},
      {"three quarters", -1000, 1000, 500, true, 0.75, false, false, true, 0.5},
      {"beyond the maximum", -1000, 1000, 1500, true, 1, false, true, true, 0.5},
      {"beyond the minimum", -1000, 1000, -3000, true, 0, true, false, true, 0.5},
      {"zero at an end", 0, 4096, 1024, true, 0.25, false, false, false, 0},
      {"zero off the scale", 100, 300, 150, true, 0.25, false, false, false, 0},
      {"zero off centre", -100, 300, 200, true, 0.75, false, false, true, 0.25},
      {"a pole pitch each way", -1200000, 1200000, -600000, true, 0.25, false, false, true, 0.5},
      {"the largest position", -1200000, 1200000, INT_MAX, true, 1, false, true, true, 0.5},
      {"the widest limits", LONG_MIN, LONG_MAX, LONG_MAX, true, 1, false, false, true, 0.5},
      {"the widest limits, at zero", LONG_MIN, LONG_MAX, 0, true, 0.5, false, false, true, 0.5},
      {"no counts per pitch", 0, 0, 5, false, 0.5, false, false, false, 0},
      {"limits reversed", 10, -10, 0, false, 0.5, false, false, false, 0},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CLinearEncoderDiagram scale;
    scale.SetLimits(row.min, row.max);
    scale.SetPosition(row.position);
    EXPECT_EQ(scale.GetMinLimit(), row.min);
    EXPECT_EQ(scale.GetMaxLimit(), row.max);
    EXPECT_EQ(scale.GetPosition(), row.position);
    const CLinearEncoderDiagram::Geometry g = scale.Layout();
    EXPECT_EQ(g.scale, row.scale);
    EXPECT_NEAR(g.marker, row.marker, 1e-12);
    EXPECT_EQ(g.below, row.below);
    EXPECT_EQ(g.above, row.above);
    EXPECT_EQ(g.zero_shown, row.zero_shown);
    EXPECT_NEAR(g.zero, row.zero, 1e-12);
  }
}

TEST(CLinearEncoderDiagram, RedrawsOnlyWhenThePictureChanges) {
  CLinearEncoderDiagram scale;
  Changes changes(scale);
  ExpectChanges(changes, {
                             {"a position while disabled", [&] { scale.SetPosition(5); }, 0},
                             {"limits while disabled", [&] { scale.SetLimits(-10, 10); }, 1},
                             {"the same limits", [&] { scale.SetLimits(-10, 10); }, 0},
                             {"enabled", [&] { scale.EnableDiagram(); }, 1},
                             {"enabled again", [&] { scale.EnableDiagram(); }, 0},
                             {"the same position", [&] { scale.SetPosition(5); }, 0},
                             {"another position", [&] { scale.SetPosition(-5); }, 1},
                             {"an empty scale", [&] { scale.SetLimits(3, 3); }, 1},
                         });
}

}  // namespace
