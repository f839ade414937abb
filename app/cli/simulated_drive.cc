#include "app/cli/simulated_drive.h"

#include "host/text.h"
#include "sim/setup_config.h"
#include "sim/sim_config.h"
#include "sim/simulated_drive.h"

namespace axis::cli {

std::unique_ptr<CMC_Comm> MakeSimulatedDrive(const CMC_Setup& setup, const Clock& clock,
                                             const std::vector<std::string>& overrides,
                                             std::string& error) {
  sim::Config config;
  error = sim::ConfigFromSetup(setup, config);
  if (!error.empty()) {
    error = "the simulated drive: " + error;
    return nullptr;
  }
  for (const std::string& assignment : overrides) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = "--sim takes KEY=VALUE, not " + Quoted(assignment);
      return nullptr;
    }
    error = sim::ApplySimulationKey(config, std::string_view(assignment).substr(0, eq),
                                    std::string_view(assignment).substr(eq + 1));
    if (!error.empty()) {
      error = "--sim " + assignment + ": " + error;
      return nullptr;
    }
  }
  error = sim::CheckConfig(config);
  if (!error.empty()) {
    error = "the simulated drive: " + error;
    return nullptr;
  }
  return sim::SimulatedDrive::Create(config, clock, error);
}

}  // namespace axis::cli
