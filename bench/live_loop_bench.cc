// The speed test's live polling loop headless against the simulated drive: passes of the loop
// (read the reference and the load speed, put them on the view, check faults and the routine's
// flag, let the user's input in) per second of the thread's CPU time. Each pass idles one
// millisecond of the virtual clock, so a run of S seconds of drive time makes 1000 S passes.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <string>

#include "app/cli/test_runner.h"
#include "conversions/motion_units.h"
#include "editor/dialog_catalogue.h"
#include "host/setup_file.h"
#include "sim/setup_config.h"

namespace {

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

int Open(CMC_Setup& setup, int template_id) {
  for (const kestrel::SetupDialogEntry& entry : kestrel::SetupDialogs())
    if (entry.template_id == template_id) return entry.open(&setup);
  return -1;
}

void LivePollingLoop(benchmark::State& state) {
  axis::LoadResult loaded = axis::LoadSetupFile(AXIS_SETUPS_DIR "/demo-linear.json");
  if (!loaded.setup) {
    state.SkipWithError(loaded.error.c_str());
    return;
  }
  CMC_Setup& setup = *loaded.setup;
  setup.SetScaleProvider({&kestrel::ScaleFactor, &kestrel::ScaleOffset});
  setup.SetParameterValueInBaseUnit("OnlinePlotS", 1);
  setup.SetParameterValueInBaseUnit("MultiCycleS", 1);
  const axis::cli::TestEntry& entry = *axis::cli::FindTestEntry("speed");
  constexpr double kDrive_s = 2.0;
  std::FILE* sink = std::fopen("/dev/null", "w");
  double cpu_s = 0.0, passes = 0.0;
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    const auto outcome = axis::cli::RunTest(
        setup, entry, {.stop_after_s = kDrive_s},
        [&](const axis::Clock& clock, std::string& error) {
          return sim::DriveForSetup(setup, clock, {}, error);
        },
        [](CMC_Setup& s) { return Open(s, 102); },
        [](axis::DialogModel&, const std::string&) { return std::string(); }, sink, sink);
    cpu_s += ThreadCpuSeconds() - start;
    if (!outcome.succeeded) {
      state.SkipWithError("the live run did not succeed");
      break;
    }
    passes += kDrive_s * 1000.0;  // less the alignment: a lower bound of the loop's own rate
  }
  std::fclose(sink);
  if (cpu_s > 0.0) state.counters["passes_per_s"] = passes / cpu_s;
}
BENCHMARK(LivePollingLoop)->Unit(benchmark::kMillisecond);

}  // namespace
