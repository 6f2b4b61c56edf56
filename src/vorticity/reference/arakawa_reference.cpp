#include "vorticity/reference.hpp"

namespace qel {

namespace {

// 1/48 in single precision.
constexpr double kOne48Single = 0.02083333395421505;

}  // namespace

// Arakawa's energy- and enstrophy-conserving Jacobian in flux form: the
// average of the three second-order Jacobians is a sum of fluxes along the
// eight links from a point to its neighbours. Each link flux is formed once
// and enters both of its end points with opposite signs:
//   FE  (i,j)-(i+1,j)    FN  (i,j)-(i,j+1)
//   FD1 (i,j)-(i+1,j+1)  FD2 (i,j)-(i+1,j-1)
// Wall points sum only the links that stay on the grid, over half cells
// (weight 2) and quarter cells at the corners (weight 4 on the axis links,
// 2 on the single diagonal link); psi is taken as 0 beyond the grid. On a
// uniform grid mr mz S/48 = S/(12 dr dz), and T gains
// (psi_z A_r - psi_r A_z)/(rc rhoc), which is -(u.grad)A.
void arakawa_reference(State& s, Field& t, const Field& a) {
  const Field& psi = s.fields.psi;
  const Basic& g = s.basic;
  Field& fe = s.spare.arakawa.fe;
  Field& fn = s.spare.arakawa.fn;
  Field& fd1 = s.spare.arakawa.fd1;
  Field& fd2 = s.spare.arakawa.fd2;
  constexpr int N = NR;

  // Links along i and the two diagonals, row by row.
  for (int i = 1; i <= N - 1; ++i) {
    fe(i, 1) = (-psi(i, 2) - psi(i + 1, 2)) * (a(i, 1) + a(i + 1, 1));
    fd1(i, 1) = (psi(i + 1, 1) - psi(i, 2)) * (a(i, 1) + a(i + 1, 2));
  }
  for (int j = 2; j <= N - 1; ++j) {
    for (int i = 1; i <= N - 1; ++i) {
      fe(i, j) = (psi(i, j - 1) + psi(i + 1, j - 1) - psi(i, j + 1) - psi(i + 1, j + 1)) *
                 (a(i, j) + a(i + 1, j));
      fd1(i, j) = (psi(i + 1, j) - psi(i, j + 1)) * (a(i, j) + a(i + 1, j + 1));
      fd2(i, j) = (psi(i + 1, j) - psi(i, j - 1)) * (a(i, j) + a(i + 1, j - 1));
    }
  }
  for (int i = 1; i <= N - 1; ++i) {
    fe(i, N) = (psi(i, N - 1) + psi(i + 1, N - 1)) * (a(i, N) + a(i + 1, N));
    fd2(i, N) = (psi(i + 1, N) - psi(i, N - 1)) * (a(i, N) + a(i + 1, N - 1));
  }

  // Links along j.
  for (int j = 1; j <= N - 1; ++j) {
    fn(1, j) = (psi(2, j) + psi(2, j + 1)) * (a(1, j) + a(1, j + 1));
    for (int i = 2; i <= N - 1; ++i)
      fn(i, j) = (psi(i + 1, j) + psi(i + 1, j + 1) - psi(i - 1, j) - psi(i - 1, j + 1)) *
                 (a(i, j) + a(i, j + 1));
    fn(N, j) = (-psi(N - 1, j) - psi(N - 1, j + 1)) * (a(N, j) + a(N, j + 1));
  }

  // T <- (T + mr mz S/48) / (rc rhoc), S the weighted link sum of the point.
  auto put = [&](int i, int j, double sum) {
    t(i, j) = (t(i, j) + g.mr(i) * g.mz(j) * sum * kOne48Single) / (g.rc(i) * g.rhoc(j));
  };

  // Interior points, then the edges, then the corners.
  for (int j = 2; j <= N - 1; ++j) {
    for (int i = 2; i <= N - 1; ++i) {
      const double sa = fe(i, j) - fe(i - 1, j) + fn(i, j) - fn(i, j - 1);
      const double sd = fd1(i, j) - fd1(i - 1, j - 1) + fd2(i - 1, j + 1) - fd2(i, j);
      put(i, j, -(sa + sd));
    }
  }

  for (int i = 2; i <= N - 1; ++i) {
    const double sa = fe(i, 1) - fe(i - 1, 1) + fn(i, 1);
    const double sd = fd1(i, 1) + fd2(i - 1, 2);
    put(i, 1, -2.0 * (sa + sd));
  }
  for (int i = 2; i <= N - 1; ++i) {
    const double sa = fe(i, N) - fe(i - 1, N) - fn(i, N - 1);
    const double sd = -fd1(i - 1, N - 1) - fd2(i, N);
    put(i, N, -2.0 * (sa + sd));
  }
  for (int j = 2; j <= N - 1; ++j) {
    const double sa = fe(1, j) + fn(1, j) - fn(1, j - 1);
    const double sd = fd1(1, j) - fd2(1, j);
    put(1, j, -2.0 * (sa + sd));
  }
  for (int j = 2; j <= N - 1; ++j) {
    const double sa = -fe(N - 1, j) + fn(N, j) - fn(N, j - 1);
    const double sd = -fd1(N - 1, j - 1) + fd2(N - 1, j + 1);
    put(N, j, -2.0 * (sa + sd));
  }

  put(1, 1, -(4.0 * (fe(1, 1) + fn(1, 1)) + 2.0 * fd1(1, 1)));
  put(N, 1, -(4.0 * (-fe(N - 1, 1) + fn(N, 1)) + 2.0 * fd2(N - 1, 2)));
  put(1, N, -(4.0 * (fe(1, N) - fn(1, N - 1)) + 2.0 * -fd2(1, N)));
  put(N, N, -(4.0 * (-fe(N - 1, N) - fn(N, N - 1)) + 2.0 * -fd1(N - 1, N - 1)));
}

}  // namespace qel
