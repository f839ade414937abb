#include "app/gui/plot_widgets.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/gui/custom_widgets.h"
#include "host/number_text.h"
#include "host/plot_picture.h"
#include "host/text.h"

namespace axis::gui {

namespace {

const QColor kTextColour(0x3a, 0x3f, 0x44);
const QColor kGridColour(0xe3, 0xe6, 0xea);

QColor ToQColor(axis::Colour colour) {
  return QColor(axis::RedOf(colour), axis::GreenOf(colour), axis::BlueOf(colour));
}

QString Latin1(const std::string& text) {
  return QString::fromStdString(axis::Windows1252ToUtf8(text));
}

// Text whose anchor point is (x, y): `horizontal` says which side of it the text lies on, and it
// is centred vertically there.
void DrawLabel(QPainter& painter, double x, double y, Qt::Alignment horizontal,
               const std::string& text) {
  constexpr double kRoom = 400.0;
  QRectF box(x - kRoom / 2, y - 10, kRoom, 20);
  if (horizontal == Qt::AlignRight) box.moveRight(x);
  if (horizontal == Qt::AlignLeft) box.moveLeft(x);
  painter.drawText(box, static_cast<int>(horizontal | Qt::AlignVCenter), Latin1(text));
}

// A title along the height of the plot area, shortened with an ellipsis when longer than it.
void DrawVerticalTitle(QPainter& painter, double x, double y, double length,
                       const std::string& text) {
  painter.save();
  painter.translate(x, y);
  painter.rotate(-90);
  const QString elided =
      QFontMetricsF(painter.font()).elidedText(Latin1(text), Qt::ElideMiddle, length);
  painter.drawText(QRectF(-length / 2, -10, length, 20), Qt::AlignCenter, elided);
  painter.restore();
}

QFont PlotFont(QFont font) {
  font.setPixelSize(12);
  return font;
}

// The legend's frame: beside the area's top left corner, as wide as its longest line.
QRectF LegendBox(const QFontMetricsF& metrics, const CGraphFilter& curves,
                 const axis::PlotArea& area) {
  double longest = 0.0;
  for (int i = 0; i < curves.GetCount(); ++i)
    longest = std::max(longest,
                       metrics.horizontalAdvance(Latin1(LegendText(curves, *curves.GetCurve(i)))));
  return QRectF(area.left + 8, area.top + 8, 40 + longest, 8 + 16.0 * curves.GetCount());
}

void DrawLegend(QPainter& painter, const CGraphFilter& curves, const axis::PlotArea& area) {
  const QRectF box = LegendBox(QFontMetricsF(painter.font()), curves, area);
  painter.setPen(kGridColour);
  painter.setBrush(QColor(255, 255, 255, 217));
  painter.drawRect(box);
  painter.setBrush(Qt::NoBrush);
  for (int i = 0; i < curves.GetCount(); ++i) {
    const CXYCurve& curve = *curves.GetCurve(i);
    const double row = box.top() + 12 + 16.0 * i;
    painter.setPen(
        QPen(ToQColor(curve.GetColour()), curve.GetLineWidth(), Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(box.left() + 6, row), QPointF(box.left() + 28, row));
    painter.setPen(kTextColour);
    DrawLabel(painter, box.left() + 34, row, Qt::AlignLeft, LegendText(curves, curve));
  }
}

// The background and the grid, beneath the curves.
void PaintPlotUnder(QPainter& painter, const CGraphWindow& plot, QSize size) {
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  if ((plot.GetOptions() & CGraphWindow::kNoGrid) != 0) return;
  const axis::PlotArea a = PlotAreaOf(plot, size.width(), size.height());
  painter.setPen(QPen(kGridColour, 1));
  for (const Tick& t : AxisTicks(plot.GetXRange(), TickCountX(a.width))) {
    const double x = XPixel(plot, a, t.value);
    painter.drawLine(QPointF(x, a.top), QPointF(x, a.Bottom()));
  }
  for (const Tick& t : AxisTicks(plot.GetYRange(1), TickCountY(a.height))) {
    const double y = YPixel(plot, 1, a, t.value);
    painter.drawLine(QPointF(a.left, y), QPointF(a.Right(), y));
  }
}

// The curves' lines from point first[i] of curve i on (all of them without `first`), up to point
// `last`.
void PaintCurves(QPainter& painter, const CGraphWindow& plot, QSize size,
                 const std::vector<size_t>* first, size_t last = SIZE_MAX) {
  const CGraphFilter* curves = plot.GetCurves();
  if (curves == nullptr) return;
  const axis::PlotArea a = PlotAreaOf(plot, size.width(), size.height());
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setClipRect(QRectF(a.left, a.top, a.width, a.height));
  for (int i = 0; i < curves->GetCount(); ++i) {
    const CXYCurve& curve = *curves->GetCurve(i);
    painter.setPen(QPen(ToQColor(curve.GetColour()), curve.GetLineWidth(), Qt::SolidLine,
                        Qt::RoundCap, Qt::RoundJoin));
    const size_t from = first == nullptr ? 0 : (*first)[static_cast<size_t>(i)];
    // Segment by segment: a wide pen strokes a long polyline as one self-overlapping outline,
    // many times slower to fill than its segments with round caps, which look the same.
    std::vector<QLineF> lines;
    for (const std::vector<Pixel>& run : CurvePolylines(plot, curve, a, from, last)) {
      for (size_t k = 1; k < run.size(); ++k)
        lines.emplace_back(run[k - 1].x, run[k - 1].y, run[k].x, run[k].y);
    }
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
  }
  painter.restore();
}

// The frame, the ticks and their labels, the axis titles and the legend, above the curves.
void PaintPlotOver(QPainter& painter, const CGraphWindow& plot, QSize size) {
  painter.save();
  painter.setFont(PlotFont(painter.font()));
  const axis::PlotArea a = PlotAreaOf(plot, size.width(), size.height());
  const bool right_axis = plot.AxisUsed(2);
  painter.setPen(QPen(kTextColour, 1));
  painter.drawRect(QRectF(a.left, a.top, a.width, a.height));
  for (const Tick& t : AxisTicks(plot.GetXRange(), TickCountX(a.width))) {
    const double x = XPixel(plot, a, t.value);
    painter.drawLine(QPointF(x, a.Bottom()), QPointF(x, a.Bottom() + 4));
    DrawLabel(painter, x, a.Bottom() + 13, Qt::AlignHCenter, t.label);
  }
  for (const Tick& t : AxisTicks(plot.GetYRange(1), TickCountY(a.height))) {
    const double y = YPixel(plot, 1, a, t.value);
    painter.drawLine(QPointF(a.left - 4, y), QPointF(a.left, y));
    DrawLabel(painter, a.left - 6, y, Qt::AlignRight, t.label);
  }
  if (right_axis) {
    for (const Tick& t : AxisTicks(plot.GetYRange(2), TickCountY(a.height))) {
      const double y = YPixel(plot, 2, a, t.value);
      painter.drawLine(QPointF(a.Right(), y), QPointF(a.Right() + 4, y));
      DrawLabel(painter, a.Right() + 6, y, Qt::AlignLeft, t.label);
    }
  }
  DrawLabel(painter, a.left + a.width / 2, a.Bottom() + 32, Qt::AlignHCenter, plot.XTitle());
  DrawVerticalTitle(painter, 14, a.top + a.height / 2, a.height, plot.YTitle(1));
  if (right_axis)
    DrawVerticalTitle(painter, size.width() - 12.0, a.top + a.height / 2, a.height, plot.YTitle(2));
  const CGraphFilter* curves = plot.GetCurves();
  if ((plot.GetOptions() & CGraphWindow::kNoLegend) == 0 && curves != nullptr &&
      curves->GetCount() > 0)
    DrawLegend(painter, *curves, a);
  painter.restore();
}

}  // namespace

void PaintPlot(QPainter& painter, const CGraphWindow& plot, QSize size) {
  PaintPlotUnder(painter, plot, size);
  PaintCurves(painter, plot, size, nullptr);
  PaintPlotOver(painter, plot, size);
}

void PaintBar(QPainter& painter, const CBarGraph& bar, QSize size) {
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  QFont font = painter.font();
  font.setPixelSize(11);
  painter.setFont(font);
  const bool with_text = size.height() >= 36;
  const QRectF track(0.5, 0.5, std::max(0, size.width() - 1),
                     std::max(0, size.height() - (with_text ? 16 : 0) - 1));
  painter.setPen(QPen(kTextColour, 1));
  painter.drawRect(track);
  const QRectF inner = track.adjusted(2.5, 2.5, -2.5, -2.5);
  const CBarGraph::Geometry g = bar.Layout();
  if (g.drawn && inner.width() > 0 && inner.height() > 0) {
    const auto x = [&inner](double fraction) { return inner.left() + fraction * inner.width(); };
    const double from = x(g.from), to = x(g.to);
    painter.fillRect(QRectF(std::min(from, to), inner.top(), std::fabs(to - from), inner.height()),
                     ToQColor(bar.GetColour()));
    painter.drawLine(QPointF(from, track.top()), QPointF(from, track.bottom()));
    // An arrow at an end the value lies beyond.
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(kTextColour);
    const double mid = inner.center().y(), half = std::min(inner.height() / 2, 5.0);
    if (g.below)
      painter.drawPolygon(
          QPolygonF({QPointF(inner.left(), mid), QPointF(inner.left() + half, mid - half),
                     QPointF(inner.left() + half, mid + half)}));
    if (g.above)
      painter.drawPolygon(
          QPolygonF({QPointF(inner.right(), mid), QPointF(inner.right() - half, mid - half),
                     QPointF(inner.right() - half, mid + half)}));
  }
  if (with_text) {
    const double y = size.height() - 8.0;
    painter.setPen(kTextColour);
    DrawLabel(painter, 1, y, Qt::AlignLeft, FormatNumber(bar.GetLeftLimit(), 4));
    DrawLabel(painter, size.width() - 1.0, y, Qt::AlignRight, FormatNumber(bar.GetRightLimit(), 4));
    DrawLabel(painter, size.width() / 2.0, y, Qt::AlignHCenter,
              FormatNumber(bar.GetCurrentValue(), 4));
  }
  painter.restore();
}

std::optional<int> LegendLineAt(const CGraphWindow& plot, QSize size, QPointF point) {
  const CGraphFilter* curves = plot.GetCurves();
  if ((plot.GetOptions() & CGraphWindow::kNoLegend) != 0 || curves == nullptr ||
      curves->GetCount() == 0)
    return std::nullopt;
  QFont font;
  const QRectF box = LegendBox(QFontMetricsF(PlotFont(font)), *curves,
                               PlotAreaOf(plot, size.width(), size.height()));
  if (!box.contains(point)) return std::nullopt;
  const int line = static_cast<int>((point.y() - box.top() - 4.0) / 16.0);
  if (line < 0 || line >= curves->GetCount()) return std::nullopt;
  return line;
}

void PaintOscilloscope(QPainter& painter, const CMC_Oscilloscope& view, QSize size) {
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  const QRectF screen(0.5, 0.5, std::max(0, size.width() - 1), std::max(0, size.height() - 1));
  painter.setPen(QPen(kGridColour, 1));
  for (int i = 1; i < 10; ++i) {
    const double x = screen.left() + screen.width() * i / 10;
    painter.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom()));
  }
  for (int i = 1; i < 8; ++i) {
    const double y = screen.top() + screen.height() * i / 8;
    painter.drawLine(QPointF(screen.left(), y), QPointF(screen.right(), y));
  }
  // Two to three points a pixel: antialiasing would halve the refresh rate for nothing visible.
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setClipRect(screen);
  const double step = screen.width() / (CMC_Oscilloscope::kHistory - 1);
  std::vector<QLineF> lines;
  for (int item = 0; item < view.GetItemCount(); ++item) {
    const std::vector<double> history = view.History(item);
    // The newest point at the right edge: a full history spans the width.
    const double x0 = screen.right() - step * (static_cast<double>(history.size()) - 1);
    lines.clear();
    std::optional<QPointF> previous;  // none after a value that is not a number
    for (size_t k = 0; k < history.size(); ++k) {
      const double f = view.Fraction(item, history[k]);
      if (!std::isfinite(f)) {
        previous.reset();
        continue;
      }
      // Far outside the bounds the line is pinned just beyond the screen.
      const QPointF p(x0 + step * static_cast<double>(k),
                      screen.bottom() - std::clamp(f, -0.05, 1.05) * screen.height());
      if (previous) lines.emplace_back(*previous, p);
      previous = p;
    }
    painter.setPen(QPen(ToQColor(view.GetItem(item)->colour), 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
  }
  painter.setClipping(false);
  QFont font = painter.font();
  font.setPixelSize(11);
  painter.setFont(font);
  painter.setPen(kTextColour);
  if (!view.GetTitle().empty()) DrawLabel(painter, 6, 10, Qt::AlignLeft, view.GetTitle());
  for (int item = 0; item < view.GetItemCount(); ++item) {
    const CMC_Oscilloscope::Item& it = *view.GetItem(item);
    painter.setPen(ToQColor(it.colour));
    DrawLabel(painter, size.width() - 6.0, 10.0 + 14.0 * item, Qt::AlignRight,
              FormatNumber(it.value, 6));
  }
  painter.restore();
}

PlotWidget::PlotWidget(const CGraphWindow& model, QWidget* parent)
    : QWidget(parent), model_(model) {}

void PlotWidget::SetInteractive(CGraphWindow* model, ChannelStep channel_step) {
  zoomable_ = model == &model_ ? model : nullptr;
  channel_step_ = std::move(channel_step);
}

void PlotWidget::paintEvent(QPaintEvent*) {
  if (size().isEmpty()) return;
  UpdateCurveLayer();
  QPainter painter(this);
  PaintPlotUnder(painter, model_, size());
  painter.drawImage(QPointF(0, 0), layer_);
  PaintPlotOver(painter, model_, size());
}

void PlotWidget::UpdateCurveLayer() {
  const CGraphFilter* curves = model_.GetCurves();
  const size_t count = curves == nullptr ? 0 : static_cast<size_t>(curves->GetCount());
  const qreal ratio = devicePixelRatioF();
  bool anew = layer_.deviceIndependentSize() != QSizeF(size()) ||
              layer_.devicePixelRatio() != ratio || redraw_count_ != model_.GetRedrawCount() ||
              layer_curves_ != curves || drawn_.size() != count;
  for (size_t i = 0; !anew && i < count; ++i)
    anew = curves->GetCurve(static_cast<int>(i))->Points().size() < drawn_[i];
  size_t first = 0, last = 0;
  const bool replaced = zoomable_ != nullptr && zoomable_->TakeUpdatedPoints(first, last);
  if (!anew && replaced) anew = !RedrawStrip(first, last);
  if (anew) {
    layer_ = QImage((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    layer_.setDevicePixelRatio(ratio);
    layer_.fill(Qt::transparent);
    redraw_count_ = model_.GetRedrawCount();
    layer_curves_ = curves;
    drawn_.assign(count, 0);
  }
  // The lines from the last point drawn on: the appended points join the curve drawn so far.
  std::vector<size_t> from(count);
  for (size_t i = 0; i < count; ++i) from[i] = drawn_[i] == 0 ? 0 : drawn_[i] - 1;
  QPainter painter(&layer_);
  PaintCurves(painter, model_, size(), &from);
  for (size_t i = 0; i < count; ++i)
    drawn_[i] = curves->GetCurve(static_cast<int>(i))->Points().size();
}

bool PlotWidget::RedrawStrip(size_t first, size_t last) {
  const CGraphFilter* curves = model_.GetCurves();
  if (curves == nullptr || curves->GetCount() == 0) return true;
  // The curves of a set share the time: the strip runs from the point before to the one after.
  const std::vector<axis::XYPoint>& points = curves->GetCurve(0)->Points();
  if (points.empty() || first >= points.size()) return true;
  const size_t from = first == 0 ? 0 : first - 1;
  const size_t to = std::min(last + 1, points.size() - 1);
  const axis::PlotArea a = PlotAreaOf(model_, width(), height());
  const double x0 = XPixel(model_, a, points[from].x), x1 = XPixel(model_, a, points[to].x);
  if (!std::isfinite(x0) || !std::isfinite(x1) || x1 < x0) return false;
  QPainter painter(&layer_);
  const QRectF strip(x0, a.top - 4, x1 - x0, a.height + 8);
  painter.setCompositionMode(QPainter::CompositionMode_Clear);
  painter.fillRect(strip, Qt::transparent);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.setClipRect(strip);
  const std::vector<size_t> starts(static_cast<size_t>(curves->GetCount()), from);
  PaintCurves(painter, model_, size(), &starts, to);
  // The points of the strip that were appended are drawn now.
  for (size_t i = 0; i < drawn_.size(); ++i) drawn_[i] = std::max(drawn_[i], to + 1);
  return true;
}

void PlotWidget::ZoomAround(QPointF at, double factor) {
  const axis::PlotArea a = PlotAreaOf(model_, width(), height());
  if (zoomable_ == nullptr || a.width <= 0 || a.height <= 0) return;
  const double fx = std::clamp((at.x() - a.left) / a.width, 0.0, 1.0);
  const double fy = std::clamp((a.Bottom() - at.y()) / a.height, 0.0, 1.0);
  const auto scaled = [factor](axis::Range r, double f) {
    const double centre = r.min + f * (r.max - r.min);
    return axis::Range{centre - (centre - r.min) * factor, centre + (r.max - centre) * factor};
  };
  const axis::Range x = scaled(model_.GetXRange(), fx);
  zoomable_->SetXRange(x.min, x.max);
  for (int axis = 1; axis <= model_.GetAxesCount(); ++axis) {
    const axis::Range y = scaled(model_.GetYRange(axis), fy);
    zoomable_->SetYRange(axis, y.min, y.max);
  }
}

void PlotWidget::wheelEvent(QWheelEvent* event) {
  if (zoomable_ == nullptr) return QWidget::wheelEvent(event);
  wheel_rest_ += event->angleDelta().y();
  const int notches = wheel_rest_ / 120;
  wheel_rest_ -= notches * 120;
  event->accept();
  if (notches == 0) return;
  const QPointF at = event->position();
  const CGraphFilter* curves = model_.GetCurves();
  if (const std::optional<int> line = LegendLineAt(model_, size(), at); line && curves) {
    const int column = curves->GetCurve(*line)->GetYColumn();
    if (curves->ColumnDivision(column) != nullptr) {
      if (channel_step_) channel_step_(column - 1, -notches);
      return;
    }
  }
  ZoomAround(at, std::pow(0.8, notches));
  update();
}

void PlotWidget::mousePressEvent(QMouseEvent* event) {
  if (zoomable_ == nullptr || event->button() != Qt::LeftButton)
    return QWidget::mousePressEvent(event);
  drag_ = event->position();
  drag_x_ = model_.GetXRange();
  drag_y_.clear();
  for (int axis = 1; axis <= model_.GetAxesCount(); ++axis)
    drag_y_.push_back(model_.GetYRange(axis));
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event) {
  const axis::PlotArea a = PlotAreaOf(model_, width(), height());
  if (!drag_ || zoomable_ == nullptr || a.width <= 0 || a.height <= 0) return;
  const QPointF moved = event->position() - *drag_;
  const double dx = moved.x() / a.width * (drag_x_.max - drag_x_.min);
  zoomable_->SetXRange(drag_x_.min - dx, drag_x_.max - dx);
  for (size_t i = 0; i < drag_y_.size(); ++i) {
    const double dy = moved.y() / a.height * (drag_y_[i].max - drag_y_[i].min);
    zoomable_->SetYRange(static_cast<int>(i) + 1, drag_y_[i].min + dy, drag_y_[i].max + dy);
  }
  update();
}

void PlotWidget::mouseReleaseEvent(QMouseEvent* event) {
  drag_.reset();
  QWidget::mouseReleaseEvent(event);
}

void PlotWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (zoomable_ == nullptr) return QWidget::mouseDoubleClickEvent(event);
  zoomable_->DoZoomOut();
  update();
}

OscilloscopeWidget::OscilloscopeWidget(const CMC_Oscilloscope& model, QWidget* parent)
    : QWidget(parent), model_(model) {}

void OscilloscopeWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintOscilloscope(painter, model_, size());
}

BarWidget::BarWidget(const CBarGraph& model, QWidget* parent) : QWidget(parent), model_(model) {}

void BarWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintBar(painter, model_, size());
}

namespace {

// Registered as the library loads (the front end's objects are linked whole, never dropped).
[[maybe_unused]] const bool kPlotRegistered =
    RegisterCustomWidget("plot", [](const axis::CustomControl& model, QWidget* parent) -> QWidget* {
      const auto* plot = dynamic_cast<const CGraphWindow*>(&model);
      return plot == nullptr ? nullptr : new PlotWidget(*plot, parent);
    });
[[maybe_unused]] const bool kOscilloscopeRegistered = RegisterCustomWidget(
    "oscilloscope", [](const axis::CustomControl& model, QWidget* parent) -> QWidget* {
      const auto* view = dynamic_cast<const CMC_Oscilloscope*>(&model);
      return view == nullptr ? nullptr : new OscilloscopeWidget(*view, parent);
    });
[[maybe_unused]] const bool kBarRegistered =
    RegisterCustomWidget("bar", [](const axis::CustomControl& model, QWidget* parent) -> QWidget* {
      const auto* bar = dynamic_cast<const CBarGraph*>(&model);
      return bar == nullptr ? nullptr : new BarWidget(*bar, parent);
    });

}  // namespace

}  // namespace axis::gui
