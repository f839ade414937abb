#include "conversions/gains.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "conversions/calculator.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using namespace kestrel;

const double kNaN = std::nan(""), kInf = HUGE_VAL;

// Names of a list; a leading '?' (a name looked up without a report) is dropped.
std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w[0] == '?' ? w.substr(1) : w);
  return words;
}

// "name=value ..." (later items win); "#name" marks an integer register, rounded by the host.
TestSetup Make(const std::string& text) {
  std::map<std::string, std::pair<double, bool>> items;
  for (const std::string& w : Words(text)) {
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
    {"KFFA_scl",
     "KFFA",
     "SFTAFFW",
     "SFTKFF",
     DeriveKFFA_scl,
     {EncodeSFTAFFW, EncodeSFTKFF, EncodeKFFA}},
};
// A pair's names, with "KPTHT" (the angle loop's guard) first; r = "#" makes them registers.
std::string PairSetup(const Pair& p, const std::string& r) {
  std::string text = r + "KPTHT=0 " + p.scaled + "=0 " + r + p.mantissa + "=-1 " + r + p.shift;
  return *p.high ? text + "=-1 " + r + p.high + "=-1" : text + "=-1";
}

TEST(Gains, EveryPairEncodesShiftAndMantissaAndDerivesBack) {
  struct Row {
    double gain, shift, mantissa;
  };
  const Row rows[] = {{1, 0, 32767},
                      {0.5, 0, 16383.5},
                      {16384, 14, 32767},
                      {1.5, 1, 24575.25},
                      {3000, 12, 3000 * 32767 / 4096.0},
                      {0, 0, 0},
                      {std::nextafter(1024.0, 2048.0), 11, 16383.5}};  // a hair above 2^10
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
      EXPECT_EQ(s.Get(p.mantissa) + s.Get(p.shift), -2.0) << p.scaled;
    }
  }
}

// A calculator; the names it reads or writes, what it writes first ("?name": looked up without a
// report); the range it sets on the first row (NaN: none); values over kAll with items changed.
using Rows = std::vector<std::pair<const char*, double>>;
struct Case {
  Calculator calc;
  std::string names;
  double lo, hi;
  Rows rows;
};
const std::string kUse = "isUseFilterOnCrtCtrlOutput", kCorner = "FilterOnCurrentControllerOutput",
                  kComp = "isCompensateGravitationalLoads", kFc = " ?POSOKLIM_FC ?TONPOSOK_FC",
                  kTs = " CLPER PWMPER DSP_freq", kLimit = " ImaxPS ImaxM ACR SATS SATP",
                  kLoad = " EncRes Motor_transmission Load_transmission",
                  kCascade =
                      " ControlMode PositionControlType Limit_Speed SLPER PWMPER DSP_freq" + kLoad;
// Percent of In = 5 A: dead band max(0x0A, 0x14) x 0.5 / 40 MHz = 0.25 us, 20 kHz PWM, 48 V.
double Start(double vs, double r) { return 100 * (3000 - vs * 0.25e-6 * 2e4 * 48) / (vs * 5 * r); }
const double kVs = 32767 / 48.0, kVsSin = 65534 / (1.1 * 48), kFull = 32767, kA = 3276;
const Case kCases[] = {
    {DeriveIsUseFilterOnCrtCtrlOutput, kUse + " FILTERQ", 0, 1, {{"FILTERQ=32767", 0}, {"", 1}}},
    {DeriveFilterOnCurrentControllerOutput,
     kCorner + " FILTERQ" + kTs,
     0,
     1e4,
     {{"FILTERQ=32767", 5000}, {"", -std::log(1 - 1598 / kFull) / 50e-6}}},  // up to 0.5 / Ts_C
    {EncodeFILTERQ,
     "FILTERQ " + kUse + " " + kCorner + kTs,
     kNaN,
     kNaN,
     {{"isUseFilterOnCrtCtrlOutput=0", kFull},
      {"", 1598},
      {"FilterOnCurrentControllerOutput=1e4", 12892}}},  // 12892.8 truncated
    {DeriveFilter_D, "filter_D KDFP", 0, 1, {{"KDFP=8191.75", 0.25}}},
    {EncodeKDFP, "?KDFP ?filter_D", kNaN, kNaN, {{"", 0.5 * kFull}}},
    {DeriveIsCompensateGravitationalLoads, kComp + " FFL", 0, 1, {{"FFL=0", 0}, {"", 1}}},
    {DeriveOffsetCurrent, "OffsetCurrent FFL In ImaxPS", -5, 5, {{"FFL=-1638", -0.5}}},
    {EncodeFFL,
     "FFL OffsetCurrent ImaxPS " + kComp,
     kNaN,
     kNaN,
     {{"isCompensateGravitationalLoads=1.7", 1638}, {"isCompensateGravitationalLoads=0.9", 0}}},
    {EncodeKFFL, "?KFFL", kNaN, kNaN, {{"", kFull}}},
    {EncodeSATS,
     "SATS IlimPS ImaxPS",
     0,
     kFull,
     {{"", kFull - 4 * kA}, {"IlimPS=20", kFull - 20 * kA}}},  // not clamped
    {EncodeIMAXS, "IMAXS IlimPS IPSatS ImaxPS", 0, kFull, {{"", kFull - 2 * kA}}},
    {EncodeSATP,
     "SATP" + kCascade,
     0,
     kFull,
     {{"", kFull - 2 * 500},
      {"ControlMode=1", kFull - 4 * kA},
      {"PositionControlType=1.5", kFull - 4 * kA}}},
    {EncodeIMAXP,
     "IMAXP IPSatP" + kCascade,
     0,
     kFull,
     {{"", kFull - 500}, {"PositionControlType=0", kFull - 2 * kA}}},
    {DeriveIlimPS, "IlimPS" + kLimit, 0, 8, {{"", 4}, {"ACR=0xFDFF", 1000 / kA}}},
    {DeriveTestLimitCurrent, "TestLimitCurrent" + kLimit, 0, 8, {{"", 4}, {"ACR=0", 1000 / kA}}},
    {DeriveIPSatS, "IPSatS IMAXS SATS", 0, 100, {{"", 50}}},  // (32767 - IMAX) / (32767 - SAT)
    {DeriveIPSatP, "IPSatP IMAXP SATP", 0, 100, {{"", 50}}},
    {DeriveLimit_Speed,
     "Limit_Speed SATP PolePitch" + kCascade,
     0,
     300,  // 40e6 x 0.03 / 4000
     {{"", 2}, {"ControlMode=1 Limit_Speed=7.5", 7.5}, {"PositionControlType=0 Limit_Speed=7", 7}}},
    {EncodeSATID, "?SATID ?SATPWM", kNaN, kNaN, {{"", 2621}}},
    {EncodeSATIQ, "?SATIQ ?SATPWM", kNaN, kNaN, {{"", 2621}}},
    {DeriveSpeedForward, "?SpeedForward ACR", kNaN, kNaN, {{"", 1}, {"ACR=0xBFFF", 0}}},
    {DeriveIsFreezeControl,
     "isFreezeControl ACR ControlMode" + kFc,
     0,
     1,
     {{"", 1}, {"ControlMode=1", 0}, {"ACR=0xFFEF", 0}, {"ControlMode=0.7", 1}}},
    {DeriveFreezeControl_errband, "FreezeControl_errband" + kFc + kLoad, 0, 0.032767, {{"", 1e-4}}},
    {EncodePOSOKLIM_FC,
     "POSOKLIM_FC FreezeControl_errband" + kFc + kLoad,
     kNaN,
     kNaN,
     {{"FreezeControl_errband=50e-6", 50}}},
    {DeriveFreezeControl_time, "FreezeControl_time Ts_S" + kFc, 0, 65535 * 500e-6, {{"", 0.1}}},
    {EncodeTONPOSOK_FC,
     "TONPOSOK_FC FreezeControl_time Ts_S" + kFc,
     kNaN,
     kNaN,
     {{"FreezeControl_time=0.05", 100}}},
    {DeriveTestCurrent, "TestCurrent In InPS", 0, 1.8 * 2, {{"", 2}, {"In=3 InPS=10", 1.5}}},
    {DeriveTestProtectionCurrent, "TestProtectionCurrent IMAXPROT ImaxPS ImaxM", 0, 8, {{"", 5}}},
    {DeriveTestStartCurrent,
     "TestStartCurrent REFTST Vdc CommutationMethod In R MotorPhaseConnectionType PWMPER DSP_freq",
     0,
     300,
     {{"MotorPhaseConnectionType=2", Start(kVs, 1.5)},
      {"MotorPhaseConnectionType=1", Start(kVs, 0.5)},
      {"CommutationMethod=1", Start(kVsSin, 1.5)}}},
    {DeriveMload_over_M, "Mload_over_M Mt M", 0, 100, {{"", 0.5}}},
    {DeriveTestMaxSpeed, "TestMaxSpeed DSP_freq PolePitch PWMPER", 0, 300, {{"", 100}}},
};

TEST(Gains, ConversionsGiveTheirValuesAndRanges) {
  for (const Case& c : kCases) {
    const std::string out = Words(c.names)[0];
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
  std::vector<Family> families = {
      {kCorner, "FILTERQ", 9000, {EncodeFILTERQ}, DeriveFilterOnCurrentControllerOutput},
      {"OffsetCurrent", "FFL", 5, {EncodeFFL}, DeriveOffsetCurrent},
      {"IlimPS", "SATS", 8, {EncodeSATS}, DeriveIlimPS},
      {"Limit_Speed", "SATP", 60, {EncodeSATP}, DeriveLimit_Speed},
      {"FreezeControl_errband",
       "POSOKLIM_FC",
       0.03,
       {EncodePOSOKLIM_FC},
       DeriveFreezeControl_errband},
      {"FreezeControl_time", "TONPOSOK_FC", 16, {EncodeTONPOSOK_FC}, DeriveFreezeControl_time},
  };
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

// Every calculator of the file with the names it reads or writes.
std::vector<std::pair<Calculator, std::string>> Contracts() {
  std::vector<std::pair<Calculator, std::string>> v;
  for (const Case& c : kCases) v.push_back({c.calc, c.names});
  for (const Pair& p : kPairs) {
    const std::string s = std::string(p.scaled) + " ", h = *p.high ? std::string(" ") + p.high : "",
                      g = std::string(p.scaled).find("_T_") != std::string::npos ? " ?KPTHT" : "";
    v.push_back({p.derive, s + p.mantissa + " " + p.shift + h + g});
    v.push_back({p.encode.front(), s + p.shift + g});
    v.push_back({p.encode.back(), s + p.mantissa + g});
    if (*p.high) v.push_back({p.encode[1], s + p.high});
  }
  // By name, case ignored; all registers or none.
  v.push_back({[](auto& s) { return EncodeGain(s, "kffa_SCL"); }, "KFFA_scl KFFA SFTAFFW SFTKFF"});
  v.push_back({[](auto& s) { return DeriveGain(s, "kd_p_SCL"); }, "Kd_P_scl KDP SFTKDP"});
  return v;
}

TEST(Gains, AMissingNameChangesNothingAndReturnsZero) {
  TestSetup all = Make(kAll);
  auto value = [&all](auto& n) { return all->FindParameterNoError(n) ? all.Get(n.c_str()) : .5; };
  EXPECT_EQ(EncodeGain(*all, "Kx_C_scl") + DeriveGain(*all, "KPI") + EncodeGain(*all, nullptr), 0);
  for (const auto& [calc, list] : Contracts()) {
    const std::vector<std::string> names = Words(list);
    for (size_t skip = 0; skip <= names.size(); ++skip) {  // skip == size: none missing
      const std::string missing = skip < names.size() ? names[skip] : "";
      SCOPED_TRACE(list + " without " + missing);
      std::vector<std::string> reports;
      axis::SetErrorReporter([&](const std::string& m) { reports.push_back(m); });
      TestSetup s;
      for (const std::string& n : names) {
        if (n != missing && !s->FindParameterNoError(n)) s.Physical({{n.c_str(), value(n)}});
      }
      EXPECT_EQ(calc(*s), missing.empty() ? 1 : 0);
      axis::SetErrorReporter(nullptr);
      for (const std::string& n : names) {
        if (n == missing || missing.empty()) continue;
        EXPECT_EQ(s.Get(n.c_str()), value(n)) << n;
        EXPECT_TRUE(s.Min(n.c_str()) == -1e300 && s.Max(n.c_str()) == 1e300) << n;
      }
      const bool quiet = missing.empty() || list.find("?" + missing) != std::string::npos;
      EXPECT_EQ(reports.size(), quiet ? 0u : 1u);
      for (const std::string& r : reports) EXPECT_NE(r.find(missing), std::string::npos);
    }
  }
}

TEST(Gains, DegenerateInputsNeverFault) {
  std::string names = "DBT DBTPC";
  for (const auto& row : Contracts()) names += " " + row.second;
  for (double poison : {0.0, -1.0, kNaN, kInf, -kInf, 1e308}) {
    TestSetup s;
    for (const std::string& n : Words(names)) {
      if (!s->FindParameterNoError(n)) s.Physical({{n.c_str(), poison}});
    }
    for (const auto& row : Contracts()) EXPECT_LE(unsigned(row.first(*s)), 1u) << poison;
  }
}

}  // namespace
