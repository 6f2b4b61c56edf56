// The transport operators as plain loops, one node at a time through the
// shared stencils, in the order the discretisation reads: the check of the
// row and run arrangement of the fast operators.
#include <memory>

#include "oracles/oracles.hpp"
#include "transport/stencils.hpp"

namespace qel {

namespace {

using namespace stencil;

template <int First, int Last, Dif P, Dif M, Dif Z>
void sweep_i(Seg<First, Last, P, M, Z>, Field& t, const Field& f, const Field& ucon, int j) {
  for (int i = First; i <= Last; ++i) t(i, j) = advected<P, M, Z>(t(i, j), &f(i, j), ucon(i, j), 1);
}

template <int First, int Last, Dif P, Dif M, Dif Z>
void sweep_j(Seg<First, Last, P, M, Z>, Field& t, const Field& f, const Field& wcon) {
  for (int j = First; j <= Last; ++j)
    for (int i = 1; i <= NR; ++i) t(i, j) = advected<P, M, Z>(t(i, j), &f(i, j), wcon(i, j), NR);
}

// Every column's i-terms, then every row's j-terms.
template <class... SI, class... SJ>
void advect(const State& s, Field& t, const Field& f, Table<SI...>, Table<SJ...>) {
  for (int j = 1; j <= NR; ++j) (sweep_i(SI{}, t, f, s.contra.ucon, j), ...);
  (sweep_j(SJ{}, t, f, s.contra.wcon), ...);
}

// All cell fluxes of g with the radius weight rw.
void cell_fluxes(State& s, const Field& g, const Array1<NC>& rw) {
  const Basic& b = s.basic;
  for (int q = 1; q <= NC; ++q)
    for (int p = 1; p <= NC; ++p) {
      const double k = s.fields.viscp(p, q);
      s.spare.diffuse.flxr(p, q) = radial_flux(rw(p), k, b.mrh(p), g(p + 1, q + 1), g(p + 1, q),
                                               g(p, q + 1), g(p, q), b.rhoh(q));
      s.spare.diffuse.flxz(p, q) = axial_flux(k, b.mzh(q), g(p, q + 1), g(p + 1, q + 1),
                                              g(p + 1, q), g(p, q), b.rhoh(q));
    }
}

// The divergence of the cell fluxes into d at the columns ifirst..91:
// radial (stored when set, else added) at 2..90, axial at every row, the
// side walls where their switch is on.
void divergence(const State& s, Field& d, const Array1<NR>& rw, int ifirst, bool set, bool inner) {
  const Basic& b = s.basic;
  const Bnds& x = s.bnds;
  const CellField &fr = s.spare.diffuse.flxr, &fz = s.spare.diffuse.flxz;
  for (int j = 1; j <= NR; ++j)
    for (int i = 2; i <= NC; ++i) {
      const double r = radial_divergence(fr(i, x.jp(j)), fr(i, x.jm(j)), fr(i - 1, x.jp(j)),
                                         fr(i - 1, x.jm(j)), b.mr(i), b.rhoc(j), rw(i));
      d(i, j) = set ? r : d(i, j) + r;
    }
  for (int j = 2; j <= NC; ++j)
    for (int i = ifirst; i <= NR; ++i) {
      const int ip = x.ip(i), im = x.im(i);
      d(i, j) = d(i, j) + axial_divergence(fz(ip, j), fz(im, j), fz(ip, j - 1), fz(im, j - 1), b.mz(j),
                                           b.rhoc(j));
    }
  for (int i = ifirst; i <= NR; ++i) {
    const int ip = x.ip(i), im = x.im(i);
    d(i, 1) = d(i, 1) + end_wall_flux(fz(im, 1), fz(ip, 1), 0.5 * b.mz(1), 1.0 / b.rhoc(1));
    d(i, NR) = d(i, NR) - end_wall_flux(fz(im, NC), fz(ip, NC), 0.5 * b.mz(NR), 1.0 / b.rhoc(NR));
  }
  for (int j = 1; j <= NR; ++j) {
    if (inner)
      d(1, j) = d(1, j) + side_wall_flux(fr(1, x.jm(j)), fr(1, x.jp(j)), 0.5 * b.mr(1), b.rhoc(j), rw(1));
    d(NR, j) = d(NR, j) - side_wall_flux(fr(NC, x.jm(j)), fr(NC, x.jp(j)), 0.5 * b.mr(NR), b.rhoc(j), rw(NR));
  }
}

}  // namespace

void advect3_oracle(const State& s, Field& t, const Field& f) { advect(s, t, f, Advect3Table{}, Advect3Table{}); }
void advect5_oracle(const State& s, Field& t, const Field& f) { advect(s, t, f, Advect5ITable{}, Advect5JTable{}); }

void diffuse_oracle(State& s, Field& t, const Field& f) {
  cell_fluxes(s, f, s.basic.rh);
  divergence(s, t, s.basic.rc, 1, false, true);
}

// r times the r^3-weighted diffusion of F/r, off the axis.
void afdiff_oracle(State& s, Field& t, const Field& f) {
  const Basic& b = s.basic;
  auto fovr = std::make_unique<Field>(), d = std::make_unique<Field>();
  Array1<NC> rh3;
  Array1<NR> rc3;
  for (int j = 1; j <= NR; ++j) {
    for (int i = 2; i <= NR; ++i) (*fovr)(i, j) = f(i, j) / b.r(i);
    (*fovr)(1, j) = (*fovr)(2, j);
    (*d)(NR, j) = 0.0;
  }
  for (int p = 1; p <= NC; ++p) rh3(p) = b.rh(p) * b.rh(p) * b.rh(p);
  for (int i = 1; i <= NR; ++i) rc3(i) = b.rc(i) * b.rc(i) * b.rc(i);
  cell_fluxes(s, *fovr, rh3);
  divergence(s, *d, rc3, 2, true, false);
  for (int j = 1; j <= NR; ++j)
    for (int i = 2; i <= NR; ++i) t(i, j) = t(i, j) + (*d)(i, j) * b.rc(i);
}

}  // namespace qel
