#include "host/headless_platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/dialog_test_support.h"
#include "host/edit_setup_dlg.h"

namespace axis {
namespace {

// A dialog whose timers and commands are given by the test.
class TimerDlg : public CMC_EditSetupDlg {
 public:
  TimerDlg(CMC_Setup& setup, int id, CMC_EditSetupDlg* parent = nullptr)
      : CMC_EditSetupDlg(setup, id, 1, nullptr, parent) {}

  int OnInitDialog() override {
    CMC_EditSetupDlg::OnInitDialog();
    if (on_init) on_init(*this);
    return 1;
  }
  void OnTimer(int id) override {
    fired.push_back(id);
    if (on_timer) on_timer(*this, id);
  }
  void OnCommand(int id) override {
    if (on_command && on_command(*this, id)) return;
    CMC_EditSetupDlg::OnCommand(id);
  }
  void OnCancel() override {
    ++cancels;
    if (!refuse_cancel) CMC_EditSetupDlg::OnCancel();
  }

  std::function<void(TimerDlg&)> on_init;
  std::function<void(TimerDlg&, int)> on_timer;
  std::function<bool(TimerDlg&, int)> on_command;  // true when handled
  std::vector<int> fired;
  int cancels = 0;
  bool refuse_cancel = false;
};

using HeadlessPlatformTest = testing::DialogTest;

TEST_F(HeadlessPlatformTest, TimersFireInTimeOrderOnTheVirtualClock) {
  CMC_Setup setup;
  TimerDlg dlg(setup, 900);
  dlg.on_init = [](TimerDlg& d) {
    EXPECT_TRUE(d.SetTimer(1, 30));
    EXPECT_TRUE(d.SetTimer(2, 20));
    EXPECT_TRUE(d.SetTimer(3, 20));
  };
  platform_.Wait(65).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  // Due times: timer 1 at 30, 60; timers 2 and 3 at 20, 40, 60 (2 before 3: set first).
  struct Row {
    int64_t time_ms;
    int timer;
  };
  const Row expected[] = {{20, 2}, {20, 3}, {30, 1}, {40, 2}, {40, 3}, {60, 1}, {60, 2}, {60, 3}};
  ASSERT_EQ(platform_.Firings().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(platform_.Firings()[i].time_ms, expected[i].time_ms);
    EXPECT_EQ(platform_.Firings()[i].timer_id, expected[i].timer);
    EXPECT_EQ(platform_.Firings()[i].dialog_id, 900);
  }
  EXPECT_EQ(platform_.Now(), 65);
}

TEST_F(HeadlessPlatformTest, ARestartedTimerFiresAfterTimersSetBeforeIt) {
  CMC_Setup setup;
  TimerDlg dlg(setup, 900);
  dlg.on_init = [](TimerDlg& d) {
    d.SetTimer(1, 10);
    d.SetTimer(2, 10);
    d.SetTimer(1, 10);  // restarted: now set after timer 2
  };
  platform_.Wait(20).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(dlg.fired, (std::vector<int>{2, 1, 2, 1}));
}

TEST_F(HeadlessPlatformTest, TimersCanBeKilledResetAndEndTheDialog) {
  struct Row {
    const char* name;
    std::function<void(TimerDlg&, int)> on_timer;
    int64_t wait_ms;
    std::vector<int> fired;
    int64_t now_ms;
    int result;
  };
  const Row rows[] = {
      // Timer 5 every 10 ms kills itself at its third firing (30 ms).
      {"kill",
       [](TimerDlg& d, int) {
         if (d.fired.size() == 3) d.KillTimer(5);
       },
       100,
       {5, 5, 5},
       100,
       kIdOk},
      // The third firing (30 ms) ends the dialog: the wait stops there.
      {"end",
       [](TimerDlg& d, int) {
         if (d.fired.size() == 3) d.EndDialog(kIdOk);
       },
       100,
       {5, 5, 5},
       30,
       kIdOk},
      // The first firing (10 ms) restarts the timer at 25 ms: due at 35, 60, 85.
      {"reset",
       [](TimerDlg& d, int) {
         if (d.fired.size() == 1) d.SetTimer(5, 25);
       },
       90,
       {5, 5, 5, 5},
       90,
       kIdOk},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HeadlessPlatform platform;
    SetPlatform(&platform);
    CMC_Setup setup;
    TimerDlg dlg(setup, 900);
    dlg.on_init = [](TimerDlg& d) { d.SetTimer(5, 10); };
    dlg.on_timer = row.on_timer;
    platform.Wait(row.wait_ms).EndOk();
    EXPECT_EQ(dlg.DoModal(), row.result);
    EXPECT_EQ(dlg.fired, row.fired);
    EXPECT_EQ(platform.Now(), row.now_ms);
  }
  SetPlatform(&platform_);
}

TEST_F(HeadlessPlatformTest, TimersEndWithTheirDialogAndNeedARunningDialog) {
  CMC_Setup setup;
  TimerDlg dlg(setup, 900);
  EXPECT_FALSE(dlg.SetTimer(1, 10));                    // not running yet
  dlg.on_init = [](TimerDlg& d) { d.SetTimer(1, 0); };  // period 0 counts as 1 ms
  platform_.Wait(3).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(dlg.fired, (std::vector<int>{1, 1, 1}));
  // A second run starts without the old timer.
  dlg.on_init = nullptr;
  platform_.Wait(50).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(dlg.fired.size(), 3u);
  EXPECT_EQ(platform_.Now(), 53);
}

TEST_F(HeadlessPlatformTest, ExhaustedScriptCancelsEvenARefusingDialog) {
  CMC_Setup setup;
  TimerDlg dlg(setup, 900);
  dlg.refuse_cancel = true;
  platform_.EndCancel();  // refused by the dialog
  EXPECT_EQ(dlg.DoModal(), kIdCancel);
  EXPECT_EQ(dlg.cancels, 2);  // the scripted one and the one at the end of the script
}

TEST_F(HeadlessPlatformTest, MessageBoxesAreAnsweredFromTheQueueElseByDefault) {
  struct Row {
    const char* name;
    MessageButtons buttons;
    bool help;
    std::optional<int> scripted;
    int answer;
    bool script_error;
  };
  const Row rows[] = {
      {"ok", MessageButtons::kOk, false, std::nullopt, kIdOk, false},
      {"ok cancel default", MessageButtons::kOkCancel, false, std::nullopt, kIdOk, false},
      {"ok cancel scripted", MessageButtons::kOkCancel, false, kIdCancel, kIdCancel, false},
      {"yes no default", MessageButtons::kYesNo, false, std::nullopt, kIdYes, false},
      {"yes no scripted", MessageButtons::kYesNo, false, kIdNo, kIdNo, false},
      {"yes no cancel", MessageButtons::kYesNoCancel, false, kIdCancel, kIdCancel, false},
      {"ok on yes no", MessageButtons::kYesNo, false, kIdOk, kIdYes, true},
      {"cancel on yes no", MessageButtons::kYesNo, false, kIdCancel, kIdYes, true},
      {"help without button", MessageButtons::kOk, false, kIdHelp, kIdOk, true},
      {"help", MessageButtons::kOk, true, kIdHelp, kIdHelp, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HeadlessPlatform platform;
    SetPlatform(&platform);
    if (row.scripted) platform.Answer(*row.scripted);
    CMC_Setup setup;
    TimerDlg dlg(setup, 900);
    EXPECT_EQ(dlg.MessageBox("Text", row.buttons, MessageIcon::kQuestion, row.help), row.answer);
    ASSERT_EQ(platform.MessageLog().size(), 1u);
    const HeadlessPlatform::MessageLogEntry& entry = platform.MessageLog()[0];
    EXPECT_EQ(entry.request.text, "Text");
    EXPECT_EQ(entry.request.caption, "Test Editor \xB0");
    EXPECT_EQ(entry.request.buttons, row.buttons);
    EXPECT_EQ(entry.request.icon, MessageIcon::kQuestion);
    EXPECT_EQ(entry.request.help_button, row.help);
    EXPECT_EQ(entry.answer, row.answer);
    EXPECT_EQ(platform.ScriptErrors().size(), row.script_error ? 1u : 0u);
    // Help pressed opens the dialog's topic.
    EXPECT_EQ(platform.HelpLog(),
              row.answer == kIdHelp ? std::vector<int>{4242} : std::vector<int>{});
  }
  SetPlatform(nullptr);
  EXPECT_EQ(ShowMessage({.text = "t", .buttons = MessageButtons::kYesNoCancel}), kIdYes);
  SetPlatform(&platform_);
}

TEST_F(HeadlessPlatformTest, AnswersAreUsedInOrder) {
  platform_.Answer(kIdNo).Answer(kIdYes);
  EXPECT_EQ(ShowMessage({.text = "a", .buttons = MessageButtons::kYesNo}), kIdNo);
  EXPECT_EQ(ShowMessage({.text = "b", .buttons = MessageButtons::kYesNo}), kIdYes);
  EXPECT_EQ(ShowMessage({.text = "c", .buttons = MessageButtons::kOkCancel}), kIdOk);
  ASSERT_EQ(platform_.MessageLog().size(), 3u);
  EXPECT_EQ(platform_.MessageLog()[2].request.text, "c");
}

TEST_F(HeadlessPlatformTest, NestedDialogTakesTheActionsWhileItRuns) {
  CMC_Setup setup;
  ASSERT_NE(setup.AddParameter({.name = "Trial", .value = 1.0, .min = 0.0, .max = 10.0}), nullptr);
  TimerDlg outer(setup, 900);
  int nested_result = 0;
  double nested_seen = -1.0;
  outer.on_command = [&](TimerDlg& d, int id) {
    if (id != 1070) return false;
    TimerDlg nested(setup, 901, &d);
    nested.on_init = [](TimerDlg& n) { n.AddParameterControls("Trial", 1001, 0); };
    nested_result = nested.DoModal();
    nested_seen = setup.FindParameter("Trial")->GetValueInBaseUnit();
    return true;
  };
  // Outer: opens the nested dialog; nested: types 5 and ends with OK; outer: Cancel.
  platform_.Click(1070).Type(1001, "5").EndOk().EndCancel();
  EXPECT_EQ(outer.DoModal(), kIdCancel);
  EXPECT_EQ(nested_result, kIdOk);
  EXPECT_EQ(nested_seen, 5.0);
  EXPECT_TRUE(platform_.ScriptErrors().empty());
}

TEST_F(HeadlessPlatformTest, OuterTimersKeepFiringDuringANestedDialog) {
  CMC_Setup setup;
  TimerDlg outer(setup, 900);
  outer.on_init = [](TimerDlg& d) { d.SetTimer(7, 10); };
  outer.on_command = [&](TimerDlg& d, int id) {
    if (id != 1070) return false;
    TimerDlg nested(setup, 901, &d);
    nested.on_init = [](TimerDlg& n) { n.SetTimer(8, 15); };
    nested.DoModal();
    return true;
  };
  platform_.Click(1070).Wait(30).EndOk().Wait(20).EndOk();
  ASSERT_EQ(outer.DoModal(), kIdOk);
  // Nested open 0..30: outer 7 at 10, 20, 30; nested 8 at 15, 30 (set later than 7).
  // Then only the outer timer: 40, 50.
  std::vector<std::pair<int64_t, int>> seen;
  for (const auto& f : platform_.Firings()) seen.emplace_back(f.time_ms, f.timer_id);
  EXPECT_EQ(seen, (std::vector<std::pair<int64_t, int>>{
                      {10, 7}, {15, 8}, {20, 7}, {30, 7}, {30, 8}, {40, 7}, {50, 7}}));
}

TEST_F(HeadlessPlatformTest, DispatchLetsTheScriptedUserStopALoop) {
  CMC_Setup setup;
  TimerDlg dlg(setup, 900);
  bool stop = false;
  int rounds = 0;
  dlg.on_command = [&](TimerDlg&, int id) {
    if (id == 1071) {
      stop = true;
      return true;
    }
    if (id != 1070) return false;
    while (!stop && rounds < 100) {
      GetPlatform()->DispatchPendingMessages();
      ++rounds;
    }
    return true;
  };
  platform_.Click(1070).Wait(5).Click(1071).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_TRUE(stop);
  EXPECT_EQ(rounds, 2);  // the wait, then the Stop click
  EXPECT_EQ(platform_.Now(), 5);
}

TEST_F(HeadlessPlatformTest, FileNamesAndHelpAreLogged) {
  platform_.AnswerFileName("/tmp/a.json");
  const FileNameRequest save{
      .save = true, .title = "Save", .filter = "*.json", .default_name = "x"};
  EXPECT_EQ(platform_.AskFileName(save), std::optional<std::string>("/tmp/a.json"));
  EXPECT_EQ(platform_.AskFileName({}), std::nullopt);  // no answer left: cancelled
  ASSERT_EQ(platform_.FileNameLog().size(), 2u);
  EXPECT_TRUE(platform_.FileNameLog()[0].save);
  EXPECT_EQ(platform_.FileNameLog()[0].default_name, "x");
  EXPECT_FALSE(platform_.FileNameLog()[1].save);
  platform_.OpenHelp(12);
  platform_.OpenHelp(262406);
  EXPECT_EQ(platform_.HelpLog(), (std::vector<int>{12, 262406}));
}

TEST_F(HeadlessPlatformTest, TextQuestionsAreAnsweredInOrderThenCancelled) {
  platform_.AnswerText("LM 40").AnswerText(std::nullopt).AnswerText("");
  const TextRequest name{.title = "Save", .prompt = "Motor name:", .initial = "old"};
  EXPECT_EQ(platform_.AskText(name), std::optional<std::string>("LM 40"));
  EXPECT_EQ(platform_.AskText(name), std::nullopt);  // the user cancelled
  EXPECT_EQ(platform_.AskText(name), std::optional<std::string>(""));
  EXPECT_EQ(platform_.AskText(name), std::nullopt);  // no answer left: cancelled
  ASSERT_EQ(platform_.TextLog().size(), 4u);
  EXPECT_EQ(platform_.TextLog()[0].prompt, "Motor name:");
  EXPECT_EQ(platform_.TextLog()[0].initial, "old");
  EXPECT_TRUE(platform_.FileNameLog().empty()) << "text answers are a queue of their own";
}

TEST_F(HeadlessPlatformTest, ActionsTheUserCannotTakeAreNoted) {
  CMC_Setup setup;
  TimerDlg dlg(setup, 900);
  dlg.on_init = [](TimerDlg& d) { d.EnableChild(1070, 0); };
  std::vector<int> commands;
  dlg.on_command = [&](TimerDlg&, int id) {
    commands.push_back(id);
    return false;
  };
  platform_.Click(1070)
      .Click(4)
      .SelectCombo(1060, 2)
      .SelectTab(1050, 2)
      .Check(1020, false)
      .Click(1071)
      .EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(commands, (std::vector<int>{1071}));
  ASSERT_EQ(platform_.ScriptErrors().size(), 5u);
  EXPECT_EQ(platform_.ScriptErrors()[0], "dialog 900: control 1070 cannot take the action");
}

}  // namespace
}  // namespace axis
