#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "grid/grid.hpp"
#include "vorticity/vorticity.hpp"

using namespace qel;

namespace {

constexpr double kEps = 0x1p-52;  // double epsilon

// A stretched grid with slip walls, or (h > 0) a uniform one of spacing h
// whose coordinates and factors are exact (rc, rhoc stay those of maketrans).
std::unique_ptr<State> grid(double axi, double h = 0.0) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = 1.5, p.HITE = 2, p.STR = 0.6, p.STZ = 1.4, p.AXI = axi, p.SLIPS = p.SLIPB = p.SLIPT = 1;
  maketrans(*s);
  for (int k = 1; h > 0.0 && k <= NR; ++k)
    s->basic.r(k) = s->basic.z(k) = (k - 1) * h, s->basic.mr(k) = s->basic.mz(k) = 2.0 / h;
  return s;
}

void fill(Field& f, auto fn) {
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) f(i, j) = fn(i, j);
}

// Largest |f - want| over the points i, j = lo..hi.
double maxdiff(const Field& f, auto want, int lo = 1, int hi = NR) {
  double d = 0;
  for (int j = lo; j <= hi; ++j)
    for (int i = lo; i <= hi; ++i) d = std::fmax(d, std::abs(f(i, j) - want(i, j)));
  return d;
}
auto cst(double c) { return [c](int, int) { return c; }; }
auto same(const Field& f) { return [&f](int i, int j) { return f(i, j); }; }
bool edge(int k) { return k == 1 || k == NR; }

std::mt19937 gen(12345);
double rnd() { return std::uniform_real_distribution<double>(-1.0, 1.0)(gen); }

}  // namespace

TEST(Velocity, FluxesAreStreamFunctionDerivativesScaledOnSlipWalls) {
  auto s = grid(0.0, 1.0 / 16);
  Field &flr = s->others.flr, &flz = s->others.flz;
  // psi = z + 2r on the exact grid: flr = -1, flz = 2 exactly, none along the
  // no-slip bottom (corner (91,1) included), scaled by the slip switches of
  // the top and the side, unscaled on the axis line. Plane velocities are
  // the fluxes (rho = 1). Back to psi = 0: no flux anywhere.
  fill(s->fields.psi, [&](int i, int j) { return s->basic.z(j) + 2 * s->basic.r(i); });
  s->par.SLIPB = 0.0, s->par.SLIPT = 2.0, s->par.SLIPS = 0.25;
  velocity(*s);
  EXPECT_EQ(maxdiff(flr, [](int, int j) { return j == 1 ? 0.0 : j == NR ? -2.0 : -1.0; }), 0.0);
  EXPECT_EQ(maxdiff(flz, [](int i, int) { return i == NR ? 0.5 : 2.0; }), 0.0);
  EXPECT_EQ(maxdiff(s->fields.u, same(flr)) + maxdiff(s->fields.w, same(flz)), 0.0);
  s->fields.psi.fill(0.0);
  velocity(*s);
  EXPECT_EQ(maxdiff(flr, cst(0)) + maxdiff(flz, cst(0)), 0.0);
}

TEST(WallVorticity, NoSlipWallVorticityConvergesToExactValueInBothGeometries) {
  // psi = c d^2, d the distance from one wall: the wall vorticity is psi_nn
  // = 2c, divided by r in the axisymmetric case. The one-sided estimate is
  // exact for a quadratic on a uniform grid, and each call halves the error.
  // All walls are no-slip and psi is flat across the others, so the corners
  // (91,1) and (91,91) show that they follow the bottom and top rules (the
  // side rule would draw them towards 0).
  const double c = 1.75, h = 1.0 / 16;
  for (double axi : {0.0, 2.0})
    for (int wall = 0; wall < 3; ++wall) {
      auto s = grid(axi, h);
      const Field &zeta = s->fields.zeta, &v = s->fields.v;
      s->par.SLIPB = s->par.SLIPT = s->par.SLIPS = 0.0;
      auto d = [&](int i, int j) { return h * (wall == 0 ? j - 1 : wall == 1 ? NR - j : NR - i); };
      fill(s->fields.psi, [&](int i, int j) { return c * d(i, j) * d(i, j); });
      s->fields.zeta.fill(1.0);
      s->fields.v.fill(1.0);
      for (int n = 1; n <= 60; ++n) boundary(*s);
      for (int k = 2; k <= (wall == 2 ? NC : NR); ++k) {
        const double got = wall == 0 ? zeta(k, 1) : wall == 1 ? zeta(k, NR) : zeta(NR, k);
        const double exact = axi == 0.0 ? 2 * c : 2 * c / s->basic.r(wall == 2 ? NR : k);
        EXPECT_NEAR(got, exact, 8 * kEps * exact) << wall << " " << k;
      }
      // The vorticity of a wall across which psi is flat is halved by each
      // call, exactly; no-slip walls stop the swirl; the axis is left alone.
      EXPECT_EQ(wall == 2 ? zeta(45, 1) : zeta(NR, 45), 0x1p-60);
      EXPECT_EQ(v(45, 1) + v(45, NR) + v(NR, 45), 0.0);
      for (int j = 1; j <= NR; ++j) EXPECT_TRUE(zeta(1, j) == 1.0 && v(1, j) == 1.0) << j;
    }
}

TEST(Forcing, AxisymmetricFormsInvertOffTheAxis) {
  auto s = grid(1.0);
  const Array1<NR>& r = s->basic.r;
  Field &za = s->foraxi.zadv, &va = s->foraxi.vadv;
  // zeta/r is continued onto the axis, r v vanishes there; axi2 undoes axi1
  // off the axis (r times the tendency of zeta/r, that of r v over r) and
  // clears the axis.
  s->fields.zeta.fill(1.0);
  fill(s->fields.v, [](int i, int j) { return i + 3.0 * j; });
  axi1(*s, za, va);
  EXPECT_EQ(maxdiff(za, [&](int i, int) { return 1.0 / r(std::max(i, 2)); }), 0.0);
  EXPECT_EQ(maxdiff(va, [&](int i, int j) { return (i + 3.0 * j) * r(i); }), 0.0);
  axi2(*s, za, va);
  EXPECT_LE(maxdiff(za, [](int i, int) { return i == 1 ? 0.0 : 1.0; }), 2 * kEps);
  EXPECT_LE(maxdiff(va, [](int i, int j) { return i == 1 ? 0.0 : i + 3.0 * j; }), 1024 * kEps);
}

// On the stretched grid (r and z spaced differently), T = 1, V = 0.5:
// torque of b = 4r + z: b_r = 4 by central differences on the lines i =
// 2..90, times pi RAY with pi in single precision (4 * 0.785398006439209)
// for RAY = 2; stratification w/3.1415 (single) = 1 for w = 3.1415f on j =
// 2..90. Rotation f = 0.75 with u = 2 + z, v = 3z + r: -f u in the swirl
// equation on i = 2..90; -f v_z = -2.25 in the vorticity equation inside;
// axisymmetrically also -(1/r)(v^2)_z, whose central difference is
// -(v(j+1) + v(j-1)) v_z / r exactly for v linear in z.
TEST(Forcing, TorqueRotationAndStratificationAddTheirDiscreteValues) {
  for (double axi : {0.0, 1.0}) {
    SCOPED_TRACE(axi);
    auto s = grid(axi);
    const Array1<NR>&r = s->basic.r, &z = s->basic.z;
    Field &t = s->tends.tzeta[0], &tv = s->tends.tv[0];
    fill(s->fields.b, [&](int i, int j) { return 4.0 * r(i) + z(j); });
    fill(s->fields.u, [&](int, int j) { return 2.0 + z(j); });
    fill(s->fields.v, [&](int i, int j) { return 3.0 * z(j) + r(i); });
    s->fields.w.fill(double(3.1415f));
    s->par.RAY = 2.0, s->par.SWIRL = 0.75;
    stuff(t, 1.0);
    stuff(tv, 0.5);
    torque(*s, t, s->fields.b);
    coriolis(*s, t, tv);
    strat(*s, t);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        const double vsum = 3.0 * (z(j - (j > 1)) + z(j + (j < NR))) + 2.0 * r(i);
        const double rot = edge(i) || edge(j) ? 0.0 : -2.25 - axi * 3.0 * vsum / r(i);
        const double want = 1.0 + (edge(i) ? 0.0 : 25.132736206054688) + (edge(j) ? 0.0 : 1.0) + rot;
        // The differences of v (below 7.5) and v^2 over 1/mz carry the
        // roundings of the values they take apart.
        const double tol = 16 * kEps * (30.0 + std::abs(rot) + s->basic.mz(j) * 7.5 * (1.0 + 15.0 / r(std::max(i, 2))));
        ASSERT_NEAR(t(i, j), want, tol) << i << ' ' << j;
        ASSERT_NEAR(tv(i, j), edge(i) ? 0.5 : 0.5 - 0.75 * (2.0 + z(j)), 8 * kEps) << i << ' ' << j;
      }
  }
}

TEST(Advection, ArakawaJacobianIsExactForLinearFieldsAndAntisymmetricUnderMirroring) {
  // Unit spacing (mr = mz = 2, rc = rhoc = 1), plane.
  auto s = grid(0.0, 1.0);
  Field &psi = s->fields.psi, &a = s->foraxi.zadv, &t = s->tends.tzeta[0];
  // psi = i, A = j, T = 0 as a fresh State has it: T = psi_z A_r - psi_r A_z
  // = -1 inside; the single-precision 1/48 is 3.0e-8 high.
  fill(psi, [](int i, int) { return i; });
  fill(a, [](int, int j) { return j; });
  arakawa(*s, t, a);
  EXPECT_LE(maxdiff(t, cst(-1), 2, NC), 3.1e-8);
  // Integer fields keep every flux and sum exact, so the mirror image in i
  // or j is the exact negative, walls and corners (psi nonzero) included.
  Field &psi0 = s->foraxi.vadv, &a0 = s->tends.tzeta[1], &t0 = s->tends.tzeta[2];
  fill(psi0, [](int, int) { return std::round(20 * rnd()); });
  fill(a0, [](int, int) { return std::round(20 * rnd()); });
  for (int mir : {0, 1, 2}) {
    auto m = [&](auto& f, int i, int j) { return f(mir == 1 ? 92 - i : i, mir == 2 ? 92 - j : j); };
    fill(psi, [&](int i, int j) { return m(psi0, i, j); });
    fill(a, [&](int i, int j) { return m(a0, i, j); });
    t.fill(0.0);
    arakawa(*s, t, a);
    if (mir == 0) t0 = t;
    EXPECT_EQ(maxdiff(t0, [&](int i, int j) { return (mir ? -1 : 1) * m(t, i, j); }), 0.0) << mir;
  }
}

TEST(Advection, FluxFormFacesTakeTheMeanOrTheUpwindBiasedValue) {
  auto s = grid(0.0, 1.0);
  Field &a = s->foraxi.zadv, &t = s->tends.tzeta[0];
  // Flux form of A = i^2 + j^2 with unit mass fluxes of sign -1, 0 or +1 set
  // by the other index (flr by j, flz by i). ORDER -1 and -2 take the centred
  // mean at every face; -2.5 and -3 (-1, 5, 2)/6 of the far upstream,
  // upstream and downstream values, except for inflow through face 1 or 90,
  // which keeps the mean. Along a line T = -2 F(1) and 2 F(90) at the ends,
  // F(k-1) - F(k) inside; the two directions add. Face values below 2e4,
  // a few roundings each, up to ~20 in a sum: 4e5 eps.
  fill(a, [](int i, int j) { return double(i) * i + double(j) * j; });
  fill(s->others.flr, [&](int, int j) { return j % 3 - 1.0; });
  fill(s->others.flz, [&](int i, int) { return i % 3 - 1.0; });
  for (double ord : {-1.0, -2.0, -2.5, -3.0}) {
    // Face f of the line k: A = f^2 + k^2 there, the flux k % 3 - 1.
    auto face = [&](int f, int k) {
      const double u = k % 3 - 1.0;
      auto q = [&](int n) { return double(n) * n + double(k) * k; };
      if (ord >= -2.0 || (f == 1 && u > 0) || (f == NC && u < 0)) return u * (q(f) + q(f + 1)) / 2;
      return u * (u > 0 ? 2 * q(f + 1) + 5 * q(f) - q(f - 1)
                        : 2 * q(f) + 5 * q(f + 1) - q(f + 2)) / 6;
    };
    auto line = [&](int n, int k) {
      return n == 1 ? -2 * face(1, k) : n == NR ? 2 * face(NC, k) : face(n - 1, k) - face(n, k);
    };
    s->par.ORDER = ord;
    t.fill(0.0);
    marat(*s, t, a);
    EXPECT_LE(maxdiff(t, [&](int i, int j) { return line(i, j) + line(j, i); }), 4e5 * kEps) << ord;
  }
}

TEST(Advection, ArakawaAndFluxFormConserveTheirGridSums) {
  for (double axi : {0.0, 1.0}) {
    auto s = grid(axi);
    const Basic& g = s->basic;
    Field &psi = s->fields.psi, &a = s->foraxi.zadv, &t = s->tends.tzeta[0];
    // |sum of w f| / sum of |w f| over the cells around the points (half
    // cells at the walls, w = cell area * rc * rhoc): rounding only for a
    // conserved f.
    auto imbalance = [&](auto f) {
      double sum = 0, mag = 0;
      for (int j = 1; j <= NR; ++j)
        for (int i = 1; i <= NR; ++i) {
          const double w = (edge(i) ? 1.0 : 2.0) / g.mr(i) * (edge(j) ? 1.0 : 2.0) / g.mz(j);
          const double x = w * g.rc(i) * g.rhoc(j) * f(i, j);
          sum += x, mag += std::abs(x);
        }
      return std::abs(sum) / mag;
    };
    // The Jacobian conserves the mean and the variance of A, and the energy
    // sum of psi J, when psi = 0 on the walls (the model's wall condition),
    // A arbitrary. Each term carries ~10 roundings of its own size, the sum
    // one per term: 64 eps of the sum of magnitudes. The entry value T = 1
    // is divided by rc rhoc with the rest, so J is T - 1/(rc rhoc).
    fill(psi, [&](int i, int j) { return edge(i) || edge(j) ? 0.0 : rnd(); });
    fill(a, [&](int, int) { return rnd(); });
    t.fill(1.0);
    arakawa(*s, t, a);
    auto jac = [&](int i, int j) { return t(i, j) - 1 / (g.rc(i) * g.rhoc(j)); };
    EXPECT_LE(imbalance(jac), 64 * kEps) << axi;
    EXPECT_LE(imbalance([&](int i, int j) { return a(i, j) * jac(i, j); }), 64 * kEps) << axi;
    EXPECT_LE(imbalance([&](int i, int j) { return psi(i, j) * jac(i, j); }), 64 * kEps) << axi;
    // Axisymmetric velocities are the fluxes over rc (rho = 1): |flz| <= 2,
    // two roundings, rc(1) the smallest radius weight. The flux form adds to
    // T without creating or destroying A: the cell-weighted sum of T - 1
    // vanishes (increments of tens, a few roundings each), upwind faces.
    s->par.ORDER = -3.0;
    fill(psi, [&](int i, int j) { return std::sin(2 * g.r(i) + 1) * std::cos(3 * g.z(j)); });
    velocity(*s);
    auto w = [&](int i, int j) { return s->others.flz(i, j) / g.rc(i); };
    EXPECT_LE(maxdiff(s->fields.w, w), 4 * kEps / g.rc(1)) << axi;
    t.fill(1.0);
    marat(*s, t, a);
    EXPECT_LE(imbalance([&](int i, int j) { return t(i, j) - 1.0; }), 32 * kEps) << axi;
    // A constant in a stream-function flow, whose face fluxes are
    // divergence free: nothing remains away from the walls beyond the
    // roundings of four face terms of size |A| |flux| m / rc.
    a.fill(2.5);
    t.fill(0.0);
    marat(*s, t, a);
    for (int j = 2; j <= NC; ++j)
      for (int i = 2; i <= NC; ++i)
        EXPECT_NEAR(t(i, j), 0.0, 16 * kEps * 2.5 * 4 * (g.mr(i) + g.mz(j)) / g.rc(i));
  }
}
