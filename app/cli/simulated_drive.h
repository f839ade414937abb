// The simulated drive the command line attaches when no drive is named: built from the setup
// (its drive's hardware, its registers and its "simulation" section), with `--sim KEY=VALUE`
// overrides, following the clock given.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/comm.h"

class CMC_Setup;

namespace axis::cli {

// Null with `error` set when the setup or an override cannot make a drive.
std::unique_ptr<CMC_Comm> MakeSimulatedDrive(const CMC_Setup& setup, const Clock& clock,
                                             const std::vector<std::string>& overrides,
                                             std::string& error);

}  // namespace axis::cli
