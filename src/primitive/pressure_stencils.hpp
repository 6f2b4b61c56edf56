// The formulas of the pressure correction, each written once: the gradient
// of the cell pressure at a point, the weighted divergence at a cell centre,
// and the relaxation of a cell pressure by its residual. incmp, pforce and
// the exact pressure arrange their loops around these.
#pragma once

namespace qel::stencil {

// Corners of cell (k, l): x00 at point (k, l), x10 at (k+1, l), x01 at
// (k, l+1), x11 at (k+1, l+1). Around point (i, j): pp the cell row above,
// pm the one below; ip the cell column outside, im the one inside.

// dp/dr and dp/dz at a point: the difference of the two cell pairs on
// either side, each pair averaged. On a wall the index tables fold the
// missing side onto the present one, so the normal gradient there is zero.
inline double pressure_gradient_r(double pp_ip, double pm_ip, double pp_im, double pm_im, double mr) {
  return ((pp_ip + pm_ip) - (pp_im + pm_im)) * mr * 0.25;
}
inline double pressure_gradient_z(double pp_ip, double pm_ip, double pp_im, double pm_im, double mz) {
  return ((pp_im + pp_ip) - (pm_ip + pm_im)) * 0.25 * mz;
}

// Four times the divergence of the r rho weighted vector (q, r) at the
// cell centre.
inline double divergence4(double q00, double q10, double q01, double q11, double r00, double r10,
                          double r01, double r11, double mrh, double mzh) {
  return ((r11 + r01) - (r00 + r10)) * mzh + ((q10 + q11) - (q00 + q01)) * mrh;
}

// Minus four times that divergence, as the relaxation sums it.
inline double convergence4(double q00, double q10, double q01, double q11, double r00, double r10,
                           double r01, double r11, double mrh, double mzh) {
  return ((r00 + r10) - (r01 + r11)) * mzh + ((q00 + q01) - (q10 + q11)) * mrh;
}

// The target of a cell, div_w(u, w)/(4 DT) from div4 = 4 div_w (rdt = 1/DT).
inline double divergence_target(double div4, double rdt) { return div4 * 0.0625 * rdt; }

// The Jacobi coefficient of a cell: RLX over the diagonal of the discrete
// pressure operator, mean radius of the cell's two columns.
inline double relaxation_coefficient(double rlx, double mrh, double mzh, double rc0, double rc1) {
  return rlx / ((mzh * mzh + mrh * mrh) * 0.5 * (rc0 + rc1));
}

// One Jacobi move of a cell pressure by its residual:
//   p += (-div_w(trial) - div_w(u, w)/(4 DT)) * pcoef.
inline double relaxed(double p, double minus_div4, double target, double pcoef) {
  return p + (0.25 * minus_div4 - target) * pcoef;
}

}  // namespace qel::stencil
