// A drive routine as a coroutine that runs inside the drive's fast loop.
//
// A routine is written as straight-line code over the drive's state; `co_await Periods{n}` gives
// the fast loop back for n periods (the firmware's controller and the physics run meanwhile) and
// goes on at the start of the n-th period from now, right after the samples are taken.
// `co_await EachPeriod{step}` calls step at that point of every period from the next one on, and
// goes on in the period in which it returns true.
#pragma once

#include <coroutine>
#include <cstdint>
#include <exception>
#include <functional>
#include <utility>

namespace sim {

class RoutineTask {
 public:
  struct promise_type {
    int64_t periods_to_wait = 0;
    std::function<bool()> each_period;
    RoutineTask get_return_object() { return RoutineTask(Handle::from_promise(*this)); }
    std::suspend_always initial_suspend() noexcept { return {}; }
    std::suspend_always final_suspend() noexcept { return {}; }
    void return_void() noexcept {}
    void unhandled_exception() noexcept { std::terminate(); }
  };
  using Handle = std::coroutine_handle<promise_type>;

  RoutineTask() = default;
  explicit RoutineTask(Handle handle) : handle_(handle) {}
  RoutineTask(RoutineTask&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  RoutineTask& operator=(RoutineTask&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  RoutineTask(const RoutineTask&) = delete;
  RoutineTask& operator=(const RoutineTask&) = delete;
  ~RoutineTask() { Reset(); }

  bool Running() const { return handle_ && !handle_.done(); }
  // Called once per fast-loop period: resumes the routine when its wait is over.
  void Tick() {
    if (!Running()) return;
    promise_type& p = handle_.promise();
    if (p.each_period) {
      if (!p.each_period()) return;
      p.each_period = nullptr;
    } else if (--p.periods_to_wait > 0) {
      return;
    }
    handle_.resume();
  }
  // Resumes the routine now, whatever it waits for.
  void Wake() {
    if (!Running()) return;
    handle_.promise().each_period = nullptr;
    handle_.promise().periods_to_wait = 1;
    Tick();
  }
  // Ends the routine wherever it is (its frame is destroyed).
  void Reset() {
    if (handle_) handle_.destroy();
    handle_ = nullptr;
  }

 private:
  Handle handle_ = nullptr;
};

// Waits n fast-loop periods (at least one).
struct Periods {
  int64_t n = 1;
  bool await_ready() const noexcept { return false; }
  void await_suspend(RoutineTask::Handle h) const noexcept {
    h.promise().periods_to_wait = n < 1 ? 1 : n;
  }
  void await_resume() const noexcept {}
};

// Calls `step` once per period until it returns true.
struct EachPeriod {
  std::function<bool()> step;
  bool await_ready() const noexcept { return false; }
  void await_suspend(RoutineTask::Handle h) { h.promise().each_period = std::move(step); }
  void await_resume() const noexcept {}
};

}  // namespace sim
