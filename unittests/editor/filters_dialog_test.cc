// The filters dialog: combos offered, enabling and relabelling per filter, what a test run locks,
// and the user's clicks and selections reaching the setup.
#include "editor/filters_dialog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "conversions/motion_units.h"
#include "host/dialog_test_support.h"
#include "host/setup_file.h"

namespace {

using axis::testing::ResourceFolder;

// Control ids of one filter, in the dialog's template.
struct Ids {
  const char* on;
  const char* type;
  const char* location;
  int group, check, location_label, location_combo, type_label, type_combo, q_label, q_edit;
  int f1_label, f1_edit, f1_unit, f2_edit, f2_unit;
};

constexpr Ids kIds[] = {
    {"BQFilter1", "BQFilterType1", "BQFilterLocation1", 3484, 3485, 3503, 3502, 3486, 3487, 3488,
     3489, 3490, 3491, 3508, 3504, 3510},
    {"BQFilter2", "BQFilterType2", "BQFilterLocation2", 3492, 3493, 3501, 3500, 3494, 3495, 3496,
     3497, 3498, 3499, 3509, 3505, 3511},
    {"BQFilter3", "BQFilterType3", "BQFilterLocation3", 3517, 3518, 3527, 3526, 3520, 3519, 3521,
     3523, 3522, 3524, 3525, 3506, 3512},
};

class FiltersDialogTest : public axis::testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    axis::SetErrorReporter([this](const std::string& message) { errors_.push_back(message); });
    axis::LoadResult loaded =
        axis::LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/demo-linear.json");
    ASSERT_TRUE(loaded) << loaded.error;
    setup_ = std::move(loaded.setup);
    setup_->SetScaleProvider({&kestrel::ScaleFactor, &kestrel::ScaleOffset});
  }
  void TearDown() override {
    axis::SetErrorReporter(nullptr);
    DialogTest::TearDown();
  }

  void Set(const char* name, double value) {
    setup_->FindParameter(name)->SetValueInBaseUnit(value);
  }
  double Get(const char* name) { return setup_->FindParameter(name)->GetValueInBaseUnit(); }

  ResourceFolder real_templates_{std::nullopt};  // after the fixture's folder: wins
  std::unique_ptr<CMC_Setup> setup_;
  std::vector<std::string> errors_;
};

std::vector<std::string> ItemTexts(const CFiltersDialog& dlg, int id) {
  std::vector<std::string> texts;
  for (const axis::ComboItem& item : dlg.Control(id)->items) texts.push_back(item.text);
  return texts;
}

std::vector<int64_t> ItemData(const CFiltersDialog& dlg, int id) {
  std::vector<int64_t> data;
  for (const axis::ComboItem& item : dlg.Control(id)->items) data.push_back(item.data);
  return data;
}

TEST_F(FiltersDialogTest, CombosOfferTheUsableTypesAndTheThreeLocations) {
  CFiltersDialog dlg(*setup_, nullptr);
  ASSERT_EQ(dlg.LoadError(), "");
  dlg.OnInitDialog();
  const std::vector<std::string> types = {
      "Low Pass 1st order", "Low Pass 2nd order", "Notch", "High Pass", "Band Pass",
      "Lead-lag 1st order", "Lead-lag 2nd order"};
  // Peak (5) and the shelves (6, 7) are not offered: the item data skip them.
  const std::vector<int64_t> type_data = {0, 1, 2, 3, 4, 8, 9};
  const std::vector<std::string> locations = {"Position Controller Output",
                                              "Speed Controller Output", "Speed Feedback"};
  for (const Ids& f : kIds) {
    SCOPED_TRACE(f.on);
    EXPECT_EQ(ItemTexts(dlg, f.type_combo), types);
    EXPECT_EQ(ItemData(dlg, f.type_combo), type_data);
    EXPECT_EQ(ItemTexts(dlg, f.location_combo), locations);
    EXPECT_EQ(ItemData(dlg, f.location_combo), (std::vector<int64_t>{0, 1, 2}));
  }
  EXPECT_EQ(errors_, std::vector<std::string>{});
}

TEST_F(FiltersDialogTest, CombosShowTheStoredTypeAndLocation) {
  struct Row {
    const char* name;
    double type, location;
    int type_index, location_index;  // -1: no item selected
  };
  const Row rows[] = {
      {"notch, speed controller output", 2, 1, 2, 1},
      {"lead-lag 1st is the sixth item", 8, 0, 5, 0},
      {"lead-lag 2nd, speed feedback", 9, 2, 6, 2},
      {"fractions truncate", 4.9, 2.7, 4, 2},
      {"peak is not offered", 5, 1, -1, 1},
      {"unknown location", 1, 3, 1, -1},
      {"negative location", 0, -1, 0, -1},
      {"NaN reads as 0", std::numeric_limits<double>::quiet_NaN(),
       std::numeric_limits<double>::quiet_NaN(), 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (const Ids& f : kIds) {
      Set(f.type, row.type);
      Set(f.location, row.location);
    }
    CFiltersDialog dlg(*setup_, nullptr);
    dlg.OnInitDialog();
    for (const Ids& f : kIds) {
      SCOPED_TRACE(f.on);
      EXPECT_EQ(dlg.GetComboSelection(f.type_combo), row.type_index);
      EXPECT_EQ(dlg.GetComboSelection(f.location_combo), row.location_index);
    }
  }
}

// The enabling and show table of one filter, for every filter.
TEST_F(FiltersDialogTest, EnablingFollowsOnTypeAndTestRun) {
  struct Row {
    const char* name;
    double on, type;
    int running;
    // Expected: group, location (label and combo), type (label and combo), Q label, Q edit,
    // frequency row and second frequency, check box.
    bool group, location, type_row, q_label, q_edit, frequencies, check;
    const char* check_caption;
    const char* q_caption;
    const char* f1_caption;
    bool q_shown, f2_shown;
  };
  const Row rows[] = {
      {"off", 0, 2, 0, false, false, false, false, false, false, true, "Off", "Q", "Frequency",
       true, false},
      {"notch on", 1, 2, 0, true, true, true, true, true, true, true, "On", "Q", "Frequency", true,
       false},
      {"low pass 1st has no Q", 1, 0, 0, true, true, true, false, false, true, true, "On", "Q",
       "Frequency", true, false},
      {"band pass", 1, 4, 0, true, true, true, true, true, true, true, "On", "Q", "Frequency", true,
       false},
      {"lead-lag 1st", 1, 8, 0, true, true, true, true, true, true, true, "On", "Lag Frequency",
       "Lead Frequency", false, true},
      {"lead-lag 2nd", 1, 9, 0, true, true, true, true, true, true, true, "On", "Lag Frequency",
       "Lead Frequency", false, true},
      {"lead-lag while off", 0, 8, 0, false, false, false, false, false, false, true, "Off",
       "Lag Frequency", "Lead Frequency", false, true},
      {"running: no switching, no moving", 1, 1, 1, true, false, true, true, true, true, false,
       "On", "Q", "Frequency", true, false},
      {"running and off", 0, 1, 1, false, false, false, false, false, false, false, "Off", "Q",
       "Frequency", true, false},
      {"on 0.5 truncates to off", 0.5, 1, 0, false, false, false, false, false, false, true, "Off",
       "Q", "Frequency", true, false},
      {"on -1 is on", -1, 1, 0, true, true, true, true, true, true, true, "On", "Q", "Frequency",
       true, false},
      {"on 2 is on", 2, 1, 0, true, true, true, true, true, true, true, "On", "Q", "Frequency",
       true, false},
      {"type 9.7 truncates to lead-lag", 1, 9.7, 0, true, true, true, true, true, true, true, "On",
       "Lag Frequency", "Lead Frequency", false, true},
      {"type 0.9 truncates to low pass 1st", 1, 0.9, 0, true, true, true, false, false, true, true,
       "On", "Q", "Frequency", true, false},
      {"peak keeps its Q", 1, 5, 0, true, true, true, true, true, true, true, "On", "Q",
       "Frequency", true, false},
      {"NaN type reads as 0", 1, std::numeric_limits<double>::quiet_NaN(), 0, true, true, true,
       false, false, true, true, "On", "Q", "Frequency", true, false},
      {"infinite on is on", std::numeric_limits<double>::infinity(), 2, 0, true, true, true, true,
       true, true, true, "On", "Q", "Frequency", true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (const Ids& f : kIds) {
      Set(f.on, row.on);
      Set(f.type, row.type);
    }
    CFiltersDialog dlg(*setup_, nullptr, row.running);
    dlg.OnInitDialog();
    for (const Ids& f : kIds) {
      SCOPED_TRACE(f.on);
      auto enabled = [&](int id) { return dlg.Control(id)->enabled; };
      EXPECT_EQ(enabled(f.group), row.group);
      EXPECT_EQ(enabled(f.location_label), row.location);
      EXPECT_EQ(enabled(f.location_combo), row.location);
      EXPECT_EQ(enabled(f.type_label), row.type_row);
      EXPECT_EQ(enabled(f.type_combo), row.type_row);
      EXPECT_EQ(enabled(f.q_label), row.q_label);
      EXPECT_EQ(enabled(f.q_edit), row.q_edit);
      for (int id : {f.f1_label, f.f1_edit, f.f1_unit, f.f2_edit, f.f2_unit})
        EXPECT_EQ(enabled(id), row.frequencies) << id;
      EXPECT_EQ(enabled(f.check), row.check);
      EXPECT_EQ(dlg.GetChildText(f.check), row.check_caption);
      EXPECT_EQ(dlg.GetChildText(f.q_label), row.q_caption);
      EXPECT_EQ(dlg.GetChildText(f.f1_label), row.f1_caption);
      // The Q edit and the second frequency share one place: exactly one is visible.
      EXPECT_EQ(dlg.IsVisible(f.q_edit), row.q_shown);
      EXPECT_EQ(dlg.IsVisible(f.f2_edit), row.f2_shown);
      EXPECT_EQ(dlg.IsVisible(f.f2_unit), row.f2_shown);
      EXPECT_TRUE(dlg.IsVisible(f.q_label));
    }
  }
}

// Scripted user on the modal dialog: each action is one row, checked on the dialog's state after
// it.
TEST_F(FiltersDialogTest, UserActionsReachTheSetupAndRelabelTheDialog) {
  // The demo setup: filter 1 notch on, filter 2 low pass 2nd on, filter 3 lead-lag 1st off.
  CFiltersDialog dlg(*setup_, nullptr);
  platform_
      .Click(3518)           // filter 3 on
      .SelectCombo(3487, 5)  // filter 1: lead-lag 1st order
      .SelectCombo(3495, 0)  // filter 2: low pass 1st order
      .SelectCombo(3526, 0)  // filter 3 to the position controller output
      .Type(3504, "120")     // filter 1's lag frequency
      .Click(3493)           // filter 2 off
      .EndOk();
  EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
  EXPECT_EQ(platform_.ScriptErrors(), std::vector<std::string>{});
  EXPECT_EQ(platform_.MessageLog().size(), 0u);

  EXPECT_EQ(Get("BQFilter3"), 1);
  EXPECT_EQ(dlg.GetChildText(3518), "On");
  EXPECT_TRUE(dlg.Control(3526)->enabled);
  EXPECT_EQ(Get("BQFilterLocation3"), 0);

  EXPECT_EQ(Get("BQFilterType1"), 8);
  EXPECT_EQ(dlg.GetChildText(3488), "Lag Frequency");
  EXPECT_EQ(dlg.GetChildText(3490), "Lead Frequency");
  EXPECT_FALSE(dlg.IsVisible(3489));
  EXPECT_TRUE(dlg.IsVisible(3504));
  EXPECT_EQ(Get("BQFilterF21"), 120);

  EXPECT_EQ(Get("BQFilterType2"), 0);
  EXPECT_EQ(Get("BQFilter2"), 0);
  EXPECT_EQ(dlg.GetChildText(3493), "Off");
  EXPECT_FALSE(dlg.Control(3495)->enabled);
  EXPECT_FALSE(dlg.Control(3497)->enabled);
}

TEST_F(FiltersDialogTest, DuringATestRunFiltersKeepTheirSlots) {
  struct Row {
    const char* name;
    axis::HeadlessPlatform::ActionKind kind;
    int id;
    int64_t number;
    const char* parameter;
    double before, after;  // the parameter before and after the action
    bool refused;          // the scripted user could not act
  };
  using Kind = axis::HeadlessPlatform::ActionKind;
  const Row rows[] = {
      {"switch off", Kind::kClick, 3485, 0, "BQFilter1", 1, 1, true},
      {"switch on", Kind::kClick, 3518, 0, "BQFilter3", 0, 0, true},
      {"move", Kind::kSelect, 3502, 0, "BQFilterLocation1", 1, 1, true},
      {"change type", Kind::kSelect, 3495, 6, "BQFilterType2", 1, 9, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    axis::HeadlessPlatform platform;
    axis::SetPlatform(&platform);
    EXPECT_EQ(Get(row.parameter), row.before);
    CFiltersDialog dlg(*setup_, nullptr, 1);
    EXPECT_TRUE(dlg.IsTestRunning());
    if (row.kind == Kind::kClick) {
      platform.Click(row.id);
    } else {
      platform.SelectCombo(row.id, static_cast<int>(row.number));
    }
    platform.EndOk();
    EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
    EXPECT_EQ(Get(row.parameter), row.after);
    EXPECT_EQ(platform.ScriptErrors().size(), row.refused ? 1u : 0u);
    axis::SetPlatform(&platform_);
  }
}

TEST_F(FiltersDialogTest, QualityFactorStaysEditableDuringARun) {
  CFiltersDialog dlg(*setup_, nullptr, 1);
  platform_.Type(3489, "3.5").Type(3491, "250").EndOk();
  EXPECT_EQ(dlg.DoModal(), axis::kIdOk);
  EXPECT_EQ(Get("BQFilterQ1"), 3.5);
  EXPECT_EQ(Get("BQFilterF11"), 250);
  EXPECT_EQ(platform_.ScriptErrors(), std::vector<std::string>{});
}

// A setup without any filter parameter: nothing binds, every filter shows off, nothing crashes.
TEST_F(FiltersDialogTest, SetupWithoutFiltersShowsThemOff) {
  CMC_Setup empty;
  CFiltersDialog dlg(empty, nullptr);
  dlg.OnInitDialog();
  for (const Ids& f : kIds) {
    SCOPED_TRACE(f.on);
    EXPECT_FALSE(dlg.Control(f.group)->enabled);
    EXPECT_FALSE(dlg.Control(f.type_combo)->enabled);
    EXPECT_EQ(dlg.GetChildText(f.check), "Off");
    EXPECT_EQ(dlg.GetComboSelection(f.type_combo), -1);
    // The unbound check box still answers a click, and the rules run again.
    EXPECT_TRUE(dlg.UserClick(f.check));
    EXPECT_EQ(dlg.GetChildText(f.check), "Off");
  }
  EXPECT_FALSE(errors_.empty());  // the missing names were reported while binding
}

// The biquad registers go to the drive: the slot counts first, then slot by slot.
class RecordingComm : public CMC_Comm {
 public:
  bool WriteParameter(const CMC_Parameter& parameter, double) override {
    written.push_back(parameter.GetName());
    return written.size() != fail_at;
  }
  bool ReadVariable(const CMC_Variable&, double&) override { return false; }
  bool WriteVariable(const CMC_Variable&, double) override { return false; }
  std::string GetLastErrorText() const override { return "refused"; }

  std::vector<std::string> written;
  size_t fail_at = 0;  // 1-based write that fails, 0 for none
};

TEST_F(FiltersDialogTest, WritesTheBiquadRegistersToTheDrive) {
  std::vector<std::string> expected = {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"};
  for (const char* slot : {"BQ1", "BQ2", "BQ3"}) {
    for (const char* reg : {"B0", "B1", "B2", "A1", "A2", "SF"})
      expected.push_back(std::string(slot) + reg);
  }
  struct Row {
    const char* name;
    size_t fail_at;
    int result;
    size_t writes;
  };
  const Row rows[] = {{"all written", 0, 1, 21}, {"stops at a failed write", 5, 0, 5}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingComm comm;
    comm.fail_at = row.fail_at;
    setup_->SetComm(&comm);
    CFiltersDialog dlg(*setup_, nullptr, 1);
    EXPECT_EQ(dlg.WriteBiquadsToDrive(), row.result);
    EXPECT_EQ(comm.written,
              std::vector<std::string>(expected.begin(), expected.begin() + row.writes));
    setup_->SetComm(nullptr);
  }
}

}  // namespace
