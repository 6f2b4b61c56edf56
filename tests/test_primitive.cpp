#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "grid/grid.hpp"
#include "primitive/primitive.hpp"

using namespace qel;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// A unit box stretched towards the axis and the bottom, ready for a step.
std::unique_ptr<State> make_state(double axi) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = p.HITE = 1.0;
  p.STR = 0.8;
  p.STZ = 0.9;
  p.AXI = axi;
  p.RLX = 1.0;
  p.DT = 0.01;
  p.TIME = 1.0;
  p.USEPRIM = p.BACTIVE = p.FROUDEINV = p.BUOYBOUND = p.SLIPB = p.SLIPS = 1.0;
  p.ORDER = 3.0;
  p.CFL = 0.5;
  p.DIFF = 0.2;
  p.DTMAX = 0.002;
  p.PIT = 20.0;
  p.REI = 0.01;
  maketrans(*s);
  s->fields.visc.fill(p.REI);
  utop(s->fields.visc, s->fields.viscp);
  s->others.dtold1 = s->others.dtold2 = 1.0;
  return s;
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

// Net flux of the rc-weighted vector (a, c) out of cell (k, l) per unit
// area, each face value the mean of its two end points.
double cell_divergence(const State& s, const Field& a, const Field& c, int k, int l) {
  const Array1<NR>& rc = s.basic.rc;
  return 0.5 * (a(k + 1, l) * rc(k + 1) + a(k + 1, l + 1) * rc(k + 1) - a(k, l) * rc(k) - a(k, l + 1) * rc(k)) /
             (s.basic.r(k + 1) - s.basic.r(k)) +
         0.5 * (c(k, l + 1) * rc(k) + c(k + 1, l + 1) * rc(k + 1) - c(k, l) * rc(k) - c(k + 1, l) * rc(k + 1)) /
             (s.basic.z(l + 1) - s.basic.z(l));
}

bool same(const Field& a, const Field& b) { return a.a == b.a; }

// The driver's time loop reduced to what the core relies on.
void run_steps(State& s, int steps) {
  int knew = 1, kold = 2, kolder = 3;
  for (int n = 0; n < steps; ++n) {
    prim(s, knew, kold, kolder, n);
    s.par.TIME += s.par.DT;
    s.others.dtold2 = s.others.dtold1;
    s.others.dtold1 = s.par.DT;
    std::swap(knew, kolder);  // (knew, kold, kolder) <- (kolder, knew, kold)
    std::swap(kold, kolder);
  }
}

}  // namespace

// The pair-averaged difference is exact for a pressure linear in r and z on
// a stretched grid; through the walls it is exactly zero, along them exact.
TEST(Pforce, LinearPressureGivesExactGradientAndNoneThroughWalls) {
  auto s = make_state(0.0);
  const double a = 1.5, b = -2.25;
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k)
      s->fields.p()(k, l) = a * (s->basic.r(k) + s->basic.r(k + 1)) / 2 + b * (s->basic.z(l) + s->basic.z(l + 1)) / 2;
  Field inr, inz, outr, outz;
  bump(*s, inr, 0.3, 0.6, 1.0);
  bump(*s, inz, 0.6, 0.3, -1.0);
  outz.fill(7.0);
  pforce(*s, outr, inr, outz, inz);
  // Pressures <= 4 with a few roundings, differenced and scaled by m/4 <= 60.
  const double tol = 16.0 * kEps * 4.0 * 60.0;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      if (i == 1 || i == NR) EXPECT_EQ(outr(i, j), inr(i, j));
      else EXPECT_NEAR(outr(i, j), inr(i, j) - a, tol);
      if (j == 1 || j == NR) EXPECT_EQ(outz(i, j), 7.0);
      else EXPECT_NEAR(outz(i, j), inz(i, j) - b, tol);
    }
  pforce(*s, inr, inr, inz, inz);  // in place gives the same
  for (int j = 2; j < NR; ++j)
    for (int i = 1; i <= NR; ++i) ASSERT_TRUE(inr(i, j) == outr(i, j) && inz(i, j) == outz(i, j));
}

// The sweeps drive the weighted divergence of the corrected tendency towards
// -div(u)/(4 DT); the correction never touches u's tendency on i = 1, 91 nor
// w's on j = 1, 91, whose trial values stay zero.
TEST(Incmp, SweepsReduceTheResidualDivergenceAndSpareTheWalls) {
  for (double axi : {0.0, 1.0}) {
    auto base = make_state(axi);
    base->par.RLX = 1.8;
    bump(*base, base->fields.u, 0.5, 0.4, 0.2);
    bump(*base, base->fields.w, 0.3, 0.6, -0.1);
    Field tu0, tw0;
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        tu0(i, j) = std::sin(0.1 * i + 0.2 * j) + 5.0 * std::exp(-0.01 * ((i - 40) * (i - 40) + (j - 50) * (j - 50)));
        tw0(i, j) = std::cos(0.3 * i - 0.1 * j);
      }
    double previous = std::numeric_limits<double>::infinity(), first = 0.0;
    for (int sweeps : {0, 4, 16, 64, 256}) {
      auto s = std::make_unique<State>(*base);
      s->par.PIT = sweeps;
      Field tu = tu0, tw = tw0;
      for (int i = 1; i <= NR; ++i) tw(i, 1) = tw(i, NR) = 0.0;
      incmp(*s, tu, tw, s->others.divmax);
      double resid = 0.0;
      for (int l = 1; l <= NC; ++l)
        for (int k = 1; k <= NC; ++k) {
          const double target = -cell_divergence(*s, s->fields.u, s->fields.w, k, l) / (4.0 * s->par.DT);
          resid = std::fmax(resid, std::fabs(cell_divergence(*s, tu, tw, k, l) - target));
        }
      EXPECT_LT(resid, previous) << "axi " << axi << ", " << sweeps << " sweeps";
      previous = resid;
      if (sweeps == 0) first = resid;
      for (int k = 1; k <= NR; ++k) {
        ASSERT_TRUE(tu(1, k) == tu0(1, k) && tu(NR, k) == tu0(NR, k)) << k;
        ASSERT_TRUE(tw(k, 1) == 0.0 && tw(k, NR) == 0.0 && s->saved.DRDT(k, 1) == 0.0) << k;
      }
    }
    // A stalled or wrongly signed iteration would keep the residual or let
    // it grow; these ten-cell features lose most of it in 256 sweeps.
    EXPECT_LT(previous, 0.4 * first) << "axi " << axi;
  }
}

// 1000 sweeps and a message whenever TIME is exactly 0, else PIT truncated
// towards zero, none for PIT <= 0 or NaN: identified by the pressure left.
// One sweep moves every cell by its own residual.
TEST(Incmp, SweepCountFollowsPitAndTheFirstTimeBranch) {
  auto base = make_state(1.0);
  bump(*base, base->fields.u, 0.5, 0.5, 0.05);
  auto run = [&](double time, double pit, std::string* printed = nullptr) {
    auto s = std::make_unique<State>(*base);
    std::ostringstream out;
    s->out = &out;
    s->par.TIME = time;
    s->par.PIT = pit;
    Field tu{}, tw{};
    incmp(*s, tu, tw, s->others.divmax);
    if (printed) *printed = out.str();
    return s->fields.psi;
  };
  std::string printed;
  const Field two = run(1.0, 2.0, &printed), none = run(1.0, 0.0);
  EXPECT_EQ(printed, "");
  EXPECT_TRUE(same(run(1.0, 2.9), two));
  EXPECT_FALSE(same(run(1.0, 3.0), two));
  EXPECT_FALSE(same(none, two));
  EXPECT_TRUE(same(none, base->fields.psi));
  for (double pit : {0.5, -3.0, std::nan("")}) EXPECT_TRUE(same(run(1.0, pit), none)) << pit;
  EXPECT_TRUE(same(run(0.0, 0.0, &printed), run(1.0, 1000.0)));
  EXPECT_EQ(printed, " first time in pressure solver, using pit=1000\n");

  // One Jacobi sweep from p = 0 with no tendencies moves each cell by
  // -div(u)/(4 DT) * RLX/((mrh^2 + mzh^2) rc_cell), to a few roundings of
  // velocities <= 1 differenced over spacings >= 1/250 and divided by 4 DT.
  const Field one = run(1.0, 1.0);
  const Basic& g = base->basic;
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) {
      const double mrh = 2.0 / (g.r(k + 1) - g.r(k)), mzh = 2.0 / (g.z(l + 1) - g.z(l));
      const double coef = base->par.RLX / ((mrh * mrh + mzh * mzh) * 0.5 * (g.rc(k) + g.rc(k + 1)));
      const double div = cell_divergence(*base, base->fields.u, base->fields.w, k, l);
      EXPECT_NEAR(cells(one)(k, l), -div / (4.0 * base->par.DT) * coef, 64.0 * kEps * 25.0 * 250.0 * coef);
    }
}

// Coriolis does no work; in axisymmetric geometry v^2/r pushes outwards;
// the vertical force is scaled by pi*RAY in single precision.
TEST(Forces, CoriolisDoesNoWorkCentrifugalPushesOutBuoyancyScales) {
  auto s = make_state(1.0);
  s->par.SWIRL = 1.7;
  s->par.RAY = 2.0;
  bump(*s, s->fields.u, 0.4, 0.5, 0.8);
  bump(*s, s->fields.v, 0.3, 0.6, 0.5);
  Field tu{}, tv{}, tw{};
  coriprim(*s, tu, tv);
  buoyant(*s, tw, s->fields.v, 0.5);
  double work = 0.0, scale = 0.0;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double u = s->fields.u(i, j), v = s->fields.v(i, j);
      const double centrifugal = i == 1 || i == NR ? 0.0 : v * v / s->basic.r(i);
      work += u * (tu(i, j) - centrifugal) + v * tv(i, j);
      scale += std::fabs(u * tv(i, j)) + std::fabs(u * centrifugal);
      EXPECT_EQ(tw(i, j), v * 0.5 * (3.141592025756836 * 2.0));
    }
  EXPECT_NEAR(work, 0.0, 8.0 * kEps * scale);
}

// Linear stratification in discrete hydrostatic balance, p_z = b, is a
// steady state: after twenty steps (the first with its 1000 sweeps) the
// velocities are rounding noise.
TEST(Prim, HydrostaticRestStaysAtRest) {
  for (double axi : {0.0, 1.0, 2.0}) {
    auto s = make_state(axi);
    std::ostringstream out;
    s->out = &out;
    s->par.TIME = s->par.BUOYBOUND = 0.0;
    const Basic& g = s->basic;
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) s->fields.b(i, j) = 0.5 + 2.0 * g.z(j);
    // Cell pressures whose pair-averaged difference at point j is b(j).
    for (int l = 1; l <= NC; ++l)
      for (int k = 1; k <= NC; ++k)
        s->fields.p()(k, l) = l == 1 ? 0.0 : s->fields.p()(k, l - 1) + s->fields.b(k, l) * (g.z(l + 1) - g.z(l - 1)) * 0.5;
    run_steps(*s, 20);
    EXPECT_EQ(out.str(), " first time in pressure solver, using pit=1000\n");
    // Per step a residual force of a few roundings of p <= 1.5 scaled by
    // mz <= 250, over 20 steps of at most DTMAX.
    const double bound = 20 * s->par.DTMAX * 64.0 * kEps * 1.5 * 250.0;
    for (std::size_t n = 0; n < Field::size(); ++n)
      ASSERT_TRUE(std::fabs(s->fields.u.a[n]) < bound && std::fabs(s->fields.w.a[n]) < bound) << axi;
  }
}

// Impermeability: w on the bottom and top and u on i = 1, 91 keep their
// initial values exactly in every geometry and scheme.
TEST(Prim, WallNormalVelocitiesNeverChange) {
  const std::pair<double, double> cases[] = {{0.0, 3.0}, {1.0, 5.0}, {2.0, -3.0}, {1.0, -1.0}};
  for (auto [axi, order] : cases) {
    auto s = make_state(axi);
    std::ostringstream out;
    s->out = &out;
    s->par.ORDER = order;
    s->par.SWIRL = s->par.RAY = s->others.bdframp = 0.5;
    Fields& f = s->fields;
    bump(*s, f.u, 0.4, 0.5, 0.3);
    bump(*s, f.v, 0.3, 0.6, 0.4);
    bump(*s, f.b, 0.6, 0.3, 0.5);
    bump(*s, f.bdf, 0.0, 0.3, 2.0);
    for (int k = 1; k <= NR; ++k) {
      f.u(1, k) = 0.01 * std::sin(0.1 * k);
      f.u(NR, k) = f.w(k, NR) = -0.02;
      f.w(k, 1) = 0.03 * std::sin(0.2 * k);
    }
    const Field u0 = f.u, w0 = f.w;
    run_steps(*s, 4);
    for (int k = 1; k <= NR; ++k)
      ASSERT_TRUE(f.w(k, 1) == w0(k, 1) && f.w(k, NR) == w0(k, NR) && f.u(1, k) == u0(1, k) && f.u(NR, k) == u0(NR, k));
    EXPECT_NE(f.u(30, 40), u0(30, 40));
    EXPECT_TRUE(std::isfinite(f.u(30, 40)) && std::isfinite(f.w(30, 40)));
  }
}

// A step below 1.0E-5 prints its record and stops (1.0E-5 itself runs); an
// ORDER without a scheme here, 0 included, stops silently. No field moves.
TEST(Prim, TooSmallStepAndInvalidOrderStop) {
  auto run = [](double dtmax, double order, std::string& printed) {
    auto s = make_state(0.0);
    bump(*s, s->fields.u, 0.4, 0.5, 0.3);
    std::ostringstream out;
    s->out = &out;
    s->par.DTMAX = dtmax;
    s->par.ORDER = order;
    const Field u0 = s->fields.u;
    int status = 0;
    try {
      prim(*s, 1, 2, 3, 0);
    } catch (const Stop& e) {
      status = e.status;
      EXPECT_NE(std::string(e.what()).find(order == 3.0 ? "1.0E-5" : "negative"), std::string::npos) << e.what();
      EXPECT_TRUE(same(s->fields.u, u0));
    }
    printed = out.str();
    return status;
  };
  std::string printed;
  EXPECT_EQ(run(9.99999e-6, 3.0, printed), 1);
  EXPECT_EQ(printed, "  dt too small, dt=   9.9999900000000001E-006\n");
  EXPECT_EQ(run(1.0e-5, 3.0, printed), 0);
  for (double order : {0.0, 1.0, 2.0, 4.0, 6.0, 3.5, std::nan("")}) {
    EXPECT_EQ(run(0.002, order, printed), 1) << order;
    EXPECT_EQ(printed, "") << order;
  }
}
