// The desktop front end as a user meets it: the real plug-in, the demo setup, Qt widgets
// (offscreen). Screenshots of every dialog go to <build>/screenshots for review.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/qt_platform.h"
#include "app/gui/render.h"
#include "gui/gui_test_support.h"
#include "host/clock.h"
#include "host/plot.h"
#include "host/plugin_loader.h"
#include "host/plugin_services.h"
#include "host/scope_logger.h"
#include "host/setup_file.h"
#include "host/test_dlg.h"
#include "sim/setup_config.h"

namespace axis::gui {
namespace {

namespace fs = std::filesystem;
constexpr int kDriveSetup = 106, kMotorSetup = 108;

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

// The visible window of dialog `template_id` that is on top (no other dialog window above it).
DialogWindow* TopWindow(int template_id) {
  auto* window = dynamic_cast<DialogWindow*>(QApplication::activeModalWidget());
  if (window == nullptr || !window->isVisible()) return nullptr;
  return window->Model().Template().id == template_id ? window : nullptr;
}

// Saved as <build>/screenshots/<template file name><suffix>.png.
void Screenshot(DialogWindow* window, const std::string& suffix = "") {
  const fs::path folder = fs::path(AXIS_BUILD_DIR) / "screenshots";
  fs::create_directories(folder);
  const fs::path png = folder / (PictureName(window->Model().Template().id) + suffix + ".png");
  EXPECT_TRUE(window->grab().save(QString::fromStdString(png.string()), "PNG")) << png;
}

class FrontEnd : public ::testing::Test {
 protected:
  FrontEnd() {
    EnsureApplication();
    LoadedPlugin();
    LoadResult loaded = LoadSetupFile(AXIS_SETUPS_DIR "/demo-linear.json");
    EXPECT_NE(loaded.setup, nullptr) << loaded.error;
    setup_ = std::move(loaded.setup);
  }
  void SetUp() override {
    ASSERT_NE(setup_, nullptr);
    SetPlatform(&platform_);
  }
  void TearDown() override {
    if (setup_ != nullptr) setup_->SetComm(nullptr);
    SetPlatform(nullptr);
    steps_.reset();  // a step that never came to run must not run in another test
  }
  // Runs `step` on dialog `id`'s window once it is the one on top.
  void OnWindow(int id, std::function<void(DialogWindow*)> step) {
    WhenReady([id] { return TopWindow(id) != nullptr; }, [id, step] { step(TopWindow(id)); },
              steps_.get());
  }

  // The simulated drive of the setup, in real time as in `axiscore edit`.
  void ConnectRealTimeDrive() {
    std::string error;
    drive_ = sim::DriveForSetup(*setup_, wall_, {}, error);
    ASSERT_NE(drive_, nullptr) << error;
    setup_->SetComm(drive_.get());
  }

  QtPlatform platform_;
  testing::PrivateUserConfig user_config_;  // the motor setup dialog reads the user's motors
  std::unique_ptr<QObject> steps_ = std::make_unique<QObject>();
  std::unique_ptr<CMC_Setup> setup_;
  const SteadyClock wall_;
  std::unique_ptr<CMC_Comm> drive_;
};

// Each setup dialog the plug-in offers opens on the demo setup with a title, is drawn, and closes
// with Escape as cancelled.
TEST_F(FrontEnd, EverySetupDialogOpensOnTheDemoSetup) {
  const std::vector<int> ids = OpenDialogIds();
  EXPECT_GE(ids.size(), 7u);
  for (int id : ids) {
    SCOPED_TRACE(id);
    LoadResult demo = LoadSetupFile(AXIS_SETUPS_DIR "/demo-linear.json");
    ASSERT_TRUE(demo) << demo.error;
    bool seen = false;
    OnWindow(id, [&seen](DialogWindow* window) {
      seen = true;
      EXPECT_FALSE(window->windowTitle().isEmpty());
      Screenshot(window);
      QTest::keyClick(window, Qt::Key_Escape);
    });
    const SetupService open = FindSetupService(OpenDialogServiceName(id));
    EXPECT_EQ(open(demo.setup.get()), kIdCancel);
    EXPECT_TRUE(seen);
  }
}

// The drive setup dialog opens the motor setup dialog by itself; a value typed there as a user
// types it (select, type, Return, which takes the value and presses OK) and OK in the drive setup
// reach the setup, and EditSetup reports it accepted. The user is in a decimal-comma locale: the
// value is typed with a comma, every number is still shown with a point, and the setup's file
// text still reads back as the same setup.
TEST_F(FrontEnd, AnEditThroughTheRealWidgetsReachesTheSetup) {
  constexpr int kNominalCurrentEdit = 1159;
  const ScopedLocale german("de_DE.UTF-8");
  const double typed = setup_->FindParameter("In")->GetValueInBaseUnit() == 3.5 ? 3.25 : 3.5;
  QStringList shown;
  OnWindow(kMotorSetup, [&](DialogWindow* motor) {
    Screenshot(motor);
    if (QLineEdit* edit = Find<QLineEdit>(*motor, kNominalCurrentEdit)) {
      edit->setFocus();
      edit->selectAll();
      QTest::keyClicks(edit, QLocale().toString(typed));
      QTest::keyClick(edit, Qt::Key_Return);
    }
    OnWindow(kDriveSetup, [&](DialogWindow* drive) {
      Screenshot(drive);
      for (QLineEdit* edit : drive->findChildren<QLineEdit*>()) shown << edit->text();
      Press(*drive, kIdOk);
    });
  });
  EXPECT_EQ(LoadedPlugin().Exports().EditSetup(setup_.get()), 1);
  EXPECT_DOUBLE_EQ(setup_->FindParameter("In")->GetValueInBaseUnit(), typed);
  EXPECT_TRUE(shown.filter(QStringLiteral(".")).size() > 0 &&
              shown.filter(QStringLiteral(",")).empty())
      << shown.join(QStringLiteral(" | ")).toStdString();
  LoadResult again = LoadSetupText(SetupToText(*setup_), "edited");
  ASSERT_TRUE(again) << again.error;
  EXPECT_EQ(FirstDifference(*setup_, *again.setup), "");
}

// Cancel in the drive setup dialog makes EditSetup report "not accepted".
TEST_F(FrontEnd, CancelReportsNotAccepted) {
  OnWindow(kMotorSetup, [this](DialogWindow* motor) {
    QTest::keyClick(motor, Qt::Key_Escape);
    OnWindow(kDriveSetup, [](DialogWindow* drive) { Press(*drive, kIdCancel); });
  });
  EXPECT_EQ(LoadedPlugin().Exports().EditSetup(setup_.get()), 0);
}

// The tests run in their windows against the simulated drive in real time, as in `axiscore edit`:
// Start through the button, the verdict and the plotted points in the window, Close.
TEST_F(FrontEnd, TestsRunInTheirWindowsOnTheSimulatedDrive) {
  ASSERT_NO_FATAL_FAILURE(ConnectRealTimeDrive());
  const struct {
    int id;
    int page;       // the tab page Start is on (-1: no tabs)
    size_t points;  // plotted by the first curve
    int closed;     // what Close returns (the resolution test closes with OK after a success)
  } tests[] = {{288, -1, 0, kIdCancel},
               {101, 1, 100, kIdCancel},
               {292, -1, 0, kIdOk},
               {3057, 1, 2000, kIdCancel}};
  for (const auto& test : tests) {
    SCOPED_TRACE(test.id);
    int verdict = 0;
    size_t points = 0;
    OnWindow(test.id, [&](DialogWindow* window) {
      if (test.page >= 0) {
        if (auto* tabs = window->findChild<QTabWidget*>()) tabs->setCurrentIndex(test.page);
      }
      Press(*window, CMC_TestDlg::kStartStop);
      auto* model = dynamic_cast<CMC_TestDlg*>(&window->Model());
      ASSERT_NE(model, nullptr);
      WhenReady([model] { return !model->TestRunning(); },
                [&, window, model] {
                  verdict = model->TestResult();
                  for (const auto& [id, control] : model->Controls()) {
                    const auto* plot = dynamic_cast<const CGraphWindow*>(control.custom);
                    if (plot != nullptr && plot->GetCurves()->GetCount() > 0)
                      points += plot->GetCurves()->GetCurve(0)->Points().size();
                  }
                  Screenshot(window, "-run");
                  Press(*window, kIdCancel);
                },
                steps_.get());
    });
    EXPECT_EQ(FindSetupService(OpenDialogServiceName(test.id))(setup_.get()), test.closed);
    EXPECT_EQ(verdict, 1);
    EXPECT_EQ(points, test.points);
  }
}

// The speed test's on-line plot follows the drive live in its window (the polling loop idles
// through the window's event loop, so Stop gets through), and the position test plots its record.
TEST_F(FrontEnd, TuningTestsPlotLiveInTheirWindows) {
  ASSERT_NO_FATAL_FAILURE(ConnectRealTimeDrive());
  setup_->SetParameterValueInBaseUnit("OnlinePlotS", 1);
  setup_->SetParameterValueInBaseUnit("MultiCycleS", 1);
  for (const int id : {102, 103}) {
    SCOPED_TRACE(id);
    int verdict = 0;
    size_t live_points = 0, plotted = 0;
    OnWindow(id, [&](DialogWindow* window) {
      if (auto* tabs = window->findChild<QTabWidget*>()) tabs->setCurrentIndex(1);
      Press(*window, CMC_TestDlg::kStartStop);
      auto* model = dynamic_cast<CMC_TestDlg*>(&window->Model());
      ASSERT_NE(model, nullptr);
      const auto* view = dynamic_cast<const CMC_Oscilloscope*>(model->Control(1362)->custom);
      const auto* graph = dynamic_cast<const CGraphWindow*>(model->Control(1361)->custom);
      const auto finish = [&, window, model, graph] {
        verdict = model->TestResult();
        if (graph != nullptr && graph->GetCurves()->GetCount() > 0)
          plotted = graph->GetCurves()->GetCurve(0)->Points().size();
        Screenshot(window, "-run");
        Press(*window, kIdCancel);
      };
      if (id == 103) {  // the data logger: the record comes at the end
        WhenReady([model] { return !model->TestRunning(); }, finish, steps_.get());
        return;
      }
      WhenReady([view] { return view != nullptr && view->History(0).size() >= 300; },
                [&, window, model, view, finish] {
                  live_points = view->History(0).size();
                  Screenshot(window, "-live");
                  Press(*window, CMC_TestDlg::kStartStop);  // Stop
                  WhenReady([model] { return !model->TestRunning(); }, finish, steps_.get());
                },
                steps_.get());
    });
    EXPECT_EQ(FindSetupService(OpenDialogServiceName(id))(setup_.get()), kIdCancel);
    EXPECT_EQ(verdict, 1);
    EXPECT_GE(id == 102 ? live_points : plotted, id == 102 ? 300u : 100u);
  }
}

}  // namespace
}  // namespace axis::gui
