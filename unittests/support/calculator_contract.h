// The calculator contract checked on a whole setup for any calculator: the names it looks up are
// learnt by running it on the bundled demo drive (which has every name), so no test keeps a
// hand-written copy of them that could drift from the code.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
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

// The names `calculator` looks up on `setup`, found or not.
inline std::set<std::string> LookedUp(kestrel::Calculator calculator, CMC_Setup& setup) {
  static std::set<std::string>* seen = nullptr;
  std::set<std::string> names;
  seen = &names;
  SetLookupObserver([](std::string_view name) { seen->emplace(name); });
  calculator(setup);
  SetLookupObserver(nullptr);
  return names;
}

// On the demo drive the calculator does its work (1) and reports nothing. Without any one name it
// looks up (or without the analogue input "CADIN"): 0 goes with nothing changed; a report names
// that name alone and goes with 0; error reports are on again afterwards. At least one name is
// needed. Names in `unchecked` may be reported while the calculator still goes on.
inline void ExpectContract(kestrel::Calculator calculator, const std::string& label,
                           const std::set<std::string>& unchecked = {}) {
  SCOPED_TRACE(label);
  Reports reports;
  std::set<std::string> names = LookedUp(calculator, *Demo());
  EXPECT_TRUE(reports.messages.empty()) << reports.messages.front();
  EXPECT_EQ(calculator(*Demo()), 1);
  names.insert("variable CADIN");
  int refused = 0;
  for (const std::string& missing : names) {
    auto setup = Demo(missing);
    ASSERT_TRUE(setup) << missing;
    const std::string before = SetupToText(*setup);
    reports.messages.clear();
    const int result = calculator(*setup);
    refused += result == 0;
    EXPECT_TRUE(result == 1 || (result == 0 && SetupToText(*setup) == before)) << missing;
    EXPECT_TRUE(reports.messages.empty() || result == 0 || unchecked.contains(missing)) << missing;
    for (const std::string& r : reports.messages)
      EXPECT_EQ(r, "Parameter \"" + missing + "\" not found");
    EXPECT_EQ(g_bShowErrors, 1) << missing;
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
