// The exact double-precision solvers: the stream-function equation against
// a sparse LU solve of the five-term equation assembled here from the grid,
// the pressure equation against a pressure whose divergence is formed here
// from the gradient and divergence formulas, and the set-up checks.
#include <gtest/gtest.h>

#include <Eigen/Sparse>
#include <cmath>
#include <memory>

#include "elliptic/direct.hpp"
#include "elliptic/elliptic.hpp"
#include "grid/grid.hpp"

using namespace qel;

namespace {

// RWID 1.5 and HITE 1: r and z apart.
std::unique_ptr<State> grid(double str, double stz, double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = 1.5, s->par.HITE = 1.0, s->par.STR = str, s->par.STZ = stz, s->par.AXI = axi;
  maketrans(*s);
  return s;
}

}  // namespace

// psi_rr - (AXI/r) psi_r + psi_zz = r^AXI zeta by central differences on
// the stretched grid, e.g. the west coefficient 2/((r+ - r-)(r - r-)) +
// AXI/(r (r+ - r-)), with the walls given: the sparse LU solution, refined
// once in double precision, is the reference. The direct solve must agree
// to 1e-12 of max |psi| without allocating, and leave the walls alone.
TEST(DirectStream, MatchesASparseSolve) {
  for (const double axi : {0.0, 1.0}) {
    SCOPED_TRACE(testing::Message() << "AXI " << axi);
    auto s = grid(0.5, 0.7, axi);
    const Array1<NR>&r = s->basic.r, &z = s->basic.z;
    Field zeta, psi;
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        zeta(i, j) = std::sin(3.0 * r(i) + 1.0) * std::cos(5.0 * z(j)) * 4.0;
        const bool wall = i == 1 || j == 1 || i == NR || j == NR;
        psi(i, j) = wall ? 0.2 + 0.1 * r(i) - 0.3 * z(j) * z(j) : 0.0;  // non-zero wall values
      }
    const auto id = [](int i, int j) { return (i - 2) + NI * (j - 2); };
    std::vector<Eigen::Triplet<double>> t;
    Eigen::VectorXd f(NI * NI);
    for (int j = 2; j < NR; ++j)
      for (int i = 2; i < NR; ++i) {
        const double hm = r(i) - r(i - 1), hp = r(i + 1) - r(i), km = z(j) - z(j - 1), kp = z(j + 1) - z(j);
        const double ax = axi / (r(i) * (hm + hp)), w = 2.0 / ((hm + hp) * hm), e = 2.0 / ((hm + hp) * hp);
        const double so = 2.0 / ((km + kp) * km), no = 2.0 / ((km + kp) * kp);
        f(id(i, j)) = axi != 0.0 ? zeta(i, j) * r(i) : zeta(i, j);
        t.emplace_back(id(i, j), id(i, j), -w - e - so - no);
        for (const auto& [c, ii, jj] : {std::tuple{w + ax, i - 1, j}, {e - ax, i + 1, j}, {so, i, j - 1}, {no, i, j + 1}})
          if (ii == 1 || ii == NR || jj == 1 || jj == NR)
            f(id(i, j)) -= c * psi(ii, jj);
          else
            t.emplace_back(id(i, j), id(ii, jj), c);
      }
    Eigen::SparseMatrix<double> a(NI * NI, NI * NI);
    a.setFromTriplets(t.begin(), t.end());
    Eigen::SparseLU<Eigen::SparseMatrix<double>> lu(a);
    ASSERT_EQ(lu.info(), Eigen::Success);
    Eigen::VectorXd x = lu.solve(f);
    x += lu.solve(f - a * x);

    DirectStream d(*s);
    Field exact = psi;
    Eigen::internal::set_is_malloc_allowed(false);
    d.solve(*s, zeta, exact, r, s->basic.rho);
    Eigen::internal::set_is_malloc_allowed(true);
    double e = 0, scale = 0;
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i)
        if (i == 1 || j == 1 || i == NR || j == NR)
          ASSERT_EQ(exact(i, j), psi(i, j)) << i << ' ' << j;
        else
          e = std::max(e, std::abs(exact(i, j) - x(id(i, j)))), scale = std::max(scale, std::abs(x(id(i, j))));
    EXPECT_LE(e, 1e-12 * scale);
  }
}

// For a smooth pressure q the right-hand side is what the pressure sweeps
// drive towards: a quarter of four times the weighted divergence of the
// gradient, the gradient at a point the pair-averaged cell difference times
// m/4, zero through the walls and left out on the no-slip lines. The solve
// returns q less its area-weighted mean, on uniform and strongly stretched
// grids, plane and axisymmetric, with slip and no-slip walls.
TEST(DirectPressure, RecoversAPressureFromTheDivergenceOfItsGradient) {
  for (const double st : {1.0, 0.6, 0.1, 1.9})
    for (const double axi : {0.0, 1.0})
      for (const double slip : {0.0, 1.0}) {
        SCOPED_TRACE(testing::Message() << "STR = STZ = " << st << " AXI " << axi << " slip " << slip);
        auto s = grid(st, st, axi);
        s->par.SLIPB = s->par.SLIPS = slip;
        const Basic& g = s->basic;
        CellField q, rhs, p;
        double mean = 0, area = 0;
        for (int l = 1; l <= NC; ++l)
          for (int k = 1; k <= NC; ++k) {
            const double rc = 0.5 * (g.r(k) + g.r(k + 1)), zc = 0.5 * (g.z(l) + g.z(l + 1));
            q(k, l) = std::cos(2.0 * rc) * std::sin(3.0 * zc + 0.5) + 0.3 * zc;
            const double a = (g.r(k + 1) - g.r(k)) * (g.z(l + 1) - g.z(l));
            mean += a * q(k, l), area += a;
          }
        mean /= area;
        Field fu, fw;  // the weighted pressure force at the points
        const auto cell = [&](int k, int l) { return q(std::clamp(k, 1, NC), std::clamp(l, 1, NC)); };
        for (int j = 1; j <= NR; ++j)
          for (int i = 1; i <= NR; ++i) {
            const double dr = i == 1 || i == NR ? 0.0 : (cell(i, j) + cell(i, j - 1) - cell(i - 1, j) - cell(i - 1, j - 1)) / (g.r(i + 1) - g.r(i - 1));
            const double dz = j == 1 || j == NR ? 0.0 : (cell(i, j) + cell(i - 1, j) - cell(i, j - 1) - cell(i - 1, j - 1)) / (g.z(j + 1) - g.z(j - 1));
            fu(i, j) = slip == 0.0 && j == 1 ? 0.0 : g.rc(i) * dr;
            fw(i, j) = slip == 0.0 && i == NR ? 0.0 : g.rc(i) * dz;
          }
        double big = 0, e = 0;
        for (int l = 1; l <= NC; ++l)
          for (int k = 1; k <= NC; ++k) {
            rhs(k, l) = (fu(k + 1, l) + fu(k + 1, l + 1) - fu(k, l) - fu(k, l + 1)) / (2.0 * (g.r(k + 1) - g.r(k))) +
                        (fw(k, l + 1) + fw(k + 1, l + 1) - fw(k, l) - fw(k + 1, l)) / (2.0 * (g.z(l + 1) - g.z(l)));
            big = std::max(big, std::abs(rhs(k, l)));
          }
        DirectPressure d(*s);
        EXPECT_LT(d.solver().eigenvector_condition(), 100.0);
        Eigen::internal::set_is_malloc_allowed(false);
        d.solve(rhs, p.data());
        Eigen::internal::set_is_malloc_allowed(true);
        for (int l = 1; l <= NC; ++l)
          for (int k = 1; k <= NC; ++k) e = std::max(e, std::abs(p(k, l) - (q(k, l) - mean)));
        EXPECT_LT(e, 1e-10);
        EXPECT_GT(big, 1.0);
      }
}

// A pencil with complex eigenvalues (a skew coupling along z) cannot be
// diagonalised in real arithmetic: the set-up stops and says why.
TEST(DirectPressure, SetUpStopsOnComplexEigenvalues) {
  Tridiagonal k(6), m(6), skew(6);
  for (int q = 0; q < 6; ++q) {
    m.d(q) = 1.0, k.d(q) = skew.d(q) = -2.0;
    k.lo(q) = q > 0 ? 1.0 : 0.0, skew.lo(q) = -k.lo(q), k.up(q) = skew.up(q) = q < 5 ? 1.0 : 0.0;
  }
  const Eigen::VectorXd none;
  try {
    SeparableSolver bad(k, m, skew, m, false, none, none, none, "test solver");
    FAIL() << "no stop";
  } catch (const Stop& e) {
    EXPECT_EQ(e.status, 1);
    EXPECT_NE(std::string(e.what()).find("the test solver cannot be set up on this grid: the eigenvalues"),
              std::string::npos) << e.what();
  }
  EXPECT_NO_THROW(SeparableSolver(k, m, k, m, false, none, none, none, "test solver"));
}
