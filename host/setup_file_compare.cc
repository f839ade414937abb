// Comparing setups in everything a setup file holds.
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "host/json_file.h"
#include "host/numeric.h"
#include "host/setup_file.h"
#include "host/setup_file_format.h"
#include "host/text.h"

namespace axis {

namespace {

// A text of the setup (Latin-1) as a message shows it.
std::string Shown(std::string_view latin1) { return QuotedExcerpt(Latin1ToUtf8(latin1)); }

std::string NumberText(double value) {
  std::string text;
  setup_format::AppendNumber(text, value);
  return text;
}

}  // namespace

std::string FirstDifference(const CMC_Setup& a, const CMC_Setup& b) {
  auto differ = [](const std::string& what, const std::string& left, const std::string& right) {
    return what + ": " + left + " vs " + right;
  };
  const std::pair<std::string, std::string> identity[] = {{a.GetDescription(), b.GetDescription()},
                                                          {a.GetProductID(), b.GetProductID()},
                                                          {a.GetFirmwareID(), b.GetFirmwareID()},
                                                          {a.GetUserAppID(), b.GetUserAppID()}};
  for (const auto& [left, right] : identity) {
    if (left != right) return differ("identity", Shown(left), Shown(right));
  }
  if (a.GetE2ROMSize() != b.GetE2ROMSize() || a.GetAdcFullScale() != b.GetAdcFullScale()) {
    return "identity: eeprom words or ADC full scale";
  }
  if (a.GetOptions() != b.GetOptions()) return "options";
  const auto& ports_a = a.GetIoPorts();
  const auto& ports_b = b.GetIoPorts();
  if (ports_a.size() != ports_b.size()) return "I/O port count";
  for (size_t i = 0; i < ports_a.size(); ++i) {
    if (ports_a[i].port != ports_b[i].port || ports_a[i].pin != ports_b[i].pin ||
        ports_a[i].stage != ports_b[i].stage || ports_a[i].inverted != ports_b[i].inverted) {
      return "I/O port " + std::to_string(i);
    }
  }
  const CMC_Parameters& pa = a.GetParameters();
  const CMC_Parameters& pb = b.GetParameters();
  if (pa.GetParametersCount() != pb.GetParametersCount()) return "parameter count";
  for (int i = 0; i < pa.GetParametersCount(); ++i) {
    const CMC_Parameter& x = *pa[i];
    const CMC_Parameter& y = *pb[i];
    const std::string what = "parameter " + Shown(x.GetName());
    if (x.GetName() != y.GetName() || x.GetBaseUnitName() != y.GetBaseUnitName() ||
        std::string(x.GetUnitName()) != y.GetUnitName() || x.GetType() != y.GetType() ||
        x.IsInteger() != y.IsInteger()) {
      return what + ": name, unit, type or integer flag";
    }
    const std::pair<double, double> numbers[] = {{x.GetValueInBaseUnit(), y.GetValueInBaseUnit()},
                                                 {x.GetMinInBaseUnit(), y.GetMinInBaseUnit()},
                                                 {x.GetMaxInBaseUnit(), y.GetMaxInBaseUnit()}};
    for (const auto& [left, right] : numbers) {
      if (!SameDouble(left, right)) return differ(what, NumberText(left), NumberText(right));
    }
  }
  const auto& va = a.GetVariables();
  const auto& vb = b.GetVariables();
  if (va.size() != vb.size()) return "variable count";
  for (size_t i = 0; i < va.size(); ++i) {
    const CMC_Variable& x = *va[i];
    const CMC_Variable& y = *vb[i];
    if (x.GetName() != y.GetName() || x.GetBaseUnitName() != y.GetBaseUnitName() ||
        std::string(x.GetUnitName()) != y.GetUnitName() || x.GetKind() != y.GetKind() ||
        !SameDouble(x.GetValueInBaseUnit(), y.GetValueInBaseUnit())) {
      return "variable " + Shown(x.GetName());
    }
  }
  if (a.ExtraSections() != b.ExtraSections()) return "extra sections";
  return "";
}

}  // namespace axis
