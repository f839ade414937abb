#include "sim/drive_core.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "host/number_text.h"
#include "host/numeric.h"
#include "host/text.h"

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt3 = 1.7320508075688772;
constexpr double kTwoThirds = 2.0 / 3.0;
// Phase axes of A, B, C as sin and cos of 0, 120 and 240 degrees.
constexpr double kPhaseSin[3] = {0.0, 0.86602540378443865, -0.86602540378443865};
constexpr double kPhaseCos[3] = {1.0, -0.5, -0.5};

// Names of the Var slots, in their order.
constexpr const char* kVarNames[] = {"MER",
                                     "IQ",
                                     "ID",
                                     "Current_Reference",
                                     "Motor_Current",
                                     "Voltage_Reference",
                                     "THTST",
                                     "TINCTST",
                                     "REFTST_V",
                                     "RINCTST_V",
                                     "var_i1",
                                     "var_i2",
                                     "var_u2",
                                     "var_lf_long",
                                     "APOS",
                                     "APOS_MT",
                                     "Motor_Position",
                                     "ASPD",
                                     "ASPD_MT",
                                     "Motor_Speed",
                                     "HALL",
                                     "Electric_Angle",
                                     "CAPPOS",
                                     "AD5",
                                     "HALLCASE",
                                     "Speed_Reference",
                                     "Target_Position",
                                     "Load_Position",
                                     "Load_Speed"};
static_assert(std::size(kVarNames) == static_cast<size_t>(Var::kCount));

struct SineTable {
  static constexpr int kSize = 4096;
  double value[kSize + 1];
  SineTable() {
    for (int i = 0; i <= kSize; ++i) value[i] = std::sin(2.0 * kPi * i / kSize);
  }
};

const SineTable kSines;

bool FoldedEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (axis::FoldCase(a[i]) != axis::FoldCase(b[i])) return false;
  }
  return true;
}

double Sign(double x) { return (x > 0.0) - (x < 0.0); }

// The mean of sign(i) over a period in which i changes linearly from `start` to `end`, with the
// sign fading linearly within +-band of zero (band 0: the plain sign).
double MeanDirection(double start, double end, double band) {
  const auto ramp = [band](double i) {
    return band > 0.0 ? std::clamp(i / band, -1.0, 1.0) : Sign(i);
  };
  // Integral of the ramped sign, F(i) = i for |i| <= band, else |i| - band/2 with i's sign.
  const auto integral = [band](double i) {
    const double a = std::fabs(i);
    const double f = a <= band ? (band > 0.0 ? a * a / (2.0 * band) : 0.0) : a - band / 2.0;
    return f;
  };
  if (end == start) return ramp(start);
  return (integral(end) - integral(start)) / (end - start);
}

// The nearest whole number (ties to even) and the floor, without a library call; for
// |x| < 2^51, which every quantity of the fast loop is (anything larger or NaN goes to the
// library).
inline double Round(double x) {
  constexpr double kMagic = 6755399441055744.0;  // 1.5 * 2^52
  if (!(std::fabs(x) < 2251799813685248.0)) return std::nearbyint(x);
  return (x + kMagic) - kMagic;
}
// The floor as a whole number, for |x| < 2^51; without a branch on x, which would be taken at
// random.
inline int64_t FloorToInt(double x) {
  const int64_t toward_zero = static_cast<int64_t>(x);
  return toward_zero - (x < static_cast<double>(toward_zero));
}
inline double Floor(double x) {
  if (!(std::fabs(x) < 2251799813685248.0)) return std::floor(x);
  return static_cast<double>(FloorToInt(x));
}

// A value as a 32-bit count: rounded (ties to even), saturated; NaN gives 0.
inline int32_t ToCounts(double value) {
  if (std::fabs(value) <= 2147483647.0) return static_cast<int32_t>(std::lrint(value));
  if (!(value == value)) return 0;
  return value > 0.0 ? INT32_MAX : INT32_MIN;
}

std::string Whole(std::string_view name, double low, double high, double value) {
  return "register " + axis::Quoted(name) + " takes a whole number from " +
         axis::FormatNumber(low) + " to " + axis::FormatNumber(high) + ", not " +
         axis::FormatNumber(value);
}

// sin and cos of an angle in turns, from a 4096-entry table with linear interpolation (error
// below 3e-7), as the firmware's sine table does it: the whole 4096ths of a turn pick the
// entries, the rest interpolates.
inline void SinCosTurns(double turns, double& s, double& c) {
  constexpr int kSize = SineTable::kSize;
  double x = turns * kSize;
  if (!(std::fabs(x) < 0x1p51)) {  // far out, NaN or an infinity
    const double f = turns - Floor(turns);
    x = f >= 0.0 && f < 1.0 ? f * kSize : 0.0;
  }
  const int64_t whole = FloorToInt(x);
  const int i = static_cast<int>(whole & (kSize - 1));
  const double frac = x - static_cast<double>(whole);
  const double* t = kSines.value;
  s = t[i] + frac * (t[i + 1] - t[i]);
  const int q = (i + kSize / 4) & (kSize - 1);  // cos(x) = sin(x + 1/4 turn)
  c = t[q] + frac * (t[q + 1] - t[q]);
}

// The mean sign s over a period of a current that the dead-time error of its own sign pushes
// toward zero: it starts at S and ends at O + g s (g < 0, O the end without that error), and
// is taken as linear in between. Mirrored so that S >= 0 (m the sign of S, either at zero: s is
// m times the value here) and scaled with k = 1 / (-2 g):
//     u = k (m O - |S| - g),   q = 4 k |S|,   m s = min(sqrt(u^2 + q) + u - 1, 1).
// S = 0 (q = 0): 2u - 1 = -m O / g for u >= 0, else -1: the current moves off zero (s = +-1) or
// the error holds it there (its end 0, s = -O / g).
// S > 0: a current that keeps its sign (O + g >= 0) gives 1 or more, hence 1. One that crosses
// zero does so after the share S / (S - E) of the period, so s = (S + E) / (S - E) with
// E = O + g s: the quadratic -g s^2 + (S - O - g) s - (S + O) = 0, whose root in [-1, 1] is the
// larger one, u - 1 + sqrt(u^2 + q). The square root is at least |u|, so the value is never below
// -1.
inline double MirroredMeanSign(double u, double q) {
  return std::min((std::sqrt(u * u + q) + u) - 1.0, 1.0);
}

}  // namespace

std::span<const char* const> DriveCore::VariableNames() { return kVarNames; }

std::unique_ptr<DriveCore> DriveCore::Create(const Config& config, std::string& error) {
  error = CheckConfig(config);
  if (!error.empty()) return nullptr;
  std::unique_ptr<DriveCore> core(new DriveCore(config));
  error = core->Init();
  if (!error.empty()) return nullptr;
  return core;
}

DriveCore::DriveCore(const Config& config) : config_(config), random_(config.motor.seed) {}

std::string DriveCore::Init() {
  for (const auto& [name, value] : config_.registers) {
    if (!register_index_->Insert(name, static_cast<int>(register_values_.size()))) continue;
    register_names_.push_back(name);
    register_values_.push_back(axis::RoundToIntegral(value));
  }
  variables_.assign(static_cast<size_t>(Var::kCount), 0.0);
  for (const std::string& name : config_.variables) {
    int slot = -1;
    for (int v = 0; v < static_cast<int>(Var::kCount) && slot < 0; ++v) {
      if (FoldedEqual(name, kVarNames[v])) slot = v;
    }
    if (slot < 0) {
      slot = static_cast<int>(variables_.size());
      variables_.push_back(0.0);
    }
    variable_index_->Insert(name, slot);
  }

  const MotorParams& m = config_.motor;
  const DriveConstants& d = config_.drive;
  dsp_frequency_Hz_ = std::nearbyint(d.dsp_frequency_Hz);
  current_scale_ = d.adc_full_scale / (2.0 * d.current_range_A);
  vdc_scale_ = d.adc_full_scale / d.vdc_max_measurable_V;
  adc_half_scale_ = std::floor(d.adc_full_scale / 2.0);
  forced_mer_ = config_.faults.forced_mer;
  vdc_counts_ =
      static_cast<int32_t>(std::clamp(std::nearbyint(m.bus_V * vdc_scale_), 0.0, d.adc_full_scale));
  counts_per_m_ = 1.0 / m.encoder_resolution_m;
  turns_per_m_ = 1.0 / m.pole_pitch_m;
  start_counts_ = static_cast<int64_t>(std::floor(m.start_position_m * counts_per_m_));
  hall_shift_turns_ = config_.sensors.hall_shift / 65536.0 + m.hall_offset_rad / (2.0 * kPi);
  index_m_ = config_.sensors.index_m;
  hand_used_ = !config_.sensors.hand.empty();
  bus_V_ = m.bus_V;
  noise_A_ = m.current_noise_A;

  const std::string error = DecodeRegisters();
  if (!error.empty()) return error;
  dead_time_s_ = std::isnan(m.dead_time_s) ? compensated_dead_time_s_ : m.dead_time_s;
  if (!(dead_time_s_ < 0.5 * pwm_period_s_))
    return "the dead time (" + axis::FormatNumber(dead_time_s_) +
           " s) must be shorter than half the PWM period";

  mechanics_params_ = {.mass_kg = m.motor_mass_kg + m.load_mass_kg,
                       .friction_N = m.friction_N,
                       .viscous_N_s_per_m = m.viscous_N_s_per_m,
                       .gravity_m_per_s2 = m.gravity_m_per_s2,
                       .stroke_min_m = m.stroke_min_m,
                       .stroke_max_m = m.stroke_max_m};
  mechanics_.position_m = m.start_position_m;
  start_position_m_ = m.start_position_m;
  BuildWinding();
  TurnFrame();
  SampleInputs();  // the variables hold the drive's state from the start
  return "";
}

std::string DriveCore::DecodeRegisters() {
  const auto value = [this](const char* name, double fallback) {
    const int i = register_index_->Find(name);
    return i < 0 ? fallback : register_values_[static_cast<size_t>(i)];
  };
  for (const char* name : {"PWMPER", "CLPER", "SLPER"}) {
    if (!HasRegister(name))
      return "the drive needs its register " + axis::Quoted(name) + " (the setup has none)";
    const double v = value(name, 0.0);
    if (!(v >= 1.0 && v <= 65535.0)) return Whole(name, 1, 65535, v);
  }
  const double pwmper = value("PWMPER", 1.0);
  clper_ = static_cast<int32_t>(value("CLPER", 1.0));
  slper_ = static_cast<int32_t>(value("SLPER", 1.0));
  ticks_per_period_ = 2 * static_cast<int64_t>(pwmper) * clper_;
  period_s_ = static_cast<double>(ticks_per_period_) / dsp_frequency_Hz_;
  pwm_period_s_ = 2.0 * pwmper / dsp_frequency_Hz_;
  slow_divider_ = std::max(1, static_cast<int>(std::lround(static_cast<double>(slper_) / clper_)));

  pi_q_ = {.kp_mantissa = RegisterValue(value("KPI", 0.0), 0, 32767),
           .kp_shift = RegisterValue(value("SFTKPI", 0.0), 0, 31),
           .ki_mantissa = RegisterValue(value("KII", 0.0), 0, 32767),
           .ki_shift = RegisterValue(value("SFTKII", 0.0), 0, 31),
           .saturation = RegisterValue(value("SATIQ", 0.0), 0, 32767)};
  pi_d_ = pi_q_;
  pi_d_.saturation = RegisterValue(value("SATID", 0.0), 0, 32767);
  gains_d_ = PiGains(pi_d_);
  gains_q_ = PiGains(pi_q_);
  voltage_limit_ = 32767.0 - pi_q_.saturation;
  min_duty_ = RegisterValue(value("SATPWM", 0.0), 0, 32767) / 65535.0;
  max_duty_ = 1.0 - min_duty_;
  // DBT: the two 8-bit dead bands of the PWM unit in DSP clock ticks; the longer one counts.
  const uint32_t dbt = axis::TruncToWord(value("DBT", 0.0)) & 0xFFFFu;
  compensated_dead_time_s_ = std::max((dbt >> 8) & 0xFFu, dbt & 0xFFu) / dsp_frequency_Hz_;
  compensation_ = compensated_dead_time_s_ / pwm_period_s_;
  fade_counts_ = 0.01 * adc_half_scale_;
  inverse_fade_counts_ = 1.0 / fade_counts_;
  enc2thl_ = axis::TruncToWord(value("ENC2THL", 0.0));
  DecodeCountingDirection();
  motion_registers_ = MotionRegisters::Decode(value);
  const double imaxprot = value("IMAXPROT", 0.0);
  protection_counts_ = imaxprot > 0.0 ? std::min(imaxprot, adc_half_scale_) : adc_half_scale_;
  return "";
}

// COUNTINGDIR = 1: the firmware reverses the encoder's count. A change takes effect from the
// present count on (the counter does not jump).
void DriveCore::DecodeCountingDirection() {
  const int i = register_index_->Find("COUNTINGDIR");
  const bool firmware_reverses = i >= 0 && register_values_[static_cast<size_t>(i)] != 0.0;
  const int sign = (firmware_reverses != config_.sensors.encoder_reversed) ? -1 : 1;
  if (sign == count_sign_) return;
  count_sign_ = sign;
  count_offset_ = encoder_counts_ - sign * raw_counts_;
}

void DriveCore::BuildWinding() {
  const MotorParams& m = config_.motor;
  WindingParams p{
      .connection = m.connection, .open_terminal = m.open_terminal, .period_s = period_s_};
  for (int j = 0; j < 3; ++j) {
    p.resistance_Ohm[j] = m.resistance_Ohm * m.resistance_factor[j];
    p.inductance_H[j] = m.inductance_H * m.inductance_factor[j];
  }
  winding_ = std::make_unique<Winding>(p);
  balanced_ = winding_->balanced();
  // How the dead-time error of each terminal (per unit of mean sign) moves the branch and line
  // currents at the end of a period.
  dead_error_V_ = m.bus_V * std::min(dead_time_s_ / pwm_period_s_, 0.5);
  const double error_V = -dead_error_V_;
  const auto branch_response = winding_->PoleResponse();
  const auto line_response = winding_->LinePoleResponse();
  for (int x = 0; x < 3; ++x) {
    for (int y = 0; y < 3; ++y) {
      dead_branch_[x][y] = branch_response[x][y] * error_V;
      dead_line_[x][y] = line_response[x][y] * error_V;
    }
  }
  for (int a = -1; a <= 1; ++a) {
    for (int b = -1; b <= 1; ++b) {
      for (int c = -1; c <= 1; ++c) {
        auto& shift = dead_shift_A_[DeadShiftIndex({a, b, c})];
        for (int x = 0; x < 3; ++x)
          shift[x] = dead_line_[x][0] * a + dead_line_[x][1] * b + dead_line_[x][2] * c;
      }
    }
  }
  double largest_A = 0.0;
  for (int x = 0; x < 3; ++x) {
    largest_A = std::max(largest_A, std::fabs(dead_line_[x][x]));
    dead_scale_[x] = dead_line_[x][x] < 0.0 ? -0.5 / dead_line_[x][x] : 0.0;
    dead_hold_A_[x] = 0.5 * std::fabs(dead_line_[x][x]);
  }
  // A change of terminal y's mean sign that moves no end current by more than a thousandth of
  // the largest the dead time can move one is settled.
  for (int y = 0; y < 3; ++y) {
    double moved_A = 0.0;
    for (int x = 0; x < 3; ++x) moved_A = std::max(moved_A, std::fabs(dead_line_[x][y]));
    dead_tolerance_sign_[y] = moved_A > 0.0 ? 1e-3 * largest_A / moved_A : HUGE_VAL;
  }
  dead_sweeps_ = largest_A > 0.01 * config_.drive.current_range_A ? 4 : 1;
}

bool DriveCore::HasRegister(std::string_view name) const {
  return register_index_->Find(name) >= 0;
}

bool DriveCore::ReadRegister(std::string_view name, double& value) const {
  const int i = register_index_->Find(name);
  if (i < 0) return false;
  value = register_values_[static_cast<size_t>(i)];
  return true;
}

std::string DriveCore::WriteRegister(std::string_view name, double value) {
  const int i = register_index_->Find(name);
  if (i < 0) return "the drive has no register " + axis::Quoted(name);
  if (!std::isfinite(value))
    return "register " + axis::Quoted(name) + " takes a number, not " + axis::FormatNumber(value);
  const double stored = axis::RoundToIntegral(value);
  if (stored < -2147483648.0 || stored > 4294967295.0)
    return Whole(name, -2147483648.0, 4294967295.0, value);
  double& slot = register_values_[static_cast<size_t>(i)];
  const double old = slot;
  const double old_period = period_s_;
  slot = stored;
  std::string error = DecodeRegisters();
  if (error.empty() && !(dead_time_s_ < 0.5 * pwm_period_s_))
    error = "register " + axis::Quoted(name) +
            " would make the PWM period shorter than twice "
            "the dead time";
  if (!error.empty()) {
    slot = old;
    DecodeRegisters();
    return error;
  }
  if (period_s_ != old_period) BuildWinding();
  return "";
}

int DriveCore::VariableIndex(std::string_view name) const { return variable_index_->Find(name); }

void DriveCore::WriteVariable(int index, double value) {
  if (index == static_cast<int>(Var::kMER)) {
    // Writing the fault register clears the latched faults it does not hold.
    mer_latched_ &= static_cast<uint16_t>(axis::TruncToWord(value));
    SetVar(Var::kMER, mer());
    return;
  }
  variables_[static_cast<size_t>(index)] = value;
}

const double* DriveCore::VariableSource(int index) const {
  switch (static_cast<Var>(index)) {
    case Var::kIQ:
    case Var::kMotorCurrent:
      return &iq_value_;
    case Var::kID:
      return &id_value_;
    case Var::kCurrentReference:
      return &current_reference_value_;
    case Var::kVoltageReference:
      return &voltage_reference_value_;
    case Var::kMER:
    case Var::kTHTST:
    case Var::kAPOS:
    case Var::kAPOS_MT:
    case Var::kMotorPosition:
    case Var::kASPD:
    case Var::kASPD_MT:
    case Var::kMotorSpeed:
    case Var::kLoadPosition:
    case Var::kLoadSpeed:
    case Var::kHALL:
    case Var::kElectricAngle:
    case Var::kAD5:
      return nullptr;
    default:  // the routines' results and plain storage
      return &variables_[static_cast<size_t>(index)];
  }
}

bool DriveCore::SwitchOn(Mode mode) {
  if ((mer() & kMerBlocksPowerStage) != 0) return false;
  axis_on_ = true;
  mode_ = mode;
  limit_on_ = false;
  limit_tripped_ = false;
  commutating_ = false;
  pi_state_d_ = {};
  pi_state_q_ = {};
  routine_loop_.u = {};
  routine_loop_.e_prev = {};
  command_dq_ = {};
  voltage_reference_value_ = 0.0;
  return true;
}

void DriveCore::SwitchOff() {
  axis_on_ = false;
  voltage_reference_value_ = 0.0;
}

void DriveCore::SetCurrentReference(double id, double iq) {
  current_ref_dq_ = {id, iq};
  current_ref_counts_ = {ToCounts(id), ToCounts(iq)};
  current_reference_value_ = Round(iq);
}

void DriveCore::SetFrame(double angle_turns, double increment_turns, double advance_periods) {
  frame_angle_ = angle_turns - std::floor(angle_turns);
  frame_increment_ = increment_turns;
  frame_advance_ = advance_periods;
}

void DriveCore::SetCommutation(bool on) {
  commutating_ = on;
  if (on) {
    frame_increment_ = frame_advance_ = 0.0;
    Commutate();
  }
}

// The electrical angle as the firmware counts it: ENC2THL per count, 2^32 a period, modulo 2^32.
inline void DriveCore::Commutate() {
  const uint32_t angle = static_cast<uint32_t>(
      static_cast<uint64_t>(encoder_counts_ - commutation_reference_) * uint64_t{enc2thl_});
  frame_angle_ = static_cast<double>(angle + 0x40000000u) * 0x1p-32;
}

inline double DriveCore::ElectricalAngleTurns() const {
  return mechanics_.position_m * turns_per_m_;
}

// --- the period -----------------------------------------------------------------------------
//
// These run every fast-loop period: the common case stays short and straight, and whatever a
// period seldom needs (sensor noise, a moving mover, a rotating frame, an unbalanced winding, a
// current reaching zero) is a call of its own.

void DriveCore::Sample() {
  if (hand_used_ && !axis_on_ && !applied_on_) {  // the hand moves the carriage
    SampleInputs();
    MoveByHand();
    return;
  }
  SampleInputs();
  // The physics of the period depends on nothing the firmware does in it but whether the power
  // stage stays on: it is stepped now, from the period's start, and Physics clears the currents
  // if the stage went off. (So the currents go from one period's physics to the next without a
  // copy in between.)
  const std::array<double, 3> start_A = line_A_;
  const double start_velocity = mechanics_.velocity_m_per_s;
  // The mover: its force comes from the currents at the period's start.
  const double force_N =
      phase_k_[0] * start_A[0] + phase_k_[1] * start_A[1] + phase_k_[2] * start_A[2];
  StepMechanics(mechanics_params_, force_N, period_s_, mechanics_);
  if (applied_on_) DrivenPeriod(start_A, start_velocity);
}

// What the firmware samples at the start of a period.
inline void DriveCore::SampleInputs() {
  // The slow loop samples in the fast-loop period in which a multiple of SLPER PWM periods ends.
  pwm_in_slow_ += clper_;
  slow_tick_ = pwm_in_slow_ >= slper_;
  if (slow_tick_) pwm_in_slow_ %= slper_;
  if (mechanics_.position_m != sampled_position_m_) SampleEncoder();  // the mover has moved
  sampled_A_ = line_A_;
  double a = line_A_[0], b = line_A_[1];
  if (noise_A_ > 0.0) {
    a += noise_A_ * random_.TableGaussian();
    b += noise_A_ * random_.TableGaussian();
  }
  const double a_counts = SensorCounts(a), b_counts = SensorCounts(b);
  const int32_t a_whole = static_cast<int32_t>(a_counts), b_whole = static_cast<int32_t>(b_counts);
  line_counts_ = {a_whole, b_whole, -a_whole - b_whole};
  vdc_reading_ = vdc_counts_;
  if (commutating_) Commutate();
  // Park transform into the control frame at the sample instant: q at the frame angle, d 90
  // degrees behind it.
  if (frame_angle_ != frame_sincos_angle_) TurnFrame();
  iq_counts_ = ToCounts(a_counts * park_[0][0] + b_counts * park_[0][1]);
  id_counts_ = ToCounts(a_counts * park_[1][0] + b_counts * park_[1][1]);
  iq_value_ = iq_counts_;
  id_value_ = id_counts_;
}

// The control frame at the sample instant, and the Park transform from the sensors' lines A and B
// into it: with alpha = A and beta = (A + 2 B) / sqrt(3),
//     q = alpha cos + beta sin,   d = alpha sin - beta cos,
// folded into one product per line, so that the currents reach the controller sooner.
inline void DriveCore::TurnFrame() {
  SinCosTurns(frame_angle_, frame_sin_, frame_cos_);
  frame_sincos_angle_ = frame_angle_;
  park_ = {{{frame_cos_ + frame_sin_ * (1.0 / kSqrt3), frame_sin_ * (2.0 / kSqrt3)},
            {frame_sin_ - frame_cos_ * (1.0 / kSqrt3), -frame_cos_ * (2.0 / kSqrt3)}}};
}

// A current sensor's reading: the nearest count within the ADC's range (a NaN reads 0). A whole
// number kept as a double, as the Park transform takes it.
inline double DriveCore::SensorCounts(double current_A) const {
  const double counts = current_A * current_scale_;
  if (std::fabs(counts) <= adc_half_scale_) return Round(counts);  // (the range is whole counts)
  return counts > 0.0 ? adc_half_scale_ : counts < 0.0 ? -adc_half_scale_ : 0.0;
}

// The encoder, and the flux slopes at the mover's electrical angle.
void DriveCore::SampleEncoder() {
  const double previous_m = sampled_position_m_;
  sampled_position_m_ = mechanics_.position_m;
  raw_counts_ = static_cast<int64_t>(Floor(mechanics_.position_m * counts_per_m_)) - start_counts_;
  encoder_counts_ = count_offset_ + count_sign_ * raw_counts_;
  // The index mark latches the counter as it passes (at the count of the mark itself).
  if (capture_armed_ && ((previous_m < index_m_) != (sampled_position_m_ < index_m_))) {
    capture_armed_ = false;
    SetVar(Var::kCAPPOS, static_cast<double>(CountsAt(index_m_)));
  }
  SinCosTurns(ElectricalAngleTurns(), theta_sin_, theta_cos_);
  // d(flux of phase X)/dx = -(2/3) Kf sin(theta - phase_X); a delta branch sees the difference of
  // its two terminals' phases.
  const double kf = config_.motor.force_constant_N_per_A;
  for (int x = 0; x < 3; ++x)
    phase_k_[x] = -kTwoThirds * kf * (theta_sin_ * kPhaseCos[x] - theta_cos_ * kPhaseSin[x]);
  if (balanced_) return;  // its lines are stepped with the phases' slopes
  for (int j = 0; j < 3; ++j) {
    branch_k_[j] = config_.motor.connection == Connection::kStar
                       ? phase_k_[j]
                       : phase_k_[j] - phase_k_[(j + 1) % 3];
  }
}

int64_t DriveCore::CountsAt(double position_m) const {
  const int64_t raw = static_cast<int64_t>(std::floor(position_m * counts_per_m_)) - start_counts_;
  return count_offset_ + count_sign_ * raw;
}

double DriveCore::InputTime_s() const {
  return static_cast<double>(time_ticks_ - input_start_ticks_) / dsp_frequency_Hz_;
}

// With the power stage off the hand holds the carriage: at the period's end it is where the hand
// puts it then (within the stroke).
void DriveCore::MoveByHand() {
  const double end_s = InputTime_s() + period_s_;
  const double offset_m =
      std::isnan(hand_fixed_m_) ? config_.sensors.hand.At(end_s) : hand_fixed_m_;
  const double x = HandTarget(offset_m);
  mechanics_.velocity_m_per_s = (x - mechanics_.position_m) / period_s_;
  mechanics_.position_m = x;
}

double DriveCore::HandTarget(double offset_m) const {
  return std::clamp(start_position_m_ + offset_m, mechanics_params_.stroke_min_m,
                    mechanics_params_.stroke_max_m);
}

void DriveCore::SetHandPosition(double m) {
  hand_fixed_m_ = m;
  hand_used_ = !std::isnan(m) || !config_.sensors.hand.empty();
  if (!hand_used_) mechanics_.velocity_m_per_s = 0.0;
}

int DriveCore::hall_state() const {
  const SensorParams& s = config_.sensors;
  const int value = HallValue(s.hall_case, sampled_position_m_ * turns_per_m_ + hall_shift_turns_);
  return (value & ~s.hall_stuck_low) | s.hall_stuck_high;
}

void DriveCore::Control() {
  if (axis_on_) Protect();
  if (axis_on_) {
    Regulate();
    // The vector stays within the modulator's range.
    const double squared = command_dq_[0] * command_dq_[0] + command_dq_[1] * command_dq_[1];
    if (squared > 32767.0 * 32767.0) {
      const double scale = 32767.0 / std::sqrt(squared);
      command_dq_[0] *= scale;
      command_dq_[1] *= scale;
    }
    double s = frame_sin_, c = frame_cos_;
    if (frame_advance_ != 0.0) SinCosTurns(frame_angle_ + frame_advance_ * frame_increment_, s, c);
    // The firmware's command registers are whole counts.
    const double v_alpha = Round(command_dq_[1] * c + command_dq_[0] * s);
    const double v_beta = Round(command_dq_[1] * s - command_dq_[0] * c);
    ModulatorOutput(v_alpha, v_beta);
    voltage_reference_value_ = Round(command_dq_[1]);
  }
  if (frame_increment_ != 0.0) {
    frame_angle_ += frame_increment_;
    frame_angle_ -= Floor(frame_angle_);
  }
  if (slow_tick_) {
    slow_speed_ = static_cast<double>(encoder_counts_ - previous_slow_encoder_);
    previous_slow_encoder_ = encoder_counts_;
  }
}

// The over-current protection, and a routine's own current limit.
inline void DriveCore::Protect() {
  const int32_t largest = std::max(std::max(std::abs(line_counts_[0]), std::abs(line_counts_[1])),
                                   std::abs(line_counts_[2]));
  if (largest >= protection_counts_) {
    SwitchOff();
    mer_latched_ |= kMerShortCircuit;
    tripped_ = true;
    return;
  }
  if (limit_on_) {
    const double iq = iq_counts_, id = id_counts_;
    if (iq * iq + id * id > limit_squared_) {
      SwitchOff();
      limit_tripped_ = true;
    }
  }
}

// The controller of the present mode: the voltage command in the control frame.
inline void DriveCore::Regulate() {
  switch (mode_) {
    case Mode::kVoltage:
      command_dq_ = voltage_dq_;
      break;
    case Mode::kRoutineCurrent: {
      const double measured[2] = {static_cast<double>(id_counts_), static_cast<double>(iq_counts_)};
      RoutineLoop& r = routine_loop_;
      for (int a = 0; a < 2; ++a) {
        const double e = current_ref_dq_[a] - measured[a];
        r.u[a] = std::clamp(r.u[a] + r.kp * (e - r.zero * r.e_prev[a]), -r.limit, r.limit);
        r.e_prev[a] = e;
        command_dq_[a] = r.u[a];
      }
      break;
    }
    case Mode::kFirmwareCurrent:
      command_dq_[0] = StepPi(gains_d_, current_ref_counts_[0], id_counts_, pi_state_d_);
      command_dq_[1] = StepPi(gains_q_, current_ref_counts_[1], iq_counts_, pi_state_q_);
      break;
  }
}

inline void DriveCore::ModulatorOutput(double v_alpha, double v_beta) {
  // The phase voltages, in duty cycle.
  constexpr double kDutyPerCount = 1.1 / 65534.0;
  constexpr double kAlphaShare = -0.5 * kDutyPerCount, kBetaShare = 0.5 * kSqrt3 * kDutyPerCount;
  const double v[3] = {v_alpha * kDutyPerCount, v_alpha * kAlphaShare + v_beta * kBetaShare,
                       v_alpha * kAlphaShare - v_beta * kBetaShare};
  const double high = std::max(std::max(v[0], v[1]), v[2]);
  const double low = std::min(std::min(v[0], v[1]), v[2]);
  const double zero_sequence = -0.5 * (high + low);
  // Dead-time compensation (in the firmware's current control; the routines' own modes measure
  // around the dead time instead): the firmware lengthens each phase's pulse by its dead band in
  // the direction of the phase's current, averaged over the period in which this command will
  // be applied. Within 1 % of the current range of zero the direction fades linearly, so that
  // sensor noise does not toggle it.
  std::array<double, 3> centre{0.5, 0.5, 0.5};
  if (mode_ == Mode::kFirmwareCurrent && compensation_ > 0.0) {
    const std::array<double, 3> direction = CompensationDirection();
    for (int x = 0; x < 3; ++x) centre[x] += compensation_ * direction[x];
  }
  // (The zero sequence, which waits for all three phases, is added last.)
  for (int x = 0; x < 3; ++x)
    duty_[x] = std::min(std::max((v[x] + centre[x]) + zero_sequence, min_duty_), max_duty_);
}

// The compensation's directions. The currents it expects are the sampled ones; while they are
// within the fade band of zero and the reference is not, the reference's (the current is on its
// way there: a compensation that waited for it would let the dead time hold it at zero). In a
// turning frame they are turned with the frame (by as much as the command is placed ahead, -+
// half a period at the period's ends) and change linearly in between.
inline std::array<double, 3> DriveCore::CompensationDirection() const {
  const double band = fade_counts_;
  double i_alpha = line_counts_[0];
  double i_beta = (line_counts_[0] + 2.0 * line_counts_[1]) * (1.0 / kSqrt3);
  bool expected_sampled = true;
  if (i_alpha * i_alpha + i_beta * i_beta < band * band) {
    const double d = current_ref_counts_[0], q = current_ref_counts_[1];
    if (d * d + q * q >= band * band) {
      i_alpha = q * frame_cos_ + d * frame_sin_;
      i_beta = q * frame_sin_ - d * frame_cos_;
      expected_sampled = false;
    }
  }
  const auto phases = [](double a, double b) {
    return std::array<double, 3>{a, -0.5 * a + 0.5 * kSqrt3 * b, -0.5 * a - 0.5 * kSqrt3 * b};
  };
  std::array<double, 3> direction;
  if (frame_increment_ == 0.0) {
    const std::array<double, 3> i =
        expected_sampled ? std::array<double, 3>{static_cast<double>(line_counts_[0]),
                                                 static_cast<double>(line_counts_[1]),
                                                 static_cast<double>(line_counts_[2])}
                         : phases(i_alpha, i_beta);
    for (int x = 0; x < 3; ++x)
      direction[x] = std::min(std::max(i[x] * inverse_fade_counts_, -1.0), 1.0);
    return direction;
  }
  std::array<double, 3> ends[2];
  for (int e = 0; e < 2; ++e) {
    double s = 0.0, c = 1.0;
    SinCosTurns((frame_advance_ + (e == 0 ? -0.5 : 0.5)) * frame_increment_, s, c);
    ends[e] = phases(i_alpha * c - i_beta * s, i_alpha * s + i_beta * c);
  }
  for (int x = 0; x < 3; ++x) direction[x] = MeanDirection(ends[0][x], ends[1][x], band);
  return direction;
}

void DriveCore::Physics() {
  // The winding and the mover have been stepped by Sample. With the power stage off the currents
  // die away through the free-wheeling diodes into the bus within the period (the bus voltage far
  // exceeds the back-EMF of the motor).
  if (!(applied_on_ && axis_on_)) ClearCurrents();
  applied_on_ = axis_on_;
  ++fast_count_;
  time_ticks_ += ticks_per_period_;
}

// The winding over a period with the power stage on, from the currents and the velocity at its
// start to line_A_ (and winding_state_) at its end.
//
// Dead time: while a phase's current flows out of the motor (negative) its pole sits at the bus
// during the dead band, else at 0 V: an error of -s Vdc t_dead / T_pwm, s the sign of the current
// averaged over the period. Like dry friction it always opposes the current, so a current may
// cross zero within a period or stick at zero. The error enters linearly: the period's ends are
// free + G s, free the ends without it and G = dead_line_. Usually every current keeps the sign
// it starts with; only when one has reached zero are the mean signs solved for.
inline void DriveCore::DrivenPeriod(const std::array<double, 3>& start, double v) {
  // The command computed in the last period (the firmware's next one is not computed yet).
  const std::array<double, 3> pole{bus_V_ * duty_[0], bus_V_ * duty_[1], bus_V_ * duty_[2]};
  std::array<double, 3> free = start;
  if (balanced_) {
    winding_->StepLines(pole, {phase_k_[0] * v, phase_k_[1] * v, phase_k_[2] * v}, free);
  } else {
    winding_->Step(pole, {branch_k_[0] * v, branch_k_[1] * v, branch_k_[2] * v}, winding_state_);
    free = winding_->LineCurrents(winding_state_);
  }
  if (!(dead_error_V_ > 0.0)) {
    line_A_ = free;
    return;
  }
  const auto sign_of = [](double i) { return (i > 0.0) - (i < 0.0); };
  const std::array<int, 3> start_sign{sign_of(start[0]), sign_of(start[1]), sign_of(start[2])};
  const std::array<double, 3>& shift = dead_shift_A_[DeadShiftIndex(start_sign)];
  std::array<double, 3> end{free[0] + shift[0], free[1] + shift[1], free[2] + shift[2]};
  std::array<double, 3> sign{static_cast<double>(start_sign[0]), static_cast<double>(start_sign[1]),
                             static_cast<double>(start_sign[2])};
  bool held = false;
  if (!(start[0] * end[0] > 0.0 && start[1] * end[1] > 0.0 && start[2] * end[2] > 0.0))
    held = ResolveDeadTime(start, free, sign, end);
  line_A_ = end;
  if (!balanced_) {  // a winding solved in its branches takes the error there too
    if (held) {
      winding_state_ = {};
      return;
    }
    for (int j = 0; j < 3; ++j) {
      for (int y = 0; y < 3; ++y)
        winding_state_.branch_current_A[j] += dead_branch_[j][y] * sign[y];
    }
    line_A_ = winding_->LineCurrents(winding_state_);
  }
}

// The mean signs of a period in which a current has reached zero (see DrivenPeriod): `sign`
// holds the signs at the start and comes back with the mean signs, `end` holds the period's ends
// with those and comes back with the solved ones. True when the dead time holds every current at
// zero.
inline bool DriveCore::ResolveDeadTime(const std::array<double, 3>& start,
                                       const std::array<double, 3>& free,
                                       std::array<double, 3>& sign,
                                       std::array<double, 3>& end) const {
  const auto& g = dead_line_;
  // The currents that started at zero or now have the other sign.
  std::array<bool, 3> crossing;
  for (int x = 0; x < 3; ++x) crossing[x] = (std::fabs(start[x]) < 1e-9) | (sign[x] * end[x] < 0.0);
  if (!(crossing[0] || crossing[1] || crossing[2])) return false;
  // Currents smaller than the dead time takes away in half a period, under a voltage that would
  // move them by no more than that either, end at zero: the dead time holds them there.
  bool held = true;
  for (int x = 0; x < 3; ++x)
    held &= (std::fabs(start[x]) <= dead_hold_A_[x]) & (std::fabs(free[x]) <= dead_hold_A_[x]);
  if (held) {
    sign = {};
    end = {};
    return true;
  }
  // Each crossing current's mean sign is solved with the others held, round the phases; the
  // signs' common part moves no current (the line currents add up to zero), so the rounds stop
  // when the end currents no longer change (at most 4; a winding on which the dead time moves
  // the current by less than 1 % of the current range in a period needs one). A current is
  // solved in the form of MirroredMeanSign, u = k m others - k (|start| + g[x][x]), its others
  // being the end without its own error.
  struct Form {
    double m, q, k_m, offset;
  };
  const auto form = [&](int x) {
    // (A current within 1e-9 A of zero stuck there, within rounding.)
    const double mirrored_start = std::fabs(start[x]) < 1e-9 ? 0.0 : std::fabs(start[x]);
    const double k = dead_scale_[x];
    const double m = std::copysign(1.0, start[x]);  // (either sign at zero: the same result)
    return Form{m, 4.0 * k * mirrored_start, k * m, -k * (mirrored_start + g[x][x])};
  };
  if (dead_sweeps_ == 1) {
    // One round, every crossing current from the others' signs at the start: they solve side by
    // side and no phase is favoured by the order in which they are taken. (Those that keep their
    // sign are not solved: mostly only one phase crosses zero in a period.) The others' part of u
    // is known from the start alone, so only k m free waits for the winding.
    std::array<double, 3> mean = sign;
    for (int x = 0; x < 3; ++x) {
      if (!crossing[x] || dead_scale_[x] == 0.0) continue;
      const Form f = form(x);
      const int y = (x + 1) % 3, z = (x + 2) % 3;
      const double others_A = g[x][y] * sign[y] + g[x][z] * sign[z];
      const double u = f.k_m * free[x] + (f.k_m * others_A + f.offset);
      mean[x] = f.m * MirroredMeanSign(u, f.q);
    }
    for (int x = 0; x < 3; ++x)
      end[x] = free[x] + (g[x][0] * mean[0] + g[x][1] * mean[1] + g[x][2] * mean[2]);
    sign = mean;
    return false;
  }
  const std::array<Form, 3> forms{form(0), form(1), form(2)};
  bool moving = true;
  for (int round = 0; moving && round < dead_sweeps_; ++round) {
    moving = false;
    for (int x = 0; x < 3; ++x) {
      if (!crossing[x] || dead_scale_[x] == 0.0) continue;  // an open lead: no error reaches it
      double others = free[x];
      for (int y = 0; y < 3; ++y) {
        if (y != x) others += g[x][y] * sign[y];
      }
      const Form& f = forms[x];
      const double mean_sign = f.m * MirroredMeanSign(f.k_m * others + f.offset, f.q);
      moving = moving || std::fabs(mean_sign - sign[x]) > dead_tolerance_sign_[x];
      sign[x] = mean_sign;
    }
  }
  for (int x = 0; x < 3; ++x)
    end[x] = free[x] + (g[x][0] * sign[0] + g[x][1] * sign[1] + g[x][2] * sign[2]);
  return false;
}

void DriveCore::ClearCurrents() {
  winding_state_ = {};
  line_A_ = {};
}

// The firmware's variables are computed when read, from the state of the last period.
double DriveCore::VariableValue(int index) const {
  switch (static_cast<Var>(index)) {
    case Var::kMER:
      return mer();
    case Var::kTHTST:
      return Floor(frame_angle_ * 65536.0);
    case Var::kAPOS:
    case Var::kAPOS_MT:
    case Var::kMotorPosition:
    case Var::kLoadPosition:
      return static_cast<double>(encoder_counts_);
    case Var::kASPD:
    case Var::kASPD_MT:
    case Var::kMotorSpeed:
    case Var::kLoadSpeed:
      return slow_speed_;
    case Var::kHALL:
      return hall_state();
    case Var::kElectricAngle: {
      if (!std::isnan(electric_angle_override_)) return electric_angle_override_;
      const uint64_t steps =
          static_cast<uint64_t>(encoder_counts_ - commutation_reference_) * uint64_t{enc2thl_};
      return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(steps >> 16)));
    }
    case Var::kAD5: {
      // A 10-bit conversion in the upper bits of a 16-bit word.
      const double set =
          std::isnan(ad5_fixed_) ? config_.sensors.ad5.At(InputTime_s()) : ad5_fixed_;
      const double share = std::clamp(set, 0.0, 1.0);
      return std::nearbyint(share * 1023.0) * 64.0;
    }
    default:
      return *VariableSource(index);
  }
}

bool DriveCore::Quiescent() const {
  if (axis_on_ || applied_on_ || mechanics_.velocity_m_per_s != 0.0) return false;
  // A hand that will still move the carriage.
  if (hand_used_) {
    if (std::isnan(hand_fixed_m_) ? InputTime_s() < config_.sensors.hand.end_s()
                                  : mechanics_.position_m != HandTarget(hand_fixed_m_))
      return false;
  }
  for (int j = 0; j < 3; ++j) {
    if (winding_state_.branch_current_A[j] != 0.0 || line_A_[j] != 0.0) return false;
  }
  const MechanicsParams& p = mechanics_params_;
  const double weight_N = p.mass_kg * p.gravity_m_per_s2;
  if (std::fabs(weight_N) <= p.friction_N) return true;
  return (weight_N > 0.0 && mechanics_.position_m <= p.stroke_min_m) ||
         (weight_N < 0.0 && mechanics_.position_m >= p.stroke_max_m);
}

void DriveCore::SkipPeriods(int64_t periods) {
  if (periods <= 0) return;
  fast_count_ += periods;
  time_ticks_ += periods * ticks_per_period_;
  pwm_in_slow_ = static_cast<int32_t>((pwm_in_slow_ + (periods % slper_) * clper_) % slper_);
  slow_tick_ = false;
  frame_angle_ += frame_increment_ * static_cast<double>(periods % (int64_t{1} << 40));
  frame_angle_ -= std::floor(frame_angle_);
  slow_speed_ = 0.0;
}

}  // namespace sim
