#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "grid/grid.hpp"
#include "primitive/primitive.hpp"

using namespace qel;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// A unit box on a grid stretched towards the axis and the bottom (a = 1 is
// uniform), with the parameters the pressure iteration reads.
std::unique_ptr<State> make_state(double axi, double str = 0.7, double stz = 0.8) {
  auto s = std::make_unique<State>();
  s->par.RWID = 1.0;
  s->par.HITE = 1.0;
  s->par.STR = str;
  s->par.STZ = stz;
  s->par.AXI = axi;
  s->par.RLX = 1.0;
  s->par.DT = 0.01;
  s->par.TIME = 1.0;
  s->par.PIT = 0.0;
  maketrans(*s);
  return s;
}

// Cell centre coordinates.
double rcell(const State& s, int k) { return 0.5 * (s.basic.r(k) + s.basic.r(k + 1)); }
double zcell(const State& s, int l) { return 0.5 * (s.basic.z(l) + s.basic.z(l + 1)); }

// Divergence of the rc-weighted point vector (a, c) over cell (k, l): the
// net flux through the four faces, each face value the mean of its two end
// points, divided by the cell area.
double cell_divergence(const State& s, const Field& a, const Field& c, int k, int l) {
  const Basic& g = s.basic;
  auto fa = [&](int i, int j) { return a(i, j) * g.rc(i) * g.rho(j); };
  auto fc = [&](int i, int j) { return c(i, j) * g.rc(i) * g.rho(j); };
  const double dr = g.r(k + 1) - g.r(k);
  const double dz = g.z(l + 1) - g.z(l);
  return 0.5 * ((fa(k + 1, l) + fa(k + 1, l + 1)) - (fa(k, l) + fa(k, l + 1))) / dr +
         0.5 * ((fc(k, l + 1) + fc(k + 1, l + 1)) - (fc(k, l) + fc(k + 1, l))) / dz;
}

// A smooth bump centred at (r0, z0), zero on the four walls.
void bump(const State& s, Field& f, double r0, double z0, double amp) {
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double dr = s.basic.r(i) - r0, dz = s.basic.z(j) - z0;
      const bool wall = i == 1 || i == NR || j == 1 || j == NR;
      f(i, j) = wall ? 0.0 : amp * std::exp(-(dr * dr + dz * dz) / 0.01);
    }
}

void set_linear_pressure(State& s, double a, double b, double c) {
  const CellView p = s.fields.p();
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) p(k, l) = a * rcell(s, k) + b * zcell(s, l) + c;
}

}  // namespace

// ---------------------------------------------------------------- pforce

// The pair-averaged difference is exact for a pressure linear in r and z on
// any stretched grid; on the walls the normal component vanishes and the
// tangential one stays exact.
TEST(Pforce, LinearPressureGivesExactGradientAndNoneThroughWalls) {
  auto s = make_state(0.0);
  const double a = 1.5, b = -2.25;
  set_linear_pressure(*s, a, b, 0.75);
  Field inr, inz, outr, outz;
  bump(*s, inr, 0.3, 0.6, 1.0);
  bump(*s, inz, 0.6, 0.3, -1.0);
  outz.fill(7.0);
  pforce(*s, outr, inr, outz, inz);
  // Four pressures of size <= 4 rounded, differenced, scaled by m/4 <= 70:
  // 16 eps * 4 * 70 bounds the error.
  const double tol = 16.0 * kEps * 4.0 * 70.0;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double dpdr = (i == 1 || i == NR) ? 0.0 : a;
      EXPECT_NEAR(outr(i, j), inr(i, j) - dpdr, tol) << i << "," << j;
      if (j == 1 || j == NR)
        EXPECT_EQ(outz(i, j), 7.0) << "outz written on row " << j;
      else
        EXPECT_NEAR(outz(i, j), inz(i, j) - b, tol) << i << "," << j;
    }
  for (int j = 1; j <= NR; ++j) {
    EXPECT_EQ(outr(1, j), inr(1, j));
    EXPECT_EQ(outr(NR, j), inr(NR, j));
  }

  // In place gives the same numbers; a uniform pressure changes nothing.
  Field r2 = inr, z2 = inz;
  pforce(*s, r2, r2, z2, z2);
  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 1; i <= NR; ++i) {
      EXPECT_EQ(r2(i, j), outr(i, j));
      EXPECT_EQ(z2(i, j), outz(i, j));
    }
  set_linear_pressure(*s, 0.0, 0.0, 3.7);
  pforce(*s, outr, inr, outz, inz);
  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 1; i <= NR; ++i) {
      EXPECT_EQ(outr(i, j), inr(i, j));
      EXPECT_EQ(outz(i, j), inz(i, j));
    }
}

// ---------------------------------------------------------------- incmp

// dmax is the largest weighted divergence of the present velocity: exact
// for linear velocities, and a NaN velocity shows as NaN.
TEST(Incmp, DmaxIsTheLargestWeightedDivergence) {
  auto s = make_state(1.0);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      // rc u = 2 r and w = -0.5 z: the weighted divergence of cell k is
      // 2 - 0.5 * (rc(k) + rc(k+1)) / 2, largest next to the axis.
      s->fields.u(i, j) = 2.0 * s->basic.r(i) / s->basic.rc(i);
      s->fields.w(i, j) = -0.5 * s->basic.z(j);
    }
  Field tu{}, tw{};
  double dmax = -1.0;
  incmp(*s, tu, tw, dmax);
  double expect = 0.0;
  for (int k = 1; k <= NC; ++k)
    expect = std::fmax(expect, std::fabs(2.0 - 0.5 * 0.5 * (s->basic.rc(k) + s->basic.rc(k + 1))));
  // Weighted velocities of size <= 2 carry a few roundings; differences
  // are scaled by mrh, mzh <= 250.
  EXPECT_NEAR(dmax, expect, 64.0 * kEps * 250.0);

  s->fields.w(40, 50) = std::numeric_limits<double>::quiet_NaN();
  incmp(*s, tu, tw, dmax);
  EXPECT_TRUE(std::isnan(dmax));
}

// Sweeps drive the weighted divergence of the corrected tendency towards
// -div(u)/(4 DT): the residual falls with the number of sweeps.
TEST(Incmp, ResidualDivergenceFallsAsSweepsIncrease) {
  for (double axi : {0.0, 1.0}) {
    auto base = make_state(axi);
    base->par.RLX = 1.8;
    bump(*base, base->fields.u, 0.5, 0.4, 0.02);
    bump(*base, base->fields.w, 0.3, 0.6, -0.01);
    Field tu0, tw0;
    bump(*base, tu0, 0.4, 0.5, 1.0);
    bump(*base, tw0, 0.6, 0.5, 0.5);
    double previous = std::numeric_limits<double>::infinity();
    double first = 0.0;
    for (int sweeps : {0, 4, 16, 64, 256}) {
      auto s = std::make_unique<State>(*base);
      std::ostringstream out;
      s->out = &out;
      s->par.PIT = sweeps;
      Field tu = tu0, tw = tw0;
      double dmax = 0.0;
      incmp(*s, tu, tw, dmax);
      double resid = 0.0;
      for (int l = 1; l <= NC; ++l)
        for (int k = 1; k <= NC; ++k) {
          const double target = -cell_divergence(*s, s->fields.u, s->fields.w, k, l) / (4.0 * s->par.DT);
          resid = std::fmax(resid, std::fabs(cell_divergence(*s, tu, tw, k, l) - target));
        }
      if (sweeps == 0) first = resid;
      EXPECT_LT(resid, previous) << "axi " << axi << ", " << sweeps << " sweeps";
      previous = resid;
      EXPECT_TRUE(out.str().empty());
    }
    // The residual of these ten-cell bumps falls steadily; a stalled or
    // wrongly signed iteration would keep it or let it grow.
    EXPECT_LT(previous, 0.4 * first) << "axi " << axi;
  }
}

// One sweep moves every cell by its own residual, computed from the trial
// tendencies of the pressure the sweep started from (a Jacobi sweep):
//   dp = (-div_w(tu - p_r, tw - p_z) - div_w(u, w)/(4 DT)) * RLX / ((mzh^2 + mrh^2) rc_cell).
TEST(Incmp, OneSweepMovesEachCellByItsResidual) {
  for (double axi : {0.0, 1.0}) {
    auto s = make_state(axi);
    std::ostringstream out;
    s->out = &out;
    s->par.PIT = 1.0;
    s->par.RLX = 1.3;
    const double a = 0.3, b = -0.4;
    set_linear_pressure(*s, a, b, 0.1);
    bump(*s, s->fields.u, 0.5, 0.4, 0.02);
    bump(*s, s->fields.w, 0.3, 0.6, -0.01);
    Field tu, tw;
    bump(*s, tu, 0.4, 0.5, 1.0);
    bump(*s, tw, 0.6, 0.5, 0.5);
    // Trial tendencies of the linear pressure: its gradient off the walls.
    Field ttu = tu, ttw = tw;
    for (int j = 1; j <= NR; ++j)
      for (int i = 2; i <= NR - 1; ++i) ttu(i, j) -= a;
    for (int j = 2; j <= NR - 1; ++j)
      for (int i = 1; i <= NR; ++i) ttw(i, j) -= b;
    auto before = std::make_unique<State>(*s);
    double dmax = 0.0;
    incmp(*s, tu, tw, dmax);
    const ConstCellView p0 = before->fields.p(), p1 = s->fields.p();
    for (int l = 1; l <= NC; ++l)
      for (int k = 1; k <= NC; ++k) {
        const double mrh = 2.0 / (s->basic.r(k + 1) - s->basic.r(k));
        const double mzh = 2.0 / (s->basic.z(l + 1) - s->basic.z(l));
        const double coef = 1.3 / ((mrh * mrh + mzh * mzh) * 0.5 * (s->basic.rc(k) + s->basic.rc(k + 1)));
        const double resid = -cell_divergence(*s, ttu, ttw, k, l) -
                             cell_divergence(*s, s->fields.u, s->fields.w, k, l) / (4.0 * s->par.DT);
        // Divergences of values <= 1.5 scaled by spacings down to 1/250,
        // each carrying a few roundings.
        const double tol = 64.0 * kEps * 1.5 * 250.0 * (1.0 + 1.0 / (4.0 * s->par.DT)) * coef;
        EXPECT_NEAR(p1(k, l) - p0(k, l), resid * coef, tol) << "axi " << axi << " cell " << k << "," << l;
      }
  }
}

// Whatever the pressure, the correction leaves the u tendency on the lines
// i = 1, 91 and the w tendency on the rows j = 1, 91 as they came in.
TEST(Incmp, WallTendenciesAreUntouched) {
  auto s = make_state(1.0);
  s->par.PIT = 20.0;
  bump(*s, s->fields.u, 0.5, 0.5, 0.1);
  set_linear_pressure(*s, 0.3, -0.7, 0.0);
  Field tu, tw;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      tu(i, j) = std::sin(0.1 * i + 0.2 * j);
      tw(i, j) = std::cos(0.3 * i - 0.1 * j);
    }
  const Field tu0 = tu, tw0 = tw;
  double dmax = 0.0;
  incmp(*s, tu, tw, dmax);
  for (int k = 1; k <= NR; ++k) {
    EXPECT_EQ(tu(1, k), tu0(1, k));
    EXPECT_EQ(tu(NR, k), tu0(NR, k));
    EXPECT_EQ(tw(k, 1), tw0(k, 1));
    EXPECT_EQ(tw(k, NR), tw0(k, NR));
    EXPECT_EQ(s->saved.DRDT(k, 1), 0.0);
    EXPECT_EQ(s->saved.DRDT(k, NR), 0.0);
  }
  // The interior did feel the pressure.
  EXPECT_NE(tu(45, 45), tu0(45, 45));
  EXPECT_NE(tw(45, 45), tw0(45, 45));
}

// The sweep count: 1000 with a message whenever TIME is exactly 0, else PIT
// truncated towards zero, none for PIT <= 0 or NaN. Identified by the
// pressure it leaves, compared with runs of known length.
TEST(Incmp, SweepCountFollowsPitAndTheFirstTimeBranch) {
  auto base = make_state(0.0);
  bump(*base, base->fields.u, 0.5, 0.5, 0.05);
  set_linear_pressure(*base, 0.2, 0.1, 0.0);
  Field tu0, tw0;
  bump(*base, tu0, 0.4, 0.5, 1.0);
  bump(*base, tw0, 0.6, 0.5, 0.5);

  struct Run {
    std::unique_ptr<State> s;
    std::string out;
    Field tu, tw;
  };
  auto run = [&](double time, double pit, int calls = 1) {
    Run r{std::make_unique<State>(*base), {}, tu0, tw0};
    std::ostringstream out;
    r.s->out = &out;
    r.s->par.TIME = time;
    r.s->par.PIT = pit;
    for (int c = 0; c < calls; ++c) {
      r.tu = tu0;
      r.tw = tw0;
      double dmax = 0.0;
      incmp(*r.s, r.tu, r.tw, dmax);
    }
    r.out = out.str();
    return r;
  };
  auto same_pressure = [](const Run& a, const Run& b) {
    for (std::size_t n = 0; n < std::size_t(NC) * NC; ++n)
      if (a.s->fields.psi.data()[n] != b.s->fields.psi.data()[n]) return false;
    return true;
  };

  const Run two = run(1.0, 2.0), three = run(1.0, 3.0), none = run(1.0, 0.0);
  EXPECT_TRUE(same_pressure(run(1.0, 2.9), two));
  EXPECT_FALSE(same_pressure(two, three));
  EXPECT_FALSE(same_pressure(two, none));
  for (double pit : {0.5, -3.0, std::nan("")}) {
    const Run r = run(1.0, pit);
    EXPECT_TRUE(same_pressure(r, none)) << pit;
    EXPECT_TRUE(r.out.empty());
  }
  // No sweep: the pressure is the one it started from and its gradient is
  // still subtracted.
  for (std::size_t n = 0; n < std::size_t(NC) * NC; ++n)
    ASSERT_EQ(none.s->fields.psi.data()[n], base->fields.psi.data()[n]);
  EXPECT_NEAR(none.tu(45, 45), tu0(45, 45) - 0.2, 1e-10);
  EXPECT_NEAR(none.tw(45, 45), tw0(45, 45) - 0.1, 1e-10);

  const std::string message = " first time in pressure solver, using pit=1000\n";
  const Run first = run(0.0, 0.0);
  EXPECT_EQ(first.out, message);
  EXPECT_TRUE(same_pressure(first, run(1.0, 1000.0)));
  EXPECT_EQ(run(0.0, 5.0, 2).out, message + message);
  EXPECT_TRUE(two.out.empty());
}

// ---------------------------------------------------------------- forces

TEST(Buoyant, AddsTheForceScaledByOneOrPiRay) {
  auto s = make_state(0.0);
  Field b, t0;
  bump(*s, b, 0.5, 0.5, 1.0);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      b(i, j) += 0.25;  // walls included
      t0(i, j) = 0.01 * i - 0.02 * j;
    }
  const double pi_single = 3.141592025756836;
  for (double ray : {0.0, 1.0, 2.5}) {
    s->par.RAY = ray;
    const double g = ray == 0.0 ? 1.0 : pi_single * ray;
    Field t = t0, t4 = t0;
    buoyant(*s, t, b);
    buoyant(*s, t4, b, 0.5);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        EXPECT_EQ(t(i, j), b(i, j) * g + t0(i, j));
        // Exactly what a force array b*0.5 handed to buoyant would give.
        EXPECT_EQ(t4(i, j), (b(i, j) * 0.5) * g + t0(i, j));
      }
  }
}

// The Coriolis force does no work (sum of u*du + v*dv vanishes); the
// centrifugal term pushes outwards as v^2/r; the lines i = 1, 91 are left.
TEST(Coriprim, CoriolisDoesNoWorkAndCentrifugalPushesOutwards) {
  for (double axi : {0.0, 1.0}) {
    auto s = make_state(axi);
    s->par.SWIRL = 0.0;
    bump(*s, s->fields.u, 0.4, 0.5, 0.8);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) s->fields.v(i, j) = 0.5 + 0.3 * std::sin(0.05 * i * j);
    Field tu, tv;
    tu.fill(0.0);
    tv.fill(0.0);

    // Without rotation only the axisymmetric centrifugal term remains.
    coriprim(*s, tu, tv);
    for (int j = 1; j <= NR; ++j)
      for (int i = 2; i <= NR - 1; ++i) {
        const double v = s->fields.v(i, j);
        const double expect = axi > 0.0 ? v * v / s->basic.r(i) : 0.0;
        EXPECT_NEAR(tu(i, j), expect, 4.0 * kEps * expect);
        EXPECT_EQ(tv(i, j), 0.0);
      }

    s->par.SWIRL = 1.7;
    Field cu, cv;
    cu.fill(0.0);
    cv.fill(0.0);
    coriprim(*s, cu, cv);
    double work = 0.0, scale = 0.0;
    for (int j = 1; j <= NR; ++j) {
      for (int i : {1, NR}) {
        EXPECT_EQ(cu(i, j), 0.0);
        EXPECT_EQ(cv(i, j), 0.0);
      }
      for (int i = 2; i <= NR - 1; ++i) {
        const double u = s->fields.u(i, j), v = s->fields.v(i, j);
        EXPECT_NEAR(cu(i, j) - tu(i, j), 1.7 * v, 8.0 * kEps * std::fabs(cu(i, j)));
        work += u * (cu(i, j) - tu(i, j)) + v * cv(i, j);
        scale += std::fabs(u * cv(i, j));
      }
    }
    // Each product carries a few roundings; the sum of 8099 of them.
    EXPECT_NEAR(work, 0.0, 8.0 * kEps * scale) << "axi " << axi;
  }
}

TEST(Pvelo, FluxesAreVelocitiesWeightedByRadius) {
  for (double axi : {0.0, 2.0}) {
    auto s = make_state(axi);
    bump(*s, s->fields.u, 0.4, 0.5, 0.8);
    bump(*s, s->fields.w, 0.6, 0.2, -0.3);
    s->fields.u(1, 30) = 0.4;
    pvelo(*s);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        EXPECT_EQ(s->others.flr(i, j), s->fields.u(i, j) * s->basic.rc(i));
        EXPECT_EQ(s->others.flz(i, j), s->fields.w(i, j) * s->basic.rc(i));
      }
    if (axi == 0.0) EXPECT_EQ(s->others.flr(1, 30), 0.4);
    else EXPECT_EQ(s->others.flr(1, 30), 0.4 * 0.5 * s->basic.r(2));
  }
}
