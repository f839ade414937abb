// Every calculator of the conversions by file, and the compact cases of the configuration and
// protection tests: setups and expectations written as "name=value" tokens.
#pragma once

#include <gtest/gtest.h>

#include <string.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "conversions/calculator.h"
#include "conversions/configuration.h"
#include "conversions/gains.h"
#include "conversions/motion_units.h"
#include "conversions/protections.h"
#include "conversions/reference.h"
#include "conversions/timing.h"
#include "support/test_setup.h"

namespace kestrel::testing {

using axis::testing::TestSetup;

// A calculator with its name; it writes the name after "Derive"/"Encode" unless `writes` says.
struct Named {
  Calculator calc;
  const char* name;
  const char* writes = nullptr;
};
// clang-format off
#define CALC(f) ::kestrel::testing::Named{f, #f}  // NOLINT: the name as written

// In the order the cases run them: derivations before encodings, the feed-forward rule last.
inline const Named kConfiguration[] = {
  CALC(DeriveIsSpeedEstimator), CALC(DeriveCommutationMethod), CALC(DeriveIsMotorTemperatureSensor),
  CALC(DeriveIsDriveTemperatureSensor), CALC(DeriveStartMode), CALC(DeriveIsBrakeResistor),
  CALC(DeriveInputsPolarityType), CALC(DeriveIsSWLS), CALC(DeriveIsAutoActivatedAfterPowerOn),
  CALC(DeriveDigitalReferenceType), CALC(DeriveIsAnalogueReference), CALC(DeriveExternalReference),
  CALC(DeriveControlMode), CALC(DeriveIsLimitMaximum), CALC(Derivetime_AB),
  CALC(DeriveEnablePolarity), CALC(DeriveLSNPolarity), CALC(DeriveLSPPolarity),
  CALC(Derivesave_CAN_baudrate), CALC(Derivesave_axis_id), CALC(DeriveIsMotorBrake),
  CALC(DeriveMotorBrake_output), CALC(DeriveMotorBrake_releasetime),
  CALC(DeriveMotorBrake_applytime), CALC(DeriveIsFilterEnc), CALC(DeriveAxis_ID_list),
  CALC(DeriveMotor_TempSensor_Type), CALC(DeriveReverseCounting), CALC(DeriveStartCurrent),
  CALC(EncodeSCR), CALC(EncodeOSR), CALC(EncodeASR), CALC(EncodeACR), CALC(EncodeUPGRADE),
  CALC(EncodeT1ONA), CALC(EncodeT1ONB), CALC(EncodeDIGIN_ACTIVE_LEVEL), CALC(EncodeLSS_Active),
  CALC(EncodeBRAKECFG), CALC(EncodeBRAKEAPPLYDELAY), CALC(EncodeBRAKERELEASEDELAY),
  {EncodeEncoderInputFilter, "EncodeEncoderInputFilter", "QUAL"}, CALC(EncodeMTSTYPE),
  CALC(EncodeAAR_table), CALC(EncodeCOUNTINGDIR), CALC(EncodeREFTST), CALC(EncodeRINCTST),
  {ApplySpeedFeedForwardRule, "ApplySpeedFeedForwardRule", "SpeedForward"},
  {SetCapabilityOptions, "SetCapabilityOptions", "?"}};  // "?": the options
inline const Named kProtections[] = {
  CALC(DeriveIsOverCurrent), CALC(DeriveIsMotorI2t), CALC(DeriveIsMotorOverTemp),
  CALC(DeriveIsDriveOverTemp), CALC(DeriveIsOverVoltage), CALC(DeriveIsUnderVoltage),
  CALC(DeriveIsDriveI2t), CALC(DeriveUMAX_PROT), CALC(DeriveUMIN_PROT), CALC(DeriveTemp_2),
  CALC(DeriveImax_Prot), CALC(Derivetime_Imax_Prot), CALC(DeriveVbrake),
  CALC(DeriveIsPositionControlError), CALC(DeriveERR_position), CALC(Derivetime_ERR_pos),
  CALC(DeriveIsSpeedControlError), CALC(DeriveERR_speed), CALC(Derivetime_ERR_spd),
  CALC(DeriveI_I2t_D), CALC(Derivet_I2t_D), CALC(DeriveI_I2t_M), CALC(Derivet_I2t_M),
  CALC(EncodePCR), CALC(EncodeUMAXPROT), CALC(EncodeUMINPROT), CALC(EncodeT2MAXPROT),
  CALC(EncodeIMAXPROT), CALC(EncodeTIMAXPROT), CALC(EncodeT1MAXPROT), CALC(EncodeBRAKELIM),
  CALC(EncodeERRMAX), CALC(EncodeTERRMAX), CALC(EncodeSERRMAX), CALC(EncodeTSERRMAX),
  CALC(EncodeII2TPROT_D), CALC(EncodeSFI2T_D), CALC(EncodeI2TINTLIM_D), CALC(EncodeII2TWARLIM_D),
  CALC(EncodeII2TPROT_M), CALC(EncodeSFI2T_M), CALC(EncodeI2TINTLIM_M), CALC(EncodeI2TWARLIM_M)};
// clang-format on

inline std::vector<std::string> Split(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}
// "A=1" (a value), "A<=1" (the maximum), "A>=1" (the minimum), "?A=1" (option A's text); values
// may be hex or nan, and are 0 when not given.
inline std::string NameOf(const std::string& t) { return t.substr(0, t.find_first_of("<>=")); }
inline double ValueOf(const std::string& t) {
  const size_t eq = t.find('=');
  return eq == std::string::npos ? 0 : std::strtod(t.c_str() + eq + 1, nullptr);
}

// A setup of `physical` and `registers` entries changed by `given`: "A=1" sets A, "!A" leaves A
// out (and ignores "A=1"), "@A=1" sets option A; `extra` takes any other token.
inline TestSetup FromTokens(const std::string& physical, const std::string& registers,
                            const std::string& given,
                            void (*extra)(TestSetup&, const std::string&)) {
  TestSetup s;
  const std::vector<std::string> tokens = Split(given);
  const auto kept = [&](const std::string& n) { return !std::ranges::count(tokens, "!" + n); };
  for (const std::string& t : Split(physical))
    if (kept(NameOf(t))) s.Physical({{NameOf(t).c_str(), ValueOf(t)}});
  for (const std::string& t : Split(registers))
    if (kept(NameOf(t))) s.Registers({{NameOf(t).c_str(), ValueOf(t)}});
  for (const std::string& t : tokens) {
    if (t[0] == '@') {
      s.Option(NameOf(t).c_str() + 1, t.c_str() + t.find('=') + 1);
    } else if (t.find('=') == std::string::npos) {
      if (t[0] != '!') extra(s, t);
    } else if (kept(NameOf(t))) {
      s.Set(NameOf(t).c_str(), ValueOf(t));
    }
  }
  return s;
}

// A drive from a list of inputs; `ratio` divides "Load_transmission" (-1 reverses the load).
struct Input {
  const char* name;
  double value;
  const char* unit = "";
  bool reg = false;
};
inline TestSetup FromInputs(std::span<const Input> inputs, double ratio, uint32_t adc_full_scale) {
  TestSetup t;
  for (const Input& in : inputs) {
    const double v = std::string_view(in.name) == "Load_transmission" ? in.value / ratio : in.value;
    in.reg ? t.Registers({{in.name, v}}) : t.Physical({{in.name, v, in.unit}});
  }
  t->SetAdcFullScale(adc_full_scale);
  return t;
}

// Runs the calculators of `list` writing a name of `expected`, in order, each expected to return
// `result`, then checks every expected value, range and option text.
inline void ExpectCase(TestSetup& s, std::span<const Named> list, const std::string& expected,
                       int result) {
  std::string names = " ";
  for (const std::string& t : Split(expected)) names += (t[0] == '?' ? "?" : NameOf(t)) + " ";
  for (const Named& c : list) {
    const std::string writes = " " + std::string(c.writes ? c.writes : c.name + 6) + " ";
    EXPECT_TRUE(!strcasestr(names.c_str(), writes.c_str()) || c.calc(*s) == result) << c.name;
  }
  for (const std::string& t : Split(expected)) {
    const std::string n = NameOf(t);
    const char op = t[n.size()];
    if (n[0] == '?') {
      EXPECT_EQ(s->GetOptionNoError(n.substr(1)), t.substr(n.size() + 1)) << t;
      continue;
    }
    const double got = op == '<'   ? s.Max(n.c_str())
                       : op == '>' ? s.Min(n.c_str())
                                   : s.Get(n.c_str());
    EXPECT_NEAR(got, ValueOf(t), 1e-9 * std::max(1.0, std::fabs(ValueOf(t)))) << t;
  }
}

}  // namespace kestrel::testing
