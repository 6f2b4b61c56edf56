#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <span>
#include <tuple>
#include <vector>

#include <Eigen/Dense>
#include <Eigen/Sparse>

#include "elliptic/blktri.hpp"
#include "oracles/oracles.hpp"

using namespace qel;

namespace {

constexpr double kUnit = 5.9604644775390625e-8; // 2^-24, unit roundoff of single
using Floats = std::vector<float>;

struct System { int m, n, mp, np; Floats am, bm, cm, an, bn, cn; };

// Couplings of size 0.5..1.5, of random sign (30 % negative) when `mixed`; CN(J-1) of the
// sign of AN(J) (the wrap-around pair too), equal to it when `sym`, which makes the roots of
// the periodic polynomial real. Diagonals dominant by lo..1 in I and scale (lo..1) in J.
System draw(std::mt19937& gen, int m, int n, int mp, int np, bool sym, bool mixed, float lo, float scale) {
  std::uniform_real_distribution<float> mag(0.5f, 1.5f), margin(lo, 1.0f);
  auto coef = [&] { return (mixed && gen() % 10 < 3 ? -1.0f : 1.0f) * mag(gen); };
  System k{m, n, mp, np, Floats(m), Floats(m), Floats(m), Floats(n), Floats(n), Floats(n)};
  for (int j = 0; j < n; ++j) k.an[j] = coef();
  for (int j = 0; j < n; ++j) k.cn[j] = sym ? k.an[(j + 1) % n] : std::copysign(mag(gen), k.an[(j + 1) % n]);
  for (int j = 0; j < n; ++j) k.bn[j] = -(std::abs(k.an[j]) + std::abs(k.cn[j])) - scale * margin(gen);
  for (int i = 0; i < m; ++i) k.am[i] = coef(), k.cm[i] = coef();
  for (int i = 0; i < m; ++i) k.bm[i] = -(std::abs(k.am[i]) + std::abs(k.cm[i])) - margin(gen);
  return k;
}

// The whole system in double by sparse LU, unknown (I, J) at I + IDIMY J (zero-based) in Y;
// the spare rows I >= M come back as they were. MP, NP = 0: that index is periodic.
std::vector<double> reference(const System& k, int idimy, const Floats& y) {
  const int m = k.m, n = k.n;
  auto at = [&](int i, int j) { return (i + m) % m + m * ((j + n) % n); };
  std::vector<Eigen::Triplet<double>> t;
  Eigen::VectorXd b(m * n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) {
      b(at(i, j)) = y[std::size_t(i + idimy * j)];
      t.emplace_back(at(i, j), at(i, j), double(k.bm[i]) + double(k.bn[j]));
      if (i > 0 || k.mp == 0) t.emplace_back(at(i, j), at(i - 1, j), k.am[i]);
      if (i < m - 1 || k.mp == 0) t.emplace_back(at(i, j), at(i + 1, j), k.cm[i]);
      if (j > 0 || k.np == 0) t.emplace_back(at(i, j), at(i, j - 1), k.an[j]);
      if (j < n - 1 || k.np == 0) t.emplace_back(at(i, j), at(i, j + 1), k.cn[j]);
    }
  Eigen::SparseMatrix<double> a(m * n, m * n);
  a.setFromTriplets(t.begin(), t.end());
  Eigen::SparseLU<Eigen::SparseMatrix<double>> lu(a);
  const Eigen::VectorXd x = lu.solve(b);
  std::vector<double> out(y.begin(), y.end());
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) out[std::size_t(i + idimy * j)] = x(at(i, j));
  return out;
}

// Set-up and solve by blktri, Y in place: the first error code, the block and the roots.
struct Solved { int error = 0; Cblkt cb; Floats w; };
Solved solve(const System& k, int idimy, Floats& y) {
  Solved s{0, {}, Floats(std::size_t(blkpart(k.n, k.m, k.np).words))};
  Value v;
  BlkPlan plan;
  for (int iflg = 0; iflg <= 1 && s.error == 0; ++iflg)
    s.error = blktri(s.cb, v, iflg, k.np, k.n, k.an, k.bn, k.cn, k.mp, k.m, k.am, k.bm, k.cm, idimy, y, s.w, plan);
  return s;
}

double max_diff(const Floats& x, const std::vector<double>& ref) {
  double e = 0;
  for (std::size_t q = 0; q < x.size(); ++q) e = std::max(e, std::abs(x[q] - ref[q]));
  return e;
}

}  // namespace

// Diagonals dominant by 0.5..1: in the maximum norm ||A|| ||A^-1|| <= max(|diag| + off) /
// min(|diag| - off) <= (2 * 6 + 2) / 1 = 14, and |X| <= ||A^-1|| |Y| <= 1. Per level of the
// reduction and of the back substitution about four operators are applied, each adding
// about u kappa |X|.
TEST(Blktri, AgreesWithASparseSolveInDoubleForAllPeriodicities) {
  const int sizes[][2] = {{5, 3}, {6, 7}, {9, 12}, {13, 8}, {16, 15}, {20, 17}, {11, 20}, {17, 9}, {8, 4}};
  std::mt19937 gen(1u);
  int periodic_roots[2] = {0, 0}; // capacitance solves with real, complex roots
  for (const auto& [m, n] : sizes)
    for (int c = 0; c < 8; ++c) {
      const int mp = c & 1, np = (c >> 1) & 1, sym = c >> 2;
      SCOPED_TRACE(testing::Message() << "M " << m << " N " << n << " case " << c);
      const System k = draw(gen, m, n, mp, np, sym, true, 0.5f, 1.0f);
      // Y with two spare rows per column (IDIMY = M + 2) that must keep their 99.
      const int idimy = m + 2;
      Floats y(std::size_t(idimy) * n);
      for (int q = 0; q < idimy * n; ++q) y[q] = q % idimy < m ? float(std::sin(q + c)) : 99.0f;
      const std::vector<double> ref = reference(k, idimy, y);
      const Solved s = solve(k, idimy, y);
      EXPECT_EQ(s.error, 0);
      EXPECT_LE(max_diff(y, ref), 8.0 * kUnit * 14.0 * std::ceil(std::log2(n + 1.0)));
      if (np == 0) ++periodic_roots[s.cb.ncmplx == 1];
      EXPECT_EQ(np == 0 && sym == 1 ? s.cb.ncmplx : 0, 0) << "symmetric couplings, real roots";
    }
  EXPECT_GE(std::min(periodic_roots[0], periodic_roots[1]), 4);
}

TEST(Blktri, ArgumentChecksAndSizes) {
  const Floats one(5, 1.0f), four(5, -4.0f);
  const System k{5, 5, 1, 1, one, four, one, one, four, one};
  Floats y(25, 3.0f), w(200, 7.0f);
  Value v;
  Cblkt cb{13, 11, 0.0f, 0.0f, 0, 0, 12};
  auto run = [&](const System& s, int np, int n, int m, int idimy, std::size_t words = 200) {
    return blktri_oracle(cb, v, 0, np, n, s.an, s.bn, s.cn, 1, m, s.am, s.bm, s.cm, idimy, y,
                         std::span(w).first(words));
  };
  // M <= 4 (checked first), N <= 2, IDIMY < M, W one word short of W(1) = 54 (below), and
  // AN, BN, CN holding only 5.
  EXPECT_EQ((std::tuple{run(k, 1, 2, 4, 5), run(k, 1, 2, 5, 5), run(k, 1, 5, 5, 4), run(k, 1, 5, 5, 5, 53),
                        run(k, 1, 6, 5, 5)}),
            std::tuple(1, 2, 3, 6, 6));
  // None of these touched W, Y or the other members of the block.
  EXPECT_EQ(std::tuple(cb.npp, cb.k, cb.ik), std::tuple(13, 11, 12));
  EXPECT_EQ(std::count(y.begin(), y.end(), 3.0f) + std::count(w.begin(), w.end(), 7.0f), 225);
  // W(1) = IW1 - 1 + max(2 N, 6 M) with IW1 = IWAH = 25 for N = 5.
  EXPECT_EQ(run(k, 1, 5, 5, 5, 54), 0);
  EXPECT_EQ(std::tuple(w[0], cb.k, cb.ik), std::tuple(54.0f, 3, 16));
  const BlkPartition p = blkpart(89, 89, 1);
  EXPECT_EQ(std::tuple(p.k, p.ik, p.iwah, p.words), std::tuple(7, 256, 1293, 1826));
  // AN(J) CN(J-1) < 0 is refused: AN(3) CN(2), and the wrap-around AN(1) CN(5) when J is
  // periodic (CN(N) is unused otherwise); a zero product just removes that coupling.
  System bad = k, wrap = k;
  bad.cn[1] = wrap.cn[4] = -1.0f;
  EXPECT_EQ((std::tuple{run(bad, 1, 5, 5, 5), run(wrap, 0, 5, 5, 5), run(wrap, 1, 5, 5, 5)}),
            std::tuple(5, 5, 0));
  bad.an[2] = 0.0f;
  EXPECT_EQ(run(bad, 1, 5, 5, 5), 0);
}

// Level 1 follows the 89 roots of level 0 at 2^(k-1) = 128, in blocks of 3; level 2 has
// blocks of 7, cut near row 89. The top row of k = 7 holds all 89 rows; its 2^7 - 1 = 127
// reserved words end just before the set-up scratch at W(IWAH) = W(1293).
TEST(Blktri, RootAndScalarIndexing) {
  const Cblkt cb{0, 0, 0.0f, 0.0f, 89, 0, 256};
  // idx 0: only the count is checked.
  const struct { RootIndex (*f)(const Cblkt&, int, int); int i, ir, idx, n; } cases[] = {
      {indxa, 90, 0, 0, 0},  {indxa, 12, 2, 9, 4},  {indxc, 88, 1, 0, 2},  {indxc, 89, 1, 0, 0},
      {indxb, 5, 0, 5, 1},   {indxb, 90, 0, 0, 0},  {indxb, 3, -1, 0, 0},  {indxb, 2, 1, 128, 3},
      {indxb, 4, 1, 131, 3}, {indxb, 4, 2, 0, 7},   {indxb, 88, 2, 0, 5} /* rows 85..89 */,
      {indxb, 104, 3, 0, 0} /* rows 97..111 */,     {indxb, 64, 6, 1293 - 127 - 1, 89}};
  for (const auto& [f, i, ir, idx, n] : cases)
    EXPECT_EQ(std::pair(f(cb, i, ir).n, idx ? f(cb, i, ir).idx : 0), std::pair(n, idx)) << i << ',' << ir;
}

// eps = 100 u. An off-diagonal entry is neglected once below eps (|d| + |e|), which moves
// an eigenvalue by at most that much (Weyl); the sweeps are backward stable to a few n u of
// the norm. Together: 2 eps times the norm. The i-th eigenvalue (ascending, from 0) lies
// within tol of x exactly when at most i eigenvalues lie below x - tol and more than i
// below x + tol; these counts are the negative pivots of T - x = L D L^T, in double (Sturm).
TEST(Tevls, EigenvaluesMeetSturmCountsWithinMachineEpsilonAndAreOrderedBySize) {
  Value v;
  const Cblkt cb{0, 0, epmach(v), 0.0f, 0, 0, 0};
  EXPECT_EQ(std::tuple(cb.eps, v.vstore), std::tuple(5.9604645E-6f, 1.0f));
  for (int n : {1, 2, 3, 4, 7, 15, 40, 63, 89})
    for (int trial = 0; trial < 4; ++trial) { // 2: a split matrix; 3: all eigenvalues negative
      Floats d(n), e(n);
      for (int i = 0; i < n; ++i)
        d[i] = float(2.0 * std::sin(1.7 * i + 3.1 * n + trial)) - (trial == 3 ? 10.0f : 0.0f),
        e[i] = trial == 2 && i == n / 2 ? 0.0f : float(2.0 * std::cos(2.3 * i * i + n + trial));
      auto below = [d, e, n](double x) {
        double neg = 0, q = 1.0; // a zero pivot gives an infinite next one, of the right sign
        for (int i = 0; i < n; ++i)
          neg += (q = d[i] - x - (i > 0 && e[i] != 0 ? e[i] * double(e[i]) / q : 0.0)) < 0.0;
        return neg;
      };
      ASSERT_EQ(tevls(cb, n, d.data(), e.data()), 0);
      // Ascending, reversed when that puts the larger size last; the counts check the order.
      EXPECT_LE(std::abs(d.front()), std::abs(d.back())) << n;
      if (d.front() > d.back()) std::reverse(d.begin(), d.end());
      const double tol = 2.0 * cb.eps * std::max(std::abs(d.front()), std::abs(d.back()));
      for (int i = 0; i < n; ++i)
        EXPECT_TRUE(below(d[i] - tol) <= i && below(d[i] + tol) > i) << n << " " << i;
    }
  // The shift of these 2 x 2 blocks is exact, so the sweep meets a zero pivot; the
  // eigenvalues must still come out to a few rounding units of the norm 3, not merely
  // to eps. -1 and -3 are found ascending, then reversed since |-1| < |-3|.
  float d[] = {2, 2, -2, -2}, e[] = {0, 1, 0, -1}, want[] = {1, 3, -1, -3};
  ASSERT_EQ(tevls(cb, 2, d, e) + tevls(cb, 2, d + 2, e + 2), 0);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(d[i], want[i], 4.0f * float(kUnit) * 3.0f) << i;
}

// The side-by-side solve against the plain routine: the same roots and Y to the bit for
// every periodicity, random sizes (the model's 89 x 89 among them), spare rows in Y, mixed
// coupling signs, repeated solves, new first-index coefficients between solves (the
// factors are rebuilt) and a solve of another M than the set-up's (the plain routine).
TEST(Blktri, SideBySideSolveGivesThePlainRoutinesBits) {
  std::mt19937 gen(7u);
  std::uniform_real_distribution<float> rhs(-1.0f, 1.0f);
  const int sizes[][2] = {{89, 89}, {5, 3}, {7, 4}, {12, 33}, {31, 64}, {40, 65}, {9, 100}, {20, 129}};
  for (const auto& [m, n] : sizes)
    for (int c = 0; c < 4; ++c) {
      const int mp = c & 1, np = c >> 1, idimy = m + 3;
      SCOPED_TRACE(testing::Message() << "M " << m << " N " << n << " MP " << mp << " NP " << np);
      System k = draw(gen, m, n, mp, np, false, true, 0.0f, 1.0f);
      const std::size_t words = std::size_t(blkpart(n, m, np).words);
      Floats w_fast(words), w_ref(words), y(std::size_t(idimy) * n);
      Cblkt cb_fast, cb_ref;
      Value v;
      BlkPlan plan;
      auto both = [&](int iflg, int ms, Floats& y_fast, Floats& y_ref) {
        const int e = blktri(cb_fast, v, iflg, np, n, k.an, k.bn, k.cn, mp, ms, k.am, k.bm, k.cm, idimy, y_fast, w_fast, plan);
        EXPECT_EQ(e, blktri_oracle(cb_ref, v, iflg, np, n, k.an, k.bn, k.cn, mp, ms, k.am, k.bm, k.cm, idimy, y_ref, w_ref));
        return e;
      };
      if (both(0, m, y, y) != 0) continue; // a periodic J may have roots the set-up cannot find
      ASSERT_EQ(std::memcmp(w_fast.data(), w_ref.data(), words * sizeof(float)), 0);
      for (int solve = 0; solve < 4; ++solve) {
        if (solve == 2) {
          const System fresh = draw(gen, m, n, mp, np, false, true, 0.0f, 1.0f);
          k.am = fresh.am, k.bm = fresh.bm, k.cm = fresh.cm;
        }
        for (float& q : y) q = rhs(gen);
        Floats y_fast = y, y_ref = y;
        EXPECT_EQ(both(1, solve == 3 && m > 5 ? m - 1 : m, y_fast, y_ref), 0);
        EXPECT_EQ(std::memcmp(y_fast.data(), y_ref.data(), y.size() * sizeof(float)), 0) << "solve " << solve;
      }
    }
}

// A periodic second index at sizes where the roots of the periodic polynomial crowd
// (N up to 257, couplings symmetric or not, nearly singular along J): the solution must
// agree with the double-precision one as well as the closed system of the same
// coefficients (the wrap-around couplings 0) does with its own.
TEST(Blktri, PeriodicSecondIndexAsAccurateAsTheClosedOneUpToN257) {
  std::mt19937 gen(11u);
  std::uniform_real_distribution<float> rhs(-1.0f, 1.0f);
  for (int n : {65, 89, 100, 128, 138, 139, 140, 151, 200, 257})
    for (int c = 0; c < 4; ++c) {
      const int m = 9, mp = c & 1, sym = c >> 1;
      SCOPED_TRACE(testing::Message() << "N " << n << " MP " << mp << " symmetric " << sym);
      System k = draw(gen, m, n, mp, 0, sym, false, 0.0f, 0.1f);
      Floats y(std::size_t(m) * n);
      for (float& q : y) q = rhs(gen);
      double err[2] = {0, 0};
      for (int np = 0; np <= 1; ++np) {
        if (np == 1) k.np = 1, k.an[0] = k.cn[n - 1] = 0.0f;
        const std::vector<double> ref = reference(k, m, y);
        Floats x = y;
        ASSERT_EQ(solve(k, m, x).error, 0) << np;
        err[np] = max_diff(x, ref) / std::abs(*std::max_element(ref.begin(), ref.end(), [](double a, double b) {
                    return std::abs(a) < std::abs(b); }));
      }
      EXPECT_LE(err[0], std::max(10.0 * err[1], 1e-4)) << "closed " << err[1];
    }
}

// The roots of the periodic polynomial with symmetric couplings (CN(J-1) = AN(J), the
// wrap-around pair too) are minus the eigenvalues of the symmetric ring matrix (diagonal BN,
// couplings AN, corners AN(1), CN(N)), here from a double-precision dense eigensolver. Near
// the ends of the spectrum they crowd; each must still be the rounding of the exact one to
// within a few units of single precision of the spectral norm.
TEST(Blktri, PeriodicRootsAreTheRingEigenvaluesToSinglePrecision) {
  std::mt19937 gen(5u);
  for (int n : {17, 64, 89, 140, 257}) {
    SCOPED_TRACE(testing::Message() << "N " << n);
    System k = draw(gen, 0, n, 1, 0, true, false, 0.0f, 0.1f);
    k.m = 9, k.am = k.cm = Floats(9, 1.0f), k.bm = Floats(9, -3.0f);
    Eigen::MatrixXd ring = Eigen::MatrixXd::Zero(n, n);
    for (int j = 0; j < n; ++j)
      ring(j, j) = k.bn[j], ring(j, (j + n - 1) % n) = k.an[j], ring(j, (j + 1) % n) = k.cn[j];
    const Eigen::VectorXd eig = Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(ring).eigenvalues();
    Floats y(std::size_t(9) * n, 0.0f);
    const Solved s = solve(k, 9, y);
    ASSERT_EQ(std::tuple(s.error, s.cb.ncmplx), std::tuple(0, 0));
    const RootIndex top = indxb(s.cb, 1 << s.cb.k, s.cb.k - 1);
    std::vector<double> roots(s.w.begin() + top.idx, s.w.begin() + top.idx + n);
    std::sort(roots.begin(), roots.end());
    const double norm = std::max(std::abs(eig(0)), std::abs(eig(n - 1)));
    double worst = 0.0; // eigenvalues ascending: -eig(n - 1 - j) the j-th root ascending
    for (int j = 0; j < n; ++j) worst = std::max(worst, std::abs(roots[std::size_t(j)] + eig(n - 1 - j)));
    EXPECT_LE(worst, 4.0 * kUnit * norm) << worst / (kUnit * norm) << " units";
  }
}
