// The calculator contract shared by every conversion of the plug-in.
//
// A calculator is a function of the setup returning 1 (done) or 0 (skipped). It looks up every
// parameter it reads or writes before it changes anything and changes nothing when one is missing.
// A register -> physical calculator sets the range of the value it writes (SetParameterRange)
// before writing it; a physical -> register calculator writes the register unrounded and lets the
// host store it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string_view>
#include <utility>

#include "host/numeric.h"
#include "host/setup.h"

namespace kestrel {

using Calculator = int (*)(CMC_Setup& setup);

// Sets [minimum, maximum] (base units) so that no intermediate range has its minimum above its
// maximum. Returns 0 and changes nothing when minimum > maximum. A NaN bound is refused too: no
// range with a NaN bound can be ordered, and storing one would make every later check meaningless.
int SetParameterRange(CMC_Parameter* parameter, double minimum, double maximum);
// A register -> physical calculator's last step: the range, then the value. 0 (value unchanged)
// when the range is refused.
int WriteDerived(CMC_Parameter* parameter, double minimum, double maximum, double value);

// Looks all names up (reporting a missing one while g_bShowErrors) and fills the pointers; false
// when any is missing. Inline: every calculator starts with it, and the short fixed lists unroll.
inline bool FindAll(CMC_Setup& setup,
                    std::initializer_list<std::pair<std::string_view, CMC_Parameter**>> lookups) {
  bool all = true;
  for (const auto& [name, out] : lookups) {
    *out = setup.FindParameter(name);
    all = all && *out != nullptr;
  }
  return all;
}

// Suppresses the host's reports of failed lookups for its lifetime and restores the previous
// setting afterwards: the presence probe around optional names.
class QuietLookups {
 public:
  QuietLookups() : saved_(g_bShowErrors) { g_bShowErrors = 0; }
  ~QuietLookups() { g_bShowErrors = saved_; }
  QuietLookups(const QuietLookups&) = delete;
  QuietLookups& operator=(const QuietLookups&) = delete;

 private:
  int saved_;
};

// Presence probe: true when every name exists; nothing is reported.
bool ParametersExist(CMC_Setup& setup, std::initializer_list<const char*> names);
// Looks an optional parameter up without a report; null when absent.
CMC_Parameter* FindOptional(CMC_Setup& setup, const char* name);
// An optional parameter's value in base units; `missing` (NaN unless given: every comparison
// then fails) when the setup has no such parameter.
double OptionalValue(CMC_Setup& setup, const char* name,
                     double missing = std::numeric_limits<double>::quiet_NaN());
// The setup has an analogue reference: the variable "CADIN" and the parameter "CADIN" both exist.
bool HasAnalogueReference(CMC_Setup& setup);

// Register words and switches travel as doubles.
inline uint32_t Word(const CMC_Parameter* p) { return axis::TruncToWord(p->GetValueInBaseUnit()); }
inline uint32_t WordInternal(const CMC_Parameter* p) {
  return axis::TruncToWord(p->GetValueInInternalUnit());
}
inline bool Bit(uint32_t word, int bit) { return ((word >> bit) & 1u) != 0; }
inline uint32_t WithBit(uint32_t word, int bit, bool set) {
  return set ? (word | (1u << bit)) : (word & ~(1u << bit));
}
// A switch is set when its value truncated to an integer equals 1.
inline bool IsSet(double flag) { return axis::TruncToInt64(flag) == 1; }
inline bool IsSet(const CMC_Parameter* p) { return IsSet(p->GetValueInBaseUnit()); }
inline int Trunc(double value) { return axis::TruncToInt(value); }
// Value of a parameter in base units (shorthand inside formulas).
inline double V(const CMC_Parameter* p) { return p->GetValueInBaseUnit(); }
inline double VI(const CMC_Parameter* p) { return p->GetValueInInternalUnit(); }

// Reads the inputs of one formula, each looked up once (a missing one reported while
// g_bShowErrors, and read as 0.0 as the host's find-then-get gives it), and remembers whether any
// was missing: a calculator then changes nothing.
class Inputs {
 public:
  explicit Inputs(CMC_Setup& setup) : setup_(setup) {}
  double operator()(const char* name) {
    const CMC_Parameter* p = setup_.FindParameter(name);
    if (p == nullptr) {
      complete_ = false;
      return 0.0;
    }
    return p->GetValueInBaseUnit();
  }
  bool complete() const { return complete_; }
  CMC_Setup& setup() const { return setup_; }

 private:
  CMC_Setup& setup_;
  bool complete_ = true;
};

// A formula over its inputs, evaluated on the setup. The first form is the plain value (a missing
// input read as 0.0); the second is for calculators, which must change nothing when an input is
// missing: it tells whether all were there, and `value` is meaningful only then. Both read each
// input once, so a checked value costs no more lookups than a plain one.
using Formula = double (*)(Inputs& in);
inline double Compute(Formula formula, CMC_Setup& setup) {
  Inputs in(setup);
  return formula(in);
}
inline bool Compute(Formula formula, CMC_Setup& setup, double& value) {
  Inputs in(setup);
  value = formula(in);
  return in.complete();
}

// Runs calculators in order; their results are not looked at.
void RunAll(CMC_Setup& setup, std::initializer_list<Calculator> calculators);

}  // namespace kestrel
