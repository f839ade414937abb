#include "sim/routine_steps.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace sim {

double Int16(double value) { return std::clamp(std::trunc(value), -32768.0, 32767.0); }

EachPeriod StartPowered(RoutineRun& run, Mode mode) {
  return {[&run, mode] { return run.StartAndSwitchOn(mode); }};
}

EachPeriod RampVoltage(RoutineRun& run, double target, double step, double angle) {
  DriveCore& d = run.drive();
  d.SetFrame(angle, 0.0, 0.0);
  const double least = std::fabs(target) / static_cast<double>(run.Periods(0.2));
  step = std::max(std::fabs(step), least);
  auto v = std::make_shared<double>(0.0);
  return {[&d, target, step, v] {
    *v = target > *v ? std::min(target, *v + step) : std::max(target, *v - step);
    d.SetVoltage(0.0, *v);
    return *v == target;
  }};
}

namespace {

void StartCommutation(DriveCore& d) {
  d.SetVoltage(0.0, 0.0);
  d.SetCurrentReference(0.0, 0.0);
  d.SetMode(Mode::kFirmwareCurrent);
  d.SetCommutation(true);
}

}  // namespace

EachPeriod AlignAndCommutate(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double target = Int16(run.Input("RefTest"));
  struct State {
    double voltage = 0.0;
    int64_t anchor = 0, held = 0, still = 0;
    bool done = false;
  };
  auto s = std::make_shared<State>();
  if (target == 0.0) {
    s->done = true;
  } else {
    d.SetMode(Mode::kVoltage);
    d.SetFrame(0.0, 0.0, 0.0);
    s->anchor = d.encoder_counts();
  }
  const double step = std::max(std::fabs(run.Input("RIncTest")) / 65536.0,
                               std::fabs(target) / static_cast<double>(run.Periods(0.2)));
  const int64_t still_needed = run.Periods(0.02), at_least = run.Periods(0.05);
  const int64_t at_most = run.Periods(1.0);
  return {[&d, s, target, step, still_needed, at_least, at_most] {
    if (!s->done && s->voltage != target) {
      s->voltage = target > s->voltage ? std::min(target, s->voltage + step)
                                       : std::max(target, s->voltage - step);
      d.SetVoltage(0.0, s->voltage);
      return false;
    }
    if (!s->done) {
      ++s->held;
      if (std::llabs(d.encoder_counts() - s->anchor) > 2) {
        s->anchor = d.encoder_counts();
        s->still = 0;
      } else {
        ++s->still;
      }
      if ((s->held < at_least || s->still < still_needed) && s->held < at_most) return false;
      d.SetCommutationReference();
    }
    StartCommutation(d);
    return true;
  }};
}

}  // namespace sim
