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
#include "support/scoped_env.h"

namespace axis::testing {

// An absolute path from the build (a compiler cache may spell __FILE__ relative to the build).
inline std::string TestDataDirectory() { return AXIS_UNITTESTS_DIR "/host/data"; }

// Sets AXIS_RESOURCES (nullopt: removes it) for the duration of a scope.
class ResourceFolder : public ScopedEnv {
 public:
  explicit ResourceFolder(const std::optional<std::string>& folder)
      : ScopedEnv("AXIS_RESOURCES", folder) {}
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { SetPlatform(&platform_); }
  void TearDown() override { SetPlatform(nullptr); }
  // A new platform in place of the fixture's, for one case of a table (a log of its own).
  HeadlessPlatform& FreshPlatform() {
    row_platform_.emplace();
    SetPlatform(&*row_platform_);
    return *row_platform_;
  }

  ResourceFolder folder_{TestDataDirectory()};
  HeadlessPlatform platform_;
  std::optional<HeadlessPlatform> row_platform_;
};

// The texts of a combo box's items, in order.
inline std::vector<std::string> ComboItems(const CMC_EditSetupDlg& dlg, int id) {
  std::vector<std::string> texts;
  for (const ComboItem& item : dlg.Control(id)->items) texts.push_back(item.text);
  return texts;
}

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
  void OnSelectionChanged(int id) override {
    log.push_back("select:" + std::to_string(id));
    CMC_EditSetupDlg::OnSelectionChanged(id);
  }
  bool OnKeyChord(const std::string& chord) override {
    log.push_back("key:" + chord);
    return true;
  }

  std::vector<std::string> log;
};

}  // namespace axis::testing
