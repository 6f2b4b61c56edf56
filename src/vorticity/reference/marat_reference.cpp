#include "vorticity/reference.hpp"

namespace qel {

namespace {

constexpr double kSixth = 1.0 / 6.0;

}  // namespace

// Finite-volume advection -(1/(rc rhoc)) div(A (flr, flz)) over the cells
// around the points: face fluxes from the mass fluxes averaged to the faces,
// with centred face values (-2 <= ORDER < 0) or third-order upwind-biased
// ones (-1, 5, 2)/6 (ORDER < -2) wherever the upstream stencil stays on the
// grid. Wall points own half cells and nothing crosses a wall, so the
// rc rhoc-weighted sum of A over the cells is conserved.
void marat_reference(State& s, Field& t, const Field& a) {
  const Basic& g = s.basic;
  const Field& flr = s.others.flr;
  const Field& flz = s.others.flz;
  auto& F = s.spare.marat.F;
  auto& U = s.spare.marat.U;
  auto& G = s.spare.marat.G;
  auto& W = s.spare.marat.W;
  constexpr int N = NR;
  constexpr int M = NC;

  // Face (i,j) of F and U lies between points (i,j) and (i+1,j); face (i,j)
  // of G and W between (i,j) and (i,j+1).
  for (int j = 1; j <= N; ++j) {
    for (int i = 1; i <= M; ++i) {
      U(i, j) = (flr(i, j) + flr(i + 1, j)) * 0.5;
      F(i, j) = (a(i + 1, j) + a(i, j)) * (flr(i, j) + flr(i + 1, j)) * 0.25;
    }
  }
  for (int j = 1; j <= M; ++j) {
    for (int i = 1; i <= N; ++i) {
      W(i, j) = (flz(i, j) + flz(i, j + 1)) * 0.5;
      G(i, j) = (a(i, j) + a(i, j + 1)) * (flz(i, j) + flz(i, j + 1)) * 0.25;
    }
  }

  if (s.par.ORDER < -2.0) {
    // Upstream-biased face values. Inflow through face 1 from the left and
    // through the last face from the right would need a point beyond the
    // wall: the centred value stays there (as it does for a NaN velocity).
    for (int j = 1; j <= N; ++j) {
      if (U(1, j) <= 0.0) F(1, j) = U(1, j) * kSixth * (2.0 * a(1, j) + (5.0 * a(2, j) - a(3, j)));
      for (int f = 2; f <= M; ++f) {
        if (U(f, j) >= 0.0)
          F(f, j) = U(f, j) * kSixth * ((5.0 * a(f, j) + 2.0 * a(f + 1, j)) - a(f - 1, j));
        else if (U(f, j) < 0.0 && f != M)
          F(f, j) = U(f, j) * kSixth * (2.0 * a(f, j) + (5.0 * a(f + 1, j) - a(f + 2, j)));
      }
    }
    for (int i = 1; i <= N; ++i)
      if (W(i, 1) <= 0.0) G(i, 1) = W(i, 1) * kSixth * (2.0 * a(i, 1) + (5.0 * a(i, 2) - a(i, 3)));
    for (int f = 2; f <= M; ++f) {
      for (int i = 1; i <= N; ++i) {
        if (W(i, f) >= 0.0)
          G(i, f) = W(i, f) * kSixth * ((5.0 * a(i, f) + 2.0 * a(i, f + 1)) - a(i, f - 1));
        else if (W(i, f) < 0.0 && f != M)
          G(i, f) = W(i, f) * kSixth * (2.0 * a(i, f) + (5.0 * a(i, f + 1) - a(i, f + 2)));
      }
    }
  }

  // Divergence along i: mr/2 is the reciprocal width of the cell around an
  // interior point, the full mr that of the half cell at a wall.
  for (int j = 1; j <= N; ++j) {
    const double rj = g.rhoc(j);
    t(1, j) = t(1, j) - F(1, j) * g.mr(1) / (g.rc(1) * rj);
    for (int i = 2; i <= N - 1; ++i)
      t(i, j) = t(i, j) + ((F(i - 1, j) - F(i, j)) * g.mr(i) * 0.5) / (g.rc(i) * rj);
    t(N, j) = t(N, j) + F(M, j) * g.mr(N) / (rj * g.rc(N));
  }

  // Divergence along j.
  for (int i = 1; i <= N; ++i) t(i, 1) = t(i, 1) - G(i, 1) * g.mz(1) / (g.rhoc(1) * g.rc(i));
  for (int j = 2; j <= N - 1; ++j) {
    const double mzj = g.mz(j);
    const double rj = g.rhoc(j);
    for (int i = 1; i <= N; ++i)
      t(i, j) = t(i, j) + ((G(i, j - 1) - G(i, j)) * mzj * 0.5) / (rj * g.rc(i));
  }
  for (int i = 1; i <= N; ++i) t(i, N) = t(i, N) + G(i, M) * g.mz(N) / (g.rc(i) * g.rhoc(N));
}

}  // namespace qel
