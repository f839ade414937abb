// The desktop front end as the command line uses it, free of Qt types: running the plug-in's
// editor on the windowing system, and drawing dialogs offscreen into PNG files.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace axis {
class CustomControl;
class DialogModel;
}  // namespace axis

namespace axis::gui {

// The name a dialog's picture is saved under, without ".png": its template's file name
// ("106-drive-setup" for template 106), or the id alone when there is no template file.
std::string PictureName(int template_id);

// An input of the simulated drive the user moves while the dialogs run (the carriage by hand, a
// potentiometer): a slider from `min` to `max` (in `unit`, UTF-8), starting at `value`, each move
// handed to `set`.
struct SimulatedInput {
  std::string label;
  std::string unit;
  double min = 0.0, max = 1.0, value = 0.0;
  std::function<void(double)> set;
};

// The drive the dialogs' tests talk to, and how the user changes it from the "Drive" window.
struct DriveConnection {
  std::string link;    // as the user gives it to --drive; "" for the simulated drive
  std::string status;  // what is connected, as shown
  // Connects to `link` ("" : the simulated drive). Returns "" and sets `status` on success;
  // otherwise why not, and the drive connected before stays.
  std::function<std::string(const std::string& link, std::string& status)> connect;
};

// Runs `edit` (which opens dialogs modally) with the desktop platform installed, and the host's
// PNG writer (axis::SetPngWriter) drawing custom controls with their widgets, and returns its
// result. A "Drive" window beside the dialogs shows the drive link (and, with `connection`, lets
// the user connect another drive while no test dialog is open) and the sliders of `inputs`, the
// simulated drive's hand inputs. Starts Qt on the windowing system the session has
// (QT_QPA_PLATFORM, else X11 or Wayland); nullopt with `error` set when there is none.
std::optional<int> RunOnDesktop(const std::function<int()>& edit,
                                const std::vector<SimulatedInput>& inputs,
                                DriveConnection* connection, std::string& error);

// Draws dialogs offscreen as the desktop platform shows them. Every dialog that runs modally while
// Render's `open` runs is drawn as it appears once open, into <folder>/<template file name>.png
// ("106-drive-setup.png"), and then cancelled; message boxes take their default answer and are
// listed in Notes(), timers never fire, file prompts are cancelled.
class DialogRenderer {
 public:
  virtual ~DialogRenderer() = default;
  // Runs `open`; returns the PNG files written (empty when no dialog ran).
  virtual std::vector<std::string> Render(const std::function<int()>& open) = 0;
  // Faults met while drawing (a file that cannot be written) and message boxes answered.
  virtual const std::vector<std::string>& Notes() const = 0;
};

// A renderer drawing into `folder`; starts Qt offscreen unless QT_QPA_PLATFORM chooses otherwise.
std::unique_ptr<DialogRenderer> NewDialogRenderer(const std::string& folder);

// Builds the dialog model of template `template_id` on an empty setup (no bindings), draws it
// offscreen and writes the picture to `png_path`. Returns "" on success, else what went wrong.
// A developer's tool for checking a template's layout.
std::string RenderTemplate(int template_id, const std::string& png_path);

// Draws a dialog model as it stands now (a test at the end of its run), offscreen, into a PNG.
// Returns "" on success, else what went wrong.
std::string DrawDialog(DialogModel& model, const std::string& png_path);
// Draws a custom control's model (a plot, a bar graph) as its widget shows it into a PNG file of
// width x height px (each brought into 1..16384); starts Qt offscreen unless QT_QPA_PLATFORM
// chooses otherwise. Returns "" on success, else what went wrong (no widget for the model's kind,
// a file that cannot be written).
std::string SaveCustomControlPicture(const axis::CustomControl& control, int width, int height,
                                     const std::string& png_path);

// The desktop front end is a library of its own, libaxiscore-gui.so, that the command line loads
// only for the commands that edit or draw, so that every other command starts without Qt. Its one
// export, axis_front_end(), gives the operations above as this table. The library and the command
// line come from the same build; `version` guards against a library left from another one.
struct FrontEnd {
  int version;
  std::optional<int> (*run_on_desktop)(const std::function<int()>& edit,
                                       const std::vector<SimulatedInput>& inputs,
                                       DriveConnection* connection, std::string& error);
  std::unique_ptr<DialogRenderer> (*new_dialog_renderer)(const std::string& folder);
  std::string (*render_template)(int template_id, const std::string& png_path);
  std::string (*draw_dialog)(DialogModel& model, const std::string& png_path);
  std::string (*save_custom_control_picture)(const axis::CustomControl& control, int width,
                                             int height, const std::string& png_path);
};
inline constexpr int kFrontEndVersion = 5;
inline constexpr const char* kFrontEndLibrary = "libaxiscore-gui.so";
inline constexpr const char* kFrontEndEntry = "axis_front_end";

}  // namespace axis::gui

extern "C" const axis::gui::FrontEnd* axis_front_end();
