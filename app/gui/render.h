// Template rendering for developers: a dialog template drawn offscreen into a PNG.
// Free of Qt types so that the command line can call it.
#pragma once

#include <string>

namespace axis::gui {

// Builds the dialog model of template `template_id` on an empty setup (no bindings), draws it
// offscreen as the desktop platform would show it and writes the picture to `png_path`.
// Returns "" on success, else what went wrong. Creates the Qt application when there is none,
// on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
std::string RenderTemplate(int template_id, const std::string& png_path);

}  // namespace axis::gui
