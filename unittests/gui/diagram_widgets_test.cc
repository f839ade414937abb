// The diagrams' widgets drawn offscreen: the pointer, the slice colours and the marker land on the
// pixels where the models put them. Pictures of each diagram, small and larger, go to
// <build>/screenshots for review.
#include "app/gui/diagram_widgets.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "app/gui/custom_widgets.h"
#include "gui/gui_test_support.h"

namespace axis::gui {
namespace {

constexpr double kPi = 3.141592653589793;
const Colour kRed = RGB16(2), kBlue = RGB16(5), kLightBlue = RGB16(13), kWhite = RGB16(15);

bool AnyNear(const QImage& image, Colour colour) {
  for (int i = 0; i < image.width() * image.height(); ++i)
    if (Near(image, i % image.width(), i / image.width(), colour)) return true;
  return false;
}

TEST(DiagramPixels, ThePhasePointerPointsAtTheAngleModuloATurn) {
  EnsureApplication();
  // 100 x 100 px: the dial's centre is pixel (50, 50); the pointer covers the pixel 20 px from it
  // in its direction: up (50, 30), left (30, 50), right (70, 50).
  // clang-format off
  const struct { double theta; bool enabled, up, left, right; } rows[] = {
      {kPi / 2, true, true, false, false}, {kPi, true, false, true, false},
      {0, true, false, false, true}, {-1.5 * kPi, true, true, false, false},
      {3 * kPi, true, false, true, false}, {kPi / 2, false, false, false, false},
      {std::numeric_limits<double>::quiet_NaN(), true, false, false, false},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.theta << (row.enabled ? "" : " disabled"));
    CPhaseDiagram dial;
    if (row.enabled) dial.EnableDiagram();
    dial.SetTheta(row.theta);
    const QImage image = DrawCustomControl(dial, QSize(100, 100));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(Near(image, 50, 30, kRed), row.up);
    EXPECT_EQ(Near(image, 30, 50, kRed), row.left);
    EXPECT_EQ(Near(image, 70, 50, kRed), row.right);
    EXPECT_EQ(AnyNear(image, kRed), row.up || row.left || row.right) << "no pointer elsewhere";
  }
}

TEST(DiagramPixels, EachHallSliceTakesTheColourOfItsStatus) {
  EnsureApplication();
  // 300 x 40 px: slice i spans about x 50 i .. 50 i + 50; at y 6 it is clear of its label.
  CLinearHallDiagram strip;
  const int statuses[] = {0, 1, 2, 1, 0, 2};
  for (int i = 0; i < 6; ++i) strip.SetSliceStatus(i, statuses[i]);
  const Colour enabled[] = {kWhite, kLightBlue, kBlue, kLightBlue, kWhite, kBlue};
  const QImage greyed = DrawCustomControl(strip, QSize(300, 40));
  strip.EnableDiagram();
  const QImage shown = DrawCustomControl(strip, QSize(300, 40));
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(Near(shown, 25 + 50 * i, 6, enabled[i])) << i;
    EXPECT_TRUE(Near(greyed, 25 + 50 * i, 6, kWhite)) << i;
  }
}

TEST(DiagramPixels, TheEncoderMarkerSitsAtThePositionOrAtTheEndItLiesBeyond) {
  EnsureApplication();
  // 400 x 60 px: the scale runs from x 9.5 (the minimum) to x 390.5 (the maximum), the marker's
  // triangle crosses y 8; on -1000..1000, 500 lies at x 295.25 and -500 at x 104.75.
  // clang-format off
  const struct { long min, max, position; bool enabled; int x; Colour colour; } rows[] = {
      {-1000, 1000, 500, true, 295, kBlue}, {-1000, 1000, -500, true, 104, kBlue},
      {-1000, 1000, 5000, true, 390, kRed}, {-1000, 1000, -5000, true, 9, kRed},
      {0, 0, 7, true, 200, kBlue},  // an empty scale: the middle
      {-1000, 1000, 500, false, -100, kBlue},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.position << " on " << row.min << ".." << row.max);
    CLinearEncoderDiagram scale;
    if (row.enabled) scale.EnableDiagram();
    scale.SetLimits(row.min, row.max);
    scale.SetPosition(row.position);
    const QImage image = DrawCustomControl(scale, QSize(400, 60));
    ASSERT_FALSE(image.isNull());
    for (int x = 0; x < 400; ++x) {
      const int distance = std::abs(x - row.x);
      if (distance > 2 && distance < 10) continue;  // the triangle's edges
      EXPECT_EQ(Near(image, x, 8, row.colour), distance <= 2) << x;
      EXPECT_FALSE(Near(image, x, 8, row.colour == kRed ? kBlue : kRed)) << x;
    }
  }
}

TEST(DiagramPictures, EachDiagramSmallAndLarger) {
  EnsureApplication();
  const std::filesystem::path folder = std::filesystem::path(AXIS_BUILD_DIR) / "screenshots";
  std::filesystem::create_directories(folder);
  CPhaseDiagram dial, dial_off;
  CLinearHallDiagram strip, strip_off;
  CLinearEncoderDiagram scale, beyond, empty, scale_off;
  dial.EnableDiagram();
  dial.SetTheta(2.0);
  dial_off.SetTheta(2.0);
  strip.EnableDiagram();
  for (int i : {0, 1, 2}) strip.SetSliceStatus(i, i == 2 ? 2 : 1);
  scale.SetLimits(-1200000, 1200000);
  scale.SetPosition(345678);
  beyond.SetLimits(-4096, 4096);
  beyond.SetPosition(-10000);
  empty.SetPosition(12);
  scale_off.SetLimits(-4096, 4096);
  for (CLinearEncoderDiagram* e : {&scale, &beyond, &empty}) e->EnableDiagram();
  // clang-format off
  const struct { const char* name; const CustomControl& model; int width, height; } pictures[] = {
      {"phase", dial, 60, 60}, {"phase", dial, 140, 140}, {"phase", dial, 240, 80},
      {"phase-disabled", dial_off, 100, 100},
      {"hall", strip, 120, 22}, {"hall", strip, 180, 30}, {"hall", strip, 400, 60},
      {"hall-disabled", strip_off, 180, 30},
      {"encoder", scale, 200, 24}, {"encoder", scale, 130, 40}, {"encoder", scale, 180, 40},
      {"encoder", scale, 400, 70}, {"encoder-beyond", beyond, 240, 45},
      {"encoder-empty", empty, 240, 45}, {"encoder-disabled", scale_off, 240, 45},
  };
  // clang-format on
  for (const auto& p : pictures) {
    const std::string file = std::string("diagram-") + p.name + "-" + std::to_string(p.width) +
                             "x" + std::to_string(p.height) + ".png";
    EXPECT_EQ(SaveCustomControlPng(p.model, p.width, p.height, (folder / file).string()), "");
    for (QSize tiny : {QSize(1, 1), QSize(9, 4), QSize(4, 60)})  // nothing fits: drawn blank
      EXPECT_FALSE(DrawCustomControl(p.model, tiny).isNull());
  }
}

}  // namespace
}  // namespace axis::gui
