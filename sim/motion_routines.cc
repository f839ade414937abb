// The routines that move the mover under the firmware's motion control: the speed and position
// controller tuning tests and the total mass identification.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/motion_control.h"
#include "sim/routine_steps.h"
#include "sim/routines.h"
#include "sim/small_matrix.h"

namespace sim {

namespace {

constexpr double kRequired = std::numeric_limits<double>::quiet_NaN();
constexpr double kInt32Max = 2147483647.0;
constexpr const char* kSegmentCounts[6] = {"a0", "a1", "a2", "a3", "a4", "a5"};
constexpr const char* kSegmentSlopes[6] = {"b0", "b1", "b2", "b3", "b4", "b5"};

// A 16.16 value as the nearest whole count.
double WholeCounts(int64_t fixed) {
  return static_cast<double>((fixed + (kFixedOne >> 1)) >> kFixedBits);
}

// The routine's verdict when its current protection switched the power stage off.
bool Tripped(RoutineRun& run) {
  if (!run.drive().limit_tripped()) return false;
  run.Deliver("test_flag", 0.0);
  return true;
}

// --- Speed_Controller_Tuning_Test, Position_Controller_Tuning_Test_with/without_SpdCtrl ----------
// The segment table ("a0".."a5" samples, "b0".."b5" increments per sample) drives the reference:
// a speed (counts per slow-loop period) for the speed test, the position from the start (counts)
// for the position tests; "MultiC" non-zero repeats it (read at the end of each profile, so the
// host may clear it during the run). After the alignment the firmware's loops run once a
// slow-loop period (every fast-loop period with UPGRADE bit 6), from the registers as they are at
// each sample. The current protection ("Imax_Prot_Test", counts) switches off at once with
// "test_flag" 0; otherwise the routine ends after the profile with "test_flag" 1.
RoutineTask MotionTuning(RoutineRun& run, MotionLoop loop) {
  DriveCore& d = run.drive();
  std::array<double, 6> counts{}, slopes{};
  for (size_t i = 0; i < 6; ++i) {
    counts[i] = run.Input(kSegmentCounts[i]);
    slopes[i] = run.Input(kSegmentSlopes[i]);
  }
  ReferenceGenerator generator(counts, slopes);
  const auto limit = [&run](const char* name) {
    return static_cast<int64_t>(std::clamp(std::trunc(run.Input(name)), 0.0, kInt32Max));
  };
  const bool cascade = loop == MotionLoop::kPositionCascade;
  MotionController controller(loop, cascade ? 32767 : limit("IlimPS_Test"),
                              cascade ? limit("LimitSpeed_Test") : INT32_MAX);
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kVoltage);
  co_await AlignAndCommutate(run);
  d.SetCurrentLimit(Int16(run.Input("Imax_Prot_Test")));
  const int64_t start = d.encoder_counts();
  SpeedMeter meter(d.slow_divider());
  meter.Reset(start);
  d.SetVar(Var::kSpeedReference, 0.0);
  d.SetVar(Var::kTargetPosition, static_cast<double>(start));
  // The record shows the profile, not the alignment before it.
  run.StartRecord();
  int64_t previous_increment = 0;
  MotionInput in;
  for (;;) {
    co_await Periods{1};
    if (Tripped(run)) co_return;
    const int64_t count = d.encoder_counts();
    const int64_t moved = meter.Step(count);
    const MotionRegisters& r = d.motion_registers();
    if (d.slow_tick()) {
      if (!generator.Step(run.Input("MultiC") != 0.0)) break;
      const int64_t increment = generator.increment();
      in.reference = generator.value();
      in.reference_speed = loop == MotionLoop::kSpeed ? generator.value() : increment;
      in.reference_acceleration =
          loop == MotionLoop::kSpeed ? increment : increment - previous_increment;
      previous_increment = increment;
      if (loop != MotionLoop::kSpeed)
        d.SetVar(Var::kTargetPosition,
                 static_cast<double>(start + (generator.value() >> kFixedBits)));
    } else if (!r.loops_in_fast_loop) {
      continue;
    }
    in.position = count - start;
    in.measured_speed = moved * kFixedOne;
    const MotionOutput out = controller.Step(r, in);
    d.SetCurrentReference(0.0, WholeCounts(out.current_reference));
    d.SetVar(Var::kSpeedReference, static_cast<double>(out.speed_reference) / kFixedOne);
  }
  d.SetCurrentReference(0.0, 0.0);
  d.SwitchOff();
}

RoutineTask SpeedTuning(RoutineRun& run) { return MotionTuning(run, MotionLoop::kSpeed); }
RoutineTask PositionCascadeTuning(RoutineRun& run) {
  return MotionTuning(run, MotionLoop::kPositionCascade);
}
RoutineTask PositionPidTuning(RoutineRun& run) {
  return MotionTuning(run, MotionLoop::kPositionPid);
}

// --- Total_Mass_Identification_Test ------------------------------------------------------------
// The test current "In1" (q current, counts) accelerates the mover from rest; the firmware fits
// the encoder counts of the slow-loop samples of the acceleration to x = x0 + v0 k + a k^2 / 2
// and reports "delta_time" (the samples from the first to the last fitted one) and "delta_speed"
// = a delta_time (counts per slow-loop period) scaled by In1 / the mean q current measured at
// those samples: the speed change the test current makes, even where the current loop lags
// behind the rising back-EMF. The first 4 ms after the step (the current loop settling) are left
// out, and up to 50 ms while the current is not yet within 5 % of In1. The acceleration ends at
// the first of: the current off In1 by more than 5 % or the voltage near its limit (that sample
// not fitted), a sudden drop of the speed (an end stop: not fitted),
// the speed at 90 % of "LimitSpeedMax", two electrical periods of travel (2^33 / ENC2THL counts),
// 3 s. Then the test current brakes the mover to rest and the power stage goes off.
// Verdicts: "delta_time" -1 when the mover went backward (speed or travel negative), -2 when
// it did not move or fewer than 8 samples could be fitted (the force was not reached).
struct MassFit {
  std::vector<double> sample, count;
  double current_sum = 0.0;
  // The acceleration (counts per sample^2) of the least-squares parabola; 0 when singular.
  double Acceleration() const;
};

double MassFit::Acceleration() const {
  const double first = sample.front(), last = sample.back();
  const double centre = 0.5 * (first + last), half = std::max(1.0, 0.5 * (last - first));
  Matrix normal(3, 3), moments(3, 1);
  for (size_t i = 0; i < sample.size(); ++i) {
    const double t = (sample[i] - centre) / half;
    const double powers[3] = {1.0, t, t * t};
    for (int r = 0; r < 3; ++r) {
      moments(r, 0) += powers[r] * count[i];
      for (int c = 0; c < 3; ++c) normal(r, c) += powers[r] * powers[c];
    }
  }
  Matrix inverse(3, 3);
  if (!Invert(normal, inverse)) return 0.0;
  return 2.0 * (inverse * moments)(2, 0) / (half * half);
}

RoutineTask TotalMass(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double force = Int16(run.Input("In1"));
  const double top_speed = 0.9 * run.Input("LimitSpeedMax");
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kVoltage);
  co_await AlignAndCommutate(run);
  d.SetCurrentLimit(Int16(run.Input("Imax_Prot_Test")));
  double enc2thl = 0.0;
  d.ReadRegister("ENC2THL", enc2thl);
  const double travel = enc2thl >= 1.0 ? 0x1p33 / enc2thl : 1e12;
  const double slow_s = d.period_s() * d.slow_divider();
  const int64_t settle = std::max<int64_t>(2, std::llround(std::ceil(0.004 / slow_s)));
  const int64_t longest = std::llround(3.0 / slow_s), idle = std::llround(0.5 / slow_s);
  const int64_t late = std::llround(0.05 / slow_s);
  const int64_t start = d.encoder_counts();
  if (force > 0.0) d.SetCurrentReference(0.0, force);
  MassFit fit;
  double verdict = 0.0;
  int64_t k = 0, previous_x = 0, previous_speed = 0;
  while (force > 0.0) {
    co_await Periods{1};
    if (Tripped(run)) co_return;
    if (!d.slow_tick()) continue;
    ++k;
    const int64_t x = d.encoder_counts() - start, speed = x - previous_x;
    previous_x = x;
    if (speed < -2 || x < -8) {
      verdict = -1.0;
      break;
    }
    if (k <= settle) {
      previous_speed = speed;
      continue;
    }
    const bool held = std::fabs(d.iq_counts() - force) <= 0.05 * force + 2.0 &&
                      std::fabs(d.command_dq()[1]) < 0.95 * d.voltage_limit();
    const bool stopped = speed < previous_speed - std::max<int64_t>(3, previous_speed / 20);
    if (!held && fit.sample.empty() && k < late) continue;  // the current is still settling
    if (!held || stopped) break;
    fit.sample.push_back(static_cast<double>(k));
    fit.count.push_back(static_cast<double>(x));
    fit.current_sum += d.iq_counts();
    previous_speed = speed;
    if (speed >= top_speed || static_cast<double>(x) >= travel || k >= longest) break;
    if (k >= idle && std::llabs(x) <= 2) break;  // it does not move
  }
  double delta_time = verdict, delta_speed = 0.0;
  if (verdict == 0.0) {
    const double a = fit.sample.size() >= 8 ? fit.Acceleration() : 0.0;
    if (a > 0.0) {
      delta_time = fit.sample.back() - fit.sample.front();
      const double mean_current = fit.current_sum / static_cast<double>(fit.sample.size());
      delta_speed = a * delta_time * force / mean_current;
    } else {
      delta_time = !fit.count.empty() && fit.count.back() < 0.0 ? -1.0 : -2.0;
    }
  }
  // Brake against the motion, then let go.
  d.SetCurrentReference(0.0, previous_speed > 0 ? -force : 0.0);
  for (int64_t n = 0; previous_speed > 0 && n < longest;) {
    co_await Periods{1};
    if (Tripped(run)) co_return;
    if (!d.slow_tick()) continue;
    ++n;
    const int64_t x = d.encoder_counts() - start;
    previous_speed = x - previous_x;
    previous_x = x;
  }
  d.SetCurrentReference(0.0, 0.0);
  co_await Periods{run.Periods(0.02)};
  if (Tripped(run)) co_return;
  run.Deliver("delta_time", delta_time);
  run.Deliver("delta_speed", delta_speed);
  d.SwitchOff();
}

std::vector<RoutineInput> TuningInputs(const char* limit) {
  std::vector<RoutineInput> inputs = {{"RefTest", -32767.0, 32767.0, 0.0},
                                      {"RIncTest", 0.0, kInt32Max, 0.0},
                                      {limit, -kInt32Max, kInt32Max, kRequired},
                                      {"Imax_Prot_Test", -32768.0, 32767.0, kRequired}};
  // Sample counts are 16-bit unsigned; increments 16.16 signed.
  for (const char* name : kSegmentCounts) inputs.push_back({name, 0.0, 65535.0, 0.0});
  for (const char* name : kSegmentSlopes)
    inputs.push_back({name, -32768.0, 32768.0 - 1.0 / 65536.0, 0.0});
  inputs.push_back({"MultiC", -kInt32Max, kInt32Max, 0.0});
  return inputs;
}

}  // namespace

std::vector<RoutineDefinition> MotionRoutines() {
  const std::vector<std::pair<const char*, double>> verdict = {{"test_flag", 1.0}};
  return {
      {"Total_Mass_Identification_Test",
       {{"RefTest", -32767.0, 32767.0, 0.0},
        {"RIncTest", 0.0, kInt32Max, 0.0},
        {"In1", -32768.0, 32767.0, kRequired},
        {"LimitSpeedMax", 0.0, kInt32Max, kRequired},
        {"Imax_Prot_Test", -32768.0, 32767.0, kRequired}},
       {"STARTED", "test_flag", "delta_time", "delta_speed"},
       {},
       {},
       false,
       TotalMass,
       nullptr,
       verdict},
      {"Speed_Controller_Tuning_Test",
       TuningInputs("IlimPS_Test"),
       {"STARTED", "test_flag"},
       {},
       {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"},
       true,
       SpeedTuning,
       nullptr,
       verdict},
      {"Position_Controller_Tuning_Test_with_SpdCtrl",
       TuningInputs("LimitSpeed_Test"),
       {"STARTED", "test_flag"},
       {},
       {"Target_Position", "Load_Position", "Speed_Reference", "Load_Speed"},
       true,
       PositionCascadeTuning,
       nullptr,
       verdict},
      {"Position_Controller_Tuning_Test_without_SpdCtrl",
       TuningInputs("IlimPS_Test"),
       {"STARTED", "test_flag"},
       {},
       {"Target_Position", "Load_Position", "Current_Reference", "Motor_Current"},
       true,
       PositionPidTuning,
       nullptr,
       verdict},
  };
}

}  // namespace sim
