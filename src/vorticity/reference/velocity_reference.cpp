#include "vorticity/reference.hpp"

namespace qel {

// Mass fluxes flr = -psi_z, flz = psi_r and velocities u = flr/(rc rho),
// w = flz/(rc rho) (no rc in plane geometry). The tangential flux on a wall
// is the one-sided difference scaled by that wall's slip switch: 0 on a
// no-slip wall. The axis line i = 1 has no switch.
void velocity_reference(State& s) {
  const Basic& g = s.basic;
  const Par& p = s.par;
  const Field& psi = s.fields.psi;
  Field& flr = s.others.flr;
  Field& flz = s.others.flz;

  for (int j = 1; j <= NR; ++j) {
    flz(1, j) = (psi(2, j) - psi(1, j)) * (g.mr(1) * 0.5);
    for (int i = 2; i <= NR - 1; ++i) flz(i, j) = (psi(i + 1, j) - psi(i - 1, j)) * g.mr(i) * 0.25;
    flz(NR, j) = (psi(NR, j) - psi(NR - 1, j)) * (g.mr(NR) * 0.5 * p.SLIPS);
  }

  for (int i = 1; i <= NR; ++i) flr(i, 1) = (psi(i, 2) - psi(i, 1)) * (g.mz(1) * (-0.5)) * p.SLIPB;
  for (int j = 2; j <= NR - 1; ++j) {
    const double c = g.mz(j) * (-0.25);
    for (int i = 1; i <= NR; ++i) flr(i, j) = c * (psi(i, j + 1) - psi(i, j - 1));
  }
  for (int i = 1; i <= NR; ++i)
    flr(i, NR) = (psi(i, NR) - psi(i, NR - 1)) * (g.mz(NR) * (-0.5) * p.SLIPT);

  Field& u = s.fields.u;
  Field& w = s.fields.w;
  // The reciprocal is formed first and then multiplied.
  for (int j = 1; j <= NR; ++j) {
    if (p.AXI != 0.0) {
      for (int i = 1; i <= NR; ++i) {
        const double q = 1.0 / (g.rc(i) * g.rho(j));
        u(i, j) = flr(i, j) * q;
        w(i, j) = flz(i, j) * q;
      }
    } else {
      const double q = 1.0 / g.rho(j);
      for (int i = 1; i <= NR; ++i) {
        u(i, j) = flr(i, j) * q;
        w(i, j) = flz(i, j) * q;
      }
    }
  }
}

// No-slip walls: psi is constant along the wall and its normal derivative
// vanishes, so (8 psi(h) - psi(2h) - 7 psi(0)) / (2 h^2) is a second-order
// estimate of psi_nn, and the Poisson equation gives the wall vorticity
// psi_nn / r (axisymmetric) or psi_nn (plane, whose Poisson equation has no
// factor r). mz(1)^2 / 16 = 1 / (4 h^2), so the new wall value is the mean of
// the old one and the estimate: an under-relaxation applied once per step.
// The corners (91,1) and (91,91) follow the bottom and top rules; the line
// i = 1 is never touched. On a no-slip wall the swirl is stopped as well.
void boundary_reference(State& s) {
  const Basic& g = s.basic;
  const Par& p = s.par;
  const Field& psi = s.fields.psi;
  Field& zeta = s.fields.zeta;
  Field& v = s.fields.v;
  const bool axi = p.AXI != 0.0;

  if (p.SLIPB == 0.0) {
    const double c = g.mz(1) * g.mz(1) * 0.0625;
    for (int i = 2; i <= NR; ++i) {
      v(i, 1) = 0.0;
      double e = (8.0 * psi(i, 2) - psi(i, 3) - 7.0 * psi(i, 1)) * c;
      if (axi) e = e / g.r(i);
      zeta(i, 1) = 0.5 * zeta(i, 1) + e;
    }
  }

  if (p.SLIPT == 0.0) {
    const double c = g.mz(NR) * g.mz(NR) * 0.0625;
    for (int i = 2; i <= NR; ++i) {
      v(i, NR) = 0.0;
      double e = (8.0 * psi(i, NR - 1) - psi(i, NR - 2) - 7.0 * psi(i, NR)) * c;
      if (axi) e = e / g.r(i);
      zeta(i, NR) = 0.5 * zeta(i, NR) + e;
    }
  }

  if (p.SLIPS == 0.0) {
    const double c = g.mr(NR) * g.mr(NR) * 0.0625;
    const double rinv = axi ? 1.0 / g.r(NR) : 1.0;
    for (int j = 2; j <= NR - 1; ++j) {
      v(NR, j) = 0.0;
      double e = (8.0 * psi(NR - 1, j) - psi(NR - 2, j) - 7.0 * psi(NR, j)) * c;
      if (axi) e = e * rinv;
      zeta(NR, j) = 0.5 * zeta(NR, j) + e;
    }
  }
}

}  // namespace qel
