#include "sim/routines.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "sim/routine_steps.h"
#include "sim/winding_probe.h"

namespace sim {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kRequired = std::numeric_limits<double>::quiet_NaN();
constexpr double kInt32Min = -2147483648.0;
constexpr double kInt32Max = 2147483647.0;
// The motionless start's aim: the current on the mover's magnetic axis, 90 electrical degrees
// behind its q axis, within 10 degrees.
constexpr double kAngleTarget = -16384.0;
constexpr double kAngleTolerance = 1820.0;

// The routines' current regulator, set from the probe: proportional gain for a closed loop whose
// two poles sit at about 0.72 and 0.28 per period on an inductive winding (kp b = 0.2 with the
// one-period delay), integral time 20 periods. It stays stable for a gain error of a factor 4.
void StartRoutineLoop(DriveCore& d, const WindingProbe& probe) {
  RoutineLoop& loop = d.routine_loop();
  loop.kp = 0.2 / probe.gain();
  loop.zero = std::exp(-1.0 / 20.0);
  loop.limit = d.voltage_limit();
  loop.u = {d.command_dq()[0], d.command_dq()[1]};
  loop.e_prev = {0.0, 0.0};
  d.SetMode(Mode::kRoutineCurrent);
}

// Probes the winding along the control frame's q axis at angle 0 (see WindingProbe), one step a
// period; the routine goes on when the probe is done.
EachPeriod Probe(DriveCore& d, WindingProbe& probe) {
  d.SetFrame(0.0, 0.0, 0.0);
  return {[&d, &probe] {
    d.SetVoltage(0.0, probe.Step(d.iq_counts()));
    return probe.done();
  }};
}

// --- Initial_Positioning_Test ------------------------------------------------------------------
// Aligns the mover with phase A and finds the voltage that holds the test current there.
// In1 (test current, counts) in; In1 (the current it used), REFTST_V (voltage counts holding it
// at standstill) and RINCTST_V (a ramp increment to reach it in 20 ms, 16.16 counts per period)
// out. Physically: after probing the winding, its current regulator drives In1 at 90 degrees,
// ramped over 0.1 s and held 0.1 s, then turns it onto phase A over 0.1 s; the magnets' force
// Kf In1 sin(angle of the current - theta) pulls the mover along to theta = 0.
// It holds until the encoder has stood still for 50 ms (0.2 s to 2 s), and takes the mean
// q voltage over the last 20 ms. The encoder count there becomes the electrical angle 0.
RoutineTask InitialPositioning(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double test = Int16(run.Input("In1"));
  if (test <= 0.0) {  // nothing to position with: report it at once, never switch on
    co_await Periods{run.Periods(kStartupDelay_s)};
    run.Deliver("In1", 0.0);
    run.SetStarted();
    co_return;
  }
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kVoltage);
  WindingProbe probe(test, d.voltage_limit());
  co_await Probe(d, probe);
  StartRoutineLoop(d, probe);
  // Two steps, so that a mover standing opposite phase A (where the pull is nil) is moved too:
  // the current first along 90 degrees, then turned onto phase A.
  const int64_t ramp = run.Periods(0.1);
  d.SetFrame(0.25, 0.0, 0.0);
  for (int64_t k = 1; k <= ramp; ++k) {
    d.SetCurrentReference(0.0, test * static_cast<double>(k) / static_cast<double>(ramp));
    co_await Periods{1};
  }
  co_await Periods{run.Periods(0.1)};
  for (int64_t k = 1; k <= ramp; ++k) {
    d.SetFrame(0.25 * (1.0 - static_cast<double>(k) / static_cast<double>(ramp)), 0.0, 0.0);
    co_await Periods{1};
  }
  const int64_t still_needed = run.Periods(0.05), at_least = run.Periods(0.2);
  const int64_t at_most = run.Periods(2.0);
  int64_t anchor = d.encoder_counts(), still = 0;
  for (int64_t held = 0; held < at_most && (held < at_least || still < still_needed); ++held) {
    co_await Periods{1};
    if (std::llabs(d.encoder_counts() - anchor) > 2) {
      anchor = d.encoder_counts();
      still = 0;
    } else {
      ++still;
    }
  }
  const int64_t window = run.Periods(0.02);
  double sum = 0.0;
  for (int64_t k = 0; k < window; ++k) {
    co_await Periods{1};
    sum += d.command_dq()[1];
  }
  const double reference = std::nearbyint(sum / static_cast<double>(window));
  const double increment =
      reference == 0.0 ? 0.0
                       : std::max(1.0, std::nearbyint(std::fabs(reference) * 65536.0 /
                                                      static_cast<double>(run.Periods(0.02))));
  d.SetCommutationReference();
  d.SetVar(Var::kREFTST_V, reference);
  d.SetVar(Var::kRINCTST_V, increment);
  run.Deliver("In1", test);
  d.SwitchOff();
}

// --- Motor_Phase_Connection_Test ---------------------------------------------------------------
// RefTest (voltage counts) and RIncTest (16.16 counts per period) in; var_i1, var_i2 (the phase A
// and B currents, counts) out. Applies the voltage vector RefTest along phase A, ramped by
// RIncTest (at most 2 s), open loop: a healthy motor answers IA = RefTest / R' and IB = -IA / 2.
// Waits until both phase currents settle (two 10 ms means within 0.5 %, at most 2 s) and reports
// their means over 20 ms.
RoutineTask PhaseConnections(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double target = run.Input("RefTest");
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kVoltage);
  d.SetFrame(0.0, 0.0, 0.0);
  const int64_t longest = run.Periods(2.0);
  double step = run.Input("RIncTest") / 65536.0;
  if (!(step > 0.0) || std::fabs(target) / step > static_cast<double>(longest))
    step = std::fabs(target) / static_cast<double>(longest);
  for (double v = 0.0; v != target;) {
    v = target > v ? std::min(target, v + step) : std::max(target, v - step);
    d.SetVoltage(0.0, v);
    co_await Periods{1};
  }
  const int64_t window = run.Periods(0.01);
  double previous[2] = {std::numeric_limits<double>::infinity(), 0.0};
  for (int64_t waited = 0; waited < longest; waited += window) {
    double sum[2] = {0.0, 0.0};
    for (int64_t k = 0; k < window; ++k) {
      co_await Periods{1};
      sum[0] += d.line_counts()[0];
      sum[1] += d.line_counts()[1];
    }
    bool settled = true;
    for (int x = 0; x < 2; ++x) {
      const double mean = sum[x] / static_cast<double>(window);
      settled = settled && std::fabs(mean - previous[x]) <= std::max(10.0, 0.005 * std::fabs(mean));
      previous[x] = mean;
    }
    if (settled) break;
  }
  const int64_t measure = run.Periods(0.02);
  double sum[2] = {0.0, 0.0};
  for (int64_t k = 0; k < measure; ++k) {
    co_await Periods{1};
    sum[0] += d.line_counts()[0];
    sum[1] += d.line_counts()[1];
  }
  d.SetVar(Var::kVarI1, std::nearbyint(sum[0] / static_cast<double>(measure)));
  d.SetVar(Var::kVarI2, std::nearbyint(sum[1] / static_cast<double>(measure)));
  d.SwitchOff();
}

// --- Ident_R_or_Rs -----------------------------------------------------------------------------
// In1 (current counts) in; var_i1 (the voltage command that held it, counts) and var_u2 (the DC
// bus reading) out, while the host records "IQ". The routine regulates In1 along phase A with its
// own regulator (the mover stays aligned, so there is no force): 20 ms ramp, 30 ms hold, then
// 50 ms with a tenth of the gain (the regulator then passes little of the sensor noise on to the
// winding), and the voltage is frozen at the whole count nearest to its mean over a further
// 50 ms and applied open loop: the held voltage is exactly the reported one, whatever the
// current then does. The routine waits until two successive 50 ms means of the current agree
// within three standard errors (at most 2 s: a winding with a long time constant settles
// slowly), then starts the record and holds for as long as it needs (at least 20 ms). The
// dead-time error is the same at both current levels of the host's two runs, so it drops out
// of their difference. RefTest and RIncTest are accepted; this routine regulates the current
// itself.
RoutineTask Resistance(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double test = run.Input("In1");
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kVoltage);
  WindingProbe probe(test, d.voltage_limit());
  co_await Probe(d, probe);
  StartRoutineLoop(d, probe);
  const double from = d.iq_counts();
  const int64_t ramp = run.Periods(0.02);
  for (int64_t k = 1; k <= ramp; ++k) {
    d.SetCurrentReference(0.0, from + (test - from) * static_cast<double>(k) / ramp);
    co_await Periods{1};
  }
  co_await Periods{run.Periods(0.03)};
  d.routine_loop().kp *= 0.1;
  co_await Periods{run.Periods(0.05)};
  const int64_t window = run.Periods(0.05);
  double voltage[2] = {0.0, 0.0};
  for (int64_t k = 0; k < window; ++k) {
    co_await Periods{1};
    voltage[0] += d.command_dq()[0];
    voltage[1] += d.command_dq()[1];
  }
  const double vd = std::nearbyint(voltage[0] / static_cast<double>(window));
  const double vq = std::nearbyint(voltage[1] / static_cast<double>(window));
  d.SetVoltage(vd, vq);
  d.SetMode(Mode::kVoltage);
  double previous = std::numeric_limits<double>::infinity();
  for (int64_t waited = 0; waited < run.Periods(2.0); waited += window) {
    double sum = 0.0, squares = 0.0;
    for (int64_t k = 0; k < window; ++k) {
      co_await Periods{1};
      sum += d.iq_counts();
      squares += static_cast<double>(d.iq_counts()) * d.iq_counts();
    }
    const double n = static_cast<double>(window), mean = sum / n;
    const double spread = std::sqrt(std::max(0.0, squares / n - mean * mean));
    const bool settled = std::fabs(mean - previous) <= 3.0 * spread * std::sqrt(2.0 / n) + 1.0;
    previous = mean;
    if (settled) break;
  }
  run.StartRecord();
  const int64_t measure = std::max(run.RecordPeriods(), run.Periods(0.02));
  double bus = 0.0;
  for (int64_t k = 0; k < measure; ++k) {
    co_await Periods{1};
    bus += d.vdc_reading();
  }
  d.SetVar(Var::kVarI1, vq);
  d.SetVar(Var::kVarU2, std::nearbyint(bus / static_cast<double>(measure)));
  d.SwitchOff();
}

// --- Ident_L_or_Tau_el -------------------------------------------------------------------------
// In1 (current counts) in; var_i1 (voltage amplitude U, counts) and TINCTST (angle increment per
// period, 1/65535 of a period) out, while the host records "IQ" and "ID". The voltage vector
// rotates at omega = 2 pi TINCTST / (65535 Ts_C) with "IQ" the current along it and "ID" the
// current 90 degrees behind it: in steady state IQ = U R / |Z|^2, ID = U omega L / |Z|^2.
//
// The drive makes up for its own sampled-data path: the voltage computed at sample k is applied
// during period k+1 and held over it, so the command is placed 1.5 periods ahead of the frame
// (delay plus half the hold) and its amplitude is U sinc(theta/2), theta = omega Ts_C. With
// exact hold dynamics the host's L = U MD / (omega M2) then equals L x coth(x), x = R Ts_C / 2L:
// within 0.52 % for any winding whose time constant is at least 4 periods, whatever omega.
//
// The dead time (uncompensated here) opposes the current: a resistance to the host's formula,
// which takes only the part of the voltage at right angles to the current.
//
// Frequency and amplitude come from the probe: the highest frequency up to a sixth of the
// fast-loop rate (a moving mover's back-EMF falls with 1/omega^2 against omega L, and a larger
// voltage leaves the dead time a smaller share) at which the voltage (3/4 of the limit) drives
// the test current, else the test current lowered to no less than a quarter, else a lower
// frequency; TINCTST is nudged so that the record's points do not alias the rotating frame's
// ripple (dead-time harmonics 6, 12, 18, 24 and a decaying offset) onto a constant. The
// amplitude is ramped in over 20 ms, the current settles (10 time constants as probed, 50 ms to
// 1 s), the amplitude is corrected up to three times toward the aimed current, and the record
// runs in steady state.
RoutineTask Inductance(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double test = run.Input("In1");
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kVoltage);
  WindingProbe probe(test, d.voltage_limit());
  co_await Probe(d, probe);
  StartRoutineLoop(d, probe);  // back to no current before the rotation starts

  d.SetCurrentReference(0.0, 0.0);
  co_await Periods{run.Periods(0.02)};
  d.SetMode(Mode::kVoltage);

  const Rotation rotation = ChooseRotation(probe.gain(), probe.resistance(), test,
                                           d.voltage_limit(), run.RecordDecimation());
  const double theta = kTwoPi * rotation.angle_increment / 65535.0;
  const double hold_gain = theta > 0.0 ? std::sin(theta / 2) / (theta / 2) : 1.0;
  double amplitude = rotation.amplitude;
  d.SetVoltage(0.0, 0.0);
  d.SetFrame(0.0, rotation.angle_increment / 65535.0, 1.5);
  const double tau_periods =
      probe.resistance() > 0.0 ? 1.0 / (probe.gain() * probe.resistance()) : 1e9;
  const int64_t settle =
      std::clamp<int64_t>(static_cast<int64_t>(std::min(10.0 * tau_periods, 1e12)),
                          run.Periods(0.05), run.Periods(1.0));
  const double available = 0.75 * d.voltage_limit();
  double applied = 0.0, previous_amplitude = 0.0, previous_current = 0.0;
  for (int pass = 0; pass < 4; ++pass) {
    const int64_t ramp = run.Periods(0.02);
    for (int64_t k = 1; k <= ramp; ++k) {
      const double share = static_cast<double>(k) / static_cast<double>(ramp);
      d.SetVoltage(0.0, (applied + (amplitude - applied) * share) * hold_gain);
      co_await Periods{1};
    }
    applied = amplitude;
    co_await Periods{settle};
    const int64_t window = run.Periods(0.01);
    double sum[2] = {0.0, 0.0};
    for (int64_t k = 0; k < window; ++k) {
      co_await Periods{1};
      sum[0] += d.id_counts();
      sum[1] += d.iq_counts();
    }
    // Within 0.7 to 1.25 of the aim the current is fine. Else the amplitude moves toward it, on
    // the line through the last two points once there are two (the dead time takes a share of
    // the voltage, so the current is not in proportion to it), by at most a factor 2.
    const double current = std::hypot(sum[0], sum[1]) / static_cast<double>(window);
    const double aim = rotation.current;
    if ((current >= 0.7 * aim && current <= 1.25 * aim) || pass == 3) break;
    double next = current > 0.0 ? amplitude * aim / current : 2.0 * amplitude;
    if (pass > 0 && current != previous_current)
      next = amplitude +
             (aim - current) * (amplitude - previous_amplitude) / (current - previous_current);
    next = std::clamp(std::nearbyint(std::clamp(next, 0.5 * amplitude, 2.0 * amplitude)), 1.0,
                      available);
    if (next == amplitude) break;
    previous_amplitude = amplitude;
    previous_current = current;
    amplitude = next;
  }
  run.StartRecord();
  co_await Periods{std::max(run.RecordPeriods(), run.Periods(0.02))};
  d.SetVar(Var::kTINCTST, rotation.angle_increment);
  d.SetVar(Var::kVarI1, amplitude);
  d.SwitchOff();
}

// --- Current_Controller_Tuning_Test ------------------------------------------------------------
// RefTest, RIncTest, In1 (step, a signed 16-bit current) and Imax_Prot_Test (signed 16-bit) in;
// test_flag out; "Current_Reference", "Motor_Current", "Voltage_Reference" recorded. The firmware's
// fixed-point PI controller (KPI/SFTKPI, KII/SFTKII, SATIQ, SATID) runs the current along phase A
// (the mover stays aligned): the reference is 0 for the first 10 % of the record, In1 until 55 %,
// then 0 again (50 ms without a record). When the current vector's magnitude exceeds
// Imax_Prot_Test the firmware switches off at once and the routine reports test_flag 0 in the
// same period; otherwise test_flag is 1.
RoutineTask CurrentStep(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double step = Int16(run.Input("In1"));
  const double protection = Int16(run.Input("Imax_Prot_Test"));
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kFirmwareCurrent);
  d.SetFrame(0.0, 0.0, 0.0);
  d.SetCurrentLimit(protection);
  run.StartRecord();
  const int64_t window = run.recording() ? run.RecordPeriods() : run.Periods(0.05);
  const int64_t edges[3] = {window / 10, window * 55 / 100, window};
  int64_t now = 0;
  for (int part = 0; part < 3; ++part) {
    d.SetCurrentReference(0.0, part == 1 ? step : 0.0);
    co_await Periods{std::max<int64_t>(1, edges[part] - now)};
    now = edges[part];
    if (d.limit_tripped()) {  // the firmware has switched off
      run.Deliver("test_flag", 0.0);
      co_return;
    }
  }
  run.Deliver("test_flag", 1.0);
  d.SwitchOff();
}

// --- VDC_Detection_Test ------------------------------------------------------------------------
// No inputs; var_u2 (the DC bus reading, counts of ADC full scale / VdcMaxMeasurable per volt)
// out. The bus is read for 5 ms and the mean reading delivered before "STARTED" is set; the power
// stage is then switched on for 1 ms with no voltage. The measurement needs no power stage, so a
// disabled ENABLE input does not stop it.
RoutineTask BusVoltage(RoutineRun& run) {
  DriveCore& d = run.drive();
  const int64_t window = run.Periods(kStartupDelay_s);
  double sum = 0.0;
  for (int64_t k = 0; k < window; ++k) {
    sum += d.vdc_reading();
    co_await Periods{1};
  }
  d.SetVar(Var::kVarU2, std::nearbyint(sum / static_cast<double>(window)));
  if (!run.StartAndSwitchOn(Mode::kVoltage)) {
    run.SetStarted();
    co_return;
  }
  d.SetVoltage(0.0, 0.0);
  co_await Periods{run.Periods(0.001)};
  d.SwitchOff();
}

// --- Encoder_Connection_Test -------------------------------------------------------------------
// No inputs or outputs. The power stage stays off, so that the carriage is free for the hand;
// "APOS", "HALL" and "CAPPOS" follow it. The routine ends when the host writes "var_i2" (the write
// is the command, whatever the value) or switches the axis off.
RoutineTask EncoderConnection(RoutineRun& run) {
  run.drive().SwitchOff();
  for (;;) co_await Periods{int64_t{1} << 30};
}

// --- Hall_Signals_Connection_Test --------------------------------------------------------------
// No inputs; "bad" out. The power stage stays off while the hand moves the carriage. "var_i2"
// counts the changes of the Hall state it sees (at most 6: six changes pass through every state of
// a pole pitch), "bad" becomes 1 once it sees a state no working sensor set gives (0 or 7). It
// ends when the host writes "var_i2" (after reading the count) or switches the axis off.
RoutineTask HallSignals(RoutineRun& run) {
  DriveCore& d = run.drive();
  d.SwitchOff();
  const auto invalid = [](int state) { return state == 0 || state == 7; };
  int last = d.hall_state();
  double changes = 0.0, bad = invalid(last) ? 1.0 : 0.0;
  d.SetVar(Var::kVarI2, changes);
  run.Deliver("bad", bad);
  for (;;) {
    co_await Periods{1};
    const int state = d.hall_state();
    if (state == last) continue;
    last = state;
    changes = std::min(6.0, changes + 1.0);
    if (invalid(state)) bad = 1.0;
    d.SetVar(Var::kVarI2, changes);
    run.Deliver("bad", bad);
  }
}

// --- Analogue_Reference_Test -------------------------------------------------------------------
// No inputs or outputs: keeps the firmware reading "AD5" (it always does) until the host switches
// the axis off.
RoutineTask AnalogueReference(RoutineRun& run) {
  run.drive().SwitchOff();
  for (;;) co_await Periods{int64_t{1} << 30};
}

// --- the field dragging the mover --------------------------------------------------------------
// The encoder and Hall routines turn a voltage vector of constant amplitude (the positioning's
// "RefTest") at a constant rate, open loop: the mover follows, lagging by the angle at which the
// force meets friction. Driven by a voltage, the mover's back-EMF damps it (a current of
// (2/3) Kf v / R against the motion), so that after a run-up it moves in steady state: then its
// motion repeats exactly every electrical turn. One turn takes kTurn_s.
constexpr double kTurn_s = 1.0;
constexpr int64_t kRunUp = 1;  // turns before the measured one

struct Sample {
  int64_t count;
  int hall;
};

// Shows the sensors while the field turns: the counter from the start, the Hall state.
void ShowSensors(RoutineRun& run, int64_t start_count) {
  DriveCore& d = run.drive();
  d.SetVar(Var::kVarLfLong, static_cast<double>(d.encoder_counts() - start_count));
  run.Deliver("H123", d.hall_state());
}

// --- Encoder_Resolution_And_Direction_Test -----------------------------------------------------
// "RefTest" (voltage counts) and "PolesPairs" (1) in; "H123" out; "var_lf_long" the counter from
// the start while it runs, "THTST" the field angle. After the positioning left the mover aligned,
// the field turns forward (see kTurn_s): half a turn to reach steady motion, then one turn
// measured: the counts between the two instants at which the field stands at the same angle one
// turn apart. In steady motion the mover is then at the same electrical angle too, whatever its
// lag, so "var_lf_long" ends as the encoder's counts over one pole pitch exactly (negative when
// the encoder counts against the motor; with a pole pitch that is no whole number of counts, one
// of the two whole numbers around it).
RoutineTask EncoderResolution(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double voltage = run.Input("RefTest");
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kVoltage);
  const int64_t start = d.encoder_counts();
  ShowSensors(run, start);
  co_await RampVoltage(run, voltage, 0.0, 0.0);
  co_await Periods{run.Periods(0.1)};
  const int64_t turn = run.Periods(kTurn_s);
  d.SetFrame(0.0, 1.0 / static_cast<double>(turn), 0.0);
  int64_t first = 0, counts = 0;
  for (int64_t n = 1; n <= kRunUp * turn + turn; ++n) {
    co_await Periods{1};
    ShowSensors(run, start);
    if (n == kRunUp * turn) first = d.encoder_counts();
  }
  counts = d.encoder_counts() - first;
  d.SetFrame(d.frame_angle_turns(), 0.0, 0.0);
  co_await Periods{run.Periods(0.05)};
  d.SetVar(Var::kVarLfLong, static_cast<double>(counts));
  run.Deliver("H123", d.hall_state());
  d.SwitchOff();
}

// --- Hall_Configuration_Detection_Test ---------------------------------------------------------
// "In1" (accepted), "RefTest" (voltage counts) and "RIncTest" (16.16 counts per period) in;
// "H123" and "delta_el_pos" out, "HALLCASE" (drive variable) out; "APOS" and "THTST" live.
// The field drags the mover forward (half a turn of run-up, one turn measured), then backward the
// same way. What the routine measures is the encoder: the counts over a turn N, the Hall edges
// (midway between the counts before and after each change) and the count at which the mover's
// magnetic axis lies on phase A: the mean over a turn of (count - N field angle) is that count
// minus N times the mean lag forward, plus it backward; the two mean lags are equal (the motor
// is symmetric about phase A), so the mean of both runs is it. The edges, as electrical angles,
// lie at multiples of 60 degrees minus the shift (taken within +-30 degrees: a larger one is
// another configuration); the states between them name the configuration. None matches (a
// dead sensor, a state 0 or 7): "HALLCASE" 0.
RoutineTask HallConfiguration(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double voltage = run.Input("RefTest");
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kVoltage);
  run.Deliver("H123", d.hall_state());
  co_await RampVoltage(run, voltage, run.Input("RIncTest") / 65536.0, 0.0);
  co_await Periods{run.Periods(0.1)};
  const int64_t turn = run.Periods(kTurn_s);
  const double step = 1.0 / static_cast<double>(turn);
  std::vector<HallEdge> edges[2];
  double mean_offset[2] = {0.0, 0.0};  // mean of count - N angle, each direction
  int64_t counts_per_turn = 0;
  double angle = 0.0;
  for (int direction = 0; direction < 2; ++direction) {
    const double increment = direction == 0 ? step : -step;
    d.SetFrame(angle, increment, 0.0);
    int64_t first = 0;
    double sum_counts = 0.0, sum_angles = 0.0;
    Sample last{d.encoder_counts(), d.hall_state()};
    for (int64_t n = 1; n <= turn / 2 + turn; ++n) {
      co_await Periods{1};
      angle += increment;
      const Sample now{d.encoder_counts(), d.hall_state()};
      run.Deliver("H123", now.hall);
      if (n == turn / 2) first = now.count;
      if (n > turn / 2) {
        sum_counts += static_cast<double>(now.count);
        sum_angles += angle;
        if (now.hall != last.hall)
          edges[direction].push_back(
              {0.5 * static_cast<double>(last.count + now.count), last.hall, now.hall});
      }
      last = now;
    }
    if (direction == 0) counts_per_turn = d.encoder_counts() - first;
    const double n_measured = static_cast<double>(turn);
    mean_offset[direction] =
        (sum_counts - static_cast<double>(counts_per_turn) * sum_angles) / n_measured;
  }
  d.SetFrame(d.frame_angle_turns(), 0.0, 0.0);
  const double zero = 0.5 * (mean_offset[0] + mean_offset[1]);
  const HallFinding found = FindHallConfiguration(edges[0], edges[1], zero, counts_per_turn);
  d.SetVar(Var::kHALLCASE, found.hall_case);
  run.Deliver("delta_el_pos", found.shift);
  run.Deliver("H123", d.hall_state());
  co_await Periods{run.Periods(0.02)};
  d.SwitchOff();
}

// --- Angle_Controller_Tuning_Test ---------------------------------------------------------------
// "In1" (the test current, counts), "ReferenceIncrement" (counts per slow-loop period) and
// "TimeLimit" (slow-loop periods) in; "test_flag" and "theta_1" out; "Motor_Current" and
// "Electric_Angle" recorded. The motionless start: once a slow-loop period, the firmware raises
// the current (the q reference of its current controller) by the increment up to In1, then holds
// it for TimeLimit periods, while its angle controller turns the field against the motion the
// encoder shows: with x the counts from the start and v those of the last period, the field
// angle (1/65536 of a turn) is -((v KPTHT << SFTKPTHT) + (x KITHT << SFTKITHT)) >> 5, i.e.
// 1024 (Kp v + Ki x) for the scaled gains. The force is Kf I sin(field - mover's axis): it
// vanishes with the current on the mover's magnetic axis, 90 degrees behind its q axis, where the
// controller holds it. "Electric_Angle" records the current's angle from the mover's q axis
// (-16384 there). The verdict: the mover never moved by more than a count (the current cannot
// beat its friction): -3; it moved by more than 10 electrical degrees (no motionless start), or
// the angle ends more than 1820 from -16384 or still swings by more over the last quarter of
// the hold: -2, "theta_1" the final angle; the current beyond 1.5 In1: -1; otherwise 1.
RoutineTask AngleController(RoutineRun& run) {
  DriveCore& d = run.drive();
  const double top = std::fabs(Int16(run.Input("In1")));
  const double increment = std::max(1.0, std::fabs(run.Input("ReferenceIncrement")));
  const int64_t hold = std::max<int64_t>(1, std::llround(run.Input("TimeLimit")));
  co_await Periods{run.Periods(kStartupDelay_s)};
  co_await StartPowered(run, Mode::kFirmwareCurrent);
  d.SetCurrentLimit(std::max(1.0, 1.5 * top));
  run.StartRecord();
  // A register as the controller takes it: a mantissa 0..32767, a shift 0..15.
  const auto reg = [&d](const char* name, double largest) {
    double value = 0.0;
    d.ReadRegister(name, value);
    return static_cast<int64_t>(std::clamp(std::trunc(value), 0.0, largest));
  };
  const auto wrap16 = [](double angle) { return std::remainder(angle, 65536.0); };
  const int64_t start = d.encoder_counts();
  int64_t previous = 0, moved = 0, held = 0;
  double current = 0.0, low = 0.0, high = 0.0, angle = 0.0;
  while (held < hold) {
    do {
      co_await Periods{1};
      if (d.limit_tripped()) {  // the firmware has switched off
        d.SetElectricAngleOverride(NAN);
        run.Deliver("theta_1", angle);
        run.Deliver("test_flag", -1.0);
        co_return;
      }
    } while (!d.slow_tick());
    const int64_t x = d.encoder_counts() - start, v = x - previous;
    previous = x;
    moved = std::max<int64_t>(moved, std::llabs(x));
    // The gains as the drive holds them (written during the run, they act at once).
    const int64_t proportional = v * reg("KPTHT", 32767.0) * (int64_t{1} << reg("SFTKPTHT", 15.0));
    const int64_t integral = x * reg("KITHT", 32767.0) * (int64_t{1} << reg("SFTKITHT", 15.0));
    const int64_t correction = (proportional + integral) / 32;
    const double field = wrap16(-static_cast<double>(correction));
    current = std::min(top, current + increment);
    if (current == top) ++held;
    d.SetFrame(field / 65536.0, 0.0, 0.0);
    d.SetCurrentReference(0.0, current);
    angle = std::trunc(wrap16(field - 65536.0 * d.mover_angle_turns() - 16384.0));
    d.SetElectricAngleOverride(angle);
    if (held == hold - hold / 4 || held == 0) low = high = angle;
    low = std::min(low, angle);
    high = std::max(high, angle);
  }
  double counts_to_angle = 0.0;  // "ENC2THL": 1/65536 of an angle count per encoder count
  d.ReadRegister("ENC2THL", counts_to_angle);
  const double travelled = static_cast<double>(moved) * counts_to_angle / 65536.0;
  double flag = 1.0;
  if (moved <= 1) {
    flag = -3.0;
  } else if (travelled > kAngleTolerance || std::fabs(angle - kAngleTarget) > kAngleTolerance ||
             high - low > kAngleTolerance) {
    flag = -2.0;
  }
  run.Deliver("theta_1", angle);
  run.Deliver("test_flag", flag);
  d.SwitchOff();
  d.SetElectricAngleOverride(NAN);
}

// Distance of x from the nearest whole number.
double FromWhole(double x) { return std::fabs(x - std::nearbyint(x)); }

}  // namespace

HallFinding FindHallConfiguration(const std::vector<HallEdge>& forward,
                                  const std::vector<HallEdge>& backward, double zero_count,
                                  int64_t counts_per_turn) {
  HallFinding none;
  if (counts_per_turn == 0 || forward.empty() || backward.empty()) return none;
  const double n = static_cast<double>(counts_per_turn);
  const auto angle = [&](const HallEdge& e) { return (e.position - zero_count) / n; };
  // The shift of each edge from the nearest multiple of a sixth of a turn, kept near the first.
  double shift_sum = 0.0, reference = 0.0;
  int shift_count = 0;
  for (const std::vector<HallEdge>* list : {&forward, &backward}) {
    double sum = 0.0;
    for (const HallEdge& e : *list) {
      const double a = angle(e);
      double s = std::nearbyint(6.0 * a) / 6.0 - a;
      if (shift_count == 0 && sum == 0.0 && list == &forward) reference = s;
      s -= std::nearbyint(6.0 * (s - reference)) / 6.0;
      sum += s;
    }
    shift_sum += sum / static_cast<double>(list->size());
    ++shift_count;
  }
  double shift = shift_sum / shift_count;
  shift -= std::nearbyint(6.0 * shift) / 6.0;  // within +-1/12 turn
  // The state of each sixth of a turn above an edge (sector j: from j/6 - shift on).
  int label[6] = {-1, -1, -1, -1, -1, -1};
  const auto note = [&label](int sector, int state) {
    int& slot = label[((sector % 6) + 6) % 6];
    if (slot >= 0 && slot != state) return false;
    slot = state;
    return true;
  };
  for (const std::vector<HallEdge>* list : {&forward, &backward}) {
    const bool up = list == &forward;
    for (const HallEdge& e : *list) {
      const int j = static_cast<int>(std::nearbyint(6.0 * (angle(e) + shift)));
      if (!note(j, up ? e.to : e.from) || !note(j - 1, up ? e.from : e.to)) return none;
    }
  }
  for (int j = 0; j < 6; ++j) {
    if (label[j] < 1 || label[j] > 6) return none;
  }
  for (int c = 2; c <= 13; ++c) {
    bool match = true;
    for (int j = 0; j < 6 && match; ++j) match = HallValue(c, (j + 0.5) / 6.0) == label[j];
    if (match) return {c, std::nearbyint(shift * 65536.0)};
  }
  return none;
}

Rotation ChooseRotation(double gain, double resistance, double test_current, double voltage_limit,
                        int64_t decimation) {
  const double inductance = gain > 0.0 ? 1.0 / gain : 1e9;  // omega L in counts = inductance theta
  const double r = std::max(0.0, resistance);
  const double available = 0.75 * voltage_limit;
  const auto impedance = [&](double theta) { return std::hypot(r, inductance * theta); };
  const double theta_max = kTwoPi / 6.0, theta_min = kTwoPi / 1000.0;
  double current = test_current;
  if (impedance(theta_max) * current > available)
    current = std::max(test_current / 4.0, available / impedance(theta_max));
  double theta = theta_max;
  if (impedance(theta) * current > available) {
    const double z = available / current;
    theta = z > r ? std::sqrt(z * z - r * r) / inductance : theta_min;
    theta = std::clamp(theta, theta_min, theta_max);
  }
  const int32_t wanted = static_cast<int32_t>(std::nearbyint(theta / kTwoPi * 65535.0));
  int32_t increment = std::max<int32_t>(1, wanted);
  for (int32_t candidate = wanted; candidate > wanted / 2 && candidate > 0; --candidate) {
    bool clear = true;
    for (int n : {1, 6, 12, 18, 24}) {
      const double turns = n * static_cast<double>(candidate) * static_cast<double>(decimation);
      clear = clear && FromWhole(turns / 65535.0) >= 0.03;
    }
    if (clear) {
      increment = candidate;
      break;
    }
  }
  const double final_theta = kTwoPi * increment / 65535.0;
  Rotation rotation;
  rotation.angle_increment = increment;
  rotation.current = current;
  rotation.amplitude = std::clamp(std::nearbyint(current * impedance(final_theta)), 1.0, available);
  return rotation;
}

const std::vector<RoutineDefinition>& Routines() {
  static const std::vector<RoutineDefinition> routines = [] {
    std::vector<RoutineDefinition> all = {
        {"Initial_Positioning_Test",
         {{"In1", kInt32Min, kInt32Max, 0.0}},
         {"STARTED", "In1"},
         {"REFTST_V", "RINCTST_V"},
         {},
         false,
         InitialPositioning},
        {"Motor_Phase_Connection_Test",
         {{"RefTest", -32767.0, 32767.0, 0.0},
          {"RIncTest", 0.0, kInt32Max, 0.0},
          {"In1", kInt32Min, kInt32Max, 0.0}},
         {"STARTED"},
         {"var_i1", "var_i2"},
         {},
         false,
         PhaseConnections},
        {"Ident_R_or_Rs",
         {{"RefTest", -32767.0, 32767.0, 0.0},
          {"RIncTest", 0.0, kInt32Max, 0.0},
          {"In1", 1.0, 32767.0, kRequired}},
         {"STARTED"},
         {"var_i1", "var_u2"},
         {"IQ"},
         true,
         Resistance},
        {"Ident_L_or_Tau_el",
         {{"In1", 1.0, 32767.0, kRequired}},
         {"STARTED"},
         {"var_i1", "TINCTST"},
         {"IQ", "ID"},
         true,
         Inductance},
        {"Current_Controller_Tuning_Test",
         {{"RefTest", -32767.0, 32767.0, 0.0},
          {"RIncTest", 0.0, kInt32Max, 0.0},
          {"In1", -32768.0, 32767.0, kRequired},
          {"Imax_Prot_Test", -32768.0, 32767.0, kRequired}},
         {"STARTED", "test_flag"},
         {},
         {"Current_Reference", "Motor_Current", "Voltage_Reference"},
         true,
         CurrentStep},
        {"VDC_Detection_Test", {}, {"STARTED"}, {"var_u2"}, {}, false, BusVoltage},
        {"Encoder_Connection_Test",
         {},
         {},
         {"APOS", "HALL", "CAPPOS", "var_i2"},
         {},
         false,
         EncoderConnection,
         "var_i2"},
        {"Encoder_Resolution_And_Direction_Test",
         {{"RefTest", -32767.0, 32767.0, kRequired}, {"PolesPairs", 1.0, 1.0, 1.0}},
         {"STARTED", "H123"},
         {"var_lf_long", "THTST", "CAPPOS"},
         {},
         false,
         EncoderResolution},
        {"Hall_Signals_Connection_Test",
         {},
         {"bad"},
         {"APOS", "HALL", "var_i2"},
         {},
         false,
         HallSignals,
         "var_i2"},
        {"Angle_Controller_Tuning_Test",
         {{"In1", -32768.0, 32767.0, kRequired},
          {"ReferenceIncrement", 0.0, kInt32Max, kRequired},
          {"TimeLimit", 0.0, kInt32Max, kRequired}},
         {"STARTED", "test_flag", "theta_1"},
         {},
         {"Motor_Current", "Electric_Angle"},
         true,
         AngleController},
        {"Hall_Configuration_Detection_Test",
         {{"In1", kInt32Min, kInt32Max, 0.0},
          {"RefTest", -32767.0, 32767.0, kRequired},
          {"RIncTest", 0.0, kInt32Max, 0.0}},
         {"STARTED", "H123", "delta_el_pos"},
         {"APOS", "THTST", "HALLCASE"},
         {},
         false,
         HallConfiguration},
        {"Analogue_Reference_Test", {}, {}, {"AD5"}, {}, false, AnalogueReference},
    };
    for (RoutineDefinition& motion : MotionRoutines()) all.push_back(std::move(motion));
    return all;
  }();
  return routines;
}

}  // namespace sim
