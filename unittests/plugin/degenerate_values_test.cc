// Any value in any parameter of any bundled setup -- zero, negative, NaN, an infinity, the largest
// double -- goes through everything the plug-in offers without a crash, a trap or undefined
// behaviour (the sanitizer build runs this too): ComputeAllOptions, both passes, the tuning
// formulas, and every row of GetScaleFactor and GetScaleOffset, in both voltage-scale modes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_loader.h"
#include "host/plugin_services.h"
#include "host/setup_file.h"

namespace {

// Every value and range of a setup, to put back after each case.
struct Snapshot {
  explicit Snapshot(const CMC_Setup& setup) : all(setup.GetParameters()) {
    for (int i = 0; i < all.GetParametersCount(); ++i) {
      const CMC_Parameter* p = all[i];
      kept.push_back({p->GetValueInBaseUnit(), p->GetMinInBaseUnit(), p->GetMaxInBaseUnit()});
    }
  }
  void Restore() const {
    for (int i = 0; i < all.GetParametersCount(); ++i) {
      const auto& [value, min, max] = kept[static_cast<size_t>(i)];
      all[i]->SetValueInBaseUnit(value);
      all[i]->SetMinInBaseUnit(min);
      all[i]->SetMaxInBaseUnit(max);
    }
  }
  const CMC_Parameters& all;
  std::vector<std::array<double, 3>> kept;
};

// Every unit GetScaleFactor knows, with the names that have rows of their own, and one that has
// none; and units it does not know.
// clang-format off
const struct { const char* unit; std::vector<const char*> names; } kQuestions[] = {
    {"V ", {"VDC"}}, {"V", {"AnalogueInputsRange", "DeadBand_Point", "AD5", "UREF"}}, {"A", {"IQ"}},
    {"s", {"Ts_C", "Ts_S"}}, {"rad", {"THTST", "ERR_position", "APOS"}},
    {"m", {"Motor_Position", "APOS_MT", "POS_max", "APOS"}},
    {"rad/s", {"TINCTST", "Limit_Speed", "ASPD_LD"}}, {"m/s", {"ASPD", "SPD_min", "Load_Speed"}},
    {"m/s^2", {"CACC"}}, {"rad/s^2", {"CACC"}}, {"m/s^3", {"JERK"}}, {"rad/s^3", {"JERK"}},
    {"\xB0" "C", {"TEMPS"}}, {"V/s", {"UREF"}}, {"A/s", {"IQREF"}}, {"Hz", {"PWM_freq"}},
    {"", {"CADIN"}}};
const double kValues[] = {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), HUGE_VAL, -HUGE_VAL,
                          std::numeric_limits<double>::max()};
// clang-format on

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
  axis::SetErrorReporter(nullptr);  // whatever is missing or odd, nobody is asked
  int cases = 0;
  for (const char* file : {"demo-linear.json", "demo-rotary.json", "demo-rotary-reversed.json",
                           "minimal-linear.json"}) {
    SCOPED_TRACE(file);
    axis::LoadResult loaded = axis::LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/" + file);
    ASSERT_TRUE(loaded.setup) << loaded.error;
    CMC_Setup& setup = *loaded.setup;
    const Snapshot pristine(setup);
    const int count = setup.GetParameters().GetParametersCount();
    for (int i = 0; i < count; ++i) {
      for (double value : kValues) {
        setup.GetParameters()[i]->SetValueInBaseUnit(value);
        exports.ComputeAllOptions(&setup);
        for (axis::SetupService service : services) service(&setup);
        for (int sinusoidal = 0; sinusoidal < 2; ++sinusoidal) {
          *exports.g_bKufSinusoidalMode = sinusoidal;
          for (const auto& [unit, names] : kQuestions) {
            for (const char* name : names) (void)exports.GetScaleFactor(&setup, unit, name);
            (void)exports.GetScaleOffset(&setup, unit);
          }
        }
        *exports.g_bKufSinusoidalMode = 0;
        pristine.Restore();
        ++cases;
      }
    }
    EXPECT_EQ(g_bShowErrors, 1) << "every presence probe restores error reports";
  }
  EXPECT_GT(cases, 4 * 200 * 6) << "every parameter of every bundled setup";
  axis::SetDefaultScaleProvider({});
}

}  // namespace
