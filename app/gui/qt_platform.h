// The desktop platform: dialog models shown as Qt Widgets.
//
// Every control of a model's template becomes one widget, a direct child of the dialog window,
// placed at its template rect (dialog pixels). Group boxes and tab controls are frames drawn
// beneath the others; a control's visibility is the model's IsVisible, which already accounts
// for parents and tab pages. The window follows the model through the model's change listener,
// and the user's actions go to the model's User... operations, which decide; after each action
// the widget is brought back in step with the model, so a refused action leaves no trace.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/dialog_model.h"
#include "host/platform.h"

class QTextBrowser;
class QTimer;

namespace axis::gui {

// The frame of a custom control: holds the widget drawing the model attached to the control
// (app/gui/custom_widgets.h), made anew when another model is attached. A plot in it may be
// zoomed and panned, and its channel-scale steps go to `channel_step`; a right-click over the
// control reaches the frame (its customContextMenuRequested).
class CustomFrame : public QWidget {
 public:
  CustomFrame(QWidget* parent, std::function<void(int channel, int step)> channel_step);
  void Show(axis::CustomControl* model);

 private:
  axis::CustomControl* model_ = nullptr;
  QWidget* drawing_ = nullptr;
  std::function<void(int channel, int step)> channel_step_;
};

// The window of one dialog model.
class DialogWindow : public QDialog {
 public:
  DialogWindow(DialogModel& model, QWidget* parent);
  ~DialogWindow() override;

  DialogModel& Model() { return model_; }
  // The widget of a control, or null when the template has no such control.
  QWidget* Widget(int id) const;
  // Brings one widget (and every widget's visibility) in step with the model.
  void Sync(int id);
  void SyncAll();

 protected:
  void reject() override;  // Escape and the title bar's close: the model's OnCancel decides
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();
  QWidget* Create(const axis::ControlTemplate& t);
  void Connect(int id, QWidget* widget);
  void SyncWidget(const axis::ControlState& c, QWidget* widget);
  void SyncTextColour(int colour, QWidget* widget);
  void SyncVisibility();
  // Runs a user action on the model, then shows what the model made of it.
  template <typename Action>
  void Forward(int id, Action action);

  DialogModel& model_;
  std::map<int, QWidget*> widgets_;
  bool syncing_ = false;
};

// Text as the model keeps it (Latin-1) and as Qt shows it.
QString FromLatin1(const std::string& text);
std::string ToLatin1(const QString& text);
// A static text's caption as shown: "&&" is one "&", a single "&" marks a mnemonic and is dropped.
QString StripMnemonics(const std::string& caption);
// A file-dialog filter from the "Description|*.ext|..." form: "Description (*.ext);;...".
QString QtFileFilter(const std::string& filter);
// resources/pictures/<name>.svg, "" when there is none.
QString PicturePath(const std::string& name);

class QtPlatform : public Platform {
 public:
  QtPlatform();
  ~QtPlatform() override;

  int RunModal(DialogModel& dialog) override;
  void EndModal(DialogModel& dialog, int result) override;
  bool SetTimer(DialogModel& dialog, int id, unsigned period_ms) override;
  bool KillTimer(DialogModel& dialog, int id) override;
  void DispatchPendingMessages() override;
  void Idle(unsigned ms) override;
  int ShowMessageBox(const MessageBoxRequest& request) override;
  void OpenHelp(int context) override;
  std::optional<std::string> AskFileName(const FileNameRequest& request) override;
  std::optional<std::string> AskText(const TextRequest& request) override;
  // A popup menu at the pointer.
  std::optional<int> ChooseMenuCommand(const MenuRequest& request) override;
  // The comma too where the user's locale (QLocale) writes numbers with one.
  DecimalMark TypedDecimalMark() const override;

  // The window a running dialog is shown in, or null.
  DialogWindow* WindowOf(const DialogModel& dialog) const;
  // The help window, once a topic was opened.
  QTextBrowser* HelpBrowser() const;
  // A window that stays usable whichever modal dialog runs (the simulated drive's inputs): it is
  // carried to the innermost dialog's window while that runs (null: none).
  void SetCompanionWindow(QWidget* companion) { companion_ = companion; }
  // How many dialogs run modally now (the innermost over the others).
  size_t OpenDialogs() const { return windows_.size(); }

 private:
  void KillTimers(const DialogModel& dialog);
  // Gives the companion window to `owner` (null: no owner), where it shows as before.
  void MoveCompanionTo(QWidget* owner);

  std::vector<std::pair<DialogModel*, DialogWindow*>> windows_;  // innermost last
  std::map<std::pair<const DialogModel*, int>, std::unique_ptr<QTimer>> timers_;
  QPointer<QDialog> help_window_;
  QTextBrowser* help_browser_ = nullptr;
  QPointer<QWidget> companion_;
};

}  // namespace axis::gui
