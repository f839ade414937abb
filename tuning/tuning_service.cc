#include "tuning/tuning_service.h"

#include <initializer_list>

#include "conversions/gains.h"
#include "tuning/tuning_formulas.h"

namespace kestrel {

namespace {
struct LoopRow {
  Loop loop;
  int (*formula)(CMC_Setup&);
  std::initializer_list<const char*> gains;
};

const LoopRow kLoops[] = {
    {Loop::kCurrent, &TuneCurrentController, {"Kp_C_scl", "Ki_C_scl"}},
    {Loop::kSpeed, &TuneSpeedController, {"Kp_S_scl", "Ki_S_scl"}},
    {Loop::kPosition, &TunePositionController, {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"}},
};
}  // namespace

int TuneAndEncode(CMC_Setup& setup, Loop loop) {
  for (const LoopRow& row : kLoops) {
    if (row.loop != loop) continue;
    if (row.formula(setup) == 0) return 0;
    for (const char* gain : row.gains) EncodeGain(setup, gain);
    for (const char* gain : row.gains) DeriveGain(setup, gain);
    return 1;
  }
  return 0;
}

}  // namespace kestrel
