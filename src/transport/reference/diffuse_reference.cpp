// Conservative diffusion: the fluxes K dF/dr and K dF/dz are formed once
// per cell centre and differenced onto the nodes; nothing crosses a wall.
#include "transport/reference.hpp"

namespace qel {

namespace {

// Cell fluxes of g with the radius weight rw at the cell centres:
// flxr = rw K dg/dr rhoh, flxz = K dg/dz rhoh, the derivatives being the
// mean of the differences along the two cell edges.
void cell_fluxes(State& s, const Field& g, const Array1<NC>& rw) {
  const Basic& b = s.basic;
  const CellField& visc = s.fields.viscp;
  CellField& flxr = s.spare.diffuse.flxr;
  CellField& flxz = s.spare.diffuse.flxz;
  for (int q = 1; q <= NC; ++q) {
    const double rhoh = b.rhoh(q);
    const double mzh = b.mzh(q);
    for (int p = 1; p <= NC; ++p) {
      const double k = visc(p, q);
      flxr(p, q) = rw(p) * k * b.mrh(p) * (g(p + 1, q + 1) + g(p + 1, q) - g(p, q + 1) - g(p, q)) *
                   0.25 * rhoh;
      flxz(p, q) = (g(p, q + 1) + g(p + 1, q + 1) - g(p + 1, q) - g(p, q)) * k * 0.25 * rhoh * mzh;
    }
  }
}

// Radial flux difference at node i from the cells on either side, each side
// the sum of the two cells jp, jm touching the node.
inline double radial_bracket(const CellField& flxr, int i, int jp, int jm) {
  return flxr(i, jp) + flxr(i, jm) - flxr(i - 1, jp) - flxr(i - 1, jm);
}

// Axial flux difference at node (i, j) from the cells ip, im beside it.
inline double axial_bracket(const CellField& flxz, int ip, int im, int j) {
  return flxz(ip, j) + flxz(im, j) - flxz(ip, j - 1) - flxz(im, j - 1);
}

// The axial part of the divergence, added to g at the columns i = ifirst..91:
// (1/rho) d/dz flux at the rows j = 2..90, where on the side walls the two
// cells beside the node collapse onto the one inside; then the bottom and
// top, where the flux through the wall is zero and the one inside acts over
// the half cell next to the wall.
void add_axial(const State& s, const CellField& flxz, Field& g, int ifirst) {
  const Basic& b = s.basic;
  const Bnds& x = s.bnds;
  for (int j = 2; j <= NC; ++j) {
    const double c = b.mz(j);
    const double rhoc = b.rhoc(j);
    if (ifirst == 1) g(1, j) = g(1, j) + axial_bracket(flxz, 1, 1, j) * c * 0.25 / rhoc;
    for (int i = 2; i <= NC; ++i)
      g(i, j) = g(i, j) + axial_bracket(flxz, i, i - 1, j) * c * 0.25 / rhoc;
    g(NR, j) = g(NR, j) + axial_bracket(flxz, NC, NC, j) * c * 0.25 / rhoc;
  }
  const double cb = 0.5 * b.mz(1);
  const double ct = 0.5 * b.mz(NR);
  const double rb = 1.0 / b.rhoc(1);
  const double rt = 1.0 / b.rhoc(NR);
  for (int i = ifirst; i <= NR; ++i) {
    const int ip = x.ip(i);
    const int im = x.im(i);
    g(i, 1) = g(i, 1) + (flxz(im, 1) + flxz(ip, 1)) * cb * rb;
    g(i, NR) = g(i, NR) - (flxz(im, NC) + flxz(ip, NC)) * ct * rt;
  }
}

}  // namespace

void diffuse_reference(State& s, Field& t, const Field& f) {
  const Basic& b = s.basic;
  const Bnds& x = s.bnds;
  const CellField& flxr = s.spare.diffuse.flxr;
  const CellField& flxz = s.spare.diffuse.flxz;

  cell_fluxes(s, f, b.rh);

  // (1/(r rho)) d/dr flux at the interior columns i = 2..90.
  for (int j = 1; j <= NR; ++j) {
    const int jp = x.jp(j);
    const int jm = x.jm(j);
    const double rhoc = b.rhoc(j);
    for (int i = 2; i <= NC; ++i)
      t(i, j) = t(i, j) + radial_bracket(flxr, i, jp, jm) * b.mr(i) * 0.25 / (rhoc * b.rc(i));
  }

  add_axial(s, flxz, t, 1);

  // Inner and outer walls: no flux through them either.
  const double ci = 0.5 * b.mr(1);
  const double co = 0.5 * b.mr(NR);
  for (int j = 1; j <= NR; ++j) {
    const int jp = x.jp(j);
    const int jm = x.jm(j);
    t(1, j) = t(1, j) + (flxr(1, jm) + flxr(1, jp)) * ci / (b.rhoc(j) * b.rc(1));
    t(NR, j) = t(NR, j) - (flxr(NC, jm) + flxr(NC, jp)) * co / (b.rhoc(j) * b.rc(NR));
  }
}

// Axisymmetric viscous term of an azimuthal or radial component F:
// r [(1/r^3) d/dr (r^3 K d(F/r)/dr) + d/dz (K d(F/r)/dz)], formed as the
// diffusion of F/r with r^3 weights; the axis row i = 1 is left alone.
void afdiff_reference(State& s, Field& t, const Field& f) {
  const Basic& b = s.basic;
  const Bnds& x = s.bnds;
  auto& sc = s.spare.diffuse;
  const CellField& flxr = sc.flxr;
  const CellField& flxz = sc.flxz;
  Field& fovr = sc.fovr;
  Field& dsum = sc.dsum;

  // F/r off the axis; on the axis the ratio of the first row off it.
  for (int j = 1; j <= NR; ++j) {
    for (int i = 2; i <= NR; ++i) {
      dsum(i, j) = 0.0;
      fovr(i, j) = f(i, j) / b.r(i);
    }
    fovr(1, j) = fovr(2, j);
  }
  for (int p = 1; p <= NC; ++p) sc.rh3(p) = b.rh(p) * b.rh(p) * b.rh(p);
  for (int i = 1; i <= NR; ++i) sc.rc3(i) = b.rc(i) * b.rc(i) * b.rc(i);

  cell_fluxes(s, fovr, sc.rh3);

  // (1/r^3) d/dr (r^3 K d(F/r)/dr) at i = 2..90.
  for (int j = 1; j <= NR; ++j) {
    const int jp = x.jp(j);
    const int jm = x.jm(j);
    const double rhoc = b.rhoc(j);
    for (int i = 2; i <= NC; ++i)
      dsum(i, j) = radial_bracket(flxr, i, jp, jm) * b.mr(i) * 0.25 / (rhoc * sc.rc3(i));
  }

  // d/dz (K d(F/r)/dz) off the axis, with no flux through the bottom and the
  // top; then no flux through the outer wall.
  add_axial(s, flxz, dsum, 2);
  const double co = 0.5 * b.mr(NR);
  for (int j = 1; j <= NR; ++j)
    dsum(NR, j) =
        dsum(NR, j) - (flxr(NC, x.jm(j)) + flxr(NC, x.jp(j))) * co / (b.rhoc(j) * sc.rc3(NR));

  for (int j = 1; j <= NR; ++j)
    for (int i = 2; i <= NR; ++i) t(i, j) = t(i, j) + dsum(i, j) * b.rc(i);
}

}  // namespace qel
