// The formulas of the vorticity core's advection schemes, each written once:
// the link fluxes, point sums, edges and corners of Arakawa's Jacobian, and
// the face values and divergences of the flux form. arakawa and marat
// arrange their loops for speed around these.
#pragma once

#include <cstddef>

#include "model/state.hpp"

namespace qel::stencil {

// ---- Arakawa's Jacobian in flux form ----
// A link flux is the difference of psi across the link times the sum of A
// at its two ends; psi is 0 beyond the bottom, the top and the side walls.

// 1/48 in single precision.
inline constexpr double kOne48Single = 0.02083333395421505;

// FE (i,j)-(i+1,j): psi below (m0, m1) less psi above (p0, p1), the two
// columns i, i+1; on the bottom nothing below, on the top nothing above.
inline double link_e(double m0, double m1, double p0, double p1, double a0, double a1) {
  return (m0 + m1 - p0 - p1) * (a0 + a1);
}
inline double link_e_bottom(double p0, double p1, double a0, double a1) {
  return (-p0 - p1) * (a0 + a1);
}
inline double link_e_top(double m0, double m1, double a0, double a1) {
  return (m0 + m1) * (a0 + a1);
}

// FN (i,j)-(i,j+1): psi outside (e0, e1 at i+1) less psi inside (w0, w1 at
// i-1), the two rows j, j+1; on the axis nothing inside, on the outer wall
// nothing outside.
inline double link_n(double e0, double e1, double w0, double w1, double a0, double a1) {
  return (e0 + e1 - w0 - w1) * (a0 + a1);
}
inline double link_n_axis(double e0, double e1, double a0, double a1) {
  return (e0 + e1) * (a0 + a1);
}
inline double link_n_outer(double w0, double w1, double a0, double a1) {
  return (-w0 - w1) * (a0 + a1);
}

// FD1 (i,j)-(i+1,j+1): psi(i+1,j) - psi(i,j+1); FD2 (i,j)-(i+1,j-1):
// psi(i+1,j) - psi(i,j-1); times the sum of A at the two ends.
inline double link_d(double p0, double p1, double a0, double a1) { return (p0 - p1) * (a0 + a1); }

// The negative link sum S of an interior point: the links leaving it less
// those arriving (east, north, and the two diagonals).
inline double arakawa_interior_sum(double e, double e_w, double n, double n_s, double d1,
                                   double d1_sw, double d2_nw, double d2) {
  const double sa = e - e_w + n - n_s;
  const double sd = d1 - d1_sw + d2_nw - d2;
  return -(sa + sd);
}

// T <- (T + mr mz S/48) / (rc rhoc), S the weighted link sum of the point.
// On a uniform grid mr mz S/48 = S/(12 dr dz).
inline double arakawa_put(double t, double mr, double mz, double sum, double rc, double rhoc) {
  return (t + mr * mz * sum * kOne48Single) / (rc * rhoc);
}

// The wall points from the link fluxes fe, fn, fd1, fd2: each sums only the
// links that stay on the grid, over a half cell (weight 2) on an edge and a
// quarter cell in a corner (weight 4 on the wall links, 2 on the single
// diagonal link).
inline void arakawa_walls(const Basic& g, Field& t, const Field& fe, const Field& fn,
                          const Field& fd1, const Field& fd2) {
  constexpr int N = NR;
  auto put = [&](int i, int j, double sum) {
    t(i, j) = arakawa_put(t(i, j), g.mr(i), g.mz(j), sum, g.rc(i), g.rhoc(j));
  };
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

// ---- Flux form: face values between points k and k+1 of a line ----
// a and f point at A and the mass flux of point k, the line having stride S.
// The centred value is (A_k + A_k+1)(f_k + f_k+1)/4; the upwind-biased one
// is (-1, 5, 2)/6 of A upstream times the face velocity u = (f_k + f_k+1)/2.

inline constexpr double kSixth = 1.0 / 6.0;

inline double face_centred(const double* a, const double* f, std::ptrdiff_t S) {
  return (a[S] + a[0]) * (f[0] + f[S]) * 0.25;
}

// Where the upstream stencil would reach past a wall the centred value
// stays: inflow (u <= 0) through the first face may be biased, through the
// last face only outflow (u >= 0); a NaN velocity keeps the centred value.
// Every value is formed and one selected, so a loop of faces has no branches.
enum class Face { First, Interior, Last };

// The flux through a face of mass flux u whose centred flux is c: the
// third-order upwind interpolation (-1, 5, 2)/6 of A from the upstream side
// where its points exist, else c.
template <Face K>
inline double face_upwind_flux(const double* a, double u, double c, std::ptrdiff_t S) {
  if constexpr (K == Face::First) {
    const double m = u * kSixth * (2.0 * a[0] + (5.0 * a[S] - a[2 * S]));
    return u <= 0.0 ? m : c;
  } else if constexpr (K == Face::Last) {
    const double p = u * kSixth * ((5.0 * a[0] + 2.0 * a[S]) - a[-S]);
    return u >= 0.0 ? p : c;
  } else {
    const double p = u * kSixth * ((5.0 * a[0] + 2.0 * a[S]) - a[-S]);
    const double m = u * kSixth * (2.0 * a[0] + (5.0 * a[S] - a[2 * S]));
    return u >= 0.0 ? p : (u < 0.0 ? m : c);
  }
}

// The same with the face's mass flux the mean of the point fluxes f either side.
template <Face K>
inline double face_upwind(const double* a, const double* f, std::ptrdiff_t S) {
  return face_upwind_flux<K>(a, (f[0] + f[S]) * 0.5, face_centred(a, f, S), S);
}

// The divergence of the face fluxes at a point, divided by w = rc rhoc:
// between the walls the faces either side over the cell around the point
// (width 2/m), on the first and last point the one face over the half cell.
inline double face_divergence(double t, double f_before, double f_after, double m, double w) {
  return t + ((f_before - f_after) * m * 0.5) / w;
}
inline double face_divergence_first(double t, double f_after, double m, double w) {
  return t - f_after * m / w;
}
inline double face_divergence_last(double t, double f_before, double m, double w) {
  return t + f_before * m / w;
}

}  // namespace qel::stencil
