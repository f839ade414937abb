#include "sim/winding.h"

#include <cmath>
#include <vector>

#include "sim/small_matrix.h"

namespace sim {

namespace {

// Branch j's voltage as seen from the terminals: +1 at its from-terminal, -1 at its to-terminal.
int Incidence(Connection connection, int branch, int terminal) {
  if (static_cast<int>(Winding::From(connection, branch)) == terminal) return 1;
  if (static_cast<int>(Winding::To(connection, branch)) == terminal) return -1;
  return 0;
}

// A basis of the branch currents that the floating nodes let through (columns).
Matrix CurrentBasis(Connection connection, Terminal open) {
  // The node law of each floating node as a row over the three branches.
  std::vector<std::array<double, 3>> laws;
  if (connection == Connection::kStar) laws.push_back({1.0, 1.0, 1.0});  // the neutral
  if (open != Terminal::kNone) {
    std::array<double, 3> law{};
    for (int j = 0; j < 3; ++j) law[j] = Incidence(connection, j, static_cast<int>(open));
    laws.push_back(law);
  }
  // Null space of the laws by elimination on a 3-column matrix.
  std::array<std::array<double, 3>, 2> rows{};
  int rank = 0;
  std::array<int, 3> pivot_of_row{-1, -1, -1};
  std::array<bool, 3> is_pivot{false, false, false};
  for (const auto& law : laws) {
    std::array<double, 3> r = law;
    for (int k = 0; k < rank; ++k) {
      const double f = r[pivot_of_row[k]];
      for (int j = 0; j < 3; ++j) r[j] -= f * rows[k][j];
    }
    int p = -1;
    for (int j = 0; j < 3; ++j) {
      if (r[j] != 0.0 && !is_pivot[j]) {
        p = j;
        break;
      }
    }
    if (p < 0) continue;  // dependent law
    const double scale = r[p];
    for (double& v : r) v /= scale;
    for (int k = 0; k < rank; ++k) {
      const double f = rows[k][p];
      for (int j = 0; j < 3; ++j) rows[k][j] -= f * r[j];
    }
    rows[rank] = r;
    pivot_of_row[rank] = p;
    is_pivot[p] = true;
    ++rank;
  }
  Matrix basis(3, 3 - rank);
  int column = 0;
  for (int free = 0; free < 3; ++free) {
    if (is_pivot[free]) continue;
    basis(free, column) = 1.0;
    for (int k = 0; k < rank; ++k) basis(pivot_of_row[k], column) = -rows[k][free];
    ++column;
  }
  return basis;
}

}  // namespace

Terminal Winding::From(Connection connection, int branch) {
  (void)connection;
  return static_cast<Terminal>(branch);  // star: A, B, C to N; delta: A-B, B-C, C-A
}

Terminal Winding::To(Connection connection, int branch) {
  if (connection == Connection::kStar) return Terminal::kNone;
  return static_cast<Terminal>((branch + 1) % 3);
}

Winding::Winding(const WindingParams& params) : params_(params) {
  const auto& resistance = params.resistance_Ohm;
  const auto& inductance = params.inductance_H;
  balanced_ = params.open_terminal == Terminal::kNone && resistance[0] == resistance[1] &&
              resistance[1] == resistance[2] && inductance[0] == inductance[1] &&
              inductance[1] == inductance[2];
  if (balanced_) {
    // A delta's line currents see a third of a branch's R and L (see above).
    const double share = params.connection == Connection::kDelta ? 1.0 / 3.0 : 1.0;
    const double r_line = resistance[0] * share, l_line = inductance[0] * share;
    const double periods = r_line * params.period_s / l_line;  // the period in time constants
    line_decay_ = std::exp(-periods);
    line_gain_ = periods > 0.0 ? -std::expm1(-periods) / r_line : params.period_s / l_line;
  }
  const Matrix basis = CurrentBasis(params.connection, params.open_terminal);  // B, 3 x m
  const int m = basis.cols();
  if (m == 0) return;  // nothing can flow
  Matrix l(3, 3), r(3, 3), drive(3, 6);
  for (int j = 0; j < 3; ++j) {
    l(j, j) = params.inductance_H[j];
    r(j, j) = params.resistance_Ohm[j];
    for (int t = 0; t < 3; ++t) {
      if (t != static_cast<int>(params.open_terminal))
        drive(j, t) = Incidence(params.connection, j, t);
    }
    drive(j, 3 + j) = -1.0;
  }
  const Matrix bt = basis.Transposed();
  Matrix m_inverse(m, m);
  if (!Invert(bt * l * basis, m_inverse)) return;
  const Matrix a = (m_inverse * (bt * r * basis)) * -1.0;
  const Matrix g = m_inverse * (bt * drive);
  // exp([[A, G], [0, 0]] T) = [[Phi, Gamma], [0, I]]
  Matrix block(m + 6, m + 6);
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < m; ++j) block(i, j) = a(i, j) * params.period_s;
    for (int j = 0; j < 6; ++j) block(i, m + j) = g(i, j) * params.period_s;
  }
  const Matrix e = Exp(block);
  Matrix phi(m, m), gamma(m, 6);
  for (int i = 0; i < m; ++i) {
    for (int j = 0; j < m; ++j) phi(i, j) = e(i, j);
    for (int j = 0; j < 6; ++j) gamma(i, j) = e(i, m + j);
  }
  // Back to branch currents: i = B x, x = (B'B)^-1 B' i.
  Matrix gram_inverse(m, m);
  if (!Invert(bt * basis, gram_inverse)) return;
  const Matrix to_x = gram_inverse * bt;
  const Matrix branch_phi = basis * phi * to_x;
  const Matrix branch_gamma = basis * gamma;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) phi_[i][j] = branch_phi(i, j);
    for (int j = 0; j < 6; ++j) gamma_[i][j] = branch_gamma(i, j);
  }
}

std::array<std::array<double, 3>, 3> Winding::LinePoleResponse() const {
  std::array<std::array<double, 3>, 3> r{};
  for (int t = 0; t < 3; ++t) {
    if (balanced_) {  // the pole voltage less the mean of the three (see StepLines)
      for (int x = 0; x < 3; ++x) r[x][t] = line_gain_ * ((x == t ? 1.0 : 0.0) - 1.0 / 3.0);
      continue;
    }
    WindingState column;
    for (int j = 0; j < 3; ++j) column.branch_current_A[j] = gamma_[j][t];
    const std::array<double, 3> line = LineCurrents(column);
    for (int x = 0; x < 3; ++x) r[x][t] = line[x];
  }
  return r;
}

std::array<std::array<double, 3>, 3> Winding::PoleResponse() const {
  std::array<std::array<double, 3>, 3> r{};
  for (int j = 0; j < 3; ++j) {
    for (int t = 0; t < 3; ++t) r[j][t] = gamma_[j][t];
  }
  return r;
}

}  // namespace sim
