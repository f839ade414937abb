#include "host/headless_platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <tuple>
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
    if (!on_command || !on_command(*this, id)) CMC_EditSetupDlg::OnCommand(id);
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

class HeadlessPlatformTest : public testing::DialogTest {
 protected:
  // (time, timer id) of every firing so far.
  std::vector<std::pair<int64_t, int>> Firings() const {
    std::vector<std::pair<int64_t, int>> seen;
    for (const auto& f : platform_.Firings()) seen.emplace_back(f.time_ms, f.timer_id);
    return seen;
  }
  CMC_Setup setup_;
};

// Timers due at the same moment fire in the order they were set (a restarted timer counts as set
// anew); a timer may be killed, restarted or end the dialog from its handler, which stops the wait.
TEST_F(HeadlessPlatformTest, TimersFireInTimeOrderOnTheVirtualClock) {
  using Init = std::function<void(TimerDlg&)>;
  using OnTimer = std::function<void(TimerDlg&, int)>;
  using Firings = std::vector<std::pair<int64_t, int>>;  // (time, timer id)
  const Init every10 = [](TimerDlg& d) { d.SetTimer(5, 10); };
  // clang-format off
  const struct { const char* name; Init init; OnTimer on_timer; int64_t wait_ms, now_ms;
                 Firings fired; } rows[] = {
      {"ties in the order set", [](TimerDlg& d) {
         EXPECT_TRUE(d.SetTimer(1, 30) && d.SetTimer(2, 20) && d.SetTimer(3, 20)); },
       nullptr, 65, 65,
       {{20, 2}, {20, 3}, {30, 1}, {40, 2}, {40, 3}, {60, 1}, {60, 2}, {60, 3}}},
      {"a restarted timer after those set before it", [](TimerDlg& d) {
         d.SetTimer(1, 10); d.SetTimer(2, 10); d.SetTimer(1, 10); }, nullptr, 20, 20,
       {{10, 2}, {10, 1}, {20, 2}, {20, 1}}},
      {"period 0 counts as 1 ms", [](TimerDlg& d) { d.SetTimer(1, 0); }, nullptr, 3, 3,
       {{1, 1}, {2, 1}, {3, 1}}},
      {"killed at its third firing", every10, [](TimerDlg& d, int) {
         if (d.fired.size() == 3) d.KillTimer(5); }, 100, 100, {{10, 5}, {20, 5}, {30, 5}}},
      {"ends the dialog at 30 ms", every10, [](TimerDlg& d, int) {
         if (d.fired.size() == 3) d.EndDialog(kIdOk); }, 100, 30, {{10, 5}, {20, 5}, {30, 5}}},
      {"restarted at 10 ms with 25 ms", every10, [](TimerDlg& d, int) {
         if (d.fired.size() == 1) d.SetTimer(5, 25); }, 90, 90,
       {{10, 5}, {35, 5}, {60, 5}, {85, 5}}}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    HeadlessPlatform& platform = FreshPlatform();
    TimerDlg dlg(setup_, 900);
    dlg.on_init = row.init;
    dlg.on_timer = row.on_timer;
    platform.Wait(row.wait_ms).EndOk();
    EXPECT_EQ(dlg.DoModal(), kIdOk);
    Firings fired;
    for (const auto& f : platform.Firings()) fired.emplace_back(f.time_ms, f.timer_id);
    EXPECT_EQ(fired, row.fired);
    EXPECT_EQ(platform.Firings().back().dialog_id, 900);
    EXPECT_EQ(platform.Now(), row.now_ms);
    EXPECT_EQ(platform.GetClock().NowNs(), row.now_ms * kNsPerMs);  // the drive's clock too
  }
}

// A conditional wait stops at the first timer after which the condition holds, else at its limit.
TEST_F(HeadlessPlatformTest, WaitUntilStopsWhenTheConditionHolds) {
  const struct {
    size_t firings;
    int64_t timeout_ms, now_ms;
  } rows[] = {{3, 100, 30}, {0, 100, 0}, {50, 100, 100}};
  for (const auto& row : rows) {
    HeadlessPlatform& platform = FreshPlatform();
    TimerDlg dlg(setup_, 900);
    dlg.on_init = [](TimerDlg& d) { d.SetTimer(5, 10); };
    platform
        .WaitUntil([&](DialogModel&) { return dlg.fired.size() >= row.firings; }, row.timeout_ms)
        .EndOk();
    EXPECT_EQ(dlg.DoModal(), kIdOk);
    EXPECT_EQ(platform.Now(), row.now_ms) << row.firings;
  }
}

TEST_F(HeadlessPlatformTest, TimersEndWithTheirDialogAndNeedARunningDialog) {
  TimerDlg dlg(setup_, 900);
  EXPECT_FALSE(dlg.SetTimer(1, 10));  // not running yet
  dlg.on_init = [](TimerDlg& d) { d.SetTimer(1, 1); };
  platform_.Wait(3).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  dlg.on_init = nullptr;  // a second run starts without the old timer
  platform_.Wait(50).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(dlg.fired.size(), 3u);
  EXPECT_EQ(platform_.Now(), 53);
}

TEST_F(HeadlessPlatformTest, ExhaustedScriptCancelsEvenARefusingDialog) {
  TimerDlg dlg(setup_, 900);
  dlg.refuse_cancel = true;
  platform_.EndCancel();  // refused by the dialog
  EXPECT_EQ(dlg.DoModal(), kIdCancel);
  EXPECT_EQ(dlg.cancels, 2);  // the scripted one and the one at the end of the script
}

TEST_F(HeadlessPlatformTest, MessageBoxesAreAnsweredFromTheQueueElseByDefault) {
  using B = MessageButtons;
  // clang-format off
  const struct { const char* name; B buttons; bool help; std::optional<int> scripted; int answer;
                 bool script_error; } rows[] = {
      {"ok cancel default", B::kOkCancel, false, std::nullopt, kIdOk, false},
      {"ok cancel scripted", B::kOkCancel, false, kIdCancel, kIdCancel, false},
      {"yes no default", B::kYesNo, false, std::nullopt, kIdYes, false},
      {"yes no cancel", B::kYesNoCancel, false, kIdCancel, kIdCancel, false},
      {"ok on yes no", B::kYesNo, false, kIdOk, kIdYes, true},
      {"help without button", B::kOk, false, kIdHelp, kIdOk, true},
      {"help", B::kOk, true, kIdHelp, kIdHelp, false}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    HeadlessPlatform& platform = FreshPlatform();
    if (row.scripted) platform.Answer(*row.scripted);
    TimerDlg dlg(setup_, 900);
    EXPECT_EQ(dlg.MessageBox("Text", row.buttons, MessageIcon::kQuestion, row.help), row.answer);
    ASSERT_EQ(platform.MessageLog().size(), 1u);
    const HeadlessPlatform::MessageLogEntry& entry = platform.MessageLog()[0];
    EXPECT_EQ(entry.request.text + "|" + entry.request.caption, "Text|Test Editor \xB0");
    EXPECT_TRUE(entry.request.buttons == row.buttons && entry.request.help_button == row.help &&
                entry.request.icon == MessageIcon::kQuestion);
    EXPECT_EQ(entry.answer, row.answer);
    EXPECT_EQ(platform.ScriptErrors().size(), row.script_error ? 1u : 0u);
    // Help pressed opens the dialog's topic.
    EXPECT_EQ(platform.HelpLog(), row.answer == kIdHelp ? std::vector{4242} : std::vector<int>{});
  }
  // Without a platform a box takes its default answer.
  SetPlatform(nullptr);
  EXPECT_EQ(ShowMessage({.text = "t", .buttons = MessageButtons::kYesNoCancel}), kIdYes);
}

TEST_F(HeadlessPlatformTest, OuterTimersKeepFiringDuringANestedDialog) {
  TimerDlg outer(setup_, 900);
  outer.on_init = [](TimerDlg& d) { d.SetTimer(7, 10); };
  outer.on_command = [&](TimerDlg& d, int id) {
    if (id != 1070) return false;
    TimerDlg nested(setup_, 901, &d);
    nested.on_init = [](TimerDlg& n) { n.SetTimer(8, 15); };
    nested.DoModal();
    return true;
  };
  platform_.Click(1070).Wait(30).EndOk().Wait(20).EndOk();
  ASSERT_EQ(outer.DoModal(), kIdOk);
  // Nested open 0..30: outer 7 at 10, 20, 30; nested 8 at 15, 30 (set later than 7).
  // Then only the outer timer: 40, 50.
  EXPECT_EQ(Firings(), (std::vector<std::pair<int64_t, int>>{
                           {10, 7}, {15, 8}, {20, 7}, {30, 7}, {30, 8}, {40, 7}, {50, 7}}));
}

TEST_F(HeadlessPlatformTest, DispatchLetsTheScriptedUserStopALoop) {
  TimerDlg dlg(setup_, 900);
  bool stop = false;
  int rounds = 0;
  dlg.on_command = [&](TimerDlg&, int id) {
    stop = stop || id == 1071;
    while (id == 1070 && !stop && rounds < 100) {
      GetPlatform()->DispatchPendingMessages();
      ++rounds;
    }
    return id == 1070 || id == 1071;
  };
  platform_.Click(1070).Wait(5).Click(1071).EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_TRUE(stop);
  EXPECT_EQ(rounds, 2);  // the wait, then the Stop click
  EXPECT_EQ(platform_.Now(), 5);
}

TEST_F(HeadlessPlatformTest, DispatchInsideAWaitKeepsTheActionsAfterIt) {
  // A timer that asks for pending messages at every firing takes no action before the wait it
  // fires in is over: the fixed wait's end, or the moment the awaited condition holds.
  TimerDlg dlg(setup_, 900);
  dlg.on_init = [](TimerDlg& d) { GetPlatform()->SetTimer(d, 7, 10); };
  dlg.on_timer = [](TimerDlg&, int) { GetPlatform()->DispatchPendingMessages(); };
  std::vector<std::pair<int64_t, int>> clicks;
  dlg.on_command = [&](TimerDlg&, int id) {
    clicks.emplace_back(platform_.Now(), id);
    return true;
  };
  platform_.Wait(35).Click(1071);
  platform_.WaitUntil([&](DialogModel&) { return dlg.fired.size() >= 5; }, 100).Click(1070);
  platform_.EndOk();
  ASSERT_EQ(dlg.DoModal(), kIdOk);
  EXPECT_EQ(clicks, (std::vector<std::pair<int64_t, int>>{{35, 1071}, {50, 1070}}));
}

}  // namespace
}  // namespace axis
