// Any value in any parameter of any bundled setup -- zero, negative, NaN, an infinity, the largest
// double -- goes through everything the plug-in offers without a crash, a trap or undefined
// behaviour (the sanitizer build runs this too): ComputeAllOptions, both passes, the tuning
// formulas, and every row of GetScaleFactor and GetScaleOffset, in both voltage-scale modes.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_loader.h"
#include "host/plugin_services.h"
#include "host/setup_file.h"

namespace {

struct Snapshot {
  std::vector<double> value, min, max;
};

Snapshot Take(const CMC_Setup& setup) {
  Snapshot s;
  const CMC_Parameters& all = setup.GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i) {
    s.value.push_back(all[i]->GetValueInBaseUnit());
    s.min.push_back(all[i]->GetMinInBaseUnit());
    s.max.push_back(all[i]->GetMaxInBaseUnit());
  }
  return s;
}

void Restore(CMC_Setup& setup, const Snapshot& s) {
  const CMC_Parameters& all = setup.GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i) {
    all[i]->SetValueInBaseUnit(s.value[static_cast<size_t>(i)]);
    all[i]->SetMinInBaseUnit(s.min[static_cast<size_t>(i)]);
    all[i]->SetMaxInBaseUnit(s.max[static_cast<size_t>(i)]);
  }
}

// Every unit GetScaleFactor knows, with the names that have rows of their own, and one that has
// none; and units it does not know.
const struct {
  const char* unit;
  std::vector<const char*> names;
} kQuestions[] = {
    {"V ", {"VDC"}},
    {"V", {"AnalogueInputsRange", "DeadBand_Point", "AD5", "UREF"}},
    {"A", {"IQ"}},
    {"s", {"Ts_C", "Ts_S"}},
    {"rad", {"THTST", "ERR_position", "APOS"}},
    {"m", {"Motor_Position", "APOS_MT", "POS_max", "APOS"}},
    {"rad/s", {"TINCTST", "Limit_Speed", "ASPD_LD"}},
    {"m/s", {"ASPD", "SPD_min", "Load_Speed"}},
    {"m/s^2", {"CACC"}},
    {"rad/s^2", {"CACC"}},
    {"m/s^3", {"JERK"}},
    {"rad/s^3", {"JERK"}},
    {"\xB0"
     "C",
     {"TEMPS"}},
    {"V/s", {"UREF"}},
    {"A/s", {"IQREF"}},
    {"Hz", {"PWM_freq"}},
    {"", {"CADIN"}},
};

TEST(DegenerateValues, EveryParameterOfEveryBundledSetupRunsEverything) {
  std::string error;
  auto plugin = axis::Plugin::Load(std::string(AXIS_BIN_DIR) + "/libkestrel.so", error);
  ASSERT_NE(plugin, nullptr) << error;
  axis::SetDefaultScaleProvider(plugin->Scales());
  const axis::PluginExports& exports = plugin->Exports();
  std::vector<axis::SetupService> services;
  for (const char* name :
       {"encode-pass", "derive-pass", "tune-current", "tune-speed", "tune-position"}) {
    services.push_back(axis::FindSetupService(name));
    ASSERT_NE(services.back(), nullptr) << name;
  }
  const double kValues[] = {0.0,
                            -1.0,
                            std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::max()};
  axis::SetErrorReporter(nullptr);  // whatever is missing or odd, nobody is asked
  int cases = 0;
  for (const char* file : {"demo-linear.json", "demo-rotary.json", "demo-rotary-reversed.json",
                           "minimal-linear.json"}) {
    SCOPED_TRACE(file);
    axis::LoadResult loaded = axis::LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/" + file);
    ASSERT_TRUE(loaded.setup) << loaded.error;
    CMC_Setup& setup = *loaded.setup;
    const Snapshot pristine = Take(setup);
    const int count = setup.GetParameters().GetParametersCount();
    for (int i = 0; i < count; ++i) {
      for (double value : kValues) {
        setup.GetParameters()[i]->SetValueInBaseUnit(value);
        exports.ComputeAllOptions(&setup);
        for (axis::SetupService service : services) service(&setup);
        for (int sinusoidal = 0; sinusoidal < 2; ++sinusoidal) {
          *exports.g_bKufSinusoidalMode = sinusoidal;
          for (const auto& question : kQuestions) {
            for (const char* name : question.names) {
              (void)exports.GetScaleFactor(&setup, question.unit, name);
            }
            (void)exports.GetScaleOffset(&setup, question.unit);
          }
        }
        *exports.g_bKufSinusoidalMode = 0;
        Restore(setup, pristine);
        ++cases;
      }
    }
    EXPECT_EQ(g_bShowErrors, 1) << "every presence probe restores error reports";
  }
  EXPECT_GT(cases, 4 * 200 * 6) << "every parameter of every bundled setup";
  axis::SetDefaultScaleProvider({});
}

}  // namespace
