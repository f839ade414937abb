// The desktop front end as a user meets it: the real plug-in, the demo setup, Qt widgets
// (offscreen). Screenshots of every dialog go to <build>/screenshots for review.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/qt_platform.h"
#include "gui/gui_test_support.h"
#include "host/dialog_template.h"
#include "host/plugin_loader.h"
#include "host/plugin_services.h"
#include "host/setup_file.h"

namespace axis::gui {
namespace {

namespace fs = std::filesystem;

// The plug-in, loaded once for the process as axiscore loads it.
const Plugin& LoadedPlugin() {
  static const std::unique_ptr<Plugin> plugin = [] {
    std::string error;
    std::unique_ptr<Plugin> loaded = Plugin::Load(AXIS_BUILD_DIR "/bin/libkestrel.so", error);
    EXPECT_NE(loaded, nullptr) << error;
    if (loaded) SetDefaultScaleProvider(loaded->Scales());
    return loaded;
  }();
  return *plugin;
}

std::unique_ptr<CMC_Setup> LoadDemo() {
  LoadResult loaded = LoadSetupFile(AXIS_SETUPS_DIR "/demo-linear.json");
  EXPECT_NE(loaded.setup, nullptr) << loaded.error;
  return std::move(loaded.setup);
}

// The visible window of dialog `template_id` that is on top (no other dialog window above it).
DialogWindow* TopWindow(int template_id) {
  QWidget* active = QApplication::activeModalWidget();
  auto* window = dynamic_cast<DialogWindow*>(active);
  if (window == nullptr || !window->isVisible()) return nullptr;
  return window->Model().Template().id == template_id ? window : nullptr;
}

fs::path ScreenshotFolder() {
  const fs::path folder = fs::path(AXIS_BUILD_DIR) / "screenshots";
  fs::create_directories(folder);
  return folder;
}

std::string PictureName(int template_id) {
  std::string error;
  const fs::path file = FindNumberedResource("dialogs", template_id, ".json", "", error);
  return file.stem().string() + ".png";
}

void Screenshot(DialogWindow* window) {
  const fs::path png = ScreenshotFolder() / PictureName(window->Model().Template().id);
  EXPECT_TRUE(window->grab().save(QString::fromStdString(png.string()), "PNG")) << png;
}

template <typename Widget>
Widget* ControlOf(DialogWindow* window, int id) {
  auto* widget = qobject_cast<Widget*>(window->Widget(id));
  EXPECT_NE(widget, nullptr) << "control " << id;
  return widget;
}

// Types `text` into an edit as a user does: select what is there, type, press Return (which
// takes the value and presses the dialog's default button, OK).
void TypeAndReturn(DialogWindow* window, int id, const QString& text) {
  QLineEdit* edit = ControlOf<QLineEdit>(window, id);
  if (edit == nullptr) return;
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, text);
  QTest::keyClick(edit, Qt::Key_Return);
}

void Click(DialogWindow* window, int id) {
  if (QPushButton* button = ControlOf<QPushButton>(window, id))
    QTest::mouseClick(button, Qt::LeftButton);
}

class FrontEnd : public ::testing::Test {
 protected:
  FrontEnd() {
    EnsureApplication();
    LoadedPlugin();
  }
  void SetUp() override { SetPlatform(&platform_); }
  void TearDown() override {
    SetPlatform(nullptr);
    steps_.reset();  // a step that never came to run must not run in another test
  }
  QObject* Steps() { return steps_.get(); }

  QtPlatform platform_;
  testing::PrivateUserConfig user_config_;  // the motor setup dialog reads the user's motors
  std::unique_ptr<QObject> steps_ = std::make_unique<QObject>();
};

// Each setup dialog the plug-in offers opens on the demo setup with its template's caption,
// is drawn, and closes with Escape without a trace.
TEST_F(FrontEnd, EverySetupDialogOpensOnTheDemoSetup) {
  std::vector<int> ids;
  for (const std::string& name : SetupServiceNames()) {
    if (name.starts_with(kOpenDialogServicePrefix))
      ids.push_back(std::stoi(name.substr(std::string(kOpenDialogServicePrefix).size())));
  }
  EXPECT_GE(ids.size(), 7u);
  for (int id : ids) {
    SCOPED_TRACE(id);
    std::unique_ptr<CMC_Setup> setup = LoadDemo();
    ASSERT_NE(setup, nullptr);
    bool seen = false;
    WhenReady([id] { return TopWindow(id) != nullptr; },
              [id, &seen] {
                DialogWindow* window = TopWindow(id);
                seen = true;
                EXPECT_EQ(window->windowTitle().toStdString().empty(), false);
                Screenshot(window);
                QTest::keyClick(window, Qt::Key_Escape);
              },
              Steps());
    const SetupService open = FindSetupService(kOpenDialogServicePrefix + std::to_string(id));
    EXPECT_EQ(open(setup.get()), kIdCancel);
    EXPECT_TRUE(seen);
  }
}

// The drive setup dialog opens the motor setup dialog by itself; a value typed there and OK in
// both dialogs reaches the setup, and EditSetup reports it accepted.
TEST_F(FrontEnd, AnEditThroughTheRealWidgetsReachesTheSetup) {
  std::unique_ptr<CMC_Setup> setup = LoadDemo();
  ASSERT_NE(setup, nullptr);
  constexpr int kDriveSetup = 106, kMotorSetup = 108, kNominalCurrentEdit = 1159;
  const double before = setup->FindParameter("In")->GetValueInBaseUnit();
  const double typed = before == 3.5 ? 3.25 : 3.5;
  QObject* steps = Steps();
  WhenReady([] { return TopWindow(kMotorSetup) != nullptr; },
            [typed, steps] {
              DialogWindow* motor = TopWindow(kMotorSetup);
              Screenshot(motor);
              TypeAndReturn(motor, kNominalCurrentEdit, QString::number(typed));
              WhenReady([] { return TopWindow(kDriveSetup) != nullptr; },
                        [] {
                          DialogWindow* drive = TopWindow(kDriveSetup);
                          Screenshot(drive);
                          Click(drive, kIdOk);
                        },
                        steps);
            },
            steps);
  EXPECT_EQ(LoadedPlugin().Exports().EditSetup(setup.get()), 1);
  EXPECT_DOUBLE_EQ(setup->FindParameter("In")->GetValueInBaseUnit(), typed);
}

// Cancel in the drive setup dialog makes EditSetup report "not accepted".
TEST_F(FrontEnd, CancelReportsNotAccepted) {
  std::unique_ptr<CMC_Setup> setup = LoadDemo();
  ASSERT_NE(setup, nullptr);
  QObject* steps = Steps();
  WhenReady([] { return TopWindow(108) != nullptr; },
            [steps] {
              QTest::keyClick(TopWindow(108), Qt::Key_Escape);
              WhenReady([] { return TopWindow(106) != nullptr; },
                        [] { Click(TopWindow(106), kIdCancel); }, steps);
            },
            steps);
  EXPECT_EQ(LoadedPlugin().Exports().EditSetup(setup.get()), 0);
}

}  // namespace
}  // namespace axis::gui
