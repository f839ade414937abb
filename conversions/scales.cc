#include "conversions/scales.h"

#include "conversions/periods.h"

extern "C" {
__attribute__((visibility("default"))) int g_bKufSinusoidalMode = 0;
}

namespace kestrel {

namespace {
double Get(CMC_Setup& setup, const char* name) { return setup.GetParameterValueInBaseUnit(name); }

// Motor travel per load travel; negative for a reversed transmission.
double TransmissionRatio(CMC_Setup& setup) {
  return Get(setup, "Motor_transmission") / Get(setup, "Load_transmission");
}
}  // namespace

double AdcFullScale(CMC_Setup& setup) { return static_cast<double>(Compute_ADCMaxValue(&setup)); }

double VoltageScale(CMC_Setup& setup) {
  const double vdc = Get(setup, "Vdc");
  if (Get(setup, "CommutationMethod") == 0.0 && g_bKufSinusoidalMode == 0) return 32767.0 / vdc;
  return 65534.0 / (1.1 * vdc);
}

double VdcScale(CMC_Setup& setup) { return AdcFullScale(setup) / Get(setup, "VdcMaxMeasurable"); }

double CurrentScale(CMC_Setup& setup) { return AdcFullScale(setup) / (2.0 * Get(setup, "ImaxPS")); }

double MotorPositionScale(CMC_Setup& setup) { return 1.0 / Get(setup, "EncRes"); }

double LoadPositionScale(CMC_Setup& setup) {
  return TransmissionRatio(setup) * (1.0 / Get(setup, "EncRes"));
}

double MotorSpeedScale(CMC_Setup& setup) { return Ts_S(setup) * (1.0 / Get(setup, "EncRes")); }

double LoadSpeedScale(CMC_Setup& setup) {
  return Ts_S(setup) * (1.0 / Get(setup, "EncRes")) * TransmissionRatio(setup);
}

double LoadAccelerationScale(CMC_Setup& setup) {
  const double ts = Ts_S(setup);
  return (1.0 / Get(setup, "EncRes")) * ts * ts * TransmissionRatio(setup);
}

double LoadJerkScale(CMC_Setup& setup) {
  const double ts = Ts_S(setup);
  return (1.0 / Get(setup, "EncRes")) * ts * ts * ts * TransmissionRatio(setup);
}

}  // namespace kestrel
