#include "sim/scope.h"

#include <algorithm>
#include <cmath>

#include "host/number_text.h"
#include "host/scope_frame.h"
#include "host/text.h"
#include "sim/drive_core.h"

namespace sim {

namespace {

// The frame's sample index is a 16-bit word.
constexpr int kMaxPoints = 65535;

}  // namespace

std::string Scope::Start(const DriveCore& core, const axis::ScopeRequest& request) {
  armed_ = false;
  const size_t channels = request.variables.size();
  if (channels < 1 || channels > axis::ScopeRequest::kMaxChannels)
    return "the oscilloscope takes 1 to 4 variables, not " + std::to_string(channels);
  if (request.points < 1 || request.points > kMaxPoints)
    return "an acquisition holds 1 to " + axis::FormatNumber(kMaxPoints) + " samples, not " +
           std::to_string(request.points);
  if (request.every < 1 || request.every > 1'000'000)
    return "the oscilloscope samples every 1 to 1000000"
           " slow-loop periods, not " +
           std::to_string(request.every);
  if (request.pretrigger_points < 0 || request.pretrigger_points > request.points)
    return "the pretrigger takes 0 to " + std::to_string(request.points) + " samples, not " +
           std::to_string(request.pretrigger_points);
  using Mode = axis::ScopeRequest::Mode;
  if (request.mode != Mode::kAuto && request.mode != Mode::kNormal && request.mode != Mode::kSingle)
    return "the oscilloscope's trigger mode is auto (1), normal (2) or single shot (4)";
  if (!std::isfinite(request.trigger_level)) return "the trigger level must be a number";
  std::vector<int> slots;
  int trigger = -1;
  for (size_t c = 0; c < channels; ++c) {
    const std::string& name = request.variables[c];
    const int slot = core.VariableIndex(name);
    if (slot < 0) return "no drive variable " + axis::Quoted(name) + " for the oscilloscope";
    slots.push_back(slot);
    if (trigger < 0 && !request.trigger_variable.empty() &&
        core.VariableIndex(request.trigger_variable) == slot)
      trigger = static_cast<int>(c);
  }
  if (!request.trigger_variable.empty() && trigger < 0)
    return "the trigger variable " + axis::Quoted(request.trigger_variable) +
           " must be one of the oscilloscope's variables";
  request_ = request;
  slots_ = std::move(slots);
  sources_.clear();
  for (int slot : slots_) sources_.push_back(core.VariableSource(slot));
  trigger_channel_ = request.mode == Mode::kAuto ? -1 : trigger;
  until_sample_ = 1;
  now_.assign(channels, 0.0f);
  pretrigger_ = std::min(request.pretrigger_points, request.points - 1);
  history_.assign(static_cast<size_t>(pretrigger_) * channels, 0.0f);
  history_next_ = 0;
  history_count_ = 0;
  has_previous_ = false;
  pending_.clear();
  state_ = State::kWaiting;
  armed_ = true;
  return "";
}

void Scope::Take(const DriveCore& core) {
  until_sample_ = request_.every;
  const size_t channels = slots_.size();
  for (size_t c = 0; c < channels; ++c)
    now_[c] =
        static_cast<float>(sources_[c] != nullptr ? *sources_[c] : core.VariableValue(slots_[c]));
  bool triggered = trigger_channel_ < 0;
  if (trigger_channel_ >= 0) {
    const double level = request_.trigger_level;
    const double value = now_[static_cast<size_t>(trigger_channel_)];
    triggered = has_previous_ && history_count_ >= pretrigger_ &&
                (request_.rising ? previous_level_ < level && value >= level
                                 : previous_level_ > level && value <= level);
    previous_level_ = value;
    has_previous_ = true;
  }
  if (state_ == State::kWaiting && triggered) Begin(trigger_channel_ >= 0);
  if (state_ == State::kAcquiring) {
    pending_.insert(pending_.end(), now_.begin(), now_.end());
    ++acquired_;
    const bool last = acquired_ >= request_.points;
    if (last || pending_.size() >= axis::ScopeFrame::kMaxSamplesPerFrame * channels) Emit(last);
  }
  if (!armed_ || history_.empty()) return;
  std::copy(now_.begin(), now_.end(),
            history_.begin() + static_cast<std::ptrdiff_t>(history_next_));
  history_next_ = (history_next_ + channels) % history_.size();
  ++history_count_;
}

// A new acquisition; with a trigger it opens with the samples before it, oldest first.
void Scope::Begin(bool with_pretrigger) {
  state_ = State::kAcquiring;
  pending_.clear();
  pending_first_ = 0;
  acquired_ = 0;
  if (!with_pretrigger || history_.empty()) return;
  pending_.insert(pending_.end(), history_.begin() + static_cast<std::ptrdiff_t>(history_next_),
                  history_.end());
  pending_.insert(pending_.end(), history_.begin(),
                  history_.begin() + static_cast<std::ptrdiff_t>(history_next_));
  acquired_ = pretrigger_;
  // A frame never holds more than its limit: the pretrigger may have to go out first.
  const size_t channels = slots_.size();
  while (pending_.size() >= axis::ScopeFrame::kMaxSamplesPerFrame * channels) Emit(false);
}

void Scope::Emit(bool last) {
  const size_t channels = slots_.size();
  const size_t samples = std::min(pending_.size() / channels,
                                  static_cast<size_t>(axis::ScopeFrame::kMaxSamplesPerFrame));
  const bool closes = last && samples * channels == pending_.size();
  const bool final_frame = closes && request_.mode == axis::ScopeRequest::Mode::kSingle;
  axis::ScopeFrame frame;
  frame.flags = static_cast<uint16_t>((pending_first_ == 0 ? axis::ScopeFrame::kFirst : 0) |
                                      (closes ? axis::ScopeFrame::kLast : 0) |
                                      (final_frame ? axis::ScopeFrame::kFinal : 0));
  frame.channels = static_cast<int>(channels);
  frame.first_sample = pending_first_;
  frame.values.assign(pending_.begin(),
                      pending_.begin() + static_cast<std::ptrdiff_t>(samples * channels));
  if (queue_.size() >= kMaxQueued) queue_.erase(queue_.begin());
  queue_.push_back(axis::EncodeScopeFrame(frame, sequence_++));
  pending_.erase(pending_.begin(),
                 pending_.begin() + static_cast<std::ptrdiff_t>(samples * channels));
  pending_first_ += static_cast<int>(samples);
  if (!pending_.empty()) return Emit(last);
  if (!closes) return;
  state_ = State::kWaiting;
  if (final_frame) armed_ = false;
}

void Scope::Flush() {
  if (armed_ && state_ == State::kAcquiring && !pending_.empty()) Emit(false);
}

void Scope::Hand(std::vector<axis::UnsolicitedMessage>& messages) {
  for (axis::UnsolicitedMessage& m : queue_) messages.push_back(std::move(m));
  queue_.clear();
}

}  // namespace sim
