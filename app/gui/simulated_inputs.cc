#include "app/gui/simulated_inputs.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>

#include <algorithm>
#include <cmath>

#include "host/number_text.h"

namespace axis::gui {

namespace {

// Steps of a slider over its input's range: fine enough to move a carriage by a hundredth of a
// pole pitch.
constexpr int kSteps = 2000;

QString ValueText(const SimulatedInput& input, double value) {
  return QString::fromStdString(FormatNumber(value, 4) + (input.unit.empty() ? "" : " ") +
                                input.unit);
}

}  // namespace

std::unique_ptr<QWidget> NewSimulatedInputsWindow(const std::vector<SimulatedInput>& inputs) {
  auto window = std::make_unique<QWidget>(nullptr, Qt::Tool);
  window->setWindowTitle("Simulated drive");
  window->setObjectName("simulated_drive");
  auto* form = new QFormLayout(window.get());
  for (const SimulatedInput& input : inputs) {
    const double span = input.max - input.min;
    if (!(span > 0.0) || !std::isfinite(span)) continue;  // nothing to slide over
    auto* row = new QWidget(window.get());
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    auto* slider = new QSlider(Qt::Horizontal, row);
    slider->setRange(0, kSteps);
    slider->setMinimumWidth(320);
    const double start = std::clamp(input.value, input.min, input.max);
    slider->setValue(static_cast<int>(std::lround((start - input.min) / span * kSteps)));
    auto* shown = new QLabel(ValueText(input, start), row);
    shown->setMinimumWidth(90);
    line->addWidget(slider);
    line->addWidget(shown);
    form->addRow(QString::fromStdString(input.label), row);
    QObject::connect(slider, &QSlider::valueChanged, row, [input, shown, span](int step) {
      const double value = input.min + span * step / kSteps;
      shown->setText(ValueText(input, value));
      if (input.set) input.set(value);
    });
  }
  return window;
}

}  // namespace axis::gui
