#include "sim/random.h"

#include <cmath>

namespace sim {

namespace {

uint64_t SplitMix64(uint64_t& x) {
  uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

Random::Random(uint64_t seed) {
  for (uint64_t& word : s_) word = SplitMix64(seed);
  table_.resize(size_t{1} << kTableBits);
  double sum = 0.0, squares = 0.0;
  for (double& v : table_) {
    v = Gaussian();
    sum += v;
  }
  const double mean = sum / static_cast<double>(table_.size());
  for (double& v : table_) {
    v -= mean;
    squares += v * v;
  }
  const double scale = 1.0 / std::sqrt(squares / static_cast<double>(table_.size()));
  for (double& v : table_) v *= scale;
}

double Random::Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

double Random::Gaussian() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  double u = 0.0, v = 0.0, s = 0.0;
  do {
    u = 2.0 * Uniform() - 1.0;
    v = 2.0 * Uniform() - 1.0;
    s = u * u + v * v;
  } while (s >= 1.0 || s == 0.0);
  const double scale = std::sqrt(-2.0 * std::log(s) / s);
  spare_ = v * scale;
  has_spare_ = true;
  return u * scale;
}

}  // namespace sim
