// The Qt platform driven through its real widgets, offscreen. What the dialog model decides is
// tested headless (unittests/host); here that the widgets carry it both ways.
#include "app/gui/qt_platform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTextBrowser>
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/gui/custom_widgets.h"
#include "app/gui/render.h"
#include "app/gui/simulated_inputs.h"
#include "gui/gui_test_support.h"

namespace axis::gui {
namespace {

using axis::testing::RecordingDlg;
using axis::testing::ResourceFolder;
using Log = std::vector<std::string>;

class QtPlatformTest : public ::testing::Test {
 protected:
  QtPlatformTest() {
    EnsureApplication();
    // clang-format off
    const ParameterDescription parameters[] = {{"PeakCurrent", 10.0, 0.0, 20.0, "A"},
                                   {"Enable", 0.0, 0.0, 1.0, "", "", kTypeSwitch},
                                   {"Mode", 2.0, 0.0, 2.0, "", "", kTypeChoice},
                                   {"Speed", 0.5, 0.0, 5.0, "m/s"}};
    // clang-format on
    for (const ParameterDescription& parameter : parameters)
      EXPECT_NE(setup_.AddParameter(parameter), nullptr);
  }
  void SetUp() override { SetPlatform(&platform_); }
  void TearDown() override { SetPlatform(nullptr); }
  double Value(const char* name) { return setup_.FindParameter(name)->GetValueInBaseUnit(); }

  // Runs `dlg` modally; `script` acts on its window from inside the modal loop.
  int Run(CMC_EditSetupDlg& dlg, std::function<void(DialogWindow&)> script) {
    WhenReady([this, &dlg] { return platform_.WindowOf(dlg) != nullptr; },
              [this, &dlg, script] { script(*platform_.WindowOf(dlg)); });
    return dlg.DoModal();
  }

  ResourceFolder folder_{axis::testing::TestDataDirectory()};
  CMC_Setup setup_;
  QtPlatform platform_;
};

TEST_F(QtPlatformTest, TextCommittedInTheLineEditIsStoredOrWarnedAbout) {
  // clang-format off
  // The unit chosen in the combo first (-1: none), the text typed, the value and text afterwards.
  const struct { const char* name; int unit_index; const char* typed; double stored_A;
                 const char* shown_after; const char* warning; } rows[] = {
      {"milliamperes", 1, "250", 0.25, "250", ""},
      {"above the range", -1, "25", 10.0, "10", "Please enter a value between 0 and 20 A."},
      {"not a number", -1, "abc", 10.0, "10",
       "\"abc\" is not a number. Please enter a value between 0 and 20 A."}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    setup_.FindParameter("PeakCurrent")->SetValueInBaseUnit(10.0);
    ASSERT_EQ(setup_.ChangeParameterUnit("PeakCurrent", "A"), 1);
    RecordingDlg dlg(setup_, 900);
    ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
    QString warning, shown_before, shown_after;
    const int result = Run(dlg, [&](DialogWindow& window) {
      auto* edit = Find<QLineEdit>(window, 1001);
      auto* unit = Find<QComboBox>(window, 1002);
      ASSERT_TRUE(edit && unit);
      emit edit->editingFinished();
      EXPECT_TRUE(dlg.log.empty()) << "leaving an untouched edit commits nothing";
      if (row.unit_index >= 0) {
        unit->setCurrentIndex(row.unit_index);
        emit unit->activated(row.unit_index);
      }
      shown_before = edit->text();
      if (*row.warning != '\0') AnswerNextBox(QMessageBox::Ok, &warning);
      edit->setFocus();
      edit->selectAll();
      QTest::keyClicks(edit, row.typed);
      emit edit->editingFinished();
      shown_after = edit->text();
      Press(window, kIdOk);
    });
    EXPECT_EQ(result, kIdOk);
    EXPECT_EQ(shown_before, row.unit_index == 1 ? "10000" : "10");
    EXPECT_DOUBLE_EQ(Value("PeakCurrent"), row.stored_A);
    EXPECT_EQ(shown_after, row.shown_after);
    EXPECT_EQ(warning, QString::fromLatin1(row.warning));
  }
}

// The companion window (the simulated drive's inputs) stays usable over every modal dialog: it is
// the innermost dialog's child while that runs, a window of its own again after it.
TEST_F(QtPlatformTest, TheCompanionWindowFollowsTheModalDialog) {
  QWidget companion(nullptr, Qt::Tool);
  companion.show();
  platform_.SetCompanionWindow(&companion);
  RecordingDlg dlg(setup_, 900);
  QWidget* owner = nullptr;
  bool shown = false, slider_free = false;
  EXPECT_EQ(Run(dlg,
                [&](DialogWindow& window) {
                  owner = companion.parentWidget();
                  shown = companion.isVisible();
                  // Input reaches it: a modal dialog lets its children have events.
                  slider_free = &window == owner && companion.isWindow();
                  Press(window, kIdOk);
                }),
            kIdOk);
  EXPECT_NE(owner, nullptr);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(slider_free);
  EXPECT_EQ(companion.parentWidget(), nullptr);
  EXPECT_TRUE(companion.isVisible());
  platform_.SetCompanionWindow(nullptr);
}

TEST_F(QtPlatformTest, ChecksAndRadiosGoThroughTheModel) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddCheckParameterControls("Enable", 1010), 1);
  ASSERT_EQ(dlg.AddSwitchParameterControls("Mode", 1020, 1022), 1);
  std::vector<bool> before, after;
  const auto states = [](DialogWindow& window) {
    std::vector<bool> checked{Find<QCheckBox>(window, 1010)->isChecked()};
    for (int id : {1020, 1021, 1022})
      checked.push_back(Find<QRadioButton>(window, id)->isChecked());
    return checked;
  };
  const int result = Run(dlg, [&](DialogWindow& window) {
    before = states(window);
    Press(window, 1010);
    // Clicking the checked radio again must not clear it: radios are cleared by another.
    Press(window, 1021);
    Press(window, 1021);
    after = states(window);
    Press(window, kIdOk);
  });
  EXPECT_EQ(result, kIdOk);
  EXPECT_EQ(before, (std::vector<bool>{false, false, false, true}));  // Mode 2: the third radio
  EXPECT_EQ(after, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(Value("Enable"), 1.0);
  EXPECT_EQ(Value("Mode"), 1.0);
}

// A dialog that changes its controls when "Open..." is pressed, then ends from its timer.
class ChangingDlg : public RecordingDlg {
 public:
  using RecordingDlg::RecordingDlg;
  int OnInitDialog() override {
    RecordingDlg::OnInitDialog();
    EXPECT_TRUE(SetTimer(5, 1));
    return 1;
  }
  void OnCommand(int id) override {
    RecordingDlg::OnCommand(id);
    if (id != 1070) return;
    opened = true;
    ShowChild(1080, 1);
    EnableChild(1001, 0);
    SetChildText(1043, "min &&max");
    SetTextColour(1043, 0x0000FF);  // red
    LimitText(1003, 4);
    SetChildText(9003, "line one\nline two");
    AddComboItem(1060, "z", 7);
    SetComboSelection(1060, 2);
  }
  void OnTimer(int id) override {
    EXPECT_EQ(id, 5);
    if (++firings < 3 || !opened) return;
    EXPECT_TRUE(KillTimer(5));
    EXPECT_FALSE(KillTimer(5));  // gone already
    ended_from_timer = true;
    EndDialog(kIdCancel);
  }
  bool opened = false, ended_from_timer = false;
  int firings = 0;
};

TEST_F(QtPlatformTest, WidgetsFollowTheModelAndTimersReachTheDialog) {
  ChangingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  bool mark_before = true, mark_after = false, edit_enabled_after = true;
  QString label, text, combo, limited;
  QColor label_before, label_after;
  const int result = Run(dlg, [&](DialogWindow& window) {
    mark_before = Find<QLabel>(window, 1080)->isVisibleTo(&window);
    label_before = Find<QLabel>(window, 1043)->palette().color(QPalette::WindowText);
    Press(window, 1070);
    mark_after = Find<QLabel>(window, 1080)->isVisibleTo(&window);
    edit_enabled_after = Find<QLineEdit>(window, 1001)->isEnabled();
    label = Find<QLabel>(window, 1043)->text();
    label_after = Find<QLabel>(window, 1043)->palette().color(QPalette::WindowText);
    // The edit refuses a fifth character while the user types.
    QTest::keyClicks(Find<QLineEdit>(window, 1003), "abcdef");
    limited = Find<QLineEdit>(window, 1003)->text();
    text = Find<QPlainTextEdit>(window, 9003)->toPlainText();
    combo = Find<QComboBox>(window, 1060)->currentText();
  });
  EXPECT_EQ(result, kIdCancel);
  EXPECT_TRUE(dlg.ended_from_timer);
  EXPECT_TRUE(!mark_before && mark_after && !edit_enabled_after);
  EXPECT_EQ(label, "min &max");
  EXPECT_TRUE(label_before != QColor(Qt::red) && label_after == QColor(Qt::red))
      << label_before.name().toStdString();
  EXPECT_EQ(limited, "abcd");
  EXPECT_EQ(text, "line one\nline two");
  EXPECT_EQ(combo, "z");

  // Its timer is still set when Cancel ends it: none may fire afterwards.
  ChangingDlg cancelled(setup_, 900);
  EXPECT_EQ(Run(cancelled, [&](DialogWindow& window) { Press(window, kIdCancel); }), kIdCancel);
  const int firings = cancelled.firings;
  QTest::qWait(30);
  EXPECT_EQ(cancelled.firings, firings);
  EXPECT_FALSE(platform_.KillTimer(cancelled, 5));
}

// A custom control shows the widget registered for its model's kind, made anew for another model.
TEST_F(QtPlatformTest, CustomControlsShowTheWidgetOfTheirModel) {
  struct Model : axis::CustomControl {
    explicit Model(std::string_view kind) : kind(kind) {}
    std::string_view Kind() const override { return kind; }
    std::string_view kind;
  } drawn("test-label"), unknown("nobody-draws-this");
  RegisterCustomWidget("test-label", [](const axis::CustomControl&, QWidget* parent) {
    return new QLabel(QStringLiteral("drawn"), parent);
  });
  RecordingDlg dlg(setup_, 900);
  QStringList seen;
  Run(dlg, [&](DialogWindow& window) {
    const auto label = [&] {
      const auto found = window.Widget(1095)->findChildren<QLabel*>();
      return found.isEmpty() ? QStringLiteral("none") : found.front()->text();
    };
    seen << label();
    dlg.AttachCustom(1095, &drawn);
    seen << label();
    dlg.AttachCustom(1095, &unknown);
    seen << label();
    Press(window, kIdCancel);
  });
  EXPECT_EQ(seen, (QStringList{"none", "drawn", "none"}));
}

TEST_F(QtPlatformTest, TabPagesSlidersAndKeyChords) {
  RecordingDlg dlg(setup_, 900);
  // 0..50 ticks over 0..5 m/s: tick 20 is 2 m/s.
  ASSERT_EQ(dlg.AddSliderParameterControls("Speed", 1040, 1041, 1042, 1043, 1044, 0.0, 5.0), 1);
  bool page_label_before = true, page_label_after = false;
  int slider_before = -1;
  QString speed_shown;
  const int result = Run(dlg, [&](DialogWindow& window) {
    page_label_before = Find<QLabel>(window, 1051)->isVisibleTo(&window);
    Find<QTabWidget>(window, 1050)->setCurrentIndex(1);
    page_label_after = Find<QLabel>(window, 1051)->isVisibleTo(&window);
    slider_before = Find<QSlider>(window, 1040)->value();
    Find<QSlider>(window, 1040)->setValue(20);
    speed_shown = Find<QLineEdit>(window, 1041)->text();
    QTest::keyClick(Find<QLineEdit>(window, 1041), Qt::Key_E,
                    Qt::ControlModifier | Qt::ShiftModifier);
    Press(window, kIdCancel);
  });
  EXPECT_EQ(result, kIdCancel);
  EXPECT_TRUE(!page_label_before && page_label_after);
  EXPECT_EQ(dlg.Control(1050)->selection, 1);
  EXPECT_EQ(slider_before, 5);  // 0.5 m/s of 5 m/s over 50 ticks
  EXPECT_DOUBLE_EQ(Value("Speed"), 2.0);
  EXPECT_EQ(speed_shown, "2");
  EXPECT_NE(std::find(dlg.log.begin(), dlg.log.end(), "key:Ctrl+Shift+E"), dlg.log.end());
}

TEST_F(QtPlatformTest, MessageBoxAnswersAndHelp) {
  using B = MessageButtons;
  // clang-format off
  const struct { B buttons; bool help; QMessageBox::StandardButton pressed; int answer; } rows[] = {
      {B::kOk, false, QMessageBox::Ok, kIdOk},
      {B::kOkCancel, false, QMessageBox::Cancel, kIdCancel},
      {B::kYesNo, false, QMessageBox::No, kIdNo},
      {B::kYesNoCancel, false, QMessageBox::Yes, kIdYes},
      {B::kOk, true, QMessageBox::Help, kIdHelp}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer);
    QString text;
    AnswerNextBox(row.pressed, &text);
    EXPECT_EQ(platform_.ShowMessageBox({.text = "Caf\xE9 ready?",
                                        .caption = "Box",
                                        .buttons = row.buttons,
                                        .icon = MessageIcon::kQuestion,
                                        .help_button = row.help,
                                        .help_context = 4242}),
              row.answer);
    EXPECT_EQ(text, QString::fromUtf8("Caf\u00e9 ready?"));
  }
  // The Help answer opened the help at the box's topic; the test resources have no page for it.
  ASSERT_NE(platform_.HelpBrowser(), nullptr);
  EXPECT_TRUE(platform_.HelpBrowser()->toPlainText().contains(u"4242"));
}

TEST_F(QtPlatformTest, TextQuestionShowsPromptAndProposalAndReturnsTheTypedText) {
  const auto open_input = []() -> QInputDialog* {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* input = qobject_cast<QInputDialog*>(w); input != nullptr && input->isVisible())
        return input;
    }
    return nullptr;
  };
  for (const bool accept : {true, false}) {
    SCOPED_TRACE(accept);
    QString prompt, proposal;
    WhenReady([&] { return open_input() != nullptr; },
              [&] {
                QInputDialog* input = open_input();
                prompt = input->labelText();
                proposal = input->textValue();
                input->setTextValue(QString::fromUtf8("Caf\u00e9 motor"));
                accept ? input->accept() : input->reject();
              });
    EXPECT_EQ(platform_.AskText({.title = "Save", .prompt = "Motor name:", .initial = "LM"}),
              accept ? std::optional<std::string>("Caf\xE9 motor") : std::nullopt);
    EXPECT_EQ(prompt + "|" + proposal, QStringLiteral("Motor name:|LM"));
  }
}

TEST_F(QtPlatformTest, EveryControlOfTheDriveSetupGetsAWidgetOfItsKindAtItsPlace) {
  ResourceFolder real{SourceResources()};
  CMC_EditSetupDlg dlg(setup_, 106, 0, nullptr, nullptr);
  ASSERT_EQ(dlg.LoadError(), "");
  DialogWindow window(dlg, nullptr);
  using K = ControlKind;
  // clang-format off
  const std::map<ControlKind, const char*> classes = {
      {K::kGroup, "QGroupBox"}, {K::kLabel, "QLabel"}, {K::kEdit, "QLineEdit"},
      {K::kUnit, "QComboBox"}, {K::kCombo, "QComboBox"}, {K::kCheck, "QCheckBox"},
      {K::kRadio, "QRadioButton"}, {K::kButton, "QPushButton"}, {K::kBitmapButton, "QPushButton"},
      {K::kPicture, "QLabel"},
      {K::kSlider, "QSlider"}, {K::kSpin, "QToolButton"}, {K::kTab, "QTabWidget"},
      {K::kText, "QPlainTextEdit"}, {K::kMark, "QLabel"}};
  // clang-format on
  const auto& controls = dlg.Template().controls;
  ASSERT_GT(controls.size(), 150u);  // the drive setup is the largest dialog
  for (const axis::ControlTemplate& c : controls) {
    SCOPED_TRACE(c.id);
    QWidget* widget = window.Widget(c.id);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->objectName(), QStringLiteral("control_%1").arg(c.id));
    EXPECT_EQ(widget->geometry(), QRect(c.rect.x, c.rect.y, c.rect.w, c.rect.h));
    EXPECT_STREQ(widget->metaObject()->className(), classes.at(c.kind));
  }
  EXPECT_EQ(window.findChildren<QWidget*>(QRegularExpression("^control_")).size(),
            static_cast<qsizetype>(controls.size()));
  // "&&" is one ampersand on a radio, as Qt shows mnemonics; the motor setup button has its
  // picture.
  EXPECT_EQ(Find<QRadioButton>(window, 3318)->text(), "Pulse && Direction");
  EXPECT_FALSE(Find<QPushButton>(window, 10019)->icon().isNull());
  EXPECT_EQ(window.windowTitle(), "Drive Setup");
  EXPECT_EQ(window.size(), QSize(1398, 704));
}

TEST(QtText, MnemonicsFiltersAndLatin1) {
  // clang-format off
  const std::pair<const char*, const char*> mnemonics[] = {
      {"Pulse && Direction", "Pulse & Direction"}, {"&Test", "Test"}, {"a&&&b", "a&b"},
      {"trailing&", "trailing"}, {"", ""}};
  const std::pair<const char*, const char*> filters[] = {
      {"Setup files (*.json)|*.json|All files (*.*)|*.*", "Setup files (*.json);;All files (*.*)"},
      {"Text (*.txt)|*.txt", "Text (*.txt)"}, {"", ""}};
  // clang-format on
  for (const auto& [caption, shown] : mnemonics)
    EXPECT_EQ(StripMnemonics(caption), QString::fromLatin1(shown)) << caption;
  for (const auto& [filter, qt] : filters)
    EXPECT_EQ(QtFileFilter(filter), QString::fromLatin1(qt)) << filter;
  std::string all;  // every Latin-1 character survives the trip through Qt's text
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  EXPECT_EQ(ToLatin1(FromLatin1(all)), all);
  EXPECT_EQ(FromLatin1("\xB5m"), QString::fromUtf8("\u00b5m"));
  EXPECT_EQ(ToLatin1(QString::fromUtf8("\u2126")), "?");  // beyond Latin-1
}

// The developer's drawing of a template alone; every bundled dialog is drawn on the demo setup by
// the front-end tests and by the command line's render.
TEST(QtRender, ATemplateRendersToAPictureOfItsSize) {
  EnsureApplication();
  ResourceFolder folder{axis::testing::TestDataDirectory()};
  const std::filesystem::path out = std::filesystem::path(AXIS_BUILD_DIR) / "gui-screenshots";
  std::filesystem::create_directories(out);
  const std::string png = (out / "900.png").string(), missing = (out / "missing.png").string();
  std::filesystem::remove(png);
  EXPECT_EQ(RenderTemplate(900, png), "");
  EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(400, 300));
  EXPECT_NE(RenderTemplate(424242, missing), "");
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// The "Drive" window: the link row connects another drive only between tests and says what is
// connected or why not; a slider per simulated input over its range, each move handed on.
TEST(DriveWindow, ConnectsBetweenTestsAndSlidesTheInputs) {
  EnsureApplication();
  double carriage_mm = NAN;
  const std::vector<SimulatedInput> inputs = {
      {"Carriage moved by hand", "mm", -60.0, 60.0, 0.0, [&](double v) { carriage_mm = v; }},
      {"Nothing to slide over", "V", 1.0, 1.0, 1.0, nullptr},
      {"Potentiometer", "V", 0.0, 10.0, 12.0, nullptr}};  // starts beyond its range: at its end
  std::vector<std::string> asked;
  DriveConnection connection{"", "Connected: the simulated drive",
                             [&](const std::string& link, std::string& status) -> std::string {
                               asked.push_back(link);
                               if (link == "tcp:nowhere:1") return "the drive does not answer";
                               status = "Connected: drive at " + link;
                               return "";
                             }};
  bool between_tests = false;
  const std::unique_ptr<QWidget> window =
      NewDriveWindow(inputs, &connection, [&] { return between_tests; });
  auto* link = window->findChild<QLineEdit*>("drive_link");
  auto* connect = window->findChild<QPushButton*>("drive_connect");
  auto* status = window->findChild<QLabel*>("drive_status");
  ASSERT_TRUE(link && connect && status);
  EXPECT_EQ(status->text(), "Connected: the simulated drive");
  const struct {
    bool between_tests;
    const char* link;
    const char* status;
    const char* kept;
  } steps[] = {
      {false, "tcp:bench:4000",
       "Close the test first: the drive does not change while a test "
       "runs.",
       ""},
      {true, "tcp:nowhere:1", "Not connected: the drive does not answer", ""},
      {true, " tcp:bench:4000 ", "Connected: drive at tcp:bench:4000", "tcp:bench:4000"},
  };
  for (const auto& step : steps) {
    between_tests = step.between_tests;
    link->setText(step.link);
    connect->click();
    EXPECT_EQ(status->text().toStdString(), step.status);
    EXPECT_EQ(connection.link, step.kept);
  }
  EXPECT_EQ(asked, (std::vector<std::string>{"tcp:nowhere:1", "tcp:bench:4000"}));

  const QList<QSlider*> sliders = window->findChildren<QSlider*>();
  ASSERT_EQ(sliders.size(), 2);
  EXPECT_EQ(sliders[0]->value(), 1000);  // 0 mm halfway between -60 and 60
  EXPECT_EQ(sliders[1]->value(), 2000);
  sliders[0]->setValue(1500);  // three quarters of the way: 30 mm
  EXPECT_DOUBLE_EQ(carriage_mm, 30.0);
  sliders[1]->setValue(0);  // no setter: nothing to call
  QStringList shown;
  for (const QLabel* label : window->findChildren<QLabel*>()) shown << label->text();
  EXPECT_TRUE(shown.contains("30 mm")) << shown.join("|").toStdString();
  EXPECT_TRUE(shown.contains("0 V")) << shown.join("|").toStdString();
  window->adjustSize();
  const std::filesystem::path folder = std::filesystem::path(AXIS_BUILD_DIR) / "screenshots";
  std::filesystem::create_directories(folder);
  window->grab().save(QString::fromStdString((folder / "drive-window.png").string()));
}

}  // namespace
}  // namespace axis::gui
