// The pressure sweeps and the pressure force as first written: column by
// column, one operation per loop, every value read through the index tables.
// They are the oracle the fast versions in pressure.cpp are tested against,
// which must give the same bits.
#include <cmath>

#include "primitive/primitive.hpp"

namespace qel {

// Pressure gradient at the points from the four cells around each point:
// the difference of the two cell pairs on either side, each pair averaged.
// On a wall the index tables fold the missing side onto the present one, so
// the normal gradient there is exactly zero. A no-slip wall holds its
// tangential velocity at zero, u on the bottom (SLIPB = 0) and w on the
// outer wall (SLIPS = 0): no pressure force acts on those lines.
void pforce_reference(State& s, Field& outr, const Field& inr, Field& outz, const Field& inz) {
  const ConstCellView p = s.fields.p();
  const Basic& g = s.basic;
  const Bnds& t = s.bnds;
  Array1<NR>& dpd1 = s.saved.DPD1;
  Array1<NR>& dpd2 = s.saved.DPD2;
  const int jfirst = s.par.SLIPB == 0.0 ? 2 : 1;
  const int ilast = s.par.SLIPS == 0.0 ? NR - 1 : NR;
  for (int i = 1; i <= NR; ++i) {
    const int ip = t.ip(i);
    const int im = t.im(i);
    for (int j = 1; j <= NR; ++j) {
      const int jp = t.jp(j);
      const int jm = t.jm(j);
      dpd1(j) = ((p(ip, jp) + p(ip, jm)) - (p(im, jp) + p(im, jm))) * g.mr(i) * 0.25;
      dpd2(j) = ((p(im, jp) + p(ip, jp)) - (p(ip, jm) + p(im, jm))) * 0.25 * g.mz(j);
    }
    if (jfirst == 2) outr(i, 1) = inr(i, 1);
    for (int j = jfirst; j <= NR; ++j) outr(i, j) = inr(i, j) - dpd1(j);
    // w is not forced through the bottom and top.
    if (i <= ilast)
      for (int j = 2; j <= NR - 1; ++j) outz(i, j) = inz(i, j) - dpd2(j);
    else
      for (int j = 2; j <= NR - 1; ++j) outz(i, j) = inz(i, j);
  }
}

void incmp_reference(State& s, Field& tu, Field& tw, double& dmax) {
  const Basic& g = s.basic;
  Field& scr1 = s.spare.incmp.scr1;
  Field& scr2 = s.spare.incmp.scr2;
  CellField& pcoef = s.spare.incmp.pcoef;
  CellField& pdiv = s.spare.incmp.pdiv;
  Field& dqdt = s.saved.DQDT;
  Field& drdt = s.saved.DRDT;
  const CellView p = s.fields.p();

  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double weight = g.rc(i) * g.rho(j);
      scr1(i, j) = s.fields.u(i, j) * weight;
      scr2(i, j) = s.fields.w(i, j) * weight;
    }

  // Relaxation coefficients and divergence targets; every cell is
  // independent, so the cells are visited in storage order.
  const double rdt = 1.0 / s.par.DT;
  double dm = 0.0;
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) {
      pcoef(k, l) = s.par.RLX /
                    ((g.mzh(l) * g.mzh(l) + g.mrh(k) * g.mrh(k)) * 0.5 * (g.rc(k) + g.rc(k + 1)));
      // Four times the weighted divergence of the present velocity.
      const double div4 = ((scr2(k + 1, l + 1) + scr2(k, l + 1)) - (scr2(k, l) + scr2(k + 1, l))) * g.mzh(l) +
                          ((scr1(k + 1, l) + scr1(k + 1, l + 1)) - (scr1(k, l) + scr1(k, l + 1))) * g.mrh(k);
      // A NaN divergence stays in the diagnostic rather than being skipped.
      const double a = std::fabs(0.25 * div4);
      if (a > dm || std::isnan(a)) dm = a;
      pdiv(k, l) = div4 * 0.0625 * rdt;
    }
  dmax = dm;

  if (s.par.PIT <= 0.0) {
    exact_pressure(s, tu, tw);
  } else {
    const std::int32_t sweeps = sweep_count(s);

    for (std::int32_t n = 0; n < sweeps; ++n) {
      // Trial tendencies; rows j = 1 and 91 of drdt stay zero, as w is held
      // on the bottom and top.
      pforce_reference(s, dqdt, tu, drdt, tw);
      for (int j = 1; j <= NR; ++j)
        for (int i = 1; i <= NR; ++i) {
          const double weight = g.rc(i) * g.rho(j);
          dqdt(i, j) = dqdt(i, j) * weight;
          drdt(i, j) = drdt(i, j) * weight;
        }
      // Jacobi update: every cell reads only the trial tendencies above.
      for (int l = 1; l <= NC; ++l)
        for (int k = 1; k <= NC; ++k) {
          const double minus_div4 =
              ((drdt(k, l) + drdt(k + 1, l)) - (drdt(k, l + 1) + drdt(k + 1, l + 1))) * g.mzh(l) +
              ((dqdt(k, l) + dqdt(k, l + 1)) - (dqdt(k + 1, l) + dqdt(k + 1, l + 1))) * g.mrh(k);
          p(k, l) = p(k, l) + (0.25 * minus_div4 - pdiv(k, l)) * pcoef(k, l);
        }
    }
  }

  pforce_reference(s, tu, tu, tw, tw);
}

}  // namespace qel
