#include "host/headless_platform.h"

#include <algorithm>
#include <limits>

#include "host/dialog_model.h"

namespace axis {

HeadlessPlatform::HeadlessPlatform() = default;
HeadlessPlatform::~HeadlessPlatform() = default;

HeadlessPlatform& HeadlessPlatform::Push(Action action) {
  actions_.push_back(std::move(action));
  return *this;
}

HeadlessPlatform& HeadlessPlatform::Click(int id) { return Push({ActionKind::kClick, id}); }
HeadlessPlatform& HeadlessPlatform::Type(int id, std::string text) {
  return Push({ActionKind::kType, id, std::move(text)});
}
HeadlessPlatform& HeadlessPlatform::SelectCombo(int id, int index) {
  return Push({ActionKind::kSelect, id, "", index});
}
HeadlessPlatform& HeadlessPlatform::Check(int id, bool checked) {
  return Push({ActionKind::kCheck, id, "", checked ? 1 : 0});
}
HeadlessPlatform& HeadlessPlatform::SelectTab(int id, int page) {
  return Push({ActionKind::kTab, id, "", page});
}
HeadlessPlatform& HeadlessPlatform::MoveSlider(int id, int position) {
  return Push({ActionKind::kSlider, id, "", position});
}
HeadlessPlatform& HeadlessPlatform::Key(std::string chord) {
  return Push({ActionKind::kKey, 0, std::move(chord)});
}
HeadlessPlatform& HeadlessPlatform::RightClick(int id) {
  return Push({ActionKind::kRightClick, id});
}
HeadlessPlatform& HeadlessPlatform::Wait(int64_t ms) {
  return Push({ActionKind::kWait, 0, "", std::max<int64_t>(ms, 0)});
}
HeadlessPlatform& HeadlessPlatform::WaitUntil(Condition done, int64_t timeout_ms) {
  return Push({ActionKind::kWaitUntil, 0, "", std::max<int64_t>(timeout_ms, 0), std::move(done)});
}
HeadlessPlatform& HeadlessPlatform::Do(std::function<void(DialogModel& dialog)> step) {
  return Push({ActionKind::kDo, 0, "", 0, [step = std::move(step)](DialogModel& dialog) {
                 step(dialog);
                 return true;
               }});
}
HeadlessPlatform& HeadlessPlatform::End(int result) {
  return Push({ActionKind::kEnd, 0, "", result});
}
HeadlessPlatform& HeadlessPlatform::Answer(int button) {
  answers_.push_back(button);
  return *this;
}
HeadlessPlatform& HeadlessPlatform::AnswerFileName(std::optional<std::string> name) {
  file_answers_.push_back(std::move(name));
  return *this;
}

HeadlessPlatform& HeadlessPlatform::AnswerMenu(std::optional<int> command) {
  menu_answers_.push_back(command);
  return *this;
}

HeadlessPlatform& HeadlessPlatform::AnswerText(std::optional<std::string> text) {
  text_answers_.push_back(std::move(text));
  return *this;
}

void HeadlessPlatform::Apply(DialogModel& dialog, const Action& action) {
  bool taken = true;
  switch (action.kind) {
    case ActionKind::kClick:
      taken = dialog.UserClick(action.id);
      break;
    case ActionKind::kType:
      taken = dialog.UserType(action.id, action.text);
      break;
    case ActionKind::kSelect:
      taken = dialog.UserSelectCombo(action.id, static_cast<int>(action.number));
      break;
    case ActionKind::kCheck:
      taken = dialog.UserSetCheck(action.id, action.number != 0);
      break;
    case ActionKind::kTab:
      taken = dialog.UserSelectTab(action.id, static_cast<int>(action.number));
      break;
    case ActionKind::kSlider:
      taken = dialog.UserMoveSlider(action.id, static_cast<int>(action.number));
      break;
    case ActionKind::kKey:
      dialog.UserKeyChord(action.text);
      break;
    case ActionKind::kRightClick:
      taken = dialog.UserContextMenu(action.id);
      break;
    case ActionKind::kWait:
      AdvanceClock(dialog, action.number);
      break;
    case ActionKind::kWaitUntil:
      AdvanceClock(dialog, action.number, action.until);
      break;
    case ActionKind::kDo:
      action.until(dialog);
      break;
    case ActionKind::kEnd:
      if (action.number == kIdOk) {
        dialog.OnOK();
      } else if (action.number == kIdCancel) {
        dialog.OnCancel();
      } else {
        dialog.EndDialog(static_cast<int>(action.number));
      }
      break;
  }
  if (!taken) {
    Note("dialog " + std::to_string(dialog.Template().id) + ": control " +
         std::to_string(action.id) + " cannot take the action");
  }
}

void HeadlessPlatform::AdvanceClock(DialogModel& dialog, int64_t ms, const Condition& until) {
  const int64_t now_ms = Now();
  const int64_t target =
      now_ms > std::numeric_limits<int64_t>::max() / kNsPerMs - ms ? now_ms : now_ms + ms;
  const std::optional<WaitState> outer = wait_;
  wait_ = WaitState{&dialog, target, until ? &until : nullptr};
  struct Restore {
    std::optional<WaitState>& wait;
    std::optional<WaitState> outer;
    ~Restore() { wait = outer; }
  } restore{wait_, outer};
  while (dialog.IsRunning()) {
    if (until && until(dialog)) return;
    auto next =
        std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
          return a.due_ms != b.due_ms ? a.due_ms < b.due_ms : a.order < b.order;
        });
    if (next == timers_.end() || next->due_ms > target) break;
    // A loop that idled inside a timer may have moved the clock past a timer's time.
    clock_.Advance(std::max<int64_t>(next->due_ms - Now(), 0) * kNsPerMs);
    next->due_ms = std::max(next->due_ms + next->period_ms, Now());
    DialogModel* owner = next->dialog;
    const int id = next->id;
    firings_.push_back({Now(), owner->Template().id, id});
    owner->OnTimer(id);  // may set or kill timers: `next` is not used after this
  }
  if (dialog.IsRunning() && target > Now()) clock_.Advance((target - Now()) * kNsPerMs);
}

int HeadlessPlatform::RunModal(DialogModel& dialog) {
  running_.push_back(&dialog);
  while (dialog.IsRunning()) {
    if (actions_.empty()) {
      dialog.OnCancel();
      if (dialog.IsRunning()) dialog.EndDialog(kIdCancel);
      break;
    }
    const Action action = actions_.front();
    actions_.pop_front();
    Apply(dialog, action);
  }
  std::erase_if(timers_, [&](const Timer& t) { return t.dialog == &dialog; });
  running_.pop_back();
  return dialog.Result();
}

void HeadlessPlatform::EndModal(DialogModel&, int) {}

bool HeadlessPlatform::SetTimer(DialogModel& dialog, int id, unsigned period_ms) {
  const int64_t period = std::max<int64_t>(period_ms, 1);
  for (Timer& t : timers_) {
    if (t.dialog == &dialog && t.id == id) {
      t.period_ms = period;
      t.due_ms = Now() + period;
      t.order = timer_order_++;
      return true;
    }
  }
  timers_.push_back({&dialog, id, period, Now() + period, timer_order_++});
  return true;
}

bool HeadlessPlatform::KillTimer(DialogModel& dialog, int id) {
  return std::erase_if(timers_, [&](const Timer& t) { return t.dialog == &dialog && t.id == id; }) >
         0;
}

void HeadlessPlatform::DispatchPendingMessages() {
  if (running_.empty() || actions_.empty()) return;
  if (wait_ && wait_->dialog->IsRunning() && Now() < wait_->target_ms &&
      !(wait_->until != nullptr && (*wait_->until)(*wait_->dialog)))
    return;
  const Action action = actions_.front();
  actions_.pop_front();
  Apply(*running_.back(), action);
}

void HeadlessPlatform::Idle(unsigned ms) {
  clock_.Advance(int64_t{ms} * kNsPerMs);
  DispatchPendingMessages();
}

int HeadlessPlatform::ShowMessageBox(const MessageBoxRequest& request) {
  int answer = DefaultButton(request.buttons);
  if (!answers_.empty()) {
    const int scripted = answers_.front();
    answers_.pop_front();
    if (OffersButton(request, scripted)) {
      answer = scripted;
    } else {
      Note("message box \"" + request.text + "\" has no button " + std::to_string(scripted));
    }
  }
  message_log_.push_back({request, answer});
  if (answer == kIdHelp) OpenHelp(request.help_context);
  return answer;
}

void HeadlessPlatform::OpenHelp(int context) { help_log_.push_back(context); }

std::optional<std::string> HeadlessPlatform::AskFileName(const FileNameRequest& request) {
  file_log_.push_back(request);
  if (file_answers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(file_answers_.front());
  file_answers_.pop_front();
  return answer;
}

std::optional<std::string> HeadlessPlatform::AskText(const TextRequest& request) {
  text_log_.push_back(request);
  if (text_answers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(text_answers_.front());
  text_answers_.pop_front();
  return answer;
}

}  // namespace axis

namespace axis {

std::optional<int> HeadlessPlatform::ChooseMenuCommand(const MenuRequest& request) {
  menu_log_.push_back(request);
  if (menu_answers_.empty()) return std::nullopt;
  const std::optional<int> answer = menu_answers_.front();
  menu_answers_.pop_front();
  if (!answer) return std::nullopt;
  const bool offered =
      std::any_of(request.items.begin(), request.items.end(),
                  [&](const MenuItem& item) { return item.command == *answer && item.enabled; });
  if (offered) return answer;
  Note("context menu of control " + std::to_string(request.control_id) + " offers no command " +
       std::to_string(*answer));
  return std::nullopt;
}

}  // namespace axis
