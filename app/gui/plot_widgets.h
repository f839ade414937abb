// The desktop's widgets of plots (kind "plot", CGraphWindow), bar graphs (kind "bar", CBarGraph)
// and the simple oscilloscope view (kind "oscilloscope", CMC_Oscilloscope). They register
// themselves with the custom widget registry (custom_widgets.h) and paint their model's present
// state: a plot as the host's SVG pictures show it (host/plot_picture.h: the same layout, ticks
// and clipped polylines), a bar as its model's Layout says, the oscilloscope view as its traces
// between their bounds.
#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "host/plot.h"
#include "host/scope_logger.h"

class QPainter;

namespace axis::gui {

// Draws the plot into a picture of `size` px, from its top left corner.
void PaintPlot(QPainter& painter, const CGraphWindow& plot, QSize size);
// Draws the bar into a rectangle of `size` px: a frame, the bar in its colour from the reference to
// the value, a mark at the reference, an arrow at an end where the value was clamped, and, when
// the rectangle is at least 36 px high, the limits and the value written below the bar.
void PaintBar(QPainter& painter, const CBarGraph& bar, QSize size);
// Draws the simple oscilloscope view into `size` px: a grid of 8 x 10 divisions, each item's trace
// (its last CMC_Oscilloscope::kHistory values, newest on the right) between its lower bound at the
// bottom and its upper bound at the top, the title and each item's present value.
void PaintOscilloscope(QPainter& painter, const CMC_Oscilloscope& view, QSize size);

// The curve (its index in the plot's set) whose legend line lies under `point`, or nullopt.
std::optional<int> LegendLineAt(const CGraphWindow& plot, QSize size, QPointF point);

// Keeps its drawing of the curves between paints: while the plot's redraw count stays the same
// and no curve got shorter, a paint adds only the lines of the points appended since (a live run
// draws point by point) and redraws the strip around points replaced in place
// (CGraphWindow::UpdatePoint, a scope's circular buffer); any other change draws the curves anew.
//
// In a dialog the widget is interactive (SetInteractive): the mouse wheel zooms in and out around
// the pointer, a drag with the left button pans, a double click zooms out (DoZoomOut). Over the
// legend line of a curve drawn in divisions, the wheel steps its channel's scale instead: each
// notch away from the user one step finer (-1), towards the user one coarser (+1), handed to
// `channel_step` with the channel (the curve's y column - 1).
class PlotWidget : public QWidget {
 public:
  PlotWidget(const CGraphWindow& model, QWidget* parent);
  const CGraphWindow& Model() const { return model_; }
  using ChannelStep = std::function<void(int channel, int step)>;
  void SetInteractive(CGraphWindow* model, ChannelStep channel_step);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void UpdateCurveLayer();
  // Redraws the lines around the points first..last of every curve; false when it cannot.
  bool RedrawStrip(size_t first, size_t last);
  // The plot's ranges scaled by `factor` around the point `at` (px).
  void ZoomAround(QPointF at, double factor);

  const CGraphWindow& model_;
  CGraphWindow* zoomable_ = nullptr;  // the same model, when the widget may change its zoom
  ChannelStep channel_step_;
  QImage layer_;  // the curves on a transparent ground
  uint64_t redraw_count_ = 0;
  const CGraphFilter* layer_curves_ = nullptr;
  std::vector<size_t> drawn_;    // points of each curve in the layer
  std::optional<QPointF> drag_;  // where the pan started
  axis::Range drag_x_;
  std::vector<axis::Range> drag_y_;
  int wheel_rest_ = 0;  // eighths of a degree not yet a whole notch
};

class OscilloscopeWidget : public QWidget {
 public:
  OscilloscopeWidget(const CMC_Oscilloscope& model, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const CMC_Oscilloscope& model_;
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
