#include "app/gui/custom_widgets.h"

#include <map>
#include <utility>

namespace axis::gui {

namespace {
std::map<std::string, CustomWidgetFactory, std::less<>>& Factories() {
  static std::map<std::string, CustomWidgetFactory, std::less<>> factories;
  return factories;
}
}  // namespace

void RegisterCustomWidget(std::string_view kind, CustomWidgetFactory factory) {
  Factories()[std::string(kind)] = std::move(factory);
}

QWidget* CreateCustomWidget(axis::CustomControl& model, QWidget* parent) {
  const auto it = Factories().find(model.Kind());
  return it == Factories().end() ? nullptr : it->second(model, parent);
}

}  // namespace axis::gui
