#include "primitive/primitive.hpp"

namespace qel {

namespace {

// The pi of the RAY scale: 3.141592 (pi cut after six decimals, three ulps
// below single-precision pi) in single precision, widened to double.
constexpr double kPiRay = 3.141592025756836;

// Scale of the vertical forces: 1, or pi*RAY in the units where RAY sets
// the strength of the buoyancy.
double force_scale(const State& s) {
  return s.par.RAY != 0.0 ? kPiRay * s.par.RAY : 1.0;
}

}  // namespace

void buoyant(const State& s, Field& t, const Field& b) {
  const double g = force_scale(s);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) t(i, j) = b(i, j) * g + t(i, j);
}

void buoyant(const State& s, Field& t, const Field& b, double factor) {
  const double g = force_scale(s);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) t(i, j) = (b(i, j) * factor) * g + t(i, j);
}

// Rotating frame: u_t += f v, v_t -= f u; in axisymmetric geometry also the
// centrifugal v^2/r (the -u v/r of the swirl comes from advecting r v).
// The lines i = 1 and 91 are left alone.
void coriprim(const State& s, Field& tu, Field& tv) {
  const double f = s.par.SWIRL;
  const Field& u = s.fields.u;
  const Field& v = s.fields.v;
  if (s.par.AXI <= 0.0) {
    for (int j = 1; j <= NR; ++j)
      for (int i = 2; i <= NR - 1; ++i) {
        tv(i, j) = tv(i, j) - u(i, j) * f;
        tu(i, j) = v(i, j) * f + tu(i, j);
      }
  }
  if (s.par.AXI > 0.0) {
    for (int i = 2; i <= NR - 1; ++i) {
      const double rinv = 1.0 / s.basic.r(i);
      for (int j = 1; j <= NR; ++j) {
        tv(i, j) = tv(i, j) - u(i, j) * f;
        tu(i, j) = (v(i, j) * v(i, j) * rinv + v(i, j) * f) + tu(i, j);
      }
    }
  }
}

// Mass fluxes r rho u and r rho w at the points.
void pvelo(State& s) {
  const Basic& g = s.basic;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double weight = g.rc(i) * g.rho(j);
      s.others.flz(i, j) = s.fields.w(i, j) * weight;
      s.others.flr(i, j) = s.fields.u(i, j) * weight;
    }
}

}  // namespace qel
