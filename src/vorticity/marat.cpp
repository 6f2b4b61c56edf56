#include "vorticity/vorticity.hpp"

namespace qel {

namespace {

constexpr double kSixth = 1.0 / 6.0;

// Face values along one line of points a[0..NR-1] (stride S apart) with the
// mass fluxes fl on the same points: face k lies between points k and k+1.
// The centred value is (a_k + a_k+1)(fl_k + fl_k+1)/4. The upwind-biased
// ones (-1, 5, 2)/6 times the face velocity (fl_k + fl_k+1)/2 replace it
// wherever the upstream stencil stays on the line: inflow through the first
// face from the left and through the last face from the right keeps the
// centred value, and so does a NaN velocity. Every face value is formed and
// the right one selected, so the loop has no branches.
template <int S>
inline void face_values(const double* __restrict a, const double* __restrict fl,
                        double* __restrict out, bool upwind) {
  constexpr int M = NC;
  if (!upwind) {
    for (int k = 0; k < M; ++k) out[k] = (a[(k + 1) * S] + a[k * S]) * (fl[k * S] + fl[(k + 1) * S]) * 0.25;
    return;
  }
  // First face: only flow towards the wall (u <= 0) is upstream-biased.
  {
    const double u = (fl[0] + fl[S]) * 0.5;
    const double c = (a[S] + a[0]) * (fl[0] + fl[S]) * 0.25;
    const double m = u * kSixth * (2.0 * a[0] + (5.0 * a[S] - a[2 * S]));
    out[0] = u <= 0.0 ? m : c;
  }
  for (int k = 1; k < M - 1; ++k) {
    const double sum = fl[k * S] + fl[(k + 1) * S];
    const double u = sum * 0.5;
    const double c = (a[(k + 1) * S] + a[k * S]) * sum * 0.25;
    const double p = u * kSixth * ((5.0 * a[k * S] + 2.0 * a[(k + 1) * S]) - a[(k - 1) * S]);
    const double m = u * kSixth * (2.0 * a[k * S] + (5.0 * a[(k + 1) * S] - a[(k + 2) * S]));
    out[k] = u >= 0.0 ? p : (u < 0.0 ? m : c);
  }
  // Last face: only flow towards the wall (u >= 0).
  {
    constexpr int k = M - 1;
    const double u = (fl[k * S] + fl[(k + 1) * S]) * 0.5;
    const double c = (a[(k + 1) * S] + a[k * S]) * (fl[k * S] + fl[(k + 1) * S]) * 0.25;
    const double p = u * kSixth * ((5.0 * a[k * S] + 2.0 * a[(k + 1) * S]) - a[(k - 1) * S]);
    out[k] = u >= 0.0 ? p : c;
  }
}

}  // namespace

// Finite-volume advection -(1/(rc rhoc)) div(A (flr, flz)) over the cells
// around the points: face fluxes from the mass fluxes averaged to the faces,
// with centred face values (-2 <= ORDER < 0) or third-order upwind-biased
// ones (-1, 5, 2)/6 (ORDER < -2) wherever the upstream stencil stays on the
// grid. Wall points own half cells and nothing crosses a wall, so the
// rc rhoc-weighted sum of A over the cells is conserved.
//
// Row by row: the i-faces of row j and their divergence, then the j-faces
// between rows j and j+1 and the divergence along j of row j, so every
// point takes its i-term before its j-term. The j-face values of a whole
// row are formed at once, i innermost.
void marat(State& s, Field& t, const Field& a) {
  const Basic& g = s.basic;
  const Field& flr = s.others.flr;
  const Field& flz = s.others.flz;
  auto& F = s.spare.marat.F;
  auto& G = s.spare.marat.G;
  constexpr int N = NR;
  constexpr int M = NC;
  const bool upwind = s.par.ORDER < -2.0;
  const double* __restrict mr = g.mr.data();
  const double* __restrict rc = g.rc.data();

  for (int j = 1; j <= N; ++j) {
    // Along i: mr/2 is the reciprocal width of the cell around an interior
    // point, the full mr that of the half cell at a wall.
    face_values<1>(&a(1, j), &flr(1, j), &F(1, j), upwind);
    const double rj = g.rhoc(j);
    const double* __restrict fr = &F(1, j);
    double* __restrict tr = &t(1, j);
    tr[0] = tr[0] - fr[0] * mr[0] / (rc[0] * rj);
    for (int k = 1; k < N - 1; ++k) tr[k] = tr[k] + ((fr[k - 1] - fr[k]) * mr[k] * 0.5) / (rc[k] * rj);
    tr[N - 1] = tr[N - 1] + fr[M - 1] * mr[N - 1] / (rj * rc[N - 1]);

    // The j-faces between rows j and j+1, each column at once.
    if (j <= M) {
      double* __restrict gr = &G(1, j);
      const double* __restrict a0 = &a(1, j);
      const double* __restrict f0 = &flz(1, j);
      const double* __restrict a1 = a0 + N;
      const double* __restrict f1 = f0 + N;
      if (!upwind) {
        for (int i = 0; i < N; ++i) gr[i] = (a0[i] + a1[i]) * (f0[i] + f1[i]) * 0.25;
      } else if (j == 1) {
        const double* __restrict a2 = a1 + N;
        for (int i = 0; i < N; ++i) {
          const double u = (f0[i] + f1[i]) * 0.5;
          const double c = (a0[i] + a1[i]) * (f0[i] + f1[i]) * 0.25;
          const double m = u * kSixth * (2.0 * a0[i] + (5.0 * a1[i] - a2[i]));
          gr[i] = u <= 0.0 ? m : c;
        }
      } else if (j == M) {
        const double* __restrict am = a0 - N;
        for (int i = 0; i < N; ++i) {
          const double u = (f0[i] + f1[i]) * 0.5;
          const double c = (a0[i] + a1[i]) * (f0[i] + f1[i]) * 0.25;
          const double p = u * kSixth * ((5.0 * a0[i] + 2.0 * a1[i]) - am[i]);
          gr[i] = u >= 0.0 ? p : c;
        }
      } else {
        const double* __restrict am = a0 - N;
        const double* __restrict a2 = a1 + N;
        for (int i = 0; i < N; ++i) {
          const double u = (f0[i] + f1[i]) * 0.5;
          const double c = (a0[i] + a1[i]) * (f0[i] + f1[i]) * 0.25;
          const double p = u * kSixth * ((5.0 * a0[i] + 2.0 * a1[i]) - am[i]);
          const double m = u * kSixth * (2.0 * a0[i] + (5.0 * a1[i] - a2[i]));
          gr[i] = u >= 0.0 ? p : (u < 0.0 ? m : c);
        }
      }
    }

    // Along j.
    if (j == 1) {
      const double* __restrict g1 = &G(1, 1);
      const double c = g.mz(1);
      const double r1 = g.rhoc(1);
      for (int i = 0; i < N; ++i) tr[i] = tr[i] - g1[i] * c / (r1 * rc[i]);
    } else if (j < N) {
      const double* __restrict gm = &G(1, j - 1);
      const double* __restrict gp = &G(1, j);
      const double mzj = g.mz(j);
      for (int i = 0; i < N; ++i) tr[i] = tr[i] + ((gm[i] - gp[i]) * mzj * 0.5) / (rj * rc[i]);
    } else {
      const double* __restrict gm = &G(1, M);
      const double c = g.mz(N);
      const double rn = g.rhoc(N);
      for (int i = 0; i < N; ++i) tr[i] = tr[i] + gm[i] * c / (rc[i] * rn);
    }
  }
}

}  // namespace qel
