// The desktop's widgets of plots (kind "plot", CGraphWindow) and bar graphs (kind "bar",
// CBarGraph). Both register themselves with the custom widget registry (custom_widgets.h) and
// paint their model's present state: a plot as the host's SVG pictures show it
// (host/plot_picture.h: the same layout, ticks and clipped polylines), a bar as its model's Layout
// says.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "host/plot.h"

class QPainter;

namespace axis::gui {

// Draws the plot into a picture of `size` px, from its top left corner.
void PaintPlot(QPainter& painter, const CGraphWindow& plot, QSize size);
// Draws the bar into a rectangle of `size` px: a frame, the bar in its colour from the reference to
// the value, a mark at the reference, an arrow at an end where the value was clamped, and, when
// the rectangle is at least 36 px high, the limits and the value written below the bar.
void PaintBar(QPainter& painter, const CBarGraph& bar, QSize size);

// Keeps its drawing of the curves between paints: while the plot's redraw count stays the same
// and no curve got shorter, a paint adds only the lines of the points appended since (a live run
// draws point by point); any other change draws the curves anew.
class PlotWidget : public QWidget {
 public:
  PlotWidget(const CGraphWindow& model, QWidget* parent);
  const CGraphWindow& Model() const { return model_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void UpdateCurveLayer();

  const CGraphWindow& model_;
  QImage layer_;  // the curves on a transparent ground
  uint64_t redraw_count_ = 0;
  const CGraphFilter* layer_curves_ = nullptr;
  std::vector<size_t> drawn_;  // points of each curve in the layer
};

class BarWidget : public QWidget {
 public:
  BarWidget(const CBarGraph& model, QWidget* parent);
  const CBarGraph& Model() const { return model_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const CBarGraph& model_;
};

}  // namespace axis::gui
