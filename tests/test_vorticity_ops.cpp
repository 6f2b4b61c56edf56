#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "grid/grid.hpp"
#include "vorticity/vorticity.hpp"

using namespace qel;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

std::unique_ptr<State> grid(double str, double stz, double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = 1.5;
  s->par.HITE = 2.0;
  s->par.STR = str;
  s->par.STZ = stz;
  s->par.AXI = axi;
  s->par.SLIPS = s->par.SLIPB = s->par.SLIPT = 1.0;
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

bool edge(int k) { return k == 1 || k == NR; }

// Cell widths around the points: half cells at the walls.
double cell(const Array1<NR>& m, int k) { return (edge(k) ? 1.0 : 2.0) / m(k); }

std::mt19937 gen(12345);
double rnd() { return std::uniform_real_distribution<double>(-1.0, 1.0)(gen); }

}  // namespace

TEST(Velocity, ZeroStreamFunctionGivesNoFlowAndHalvesNoSlipWallVorticity) {
  for (double axi : {0.0, 1.0}) {
    auto s = grid(0.7, 1.2, axi);
    s->par.SLIPB = s->par.SLIPT = s->par.SLIPS = 0.0;
    fill(s->fields.zeta, [](int i, int j) { return i + 0.01 * j; });
    fill(s->fields.v, [](int, int) { return 3.0; });
    const Field z0 = s->fields.zeta;
    velocity(*s);
    boundary(*s);
    for (int j = 1; j <= NR; ++j) {
      for (int i = 1; i <= NR; ++i) {
        EXPECT_EQ(s->others.flr(i, j), 0.0);
        EXPECT_EQ(s->others.flz(i, j), 0.0);
        EXPECT_EQ(s->fields.u(i, j), 0.0);
        EXPECT_EQ(s->fields.w(i, j), 0.0);
        const bool wall = i > 1 && (edge(j) || i == NR);
        EXPECT_EQ(s->fields.zeta(i, j), wall ? 0.5 * z0(i, j) : z0(i, j)) << i << "," << j;
        EXPECT_EQ(s->fields.v(i, j), wall ? 0.0 : 3.0) << i << "," << j;
      }
    }
    // Slip walls keep their vorticity and swirl.
    s->par.SLIPB = s->par.SLIPT = s->par.SLIPS = 0.5;
    const Field z1 = s->fields.zeta;
    s->fields.v.fill(3.0);
    boundary(*s);
    for (std::size_t n = 0; n < Field::size(); ++n) {
      EXPECT_EQ(s->fields.zeta.a[n], z1.a[n]);
      EXPECT_EQ(s->fields.v.a[n], 3.0);
    }
  }
}

TEST(Velocity, FluxesAreStreamFunctionDerivativesScaledOnSlipWalls) {
  auto s = grid(0.6, 1.3, 0.0);
  const Basic& g = s->basic;
  // psi linear in z: flr = -1 to a few roundings of 4/d * 0.25 * d, flz = 0;
  // a no-slip bottom has no tangential flux, a slip top the one-sided one.
  s->par.SLIPB = 0.0;
  fill(s->fields.psi, [&](int, int j) { return g.z(j); });
  velocity(*s);
  for (int i = 1; i <= NR; ++i) {
    EXPECT_EQ(s->others.flr(i, 1), 0.0);
    for (int j = 2; j <= NR; ++j) EXPECT_NEAR(s->others.flr(i, j), -1.0, 4 * kEps);
    for (int j = 1; j <= NR; ++j) EXPECT_EQ(s->others.flz(i, j), 0.0);
  }

  // The switches scale the wall fluxes exactly; the axis line has none.
  fill(s->fields.psi, [&](int i, int j) { return std::sin(3 * g.r(i)) * std::cos(2 * g.z(j)); });
  s->par.SLIPB = 1.0;
  velocity(*s);
  const Field flr = s->others.flr, flz = s->others.flz;
  s->par.SLIPB = 0.5, s->par.SLIPT = 2.0, s->par.SLIPS = 0.25;
  velocity(*s);
  for (int k = 1; k <= NR; ++k) {
    EXPECT_EQ(s->others.flr(k, 1), 0.5 * flr(k, 1));
    EXPECT_EQ(s->others.flr(k, NR), 2.0 * flr(k, NR));
    EXPECT_EQ(s->others.flz(NR, k), 0.25 * flz(NR, k));
    EXPECT_EQ(s->others.flz(1, k), flz(1, k));
    EXPECT_EQ(s->others.flr(k, 45), flr(k, 45));
  }
  // Plane velocities are the fluxes; axisymmetric ones are divided by rc.
  for (std::size_t n = 0; n < Field::size(); ++n) {
    EXPECT_EQ(s->fields.u.a[n], s->others.flr.a[n]);
    EXPECT_EQ(s->fields.w.a[n], s->others.flz.a[n]);
  }
  s->par.AXI = 1.0;
  maketrans(*s);
  velocity(*s);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i)
      EXPECT_NEAR(s->fields.w(i, j) * g.rc(i), s->others.flz(i, j), 2 * kEps * std::abs(s->others.flz(i, j)));
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
      const double top = g.z(NR), side = g.r(NR);
      (wall == 0 ? s->par.SLIPB : wall == 1 ? s->par.SLIPT : s->par.SLIPS) = 0.0;
      fill(s->fields.psi, [&](int i, int j) {
        const double d = wall == 0 ? g.z(j) : wall == 1 ? top - g.z(j) : side - g.r(i);
        return c * d * d;
      });
      auto exact = [&](int i) { return axi != 0.0 ? 2 * c / g.r(i) : 2 * c; };
      auto& zeta = s->fields.zeta;
      auto at = [&](int k) -> double& { return wall == 0 ? zeta(k, 1) : wall == 1 ? zeta(k, NR) : zeta(NR, k); };
      for (int n = 1; n <= 60; ++n) {
        boundary(*s);
        // From zeta = 0 the error after n calls is 2^-n of the exact value.
        const int k = 30;
        const double e = exact(wall == 2 ? NR : k);
        if (n <= 3) {
          EXPECT_NEAR(at(k), e * (1 - std::ldexp(1.0, -n)), 4 * kEps * e);
        }
      }
      for (int k = 2; k <= NC; ++k) EXPECT_NEAR(at(k), exact(wall == 2 ? NR : k), 8 * kEps * exact(2)) << wall << " " << k;
      EXPECT_EQ(at(1), 0.0);
    }
  }
}

TEST(WallVorticity, CornersFollowTheBottomAndTopRules) {
  // Quadratic away from the bottom and the side with different curvatures:
  // the corner (91,1) takes the bottom value 2, the side points 2*5.
  auto s = exact_grid(1.0 / 16, 0.0);
  const Basic& g = s->basic;
  s->par.SLIPB = s->par.SLIPS = s->par.SLIPT = 0.0;
  const double side = g.r(NR), top = g.z(NR);
  for (double sgn : {1.0, -1.0}) {
    fill(s->fields.psi, [&](int i, int j) {
      const double d = sgn > 0 ? g.z(j) : top - g.z(j);
      return d * d + 5 * (side - g.r(i)) * (side - g.r(i));
    });
    s->fields.zeta.fill(0.0);
    for (int n = 0; n < 60; ++n) boundary(*s);
    EXPECT_NEAR(s->fields.zeta(NR, sgn > 0 ? 1 : NR), 2.0, 16 * kEps);
    EXPECT_NEAR(s->fields.zeta(NR, 45), 10.0, 16 * kEps);
  }
  // With a slip bottom the side rule leaves the corner alone.
  s->par.SLIPB = 1.0;
  s->fields.zeta(NR, 1) = 7.0;
  boundary(*s);
  EXPECT_EQ(s->fields.zeta(NR, 1), 7.0);
}

TEST(Forcing, AxisymmetricFormsAndViscousTerm) {
  auto s = grid(1.0, 1.0, 0.0);
  fill(s->fields.zeta, [](int, int) { return 1.0; });
  fill(s->fields.v, [](int i, int j) { return 0.1 * i - j; });
  Field& za = s->foraxi.zadv;
  Field& va = s->foraxi.vadv;
  axi1(*s, za, va);
  for (std::size_t n = 0; n < Field::size(); ++n) {
    EXPECT_EQ(za.a[n], 1.0);
    EXPECT_EQ(va.a[n], s->fields.v.a[n]);
  }
  s->par.AXI = 1.0;
  for (int i = 1; i <= NR; ++i) s->basic.r(i) = i - 1;
  axi1(*s, za, va);
  EXPECT_EQ(za(1, 7), 1.0);
  EXPECT_EQ(za(2, 7), 1.0);
  EXPECT_EQ(za(3, 7), 0.5);
  EXPECT_EQ(va(1, 7), 0.0);
  EXPECT_EQ(va(4, 7), 3.0 * s->fields.v(4, 7));
  // axi2 undoes axi1 off the axis (the tendency of zeta/r times r is that
  // of zeta) and clears the axis.
  axi2(*s, za, va);
  for (int j = 1; j <= NR; ++j) {
    EXPECT_EQ(za(1, j), 0.0);
    EXPECT_EQ(va(1, j), 0.0);
    for (int i = 2; i <= NR; ++i) {
      EXPECT_NEAR(za(i, j), 1.0, kEps);
      EXPECT_NEAR(va(i, j), s->fields.v(i, j), 2 * kEps * std::abs(s->fields.v(i, j)));
    }
  }
  // rterm with f = r^2 subtracts visc and clears the axis line.
  fill(s->fields.visc, [](int i, int j) { return 0.01 * i * j; });
  Field& t = s->tends.tzeta[0];
  Field& f = s->tends.tv[0];
  fill(t, [](int i, int j) { return i - 2.0 * j; });
  fill(f, [&](int i, int) { return s->basic.r(i) * s->basic.r(i); });
  rterm(*s, t, f);
  // Terms below 200 in size, a few roundings each.
  for (int j = 1; j <= NR; ++j) {
    EXPECT_EQ(t(1, j), 0.0);
    for (int i = 2; i <= NR; ++i) EXPECT_NEAR(t(i, j), i - 2.0 * j - 0.01 * i * j, 4 * 200 * kEps);
  }
}

TEST(Forcing, TorqueRotationAndStratification) {
  auto s = grid(0.6, 1.3, 0.0);
  const Basic& g = s->basic;
  Field* t = &s->tends.tzeta[0];
  Field* tv = &s->tends.tv[0];
  // Torque of b = 4r (exact): 4 on the lines i = 2..90; RAY = 2 scales it by
  // pi*RAY with pi in single precision (4 * 0.785398 * 2).
  fill(s->fields.b, [&](int i, int) { return 4 * g.r(i); });
  for (double ray : {0.0, 2.0}) {
    s->par.RAY = ray;
    fill(*t, [](int i, int j) { return i * 0.5 + j; });
    torque(*s, *t, s->fields.b);
    const double want = ray == 0.0 ? 4.0 : 4.0 * 6.283184051513672;
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i)
        EXPECT_NEAR((*t)(i, j) - (i * 0.5 + j), edge(i) ? 0.0 : want, 8 * kEps * (want + i + j)) << i << "," << j;
  }
  // Plane rotation: -f u in the swirl equation, -f v_z in the vorticity one.
  s->par.SWIRL = 0.5;
  fill(s->fields.u, [](int i, int j) { return i - 0.5 * j; });
  fill(s->fields.v, [&](int, int j) { return g.z(j); });
  stuff(*t, 0.0);
  stuff(*tv, 1.0);
  coriolis(*s, *t, *tv);
  for (int j = 1; j <= NR; ++j) {
    for (int i = 1; i <= NR; ++i) {
      EXPECT_EQ((*tv)(i, j), edge(i) ? 1.0 : 1.0 - 0.5 * s->fields.u(i, j));
      EXPECT_NEAR((*t)(i, j), edge(i) || edge(j) ? 0.0 : -0.5, 4 * kEps);
    }
  }
  // Axisymmetric without rotation: only the centrifugal -(1/r)(v^2)_z, which
  // for v = z is -2z/r (exact for the quadratic v^2 by central differences).
  auto a = exact_grid(1.0 / 16, 1.0);
  a->par.SWIRL = 0.0;
  fill(a->fields.v, [&](int, int j) { return a->basic.z(j); });
  stuff(*t, 0.0);
  stuff(*tv, 1.0);
  coriolis(*a, *t, *tv);
  for (int j = 2; j <= NC; ++j)
    for (int i = 2; i <= NC; ++i) {
      const double want = -2 * a->basic.z(j) / a->basic.r(i);
      EXPECT_NEAR((*t)(i, j), want, 4 * kEps * std::abs(want));
      EXPECT_EQ((*tv)(i, j), 1.0);
    }
  // Stratification w/3.1415: w = 3.1415 (single) adds 1 on the lines j = 2..90.
  s->fields.w.fill(double(3.1415f));
  stuff(*t, 2.0);
  strat(*s, *t);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) EXPECT_NEAR((*t)(i, j), edge(j) ? 2.0 : 3.0, 4 * kEps);
}

namespace {

// Weighted sum over the cells around the points (half cells at the walls),
// and the same sum of magnitudes for the rounding bound.
struct Sum {
  double s = 0, abs = 0;
};
template <class Fn>
Sum cell_sum(const State& st, Fn fn) {
  Sum r;
  const Basic& g = st.basic;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double x = cell(g.mr, i) * cell(g.mz, j) * g.rc(i) * g.rhoc(j) * fn(i, j);
      r.s += x;
      r.abs += std::abs(x);
    }
  return r;
}

int irnd() { return std::uniform_int_distribution<int>(-20, 20)(gen); }

}  // namespace

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
  fill(a, [](int, int) { return irnd(); });
  fill(psi0, [](int, int) { return irnd(); });
  s->fields.psi = psi0;
  t0.fill(0.0);
  arakawa(*s, t0, a);
  const Field a0 = a;
  for (int mirror = 0; mirror < 2; ++mirror) {
    auto m = [&](const Field& f, int i, int j) { return mirror ? f(92 - i, j) : f(i, 92 - j); };
    fill(s->fields.psi, [&](int i, int j) { return m(psi0, i, j); });
    fill(a, [&](int i, int j) { return m(a0, i, j); });
    t1.fill(0.0);
    arakawa(*s, t1, a);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) ASSERT_EQ(m(t1, i, j), -t0(i, j)) << mirror << ": " << i << "," << j;
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
    for (int j = 2; j <= NC; ++j)
      for (int i = 2; i <= NC; ++i) EXPECT_NEAR(t(i, j), -sgn, 3.1e-8);
  }
  // Constant psi or constant A: no interior tendency (integer data, exact).
  // psi = 1 on the grid and 0 beyond acts as a sheet of flow along the side
  // walls, which carries A = j: -+(2/3)(1 + 3e-8) there.
  for (int c = 0; c < 2; ++c) {
    fill(s->fields.psi, [&](int, int) { return c ? 1.0 : double(irnd()); });
    fill(a, [&](int, int j) { return c ? double(j) : 3.0; });
    t.fill(0.0);
    arakawa(*s, t, a);
    for (int j = 2; j <= NC; ++j) {
      for (int i = 2; i <= NC; ++i) EXPECT_EQ(t(i, j), 0.0);
      if (c) {
        EXPECT_NEAR(t(1, j), -2.0 / 3.0, 3e-8);
        EXPECT_NEAR(t(NR, j), 2.0 / 3.0, 3e-8);
      }
    }
  }
  // With psi = 0 the entry values are only divided by rc rhoc.
  auto x = grid(0.5, 1.0, 1.0);
  fill(x->tends.tv[0], [](int i, int j) { return i + 0.5 * j; });
  arakawa(*x, x->tends.tv[0], x->fields.b);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) EXPECT_EQ(x->tends.tv[0](i, j), (i + 0.5 * j) / x->basic.rc(i));
}

TEST(Arakawa, GridSumsOfTendencyAndOfFieldTimesTendencyVanish) {
  // The flux form conserves the mean and the variance of A (and the energy
  // sum of psi J): on a stretched axisymmetric grid, with psi = 0 on the
  // walls (the model's wall condition) or with both fields vanishing near the
  // walls. Each term carries ~10 roundings of its own size and the sum adds
  // one per term: 64 eps times the sum of magnitudes bounds it.
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
    if (kind) {
      EXPECT_NEAR(e.s, 0.0, 64 * kEps * e.abs);
    }
  }
}

TEST(Marat, OrdersSelectTheFacesAndTheWeightedSumIsConserved) {
  for (double axi : {0.0, 1.0}) {
    auto s = grid(0.6, 1.4, axi);
    Field& a = s->foraxi.zadv;
    Field& t0 = s->foraxi.vadv;
    fill(a, [](int, int) { return rnd(); });
    fill(t0, [](int, int) { return rnd(); });
    fill(s->others.flr, [](int, int) { return rnd(); });
    fill(s->others.flz, [](int, int) { return rnd(); });
    const double orders[4] = {-1.0, -2.0, -2.5, -3.0};
    for (int k = 0; k < 4; ++k) {
      s->par.ORDER = orders[k];
      Field& t = s->tends.tzeta[k % 3];
      Field& out = k == 3 ? s->tends.tv[0] : t;
      out = t0;
      marat(*s, out, a);
      // Neither creates nor destroys A: the cell-weighted sum keeps its
      // entry value (each term a few roundings, one more per term summed).
      const Sum in = cell_sum(*s, [&](int i, int j) { return t0(i, j); });
      const Sum d = cell_sum(*s, [&](int i, int j) { return out(i, j) - t0(i, j); });
      const Sum after = cell_sum(*s, [&](int i, int j) { return out(i, j); });
      EXPECT_NEAR(after.s, in.s, 32 * kEps * (in.abs + d.abs)) << axi << " " << orders[k];
    }
    const Field& c1 = s->tends.tzeta[0];
    const Field& c2 = s->tends.tzeta[1];
    const Field& u1 = s->tends.tzeta[2];
    const Field& u2 = s->tends.tv[0];
    int differ = 0;
    for (std::size_t n = 0; n < Field::size(); ++n) {
      EXPECT_EQ(c1.a[n], c2.a[n]);
      EXPECT_EQ(u1.a[n], u2.a[n]);
      differ += c1.a[n] != u1.a[n];
    }
    EXPECT_GT(differ, 8000);
  }
}

TEST(Marat, ConstantAndLinearFieldsAreAdvectedExactly) {
  // A constant in any stream-function flow: the face fluxes are divergence
  // free by construction, so nothing remains away from the walls beyond the
  // roundings of four face terms of size |A| |flux| m.
  for (double axi : {0.0, 1.0}) {
    for (double order : {-1.0, -3.0}) {
      auto s = grid(0.6, 1.4, axi);
      s->par.ORDER = order;
      const Basic& g = s->basic;
      fill(s->fields.psi, [&](int i, int j) { return std::sin(2 * g.r(i) + 1) * std::cos(3 * g.z(j)); });
      velocity(*s);
      Field& a = s->foraxi.zadv;
      Field& t = s->tends.tzeta[0];
      a.fill(2.5);
      t.fill(0.0);
      marat(*s, t, a);
      for (int j = 2; j <= NC; ++j)
        for (int i = 2; i <= NC; ++i) {
          const double scale = 2.5 * (std::abs(s->others.flr(i, j)) + std::abs(s->others.flz(i, j)) + 4) *
                               (g.mr(i) + g.mz(j)) / g.rc(i);
          EXPECT_NEAR(t(i, j), 0.0, 16 * kEps * scale) << i << "," << j;
        }
    }
  }
  // A linear field in a uniform stream, both directions and both face rules:
  // T = -U0 dA/dx = -U0 at the interior points of the exact uniform grid.
  for (double order : {-1.0, -3.0})
    for (double u0 : {1.0, -1.0})
      for (int dir = 0; dir < 2; ++dir) {
        auto s = exact_grid(1.0 / 16, 0.0);
        s->par.ORDER = order;
        fill(s->fields.psi, [&](int i, int j) { return dir ? u0 * s->basic.r(i) : -u0 * s->basic.z(j); });
        velocity(*s);
        Field& a = s->foraxi.zadv;
        Field& t = s->tends.tzeta[0];
        fill(a, [&](int i, int j) { return dir ? s->basic.z(j) : s->basic.r(i); });
        t.fill(0.0);
        marat(*s, t, a);
        // Face values below 6 with the rounding of 1/6, times m/2 = 16.
        for (int j = 2; j <= NC; ++j)
          for (int i = 2; i <= NC; ++i) EXPECT_NEAR(t(i, j), -u0, 4 * 6 * 16 * kEps) << i << "," << j;
      }
}

TEST(Marat, UpwindFacesFallBackToCentredAtTheEnds) {
  // A = k^2 along one direction, flow along it with sign set by the other
  // index: +1, -1 or 0. The end points see only their one face, so the face
  // flux is read back from the tendency: F(1) = -T(1)/m(1), F(90) = T(91)/m(91).
  auto s = exact_grid(1.0 / 16, 0.0);
  s->par.ORDER = -3.0;
  Field& a = s->foraxi.zadv;
  Field& t = s->tends.tzeta[0];
  auto sgn = [](int k) { return k % 3 == 0 ? 1.0 : k % 3 == 1 ? -1.0 : 0.0; };
  auto sq = [](int k) { return double(k) * k; };
  auto upwind = [](double u, double up2, double up1, double down) { return u * (-up2 + 5 * up1 + 2 * down) / 6; };
  for (int dir = 0; dir < 2; ++dir) {
    fill(a, [&](int i, int j) { return dir ? sq(j) : sq(i); });
    fill(s->others.flr, [&](int, int j) { return dir ? 0.0 : sgn(j); });
    fill(s->others.flz, [&](int i, int) { return dir ? sgn(i) : 0.0; });
    t.fill(0.0);
    marat(*s, t, a);
    const double m = 32.0;
    for (int k = 1; k <= NR; ++k) {
      const double u = sgn(k);
      const double f1 = -(dir ? t(k, 1) : t(1, k)) / m;
      const double f90 = (dir ? t(k, NR) : t(NR, k)) / m;
      // Face 1: upwind from the right when u <= 0, centred for inflow from
      // the left. Face 90: upwind from the left when u >= 0, centred else.
      const double want1 = u > 0 ? u * (sq(1) + sq(2)) / 2 : upwind(u, sq(3), sq(2), sq(1));
      const double want90 = u < 0 ? u * (sq(90) + sq(91)) / 2 : upwind(u, sq(89), sq(90), sq(91));
      EXPECT_NEAR(f1, want1, 8 * kEps * 10) << dir << " " << k;
      EXPECT_NEAR(f90, want90, 8 * kEps * 1e4) << dir << " " << k;
    }
  }
}
