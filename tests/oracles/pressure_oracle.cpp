// incmp and pforce column by column, one operation per loop, every value
// read through the index tables, with the shared pressure formulas.
#include <cmath>

#include "model/render.hpp"
#include "oracles/oracles.hpp"
#include "primitive/pressure_stencils.hpp"
#include "primitive/primitive.hpp"

namespace qel {

using namespace stencil;

void pforce_oracle(State& s, Field& outr, const Field& inr, Field& outz, const Field& inz) {
  const ConstCellView p = s.fields.p();
  const Basic& g = s.basic;
  const Bnds& t = s.bnds;
  Array1<NR> dpdr, dpdz;
  // No-slip walls hold u on the bottom and w on the outer side.
  const int jfirst = s.par.SLIPB == 0.0 ? 2 : 1, ilast = s.par.SLIPS == 0.0 ? NR - 1 : NR;
  for (int i = 1; i <= NR; ++i) {
    const int ip = t.ip(i), im = t.im(i);
    for (int j = 1; j <= NR; ++j) {
      const int jp = t.jp(j), jm = t.jm(j);
      dpdr(j) = pressure_gradient_r(p(ip, jp), p(ip, jm), p(im, jp), p(im, jm), g.mr(i));
      dpdz(j) = pressure_gradient_z(p(ip, jp), p(ip, jm), p(im, jp), p(im, jm), g.mz(j));
    }
    if (jfirst == 2) outr(i, 1) = inr(i, 1);
    for (int j = jfirst; j <= NR; ++j) outr(i, j) = inr(i, j) - dpdr(j);
    for (int j = 2; j <= NR - 1; ++j) outz(i, j) = i <= ilast ? inz(i, j) - dpdz(j) : inz(i, j);
  }
}

void incmp_oracle(State& s, Field& tu, Field& tw, double& dmax) {
  const Basic& g = s.basic;
  Field &scr1 = s.spare.incmp.scr1, &scr2 = s.spare.incmp.scr2, &dqdt = s.saved.DQDT, &drdt = s.saved.DRDT;
  CellField &pcoef = s.spare.incmp.pcoef, &pdiv = s.spare.incmp.pdiv;
  const CellView p = s.fields.p();
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      scr1(i, j) = s.fields.u(i, j) * (g.rc(i) * g.rho(j));
      scr2(i, j) = s.fields.w(i, j) * (g.rc(i) * g.rho(j));
    }
  double dm = 0.0;
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) {
      pcoef(k, l) = relaxation_coefficient(s.par.RLX, g.mrh(k), g.mzh(l), g.rc(k), g.rc(k + 1));
      const double div4 = divergence4(scr1(k, l), scr1(k + 1, l), scr1(k, l + 1), scr1(k + 1, l + 1), scr2(k, l),
                                      scr2(k + 1, l), scr2(k, l + 1), scr2(k + 1, l + 1), g.mrh(k), g.mzh(l));
      const double a = std::fabs(0.25 * div4);
      if (a > dm || std::isnan(a)) dm = a;
      pdiv(k, l) = divergence_target(div4, 1.0 / s.par.DT);
    }
  dmax = dm;

  if (s.par.PIT <= 0.0) {
    exact_pressure(s, tu, tw);
  } else {
    if (s.par.TIME == 0.0) write_record(*s.out, Record() << "first time in pressure solver, using pit=1000");
    const std::int32_t sweeps = s.par.TIME == 0.0 ? 1000 : to_int(s.par.PIT);
    for (std::int32_t n = 0; n < sweeps; ++n) {
      // Trial tendencies; rows j = 1 and 91 of drdt are only reweighted.
      pforce_oracle(s, dqdt, tu, drdt, tw);
      for (int j = 1; j <= NR; ++j)
        for (int i = 1; i <= NR; ++i) {
          dqdt(i, j) = dqdt(i, j) * (g.rc(i) * g.rho(j));
          drdt(i, j) = drdt(i, j) * (g.rc(i) * g.rho(j));
        }
      for (int l = 1; l <= NC; ++l)
        for (int k = 1; k <= NC; ++k) {
          const double minus_div4 =
              convergence4(dqdt(k, l), dqdt(k + 1, l), dqdt(k, l + 1), dqdt(k + 1, l + 1), drdt(k, l),
                           drdt(k + 1, l), drdt(k, l + 1), drdt(k + 1, l + 1), g.mrh(k), g.mzh(l));
          p(k, l) = relaxed(p(k, l), minus_div4, pdiv(k, l), pcoef(k, l));
        }
    }
  }
  pforce_oracle(s, tu, tu, tw, tw);
}

}  // namespace qel
