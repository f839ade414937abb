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

namespace axis::gui {

namespace {

const QColor kTextColour(0x3a, 0x3f, 0x44);
const QColor kGridColour(0xe3, 0xe6, 0xea);

QColor ToQColor(axis::Colour colour) {
  return QColor(axis::RedOf(colour), axis::GreenOf(colour), axis::BlueOf(colour));
}

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
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

void DrawVerticalTitle(QPainter& painter, double x, double y, const std::string& text) {
  painter.save();
  painter.translate(x, y);
  painter.rotate(-90);
  DrawLabel(painter, 0, 0, Qt::AlignHCenter, text);
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

}  // namespace

void PaintPlot(QPainter& painter, const CGraphWindow& plot, QSize size) {
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  QFont font = painter.font();
  font.setPixelSize(12);
  painter.setFont(font);
  const axis::PlotArea a = PlotAreaOf(plot, size.width(), size.height());
  const QRectF area(a.left, a.top, a.width, a.height);
  const std::vector<Tick> x_ticks = AxisTicks(plot.GetXRange(), TickCountX(a.width));
  const std::vector<Tick> y_ticks = AxisTicks(plot.GetYRange(1), TickCountY(a.height));
  const bool right_axis = plot.AxisUsed(2);
  const std::vector<Tick> right_ticks =
      right_axis ? AxisTicks(plot.GetYRange(2), TickCountY(a.height)) : std::vector<Tick>{};

  if ((plot.GetOptions() & CGraphWindow::kNoGrid) == 0) {
    painter.setPen(QPen(kGridColour, 1));
    for (const Tick& t : x_ticks) {
      const double x = XPixel(plot, a, t.value);
      painter.drawLine(QPointF(x, a.top), QPointF(x, a.Bottom()));
    }
    for (const Tick& t : y_ticks) {
      const double y = YPixel(plot, 1, a, t.value);
      painter.drawLine(QPointF(a.left, y), QPointF(a.Right(), y));
    }
  }

  const CGraphFilter* curves = plot.GetCurves();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setClipRect(area);
  for (int i = 0; curves != nullptr && i < curves->GetCount(); ++i) {
    const CXYCurve& curve = *curves->GetCurve(i);
    painter.setPen(QPen(ToQColor(curve.GetColour()), curve.GetLineWidth(), Qt::SolidLine,
                        Qt::RoundCap, Qt::RoundJoin));
    for (const std::vector<Pixel>& run : CurvePolylines(plot, curve, a)) {
      QPolygonF line;
      line.reserve(static_cast<qsizetype>(run.size()));
      for (const Pixel& p : run) line << QPointF(p.x, p.y);
      painter.drawPolyline(line);
    }
  }
  painter.setClipping(false);
  painter.setRenderHint(QPainter::Antialiasing, false);

  painter.setPen(QPen(kTextColour, 1));
  painter.drawRect(area);
  for (const Tick& t : x_ticks) {
    const double x = XPixel(plot, a, t.value);
    painter.drawLine(QPointF(x, a.Bottom()), QPointF(x, a.Bottom() + 4));
    DrawLabel(painter, x, a.Bottom() + 13, Qt::AlignHCenter, t.label);
  }
  for (const Tick& t : y_ticks) {
    const double y = YPixel(plot, 1, a, t.value);
    painter.drawLine(QPointF(a.left - 4, y), QPointF(a.left, y));
    DrawLabel(painter, a.left - 6, y, Qt::AlignRight, t.label);
  }
  for (const Tick& t : right_ticks) {
    const double y = YPixel(plot, 2, a, t.value);
    painter.drawLine(QPointF(a.Right(), y), QPointF(a.Right() + 4, y));
    DrawLabel(painter, a.Right() + 6, y, Qt::AlignLeft, t.label);
  }
  DrawLabel(painter, a.left + a.width / 2, a.Bottom() + 32, Qt::AlignHCenter, plot.XTitle());
  DrawVerticalTitle(painter, 14, a.top + a.height / 2, plot.YTitle(1));
  if (right_axis)
    DrawVerticalTitle(painter, size.width() - 12.0, a.top + a.height / 2, plot.YTitle(2));

  if ((plot.GetOptions() & CGraphWindow::kNoLegend) == 0 && curves != nullptr &&
      curves->GetCount() > 0)
    DrawLegend(painter, *curves, a);
  painter.restore();
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
  QPainter painter(this);
  PaintPlot(painter, model_, size());
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
