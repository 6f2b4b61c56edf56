#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "elliptic/elliptic.hpp"
#include "grid/grid.hpp"

// Every heap allocation of this program is counted, so that a test can
// check that the solves allocate nothing.
namespace {
long g_allocations = 0;
}
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

std::unique_ptr<State> poisson_state(double str, double stz, double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = 1.5;
  s->par.HITE = 1.0;
  s->par.STR = str;
  s->par.STZ = stz;
  s->par.AXI = axi;
  maketrans(*s);
  prepare(*s);
  return s;
}

// A smooth stream function with non-zero wall values.
double known_psi(double r, double z) {
  return std::sin(1.3 * r + 0.7) * std::cos(2.1 * z) + 0.5 * r * r * z - 0.3;
}

// Condition number of the operator L in the maximum norm. -L is an M-matrix
// and z (HITE - z)/2, free of r, has exact three-point second differences on
// any grid, so by the discrete maximum principle ||L^-1|| <= HITE^2/8; ||L||
// is the largest row sum of the coefficients.
double condition_bound(const State& s) {
  const Blks& k = s.blks;
  double norm = 0;
  for (int jj = 1; jj <= NI; ++jj)
    for (int ii = 1; ii <= NI; ++ii)
      norm = std::max(norm, double(std::abs(k.am(ii)) + std::abs(k.cm(ii)) + std::abs(k.an(jj)) +
                                   std::abs(k.cn(jj))) + std::abs(double(k.bm(ii)) + k.bn(jj)));
  return norm * s.par.HITE * s.par.HITE / 8.0;
}

double max_interior_difference(const Field& a, const Field& b) {
  double e = 0;
  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 2; i <= NR - 1; ++i) e = std::max(e, std::abs(a(i, j) - b(i, j)));
  return e;
}

double max_abs(const Field& f) {
  double m = 0;
  for (double v : f.a) m = std::max(m, std::abs(v));
  return m;
}

}  // namespace

// Three-point second differences 2/((x+ - x-)(x - x-)) and 2/((x+ - x-)(x+ - x)),
// each rounded once to single; the axisymmetric -(1/r) psi_r moves
// t = 1/(r (r+ - r-)) from cm to am (with the rounding of both) and leaves the
// diagonal alone.
TEST(Prepare, FivePointCoefficientsOnTheStretchedGrid) {
  auto plane = poisson_state(0.4, 0.6, 0.0);
  auto axi = poisson_state(0.4, 0.6, 1.0);
  const Basic& g = plane->basic;
  const Blks &p = plane->blks, &a = axi->blks;
  for (int ii = 1; ii <= NI; ++ii) {
    const int i = ii + 1;
    const double wr = g.r(i + 1) - g.r(i - 1), wz = g.z(i + 1) - g.z(i - 1);
    const double am = 2.0 / (wr * (g.r(i) - g.r(i - 1))), cm = 2.0 / (wr * (g.r(i + 1) - g.r(i)));
    const double an = 2.0 / (wz * (g.z(i) - g.z(i - 1))), cn = 2.0 / (wz * (g.z(i + 1) - g.z(i)));
    const double t = 1.0 / (g.r(i) * wr);
    EXPECT_NEAR(p.am(ii), am, 2 * kUnit * am) << ii;
    EXPECT_NEAR(p.cm(ii), cm, 2 * kUnit * cm) << ii;
    EXPECT_NEAR(a.an(ii), an, 2 * kUnit * an) << ii; // rho = 1: no z-derivative term
    EXPECT_NEAR(a.cn(ii), cn, 2 * kUnit * cn) << ii;
    EXPECT_EQ(a.bn(ii), -(a.an(ii) + a.cn(ii)));
    EXPECT_NEAR(double(a.am(ii)) - p.am(ii), t, 4 * kUnit * (am + t)) << ii;
    EXPECT_NEAR(double(p.cm(ii)) - a.cm(ii), t, 4 * kUnit * (cm + t)) << ii;
    EXPECT_EQ(a.bm(ii), p.bm(ii));
  }
}

TEST(Poisson, SetupSucceedsAndEveryCodeIsExplained) {
  auto s = poisson_state(0.5, 0.5, 1.0);
  EXPECT_EQ(poisson_setup(*s), 0);
  EXPECT_EQ(s->blks.wblk[0], 1826.0f);
  std::set<std::string> texts;
  for (int code = 0; code <= 7; ++code) texts.insert(solver_error_text(code));
  EXPECT_EQ(texts.size(), 8u); // 0 to 6, and one text for any other code
  EXPECT_EQ(std::string(solver_error_text(7)), solver_error_text(-1));
}

// psi comes back from the vorticity that the model's operator gives it, the
// walls entering through the fold into the right-hand side. A solve with a
// backward error of about u in the operator misses psi by u kappa |psi|.
TEST(Poisson, PoiblkRecoversAKnownStreamFunction) {
  for (const double stretch : {1.0, 0.45})
    for (const double axi : {0.0, 1.0}) {
      auto s = poisson_state(stretch, stretch, axi);
      ASSERT_EQ(poisson_setup(*s), 0);
      const Blks& k = s->blks;
      Field exact, zeta, psi;
      for (int j = 1; j <= NR; ++j)
        for (int i = 1; i <= NR; ++i) exact(i, j) = known_psi(s->basic.r(i), s->basic.z(j));
      for (int j = 2; j <= NR - 1; ++j)
        for (int i = 2; i <= NR - 1; ++i) {
          const int ii = i - 1, jj = j - 1;
          const double f = double(k.am(ii)) * exact(i - 1, j) + double(k.cm(ii)) * exact(i + 1, j) +
                           double(k.an(jj)) * exact(i, j - 1) + double(k.cn(jj)) * exact(i, j + 1) +
                           (double(k.bm(ii)) + k.bn(jj)) * exact(i, j);
          zeta(i, j) = f / (axi != 0.0 ? s->basic.r(i) : 1.0);
          psi(i, j) = 1e3; // must be overwritten
        }
      for (int t = 1; t <= NR; t += NR - 1)
        for (int q = 1; q <= NR; ++q) psi(t, q) = exact(t, q), psi(q, t) = exact(q, t);
      const Field walls = psi;
      poiblk(*s, zeta, psi, s->basic.r, s->basic.rho);
      EXPECT_LE(max_interior_difference(psi, exact), kUnit * condition_bound(*s) * max_abs(exact))
          << "stretch " << stretch << " AXI " << axi;
      for (int t = 1; t <= NR; t += NR - 1)
        for (int q = 1; q <= NR; ++q) {
          EXPECT_EQ(psi(t, q), walls(t, q));
          EXPECT_EQ(psi(q, t), walls(q, t));
        }
    }
}

TEST(Iterate, SweepCountIsPitTruncated) {
  auto s = poisson_state(0.5, 0.5, 1.0);
  Field zeta, start;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      zeta(i, j) = std::cos(0.1 * i) * std::sin(0.07 * j);
      start(i, j) = 0.01 * i - 0.02 * j;
    }
  auto run = [&](double pit, const Field& from) {
    s->par.PIT = pit;
    Field psi = from;
    iterate(*s, zeta, psi, s->basic.r, s->basic.rho);
    return psi.a;
  };
  EXPECT_EQ(run(0.7, start), start.a);
  EXPECT_EQ(run(-3.0, start), start.a);
  EXPECT_EQ(run(std::numeric_limits<double>::quiet_NaN(), start), start.a);
  Field one;
  one.a = run(1.0, start);
  const auto two = run(2.0, start);
  EXPECT_EQ(run(2.9, start), two);
  EXPECT_EQ(run(1.0, one), two); // one count is two half-sweeps
  EXPECT_NE(two, one.a);
  EXPECT_NE(run(3.0, start), two);
}

// The sweeps converge to the solution of the equation that poiblk solves,
// wall values included. A Jacobi step does not increase the largest error
// (the operator is weakly diagonally dominant), so the direct solution,
// within u kappa |psi| of the exact one, moves by at most twice that; and
// from zero the error falls as sweeps accumulate.
TEST(Iterate, ConvergesTowardsTheDirectSolution) {
  auto s = poisson_state(0.7, 0.7, 1.0);
  ASSERT_EQ(poisson_setup(*s), 0);
  Field zeta, direct;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      zeta(i, j) = 20.0 * std::sin(3.0 * s->basic.z(j)) * s->basic.r(i);
      direct(i, j) = known_psi(s->basic.r(i), s->basic.z(j)); // walls
    }
  poiblk(*s, zeta, direct, s->basic.r, s->basic.rho);
  Field psi = direct;
  s->par.PIT = 1.0;
  iterate(*s, zeta, psi, s->basic.r, s->basic.rho);
  EXPECT_LE(max_interior_difference(psi, direct), 2 * kUnit * condition_bound(*s) * max_abs(direct));

  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 2; i <= NR - 1; ++i) psi(i, j) = 0.0;
  const double initial = max_interior_difference(psi, direct);
  double last = initial;
  for (double pit : {1.0, 10.0, 100.0, 1000.0}) {
    s->par.PIT = pit;
    iterate(*s, zeta, psi, s->basic.r, s->basic.rho);
    const double err = max_interior_difference(psi, direct);
    EXPECT_LT(err, last) << pit;
    last = err;
  }
  EXPECT_LT(last, 0.5 * initial);
}

TEST(Poisson, SolvesAllocateNothing) {
  auto s = poisson_state(0.5, 0.5, 0.0);
  auto zeta = std::make_unique<Field>();
  auto psi = std::make_unique<Field>();
  zeta->fill(1.0);
  s->par.PIT = 3.0;
  const long before = g_allocations;
  EXPECT_EQ(poisson_setup(*s), 0);
  poiblk(*s, *zeta, *psi, s->basic.r, s->basic.rho);
  iterate(*s, *zeta, *psi, s->basic.r, s->basic.rho);
  EXPECT_EQ(g_allocations, before);
}
