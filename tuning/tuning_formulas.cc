#include "tuning/tuning_formulas.h"

#include <cmath>
#include <initializer_list>

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "conversions/scales.h"

namespace kestrel {

namespace {

bool AllFinite(std::initializer_list<double> values) {
  for (double v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// Loop period of the speed and position controllers: the fast loop when the drive runs them there.
// False (the missing register reported) when a register behind it is missing.
bool SpeedLoopPeriod(CMC_Setup& setup, double pos_spd_in_fast_loop, double& period) {
  return pos_spd_in_fast_loop == 0.0 ? Ts_S(setup, period) : Ts_C(setup, period);
}

// Gains of the position loop, in the order Kp, Ki, Kd.
struct PositionGains {
  double kp;
  double ki;
  double kd;
};

}  // namespace

int TuneCurrentController(CMC_Setup& setup) {
  CMC_Parameter *connection, *inductance, *resistance, *kp, *ki, *pass_band, *damping;
  if (!FindAll(setup, {{"MotorPhaseConnectionType", &connection},
                       {"L", &inductance},
                       {"R", &resistance},
                       {"Kp_C_scl", &kp},
                       {"Ki_C_scl", &ki},
                       {"PB_C", &pass_band},
                       {"Dump_C", &damping}})) {
    return 0;
  }
  // The sampling period and the scales are checked like the names above: a missing register or
  // rating must not turn into gains of 0 over the tuned ones.
  double ts_s, k_u, k_i;
  if (!Ts_C(setup, ts_s) || !VoltageScale(setup, k_u) || !CurrentScale(setup, k_i)) return 0;
  const double r_ohm = V(resistance);
  const double tau_s = V(inductance) / r_ohm;
  const double model_r_ohm = StarResistance_Ohm(r_ohm, V(connection));
  const double omega = V(pass_band);
  const double zeta = V(damping);
  const double k = model_r_ohm * k_u / k_i;

  double kp_value;
  double ki_value;
  if (tau_s > 4.0 * ts_s) {
    // Both closed-loop poles at omega with damping zeta.
    kp_value = (2.0 * zeta * omega * tau_s - 1.0) * k;
    ki_value = omega * omega * tau_s * ts_s * k;
  } else {
    // Electrical time constant short against the sampling period: Kp from tau alone, omega as the
    // integral corner.
    kp_value = (tau_s * 0.5 / std::sqrt(2.0) / ts_s - 1.0) * k;
    ki_value = omega * ts_s * k;
  }
  if (!AllFinite({kp_value, ki_value})) return 0;
  kp->SetValueInBaseUnit(kp_value);
  ki->SetValueInBaseUnit(ki_value);
  return 1;
}

int TuneSpeedController(CMC_Setup& setup) {
  CMC_Parameter *ki, *kp, *mass, *force_constant, *pass_band, *damping;
  const bool found = FindAll(setup, {{"Ki_S_scl", &ki},
                                     {"Kp_S_scl", &kp},
                                     {"Mt", &mass},
                                     {"Kf", &force_constant},
                                     {"PB_S", &pass_band},
                                     {"Dump_S", &damping}});
  // Older firmware lacks the switch; such a setup is not speed-tuned, and the user is not told.
  const CMC_Parameter* fast_loop = FindOptional(setup, "PosSpd_in_FastLoop");
  if (!found || fast_loop == nullptr) return 0;
  double ts_s, k_i, k_v;
  if (!SpeedLoopPeriod(setup, V(fast_loop), ts_s) || !CurrentScale(setup, k_i) ||
      !MotorSpeedScale(setup, k_v)) {
    return 0;
  }

  // The plant m dv/dt = Kf i with speed counted per slow-loop period and current in counts: the
  // mass is the total moving mass itself (force in N from Kf in N/A).
  const double m = V(mass);
  const double omega = V(pass_band);
  const double zeta = V(damping);
  const double plant = m * k_i / k_v / V(force_constant);

  const double ki_value = omega * omega * ts_s * plant;
  const double kp_value = 2.0 * omega * zeta * plant;
  if (!AllFinite({ki_value, kp_value})) return 0;
  ki->SetValueInBaseUnit(ki_value);
  kp->SetValueInBaseUnit(kp_value);
  return 1;
}

int TunePositionController(CMC_Setup& setup) {
  CMC_Parameter *ki, *kp, *kd, *control_type, *pass_band, *damping;
  if (!FindAll(setup, {{"Ki_P_scl", &ki},
                       {"Kp_P_scl", &kp},
                       {"Kd_P_scl", &kd},
                       {"PositionControlType", &control_type},
                       {"PB_P", &pass_band},
                       {"Dump_P", &damping}})) {
    return 0;
  }
  const CMC_Parameter* fast_loop = FindOptional(setup, "PosSpd_in_FastLoop");
  double ts_s, k_p;
  if (!SpeedLoopPeriod(setup, fast_loop == nullptr ? 0.0 : V(fast_loop), ts_s) ||
      !MotorPositionScale(setup, k_p)) {
    return 0;
  }
  const double omega = V(pass_band);
  const double zeta = V(damping);

  PositionGains gains;
  if (V(control_type) == 1.0) {
    // Cascade: the position loop commands the speed loop, which is taken as ideal.
    double k_v;
    if (!MotorSpeedScale(setup, k_v)) return 0;
    const double counts = k_v / k_p;
    gains = {2.0 * omega * zeta * counts, omega * omega * ts_s * counts, 0.0};
  } else {
    // PID straight onto the current reference: poles at (s + w)(s^2 + 2 zeta w s + w^2).
    CMC_Parameter *mass, *force_constant;
    double k_i;
    if (!FindAll(setup, {{"Mt", &mass}, {"Kf", &force_constant}}) || !CurrentScale(setup, k_i)) {
      return 0;
    }
    const double m = V(mass);
    const double g = m * k_i / k_p / V(force_constant);
    gains = {(2.0 * zeta + 1.0) * omega * omega * g, omega * omega * omega * ts_s * g,
             (2.0 * zeta + 1.0) * omega * g / ts_s};
  }
  if (!AllFinite({gains.kp, gains.ki, gains.kd})) return 0;
  ki->SetValueInBaseUnit(gains.ki);
  kp->SetValueInBaseUnit(gains.kp);
  kd->SetValueInBaseUnit(gains.kd);
  return 1;
}

}  // namespace kestrel
