#include "host/can_settings.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "host/dialog_handlers.h"
#include "host/numeric.h"
#include "host/plugin_services.h"

namespace axis {

namespace {

// A NaN bound leaves that side of the range open.
bool WithinRange(const CMC_Parameter& p, double value) {
  return !(value < p.GetMinInBaseUnit()) && !(value > p.GetMaxInBaseUnit());
}

// The rates the combo offers for the parameter: the standard ones it can hold, and its present
// value when that is a positive rate of its own.
std::vector<int64_t> OfferedRates(const CMC_Parameter& p) {
  std::vector<int64_t> rates;
  for (int64_t rate : kCanBitRates) {
    if (WithinRange(p, static_cast<double>(rate))) rates.push_back(rate);
  }
  const double value = p.GetValueInBaseUnit();
  if (std::isfinite(value) && value >= 1.0) {
    const int64_t present = TruncToInt64(RoundToIntegral(value));
    if (std::find(rates.begin(), rates.end(), present) == rates.end()) {
      rates.insert(std::upper_bound(rates.begin(), rates.end(), present), present);
    }
  }
  return rates;
}

bool SameItems(const ControlState& combo, const std::vector<int64_t>& rates) {
  if (combo.items.size() != rates.size()) return false;
  for (size_t i = 0; i < rates.size(); ++i) {
    if (combo.items[i].data != rates[i]) return false;
  }
  return true;
}

}  // namespace

std::string CanBitRateText(int64_t kbit_per_s) {
  if (kbit_per_s >= 1000 && kbit_per_s % 1000 == 0)
    return std::to_string(kbit_per_s / 1000) + " Mbit/s";
  return std::to_string(kbit_per_s) + " kbit/s";
}

bool ShowCanBitRate(CMC_EditSetupDlg& dialog, CMC_Setup& setup) {
  const ControlState* combo = dialog.Control(kCanBitRateCombo);
  if (combo == nullptr) return false;
  const CMC_Parameter* p = setup.FindParameterNoError(kCanBitRateName);
  if (p == nullptr) {
    dialog.ResetComboItems(kCanBitRateCombo);
    dialog.EnableChild(kCanBitRateCombo, 0);
    return false;
  }
  const std::vector<int64_t> rates = OfferedRates(*p);
  // Rebuilt only when the list changes: every refresh of the dialog comes through here.
  if (!SameItems(*combo, rates)) {
    dialog.ResetComboItems(kCanBitRateCombo);
    for (int64_t rate : rates)
      dialog.AddComboItem(kCanBitRateCombo, CanBitRateText(rate).c_str(), rate);
  }
  int selection = -1;
  for (size_t i = 0; i < rates.size(); ++i) {
    if (static_cast<double>(rates[i]) == p->GetValueInBaseUnit()) selection = static_cast<int>(i);
  }
  dialog.SetComboSelection(kCanBitRateCombo, selection);
  return true;
}

void StoreCanBitRate(CMC_EditSetupDlg& dialog, CMC_Setup& setup) {
  CMC_Parameter* p = setup.FindParameterNoError(kCanBitRateName);
  const int selection = dialog.GetComboSelection(kCanBitRateCombo);
  if (p == nullptr || selection < 0) return;
  const std::string name = p->GetName();
  p->SetValueInBaseUnit(static_cast<double>(dialog.GetComboItemData(kCanBitRateCombo, selection)));
  dialog.OnRefreshParameterValue(name.c_str());
  dialog.OnChangedParameterValue(name.c_str());
}

namespace {

// The CANopen settings dialog on its own (the front end's drawings of every dialog): as the
// button opens it, with no dialog behind.
int OpenCanOpenSettingsAlone(CMC_Setup* setup) {
  if (setup == nullptr) return 0;
  if (!CMC_CANopenSettingsDlg::SetupHasSettings(*setup)) return 0;
  CMC_CANopenSettingsDlg dialog(*setup, nullptr);
  return dialog.DoModal();
}

const bool kRegistered = [] {
  RegisterSetupService(OpenDialogServiceName(kCanOpenSettingsTemplate).c_str(),
                       &OpenCanOpenSettingsAlone);
  return true;
}();

}  // namespace

int OpenCanOpenSettings(CMC_EditSetupDlg& owner, CMC_Setup& setup) {
  if (!CMC_CANopenSettingsDlg::SetupHasSettings(setup)) {
    owner.MessageBox("The setup holds no CANopen settings.", MessageButtons::kOk,
                     MessageIcon::kInformation);
    return 0;
  }
  CMC_CANopenSettingsDlg dialog(setup, &owner);
  return dialog.DoModal() == kIdOk ? 1 : 0;
}

namespace {

// The bit-rate combo and the "CANopen settings..." button, run for their dialog.
class CanSettingsHandler final : public DialogHandler {
 public:
  explicit CanSettingsHandler(CMC_EditSetupDlg& dialog) : dialog_(dialog) {}
  bool OnCommand(int id) override {
    if (id != kCanOpenSettingsButton) return false;
    OpenCanOpenSettings(dialog_, dialog_.GetSetup());
    return true;
  }
  bool OnSelectionChanged(int id) override {
    if (id != kCanBitRateCombo) return false;
    StoreCanBitRate(dialog_, dialog_.GetSetup());
    return true;
  }
  void OnRefresh() override { ShowCanBitRate(dialog_, dialog_.GetSetup()); }

 private:
  CMC_EditSetupDlg& dialog_;
};

}  // namespace

std::unique_ptr<DialogHandler> MakeCanSettingsHandler(CMC_EditSetupDlg& dialog, bool& bound) {
  const ControlState* combo = dialog.Control(kCanBitRateCombo);
  bound = false;
  if (combo == nullptr || combo->kind != ControlKind::kCombo) return nullptr;
  bound = ShowCanBitRate(dialog, dialog.GetSetup());
  return std::make_unique<CanSettingsHandler>(dialog);
}

}  // namespace axis

CMC_CANopenSettingsDlg::CMC_CANopenSettingsDlg(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMC_EditSetupDlg(setup, axis::kCanOpenSettingsTemplate, 1, nullptr, parent) {
  for (const Row& row : kRows) {
    CMC_Parameter* p = setup_.FindParameterNoError(row.name);
    if (p != nullptr && AddParameterControls(row.name, row.edit_id, row.unit_id) != 0) {
      saved_.push_back({p, p->GetValueInBaseUnit()});
      continue;
    }
    const int ids[] = {row.label_id, row.edit_id, row.unit_id, 0};
    ShowChildren(ids, 0);
  }
}

bool CMC_CANopenSettingsDlg::SetupHasSettings(CMC_Setup& setup) {
  return std::any_of(std::begin(kRows), std::end(kRows), [&](const Row& row) {
    return setup.FindParameterNoError(row.name) != nullptr;
  });
}

void CMC_CANopenSettingsDlg::OnCancel() {
  for (const Saved& s : saved_) s.parameter->SetValueInBaseUnit(s.value);
  CMC_EditSetupDlg::OnCancel();
}
