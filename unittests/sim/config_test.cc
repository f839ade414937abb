// The simulated drive's configuration: simulation keys, the setup's "simulation" section, what
// the drive copies from a setup, and the registers it refuses.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/number_text.h"
#include "host/setup.h"
#include "host/setup_file.h"
#include "sim/routines.h"
#include "sim/setup_config.h"
#include "sim/simulated_drive.h"

namespace sim {
namespace {

std::string Setups() { return AXIS_SETUPS_DIR; }

TEST(SimulationKeys, ValuesAreReadAsTheKeyWants) {
  struct Row {
    const char* key;
    const char* value;
    double (*field)(const Config&);
    double want;
  } rows[] = {
      {"R", "0.75", [](const Config& c) { return c.motor.resistance_Ohm; }, 0.75},
      {"L", "12e-3", [](const Config& c) { return c.motor.inductance_H; }, 0.012},
      {"vdc", " 36 ", [](const Config& c) { return c.motor.bus_V; }, 36.0},
      {"deadTime", "2e-6", [](const Config& c) { return c.motor.dead_time_s; }, 2e-6},
      {"lB", "1.25", [](const Config& c) { return c.motor.inductance_factor[1]; }, 1.25},
      {"rC", "0.5", [](const Config& c) { return c.motor.resistance_factor[2]; }, 0.5},
      {"seed", "12345", [](const Config& c) { return double(c.motor.seed); }, 12345.0},
      {"faults", "0x8002", [](const Config& c) { return double(c.faults.forced_mer); }, 0x8002},
      {"faults", "80", [](const Config& c) { return double(c.faults.forced_mer); }, 0x80},
      {"linkFailAfter", "1.5", [](const Config& c) { return c.faults.link_fail_after_s; }, 1.5},
      {"connection", "delta",
       [](const Config& c) { return double(c.motor.connection == Connection::kDelta); }, 1.0},
      {"openPhase", "C",
       [](const Config& c) { return double(static_cast<int>(c.motor.open_terminal)); }, 2.0},
      {"hallOffset", "-0.5", [](const Config& c) { return c.motor.hall_offset_rad; }, -0.5},
      {"hallShift", "-5461", [](const Config& c) { return c.sensors.hall_shift; }, -5461},
      {"hallCase", "13", [](const Config& c) { return double(c.sensors.hall_case); }, 13},
      {"hallStuck", "1=1, 3=0",
       [](const Config& c) {
         return double(c.sensors.hall_stuck_high * 8 + c.sensors.hall_stuck_low);
       },
       4 * 8 + 1},
      {"indexAt", "-0.002", [](const Config& c) { return c.sensors.index_m; }, -0.002},
      {"encoderReversed", "true",
       [](const Config& c) { return double(c.sensors.encoder_reversed); }, 1},
      {"hand", "0:0, 1:0.5, 2:0.25", [](const Config& c) { return c.sensors.hand.At(1.5); }, 0.375},
      {"ad5", "0.25", [](const Config& c) { return c.sensors.ad5.At(7.0); }, 0.25},
  };
  for (const Row& r : rows) {
    Config c = DefaultConfig();
    EXPECT_EQ(ApplySimulationKey(c, r.key, r.value), "") << r.key;
    EXPECT_EQ(r.field(c), r.want) << r.key << "=" << r.value;
  }
  Config c = DefaultConfig();
  EXPECT_EQ(ApplySimulationKey(c, "neverStart", "Ident_R_or_Rs, VDC_Detection_Test"), "");
  EXPECT_EQ(c.faults.never_start,
            (std::vector<std::string>{"Ident_R_or_Rs", "VDC_Detection_Test"}));
  EXPECT_EQ(ApplySimulationKey(c, "neverStart", "true"), "");
  EXPECT_TRUE(c.faults.never_start_all);
}

TEST(SimulationKeys, BadKeysAndValuesAreRefusedAndChangeNothing) {
  const struct {
    const char* key;
    const char* value;
    const char* message;
  } rows[] = {
      {"Rs", "1", "unknown simulation key \"Rs\" (known keys: R, L, connection"},
      {"R", "nan", "simulation key \"R\" needs a number, not \"nan\""},
      {"R", "2,5", "simulation key \"R\" needs a number, not \"2,5\""},
      {"R", "-1", "simulation key \"R\" must be 0 or more, not -1"},
      {"L", "0", "simulation key \"L\" must be greater than 0, not 0"},
      {"vdc", "", "simulation key \"vdc\" needs a number, not \"\""},
      {"connection", "wye", "simulation key \"connection\" must be \"star\" or \"delta\""},
      {"openPhase", "D", "simulation key \"openPhase\" must be \"A\", \"B\", \"C\" or \"none\""},
      {"faults", "0x1FFFF", "simulation key \"faults\" must be a 16-bit word"},
      {"faults", "8g", "simulation key \"faults\" needs a hexadecimal word"},
      {"seed", "1.5", "simulation key \"seed\" must be a whole number"},
      {"neverStart", "A,,B", "simulation key \"neverStart\" has an empty routine label"},
      {"lA", "-2", "simulation key \"lA\" must be greater than 0"},
      {"hallCase", "1", "simulation key \"hallCase\" must be a whole number from 2 to 13"},
      {"hallCase", "7.5", "simulation key \"hallCase\" must be a whole number from 2 to 13"},
      {"hallShift", "40000", "simulation key \"hallShift\" must be from -32768 to 32767"},
      {"hallStuck", "4=0", "simulation key \"hallStuck\" takes Hall=level items"},
      {"hallStuck", "2=0,2=1", "simulation key \"hallStuck\" holds a Hall signal both low"},
      {"indexAt", "nan", "simulation key \"indexAt\" must be a position in m or none"},
      {"encoderReversed", "yes", "simulation key \"encoderReversed\" must be true or false"},
      {"hand", "1:0,0.5:0.1", "simulation key \"hand\" needs times from 0 to 1e6 s that do not"},
      {"hand", "0:0,1", "simulation key \"hand\" takes time:value points"},
      {"ad5", "1.5", "simulation key \"ad5\" must be a value from 0 to 1"},
      {"ad5", "0:0,1:nan", "simulation key \"ad5\" takes time:value points"},
  };
  for (const auto& r : rows) {
    Config c = DefaultConfig();
    const std::string error = ApplySimulationKey(c, r.key, r.value);
    EXPECT_EQ(error.rfind(r.message, 0), 0u) << r.key << "=" << r.value << ": " << error;
    EXPECT_EQ(c.motor.resistance_Ohm, DefaultConfig().motor.resistance_Ohm);
    EXPECT_EQ(c.faults.forced_mer, 0);
  }
}

TEST(SimulationSection, TypesAreCheckedAndTheWholeConfigIsChecked) {
  Config c = DefaultConfig();
  EXPECT_EQ(ApplySimulationSection(
                c, R"({"R": 1, "connection": "delta", "faults": "0x0040", "neverStart": ["A"]})"),
            "");
  EXPECT_EQ(c.motor.resistance_Ohm, 1.0);
  EXPECT_EQ(c.faults.forced_mer, 0x40);
  EXPECT_EQ(ApplySimulationSection(c, R"({"encoderReversed": true, "ad5": 0.5, "hallCase": 4})"),
            "");
  EXPECT_TRUE(c.sensors.encoder_reversed);
  EXPECT_EQ(c.sensors.ad5.At(0.0), 0.5);
  const struct {
    const char* json;
    const char* message;
  } rows[] = {
      {R"([1, 2])", "the \"simulation\" section is not a JSON object"},
      {R"({"R": "1"})", "simulation key \"R\" needs a number"},
      {R"({"connection": 1})", "simulation key \"connection\" needs a text"},
      {R"({"neverStart": 3})", "simulation key \"neverStart\" needs true, false"},
      {R"({"mass": 3})", "unknown simulation key \"mass\""},
      {R"({"hand": [1]})", "simulation key \"hand\" needs a text"},
  };
  for (const auto& r : rows) {
    Config d = DefaultConfig();
    const std::string error = ApplySimulationSection(d, r.json);
    EXPECT_EQ(error.rfind(r.message, 0), 0u) << r.json << ": " << error;
  }
  Config outside = DefaultConfig();
  ASSERT_EQ(ApplySimulationKey(outside, "position", "0.9"), "");
  EXPECT_EQ(CheckConfig(outside),
            "the start position must lie within the stroke (strokeMin to "
            "strokeMax)");
}

// The drive copies its constants, every register and its variables from the setup, and its true
// motor from the "simulation" section; the setup's own motor values are not the true motor.
TEST(ConfigFromSetup, CopiesWhatTheDriveKnowsAndTheTrueMotor) {
  axis::LoadResult loaded = axis::LoadSetupFile(Setups() + "/demo-linear.json");
  ASSERT_NE(loaded.setup, nullptr) << loaded.error;
  CMC_Setup& setup = *loaded.setup;
  setup.FindParameter("R")->SetValueInBaseUnit(7.0);  // what the user believes
  setup.FindParameter("KPI")->SetValueInBaseUnit(12345);
  Config c;
  ASSERT_EQ(ConfigFromSetup(setup, c), "");
  EXPECT_EQ(c.drive.dsp_frequency_Hz, 40e6);
  EXPECT_EQ(c.drive.current_range_A, 10.0);
  EXPECT_EQ(c.drive.vdc_max_measurable_V, 90.0);
  EXPECT_EQ(c.drive.adc_full_scale, 65520.0);
  EXPECT_EQ(c.motor.resistance_Ohm, 2.5);  // from "simulation"
  EXPECT_EQ(c.motor.bus_V, 48.0);
  int registers = 0;
  for (int i = 0; i < setup.GetParameters().GetParametersCount(); ++i) {
    const int type = setup.GetParameters()[i]->GetType();
    registers += type == axis::kTypeRegister || type == axis::kTypeRegisterWord;
  }
  EXPECT_EQ(static_cast<int>(c.registers.size()), registers);
  EXPECT_EQ(c.variables.size(), setup.GetVariables().size());

  axis::VirtualClock clock;
  std::string error;
  auto drive = SimulatedDrive::Create(c, clock, error);
  ASSERT_NE(drive, nullptr) << error;
  double value = 0.0;
  ASSERT_TRUE(drive->ReadRegister("kpi", value));
  EXPECT_EQ(value, 12345.0);
  ASSERT_TRUE(drive->ReadRegister("BQ1B0", value));  // a 32-bit register keeps its value
  EXPECT_EQ(value, 1786214231.0);
  EXPECT_FALSE(drive->ReadRegister("R", value));  // a physical parameter is no register
  EXPECT_EQ(drive->GetLastErrorText(), "the drive has no register \"R\"");
  EXPECT_FALSE(drive->ReadVariable("NOPE", value));
  EXPECT_EQ(drive->GetLastErrorText(), "no drive variable \"NOPE\"");
}

TEST(ConfigFromSetup, ASetupWithoutWhatTheDriveNeedsIsRefused) {
  axis::LoadResult loaded = axis::LoadSetupFile(Setups() + "/minimal-linear.json");
  ASSERT_NE(loaded.setup, nullptr) << loaded.error;
  Config c;
  EXPECT_EQ(ConfigFromSetup(*loaded.setup, c), "");  // no "simulation" section: the demo motor
  EXPECT_EQ(c.motor.resistance_Ohm, DefaultConfig().motor.resistance_Ohm);

  loaded.setup->ExtraSections().emplace_back("simulation", R"({"vdc": -4})");
  EXPECT_EQ(ConfigFromSetup(*loaded.setup, c),
            "the setup's \"simulation\" section: simulation key \"vdc\" must be greater than 0, "
            "not -4");
  CMC_Setup bare;
  EXPECT_EQ(ConfigFromSetup(bare, c), "the setup has no parameter \"DSP_freq\" for the drive");
}

// Registers that would stop the clock or make no sense are refused with a reason, at creation and
// when written; a period register that is accepted changes the fast-loop period at once.
TEST(Registers, TimingRegistersAreCheckedAndTakeEffect) {
  for (auto [name, value] : {std::pair{"PWMPER", 0.0}, {"CLPER", -1.0}, {"SLPER", 70000.0}}) {
    Config c = DefaultConfig();
    for (auto& r : c.registers) {
      if (r.first == name) r.second = value;
    }
    axis::VirtualClock clock;
    std::string error;
    EXPECT_EQ(SimulatedDrive::Create(c, clock, error), nullptr) << name;
    EXPECT_EQ(error, std::string("register \"") + name +
                         "\" takes a whole number from 1 to 65535, not " +
                         axis::FormatNumber(value));
  }
  Config c = DefaultConfig();
  c.registers.erase(c.registers.begin());  // PWMPER
  axis::VirtualClock clock;
  std::string error;
  EXPECT_EQ(SimulatedDrive::Create(c, clock, error), nullptr);
  EXPECT_EQ(error, "the drive needs its register \"PWMPER\" (the setup has none)");

  auto drive = SimulatedDrive::Create(DefaultConfig(), clock, error);
  ASSERT_NE(drive, nullptr);
  EXPECT_FALSE(drive->WriteRegister("PWMPER", 0.0));
  EXPECT_EQ(drive->GetLastErrorText(),
            "register \"PWMPER\" takes a whole number from 1 to 65535, not 0");
  EXPECT_FALSE(drive->WriteRegister("KPI", NAN));
  EXPECT_FALSE(
      drive->WriteRegister("PWMPER", 12.0));  // 0.6 us PWM period: shorter than the dead time
  double pwmper = 0.0;
  ASSERT_TRUE(drive->ReadRegister("PWMPER", pwmper));
  EXPECT_EQ(pwmper, 1000.0);

  ASSERT_TRUE(drive->WriteRegister("CLPER", 2.0));  // 100 us fast loop
  EXPECT_EQ(drive->core().period_s(), 100e-6);
  const int64_t before = drive->core().fast_count();
  clock.Advance(axis::kNsPerMs);  // nothing runs: the drive skips, counting periods all the same
  bool on = false;
  ASSERT_TRUE(drive->GetAxisOn(on));
  EXPECT_EQ(drive->core().fast_count() - before, 10);
}

// What the bundled setups say about the routines is what this drive does.
TEST(Routines, AgreeWithTheBundledSetups) {
  axis::LoadResult loaded = axis::LoadSetupFile(Setups() + "/demo-linear.json");
  ASSERT_NE(loaded.setup, nullptr) << loaded.error;
  nlohmann::json routines;
  for (const auto& [name, text] : loaded.setup->ExtraSections()) {
    if (name == "routines") routines = nlohmann::json::parse(text);
  }
  const auto names = [](const nlohmann::json& list) {
    std::vector<std::string> out;
    for (const auto& n : list) out.push_back(n.get<std::string>());
    return out;
  };
  for (const RoutineDefinition& routine : Routines()) {
    SCOPED_TRACE(routine.label);
    ASSERT_TRUE(routines.contains(routine.label));
    const nlohmann::json& r = routines[routine.label];
    std::vector<std::string> inputs, outputs, drive_variables, logged;
    for (const RoutineInput& in : routine.inputs) inputs.push_back(in.name);
    for (const char* n : routine.outputs) outputs.push_back(n);
    for (const char* n : routine.drive_variables) drive_variables.push_back(n);
    for (const char* n : routine.logged) logged.push_back(n);
    EXPECT_EQ(inputs, names(r["inputs"]));
    EXPECT_EQ(outputs, names(r["outputs"]));
    EXPECT_EQ(drive_variables, names(r.value("driveVariables", nlohmann::json::array())));
    EXPECT_EQ(logged, names(r.value("logged", nlohmann::json::array())));
  }
}

}  // namespace
}  // namespace sim
