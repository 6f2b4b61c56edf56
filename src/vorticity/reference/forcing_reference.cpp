#include "vorticity/reference.hpp"

namespace qel {

namespace {

// pi/4 in single precision: 4 * 0.785398 * RAY * b_r is pi * RAY * b_r.
constexpr double kQuarterPiSingle = 0.785398006439209;
// 1/3.1415 with 3.1415 in single precision: the stratification w/pi.
constexpr double kInvPiStrat = 0.31831927461858717;

}  // namespace

void stuff_reference(Field& a, double val) {
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) a(i, j) = val;
}

// Axisymmetric advection carries zeta/r (continued constantly onto the axis)
// and the angular momentum r v (zero on the axis); plane advection carries
// zeta and v themselves.
void axi1_reference(State& s, Field& za, Field& va) {
  const Field& zeta = s.fields.zeta;
  const Field& v = s.fields.v;
  if (s.par.AXI == 0.0) {
    za = zeta;
    va = v;
    return;
  }
  const Array1<NR>& r = s.basic.r;
  for (int j = 1; j <= NR; ++j) {
    for (int i = 2; i <= NR; ++i) {
      za(i, j) = zeta(i, j) / r(i);
      va(i, j) = v(i, j) * r(i);
    }
    za(1, j) = za(2, j);
    va(1, j) = 0.0;
  }
}

// Back from the advected forms: d(zeta/r)/dt * r is the tendency of zeta,
// d(r v)/dt / r that of v. Nothing is advected on the axis.
void axi2_reference(const State& s, Field& t1, Field& t2) {
  const Array1<NR>& r = s.basic.r;
  for (int j = 1; j <= NR; ++j) {
    t1(1, j) = 0.0;
    t2(1, j) = 0.0;
    for (int i = 2; i <= NR; ++i) {
      t1(i, j) = t1(i, j) * r(i);
      t2(i, j) = t2(i, j) / r(i);
    }
  }
}

// The -visc f / r^2 term of the axisymmetric vector Laplacian; the axis line
// is cleared.
void rterm_reference(const State& s, Field& t, const Field& f) {
  const Array1<NR>& r = s.basic.r;
  const Field& visc = s.fields.visc;
  for (int j = 1; j <= NR; ++j) {
    t(1, j) = 0.0;
    for (int i = 2; i <= NR; ++i) t(i, j) = t(i, j) - visc(i, j) * f(i, j) / (r(i) * r(i));
  }
}

// Buoyancy torque b_r (RAY = 0) or pi RAY b_r, by central differences on
// the lines i = 2..90.
void torque_reference(const State& s, Field& t, const Field& b) {
  const double g = s.par.RAY == 0.0 ? 0.25 : kQuarterPiSingle * s.par.RAY;
  const Array1<NR>& mr = s.basic.mr;
  for (int j = 1; j <= NR; ++j)
    for (int i = 2; i <= NR - 1; ++i) t(i, j) = t(i, j) + (b(i + 1, j) - b(i - 1, j)) * (mr(i) * g);
}

// Rotation: -f u in the swirl equation, -f v_z in the vorticity equation,
// and axisymmetrically also the centrifugal term -(1/r) (v^2)_z.
void coriolis_reference(const State& s, Field& tz, Field& tv) {
  const double f = s.par.SWIRL;
  const Field& u = s.fields.u;
  const Field& v = s.fields.v;
  const Array1<NR>& r = s.basic.r;
  const Array1<NR>& mz = s.basic.mz;

  for (int j = 1; j <= NR; ++j)
    for (int i = 2; i <= NR - 1; ++i) tv(i, j) = tv(i, j) - u(i, j) * f;

  if (s.par.AXI <= 0.0) {
    for (int j = 2; j <= NR - 1; ++j) {
      const double c = mz(j) * (f * 0.25);
      for (int i = 2; i <= NR - 1; ++i) tz(i, j) = tz(i, j) + c * (v(i, j - 1) - v(i, j + 1));
    }
  } else {
    for (int j = 2; j <= NR - 1; ++j) {
      for (int i = 2; i <= NR - 1; ++i) {
        const double vm = v(i, j - 1);
        const double vp = v(i, j + 1);
        tz(i, j) = tz(i, j) + ((vm - vp) * f + (vm * vm - vp * vp) * (1.0 / r(i))) * mz(j) * 0.25;
      }
    }
  }
}

// Background stratification w/pi in the buoyancy equation, away from the
// bottom and top lines.
void strat_reference(const State& s, Field& tb) {
  const Field& w = s.fields.w;
  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 1; i <= NR; ++i) tb(i, j) = tb(i, j) + w(i, j) * kInvPiStrat;
}

}  // namespace qel
