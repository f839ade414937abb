// The Qt platform driven through its real widgets, offscreen.
#include "app/gui/qt_platform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/gui/render.h"
#include "gui/gui_test_support.h"
#include "host/dialog_test_support.h"

namespace axis::gui {
namespace {

using axis::testing::RecordingDlg;
using axis::testing::ResourceFolder;
using axis::testing::TestDataDirectory;

class QtPlatformTest : public ::testing::Test {
 protected:
  QtPlatformTest() {
    EnsureApplication();
    Add("PeakCurrent", 10.0, 0.0, 20.0, "A", kTypePhysical);
    Add("Enable", 0.0, 0.0, 1.0, "", kTypeSwitch);
    Add("Mode", 2.0, 0.0, 2.0, "", kTypeChoice);
    Add("Speed", 0.5, 0.0, 5.0, "m/s", kTypePhysical);
  }
  void SetUp() override { SetPlatform(&platform_); }
  void TearDown() override { SetPlatform(nullptr); }

  void Add(const char* name, double value, double min, double max, const char* unit, int type) {
    ASSERT_NE(setup_.AddParameter({.name = name,
                                   .value = value,
                                   .min = min,
                                   .max = max,
                                   .base_unit = unit,
                                   .type = type,
                                   .is_integer = false}),
              nullptr);
  }
  double Value(const char* name) { return setup_.FindParameter(name)->GetValueInBaseUnit(); }

  // Runs `dlg` modally; `script` acts on its window from inside the modal loop.
  int Run(CMC_EditSetupDlg& dlg, std::function<void(DialogWindow&)> script) {
    WhenReady([this, &dlg] { return platform_.WindowOf(dlg) != nullptr; },
              [this, &dlg, script] { script(*platform_.WindowOf(dlg)); });
    return dlg.DoModal();
  }

  template <typename W>
  static W* Find(DialogWindow& window, int id) {
    W* widget = qobject_cast<W*>(window.Widget(id));
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
  }

  ResourceFolder folder_{TestDataDirectory()};
  CMC_Setup setup_;
  QtPlatform platform_;
};

TEST_F(QtPlatformTest, TypingIntoTheLineEditStoresTheValue) {
  struct Row {
    const char* name;
    int unit_index;  // chosen in the unit combo before typing, -1: none
    const char* typed;
    double stored_A;
    const char* shown_after;
    const char* warning;  // "" when the value is taken
  } rows[] = {
      {"amperes", -1, "12.5", 12.5, "12.5", ""},
      {"milliamperes", 1, "250", 0.25, "250", ""},  // 250 mA = 0.25 A
      {"upper bound", -1, "20", 20.0, "20", ""},
      {"above the range", -1, "25", 10.0, "10", "Please enter a value between 0 and 20 A."},
      {"not a number", -1, "abc", 10.0, "10",
       "\"abc\" is not a number. Please enter a value between 0 and 20 A."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    setup_.FindParameter("PeakCurrent")->SetValueInBaseUnit(10.0);
    ASSERT_EQ(setup_.ChangeParameterUnit("PeakCurrent", "A"), 1);
    RecordingDlg dlg(setup_, 900);
    ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
    QString warning;
    QString shown_before;
    QString shown_after;
    const int result = Run(dlg, [&](DialogWindow& window) {
      auto* edit = Find<QLineEdit>(window, 1001);
      auto* unit = Find<QComboBox>(window, 1002);
      ASSERT_TRUE(edit && unit);
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
      QTest::mouseClick(Find<QPushButton>(window, kIdOk), Qt::LeftButton);
    });
    EXPECT_EQ(result, kIdOk);
    EXPECT_EQ(shown_before, row.unit_index == 1 ? "10000" : "10");
    EXPECT_DOUBLE_EQ(Value("PeakCurrent"), row.stored_A);
    EXPECT_EQ(shown_after, row.shown_after);
    EXPECT_EQ(warning, QString::fromLatin1(row.warning));
  }
}

TEST_F(QtPlatformTest, ReturnInAnEditCommitsAndPressesOk) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  const int result = Run(dlg, [&](DialogWindow& window) {
    auto* edit = Find<QLineEdit>(window, 1001);
    edit->selectAll();
    QTest::keyClicks(edit, "7");
    QTest::keyClick(edit, Qt::Key_Return);
  });
  EXPECT_EQ(result, kIdOk);
  EXPECT_EQ(Value("PeakCurrent"), 7.0);
  EXPECT_EQ(dlg.log,
            (std::vector<std::string>{"refresh:PeakCurrent", "changed:PeakCurrent", "command:1"}));
}

TEST_F(QtPlatformTest, LeavingAnUntouchedEditCommitsNothing) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  const int result = Run(dlg, [&](DialogWindow& window) {
    emit Find<QLineEdit>(window, 1001)->editingFinished();
    QTest::keyClick(&window, Qt::Key_Escape);
  });
  EXPECT_EQ(result, kIdCancel);
  EXPECT_TRUE(dlg.log.empty()) << dlg.log.front();
}

TEST_F(QtPlatformTest, ChecksAndRadiosGoThroughTheModel) {
  RecordingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddCheckParameterControls("Enable", 1010), 1);
  ASSERT_EQ(dlg.AddSwitchParameterControls("Mode", 1020, 1022), 1);
  std::vector<bool> radios_after;
  bool check_after = false;
  const int result = Run(dlg, [&](DialogWindow& window) {
    // Mode 2 shows on the third radio only.
    EXPECT_FALSE(Find<QRadioButton>(window, 1020)->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(window, 1022)->isChecked());
    QTest::mouseClick(Find<QCheckBox>(window, 1010), Qt::LeftButton);
    // Clicking the checked radio again must not clear it: radios are cleared by another.
    QTest::mouseClick(Find<QRadioButton>(window, 1021), Qt::LeftButton);
    QTest::mouseClick(Find<QRadioButton>(window, 1021), Qt::LeftButton);
    for (int id : {1020, 1021, 1022})
      radios_after.push_back(Find<QRadioButton>(window, id)->isChecked());
    check_after = Find<QCheckBox>(window, 1010)->isChecked();
    QTest::mouseClick(Find<QPushButton>(window, kIdOk), Qt::LeftButton);
  });
  EXPECT_EQ(result, kIdOk);
  EXPECT_EQ(Value("Enable"), 1.0);
  EXPECT_EQ(Value("Mode"), 1.0);
  EXPECT_TRUE(check_after);
  EXPECT_EQ(radios_after, (std::vector<bool>{false, true, false}));
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
    SetChildText(9003, "line one\nline two");
    AddComboItem(1060, "z", 7);
    SetComboSelection(1060, 2);
  }
  void OnTimer(int id) override {
    ++firings;
    EXPECT_EQ(id, 5);
    if (opened && firings >= 3) {
      EXPECT_TRUE(KillTimer(5));
      EXPECT_FALSE(KillTimer(5));  // gone already
      ended_from_timer = true;
      EndDialog(kIdCancel);
    }
  }
  bool opened = false;
  int firings = 0;
  bool ended_from_timer = false;
};

TEST_F(QtPlatformTest, WidgetsFollowTheModelAndTimersReachTheDialog) {
  ChangingDlg dlg(setup_, 900);
  ASSERT_EQ(dlg.AddParameterControls("PeakCurrent", 1001, 1002), 1);
  bool mark_before = true, mark_after = false, edit_enabled_after = true;
  QString label, text, combo;
  const int result = Run(dlg, [&](DialogWindow& window) {
    mark_before = Find<QLabel>(window, 1080)->isVisibleTo(&window);
    QTest::mouseClick(Find<QPushButton>(window, 1070), Qt::LeftButton);
    mark_after = Find<QLabel>(window, 1080)->isVisibleTo(&window);
    edit_enabled_after = Find<QLineEdit>(window, 1001)->isEnabled();
    label = Find<QLabel>(window, 1043)->text();
    text = Find<QPlainTextEdit>(window, 9003)->toPlainText();
    combo = Find<QComboBox>(window, 1060)->currentText();
  });
  EXPECT_EQ(result, kIdCancel);
  EXPECT_TRUE(dlg.ended_from_timer);
  EXPECT_GE(dlg.firings, 3);
  EXPECT_FALSE(mark_before);
  EXPECT_TRUE(mark_after);
  EXPECT_FALSE(edit_enabled_after);
  EXPECT_EQ(label, "min &max");
  EXPECT_EQ(text, "line one\nline two");
  EXPECT_EQ(combo, "z");
}

TEST_F(QtPlatformTest, TimersStopWhenTheDialogEnds) {
  ChangingDlg dlg(setup_, 900);
  const int result = Run(dlg, [&](DialogWindow& window) {
    QTest::mouseClick(Find<QPushButton>(window, kIdCancel), Qt::LeftButton);
  });
  EXPECT_EQ(result, kIdCancel);
  EXPECT_FALSE(dlg.ended_from_timer);
  // Its timer was still set when Cancel ended it: none may fire afterwards.
  const int firings = dlg.firings;
  QTest::qWait(30);
  EXPECT_EQ(dlg.firings, firings);
  EXPECT_FALSE(platform_.KillTimer(dlg, 5));
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
    QTest::mouseClick(Find<QPushButton>(window, kIdCancel), Qt::LeftButton);
  });
  EXPECT_EQ(result, kIdCancel);
  EXPECT_FALSE(page_label_before);
  EXPECT_TRUE(page_label_after);
  EXPECT_EQ(dlg.Control(1050)->selection, 1);
  EXPECT_EQ(slider_before, 5);  // 0.5 m/s of 5 m/s over 50 ticks
  EXPECT_DOUBLE_EQ(Value("Speed"), 2.0);
  EXPECT_EQ(speed_shown, "2");
  EXPECT_NE(std::find(dlg.log.begin(), dlg.log.end(), "key:Ctrl+Shift+E"), dlg.log.end());
}

TEST_F(QtPlatformTest, MessageBoxAnswersAndHelp) {
  struct Row {
    const char* name;
    MessageButtons buttons;
    bool help;
    QMessageBox::StandardButton pressed;
    int answer;
  } rows[] = {
      {"ok", MessageButtons::kOk, false, QMessageBox::Ok, kIdOk},
      {"ok cancel", MessageButtons::kOkCancel, false, QMessageBox::Cancel, kIdCancel},
      {"yes no", MessageButtons::kYesNo, false, QMessageBox::No, kIdNo},
      {"yes no cancel", MessageButtons::kYesNoCancel, false, QMessageBox::Yes, kIdYes},
      {"help", MessageButtons::kOk, true, QMessageBox::Help, kIdHelp},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QString text;
    AnswerNextBox(row.pressed, &text);
    const int answer = platform_.ShowMessageBox({.text = "Caf\xE9 ready?",
                                                 .caption = "Box",
                                                 .buttons = row.buttons,
                                                 .icon = MessageIcon::kQuestion,
                                                 .help_button = row.help,
                                                 .help_context = 4242});
    EXPECT_EQ(answer, row.answer);
    EXPECT_EQ(text, QString::fromUtf8("Caf\u00e9 ready?"));
  }
  // The Help answer opened the help at the box's topic; the test resources have no page for it.
  ASSERT_NE(platform_.HelpBrowser(), nullptr);
  EXPECT_TRUE(platform_.HelpBrowser()->toPlainText().contains(u"4242"));
}

QInputDialog* OpenInputDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* input = qobject_cast<QInputDialog*>(w); input != nullptr && input->isVisible())
      return input;
  }
  return nullptr;
}

TEST_F(QtPlatformTest, TextQuestionShowsPromptAndProposalAndReturnsTheTypedText) {
  struct Row {
    const char* name;
    bool accept;
    std::optional<std::string> answer;
  } rows[] = {
      {"typed and accepted", true, std::string("Caf\xE9 motor")},
      {"cancelled", false, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QString prompt, proposal;
    WhenReady([] { return OpenInputDialog() != nullptr; },
              [&prompt, &proposal, accept = row.accept] {
                QInputDialog* input = OpenInputDialog();
                prompt = input->labelText();
                proposal = input->textValue();
                input->setTextValue(QString::fromUtf8("Caf\u00e9 motor"));
                if (accept) {
                  input->accept();
                } else {
                  input->reject();
                }
              });
    const std::optional<std::string> answer =
        platform_.AskText({.title = "Save", .prompt = "Motor name:", .initial = "LM"});
    EXPECT_EQ(answer, row.answer);
    EXPECT_EQ(prompt, QStringLiteral("Motor name:"));
    EXPECT_EQ(proposal, QStringLiteral("LM"));
  }
}

TEST_F(QtPlatformTest, EveryControlOfTheDriveSetupGetsAWidgetAtItsPlace) {
  ResourceFolder real{SourceResources()};
  CMC_EditSetupDlg dlg(setup_, 106, 0, nullptr, nullptr);
  ASSERT_EQ(dlg.LoadError(), "");
  DialogWindow window(dlg, nullptr);
  struct Kind {
    ControlKind kind;
    const char* qt_class;
  } kinds[] = {
      {ControlKind::kGroup, "QGroupBox"},
      {ControlKind::kLabel, "QLabel"},
      {ControlKind::kEdit, "QLineEdit"},
      {ControlKind::kUnit, "QComboBox"},
      {ControlKind::kCombo, "QComboBox"},
      {ControlKind::kCheck, "QCheckBox"},
      {ControlKind::kRadio, "QRadioButton"},
      {ControlKind::kButton, "QPushButton"},
      {ControlKind::kBitmapButton, "QPushButton"},
      {ControlKind::kPicture, "QLabel"},
      {ControlKind::kSlider, "QSlider"},
      {ControlKind::kSpin, "QSpinBox"},
      {ControlKind::kTab, "QTabWidget"},
      {ControlKind::kText, "QPlainTextEdit"},
      {ControlKind::kMark, "QLabel"},
  };
  const auto& controls = dlg.Template().controls;
  ASSERT_GT(controls.size(), 150u);  // the drive setup is the largest dialog
  for (const axis::ControlTemplate& c : controls) {
    SCOPED_TRACE(c.id);
    QWidget* widget = window.Widget(c.id);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->objectName(), QStringLiteral("control_%1").arg(c.id));
    EXPECT_EQ(widget->geometry(), QRect(c.rect.x, c.rect.y, c.rect.w, c.rect.h));
    for (const Kind& k : kinds) {
      if (k.kind == c.kind) {
        EXPECT_STREQ(widget->metaObject()->className(), k.qt_class);
      }
    }
  }
  EXPECT_EQ(window.findChildren<QWidget*>(QRegularExpression("^control_")).size(),
            static_cast<qsizetype>(controls.size()));
  // "&&" is one ampersand on a radio, as Qt shows mnemonics.
  EXPECT_EQ(Find<QRadioButton>(window, 3318)->text(), "Pulse && Direction");
  // The motor setup button carries its picture.
  EXPECT_FALSE(Find<QPushButton>(window, 10019)->icon().isNull());
  EXPECT_EQ(window.windowTitle(), "Drive Setup");
  EXPECT_EQ(window.size(), QSize(1398, 704));
}

TEST(QtText, MnemonicsFiltersAndLatin1) {
  struct Row {
    const char* caption;
    const char* shown;
  } mnemonics[] = {
      {"Pulse && Direction", "Pulse & Direction"},
      {"&Test", "Test"},
      {"a&&&b", "a&b"},
      {"trailing&", "trailing"},
      {"", ""},
  };
  for (const Row& row : mnemonics) {
    SCOPED_TRACE(row.caption);
    EXPECT_EQ(StripMnemonics(row.caption), QString::fromLatin1(row.shown));
  }
  struct FilterRow {
    const char* filter;
    const char* qt;
  } filters[] = {
      {"Setup files (*.json)|*.json|All files (*.*)|*.*", "Setup files (*.json);;All files (*.*)"},
      {"Text (*.txt)|*.txt", "Text (*.txt)"},
      {"", ""},
  };
  for (const FilterRow& row : filters) {
    SCOPED_TRACE(row.filter);
    EXPECT_EQ(QtFileFilter(row.filter), QString::fromLatin1(row.qt));
  }
  // Every Latin-1 character survives the trip through Qt's text.
  std::string all;
  for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
  EXPECT_EQ(ToLatin1(FromLatin1(all)), all);
  EXPECT_EQ(FromLatin1("\xB5m"), QString::fromUtf8("\u00b5m"));
  EXPECT_EQ(ToLatin1(QString::fromUtf8("\u2126")), "?");  // beyond Latin-1
}

TEST(QtRender, EveryBundledTemplateRendersToAPictureOfItsSize) {
  EnsureApplication();
  ResourceFolder real{SourceResources()};
  const std::filesystem::path out = std::filesystem::path(AXIS_BUILD_DIR) / "gui-screenshots";
  std::filesystem::create_directories(out);
  int rendered = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SourceResources() + "/dialogs")) {
    const std::string file = entry.path().filename().string();
    const int id = std::atoi(file.c_str());
    SCOPED_TRACE(file);
    ASSERT_GT(id, 0);
    const std::string png = (out / (std::to_string(id) + ".png")).string();
    std::filesystem::remove(png);
    EXPECT_EQ(RenderTemplate(id, png), "");
    const QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    const axis::TemplateResult loaded = axis::LoadDialogTemplate(id);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(image.size(), QSize(loaded.dialog->width, loaded.dialog->height));
    ++rendered;
  }
  EXPECT_EQ(rendered, 8);
  EXPECT_NE(RenderTemplate(424242, (out / "missing.png").string()), "");
  EXPECT_FALSE(std::filesystem::exists(out / "missing.png"));
}

}  // namespace
}  // namespace axis::gui
