// The scope graph and the simple oscilloscope view drawn offscreen: points replaced in place
// redraw their strip only, the wheel steps a channel over its legend line and zooms elsewhere,
// and the view's traces lie between their bounds.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QWheelEvent>
#include <utility>
#include <vector>

#include "app/gui/custom_widgets.h"
#include "app/gui/plot_widgets.h"
#include "gui/gui_test_support.h"

namespace axis::gui {
namespace {

// A screen of 8 divisions over 0..10 s in an 800 x 500 picture: the area spans x 64..784 and
// y 16..456, so +2 divisions lie at y 126, -2 at y 346, and t at x 64 + 72 t.
class ScopeGraph : public ::testing::Test {
 protected:
  ScopeGraph() {
    curves_.SetScreen(8, {0.0, 10.0});
    curves_.SetColumn(1, "Speed", "m/s");
    curves_.SetColumnDivision(1, 0.5, 1.0);  // 2 divisions up is 2 m/s
    curves_.Add(CXYCurve(0, 1, 1, RGB16(2), 2));
    for (int t = 0; t <= 10; ++t) curves_.AddRow({static_cast<double>(t), 2.0});
    plot_.SetCurves(&curves_);
    plot_.DoZoomOut();
    widget_.resize(800, 500);
    widget_.SetInteractive(&plot_,
                           [this](int channel, int step) { steps_.emplace_back(channel, step); });
  }
  QImage Render() {
    QImage image(800, 500, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    widget_.render(&image);
    return image;
  }
  void Wheel(QPointF at, int notches) {
    QWheelEvent event(at, widget_.mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&widget_, &event);
  }

  const bool application_ = (EnsureApplication(), true);  // before the widget
  CGraphFilter curves_;
  CGraphWindow plot_{4, 0};
  PlotWidget widget_{plot_, nullptr};
  std::vector<std::pair<int, int>> steps_;
};

TEST_F(ScopeGraph, ReplacedPointsRedrawTheirStripOnly) {
  QImage image = Render();
  EXPECT_TRUE(Near(image, 352, 126, RGB16(2)));
  const uint64_t redraws = plot_.GetRedrawCount();
  for (int t = 3; t <= 5; ++t) {  // 0 m/s is -2 divisions
    curves_.SetRow(static_cast<size_t>(t), {static_cast<double>(t), 0.0});
    plot_.UpdatePoint(t);
  }
  EXPECT_EQ(plot_.GetRedrawCount(), redraws) << "no full redraw asked for";
  image = Render();
  // clang-format off
  const struct { int x, y; bool red; } rows[] = {
      {352, 346, true}, {352, 126, false},   // t = 4: the new value, the old one gone
      {640, 126, true}, {100, 126, true},    // t = 8 and 0.5: outside the strip, as before
      {640, 346, false},
  };
  // clang-format on
  for (const auto& row : rows)
    EXPECT_EQ(Near(image, row.x, row.y, RGB16(2)), row.red) << row.x << ", " << row.y;
}

TEST_F(ScopeGraph, WheelStepsAChannelOverItsLegendLineAndZoomsElsewhere) {
  Render();
  Wheel(QPointF(90, 36), 1);  // the legend's first line
  Wheel(QPointF(90, 36), -2);
  EXPECT_EQ(steps_, (std::vector<std::pair<int, int>>{{0, -1}, {0, 2}}));
  EXPECT_EQ(plot_.GetXRange(), (Range{0, 10}));

  Wheel(QPointF(424, 236), 1);  // the centre: 5 s, 0 divisions
  EXPECT_NEAR(plot_.GetXRange().min, 1.0, 1e-9);
  EXPECT_NEAR(plot_.GetXRange().max, 9.0, 1e-9);
  EXPECT_NEAR(plot_.GetYRange(1).max, 3.2, 1e-9);
  QTest::mouseDClick(&widget_, Qt::LeftButton, Qt::NoModifier, QPoint(424, 236));
  EXPECT_EQ(plot_.GetXRange(), (Range{0, 10}));
  EXPECT_EQ(plot_.GetYRange(3), (Range{-4, 4}));
  EXPECT_EQ(steps_.size(), 2u);
}

TEST(OscilloscopeView, TracesLieBetweenTheirBoundsNewestOnTheRight) {
  EnsureApplication();
  CMC_Oscilloscope view;
  view.Initialize("", 2, 0);
  ASSERT_EQ(view.GetItemCount(), 2);
  EXPECT_EQ(view.GetItem(2), nullptr);
  *view.GetItem(0) = {10.0, 0.0, 0.0, RGB16(2)};    // 5 lies half way up
  *view.GetItem(1) = {10.0, -10.0, 0.0, RGB16(5)};  // 5 lies three quarters up
  for (int i = 0; i <= CMC_Oscilloscope::kHistory; ++i) {
    view.GetItem(0)->value = i == 0 ? 0.0 : 5.0;
    view.GetItem(1)->value = 5.0;
    view.UpdateLastPoint();
  }
  const std::vector<double> history = view.History(0);
  ASSERT_EQ(history.size(), static_cast<size_t>(CMC_Oscilloscope::kHistory));
  EXPECT_EQ(history.front(), 5.0) << "the oldest point has left the ring";
  const QImage image = DrawCustomControl(view, QSize(200, 101));
  ASSERT_FALSE(image.isNull());
  EXPECT_TRUE(Near(image, 100, 50, RGB16(2)));
  EXPECT_TRUE(Near(image, 100, 25, RGB16(5)));
  EXPECT_FALSE(Near(image, 100, 75, RGB16(2)));
  EXPECT_FALSE(Near(image, 100, 75, RGB16(5)));
}

}  // namespace
}  // namespace axis::gui
