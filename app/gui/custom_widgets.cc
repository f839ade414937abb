#include "app/gui/custom_widgets.h"

#include <QFile>
#include <QWidget>
#include <algorithm>
#include <map>
#include <memory>

namespace axis::gui {

namespace {

// Built on first use, so that registrations from other sources' static initialisers find it.
std::map<std::string, CustomWidgetFactory, std::less<>>& Registry() {
  static std::map<std::string, CustomWidgetFactory, std::less<>> registry;
  return registry;
}

}  // namespace

bool RegisterCustomWidget(std::string_view kind, CustomWidgetFactory factory) {
  Registry()[std::string(kind)] = std::move(factory);
  return true;
}

QWidget* CreateCustomWidget(const axis::CustomControl& model, QWidget* parent) {
  const auto it = Registry().find(model.Kind());
  return it == Registry().end() || !it->second ? nullptr : it->second(model, parent);
}

QImage DrawCustomControl(const axis::CustomControl& model, QSize size) {
  if (size.isEmpty()) return {};
  const std::unique_ptr<QWidget> widget(CreateCustomWidget(model, nullptr));
  if (widget == nullptr) return {};
  widget->resize(size);
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  widget->render(&image);
  return image;
}

std::string SaveCustomControlPng(const axis::CustomControl& model, int width, int height,
                                 const std::string& png_path) {
  constexpr int kLargest = 16384;
  const QImage image = DrawCustomControl(
      model, QSize(std::clamp(width, 1, kLargest), std::clamp(height, 1, kLargest)));
  if (image.isNull())
    return "no picture of a \"" + std::string(model.Kind()) + "\" control can be drawn";
  if (!image.save(QFile::decodeName(png_path.c_str()), "PNG"))
    return "cannot write \"" + png_path + "\"";
  return {};
}

}  // namespace axis::gui
