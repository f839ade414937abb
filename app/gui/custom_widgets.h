// The widgets of controls the front end draws itself (plots, bar graphs, diagrams), by kind.
//
// A custom control's model (axis::CustomControl) names its kind ("plot", "bar" ...); each widget
// class registers a factory for its kind (at load time, from its own source), and the dialog
// window asks CreateCustomWidget for the widget of a control to which the dialog attached a model
// (CMC_EditSetupDlg::Custom). The widget keeps a reference to the model, which must outlive it,
// and paints the model's present state whenever it paints: when the model changes (the dialog
// reports a change of the control's id), the window only calls update() on the widget.
#pragma once

#include <QImage>
#include <QSize>
#include <functional>
#include <string>
#include <string_view>

#include "host/custom_control.h"

class QWidget;

namespace axis::gui {

// Makes the widget showing `model` as a child of `parent`; null when the model is not of the
// class the kind stands for.
using CustomWidgetFactory =
    std::function<QWidget*(const axis::CustomControl& model, QWidget* parent)>;

// Registers the widget of a kind; registering a kind again replaces its factory. Returns true, so
// that a source can register from the initialiser of a static variable.
bool RegisterCustomWidget(std::string_view kind, CustomWidgetFactory factory);
// The widget for the model's Kind(), a child of `parent`; null when no widget is registered for
// that kind.
QWidget* CreateCustomWidget(const axis::CustomControl& model, QWidget* parent);

// The model drawn as its widget draws it into an image of `size` (on white); a null image when no
// widget draws its kind or the size is empty. Needs the Qt application.
QImage DrawCustomControl(const axis::CustomControl& model, QSize size);
// The same written as a PNG file: "" on success, else why. The host's PNG writer
// (axis::SetPngWriter) while the desktop runs.
std::string SaveCustomControlPng(const axis::CustomControl& model, int width, int height,
                                 const std::string& png_path);

}  // namespace axis::gui
