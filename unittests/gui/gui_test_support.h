// Shared pieces of the GUI tests: the offscreen Qt application and steps run from the event loop
// while a dialog runs modally.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <string>

#include "host/dialog_test_support.h"

namespace axis::gui {

inline void EnsureApplication() {
  if (QApplication::instance() != nullptr) return;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "gui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* application = new QApplication(argc, argv);
  (void)application;
}

inline std::string SourceResources() {
  return axis::testing::TestDataDirectory() + "/../../../resources";
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

inline QMessageBox* OpenMessageBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) return box;
  }
  return nullptr;
}

// Presses `button` on the next message box that opens and remembers its text.
inline void AnswerNextBox(QMessageBox::StandardButton button, QString* text = nullptr) {
  WhenReady([] { return OpenMessageBox() != nullptr; },
            [button, text] {
              QMessageBox* box = OpenMessageBox();
              if (text != nullptr) *text = box->text();
              QAbstractButton* pressed = box->button(button);
              ASSERT_NE(pressed, nullptr);
              QTest::mouseClick(pressed, Qt::LeftButton);
            });
}

}  // namespace axis::gui
