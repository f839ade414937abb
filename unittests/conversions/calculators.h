// Every calculator of the conversions by file, and the compact cases of the configuration and
// protection tests: setups and expectations written as "name=value" tokens.
#pragma once

#include <gtest/gtest.h>

#include <strings.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <span>
#include <sstream>
#include <string>
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

// A calculator with its name; it writes the name after "Derive"/"Encode" unless `writes` says.
struct Named {
  Calculator calc;
  const char* name;
  const char* writes = nullptr;
};
#define KESTREL_CALC(f) \
  ::kestrel::testing::Named { f, #f }

// clang-format off
// In the order the cases run them: derivations before encodings, the feed-forward rule last.
inline const Named kConfiguration[] = {
  KESTREL_CALC(DeriveIsSpeedEstimator), KESTREL_CALC(DeriveCommutationMethod),
  KESTREL_CALC(DeriveIsMotorTemperatureSensor), KESTREL_CALC(DeriveIsDriveTemperatureSensor),
  KESTREL_CALC(DeriveStartMode), KESTREL_CALC(DeriveIsBrakeResistor),
  KESTREL_CALC(DeriveInputsPolarityType), KESTREL_CALC(DeriveIsSWLS),
  KESTREL_CALC(DeriveIsAutoActivatedAfterPowerOn), KESTREL_CALC(DeriveDigitalReferenceType),
  KESTREL_CALC(DeriveIsAnalogueReference), KESTREL_CALC(DeriveExternalReference),
  KESTREL_CALC(DeriveControlMode), KESTREL_CALC(DeriveIsLimitMaximum), KESTREL_CALC(Derivetime_AB),
  KESTREL_CALC(DeriveEnablePolarity), KESTREL_CALC(DeriveLSNPolarity), KESTREL_CALC(DeriveLSPPolarity),
  KESTREL_CALC(Derivesave_CAN_baudrate), KESTREL_CALC(Derivesave_axis_id),
  KESTREL_CALC(DeriveIsMotorBrake), KESTREL_CALC(DeriveMotorBrake_output),
  KESTREL_CALC(DeriveMotorBrake_releasetime), KESTREL_CALC(DeriveMotorBrake_applytime),
  KESTREL_CALC(DeriveIsFilterEnc), KESTREL_CALC(DeriveAxis_ID_list),
  KESTREL_CALC(DeriveMotor_TempSensor_Type), KESTREL_CALC(DeriveReverseCounting),
  KESTREL_CALC(DeriveStartCurrent), KESTREL_CALC(EncodeSCR), KESTREL_CALC(EncodeOSR),
  KESTREL_CALC(EncodeASR), KESTREL_CALC(EncodeACR), KESTREL_CALC(EncodeUPGRADE),
  KESTREL_CALC(EncodeT1ONA), KESTREL_CALC(EncodeT1ONB), KESTREL_CALC(EncodeDIGIN_ACTIVE_LEVEL),
  KESTREL_CALC(EncodeLSS_Active), KESTREL_CALC(EncodeBRAKECFG), KESTREL_CALC(EncodeBRAKEAPPLYDELAY),
  KESTREL_CALC(EncodeBRAKERELEASEDELAY), {EncodeEncoderInputFilter, "EncodeEncoderInputFilter", "QUAL"},
  KESTREL_CALC(EncodeMTSTYPE), KESTREL_CALC(EncodeAAR_table), KESTREL_CALC(EncodeCOUNTINGDIR),
  KESTREL_CALC(EncodeREFTST), KESTREL_CALC(EncodeRINCTST),
  {ApplySpeedFeedForwardRule, "ApplySpeedFeedForwardRule", "SpeedForward"},
  {SetCapabilityOptions, "SetCapabilityOptions", "?"}};  // "?": the options
inline const Named kProtections[] = {
  KESTREL_CALC(DeriveIsOverCurrent), KESTREL_CALC(DeriveIsMotorI2t), KESTREL_CALC(DeriveIsMotorOverTemp),
  KESTREL_CALC(DeriveIsDriveOverTemp), KESTREL_CALC(DeriveIsOverVoltage), KESTREL_CALC(DeriveIsUnderVoltage),
  KESTREL_CALC(DeriveIsDriveI2t), KESTREL_CALC(DeriveUMAX_PROT), KESTREL_CALC(DeriveUMIN_PROT),
  KESTREL_CALC(DeriveTemp_2), KESTREL_CALC(DeriveImax_Prot), KESTREL_CALC(Derivetime_Imax_Prot),
  KESTREL_CALC(DeriveVbrake), KESTREL_CALC(DeriveIsPositionControlError), KESTREL_CALC(DeriveERR_position),
  KESTREL_CALC(Derivetime_ERR_pos), KESTREL_CALC(DeriveIsSpeedControlError), KESTREL_CALC(DeriveERR_speed),
  KESTREL_CALC(Derivetime_ERR_spd), KESTREL_CALC(DeriveI_I2t_D), KESTREL_CALC(Derivet_I2t_D),
  KESTREL_CALC(DeriveI_I2t_M), KESTREL_CALC(Derivet_I2t_M), KESTREL_CALC(EncodePCR),
  KESTREL_CALC(EncodeUMAXPROT), KESTREL_CALC(EncodeUMINPROT), KESTREL_CALC(EncodeT2MAXPROT),
  KESTREL_CALC(EncodeIMAXPROT), KESTREL_CALC(EncodeTIMAXPROT), KESTREL_CALC(EncodeT1MAXPROT),
  KESTREL_CALC(EncodeBRAKELIM), KESTREL_CALC(EncodeERRMAX), KESTREL_CALC(EncodeTERRMAX),
  KESTREL_CALC(EncodeSERRMAX), KESTREL_CALC(EncodeTSERRMAX), KESTREL_CALC(EncodeII2TPROT_D),
  KESTREL_CALC(EncodeSFI2T_D), KESTREL_CALC(EncodeI2TINTLIM_D), KESTREL_CALC(EncodeII2TWARLIM_D),
  KESTREL_CALC(EncodeII2TPROT_M), KESTREL_CALC(EncodeSFI2T_M), KESTREL_CALC(EncodeI2TINTLIM_M),
  KESTREL_CALC(EncodeI2TWARLIM_M)};
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
inline axis::testing::TestSetup FromTokens(const std::string& physical,
                                           const std::string& registers, const std::string& given,
                                           void (*extra)(axis::testing::TestSetup&,
                                                         const std::string&)) {
  axis::testing::TestSetup s;
  const std::vector<std::string> tokens = Split(given);
  const auto left_out = [&](const std::string& n) { return std::ranges::count(tokens, "!" + n); };
  for (const auto& [list, reg] : {std::pair{physical, false}, {registers, true}}) {
    for (const std::string& t : Split(list)) {
      const std::string n = NameOf(t);
      const axis::testing::Value v = {n.c_str(), ValueOf(t)};
      if (!left_out(n)) reg ? s.Registers({v}) : s.Physical({v});
    }
  }
  for (const std::string& t : tokens) {
    if (t[0] == '@')
      s.Option(NameOf(t).substr(1).c_str(), t.substr(t.find('=') + 1).c_str());
    else if (t[0] != '!' && t.find('=') == std::string::npos)
      extra(s, t);
    else if (t[0] != '!' && !left_out(NameOf(t)))
      s.Set(NameOf(t).c_str(), ValueOf(t));
  }
  return s;
}

// Runs the calculators of `list` writing a name of `expected`, in order, each expected to return
// `result`, then checks every expected value, range and option text.
inline void ExpectCase(axis::testing::TestSetup& s, std::span<const Named> list,
                       const std::string& expected, int result) {
  std::vector<std::string> names;
  for (const std::string& t : Split(expected)) names.push_back(t[0] == '?' ? "?" : NameOf(t));
  for (const Named& c : list) {
    const std::string writes = c.writes ? c.writes : std::string(c.name).substr(6);
    const bool runs =
        std::ranges::any_of(names, [&](auto& n) { return !strcasecmp(n.c_str(), writes.c_str()); });
    if (runs) {
      EXPECT_EQ(c.calc(*s), result) << c.name;
    }
  }
  for (const std::string& t : Split(expected)) {
    const std::string n = NameOf(t);
    if (n[0] == '?') {
      EXPECT_EQ(s->GetOptionNoError(n.substr(1)), t.substr(n.size() + 1)) << t;
      continue;
    }
    const char op = t[n.size()];
    const auto get = op == '<'   ? &axis::testing::TestSetup::Max
                     : op == '>' ? &axis::testing::TestSetup::Min
                                 : &axis::testing::TestSetup::Get;
    const double want = ValueOf(t);
    EXPECT_NEAR((s.*get)(n.c_str()), want, 1e-9 * std::max(1.0, std::fabs(want))) << t;
  }
}

}  // namespace kestrel::testing
