#include "primitive/primitive.hpp"
#include "vorticity/stencils.hpp"

namespace qel {

namespace {

using namespace stencil;

// Mean of the four corners of cell (k, l) of a point field: the value the
// cell divergence of the pressure equation gives each cell side.
inline double cell_mean(const Field& f, int k, int l) {
  return ((f(k, l) + f(k, l + 1)) + (f(k + 1, l) + f(k + 1, l + 1))) * 0.25;
}

// The flux of A through face k (0..NC-1) of a line a[0..] of NR points
// (stride S), face k between a[0] and a[S], of mass flux u: the centred mean
// of A times u, or with `up` the upwind-biased value (face_upwind_flux).
inline double face(const double* a, double u, std::ptrdiff_t S, int k, bool up) {
  const double c = (a[S] + a[0]) * 0.5 * u;
  if (!up) return c;
  if (k == 0) return face_upwind_flux<Face::First>(a, u, c, S);
  if (k == NC - 1) return face_upwind_flux<Face::Last>(a, u, c, S);
  return face_upwind_flux<Face::Interior>(a, u, c, S);
}

}  // namespace

// The mass flux through each face of the control volume around a point is
// the cell mean of r rho u (or r rho w) over the part of the face inside
// each of the two cells it crosses, weighted by that part's length (a wall
// point's face lies in one cell). The fluxes out of a point's volume then
// sum the cell divergences of the pressure equation over the quarter cells
// the volume holds, so a velocity the pressure has made divergence free
// carries no spurious source -A div into A's tendency, and a fluid at rest
// in balance stays at rest. The flux of A is that mass flux times a centred
// (-2 <= ORDER < 0) or third-order upwind-biased (ORDER < -2) face value of
// A, and the tendency is -(1/(rc rhoc)) div(A (flux_r, flux_z)) over the
// point's volume (half at a wall), nothing crossing a wall, so the rc
// rhoc-weighted sum of A over the volumes is conserved.
void flux_form(State& s, Field& t, const Field& a) {
  const Basic& g = s.basic;
  const Field& q = s.others.flr;
  const Field& r = s.others.flz;
  auto& fr = s.spare.flux_form.fr;  // i-face k between points k, k+1 of row j
  auto& fz = s.spare.flux_form.fz;  // j-face l between rows l, l+1 of column i
  const bool up = s.par.ORDER < -2.0;

  // Faces of the rows: cells l = j - 1 and j share the face of point row j,
  // in parts dz(j-1)/2 and dz(j)/2 of its height (dz/2 = 1/mzh).
  for (int j = 1; j <= NR; ++j) {
    for (int k = 1; k <= NC; ++k) {
      double u;
      if (j == 1) {
        u = cell_mean(q, k, 1);
      } else if (j == NR) {
        u = cell_mean(q, k, NC);
      } else {
        u = (cell_mean(q, k, j - 1) / g.mzh(j - 1) + cell_mean(q, k, j) / g.mzh(j)) * (g.mz(j) * 0.5);
      }
      fr(k, j) = face(&a(k, j), u, 1, k - 1, up);
    }
  }
  // Faces of the columns: cells k = i - 1 and i, in parts dr(i-1)/2, dr(i)/2.
  for (int l = 1; l <= NC; ++l) {
    for (int i = 1; i <= NR; ++i) {
      double u;
      if (i == 1) {
        u = cell_mean(r, 1, l);
      } else if (i == NR) {
        u = cell_mean(r, NC, l);
      } else {
        u = (cell_mean(r, i - 1, l) / g.mrh(i - 1) + cell_mean(r, i, l) / g.mrh(i)) * (g.mr(i) * 0.5);
      }
      fz(i, l) = face(&a(i, l), u, NR, l - 1, up);
    }
  }

  // The divergence over each point's volume: the i-term, then the j-term.
  for (int j = 1; j <= NR; ++j) {
    const double rj = g.rhoc(j);
    t(1, j) = face_divergence_first(t(1, j), fr(1, j), g.mr(1), g.rc(1) * rj);
    for (int i = 2; i <= NR - 1; ++i)
      t(i, j) = face_divergence(t(i, j), fr(i - 1, j), fr(i, j), g.mr(i), g.rc(i) * rj);
    t(NR, j) = face_divergence_last(t(NR, j), fr(NC, j), g.mr(NR), g.rc(NR) * rj);
    for (int i = 1; i <= NR; ++i) {
      const double w = g.rc(i) * rj;
      if (j == 1) {
        t(i, j) = face_divergence_first(t(i, j), fz(i, 1), g.mz(1), w);
      } else if (j == NR) {
        t(i, j) = face_divergence_last(t(i, j), fz(i, NC), g.mz(NR), w);
      } else {
        t(i, j) = face_divergence(t(i, j), fz(i, j - 1), fz(i, j), g.mz(j), w);
      }
    }
  }
}

}  // namespace qel

