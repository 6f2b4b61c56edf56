#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "elliptic/direct.hpp"
#include "grid/grid.hpp"
#include "primitive/primitive.hpp"

using namespace qel;

// A box wider than high (RWID 1.5, HITE 1), stretched towards the axis and
// the bottom, ready for a step.
static std::unique_ptr<State> make_state(double axi) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = 1.5, p.HITE = p.TIME = 1.0, p.STR = 0.8, p.STZ = 0.9, p.AXI = axi, p.DT = 0.01, p.PIT = 20, p.RLX = 1.8;
  p.BACTIVE = p.FROUDEINV = p.BUOYBOUND = p.SLIPB = p.SLIPS = 1.0, p.ORDER = 3.0, p.CFL = 0.5, p.DIFF = 0.2;
  maketrans(*s), s->fields.visc.fill(0.01), s->fields.viscp.fill(0.01);
  return s;
}

// A smooth bump of width 0.1 centred at (r0, z0) at the interior points.
static void bump(const State& s, Field& f, double r0, double z0, double amp) {
  for (int j = 2; j < NR; ++j)
    for (int i = 2; i < NR; ++i)
      f(i, j) = amp * std::exp(-(std::pow(s.basic.r(i) - r0, 2) + std::pow(s.basic.z(j) - z0, 2)) / 0.01);
}

// What the pressure drives to zero in cell (k, l): the net flux, per unit
// area, of rc times the u and w tendencies in the first slots plus u and w
// over 4 DT = 0.04, each face value the mean of its two end points.
static double residual(const State& s, int k, int l) {
  const Basic& g = s.basic;
  const auto a = [&](int i, int j) { return (slot(s.tends.tu(), 1)(i, j) + s.fields.u(i, j) / 0.04) * g.rc(i); };
  const auto c = [&](int i, int j) { return (slot(s.tends.tw, 1)(i, j) + s.fields.w(i, j) / 0.04) * g.rc(i); };
  return 0.25 * g.mrh(k) * (a(k + 1, l) + a(k + 1, l + 1) - a(k, l) - a(k, l + 1)) +
         0.25 * g.mzh(l) * (c(k, l + 1) + c(k + 1, l + 1) - c(k, l) - c(k + 1, l));
}

// The pair-averaged difference is exact for a pressure linear in r and z on
// a stretched grid, exactly zero through the walls, and w's forcing on the
// bottom and top is left alone: pressures below 4 with a few roundings,
// differenced and scaled by m/4 <= 60, within 1e-12. Coriolis does no work
// and v^2/r pushes outwards, to a few roundings of terms below 1 at 8281
// points; the vertical force is scaled by pi*RAY, pi in single precision.
TEST(Forces, PressureGradientIsExactCoriolisDoesNoWorkBuoyancyIsScaled) {
  auto s = make_state(1.0);
  const Basic& g = s->basic;
  // p = a (r_k + r_k+1) + b (z_l + z_l+1): gradient (2a, 2b).
  double a = 0.75, b = -1.125, work = 0.0;
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) s->fields.p()(k, l) = a * (g.r(k) + g.r(k + 1)) + b * (g.z(l) + g.z(l + 1));
  Field in{}, outr{}, outz{}, tu{}, tv{}, tw{};
  outz.fill(7.0), pforce(*s, outr, in, outz, in);
  s->par.SWIRL = 1.7, s->par.RAY = 2.0;
  bump(*s, s->fields.u, 0.4, 0.5, 0.8), bump(*s, s->fields.v, 0.3, 0.6, 0.5);
  coriprim(*s, tu, tv), buoyant(*s, tw, s->fields.v, 0.5);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const bool ri = i == 1 || i == NR, zj = j == 1 || j == NR;
      ASSERT_NEAR(outr(i, j), ri ? 0.0 : -2 * a, ri ? 0.0 : 1e-12) << i << " " << j;
      ASSERT_NEAR(outz(i, j), zj ? 7.0 : -2 * b, zj ? 0.0 : 1e-12) << i << " " << j;
      const double u = s->fields.u(i, j), v = s->fields.v(i, j), centrifugal = ri ? 0.0 : v * v / g.r(i);
      work += u * (tu(i, j) - centrifugal) + v * tv(i, j);
      ASSERT_EQ(tw(i, j), v * 0.5 * (3.141592025756836 * 2.0)) << i << " " << j;
    }
  EXPECT_NEAR(work, 0.0, 1e-11);
}

// One Jacobi sweep from p = 0 moves each cell by minus its residual times
// RLX / ((mrh^2 + mzh^2) rc_cell), RLX = 1.8, to a few roundings of face
// terms below about 1000 (1e-12), never touching u's tendency on i = 1, 91
// nor w's (zero) on j = 1, 91. The sweep count is PIT truncated, none for
// 0 < PIT < 1 or NaN, or 1000 with a message whenever TIME is exactly 0:
// told by the pressure left.
TEST(Incmp, SweepsFollowPitAndStepByTheResidualSparingTheWalls) {
  std::ostringstream out;
  auto base = make_state(1.0);
  const Basic& g = base->basic;
  bump(*base, base->fields.u, 0.5, 0.4, 0.2), bump(*base, base->fields.w, 0.3, 0.6, -0.1);
  slot(base->tends.tu(), 1).fill(0.3);
  bump(*base, slot(base->tends.tu(), 1), 0.4, 0.5, 5.0), bump(*base, slot(base->tends.tw, 1), 0.6, 0.3, -2.0);
  // incmp on a copy of base: the corrected tendencies replace the trial ones.
  const auto run = [&](double time, double pit) {
    auto s = std::make_unique<State>(*base);
    out.str(""), s->out = &out, s->par.TIME = time, s->par.PIT = pit;
    incmp(*s, slot(s->tends.tu(), 1), slot(s->tends.tw, 1), s->others.divmax);
    return s;
  };
  const auto one = run(1.0, 1.0);
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) {
      const double coef = 1.8 / ((g.mrh(k) * g.mrh(k) + g.mzh(l) * g.mzh(l)) * 0.5 * (g.rc(k) + g.rc(k + 1)));
      EXPECT_NEAR(one->fields.p()(k, l), -residual(*base, k, l) * coef, 1e-12 * coef) << k << " " << l;
    }
  const Field &tu = slot(one->tends.tu(), 1), &tw = slot(one->tends.tw, 1);
  for (int k = 1; k <= NR; ++k)
    EXPECT_TRUE(tu(1, k) == 0.3 && tu(NR, k) == 0.3 && tw(k, 1) == 0.0 && tw(k, NR) == 0.0) << k;
  const auto psi = [&](double time, double pit) { return run(time, pit)->fields.psi; };
  const Field two = psi(1.0, 2.0), none = base->fields.psi;
  EXPECT_TRUE(out.str().empty() && psi(1.0, 2.9).a == two.a && psi(1.0, 3.0).a != two.a && none.a != two.a);
  for (double pit : {0.5, std::nan("")}) EXPECT_TRUE(psi(1.0, pit).a == none.a) << pit;
  const Field first_time = psi(0.0, 2.0);
  EXPECT_EQ(out.str(), " first time in pressure solver, using pit=1000\n");
  EXPECT_TRUE(first_time.a == psi(1.0, 1000.0).a);
}

// Impermeability: over steps in every geometry and scheme, w on the bottom
// and top and u on i = 1, 91 keep their values exactly. A step below 1.0E-5
// prints its record and stops (1.0E-5 itself runs); an ORDER without a
// scheme here, 0 included, stops silently. A stop moves no field.
TEST(Prim, WallNormalVelocitiesHoldAndBadStepsOrSchemesStop) {
  std::ostringstream out;
  const auto run = [&](double axi, double order, double dtmax, int steps) {
    auto s = make_state(axi);
    Fields& f = s->fields;
    out.str(""), s->out = &out, s->par.ORDER = order, s->par.DTMAX = dtmax, s->par.SWIRL = s->par.RAY = 0.5;
    bump(*s, f.u, 0.4, 0.5, 0.3), bump(*s, f.v, 0.3, 0.6, 0.4), bump(*s, f.b, 0.6, 0.3, 0.5);
    for (int k = 1; k <= NR; ++k) f.u(1, k) = f.u(NR, k) = f.w(k, 1) = f.w(k, NR) = -0.02;
    const Field u0 = f.u, w0 = f.w;
    try {
      // The driver's rotation of the levels, knew = 1, 3, 2, 1, ..., and of
      // the past steps.
      for (int n = 0, k = 1; n < steps; ++n, k = (k + 1) % 3 + 1)
        prim(*s, k, k % 3 + 1, (k + 1) % 3 + 1, n), s->others.dtold2 = s->others.dtold1, s->others.dtold1 = s->par.DT;
    } catch (const Stop& e) {
      EXPECT_TRUE(f.u.a == u0.a && f.w.a == w0.a && *e.what()) << e.what();
      return e.status;
    }
    // -2: a wall value changed; -1: the flow did not move or did not stay finite.
    for (int k = 1; k <= NR; ++k)
      for (double x : {f.u(1, k), f.u(NR, k), f.w(k, 1), f.w(k, NR)}) if (x != -0.02) return -2;
    return f.u(30, 40) != u0(30, 40) && std::isfinite(f.u(30, 40)) && std::isfinite(f.w(30, 40)) ? 0 : -1;
  };
  for (const auto& c : {std::array{0.0, 3.0}, {1.0, 5.0}, {2.0, -3.0}, {1.0, -1.0}})
    EXPECT_EQ(run(c[0], c[1], 0.002, 4), 0) << "AXI " << c[0] << ", ORDER " << c[1];
  EXPECT_EQ(run(0.0, 3.0, 9.99999e-6, 1), 1);
  EXPECT_EQ(out.str(), "  dt too small, dt=   9.9999900000000001E-006\n");
  EXPECT_EQ(run(0.0, 3.0, 1.0e-5, 1), 0);
  for (double order : {0.0, 1.0, 2.0, 4.0, 6.0, 3.5, std::nan("")})
    EXPECT_TRUE(run(0.0, order, 0.002, 1) == 1 && out.str().empty()) << order;
}

// Under no-slip walls the sweeps relax the operator that is applied (no
// pressure force on u at j = 1 nor on w at i = 91): from p = 0 the residual
// divergence falls with n instead of stopping at a floor; the exact pressure
// leaves it at rounding level. Tendencies vanish on the walls, as the core
// leaves them.
TEST(Incmp, SweepsConvergeToTheExactPressureUnderNoSlipWalls) {
  auto base = make_state(1.0);
  base->par.SLIPB = base->par.SLIPS = 0.0;
  bump(*base, base->fields.u, 0.5, 0.4, 0.2), bump(*base, base->fields.w, 0.3, 0.6, -0.1);
  bump(*base, slot(base->tends.tu(), 1), 0.4, 0.15, 5.0), bump(*base, slot(base->tends.tw, 1), 0.9, 0.3, -2.0);
  for (int k = 1; k <= NR; ++k) base->fields.u(k, 1) = slot(base->tends.tu(), 1)(k, 1) = 0.0;
  for (int k = 1; k <= NR; ++k) base->fields.w(NR, k) = slot(base->tends.tw, 1)(NR, k) = 0.0;
  DirectSolvers direct;
  base->par.USEPRIM = 1.0, base->par.PIT = 0.0;
  setup_direct(*base, direct);
  const auto run = [&](double pit) {
    auto s = std::make_unique<State>(*base);
    s->par.PIT = pit;
    incmp(*s, slot(s->tends.tu(), 1), slot(s->tends.tw, 1), s->others.divmax);
    return s;
  };
  // The largest residual divergence; with no-slip walls a unique pressure
  // (up to a constant) removes it, so the sweeps converge to it when and only
  // when the divergence they leave keeps falling.
  const auto divergence = [&](const State& s) {
    double d = 0;
    for (int l = 1; l <= NC; ++l)
      for (int k = 1; k <= NC; ++k) d = std::max(d, std::abs(residual(s, k, l)));
    return d;
  };
  // The first sweeps act on the small scales; from 100 on, each tenfold
  // count halves the divergence at least. The gravest mode decays as about
  // 1 - RLX (pi/90)^2/2 a sweep: 10000 sweeps leave a few per cent of the
  // start. The exact pressure leaves rounding alone.
  const double d0 = divergence(*base);
  double d_prev = d0;
  for (const double pit : {100.0, 1000.0, 10000.0}) {
    const double d = divergence(*run(pit));
    EXPECT_LT(d, 0.5 * d_prev) << pit;
    d_prev = d;
  }
  EXPECT_LT(d_prev, 0.05 * d0);
  EXPECT_LT(divergence(*run(0.0)), 1e-12 * d0);
}

// The walls act on the tendencies of one step, here the first (forward
// Euler), from a state that slides along every wall and varies in r there, so that
// the tendencies reaching the walls are not zero. A no-slip bottom grips the
// fluid: u and the swirl v on j = 1 are zero after the step, whatever they
// were; a slip bottom lets both evolve. BUOYBOUND scales b's tendency on the
// bottom and the top rows, once each: halving it halves those rows exactly
// and leaves the interior alone.
TEST(Prim, NoSlipBottomHoldsSwirlAndBuoyboundScalesTheEndRowsOnce) {
  const auto step = [](double slipb, double buoybound) {
    auto s = make_state(1.0);
    s->par.SLIPB = slipb, s->par.BUOYBOUND = buoybound, s->par.SWIRL = 0.5, s->par.DTMAX = 0.002;
    Fields& f = s->fields;
    for (int j = 1; j <= NR; ++j)
      for (int i = 2; i < NR; ++i) {
        const double r = s->basic.r(i), z = s->basic.z(j);
        f.u(i, j) = 0.1 * std::sin(3.0 * r) * (1.0 + z), f.v(i, j) = 0.2 * r * (2.0 - z), f.b(i, j) = 0.3 * r * r + 0.1 * z;
      }
    std::ostringstream out;
    s->out = &out, prim(*s, 1, 2, 3, 0);
    return s;
  };
  const auto noslip = step(0.0, 1.0), slip = step(1.0, 1.0), half = step(1.0, 0.5);
  int moved = 0;
  for (int i = 2; i < NR; ++i) {
    EXPECT_TRUE(noslip->fields.u(i, 1) == 0.0 && noslip->fields.v(i, 1) == 0.0) << i;
    moved += slip->fields.v(i, 1) != 0.2 * slip->basic.r(i) * 2.0;
  }
  EXPECT_EQ(moved, NR - 2);
  const Field &tb = slot(slip->tends.tb, 1), &tb_half = slot(half->tends.tb, 1);
  int bottom = 0, top = 0;  // points of each end row with a tendency to scale
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const bool end_row = j == 1 || j == NR;
      ASSERT_EQ(tb_half(i, j), end_row ? 0.5 * tb(i, j) : tb(i, j)) << i << ' ' << j;
      bottom += j == 1 && tb(i, j) != 0.0, top += j == NR && tb(i, j) != 0.0;
    }
  EXPECT_TRUE(bottom > NR / 2 && top > NR / 2) << bottom << ' ' << top;
}
