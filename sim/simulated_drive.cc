#include "sim/simulated_drive.h"

#include <cmath>
#include <optional>

#include "host/number_text.h"
#include "host/text.h"

namespace sim {

namespace {

constexpr const char* kNoAnswer = "the drive does not answer";

// DSP ticks in `ns` nanoseconds at `frequency_Hz` (a whole number of hertz), rounded down.
int64_t TicksIn(int64_t ns, double frequency_Hz) {
  if (ns <= 0) return 0;
  const __int128 ticks = static_cast<__int128>(ns) * static_cast<__int128>(frequency_Hz) /
                         static_cast<__int128>(1'000'000'000);
  return ticks > INT64_MAX ? INT64_MAX : static_cast<int64_t>(ticks);
}

}  // namespace

std::unique_ptr<SimulatedDrive> SimulatedDrive::Create(const Config& config,
                                                       const axis::Clock& clock,
                                                       std::string& error) {
  std::unique_ptr<DriveCore> core = DriveCore::Create(config, error);
  if (core == nullptr) return nullptr;
  return std::unique_ptr<SimulatedDrive>(new SimulatedDrive(std::move(core), config, clock));
}

SimulatedDrive::SimulatedDrive(std::unique_ptr<DriveCore> core, const Config& config,
                               const axis::Clock& clock)
    : core_(std::move(core)),
      engine_(*core_, config.faults),
      has_scope_(config.drive.has_scope),
      clock_(clock),
      start_ns_(clock.NowNs()),
      link_fail_after_s_(config.faults.link_fail_after_s) {}

SimulatedDrive::~SimulatedDrive() = default;

double SimulatedDrive::time_s() const {
  return static_cast<double>(core_->time_ticks()) / core_->dsp_frequency_Hz();
}

void SimulatedDrive::Step() {
  core_->Sample();
  engine_.AfterSample();
  core_->Control();
  engine_.AfterControl();
  if (core_->slow_tick() && scope_.armed() && engine_.busy()) scope_.Sample(*core_);
  core_->Physics();
}

void SimulatedDrive::CatchUp() {
  const int64_t target = TicksIn(clock_.NowNs() - start_ns_, core_->dsp_frequency_Hz());
  while (core_->time_ticks() + core_->ticks_per_period() <= target) {
    if (!engine_.busy() && core_->Quiescent()) {
      core_->SkipPeriods((target - core_->time_ticks()) / core_->ticks_per_period());
      break;
    }
    Step();
  }
}

bool SimulatedDrive::Begin() {
  CatchUp();
  if (time_s() >= link_fail_after_s_) return Fail(kNoAnswer);
  return true;
}

bool SimulatedDrive::Fail(std::string text) {
  last_error_ = std::move(text);
  return false;
}

bool SimulatedDrive::ReadVariable(std::string_view name, double& internal) {
  if (!Begin()) return false;
  const int index = core_->VariableIndex(name);
  if (index < 0) return Fail("no drive variable " + axis::Quoted(name));
  internal = core_->VariableValue(index);
  return true;
}

bool SimulatedDrive::WriteVariable(std::string_view name, double internal) {
  if (!Begin()) return false;
  const int index = core_->VariableIndex(name);
  if (index < 0) return Fail("no drive variable " + axis::Quoted(name));
  if (!std::isfinite(internal))
    return Fail("drive variable " + axis::Quoted(name) + " takes a number, not " +
                axis::FormatNumber(internal));
  core_->WriteVariable(index, internal);
  engine_.HostWrote(name);
  return true;
}

void SimulatedDrive::SetHandPosition(double m) {
  CatchUp();
  core_->SetHandPosition(m);
}

void SimulatedDrive::SetAnalogueInput(double share) {
  CatchUp();
  core_->SetAnalogueInput(share);
}

bool SimulatedDrive::ReadRegister(std::string_view name, double& internal) {
  if (!Begin()) return false;
  if (!core_->ReadRegister(name, internal))
    return Fail("the drive has no register " + axis::Quoted(name));
  return true;
}

bool SimulatedDrive::WriteRegister(std::string_view name, double internal) {
  if (!Begin()) return false;
  const std::string error = core_->WriteRegister(name, internal);
  return error.empty() || Fail(error);
}

// The drive's command language, as far as this drive speaks it: statements separated by ';',
// each "NAME=value" (a register or drive variable), "AXISOFF", "FAULTR" (clears the latched
// faults), or "!CAP" / "ENCAPI<n>" (arm the capture of the position counter at the encoder's
// index mark; n names the capture input). Every statement is checked before any is carried out.
bool SimulatedDrive::ExecuteString(std::string_view command) {
  if (!Begin()) return false;
  struct Assignment {
    std::string name;
    double value;
  };
  std::vector<Assignment> assignments;
  bool axis_off = false, clear_faults = false, arm_capture = false;
  while (!command.empty()) {
    const size_t end = command.find(';');
    const std::string_view statement = axis::TrimBlanks(command.substr(0, end));
    command = end == std::string_view::npos ? std::string_view() : command.substr(end + 1);
    if (statement.empty()) continue;
    const size_t equals = statement.find('=');
    if (equals != std::string_view::npos) {
      const std::string name(axis::TrimBlanks(statement.substr(0, equals)));
      const std::optional<double> value = axis::ParseNumber(statement.substr(equals + 1));
      if (!value) return Fail("the command " + axis::Quoted(statement) + " needs a number");
      if (!core_->HasRegister(name) && core_->VariableIndex(name) < 0)
        return Fail("the drive has no register or variable " + axis::Quoted(name));
      assignments.push_back({name, *value});
    } else if (statement == "AXISOFF") {
      axis_off = true;
    } else if (statement == "FAULTR") {
      clear_faults = true;
    } else if (statement == "!CAP") {
      // (the capture command's prefix)
    } else if (statement.starts_with("ENCAPI")) {
      arm_capture = true;
    } else {
      return Fail("unknown command " + axis::Quoted(statement));
    }
  }
  for (const Assignment& a : assignments) {
    if (core_->HasRegister(a.name)) {
      const std::string error = core_->WriteRegister(a.name, a.value);
      if (!error.empty()) return Fail(error);
    } else {
      core_->WriteVariable(core_->VariableIndex(a.name), a.value);
      engine_.HostWrote(a.name);
    }
  }
  if (arm_capture) core_->ArmCapture();
  if (clear_faults) core_->ClearLatchedFaults();
  if (axis_off) engine_.Stop();
  return true;
}

bool SimulatedDrive::Launch(std::string_view label, const axis::UserVariables& inputs,
                            const axis::LogRequest* log) {
  if (!Begin()) return false;
  const std::string error = engine_.Launch(label, inputs, log);
  return error.empty() || Fail(error);
}

bool SimulatedDrive::ReadUserVariable(std::string_view label, std::string_view name,
                                      double& value) {
  if (!Begin()) return false;
  const std::string error = engine_.ReadUserVariable(label, name, value);
  return error.empty() || Fail(error);
}

bool SimulatedDrive::WriteUserVariable(std::string_view label, std::string_view name,
                                       double value) {
  if (!Begin()) return false;
  const std::string error = engine_.WriteUserVariable(label, name, value);
  return error.empty() || Fail(error);
}

bool SimulatedDrive::GetAxisOn(bool& on) {
  if (!Begin()) return false;
  on = core_->axis_on();
  return true;
}

bool SimulatedDrive::AxisOff() {
  if (!Begin()) return false;
  engine_.Stop();
  return true;
}

bool SimulatedDrive::StartScope(const axis::ScopeRequest& request) {
  if (!Begin()) return false;
  if (!has_scope_) return Fail("this drive has no oscilloscope");
  const std::string error = scope_.Start(*core_, request);
  return error.empty() || Fail(error);
}

bool SimulatedDrive::StopScope() {
  if (!Begin()) return false;
  scope_.Stop();
  return true;
}

// What the link has received: the oscilloscope's frames, with the samples taken so far.
void SimulatedDrive::TakeUnsolicited(std::vector<axis::UnsolicitedMessage>& messages) {
  if (!Begin()) return;
  scope_.Flush();
  scope_.Hand(messages);
}

bool SimulatedDrive::UploadLog(std::vector<axis::LogPoint>& points) {
  if (!Begin()) return false;
  if (!engine_.HasRecord()) return Fail("the drive holds no record");
  points = engine_.RecordPoints();
  return true;
}

}  // namespace sim
