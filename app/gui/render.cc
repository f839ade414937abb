#include "app/gui/render.h"

#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <cstdlib>
#include <memory>

#include "app/gui/custom_widgets.h"
#include "app/gui/qt_platform.h"
#include "app/gui/simulated_inputs.h"
#include "host/dialog_template.h"
#include "host/edit_setup_dlg.h"
#include "host/setup.h"

namespace axis::gui {

namespace {

bool HasText(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0';
}

// Qt keeps its session files in XDG_RUNTIME_DIR and, when a session (a terminal without a desktop,
// CI) has none, warns and makes one itself: make it as Qt would, quietly.
void EnsureRuntimeFolder() {
  if (HasText("XDG_RUNTIME_DIR")) return;
  const std::string folder = "/tmp/runtime-" + std::to_string(getuid());
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0 && mkdir(folder.c_str(), 0700) != 0) return;
  if (stat(folder.c_str(), &info) == 0 && info.st_uid == getuid() && (info.st_mode & 0077) == 0)
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

// The process's Qt application: the one that exists, else one made here for the process's life.
// `offscreen`: draw without a display unless the caller chose a platform with QT_QPA_PLATFORM.
void EnsureApplication(bool offscreen) {
  if (QApplication::instance() != nullptr) return;
  if (offscreen && !HasText("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EnsureRuntimeFolder();
  static int argc = 1;
  static char name[] = "axiscore";
  static char* argv[] = {name, nullptr};
  // Kept to the end of the process: destroying it among the static objects at exit is unsafe.
  static QApplication* application = new QApplication(argc, argv);
  QApplication::setApplicationName(QStringLiteral("axiscore"));
  (void)application;
}

// Why Qt could not start on a display, "" when it should. Qt gives up on a missing display by
// aborting the process, so the obvious cases are caught before it tries.
std::string DisplayProblem() {
  if (HasText("QT_QPA_PLATFORM") || HasText("WAYLAND_DISPLAY")) return {};
  if (!HasText("DISPLAY"))
    return "no display to show the editor on: neither DISPLAY nor WAYLAND_DISPLAY is set (run it "
           "in a desktop session, or choose a Qt platform with QT_QPA_PLATFORM)";
  // A local X display ":N" or ":N.S" listens on /tmp/.X11-unix/XN.
  const std::string display = std::getenv("DISPLAY");
  if (display.size() > 1 && display[0] == ':') {
    const std::string number = display.substr(1, display.find('.') - 1);
    struct stat info {};
    if (stat(("/tmp/.X11-unix/X" + number).c_str(), &info) != 0)
      return "cannot reach the display \"" + display + "\": no X server listens on it";
  }
  return {};
}

// The dialog as the desktop platform shows it when it opens.
QPixmap Draw(DialogModel& model) {
  DialogWindow window(model, nullptr);
  window.show();
  QApplication::processEvents();
  QPixmap picture = window.grab();
  window.hide();
  return picture;
}

std::string Save(const QPixmap& picture, const std::string& png_path) {
  if (picture.isNull()) return "the dialog could not be drawn";
  if (!picture.save(QString::fromLocal8Bit(png_path.c_str()), "PNG"))
    return "cannot write \"" + png_path + "\"";
  return {};
}

}  // namespace

std::string PictureName(int template_id) {
  std::string error;
  const std::string path = FindNumberedResource("dialogs", template_id, ".json", "", error);
  if (path.empty()) return std::to_string(template_id);
  return QFileInfo(QString::fromLocal8Bit(path.c_str())).completeBaseName().toStdString();
}

std::optional<int> RunOnDesktop(const std::function<int()>& edit,
                                const std::vector<SimulatedInput>& inputs,
                                DriveConnection* connection, std::string& error) {
  error = DisplayProblem();
  if (!error.empty()) return std::nullopt;
  EnsureApplication(false);
  QtPlatform platform;
  std::unique_ptr<QWidget> drive_window;
  if (!inputs.empty() || connection != nullptr) {
    // The drive changes only between tests: while a test dialog runs over the drive setup, the
    // drive it talks to stays.
    drive_window =
        NewDriveWindow(inputs, connection, [&platform] { return platform.OpenDialogs() <= 1; });
    drive_window->show();
  }
  platform.SetCompanionWindow(drive_window.get());
  Platform* previous = GetPlatform();
  const PngWriter previous_writer = GetPngWriter();
  SetPlatform(&platform);
  SetPngWriter(&SaveCustomControlPng);
  const int result = edit();
  SetPngWriter(previous_writer);
  SetPlatform(previous);
  return result;
}

// --- drawing dialogs as they open ---------------------------------------------------------------

namespace {

// The platform of a renderer: draws a dialog instead of running it.
class OffscreenPlatform : public QtPlatform {
 public:
  explicit OffscreenPlatform(std::string folder) : folder_(std::move(folder)) {}

  int RunModal(DialogModel& dialog) override {
    const std::string png = folder_ + "/" + PictureName(dialog.Template().id) + ".png";
    const std::string error = Save(Draw(dialog), png);
    if (error.empty()) {
      written_.push_back(png);
    } else {
      notes_.push_back(error);
    }
    dialog.EndDialog(kIdCancel);
    return dialog.Result();
  }
  void EndModal(DialogModel&, int) override {}
  bool SetTimer(DialogModel&, int, unsigned) override { return true; }
  bool KillTimer(DialogModel&, int) override { return true; }
  int ShowMessageBox(const MessageBoxRequest& request) override {
    notes_.push_back("message box answered with its default button: " + request.text);
    return DefaultButton(request.buttons);
  }
  void OpenHelp(int) override {}
  std::optional<std::string> AskFileName(const FileNameRequest&) override { return std::nullopt; }

  std::vector<std::string> TakeWritten() { return std::exchange(written_, {}); }
  const std::vector<std::string>& Notes() const { return notes_; }

 private:
  std::string folder_;
  std::vector<std::string> written_;
  std::vector<std::string> notes_;
};

class OffscreenRenderer final : public DialogRenderer {
 public:
  explicit OffscreenRenderer(const std::string& folder) : platform_(folder) {}

  std::vector<std::string> Render(const std::function<int()>& open) override {
    axis::Platform* previous = GetPlatform();
    SetPlatform(&platform_);
    open();
    SetPlatform(previous);
    return platform_.TakeWritten();
  }
  const std::vector<std::string>& Notes() const override { return platform_.Notes(); }

 private:
  OffscreenPlatform platform_;
};

}  // namespace

std::unique_ptr<DialogRenderer> NewDialogRenderer(const std::string& folder) {
  EnsureApplication(true);
  return std::make_unique<OffscreenRenderer>(folder);
}

std::string RenderTemplate(int template_id, const std::string& png_path) {
  EnsureApplication(true);
  CMC_Setup setup;
  CMC_EditSetupDlg model(setup, template_id, 0, nullptr, nullptr);
  if (!model.LoadError().empty()) return model.LoadError();
  return Save(Draw(model), png_path);
}

std::string DrawDialog(DialogModel& model, const std::string& png_path) {
  EnsureApplication(true);
  return Save(Draw(model), png_path);
}

std::string SaveCustomControlPicture(const axis::CustomControl& control, int width, int height,
                                     const std::string& png_path) {
  EnsureApplication(true);
  return SaveCustomControlPng(control, width, height, png_path);
}

}  // namespace axis::gui

// The library's only export (app/gui/front_end.map).
extern "C" const axis::gui::FrontEnd* axis_front_end() {
  static const axis::gui::FrontEnd table = {
      axis::gui::kFrontEndVersion, &axis::gui::RunOnDesktop, &axis::gui::NewDialogRenderer,
      &axis::gui::RenderTemplate,  &axis::gui::DrawDialog,   &axis::gui::SaveCustomControlPicture};
  return &table;
}
