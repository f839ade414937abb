// The calculator contract checked on a whole setup for any calculator: the names it looks up are
// learnt by running it on the bundled demo drive (which has every name), so no test keeps a
// hand-written copy of them that could drift from the code.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "conversions/calculator.h"
#include "conversions/motion_units.h"
#include "host/setup_file.h"
#include "support/test_setup.h"

namespace axis::testing {

// A bundled setup; with `name`, that parameter (after "variable ": that variable) left out.
inline std::unique_ptr<CMC_Setup> Bundled(const std::string& file, const std::string& name = "") {
  std::ifstream in(std::string(AXIS_SETUPS_DIR) + "/" + file);
  std::string json = (std::stringstream() << in.rdbuf()).str();
  if (!name.empty()) {  // names ignore case; the last item of a list takes the comma before it
    const bool variable = name.starts_with("variable ");
    std::string lower = json, line = "{\"name\": \"" + name.substr(variable ? 9 : 0) + "\", \"";
    line += variable ? "unit" : "value";
    for (std::string* s : {&lower, &line})
      for (char& c : *s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.find(line), end = json.find('\n', at);
    EXPECT_NE(at, std::string::npos) << name;
    if (at == std::string::npos) return nullptr;
    const size_t start = json.rfind('\n', at) - (json[end - 1] == ',' ? 0 : 1);
    json.erase(start, end - start);
  }
  LoadResult loaded = LoadSetupText(json, file);
  EXPECT_TRUE(loaded.setup) << loaded.error;
  if (loaded.setup) loaded.setup->SetScaleProvider({&kestrel::ScaleFactor, &kestrel::ScaleOffset});
  return std::move(loaded.setup);
}
// The demo drive, which has every name the calculators look up.
inline std::unique_ptr<CMC_Setup> Demo(const std::string& name = "") {
  return Bundled("demo-linear.json", name);
}

// The names `calculator` looks up on `setup`, found or not; `result` receives what it returned.
inline std::set<std::string> LookedUp(kestrel::Calculator calculator, CMC_Setup& setup,
                                      int* result = nullptr) {
  static std::set<std::string>* seen = nullptr;
  std::set<std::string> names;
  seen = &names;
  SetLookupObserver([](std::string_view name) { seen->emplace(name); });
  const int done = calculator(setup);
  SetLookupObserver(nullptr);
  if (result != nullptr) *result = done;
  return names;
}

// The demo drive without `name` and its text, kept between calculators (loading is the slow
// part); `fresh` reloads it.
inline std::pair<CMC_Setup*, const std::string*> DemoWithout(const std::string& name, bool fresh) {
  static std::map<std::string, std::pair<std::unique_ptr<CMC_Setup>, std::string>> cache;
  auto& [setup, text] = cache[name];
  if (fresh || !setup) setup = Demo(name), text = setup ? SetupToText(*setup) : "";
  return {setup.get(), &text};
}

// On the demo drive the calculator does its work (1) and reports nothing. Without any one name it
// looks up (or without the analogue input "CADIN"): 0 goes with nothing changed; a report names
// that name alone and goes with 0; error reports are on again afterwards. At least one name is
// needed.
inline void ExpectContract(kestrel::Calculator calculator, const std::string& label) {
  SCOPED_TRACE(label);
  Reports reports;
  int done = 0;
  std::set<std::string> names = LookedUp(calculator, *Demo(), &done);
  EXPECT_EQ(done, 1);
  EXPECT_TRUE(reports.messages.empty()) << reports.messages.front();
  names.insert("variable CADIN");
  int refused = 0;
  for (const std::string& missing : names) {
    const auto [setup, before] = DemoWithout(missing, false);
    ASSERT_NE(setup, nullptr) << missing;
    reports.messages.clear();
    const int result = calculator(*setup);
    const bool changed = SetupToText(*setup) != *before;
    refused += result == 0;
    EXPECT_TRUE(result == 1 || (result == 0 && !changed)) << missing;
    EXPECT_TRUE(reports.messages.empty() || result == 0) << missing;
    for (const std::string& r : reports.messages)
      EXPECT_EQ(r, "Parameter \"" + missing + "\" not found");
    EXPECT_EQ(g_bShowErrors, 1) << missing;
    if (changed) DemoWithout(missing, true);
  }
  EXPECT_GT(refused, 0) << "needs none of the names it looks up";
}

// Every parameter of the demo drive at once 0, -1, NaN, +-inf or the largest double (and the ADC
// full scale 0 with 0): every calculator still returns 0 or 1, and the sanitizer build sees no
// undefined behaviour.
inline void ExpectDegenerateInputsAreHarmless(const std::vector<kestrel::Calculator>& calculators) {
  for (double poison : {0.0, -1.0, std::nan(""), HUGE_VAL, -HUGE_VAL, 1e308}) {
    auto setup = Demo();
    const CMC_Parameters& all = setup->GetParameters();
    for (int i = 0; i < all.GetParametersCount(); ++i) all[i]->SetValueInBaseUnit(poison);
    if (poison == 0) setup->SetAdcFullScale(0);
    for (int pass = 0; pass < 2; ++pass)
      for (kestrel::Calculator c : calculators) EXPECT_LE(unsigned(c(*setup)), 1u) << poison;
  }
}

}  // namespace axis::testing
