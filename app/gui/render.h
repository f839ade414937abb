// The desktop front end as the command line uses it, free of Qt types: running the plug-in's
// editor on the windowing system, and drawing dialogs offscreen into PNG files.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CMC_EditSetupDlg;

namespace axis::gui {

// The name a dialog's picture is saved under, without ".png": its template's file name
// ("106-drive-setup" for template 106), or the id alone when there is no template file.
std::string PictureName(int template_id);

// Runs `edit` (which opens dialogs modally) with the desktop platform installed and returns its
// result. Starts Qt on the windowing system the session has (QT_QPA_PLATFORM, else X11 or
// Wayland); nullopt with `error` set when there is none to start on.
std::optional<int> RunOnDesktop(const std::function<int()>& edit, std::string& error);

// Draws dialogs offscreen as the desktop platform shows them. Every dialog that runs modally while
// Render's `open` runs is drawn as it appears once open, into <folder>/<template file name>.png
// ("106-drive-setup.png"), and then cancelled; message boxes take their default answer and are
// listed in Notes(), timers never fire, file prompts are cancelled.
class DialogRenderer {
 public:
  explicit DialogRenderer(std::string folder);
  ~DialogRenderer();
  DialogRenderer(const DialogRenderer&) = delete;
  DialogRenderer& operator=(const DialogRenderer&) = delete;

  // Runs `open`; returns the PNG files written (empty when no dialog ran).
  std::vector<std::string> Render(const std::function<int()>& open);
  // Faults met while drawing (a file that cannot be written) and message boxes answered.
  const std::vector<std::string>& Notes() const;

 private:
  class Platform;
  std::unique_ptr<Platform> platform_;
};

// Builds the dialog model of template `template_id` on an empty setup (no bindings), draws it
// offscreen and writes the picture to `png_path`. Returns "" on success, else what went wrong.
// A developer's tool for checking a template's layout.
std::string RenderTemplate(int template_id, const std::string& png_path);

}  // namespace axis::gui
