// How many times faster than real time the simulated drive runs: simulated drive time per second
// of the thread's CPU time ("x_realtime", a plain ratio: what the simulation costs, whatever else
// the machine does meanwhile; the wall-clock ratio, "x_realtime_wall", is the same on an idle
// machine), with the 20 kHz fast loop, the firmware's fixed-point current controller, the
// mechanics and the recorder running.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <string>

#include "host/clock.h"
#include "sim/simulated_drive.h"

namespace {

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Simulated seconds per second of CPU time and of wall time over the benchmark's iterations.
class RealTimeRatio {
 public:
  void Add(double simulated_s) { simulated_s_ += simulated_s; }
  void Report(benchmark::State& state) const {
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start_;
    state.counters["x_realtime"] = simulated_s_ / (ThreadCpuSeconds() - cpu_start_s_);
    state.counters["x_realtime_wall"] = simulated_s_ / wall.count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  double cpu_start_s_ = ThreadCpuSeconds();
  double simulated_s_ = 0.0;
};

struct Variant {
  double noise_A;    // rms on each current sensor
  bool dead_time;    // the power stage's dead time (else none)
  bool fast_record;  // three variables every fast-loop period (else every slow-loop period)
};

// The current controller tuning routine, its record sized for one second of drive time: the
// demo drive and motor, current steps of 0.9 A through the firmware's PI controller (a tenth of
// the time at zero, then the step, then zero again), the mover free: it starts 4 mm (48
// electrical degrees) from alignment, so the step's force moves it.
void CurrentLoop(benchmark::State& state, Variant variant) {
  axis::VirtualClock clock;
  sim::Config config = sim::DefaultConfig();
  config.motor.current_noise_A = variant.noise_A;
  if (!variant.dead_time) config.motor.dead_time_s = 0.0;
  std::string error;
  auto drive = sim::SimulatedDrive::Create(config, clock, error);
  if (drive == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  axis::LogRequest log;
  log.variables = {"Current_Reference", "Motor_Current", "Voltage_Reference"};
  log.rate =
      variant.fast_record ? axis::LogRequest::Rate::kFastLoop : axis::LogRequest::Rate::kSlowLoop;
  log.points = variant.fast_record ? 20000 : 2000;
  RealTimeRatio ratio;
  for (auto _ : state) {
    const double before = drive->time_s();
    drive->Launch("Current_Controller_Tuning_Test", {{"In1", 3000}, {"Imax_Prot_Test", 30000}},
                  &log);
    clock.Advance(axis::kNsPerSecond + 10 * axis::kNsPerMs);
    bool on = true;
    drive->GetAxisOn(on);
    ratio.Add(drive->time_s() - before);
  }
  ratio.Report(state);
}
BENCHMARK_CAPTURE(CurrentLoop, demo_drive_fast_record, Variant{0.0, true, true})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CurrentLoop, demo_drive_slow_record, Variant{0.0, true, false})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CurrentLoop, sensor_noise_fast_record, Variant{0.01, true, true})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CurrentLoop, no_dead_time_slow_record, Variant{0.0, false, false})
    ->Unit(benchmark::kMillisecond);

// The inductance routine (rotating voltage, slow-loop record of 400 points), as the
// identification test runs it, polled every 20 ms.
void InductanceRoutine(benchmark::State& state) {
  axis::VirtualClock clock;
  sim::Config config = sim::DefaultConfig();
  config.motor.current_noise_A = 0.0075;
  std::string error;
  auto drive = sim::SimulatedDrive::Create(config, clock, error);
  if (drive == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  axis::LogRequest log;
  log.variables = {"IQ", "ID"};
  log.points = 400;
  log.rate = axis::LogRequest::Rate::kSlowLoop;
  RealTimeRatio ratio;
  for (auto _ : state) {
    const double before = drive->time_s();
    drive->Launch("Ident_L_or_Tau_el", {{"In1", 4914}}, &log);
    bool on = true;
    do {
      clock.Advance(20 * axis::kNsPerMs);
      drive->GetAxisOn(on);
    } while (on || drive->time_s() - before < 0.05);
    ratio.Add(drive->time_s() - before);
  }
  ratio.Report(state);
}
BENCHMARK(InductanceRoutine)->Unit(benchmark::kMillisecond);

// The speed controller tuning routine repeating its profile (a step of 0.1 m/s held 0.1 s each
// way) through the firmware's speed loop on the demo mover, with the oscilloscope streaming four
// variables every slow-loop period and the host taking its frames every 20 ms.
void SpeedLoopWithScope(benchmark::State& state) {
  axis::VirtualClock clock;
  std::string error;
  auto drive = sim::SimulatedDrive::Create(sim::DefaultConfig(), clock, error);
  if (drive == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  axis::ScopeRequest scope;
  scope.variables = {"Speed_Reference", "Load_Speed", "Current_Reference", "Motor_Current"};
  scope.points = 1000;
  scope.mode = axis::ScopeRequest::Mode::kAuto;
  if (!drive->StartScope(scope)) {
    state.SkipWithError(drive->GetLastErrorText().c_str());
    return;
  }
  drive->Launch("Speed_Controller_Tuning_Test",
                {{"RefTest", 5250},
                 {"IlimPS_Test", 20000},
                 {"Imax_Prot_Test", 30000},
                 {"MultiC", 1},
                 {"a0", 1},
                 {"b0", 50},
                 {"a1", 199},
                 {"a2", 1},
                 {"b2", -100},
                 {"a3", 199},
                 {"a4", 1},
                 {"b4", 50},
                 {"a5", 199}},
                nullptr);
  RealTimeRatio ratio;
  int64_t frames = 0;
  for (auto _ : state) {
    const double before = drive->time_s();
    for (int poll = 0; poll < 50; ++poll) {
      clock.Advance(20 * axis::kNsPerMs);
      drive->CheckForUnrequestedMessages(+[](const uint16_t*, int) { return 1; });
      ++frames;
    }
    ratio.Add(drive->time_s() - before);
  }
  benchmark::DoNotOptimize(frames);
  ratio.Report(state);
}
BENCHMARK(SpeedLoopWithScope)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
