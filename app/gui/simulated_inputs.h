// The "Simulated drive" window of the desktop: a slider for each input of the simulated drive a
// user moves by hand while a test runs (the carriage, a potentiometer), beside the dialogs.
#pragma once

#include <memory>
#include <vector>

#include <QWidget>

#include "app/gui/render.h"

namespace axis::gui {

// The window, not shown yet; each slider hands its value to its input's `set` as it moves.
std::unique_ptr<QWidget> NewSimulatedInputsWindow(const std::vector<SimulatedInput>& inputs);

}  // namespace axis::gui
