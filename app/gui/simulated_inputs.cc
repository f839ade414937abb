#include "app/gui/simulated_inputs.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

// The link row: the link as --drive takes it, "Connect", and what is connected (or why not).
void AddLinkRow(QWidget* window, QFormLayout* form, DriveConnection* connection,
                std::function<bool()> may_connect) {
  auto* row = new QWidget(window);
  auto* line = new QHBoxLayout(row);
  line->setContentsMargins(0, 0, 0, 0);
  auto* link = new QLineEdit(QString::fromStdString(connection->link), row);
  link->setObjectName("drive_link");
  link->setPlaceholderText("simulated drive, or tcp:HOST:PORT, serial:/dev/ttyUSB0@115200");
  link->setMinimumWidth(320);
  auto* connect = new QPushButton("Connect", row);
  connect->setObjectName("drive_connect");
  line->addWidget(link);
  line->addWidget(connect);
  form->addRow("Drive link", row);
  auto* status = new QLabel(QString::fromStdString(connection->status), window);
  status->setObjectName("drive_status");
  status->setWordWrap(true);
  form->addRow("", status);
  QObject::connect(connect, &QPushButton::clicked, window, [=] {
    if (!may_connect()) {
      status->setText("Close the test first: the drive does not change while a test runs.");
      return;
    }
    std::string shown;
    const std::string problem = connection->connect(link->text().trimmed().toStdString(), shown);
    if (problem.empty()) connection->link = link->text().trimmed().toStdString();
    status->setText(QString::fromStdString(problem.empty() ? shown : "Not connected: " + problem));
  });
}

}  // namespace

std::unique_ptr<QWidget> NewDriveWindow(const std::vector<SimulatedInput>& inputs,
                                        DriveConnection* connection,
                                        std::function<bool()> may_connect) {
  auto window = std::make_unique<QWidget>(nullptr, Qt::Tool);
  window->setWindowTitle("Drive");
  window->setObjectName("drive");
  auto* form = new QFormLayout(window.get());
  if (connection != nullptr) AddLinkRow(window.get(), form, connection, std::move(may_connect));
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
