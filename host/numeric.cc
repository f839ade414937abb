#include "host/numeric.h"

#include <bit>
#include <cmath>
#include <limits>

namespace axis {

int64_t TruncToInt64(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exactly representable; every double below it in magnitude fits after truncation.
  constexpr double kLimit = 9223372036854775808.0;
  if (value >= kLimit) return std::numeric_limits<int64_t>::max();
  if (value <= -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

int TruncToInt(double value) {
  const int64_t v = TruncToInt64(value);
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

uint32_t TruncToWord(double value) {
  return static_cast<uint32_t>(static_cast<uint64_t>(TruncToInt64(value)) & 0xFFFFFFFFu);
}

double RoundToIntegral(double value) {
  if (!std::isfinite(value)) return value;
  return std::round(value);
}

}  // namespace axis

int TG_Round(double value) { return axis::TruncToInt(axis::RoundToIntegral(value)); }

double TG_FRound(double value) { return axis::RoundToIntegral(value); }

double RoundDecimalValue(double value, int decimals) {
  if (!std::isfinite(value)) return value;
  const double scale = std::pow(10.0, decimals);
  const double scaled = value * scale;
  if (!std::isfinite(scaled)) return value;  // too large to carry decimals anyway
  return std::round(scaled) / scale;
}

namespace axis {

bool SameDouble(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

}  // namespace axis
