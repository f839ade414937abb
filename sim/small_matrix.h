// Small dense matrices for setting up the simulated motor's discrete-time model (a few times per
// run, never in the fast loop): products, an inverse and the matrix exponential.
#pragma once

#include <cstddef>
#include <vector>

namespace sim {

class Matrix {
 public:
  Matrix(int rows, int cols)
      : rows_(rows), cols_(cols), a_(static_cast<std::size_t>(rows * cols)) {}
  static Matrix Identity(int n);

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  double& operator()(int r, int c) { return a_[static_cast<std::size_t>(r * cols_ + c)]; }
  double operator()(int r, int c) const { return a_[static_cast<std::size_t>(r * cols_ + c)]; }

  Matrix operator*(const Matrix& b) const;
  Matrix operator+(const Matrix& b) const;
  Matrix operator*(double k) const;
  Matrix Transposed() const;

 private:
  int rows_, cols_;
  std::vector<double> a_;
};

// Inverse of a square matrix by Gauss-Jordan elimination with partial pivoting; false when it is
// singular (a pivot below 1e-300 relative to the largest entry).
bool Invert(const Matrix& m, Matrix& inverse);

// e^A by scaling and squaring with a Taylor series: A is scaled by 2^-s until its norm is below
// 1/2, the series is summed to 18 terms (error far below a double's resolution), and the result
// squared s times.
Matrix Exp(const Matrix& a);

}  // namespace sim
