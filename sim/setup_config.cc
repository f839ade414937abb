#include "sim/setup_config.h"

#include "host/number_text.h"
#include "host/setup.h"
#include "host/text.h"

namespace sim {

namespace {

// A hardware constant the drive must know: a parameter of the setup, in its base unit.
std::string ReadConstant(const CMC_Setup& setup, const char* name, double& value) {
  const CMC_Parameter* p = setup.FindParameter(name);
  if (p == nullptr) return "the setup has no parameter " + axis::Quoted(name) + " for the drive";
  value = p->GetValueInBaseUnit();
  return "";
}

}  // namespace

std::string ConfigFromSetup(const CMC_Setup& setup, Config& config) {
  Config c = DefaultConfig();
  std::string error;
  if (!(error = ReadConstant(setup, "DSP_freq", c.drive.dsp_frequency_Hz)).empty()) return error;
  if (!(error = ReadConstant(setup, "ImaxPS", c.drive.current_range_A)).empty()) return error;
  if (!(error = ReadConstant(setup, "VdcMaxMeasurable", c.drive.vdc_max_measurable_V)).empty())
    return error;
  c.drive.adc_full_scale = static_cast<double>(setup.GetAdcFullScale());

  c.registers.clear();
  const CMC_Parameters& parameters = setup.GetParameters();
  for (int i = 0; i < parameters.GetParametersCount(); ++i) {
    const CMC_Parameter& p = *parameters[i];
    if (p.GetType() != axis::kTypeRegister && p.GetType() != axis::kTypeRegisterWord) continue;
    c.registers.emplace_back(p.GetName(), p.GetValueInInternalUnit());
  }
  c.variables.clear();
  for (const auto& variable : setup.GetVariables()) c.variables.push_back(variable->GetName());

  for (const auto& [name, text] : setup.ExtraSections()) {
    if (name != "simulation") continue;
    error = ApplySimulationSection(c, text);
    if (!error.empty()) return "the setup's \"simulation\" section: " + error;
  }
  error = CheckConfig(c);
  if (!error.empty()) return error;
  config = std::move(c);
  return "";
}

std::unique_ptr<SimulatedDrive> DriveForSetup(const CMC_Setup& setup, const axis::Clock& clock,
                                              const std::vector<std::string>& overrides,
                                              std::string& error) {
  Config config;
  error = ConfigFromSetup(setup, config);
  if (!error.empty()) {
    error = "the simulated drive: " + error;
    return nullptr;
  }
  for (const std::string& assignment : overrides) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = "--sim takes KEY=VALUE, not " + axis::Quoted(assignment);
      return nullptr;
    }
    error = ApplySimulationKey(config, std::string_view(assignment).substr(0, eq),
                               std::string_view(assignment).substr(eq + 1));
    if (!error.empty()) {
      error = "--sim " + assignment + ": " + error;
      return nullptr;
    }
  }
  error = CheckConfig(config);
  if (!error.empty()) {
    error = "the simulated drive: " + error;
    return nullptr;
  }
  return SimulatedDrive::Create(config, clock, error);
}

}  // namespace sim
