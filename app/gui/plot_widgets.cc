#include "app/gui/plot_widgets.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
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

void DrawLegend(QPainter& painter, const CGraphFilter& curves, const axis::PlotArea& area) {
  const QFontMetricsF metrics(painter.font());
  double longest = 0.0;
  for (int i = 0; i < curves.GetCount(); ++i)
    longest = std::max(longest,
                       metrics.horizontalAdvance(Latin1(LegendText(curves, *curves.GetCurve(i)))));
  const QRectF box(area.left + 8, area.top + 8, 40 + longest, 8 + 16.0 * curves.GetCount());
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

// The curves' lines from point first[i] of curve i on (all of them without `first`).
void PaintCurves(QPainter& painter, const CGraphWindow& plot, QSize size,
                 const std::vector<size_t>* first) {
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
    for (const std::vector<Pixel>& run : CurvePolylines(plot, curve, a, from)) {
      QPolygonF line;
      line.reserve(static_cast<qsizetype>(run.size()));
      for (const Pixel& p : run) line << QPointF(p.x, p.y);
      painter.drawPolyline(line);
    }
  }
  painter.restore();
}

// The frame, the ticks and their labels, the axis titles and the legend, above the curves.
void PaintPlotOver(QPainter& painter, const CGraphWindow& plot, QSize size) {
  painter.save();
  QFont font = painter.font();
  font.setPixelSize(12);
  painter.setFont(font);
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

PlotWidget::PlotWidget(const CGraphWindow& model, QWidget* parent)
    : QWidget(parent), model_(model) {}

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
  if (anew) {
    layer_ = QImage((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    layer_.setDevicePixelRatio(ratio);
    layer_.fill(Qt::transparent);
    redraw_count_ = model_.GetRedrawCount();
    layer_curves_ = curves;
    drawn_.assign(count, 0);
  }
  // The lines from the last point drawn on: the appended points join the curve drawn so far.
  std::vector<size_t> first(count);
  for (size_t i = 0; i < count; ++i) first[i] = drawn_[i] == 0 ? 0 : drawn_[i] - 1;
  QPainter painter(&layer_);
  PaintCurves(painter, model_, size(), &first);
  for (size_t i = 0; i < count; ++i)
    drawn_[i] = curves->GetCurve(static_cast<int>(i))->Points().size();
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
[[maybe_unused]] const bool kBarRegistered =
    RegisterCustomWidget("bar", [](const axis::CustomControl& model, QWidget* parent) -> QWidget* {
      const auto* bar = dynamic_cast<const CBarGraph*>(&model);
      return bar == nullptr ? nullptr : new BarWidget(*bar, parent);
    });

}  // namespace

}  // namespace axis::gui
