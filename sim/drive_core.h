// The simulated drive's firmware and the physics behind its terminals, one fast-loop period at a
// time.
//
// A fast-loop period k, as a real drive runs it:
//   1. Sample (start of the period): the two current sensors (lines A and B), the DC bus, the
//      encoder. The sensors quantise to the drive's current scale, ADC full scale / (2 ImaxPS)
//      counts per ampere, after seeded Gaussian noise.
//   2. Firmware: the running routine takes its turn; the over-current protection; the controller
//      of the present mode computes the voltage command for the NEXT period; the variables are
//      updated (and recorded at the end of the period).
//   3. Physics over [t_k, t_k+1): the PWM applies the command computed in period k-1 (the
//      one-period computation delay of a real drive, held over the period: a zero-order hold),
//      limited by the true DC bus and distorted by the dead time; the winding and the mover
//      advance by one period.
//
// Voltage commands are counts of the sinusoidal voltage scale: a phase (star-equivalent) voltage
// amplitude of 1.1 * Vdc / 65534 volts per count, Vdc being the true bus. The modulator adds the
// min-max zero sequence (space-vector equivalent), so that the whole range of +-32767 counts stays
// linear, and keeps every duty cycle within [SATPWM/65535, 1 - SATPWM/65535] (the shortest pulse
// the current sampling needs).
//
// The force is F = Kf i_q (q-axis current, amplitude-invariant); energy balance then makes the
// star-equivalent phase back-EMF amplitude (2/3) Kf v, so that F v equals the electrical power
// 3/2 e_q i_q.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/name_index.h"
#include "sim/current_controller.h"
#include "sim/mechanics.h"
#include "sim/motion_control.h"
#include "sim/random.h"
#include "sim/sim_config.h"
#include "sim/winding.h"

namespace sim {

// The fault register "MER": the bits the drive sets.
enum MerBit : uint16_t {
  kMerShortCircuit = 0x0002,   // over-current: the power stage was switched off
  kMerControlError = 0x0008,   // position or speed control error
  kMerHallMissing = 0x0020,    // the Hall sensors give an impossible state
  kMerPositiveLimit = 0x0040,  // stopped by the positive limit switch
  kMerNegativeLimit = 0x0080,  // stopped by the negative limit switch
  kMerEnableLow = 0x8000,      // the ENABLE input is in its disabled state
};
// Bits with which the power stage cannot be switched on.
constexpr uint16_t kMerBlocksPowerStage = kMerShortCircuit | kMerControlError | kMerEnableLow;

// The drive variables that the firmware computes or the routines deliver. Other variables that the
// setup lists are plain storage.
enum class Var : int {
  kMER,
  kIQ,                // measured q current in the control frame, current counts
  kID,                // measured d current (lagging q by 90 degrees), current counts
  kCurrentReference,  // q current reference, counts
  kMotorCurrent,      // the same as IQ
  kVoltageReference,  // q voltage command, voltage counts
  kTHTST,             // control frame angle, 1/65536 of an electrical period
  kTINCTST,           // its increment per fast-loop period, 1/65535 of a period
  kREFTST_V,
  kRINCTST_V,
  kVarI1,
  kVarI2,
  kVarU2,
  kVarLfLong,
  kAPOS,  // encoder position, counts
  kAPOS_MT,
  kMotorPosition,
  kASPD,  // speed, encoder counts per slow-loop period
  kASPD_MT,
  kMotorSpeed,
  kHALL,            // the Hall inputs: Hall1 bit 2, Hall2 bit 1, Hall3 bit 0
  kElectricAngle,   // electrical angle from the encoder, 1/65536 of a period, signed 16 bits
  kCAPPOS,          // the position counter latched at the index mark
  kAD5,             // the analogue reference input, 10 bits in the upper bits of 16
  kHALLCASE,        // the Hall configuration a routine found
  kSpeedReference,  // the speed loop's reference, counts per slow-loop period (16.16 fraction)
  kTargetPosition,  // the position reference, counts
  kLoadPosition,    // the encoder, counts (the load is where the motor is)
  kLoadSpeed,       // counts in the last slow-loop period
  kCount,
};

// What the firmware does with the power stage on.
enum class Mode {
  kVoltage,          // the routine's voltage vector in the control frame
  kRoutineCurrent,   // the routine's own (floating-point) current regulator
  kFirmwareCurrent,  // the fixed-point PI current controller of the registers, with the
                     // firmware's dead-time compensation
};

// The routines' own current regulator: an incremental PI on each frame axis,
//   u[k] = u[k-1] + kp (e[k] - zero e[k-1]),
// i.e. C(z) = kp (1 - zero z^-1) / (1 - z^-1), clamped to +-limit (the clamp is its anti-windup).
struct RoutineLoop {
  double kp = 0.0;            // voltage counts per current count
  double zero = 0.0;          // integral zero, e^(-T / integral time)
  double limit = 0.0;         // voltage counts
  std::array<double, 2> u{};  // d, q
  std::array<double, 2> e_prev{};
};

class DriveCore {
 public:
  // The config must have passed CheckConfig; registers that the firmware needs must be valid
  // ("" when they are, else the message). Use Create.
  // The variables the firmware keeps itself, by name (the setup's variables name those it has).
  static std::span<const char* const> VariableNames();
  static std::unique_ptr<DriveCore> Create(const Config& config, std::string& error);

  // --- time ---------------------------------------------------------------------------------
  int64_t fast_count() const { return fast_count_; }
  // The drive's time in DSP clock ticks (whole fast-loop periods).
  int64_t time_ticks() const { return time_ticks_; }
  int64_t ticks_per_period() const { return ticks_per_period_; }  // DSP clock ticks
  double period_s() const { return period_s_; }
  double dsp_frequency_Hz() const { return dsp_frequency_Hz_; }
  // Fast-loop periods per slow-loop period (rounded, at least 1).
  int slow_divider() const { return slow_divider_; }
  // Whether the period being run (since Sample) ends with a slow-loop sample.
  bool slow_tick() const { return slow_tick_; }

  // --- one period, in three parts (the routine engine runs between the first two) -------------
  void Sample();   // the samples; then the winding and the mover are stepped over the period
  void Control();  // protection, controller, variables
  void Physics();  // ends the period (clearing the currents if the power stage went off)
  // Nothing moves and nothing is driven: periods may be skipped without computing them.
  bool Quiescent() const;
  void SkipPeriods(int64_t periods);

  // --- registers and variables (internal units) -----------------------------------------------
  bool HasRegister(std::string_view name) const;
  bool ReadRegister(std::string_view name, double& value) const;
  // "" when written; else why the drive refuses the value.
  std::string WriteRegister(std::string_view name, double value);
  // Index of a drive variable that this drive has, or -1.
  int VariableIndex(std::string_view name) const;
  // A variable's value; the firmware's own are computed from the last period when read, except
  // those it keeps up to date as plain values (see VariableSource).
  double VariableValue(int index) const;
  // Where a variable that is held as a plain value lives (as long as the drive does), so that a
  // reader each period (the recorder) need not go through VariableValue; nullptr for one that is
  // computed when read.
  const double* VariableSource(int index) const;
  void WriteVariable(int index, double value);
  void SetVar(Var v, double value) { variables_[static_cast<size_t>(v)] = value; }
  double GetVar(Var v) const { return VariableValue(static_cast<int>(v)); }

  // --- power stage and faults -----------------------------------------------------------------
  bool axis_on() const { return axis_on_; }
  // Switches the power stage on in `mode`; false (and stays off) while a fault blocks it.
  bool SwitchOn(Mode mode);
  // Another mode with the power stage on; the regulators keep their state (bumpless).
  void SetMode(Mode mode) { mode_ = mode; }
  void SwitchOff();
  uint16_t mer() const { return static_cast<uint16_t>(mer_latched_ | forced_mer_); }
  void ClearLatchedFaults() { mer_latched_ = 0; }
  // Set when the over-current protection switched the power stage off (until the next Launch).
  bool tripped() const { return tripped_; }
  void ClearTrip() { tripped_ = false; }
  // The protection level in current counts (|line current| at or above it trips).
  double protection_counts() const { return protection_counts_; }

  // --- what routines see and set ------------------------------------------------------------
  // The latest samples: line currents A, B, C (counts; C = -A - B as the firmware computes it),
  // the control-frame currents, the DC bus reading, the encoder count.
  const std::array<int32_t, 3>& line_counts() const { return line_counts_; }
  int32_t iq_counts() const { return iq_counts_; }
  int32_t id_counts() const { return id_counts_; }
  int32_t vdc_reading() const { return vdc_reading_; }
  int64_t encoder_counts() const { return encoder_counts_; }
  // The mover's electrical angle in turns, from the position where its magnetic axis lies on
  // phase A (what only the motor knows; the firmware sees the encoder).
  double mover_angle_turns() const { return mechanics_.position_m * turns_per_m_; }
  double current_scale() const { return current_scale_; }  // counts per ampere
  double voltage_limit() const { return voltage_limit_; }  // 32767 - SATIQ
  // The control frame: the angle of its q axis from phase A (turns), its increment per period,
  // and how many periods ahead of the sample instant the voltage is placed (1.5 makes up for the
  // computation delay and the hold).
  void SetFrame(double angle_turns, double increment_turns, double advance_periods);
  double frame_angle_turns() const { return frame_angle_; }
  // Mode kVoltage: the voltage vector in the control frame (counts).
  void SetVoltage(double vd, double vq) { voltage_dq_ = {vd, vq}; }
  // Mode kRoutineCurrent: the regulator and its references.
  RoutineLoop& routine_loop() { return routine_loop_; }
  // A routine's own current limit (counts, on the control frame's current vector), checked by
  // the firmware every period: above it the power stage goes off and limit_tripped() is set
  // (no fault bit: the routine reports it). Off with every switch-on; <= 0 trips at once.
  void SetCurrentLimit(double counts) {
    limit_on_ = true;
    limit_squared_ = counts > 0.0 ? counts * counts : -1.0;
  }
  bool limit_tripped() const { return limit_tripped_; }
  // Modes kRoutineCurrent and kFirmwareCurrent: the current references (counts).
  void SetCurrentReference(double id, double iq);
  const std::array<double, 2>& command_dq() const { return command_dq_; }
  // Remembers the present encoder count as the electrical angle 0 (after initial positioning).
  void SetCommutationReference() { commutation_reference_ = encoder_counts_; }
  // The firmware's commutation: at every sample the control frame's q axis is set a quarter of a
  // period ahead of the electrical angle that the encoder gives (ENC2THL from the count at the
  // commutation reference), where the current makes force. Off with every switch-on.
  void SetCommutation(bool on);
  // The motion registers, decoded when one is written (they act from the next sample).
  const MotionRegisters& motion_registers() const { return motion_registers_; }
  // "Electric_Angle" reads this value (signed, 65536 per turn) instead of the encoder's angle
  // while a routine estimates the angle itself; NaN gives the encoder's back.
  void SetElectricAngleOverride(double angle) { electric_angle_override_ = angle; }
  // The Hall inputs at the last sample (Hall1 bit 2, Hall2 bit 1, Hall3 bit 0).
  int hall_state() const;
  // Arms the index capture: the first crossing of the index mark latches the counter in CAPPOS.
  void ArmCapture() { capture_armed_ = true; }
  // Restarts the time of the hand's and the analogue input's lists (a routine was launched).
  void RestartInputTime() { input_start_ticks_ = time_ticks_; }
  // The carriage held by hand at `m` from the start position while the power stage is off
  // (replaces the "hand" list); NaN lets it go.
  void SetHandPosition(double m);
  // The analogue reference input set by hand, as a share 0..1 of its range (NaN: the "ad5" key).
  void SetAnalogueInput(double share) { ad5_fixed_ = share; }

  const Config& config() const { return config_; }

  // --- the physics, for tests ---------------------------------------------------------------
  // The mover between periods (within one, from Sample on, at the period's end).
  const MechanicsState& mechanics() const { return mechanics_; }
  // The true line currents at the last sample instant.
  const std::array<double, 3>& line_currents_A() const { return sampled_A_; }
  double true_dead_time_s() const { return dead_time_s_; }

 private:
  explicit DriveCore(const Config& config);
  std::string Init();
  std::string DecodeRegisters();  // timing and controller registers into the fields below
  void BuildWinding();
  double ElectricalAngleTurns() const;
  double SensorCounts(double current_A) const;
  void SampleInputs();
  void SampleEncoder();
  void MoveByHand();
  double HandTarget(double offset_m) const;
  double InputTime_s() const;
  int64_t CountsAt(double position_m) const;
  void DecodeCountingDirection();
  void Commutate();
  void TurnFrame();
  void Protect();
  void Regulate();
  void ModulatorOutput(double v_alpha, double v_beta);
  std::array<double, 3> CompensationDirection() const;
  void DrivenPeriod(const std::array<double, 3>& start, double velocity);
  bool ResolveDeadTime(const std::array<double, 3>& start, const std::array<double, 3>& free,
                       std::array<double, 3>& sign, std::array<double, 3>& end) const;
  void ClearCurrents();

  Config config_;
  // registers
  // (The name tables are large and cold: on the heap, so the fast loop's state stays together.)
  std::unique_ptr<axis::NameIndex> register_index_ = std::make_unique<axis::NameIndex>();
  std::vector<std::string> register_names_;
  std::vector<double> register_values_;
  MotionRegisters motion_registers_;  // decoded at each write; read once a sample by a routine
  // variables: Var slots first, then the setup's other variables
  std::unique_ptr<axis::NameIndex> variable_index_ = std::make_unique<axis::NameIndex>();
  std::vector<double> variables_;
  double slow_speed_ = 0.0;  // encoder counts in the last slow-loop period
  std::vector<bool> variable_present_;

  // decoded registers and constants
  double dsp_frequency_Hz_ = 0.0;
  int64_t ticks_per_period_ = 0;
  double period_s_ = 0.0;
  double pwm_period_s_ = 0.0;
  int32_t clper_ = 1, slper_ = 1;
  int slow_divider_ = 1;
  PiRegisters pi_d_, pi_q_;
  PiGains gains_d_, gains_q_;
  double voltage_limit_ = 0.0;
  double min_duty_ = 0.0, max_duty_ = 1.0;
  double compensation_ = 0.0;             // the dead band as a share of the PWM period
  double fade_counts_ = 0.0;              // the compensation's fade band
  double inverse_fade_counts_ = 0.0;      // 1 / the fade band
  double compensated_dead_time_s_ = 0.0;  // the firmware's dead-time compensation (DBT)
  double protection_counts_ = 0.0;
  double current_scale_ = 0.0;
  double vdc_scale_ = 0.0;
  double adc_half_scale_ = 0.0;
  uint32_t enc2thl_ = 0;  // electrical angle per encoder count, 2^32 = one period

  // physics
  double dead_time_s_ = 0.0;
  // Branch and line currents moved by each terminal's dead-time error over a period.
  std::array<std::array<double, 3>, 3> dead_branch_{}, dead_line_{};
  std::array<double, 3> dead_scale_{};  // -1 / (2 dead_line_[x][x]) (0 for an open lead)
  // The line currents moved by the dead time in a period in which their signs stay s (each -1,
  // 0 or +1): dead_line_ s, for every combination (see DeadShiftIndex).
  std::array<std::array<double, 3>, 27> dead_shift_A_{};
  static int DeadShiftIndex(const std::array<int, 3>& s) {
    return 9 * (s[0] + 1) + 3 * (s[1] + 1) + (s[2] + 1);
  }
  std::array<double, 3> dead_hold_A_{};          // half of |dead_line_[x][x]|
  std::array<double, 3> dead_tolerance_sign_{};  // mean signs settled within this
  double dead_error_V_ = 0.0;                    // Vdc t_dead / T_pwm
  int dead_sweeps_ = 1;                          // at most so many rounds
  std::unique_ptr<Winding> winding_;
  bool balanced_ = false;       // the winding's line currents are its state (Winding::StepLines)
  WindingState winding_state_;  // else its branch currents
  double bus_V_ = 0.0;
  double noise_A_ = 0.0;
  MechanicsParams mechanics_params_;
  MechanicsState mechanics_;
  Random random_;
  double start_position_m_ = 0.0;
  double counts_per_m_ = 0.0;
  double turns_per_m_ = 0.0;  // electrical periods per metre
  int64_t start_counts_ = 0;  // the encoder's count at power-on
  int32_t vdc_counts_ = 0;    // the bus reading (the bus is stiff)
  // The true line currents: at the period's start until Sample, which steps them to its end.
  std::array<double, 3> line_A_{};
  std::array<double, 3> sampled_A_{};  // as they were at the last sample

  // firmware state
  int64_t fast_count_ = 0;
  int64_t time_ticks_ = 0;
  int32_t pwm_in_slow_ = 0;  // PWM periods since the last slow-loop sample
  bool slow_tick_ = false;
  bool axis_on_ = false;
  bool commutating_ = false;  // the frame follows the encoder (SetCommutation)
  Mode mode_ = Mode::kVoltage;
  uint16_t forced_mer_ = 0;
  uint16_t mer_latched_ = 0;
  bool tripped_ = false;
  bool limit_on_ = false, limit_tripped_ = false;
  double limit_squared_ = 0.0;
  std::array<int32_t, 3> line_counts_{};
  int32_t iq_counts_ = 0, id_counts_ = 0;
  // The variables IQ, ID, Current_Reference and Voltage_Reference, kept up to date.
  double iq_value_ = 0.0, id_value_ = 0.0;
  double current_reference_value_ = 0.0, voltage_reference_value_ = 0.0;
  int32_t vdc_reading_ = 0;
  int64_t encoder_counts_ = 0;
  int64_t commutation_reference_ = 0;
  // encoder: raw count (from the position at power-on), direction, count = offset + sign raw
  int64_t raw_counts_ = 0;
  int64_t count_offset_ = 0;
  int count_sign_ = 1;
  bool capture_armed_ = false;
  double index_m_ = 0.0;
  double electric_angle_override_ = std::numeric_limits<double>::quiet_NaN();
  double hall_shift_turns_ = 0.0;  // hallShift and hallOffset together
  // hand and analogue input
  int64_t input_start_ticks_ = 0;
  bool hand_used_ = false;  // a hand list or SetHandPosition
  double hand_fixed_m_ = std::numeric_limits<double>::quiet_NaN();
  double ad5_fixed_ = std::numeric_limits<double>::quiet_NaN();
  int64_t previous_slow_encoder_ = 0;
  double frame_angle_ = 0.0, frame_increment_ = 0.0, frame_advance_ = 0.0;
  double frame_sin_ = 0.0, frame_cos_ = 1.0;  // at the sample instant
  double frame_sincos_angle_ = 0.0;           // the angle they belong to
  // q and d from the sensors' lines A and B (see TurnFrame).
  std::array<std::array<double, 2>, 2> park_{};
  double theta_sin_ = 0.0, theta_cos_ = 1.0;  // the mover's electrical angle at the sample
  double sampled_position_m_ = std::numeric_limits<double>::quiet_NaN();  // they belong to
  // The flux linked by each terminal's star-equivalent phase, and by each branch, per metre of
  // travel at that angle (V per m/s, N per A).
  std::array<double, 3> phase_k_{}, branch_k_{};
  std::array<double, 2> voltage_dq_{};
  std::array<double, 2> current_ref_dq_{};
  std::array<int32_t, 2> current_ref_counts_{};  // the firmware's whole counts of them
  std::array<double, 2> command_dq_{};
  RoutineLoop routine_loop_;
  PiState pi_state_d_, pi_state_q_;
  std::array<double, 3> duty_{0.5, 0.5, 0.5};  // computed now, applied next period
  bool applied_on_ = false;                    // the power stage during this period
};

}  // namespace sim
