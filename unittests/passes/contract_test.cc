// The calculator contract for every conversion: all names looked up before anything changes,
// nothing changed and 0 when one is missing, and no fault on degenerate values.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "conversions/calculators.h"
#include "passes/passes.h"
#include "support/calculator_contract.h"
#include "tuning/tuning_formulas.h"

namespace {

using namespace kestrel;           // NOLINT: the calculators under test
using namespace kestrel::testing;  // NOLINT: the lists

// Every calculator the two passes run, read from their tables, so that a calculator added to a
// pass cannot escape the contract; then those that run outside the passes: the tunings, the gains
// by name, and the rules the dialogs apply.
// clang-format off
const Named kOutsideThePasses[] = {
  CALC(TuneCurrentController), CALC(TuneSpeedController), CALC(TunePositionController),
  CALC(ApplySpeedFeedForwardRule), CALC(SetCapabilityOptions),
  {[](CMC_Setup& s) { return EncodeGain(s, "kffa_SCL"); }, "EncodeGain by name, case ignored"},
  {[](CMC_Setup& s) { return DeriveGain(s, "kd_p_SCL"); }, "DeriveGain by name, case ignored"}};
// clang-format on

std::vector<Named> All() {
  std::vector<Named> all;
  for (const auto* pass : {&DerivePassSteps(), &EncodePassSteps()}) {
    for (const PassStep& step : *pass) {
      for (const PassCalculator& c : step.calculators) {
        const bool listed =
            std::any_of(all.begin(), all.end(), [&](const Named& n) { return n.calc == c.run; });
        if (!listed) all.push_back({c.run, c.name});
      }
    }
  }
  all.insert(all.end(), std::begin(kOutsideThePasses), std::end(kOutsideThePasses));
  return all;
}

TEST(CalculatorContract, EveryConversionOnTheDemoDrive) {
  for (const Named& c : All()) axis::testing::ExpectContract(c.calc, c.name);
}

TEST(CalculatorContract, DegenerateValuesEverywhere) {
  std::vector<Calculator> calculators;
  for (const Named& c : All()) calculators.push_back(c.calc);
  axis::testing::ExpectDegenerateInputsAreHarmless(calculators);
}

}  // namespace
