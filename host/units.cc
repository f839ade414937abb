#include "host/units.h"

#include <cmath>
#include <numbers>

#include "host/text.h"

namespace {

using axis::UnitType;

struct UnitRow {
  const char* name;
  UnitType type;
  const char* base;
  double factor;  // base units per unit
};

constexpr double kPi = std::numbers::pi;

// One row per unit; the base unit of each type comes first in its group.
const UnitRow kUnitRows[] = {
    {"", UnitType::kNone, "", 1.0},
    {"V", UnitType::kVoltage, "V", 1.0},
    {"mV", UnitType::kVoltage, "V", 1e-3},
    {"V ", UnitType::kDcVoltage, "V ", 1.0},
    {"A", UnitType::kCurrent, "A", 1.0},
    {"mA", UnitType::kCurrent, "A", 1e-3},
    {"s", UnitType::kTime, "s", 1.0},
    {"ms", UnitType::kTime, "s", 1e-3},
    {"\xB5s", UnitType::kTime, "s", 1e-6},
    {"Hz", UnitType::kFrequency, "Hz", 1.0},
    {"kHz", UnitType::kFrequency, "Hz", 1e3},
    {"MHz", UnitType::kFrequency, "Hz", 1e6},
    {"1/s", UnitType::kAngularRate, "1/s", 1.0},
    {"m", UnitType::kLinearPosition, "m", 1.0},
    {"mm", UnitType::kLinearPosition, "m", 1e-3},
    {"\xB5m", UnitType::kLinearPosition, "m", 1e-6},
    {"rad", UnitType::kAngularPosition, "rad", 1.0},
    {"rot", UnitType::kAngularPosition, "rad", 2.0 * kPi},
    {"deg", UnitType::kAngularPosition, "rad", kPi / 180.0},
    {"m/s", UnitType::kLinearSpeed, "m/s", 1.0},
    {"mm/s", UnitType::kLinearSpeed, "m/s", 1e-3},
    {"rad/s", UnitType::kAngularSpeed, "rad/s", 1.0},
    {"rpm", UnitType::kAngularSpeed, "rad/s", 2.0 * kPi / 60.0},
    {"rot/s", UnitType::kAngularSpeed, "rad/s", 2.0 * kPi},
    {"m/s^2", UnitType::kLinearAcceleration, "m/s^2", 1.0},
    {"mm/s^2", UnitType::kLinearAcceleration, "m/s^2", 1e-3},
    {"rad/s^2", UnitType::kAngularAcceleration, "rad/s^2", 1.0},
    {"rot/s^2", UnitType::kAngularAcceleration, "rad/s^2", 2.0 * kPi},
    {"m/s^3", UnitType::kLinearJerk, "m/s^3", 1.0},
    {"mm/s^3", UnitType::kLinearJerk, "m/s^3", 1e-3},
    {"rad/s^3", UnitType::kAngularJerk, "rad/s^3", 1.0},
    {"rot/s^3", UnitType::kAngularJerk, "rad/s^3", 2.0 * kPi},
    {"\xB0"
     "C",
     UnitType::kTemperature,
     "\xB0"
     "C",
     1.0},
    {"V/s", UnitType::kVoltageRate, "V/s", 1.0},
    {"A/s", UnitType::kCurrentRate, "A/s", 1.0},
    {"Ohm", UnitType::kResistance, "Ohm", 1.0},
    {"mOhm", UnitType::kResistance, "Ohm", 1e-3},
    {"H", UnitType::kInductance, "H", 1.0},
    {"mH", UnitType::kInductance, "H", 1e-3},
    {"\xB5H", UnitType::kInductance, "H", 1e-6},
    {"kg", UnitType::kMass, "kg", 1.0},
    {"g", UnitType::kMass, "kg", 1e-3},
    {"N/A", UnitType::kForceConstant, "N/A", 1.0},
    {"N", UnitType::kForce, "N", 1.0},
    {"%", UnitType::kPercent, "%", 1.0},
    {"V/\xB0"
     "C",
     UnitType::kVoltsPerDegree,
     "V/\xB0"
     "C",
     1.0},
    {"mV/\xB0"
     "C",
     UnitType::kVoltsPerDegree,
     "V/\xB0"
     "C",
     1e-3},
};

// "V " and "V" differ only by the trailing blank, which case folding keeps apart.
bool SameUnitName(std::string_view a, std::string_view b) { return axis::EqualsNoCase(a, b); }

}  // namespace

const CMC_Units& CMC_Units::Catalogue() {
  static const CMC_Units catalogue;
  return catalogue;
}

CMC_Units::CMC_Units() {
  units_.reserve(std::size(kUnitRows));
  for (const UnitRow& row : kUnitRows)
    units_.emplace_back(row.name, row.type, row.base, row.factor);
}

const CMC_Unit* CMC_Units::FindUnit(std::string_view name) const {
  // Exact spelling first: "mOhm" and "MOhm" would fold together, and "m" vs "M" prefixes matter
  // for display units; fall back to a case-insensitive match for user input such as "KHZ".
  for (const CMC_Unit& unit : units_) {
    if (unit.GetName() == name) return &unit;
  }
  for (const CMC_Unit& unit : units_) {
    if (SameUnitName(unit.GetName(), name)) return &unit;
  }
  return nullptr;
}

const CMC_Unit* CMC_Units::FindBaseUnit(std::string_view name) const {
  const CMC_Unit* unit = FindUnit(name);
  return (unit != nullptr && unit->IsBase()) ? unit : nullptr;
}

std::vector<const CMC_Unit*> CMC_Units::UnitsOfType(axis::UnitType type) const {
  std::vector<const CMC_Unit*> result;
  for (const CMC_Unit& unit : units_) {
    if (unit.Type() == type) result.push_back(&unit);
  }
  return result;
}

namespace axis {

bool UnitMeasures(const CMC_Unit& unit, const CMC_Unit& base) {
  if (unit.GetBaseName() == base.GetName()) return true;
  return base.Type() == UnitType::kDcVoltage && unit.Type() == UnitType::kVoltage;
}

std::optional<double> ParseValueWithUnit(std::string_view text, const CMC_Unit& base,
                                         const CMC_Unit* default_unit, DecimalMark mark,
                                         std::string& error) {
  const std::string_view typed = TrimBlanks(text);
  const std::string quoted = "\"" + std::string(typed) + "\"";
  if (typed.empty()) {
    error = "no value given";
    return std::nullopt;
  }
  NumberPrefix number;
  switch (ReadNumberPrefix(typed, mark, number)) {
    case NumberFault::kNone:
      break;
    case NumberFault::kOutOfRange:
      error = quoted + " is too large or too small a number";
      return std::nullopt;
    case NumberFault::kNotANumber:
      error = quoted + " is not a number";
      return std::nullopt;
  }
  const std::string_view suffix = TrimBlanks(typed.substr(number.length));
  // "2,5" where only a point is taken: say so rather than call ",5" an unknown unit.
  if (mark == DecimalMark::kPoint && suffix.size() > 1 && suffix[0] == ',' && suffix[1] >= '0' &&
      suffix[1] <= '9') {
    error = quoted + " is not a number (the decimal mark is a point: \"" +
            std::string(typed.substr(0, number.length)) + "." + std::string(suffix.substr(1)) +
            "\")";
    return std::nullopt;
  }
  if (!std::isfinite(number.value)) {
    error = quoted + " is not a finite number";
    return std::nullopt;
  }
  const CMC_Unit* unit = default_unit != nullptr ? default_unit : &base;
  if (!suffix.empty()) {
    // "V " is the DC bus's own base unit; anywhere else the blank after a unit is no part of it.
    unit = CMC_Units::Catalogue().FindUnit(suffix);
    if (unit == nullptr) {
      error = "unknown unit \"" + std::string(suffix) + "\"";
      return std::nullopt;
    }
  }
  if (!UnitMeasures(*unit, base)) {
    error = "unit \"" + unit->GetName() + "\" does not measure what \"" + base.GetName() +
            "\" measures";
    return std::nullopt;
  }
  const double value = number.value * unit->GetFactor();
  if (!std::isfinite(value)) {
    error = quoted + " is too large a value";
    return std::nullopt;
  }
  return value;
}

}  // namespace axis
