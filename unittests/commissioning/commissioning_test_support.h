// Shared pieces of the commissioning tests' tests: the bundled demo setup attached to a scripted
// drive whose routines do what each case says, and a headless platform that keeps the status
// texts in the order the dialog showed them.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commissioning/my_test_dlg.h"
#include "editor/editor_test_support.h"
#include "host/numeric.h"
#include "support/scripted_drive.h"

namespace axis::testing {

// What one launched routine does: whether it begins ("STARTED") and ends (switches the axis off)
// at once, and what it leaves behind.
struct Routine {
  std::map<std::string, double> outputs;     // its user variables ("In1", "test_flag" ...)
  std::map<std::string, double> drive;       // drive variables ("var_i1", "REFTST_V" ...)
  std::optional<std::vector<LogPoint>> log;  // the record, when the routine leaves one
  bool begins = true;
  bool ends = true;
};

class StatusPlatform : public HeadlessPlatform {
 public:
  void ControlsChanged(DialogModel& dialog, int id) override {
    if (id != CMC_TestDlg::kStatusText) return;
    const std::string text = dialog.GetChildText(id);
    if (!text.empty()) statuses.push_back(text);
  }
  std::vector<std::string> statuses;  // every new non-empty status text, in order
};

// The demo drive's scales: 65520 / (2 x 10 A) = 3276 current counts per A, 65520 / 90 V = 728 bus
// counts per V; with the sinusoidal commutation a voltage command of 65534 / (1.1 x Vdc) per V.
class CommissioningTest : public EditorTest {
 protected:
  void SetUp() override {
    SetPlatform(&platform_);
    setup_->SetComm(&drive_);
    drive_.variables = {{"MER", 0}, {"REFTST_V", 1200}, {"RINCTST_V", -7}};
    drive_.on_launch = [this](ScriptedDrive& drive, const ScriptedDrive::LaunchCall& call) {
      const size_t k = drive.launches.size() - 1 - first_;
      const Routine r = k < routines_.size() ? routines_[k] : Routine{};
      auto& user = drive.user[call.label];
      for (const auto& [name, value] : r.outputs) user[name] = value;
      for (const auto& [name, value] : r.drive) drive.variables[name] = value;
      if (r.log) drive.log = *r.log;
      user["STARTED"] = r.begins ? 1.0 : 0.0;
      drive.axis_on = !(r.begins && r.ends);
    };
  }
  void TearDown() override {
    // Every scripted step was taken: none was left behind by a dialog that ended early.
    EXPECT_EQ(platform_.PendingActions(), 0u);
    EXPECT_EQ(platform_.ScriptErrors(), std::vector<std::string>{});
    SetPlatform(nullptr);
  }

  // A drive as new (its routines still played as scripted) holding these variables.
  void FreshDrive(std::map<std::string, double, std::less<>> variables) {
    auto play = std::move(drive_.on_launch);
    drive_ = {};
    drive_.on_launch = std::move(play);
    drive_.variables = std::move(variables);
    first_ = 0;
  }
  // The routines of the next run in launch order; a launch past them begins and ends at once.
  void Play(std::vector<Routine> routines) {
    routines_ = std::move(routines);
    first_ = drive_.launches.size();
  }
  std::vector<std::string> Labels() const {
    std::vector<std::string> labels;
    for (const auto& call : drive_.launches) labels.push_back(call.label);
    return labels;
  }
  // The drive's writes of these names from entry `first` of its log on, in order.
  std::vector<std::string> WritesOf(std::vector<std::string> names, size_t first = 0) const {
    std::vector<std::string> seen;
    for (size_t i = first; i < drive_.written.size(); ++i)
      if (std::find(names.begin(), names.end(), drive_.written[i].first) != names.end())
        seen.push_back(drive_.written[i].first);
    return seen;
  }
  // One tick of the polling timer, then `check` on the dialog.
  void Tick(std::function<void(CMC_TestDlg&)> check, int64_t ms = CMC_TestDlg::kPollPeriodMs) {
    platform_.Wait(ms).Do([check](DialogModel& d) { check(dynamic_cast<CMC_TestDlg&>(d)); });
  }

  StatusPlatform platform_;
  ScriptedDrive drive_;
  std::unique_ptr<CMC_Setup> setup_ = Bundled();
  std::vector<Routine> routines_;
  size_t first_ = 0;  // the drive's launches before those of routines_
};

// The setup's parameter values by name.
inline std::map<std::string, double> Values(CMC_Setup& setup) {
  std::map<std::string, double> values;
  const CMC_Parameters& all = setup.GetParameters();
  for (int i = 0; i < all.GetParametersCount(); ++i)
    values[all[i]->GetName()] = all[i]->GetValueInBaseUnit();
  return values;
}
// The names whose values differ between two sets of values.
inline std::vector<std::string> Changed(const std::map<std::string, double>& before,
                                        const std::map<std::string, double>& after) {
  std::vector<std::string> names;
  for (const auto& [name, value] : after)
    if (!before.contains(name) || !axis::SameDouble(before.at(name), value)) names.push_back(name);
  return names;
}

inline std::string ErrInternal() { return CMC_TestDlg::msc_pszErrInternal; }

}  // namespace axis::testing
