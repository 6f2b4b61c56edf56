#include "vorticity/stencils.hpp"
#include "vorticity/vorticity.hpp"

namespace qel {

namespace {

using namespace stencil;

// Face values along one line of points a[0..NR-1] (stride S apart) with the
// mass fluxes fl on the same points: face k lies between points k and k+1.
template <int S>
inline void face_values(const double* __restrict a, const double* __restrict fl,
                        double* __restrict out, bool upwind) {
  constexpr int M = NC;
  if (!upwind) {
    for (int k = 0; k < M; ++k) out[k] = face_centred(a + k * S, fl + k * S, S);
    return;
  }
  out[0] = face_upwind<Face::First>(a, fl, S);
  for (int k = 1; k < M - 1; ++k) out[k] = face_upwind<Face::Interior>(a + k * S, fl + k * S, S);
  out[M - 1] = face_upwind<Face::Last>(a + (M - 1) * S, fl + (M - 1) * S, S);
}

// The faces between rows j and j+1 (kind K) for every column i at once.
template <Face K>
inline void row_faces(const double* __restrict a0, const double* __restrict f0,
                      double* __restrict out) {
  for (int i = 0; i < NR; ++i) out[i] = face_upwind<K>(a0 + i, f0 + i, NR);
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
    tr[0] = face_divergence_first(tr[0], fr[0], mr[0], rc[0] * rj);
    for (int k = 1; k < N - 1; ++k) tr[k] = face_divergence(tr[k], fr[k - 1], fr[k], mr[k], rc[k] * rj);
    tr[N - 1] = face_divergence_last(tr[N - 1], fr[M - 1], mr[N - 1], rj * rc[N - 1]);

    // The j-faces between rows j and j+1, each column at once.
    if (j <= M) {
      double* __restrict gr = &G(1, j);
      const double* __restrict a0 = &a(1, j);
      const double* __restrict f0 = &flz(1, j);
      if (!upwind) {
        for (int i = 0; i < N; ++i) gr[i] = face_centred(a0 + i, f0 + i, N);
      } else if (j == 1) {
        row_faces<Face::First>(a0, f0, gr);
      } else if (j == M) {
        row_faces<Face::Last>(a0, f0, gr);
      } else {
        row_faces<Face::Interior>(a0, f0, gr);
      }
    }

    // Along j.
    if (j == 1) {
      const double* __restrict g1 = &G(1, 1);
      const double c = g.mz(1);
      const double r1 = g.rhoc(1);
      for (int i = 0; i < N; ++i) tr[i] = face_divergence_first(tr[i], g1[i], c, r1 * rc[i]);
    } else if (j < N) {
      const double* __restrict gm = &G(1, j - 1);
      const double* __restrict gp = &G(1, j);
      const double mzj = g.mz(j);
      for (int i = 0; i < N; ++i) tr[i] = face_divergence(tr[i], gm[i], gp[i], mzj, rj * rc[i]);
    } else {
      const double* __restrict gm = &G(1, M);
      const double c = g.mz(N);
      const double rn = g.rhoc(N);
      for (int i = 0; i < N; ++i) tr[i] = face_divergence_last(tr[i], gm[i], c, rc[i] * rn);
    }
  }
}

}  // namespace qel
