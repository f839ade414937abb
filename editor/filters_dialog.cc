#include "editor/filters_dialog.h"

#include "host/numeric.h"
#include "host/text.h"

// Control ids and parameter names of one filter.
struct CFiltersDialog::FilterRow {
  const char* on;
  const char* type;
  const char* location;
  const char* q;
  const char* f1;
  const char* f2;
  int group, check;
  int location_label, location_combo;
  int type_label, type_combo;
  int q_label, q_edit;
  int f1_label, f1_edit, f1_unit;
  int f2_edit, f2_unit;  // stacked on the Q edit
};

namespace {

using Row = CFiltersDialog::FilterRow;

constexpr Row kFilters[] = {
    {"BQFilter1", "BQFilterType1", "BQFilterLocation1", "BQFilterQ1", "BQFilterF11", "BQFilterF21",
     3484, 3485, 3503, 3502, 3486, 3487, 3488, 3489, 3490, 3491, 3508, 3504, 3510},
    {"BQFilter2", "BQFilterType2", "BQFilterLocation2", "BQFilterQ2", "BQFilterF12", "BQFilterF22",
     3492, 3493, 3501, 3500, 3494, 3495, 3496, 3497, 3498, 3499, 3509, 3505, 3511},
    {"BQFilter3", "BQFilterType3", "BQFilterLocation3", "BQFilterQ3", "BQFilterF13", "BQFilterF23",
     3517, 3518, 3527, 3526, 3520, 3519, 3521, 3523, 3522, 3524, 3525, 3506, 3512},
};

bool IsLeadLag(int type) { return type == kestrel::kLeadLag1 || type == kestrel::kLeadLag2; }

// The parameter's value truncated to an integer; a missing parameter counts as 0.
int TruncatedValue(CMC_Setup& setup, const char* name) {
  const CMC_Parameter* p = setup.FindParameterNoError(name);
  return p == nullptr ? 0 : axis::TruncToInt(p->GetValueInBaseUnit());
}

}  // namespace

CFiltersDialog::CFiltersDialog(CMC_Setup& setup, CMC_EditSetupDlg* parent, int running)
    : CMySetupDlg(setup, kTemplateId, 1, nullptr, parent),
      types_(kestrel::OfferedBiquadTypes()),
      running_(running) {
  for (const Row& row : kFilters) {
    AddCheckParameterControls(row.on, row.check);
    AddParameterControls(row.q, row.q_edit, 0);
    AddParameterControls(row.f1, row.f1_edit, row.f1_unit);
    AddParameterControls(row.f2, row.f2_edit, row.f2_unit);
  }
}

int CFiltersDialog::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  for (const Row& row : kFilters) {
    ResetComboItems(row.type_combo);
    for (const kestrel::BiquadTypeRow& type : types_)
      AddComboItem(row.type_combo, type.name, type.index);
    ResetComboItems(row.location_combo);
    for (int location = 0; location < 3; ++location)
      AddComboItem(row.location_combo, kLocationNames[location], location);
  }
  for (const Row& row : kFilters) ShowComboParameter(row.type_combo, row.type);
  for (const Row& row : kFilters) ShowComboParameter(row.location_combo, row.location);
  RefreshAllParameters();
  DoDataExchange();
  return 1;
}

void CFiltersDialog::ShowComboParameter(int combo_id, const char* name) {
  const CMC_Parameter* p = setup_.FindParameterNoError(name);
  const axis::ControlState* combo = Control(combo_id);
  if (p == nullptr || combo == nullptr) return;
  const int64_t value = axis::TruncToInt64(p->GetValueInBaseUnit());
  int selection = -1;
  for (size_t i = 0; i < combo->items.size(); ++i) {
    if (combo->items[i].data == value) selection = static_cast<int>(i);
  }
  SetComboSelection(combo_id, selection);
}

void CFiltersDialog::DoDataExchange() {
  CMySetupDlg::DoDataExchange();
  for (const Row& row : kFilters) {
    ShowComboParameter(row.type_combo, row.type);
    ShowComboParameter(row.location_combo, row.location);
    ApplyRules(row);
  }
}

void CFiltersDialog::ApplyRules(const Row& row) {
  const bool on = TruncatedValue(setup_, row.on) != 0;
  const int type = TruncatedValue(setup_, row.type);
  const bool lead_lag = IsLeadLag(type);
  const bool running = running_ != 0;

  RefreshParameterControls(row.q);
  EnableChild(row.group, on);
  EnableChild(row.location_label, on && !running);
  EnableChild(row.location_combo, on && !running);
  EnableChild(row.type_label, on);
  EnableChild(row.type_combo, on);
  // A first-order low pass has no quality factor.
  EnableChild(row.q_label, on && type != kestrel::kLowPass1);
  EnableChild(row.q_edit, on && type != kestrel::kLowPass1, type == kestrel::kLowPass1 ? 1 : 0);
  for (int id : {row.f1_label, row.f1_edit, row.f1_unit, row.f2_edit, row.f2_unit})
    EnableChild(id, on);
  EnableChild(row.check, !running);
  SetChildText(row.check, on ? "On" : "Off");
  SetChildText(row.q_label, lead_lag ? "Lag Frequency" : "Q");
  SetChildText(row.f1_label, lead_lag ? "Lead Frequency" : "Frequency");
  ShowChild(row.f2_edit, lead_lag);
  ShowChild(row.f2_unit, lead_lag);
  ShowChild(row.q_edit, !lead_lag);
}

void CFiltersDialog::OnChangedParameterValue(const char* name) {
  for (const Row& row : kFilters) {
    if (name != nullptr && axis::EqualsNoCase(name, row.on)) DoDataExchange();
  }
  CMySetupDlg::OnChangedParameterValue(name);
}

void CFiltersDialog::OnCommand(int id) {
  // A check box reaches here only when its parameter is missing and it could not be bound.
  for (const Row& row : kFilters) {
    if (id == row.check) DoDataExchange();
  }
  CMySetupDlg::OnCommand(id);
}

void CFiltersDialog::OnSelectionChanged(int id) {
  for (const Row& row : kFilters) {
    const char* name = id == row.type_combo       ? row.type
                       : id == row.location_combo ? row.location
                                                  : nullptr;
    if (name == nullptr) continue;
    const int index = GetComboSelection(id);
    CMC_Parameter* p = setup_.FindParameterNoError(name);
    if (p != nullptr && index >= 0)
      p->SetValueInBaseUnit(static_cast<double>(GetComboItemData(id, index)));
    DoDataExchange();
  }
  CMySetupDlg::OnSelectionChanged(id);
}

int CFiltersDialog::WriteBiquadsToDrive() { return kestrel::WriteBiquadsToDrive(setup_); }
