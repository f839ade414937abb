// The simulated drive: drive firmware and a real linear motor behind the drive-link interface.
//
// It stands in for a drive when none is attached. It is the drive, not a helper of the plug-in:
// it executes the registers it is sent as the firmware would (see drive_core.h), so that a mistake
// in the plug-in's encoding shows as a wrong response. It keeps its own state and never holds the
// user's setup, so it could run on a thread of its own.
//
// Time: the drive follows the clock it is given. Every call first catches the physics up from the
// drive's own time to the clock's present time, in whole fast-loop periods; the drive is behind
// the clock by less than one period. With a virtual clock (tests, the command line) runs repeat
// exactly; with the wall clock (the desktop) the drive runs in real time. While nothing is driven
// and nothing moves, periods are skipped without being computed.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/clock.h"
#include "host/comm.h"
#include "sim/drive_core.h"
#include "sim/routine_engine.h"
#include "sim/scope.h"
#include "sim/sim_config.h"

namespace sim {

class SimulatedDrive final : public CMC_Comm {
 public:
  // The drive, or null with `error` saying why (a bad config or register).
  static std::unique_ptr<SimulatedDrive> Create(const Config& config, const axis::Clock& clock,
                                                std::string& error);
  SimulatedDrive(const SimulatedDrive&) = delete;
  SimulatedDrive& operator=(const SimulatedDrive&) = delete;
  ~SimulatedDrive() override;

  bool ReadVariable(std::string_view name, double& internal) override;
  bool WriteVariable(std::string_view name, double internal) override;
  bool ReadRegister(std::string_view name, double& internal) override;
  bool WriteRegister(std::string_view name, double internal) override;
  bool ExecuteString(std::string_view command) override;
  bool Launch(std::string_view label, const axis::UserVariables& inputs,
              const axis::LogRequest* log) override;
  bool ReadUserVariable(std::string_view label, std::string_view name, double& value) override;
  bool WriteUserVariable(std::string_view label, std::string_view name, double value) override;
  bool GetAxisOn(bool& on) override;
  bool AxisOff() override;
  bool UploadLog(std::vector<axis::LogPoint>& points) override;
  std::string GetLastErrorText() const override { return last_error_; }
  bool StartScope(const axis::ScopeRequest& request) override;
  bool StopScope() override;

  // Catches up with the clock (every call above does it first).
  void CatchUp();
  // The drive's time (s) and its state, for tests and benchmarks.
  double time_s() const;
  const DriveCore& core() const { return *core_; }
  // The carriage held by hand at `m` from the start position while the power stage is off (NaN
  // lets it go); it replaces the "hand" list.
  void SetHandPosition(double m);
  // The analogue reference input turned by hand: a share 0..1 of its range (NaN: the "ad5" key).
  void SetAnalogueInput(double share);

 protected:
  void TakeUnsolicited(std::vector<axis::UnsolicitedMessage>& messages) override;

 private:
  SimulatedDrive(std::unique_ptr<DriveCore> core, const Config& config, const axis::Clock& clock);
  // Catches up; false (with the error text) when the link has failed.
  bool Begin();
  bool Fail(std::string text);
  void Step();

  std::unique_ptr<DriveCore> core_;
  RoutineEngine engine_;
  Scope scope_;
  bool has_scope_;
  const axis::Clock& clock_;
  int64_t start_ns_ = 0;
  double link_fail_after_s_;
  std::string last_error_;
};

}  // namespace sim
