#include "conversions/reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "conversions/calculators.h"
#include "conversions/motion_units.h"
#include "host/setup_file.h"
#include "support/test_setup.h"

namespace kestrel {
namespace {

using axis::testing::TestSetup;
using testing::FromInputs;
using testing::Input;

// ADC full scale N, f = 1e6 counts per m, 500 per m/s, 204.8 per A: reference gain = 8 x span.
constexpr double kN = 4096, kTsS = 5e-4;
// Round-trip steps in internal units (none: one ADC count): the gain's (AD5OFF is whole), FILTER1.
double GainStep(TestSetup& t, double) { return 0.5 + std::exp2(t.Get("SFTADIN")) / 8; }
double FilterStep(TestSetup&, double w) { return std::exp(w * kTsS) / (32767 * kTsS); }

// clang-format off
const Input kDrive[] = {
    {"EncRes", 1e-6}, {"Motor_transmission", 1}, {"Load_transmission", 1}, {"ImaxPS", 10, "A"},
    {"ImaxM", 8, "A"}, {"DSP_freq", 40e6}, {"Ts_S", kTsS}, {"Limit_Speed", 3, "m/s"},
    {"ControlMode", 0}, {"POS_min", -0.0025, "m"}, {"POS_max", 0.0025, "m"}, {"SPD_min", -1, "m/s"},
    {"SPD_max", 1, "m/s"}, {"CRT_min", -5, "A"}, {"CRT_max", 5, "A"}, {"AnalogueInputsRange", 20},
    {"DeadBand_Point", 0, "V"}, {"DeadBand_Range", 0, "V"}, {"UseFilter", 0}, {"GEARSLAVE", 3},
    {"filter", 100, "1/s"}, {"GEARMASTER", 2}, {"GEAR", 0}, {"SLPER", 10, "", 1},
    {"PWMPER", 1000, "", 1}, {"AD5OFF", 77, "", 1}, {"CADIN", 0, "", 1}, {"SFTADIN", 0, "", 1},
    {"LEVEL_AD5", 0, "", 1}, {"E_LEVEL_AD5", 0, "", 1}, {"FILTER1", 0, "", 1}};

// Ranges on the reversed drive, with one input changed ("ADC": the full scale).
const struct { void (*set)(CMC_Setup&); const char *target, *change; double to, min, max; }
kRanges[] = {
    {SetPosMaxRange, "POS_max", "", 0, -0.0025, 0.032767},
    {SetPosMinRange, "POS_min", "", 0, -0.032767, 0.0025},
    {SetSpdMaxRange, "SPD_max", "", 0, -1, 3}, {SetSpdMinRange, "SPD_min", "", 0, -3, 1},
    {SetCrtMaxRange, "CRT_max", "", 0, -5, 8}, {SetCrtMinRange, "CRT_min", "", 0, -8, 5},
    {SetSpdMaxRange, "SPD_max", "Limit_Speed", 100, -1, 65.534},  // 32767 / 500
    {SetCrtMaxRange, "CRT_max", "ImaxM", 20, -5, 10},              // ImaxPS
    {SetCrtMaxRange, "CRT_max", "ADC", 1e6, -5, 0.65534},
    {SetCrtMinRange, "CRT_min", "ADC", 1e6, -0.65534, 5},          // 32767 / (1e6 / 20)
    {SetDeadBandPointRange, "DeadBand_Point", "", 0, -10, 10},
    {SetDeadBandPointRange, "DeadBand_Point", "AnalogueInputsRange", 5, 0, 5},
    {SetDeadBandPointRange, "DeadBand_Point", "AnalogueInputsRange", 10, 0, 3.3},
    {SetDeadBandRangeRange, "DeadBand_Range", "DeadBand_Point", 4, 0, 6},  // the room above
    {SetDeadBandRangeRange, "DeadBand_Range", "NewDeadBand", 1, 0, 20}};   // the whole span

const struct { const char* setting; double value; std::vector<const char*> names;
               double low, high, (*step)(TestSetup&, double); } kFamilies[] = {
    {"ControlMode", 0, {"POS_min", "POS_max"}, -2e6, 2e6, GainStep},
    {"ControlMode", 1, {"SPD_min", "SPD_max"}, -32767, 32767, GainStep},
    {"ControlMode", 2, {"CRT_min", "CRT_max"}, -2e6, 2e6, GainStep},
    {"AnalogueInputsRange", 20, {"DeadBand_Point", "DeadBand_Range"}, -2048, 2048, nullptr},
    {"UseFilter", 1, {"filter"}, 1, 1000, FilterStep}};
// clang-format on

// `analogue`: with the analogue input "CADIN"; `without`: that parameter left out.
TestSetup Drive(double ratio = 1, bool analogue = true, std::string_view without = "") {
  std::vector<Input> inputs;
  std::copy_if(std::begin(kDrive), std::end(kDrive), std::back_inserter(inputs),
               [without](const Input& in) { return in.name != without; });
  TestSetup t = FromInputs(inputs, ratio, static_cast<uint32_t>(kN));
  if (analogue) t.Variable("CADIN");
  t->SetScaleProvider({&ScaleFactor, &ScaleOffset});
  return t;
}
CMC_Parameter* P(TestSetup& t, const char* name) { return t->FindParameter(name); }

TEST(ReferenceRanges, FollowTheOtherParametersAndTheDriveBounds) {
  for (const auto& row : kRanges) {
    TestSetup t = Drive(-1);
    if (std::string(row.change) == "ADC") t->SetAdcFullScale(static_cast<uint32_t>(row.to));
    if (std::string(row.change) == "NewDeadBand") t.Option("NewDeadBand", "1");
    if (P(t, row.change)) t.Set(row.change, row.to);
    SetDeadBandPointRange(*t);
    row.set(*t);
    EXPECT_DOUBLE_EQ(t.Min(row.target), row.min) << row.target << " " << row.change;
    EXPECT_DOUBLE_EQ(t.Max(row.target), row.max) << row.target << " " << row.change;
  }
}

TEST(ReferenceConversions, EdgeValues) {
  TestSetup t = Drive(1, false);  // no analogue reference: the gear is encoded all the same
  const std::string before = axis::SetupToText(*t);
  EXPECT_EQ((std::vector<int>{EncodeAnalogueReference(*t), DeriveAnalogueReference(*t)}),
            (std::vector<int>{0, 0}));
  EXPECT_EQ(axis::SetupToText(*t), before) << "the steps without their guard touch nothing";
  EXPECT_EQ((std::vector<int>{EncodeLEVEL_AD5(*t), EncodeFILTER1(*t), EncodeGEAR(*t),
                              EncodeReferenceGain(*t)}),
            (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(t.Get("LEVEL_AD5"), kN / 2);  // 0 V in the middle of -10..10 V
  EXPECT_EQ(t.Get("FILTER1"), 32767);     // filter off
  EXPECT_EQ(t.Get("GEAR"), 1.5);          // slave 3 / master 2
  EXPECT_EQ(t.Get("CADIN"), 20000);       // g = 8 x 5000 = 40000: one shift
  EXPECT_EQ(t.Get("SFTADIN"), 1);
  EXPECT_EQ((std::vector<int>{DeriveDeadBandPoint(*t), DeriveUseFilter(*t), DeriveFilter(*t)}),
            (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(t.Get("DeadBand_Point"), 0.0);
  EXPECT_EQ(t.Get("UseFilter"), 0.0);
  EXPECT_EQ(t.Get("filter"), 50);
  EXPECT_DOUBLE_EQ(t.Max("filter"), 0.5 / kTsS);
}

// The pair of each control mode carries its internal values through its own scale, and f orients
// the gain: without an input of either the gain is not encoded and nothing changes. A range setter
// then leaves its range as it was and reports nothing.
TEST(ReferenceConversions, AMissingScaleInputChangesNothing) {
  // The range setter of the mode's pair, which needs the same scale; none where f alone is hit.
  const struct {
    double mode;
    std::vector<const char*> missing;
    void (*range)(CMC_Setup&);
  } kRows[] = {{0, {"EncRes", "Motor_transmission", "Load_transmission"}, SetPosMinRange},
               {1, {"SLPER", "PWMPER", "DSP_freq", "EncRes", "Motor_transmission"}, SetSpdMaxRange},
               {2, {"ImaxPS"}, SetCrtMinRange},
               {2, {"EncRes", "Load_transmission"}, nullptr}};
  for (const auto& row : kRows) {
    for (const char* missing : row.missing) {
      SCOPED_TRACE(std::string(missing) + " in mode " + std::to_string(row.mode));
      TestSetup t = Drive(1, true, missing);
      t.Set("ControlMode", row.mode);
      const std::string before = axis::SetupToText(*t);
      axis::testing::Reports reports;
      EXPECT_EQ(EncodeReferenceGain(*t), 0);
      EXPECT_FALSE(reports.messages.empty());
      for (const std::string& r : reports.messages)
        EXPECT_EQ(r, "Parameter \"" + std::string(missing) + "\" not found");
      reports.messages.clear();
      if (row.range != nullptr) row.range(*t);
      EXPECT_TRUE(reports.messages.empty()) << reports.messages.front();
      EXPECT_EQ(axis::SetupToText(*t), before);
    }
  }
}

// Both passes on random internal values: back within a step; 16-bit mantissa of the load's sign.
TEST(ReferenceConversions, RoundTripWithinOneStep) {
  std::mt19937 random(2024);
  for (const auto& fam : kFamilies) {
    for (double ratio : {1.0, -1.0}) {
      TestSetup t = Drive(ratio);
      t.Set(fam.setting, fam.value);
      std::uniform_real_distribution<double> pick(fam.low, fam.high);
      const size_t n = fam.names.size();
      for (int i = 0; i < 200; ++i) {
        double v[2] = {pick(random), pick(random)}, back[2];
        std::sort(v, v + 2);
        for (size_t k = 0; k < n; ++k) P(t, fam.names[k])->SetValueInInternalUnit(v[k]);
        ASSERT_EQ(EncodeAnalogueReference(*t), 1);
        ASSERT_TRUE(std::fabs(t.Get("CADIN")) <= 32767 && t.Get("CADIN") * ratio >= 0);
        for (const char* name : fam.names) t.Set(name, 1e9);
        ASSERT_EQ(DeriveAnalogueReference(*t), 1);
        for (size_t k = 0; k < n; ++k) back[k] = P(t, fam.names[k])->GetValueInInternalUnit();
        for (size_t k = 0; k < n; ++k) ASSERT_NEAR(back[k], v[k], fam.step ? fam.step(t, v[k]) : 1);
        ASSERT_LE(back[0], back[n - 1] + 1) << fam.names[0] << " " << ratio;
      }
    }
  }
}

}  // namespace
}  // namespace kestrel
