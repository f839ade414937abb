// How loading and saving grow with the size of a setup file: one document per kind of list, with
// 1 000, 10 000 and 100 000 entries of it. Ten times the entries should take about ten times the
// time (the BigO row of each family fits the times to N; its RMS row says how well).
//
//   LoadGrowth/<kind>/N    LoadSetupText of the document
//   SaveGrowth/<kind>/N    SetupToText of the setup it loads into
//   SetOptions/N           N options set one by one on an empty setup
//
// Kinds: options, ioPorts, sections (top-level members the program keeps without reading them),
// parameters, variables.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/setup.h"
#include "host/setup_file.h"

namespace {

enum class Kind { kOptions, kIoPorts, kSections, kParameters, kVariables };

// One entry of the list, and where the list opens and closes.
struct ListForm {
  const char* open;
  const char* close;
  std::string (*entry)(const std::string& n);
};

ListForm FormOf(Kind kind) {
  switch (kind) {
    case Kind::kOptions:
      return {"\"options\": {", "}, ",
              [](const std::string& n) { return "\"Option" + n + "\": \"1\""; }};
    case Kind::kIoPorts:
      return {"\"ioPorts\": [", "], ",
              [](const std::string& n) { return "{\"port\": " + n + ", \"pin\": " + n + "}"; }};
    case Kind::kSections:
      return {"", ", ",
              [](const std::string& n) { return "\"section" + n + "\": {\"v\": " + n + "}"; }};
    case Kind::kVariables:
      return {"\"variables\": [", "], ", [](const std::string& n) {
                return "{\"name\": \"V" + n +
                       "\", \"unit\": \"m\", \"display\": \"mm\", \"value\": " + n + "}";
              }};
    case Kind::kParameters:
      break;
  }
  return {"\"parameters\": [", "], ", [](const std::string& n) {
            return "{\"name\": \"P" + n + "\", \"value\": " + n +
                   ".5, \"min\": 0, \"max\": 1e9, \"unit\": \"m\", \"display\": \"mm\"}";
          }};
}

std::string Document(Kind kind, int count) {
  std::string text = R"({"format": "axiscore-setup", "version": 1, "identity": {"description": )"
                     R"("d", "productId": "P", "firmwareId": "F", "adcFullScale": 65520}, )";
  const ListForm form = FormOf(kind);
  text += form.open;
  for (int i = 0; i < count; ++i) {
    if (i != 0) text += ",\n";
    text += form.entry(std::to_string(i));
  }
  text += form.close;
  if (kind != Kind::kParameters) text += "\"parameters\": [], ";
  text += "\"notes\": \"\"}";
  return text;
}

std::unique_ptr<CMC_Setup> Load(const std::string& text) {
  axis::LoadResult loaded = axis::LoadSetupText(text, "growth");
  if (!loaded) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    std::exit(2);
  }
  return std::move(loaded.setup);
}

void BM_LoadGrowth(benchmark::State& state, Kind kind) {
  const std::string text = Document(kind, static_cast<int>(state.range(0)));
  Load(text);  // fails loudly instead of timing an error
  for (auto _ : state) benchmark::DoNotOptimize(axis::LoadSetupText(text, "growth"));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_SaveGrowth(benchmark::State& state, Kind kind) {
  const auto setup = Load(Document(kind, static_cast<int>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(axis::SetupToText(*setup));
  state.SetComplexityN(state.range(0));
}

void BM_SetOptions(benchmark::State& state) {
  std::vector<std::string> names;
  for (int64_t i = 0; i < state.range(0); ++i) names.push_back("Option" + std::to_string(i));
  for (auto _ : state) {
    CMC_Setup setup;
    for (const std::string& name : names) setup.SetOption(name, "1");
    benchmark::DoNotOptimize(setup.GetOptions().data());
  }
  state.SetComplexityN(state.range(0));
}

#define AXIS_GROWTH(function, kind, name) \
  BENCHMARK_CAPTURE(function, name, kind) \
      ->RangeMultiplier(10)               \
      ->Range(1000, 100000)               \
      ->Unit(benchmark::kMillisecond)     \
      ->Complexity(benchmark::oN)

AXIS_GROWTH(BM_LoadGrowth, Kind::kOptions, options);
AXIS_GROWTH(BM_LoadGrowth, Kind::kIoPorts, ioPorts);
AXIS_GROWTH(BM_LoadGrowth, Kind::kSections, sections);
AXIS_GROWTH(BM_LoadGrowth, Kind::kParameters, parameters);
AXIS_GROWTH(BM_LoadGrowth, Kind::kVariables, variables);
AXIS_GROWTH(BM_SaveGrowth, Kind::kOptions, options);
AXIS_GROWTH(BM_SaveGrowth, Kind::kIoPorts, ioPorts);
AXIS_GROWTH(BM_SaveGrowth, Kind::kSections, sections);
AXIS_GROWTH(BM_SaveGrowth, Kind::kParameters, parameters);
AXIS_GROWTH(BM_SaveGrowth, Kind::kVariables, variables);
BENCHMARK(BM_SetOptions)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
