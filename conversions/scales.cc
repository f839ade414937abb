#include "conversions/scales.h"

#include "conversions/calculator.h"
#include "conversions/periods.h"

extern "C" {
__attribute__((visibility("default"))) int g_bKufSinusoidalMode = 0;
}

namespace kestrel {

namespace {

// Motor travel per load travel; negative for a reversed transmission.
double TransmissionRatio(Inputs& in) { return in("Motor_transmission") / in("Load_transmission"); }

double Current(Inputs& in) { return CurrentScaleAt(in.setup(), in("ImaxPS")); }
double Vdc(Inputs& in) { return AdcFullScale(in.setup()) / in("VdcMaxMeasurable"); }
double LoadPosition(Inputs& in) { return TransmissionRatio(in) * (1.0 / in("EncRes")); }
double LoadSpeed(Inputs& in) {
  const double ts = SlowPeriod(in);
  return ts * (1.0 / in("EncRes")) * TransmissionRatio(in);
}

double Unchecked(double (*scale)(Inputs&), CMC_Setup& setup) {
  Inputs in(setup);
  return scale(in);
}
bool Checked(double (*scale)(Inputs&), CMC_Setup& setup, double& out) {
  Inputs in(setup);
  out = scale(in);
  return in.complete();
}

double Get(CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

}  // namespace

double AdcFullScale(CMC_Setup& setup) { return static_cast<double>(Compute_ADCMaxValue(&setup)); }

double CurrentScaleAt(CMC_Setup& setup, double imax_ps_A) {
  return AdcFullScale(setup) / (2.0 * imax_ps_A);
}

double VoltageScaleAt(double vdc_V, double commutation_method) {
  if (commutation_method == 0.0 && g_bKufSinusoidalMode == 0) return 32767.0 / vdc_V;
  return 65534.0 / (1.1 * vdc_V);
}

double VoltageScale(CMC_Setup& setup) {
  const double vdc = Get(setup, "Vdc");
  return VoltageScaleAt(vdc, Get(setup, "CommutationMethod"));
}

double VdcScale(CMC_Setup& setup) { return Unchecked(Vdc, setup); }
double CurrentScale(CMC_Setup& setup) { return Unchecked(Current, setup); }
double MotorPositionScale(CMC_Setup& setup) { return 1.0 / Get(setup, "EncRes"); }
double LoadPositionScale(CMC_Setup& setup) { return Unchecked(LoadPosition, setup); }
double MotorSpeedScale(CMC_Setup& setup) { return Ts_S(setup) * (1.0 / Get(setup, "EncRes")); }
double LoadSpeedScale(CMC_Setup& setup) { return Unchecked(LoadSpeed, setup); }

double LoadAccelerationScale(CMC_Setup& setup) {
  Inputs in(setup);
  const double ts = SlowPeriod(in);
  return (1.0 / in("EncRes")) * ts * ts * TransmissionRatio(in);
}

double LoadJerkScale(CMC_Setup& setup) {
  Inputs in(setup);
  const double ts = SlowPeriod(in);
  return (1.0 / in("EncRes")) * ts * ts * ts * TransmissionRatio(in);
}

bool CurrentScale(CMC_Setup& setup, double& scale) { return Checked(Current, setup, scale); }
bool VdcScale(CMC_Setup& setup, double& scale) { return Checked(Vdc, setup, scale); }
bool LoadPositionScale(CMC_Setup& setup, double& scale) {
  return Checked(LoadPosition, setup, scale);
}
bool LoadSpeedScale(CMC_Setup& setup, double& scale) { return Checked(LoadSpeed, setup, scale); }

}  // namespace kestrel
