// Protections: thresholds, times, switches and the I2t registers of drive and motor.
#include "conversions/protections.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "conversions/calculators.h"
#include "support/test_setup.h"

namespace {

using axis::testing::TestSetup;
using namespace kestrel;           // NOLINT: the calculators under test
using namespace kestrel::testing;  // NOLINT: the case helpers

// Reference drive: kI = 65520 / (2 x ImaxPS) = 3276 per A, kV = 65520 / 100 = 655.2 per V,
// Ts = 20 x 2 x 1000 / 40e6 = 1 ms, load position scale 1e6 per m, load speed scale 1000.
// Entries without a value are 0; names ignore case ("isMotori2t").
constexpr double kI = 3276, kV = 655.2, kTs = 1e-3;
const char kPhysical[] =
    "ImaxPS=10 InPS=5 ImaxM=8 In=2 VdcMaxMeasurable=100 Ts_S=0.001 EncRes=1e-6 DSP_freq=40e6 "
    "Motor_transmission=1 Load_transmission=1 ADCrange=3.3 DriveTempOutputAt0oC=0.5 "
    "DriveTempSensorGain=0.01 UMAX_PROT UMIN_PROT Temp_2 Imax_Prot time_Imax_Prot Vbrake "
    "isPositionControlError ERR_position time_ERR_pos isSpeedControlError ERR_speed time_ERR_spd "
    "I_I2t_D t_I2t_D I_I2t_M t_I2t_M isOverCurrent isMotori2t isMotorOverTemp isDriveOverTemp "
    "isOverVoltage isUnderVoltage isDriveI2t isHallsensors";
const char kRegisters[] =
    "SLPER=20 PWMPER=1000 PCR UMAXPROT UMINPROT T2MAXPROT IMAXPROT TIMAXPROT T1MAXPROT BRAKELIM "
    "ERRMAX TERRMAX SERRMAX TSERRMAX II2TPROT_D SFI2T_D I2TINTLIM_D II2TWARLIM_D II2TPROT_M "
    "SFI2T_M I2TINTLIM_M I2TWARLIM_M";

// The current-squared I2t registers ("I2T...", "II2T...") have an internal unit of a quarter.
double Quarter(CMC_Setup*, const char*, const char* n) {
  return std::string(n).find("I2T") < 2 ? 4 : 1;
}

// The reference drive changed by `given` (see FromTokens); "%" gives the I2t registers internal
// units of a quarter.
TestSetup Drive(const std::string& given = "") {
  return FromTokens(kPhysical, kRegisters, given, [](TestSetup& s, const std::string&) {
    s->SetScaleProvider({Quarter, nullptr});
  });
}

// clang-format off
// Register <-> physical pairs: random values in [lo, hi] come back within `step` (one register
// count; the whole step below when the encoder truncates).
struct Pair { Calculator derive, encode; const char* name; double lo, hi, step; int truncates; };
const Pair kPairs[] = {
  {DeriveUMAX_PROT, EncodeUMAXPROT, "UMAX_PROT", 0, 100, 1 / kV, 1},
  {DeriveUMIN_PROT, EncodeUMINPROT, "UMIN_PROT", 0, 100, 1 / kV, 0},
  {DeriveTemp_2, EncodeT2MAXPROT, "Temp_2", -40, 150, 3.3 / 655.2, 0},
  {DeriveImax_Prot, EncodeIMAXPROT, "Imax_Prot", 0, 8, 1 / kI, 0},
  {Derivetime_Imax_Prot, EncodeTIMAXPROT, "time_Imax_Prot", 0, 32.767, kTs, 0},
  {DeriveVbrake, EncodeBRAKELIM, "Vbrake", 1, 100, 1 / kV, 0},
  {DeriveERR_position, EncodeERRMAX, "ERR_position", 0, 0.032767, 1e-6, 0},
  {DeriveERR_speed, EncodeSERRMAX, "ERR_speed", 0, 32.767, 1e-3, 0},
  {Derivetime_ERR_pos, EncodeTERRMAX, "time_ERR_pos", 0, 32.767, kTs, 0},
  {Derivetime_ERR_spd, EncodeTSERRMAX, "time_ERR_spd", 0, 32.767, kTs, 0},
  // one count of the limit moves I by 8 / (I kI^2), one of SFI2T moves t by t^2 / (2^26 Ts)
  {DeriveI_I2t_D, EncodeI2TINTLIM_D, "I_I2t_D", 5.5, 10, 8 / (5.5 * kI * kI), 0},
  {DeriveI_I2t_M, EncodeI2TINTLIM_M, "I_I2t_M", 2.2, 8, 8 / (2.2 * kI * kI), 0},
  {Derivet_I2t_D, EncodeSFI2T_D, "t_I2t_D", 2.048, 20, 400 / 67108.864, 0},
  {Derivet_I2t_M, EncodeSFI2T_M, "t_I2t_M", 2.048, 20, 400 / 67108.864, 0},
};
// Each case runs the calculators writing a name of `expected`, expecting `result` from each.
const struct { const char* given; const char* expected; int result = 1; } kCases[] = {
  // derive the switches, then encode: bits 0-7 rebuilt (bit 6 is not a switch), bits 8-15 kept
  {"PCR=0xA55A", "isOverCurrent=0 isMotori2t=1 isMotorOverTemp=0 isDriveOverTemp=1 isOverVoltage=1 "
   "isUnderVoltage=0 isDriveI2t=0 isOverCurrent<=1 isDriveI2t>=0 isMotorOverTemp<=1 PCR=0xA51A"},
  {"PCR=0xA5", "isOverCurrent=1 isMotori2t=0 isMotorOverTemp=1 isDriveOverTemp=0 isOverVoltage=0 "
   "isUnderVoltage=1 isDriveI2t=1 PCR=0xA5"},
  {"PCR=0xA5FF", "PCR=0xA500"},  // every switch 0, no broken-wire option
  {"PCR=0x77 isOverCurrent=1.5 isDriveI2t=2 isOverVoltage=0.999", "PCR=1"},
  {"@hasEncoderBrokenWireProtection=1 isHallsensors=1 PCR=0x77", "PCR=0x40"},
  {"@hasEncoderBrokenWireProtection=1 isHallsensors=2", "PCR=0"},
  {"@hasEncoderBrokenWireProtection=1 !isHallsensors PCR=0x77", "PCR=0x77", 0},
  {"@hasEncoderBrokenWireProtection=0 !isHallsensors PCR=0x77", "PCR=0"},
  // without a motor temperature input the switch can only be 0, yet it still encodes its bit
  {"@DisableMotorTemperature=1 PCR=0x0C", "isMotorOverTemp=1 isMotorOverTemp<=0 PCR=0x04"},
  {"UMAXPROT=45864 UMINPROT=13104 T2MAXPROT=19656 IMAXPROT=16380 TIMAXPROT=500 BRAKELIM=52416",
   "UMAX_PROT=70 UMIN_PROT=20 Temp_2=49 UMAX_PROT>=-1e300 Temp_2<=1e300 Imax_Prot=5 Imax_Prot<=8 "
   "time_Imax_Prot=0.5 time_Imax_Prot<=32.767 Vbrake=80 Vbrake>=1 Vbrake<=100"},
  {"ERRMAX=2000 SERRMAX=500 TERRMAX=65535 TSERRMAX=65534", "ERR_position=0.002 "
   "ERR_position<=0.032767 ERR_speed=0.5 ERR_speed<=32.767 isPositionControlError=0 "
   "isPositionControlError<=1 isSpeedControlError=1 time_ERR_spd=65.534 time_ERR_spd<=32.767"},
  {"Motor_transmission=-2 ERRMAX=2000 SERRMAX=500",  // reversed: bands scale by its magnitude
   "ERR_position=0.001 ERR_position<=0.0163835 ERR_speed=0.25 ERRMAX=2000"},
  {"I2TINTLIM_D=16098264 I2TINTLIM_M=3353805",  // sqrt(16 x reg + (N kI)^2) / kI; motor >= 1.1 In
   "I_I2t_D=7 I_I2t_D>=5 I_I2t_D<=10 I_I2t_M=3 I_I2t_M>=2.2 I_I2t_M<=8"},
  // derived: t_I2t_D by Ts_S, others by the registers; encoded: / Ts_S, switch 0 gives 65535
  {"Ts_S=0.002 SFI2T_D=16000 SFI2T_M=16000 time_Imax_Prot=0.5 time_ERR_spd=0.04 "
   "isSpeedControlError=1.5 isPositionControlError=0 time_ERR_pos=0.3", "t_I2t_D=8.388608 "
   "t_I2t_M=4.194304 t_I2t_D>=2.048 t_I2t_M<=67108.864 TIMAXPROT=250 TSERRMAX=20 TERRMAX=65535"},
  // UMAX truncated (45864.59), UMIN left to the host's rounding
  {"UMAX_PROT=70.0009 UMIN_PROT=20.0009 Temp_2=49 Vbrake=80 ERR_speed=0.5 isPositionControlError=1 "
   "time_ERR_pos=0.3", "UMAXPROT=45864 UMINPROT=13105 T2MAXPROT=19656 T1MAXPROT=32767 "
   "BRAKELIM=52416 SERRMAX=500 TERRMAX=300"},
  // (I^2 - N^2) x kI^2 / 16 = (I^2 - N^2) x 670761; warning = limit x (1 - 2 s / t)
  {"I_I2t_D=7 t_I2t_D=4 I_I2t_M=4 t_I2t_M=4", "II2TPROT_D=16380 II2TPROT_M=6552 SFI2T_D=16777 "
   "I2TINTLIM_D=16098264 I2TINTLIM_M=8049132 II2TWARLIM_D=8049132 I2TWARLIM_M=4024566"},
  {"I_I2t_M=2 I_I2t_D=7 t_I2t_D=2", "I2TINTLIM_M=0 II2TWARLIM_D=0"},
  // the drive's I2t registers travel in internal units (here a quarter), the motor's in base units
  {"% I2TINTLIM_D=64393056 I2TINTLIM_M=3353805 t_I2t_D=4",
   "I_I2t_D=7 I_I2t_M=3 II2TPROT_D=65520 II2TWARLIM_D=32196528 II2TPROT_M=6552"},
  {"ImaxM=-1 VdcMaxMeasurable=0.5 DSP_freq=nan I_I2t_M=42 Imax_Prot=42 Vbrake=42 t_I2t_M=42",
   "I_I2t_M=42 Imax_Prot=42 Vbrake=42 t_I2t_M=42", 0},  // refused ranges write nothing
};
// clang-format on

TEST(Protections, Cases) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.given);
    TestSetup s = Drive(c.given);
    ExpectCase(s, kProtections, c.expected, c.result);
  }
}

TEST(Protections, RandomValuesComeBackWithinOneRegisterStep) {
  std::mt19937 rng(20261206);
  for (const Pair& row : kPairs) {
    const char* name = row.name;
    std::uniform_real_distribution<double> dist(row.lo, row.hi);
    TestSetup s = Drive("isPositionControlError=1 isSpeedControlError=1");
    for (int i = 0; i < 300; ++i) {
      const double value = dist(rng), step = row.step * (1 + 1e-6);
      s.Set(name, value);
      ASSERT_EQ(row.encode(*s), 1);
      s.Set(name, -12345);
      ASSERT_EQ(row.derive(*s), 1);
      ASSERT_NEAR(s.Get(name), value - row.truncates * step / 2, step / 2) << name << value;
    }
  }
}

}  // namespace
