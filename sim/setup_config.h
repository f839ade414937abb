// Building the simulated drive's configuration from a loaded setup.
//
// The drive copies from the setup only what a real drive knows about itself: its hardware
// constants ("DSP_freq", "ImaxPS", "VdcMaxMeasurable", the ADC full scale), the values of its
// register parameters, and which drive variables it has. The true motor comes from the setup
// file's "simulation" section. Nothing of the setup is kept: the drive never holds the setup.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/clock.h"
#include "sim/sim_config.h"
#include "sim/simulated_drive.h"

class CMC_Setup;

namespace sim {

// Fills `config` from the setup (starting from DefaultConfig's motor); "" on success, else a
// message saying what the setup lacks or what is wrong in its "simulation" section.
std::string ConfigFromSetup(const CMC_Setup& setup, Config& config);

// The drive for a setup, with `overrides` ("KEY=VALUE", as `--sim` gives them) applied in order,
// following `clock`. Null with `error` set when the setup or an override cannot make a drive.
std::unique_ptr<SimulatedDrive> DriveForSetup(const CMC_Setup& setup, const axis::Clock& clock,
                                              const std::vector<std::string>& overrides,
                                              std::string& error);

}  // namespace sim
