#include "timeint/timeint.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "model/render.hpp"

namespace qel {

void abcoef(State& s, double ratio1, double ratio2) {
  Array2<3, 3>& abc = s.adams.abc;
  const double r1 = ratio1;
  const double r2 = ratio2;

  // One level: forward Euler.
  abc(1, 1) = 1.0;
  abc(2, 1) = 0.0;
  abc(3, 1) = 0.0;

  // Two levels: the line through the tendencies at 0 and -r1, integrated
  // over [0, 1].
  const double c1 = -0.5 / r1;
  abc(1, 2) = 1.0 - c1;
  abc(2, 2) = c1;
  abc(3, 2) = 0.0;

  // Three levels: the parabola through 0, -r1, -r2. The oldest weight first,
  // the middle one from it, the newest as the remainder so the column sums
  // to one.
  const double c3 = (3.0 * r1 + 2.0) / ((r2 - r1) * (6.0 * r2));
  const double c2 = (-1.0 - 2.0 * c3 * r2) / (2.0 * r1);
  abc(1, 3) = 1.0 - (c2 + c3);
  abc(2, 3) = c2;
  abc(3, 3) = c3;
}

int adams_levels(int nstep) {
  if (nstep <= 0) return 1;
  return nstep == 1 ? 2 : 3;
}

void hop(const State& s, int nlev, int knew, int kold, int kolder, double dt, const Tend& t,
         Field& f) {
  const Array2<3, 3>& abc = s.adams.abc;
  const double a1 = abc(1, nlev);
  const double a2 = abc(2, nlev);
  const double a3 = abc(3, nlev);
  const double* t1 = slot(t, knew).data();
  const double* t2 = slot(t, kold).data();
  const double* t3 = slot(t, kolder).data();
  double* fp = f.data();
  // Levels with zero weight are still read: their slots hold finite values.
  for (std::size_t n = 0; n < Field::size(); ++n)
    fp[n] = fp[n] + dt * ((a1 * t1[n] + a2 * t2[n]) + a3 * t3[n]);
}

double rm(State& s, const Field& a) {
  Array1<NR>& h = s.saved.H;
  // Running maximum of each column j, advanced one row i at a time: the
  // 91 maxima are independent, so the pass is not one long dependency
  // chain. A candidate equal to the running value replaces it, so a NaN
  // enters only as the first value of a column.
  for (int j = 1; j <= NR; ++j) h(j) = std::fabs(a(1, j));
  for (int i = 2; i <= NR; ++i)
    for (int j = 1; j <= NR; ++j) {
      const double c = std::fabs(a(i, j));
      h(j) = c >= h(j) ? c : h(j);
    }
  double big = h(1);
  for (int j = 2; j <= NR; ++j) big = h(j) >= big ? h(j) : big;
  return big;
}

void adtime(State& s, double& cmaxr, double& cmaxz) {
  const Field& u = s.fields.u;
  const Field& w = s.fields.w;
  const Array1<NR>& mr = s.basic.mr;
  const Array1<NR>& mz = s.basic.mz;
  Field& ucon = s.contra.ucon;
  Field& wcon = s.contra.wcon;
  for (int j = 1; j <= NR; ++j) {
    const double mzj = mz(j);
    for (int i = 1; i <= NR; ++i) {
      ucon(i, j) = u(i, j) * mr(i);
      wcon(i, j) = w(i, j) * mzj;
    }
  }
  cmaxr = rm(s, ucon);
  cmaxz = rm(s, wcon);
}

double diffmax(State& s) {
  const Field& visc = s.fields.visc;
  const Array1<NR>& mr = s.basic.mr;
  const Array1<NR>& mz = s.basic.mz;
  Field& dn = s.spare.diffmax.scr1;
  // Local diffusion number K (1/dr^2 + 1/dz^2) with m = 2/spacing.
  for (int j = 1; j <= NR; ++j) {
    const double mz2 = mz(j) * mz(j);
    for (int i = 1; i <= NR; ++i) dn(i, j) = (mr(i) * mr(i) + mz2) * visc(i, j) * 0.25;
  }
  return rm(s, dn);
}

double stepsize(State& s) {
  // Floors that keep both limits finite for a flow at rest without
  // viscosity; the second is the single-precision 1.0E-15 widened.
  constexpr double kSpeedFloor = 1.0e-6;
  constexpr double kDiffFloor = 1.0000000036274937e-15;
  Par& p = s.par;
  const double vmax = std::max(s.others.cflr, std::max(s.others.cflz, kSpeedFloor));
  const double dtcfl = p.CFL / vmax;
  double dtdiff = p.DIFF / (diffmax(s) + kDiffFloor);
  // Each minimum keeps its first operand only when it is strictly smaller.
  dtdiff = dtdiff < p.DTMAX ? dtdiff : p.DTMAX;
  p.DT = dtcfl < dtdiff ? dtcfl : dtdiff;
  return p.DT;
}

double checked_stepsize(State& s, double floor, std::string_view record, std::string_view core) {
  const double dt = stepsize(s);
  if (dt < floor) {
    write_record(*s.out, Record() << record << dt);
    throw Stop(1, "the " + std::string(core) + " core stopped: the time step " + real_text(dt) +
                      " fell below " + real_text(floor) +
                      " (CFL and diffusion limits); the flow is blowing up or CFL/DIFF/DTMAX is 0");
  }
  return dt;
}

}  // namespace qel
