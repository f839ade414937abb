// The model of a control that the front end draws itself: a plot, a bar graph, a diagram.
//
// A dialog's template declares such a control with the kind "custom" and a rect; the dialog
// attaches a model to it (DialogModel::AttachCustom). The model holds everything the picture shows
// and says when it changed; the desktop front end draws it with the widget registered for the
// model's Kind(), and headless tests read the model itself. Adding a kind of control is one model
// class here (or in the plug-in) plus one Qt widget in app/gui.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace axis {

class CustomControl {
 public:
  // A model that goes away before its dialog detaches itself from it.
  virtual ~CustomControl() {
    if (on_destroyed_) on_destroyed_();
  }
  CustomControl() = default;
  CustomControl(const CustomControl&) = delete;
  CustomControl& operator=(const CustomControl&) = delete;

  // Names the widget that draws this model ("bar", "plot", "phase" ...).
  virtual std::string_view Kind() const = 0;
  // The host menu (axis::HostMenu) a right-click over the control offers; 0 for none.
  virtual int ContextMenu() const { return 0; }

  // The dialog showing the model listens here (one dialog; nulls to stop): `listener` when the
  // picture changed, `on_destroyed` when the model goes away, so that the dialog never keeps it.
  void SetChangeListener(std::function<void()> listener,
                         std::function<void()> on_destroyed = nullptr) {
    listener_ = std::move(listener);
    on_destroyed_ = std::move(on_destroyed);
  }

 protected:
  // Tells the dialog (and through it the front end) that the picture must be drawn again.
  void Changed() {
    if (listener_) listener_();
  }

 private:
  std::function<void()> listener_;
  std::function<void()> on_destroyed_;
};

// Writes a picture of a control, as its widget draws it, into a PNG file of width x height px:
// "" on success, else why. Only the desktop front end can draw widgets: it installs its writer
// while it runs (null removes it); without one the host writes no PNG pictures.
using PngWriter = std::string (*)(const CustomControl& control, int width, int height,
                                  const std::string& path);
void SetPngWriter(PngWriter writer);
PngWriter GetPngWriter();

}  // namespace axis
