// Speed of the plug-in's whole-setup work on the demo drive, through the real plug-in library.
//
//   ComputeAllOptions            completing a setup read from a drive
//   RoundTrip                    encoding pass + derive pass (what every dialog runs)
//   LookupFloor                  one case-insensitive lookup of every name the round trip touches:
//                                the floor the round trip is measured against; its counters give
//                                the number of names and of lookups one round trip makes in all
//                                (AXIS_BENCH_LOOKUPS=1 lists them per name on stderr)
//   GetScaleFactor/*             one unit question
//   LoadSave                     reading and atomically writing demo-linear.json
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/plugin_loader.h"
#include "host/plugin_services.h"
#include "host/setup.h"
#include "host/setup_file.h"

namespace {

const std::string kDemo = std::string(AXIS_SETUPS_DIR) + "/demo-linear.json";

axis::Plugin& ThePlugin() {
  static std::unique_ptr<axis::Plugin> plugin = [] {
    std::string error;
    auto loaded = axis::Plugin::Load(axis::DefaultPluginPath(), error);
    if (!loaded) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(2);
    }
    axis::SetDefaultScaleProvider(loaded->Scales());
    return loaded;
  }();
  return *plugin;
}

std::unique_ptr<CMC_Setup> LoadDemo() {
  ThePlugin();
  axis::LoadResult result = axis::LoadSetupFile(kDemo);
  if (!result.setup) {
    std::fprintf(stderr, "%s\n", result.error.c_str());
    std::exit(2);
  }
  return std::move(result.setup);
}

void RoundTrip(CMC_Setup& setup) {
  static const axis::SetupService encode = axis::FindSetupService("encode-pass");
  static const axis::SetupService derive = axis::FindSetupService("derive-pass");
  encode(&setup);
  derive(&setup);
}

void BM_ComputeAllOptions(benchmark::State& state) {
  auto setup = LoadDemo();
  const auto compute = ThePlugin().Exports().ComputeAllOptions;
  for (auto _ : state) compute(setup.get());
}
BENCHMARK(BM_ComputeAllOptions);

void BM_RoundTrip(benchmark::State& state) {
  auto setup = LoadDemo();
  for (auto _ : state) RoundTrip(*setup);
}
BENCHMARK(BM_RoundTrip);

std::set<std::string>* g_touched = nullptr;
std::map<std::string, int>* g_counts = nullptr;
void RecordName(std::string_view name) {
  g_touched->insert(std::string(name));
  if (g_counts != nullptr) ++(*g_counts)[std::string(name)];
}

// The distinct names that one round trip looks up, in the spelling the plug-in uses.
std::vector<std::string> NamesTouchedByRoundTrip(CMC_Setup& setup,
                                                 std::map<std::string, int>* counts = nullptr) {
  std::set<std::string> touched;
  g_touched = &touched;
  g_counts = counts;
  axis::SetLookupObserver(&RecordName);
  RoundTrip(setup);
  axis::SetLookupObserver(nullptr);
  g_touched = nullptr;
  g_counts = nullptr;
  return {touched.begin(), touched.end()};
}

void BM_LookupFloor(benchmark::State& state) {
  auto setup = LoadDemo();
  std::map<std::string, int> counts;
  const std::vector<std::string> names = NamesTouchedByRoundTrip(*setup, &counts);
  int lookups = 0;
  for (const auto& [name, count] : counts) lookups += count;
  if (std::getenv("AXIS_BENCH_LOOKUPS") != nullptr) {
    for (const auto& [name, count] : counts) std::fprintf(stderr, "%5d %s\n", count, name.c_str());
  }
  for (auto _ : state) {
    // The lookup exactly as the plug-in's calculators make it: by C string, reporting when absent.
    for (const std::string& name : names)
      benchmark::DoNotOptimize(setup->FindParameter(name.c_str()));
  }
  state.counters["names"] = static_cast<double>(names.size());
  // How many lookups one round trip makes in all, for the ratio of round trip to floor.
  state.counters["round_trip_lookups"] = lookups;
}
BENCHMARK(BM_LookupFloor);

void BM_GetScaleFactor(benchmark::State& state, const char* unit, const char* name) {
  auto setup = LoadDemo();
  const auto factor = ThePlugin().Exports().GetScaleFactor;
  for (auto _ : state) benchmark::DoNotOptimize(factor(setup.get(), unit, name));
}
BENCHMARK_CAPTURE(BM_GetScaleFactor, position, "m", "APOS");
BENCHMARK_CAPTURE(BM_GetScaleFactor, temperature,
                  "\xB0"
                  "C",
                  "TEMPS");

void BM_LoadSave(benchmark::State& state) {
  ThePlugin();
  const std::string out = "/tmp/axis_bench_demo.json";
  for (auto _ : state) {
    axis::LoadResult result = axis::LoadSetupFile(kDemo);
    benchmark::DoNotOptimize(axis::SaveSetupFile(*result.setup, out));
  }
  std::remove(out.c_str());
}
BENCHMARK(BM_LoadSave)->Unit(benchmark::kMicrosecond);

// The two halves, to see where the time goes.
void BM_Load(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(axis::LoadSetupFile(kDemo));
}
BENCHMARK(BM_Load)->Unit(benchmark::kMicrosecond);

void BM_SaveText(benchmark::State& state) {
  auto setup = LoadDemo();
  for (auto _ : state) benchmark::DoNotOptimize(axis::SetupToText(*setup));
}
BENCHMARK(BM_SaveText)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
