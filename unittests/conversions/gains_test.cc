// The controller gains (shift and mantissa) and the other current, speed and position loop
// conversions.
#include "conversions/gains.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "conversions/calculators.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using namespace kestrel;

const double kNaN = std::nan(""), kInf = HUGE_VAL;

// "name=value ..." (later items win); "#name" marks an integer register, rounded by the host.
TestSetup Make(const std::string& text) {
  std::map<std::string, std::pair<double, bool>> items;
  for (const std::string& w : kestrel::testing::Split(text)) {
    const size_t reg = w[0] == '#', eq = w.find('=');
    items[w.substr(reg, eq - reg)] = {std::stod(w.substr(eq + 1)), reg == 1};
  }
  TestSetup s;
  for (const auto& [name, v] : items) {
    v.second ? s.Registers({{name.c_str(), v.first}}) : s.Physical({{name.c_str(), v.first}});
  }
  return s;
}
using Calcs = std::vector<Calculator>;
bool All(const Calcs& calculators, TestSetup& s) {
  return std::all_of(calculators.begin(), calculators.end(), [&](Calculator c) { return c(*s); });
}

// Ts_C 50 us, Ts_S 500 us; 65520 / (2 x 10 A) = 3276 counts per A; peak current min(10, 8) A;
// a reversed 1:1 load: 1e6 counts per m, 500 counts per sample per m/s (used by magnitude).
// ACR has bits 4 (freeze), 9 (IlimPS from SATS) and 14 (speed forward); position cascade.
const std::string kAll =
    "DSP_freq=40e6 #PWMPER=1000 #CLPER=1 #SLPER=10 ImaxPS=10 ImaxM=8 In=5 InPS=4 Ts_S=500e-6 "
    "EncRes=1e-6 Motor_transmission=1 Load_transmission=-1 PolePitch=0.03 Vdc=48 R=1.5 Mt=3 M=2 "
    "ControlMode=0 PositionControlType=1 ACR=0x4210 SATS=19663 SATP=31767 IMAXS=26215 "
    "IMAXP=32267 FILTERQ=1598 FFL=1638 IMAXPROT=16380 REFTST=3000 POSOKLIM_FC=100 TONPOSOK_FC=200 "
    "KDFP=16384 MotorPhaseConnectionType=0 CommutationMethod=0 #DBT=0x0A14 IlimPS=4 IPSatS=50 "
    "isUseFilterOnCrtCtrlOutput=1 FilterOnCurrentControllerOutput=1000 IPSatP=50 Limit_Speed=2 "
    "isCompensateGravitationalLoads=1 OffsetCurrent=0.5 SATPWM=2621 filter_D=0.5 "
    "FreezeControl_errband=0 FreezeControl_time=0";

// Every gain calculator and its registers, written out apart from the plug-in's own table.
struct Pair {
  const char *scaled, *mantissa, *shift, *high;  // high: the second shift register, or ""
  Calculator derive;
  Calcs encode;  // shift, second shift (if any), mantissa
  double top() const { return *high ? 4194304 : 16384; }
};
// clang-format off
const Pair kPairs[] = {
    {"Kp_C_scl", "KPI", "SFTKPI", "", DeriveKp_C_scl, {EncodeSFTKPI, EncodeKPI}},
    {"Ki_C_scl", "KII", "SFTKII", "", DeriveKi_C_scl, {EncodeSFTKII, EncodeKII}},
    {"Kp_S_scl", "KPS", "SFTKPS", "", DeriveKp_S_scl, {EncodeSFTKPS, EncodeKPS}},
    {"Ki_S_scl", "KIS", "SFTKIS", "", DeriveKi_S_scl, {EncodeSFTKIS, EncodeKIS}},
    {"Kp_P_scl", "KPP", "SFTKPP", "", DeriveKp_P_scl, {EncodeSFTKPP, EncodeKPP}},
    {"Ki_P_scl", "KIP", "SFTKIP", "", DeriveKi_P_scl, {EncodeSFTKIP, EncodeKIP}},
    {"Kd_P_scl", "KDP", "SFTKDP", "", DeriveKd_P_scl, {EncodeSFTKDP, EncodeKDP}},
    {"Kp_T_scl", "KPTHT", "SFTKPTHT", "", DeriveKp_T_scl, {EncodeSFTKPTHT, EncodeKPTHT}},
    {"Ki_T_scl", "KITHT", "SFTKITHT", "", DeriveKi_T_scl, {EncodeSFTKITHT, EncodeKITHT}},
    {"KFFS_scl", "KFFS", "SFTSFFW", "", DeriveKFFS_scl, {EncodeSFTSFFW, EncodeKFFS}},
    {"KFFA_scl", "KFFA", "SFTAFFW", "SFTKFF", DeriveKFFA_scl, {EncodeSFTAFFW, EncodeSFTKFF, EncodeKFFA}},
};
// clang-format on
// A pair's names, with "KPTHT" (the angle loop's guard) first; r = "#" makes them registers.
std::string PairSetup(const Pair& p, const std::string& r) {
  std::string text = r + "KPTHT=0 " + p.scaled + "=0 " + r + p.mantissa + "=-1 " + r + p.shift;
  return *p.high ? text + "=-1 " + r + p.high + "=-1" : text + "=-1";
}

TEST(Gains, EveryPairEncodesShiftAndMantissaAndDerivesBack) {
  struct Row {
    double gain, shift, mantissa;
  };
  // clang-format off
  const Row rows[] = {{1, 0, 32767}, {0.5, 0, 16383.5}, {16384, 14, 32767}, {1.5, 1, 24575.25},
                      {3000, 12, 3000 * 32767 / 4096.0}, {0, 0, 0},
                      {std::nextafter(1024.0, 2048.0), 11, 16383.5}};  // a hair above 2^10
  // clang-format on
  TestSetup all = Make(kAll);  // an unknown gain, a register's name, no name: nothing to do
  EXPECT_EQ((std::vector<int>{EncodeGain(*all, "Kx_C_scl"), DeriveGain(*all, "KPI"),
                              EncodeGain(*all, nullptr)}),
            (std::vector<int>{0, 0, 0}));
  for (const Pair& p : kPairs) {
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(p.scaled) + " = " + std::to_string(r.gain));
      TestSetup s = Make(PairSetup(p, ""));
      s.Set(p.scaled, r.gain);
      EXPECT_TRUE(All(p.encode, s));
      const double low = s.Get(p.shift);
      EXPECT_EQ(low + (*p.high ? s.Get(p.high) : 0.0), r.shift);
      EXPECT_EQ(low, *p.high ? std::min(r.shift, 11.0) : r.shift);  // the first holds <= 11
      EXPECT_DOUBLE_EQ(s.Get(p.mantissa), r.mantissa);
      s.Set(p.scaled, -1);
      EXPECT_EQ(p.derive(*s), 1);
      EXPECT_DOUBLE_EQ(s.Get(p.scaled), r.gain);
      EXPECT_TRUE(s.Min(p.scaled) == 0 && s.Max(p.scaled) == p.top());
    }
    for (double bad : {kNaN, kInf, -kInf}) {  // not holdable: refused, registers untouched
      TestSetup s = Make(PairSetup(p, "") + " " + p.scaled + "=" + std::to_string(bad));
      for (Calculator c : p.encode) EXPECT_EQ(c(*s), 0) << p.scaled;
      EXPECT_EQ(s.Get(p.mantissa), -1.0) << p.scaled;
      EXPECT_EQ(s.Get(p.shift), -1.0) << p.scaled;
    }
  }
}

// A calculator, the name it writes, the range it sets on the first row (NaN: none) and values
// over kAll with items changed.
struct Case {
  Calculator calc;
  std::string out;
  double lo, hi;
  std::vector<std::pair<const char*, double>> rows;
};
const std::string kCorner = "FilterOnCurrentControllerOutput";
// Percent of In = 5 A: dead band max(0x0A, 0x14) x 0.5 / 40 MHz = 0.25 us, 20 kHz PWM, 48 V.
double Start(double vs, double r) { return 100 * (3000 - vs * 0.25e-6 * 2e4 * 48) / (vs * 5 * r); }
const double kVs = 32767 / 48.0, kVsSin = 65534 / (1.1 * 48), kFull = 32767, kA = 3276;
// clang-format off
const Case kCases[] = {
    {DeriveIsUseFilterOnCrtCtrlOutput, "isUseFilterOnCrtCtrlOutput", 0, 1, {{"FILTERQ=32767", 0}, {"", 1}}},
    {DeriveFilterOnCurrentControllerOutput, kCorner, 0, 1e4,  // up to 0.5 / Ts_C
     {{"FILTERQ=32767", 5000}, {"", -std::log(1 - 1598 / kFull) / 50e-6}}},
    {EncodeFILTERQ, "FILTERQ", kNaN, kNaN, {{"isUseFilterOnCrtCtrlOutput=0", kFull}, {"", 1598},
     {"FilterOnCurrentControllerOutput=1e4", 12892}}},  // 12892.8 truncated
    {DeriveFilter_D, "filter_D", 0, 1, {{"KDFP=8191.75", 0.25}}},
    {EncodeKDFP, "KDFP", kNaN, kNaN, {{"", 0.5 * kFull}}},
    {DeriveIsCompensateGravitationalLoads, "isCompensateGravitationalLoads", 0, 1,
     {{"FFL=0", 0}, {"", 1}}},
    {DeriveOffsetCurrent, "OffsetCurrent", -5, 5, {{"FFL=-1638", -0.5}}},
    {EncodeFFL, "FFL", kNaN, kNaN, {{"isCompensateGravitationalLoads=1.7", 1638},
     {"isCompensateGravitationalLoads=0.9", 0}}},
    {EncodeKFFL, "KFFL", kNaN, kNaN, {{"", kFull}}},
    {EncodeSATS, "SATS", 0, kFull, {{"", kFull - 4 * kA}, {"IlimPS=20", kFull - 20 * kA}}},  // not clamped
    {EncodeIMAXS, "IMAXS", 0, kFull, {{"", kFull - 2 * kA}}},
    {EncodeSATP, "SATP", 0, kFull, {{"", kFull - 2 * 500}, {"ControlMode=1", kFull - 4 * kA},
     {"PositionControlType=1.5", kFull - 4 * kA}}},
    {EncodeIMAXP, "IMAXP", 0, kFull, {{"", kFull - 500}, {"PositionControlType=0", kFull - 2 * kA}}},
    {DeriveIlimPS, "IlimPS", 0, 8, {{"", 4}, {"ACR=0xFDFF", 1000 / kA}}},
    {DeriveTestLimitCurrent, "TestLimitCurrent", 0, 8, {{"", 4}, {"ACR=0", 1000 / kA}}},
    {DeriveIPSatS, "IPSatS", 0, 100, {{"", 50}}},  // (32767 - IMAX) / (32767 - SAT)
    {DeriveIPSatP, "IPSatP", 0, 100, {{"", 50}}},
    {DeriveLimit_Speed, "Limit_Speed", 0, 300,  // 40e6 x 0.03 / 4000
     {{"", 2}, {"ControlMode=1 Limit_Speed=7.5", 7.5}, {"PositionControlType=0 Limit_Speed=7", 7}}},
    {EncodeSATID, "SATID", kNaN, kNaN, {{"", 2621}}},
    {EncodeSATIQ, "SATIQ", kNaN, kNaN, {{"", 2621}}},
    {DeriveSpeedForward, "SpeedForward", kNaN, kNaN, {{"", 1}, {"ACR=0xBFFF", 0}}},
    {DeriveIsFreezeControl, "isFreezeControl", 0, 1,
     {{"", 1}, {"ControlMode=1", 0}, {"ACR=0xFFEF", 0}, {"ControlMode=0.7", 1}}},
    {DeriveFreezeControl_errband, "FreezeControl_errband", 0, 0.032767, {{"", 1e-4}}},
    {EncodePOSOKLIM_FC, "POSOKLIM_FC", kNaN, kNaN, {{"FreezeControl_errband=50e-6", 50}}},
    {DeriveFreezeControl_time, "FreezeControl_time", 0, 65535 * 500e-6, {{"", 0.1}}},
    {EncodeTONPOSOK_FC, "TONPOSOK_FC", kNaN, kNaN, {{"FreezeControl_time=0.05", 100}}},
    {DeriveTestCurrent, "TestCurrent", 0, 1.8 * 2, {{"", 2}, {"In=3 InPS=10", 1.5}}},
    {DeriveTestProtectionCurrent, "TestProtectionCurrent", 0, 8, {{"", 5}}},
    {DeriveTestStartCurrent, "TestStartCurrent", 0, 300,
     {{"MotorPhaseConnectionType=2", Start(kVs, 1.5)}, {"MotorPhaseConnectionType=1", Start(kVs, 0.5)},
      {"CommutationMethod=1", Start(kVsSin, 1.5)}}},
    {DeriveMload_over_M, "Mload_over_M", 0, 100, {{"", 0.5}}},
    {DeriveTestMaxSpeed, "TestMaxSpeed", 0, 300, {{"", 100}}},
};
// clang-format on

TEST(Gains, ConversionsGiveTheirValuesAndRanges) {
  for (const Case& c : kCases) {
    const std::string& out = c.out;  // starts at -7
    for (const auto& [setup, value] : c.rows) {
      SCOPED_TRACE(out + " with " + setup);
      TestSetup s = Make(kAll + " " + out + "=-7 " + setup);
      ASSERT_EQ(c.calc(*s), 1);
      EXPECT_NEAR(s.Get(out.c_str()), value, 1e-9 * std::max(1.0, std::fabs(value)));
      if (&setup != &c.rows[0].first) continue;  // the range of the first row
      EXPECT_NEAR(s.Min(out.c_str()), std::isnan(c.hi) ? -1e300 : c.lo, 1e-12);
      EXPECT_NEAR(s.Max(out.c_str()), std::isnan(c.hi) ? 1e300 : c.hi, 1e-9 * std::max(1.0, c.hi));
    }
  }
}

TEST(Gains, RandomValuesRoundTripWithinOneRegisterStep) {
  struct Family {  // a physical value up to top, the register holding it, their calculators
    std::string phys, reg;
    double top;
    Calcs encode;
    Calculator derive;
    std::string setup = "";
  };
  // clang-format off
  std::vector<Family> families = {
      {kCorner, "FILTERQ", 9000, {EncodeFILTERQ}, DeriveFilterOnCurrentControllerOutput},
      {"OffsetCurrent", "FFL", 5, {EncodeFFL}, DeriveOffsetCurrent},
      {"IlimPS", "SATS", 8, {EncodeSATS}, DeriveIlimPS},
      {"Limit_Speed", "SATP", 60, {EncodeSATP}, DeriveLimit_Speed},
      {"FreezeControl_errband", "POSOKLIM_FC", 0.03, {EncodePOSOKLIM_FC}, DeriveFreezeControl_errband},
      {"FreezeControl_time", "TONPOSOK_FC", 16, {EncodeTONPOSOK_FC}, DeriveFreezeControl_time}};
  // clang-format on
  for (const Pair& p : kPairs) {
    families.push_back({p.scaled, p.mantissa, p.top(), p.encode, p.derive, PairSetup(p, "#")});
  }
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (const Family& f : families) {
    const char *phys = f.phys.c_str(), *reg = f.reg.c_str();
    for (int i = 0; i < 400; ++i) {
      const double v = f.top * std::exp2(-20 * unit(rng));  // six decades below the top
      TestSetup s = Make(kAll + " #" + f.reg + "=0 " + f.setup);
      s.Set(phys, v);
      const bool by_name = i % 2 && FindGainPair(phys);  // every other gain by its name
      ASSERT_TRUE(by_name ? EncodeGain(*s, phys) == 1 : All(f.encode, s)) << phys;
      ASSERT_EQ(by_name ? DeriveGain(*s, phys) : f.derive(*s), 1) << phys;
      const double back = s.Get(phys), count = s.Get(reg);
      EXPECT_LE(std::fabs(count), 32767.0) << phys << " " << v;
      s.Set(reg, count + 1);
      ASSERT_EQ(f.derive(*s), 1);
      EXPECT_LE(std::fabs(back - v), std::fabs(s.Get(phys) - back) * (1 + 1e-9)) << phys << v;
    }
  }
}

}  // namespace
