// Speed of opening the drive setup dialog as the desktop front end does: the plug-in builds the
// dialog on the demo setup (both passes, parameter limits, bindings, enabling rules) and the Qt
// platform builds its window and draws it once (offscreen).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/gui/qt_platform.h"
#include "host/plugin_loader.h"
#include "host/plugin_services.h"
#include "host/setup_file.h"

namespace {

// Shows each dialog once, drawn, then cancels it; timers never fire, so the drive setup dialog
// does not go on to open the motor setup dialog.
class FirstFramePlatform : public axis::gui::QtPlatform {
 public:
  int RunModal(axis::DialogModel& dialog) override {
    axis::gui::DialogWindow window(dialog, nullptr);
    window.show();
    QApplication::processEvents();
    dialog.EndDialog(axis::kIdCancel);
    return dialog.Result();
  }
  void EndModal(axis::DialogModel&, int) override {}
  bool SetTimer(axis::DialogModel&, int, unsigned) override { return true; }
  bool KillTimer(axis::DialogModel&, int) override { return true; }
};

void Die(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(2);
}

void BM_OpenDriveSetupDialog(benchmark::State& state) {
  std::string error;
  const auto plugin = axis::Plugin::Load(axis::DefaultPluginPath(), error);
  if (!plugin) Die(error);
  axis::SetDefaultScaleProvider(plugin->Scales());
  axis::LoadResult loaded = axis::LoadSetupFile(AXIS_SETUPS_DIR "/demo-linear.json");
  if (!loaded.setup) Die(loaded.error);
  const axis::SetupService open = axis::FindSetupService(axis::OpenDialogServiceName(106));
  if (open == nullptr) Die("the plug-in offers no drive setup dialog");
  FirstFramePlatform platform;
  axis::SetPlatform(&platform);
  for (auto _ : state) {
    if (open(loaded.setup.get()) != axis::kIdCancel) Die("the drive setup dialog did not open");
  }
  axis::SetPlatform(nullptr);
}
BENCHMARK(BM_OpenDriveSetupDialog)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
