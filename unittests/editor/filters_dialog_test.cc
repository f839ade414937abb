// The filters dialog: combos, enabling and relabelling per filter, what a test run locks.
#include "editor/filters_dialog.h"

#include <limits>

#include "editor/editor_test_support.h"

namespace {

using namespace axis::testing;

// Control ids of one filter, in the dialog's template.
struct Ids {
  const char *on, *type, *location;
  int group, check, location_label, location_combo, type_label, type_combo, q_label, q_edit;
  int f1_label, f1_edit, f1_unit, f2_edit, f2_unit;
};

// clang-format off
constexpr Ids kIds[] = {
    {"BQFilter1", "BQFilterType1", "BQFilterLocation1",
     3484, 3485, 3503, 3502, 3486, 3487, 3488, 3489, 3490, 3491, 3508, 3504, 3510},
    {"BQFilter2", "BQFilterType2", "BQFilterLocation2",
     3492, 3493, 3501, 3500, 3494, 3495, 3496, 3497, 3498, 3499, 3509, 3505, 3511},
    {"BQFilter3", "BQFilterType3", "BQFilterLocation3",
     3517, 3518, 3527, 3526, 3520, 3519, 3521, 3523, 3522, 3524, 3525, 3506, 3512},
};
// clang-format on

class FiltersDialogTest : public EditorTest {
 protected:
  double Get(const char* name) { return axis::testing::Get(*setup_, name); }
  std::unique_ptr<CMC_Setup> setup_ = Bundled();
};

TEST_F(FiltersDialogTest, CombosOfferTheUsableTypesAndShowTheStoredOnes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // The items shown (-1: none). Peak (5) and the shelves (6, 7) are not offered.
  // clang-format off
  const struct { const char* name; double type, location; int type_index, location_index; }
  rows[] = {
      {"notch, speed controller output", 2, 1, 2, 1},
      {"lead-lag 1st is the sixth item", 8, 0, 5, 0},
      {"fractions truncate", 4.9, 2.7, 4, 2},
      {"peak is not offered", 5, 1, -1, 1},
      {"unknown location", 1, 3, 1, -1},
      {"NaN reads as 0", nan, nan, 0, 0},
  };
  // clang-format on
  const std::vector<std::string> types = {
      "Low Pass 1st order", "Low Pass 2nd order", "Notch", "High Pass", "Band Pass",
      "Lead-lag 1st order", "Lead-lag 2nd order"};
  const std::vector<std::string> locations = {"Position Controller Output",
                                              "Speed Controller Output", "Speed Feedback"};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const Ids& f : kIds) Set(*setup_, {{f.type, row.type}, {f.location, row.location}});
    ReportedErrors errors;
    CFiltersDialog dlg(*setup_, nullptr);
    dlg.OnInitDialog();
    EXPECT_EQ(errors.list, std::vector<std::string>{});
    for (const Ids& f : kIds) {
      SCOPED_TRACE(f.on);
      EXPECT_EQ(Items(dlg, f.type_combo), types);
      EXPECT_EQ(Items(dlg, f.location_combo), locations);
      EXPECT_EQ(dlg.GetComboSelection(f.type_combo), row.type_index);
      EXPECT_EQ(dlg.GetComboSelection(f.location_combo), row.location_index);
    }
  }
}

TEST_F(FiltersDialogTest, EnablingFollowsOnTypeAndTestRun) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // on_rows: the group, type and frequency rows enabled, "On"; lead_lag: its captions and edits.
  constexpr bool T = true, F = false;
  // clang-format off
  struct Row { const char* name; double on, type; int running;
               bool on_rows, location, q, check, lead_lag; };
  const Row rows[] = {
      {"off", 0, 2, 0, F, F, F, T, F},
      {"notch on", 1, 2, 0, T, T, T, T, F},
      {"low pass 1st has no Q", 1, 0, 0, T, T, F, T, F},
      {"lead-lag 1st", 1, 8, 0, T, T, T, T, T},
      {"lead-lag while off", 0, 8, 0, F, F, F, T, T},
      {"running: no switching, no moving", 1, 1, 1, T, F, T, F, F},
      {"on 0.5 truncates to off", 0.5, 1, 0, F, F, F, T, F},
      {"infinite on is on", inf, 2, 0, T, T, T, T, F},
      {"type 9.7 truncates to lead-lag", 1, 9.7, 0, T, T, T, T, T},
      {"NaN type reads as 0", 1, nan, 0, T, T, F, T, F},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (const Ids& f : kIds) Set(*setup_, {{f.on, row.on}, {f.type, row.type}});
    CFiltersDialog dlg(*setup_, nullptr, row.running);
    dlg.OnInitDialog();
    for (const Ids& f : kIds) {
      SCOPED_TRACE(f.on);
      ExpectEnabled(dlg,
                    {f.group, f.type_label, f.type_combo, f.f1_label, f.f1_edit, f.f1_unit,
                     f.f2_edit, f.f2_unit},
                    row.on_rows);
      ExpectEnabled(dlg, {f.location_label, f.location_combo}, row.location);
      ExpectEnabled(dlg, {f.q_label, f.q_edit}, row.q);
      EXPECT_EQ(Enabled(dlg, f.check), row.check);
      EXPECT_EQ(dlg.GetChildText(f.check), row.on_rows ? "On" : "Off");
      EXPECT_EQ(dlg.GetChildText(f.q_label), row.lead_lag ? "Lag Frequency" : "Q");
      EXPECT_EQ(dlg.GetChildText(f.f1_label), row.lead_lag ? "Lead Frequency" : "Frequency");
      // The Q edit and the second frequency share one place: exactly one is visible.
      EXPECT_EQ(dlg.IsVisible(f.q_edit), !row.lead_lag);
      EXPECT_EQ(dlg.IsVisible(f.f2_edit), row.lead_lag);
      EXPECT_EQ(dlg.IsVisible(f.f2_unit), row.lead_lag);
    }
  }
}

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
  EXPECT_TRUE(Enabled(dlg, 3526));  // filter 3 is on
  EXPECT_EQ(Get("BQFilterLocation3"), 0);
  EXPECT_EQ(Get("BQFilterType1"), 8);
  EXPECT_EQ(dlg.GetChildText(3488), "Lag Frequency");
  EXPECT_EQ(Get("BQFilterF21"), 120);
  EXPECT_EQ(Get("BQFilterType2"), 0);
  EXPECT_EQ(dlg.GetChildText(3493), "Off");
}

// A setup without any filter parameter: nothing binds, every filter shows off, nothing crashes.
TEST_F(FiltersDialogTest, SetupWithoutFiltersShowsThemOff) {
  CMC_Setup empty;
  ReportedErrors errors;  // the missing names, reported while binding
  CFiltersDialog dlg(empty, nullptr);
  dlg.OnInitDialog();
  for (const Ids& f : kIds) {
    SCOPED_TRACE(f.on);
    ExpectEnabled(dlg, {f.group, f.type_combo}, false);
    // The unbound check box still answers a click, and the rules run again.
    EXPECT_TRUE(dlg.UserClick(f.check));
    EXPECT_EQ(dlg.GetChildText(f.check), "Off");
  }
}

}  // namespace
