#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "elliptic/elliptic.hpp"
#include "grid/grid.hpp"

// Every heap allocation of this program is counted, so that a test can check that the
// solves allocate nothing.
static long g_allocations = 0;
void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace qel;

namespace {

constexpr double kUnit = 5.9604644775390625e-8; // 2^-24, unit roundoff of single

double interior_difference(const Field& a, const Field& b) {
  double e = 0;
  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 2; i <= NR - 1; ++i) e = std::max(e, std::abs(a(i, j) - b(i, j)));
  return e;
}

}  // namespace

// prepare: the moments sum c_k (x_k - x)^p of each three-point row must be those of
// d2/dx2 - (AXI/r) d/dx with a central first difference: -AXI/r for p = 1 and
// 2 - AXI (h+ - h-)/r for p = 2 along r, 2 for p = 2 along z. Every off-diagonal
// coefficient, rounded to single at most twice, is within 4 u max |BM| (|BN|) of its value.
// poiblk: psi = f(r) g(z), f linear and g quadratic, has exact three-point differences, so
// zeta from its derivatives is what the five-point operator gives it; poiblk must return
// psi, the walls entering through the fold into the right-hand side. -L is an M-matrix with
// zero row sums, so ||L|| = 2 max |BM + BN|; z (HITE - z)/2 has exact second differences
// and L of it is -1, so by the maximum principle ||L^-1|| <= HITE^2/8. The single-precision
// row sums (below 2 u |BM| + u |BN|, through ||L^-1||) and the solve (backward error about
// u) each miss psi by at most u kappa |psi|, and |psi| < 0.75 here.
// iterate: int(PIT) sweeps of two half-sweeps each, none for PIT below 1 or not a number,
// converging to the same solution; a Jacobi step does not increase the largest error (weak
// diagonal dominance), so from the direct solution it moves psi by at most twice that bound.
TEST(Poisson, CoefficientsDirectSolveAndSweepsAgreeWithAStreamFunctionOfExactDifferences) {
  for (const double stretch : {1.0, 0.45})
    for (const double axi : {0.0, 1.0}) {
      SCOPED_TRACE(testing::Message() << "stretch " << stretch << " AXI " << axi);
      auto s = std::make_unique<State>();
      s->par.RWID = 1.5, s->par.HITE = 1.0, s->par.AXI = axi, s->par.STR = s->par.STZ = stretch;
      maketrans(*s);
      prepare(*s);
      ASSERT_EQ(poisson_setup(*s), 0);
      const Basic& g = s->basic;
      const Blks& k = s->blks;
      double bm = 0, bn = 0;
      for (int q = 2; q <= NR - 1; ++q) {
        const double r = g.r(q), hm = r - g.r(q - 1), hp = g.r(q + 1) - r;
        const double am = k.am(q - 1), cm = k.cm(q - 1);
        const double km = g.z(q) - g.z(q - 1), kp = g.z(q + 1) - g.z(q), an = k.an(q - 1), cn = k.cn(q - 1);
        bm = std::max(bm, -double(k.bm(q - 1))), bn = std::max(bn, -double(k.bn(q - 1)));
        EXPECT_NEAR(cm * hp - am * hm, -axi / r, 4 * kUnit * bm * (hm + hp)) << q;
        EXPECT_NEAR(am * hm * hm + cm * hp * hp, 2.0 - axi * (hp - hm) / r,
                    4 * kUnit * bm * (hm * hm + hp * hp)) << q;
        EXPECT_NEAR(an * km * km + cn * kp * kp, 2.0, 4 * kUnit * bn * (km * km + kp * kp)) << q;
      }
      // 2 u kappa |psi| with kappa = ||L|| ||L^-1||.
      const double tol = 2.0 * kUnit * 2.0 * (bm + bn) * s->par.HITE * s->par.HITE / 8.0 * 0.75;
      Field exact, zeta, psi;
      for (int j = 1; j <= NR; ++j)
        for (int i = 1; i <= NR; ++i) {
          const double r = g.r(i), z = g.z(j), f = 0.3 + 0.5 * r, gz = z * z - 0.7 * z + 0.4; // |f g| < 0.75
          exact(i, j) = f * gz;
          zeta(i, j) = axi == 0.0 ? 2.0 * f : r > 0.0 ? (2.0 * f - 0.5 * gz / r) / r : 0.0;
          psi(i, j) = i == 1 || j == 1 || i == NR || j == NR ? exact(i, j) : 1e3; // walls given
        }
      const Field start = psi;
      const long allocations = g_allocations;
      poiblk(*s, zeta, psi, g.r, g.rho);
      EXPECT_LE(interior_difference(psi, exact), tol);
      Field walls = start; // with the interior of the solution
      for (std::size_t q = 0; q < walls.a.size(); ++q) walls.a[q] = walls.a[q] == 1e3 ? psi.a[q] : walls.a[q];
      EXPECT_EQ(walls.a, psi.a);
      auto sweep = [&](double pit, Field from) {
        s->par.PIT = pit;
        iterate(*s, zeta, from, g.r, g.rho);
        return from;
      };
      EXPECT_LE(interior_difference(sweep(1.0, psi), psi), 2.0 * tol);
      for (double pit : {0.7, -3.0, std::nan("")}) EXPECT_EQ(sweep(pit, start).a, start.a) << pit;
      const Field one = sweep(1.0, start), two = sweep(2.0, start);
      EXPECT_EQ(sweep(2.9, start).a, two.a);
      EXPECT_EQ(sweep(1.0, one).a, two.a); // sweeps continue from the given psi
      EXPECT_NE(sweep(3.0, start).a, two.a);
      // From the walls and 1000 inside, the error falls as sweeps accumulate: 0, 1, 2, 1002.
      const double e0 = interior_difference(start, psi), e1 = interior_difference(one, psi);
      const double e2 = interior_difference(two, psi), e3 = interior_difference(sweep(1000.0, two), psi);
      EXPECT_TRUE(e0 > e1 && e1 > e2 && e2 > e3 && e3 < 0.5 * e0)
          << e0 << ' ' << e1 << ' ' << e2 << ' ' << e3;
      EXPECT_EQ(g_allocations, allocations);
    }
}

TEST(Poisson, EveryErrorCodeIsExplained) {
  std::set<std::string> texts;
  for (int code = -1; code <= 7; ++code) texts.insert(solver_error_text(code));
  EXPECT_EQ(texts.size(), 8u); // 0 to 6, and one text for 7 and any other code such as -1
}
