// A drive for exact tests: it answers from what the test put in it and records every call, so a
// state machine can be checked step by step (which routine was launched with which inputs, which
// registers were written in which order) without physics.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/comm.h"

namespace axis::testing {

class ScriptedDrive : public CMC_Comm {
 public:
  struct LaunchCall {
    std::string label;
    UserVariables inputs;
    bool logged = false;
    LogRequest log;
  };

  // What the drive holds; tests set these before (or while) the code under test runs.
  std::map<std::string, double, std::less<>> variables;  // drive variables
  std::map<std::string, double, std::less<>> registers;  // missing: the drive has no such register
  std::map<std::string, std::map<std::string, double, std::less<>>, std::less<>> user;  // by label
  bool axis_on = false;
  std::vector<LogPoint> log;  // what UploadLog delivers
  bool has_log = true;
  // Plays the routine just launched, after the launch is recorded: a test sets here what the
  // routine does ("STARTED", the axis state, its outputs, drive variables, the record).
  std::function<void(ScriptedDrive& drive, const LaunchCall& call)> on_launch;
  // The call counted from 0 (every operation counts) that fails, -1 for none, and its text.
  int fail_at = -1;
  std::string failure_text = "the drive does not answer";

  // What the code under test did.
  std::vector<std::pair<std::string, double>> written;  // registers and variables, in order
  std::vector<LaunchCall> launches;
  std::vector<std::string> commands;
  int axis_off_calls = 0;

  bool ReadVariable(std::string_view name, double& internal) override {
    return Take() && Find(variables, name, internal);
  }
  bool WriteVariable(std::string_view name, double internal) override {
    if (!Take()) return false;
    written.emplace_back(std::string(name), internal);
    variables[std::string(name)] = internal;
    return true;
  }
  bool ReadRegister(std::string_view name, double& internal) override {
    return Take() && Find(registers, name, internal);
  }
  bool WriteRegister(std::string_view name, double internal) override {
    if (!Take()) return false;
    written.emplace_back(std::string(name), internal);
    registers[std::string(name)] = internal;
    return true;
  }
  bool ExecuteString(std::string_view command) override {
    if (!Take()) return false;
    commands.emplace_back(command);
    return true;
  }
  bool Launch(std::string_view label, const UserVariables& inputs,
              const LogRequest* request) override {
    if (!Take()) return false;
    launches.push_back({std::string(label), inputs, request != nullptr,
                        request != nullptr ? *request : LogRequest{}});
    auto& vars = user[std::string(label)];
    for (const auto& [name, value] : inputs) vars[name] = value;
    vars["STARTED"] = 0.0;  // until the routine has begun
    if (on_launch) on_launch(*this, launches.back());
    return true;
  }
  bool ReadUserVariable(std::string_view label, std::string_view name, double& value) override {
    if (!Take()) return false;
    const auto routine = user.find(label);
    return routine != user.end() && Find(routine->second, name, value);
  }
  bool WriteUserVariable(std::string_view label, std::string_view name, double value) override {
    if (!Take()) return false;
    user[std::string(label)][std::string(name)] = value;
    return true;
  }
  bool GetAxisOn(bool& on) override {
    if (!Take()) return false;
    on = axis_on;
    return true;
  }
  bool AxisOff() override {
    if (!Take()) return false;
    ++axis_off_calls;
    axis_on = false;
    return true;
  }
  bool UploadLog(std::vector<LogPoint>& points) override {
    if (!Take()) return false;
    if (!has_log) return Fail("no record");
    points = log;
    return true;
  }
  std::string GetLastErrorText() const override { return last_error_; }

  // The oscilloscope: the requests it was armed with, and the frames waiting to be taken.
  bool has_scope = true;
  bool scope_armed = false;
  std::vector<ScopeRequest> scopes;
  std::vector<UnsolicitedMessage> pending;
  bool StartScope(const ScopeRequest& request) override {
    if (!Take()) return false;
    if (!has_scope) return Fail("the drive has no oscilloscope");
    scopes.push_back(request);
    scope_armed = true;
    return true;
  }
  bool StopScope() override {
    scope_armed = false;
    return Take();
  }

  int calls() const { return calls_; }

 protected:
  void TakeUnsolicited(std::vector<UnsolicitedMessage>& messages) override {
    messages.insert(messages.end(), pending.begin(), pending.end());
    pending.clear();
  }

 private:
  bool Take() {
    if (calls_++ == fail_at) return Fail(failure_text);
    return true;
  }
  bool Fail(const std::string& text) {
    last_error_ = text;
    return false;
  }
  template <typename Map>
  bool Find(const Map& map, std::string_view name, double& value) {
    const auto it = map.find(name);
    if (it == map.end()) return Fail("no \"" + std::string(name) + "\" in the drive");
    value = it->second;
    return true;
  }

  int calls_ = 0;
  std::string last_error_;
};

}  // namespace axis::testing
