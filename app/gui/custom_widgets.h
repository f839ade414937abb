// Widgets for the controls a dialog model leaves to the front end to draw (axis::CustomControl):
// one widget class per kind of model ("plot", "bar" ...), each registered here by its kind.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "host/custom_control.h"

namespace axis::gui {

using CustomWidgetFactory = std::function<QWidget*(axis::CustomControl& model, QWidget* parent)>;

// Registers the widget drawing the models of `kind` (a later registration replaces it).
void RegisterCustomWidget(std::string_view kind, CustomWidgetFactory factory);
// A widget drawing `model`, or null when no widget is registered for its kind. The widget redraws
// from the model whenever it is updated (QWidget::update).
QWidget* CreateCustomWidget(axis::CustomControl& model, QWidget* parent);

}  // namespace axis::gui
