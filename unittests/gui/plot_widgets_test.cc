// The plot and bar widgets drawn offscreen: the curves and the bar land on the pixels where the
// models put them, and nowhere else; the SVG the host writes shows the same picture.
#include "app/gui/plot_widgets.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <filesystem>
#include <memory>
#include <string>

#include "app/gui/custom_widgets.h"
#include "app/gui/diagram_widgets.h"
#include "app/gui/render.h"
#include "gui/gui_test_support.h"
#include "host/plot_picture.h"

namespace axis::gui {
namespace {

namespace fs = std::filesystem;

// Two flat curves in an 800 x 500 picture, whose plot area spans x 64..736 and y 16..456: the red
// one at 5 on axis 1 (0..10) runs along y = 236, the blue one at -0.5 on axis 2 (-1..1) along
// y = 346.
class PlotPixels : public ::testing::Test {
 protected:
  PlotPixels() {
    EnsureApplication();
    curves_.Add(CXYCurve(0, 1, 1, RGB16(2), 2));
    curves_.Add(CXYCurve(0, 2, 2, RGB16(5), 2));
    curves_.AddRow({0, 5, -0.5});
    curves_.AddRow({10, 5, -0.5});
    plot_.SetCurves(&curves_);
    EXPECT_TRUE(plot_.SetXRange(0, 10));
    EXPECT_TRUE(plot_.SetYRange(1, 0, 10));
    EXPECT_TRUE(plot_.SetYRange(2, -1, 1));
  }

  void ExpectCurvesWhereTheyBelong(const QImage& image) {
    ASSERT_EQ(image.size(), QSize(800, 500));
    // clang-format off
    const struct { int x, y; bool red, blue; } rows[] = {
        {550, 236, true, false}, {150, 236, true, false},  // the red curve
        {550, 346, false, true}, {300, 346, false, true},  // the blue curve
        {550, 290, false, false}, {550, 120, false, false}, {550, 420, false, false},
        {550, 480, false, false},  // below the area
    };
    // clang-format on
    for (const auto& row : rows) {
      SCOPED_TRACE(::testing::Message() << "(" << row.x << ", " << row.y << ")");
      EXPECT_EQ(Near(image, row.x, row.y, RGB16(2)), row.red);
      EXPECT_EQ(Near(image, row.x, row.y, RGB16(5)), row.blue);
    }
  }

  CGraphFilter curves_;
  CGraphWindow plot_{2, 0};
};

TEST_F(PlotPixels, TheWidgetDrawsEachCurveOnItsAxis) {
  PlotWidget widget(plot_, nullptr);
  widget.resize(800, 500);
  QImage image(800, 500, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::black);
  widget.render(&image);
  ExpectCurvesWhereTheyBelong(image);

  // Zoomed onto the top half of axis 1, the red curve leaves the area entirely.
  ASSERT_TRUE(plot_.SetYRange(1, 6, 10));
  image.fill(Qt::black);
  widget.render(&image);
  for (int y = 0; y < 500; ++y) ASSERT_FALSE(Near(image, 550, y, RGB16(2))) << y;
}

TEST_F(PlotPixels, AppendedPointsAreAddedAndAnyOtherChangeDrawsAnew) {
  curves_.RemoveAllPoints();
  PlotWidget widget(plot_, nullptr);
  widget.resize(800, 500);
  QImage image(800, 500, QImage::Format_ARGB32_Premultiplied);
  const auto render = [&] {
    image.fill(Qt::black);
    widget.render(&image);
  };
  render();
  for (int i = 0; i <= 10; ++i) {  // a live run: one point per paint
    curves_.AddRow({static_cast<double>(i), 5, -0.5});
    plot_.UpdateLastPoint();
    render();
  }
  ExpectCurvesWhereTheyBelong(image);

  // A shorter record in place of the last: the old lines are gone. At 8 on 0..10, y is 104.
  curves_.RemoveAllPoints();
  curves_.AddRow({0, 8, 0.5});
  curves_.AddRow({10, 8, 0.5});
  plot_.UpdateLastPoint();
  render();
  EXPECT_TRUE(Near(image, 550, 104, RGB16(2)));
  EXPECT_FALSE(Near(image, 550, 236, RGB16(2)));
  // Zoomed out to 0..20, 8 lies at y 280.
  ASSERT_TRUE(plot_.SetYRange(1, 0, 20));
  render();
  EXPECT_TRUE(Near(image, 550, 280, RGB16(2)));
  EXPECT_FALSE(Near(image, 550, 104, RGB16(2)));
}

TEST_F(PlotPixels, TheRegistryPngAndSvgShowTheSamePicture) {
  ExpectCurvesWhereTheyBelong(DrawCustomControl(plot_, QSize(800, 500)));

  const fs::path folder = fs::path(::testing::TempDir()) / "plot_pictures";
  fs::create_directories(folder);
  const std::string png = (folder / "plot.png").string();
  ASSERT_EQ(axis_front_end()->version, kFrontEndVersion);
  EXPECT_EQ(axis_front_end()->save_custom_control_picture(plot_, 800, 500, png), "");
  ExpectCurvesWhereTheyBelong(QImage(QString::fromStdString(png)));
  EXPECT_NE(SaveCustomControlPng(plot_, 800, 500, (folder / "no" / "plot.png").string()), "");

  const std::string svg = PlotSvg(plot_, 800, 500);
  QSvgRenderer renderer(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
  ASSERT_TRUE(renderer.isValid());
  QImage picture(800, 500, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::black);
  QPainter painter(&picture);
  renderer.render(&painter);
  painter.end();
  ExpectCurvesWhereTheyBelong(picture);
}

TEST(CustomWidgets, EachKindGetsItsOwnWidget) {
  EnsureApplication();
  struct Unknown : CustomControl {
    std::string_view Kind() const override { return "gauge"; }
  } unknown;
  struct Impostor : CustomControl {  // a kind's name on a model of another class
    std::string_view Kind() const override { return "hall"; }
  } impostor;
  CGraphWindow plot(2, 0);
  CBarGraph bar;
  CPhaseDiagram phase;
  CLinearHallDiagram hall;
  CLinearEncoderDiagram encoder;
  const auto widget = [](const CustomControl& model) {
    return std::unique_ptr<QWidget>(CreateCustomWidget(model, nullptr));
  };
  EXPECT_NE(dynamic_cast<PlotWidget*>(widget(plot).get()), nullptr);
  EXPECT_NE(dynamic_cast<BarWidget*>(widget(bar).get()), nullptr);
  EXPECT_NE(dynamic_cast<PhaseDiagramWidget*>(widget(phase).get()), nullptr);
  EXPECT_NE(dynamic_cast<HallDiagramWidget*>(widget(hall).get()), nullptr);
  EXPECT_NE(dynamic_cast<EncoderDiagramWidget*>(widget(encoder).get()), nullptr);
  EXPECT_EQ(widget(unknown), nullptr);
  EXPECT_EQ(widget(impostor), nullptr);
  EXPECT_TRUE(DrawCustomControl(unknown, QSize(10, 10)).isNull());
  EXPECT_TRUE(DrawCustomControl(plot, QSize(0, 10)).isNull());
}

TEST(BarPixels, TheBarRunsFromTheReferenceToTheClampedValue) {
  EnsureApplication();
  // 300 x 40 px: the bar's inside spans x 3..297 (the reference 0 at x 150), y 3..21.
  // clang-format off
  const struct { double value; bool at_110, at_190, at_260, at_290; } rows[] = {
      {0.75, false, true, false, false},
      {3.0, false, true, true, true},     // beyond the right limit: clamped to the end
      {-0.75, true, false, false, false},
      {0.0, false, false, false, false},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    CBarGraph bar;
    bar.SetLimits(-1.5, 1.5);
    bar.SetCurrentValue(row.value);
    bar.Repaint();
    const QImage image = DrawCustomControl(bar, QSize(300, 40));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(Near(image, 110, 12, bar.GetColour()), row.at_110);
    EXPECT_EQ(Near(image, 190, 12, bar.GetColour()), row.at_190);
    EXPECT_EQ(Near(image, 260, 12, bar.GetColour()), row.at_260);
    EXPECT_EQ(Near(image, 290, 12, bar.GetColour()), row.at_290);
    EXPECT_FALSE(Near(image, 190, 35, bar.GetColour())) << "the text row below the bar";
  }
}

}  // namespace
}  // namespace axis::gui
