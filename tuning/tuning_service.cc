#include "tuning/tuning_service.h"

#include "conversions/gains.h"
#include "tuning/tuning_formulas.h"

namespace kestrel {

namespace {
struct LoopRow {
  Loop loop;
  int (*formula)(CMC_Setup&);
  const char* gains[3];  // null-terminated when fewer
};

const LoopRow kLoops[] = {
    {Loop::kCurrent, &TuneCurrentController, {"Kp_C_scl", "Ki_C_scl", nullptr}},
    {Loop::kSpeed, &TuneSpeedController, {"Kp_S_scl", "Ki_S_scl", nullptr}},
    {Loop::kPosition, &TunePositionController, {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"}},
};
// Every register the gains are encoded into: a gain the drive cannot hold must not be written.
bool HasGainRegisters(CMC_Setup& setup, const LoopRow& row) {
  bool all = true;
  for (const char* gain : row.gains) {
    const GainPair* pair = gain == nullptr ? nullptr : FindGainPair(gain);
    if (pair == nullptr) continue;
    for (const char* name : {pair->mantissa, pair->shift, pair->high_shift}) {
      if (name != nullptr && setup.FindParameter(name) == nullptr) all = false;
    }
  }
  return all;
}

}  // namespace

int TuneAndEncode(CMC_Setup& setup, Loop loop) {
  for (const LoopRow& row : kLoops) {
    if (row.loop != loop) continue;
    if (!HasGainRegisters(setup, row) || row.formula(setup) == 0) return 0;
    for (const char* gain : row.gains) {
      if (gain != nullptr) EncodeGain(setup, gain);
    }
    for (const char* gain : row.gains) {
      if (gain != nullptr) DeriveGain(setup, gain);
    }
    return 1;
  }
  return 0;
}

}  // namespace kestrel
