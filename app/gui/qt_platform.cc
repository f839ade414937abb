#include "app/gui/qt_platform.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/gui/custom_widgets.h"
#include "app/gui/plot_widgets.h"
#include "host/dialog_template.h"
#include "host/text.h"

namespace axis::gui {

namespace {

using axis::ControlKind;

// Template ids as Qt object names, so tools and tests find a control's widget.
QString ObjectName(int id) { return QStringLiteral("control_%1").arg(id); }

// An SVG drawn into a pixmap of `size`, keeping its proportions; null when there is no picture.
QPixmap RenderPicture(const std::string& name, QSize size) {
  const QString path = PicturePath(name);
  if (path.isEmpty() || size.isEmpty()) return {};
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) return {};
  QSizeF drawn = renderer.defaultSize();
  drawn.scale(size, Qt::KeepAspectRatio);
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  const QPointF corner((size.width() - drawn.width()) / 2, (size.height() - drawn.height()) / 2);
  renderer.render(&painter, QRectF(corner, drawn));
  return pixmap;
}

// The bitmap of a bitmap button: the picture at most as high as the button allows, beside the
// caption.
void ShowButtonImage(QPushButton* button, const std::string& image) {
  const int side = std::max(0, std::min(button->height(), button->width()) - 12);
  const QPixmap pixmap = RenderPicture(image, QSize(side, side));
  button->setIcon(pixmap.isNull() ? QIcon() : QIcon(pixmap));
  button->setIconSize(QSize(side, side));
}

// A caption too long for its button goes on two lines when the button is tall enough for them,
// broken at the blank nearest the middle.
void ShowButtonText(QPushButton* button, const QString& text) {
  const QFontMetrics metrics = button->fontMetrics();
  const int room = button->width() - 12;
  if (metrics.horizontalAdvance(text) <= room || button->height() < 2 * metrics.height() + 6) {
    button->setText(text);
    return;
  }
  qsizetype best = -1;
  for (qsizetype i = text.indexOf(QLatin1Char(' ')); i >= 0;
       i = text.indexOf(QLatin1Char(' '), i + 1)) {
    if (best < 0 || std::abs(i - text.size() / 2) < std::abs(best - text.size() / 2)) best = i;
  }
  button->setText(best < 0 ? text : text.left(best) + QLatin1Char('\n') + text.mid(best + 1));
}

}  // namespace

// --- text ----------------------------------------------------------------------------------------

QString FromLatin1(const std::string& text) {
  return QString::fromStdString(axis::Windows1252ToUtf8(text));
}

std::string ToLatin1(const QString& text) {
  std::string bytes;
  for (const char32_t character : text.toStdU32String())
    bytes.push_back(axis::Windows1252Byte(character).value_or('?'));  // others become '?'
  return bytes;
}

QString StripMnemonics(const std::string& caption) {
  std::string shown;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] != '&') {
      shown.push_back(caption[i]);
    } else if (i + 1 < caption.size() && caption[i + 1] == '&') {
      shown.push_back('&');
      ++i;
    }
  }
  return FromLatin1(shown);
}

QString QtFileFilter(const std::string& filter) {
  // Pairs of description and pattern; the description already names the pattern.
  const QStringList parts = FromLatin1(filter).split(QLatin1Char('|'));
  QStringList shown;
  for (qsizetype i = 0; i < parts.size(); i += 2) {
    if (!parts[i].isEmpty()) shown << parts[i];
  }
  return shown.join(QStringLiteral(";;"));
}

QString PicturePath(const std::string& name) {
  if (name.empty()) return {};
  const QString path =
      FromLatin1(axis::ResourceDirectory() + "/pictures/") + FromLatin1(name) + ".svg";
  return QFileInfo::exists(path) ? path : QString();
}

// --- the dialog window ---------------------------------------------------------------------------

CustomFrame::CustomFrame(QWidget* parent, std::function<void(int, int)> channel_step)
    : QWidget(parent), channel_step_(std::move(channel_step)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  setContextMenuPolicy(Qt::CustomContextMenu);
}

void CustomFrame::Show(axis::CustomControl* model) {
  if (model != model_) {
    delete drawing_;
    drawing_ = model == nullptr ? nullptr : CreateCustomWidget(*model, this);
    if (drawing_ != nullptr) layout()->addWidget(drawing_);
    if (auto* plot = dynamic_cast<PlotWidget*>(drawing_))
      plot->SetInteractive(dynamic_cast<CGraphWindow*>(model), channel_step_);
    model_ = model;
  }
  if (drawing_ != nullptr) drawing_->update();
}

DialogWindow::DialogWindow(DialogModel& model, QWidget* parent) : QDialog(parent), model_(model) {
  Build();
  model_.SetChangeListener([this](int id) { Sync(id); });
}

DialogWindow::~DialogWindow() { model_.SetChangeListener(nullptr); }

QWidget* DialogWindow::Widget(int id) const {
  const auto it = widgets_.find(id);
  return it == widgets_.end() ? nullptr : it->second;
}

void DialogWindow::Build() {
  const axis::DialogTemplate& t = model_.Template();
  setWindowTitle(FromLatin1(t.caption));
  setFixedSize(std::max(t.width, 1), std::max(t.height, 1));
  setObjectName(QStringLiteral("dialog_%1").arg(t.id));
  // Frames first and lowest, so the controls inside them stay on top and clickable.
  std::vector<QWidget*> frames;
  for (const axis::ControlTemplate& c : t.controls) {
    QWidget* widget = Create(c);
    widget->setObjectName(ObjectName(c.id));
    widget->setGeometry(c.rect.x, c.rect.y, c.rect.w, c.rect.h);
    widget->installEventFilter(this);
    widgets_[c.id] = widget;
    if (c.kind == ControlKind::kGroup || c.kind == ControlKind::kTab) frames.push_back(widget);
    Connect(c.id, widget);
  }
  // A frame inside another frame must stay above it: lower the outer ones last.
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) (*it)->lower();
  if (auto* ok = qobject_cast<QPushButton*>(Widget(axis::kIdOk))) ok->setDefault(true);
  SyncAll();
}

QWidget* DialogWindow::Create(const axis::ControlTemplate& t) {
  switch (t.kind) {
    case ControlKind::kGroup:
      return new QGroupBox(this);
    case ControlKind::kLabel: {
      auto* label = new QLabel(this);
      // One line of text centres vertically in its rect and is cut at its end rather than
      // wrapped out of sight; a taller rect wraps its text from the top.
      const bool one_line = t.rect.h < 2 * label->fontMetrics().height();
      label->setWordWrap(!one_line);
      label->setAlignment(Qt::AlignLeft | (one_line ? Qt::AlignVCenter : Qt::AlignTop));
      return label;
    }
    case ControlKind::kMark: {
      auto* mark = new QLabel(this);
      mark->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
      mark->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      return mark;
    }
    case ControlKind::kEdit: {
      auto* edit = new QLineEdit(this);
      edit->setReadOnly(t.read_only);
      return edit;
    }
    case ControlKind::kUnit:
    case ControlKind::kCombo:
      return new QComboBox(this);
    case ControlKind::kCheck: {
      auto* check = new QCheckBox(this);
      check->setTristate(false);
      return check;
    }
    case ControlKind::kRadio: {
      // The model knows which radios form a group; Qt's own exclusivity would join them all.
      auto* radio = new QRadioButton(this);
      radio->setAutoExclusive(false);
      return radio;
    }
    case ControlKind::kButton:
    case ControlKind::kBitmapButton: {
      auto* button = new QPushButton(this);
      button->setAutoDefault(false);
      return button;
    }
    case ControlKind::kPicture: {
      auto* picture = new QLabel(this);
      picture->setAlignment(Qt::AlignCenter);
      return picture;
    }
    case ControlKind::kSlider: {
      auto* slider = new QSlider(Qt::Horizontal, this);
      slider->setRange(t.range_min, t.range_max);
      return slider;
    }
    case ControlKind::kSpin: {
      // A button that steps a value, showing the bound it steps toward beside its arrow.
      auto* spin = new QToolButton(this);
      spin->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
      spin->setAutoRepeat(true);
      return spin;
    }
    case ControlKind::kTab: {
      auto* tab = new QTabWidget(this);
      for (const std::string& page : t.pages) tab->addTab(new QWidget(tab), FromLatin1(page));
      return tab;
    }
    case ControlKind::kText: {
      auto* text = new QPlainTextEdit(this);
      text->setReadOnly(true);  // texts show what the dialog writes (guidelines, results)
      return text;
    }
    case ControlKind::kCustom: {
      const int id = t.id;
      return new CustomFrame(this, [this, id](int channel, int step) {
        Forward(id, [&] { model_.UserGraphMessage(id, channel, step); });
      });
    }
  }
  return new QWidget(this);
}

template <typename Action>
void DialogWindow::Forward(int id, Action action) {
  if (syncing_ || !model_.IsRunning()) {
    Sync(id);
    return;
  }
  action();
  // The action may have ended the dialog; the widgets still exist until the window goes.
  Sync(id);
}

void DialogWindow::Connect(int id, QWidget* widget) {
  const axis::ControlState* c = model_.Control(id);
  if (c == nullptr) return;
  switch (c->kind) {
    case ControlKind::kEdit: {
      auto* edit = static_cast<QLineEdit*>(widget);
      connect(edit, &QLineEdit::editingFinished, this, [this, id, edit] {
        // Only what the user typed: leaving an untouched edit commits nothing. Cleared first,
        // because a refusal's message box takes the focus and finishes the edit again.
        if (!edit->isModified()) return;
        edit->setModified(false);
        Forward(id, [&] { model_.UserType(id, ToLatin1(edit->text())); });
      });
      break;
    }
    case ControlKind::kUnit:
    case ControlKind::kCombo:
      connect(static_cast<QComboBox*>(widget), &QComboBox::activated, this,
              [this, id](int index) { Forward(id, [&] { model_.UserSelectCombo(id, index); }); });
      break;
    case ControlKind::kCheck: {
      auto* check = static_cast<QCheckBox*>(widget);
      connect(check, &QAbstractButton::clicked, this,
              [this, id](bool checked) { Forward(id, [&] { model_.UserSetCheck(id, checked); }); });
      break;
    }
    case ControlKind::kRadio:
    case ControlKind::kButton:
    case ControlKind::kBitmapButton:
    case ControlKind::kSpin:
      connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, this,
              [this, id] { Forward(id, [&] { model_.UserClick(id); }); });
      break;
    case ControlKind::kSlider:
      connect(static_cast<QSlider*>(widget), &QSlider::valueChanged, this,
              [this, id](int value) { Forward(id, [&] { model_.UserMoveSlider(id, value); }); });
      break;
    case ControlKind::kTab:
      connect(static_cast<QTabWidget*>(widget), &QTabWidget::currentChanged, this,
              [this, id](int page) { Forward(id, [&] { model_.UserSelectTab(id, page); }); });
      break;
    case ControlKind::kCustom:
      connect(widget, &QWidget::customContextMenuRequested, this,
              [this, id] { Forward(id, [&] { model_.UserContextMenu(id); }); });
      break;
    default:
      break;
  }
}

// The model's text colour (0x00BBGGRR) as the widget's text colours, or the window's own.
void DialogWindow::SyncTextColour(int colour, QWidget* widget) {
  const QVariant now = widget->property("axisTextColour");
  if (now.isValid() ? now.toInt() == colour : colour == axis::kDefaultTextColour) return;
  widget->setProperty("axisTextColour", colour);
  QPalette colours = this->palette();
  if (colour != axis::kDefaultTextColour) {
    const QColor rgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      colours.setColor(role, rgb);
  }
  widget->setPalette(colours);
}

void DialogWindow::SyncWidget(const axis::ControlState& c, QWidget* widget) {
  widget->setEnabled(c.enabled);
  SyncTextColour(c.text_colour, widget);
  switch (c.kind) {
    case ControlKind::kGroup:
      static_cast<QGroupBox*>(widget)->setTitle(FromLatin1(c.text));
      break;
    case ControlKind::kLabel:
    case ControlKind::kMark:
      static_cast<QLabel*>(widget)->setText(StripMnemonics(c.text));
      break;
    case ControlKind::kEdit: {
      auto* edit = static_cast<QLineEdit*>(widget);
      const QString text = FromLatin1(c.text);
      // The user types at most the model's limit; a longer text the program set stays whole.
      constexpr int kQtDefaultMaxLength = 32767;
      const int limit = c.text_limit == 0 ? kQtDefaultMaxLength
                                          : std::max(static_cast<int>(c.text_limit),
                                                     static_cast<int>(text.size()));
      if (edit->maxLength() != limit) edit->setMaxLength(limit);
      if (edit->text() != text) {
        edit->setText(text);  // also clears "modified"
        // A text longer than the edit shows its beginning, as the user reads it.
        if (!edit->hasFocus()) edit->setCursorPosition(0);
      }
      break;
    }
    case ControlKind::kUnit:
    case ControlKind::kCombo: {
      auto* combo = static_cast<QComboBox*>(widget);
      QStringList items;
      for (const axis::ComboItem& item : c.items) items << FromLatin1(item.text);
      QStringList shown;
      for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
      if (shown != items) {
        combo->clear();
        combo->addItems(items);
      }
      combo->setCurrentIndex(c.selection);
      break;
    }
    case ControlKind::kCheck:
      static_cast<QCheckBox*>(widget)->setText(FromLatin1(c.text));
      static_cast<QCheckBox*>(widget)->setCheckState(c.check == 0   ? Qt::Unchecked
                                                     : c.check == 2 ? Qt::PartiallyChecked
                                                                    : Qt::Checked);
      break;
    case ControlKind::kRadio:
      static_cast<QRadioButton*>(widget)->setText(FromLatin1(c.text));
      static_cast<QRadioButton*>(widget)->setChecked(c.check != 0);
      break;
    case ControlKind::kButton:
      ShowButtonText(static_cast<QPushButton*>(widget), FromLatin1(c.text));
      break;
    case ControlKind::kBitmapButton: {
      auto* button = static_cast<QPushButton*>(widget);
      button->setText(FromLatin1(c.text));
      button->setToolTip(StripMnemonics(c.text));
      ShowButtonImage(button, c.image);
      break;
    }
    case ControlKind::kPicture: {
      auto* picture = static_cast<QLabel*>(widget);
      const QPixmap pixmap = RenderPicture(c.image, picture->size());
      if (pixmap.isNull()) {
        picture->setText(StripMnemonics(c.text));
      } else {
        picture->setPixmap(pixmap);
      }
      break;
    }
    case ControlKind::kSlider:
      static_cast<QSlider*>(widget)->setValue(c.selection);
      break;
    case ControlKind::kSpin: {
      auto* spin = static_cast<QToolButton*>(widget);
      spin->setText(FromLatin1(c.text));
      spin->setArrowType(c.selection < 0   ? Qt::LeftArrow
                         : c.selection > 0 ? Qt::RightArrow
                                           : Qt::NoArrow);
      break;
    }
    case ControlKind::kTab:
      static_cast<QTabWidget*>(widget)->setCurrentIndex(c.selection);
      break;
    case ControlKind::kText: {
      auto* text = static_cast<QPlainTextEdit*>(widget);
      const QString shown = FromLatin1(c.text);
      if (text->toPlainText() != shown) text->setPlainText(shown);
      break;
    }
    case ControlKind::kCustom:
      static_cast<CustomFrame*>(widget)->Show(c.custom);
      break;
  }
}

void DialogWindow::SyncVisibility() {
  for (const auto& [id, widget] : widgets_) widget->setVisible(model_.IsVisible(id));
}

void DialogWindow::Sync(int id) {
  const axis::ControlState* c = model_.Control(id);
  QWidget* widget = Widget(id);
  if (c == nullptr || widget == nullptr) return;
  // Setting a widget from the model must not come back as a user action.
  const bool was_syncing = syncing_;
  syncing_ = true;
  {
    const QSignalBlocker blocker(widget);
    SyncWidget(*c, widget);
  }
  // Showing or hiding a control, or turning a tab page, changes what its children show.
  SyncVisibility();
  syncing_ = was_syncing;
}

void DialogWindow::SyncAll() {
  const bool was_syncing = syncing_;
  syncing_ = true;
  for (const auto& [id, widget] : widgets_) {
    if (const axis::ControlState* c = model_.Control(id)) {
      const QSignalBlocker blocker(widget);
      SyncWidget(*c, widget);
    }
  }
  SyncVisibility();
  syncing_ = was_syncing;
}

void DialogWindow::reject() {
  if (model_.IsRunning()) model_.OnCancel();
}

void DialogWindow::closeEvent(QCloseEvent* event) {
  // The window goes only when the model ends; a close request is a Cancel the model may refuse.
  if (model_.IsRunning()) {
    event->ignore();
    model_.OnCancel();
    return;
  }
  QDialog::closeEvent(event);
}

bool DialogWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !model_.IsRunning())
    return QDialog::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
    if (axis::Platform* platform = axis::GetPlatform())
      platform->OpenHelp(model_.Template().help_context);
    return true;
  }
  // Chords with Ctrl go to the dialog first ("Ctrl+Shift+E"); Alt alone stays a mnemonic.
  if ((key->modifiers() & Qt::ControlModifier) != 0 && key->key() != Qt::Key_Control &&
      key->key() != Qt::Key_Shift && key->key() != Qt::Key_Alt) {
    const QKeySequence chord(key->keyCombination());
    if (model_.UserKeyChord(chord.toString(QKeySequence::PortableText).toStdString())) return true;
  }
  return QDialog::eventFilter(watched, event);
}

// --- the platform --------------------------------------------------------------------------------

QtPlatform::QtPlatform() = default;

QtPlatform::~QtPlatform() {
  timers_.clear();
  delete help_window_.data();
}

DialogWindow* QtPlatform::WindowOf(const DialogModel& dialog) const {
  for (const auto& [model, window] : windows_) {
    if (model == &dialog) return window;
  }
  return nullptr;
}

QTextBrowser* QtPlatform::HelpBrowser() const { return help_window_ ? help_browser_ : nullptr; }

int QtPlatform::RunModal(DialogModel& dialog) {
  // A modal dialog opens over the innermost one running.
  QWidget* parent = windows_.empty() ? nullptr : windows_.back().second;
  DialogWindow window(dialog, parent);
  windows_.emplace_back(&dialog, &window);
  // A modal dialog blocks every window but its own children: the companion becomes one.
  MoveCompanionTo(&window);
  if (dialog.IsRunning()) window.exec();
  MoveCompanionTo(parent);
  // Timers belong to the run: none may fire into a dialog that has ended.
  KillTimers(dialog);
  std::erase_if(windows_, [&](const auto& entry) { return entry.first == &dialog; });
  return dialog.Result();
}

void QtPlatform::MoveCompanionTo(QWidget* owner) {
  if (!companion_ || companion_->parentWidget() == owner) return;
  const QRect where = companion_->geometry();
  const bool shown = companion_->isVisible();
  companion_->setParent(owner, companion_->windowFlags());  // (it hides it)
  companion_->setGeometry(where);
  if (shown) companion_->show();
}

void QtPlatform::EndModal(DialogModel& dialog, int result) {
  if (DialogWindow* window = WindowOf(dialog)) window->done(result);
}

bool QtPlatform::SetTimer(DialogModel& dialog, int id, unsigned period_ms) {
  std::unique_ptr<QTimer>& timer = timers_[{&dialog, id}];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [&dialog, id] {
      if (dialog.IsRunning()) dialog.OnTimer(id);
    });
  }
  // QTimer takes an int; a period beyond it is as good as never.
  const auto period = static_cast<int>(std::clamp<unsigned>(period_ms, 1, 0x7fffffff));
  timer->start(period);
  return true;
}

bool QtPlatform::KillTimer(DialogModel& dialog, int id) {
  const auto it = timers_.find({&dialog, id});
  if (it == timers_.end()) return false;
  // The timer may be the one whose timeout is running this: let Qt delete it afterwards.
  it->second->stop();
  it->second.release()->deleteLater();
  timers_.erase(it);
  return true;
}

void QtPlatform::KillTimers(const DialogModel& dialog) {
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->first.first == &dialog) {
      it->second->stop();
      it->second.release()->deleteLater();
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
}

void QtPlatform::DispatchPendingMessages() { QCoreApplication::processEvents(); }

void QtPlatform::Idle(unsigned ms) {
  // Events are handled as they come for `ms`, without spinning the processor meanwhile.
  QEventLoop loop;
  QTimer::singleShot(std::chrono::milliseconds(ms), &loop, &QEventLoop::quit);
  loop.exec();
}

int QtPlatform::ShowMessageBox(const MessageBoxRequest& request) {
  static constexpr struct {
    MessageIcon icon;
    QMessageBox::Icon qt;
  } kIcons[] = {{MessageIcon::kNone, QMessageBox::NoIcon},
                {MessageIcon::kInformation, QMessageBox::Information},
                {MessageIcon::kWarning, QMessageBox::Warning},
                {MessageIcon::kError, QMessageBox::Critical},
                {MessageIcon::kQuestion, QMessageBox::Question}};
  static constexpr struct {
    QMessageBox::StandardButton qt;
    int answer;
  } kButtons[] = {{QMessageBox::Ok, kIdOk},
                  {QMessageBox::Cancel, kIdCancel},
                  {QMessageBox::Yes, kIdYes},
                  {QMessageBox::No, kIdNo},
                  {QMessageBox::Help, kIdHelp}};
  QMessageBox::StandardButtons buttons;
  switch (request.buttons) {
    case MessageButtons::kOk:
      buttons = QMessageBox::Ok;
      break;
    case MessageButtons::kOkCancel:
      buttons = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case MessageButtons::kYesNo:
      buttons = QMessageBox::Yes | QMessageBox::No;
      break;
    case MessageButtons::kYesNoCancel:
      buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
  }
  if (request.help_button) buttons |= QMessageBox::Help;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  for (const auto& row : kIcons) {
    if (row.icon == request.icon) icon = row.qt;
  }
  QWidget* parent = windows_.empty() ? QApplication::activeWindow() : windows_.back().second;
  QMessageBox box(icon, FromLatin1(request.caption), FromLatin1(request.text), buttons, parent);
  box.setObjectName(QStringLiteral("message_box"));
  const bool yes_no =
      request.buttons == MessageButtons::kYesNo || request.buttons == MessageButtons::kYesNoCancel;
  box.setDefaultButton(yes_no ? QMessageBox::Yes : QMessageBox::Ok);
  box.exec();
  int answer = DefaultButton(request.buttons);
  // A box closed without a button (Escape on a box without Cancel) answers its default.
  const auto pressed = box.standardButton(box.clickedButton());
  for (const auto& row : kButtons) {
    if (row.qt == pressed) answer = row.answer;
  }
  if (answer == kIdHelp) OpenHelp(request.help_context);
  return answer;
}

void QtPlatform::OpenHelp(int context) {
  if (!help_window_) {
    help_window_ = new QDialog(nullptr, Qt::Window);
    help_window_->setObjectName(QStringLiteral("help_window"));
    help_window_->resize(560, 420);
    auto* layout = new QVBoxLayout(help_window_);
    help_browser_ = new QTextBrowser(help_window_);
    help_browser_->setOpenExternalLinks(false);
    layout->addWidget(help_browser_);
  }
  const QString folder = FromLatin1(axis::ResourceDirectory() + "/help");
  const QString path = FromLatin1(axis::HelpPagePath(context));
  help_browser_->setSearchPaths({folder});
  if (!path.isEmpty()) {
    help_browser_->setSource(QUrl::fromLocalFile(path));
  } else {
    help_browser_->setPlainText(QStringLiteral("There is no help page for topic %1.").arg(context));
  }
  help_window_->setWindowTitle(QStringLiteral("Help - topic %1").arg(context));
  help_window_->show();
  help_window_->raise();
}

std::optional<std::string> QtPlatform::AskFileName(const FileNameRequest& request) {
  QWidget* parent = windows_.empty() ? nullptr : windows_.back().second;
  const QString title = FromLatin1(request.title);
  const QString filter = QtFileFilter(request.filter);
  const QString proposed = FromLatin1(request.default_name);
  const QString name = request.save ? QFileDialog::getSaveFileName(parent, title, proposed, filter)
                                    : QFileDialog::getOpenFileName(parent, title, proposed, filter);
  if (name.isEmpty()) return std::nullopt;
  // File names go to the operating system as they are spelled there.
  const QByteArray path = QFile::encodeName(name);
  return std::string(path.constData(), static_cast<size_t>(path.size()));
}

DecimalMark QtPlatform::TypedDecimalMark() const {
  return QLocale().decimalPoint() == QStringLiteral(",") ? DecimalMark::kPointOrComma
                                                         : DecimalMark::kPoint;
}

std::optional<int> QtPlatform::ChooseMenuCommand(const MenuRequest& request) {
  QMenu menu(windows_.empty() ? QApplication::activeWindow() : windows_.back().second);
  menu.setObjectName(QStringLiteral("context_menu"));
  for (const MenuItem& item : request.items) {
    QAction* action = menu.addAction(FromLatin1(item.text));
    action->setData(item.command);
    action->setEnabled(item.enabled);
  }
  const QAction* chosen = menu.exec(QCursor::pos());
  if (chosen == nullptr) return std::nullopt;
  return chosen->data().toInt();
}

std::optional<std::string> QtPlatform::AskText(const TextRequest& request) {
  QWidget* parent = windows_.empty() ? QApplication::activeWindow() : windows_.back().second;
  bool accepted = false;
  const QString text =
      QInputDialog::getText(parent, FromLatin1(request.title), FromLatin1(request.prompt),
                            QLineEdit::Normal, FromLatin1(request.initial), &accepted);
  if (!accepted) return std::nullopt;
  return ToLatin1(text);
}

}  // namespace axis::gui
