#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include "grid/grid.hpp"
#include "transport/transport.hpp"

using namespace qel;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

using Scheme = void (*)(const State&, Field&, const Field&);

void fill(Field& f, const std::function<double(int, int)>& g) {
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) f(i, j) = g(i, j);
}

// Reproducible values in [-1, 1) without a generator.
double noise(int i, int j, int seed = 0) {
  const unsigned h = (unsigned(i) * 73856093u) ^ (unsigned(j) * 19349663u) ^ (unsigned(seed) * 83492791u);
  return double((h * 2654435761u) >> 8) / double(1u << 23) - 1.0;
}

// Grid of uniform spacing h in both directions. With h a power of two all
// coordinates and factors are exact, so identities hold to the last bit.
std::unique_ptr<State> uniform_grid(double h, double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = s->par.HITE = 90.0 * h;
  s->par.STR = s->par.STZ = 1.0;
  s->par.AXI = axi;
  maketrans(*s);
  Basic& g = s->basic;
  for (int k = 1; k <= NR; ++k) {
    g.r(k) = g.z(k) = (k - 1) * h;
    g.mr(k) = g.mz(k) = 2.0 / h;
  }
  for (int k = 1; k <= NC; ++k) g.mrh(k) = g.mzh(k) = 2.0 / h;
  if (axi != 0.0) {
    g.rc(1) = (g.r(1) + g.r(2)) / 2;
    for (int k = 2; k < NR; ++k) g.rc(k) = (g.r(k - 1) + g.r(k + 1)) / 2;
    g.rc(NR) = (g.r(NC) + g.r(NR)) / 2;
    for (int k = 1; k <= NC; ++k) g.rh(k) = (g.r(k) + g.r(k + 1)) / 2;
  }
  s->fields.viscp.fill(1.0);
  return s;
}

std::unique_ptr<State> stretched_grid(double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = 1.3;
  s->par.HITE = 0.9;
  s->par.STR = 0.6;
  s->par.STZ = 1.4;
  s->par.AXI = axi;
  maketrans(*s);
  for (int q = 1; q <= NC; ++q)
    for (int p = 1; p <= NC; ++p) s->fields.viscp(p, q) = 1.0e-2 * (1.5 + noise(p, q, 9));
  return s;
}

}  // namespace

// ---------------------------------------------------------------- advection

TEST(Advection, ConstantFieldOrZeroVelocityChangesNothing) {
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Field>();
  auto f = std::make_unique<Field>();
  for (Scheme scheme : {&advect3, &advect5}) {
    // Velocities of both signs and zero; an integer constant keeps every
    // weighted sum exactly zero.
    fill(s->contra.ucon, [](int i, int j) { return std::round(3 * noise(i, j, 1)); });
    fill(s->contra.wcon, [](int i, int j) { return std::round(3 * noise(i, j, 2)); });
    fill(*t, [](int i, int j) { return 1.0 + noise(i, j, 3); });
    const Field before = *t;
    f->fill(5.0);
    scheme(*s, *t, *f);
    EXPECT_EQ(t->a, before.a);

    s->contra.ucon.fill(0.0);
    s->contra.wcon.fill(0.0);
    fill(*f, [](int i, int j) { return noise(i, j, 4); });
    scheme(*s, *t, *f);
    EXPECT_EQ(t->a, before.a);
  }
}

TEST(Advection, LinearFieldGivesTheExactTendencyAndSparesTheCorners) {
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Field>();
  auto f = std::make_unique<Field>();
  // F = 3i - 2j: every formula gives half the index derivative, 3/2 and -1.
  fill(*f, [](int i, int j) { return 3.0 * i - 2.0 * j; });
  fill(s->contra.ucon, [](int i, int j) { return noise(i, j, 5) < 0 ? -2.0 : 1.5; });
  fill(s->contra.wcon, [](int i, int j) { return noise(i, j, 6) < 0 ? -0.5 : 4.0; });
  const Field& u = s->contra.ucon;
  const Field& w = s->contra.wcon;
  for (Scheme scheme : {&advect3, &advect5}) {
    t->fill(0.0);
    scheme(*s, *t, *f);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        const bool iin = i > 1 && i < NR, jin = j > 1 && j < NR;
        const double want = (iin ? -(1.5 * u(i, j)) : 0.0) - (jin ? -1.0 * w(i, j) : 0.0);
        ASSERT_EQ((*t)(i, j), want) << i << " " << j;
      }
  }
}

TEST(Advection, InteriorFormulasAreExactForPolynomialsOfTheirOrder) {
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Field>();
  auto f = std::make_unique<Field>();
  fill(s->contra.ucon, [](int i, int j) { return noise(i, j, 7); });
  fill(s->contra.wcon, [](int i, int j) { return noise(i, j, 8); });
  const Field& u = s->contra.ucon;
  const Field& w = s->contra.wcon;
  // Third-order upwind formulas are exact for cubics (nodes 3..89 use them
  // for either sign), fifth-order ones for quintics (nodes 4..88).
  struct Case {
    Scheme scheme;
    int degree, lo, hi;
  };
  for (const Case c : {Case{&advect3, 3, 3, 89}, Case{&advect5, 5, 4, 88}}) {
    const int n = c.degree;
    fill(*f, [n](int i, int j) { return std::pow(i, n) - 2.0 * std::pow(j, n); });
    t->fill(0.0);
    c.scheme(*s, *t, *f);
    for (int j = c.lo; j <= c.hi; ++j)
      for (int i = c.lo; i <= c.hi; ++i) {
        const double di = 0.5 * n * std::pow(i, n - 1), dj = -n * std::pow(j, n - 1);
        const double want = -(di * u(i, j)) - dj * w(i, j);
        // The integer sums are exact; the factor and two products round.
        const double tol = 4 * kEps * (std::fabs(di * u(i, j)) + std::fabs(dj * w(i, j)));
        ASSERT_NEAR((*t)(i, j), want, tol) << n << " " << i << " " << j;
      }
  }
}

namespace {

enum Formula { C2, U3p, U3m, U5p, U5m, None };

// What each formula gives, minus the exact half derivative 3x^5, for
// F = x^6 (from Taylor expansion of the stencils): a signature per formula.
double residual_x6(Formula d, double x) {
  switch (d) {
    case C2: return 3 * x + 10 * x * x * x;
    case U3p: return 5 - 12 * x + 15 * x * x;
    case U3m: return -5 - 12 * x - 15 * x * x;
    case U5p: return -6;
    case U5m: return 6;
    default: return 0;
  }
}

// The formula taken at node n of a sweep, for positive and negative flow.
Formula chosen(int order, bool along_j, int n, bool positive) {
  if (n == 2) return positive ? C2 : U3m;
  if (n == 90) return positive ? U3p : C2;
  if (order == 3) return positive ? U3p : U3m;
  if (n == 3) return positive ? U3p : U5m;
  if (n == 89) return positive ? (along_j ? U3p : U5p) : U3m;
  return positive ? U5p : U5m;
}

}  // namespace

TEST(Advection, StencilChoiceFollowsNodeAndFlowDirection) {
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Field>();
  auto f = std::make_unique<Field>();
  for (int order : {3, 5})
    for (bool along_j : {false, true})
      for (double v : {1.0, -1.0}) {
        // Flow along one direction only, F = x^6 along it.
        s->contra.ucon.fill(along_j ? 0.0 : v);
        s->contra.wcon.fill(along_j ? v : 0.0);
        fill(*f, [&](int i, int j) { return std::pow(along_j ? j : i, 6); });
        t->fill(0.0);
        (order == 3 ? advect3 : advect5)(*s, *t, *f);
        for (int a = 1; a <= NR; ++a)
          for (int n = 1; n <= NR; ++n) {
            const double got = along_j ? (*t)(a, n) : (*t)(n, a);
            const Formula d = (n == 1 || n == NR) ? None : chosen(order, along_j, n, v > 0);
            // -got/v is the half derivative, ~3n^5 <= 2e10, good to ~1e-5;
            // residuals of different formulas differ by at least 12.
            const double want = d == None ? 0.0 : 3.0 * std::pow(n, 5) + residual_x6(d, n);
            ASSERT_NEAR(-got / v, want, 1.0e-3)
                << "order " << order << (along_j ? " j" : " i") << "-sweep node " << n
                << " velocity " << v;
          }
      }
}

// ---------------------------------------------------------------- diffusion

TEST(Diffusion, ConstantFieldAndSolidBodyRotationFeelNoStress) {
  auto s = stretched_grid(1.0);
  auto t = std::make_unique<Field>();
  auto f = std::make_unique<Field>();
  fill(*t, [](int i, int j) { return noise(i, j, 10); });
  const Field before = *t;
  f->fill(2.5);
  diffuse(*s, *t, *f);
  EXPECT_EQ(t->a, before.a);

  // F = r: F/r = 1 exactly, so every flux of afdiff vanishes.
  fill(*f, [&](int i, int) { return s->basic.r(i); });
  afdiff(*s, *t, *f);
  EXPECT_EQ(t->a, before.a);

  // Any field: the axis row is never touched by afdiff.
  fill(*f, [](int i, int j) { return noise(i, j, 11); });
  afdiff(*s, *t, *f);
  for (int j = 1; j <= NR; ++j) ASSERT_EQ((*t)(1, j), before(1, j)) << j;
}

TEST(Diffusion, LinearFieldFeelsOnlyTheFluxFreeWalls) {
  // Uniform plane grid, K = 1/2: F = j has the flux K/dz everywhere, which
  // only the end rows see, as +-2K/dz^2; likewise F = i at the end columns.
  const double h = 1.0 / 128, k = 0.5, wall = 2 * k / (h * h);
  auto s = uniform_grid(h, 0.0);
  s->fields.viscp.fill(k);
  auto t = std::make_unique<Field>();
  auto f = std::make_unique<Field>();
  for (bool along_j : {true, false}) {
    fill(*f, [&](int i, int j) { return double(along_j ? j : i); });
    t->fill(0.0);
    diffuse(*s, *t, *f);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        const int n = along_j ? j : i;
        ASSERT_EQ((*t)(i, j), n == 1 ? wall : n == NR ? -wall : 0.0) << i << " " << j;
      }
  }
}

TEST(Diffusion, WeightedSumOfTheTendencyVanishes) {
  // What leaves a node's control volume enters its neighbour's and nothing
  // crosses a wall: sum rc * (volume) * dT = 0, the volume being 2/m inside
  // and 1/m on a wall along each axis. On a uniform plane grid the weights
  // are 1, 1/2 and 1/4 at interior, wall and corner nodes.
  for (bool plane : {true, false}) {
    auto s = plane ? uniform_grid(1.0 / 128, 0.0) : stretched_grid(1.0);
    if (plane)
      for (int q = 1; q <= NC; ++q)
        for (int p = 1; p <= NC; ++p) s->fields.viscp(p, q) = 1.0 + 0.5 * noise(p, q, 12);
    auto t = std::make_unique<Field>();
    auto f = std::make_unique<Field>();
    fill(*f, [](int i, int j) { return noise(i, j, 13); });
    t->fill(0.0);
    diffuse(*s, *t, *f);
    const Basic& g = s->basic;
    long double sum = 0, size = 0;
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        const double vr = (i == 1 || i == NR ? 1.0 : 2.0) / g.mr(i);
        const double vz = (j == 1 || j == NR ? 1.0 : 2.0) / g.mz(j);
        const long double x = (long double)g.rc(i) * vr * vz * (*t)(i, j);
        sum += x;
        size += std::fabs(x);
      }
    // Each node's value carries a few roundings of its own size; the sum is
    // accumulated in extended precision.
    EXPECT_LE(std::fabs(double(sum)), 16 * kEps * double(size)) << (plane ? "plane" : "axisymmetric");
    EXPECT_GT(size, 0.0L);
  }
}

namespace {

// Largest error of an operator against an analytic result over the nodes
// (1 + m*refine) with m = mlo..mhi in both directions: the same physical
// points on grids of spacing h and h/2.
double max_error(bool axi, double h, int refine, int mlo, int mhi,
                 const std::function<double(double, double)>& field,
                 const std::function<double(double, double)>& exact) {
  auto s = uniform_grid(h, axi ? 1.0 : 0.0);
  auto t = std::make_unique<Field>();
  auto f = std::make_unique<Field>();
  fill(*f, [&](int i, int j) { return field(s->basic.r(i), s->basic.z(j)); });
  t->fill(0.0);
  if (axi)
    afdiff(*s, *t, *f);
  else
    diffuse(*s, *t, *f);
  double e = 0;
  for (int m = mlo; m <= mhi; ++m)
    for (int l = mlo; l <= mhi; ++l) {
      const int i = 1 + m * refine, j = 1 + l * refine;
      e = std::max(e, std::fabs((*t)(i, j) - exact(s->basic.r(i), s->basic.z(j))));
    }
  return e;
}

}  // namespace

TEST(Diffusion, SmoothFieldsConvergeAtSecondOrder) {
  const double a = 3.0, b = 2.0;
  // Plane: Laplacian of sin(a r + 0.3) cos(b z + 0.2) is -(a^2 + b^2) F.
  auto plane = [=](double r, double z) { return std::sin(a * r + 0.3) * std::cos(b * z + 0.2); };
  auto lap = [=](double r, double z) { return -(a * a + b * b) * plane(r, z); };
  // Axisymmetric: F = sin(a r) cos(b z), operator F_rr + F_r/r - F/r^2 + F_zz.
  auto swirl = [=](double r, double z) { return std::sin(a * r) * std::cos(b * z); };
  auto vlap = [=](double r, double z) {
    const double sr = std::sin(a * r), cr = std::cos(a * r), cz = std::cos(b * z);
    return (-(a * a + b * b) * sr + a * cr / r - sr / (r * r)) * cz;
  };
  const double h = 1.0 / 128;
  // Coarse nodes 2..45 (and 14..45 off the axis) lie inside both grids.
  const double ep1 = max_error(false, h, 1, 1, 44, plane, lap);
  const double ep2 = max_error(false, h / 2, 2, 1, 44, plane, lap);
  const double ea1 = max_error(true, h, 1, 13, 44, swirl, vlap);
  const double ea2 = max_error(true, h / 2, 2, 13, 44, swirl, vlap);
  // Halving h divides a second-order error by 4, up to the next term,
  // relatively (a h)^2 ~ 5e-4 and (h/r)^2 <= 6e-3 here, times small constants.
  EXPECT_NEAR(ep1 / ep2, 4.0, 0.02) << ep1 << " " << ep2;
  EXPECT_NEAR(ea1 / ea2, 4.0, 0.1) << ea1 << " " << ea2;
  // And the error itself is of size h^2 times fourth derivatives (<= 169).
  EXPECT_LT(ep1, 169 * h * h);
  EXPECT_LT(ea1, 169 * h * h);
}
