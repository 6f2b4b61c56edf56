// Conservative diffusion: the fluxes K dF/dr and K dF/dz are formed once
// per cell centre and differenced onto the nodes; nothing crosses a wall.
//
// Arranged for speed with the arithmetic of each node unchanged: row by
// row, the cell fluxes of one cell row, then the node row above it in one
// sweep that adds the radial, axial and wall terms in the order the
// discretisation states them.
// The fluxes, divergences and wall terms are those of transport/stencils.hpp.
#include "transport/stencils.hpp"
#include "transport/transport.hpp"

namespace qel {

namespace {

using namespace stencil;

// Cell fluxes of g in cell row q with the radius weight rw at the cell
// centres: flxr = rw K dg/dr rhoh, flxz = K dg/dz rhoh, the derivatives
// being the mean of the differences along the two cell edges.
void cell_fluxes(State& s, const Field& g, const Array1<NC>& rw, int q) {
  const Basic& b = s.basic;
  const double* __restrict w = rw.data();
  const double* __restrict mrh = b.mrh.data();
  const double rhoh = b.rhoh(q);
  const double mzh = b.mzh(q);
  const double* __restrict k = &s.fields.viscp(1, q);
  const double* __restrict g0 = &g(1, q);
  const double* __restrict g1 = &g(1, q + 1);
  double* __restrict fr = &s.spare.diffuse.flxr(1, q);
  double* __restrict fz = &s.spare.diffuse.flxz(1, q);
  for (int p = 0; p < NC; ++p) {
    fr[p] = radial_flux(w[p], k[p], mrh[p], g1[p + 1], g0[p + 1], g1[p], g0[p], rhoh);
    fz[p] = axial_flux(k[p], mzh, g1[p], g1[p + 1], g0[p + 1], g0[p], rhoh);
  }
}

// The row j of nodes: out[i] (i = 1..91 at out[i-1]) gains, in this order,
//  - at i = 2..90 the radial divergence (1/(rw rho)) d/dr flux, rw3 the
//    radius weight of the nodes, the bracket summing the two cells jp, jm
//    touching the node on either side;
//  - at i = ifirst..91 the axial divergence (1/rho) d/dz flux; on the side
//    walls the two cells beside the node collapse onto the one inside; on
//    the bottom and top the flux through the wall is zero and the one inside
//    acts over the half cell next to the wall;
//  - at the walls i = 1 (if inner) and i = 91 no flux through them either.
// With radial_set the radial term is stored instead of added.
template <bool radial_set>
void node_row(const State& s, const double* __restrict rw3, double* __restrict out, int j,
              int ifirst, bool inner) {
  const Basic& b = s.basic;
  const Bnds& x = s.bnds;
  const double* __restrict mr = b.mr.data();
  const int jp = x.jp(j);
  const int jm = x.jm(j);
  const double rhoc = b.rhoc(j);
  const double* __restrict rp = &s.spare.diffuse.flxr(1, jp);
  const double* __restrict rm = &s.spare.diffuse.flxr(1, jm);
  // Radial, nodes i = 2..90 at out[1..89]; cells i-1, i at [i-2], [i-1].
  for (int k = 1; k < NC; ++k) {
    const double d = radial_divergence(rp[k], rm[k], rp[k - 1], rm[k - 1], mr[k], rhoc, rw3[k]);
    if constexpr (radial_set)
      out[k] = d;
    else
      out[k] = out[k] + d;
  }

  if (j >= 2 && j <= NC) {
    const double c = b.mz(j);
    const double* __restrict zp = &s.spare.diffuse.flxz(1, j);
    const double* __restrict zm = &s.spare.diffuse.flxz(1, j - 1);
    if (ifirst == 1) out[0] = out[0] + axial_divergence(zp[0], zp[0], zm[0], zm[0], c, rhoc);
    // With rho = 1 the division folds away.
    if (rhoc == 1.0) {
      for (int k = 1; k < NC; ++k) out[k] = out[k] + axial_divergence(zp[k], zp[k - 1], zm[k], zm[k - 1], c, 1.0);
    } else {
      for (int k = 1; k < NC; ++k)
        out[k] = out[k] + axial_divergence(zp[k], zp[k - 1], zm[k], zm[k - 1], c, rhoc);
    }
    out[NR - 1] = out[NR - 1] + axial_divergence(zp[NC - 1], zp[NC - 1], zm[NC - 1], zm[NC - 1], c, rhoc);
  } else {
    const int* ip = x.ip.data();
    const int* im = x.im.data();
    const bool bottom = j == 1;
    const double* __restrict z = &s.spare.diffuse.flxz(1, bottom ? 1 : NC);
    const double cw = bottom ? 0.5 * b.mz(1) : 0.5 * b.mz(NR);
    const double rw = bottom ? 1.0 / b.rhoc(1) : 1.0 / b.rhoc(NR);
    for (int i = ifirst; i <= NR; ++i) {
      const double f = end_wall_flux(z[im[i - 1] - 1], z[ip[i - 1] - 1], cw, rw);
      out[i - 1] = bottom ? out[i - 1] + f : out[i - 1] - f;
    }
  }

  const double co = 0.5 * mr[NR - 1];
  if (inner) {
    const double ci = 0.5 * mr[0];
    out[0] = out[0] + side_wall_flux(rm[0], rp[0], ci, rhoc, rw3[0]);
  }
  out[NR - 1] = out[NR - 1] - side_wall_flux(rm[NC - 1], rp[NC - 1], co, rhoc, rw3[NR - 1]);
}

}  // namespace

void diffuse(State& s, Field& t, const Field& f) {
  // Node row j needs the cell rows j-1 and j (row 90 at the top).
  for (int j = 1; j <= NR; ++j) {
    if (j <= NC) cell_fluxes(s, f, s.basic.rh, j);
    node_row<false>(s, s.basic.rc.data(), &t(1, j), j, 1, true);
  }
}

// Axisymmetric viscous term of an azimuthal or radial component F:
// r [(1/r^3) d/dr (r^3 K d(F/r)/dr) + d/dz (K d(F/r)/dz)], formed as the
// diffusion of F/r with r^3 weights; the axis row i = 1 is left alone.
void afdiff(State& s, Field& t, const Field& f) {
  const Basic& b = s.basic;
  auto& sc = s.spare.diffuse;
  Field& fovr = sc.fovr;

  // F/r off the axis; on the axis the ratio of the first row off it.
  const double* __restrict r = b.r.data();
  for (int j = 1; j <= NR; ++j) {
    const double* __restrict fj = &f(1, j);
    double* __restrict oj = &fovr(1, j);
    for (int i = 1; i < NR; ++i) oj[i] = fj[i] / r[i];
    oj[0] = oj[1];
  }
  for (int p = 1; p <= NC; ++p) sc.rh3(p) = b.rh(p) * b.rh(p) * b.rh(p);
  for (int i = 1; i <= NR; ++i) sc.rc3(i) = b.rc(i) * b.rc(i) * b.rc(i);

  // Each row: the divergence of the r^3-weighted fluxes off the axis, with
  // no flux through the bottom, the top and the outer wall, times r.
  const double* __restrict rc = b.rc.data();
  for (int j = 1; j <= NR; ++j) {
    if (j <= NC) cell_fluxes(s, fovr, sc.rh3, j);
    double d[NR];
    d[NR - 1] = 0.0;
    node_row<true>(s, sc.rc3.data(), d, j, 2, false);
    double* __restrict tj = &t(1, j);
    for (int i = 1; i < NR; ++i) tj[i] = tj[i] + d[i] * rc[i];
  }
}

}  // namespace qel
