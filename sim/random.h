// The simulated drive's noise source: xoshiro256** seeded through splitmix64, with Gaussian
// samples by Marsaglia's polar method. Written out here rather than taken from <random> so that a
// seed gives the same noise with every standard library, and quickly.
//
// The fast loop draws its sensor noise from a table of 8192 Gaussian samples made from the seed
// (scaled to mean 0 and variance 1 exactly) at random places: a few cycles per sample instead of
// a logarithm and a square root.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

class Random {
 public:
  explicit Random(uint64_t seed);

  uint64_t Next() {
    const uint64_t result = RotateLeft(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = RotateLeft(s_[3], 45);
    return result;
  }
  // Uniform in [0, 1), 53 bits.
  double Uniform();
  // Standard normal.
  double Gaussian();
  // Standard normal from the table.
  double TableGaussian() { return table_[Next() >> (64 - kTableBits)]; }

 private:
  static constexpr uint64_t RotateLeft(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  static constexpr int kTableBits = 13;
  uint64_t s_[4];
  std::vector<double> table_;
  double spare_ = 0.0;
  bool has_spare_ = false;
};

}  // namespace sim
