// What the simulated drive is made of: the drive's own constants and registers, the drive variables
// it has, and the true motor behind it.
//
// The true motor comes from the setup file's "simulation" section and from `--sim KEY=VALUE`
// overrides (docs/simulation.md lists every key). It is deliberately separate from the setup's own
// motor parameters ("R", "L", "Kf" ...): those are what the user believes, the simulation section
// is what the drive is really connected to.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

enum class Connection { kStar, kDelta };

// A motor terminal; kNone where none is meant.
enum class Terminal : int { kNone = -1, kA = 0, kB = 1, kC = 2 };

// The motor and the power stage as they really are.
struct MotorParams {
  // One phase of a star motor, one branch of a delta motor.
  double resistance_Ohm = 2.5;
  double inductance_H = 3e-3;
  Connection connection = Connection::kStar;
  // Imbalance: each phase's (branch's) R and L as a multiple of the values above; for a delta
  // motor phase A is the branch A-B, B is B-C, C is C-A.
  std::array<double, 3> resistance_factor{1.0, 1.0, 1.0};
  std::array<double, 3> inductance_factor{1.0, 1.0, 1.0};
  // A motor lead that is not connected to the drive.
  Terminal open_terminal = Terminal::kNone;

  double force_constant_N_per_A = 30.0;  // force per ampere of q-axis current
  double motor_mass_kg = 1.2;
  double load_mass_kg = 1.8;
  double friction_N = 4.0;  // Coulomb (dry) friction
  double viscous_N_s_per_m = 0.0;
  double gravity_m_per_s2 = 0.0;  // acceleration pulling toward negative positions
  double stroke_min_m = -0.5;     // end stops
  double stroke_max_m = 0.5;
  double start_position_m = 0.004;     // from the point where the mover aligns with phase A
  double pole_pitch_m = 0.03;          // one electrical period of travel
  double encoder_resolution_m = 1e-6;  // travel per encoder count
  double hall_offset_rad = 0.0;        // electrical angle of the Hall sensors' edges

  double bus_V = 48.0;  // the true DC bus
  // Dead time of the power stage; NaN takes the dead band that the register DBT programs.
  double dead_time_s = std::numeric_limits<double>::quiet_NaN();
  double current_noise_A = 0.0;  // rms, on each current sensor
  uint64_t seed = 1;
};

// A quantity that follows a list of (time, value) points: linear between them, the first value
// before the first point and the last one after the last. Time in seconds since the running routine
// was launched.
struct TimeProfile {
  std::vector<std::pair<double, double>> points;  // times rising (equal times: a step)
  bool empty() const { return points.empty(); }
  double At(double t_s) const;
  double end_s() const { return points.empty() ? 0.0 : points.back().first; }
};

// The position and Hall sensors, the analogue input and the user's hand.
struct SensorParams {
  bool encoder_reversed = false;  // the encoder counts against the motor's positive direction
  // The encoder's index mark, m in the coordinate of the start position (NaN: none).
  double index_m = std::numeric_limits<double>::quiet_NaN();
  int hall_case = 3;           // 2 to 13: the wiring of the Hall sensors (see HallWiring)
  double hall_shift = 0.0;     // electrical angle the Hall sensors read ahead, 65536 per turn
  uint8_t hall_stuck_low = 0;  // bit 2: Hall1, bit 1: Hall2, bit 0: Hall3 (as "HALL" reads)
  uint8_t hall_stuck_high = 0;
  TimeProfile hand;  // the carriage moved by hand: m from the start position
  TimeProfile ad5;   // the analogue reference input, a share 0 to 1 of its range
};

// The Hall wiring of a configuration: which of the three sensors (0, 1, 2: high while
// sin(angle + k 120 degrees) >= 0) feeds Hall1, Hall2 and Hall3, and whether all three read
// inverted. Configurations 2 to 7 are the six wirings, 8 to 13 the same inverted.
struct HallWiring {
  int sensor[3];
  bool inverted;
};
HallWiring HallWiringOf(int hall_case);
// The "HALL" value (Hall1 bit 2, Hall2 bit 1, Hall3 bit 0) of a configuration at an angle the
// sensors read (turns; without faults).
int HallValue(int hall_case, double sensor_turns);

// Misbehaviour to order, for testing the host.
struct FaultParams {
  uint16_t forced_mer = 0;               // "MER" bits that are always on
  bool never_start_all = false;          // no routine ever sets "STARTED"
  std::vector<std::string> never_start;  // labels of routines that never set "STARTED"
  double link_fail_after_s = std::numeric_limits<double>::infinity();  // drive time
};

// The drive's own hardware constants (what it knows about itself besides its registers).
struct DriveConstants {
  double dsp_frequency_Hz = 40e6;      // clock of the PWM timer ("DSP_freq")
  double adc_full_scale = 65520.0;     // full-scale count of the analogue inputs
  double current_range_A = 10.0;       // the current sensors span -ImaxPS .. +ImaxPS
  double vdc_max_measurable_V = 90.0;  // DC bus voltage at the ADC full scale
  bool has_scope = true;               // an oscilloscope that streams to the host
};

struct Config {
  DriveConstants drive;
  std::vector<std::pair<std::string, double>> registers;  // name, internal value
  std::vector<std::string> variables;                     // the drive variables it has
  MotorParams motor;
  SensorParams sensors;
  FaultParams faults;
};

// The demo drive (48 V bus, 10 A current range, 20 kHz fast loop, tuned current loop) with the
// demo motor, every drive variable the routines use, no faults.
Config DefaultConfig();

// One simulation key with its value as text, as `--sim KEY=VALUE` gives it ("R", "2.5";
// "openPhase", "B"; "faults", "0x8000"). Keys are compared exactly. Returns "" when applied, else a
// message naming the key and what is wrong; the config is unchanged then.
std::string ApplySimulationKey(Config& config, std::string_view key, std::string_view value);

// A "simulation" section (a JSON object as text). Every member must be a known key with a value of
// the key's type. Returns "" when applied, else a message; on error the config may hold the keys
// before the bad one.
std::string ApplySimulationSection(Config& config, std::string_view json_text);

// The motor and drive constants checked together (the dead time against the PWM period, the
// stroke against the start position ...). "" when usable.
std::string CheckConfig(const Config& config);

// The keys that ApplySimulationKey knows, for messages and documentation checks.
std::vector<std::string> SimulationKeys();

}  // namespace sim
