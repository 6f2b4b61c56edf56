#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "grid/grid.hpp"
#include "transport/transport.hpp"

using namespace qel;

template <class A, class G>
static void fill(A& f, G g) {
  for (std::size_t n = 0; n < A::size(); ++n) f.a[n] = g(int(n % A::nx) + 1, int(n / A::nx) + 1);
}

// Reproducible values in (-1, 1) without a generator.
static double noise(int i, int j, int seed) { return std::fmod(4e4 * std::sin(13.1 * i + 78.2 * j + seed), 1.0); }

// K = 1 on the stretched grid (h = 0) or on uniform spacing h both ways:
// with h a power of two every coordinate and factor of the latter is exact,
// so identities hold to the last bit.
static std::unique_ptr<State> grid(double h, double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = 1.3, s->par.HITE = 0.9, s->par.STR = 0.6, s->par.STZ = 1.4, s->par.AXI = axi;
  maketrans(*s);
  s->fields.viscp.fill(1.0);
  if (h == 0.0) return s;
  Basic& g = s->basic;
  for (int k = 1; k <= NR; ++k) g.r(k) = g.z(k) = (k - 1) * h, g.mr(k) = g.mz(k) = 2.0 / h;
  for (int k = 1; k <= NC; ++k) g.mrh(k) = g.mzh(k) = 2.0 / h, g.rh(k) = axi == 0.0 ? 1.0 : (k - 0.5) * h;
  for (int k = 1; k <= NR; ++k) g.rc(k) = axi == 0.0 ? 1.0 : k == 1 ? h / 2 : k == NR ? (NR - 1.5) * h : g.r(k);
  return s;
}

enum Formula { C2, U3p, U3m, U5p, U5m, None };

// What a formula gives for F = x^n, minus the exact half derivative
// n x^(n-1)/2 (Taylor expansion of the stencils): all are exact for lines,
// the third-order ones for cubics, the fifth-order ones for quintics, and x^6
// tells all five apart.
static double residual(Formula d, int n, double x) {
  if (d == None) return -0.5 * n * std::pow(x, n - 1);  // the node is not swept
  const double r3[] = {0.5, 0, 0, 0, 0}, r5[] = {0.5 + 5 * x * x, -2 + 5 * x, -2 - 5 * x, 0, 0},
               r6[] = {3 * x + 10 * x * x * x, 5 - 12 * x + 15 * x * x, -5 - 12 * x - 15 * x * x, -6, 6};
  return n < 3 ? 0.0 : n == 3 ? r3[d] : n == 5 ? r5[d] : r6[d];
}

// The formula taken at node k of a sweep: the widest upwind-biased one whose
// points lie in 1..91 (and U3p at 89 along j), centred where none fits.
static Formula chosen(int order, bool along_j, int k, bool positive) {
  if (k == 1 || k == NR) return None;
  if (k == 2) return positive ? C2 : U3m;
  if (k == 90) return positive ? U3p : C2;
  if (order == 3) return positive ? U3p : U3m;
  if (k == 3) return positive ? U3p : U5m;
  if (k == 89) return positive ? (along_j ? U3p : U5p) : U3m;
  return positive ? U5p : U5m;
}

TEST(Advection, FormulasAreExactToTheirOrderAndFallBackNearTheEnds) {
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
  // Each node's own velocity, -2 or 1 at random, picks its stencil; both
  // sweeps run, but F varies along one direction, so the other adds zeros.
  fill(s->contra.ucon, [](int i, int j) { return noise(i, j, 0) < 0 ? -2.0 : 1.0; });
  fill(s->contra.wcon, [](int i, int j) { return noise(i, j, 1) < 0 ? -2.0 : 1.0; });
  for (int order : {3, 5})
    for (int n : {0, 1, order, 6})
      for (bool along_j : {false, true}) {
        fill(*f, [&](int i, int j) { return std::pow(along_j ? j : i, n); });
        t->fill(0.25);
        (order == 3 ? advect3 : advect5)(*s, *t, *f);
        for (int j = 1; j <= NR; ++j)
          for (int i = 1; i <= NR; ++i) {
            const int k = along_j ? j : i;
            const double v = (along_j ? s->contra.wcon : s->contra.ucon)(i, j), got = -((*t)(i, j) - 0.25) / v;
            const double want = 0.5 * n * std::pow(k, n - 1) + residual(chosen(order, along_j, k, v > 0), n, k);
            // Integer sums are exact; a rounding or two of values below 4e10
            // (1e-5), against residuals that differ by at least 1/2.
            ASSERT_NEAR(got, want, 1.0e-3) << order << " x^" << n << " " << along_j << " " << i << " " << j;
          }
      }
}

TEST(Diffusion, LinearFieldsFeelOnlyTheWallsConstantsAndSolidBodyRotationNothing) {
  auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
  // F = i + 2j has the fluxes K/dr and 2K/dz everywhere, felt only by the
  // end rows and columns as +-2K/dr^2 and +-4K/dz^2 (here K = 1, h = 1/128):
  // exact in binary.
  auto s = grid(1.0 / 128, 0.0);
  const auto wall = [](int k) { return k == 1 ? 2.0 * 128 * 128 : k == NR ? -2.0 * 128 * 128 : 0.0; };
  fill(*f, [](int i, int j) { return double(i + 2 * j); });
  diffuse(*s, *t, *f);
  fill(*f, [&](int i, int j) { return wall(i) + 2 * wall(j); });
  EXPECT_EQ(t->a, f->a);
  // On the stretched axisymmetric grid a constant under diffuse and the
  // solid-body rotation F = r under afdiff (F/r = 1 exactly, so every flux
  // vanishes) leave the tendency exactly as it was.
  s = grid(0.0, 1.0);
  fill(*t, [](int i, int j) { return noise(i, j, 14); });
  const Field before = *t;
  f->fill(2.5);
  diffuse(*s, *t, *f);
  fill(*f, [&](int i, int) { return s->basic.r(i); });
  afdiff(*s, *t, *f);
  EXPECT_EQ(t->a, before.a);
}

TEST(Diffusion, ConservesTheWeightedSum) {
  auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
  auto s = grid(1.0 / 128, 0.0);
  // What leaves a node's control volume enters its neighbour's and nothing
  // crosses a wall: sum rc * volume * dT = 0 for any field and viscosity, the
  // volume being 2/m inside and 1/m on a wall along each axis (on a uniform
  // plane grid the weights are 1, 1/2 and 1/4 at interior, wall and corner
  // nodes). Each term carries a few roundings of its own size; the sum is
  // accumulated in extended precision to within 16 eps of the sum of sizes.
  const auto volume = [](int k, const Array1<NR>& m) { return (k == 1 || k == NR ? 1.0 : 2.0) / m(k); };
  for (bool plane : {true, false}) {
    if (!plane) s = grid(0.0, 1.0);
    fill(s->fields.viscp, [](int p, int q) { return 1.5 + noise(p, q, 12); });
    fill(*f, [](int i, int j) { return noise(i, j, 13); });
    t->fill(0.0);
    diffuse(*s, *t, *f);
    const Basic& g = s->basic;
    fill(*f, [&](int i, int j) { return g.rc(i) * volume(i, g.mr) * volume(j, g.mz) * (*t)(i, j); });
    long double sum = 0, size = 0;
    for (const double x : f->a) sum += x, size += std::fabs(x);
    EXPECT_TRUE(size > 0 && std::fabs(double(sum)) <= 0x1p-48 * double(size)) << plane << " " << double(sum);
  }
}

TEST(Diffusion, ConvergesAtSecondOrderInBothGeometries) {
  auto t = std::make_unique<Field>(), f = std::make_unique<Field>();
  std::unique_ptr<State> s;
  // Plane: the Laplacian of F = sin(3r) cos(2z) is -13 F. Axisymmetric: the
  // vector Laplacian F_rr + F_r/r - F/r^2 + F_zz = -13 F + (3 cos(3r) cos(2z)
  // - F/r)/r, off the axis by 13h, at the same physical points on both grids.
  const auto error = [&](bool axi, double h, int refine) {
    s = grid(h, axi ? 1.0 : 0.0);
    const Basic& g = s->basic;
    fill(*f, [&](int i, int j) { return std::sin(3 * g.r(i)) * std::cos(2 * g.z(j)); });
    t->fill(0.5);  // the tendency is added to
    s->spare.diffuse.fovr.fill(1.0);  // whatever the scratch holds
    (axi ? afdiff : diffuse)(*s, *t, *f);
    // afdiff leaves the axis row to the caller.
    for (int j = 1; axi && j <= NR; ++j) EXPECT_EQ((*t)(1, j), 0.5) << j;
    double e = 0;
    for (int m = axi ? 13 : 1; m <= 44; ++m)
      for (int l = 1; l <= 44; ++l) {
        const int i = 1 + m * refine, j = 1 + l * refine;
        const double r = g.r(i), F = (*f)(i, j);
        const double lap = -13 * F + (axi ? (3 * std::cos(3 * r) * std::cos(2 * g.z(j)) - F / r) / r : 0.0);
        e = std::fmax(e, std::fabs((*t)(i, j) - 0.5 - lap));
      }
    return e;
  };
  for (bool axi : {false, true}) {
    const double h = 1.0 / 128, e1 = error(axi, h, 1), e2 = error(axi, h / 2, 2);
    // Halving h divides a second-order error by 4 up to the next term,
    // relatively (3h)^2 ~ 5e-4 and (h/r)^2 <= 6e-3 here, times small constants;
    // the error itself is h^2 times fourth derivatives of size (3^2 + 2^2)^2.
    EXPECT_NEAR(e1 / e2, 4.0, axi ? 0.1 : 0.02) << e1 << " " << e2;
    EXPECT_LT(e1, 169 * h * h);
  }
}
