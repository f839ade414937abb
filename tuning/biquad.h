// Second-order digital filters (biquads) of the control loops.
//
// Drives that have "IQREF_BQ_INI" run up to three biquads, each at one of three places in the loop.
// The user describes each filter by type, place, frequency and quality factor (or a lag frequency);
// this module designs the coefficients with the bilinear transform at the slow-loop period, scales
// them into signed 32-bit fixed point, assigns the active filters to the three slots grouped by
// place, and writes how many slots each place uses.
//
// A slot k computes (B0 + B1 z^-1 + B2 z^-2) / (1 + A1 z^-1 + A2 z^-2) on fixed-point coefficients
// "BQkB0" ... "BQkA2" (value x 2^31 / scale) and multiplies the result by "BQkSF" (the scale).
//
// Whole-setup passes: EncodeBiquadFilters is step 31 of ComputeRegistersFromParameters, run only
// when "IQREF_BQ_INI" exists. Nothing here belongs to ComputeParametersFromRegisters (the maxima of
// the filter frequencies are set by ComputeParameterLimits). WriteBiquadsToDrive is called by the
// speed and position tuning tests when the filters dialog closes with OK during a run.
#pragma once

#include <array>
#include <vector>

#include "host/setup.h"

namespace kestrel {

// Filter types, as stored in "BQFilterType%d".
enum BiquadType : int {
  kLowPass1 = 0,
  kLowPass2 = 1,
  kNotch = 2,
  kHighPass = 3,
  kBandPass = 4,
  kPeak = 5,
  kLowShelf = 6,
  kHighShelf = 7,
  kLeadLag1 = 8,
  kLeadLag2 = 9,
};

struct BiquadTypeRow {
  int index;
  const char* name;
  bool offered;  // shown in the filters dialog
};

inline constexpr std::array<BiquadTypeRow, 10> kBiquadTypes = {{
    {kLowPass1, "Low Pass 1st order", true},
    {kLowPass2, "Low Pass 2nd order", true},
    {kNotch, "Notch", true},
    {kHighPass, "High Pass", true},
    {kBandPass, "Band Pass", true},
    {kPeak, "Peak", false},
    {kLowShelf, "Low Shelf", false},
    {kHighShelf, "High Shelf", false},
    {kLeadLag1, "Lead-lag 1st order", true},
    {kLeadLag2, "Lead-lag 2nd order", true},
}};

// The types the user may choose, in index order (the items of the filters dialog's type boxes).
std::vector<BiquadTypeRow> OfferedBiquadTypes();

// Places in the loop, as stored in "BQFilterLocation%d"; slots are used in this order.
enum BiquadLocation : int {
  kPositionControllerOutput = 0,  // speed reference, counted in "SPDREF_BQ_INI"
  kSpeedControllerOutput = 1,     // current reference, counted in "IQREF_BQ_INI"
  kSpeedFeedback = 2,             // counted in "ASPD_BQ_INI"
};

// Designs one biquad and scales it into fixed point.
struct BiquadDesigner {
  double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
  double scale = 1.0;

  // f: frequency x sampling period (0 .. 0.5); p: quality factor, or for the lead-lag types the lag
  // frequency x sampling period; gain_dB: used by peak and shelves. Returns false, and leaves the
  // coefficients as they were, for a type outside 0-9.
  bool Design(int type, double f, double p, double gain_dB);

  // Chooses scale = 2^s with s = ceil(log2 m) for the largest magnitude m > 1 (1 for m = 1, else
  // 0), one more where a positive coefficient would round to 2^31 (outside the signed 32-bit
  // range), and replaces each coefficient c by round(c / scale x 2^31) (halves up). A design with a
  // coefficient that is not finite is replaced by the pass-through filter first: the drive must
  // never receive garbage coefficients in a running loop.
  void Quantise();
};

// True when the type passes zero frequency with gain one at the given gain: every type but high
// pass and band pass, and the low shelf only at 0 dB (it lifts or cuts the low band).
bool HasUnityDcGain(int type, double gain_dB);

// After Quantise: moves B0 by the rounding error so that the fixed-point DC gain is exactly one
// (B0 + B1 + B2 - A1 - A2 = 2^31 / scale). Left alone when the corrected B0 would not fit in 32
// bits or a coefficient is not finite. Returns true when B0 was changed.
bool ForceUnityDcGain(BiquadDesigner& designer);

// Designs every filter that is on into the slots, grouped by location, clears the unused slots and
// writes the three slot counts. 0, nothing changed, when a parameter is missing. A filter that is
// on but has an unknown location or type is left out.
int EncodeBiquadFilters(CMC_Setup& setup);

// Writes the three slot counts and then the six registers of slots 1-3 to the drive, each only when
// the setup has it. Stops at the first failed write and returns 0; 1 when all were written.
int WriteBiquadsToDrive(CMC_Setup& setup);

}  // namespace kestrel
