#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "grid/grid.hpp"
#include "vorticity/vorticity.hpp"

using namespace qel;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// A stretched grid with slip walls.
std::unique_ptr<State> grid(double str, double stz, double axi) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = 1.5, p.HITE = 2.0, p.STR = str, p.STZ = stz, p.AXI = axi;
  p.SLIPS = p.SLIPB = p.SLIPT = 1.0;
  maketrans(*s);
  return s;
}

// A uniform grid of spacing h whose coordinates and factors are exact.
std::unique_ptr<State> exact_grid(double h, double axi) {
  auto s = grid(1.0, 1.0, axi);
  Basic& g = s->basic;
  for (int k = 1; k <= NR; ++k) {
    g.r(k) = g.z(k) = (k - 1) * h;
    g.mr(k) = g.mz(k) = 2.0 / h;
    if (axi != 0.0) g.rc(k) = k == 1 ? h / 2 : k == NR ? (NR - 1.5) * h : (k - 1) * h;
  }
  return s;
}

template <class Fn>
void fill(Field& f, Fn fn) {
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) f(i, j) = fn(i, j);
}

// Largest |f - want| over the points i, j = lo..hi.
template <class Fn>
double maxdiff(const Field& f, int lo, int hi, Fn want) {
  double d = 0;
  for (int j = lo; j <= hi; ++j)
    for (int i = lo; i <= hi; ++i) d = std::max(d, std::abs(f(i, j) - want(i, j)));
  return d;
}
template <class Fn>
double maxdiff(const Field& f, Fn want) {
  return maxdiff(f, 1, NR, want);
}

bool edge(int k) { return k == 1 || k == NR; }

std::mt19937 gen(12345);
double rnd() { return std::uniform_real_distribution<double>(-1.0, 1.0)(gen); }
double irnd() { return std::uniform_int_distribution<int>(-20, 20)(gen); }

// Sum of w f over the cells around the points (half cells at the walls,
// w = cell area * rc * rhoc), and the sum of magnitudes for its rounding.
struct Sum {
  double s = 0, abs = 0;
};
template <class Fn>
Sum cell_sum(const State& st, Fn f) {
  const Basic& g = st.basic;
  Sum r;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double w = (edge(i) ? 1.0 : 2.0) / g.mr(i) * (edge(j) ? 1.0 : 2.0) / g.mz(j);
      const double x = w * g.rc(i) * g.rhoc(j) * f(i, j);
      r.s += x, r.abs += std::abs(x);
    }
  return r;
}

}  // namespace

TEST(Velocity, ZeroStreamFunctionGivesNoFlowAndHalvesNoSlipWallVorticity) {
  for (double axi : {0.0, 1.0}) {
    auto s = grid(0.7, 1.2, axi);
    s->par.SLIPB = s->par.SLIPT = s->par.SLIPS = 0.0;
    fill(s->fields.zeta, [](int i, int j) { return i + 0.01 * j; });
    s->fields.v.fill(3.0);
    velocity(*s);
    boundary(*s);
    auto zero = [](int, int) { return 0.0; };
    EXPECT_EQ(maxdiff(s->others.flr, zero) + maxdiff(s->others.flz, zero), 0.0);
    EXPECT_EQ(maxdiff(s->fields.u, zero) + maxdiff(s->fields.w, zero), 0.0);
    // Bottom, top and side (i > 1) are no-slip walls; the axis is left alone.
    auto wall = [](int i, int j) { return i > 1 && (edge(j) || i == NR); };
    EXPECT_EQ(maxdiff(s->fields.zeta,
                      [&](int i, int j) { return (i + 0.01 * j) * (wall(i, j) ? 0.5 : 1); }),
              0.0);
    EXPECT_EQ(maxdiff(s->fields.v, [&](int i, int j) { return wall(i, j) ? 0.0 : 3.0; }), 0.0);
  }
}

TEST(Velocity, FluxesAreStreamFunctionDerivativesScaledOnSlipWalls) {
  auto s = grid(0.6, 1.3, 0.0);
  const Basic& g = s->basic;
  // psi linear in z: flr = -1 to a few roundings of (4/d) 0.25 d, flz = 0;
  // a no-slip bottom has no tangential flux, a slip top the one-sided one.
  s->par.SLIPB = 0.0;
  fill(s->fields.psi, [&](int, int j) { return g.z(j); });
  velocity(*s);
  for (int i = 1; i <= NR; ++i) EXPECT_EQ(s->others.flr(i, 1), 0.0);
  Field& flr = s->others.flr;
  Field& flz = s->others.flz;
  EXPECT_LE(maxdiff(flr, 2, NR, [](int, int) { return -1.0; }), 4 * kEps);
  EXPECT_EQ(maxdiff(flz, [](int, int) { return 0.0; }), 0.0);

  // The switches scale the wall fluxes exactly; the axis line has none.
  fill(s->fields.psi, [&](int i, int j) { return std::sin(3 * g.r(i)) * std::cos(2 * g.z(j)); });
  s->par.SLIPB = 1.0;
  velocity(*s);
  const Field r1 = flr, z1 = flz;
  s->par.SLIPB = 0.5, s->par.SLIPT = 2.0, s->par.SLIPS = 0.25;
  velocity(*s);
  for (int k = 1; k <= NR; ++k) {
    EXPECT_EQ(flr(k, 1), 0.5 * r1(k, 1));
    EXPECT_EQ(flr(k, NR), 2.0 * r1(k, NR));
    EXPECT_EQ(flz(NR, k), 0.25 * z1(NR, k));
    EXPECT_EQ(flz(1, k), z1(1, k));
  }

  // Plane velocities are the fluxes; axisymmetric ones are divided by rc.
  EXPECT_EQ(maxdiff(s->fields.u, [&](int i, int j) { return flr(i, j); }), 0.0);
  EXPECT_EQ(maxdiff(s->fields.w, [&](int i, int j) { return flz(i, j); }), 0.0);
  s->par.AXI = 1.0;
  maketrans(*s);
  velocity(*s);
  EXPECT_LE(maxdiff(s->fields.w, [&](int i, int j) { return flz(i, j) / g.rc(i); }),
            2 * kEps * 3 / g.rc(1));
}

TEST(WallVorticity, NoSlipWallVorticityConvergesToExactValueInBothGeometries) {
  // psi = c d^2, d the distance from one wall: the wall vorticity is psi_nn
  // = 2c, divided by r in the axisymmetric case. The one-sided estimate is
  // exact for a quadratic on a uniform grid, and each call halves the error.
  const double c = 1.75, h = 1.0 / 16;
  for (double axi : {0.0, 2.0}) {
    for (int wall = 0; wall < 3; ++wall) {
      auto s = exact_grid(h, axi);
      const Basic& g = s->basic;
      (wall == 0 ? s->par.SLIPB : wall == 1 ? s->par.SLIPT : s->par.SLIPS) = 0.0;
      fill(s->fields.psi, [&](int i, int j) {
        const double d = wall == 0 ? g.z(j) : wall == 1 ? g.z(NR) - g.z(j) : g.r(NR) - g.r(i);
        return c * d * d;
      });
      auto exact = [&](int k) { return axi != 0.0 ? 2 * c / g.r(wall == 2 ? NR : k) : 2 * c; };
      Field& zeta = s->fields.zeta;
      auto at = [&](int k) -> double& {
        return wall == 0 ? zeta(k, 1) : wall == 1 ? zeta(k, NR) : zeta(NR, k);
      };
      for (int n = 1; n <= 60; ++n) boundary(*s);
      for (int k = 2; k <= NC; ++k)
        EXPECT_NEAR(at(k), exact(k), 8 * kEps * exact(2)) << wall << " " << k;
      EXPECT_EQ(at(1), 0.0);
    }
  }
}

TEST(WallVorticity, CornersFollowTheBottomAndTopRules) {
  // Curvature 2 across the bottom (or top), 10 across the side: the corner
  // (91,1) (or (91,91)) takes the bottom (top) value.
  auto s = exact_grid(1.0 / 16, 0.0);
  const Basic& g = s->basic;
  s->par.SLIPB = s->par.SLIPS = s->par.SLIPT = 0.0;
  for (int top = 0; top < 2; ++top) {
    fill(s->fields.psi, [&](int i, int j) {
      const double d = top ? g.z(NR) - g.z(j) : g.z(j), e = g.r(NR) - g.r(i);
      return d * d + 5 * e * e;
    });
    s->fields.zeta.fill(0.0);
    for (int n = 0; n < 60; ++n) boundary(*s);
    EXPECT_NEAR(s->fields.zeta(NR, top ? NR : 1), 2.0, 16 * kEps);
    EXPECT_NEAR(s->fields.zeta(NR, 45), 10.0, 16 * kEps);
  }
}

TEST(Forcing, AxisymmetricFormsAndViscousTerm) {
  auto s = grid(1.0, 1.0, 0.0);
  const Field& v = s->fields.v;
  fill(s->fields.zeta, [](int, int) { return 1.0; });
  fill(s->fields.v, [](int i, int j) { return 0.1 * i - j; });
  Field& za = s->foraxi.zadv;
  Field& va = s->foraxi.vadv;
  axi1(*s, za, va);
  EXPECT_EQ(maxdiff(za, [](int, int) { return 1.0; }) +
                maxdiff(va, [&](int i, int j) { return v(i, j); }),
            0.0);
  s->par.AXI = 1.0;
  for (int i = 1; i <= NR; ++i) s->basic.r(i) = i - 1;
  axi1(*s, za, va);
  EXPECT_EQ(za(1, 7), 1.0);
  EXPECT_EQ(za(2, 7), 1.0);
  EXPECT_EQ(za(3, 7), 0.5);
  EXPECT_EQ(va(1, 7), 0.0);
  EXPECT_EQ(va(4, 7), 3.0 * v(4, 7));
  // axi2 undoes axi1 off the axis (the tendency of zeta/r times r is that
  // of zeta, of r v over r that of v) and clears the axis.
  axi2(*s, za, va);
  EXPECT_LE(maxdiff(za, [](int i, int) { return i == 1 ? 0.0 : 1.0; }), kEps);
  EXPECT_LE(maxdiff(va, [&](int i, int j) { return i == 1 ? 0.0 : v(i, j); }), 2 * kEps * 91);
  // rterm with f = r^2 subtracts visc and clears the axis line (terms below
  // 200 in size, a few roundings each).
  fill(s->fields.visc, [](int i, int j) { return 0.01 * i * j; });
  Field& t = s->tends.tzeta[0];
  Field& f = s->tends.tv[0];
  fill(t, [](int i, int j) { return i - 2.0 * j; });
  fill(f, [&](int i, int) { return s->basic.r(i) * s->basic.r(i); });
  rterm(*s, t, f);
  EXPECT_LE(maxdiff(t, [](int i, int j) { return i == 1 ? 0.0 : i - 2.0 * j - 0.01 * i * j; }),
            4 * 200 * kEps);
}

TEST(Forcing, TorqueRotationAndStratification) {
  auto s = grid(0.6, 1.3, 0.0);
  const Basic& g = s->basic;
  Field& t = s->tends.tzeta[0];
  Field& tv = s->tends.tv[0];
  // Torque of b = 4r: 4 on the lines i = 2..90; RAY = 2 scales it by
  // pi*RAY with pi in single precision (4 * 0.785398 * 2).
  fill(s->fields.b, [&](int i, int) { return 4 * g.r(i); });
  for (double ray : {0.0, 2.0}) {
    s->par.RAY = ray;
    fill(t, [](int i, int j) { return i * 0.5 + j; });
    torque(*s, t, s->fields.b);
    const double want = ray == 0.0 ? 4.0 : 4.0 * 6.283184051513672;
    EXPECT_LE(maxdiff(t, [&](int i, int j) { return i * 0.5 + j + (edge(i) ? 0.0 : want); }),
              8 * kEps * 200);
  }
  // Plane rotation: -f u in the swirl equation, -f v_z in the vorticity one.
  s->par.SWIRL = 0.5;
  fill(s->fields.u, [](int i, int j) { return i - 0.5 * j; });
  fill(s->fields.v, [&](int, int j) { return g.z(j); });
  stuff(t, 0.0);
  stuff(tv, 1.0);
  coriolis(*s, t, tv);
  EXPECT_EQ(
      maxdiff(tv, [&](int i, int j) { return edge(i) ? 1.0 : 1.0 - 0.5 * s->fields.u(i, j); }),
      0.0);
  EXPECT_LE(maxdiff(t, [&](int i, int j) { return edge(i) || edge(j) ? 0.0 : -0.5; }), 4 * kEps);
  // Axisymmetric without rotation: only the centrifugal -(1/r)(v^2)_z, for
  // v = z exactly -2z/r by central differences.
  auto a = exact_grid(1.0 / 16, 1.0);
  fill(a->fields.v, [&](int, int j) { return a->basic.z(j); });
  stuff(t, 0.0);
  stuff(tv, 1.0);
  coriolis(*a, t, tv);
  for (int j = 2; j <= NC; ++j)
    for (int i = 2; i <= NC; ++i) {
      const double want = -2 * a->basic.z(j) / a->basic.r(i);
      EXPECT_NEAR(t(i, j), want, 4 * kEps * std::abs(want));
    }
  EXPECT_EQ(maxdiff(tv, [](int, int) { return 1.0; }), 0.0);
  // Stratification w/3.1415: w = 3.1415 (single) adds 1 on the lines j = 2..90.
  s->fields.w.fill(double(3.1415f));
  stuff(t, 2.0);
  strat(*s, t);
  EXPECT_LE(maxdiff(t, [](int, int j) { return edge(j) ? 2.0 : 3.0; }), 4 * kEps);
}

TEST(Arakawa, MirroringEitherIndexNegatesTheTendency) {
  // Integer fields and dyadic factors keep every flux and sum exact, so the
  // mirror image must be the exact negative, walls and corners included.
  // psi is nonzero on the walls, so the zero beyond the grid matters.
  auto s = grid(1.0, 1.0, 1.0);
  Basic& g = s->basic;
  for (int k = 1; k <= NR; ++k) {
    g.mr(k) = 2.0 + 0.125 * std::abs(k - 46);
    g.mz(k) = 3.0 - 0.0625 * std::abs(k - 46);
    g.rc(k) = 1.0 + 0.5 * std::abs(k - 46);
  }
  Field& a = s->foraxi.zadv;
  Field& psi0 = s->foraxi.vadv;
  Field& t0 = s->tends.tzeta[0];
  Field& t1 = s->tends.tzeta[1];
  Field& a0 = s->tends.tzeta[2];
  fill(a0, [](int, int) { return irnd(); });
  fill(psi0, [](int, int) { return irnd(); });
  for (int mirror = 0; mirror < 3; ++mirror) {
    auto m = [&](const Field& f, int i, int j) {
      return mirror == 1 ? f(92 - i, j) : mirror == 2 ? f(i, 92 - j) : f(i, j);
    };
    fill(s->fields.psi, [&](int i, int j) { return m(psi0, i, j); });
    fill(a, [&](int i, int j) { return m(a0, i, j); });
    Field& t = mirror ? t1 : t0;
    t.fill(0.0);
    arakawa(*s, t, a);
    if (mirror) {
      EXPECT_EQ(maxdiff(t0, [&](int i, int j) { return -m(t1, i, j); }), 0.0) << mirror;
    }
  }
}

TEST(Arakawa, LinearFieldsGiveTheExactJacobian) {
  // Unit spacing (mr = mz = 2), plane: T = psi_z A_r - psi_r A_z; the
  // single-precision 1/48 is 3.0e-8 high relatively.
  auto s = exact_grid(1.0, 0.0);
  Field& a = s->foraxi.zadv;
  Field& t = s->tends.tzeta[0];
  for (double sgn : {1.0, -1.0}) {
    fill(s->fields.psi, [&](int i, int j) { return sgn > 0 ? i : j; });
    fill(a, [&](int i, int j) { return sgn > 0 ? j : i; });
    t.fill(0.0);
    arakawa(*s, t, a);
    EXPECT_LE(maxdiff(t, 2, NC, [&](int, int) { return -sgn; }), 3.1e-8);
    // The quarter cell at (1,1) (psi = i): axis links FE = -6, FN = 12
    // weighted by 4, the diagonal FD1 = 3 by 2, so S = -30 and T = 4 S/48;
    // the transposed fields give the opposite sign.
    EXPECT_NEAR(t(1, 1), -2.5 * sgn, 1e-7);
  }
  // Constant psi: no interior tendency. But psi = 1 on the grid and 0
  // beyond is a sheet of flow along the side walls, which carries A = j
  // there: -+(2/3)(1 + 3e-8).
  s->fields.psi.fill(1.0);
  fill(a, [&](int, int j) { return j; });
  t.fill(0.0);
  arakawa(*s, t, a);
  EXPECT_EQ(maxdiff(t, 2, NC, [](int, int) { return 0.0; }), 0.0);
  for (int j = 2; j <= NC; ++j) {
    EXPECT_NEAR(t(1, j), -2.0 / 3.0, 3e-8);
    EXPECT_NEAR(t(NR, j), 2.0 / 3.0, 3e-8);
  }
  // With psi = 0 the entry values are only divided by rc rhoc.
  auto x = grid(0.5, 1.0, 1.0);
  fill(x->tends.tv[0], [](int i, int j) { return i + 0.5 * j; });
  arakawa(*x, x->tends.tv[0], x->fields.b);
  EXPECT_EQ(maxdiff(x->tends.tv[0], [&](int i, int j) { return (i + 0.5 * j) / x->basic.rc(i); }),
            0.0);
}

TEST(Arakawa, GridSumsOfTendencyAndOfFieldTimesTendencyVanish) {
  // The flux form conserves the mean and the variance of A, and the energy
  // sum of psi J, on a stretched axisymmetric grid: with psi = 0 on the
  // walls (the model's wall condition) or with both fields vanishing near
  // the walls. Each term carries ~10 roundings of its own size and the sum
  // adds one per term: 64 eps times the sum of magnitudes bounds it.
  for (int kind = 0; kind < 2; ++kind) {
    auto s = grid(0.6, 1.4, 1.0);
    const int n = kind ? 4 : 1;
    auto inner = [&](int i, int j) { return i > n && j > n && i <= NR - n && j <= NR - n; };
    Field& a = s->foraxi.zadv;
    Field& t = s->tends.tzeta[0];
    fill(s->fields.psi, [&](int i, int j) { return inner(i, j) ? rnd() : 0.0; });
    fill(a, [&](int i, int j) { return kind == 0 || inner(i, j) ? rnd() : 0.0; });
    t.fill(0.0);
    arakawa(*s, t, a);
    const Sum m = cell_sum(*s, [&](int i, int j) { return t(i, j); });
    const Sum v = cell_sum(*s, [&](int i, int j) { return a(i, j) * t(i, j); });
    const Sum e = cell_sum(*s, [&](int i, int j) { return s->fields.psi(i, j) * t(i, j); });
    EXPECT_GT(m.abs, 1.0);
    EXPECT_NEAR(m.s, 0.0, 64 * kEps * m.abs) << kind;
    EXPECT_NEAR(v.s, 0.0, 64 * kEps * v.abs) << kind;
    EXPECT_NEAR(e.s, 0.0, 64 * kEps * e.abs) << kind;
  }
}

TEST(Marat, OrdersSelectTheFacesAndTheWeightedSumIsConserved) {
  for (double axi : {0.0, 1.0}) {
    auto s = grid(0.6, 1.4, axi);
    Field& a = s->foraxi.zadv;
    Field& t0 = s->foraxi.vadv;
    for (Field* f : {&a, &t0, &s->others.flr, &s->others.flz})
      fill(*f, [](int, int) { return rnd(); });
    const double orders[4] = {-1.0, -2.0, -2.5, -3.0};
    Field* out[4] = {&s->tends.tzeta[0], &s->tends.tzeta[1], &s->tends.tzeta[2], &s->tends.tv[0]};
    for (int k = 0; k < 4; ++k) {
      s->par.ORDER = orders[k];
      Field& t = *out[k] = t0;
      marat(*s, t, a);
      // Neither creates nor destroys A: the cell-weighted sum keeps its
      // entry value (each term a few roundings, one more per term summed).
      const Sum in = cell_sum(*s, [&](int i, int j) { return t0(i, j); });
      const Sum d = cell_sum(*s, [&](int i, int j) { return t(i, j) - t0(i, j); });
      EXPECT_NEAR(cell_sum(*s, [&](int i, int j) { return t(i, j); }).s, in.s,
                  32 * kEps * (in.abs + d.abs));
    }
    // -1 and -2 are the centred faces, -2.5 and -3 the upwind ones.
    EXPECT_EQ(maxdiff(*out[0], [&](int i, int j) { return (*out[1])(i, j); }), 0.0) << axi;
    EXPECT_EQ(maxdiff(*out[2], [&](int i, int j) { return (*out[3])(i, j); }), 0.0) << axi;
    EXPECT_GT(maxdiff(*out[0], [&](int i, int j) { return (*out[3])(i, j); }), 0.1) << axi;
  }
}

TEST(Marat, ConstantAndLinearFieldsAreAdvectedExactly) {
  // A constant in any stream-function flow: the face fluxes are divergence
  // free by construction, so nothing remains away from the walls beyond the
  // roundings of four face terms of size |A| |flux| m / rc.
  for (double axi : {0.0, 1.0}) {
    for (double order : {-1.0, -3.0}) {
      auto s = grid(0.6, 1.4, axi);
      s->par.ORDER = order;
      const Basic& g = s->basic;
      fill(s->fields.psi,
           [&](int i, int j) { return std::sin(2 * g.r(i) + 1) * std::cos(3 * g.z(j)); });
      velocity(*s);
      Field& t = s->tends.tzeta[0];
      s->foraxi.zadv.fill(2.5);
      t.fill(0.0);
      marat(*s, t, s->foraxi.zadv);
      for (int j = 2; j <= NC; ++j)
        for (int i = 2; i <= NC; ++i)
          EXPECT_NEAR(t(i, j), 0.0, 16 * kEps * 2.5 * 4 * (g.mr(i) + g.mz(j)) / g.rc(i));
    }
  }
  // A linear field in a uniform stream, both directions and both face rules:
  // T = -U0 dA/dx = -U0 inside the exact uniform grid (face values below 6
  // with the rounding of 1/6, times m/2 = 16).
  for (double order : {-1.0, -3.0})
    for (double u0 : {1.0, -1.0})
      for (int dir = 0; dir < 2; ++dir) {
        auto s = exact_grid(1.0 / 16, 0.0);
        const Basic& g = s->basic;
        s->par.ORDER = order;
        fill(s->fields.psi, [&](int i, int j) { return dir ? u0 * g.r(i) : -u0 * g.z(j); });
        velocity(*s);
        Field& t = s->tends.tzeta[0];
        fill(s->foraxi.zadv, [&](int i, int j) { return dir ? g.z(j) : g.r(i); });
        t.fill(0.0);
        marat(*s, t, s->foraxi.zadv);
        EXPECT_LE(maxdiff(t, 2, NC, [&](int, int) { return -u0; }), 4 * 6 * 16 * kEps)
            << order << u0 << dir;
      }
}

TEST(Marat, UpwindFacesFallBackToCentredAtTheEnds) {
  // A = k^2 along one direction, flow along it of sign +1, -1 or 0 set by the
  // other index. The end points see only their one face, so the face flux is
  // read back from the tendency: F(1) = -T(1)/m(1), F(90) = T(91)/m(91).
  auto s = exact_grid(1.0 / 16, 0.0);
  s->par.ORDER = -3.0;
  Field& t = s->tends.tzeta[0];
  auto sgn = [](int k) { return k % 3 == 0 ? 1.0 : k % 3 == 1 ? -1.0 : 0.0; };
  auto sq = [](int k) { return double(k) * k; };
  auto up = [](double u, double a2, double a1, double a0) {
    return u * (-a2 + 5 * a1 + 2 * a0) / 6;
  };
  for (int dir = 0; dir < 2; ++dir) {
    fill(s->foraxi.zadv, [&](int i, int j) { return dir ? sq(j) : sq(i); });
    fill(s->others.flr, [&](int, int j) { return dir ? 0.0 : sgn(j); });
    fill(s->others.flz, [&](int i, int) { return dir ? sgn(i) : 0.0; });
    t.fill(0.0);
    marat(*s, t, s->foraxi.zadv);
    for (int k = 1; k <= NR; ++k) {
      const double u = sgn(k);
      // Face 1: upwind from the right when u <= 0, centred for inflow from
      // the left. Face 90: upwind from the left when u >= 0, centred else.
      const double f1 = u > 0 ? u * (sq(1) + sq(2)) / 2 : up(u, sq(3), sq(2), sq(1));
      const double f90 = u < 0 ? u * (sq(90) + sq(91)) / 2 : up(u, sq(89), sq(90), sq(91));
      EXPECT_NEAR(-(dir ? t(k, 1) : t(1, k)) / 32, f1, 8 * kEps * 10) << dir << " " << k;
      EXPECT_NEAR((dir ? t(k, NR) : t(NR, k)) / 32, f90, 8 * kEps * 1e4) << dir << " " << k;
    }
  }
}
