#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <span>
#include <tuple>
#include <vector>

#include <Eigen/Dense>

#include "elliptic/blktri.hpp"
#include "oracles/oracles.hpp"

using namespace qel;

namespace {

constexpr double kUnit = 5.9604644775390625e-8; // 2^-24, unit roundoff of single

struct System { int m, n, mp, np; std::vector<float> am, bm, cm, an, bn, cn; };

// Gauss-Jordan elimination in double of the full system, unknown (I, J) numbered I + IDIMY J
// (zero-based) and the spare rows I >= M kept by an identity; row diagonal dominance makes
// it stable without pivoting.
std::vector<double> dense_solve(const System& k, int idimy, std::vector<double> x) {
  const int m = k.m, n = k.n, size = idimy * n;
  std::vector<double> a(std::size_t(size) * size, 0.0);
  auto at = [&](int r, int c) -> double& { return a[std::size_t(r) * size + c]; };
  for (int r = 0; r < size; ++r) {
    const int i = r % idimy, j = r / idimy;
    at(r, r) = i < m ? double(k.bm[i]) + double(k.bn[j]) : 1.0;
    if (i < m && (i > 0 || k.mp == 0)) at(r, (i + m - 1) % m + idimy * j) += k.am[i];
    if (i < m && (i < m - 1 || k.mp == 0)) at(r, (i + 1) % m + idimy * j) += k.cm[i];
    if (i < m && (j > 0 || k.np == 0)) at(r, i + idimy * ((j + n - 1) % n)) += k.an[j];
    if (i < m && (j < n - 1 || k.np == 0)) at(r, i + idimy * ((j + 1) % n)) += k.cn[j];
  }
  for (int c = 0; c < size; ++c)
    for (int r = 0; r < size; ++r) {
      const double f = r == c ? 0.0 : at(r, c) / at(c, c);
      for (int q = c; q < size && f != 0.0; ++q) at(r, q) -= f * at(c, q);
      x[r] -= f * x[c];
    }
  for (int r = 0; r < size; ++r) x[r] /= at(r, r);
  return x;
}

}  // namespace

// Random couplings of size 0.5..1.5, AN(J) and CN(J-1) (the wrap-around pair too) of one
// random sign, diagonals dominant by 0.5..1 in each index; symmetric couplings CN(J-1) =
// AN(J) give a periodic polynomial with real roots. In the maximum norm ||A|| ||A^-1|| <=
// max(|diag| + off) / min(|diag| - off) <= (2 * 6 + 2) / 1 = 14, and |X| <= ||A^-1|| |Y| <= 1.
// Per level of the reduction and of the back substitution about four operators are
// applied, each adding about u kappa |X|.
TEST(Blktri, AgreesWithDenseEliminationForAllPeriodicities) {
  const int sizes[][2] = {{5, 3}, {6, 7}, {9, 12}, {13, 8}, {16, 15}, {20, 17}, {11, 20}, {17, 9}, {8, 4}};
  std::mt19937 gen(1u);
  std::uniform_real_distribution<float> mag(0.5f, 1.5f), margin(0.5f, 1.0f);
  auto coef = [&] { return (gen() % 10 < 3 ? -1.0f : 1.0f) * mag(gen); };
  int periodic_roots[2] = {0, 0}; // capacitance solves with real, complex roots
  for (const auto& [m, n] : sizes)
    for (int c = 0; c < 8; ++c) {
      const int mp = c & 1, np = (c >> 1) & 1, sym = c >> 2;
      SCOPED_TRACE(testing::Message() << "M " << m << " N " << n << " case " << c);
      const std::vector<float> mv(m), nv(n);
      System k{m, n, mp, np, mv, {}, mv, nv, {}, nv};
      for (int i = 0; i < m; ++i) k.am[i] = coef(), k.cm[i] = coef();
      for (int j = 0; j < n; ++j)
        k.an[j] = coef(), k.cn[(j + n - 1) % n] = sym ? k.an[j] : std::copysign(mag(gen), k.an[j]);
      for (int i = 0; i < m; ++i) k.bm.push_back(-(std::abs(k.am[i]) + std::abs(k.cm[i])) - margin(gen));
      for (int j = 0; j < n; ++j) k.bn.push_back(-(std::abs(k.an[j]) + std::abs(k.cn[j])) - margin(gen));
      // Y with two spare rows per column (IDIMY = M + 2) that must keep their 99.
      const int idimy = m + 2;
      std::vector<float> y(std::size_t(idimy) * n), w(std::size_t(blkpart(n, m, np).words));
      for (int q = 0; q < idimy * n; ++q) y[q] = q % idimy < m ? float(std::sin(q + c)) : 99.0f;
      const std::vector<double> ref = dense_solve(k, idimy, {y.begin(), y.end()});
      Cblkt cb;
      Value v;
      BlkPlan plan;
      for (int iflg = 0; iflg <= 1; ++iflg)
        EXPECT_EQ(blktri(cb, v, iflg, np, n, k.an, k.bn, k.cn, mp, m, k.am, k.bm, k.cm, idimy, y, w, plan), 0);
      double err = 0;
      for (std::size_t q = 0; q < y.size(); ++q) err = std::max(err, std::abs(y[q] - ref[q]));
      EXPECT_LE(err, 8.0 * kUnit * 14.0 * std::ceil(std::log2(n + 1.0)));
      if (np == 0) ++periodic_roots[cb.ncmplx == 1];
      EXPECT_EQ(np == 0 && sym == 1 ? cb.ncmplx : 0, 0) << "symmetric couplings, real roots";
    }
  EXPECT_GE(std::min(periodic_roots[0], periodic_roots[1]), 4);
}

TEST(Blktri, ArgumentChecksAndSizes) {
  const std::vector<float> one(5, 1.0f), four(5, -4.0f);
  const System k{5, 5, 1, 1, one, four, one, one, four, one};
  std::vector<float> y(25, 3.0f), w(200, 7.0f);
  Value v;
  Cblkt cb{13, 11, 0.0f, 0.0f, 0, 0, 12};
  auto run = [&](const System& s, int np, int n, int m, int idimy, std::size_t words = 200) {
    const std::span<float> work = std::span(w).first(words);
    return blktri_oracle(cb, v, 0, np, n, s.an, s.bn, s.cn, 1, m, s.am, s.bm, s.cm, idimy, y, work);
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
      std::vector<float> d(n), e(n);
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

// The side-by-side solve against the plain routine: the same Y to the bit for every
// periodicity, random sizes (the model's 89 x 89 among them), spare rows in Y, mixed
// coupling signs, repeated solves, new first-index coefficients between solves (the
// factors are rebuilt) and a solve of another M than the set-up's (the plain routine).
TEST(Blktri, SideBySideSolveGivesThePlainRoutinesBits) {
  std::mt19937 gen(7u);
  std::uniform_real_distribution<float> mag(0.5f, 1.5f), margin(0.0f, 1.0f), rhs(-1.0f, 1.0f);
  auto coef = [&] { return (gen() % 10 < 3 ? -1.0f : 1.0f) * mag(gen); };
  const int sizes[][2] = {{89, 89}, {5, 3}, {7, 4}, {12, 33}, {31, 64}, {40, 65}, {9, 100}, {20, 129}};
  for (const auto& [m, n] : sizes)
    for (int c = 0; c < 4; ++c) {
      const int mp = c & 1, np = c >> 1;
      SCOPED_TRACE(testing::Message() << "M " << m << " N " << n << " MP " << mp << " NP " << np);
      auto first_index = [&](System& k) {
        k.am.clear(), k.bm.clear(), k.cm.clear();
        for (int i = 0; i < m; ++i) k.am.push_back(coef()), k.cm.push_back(coef());
        for (int i = 0; i < m; ++i) k.bm.push_back(-(std::abs(k.am[i]) + std::abs(k.cm[i])) - margin(gen));
      };
      System k{m, n, mp, np, {}, {}, {}, {}, {}, {}};
      first_index(k);
      for (int j = 0; j < n; ++j) k.an.push_back(coef());
      for (int j = 0; j < n; ++j) k.cn.push_back(std::copysign(mag(gen), k.an[(j + 1) % n]));
      for (int j = 0; j < n; ++j) k.bn.push_back(-(std::abs(k.an[j]) + std::abs(k.cn[j])) - margin(gen));
      const int idimy = m + 3;
      const std::size_t words = std::size_t(blkpart(n, m, np).words);
      std::vector<float> w_fast(words), w_ref(words), y(std::size_t(idimy) * n);
      Cblkt cb_fast, cb_ref;
      Value v;
      BlkPlan plan;
      const int e_fast = blktri(cb_fast, v, 0, np, n, k.an, k.bn, k.cn, mp, m, k.am, k.bm, k.cm, idimy, y, w_fast, plan);
      const int e_ref = blktri_oracle(cb_ref, v, 0, np, n, k.an, k.bn, k.cn, mp, m, k.am, k.bm, k.cm, idimy, y, w_ref);
      ASSERT_EQ(e_fast, e_ref);
      if (e_ref != 0) continue; // a periodic J may have roots the set-up cannot find
      ASSERT_EQ(std::memcmp(w_fast.data(), w_ref.data(), words * sizeof(float)), 0);
      for (int solve = 0; solve < 4; ++solve) {
        if (solve == 2) first_index(k);
        const int ms = solve == 3 && m > 5 ? m - 1 : m;
        for (float& q : y) q = rhs(gen);
        std::vector<float> y_fast = y, y_ref = y;
        EXPECT_EQ(blktri(cb_fast, v, 1, np, n, k.an, k.bn, k.cn, mp, ms, k.am, k.bm, k.cm, idimy, y_fast, w_fast, plan), 0);
        EXPECT_EQ(blktri_oracle(cb_ref, v, 1, np, n, k.an, k.bn, k.cn, mp, ms, k.am, k.bm, k.cm, idimy, y_ref, w_ref), 0);
        EXPECT_EQ(std::memcmp(y_fast.data(), y_ref.data(), y.size() * sizeof(float)), 0) << "solve " << solve;
      }
    }
}

namespace {

// Dense M x M matrices in double, row-major, and the solve of G X = R (R with r columns)
// by Gaussian elimination with partial pivoting; G is overwritten.
using Dense = std::vector<double>;
void dense_solve_in_place(int m, Dense g, Dense& x, int r) {
  for (int c = 0; c < m; ++c) {
    int p = c;
    for (int i = c + 1; i < m; ++i) if (std::abs(g[i * m + c]) > std::abs(g[p * m + c])) p = i;
    for (int q = 0; q < m; ++q) std::swap(g[c * m + q], g[p * m + q]);
    for (int q = 0; q < r; ++q) std::swap(x[c * r + q], x[p * r + q]);
    for (int i = c + 1; i < m; ++i) {
      const double f = g[i * m + c] / g[c * m + c];
      for (int q = c; q < m; ++q) g[i * m + q] -= f * g[c * m + q];
      for (int q = 0; q < r; ++q) x[i * r + q] -= f * x[c * r + q];
    }
  }
  for (int c = m - 1; c >= 0; --c)
    for (int q = 0; q < r; ++q) {
      double s = x[c * r + q];
      for (int i = c + 1; i < m; ++i) s -= g[c * m + i] * x[i * r + q];
      x[c * r + q] = s / g[c * m + c];
    }
}

// The system with a periodic second index in double: block elimination of rows 1..N-1
// (blocks A + BN(J), couplings AN(J), CN(J) times the identity) for Y and for the
// couplings of rows 1 and N-1 to X(N), then the M x M system of row N. Y is M x N with
// leading dimension M.
std::vector<double> periodic_reference(const System& k, const std::vector<float>& y) {
  const int m = k.m, n = k.n, r = 1 + m, nr = n - 1;
  auto block = [&](int j) {
    Dense d(std::size_t(m) * m, 0.0);
    for (int i = 0; i < m; ++i) {
      d[i * m + i] = double(k.bm[i]) + double(k.bn[j]);
      if (i > 0 || k.mp == 0) d[i * m + (i + m - 1) % m] += k.am[i];
      if (i < m - 1 || k.mp == 0) d[i * m + (i + 1) % m] += k.cm[i];
    }
    return d;
  };
  std::vector<Dense> g(nr), rhs(nr);
  for (int j = 0; j < nr; ++j) {
    rhs[j].assign(std::size_t(m) * r, 0.0);
    for (int i = 0; i < m; ++i) {
      rhs[j][i * r] = y[std::size_t(j) * m + i];
      if (j == 0) rhs[j][i * r + 1 + i] += k.an[0];
      if (j == nr - 1) rhs[j][i * r + 1 + i] += k.cn[nr - 1];
    }
    g[j] = block(j);
    if (j > 0) { // subtract AN(j) times the previous block row solved
      Dense prev_inv_c(std::size_t(m) * m, 0.0), prev_rhs = rhs[j - 1];
      for (int i = 0; i < m; ++i) prev_inv_c[i * m + i] = k.cn[j - 1];
      dense_solve_in_place(m, g[j - 1], prev_inv_c, m);
      dense_solve_in_place(m, g[j - 1], prev_rhs, r);
      for (std::size_t q = 0; q < g[j].size(); ++q) g[j][q] -= k.an[j] * prev_inv_c[q];
      for (std::size_t q = 0; q < rhs[j].size(); ++q) rhs[j][q] -= k.an[j] * prev_rhs[q];
    }
  }
  std::vector<Dense> x(nr);
  for (int j = nr - 1; j >= 0; --j) {
    x[j] = rhs[j];
    if (j < nr - 1)
      for (std::size_t q = 0; q < x[j].size(); ++q) x[j][q] -= k.cn[j] * x[j + 1][q];
    dense_solve_in_place(m, g[j], x[j], r);
  }
  // X(J) = U(J) - V(J) X(N); row N: AN(N) X(N-1) + (A + BN(N)) X(N) + CN(N) X(1) = Y(N).
  Dense gn = block(n - 1), xn(std::size_t(m), 0.0);
  for (int i = 0; i < m; ++i) {
    xn[i] = y[std::size_t(nr) * m + i] - k.an[n - 1] * x[nr - 1][i * r] - k.cn[n - 1] * x[0][i * r];
    for (int q = 0; q < m; ++q)
      gn[i * m + q] -= k.an[n - 1] * x[nr - 1][i * r + 1 + q] + k.cn[n - 1] * x[0][i * r + 1 + q];
  }
  dense_solve_in_place(m, gn, xn, 1);
  std::vector<double> out(std::size_t(m) * n);
  for (int j = 0; j < nr; ++j)
    for (int i = 0; i < m; ++i) {
      double s = x[j][i * r];
      for (int q = 0; q < m; ++q) s -= x[j][i * r + 1 + q] * xn[q];
      out[std::size_t(j) * m + i] = s;
    }
  for (int i = 0; i < m; ++i) out[std::size_t(nr) * m + i] = xn[i];
  return out;
}

}  // namespace

// A periodic second index at sizes where the roots of the periodic polynomial crowd
// (N up to 257, couplings symmetric or not, nearly singular along J):
// the solution must agree with the double-precision one as well as the closed system of
// the same coefficients does with its own (same reference, the wrap-around couplings 0).
TEST(Blktri, PeriodicSecondIndexAsAccurateAsTheClosedOneUpToN257) {
  std::mt19937 gen(11u);
  std::uniform_real_distribution<float> mag(0.5f, 1.5f), margin(0.0f, 1.0f), rhs(-1.0f, 1.0f);
  for (int n : {65, 89, 100, 128, 138, 139, 140, 151, 200, 257})
    for (int c = 0; c < 4; ++c) {
      const int m = 9, mp = c & 1, sym = c >> 1;
      SCOPED_TRACE(testing::Message() << "N " << n << " MP " << mp << " symmetric " << sym);
      System k{m, n, mp, 0, {}, {}, {}, {}, {}, {}};
      for (int i = 0; i < m; ++i) k.am.push_back(mag(gen)), k.cm.push_back(mag(gen));
      for (int i = 0; i < m; ++i) k.bm.push_back(-(k.am[i] + k.cm[i]) - margin(gen));
      for (int j = 0; j < n; ++j) k.an.push_back(mag(gen));
      for (int j = 0; j < n; ++j) k.cn.push_back(sym ? k.an[(j + 1) % n] : mag(gen));
      for (int j = 0; j < n; ++j) k.bn.push_back(-(k.an[j] + k.cn[j]) - 0.1f * margin(gen));
      std::vector<float> y(std::size_t(m) * n);
      for (float& q : y) q = rhs(gen);
      double err[2] = {0, 0};
      int complex_roots = 0;
      for (int np = 0; np <= 1; ++np) {
        System s = k;
        s.np = np;
        if (np == 1) s.an[0] = s.cn[n - 1] = 0.0f; // the same system without the wrap-around
        const std::vector<double> ref = periodic_reference(s, y);
        std::vector<float> x = y, w(std::size_t(blkpart(n, m, np).words));
        Cblkt cb;
        Value v;
        BlkPlan plan;
        ASSERT_EQ(blktri(cb, v, 0, np, n, s.an, s.bn, s.cn, mp, m, s.am, s.bm, s.cm, m, x, w, plan), 0) << np;
        ASSERT_EQ(blktri(cb, v, 1, np, n, s.an, s.bn, s.cn, mp, m, s.am, s.bm, s.cm, m, x, w, plan), 0) << np;
        double e = 0, size = 0;
        for (std::size_t q = 0; q < x.size(); ++q) e = std::max(e, std::abs(x[q] - ref[q])), size = std::max(size, std::abs(ref[q]));
        err[np] = e / size;
        if (np == 0) complex_roots = cb.ncmplx;
      }
      EXPECT_LE(err[0], std::max(10.0 * err[1], 1e-4)) << "closed " << err[1] << " complex " << complex_roots;
    }
}

// The roots of the periodic polynomial with symmetric couplings (CN(J-1) = AN(J), the
// wrap-around pair too) are minus the eigenvalues of the symmetric ring matrix (diagonal BN,
// couplings AN, corners AN(1), CN(N)), here from a double-precision dense eigensolver. Near
// the ends of the spectrum they crowd; each must still be the rounding of the exact one to
// within a few units of single precision of the spectral norm.
TEST(Blktri, PeriodicRootsAreTheRingEigenvaluesToSinglePrecision) {
  std::mt19937 gen(5u);
  std::uniform_real_distribution<float> mag(0.5f, 1.5f), margin(0.0f, 1.0f);
  for (int n : {17, 64, 89, 140, 257}) {
    SCOPED_TRACE(testing::Message() << "N " << n);
    const auto un = static_cast<std::size_t>(n);
    std::vector<float> an(un), bn(un), cn(un);
    for (float& x : an) x = mag(gen);
    for (int j = 0; j < n; ++j) cn[std::size_t(j)] = an[std::size_t((j + 1) % n)];
    for (int j = 0; j < n; ++j) bn[std::size_t(j)] = -(an[std::size_t(j)] + cn[std::size_t(j)]) - 0.1f * margin(gen);
    Eigen::MatrixXd ring = Eigen::MatrixXd::Zero(n, n);
    for (int j = 0; j < n; ++j) {
      ring(j, j) = bn[std::size_t(j)];
      ring(j, (j + n - 1) % n) = an[std::size_t(j)];
      ring(j, (j + 1) % n) = cn[std::size_t(j)];
    }
    const Eigen::VectorXd eig = Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(ring).eigenvalues();
    const int m = 9;
    std::vector<float> am(m, 1.0f), bm(m, -3.0f), cm(m, 1.0f), y(std::size_t(m) * n, 0.0f);
    std::vector<float> w(std::size_t(blkpart(n, m, 0).words));
    Cblkt cb;
    Value v;
    BlkPlan plan;
    ASSERT_EQ(blktri(cb, v, 0, 0, n, an, bn, cn, 1, m, am, bm, cm, m, y, w, plan), 0);
    ASSERT_EQ(cb.ncmplx, 0);
    const RootIndex top = indxb(cb, 1 << cb.k, cb.k - 1);
    std::vector<double> roots(w.begin() + top.idx, w.begin() + top.idx + n);
    std::vector<double> exact(un);
    for (int j = 0; j < n; ++j) exact[std::size_t(j)] = -eig(j);
    std::sort(roots.begin(), roots.end());
    std::sort(exact.begin(), exact.end());
    const double norm = std::max(std::abs(exact.front()), std::abs(exact.back()));
    double worst = 0.0;
    for (int j = 0; j < n; ++j) worst = std::max(worst, std::abs(roots[std::size_t(j)] - exact[std::size_t(j)]));
    EXPECT_LE(worst, 4.0 * kUnit * norm) << worst / (kUnit * norm) << " units";
  }
}
