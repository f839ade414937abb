#include "host/setup.h"

#include <charconv>
#include <string>

#include "host/dialog_model.h"
#include "host/number_text.h"
#include "host/numeric.h"
#include "host/text.h"

extern "C" {
int g_bShowErrors = 1;
}

namespace axis {

namespace {
ScaleProvider& DefaultProvider() {
  static ScaleProvider provider;
  return provider;
}
}  // namespace

LookupObserver g_lookup_observer = nullptr;
void SetLookupObserver(LookupObserver observer) { g_lookup_observer = observer; }

void SetDefaultScaleProvider(ScaleProvider provider) { DefaultProvider() = provider; }
ScaleProvider DefaultScaleProvider() { return DefaultProvider(); }

}  // namespace axis

// ---------------------------------------------------------------------------------------------
// CMC_Quantity

CMC_Quantity::CMC_Quantity(CMC_Setup* owner, std::string name, std::string base_unit,
                           std::string display_unit)
    : owner_(owner),
      name_(std::move(name)),
      base_unit_(std::move(base_unit)),
      display_unit_(display_unit.empty() ? base_unit_ : std::move(display_unit)) {}

double CMC_Quantity::ScaleFactor() const {
  const axis::ScaleProvider& provider = owner_->GetScaleProvider();
  if (provider.factor == nullptr) return 1.0;
  return provider.factor(owner_, base_unit_.c_str(), name_.c_str());
}

double CMC_Quantity::ScaleOffset() const {
  const axis::ScaleProvider& provider = owner_->GetScaleProvider();
  if (provider.offset == nullptr) return 0.0;
  return provider.offset(owner_, base_unit_.c_str());
}

double CMC_Quantity::GetValueInInternalUnit() const {
  return GetValueInBaseUnit() / ScaleFactor() - ScaleOffset();
}

void CMC_Quantity::SetValueInInternalUnit(double internal) {
  SetValueInBaseUnit((internal + ScaleOffset()) * ScaleFactor());
}

const CMC_Unit* CMC_Quantity::GetUnit() const {
  return CMC_Units::Catalogue().FindUnit(display_unit_);
}

double CMC_Quantity::GetValueInDisplayUnit() const {
  const CMC_Unit* unit = GetUnit();
  return unit == nullptr ? GetValueInBaseUnit() : GetValueInBaseUnit() / unit->GetFactor();
}

void CMC_Quantity::SetValueInDisplayUnit(double value) {
  const CMC_Unit* unit = GetUnit();
  SetValueInBaseUnit(unit == nullptr ? value : value * unit->GetFactor());
}

std::string CMC_Quantity::PrintValue() const {
  return axis::FormatNumber(GetValueInDisplayUnit(), 6);
}

int CMC_Quantity::ChangeUnit(const char* unit_name) {
  if (unit_name == nullptr) return 0;
  const CMC_Unit* unit = CMC_Units::Catalogue().FindUnit(unit_name);
  if (unit == nullptr || unit->GetBaseName() != base_unit_) return 0;
  display_unit_ = unit->GetName();
  return 1;
}

int CMC_Quantity::ChangeUnitType(const char* unit_name) {
  if (unit_name == nullptr) return 0;
  const CMC_Unit* unit = CMC_Units::Catalogue().FindUnit(unit_name);
  if (unit == nullptr) return 0;
  base_unit_ = unit->GetBaseName();
  display_unit_ = unit->GetName();
  return 1;
}

// ---------------------------------------------------------------------------------------------
// CMC_Parameter / CMC_Variable

CMC_Parameter::CMC_Parameter(CMC_Setup* owner, std::string name, std::string base_unit,
                             std::string display_unit, int type, bool is_integer)
    : CMC_Quantity(owner, std::move(name), std::move(base_unit), std::move(display_unit)),
      type_(type),
      is_integer_(is_integer) {}

void CMC_Parameter::SetValueInBaseUnit(double value) {
  value_ = is_integer_ ? axis::RoundToIntegral(value) : value;
}

std::unique_ptr<CMC_Parameter> CMC_Parameter::DetachedCopy() const {
  auto copy =
      std::make_unique<CMC_Parameter>(owner_, name_, base_unit_, display_unit_, type_, is_integer_);
  copy->value_ = value_;
  copy->min_ = min_;
  copy->max_ = max_;
  return copy;
}

int CMC_Parameter::WriteToChip() {
  CMC_Comm* comm = owner_->GetComm();
  if (comm == nullptr) return 0;
  return comm->WriteRegister(name_, GetValueInInternalUnit()) ? 1 : 0;
}

CMC_Variable::CMC_Variable(CMC_Setup* owner, std::string name, std::string base_unit,
                           std::string display_unit, std::string kind)
    : CMC_Quantity(owner, std::move(name), std::move(base_unit), std::move(display_unit)),
      kind_(std::move(kind)) {}

int CMC_Variable::ReadFromChip() {
  CMC_Comm* comm = owner_->GetComm();
  double internal = 0.0;
  if (comm == nullptr || !comm->ReadVariable(name_, internal)) return 0;
  SetValueInInternalUnit(internal);
  return 1;
}

int CMC_Variable::WriteToChip() {
  CMC_Comm* comm = owner_->GetComm();
  if (comm == nullptr) return 0;
  return comm->WriteVariable(name_, GetValueInInternalUnit()) ? 1 : 0;
}

int CMC_Setup::ExecuteString(const char* command, int, void*) {
  return comm_ != nullptr && command != nullptr && comm_->ExecuteString(command) ? 1 : 0;
}

CMC_Parameter* CMC_Parameters::operator[](int index) const {
  if (index < 0 || index >= GetParametersCount()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

// ---------------------------------------------------------------------------------------------
// CMC_Setup

CMC_Setup::CMC_Setup() : scale_provider_(axis::DefaultScaleProvider()) {}

namespace {
bool CheckNewName(const std::string& name, const axis::NameIndex& index, const char* what,
                  std::string* error) {
  if (name.empty()) {
    if (error) *error = std::string(what) + " with an empty name";
    return false;
  }
  if (index.Find(name) != axis::NameIndex::kNotFound) {
    if (error) *error = std::string("duplicate ") + what + " name \"" + name + "\"";
    return false;
  }
  return true;
}

// The base unit and the display unit (the base unit itself when none is named) of a new
// quantity; false, with the reason, when either is unknown or they measure different things.
bool ResolveUnits(const std::string& base, const std::string& display, std::string* error,
                  const CMC_Unit*& base_unit, const CMC_Unit*& display_unit) {
  const CMC_Units& units = CMC_Units::Catalogue();
  base_unit = units.FindBaseUnit(base);
  if (base_unit == nullptr) {
    if (error) *error = "unknown base unit \"" + axis::Latin1ToUtf8(base) + "\"";
    return false;
  }
  if (display.empty()) {
    display_unit = base_unit;
    return true;
  }
  display_unit = units.FindUnit(display);
  if (display_unit == nullptr) {
    if (error) *error = "unknown unit \"" + axis::Latin1ToUtf8(display) + "\"";
    return false;
  }
  if (display_unit->GetBaseName() != base_unit->GetName()) {
    if (error)
      *error = "unit \"" + axis::Latin1ToUtf8(display) + "\" does not measure the same as \"" +
               axis::Latin1ToUtf8(base) + "\"";
    return false;
  }
  return true;
}
}  // namespace

CMC_Parameter* CMC_Setup::AddParameter(const axis::ParameterDescription& desc, std::string* error) {
  if (!CheckNewName(desc.name, parameter_index_, "parameter", error)) return nullptr;
  const CMC_Unit *base, *display;
  if (!ResolveUnits(desc.base_unit, desc.display_unit, error, base, display)) return nullptr;
  auto parameter = std::make_unique<CMC_Parameter>(this, desc.name, base->GetName(),
                                                   display->GetName(), desc.type, desc.is_integer);
  parameter->SetMinInBaseUnit(desc.min);
  parameter->SetMaxInBaseUnit(desc.max);
  parameter->SetValueInBaseUnit(desc.value);
  parameter_index_.Insert(desc.name, parameters_.GetParametersCount());
  parameters_.items_.push_back(std::move(parameter));
  return parameters_.items_.back().get();
}

std::unique_ptr<CMC_Parameter> CMC_Parameter::InitializeMotionParam(CMC_Setup& setup,
                                                                    const char* name, bool whole,
                                                                    const char* unit,
                                                                    const char* default_text,
                                                                    double min, double max) {
  const CMC_Unit *base = nullptr, *display = nullptr;
  if (name == nullptr || !ResolveUnits(unit != nullptr ? unit : "", "", nullptr, base, display))
    return nullptr;
  auto parameter = std::make_unique<CMC_Parameter>(&setup, name, base->GetName(),
                                                   display->GetName(), axis::kTypePhysical, whole);
  parameter->SetMinInBaseUnit(min);
  parameter->SetMaxInBaseUnit(max);
  parameter->SetValueInBaseUnit(
      axis::ParseNumber(default_text != nullptr ? default_text : "").value_or(0.0));
  return parameter;
}

CMC_Variable* CMC_Setup::AddVariable(const axis::VariableDescription& desc, std::string* error) {
  if (!CheckNewName(desc.name, variable_index_, "variable", error)) return nullptr;
  const CMC_Unit *base, *display;
  if (!ResolveUnits(desc.base_unit, desc.display_unit, error, base, display)) return nullptr;
  auto variable = std::make_unique<CMC_Variable>(this, desc.name, base->GetName(),
                                                 display->GetName(), desc.kind);
  variable->SetValueInBaseUnit(desc.value);
  variable_index_.Insert(desc.name, static_cast<int>(variables_.size()));
  variables_.push_back(std::move(variable));
  return variables_.back().get();
}

void CMC_Setup::Reserve(size_t parameters, size_t variables) {
  parameters_.items_.reserve(parameters);
  parameter_index_.Reserve(parameters);
  variables_.reserve(variables);
  variable_index_.Reserve(variables);
}

const CMC_Parameter* CMC_Setup::FindParameter(std::string_view name) const {
  const int index = parameter_index_.Find(name);
  return index == axis::NameIndex::kNotFound ? nullptr : parameters_[index];
}

CMC_Parameter* CMC_Setup::FindParameterNoError(std::string_view name) {
  if (axis::g_lookup_observer != nullptr) axis::g_lookup_observer(name);
  const int index = parameter_index_.Find(name);
  // The index only ever holds positions of parameters added: no bounds check needed here.
  return index == axis::NameIndex::kNotFound ? nullptr
                                             : parameters_.items_[static_cast<size_t>(index)].get();
}

namespace {
// Out of line: the lookup that finds its name stays small.
[[gnu::cold, gnu::noinline]] void ReportMissingParameter(std::string_view name) {
  if (g_bShowErrors != 0) axis::ReportError("Parameter \"" + std::string(name) + "\" not found");
}
}  // namespace

CMC_Parameter* CMC_Setup::FindParameter(std::string_view name) {
  CMC_Parameter* parameter = FindParameterNoError(name);
  if (parameter == nullptr) ReportMissingParameter(name);
  return parameter;
}

CMC_Variable* CMC_Setup::FindVariable(std::string_view name, int /*flag*/) {
  const int index = variable_index_.Find(name);
  return index == axis::NameIndex::kNotFound ? nullptr
                                             : variables_[static_cast<size_t>(index)].get();
}

double CMC_Setup::GetParameterValueInBaseUnit(std::string_view name) {
  const CMC_Parameter* parameter = FindParameter(name);
  return parameter == nullptr ? 0.0 : parameter->GetValueInBaseUnit();
}

double CMC_Setup::GetParameterValueInInternalUnit(std::string_view name) {
  const CMC_Parameter* parameter = FindParameter(name);
  return parameter == nullptr ? 0.0 : parameter->GetValueInInternalUnit();
}

int CMC_Setup::SetParameterValueInBaseUnit(std::string_view name, double value) {
  CMC_Parameter* parameter = FindParameter(name);
  if (parameter == nullptr) return 0;
  parameter->SetValueInBaseUnit(value);
  return 1;
}

int CMC_Setup::SetParameterValueInInternalUnit(std::string_view name, double value) {
  CMC_Parameter* parameter = FindParameter(name);
  if (parameter == nullptr) return 0;
  parameter->SetValueInInternalUnit(value);
  return 1;
}

int CMC_Setup::ChangeParameterUnit(std::string_view name, const char* unit) {
  CMC_Parameter* parameter = FindParameter(name);
  return parameter == nullptr ? 0 : parameter->ChangeUnit(unit);
}

const char* CMC_Setup::GetParameterUnit(std::string_view name) {
  const CMC_Parameter* parameter = FindParameter(name);
  return parameter == nullptr ? "" : parameter->GetUnitName();
}

const std::pair<std::string, std::string>* CMC_Setup::FindOption(std::string_view name) const {
  const int index = option_index_.Find(name);
  return index == axis::NameIndex::kNotFound ? nullptr : &options_[static_cast<size_t>(index)];
}

int CMC_Setup::GetIntOption(std::string_view name) const {
  const auto* option = FindOption(name);
  if (option == nullptr) return 0;
  std::string_view text = option->second;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() ? value : 0;
}

std::string CMC_Setup::GetOptionNoError(std::string_view name) const {
  const auto* option = FindOption(name);
  return option == nullptr ? std::string() : option->second;
}

bool CMC_Setup::HasOption(std::string_view name) const { return FindOption(name) != nullptr; }

void CMC_Setup::SetOption(std::string_view name, std::string_view text) {
  const int index = option_index_.Find(name);
  if (index != axis::NameIndex::kNotFound) {
    options_[static_cast<size_t>(index)].second = std::string(text);  // the first spelling stays
    return;
  }
  option_index_.Insert(name, static_cast<int>(options_.size()));
  options_.emplace_back(std::string(name), std::string(text));
}

void CMC_Setup::ClearOption(std::string_view name) {
  const int index = option_index_.Find(name);
  if (index == axis::NameIndex::kNotFound) return;
  options_.erase(options_.begin() + index);
  // The options after it moved up by one.
  option_index_.Clear();
  for (size_t i = 0; i < options_.size(); ++i)
    option_index_.Insert(options_[i].first, static_cast<int>(i));
}

int CMC_Setup::GetIOPortFromPin(int pin) const {
  for (const axis::IoPort& entry : io_ports_) {
    if (entry.pin == pin) return entry.port;
  }
  return -1;
}

int CMC_Setup::GetIOPinFromPort(int port) const {
  for (const axis::IoPort& entry : io_ports_) {
    if (entry.port == port) return entry.pin;
  }
  return -1;
}

int CMC_Setup::IsBrakePortEnable(int port) const {
  for (const axis::IoPort& entry : io_ports_) {
    if (entry.port != port) continue;
    return axis::kBrakePortEnabled |
           (entry.stage == axis::OutputStage::kSource ? axis::kBrakePortSource
                                                      : axis::kBrakePortSink);
  }
  return 0;
}

int CMC_Setup::IsOutputPortInverted(int port) const {
  for (const axis::IoPort& entry : io_ports_) {
    if (entry.port == port) return entry.inverted ? 1 : 0;
  }
  return 0;
}

int CMC_Setup::FillIOBrakeCombo(axis::DialogModel& dialog, int combo_id) const {
  dialog.ResetComboItems(combo_id);
  int count = 0;
  for (const axis::IoPort& entry : io_ports_) {
    const std::string text =
        "Output " + std::to_string(entry.port) + " (pin " + std::to_string(entry.pin) + ")";
    if (dialog.AddComboItem(combo_id, text.c_str(), entry.port) >= 0) ++count;
  }
  return count;
}

unsigned int Compute_ADCMaxValue(const CMC_Setup* setup) {
  return setup == nullptr ? 0u : setup->GetAdcFullScale();
}
