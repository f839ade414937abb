// The unit catalogue.
//
// Every parameter and drive variable has a base unit (the unit the plug-in computes in, and the
// name GetScaleFactor dispatches on) and a display unit of the same unit type chosen by the user.
// Motion units come in a linear and a rotary family; ChangeUnitType moves a quantity from one
// family to the other ("mm" <-> "rot", "m/s" <-> "rpm").
//
// Unit names are Latin-1 ("°C" is "\xB0" "C", "µm" is "\xB5" "m").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/number_text.h"

namespace axis {

// Quantity kinds. Linear and rotary motion quantities are distinct types.
enum class UnitType {
  kNone,       // plain number, counts, register values
  kVoltage,    // voltage command
  kDcVoltage,  // DC-bus measurement ("V " base)
  kCurrent,
  kTime,
  kFrequency,
  kAngularRate,  // 1/s: pass bands, filter corners
  kLinearPosition,
  kAngularPosition,
  kLinearSpeed,
  kAngularSpeed,
  kLinearAcceleration,
  kAngularAcceleration,
  kLinearJerk,
  kAngularJerk,
  kTemperature,
  kVoltageRate,
  kCurrentRate,
  kResistance,
  kInductance,
  kMass,
  kForceConstant,
  kForce,
  kPercent,
  kVoltsPerDegree,
};

}  // namespace axis

class CMC_Unit {
 public:
  CMC_Unit(std::string name, axis::UnitType type, std::string base, double factor)
      : name_(std::move(name)), base_(std::move(base)), type_(type), factor_(factor) {}

  const std::string& GetName() const { return name_; }
  // The base unit of this unit's type ("m" for "mm").
  const std::string& GetBaseName() const { return base_; }
  int GetUnitType() const { return static_cast<int>(type_); }
  axis::UnitType Type() const { return type_; }
  // Base units per one of this unit: value_in_base = value_in_unit * factor.
  double GetFactor() const { return factor_; }
  bool IsBase() const { return name_ == base_; }

 private:
  std::string name_;
  std::string base_;
  axis::UnitType type_;
  double factor_;
};

class CMC_Units {
 public:
  // The catalogue of every unit the program knows.
  static const CMC_Units& Catalogue();

  // Case is ignored except for a trailing blank: "V " (DC bus) differs from "V".
  const CMC_Unit* FindUnit(std::string_view name) const;
  // The unit named, provided it is a base unit.
  const CMC_Unit* FindBaseUnit(std::string_view name) const;
  // The unit of the given type in the other motion family with the same scale role, used when a
  // quantity moves between linear and rotary ("mm" asked for a rotary quantity is not needed:
  // ChangeUnitType names the target unit itself).
  const std::vector<CMC_Unit>& All() const { return units_; }
  // All units sharing a unit type, base unit first.
  std::vector<const CMC_Unit*> UnitsOfType(axis::UnitType type) const;

 private:
  CMC_Units();
  std::vector<CMC_Unit> units_;
};

namespace axis {

// Whether a value in `unit` can be given for a quantity whose base unit is `base`: units of the
// same type, and any voltage for the DC bus ("V " is a volt that the plug-in scales apart).
bool UnitMeasures(const CMC_Unit& unit, const CMC_Unit& base);

// A value as a user types it: a number with an optional unit after it, with or without a blank
// ("16kHz", "30 mm", "2,5 ms" where `mark` allows the comma). Without a unit the number is in
// `default_unit` (the base unit when null). The unit must measure what `base` measures. Returns
// the value in the base unit, or nullopt with `error` saying why ("\"fast\" is not a number",
// "unknown unit \"furlongs\"" ...). Text is Latin-1, as every unit name inside the program.
std::optional<double> ParseValueWithUnit(std::string_view text, const CMC_Unit& base,
                                         const CMC_Unit* default_unit, DecimalMark mark,
                                         std::string& error);

}  // namespace axis
