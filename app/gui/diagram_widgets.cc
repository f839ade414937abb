#include "app/gui/diagram_widgets.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "app/gui/custom_widgets.h"
#include "host/plot.h"

namespace axis::gui {

namespace {

QColor Palette(int index) {
  const axis::Colour c = RGB16(index);
  return QColor(axis::RedOf(c), axis::GreenOf(c), axis::BlueOf(c));
}

// The colours of the diagrams: those of the plots and bars, and greys for a disabled diagram.
const QColor kText = Palette(1);         // slate: frames, scales, text
const QColor kAxis = Palette(12);        // grey: the phase axes
const QColor kGreyed(0xd0, 0xd4, 0xd8);  // light grey: lines of a disabled diagram
const QColor kGreyedText = Palette(12);  // grey: text of a disabled diagram
const QColor kMarker = Palette(5);       // blue: the encoder marker, a present Hall state
const QColor kVisited = Palette(13);     // light blue: a visited Hall state
const QColor kPointer = Palette(2);      // red: the phase pointer, a marker beyond the scale

void SetFontPixels(QPainter& painter, double pixels, bool bold = false) {
  QFont font = painter.font();
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
  font.setBold(bold);
  painter.setFont(font);
}

// Text centred on `at`.
void DrawCentred(QPainter& painter, QPointF at, const QString& text) {
  constexpr double kRoom = 400.0;
  painter.drawText(QRectF(at.x() - kRoom / 2, at.y() - kRoom / 2, kRoom, kRoom), Qt::AlignCenter,
                   text);
}

// A point `length` from `centre` in the direction `angle` (counter-clockwise from the right; the
// screen's y grows downwards).
QPointF Polar(QPointF centre, double length, double angle) {
  return centre + QPointF(length * std::cos(angle), -length * std::sin(angle));
}

}  // namespace

void PaintPhaseDiagram(QPainter& painter, const CPhaseDiagram& dial, QSize size) {
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  painter.setRenderHint(QPainter::Antialiasing, true);
  const bool on = dial.IsDiagramEnabled();
  const double side = std::min(size.width(), size.height());
  const double font_px = std::clamp(side * 0.13, 8.0, 14.0);
  // The phase names sit outside the circle, within the square. The centre lies in the middle of a
  // pixel, so that the axis of phase A, a 1 px line along a row, stays sharp.
  const double radius = side / 2 - font_px * 1.2;
  const QPointF centre(std::floor(size.width() / 2.0) + 0.5, std::floor(size.height() / 2.0) + 0.5);
  if (radius < 3) {
    painter.restore();
    return;
  }
  SetFontPixels(painter, font_px, true);
  constexpr double kThird = 2.0 * std::numbers::pi / 3.0;
  const char* const kPhases[] = {"A", "B", "C"};
  for (int k = 0; k < 3; ++k) {
    painter.setPen(QPen(on ? kAxis : kGreyed, 1));
    painter.drawLine(centre, Polar(centre, radius, k * kThird));
    painter.setPen(on ? kText : kGreyedText);
    DrawCentred(painter, Polar(centre, radius + font_px * 0.7, k * kThird),
                QString::fromLatin1(kPhases[k]));
  }
  painter.setPen(QPen(on ? kText : kGreyed, std::max(1.0, side / 100)));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(centre, radius, radius);

  if (dial.IsPointerShown()) {
    const double angle = dial.GetDrawnAngle();
    const double width = std::clamp(side / 50, 1.5, 3.5);
    const double head = std::clamp(radius * 0.22, 4.0, 12.0);
    const QPointF tip = Polar(centre, radius * 0.92, angle);
    const QPointF base = Polar(centre, radius * 0.92 - head, angle);
    painter.setPen(QPen(kPointer, width, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre, base);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kPointer);
    const double half = std::numbers::pi / 2;
    painter.drawPolygon(QPolygonF(
        {tip, Polar(base, head * 0.45, angle + half), Polar(base, head * 0.45, angle - half)}));
    painter.drawEllipse(centre, width * 1.3, width * 1.3);

    // The angle in degrees, when there is room beside the dial.
    SetFontPixels(painter, std::clamp(side * 0.12, 9.0, 13.0));
    const long whole = std::lround(angle * 180.0 / std::numbers::pi);  // 359.6 is 0, not 360
    const QString theta = QString(QChar(0x03B8)) + QStringLiteral(" = ");
    const double gap = font_px;  // apart from the name of phase A
    const double room = size.width() - centre.x() - side / 2 - gap;
    const double needed = QFontMetricsF(painter.font())
                              .horizontalAdvance(theta + QStringLiteral("360") + QChar(0x00B0));
    if (room >= needed) {
      painter.setPen(kText);
      painter.drawText(QRectF(centre.x() + side / 2 + gap, 0, room, size.height()),
                       Qt::AlignLeft | Qt::AlignVCenter,
                       theta + QString::number(whole % 360) + QChar(0x00B0));
    }
  }
  painter.restore();
}

void PaintHallDiagram(QPainter& painter, const CLinearHallDiagram& strip, QSize size) {
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  painter.setRenderHint(QPainter::Antialiasing, true);
  const bool on = strip.IsDiagramEnabled();
  const int n = strip.GetSliceNumber();
  const QRectF frame(0.5, 0.5, std::max(0, size.width() - 1), std::max(0, size.height() - 1));
  const double slice = frame.width() / n;
  // Three digits of n px take about 1.9 n px: a label fills at most 70 % of its slice.
  SetFontPixels(painter, std::clamp(std::min(frame.height() * 0.45, slice * 0.36), 7.0, 13.0));
  // Slice borders on whole pixels (plus the half that centres a 1 px line) keep them sharp.
  const auto border = [&](int i) { return std::round(frame.left() + i * slice - 0.5) + 0.5; };
  for (int i = 0; i < n; ++i) {
    const QRectF r(QPointF(border(i), frame.top()), QPointF(border(i + 1), frame.bottom()));
    const int status = on ? strip.GetSliceStatus(i) : CLinearHallDiagram::kNotVisited;
    if (status == CLinearHallDiagram::kVisited) painter.fillRect(r, kVisited);
    if (status == CLinearHallDiagram::kPresent) painter.fillRect(r, kMarker);
    painter.setPen(!on                                      ? kGreyedText
                   : status == CLinearHallDiagram::kPresent ? QColor(Qt::white)
                                                            : kText);
    const std::string_view label = CLinearHallDiagram::GetSliceLabel(i);
    painter.drawText(r, Qt::AlignCenter,
                     QString::fromLatin1(label.data(), static_cast<qsizetype>(label.size())));
  }
  painter.setPen(QPen(on ? kText : kGreyed, 1));
  painter.setBrush(Qt::NoBrush);
  for (int i = 1; i < n; ++i)
    painter.drawLine(QPointF(border(i), frame.top()), QPointF(border(i), frame.bottom()));
  painter.drawRect(frame);
  painter.restore();
}

void PaintEncoderDiagram(QPainter& painter, const CLinearEncoderDiagram& scale, QSize size) {
  painter.save();
  painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  painter.setRenderHint(QPainter::Antialiasing, true);
  const bool on = scale.IsDiagramEnabled();
  const double w = size.width(), h = size.height();
  const double font_px = std::clamp(h * 0.22, 10.0, 13.0);
  const double text_row = h >= 30 ? font_px + 5 : 0.0;
  const double scale_h = h - text_row;
  const double half = std::clamp(scale_h * 0.22, 3.0, 8.0);  // half the marker's width
  const double tick = std::clamp(scale_h * 0.22, 2.0, 8.0);  // the end ticks' half length
  // The marker and the ticks above the line, the ticks below it, and the text row, as one block
  // centred vertically. The line and the ends on pixels' middles keep the 1 px lines sharp.
  const double above = tick + half * 1.6, gap = text_row > 0 ? 3.0 : 0.0;
  const double block = above + tick + gap + text_row;
  const double mid = std::round(std::max(0.0, (h - block) / 2) + above) + 0.5;
  const double x0 = std::round(half) + 1.5, x1 = std::round(w - half) - 1.5;
  if (x1 <= x0 || scale_h < 6) {
    painter.restore();
    return;
  }
  const CLinearEncoderDiagram::Geometry g = scale.Layout();
  const QColor line = on ? kText : kGreyed;

  // The scale: a line with ticks at its ends and at zero; dashed when empty.
  painter.setPen(QPen(line, 1, g.scale ? Qt::SolidLine : Qt::DashLine, Qt::FlatCap));
  painter.drawLine(QPointF(x0, mid), QPointF(x1, mid));
  if (g.scale) {
    painter.setPen(QPen(line, 1));
    for (double x : {x0, x1}) painter.drawLine(QPointF(x, mid - tick), QPointF(x, mid + tick));
    if (g.zero_shown) {
      const double x = std::floor(x0 + g.zero * (x1 - x0)) + 0.5;
      painter.drawLine(QPointF(x, mid - tick * 0.6), QPointF(x, mid + tick * 0.6));
    }
  }

  const bool beyond = g.below || g.above;
  const QColor marker = beyond ? kPointer : kMarker;
  if (on) {
    // The marker: a triangle pointing down onto the scale and a line through it.
    const double x = x0 + g.marker * (x1 - x0);
    const double top = std::max(1.0, mid - above);
    painter.setPen(QPen(marker, std::clamp(scale_h / 20, 1.5, 2.5), Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(x, top), QPointF(x, mid + tick));
    painter.setPen(Qt::NoPen);
    painter.setBrush(marker);
    painter.drawPolygon(
        QPolygonF({QPointF(x - half, top), QPointF(x + half, top), QPointF(x, top + half * 1.4)}));
  }

  if (text_row > 0) {
    const QRectF row(1, mid + tick + gap, w - 2, text_row);
    const QString min = QString::number(scale.GetMinLimit());
    const QString max = QString::number(scale.GetMaxLimit());
    const QString position = QString::number(scale.GetPosition());
    SetFontPixels(painter, font_px, true);
    const double position_width = QFontMetricsF(painter.font()).horizontalAdvance(position);
    SetFontPixels(painter, font_px);
    const QFontMetricsF metrics(painter.font());
    const double space = font_px;
    // The limits stay out of the middle, where the position is written.
    const double side_room = (row.width() - (on ? position_width + 2 * space : space)) / 2;
    if (metrics.horizontalAdvance(min) <= side_room &&
        metrics.horizontalAdvance(max) <= side_room) {
      painter.setPen(on ? kText : kGreyedText);
      painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, min);
      painter.drawText(row, Qt::AlignRight | Qt::AlignVCenter, max);
    }
    if (on) {
      SetFontPixels(painter, font_px, true);
      painter.setPen(beyond ? kPointer : kText);
      painter.drawText(row, Qt::AlignHCenter | Qt::AlignVCenter, position);
    }
  }
  painter.restore();
}

PhaseDiagramWidget::PhaseDiagramWidget(const CPhaseDiagram& model, QWidget* parent)
    : QWidget(parent), model_(model) {}

void PhaseDiagramWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPhaseDiagram(painter, model_, size());
}

HallDiagramWidget::HallDiagramWidget(const CLinearHallDiagram& model, QWidget* parent)
    : QWidget(parent), model_(model) {}

void HallDiagramWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintHallDiagram(painter, model_, size());
}

EncoderDiagramWidget::EncoderDiagramWidget(const CLinearEncoderDiagram& model, QWidget* parent)
    : QWidget(parent), model_(model) {}

void EncoderDiagramWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintEncoderDiagram(painter, model_, size());
}

namespace {

// Registered as the library loads (the front end's objects are linked whole, never dropped).
template <typename Model, typename Widget>
CustomWidgetFactory Factory() {
  return [](const axis::CustomControl& model, QWidget* parent) -> QWidget* {
    const auto* diagram = dynamic_cast<const Model*>(&model);
    return diagram == nullptr ? nullptr : new Widget(*diagram, parent);
  };
}
[[maybe_unused]] const bool kPhaseRegistered =
    RegisterCustomWidget("phase", Factory<CPhaseDiagram, PhaseDiagramWidget>());
[[maybe_unused]] const bool kHallRegistered =
    RegisterCustomWidget("hall", Factory<CLinearHallDiagram, HallDiagramWidget>());
[[maybe_unused]] const bool kEncoderRegistered =
    RegisterCustomWidget("encoder", Factory<CLinearEncoderDiagram, EncoderDiagramWidget>());

}  // namespace

}  // namespace axis::gui
