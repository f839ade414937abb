#include "conversions/calculator.h"

#include <cmath>

namespace kestrel {

int SetParameterRange(CMC_Parameter* parameter, double minimum, double maximum) {
  if (parameter == nullptr) return 0;
  if (std::isnan(minimum) || std::isnan(maximum) || minimum > maximum) return 0;
  if (parameter->GetMinInBaseUnit() > parameter->GetMaxInBaseUnit()) {
    parameter->SetMaxInBaseUnit(parameter->GetMinInBaseUnit());
  }
  if (minimum > parameter->GetMaxInBaseUnit()) {
    parameter->SetMaxInBaseUnit(maximum);
    parameter->SetMinInBaseUnit(minimum);
  } else {
    parameter->SetMinInBaseUnit(minimum);
    parameter->SetMaxInBaseUnit(maximum);
  }
  return 1;
}

int WriteDerived(CMC_Parameter* parameter, double minimum, double maximum, double value) {
  if (SetParameterRange(parameter, minimum, maximum) == 0) return 0;
  parameter->SetValueInBaseUnit(value);
  return 1;
}

bool ParametersExist(CMC_Setup& setup, std::initializer_list<const char*> names) {
  QuietLookups quiet;
  for (const char* name : names) {
    if (setup.FindParameter(name) == nullptr) return false;
  }
  return true;
}

CMC_Parameter* FindOptional(CMC_Setup& setup, const char* name) {
  QuietLookups quiet;
  return setup.FindParameter(name);
}

double OptionalValue(CMC_Setup& setup, const char* name, double missing) {
  const CMC_Parameter* p = FindOptional(setup, name);
  return p == nullptr ? missing : p->GetValueInBaseUnit();
}

bool HasAnalogueReference(CMC_Setup& setup) {
  return setup.FindVariable("CADIN", 1) != nullptr && ParametersExist(setup, {"CADIN"});
}

void RunAll(CMC_Setup& setup, std::initializer_list<Calculator> calculators) {
  for (Calculator calculator : calculators) calculator(setup);
}

}  // namespace kestrel
