// The drive's routine engine: launching routines by label, their user variables, the "STARTED"
// handshake, the record, and ending or aborting them.
//
// Launch copies the inputs into the routine's user variables, sets "STARTED" to 0 and every
// output to 1.2345e100 (the value of a variable that the routine has not delivered), arms the
// recorder, and hands the routine to the fast loop. The routine sets "STARTED" and switches the
// power stage on in the same period, so that a host polling between periods never sees "STARTED"
// set while the axis is still off before the routine has run; it delivers its outputs before it
// switches the axis off.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/comm.h"
#include "sim/drive_core.h"
#include "sim/recorder.h"
#include "sim/routine_task.h"
#include "sim/sim_config.h"

namespace sim {

constexpr double kNotDelivered = 1.2345e100;

class RoutineRun;
using RoutineFunction = RoutineTask (*)(RoutineRun&);

// A user variable that the routine takes before it starts: the values it accepts, and the value
// it works with when the launch does not give one (NaN: the launch must give it).
struct RoutineInput {
  const char* name;
  double low;
  double high;
  double fallback;
};

struct RoutineDefinition {
  const char* label;
  std::vector<RoutineInput> inputs;
  std::vector<const char*> outputs;          // user variables it delivers ("STARTED" first)
  std::vector<const char*> drive_variables;  // drive variables it leaves results in
  std::vector<const char*> logged;           // what a host records while it runs
  bool triggers_record;                      // starts the record itself when it measures
  RoutineFunction run;
  // A drive variable whose write by the host ends the routine, whatever the value (null: none).
  const char* ended_by_write = nullptr;
  // Outputs that hold a value from the launch on instead of 1.2345e100 (a verdict that a host
  // may read before "STARTED").
  std::vector<std::pair<const char*, double>> at_launch = {};
};

const RoutineDefinition* FindRoutine(std::string_view label);

class RoutineEngine;

// What a running routine sees: its inputs and outputs, the drive, the record.
class RoutineRun {
 public:
  RoutineRun(RoutineEngine& engine, DriveCore& core, const RoutineDefinition& routine,
             std::vector<double> inputs)
      : engine_(engine), core_(core), definition_(routine), inputs_(std::move(inputs)) {}

  DriveCore& drive() { return core_; }
  // An input by name (its fallback when the launch did not give it).
  double Input(std::string_view name) const;
  // A new value written by the host while the routine runs (ignored outside the input's range).
  void SetInput(std::string_view name, double value);
  void Deliver(std::string_view name, double value);
  // Sets "STARTED" without the power stage (a routine that needs none).
  void SetStarted();
  // Sets "STARTED" and switches the power stage on in `mode`, in the same period; false while a
  // fault blocks the power stage ("STARTED" then stays 0).
  bool StartAndSwitchOn(Mode mode);
  void StartRecord();
  bool recording() const;
  // Fast-loop periods that the requested record needs from its start (0 without one).
  int64_t RecordPeriods() const;
  // Fast-loop periods between two recorded points (1 without a record).
  int64_t RecordDecimation() const;
  // A duration in whole fast-loop periods (at least 1).
  int64_t Periods(double seconds) const;
  const RoutineDefinition& definition() const { return definition_; }

 private:
  RoutineEngine& engine_;
  DriveCore& core_;
  const RoutineDefinition& definition_;
  std::vector<double> inputs_;  // in the order of definition_.inputs
};

class RoutineEngine {
 public:
  RoutineEngine(DriveCore& core, const FaultParams& faults) : core_(core), faults_(faults) {}

  // "" when launched; else why not (nothing changed then, except that a running routine was
  // stopped).
  std::string Launch(std::string_view label, const axis::UserVariables& inputs,
                     const axis::LogRequest* log);
  // "" and the value, or why not.
  std::string ReadUserVariable(std::string_view label, std::string_view name, double& value) const;
  std::string WriteUserVariable(std::string_view label, std::string_view name, double value);
  // Ends the running routine and switches the power stage off.
  void Stop();
  // The host has written a drive variable: the command that ends a routine waiting for it.
  void HostWrote(std::string_view variable);
  // A routine is running (it needs every period computed).
  bool busy() const { return task_.Running(); }

  // The fast loop's hooks: after the samples (the routine's turn), after the controller (the
  // record), in this order within a period.
  void AfterSample();
  void AfterControl();

  bool HasRecord() const { return recorder_.has_record(); }
  std::vector<axis::LogPoint> RecordPoints() const { return recorder_.Points(); }

 private:
  friend class RoutineRun;
  using Variables = std::vector<std::pair<std::string, double>>;
  struct Routine {
    std::string label;
    Variables variables;
  };
  Routine* FindLaunched(std::string_view label);
  const Routine* FindLaunched(std::string_view label) const;
  static double* FindVariable(Variables& variables, std::string_view name);
  bool NeverStarts(std::string_view label) const;

  DriveCore& core_;
  FaultParams faults_;
  std::vector<Routine> launched_;  // every label launched so far, with its user variables
  Routine* current_ = nullptr;     // the routine last launched
  std::unique_ptr<RoutineRun> run_;
  RoutineTask task_;
  Recorder recorder_;
};

}  // namespace sim
