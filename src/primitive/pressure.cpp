#include <cmath>
#include <cstddef>

#include <stdexcept>

#include "elliptic/direct.hpp"
#include "model/render.hpp"
#include "primitive/pressure_stencils.hpp"
#include "primitive/primitive.hpp"

namespace qel {

// Pressure gradient at the points from the four cells around each point:
// the difference of the two cell pairs on either side, each pair averaged.
// On a wall the index tables fold the missing side onto the present one, so
// the normal gradient there is exactly zero. A no-slip wall holds its
// tangential velocity at zero, u on the bottom (SLIPB = 0) and w on the
// outer wall (SLIPS = 0): no pressure force acts on those lines.
//
// The fields are stored i fastest, so the work goes row by row along i:
// the cell rows jp(j), jm(j) above and below node row j come from the
// tables, the cells right and left of point i are i and i - 1 between the
// walls (as maketrans folds them) and the tables' own on i = 1 and 91.
// The formulas are those of primitive/pressure_stencils.hpp.
namespace {

using namespace stencil;

struct Grad {
  double r, z;
};

// The gradient at a point with cells ip, im (zero-based) in the cell rows
// pp (above) and pm (below).
inline Grad gradient(const double* pp, const double* pm, int ip, int im, double mr, double mz) {
  return {pressure_gradient_r(pp[ip], pm[ip], pp[im], pm[im], mr),
          pressure_gradient_z(pp[ip], pm[ip], pp[im], pm[im], mz)};
}

// The geometry of the sweeps and the pressure force, gathered once per call.
struct Rows {
  const double* p;   // cell pressure, leading dimension NC
  const double* mr;  // g.mr, zero-based
  const double* rc;  // g.rc, zero-based
  int ip1, im1, ipn, imn;  // cells beside i = 1 and i = 91, zero-based

  explicit Rows(const State& s)
      : p(s.fields.psi.data()),
        mr(s.basic.mr.data()),
        rc(s.basic.rc.data()),
        ip1(s.bnds.ip(1) - 1),
        im1(s.bnds.im(1) - 1),
        ipn(s.bnds.ip(NR) - 1),
        imn(s.bnds.im(NR) - 1) {
#ifdef QEL_BOUNDS_CHECK
    for (int i = 2; i <= NR - 1; ++i)
      if (s.bnds.ip(i) != i || s.bnds.im(i) != i - 1)
        throw std::logic_error("pressure: the cell tables are not those of maketrans");
#endif
  }
  const double* above(const State& s, int j) const { return p + std::size_t(s.bnds.jp(j) - 1) * NC; }
  const double* below(const State& s, int j) const { return p + std::size_t(s.bnds.jm(j) - 1) * NC; }
};

// The interior points x = 1..89 (zero-based) go as a vector body of 88, a
// count that every vector width divides, and a last point on its own. The
// bodies are marked for vectorisation (-fopenmp-simd): lane by lane they do
// the scalar operations, so vector and scalar code give the same bits.
inline constexpr int kBody = 88;

// dr, dz: the gradient at the 91 points of node row j.
void gradient_row(const Rows& w, const double* __restrict pp, const double* __restrict pm, double mz,
                  double* __restrict dr, double* __restrict dz) {
  const double* __restrict mr = w.mr;
  const auto point = [&](int x, int ip, int im) {
    const Grad d = gradient(pp, pm, ip, im, mr[x], mz);
    dr[x] = d.r;
    dz[x] = d.z;
  };
#pragma omp simd
  for (int x = 1; x <= kBody; ++x) point(x, x, x - 1);
  point(NR - 2, NR - 2, NR - 3);
  point(0, w.ip1, w.im1);
  point(NR - 1, w.ipn, w.imn);
}

// out = in - d over the 91 points of a row (out may be in).
void subtract_row(double* out, const double* in, const double* __restrict d, int n) {
  if (out == in) {
    double* __restrict o = out;
#pragma omp simd
    for (int x = 0; x < kBody; ++x) o[x] = o[x] - d[x];
    for (int x = kBody; x < n; ++x) o[x] = o[x] - d[x];
  } else {
    double* __restrict o = out;
    const double* __restrict a = in;
#pragma omp simd
    for (int x = 0; x < kBody; ++x) o[x] = a[x] - d[x];
    for (int x = kBody; x < n; ++x) o[x] = a[x] - d[x];
  }
}

}  // namespace

void pforce(State& s, Field& outr, const Field& inr, Field& outz, const Field& inz) {
  const Rows w(s);
  const bool hold_u_bottom = s.par.SLIPB == 0.0;
  const bool hold_w_outer = s.par.SLIPS == 0.0;
  // The two gradient rows share one array: with two separate 91-word
  // arrays GCC 12 (-O3, AVX-512) bounds the vector epilogue of the row
  // body by them and warns of an iteration that never runs.
  alignas(64) double d[2][NR];
  double* dr = d[0];
  double* dz = d[1];
  for (int j = 1; j <= NR; ++j) {
    gradient_row(w, w.above(s, j), w.below(s, j), s.basic.mz(j), dr, dz);
    double* ur = &outr(1, j);
    const double* ui = &inr(1, j);
    if (j == 1 && hold_u_bottom) {
      if (ur != ui)
        for (int x = 0; x < NR; ++x) ur[x] = ui[x];
    } else {
      subtract_row(ur, ui, dr, NR);
    }
    // w is not forced through the bottom and top.
    if (j == 1 || j == NR) continue;
    double* wr = &outz(1, j);
    const double* wi = &inz(1, j);
    subtract_row(wr, wi, dz, NR - 1);
    wr[NR - 1] = hold_w_outer ? wi[NR - 1] : wi[NR - 1] - dz[NR - 1];
  }
}

// The weighted divergence of the corrected tendencies tu - p_r, tw - p_z
// must equal -div_w(u, w) / (4 DT), div_w the divergence of the r rho
// weighted vector at the cell centre, so that one step of length DT removes
// a quarter of the divergence. PIT > 0: point-Jacobi relaxation, each sweep
// forming the trial tendencies from the present pressure and moving every
// cell pressure by its residual,
//   p += (-div_w(trial) - div_w(u, w) / (4 DT)) * pcoef;
// PIT <= 0: the exact solution of that discrete equation. Then the gradient
// of the final pressure is subtracted from tu and tw.

// The pressure at the fixed point of the sweeps, solved for directly: with
// A p the weighted divergence of the applied gradient (a quarter of four
// times it, as the sweeps measure it), A p = pdiv + div_w(tu, tw), the
// tendencies taken as the sweeps' trial ones at p = 0 (w's tendency on the
// bottom and top left out).
void exact_pressure(State& s, const Field& tu, const Field& tw) {
  if (s.solvers.pressure == nullptr)
    throw std::logic_error("incmp: PIT <= 0 needs the direct pressure solver (setup_direct)");
  const Basic& g = s.basic;
  const CellField& pdiv = s.spare.incmp.pdiv;
  CellField& rhs = s.spare.incmp.rhs;
  Field& dqdt = s.saved.DQDT;
  Field& drdt = s.saved.DRDT;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double weight = g.rc(i) * g.rho(j);
      dqdt(i, j) = tu(i, j) * weight;
      drdt(i, j) = j == 1 || j == NR ? 0.0 : tw(i, j) * weight;
    }
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) {
      const double div4 = divergence4(dqdt(k, l), dqdt(k + 1, l), dqdt(k, l + 1), dqdt(k + 1, l + 1), drdt(k, l),
                                      drdt(k + 1, l), drdt(k, l + 1), drdt(k + 1, l + 1), g.mrh(k), g.mzh(l));
      rhs(k, l) = pdiv(k, l) + 0.25 * div4;
    }
  s.solvers.pressure->solve(rhs, s.fields.psi.data());
}

namespace {

// The trial tendencies of node row j, weighted by rc rho: q of u, r of w.
// kForceU: u feels the pressure on this row (not the no-slip bottom);
// kForceW: a row between the bottom and top, where w feels it. On the
// bottom and top w's trial tendency is the kept row of drdt, weighted once
// more each sweep (zero in any run: nothing but the exact pressure, which
// zeroes them, writes those rows).
template <bool kForceU, bool kForceW>
void trial_row(const State& s, const Rows& w, const Field& tu, const Field& tw, Field& drdt, int j,
               bool hold_w_outer, double* __restrict q, double* __restrict r) {
  const double* __restrict pp = w.above(s, j);
  const double* __restrict pm = w.below(s, j);
  const double* __restrict mr = w.mr;
  const double* __restrict rc = w.rc;
  const double* __restrict u = &tu(1, j);
  const double* __restrict v = &tw(1, j);
  double* __restrict kept = &drdt(1, j);
  const double rho = s.basic.rho(j), mz = s.basic.mz(j);
  // Point x with cells ip, im beside it; hold_w: w is not forced there.
  const auto point = [&](int x, int ip, int im, bool hold_w) {
    const double weight = rc[x] * rho;
    if constexpr (kForceW) {
      const Grad d = gradient(pp, pm, ip, im, mr[x], mz);
      q[x] = (kForceU ? u[x] - d.r : u[x]) * weight;
      r[x] = (hold_w ? v[x] : v[x] - d.z) * weight;
    } else {
      if constexpr (kForceU)
        q[x] = (u[x] - pressure_gradient_r(pp[ip], pm[ip], pp[im], pm[im], mr[x])) * weight;
      else
        q[x] = u[x] * weight;
      kept[x] = kept[x] * weight;
      r[x] = kept[x];
    }
  };
#pragma omp simd
  for (int x = 1; x <= kBody; ++x) point(x, x, x - 1, false);
  point(NR - 2, NR - 2, NR - 3, false);
  // The walls i = 1 and 91, with the cells the tables fold onto them.
  point(0, w.ip1, w.im1, false);
  point(NR - 1, w.ipn, w.imn, hold_w_outer);
}

// Jacobi update of cell row l from the trial rows l (qa, ra) and l + 1
// (qb, rb): minus four times the weighted divergence of the trial
// tendencies, less the target, times the relaxation coefficient.
void update_row(double* __restrict p, const double* __restrict pdiv, const double* __restrict pcoef,
                const double* __restrict mrh, double mzh, const double* __restrict qa,
                const double* __restrict ra, const double* __restrict qb, const double* __restrict rb) {
  const auto cell = [&](int k) {
    const double minus_div4 = convergence4(qa[k], qa[k + 1], qb[k], qb[k + 1], ra[k], ra[k + 1], rb[k], rb[k + 1],
                                           mrh[k], mzh);
    p[k] = relaxed(p[k], minus_div4, pdiv[k], pcoef[k]);
  };
#pragma omp simd
  for (int k = 0; k < kBody; ++k) cell(k);
  cell(NC - 2);
  cell(NC - 1);
}

}  // namespace

// One sweep, row by row: trial row l + 1 is formed before cell row l moves,
// so every cell sees the pressure of the sweep before (the trial rows read
// the cell rows l and l + 1 only).
void pressure_sweep(State& s, const Field& tu, const Field& tw) {
  const Rows w(s);
  const bool force_u_bottom = s.par.SLIPB != 0.0;
  const bool hold_w_outer = s.par.SLIPS == 0.0;
  Field& drdt = s.saved.DRDT;
  const CellField& pdiv = s.spare.incmp.pdiv;
  const CellField& pcoef = s.spare.incmp.pcoef;
  double* p = s.fields.psi.data();
  alignas(64) double q[2][NR], r[2][NR];  // trial rows by the parity of j
  if (force_u_bottom)
    trial_row<true, false>(s, w, tu, tw, drdt, 1, hold_w_outer, q[1], r[1]);
  else
    trial_row<false, false>(s, w, tu, tw, drdt, 1, hold_w_outer, q[1], r[1]);
  for (int l = 1; l <= NC; ++l) {
    const int a = l & 1, b = a ^ 1;
    if (l + 1 < NR)
      trial_row<true, true>(s, w, tu, tw, drdt, l + 1, hold_w_outer, q[b], r[b]);
    else
      trial_row<true, false>(s, w, tu, tw, drdt, l + 1, hold_w_outer, q[b], r[b]);
    update_row(p + std::size_t(l - 1) * NC, &pdiv(1, l), &pcoef(1, l), s.basic.mrh.data(), s.basic.mzh(l), q[a],
               r[a], q[b], r[b]);
  }
}

// The first step of a fresh run starts from a pressure of zero and needs
// many sweeps to reach the hydrostatic and dynamic balance.
bool first_pressure_solve(const State& s) { return s.par.TIME == 0.0; }

std::int32_t relaxation_sweeps(const State& s) {
  return first_pressure_solve(s) ? kFirstSolveSweeps : to_int(s.par.PIT);
}

void incmp(State& s, Field& tu, Field& tw, double& dmax) {
  const Basic& g = s.basic;
  Field& scr1 = s.spare.incmp.scr1;
  Field& scr2 = s.spare.incmp.scr2;
  CellField& pcoef = s.spare.incmp.pcoef;
  CellField& pdiv = s.spare.incmp.pdiv;

  const double* rc = g.rc.data();
  const double* mrh = g.mrh.data();
  for (int j = 1; j <= NR; ++j) {
    const double rho = g.rho(j);
    const double* __restrict u = &s.fields.u(1, j);
    const double* __restrict w = &s.fields.w(1, j);
    double* __restrict ru = &scr1(1, j);
    double* __restrict rw = &scr2(1, j);
    const auto point = [&](int x) {
      const double weight = rc[x] * rho;
      ru[x] = u[x] * weight;
      rw[x] = w[x] * weight;
    };
#pragma omp simd
    for (int x = 0; x < kBody; ++x) point(x);
    for (int x = kBody; x < NR; ++x) point(x);
  }

  // Relaxation coefficients and divergence targets; every cell is
  // independent, so the cells are visited in storage order.
  const double rdt = 1.0 / s.par.DT;
  const double rlx = s.par.RLX;
  double dm = 0.0;
  alignas(64) double size[NC];  // |divergence| of the cells of a row
  for (int l = 1; l <= NC; ++l) {
    const double mzh = g.mzh(l);
    const double* __restrict u0 = &scr1(1, l);
    const double* __restrict u1 = &scr1(1, l + 1);
    const double* __restrict w0 = &scr2(1, l);
    const double* __restrict w1 = &scr2(1, l + 1);
    double* __restrict coef = &pcoef(1, l);
    double* __restrict target = &pdiv(1, l);
    const auto cell = [&](int k) {
      coef[k] = relaxation_coefficient(rlx, mrh[k], mzh, rc[k], rc[k + 1]);
      const double div4 =
          divergence4(u0[k], u0[k + 1], u1[k], u1[k + 1], w0[k], w0[k + 1], w1[k], w1[k + 1], mrh[k], mzh);
      size[k] = std::fabs(0.25 * div4);
      target[k] = divergence_target(div4, rdt);
    };
#pragma omp simd
    for (int k = 0; k < kBody; ++k) cell(k);
    cell(NC - 2);
    cell(NC - 1);
    // A NaN divergence stays in the diagnostic rather than being skipped.
    for (int k = 0; k < NC; ++k)
      if (size[k] > dm || std::isnan(size[k])) dm = size[k];
  }
  dmax = dm;

  if (s.par.PIT <= 0.0) {
    exact_pressure(s, tu, tw);
  } else {
    if (first_pressure_solve(s))
      write_record(*s.out, Record() << "first time in pressure solver, using pit=1000");
    const std::int32_t sweeps = relaxation_sweeps(s);
    for (std::int32_t n = 0; n < sweeps; ++n) pressure_sweep(s, tu, tw);
  }

  pforce(s, tu, tu, tw, tw);
}

}  // namespace qel
