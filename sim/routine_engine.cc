#include "sim/routine_engine.h"

#include <algorithm>
#include <cmath>

#include "host/number_text.h"
#include "host/text.h"
#include "sim/routines.h"

namespace sim {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (axis::FoldCase(a[i]) != axis::FoldCase(b[i])) return false;
  }
  return true;
}

constexpr int kMaxRecordPoints = 1'000'000;
constexpr double kMaxRecordValues = 16'000'000;

}  // namespace

const RoutineDefinition* FindRoutine(std::string_view label) {
  for (const RoutineDefinition& routine : Routines()) {
    if (label == routine.label) return &routine;
  }
  return nullptr;
}

// --- RoutineRun ------------------------------------------------------------------------------

double RoutineRun::Input(std::string_view name) const {
  for (size_t i = 0; i < definition_.inputs.size(); ++i) {
    if (SameName(name, definition_.inputs[i].name)) return inputs_[i];
  }
  return 0.0;
}

void RoutineRun::SetInput(std::string_view name, double value) {
  for (size_t i = 0; i < definition_.inputs.size(); ++i) {
    const RoutineInput& in = definition_.inputs[i];
    if (SameName(name, in.name) && value >= in.low && value <= in.high) inputs_[i] = value;
  }
}

void RoutineRun::Deliver(std::string_view name, double value) {
  if (engine_.current_ == nullptr) return;
  double* slot = RoutineEngine::FindVariable(engine_.current_->variables, name);
  if (slot != nullptr) *slot = value;
}

void RoutineRun::SetStarted() {
  Deliver("STARTED", 1.0);
  if (!definition_.triggers_record) StartRecord();
}

bool RoutineRun::StartAndSwitchOn(Mode mode) {
  if (!core_.SwitchOn(mode)) return false;
  SetStarted();
  return true;
}

void RoutineRun::StartRecord() { engine_.recorder_.Trigger(); }

bool RoutineRun::recording() const { return engine_.recorder_.recording(); }

int64_t RoutineRun::RecordPeriods() const { return engine_.recorder_.PeriodsNeeded(); }

int64_t RoutineRun::RecordDecimation() const { return engine_.recorder_.Decimation(); }

int64_t RoutineRun::Periods(double seconds) const {
  const double periods = std::ceil(seconds / core_.period_s());
  return periods < 1.0 ? 1 : static_cast<int64_t>(std::min(periods, 1e15));
}

// --- RoutineEngine ---------------------------------------------------------------------------

double* RoutineEngine::FindVariable(Variables& variables, std::string_view name) {
  for (auto& [n, value] : variables) {
    if (SameName(n, name)) return &value;
  }
  return nullptr;
}

RoutineEngine::Routine* RoutineEngine::FindLaunched(std::string_view label) {
  for (Routine& r : launched_) {
    if (r.label == label) return &r;
  }
  return nullptr;
}

const RoutineEngine::Routine* RoutineEngine::FindLaunched(std::string_view label) const {
  for (const Routine& r : launched_) {
    if (r.label == label) return &r;
  }
  return nullptr;
}

bool RoutineEngine::NeverStarts(std::string_view label) const {
  if (faults_.never_start_all) return true;
  return std::find(faults_.never_start.begin(), faults_.never_start.end(), label) !=
         faults_.never_start.end();
}

std::string RoutineEngine::Launch(std::string_view label, const axis::UserVariables& inputs,
                                  const axis::LogRequest* log) {
  Stop();  // launching while another routine runs stops that one first
  const RoutineDefinition* definition = FindRoutine(label);
  if (definition == nullptr) return "the drive has no routine " + axis::Quoted(label);

  std::vector<double> values;
  for (const RoutineInput& in : definition->inputs) values.push_back(in.fallback);
  for (const auto& [name, value] : inputs) {
    size_t i = 0;
    while (i < definition->inputs.size() && !SameName(name, definition->inputs[i].name)) ++i;
    if (i == definition->inputs.size())
      return "routine " + axis::Quoted(label) + " takes no user variable " + axis::Quoted(name);
    const RoutineInput& in = definition->inputs[i];
    if (!(value >= in.low && value <= in.high))
      return "routine " + axis::Quoted(label) + ": " + axis::Quoted(name) + " must be a number " +
             "from " + axis::FormatNumber(in.low) + " to " + axis::FormatNumber(in.high) +
             ", not " + axis::FormatNumber(value);
    values[i] = value;
  }
  for (size_t i = 0; i < definition->inputs.size(); ++i) {
    if (std::isnan(values[i]))
      return "routine " + axis::Quoted(label) + " needs the user variable " +
             axis::Quoted(definition->inputs[i].name);
  }

  std::vector<int> slots;
  if (log != nullptr) {
    if (log->points < 1 || log->points > kMaxRecordPoints)
      return "a record takes from 1 to " + axis::FormatNumber(kMaxRecordPoints) + " points, not " +
             axis::FormatNumber(log->points);
    if (log->every < 1 || log->every > kMaxRecordPoints)
      return "a record keeps one sample in 1 to " + axis::FormatNumber(kMaxRecordPoints) +
             ", not " + axis::FormatNumber(log->every);
    if (static_cast<double>(log->points) * static_cast<double>(log->variables.size() + 1) >
        kMaxRecordValues)
      return "a record holds at most " + axis::FormatNumber(kMaxRecordValues) +
             " values (points times variables)";
    if (log->rate != axis::LogRequest::Rate::kFastLoop &&
        log->rate != axis::LogRequest::Rate::kSlowLoop)
      return "a record is taken at the fast-loop (1) or the slow-loop (2) rate";
    for (const std::string& name : log->variables) {
      const int slot = core_.VariableIndex(name);
      if (slot < 0) return "no drive variable " + axis::Quoted(name) + " to record";
      slots.push_back(slot);
    }
  }

  Routine* routine = FindLaunched(label);
  if (routine == nullptr) {
    launched_.push_back({std::string(label), {}});
    routine = &launched_.back();
  }
  routine->variables.clear();
  for (size_t i = 0; i < definition->inputs.size(); ++i)
    routine->variables.emplace_back(definition->inputs[i].name, values[i]);
  for (const char* name : definition->outputs) {
    double* slot = FindVariable(routine->variables, name);
    const double value = std::string_view(name) == "STARTED" ? 0.0 : kNotDelivered;
    if (slot != nullptr) {
      *slot = value;
    } else {
      routine->variables.emplace_back(name, value);
    }
  }
  for (const auto& [name, value] : definition->at_launch) {
    double* slot = FindVariable(routine->variables, name);
    if (slot != nullptr) *slot = value;
  }
  current_ = routine;
  core_.RestartInputTime();
  core_.ClearLatchedFaults();
  core_.ClearTrip();
  if (log != nullptr) {
    recorder_.Arm(core_, *log, std::move(slots), core_.slow_divider(), core_.time_ticks());
  } else {
    recorder_.Disarm();
  }
  if (NeverStarts(label)) return "";
  run_ = std::make_unique<RoutineRun>(*this, core_, *definition, std::move(values));
  task_ = definition->run(*run_);
  return "";
}

std::string RoutineEngine::ReadUserVariable(std::string_view label, std::string_view name,
                                            double& value) const {
  const Routine* routine = FindLaunched(label);
  if (routine == nullptr) return "routine " + axis::Quoted(label) + " was not launched";
  for (const auto& [n, v] : routine->variables) {
    if (SameName(n, name)) {
      value = v;
      return "";
    }
  }
  return "routine " + axis::Quoted(label) + " has no user variable " + axis::Quoted(name);
}

std::string RoutineEngine::WriteUserVariable(std::string_view label, std::string_view name,
                                             double value) {
  Routine* routine = FindLaunched(label);
  if (routine == nullptr) return "routine " + axis::Quoted(label) + " was not launched";
  double* slot = FindVariable(routine->variables, name);
  if (slot == nullptr)
    return "routine " + axis::Quoted(label) + " has no user variable " + axis::Quoted(name);
  *slot = value;
  // A running routine works with its launch inputs; a valid new value reaches it at once.
  if (run_ != nullptr && routine == current_ && task_.Running()) run_->SetInput(name, value);
  return "";
}

void RoutineEngine::Stop() {
  task_.Reset();
  core_.SwitchOff();
  recorder_.Disarm();
}

void RoutineEngine::HostWrote(std::string_view variable) {
  if (run_ == nullptr || !task_.Running()) return;
  const char* command = run_->definition().ended_by_write;
  if (command != nullptr && SameName(variable, command)) Stop();
}

void RoutineEngine::AfterSample() {
  if (!task_.Running()) return;
  if (core_.tripped()) {  // the protection switched the power stage off: the routine is over
    task_.Reset();
    return;
  }
  task_.Tick();
  if (!task_.Running()) core_.SwitchOff();
}

void RoutineEngine::AfterControl() {
  // A routine whose current limit tripped answers in the same period, before anyone can see the
  // axis off without its verdict.
  if (core_.limit_tripped() && task_.Running()) {
    task_.Wake();
    if (!task_.Running()) core_.SwitchOff();
  }
  if (!recorder_.armed()) return;
  recorder_.Sample(core_, core_.slow_tick(), core_.time_ticks() + core_.ticks_per_period(),
                   core_.dsp_frequency_Hz());
  if (!task_.Running()) recorder_.Disarm();
}

}  // namespace sim
