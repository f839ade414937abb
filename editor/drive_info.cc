#include "editor/drive_info.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "host/text.h"
#include "passes/passes.h"

namespace {

// Text fields (not parameters).
constexpr int kDriveName = 3275;
constexpr int kE2ROMSize = 3276;
constexpr int kProductId = 3277;
constexpr int kFirmwareId = 3278;
constexpr int kApplicationId = 3114;

// Parameter bindings: name, edit or check box id, unit combo id (0 for a check box).
struct ControlBinding {
  const char* name;
  int control;
  int unit;
};

constexpr ControlBinding kEdits[] = {
    {"VMOT_min", 3087, 3088},
    {"VMOT_max", 3089, 3090},
    {"VLOG_min", 3092, 3093},
    {"VLOG_max", 3094, 3095},
    {"InPS", 1159, 1160},
    {"ImaxPS", 1161, 1162},
    {"VdcMaxMeasurable", 1163, 1164},
    {"AnalogueInputsRange", 1179, 1180},
    {"DriveTempSensorGain", 1165, 1166},
    {"DriveTempOutputAt0oC", 1167, 1168},
    {"UMAX_PROT", 1169, 1170},
    {"UMIN_PROT", 1171, 1172},
    {"I_I2t_D", 1173, 1174},
    {"t_I2t_D", 1175, 1176},
    {"Temp_2", 1177, 1178},
};

constexpr ControlBinding kChecks[] = {
    {"isDriveTemperatureSensor", 3097, 0}, {"isOverVoltage", 3103, 0},
    {"isUnderVoltage", 3105, 0},           {"isDriveI2t", 3107, 0},
    {"isDriveOverTemp", 3325, 0},
};

// Enabling: which controls follow the edit flag, a switch, or both.
enum class Needs { kEdit, kEditAndSwitch, kSwitch };

struct EnableRow {
  Needs needs;
  const char* flag;  // the switch, null when only the edit flag counts
  std::vector<int> ids;
};

const EnableRow kEnableRows[] = {
    {Needs::kEdit,
     nullptr,
     {3087, 3089, 3092, 3094, 1159, 1161, 1163, 1179, 3097, 3103, 3105, 3107, kDriveName,
      kE2ROMSize, kProductId, kFirmwareId}},
    {Needs::kEditAndSwitch, "isDriveTemperatureSensor", {1165, 1167, 3325}},
    {Needs::kEditAndSwitch, "isOverVoltage", {1169}},
    {Needs::kEditAndSwitch, "isUnderVoltage", {1171}},
    {Needs::kEditAndSwitch, "isDriveI2t", {1173, 1175}},
    {Needs::kEditAndSwitch, "isDriveOverTemp", {1177}},
    {Needs::kSwitch, "isDriveTemperatureSensor", {1166, 1168, 3098, 3101}},
    {Needs::kSwitch, "isOverVoltage", {1170, 3104}},
    {Needs::kSwitch, "isUnderVoltage", {1172, 3106}},
    {Needs::kSwitch, "isDriveI2t", {1174, 3108, 1176, 3109}},
    {Needs::kSwitch, "isDriveOverTemp", {1178, 3326}},
};

// A switch is set when it is exactly 1.0; a missing one counts as clear.
bool IsSet(CMC_Setup& setup, const char* name) {
  const CMC_Parameter* p = setup.FindParameterNoError(name);
  return p != nullptr && p->GetValueInBaseUnit() == 1.0;
}

bool IsCheckName(const char* name) {
  return std::any_of(std::begin(kChecks), std::end(kChecks),
                     [&](const ControlBinding& b) { return axis::EqualsNoCase(name, b.name); });
}

}  // namespace

CDriveInfo::CDriveInfo(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMySetupDlg(setup, kTemplateId, 1, nullptr, parent) {
  for (const ControlBinding& b : kEdits) AddParameterControls(b.name, b.control, b.unit);
  for (const ControlBinding& b : kChecks) AddCheckParameterControls(b.name, b.control);
}

int CDriveInfo::OnInitDialog() {
  CMySetupDlg::OnInitDialog();
  SetChildText(kE2ROMSize, std::to_string(setup_.GetE2ROMSize() >> 10).c_str());
  SetChildText(kFirmwareId, setup_.GetFirmwareID().c_str());
  SetChildText(kProductId, setup_.GetProductID().c_str());
  SetChildText(kDriveName, setup_.GetDescription().c_str());
  SetChildText(kApplicationId, setup_.GetUserAppID().c_str());
  LimitText(kApplicationId, kApplicationIdLength);
  DoDataExchange();
  return 1;
}

void CDriveInfo::DoDataExchange() {
  CMySetupDlg::DoDataExchange();
  const bool editing = edit_ != 0;
  for (const EnableRow& row : kEnableRows) {
    const bool set = row.flag == nullptr || IsSet(setup_, row.flag);
    const bool enable = row.needs == Needs::kSwitch ? set : editing && set;
    for (int id : row.ids) EnableChild(id, enable);
  }
}

bool CDriveInfo::IsEditChord(const std::string& chord) {
  bool ctrl = false, alt = false, shift = false;
  std::string key;
  size_t begin = 0;
  while (begin <= chord.size()) {
    const size_t end = std::min(chord.find('+', begin), chord.size());
    const std::string part = chord.substr(begin, end - begin);
    if (end == chord.size()) {
      key = part;
    } else if (axis::EqualsNoCase(part, "Ctrl") && !ctrl) {
      ctrl = true;
    } else if (axis::EqualsNoCase(part, "Alt") && !alt) {
      alt = true;
    } else if (axis::EqualsNoCase(part, "Shift") && !shift) {
      shift = true;
    } else {
      return false;  // another modifier, or one named twice
    }
    begin = end + 1;
  }
  return ctrl && alt && shift && axis::EqualsNoCase(key, "E");
}

bool CDriveInfo::OnKeyChord(const std::string& chord) {
  if (IsEditChord(chord)) {
    edit_ = edit_ == 0 ? 1 : 0;
    DoDataExchange();
  }
  // The key goes on to the normal dialog handling either way.
  return CMySetupDlg::OnKeyChord(chord);
}

// Over-temperature protection needs the drive's temperature sensor.
void CDriveInfo::ApplyTemperatureRule() {
  CMC_Parameter* sensor = setup_.FindParameterNoError("isDriveTemperatureSensor");
  CMC_Parameter* over_temp = setup_.FindParameterNoError("isDriveOverTemp");
  if (sensor != nullptr && over_temp != nullptr && sensor->GetValueInBaseUnit() == 0.0 &&
      over_temp->GetValueInBaseUnit() == 1.0) {
    over_temp->SetValueInBaseUnit(0.0);
    RefreshParameterControls("isDriveOverTemp");
  }
  DoDataExchange();
}

void CDriveInfo::OnChangedParameterValue(const char* name) {
  if (name != nullptr && IsCheckName(name)) ApplyTemperatureRule();
  CMySetupDlg::OnChangedParameterValue(name);
}

void CDriveInfo::OnCommand(int id) {
  // A check box reaches here only when its parameter is missing and it could not be bound.
  if (std::any_of(std::begin(kChecks), std::end(kChecks),
                  [&](const ControlBinding& b) { return b.control == id; }))
    ApplyTemperatureRule();
  CMySetupDlg::OnCommand(id);
}

int64_t CDriveInfo::LeadingDecimal(const std::string& text) {
  constexpr int64_t kLimit = INT64_MAX / 10 - 9;
  size_t i = text.find_first_not_of(" \t");
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value >= kLimit ? kLimit : value * 10 + (text[i] - '0');
  return value;
}

void CDriveInfo::OnOK() {
  // The host holds 16 bits of words: larger sizes are limited, and the user is told.
  int64_t kwords = LeadingDecimal(GetChildText(kE2ROMSize));
  if (kwords > kMaxE2ROMKwords) {
    MessageBox("The E2ROM size is at most 63 Kwords; 63 Kwords are stored.",
               axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
    kwords = kMaxE2ROMKwords;
  }
  setup_.SetE2ROMSize(static_cast<int>(kwords * 1024));
  setup_.SetUserAppID(GetChildText(kApplicationId));
  setup_.SetProductID(GetChildText(kProductId));
  setup_.SetDescription(GetChildText(kDriveName));
  if (setup_.SetFirmwareID(GetChildText(kFirmwareId)) == 0)
    MessageBox("Error setting the firmware ID!", axis::MessageButtons::kOk,
               axis::MessageIcon::kError);
  kestrel::ComputeRegistersFromParameters(setup_);
  CMySetupDlg::OnOK();
}
