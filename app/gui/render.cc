#include "app/gui/render.h"

#include <QApplication>
#include <QPixmap>
#include <cstdlib>
#include <memory>

#include "app/gui/qt_platform.h"
#include "host/edit_setup_dlg.h"
#include "host/setup.h"

namespace axis::gui {

namespace {

// The process's Qt application: the one that exists, else one made here for the process's life.
void EnsureApplication() {
  if (QApplication::instance() != nullptr) return;
  // A developer's tool draws offscreen: no display needed unless the caller chose a platform.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "axiscore";
  static char* argv[] = {name, nullptr};
  // Kept to the end of the process: destroying it among the static objects at exit is unsafe.
  static QApplication* application = new QApplication(argc, argv);
  (void)application;
}

}  // namespace

std::string RenderTemplate(int template_id, const std::string& png_path) {
  EnsureApplication();
  CMC_Setup setup;
  CMC_EditSetupDlg model(setup, template_id, 0, nullptr, nullptr);
  if (!model.LoadError().empty()) return model.LoadError();
  DialogWindow window(model, nullptr);
  window.show();
  QApplication::processEvents();
  const QPixmap picture = window.grab();
  window.hide();
  if (picture.isNull()) return "the dialog could not be drawn";
  if (!picture.save(QString::fromLocal8Bit(png_path.c_str()), "PNG"))
    return "cannot write \"" + png_path + "\"";
  return {};
}

}  // namespace axis::gui
