// The platform for tests: no display, a virtual clock and a scripted user.
//
// A script is a queue of user actions. While a dialog runs modally, actions are taken from the
// front of the queue one at a time and applied to the innermost running dialog, so an action that
// opens a nested dialog hands the following actions to it. When the queue runs dry, the running
// dialog is cancelled (OnCancel, and EndDialog(2) if it refused), so a test never hangs.
// DispatchPendingMessages applies at most one action, which lets a scripted user stop a long loop;
// inside a wait (from a timer that the wait fired) it applies none until the wait is over, since
// the actions after a wait happen after it.
//
// "Wait N ms" advances the virtual clock, firing due timers in time order (timers due at the same
// moment fire in the order they were set); it stops early when the dialog it was applied to ends.
// A timer's period is at least 1 ms.
//
// Message boxes are answered from a queue of answers, else with the box's default button (OK or
// Yes); file names, texts and context menus (a right-click, RightClick) from their own queues,
// else cancelled (a menu dismissed). Every box, every help request
// and every question for a file name or a text is logged. A scripted answer the box does not offer,
// and an action the user could not take (missing, disabled or hidden control), are noted in
// ScriptErrors() and otherwise skipped.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/platform.h"

namespace axis {

class HeadlessPlatform : public Platform {
 public:
  enum class ActionKind {
    kClick,
    kType,
    kSelect,
    kCheck,
    kTab,
    kSlider,
    kKey,
    kRightClick,
    kWait,
    kWaitUntil,
    kDo,
    kEnd
  };
  // A condition on the dialog the action is applied to.
  using Condition = std::function<bool(DialogModel& dialog)>;
  struct Action {
    ActionKind kind;
    int id = 0;
    std::string text;
    int64_t number = 0;  // combo index, check state, tab page, slider position, ms, end result
    Condition until;     // kWaitUntil; kDo: the step (its result is not used)
  };
  struct MessageLogEntry {
    MessageBoxRequest request;
    int answer = 0;
  };

  HeadlessPlatform();
  ~HeadlessPlatform() override;

  // The script, in the order the user acts.
  HeadlessPlatform& Click(int id);
  HeadlessPlatform& Type(int id, std::string text);
  HeadlessPlatform& SelectCombo(int id, int index);
  HeadlessPlatform& Check(int id, bool checked);
  HeadlessPlatform& SelectTab(int id, int page);
  HeadlessPlatform& MoveSlider(int id, int position);
  HeadlessPlatform& Key(std::string chord);
  // A right-click over control `id`; the menu shown takes the next AnswerMenu.
  HeadlessPlatform& RightClick(int id);
  HeadlessPlatform& Wait(int64_t ms);
  // Waits until `done` holds for the dialog, checking after each timer that fires (and at the
  // start), but at most `timeout_ms`; the dialog ending stops the wait too.
  HeadlessPlatform& WaitUntil(Condition done, int64_t timeout_ms);
  // Runs `step` on the dialog, as a user who looks at it and decides what to do.
  HeadlessPlatform& Do(std::function<void(DialogModel& dialog)> step);
  HeadlessPlatform& EndOk() { return End(kIdOk); }
  HeadlessPlatform& EndCancel() { return End(kIdCancel); }
  HeadlessPlatform& End(int result);  // the dialog's OnOK / OnCancel, or EndDialog(result)
  HeadlessPlatform& Answer(int button);
  HeadlessPlatform& AnswerFileName(std::optional<std::string> name);
  HeadlessPlatform& AnswerText(std::optional<std::string> text);
  // The command chosen in the next context menu (nullopt: dismissed). A command the menu does not
  // offer is noted in ScriptErrors() and the menu dismissed.
  HeadlessPlatform& AnswerMenu(std::optional<int> command);
  // The user's locale: whether typed numbers may use a decimal comma (a point by default).
  HeadlessPlatform& UserDecimalMark(DecimalMark mark) {
    decimal_mark_ = mark;
    return *this;
  }

  size_t PendingActions() const { return actions_.size(); }
  int64_t Now() const { return clock_.NowNs() / kNsPerMs; }  // ms on the virtual clock
  const std::vector<MessageLogEntry>& MessageLog() const { return message_log_; }
  const std::vector<int>& HelpLog() const { return help_log_; }
  const std::vector<FileNameRequest>& FileNameLog() const { return file_log_; }
  const std::vector<TextRequest>& TextLog() const { return text_log_; }
  const std::vector<MenuRequest>& MenuLog() const { return menu_log_; }
  const std::vector<std::string>& ScriptErrors() const { return script_errors_; }
  // (time, dialog template id, timer id) of every timer that fired.
  struct Firing {
    int64_t time_ms;
    int dialog_id;
    int timer_id;
  };
  const std::vector<Firing>& Firings() const { return firings_; }

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
  std::optional<int> ChooseMenuCommand(const MenuRequest& request) override;
  DecimalMark TypedDecimalMark() const override { return decimal_mark_; }
  const Clock& GetClock() const override { return clock_; }

 private:
  struct Timer {
    DialogModel* dialog;
    int id;
    int64_t period_ms;
    int64_t due_ms;
    uint64_t order;
  };

  HeadlessPlatform& Push(Action action);
  void Apply(DialogModel& dialog, const Action& action);
  void AdvanceClock(DialogModel& dialog, int64_t ms, const Condition& until = nullptr);
  void Note(const std::string& error) { script_errors_.push_back(error); }

  std::deque<Action> actions_;
  std::deque<int> answers_;
  std::deque<std::optional<std::string>> file_answers_;
  std::deque<std::optional<std::string>> text_answers_;
  std::deque<std::optional<int>> menu_answers_;
  std::vector<DialogModel*> running_;
  std::vector<Timer> timers_;
  // The wait being applied, while AdvanceClock runs: its dialog, end and condition.
  struct WaitState {
    DialogModel* dialog = nullptr;
    int64_t target_ms = 0;
    const Condition* until = nullptr;
  };
  std::optional<WaitState> wait_;
  uint64_t timer_order_ = 0;
  VirtualClock clock_;
  std::vector<MessageLogEntry> message_log_;
  std::vector<int> help_log_;
  std::vector<FileNameRequest> file_log_;
  std::vector<TextRequest> text_log_;
  std::vector<MenuRequest> menu_log_;
  std::vector<std::string> script_errors_;
  std::vector<Firing> firings_;
  DecimalMark decimal_mark_ = DecimalMark::kPoint;
};

}  // namespace axis
