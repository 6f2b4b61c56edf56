#include "driver/start.hpp"

#include <cmath>

namespace qel {

namespace {

// The pi of the body-force shape: single-precision pi, 3.14159274,
// widened to double.
constexpr double kPiBodyForce = 3.1415927410125732;

}  // namespace

void fresh_fields(State& s) {
  const Par& par = s.par;
  Fields& f = s.fields;
  const Array1<NR>& r = s.basic.r;
  for (int j = 1; j <= NR; ++j) {
    const double z = s.basic.z(j);
    const double step = 1.0 / (1.0 + std::exp(par.BSMOOTH * (par.BINTERFACE - z)));
    for (int i = 1; i <= NR; ++i) {
      f.b(i, j) = step;
      f.v(i, j) = 0.0;
      f.u(i, j) = 0.0;
      f.w(i, j) = 0.0;
      f.psi(i, j) = 0.0;
      f.zeta(i, j) = 0.0;
      const double x = r(i) / par.BDFRX;
      const double y = (z - par.BDFZ) / par.BDFRZ;
      const double rho = std::sqrt(x * x + y * y);
      f.bdf(i, j) = rho < 1.0 ? 0.25 * (1.0 + std::cos(kPiBodyForce * rho)) / par.BDFRZ : 0.0;
    }
  }
}

void viscosity_profile(State& s) {
  const Par& par = s.par;
  for (int j = 1; j <= NR; ++j) {
    const double top = 2.0 * par.REIT * (s.basic.z(j) + 0.5 - par.HITE);
    for (int i = 1; i <= NR; ++i) s.fields.visc(i, j) = top > par.REI ? top : par.REI;
  }
}

}  // namespace qel
