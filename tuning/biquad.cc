#include "tuning/biquad.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <string_view>

#include "conversions/calculator.h"

namespace kestrel {

namespace {

constexpr double kOne = 2147483648.0;  // 2^31: the fixed-point value of 1.0 at scale 1
constexpr double kInt32Min = -2147483648.0;
constexpr double kInt32Max = 2147483647.0;

// A biquad as two polynomials in z^-1, before the denominator is normalised to a leading 1.
struct Polynomials {
  double n0, n1, n2;
  double d0, d1, d2;
};

// Second-order section with the usual resonant denominator; K = tan(pi f).
Polynomials Resonant(double k, double q, double n0, double n1, double n2) {
  return {n0, n1, n2, 1.0 + k / q + k * k, 2.0 * (k * k - 1.0), 1.0 - k / q + k * k};
}

// Peak and shelves are designed as the boost; a cut is the boost's inverse.
Polynomials BoostOrCut(const Polynomials& boost, double gain_dB) {
  if (gain_dB >= 0.0) return boost;
  return {boost.d0, boost.d1, boost.d2, boost.n0, boost.n1, boost.n2};
}

Polynomials Peak(double k, double q, double v) {
  return Resonant(k, q, 1.0 + v * k / q + k * k, 2.0 * (k * k - 1.0), 1.0 - v * k / q + k * k);
}

Polynomials LowShelf(double k, double v) {
  const double r2 = std::sqrt(2.0);
  const double r2v = std::sqrt(2.0 * v);
  return {1.0 + r2v * k + v * k * k, 2.0 * (v * k * k - 1.0), 1.0 - r2v * k + v * k * k,
          1.0 + r2 * k + k * k,      2.0 * (k * k - 1.0),     1.0 - r2 * k + k * k};
}

Polynomials HighShelf(double k, double v) {
  const double r2 = std::sqrt(2.0);
  const double r2v = std::sqrt(2.0 * v);
  return {v + r2v * k + k * k,  2.0 * (k * k - v),   v - r2v * k + k * k,
          1.0 + r2 * k + k * k, 2.0 * (k * k - 1.0), 1.0 - r2 * k + k * k};
}

// Lead at K1 (a zero), lag at K2 (a pole), unity gain at zero frequency; the second order is two
// equal first-order sections in series.
Polynomials LeadLag(double k1, double k2, bool second_order) {
  const double r = k2 / k1;
  if (!second_order) return {(k1 + 1.0) * r, (k1 - 1.0) * r, 0.0, k2 + 1.0, k2 - 1.0, 0.0};
  const double c0 = (k1 + 1.0) * r;
  const double c1 = (k1 - 1.0) * r;
  return {c0 * c0,
          2.0 * r * r * (k1 * k1 - 1.0),
          c1 * c1,
          (k2 + 1.0) * (k2 + 1.0),
          2.0 * (k2 * k2 - 1.0),
          (k2 - 1.0) * (k2 - 1.0)};
}

Polynomials Prototype(int type, double k, double p, double gain_dB) {
  const double v = std::pow(10.0, std::fabs(gain_dB) / 20.0);
  const double k2 = k * k;
  switch (type) {
    case kLowPass1:
      return {k, k, 0.0, k + 1.0, k - 1.0, 0.0};
    case kLowPass2:
      return Resonant(k, p, k2, 2.0 * k2, k2);
    case kNotch:
      return Resonant(k, p, 1.0 + k2, 2.0 * (k2 - 1.0), 1.0 + k2);
    case kHighPass:
      return Resonant(k, p, 1.0, -2.0, 1.0);
    case kBandPass:
      return Resonant(k, p, k / p, 0.0, -k / p);
    case kPeak:
      return BoostOrCut(Peak(k, p, v), gain_dB);
    case kLowShelf:
      return BoostOrCut(LowShelf(k, v), gain_dB);
    case kHighShelf:
      return BoostOrCut(HighShelf(k, v), gain_dB);
    case kLeadLag1:
    case kLeadLag2:
      return LeadLag(k, std::tan(std::numbers::pi * p), type == kLeadLag2);
    default:
      return {};
  }
}

bool AllFinite(const BiquadDesigner& d) {
  return std::isfinite(d.b0) && std::isfinite(d.b1) && std::isfinite(d.b2) && std::isfinite(d.a1) &&
         std::isfinite(d.a2) && std::isfinite(d.scale);
}

double QuantiseOne(double c, double scale) { return std::floor(c / scale * kOne + 0.5); }

bool FitsInt32(double value) { return value >= kInt32Min && value <= kInt32Max; }

// Looks the name up (reporting a missing one) and tells whether it was found.
bool Lookup(CMC_Setup& setup, const char* name, CMC_Parameter*& out) {
  out = setup.FindParameter(name);
  return out != nullptr;
}

// One filter as the user describes it.
struct FilterParameters {
  CMC_Parameter *on, *type, *location, *f1, *f2, *q;
};

// The registers of one slot.
struct SlotRegisters {
  CMC_Parameter *b0, *b1, *b2, *a1, *a2, *sf;
};

// Names of filter n's description ("BQFilter%d", "BQFilterType%d", "BQFilterLocation%d",
// "BQFilterF1%d", "BQFilterF2%d", "BQFilterQ%d") and of slot k's registers ("BQ%dB0" .. "BQ%dSF"),
// spelled out: they are looked up on every encoding pass.
constexpr const char* kFilterNames[3][6] = {
    {"BQFilter1", "BQFilterType1", "BQFilterLocation1", "BQFilterF11", "BQFilterF21", "BQFilterQ1"},
    {"BQFilter2", "BQFilterType2", "BQFilterLocation2", "BQFilterF12", "BQFilterF22", "BQFilterQ2"},
    {"BQFilter3", "BQFilterType3", "BQFilterLocation3", "BQFilterF13", "BQFilterF23", "BQFilterQ3"},
};
constexpr const char* kSlotRegisterNames[3][6] = {
    {"BQ1B0", "BQ1B1", "BQ1B2", "BQ1A1", "BQ1A2", "BQ1SF"},
    {"BQ2B0", "BQ2B1", "BQ2B2", "BQ2A1", "BQ2A2", "BQ2SF"},
    {"BQ3B0", "BQ3B1", "BQ3B2", "BQ3A1", "BQ3A2", "BQ3SF"},
};
constexpr const char* kCounterNames[] = {"SPDREF_BQ_INI", "IQREF_BQ_INI", "ASPD_BQ_INI"};

// n and k count from 1.
bool LookupFilter(CMC_Setup& setup, int n, FilterParameters& f) {
  CMC_Parameter** out[] = {&f.on, &f.type, &f.location, &f.f1, &f.f2, &f.q};
  bool all = true;
  for (int i = 0; i < 6; ++i) all = Lookup(setup, kFilterNames[n - 1][i], *out[i]) && all;
  return all;
}

bool LookupSlot(CMC_Setup& setup, int k, SlotRegisters& s) {
  CMC_Parameter** out[] = {&s.b0, &s.b1, &s.b2, &s.a1, &s.a2, &s.sf};
  bool all = true;
  for (int i = 0; i < 6; ++i) all = Lookup(setup, kSlotRegisterNames[k - 1][i], *out[i]) && all;
  return all;
}

void WriteSlot(const SlotRegisters& slot, const BiquadDesigner& d) {
  slot.b0->SetValueInBaseUnit(d.b0);
  slot.b1->SetValueInBaseUnit(d.b1);
  slot.b2->SetValueInBaseUnit(d.b2);
  slot.a1->SetValueInBaseUnit(d.a1);
  slot.a2->SetValueInBaseUnit(d.a2);
  slot.sf->SetValueInBaseUnit(d.scale);
}

void ClearSlot(const SlotRegisters& slot) {
  for (CMC_Parameter* p : {slot.b0, slot.b1, slot.b2, slot.a1, slot.a2, slot.sf}) {
    p->SetValueInBaseUnit(0.0);
  }
}

bool IsKnownType(int type) { return type >= kLowPass1 && type <= kLeadLag2; }

void DesignIntoSlot(const FilterParameters& filter, double ts_s, const SlotRegisters& slot) {
  const int type = Trunc(V(filter.type));
  const bool lead_lag = type == kLeadLag1 || type == kLeadLag2;
  const double p = lead_lag ? V(filter.f2) * ts_s : V(filter.q);
  BiquadDesigner designer;
  designer.Design(type, V(filter.f1) * ts_s, p, 0.0);
  designer.Quantise();
  if (HasUnityDcGain(type, 0.0)) ForceUnityDcGain(designer);
  WriteSlot(slot, designer);
}

}  // namespace

std::vector<BiquadTypeRow> OfferedBiquadTypes() {
  std::vector<BiquadTypeRow> offered;
  for (const BiquadTypeRow& row : kBiquadTypes) {
    if (row.offered) offered.push_back(row);
  }
  return offered;
}

bool BiquadDesigner::Design(int type, double f, double p, double gain_dB) {
  if (!IsKnownType(type)) return false;
  const Polynomials poly = Prototype(type, std::tan(std::numbers::pi * f), p, gain_dB);
  b0 = poly.n0 / poly.d0;
  b1 = poly.n1 / poly.d0;
  b2 = poly.n2 / poly.d0;
  a1 = poly.d1 / poly.d0;
  a2 = poly.d2 / poly.d0;
  return true;
}

void BiquadDesigner::Quantise() {
  scale = 1.0;
  if (!AllFinite(*this)) {
    b0 = 1.0;
    b1 = b2 = a1 = a2 = 0.0;
  }
  const double m =
      std::max({std::fabs(b0), std::fabs(b1), std::fabs(b2), std::fabs(a1), std::fabs(a2)});
  // s = ceil(log2 m) for m > 1, taken from the exponent so that powers of two are exact; a
  // largest coefficient of exactly 1.0 gets s = 1 as well, and anything smaller s = 0.
  int s = 0;
  if (m == 1.0) {
    s = 1;
  } else if (m > 1.0) {
    const double fraction = std::frexp(m, &s);
    if (fraction == 0.5) --s;  // m is 2^(s-1) itself
  }
  // +2^s itself, or a coefficient within half a count below it, would quantise to 2^31, one past
  // the signed 32-bit range (-2^s still fits): one more shift clears it.
  const auto fits = [&](int shift) {
    const double sc = std::ldexp(1.0, shift);
    for (double c : {b0, b1, b2, a1, a2}) {
      if (!FitsInt32(QuantiseOne(c, sc))) return false;
    }
    return true;
  };
  if (!fits(s)) ++s;
  const double sc = std::ldexp(1.0, s);
  if (!std::isfinite(sc)) {
    // Coefficients near the top of the double range: no design the drive could run.
    b0 = kOne / 2.0;
    b1 = b2 = a1 = a2 = 0.0;
    scale = 2.0;
    return;
  }
  scale = sc;
  b0 = QuantiseOne(b0, scale);
  b1 = QuantiseOne(b1, scale);
  b2 = QuantiseOne(b2, scale);
  a1 = QuantiseOne(a1, scale);
  a2 = QuantiseOne(a2, scale);
}

bool HasUnityDcGain(int type, double gain_dB) {
  switch (type) {
    case kLowPass1:
    case kLowPass2:
    case kNotch:
    case kPeak:
    case kHighShelf:
    case kLeadLag1:
    case kLeadLag2:
      return true;
    case kLowShelf:
      return gain_dB == 0.0;
    default:
      return false;
  }
}

bool ForceUnityDcGain(BiquadDesigner& d) {
  if (!AllFinite(d)) return false;
  // At z = 1 the gain is (B0 + B1 + B2) / (1 + A1 + A2); one is 2^31 / scale in fixed point.
  const double sum = d.b0 + d.b1 + d.b2 - d.a1 - d.a2;
  if (axis::TruncToInt64(sum * d.scale) == axis::TruncToInt64(kOne)) return false;
  const double b0 = std::floor(kOne / d.scale - d.b1 - d.b2 + d.a1 + d.a2 + 0.5);
  if (!FitsInt32(b0) || b0 == d.b0) return false;
  d.b0 = b0;
  return true;
}

int EncodeBiquadFilters(CMC_Setup& setup) {
  CMC_Parameter* ts;
  CMC_Parameter* counters[3];
  bool all = FindAll(setup, {{"Ts_S", &ts},
                             {kCounterNames[0], &counters[0]},
                             {kCounterNames[1], &counters[1]},
                             {kCounterNames[2], &counters[2]}});
  FilterParameters filters[3];
  SlotRegisters slots[3];
  for (int i = 0; i < 3; ++i) {
    all = LookupFilter(setup, i + 1, filters[i]) && all;
    all = LookupSlot(setup, i + 1, slots[i]) && all;
  }
  if (!all) return 0;

  const double ts_s = V(ts);
  int slot = 0;
  int count[3] = {0, 0, 0};
  for (int location = kPositionControllerOutput; location <= kSpeedFeedback; ++location) {
    for (const FilterParameters& filter : filters) {
      if (V(filter.on) == 0.0 || Trunc(V(filter.location)) != location) continue;
      if (!IsKnownType(Trunc(V(filter.type)))) continue;
      DesignIntoSlot(filter, ts_s, slots[slot]);
      ++count[location];
      ++slot;
    }
  }
  for (; slot < 3; ++slot) ClearSlot(slots[slot]);
  for (int location = 0; location < 3; ++location) {
    counters[location]->SetValueInBaseUnit(count[location]);
  }
  return 1;
}

int WriteBiquadsToDrive(CMC_Setup& setup) {
  std::vector<const char*> names(std::begin(kCounterNames), std::end(kCounterNames));
  for (const auto& slot : kSlotRegisterNames)
    names.insert(names.end(), std::begin(slot), std::end(slot));
  for (const char* name : names) {
    CMC_Parameter* p = FindOptional(setup, name);
    if (p != nullptr && p->WriteToChip() == 0) return 0;
  }
  return 1;
}

}  // namespace kestrel
