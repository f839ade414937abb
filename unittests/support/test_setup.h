// Building small setups in tests: only the parameters a case needs, with readable rows.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/setup.h"

namespace axis::testing {

struct Value {
  const char* name;
  double value;
  const char* unit = "";  // base unit (Latin-1); "" for plain numbers and registers
};

// A setup holding the given physical values (range [-1e300, 1e300]) and integer registers.
class TestSetup {
 public:
  TestSetup() : setup_(std::make_unique<CMC_Setup>()) {}

  TestSetup& Physical(std::initializer_list<Value> values) {
    for (const Value& v : values) Add(v, kTypePhysical, false);
    return *this;
  }
  TestSetup& Registers(std::initializer_list<Value> values) {
    for (const Value& v : values) Add(v, kTypeRegister, true);
    return *this;
  }
  TestSetup& Variable(const char* name, const char* unit = "") {
    std::string error;
    EXPECT_NE(setup_->AddVariable({.name = name, .base_unit = unit}, &error), nullptr) << error;
    return *this;
  }
  TestSetup& Option(const char* name, const char* text) {
    setup_->SetOption(name, text);
    return *this;
  }

  CMC_Setup& operator*() { return *setup_; }
  CMC_Setup* operator->() { return setup_.get(); }
  CMC_Setup& setup() { return *setup_; }

  double Get(const char* name) { return setup_->FindParameter(name)->GetValueInBaseUnit(); }
  double Min(const char* name) { return setup_->FindParameter(name)->GetMinInBaseUnit(); }
  double Max(const char* name) { return setup_->FindParameter(name)->GetMaxInBaseUnit(); }
  void Set(const char* name, double value) {
    setup_->FindParameter(name)->SetValueInBaseUnit(value);
  }

 private:
  void Add(const Value& v, int type, bool is_integer) {
    std::string error;
    EXPECT_NE(setup_->AddParameter({.name = v.name,
                                    .value = v.value,
                                    .min = -1e300,
                                    .max = 1e300,
                                    .base_unit = v.unit,
                                    .type = type,
                                    .is_integer = is_integer},
                                   &error),
              nullptr)
        << error;
  }
  std::unique_ptr<CMC_Setup> setup_;
};

// The host's error reports while the object lives.
class Reports {
 public:
  Reports() {
    SetErrorReporter([this](const std::string& m) { messages.push_back(m); });
  }
  ~Reports() { SetErrorReporter(nullptr); }
  Reports(const Reports&) = delete;
  Reports& operator=(const Reports&) = delete;
  std::vector<std::string> messages;
};

}  // namespace axis::testing
