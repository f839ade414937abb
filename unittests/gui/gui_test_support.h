// Shared pieces of the GUI tests: the offscreen Qt application, steps run from the event loop
// while a dialog runs modally, the widget of a control, and the colours of a picture.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QLocale>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/gui/qt_platform.h"
#include "host/dialog_test_support.h"
#include "host/plot.h"

namespace axis::gui {

inline void EnsureApplication() {
  if (QApplication::instance() != nullptr) return;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "gui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* application = new QApplication(argc, argv);  // reachable till the end
  (void)application;
}

// Whether the pixel is (nearly) the colour: antialiased edges blend, the middle of a 2 px line
// does not.
inline bool Near(const QImage& image, int x, int y, Colour colour) {
  const QColor pixel = image.pixelColor(x, y);
  return std::abs(pixel.red() - RedOf(colour)) + std::abs(pixel.green() - GreenOf(colour)) +
             std::abs(pixel.blue() - BlueOf(colour)) <
         60;
}

inline std::string SourceResources() {
  return axis::testing::TestDataDirectory() + "/../../../resources";
}

// The user's locale for a while, both the C library's and Qt's, as QApplication sets it from the
// session: a user in Germany writes 2,5 for two and a half.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
    EXPECT_NE(std::setlocale(LC_ALL, name), nullptr)
        << name << " is not installed (scripts/install-deps.sh generates it)";
    QLocale::setDefault(QLocale(QString::fromLatin1(name).section('.', 0, 0)));
  }
  ~ScopedLocale() {
    std::setlocale(LC_ALL, saved_.c_str());
    QLocale::setDefault(QLocale::c());
  }

 private:
  std::string saved_;
};

// The widget of control `id`, of the expected class.
template <typename Widget>
Widget* Find(DialogWindow& window, int id) {
  auto* widget = qobject_cast<Widget*>(window.Widget(id));
  EXPECT_NE(widget, nullptr) << "control " << id;
  return widget;
}
inline void Press(DialogWindow& window, int id) {
  if (auto* button = Find<QAbstractButton>(window, id)) QTest::mouseClick(button, Qt::LeftButton);
}

// Runs `step` from the event loop as soon as `ready` holds (polled; no clock is asserted on).
// A step still waiting when `owner` is destroyed never runs.
inline void WhenReady(std::function<bool()> ready, std::function<void()> step,
                      QObject* owner = nullptr) {
  auto* timer = new QTimer(owner);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, ready, step] {
    if (!ready()) return;
    timer->stop();
    timer->deleteLater();
    step();
  });
  timer->start();
}

// Presses `button` on the next message box that opens and remembers its text.
inline void AnswerNextBox(QMessageBox::StandardButton button, QString* text = nullptr) {
  const auto open_box = []() -> QMessageBox* {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) return box;
    }
    return nullptr;
  };
  WhenReady([open_box] { return open_box() != nullptr; },
            [open_box, button, text] {
              QMessageBox* box = open_box();
              if (text != nullptr) *text = box->text();
              QAbstractButton* pressed = box->button(button);
              ASSERT_NE(pressed, nullptr);
              QTest::mouseClick(pressed, Qt::LeftButton);
            });
}

}  // namespace axis::gui
