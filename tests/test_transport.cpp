#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "grid/grid.hpp"
#include "transport/transport.hpp"

using namespace qel;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

template <class G>
void fill(Field& f, G g) {
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) f(i, j) = g(i, j);
}

// Reproducible values in [-1, 1) without a generator.
double noise(int i, int j, unsigned seed) {
  const unsigned h = (unsigned(i) * 73856093u) ^ (unsigned(j) * 19349663u) ^ (seed * 83492791u);
  return double((h * 2654435761u) >> 8) / double(1u << 23) - 1.0;
}

// Stretched grid (axisymmetric unless axi = 0) with a cell viscosity that
// varies from cell to cell.
std::unique_ptr<State> stretched_grid(double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = 1.3, s->par.HITE = 0.9, s->par.STR = 0.6, s->par.STZ = 1.4, s->par.AXI = axi;
  maketrans(*s);
  for (int q = 1; q <= NC; ++q)
    for (int p = 1; p <= NC; ++p) s->fields.viscp(p, q) = 1.0e-2 * (1.5 + noise(p, q, 9));
  return s;
}

// Uniform spacing h both ways with K = 1. With h a power of two every
// coordinate and factor is exact, so identities hold to the last bit.
std::unique_ptr<State> uniform_grid(double h, double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = s->par.HITE = 90.0 * h, s->par.STR = s->par.STZ = 1.0, s->par.AXI = axi;
  maketrans(*s);
  Basic& g = s->basic;
  for (int k = 1; k <= NR; ++k) g.r(k) = g.z(k) = (k - 1) * h, g.mr(k) = g.mz(k) = 2.0 / h;
  for (int k = 1; k <= NC; ++k) g.mrh(k) = g.mzh(k) = 2.0 / h;
  if (axi != 0.0) {
    g.rc(1) = h / 2, g.rc(NR) = (g.r(NC) + g.r(NR)) / 2;
    for (int k = 2; k < NR; ++k) g.rc(k) = g.r(k);
    for (int k = 1; k <= NC; ++k) g.rh(k) = (g.r(k) + g.r(k + 1)) / 2;
  }
  s->fields.viscp.fill(1.0);
  return s;
}

}  // namespace

TEST(Advection, ConstantAndLinearFieldsGiveExactTendenciesAndSpareTheCorners) {
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
  auto t0 = std::make_unique<Field>();
  const Field &u = s->contra.ucon, &w = s->contra.wcon;
  fill(s->contra.ucon, [](int i, int j) { return noise(i, j, 5) < 0 ? -2.0 : 1.5; });
  fill(s->contra.wcon, [](int i, int j) { return noise(i, j, 6) < 0 ? -0.5 : 4.0; });
  fill(*t0, [](int i, int j) { return noise(i, j, 3); });
  // F = a i + b j + 5 with integer slopes: every formula gives exactly the
  // half derivatives a/2, b/2 (zero for a constant); wall nodes take only
  // the term along the wall, corners nothing.
  for (auto scheme : {&advect3, &advect5})
    for (const double a : {0.0, 3.0}) {
      const double b = -2.0 * a / 3.0;
      fill(*f, [=](int i, int j) { return a * i + b * j + 5.0; });
      *t = *t0;
      scheme(*s, *t, *f);
      for (int j = 1; j <= NR; ++j)
        for (int i = 1; i <= NR; ++i) {
          double want = (*t0)(i, j);
          if (i > 1 && i < NR) want = want - 0.5 * a * u(i, j);
          if (j > 1 && j < NR) want = want - 0.5 * b * w(i, j);
          ASSERT_EQ((*t)(i, j), want) << a << " " << i << " " << j;
        }
    }
}

namespace {

enum Formula { C2, U3p, U3m, U5p, U5m, None };

// What a formula gives for F = x^n, minus the exact half derivative
// n x^(n-1)/2 (Taylor expansion of the stencils): the third-order ones are
// exact for cubics, the fifth-order ones for quintics, and x^6 tells all
// five apart.
double residual(Formula d, int n, double x) {
  if (d == None) return -0.5 * n * std::pow(x, n - 1);  // the node is not swept
  if (n == 3) return d == C2 ? 0.5 : 0.0;
  if (n == 5) {
    const double r[] = {0.5 + 5 * x * x, -2 + 5 * x, -2 - 5 * x, 0, 0};
    return r[d];
  }
  const double r[] = {3 * x + 10 * x * x * x, 5 - 12 * x + 15 * x * x, -5 - 12 * x - 15 * x * x, -6,
                      6};
  return r[d];
}

// The formula taken at node k of a sweep: the widest upwind-biased one whose
// points lie in 1..91 (and U3p at 89 along j), centred where none fits.
Formula chosen(int order, bool along_j, int k, bool positive) {
  if (k == 1 || k == NR) return None;
  if (k == 2) return positive ? C2 : U3m;
  if (k == 90) return positive ? U3p : C2;
  if (order == 3) return positive ? U3p : U3m;
  if (k == 3) return positive ? U3p : U5m;
  if (k == 89) return positive ? (along_j ? U3p : U5p) : U3m;
  return positive ? U5p : U5m;
}

}  // namespace

TEST(Advection, FormulasAreExactToTheirOrderAndFallBackNearTheEnds) {
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
  for (int order : {3, 5})
    for (int n : {order, 6})
      for (bool along_j : {false, true})
        for (double v : {1.0, -1.0}) {
          s->contra.ucon.fill(along_j ? 0.0 : v);
          s->contra.wcon.fill(along_j ? v : 0.0);
          fill(*f, [&](int i, int j) { return std::pow(along_j ? j : i, n); });
          t->fill(0.0);
          (order == 3 ? advect3 : advect5)(*s, *t, *f);
          for (int a = 1; a <= NR; ++a)
            for (int k = 1; k <= NR; ++k) {
              const double got = -(along_j ? (*t)(a, k) : (*t)(k, a)) / v;
              const double want =
                  0.5 * n * std::pow(k, n - 1) + residual(chosen(order, along_j, k, v > 0), n, k);
              // Integer sums are exact; one rounding of values below 2e10
              // (1e-5), against residuals that differ by at least 1/2.
              ASSERT_NEAR(got, want, 1.0e-3)
                  << "order " << order << " x^" << n << (along_j ? " j" : " i") << "-sweep node "
                  << k << " velocity " << v;
            }
        }
}

TEST(Diffusion, ConstantFieldAndSolidBodyRotationFeelNoStress) {
  auto s = stretched_grid(1.0);
  auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
  fill(*t, [](int i, int j) { return noise(i, j, 10); });
  const Field before = *t;
  f->fill(2.5);
  diffuse(*s, *t, *f);
  EXPECT_EQ(t->a, before.a);
  // F = r: F/r = 1 exactly, so every flux of afdiff vanishes.
  fill(*f, [&](int i, int) { return s->basic.r(i); });
  afdiff(*s, *t, *f);
  EXPECT_EQ(t->a, before.a);
  // Any field, whatever the scratch holds: afdiff leaves the axis row to the
  // caller.
  fill(*f, [](int i, int j) { return noise(i, j, 11); });
  s->spare.diffuse.dsum.fill(1.0);
  afdiff(*s, *t, *f);
  for (int j = 1; j <= NR; ++j) ASSERT_EQ((*t)(1, j), before(1, j)) << j;
}

TEST(Diffusion, LinearFieldFeelsOnlyTheFluxFreeWalls) {
  // F = j has the flux K/dz everywhere, felt only by the end rows, as
  // +-2K/dz^2 (K = 1/2); likewise F = i at the end columns.
  const double h = 1.0 / 128, wall = 1.0 / (h * h);
  auto s = uniform_grid(h, 0.0);
  s->fields.viscp.fill(0.5);
  auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
  for (bool along_j : {true, false}) {
    fill(*f, [&](int i, int j) { return double(along_j ? j : i); });
    t->fill(0.0);
    diffuse(*s, *t, *f);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        const int k = along_j ? j : i;
        ASSERT_EQ((*t)(i, j), k == 1 ? wall : k == NR ? -wall : 0.0) << i << " " << j;
      }
  }
}

TEST(Diffusion, WeightedSumOfTheTendencyVanishes) {
  // What leaves a node's control volume enters its neighbour's and nothing
  // crosses a wall: sum rc * volume * dT = 0, the volume being 2/m inside
  // and 1/m on a wall along each axis; on a uniform plane grid the weights
  // are 1, 1/2 and 1/4 at interior, wall and corner nodes.
  for (bool plane : {true, false}) {
    auto s = plane ? uniform_grid(1.0 / 128, 0.0) : stretched_grid(1.0);
    if (plane)
      for (int q = 1; q <= NC; ++q)
        for (int p = 1; p <= NC; ++p) s->fields.viscp(p, q) = 1.5 + noise(p, q, 12);
    auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
    fill(*f, [](int i, int j) { return noise(i, j, 13); });
    t->fill(0.0);
    diffuse(*s, *t, *f);
    const Basic& g = s->basic;
    long double sum = 0, size = 0;
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        const double vr = (i == 1 || i == NR ? 1.0 : 2.0) / g.mr(i),
                     vz = (j == 1 || j == NR ? 1.0 : 2.0) / g.mz(j);
        const long double x = (long double)g.rc(i) * vr * vz * (*t)(i, j);
        sum += x, size += std::fabs(x);
      }
    // Each node's value carries a few roundings of its own size; the sum is
    // accumulated in extended precision.
    EXPECT_LE(std::fabs(double(sum)), 16 * kEps * double(size))
        << (plane ? "plane" : "axisymmetric");
    EXPECT_GT(size, 0.0L);
  }
}

TEST(Diffusion, SmoothFieldsConvergeAtSecondOrder) {
  // Plane: the Laplacian of F = sin(3r + 0.3) cos(2z + 0.2) is -13 F.
  // Axisymmetric: F = sin(3r) cos(2z) against F_rr + F_r/r - F/r^2 + F_zz.
  auto error = [](bool axi, double h, int refine) {
    auto s = uniform_grid(h, axi ? 1.0 : 0.0);
    auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
    const Basic& g = s->basic;
    fill(*f, [&](int i, int j) {
      return axi ? std::sin(3 * g.r(i)) * std::cos(2 * g.z(j))
                 : std::sin(3 * g.r(i) + 0.3) * std::cos(2 * g.z(j) + 0.2);
    });
    t->fill(0.0);
    (axi ? afdiff : diffuse)(*s, *t, *f);
    // The same physical points on both grids, off the axis by 13h for afdiff.
    double e = 0;
    for (int m = axi ? 13 : 1; m <= 44; ++m)
      for (int l = 1; l <= 44; ++l) {
        const int i = 1 + m * refine, j = 1 + l * refine;
        const double r = g.r(i), z = g.z(j);
        const double want =
            axi ? (-13 * std::sin(3 * r) + 3 * std::cos(3 * r) / r - std::sin(3 * r) / (r * r)) *
                      std::cos(2 * z)
                : -13 * (*f)(i, j);
        e = std::max(e, std::fabs((*t)(i, j) - want));
      }
    return e;
  };
  const double h = 1.0 / 128;
  for (bool axi : {false, true}) {
    const double e1 = error(axi, h, 1), e2 = error(axi, h / 2, 2);
    // Halving h divides a second-order error by 4 up to the next term,
    // relatively (3h)^2 ~ 5e-4 and (h/r)^2 <= 6e-3 here, times small constants;
    // the error itself is h^2 times fourth derivatives of size (3^2 + 2^2)^2.
    EXPECT_NEAR(e1 / e2, 4.0, axi ? 0.1 : 0.02) << e1 << " " << e2;
    EXPECT_LT(e1, 169 * h * h);
  }
}
