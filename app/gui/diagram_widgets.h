// The desktop's widgets of the feedback sensor tests' diagrams (host/diagrams.h): the electrical
// angle's dial (kind "phase"), the Hall states' strip ("hall") and the encoder's position scale
// ("encoder"). They register themselves with the custom widget registry (custom_widgets.h), paint
// their model's present state, antialiased, fitted to any size, and greyed while it is disabled.
#pragma once

#include <QWidget>

#include "host/diagrams.h"

class QPainter;

namespace axis::gui {

// The dial in the largest square that fits, centred: the circle, the phase axes A, B, C with their
// names outside it, and the pointer at the drawn angle. When the rectangle is wide enough, the
// angle in degrees is written to the right of the dial.
void PaintPhaseDiagram(QPainter& painter, const CPhaseDiagram& dial, QSize size);
// Six slices across the whole rectangle, each named by its Hall state: plain when not visited,
// light blue when visited, blue when present.
void PaintHallDiagram(QPainter& painter, const CLinearHallDiagram& strip, QSize size);
// The scale across the rectangle (end ticks, a tick at zero when it lies on the scale) and the
// marker at the position, red when the position is beyond an end; when the rectangle is at least
// 30 px high, the minimum, the position and the maximum written below (the limits left out when
// the three do not fit side by side).
void PaintEncoderDiagram(QPainter& painter, const CLinearEncoderDiagram& scale, QSize size);

class PhaseDiagramWidget : public QWidget {
 public:
  PhaseDiagramWidget(const CPhaseDiagram& model, QWidget* parent);
  const CPhaseDiagram& Model() const { return model_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const CPhaseDiagram& model_;
};

class HallDiagramWidget : public QWidget {
 public:
  HallDiagramWidget(const CLinearHallDiagram& model, QWidget* parent);
  const CLinearHallDiagram& Model() const { return model_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const CLinearHallDiagram& model_;
};

class EncoderDiagramWidget : public QWidget {
 public:
  EncoderDiagramWidget(const CLinearEncoderDiagram& model, QWidget* parent);
  const CLinearEncoderDiagram& Model() const { return model_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const CLinearEncoderDiagram& model_;
};

}  // namespace axis::gui
