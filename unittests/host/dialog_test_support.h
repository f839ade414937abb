// Shared pieces of the dialog tests: the test templates' folder, a fixture that points the
// resource lookup at it and installs a headless platform, and a dialog that records its callbacks.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "host/edit_setup_dlg.h"
#include "host/headless_platform.h"

namespace axis::testing {

// Found through the source folder the build names (AXIS_SOURCE_DIR), not through __FILE__: a
// compiler cache that rewrites paths relative to a base folder would make __FILE__ relative to the
// build folder, and the tests run elsewhere.
inline std::string TestDataDirectory() {
  return std::string(AXIS_SOURCE_DIR) + "/unittests/host/data";
}

// Sets AXIS_RESOURCES for the duration of a scope.
class ResourceFolder {
 public:
  explicit ResourceFolder(const std::optional<std::string>& folder) {
    if (const char* old = std::getenv("AXIS_RESOURCES")) old_ = old;
    if (folder) {
      setenv("AXIS_RESOURCES", folder->c_str(), 1);
    } else {
      unsetenv("AXIS_RESOURCES");
    }
  }
  ~ResourceFolder() {
    if (old_) {
      setenv("AXIS_RESOURCES", old_->c_str(), 1);
    } else {
      unsetenv("AXIS_RESOURCES");
    }
  }

 private:
  std::optional<std::string> old_;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { SetPlatform(&platform_); }
  void TearDown() override { SetPlatform(nullptr); }

  ResourceFolder folder_{TestDataDirectory()};
  HeadlessPlatform platform_;
};

// Records every callback as "what:detail" in order.
class RecordingDlg : public CMC_EditSetupDlg {
 public:
  RecordingDlg(CMC_Setup& setup, int id, const char* const* guidelines = nullptr,
               CMC_EditSetupDlg* parent = nullptr)
      : CMC_EditSetupDlg(setup, id, 1, guidelines, parent) {}

  void OnChangedParameterValue(const char* name) override {
    log.push_back(std::string("changed:") + name);
    CMC_EditSetupDlg::OnChangedParameterValue(name);
  }
  void OnChangedParameterUnit(const char* name) override {
    log.push_back(std::string("unit:") + name);
  }
  void OnRefreshParameterValue(const char* name) override {
    log.push_back(std::string("refresh:") + name);
  }
  void OnCommand(int id) override {
    log.push_back("command:" + std::to_string(id));
    CMC_EditSetupDlg::OnCommand(id);
  }
  void OnSelectionChanged(int id) override { log.push_back("select:" + std::to_string(id)); }
  bool OnKeyChord(const std::string& chord) override {
    log.push_back("key:" + chord);
    return true;
  }

  std::vector<std::string> log;
};

}  // namespace axis::testing
