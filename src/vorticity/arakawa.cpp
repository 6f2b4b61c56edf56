#include "vorticity/stencils.hpp"
#include "vorticity/vorticity.hpp"

namespace qel {

using namespace stencil;

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
//
// The links are formed row by row, i innermost, and the interior points of
// a row summed as soon as the links of the row above exist; the edges and
// corners follow. The formulas are those of vorticity/stencils.hpp.
void arakawa(State& s, Field& t, const Field& a) {
  const Field& psi = s.fields.psi;
  const Basic& g = s.basic;
  Field& fe = s.spare.arakawa.fe;
  Field& fn = s.spare.arakawa.fn;
  Field& fd1 = s.spare.arakawa.fd1;
  Field& fd2 = s.spare.arakawa.fd2;
  constexpr int N = NR;

  const double* __restrict mr = g.mr.data();
  const double* __restrict rc = g.rc.data();

  // The links of row j, i = 1..90 (at [0..89]): along i and the diagonals
  // towards j+1 and j-1 (those that stay on the grid), and along j towards
  // j+1 for i = 1..91. Beyond the bottom and top psi is 0.
  auto links = [&](int j) {
    const double* __restrict p0 = &psi(1, j);
    const double* __restrict a0 = &a(1, j);
    double* __restrict e = &fe(1, j);
    if (j == 1) {
      const double* __restrict p1 = p0 + N;
      const double* __restrict a1 = a0 + N;
      double* __restrict d1 = &fd1(1, j);
      for (int i = 0; i < N - 1; ++i) {
        e[i] = link_e_bottom(p1[i], p1[i + 1], a0[i], a0[i + 1]);
        d1[i] = link_d(p0[i + 1], p1[i], a0[i], a1[i + 1]);
      }
    } else if (j < N) {
      const double* __restrict pm = p0 - N;
      const double* __restrict p1 = p0 + N;
      const double* __restrict am = a0 - N;
      const double* __restrict a1 = a0 + N;
      double* __restrict d1 = &fd1(1, j);
      double* __restrict d2 = &fd2(1, j);
      for (int i = 0; i < N - 1; ++i) {
        e[i] = link_e(pm[i], pm[i + 1], p1[i], p1[i + 1], a0[i], a0[i + 1]);
        d1[i] = link_d(p0[i + 1], p1[i], a0[i], a1[i + 1]);
        d2[i] = link_d(p0[i + 1], pm[i], a0[i], am[i + 1]);
      }
    } else {
      const double* __restrict pm = p0 - N;
      const double* __restrict am = a0 - N;
      double* __restrict d2 = &fd2(1, j);
      for (int i = 0; i < N - 1; ++i) {
        e[i] = link_e_top(pm[i], pm[i + 1], a0[i], a0[i + 1]);
        d2[i] = link_d(p0[i + 1], pm[i], a0[i], am[i + 1]);
      }
    }
    if (j < N) {
      const double* __restrict p1 = p0 + N;
      const double* __restrict a1 = a0 + N;
      double* __restrict n = &fn(1, j);
      n[0] = link_n_axis(p0[1], p1[1], a0[0], a1[0]);
      for (int i = 1; i < N - 1; ++i)
        n[i] = link_n(p0[i + 1], p1[i + 1], p0[i - 1], p1[i - 1], a0[i], a1[i]);
      n[N - 1] = link_n_outer(p0[N - 2], p1[N - 2], a0[N - 1], a1[N - 1]);
    }
  };

  // The interior points of row j, once the links of row j+1 exist.
  auto interior_row = [&](int j) {
    const double* __restrict e = &fe(1, j);
    const double* __restrict n = &fn(1, j);
    const double* __restrict nm = &fn(1, j - 1);
    const double* __restrict d1 = &fd1(1, j);
    const double* __restrict d1m = &fd1(1, j - 1);
    const double* __restrict d2 = &fd2(1, j);
    const double* __restrict d2p = &fd2(1, j + 1);
    double* __restrict tr = &t(1, j);
    const double mzj = g.mz(j);
    const double rj = g.rhoc(j);
    for (int i = 1; i < N - 1; ++i) {
      const double sum = arakawa_interior_sum(e[i], e[i - 1], n[i], nm[i], d1[i], d1m[i - 1], d2p[i - 1], d2[i]);
      tr[i] = arakawa_put(tr[i], mr[i], mzj, sum, rc[i], rj);
    }
  };

  links(1);
  for (int j = 2; j <= N; ++j) {
    links(j);
    if (j >= 3) interior_row(j - 1);
  }

  arakawa_walls(g, t, fe, fn, fd1, fd2);
}

}  // namespace qel
