#include "sim/small_matrix.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sim {

Matrix Matrix::Identity(int n) {
  Matrix m(n, n);
  for (int i = 0; i < n; ++i) m(i, i) = 1.0;
  return m;
}

Matrix Matrix::operator*(const Matrix& b) const {
  Matrix c(rows_, b.cols_);
  for (int i = 0; i < rows_; ++i) {
    for (int k = 0; k < cols_; ++k) {
      const double aik = (*this)(i, k);
      for (int j = 0; j < b.cols_; ++j) c(i, j) += aik * b(k, j);
    }
  }
  return c;
}

Matrix Matrix::operator+(const Matrix& b) const {
  Matrix c(rows_, cols_);
  for (size_t i = 0; i < a_.size(); ++i) c.a_[i] = a_[i] + b.a_[i];
  return c;
}

Matrix Matrix::operator*(double k) const {
  Matrix c(rows_, cols_);
  for (size_t i = 0; i < a_.size(); ++i) c.a_[i] = a_[i] * k;
  return c;
}

Matrix Matrix::Transposed() const {
  Matrix t(cols_, rows_);
  for (int i = 0; i < rows_; ++i) {
    for (int j = 0; j < cols_; ++j) t(j, i) = (*this)(i, j);
  }
  return t;
}

bool Invert(const Matrix& m, Matrix& inverse) {
  const int n = m.rows();
  Matrix a = m;
  inverse = Matrix::Identity(n);
  double largest = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) largest = std::max(largest, std::fabs(a(i, j)));
  }
  if (!(largest > 0.0) || !std::isfinite(largest)) return false;
  for (int c = 0; c < n; ++c) {
    int pivot = c;
    for (int r = c + 1; r < n; ++r) {
      if (std::fabs(a(r, c)) > std::fabs(a(pivot, c))) pivot = r;
    }
    if (std::fabs(a(pivot, c)) <= 1e-300 * largest) return false;
    for (int j = 0; j < n; ++j) {
      std::swap(a(c, j), a(pivot, j));
      std::swap(inverse(c, j), inverse(pivot, j));
    }
    const double p = a(c, c);
    for (int j = 0; j < n; ++j) {
      a(c, j) /= p;
      inverse(c, j) /= p;
    }
    for (int r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = a(r, c);
      if (f == 0.0) continue;
      for (int j = 0; j < n; ++j) {
        a(r, j) -= f * a(c, j);
        inverse(r, j) -= f * inverse(c, j);
      }
    }
  }
  return true;
}

Matrix Exp(const Matrix& a) {
  const int n = a.rows();
  double norm = 0.0;  // the largest row sum
  for (int i = 0; i < n; ++i) {
    double row = 0.0;
    for (int j = 0; j < n; ++j) row += std::fabs(a(i, j));
    norm = std::max(norm, row);
  }
  if (!std::isfinite(norm)) return a * std::numeric_limits<double>::quiet_NaN();
  int squarings = 0;
  if (norm > 0.5) squarings = std::min(1000, static_cast<int>(std::ceil(std::log2(norm / 0.5))));
  const Matrix scaled = a * std::ldexp(1.0, -squarings);
  Matrix sum = Matrix::Identity(n);
  Matrix term = Matrix::Identity(n);
  for (int k = 1; k <= 18; ++k) {
    term = (term * scaled) * (1.0 / k);
    sum = sum + term;
  }
  for (int s = 0; s < squarings; ++s) sum = sum * sum;
  return sum;
}

}  // namespace sim
