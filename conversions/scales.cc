#include "conversions/scales.h"

#include "conversions/calculator.h"
#include "conversions/periods.h"

extern "C" {
__attribute__((visibility("default"))) int g_bKufSinusoidalMode = 0;
}

namespace kestrel {

namespace {

// Each scale's formula, once: the plain scale and the checked one for calculators both use it.

// Motor travel per load travel; negative for a reversed transmission.
double TransmissionRatio(Inputs& in) { return in("Motor_transmission") / in("Load_transmission"); }

double Voltage(Inputs& in) {
  const double vdc = in("Vdc");
  return VoltageScaleAt(vdc, in("CommutationMethod"));
}
double Current(Inputs& in) { return CurrentScaleAt(in.setup(), in("ImaxPS")); }
double Vdc(Inputs& in) { return AdcFullScale(in.setup()) / in("VdcMaxMeasurable"); }
double MotorPosition(Inputs& in) { return 1.0 / in("EncRes"); }
double LoadPosition(Inputs& in) { return TransmissionRatio(in) * (1.0 / in("EncRes")); }
double MotorSpeed(Inputs& in) {
  const double ts = SlowPeriod(in);
  return ts * (1.0 / in("EncRes"));
}
double LoadSpeed(Inputs& in) {
  const double ts = SlowPeriod(in);
  return ts * (1.0 / in("EncRes")) * TransmissionRatio(in);
}
double LoadAcceleration(Inputs& in) {
  const double ts = SlowPeriod(in);
  return (1.0 / in("EncRes")) * ts * ts * TransmissionRatio(in);
}
double LoadJerk(Inputs& in) {
  const double ts = SlowPeriod(in);
  return (1.0 / in("EncRes")) * ts * ts * ts * TransmissionRatio(in);
}

}  // namespace

double AdcFullScale(CMC_Setup& setup) { return static_cast<double>(Compute_ADCMaxValue(&setup)); }

double CurrentScaleAt(CMC_Setup& setup, double imax_ps_A) {
  return AdcFullScale(setup) / (2.0 * imax_ps_A);
}

double VoltageScaleAt(double vdc_V, double commutation_method) {
  if (commutation_method == 0.0 && g_bKufSinusoidalMode == 0) return 32767.0 / vdc_V;
  return 65534.0 / (1.1 * vdc_V);
}

double StarResistance_Ohm(double r_Ohm, double connection_type) {
  return connection_type == 1.0 ? r_Ohm / 3.0 : r_Ohm;
}

double VoltageScale(CMC_Setup& setup) { return Compute(Voltage, setup); }
double VdcScale(CMC_Setup& setup) { return Compute(Vdc, setup); }
double CurrentScale(CMC_Setup& setup) { return Compute(Current, setup); }
double MotorPositionScale(CMC_Setup& setup) { return Compute(MotorPosition, setup); }
double LoadPositionScale(CMC_Setup& setup) { return Compute(LoadPosition, setup); }
double MotorSpeedScale(CMC_Setup& setup) { return Compute(MotorSpeed, setup); }
double LoadSpeedScale(CMC_Setup& setup) { return Compute(LoadSpeed, setup); }
double LoadAccelerationScale(CMC_Setup& setup) { return Compute(LoadAcceleration, setup); }
double LoadJerkScale(CMC_Setup& setup) { return Compute(LoadJerk, setup); }

bool VoltageScale(CMC_Setup& setup, double& scale) { return Compute(Voltage, setup, scale); }
bool VdcScale(CMC_Setup& setup, double& scale) { return Compute(Vdc, setup, scale); }
bool CurrentScale(CMC_Setup& setup, double& scale) { return Compute(Current, setup, scale); }
bool MotorPositionScale(CMC_Setup& setup, double& scale) {
  return Compute(MotorPosition, setup, scale);
}
bool LoadPositionScale(CMC_Setup& setup, double& scale) {
  return Compute(LoadPosition, setup, scale);
}
bool MotorSpeedScale(CMC_Setup& setup, double& scale) { return Compute(MotorSpeed, setup, scale); }
bool LoadSpeedScale(CMC_Setup& setup, double& scale) { return Compute(LoadSpeed, setup, scale); }
bool LoadAccelerationScale(CMC_Setup& setup, double& scale) {
  return Compute(LoadAcceleration, setup, scale);
}

}  // namespace kestrel
