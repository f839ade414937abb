// The "Drive" window of the desktop, beside the dialogs: the drive link (a field and "Connect",
// with the connection's state) and a slider for each input of the simulated drive a user moves by
// hand while a test runs (the carriage, a potentiometer).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QWidget>

#include "app/gui/render.h"

namespace axis::gui {

// The window, not shown yet; each slider hands its value to its input's `set` as it moves.
// Without `connection` the link row is left out; "Connect" acts only while `may_connect` holds.
std::unique_ptr<QWidget> NewDriveWindow(const std::vector<SimulatedInput>& inputs,
                                        DriveConnection* connection,
                                        std::function<bool()> may_connect);

}  // namespace axis::gui
