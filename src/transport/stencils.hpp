// The difference formulas of the transport operators, each written once:
// the upwind-biased advection stencils and the tables that choose them near
// the walls, and the cell fluxes, divergences and wall terms of the
// conservative diffusion. The operators of transport.hpp arrange their loops
// for speed around these; every node takes exactly these operations.
#pragma once

#include <cstddef>

#include "model/state.hpp"

namespace qel::stencil {

// ---- Advection: T -= vel * D F, D half an index-space first derivative ----

// The difference formulas: centred, and third- and fifth-order biased
// towards the upstream side for flow towards + (p) or towards - (m).
enum class Dif { C2, U3p, U3m, U5p, U5m };

// Half the first derivative at f[0] along a line of stride S: the weighted
// sum in stencil order, then times the factor.
template <Dif D>
inline double half_derivative(const double* f, std::ptrdiff_t S) {
  const auto at = [&](int m) { return f[m * S]; };
  if constexpr (D == Dif::C2) {
    return (at(1) - at(-1)) * 0.25;
  } else if constexpr (D == Dif::U3p) {
    return (((at(-2) - 6.0 * at(-1)) + 3.0 * at(0)) + 2.0 * at(1)) * 0.08333333333333333;
  } else if constexpr (D == Dif::U3m) {
    return (((-2.0 * at(-1) - 3.0 * at(0)) + 6.0 * at(1)) - at(2)) * 0.08333333333333333;
  } else if constexpr (D == Dif::U5p) {
    return (((((-2.0 * at(-3) + 15.0 * at(-2)) - 60.0 * at(-1)) + 20.0 * at(0)) + 30.0 * at(1)) -
            3.0 * at(2)) *
           0.008333333333333333;
  } else {
    return (((((3.0 * at(-2) - 30.0 * at(-1)) - 20.0 * at(0)) + 60.0 * at(1)) - 15.0 * at(2)) +
            2.0 * at(3)) *
           0.008333333333333333;
  }
}

// t - vel * D F at one node, f pointing at it: D is P where the velocity is
// positive, M where it is negative and Z where it is zero (or NaN). All the
// formulas are formed and one selected, so a loop over nodes has no branches.
template <Dif P, Dif M, Dif Z>
inline double advected(double t, const double* f, double v, std::ptrdiff_t S) {
  const double dp = half_derivative<P>(f, S);
  const double dm = half_derivative<M>(f, S);
  double d;
  if constexpr (Z == M) {
    d = v > 0.0 ? dp : dm;
  } else {
    const double dz = half_derivative<Z>(f, S);
    d = v > 0.0 ? dp : (v < 0.0 ? dm : dz);
  }
  return t - d * v;
}

// A run of nodes First..Last along the sweep that use formula P where the
// velocity is positive, M where it is negative and Z where it is zero.
template <int First, int Last, Dif P, Dif M, Dif Z>
struct Seg {
  static constexpr int first = First;
  static constexpr int last = Last;
};

// The formula choice of one sweep: consecutive runs covering 2..90.
template <class... Segs>
struct Table {
  static constexpr bool covers_interior() {
    int next = 2;
    bool ok = true;
    ((ok = ok && Segs::first == next && Segs::last >= Segs::first, next = Segs::last + 1), ...);
    return ok && next == NR;
  }
  static_assert(covers_interior(), "a sweep table must cover nodes 2..90 once, in order");
};

using enum Dif;

// Third order: the biased formula wherever its points exist, else centred;
// the same along i and j.
using Advect3Table = Table<Seg<2, 2, C2, U3m, C2>,    //
                           Seg<3, 89, U3p, U3m, C2>,  //
                           Seg<90, 90, U3p, C2, C2>>;

// Fifth order, falling back to third and second order near the ends (zero
// velocity takes the negative-side formula). For positive flow node 89
// uses U5p along i but U3p along j.
using Advect5ITable = Table<Seg<2, 2, C2, U3m, U3m>,     //
                            Seg<3, 3, U3p, U5m, U5m>,    //
                            Seg<4, 88, U5p, U5m, U5m>,   //
                            Seg<89, 89, U5p, U3m, U3m>,  //
                            Seg<90, 90, U3p, C2, C2>>;
using Advect5JTable = Table<Seg<2, 2, C2, U3m, U3m>,     //
                            Seg<3, 3, U3p, U5m, U5m>,    //
                            Seg<4, 88, U5p, U5m, U5m>,   //
                            Seg<89, 89, U3p, U3m, U3m>,  //
                            Seg<90, 90, U3p, C2, C2>>;

// ---- Diffusion: div(K grad F) from cell-centre fluxes ----
// Corners of cell (p, q): g00 = g(p, q), g10 = g(p+1, q), g01 = g(p, q+1),
// g11 = g(p+1, q+1). A division by a reference density of exactly 1 may be
// left to the compiler by passing the literal 1.0 (it is exact).

// rw K dg/dr rhoh, dg/dr the mean of the differences along the two cell
// edges of constant z, rw the radius weight of the cell centre.
inline double radial_flux(double rw, double k, double mrh, double g11, double g10, double g01,
                          double g00, double rhoh) {
  return rw * k * mrh * (g11 + g10 - g01 - g00) * 0.25 * rhoh;
}

// K dg/dz rhoh, dg/dz the mean of the differences along the two edges of
// constant r.
inline double axial_flux(double k, double mzh, double g01, double g11, double g10, double g00,
                         double rhoh) {
  return (g01 + g11 - g10 - g00) * k * 0.25 * rhoh * mzh;
}

// (1/(rw rho)) d/dr flux at a node between the walls: the cells on its
// outer side (fp above, fm below the node) less those on its inner side.
inline double radial_divergence(double fp, double fm, double fp_in, double fm_in, double mr,
                                double rhoc, double rw) {
  return (fp + fm - fp_in - fm_in) * mr * 0.25 / (rhoc * rw);
}

// (1/rho) d/dz flux at a node between the bottom and the top: the cells
// beside it above (zp, zp_in) less those below. On a side wall both cells
// beside the node are the one inside.
inline double axial_divergence(double zp, double zp_in, double zm, double zm_in, double mz,
                               double rhoc) {
  return (zp + zp_in - zm - zm_in) * mz * 0.25 / rhoc;
}

// Bottom or top: nothing crosses the wall, and the flux of the two cells
// beside the node acts over the half cell next to it (half_mz = mz/2,
// rrho = 1/rho); added on the bottom, subtracted on the top.
inline double end_wall_flux(double zm, double zp, double half_mz, double rrho) {
  return (zm + zp) * half_mz * rrho;
}

// Axis or outer wall: likewise across the half cell next to the side wall
// (half_mr = mr/2); added on the inner wall, subtracted on the outer.
inline double side_wall_flux(double fm, double fp, double half_mr, double rhoc, double rw) {
  return (fm + fp) * half_mr / (rhoc * rw);
}

}  // namespace qel::stencil
