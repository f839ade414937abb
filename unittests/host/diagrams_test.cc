// The sensor tests' diagrams, headless: what each picture shows, how bad input is drawn, and that
// the dialog is told to draw again exactly when the picture changed.
#include "host/diagrams.h"

#include <gtest/gtest.h>

#include <bitset>
#include <climits>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.141592653589793;

TEST(CPhaseDiagram, ThePointerShowsFiniteAnglesModuloATurnWhileEnabled) {
  // clang-format off
  const struct { double theta; bool enabled, shown; double drawn; } rows[] = {
      {0, true, true, 0}, {kPi / 2, true, true, 1.5707963267948966},
      {-kPi / 2, true, true, 4.71238898038469},
      {7, true, true, 0.7168146928204138},   // 7 - 2 pi
      {-7, true, true, 5.5663706143591725},  // 4 pi - 7
      {100, true, true, 5.752220392306214},  // 100 - 30 pi
      {2 * kPi, true, true, 0}, {-1e-20, true, true, 0},  // just below a turn is a whole turn
      {kNaN, true, false, 0}, {kInf, true, false, 0}, {-kInf, true, false, 0},
      {1, false, false, 0},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.theta << (row.enabled ? " enabled" : " disabled"));
    CPhaseDiagram dial;
    if (row.enabled) dial.EnableDiagram();
    dial.SetTheta(row.theta);
    EXPECT_EQ(dial.IsPointerShown(), row.shown);
    EXPECT_NEAR(dial.GetDrawnAngle(), row.drawn, 1e-12);
    EXPECT_TRUE(dial.GetTheta() == row.theta || std::isnan(row.theta)) << "kept as given";
  }
}

TEST(CLinearHallDiagram, SlicesAndStatusesOutsideTheRulesAreIgnored) {
  std::string labels;
  for (int i = -1; i <= 6; ++i) labels += std::string(CLinearHallDiagram::GetSliceLabel(i)) + " ";
  EXPECT_EQ(labels, " 001 011 010 110 100 101  ");
  const auto bits = [](int i) {
    return std::bitset<3>(std::string(CLinearHallDiagram::GetSliceLabel(i)));
  };
  for (int i = 0; i < 6; ++i)  // one sensor changes from a slice to the next
    EXPECT_EQ((bits(i) ^ bits((i + 1) % 6)).count(), 1u) << i;
  // clang-format off
  const struct { int slice, status; bool taken; } rows[] = {
      {0, 2, true}, {5, 1, true}, {3, 0, true}, {-1, 1, false}, {6, 1, false},
      {INT_MIN, 2, false}, {INT_MAX, 2, false}, {2, 3, false}, {2, -1, false}, {2, INT_MIN, false},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "slice " << row.slice << " status " << row.status);
    CLinearHallDiagram strip;
    ASSERT_EQ(strip.GetSliceNumber(), 6);
    for (int i = 0; i < 6; ++i) strip.SetSliceStatus(i, i == 3 ? 2 : 1);  // 1 1 1 2 1 1
    strip.SetSliceStatus(row.slice, row.status);
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(strip.GetSliceStatus(i), row.taken && i == row.slice ? row.status : 1 + (i == 3));
    for (int i : {-1, 6, INT_MIN, INT_MAX}) EXPECT_EQ(strip.GetSliceStatus(i), 0) << i;
  }
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

// Each diagram starts disabled; each step must notify its dialog exactly `changes` times.
TEST(Diagrams, RedrawOnlyWhenThePictureChanges) {
  CPhaseDiagram dial;
  CLinearHallDiagram strip;
  CLinearEncoderDiagram scale;
  int count = 0;
  for (axis::CustomControl* model :
       std::initializer_list<axis::CustomControl*>{&dial, &strip, &scale})
    model->SetChangeListener([&count] { ++count; });
  const struct {
    const char* name;
    std::function<void()> call;
    int changes;
  } steps[] = {
      {"an angle while disabled", [&] { dial.SetTheta(1); }, 0},
      {"dial enabled", [&] { dial.EnableDiagram(); }, 1},
      {"dial enabled again", [&] { dial.EnableDiagram(); }, 0},
      {"the same angle", [&] { dial.SetTheta(1); }, 0},
      {"zero", [&] { dial.SetTheta(0); }, 1},
      {"a whole turn", [&] { dial.SetTheta(2 * kPi); }, 0},
      {"NaN hides the pointer", [&] { dial.SetTheta(kNaN); }, 1},
      {"infinity keeps it hidden", [&] { dial.SetTheta(kInf); }, 0},
      {"dial disabled", [&] { dial.DisableDiagram(); }, 1},
      {"dial disabled again", [&] { dial.DisableDiagram(); }, 0},
      {"a status while disabled", [&] { strip.SetSliceStatus(0, 2); }, 0},
      {"strip enabled", [&] { strip.EnableDiagram(); }, 1},
      {"the same status", [&] { strip.SetSliceStatus(0, 2); }, 0},
      {"another status", [&] { strip.SetSliceStatus(0, 1); }, 1},
      {"no such slice", [&] { strip.SetSliceStatus(6, 1); }, 0},
      {"repaint", [&] { strip.RepaintDiagram(); }, 1},
      {"reset", [&] { strip.ResetDiagramStatus(); }, 1},
      {"reset again", [&] { strip.ResetDiagramStatus(); }, 0},
      {"a position while disabled", [&] { scale.SetPosition(5); }, 0},
      {"limits while disabled", [&] { scale.SetLimits(-10, 10); }, 1},
      {"the same limits", [&] { scale.SetLimits(-10, 10); }, 0},
      {"scale enabled", [&] { scale.EnableDiagram(); }, 1},
      {"the same position", [&] { scale.SetPosition(5); }, 0},
      {"another position", [&] { scale.SetPosition(-5); }, 1},
      {"an empty scale", [&] { scale.SetLimits(3, 3); }, 1},
  };
  for (const auto& step : steps) {
    const int before = count;
    step.call();
    EXPECT_EQ(count - before, step.changes) << step.name;
  }
  EXPECT_EQ(strip.GetSliceStatus(0), 0) << "reset";
}

}  // namespace
