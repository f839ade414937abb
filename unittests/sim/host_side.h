// Driving the simulated drive as a host does: through CMC_Comm only, on a virtual clock, polling
// "STARTED" and the power stage every 20 ms, and applying the host's own formulas to what the
// routines leave behind.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "host/clock.h"
#include "sim/simulated_drive.h"

namespace sim::testing {

class HostSide {
 public:
  explicit HostSide(const Config& config) {
    std::string error;
    drive_ = SimulatedDrive::Create(config, clock_, error);
    EXPECT_NE(drive_, nullptr) << error;
  }

  SimulatedDrive& drive() { return *drive_; }
  axis::VirtualClock& clock() { return clock_; }
  void Wait(double seconds) { clock_.Advance(static_cast<int64_t>(seconds * 1e9)); }

  // Launches and polls every 20 ms until the routine has started and switched the axis off
  // again; false when it did not within `timeout_s` or a call failed.
  bool Run(const std::string& label, const axis::UserVariables& inputs,
           const axis::LogRequest* log = nullptr, double timeout_s = 20.0) {
    if (!drive_->Launch(label, inputs, log)) {
      ADD_FAILURE() << label << ": " << drive_->GetLastErrorText();
      return false;
    }
    for (double t = 0.0; t < timeout_s; t += 0.02) {
      Wait(0.02);
      double started = 0.0;
      if (!drive_->ReadUserVariable(label, "STARTED", started)) return false;
      if (started == 0.0) continue;
      bool on = true;
      if (!drive_->GetAxisOn(on)) return false;
      if (!on) return true;
    }
    return false;
  }

  double Variable(const std::string& name) {
    double value = NAN;
    EXPECT_TRUE(drive_->ReadVariable(name, value)) << name << ": " << drive_->GetLastErrorText();
    return value;
  }
  double User(const std::string& label, const std::string& name) {
    double value = NAN;
    EXPECT_TRUE(drive_->ReadUserVariable(label, name, value)) << drive_->GetLastErrorText();
    return value;
  }
  std::vector<axis::LogPoint> Record() {
    std::vector<axis::LogPoint> points;
    EXPECT_TRUE(drive_->UploadLog(points)) << drive_->GetLastErrorText();
    return points;
  }

 private:
  axis::VirtualClock clock_;
  std::unique_ptr<SimulatedDrive> drive_;
};

inline axis::LogRequest Record(std::vector<std::string> variables, int points,
                               axis::LogRequest::Rate rate) {
  axis::LogRequest r;
  r.variables = std::move(variables);
  r.points = points;
  r.rate = rate;
  return r;
}

}  // namespace sim::testing
