// The simulated drive's sensors: the Hall configurations, the index capture and the host's write
// of "var_i2" that ends a connection routine.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "sim/routines.h"
#include "unittests/sim/host_side.h"

namespace sim {
namespace {

// The states of the six sectors (sector j from j/6 turn of the angle the sensors read).
std::string Sectors(int hall_case) {
  std::string s;
  for (int j = 0; j < 6; ++j) s += static_cast<char>('0' + HallValue(hall_case, (j + 0.5) / 6.0));
  return s;
}

TEST(HallSensors, TwelveDistinctConfigurations) {
  // The reference goes 1, 3, 2, 6, 4, 5 forward; the default (3) is the drive's earlier layout,
  // bit n high while sin(angle - n 120 degrees) >= 0: 5 from 0 to 60 degrees, then 1, 3 ...
  const struct {
    int hall_case;
    const char* sectors;
  } rows[] = {{2, "645132"}, {3, "513264"}, {8, "132645"}, {5, "546231"}, {13, "154623"}};
  for (const auto& row : rows) EXPECT_EQ(Sectors(row.hall_case), row.sectors) << row.hall_case;
  std::set<std::string> seen;
  for (int c = 2; c <= 13; ++c) {
    const std::string s = Sectors(c);
    EXPECT_EQ(std::set<char>(s.begin(), s.end()).size(), 6u) << c;  // each state once
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 12u);
}

TEST(HallSensors, StuckInputsAndTheShift) {
  const struct {
    const char* key;
    const char* value;
    const char* sectors;  // read at the middle of each sixth of a turn of the carriage
  } rows[] = {
      {"hallStuck", "none", "513264"},
      {"hallStuck", "2=0", "511044"},
      {"hallStuck", "3=1", "513375"},
      {"hallShift", "10923", "132645"},  // a sixth of a turn on: the next state
      {"hallOffset", "1.0471975511965976", "132645"},
  };
  for (const auto& row : rows) {
    Config config = DefaultConfig();
    ASSERT_EQ(ApplySimulationKey(config, row.key, row.value), "");
    std::string sectors;
    for (int j = 0; j < 6; ++j) {
      ASSERT_EQ(ApplySimulationKey(config, "position",
                                   std::to_string(config.motor.pole_pitch_m * (j + 0.5) / 6.0)),
                "");
      testing::HostSide host(config);
      sectors += static_cast<char>('0' + static_cast<int>(host.Variable("HALL")));
    }
    EXPECT_EQ(sectors, row.sectors) << row.key << "=" << row.value;
  }
}

TEST(IndexCapture, LatchesOnceArmedAtTheMark) {
  Config config = DefaultConfig();
  ASSERT_EQ(ApplySimulationKey(config, "indexAt", "0.0055"), "");
  ASSERT_EQ(ApplySimulationKey(config, "hand", "0:0,1:0.01,2:-0.01"), "");
  testing::HostSide host(config);
  ASSERT_TRUE(host.drive().Launch("Encoder_Connection_Test", {}, nullptr));
  host.Wait(0.5);  // past the mark, not armed
  EXPECT_EQ(host.Variable("CAPPOS"), 0.0);
  EXPECT_TRUE(host.drive().ExecuteString("!CAP;ENCAPI1;"));
  host.Wait(0.3);
  EXPECT_NEAR(host.Variable("APOS"), 8000.0, 1.0);
  EXPECT_EQ(host.Variable("CAPPOS"), 0.0);
  host.Wait(1.0);  // back over it: 5.5 mm is 1500 counts from the start at 4 mm
  EXPECT_EQ(host.Variable("CAPPOS"), 1500.0);
  EXPECT_NEAR(host.Variable("APOS"), -6000.0, 1.0);
}

TEST(ConnectionRoutines, TheHostsWriteOfVarI2EndsThem) {
  Config config = DefaultConfig();
  ASSERT_EQ(ApplySimulationKey(config, "hand", "0:0,1:0.045"), "");
  testing::HostSide host(config);
  ASSERT_TRUE(host.drive().Launch("Hall_Signals_Connection_Test", {}, nullptr));
  host.Wait(0.5);  // a quarter turn of changes so far, counted in var_i2
  const double counted = host.Variable("var_i2");
  EXPECT_GT(counted, 0.0);
  EXPECT_LT(counted, 6.0);
  host.Wait(1.0);
  EXPECT_EQ(host.Variable("var_i2"), 6.0);  // saturated
  EXPECT_EQ(host.User("Hall_Signals_Connection_Test", "bad"), 0.0);
  // The host's write is the command whatever the value: the count stops where it was written.
  ASSERT_TRUE(host.drive().WriteVariable("var_i2", 2.0));
  host.drive().SetHandPosition(0.0);
  host.Wait(0.5);
  EXPECT_EQ(host.Variable("var_i2"), 2.0);
  EXPECT_EQ(host.Variable("APOS"), 0.0);
}

// The potentiometer turned by hand (the desktop's slider) wins over the "ad5" key; NaN gives the
// key back. A 10-bit reading in the upper bits: half the range is 512 x 64.
TEST(AnalogueInput, SetByHandOrByTheKey) {
  Config config = DefaultConfig();
  ASSERT_EQ(ApplySimulationKey(config, "ad5", "0.25"), "");
  testing::HostSide host(config);
  EXPECT_EQ(host.Variable("AD5"), 256.0 * 64);  // 255.75 rounded
  host.drive().SetAnalogueInput(0.5);
  EXPECT_EQ(host.Variable("AD5"), 512.0 * 64);
  host.drive().SetAnalogueInput(2.0);  // beyond the range: its end
  EXPECT_EQ(host.Variable("AD5"), 1023.0 * 64);
  host.drive().SetAnalogueInput(NAN);
  EXPECT_EQ(host.Variable("AD5"), 256.0 * 64);
}

}  // namespace
}  // namespace sim
