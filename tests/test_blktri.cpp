#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "elliptic/blktri.hpp"

using namespace qel;

namespace {

constexpr double kUnit = 5.9604644775390625e-8; // 2^-24, unit roundoff of single

struct System {
  int m, n, mp, np;
  std::vector<float> am, bm, cm, an, bn, cn;
};

// Random coefficients, AN(J) and CN(J-1) (the wrap-around pair too) of one
// random sign, diagonals dominant by at least 0.5 in each index. Symmetric
// couplings CN(J-1) = AN(J) give a periodic polynomial with real roots.
System random_system(int m, int n, int mp, int np, unsigned seed, bool symmetric) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> mag(0.5f, 1.5f), margin(0.5f, 1.0f);
  std::bernoulli_distribution flip(0.3);
  auto sign = [&] { return flip(gen) ? -1.0f : 1.0f; };
  System k{m, n, mp, np, {}, {}, {}, {}, {}, {}};
  for (int i = 0; i < m; ++i) {
    k.am.push_back(sign() * mag(gen));
    k.cm.push_back(sign() * mag(gen));
    k.bm.push_back(-(std::abs(k.am[i]) + std::abs(k.cm[i])) - margin(gen));
  }
  k.an.resize(n);
  k.cn.resize(n);
  for (int j = 0; j < n; ++j) {
    const float s = sign();
    k.an[j] = s * mag(gen);
    k.cn[(j + n - 1) % n] = symmetric ? k.an[j] : s * mag(gen);
  }
  for (int j = 0; j < n; ++j) k.bn.push_back(-(std::abs(k.an[j]) + std::abs(k.cn[j])) - margin(gen));
  return k;
}

// Gaussian elimination with partial pivoting, in double, of the full
// MN x MN system; unknown (I, J) is number I + M J (zero-based).
std::vector<double> dense_solve(const System& k, std::vector<double> x) {
  const int m = k.m, n = k.n, size = m * n;
  std::vector<double> a(std::size_t(size) * size, 0.0);
  auto at = [&](int r, int c) -> double& { return a[std::size_t(r) * size + c]; };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) {
      const int r = i + m * j;
      at(r, r) += double(k.bm[i]) + double(k.bn[j]);
      if (i > 0 || k.mp == 0) at(r, (i + m - 1) % m + m * j) += k.am[i];
      if (i < m - 1 || k.mp == 0) at(r, (i + 1) % m + m * j) += k.cm[i];
      if (j > 0 || k.np == 0) at(r, i + m * ((j + n - 1) % n)) += k.an[j];
      if (j < n - 1 || k.np == 0) at(r, i + m * ((j + 1) % n)) += k.cn[j];
    }
  for (int c = 0; c < size; ++c) {
    int p = c;
    for (int r = c + 1; r < size; ++r)
      if (std::abs(at(r, c)) > std::abs(at(p, c))) p = r;
    for (int q = 0; q < size; ++q) std::swap(at(c, q), at(p, q));
    std::swap(x[c], x[p]);
    for (int r = c + 1; r < size; ++r) {
      const double f = at(r, c) / at(c, c);
      for (int q = c; q < size && f != 0.0; ++q) at(r, q) -= f * at(c, q);
      x[r] -= f * x[c];
    }
  }
  for (int r = size - 1; r >= 0; --r) {
    for (int q = r + 1; q < size; ++q) x[r] -= at(r, q) * x[q];
    x[r] /= at(r, r);
  }
  return x;
}

// Strict diagonal dominance bounds the condition number in the maximum
// norm: ||A|| ||A^-1|| <= max(|diag| + off) / min(|diag| - off).
double condition_bound(const System& k) {
  double top = 0, gap = 1e300;
  for (int j = 0; j < k.n; ++j)
    for (int i = 0; i < k.m; ++i) {
      const double diag = std::abs(double(k.bm[i]) + k.bn[j]);
      const double off = std::abs(k.am[i]) + std::abs(k.cm[i]) + std::abs(k.an[j]) + std::abs(k.cn[j]);
      top = std::max(top, diag + off);
      gap = std::min(gap, diag - off);
    }
  return top / gap;
}

}  // namespace

// The error of cyclic reduction grows with the number of levels; per level
// the reduction and the back substitution each apply about four operators,
// each adding about u times the condition number kappa: 8 u kappa per level.
TEST(Blktri, AgreesWithDenseEliminationForAllPeriodicities) {
  const int sizes[][2] = {{5, 3}, {5, 5}, {6, 7}, {9, 12}, {13, 8}, {16, 15},
                          {20, 17}, {11, 20}, {7, 16}, {17, 9}, {8, 4}, {19, 13}};
  unsigned seed = 1;
  int periodic_complex = 0, periodic_real = 0;
  for (const auto& mn : sizes)
    for (int mp = 0; mp <= 1; ++mp)
      for (int np = 0; np <= 1; ++np)
        for (int sym = 0; sym <= 1; ++sym) {
          const System k = random_system(mn[0], mn[1], mp, np, ++seed, sym == 1);
          SCOPED_TRACE(testing::Message() << "M=" << k.m << " N=" << k.n << " MP=" << mp
                                          << " NP=" << np << " symmetric=" << sym);
          // Y with two spare rows per column (IDIMY = M + 2) that must stay.
          const int idimy = k.m + 2;
          std::vector<float> y(std::size_t(idimy) * k.n, 99.0f);
          std::vector<double> rhs;
          std::mt19937 gen(seed);
          std::uniform_real_distribution<float> val(-1.0f, 1.0f);
          for (int j = 0; j < k.n; ++j)
            for (int i = 0; i < k.m; ++i) rhs.push_back(y[std::size_t(i + idimy * j)] = val(gen));
          const std::vector<double> ref = dense_solve(k, rhs);
          Cblkt cb;
          Value v;
          std::vector<float> w(std::size_t(blkpart(k.n, k.m, np).words));
          for (int iflg = 0; iflg <= 1; ++iflg)
            EXPECT_EQ(blktri(cb, v, iflg, np, k.n, k.an, k.bn, k.cn, mp, k.m, k.am, k.bm, k.cm,
                             idimy, y, w), 0);
          double err = 0, size = 0;
          for (int j = 0; j < k.n; ++j)
            for (int i = 0; i < idimy; ++i) {
              const float got = y[std::size_t(i + idimy * j)];
              if (i >= k.m) {
                EXPECT_EQ(got, 99.0f);
                continue;
              }
              err = std::max(err, std::abs(got - ref[std::size_t(i + k.m * j)]));
              size = std::max(size, std::abs(ref[std::size_t(i + k.m * j)]));
            }
          EXPECT_LE(err, 8.0 * kUnit * condition_bound(k) * std::ceil(std::log2(k.n + 1.0)) * size);
          if (np == 0) {
            if (sym == 1) {
              EXPECT_EQ(cb.ncmplx, 0) << "symmetric couplings, real roots";
            }
            ++(cb.ncmplx == 1 ? periodic_complex : periodic_real);
          }
        }
  // Both capacitance solves, real and complex roots, were exercised.
  EXPECT_GE(periodic_complex, 4);
  EXPECT_GE(periodic_real, 4);
}

TEST(Blktri, ArgumentChecksAndSizes) {
  const System k = random_system(5, 5, 1, 1, 5u, false);
  std::vector<float> y(25, 3.0f), w(200, 7.0f);
  Value v;
  Cblkt cb{13, 11, 0.0f, 0.0f, 0, 0, 12};
  auto run = [&](int n, int m, int idimy, std::vector<float>& work) {
    return blktri(cb, v, 0, 1, n, k.an, k.bn, k.cn, 1, m, k.am, k.bm, k.cm, idimy, y, work);
  };
  EXPECT_EQ(run(2, 4, 5, w), 1); // M is checked first
  EXPECT_EQ(cb.nm, 2);           // nm is set before the checks
  EXPECT_EQ(run(2, 5, 5, w), 2);
  EXPECT_EQ(run(5, 5, 4, w), 3);
  // A work array too short for the sizes is refused the same way.
  std::vector<float> small(std::size_t(blkpart(5, 5, 1).words) - 1, 7.0f);
  EXPECT_EQ(run(5, 5, 5, small), 6);
  EXPECT_EQ(run(6, 5, 5, w), 6); // AN, BN, CN hold only 5
  // None of these touched W, Y or the other members of the block.
  EXPECT_EQ(cb.npp, 13);
  EXPECT_EQ(cb.k, 11);
  EXPECT_EQ(cb.ik, 12);
  for (float f : y) EXPECT_EQ(f, 3.0f);
  for (float f : w) EXPECT_EQ(f, 7.0f);
  for (float f : small) EXPECT_EQ(f, 7.0f);
  EXPECT_EQ(run(3, 5, 5, w), 0); // N = 3 with M = 5 is accepted

  const BlkPartition p = blkpart(89, 89, 1), q = blkpart(5, 5, 1);
  EXPECT_EQ(std::tuple(p.nh, p.k, p.ik, p.iwah, p.iw1, p.iwbh), std::tuple(90, 7, 256, 1293, 1293, 1382));
  EXPECT_EQ(std::tuple(q.nh, q.k, q.ik, q.iwah), std::tuple(6, 3, 16, 25));
  std::vector<float> one(89, 1.0f), four(89, -4.0f), y89(89 * 89), w89(8381);
  EXPECT_EQ(blktri(cb, v, 0, 1, 89, one, four, one, 1, 89, one, four, one, 89, y89, w89), 0);
  EXPECT_EQ(w89[0], 1826.0f);
  EXPECT_EQ(cb.k, 7);
  EXPECT_EQ(cb.ik, 256);
}

TEST(Blktri, SetupRefusesCouplingsOfOppositeSign) {
  for (int np = 0; np <= 1; ++np) {
    System k = random_system(6, 7, 1, np, 17u, false);
    // AN(4) CN(3) < 0; for a periodic J the wrap-around AN(1) CN(7) instead.
    if (np == 1) k.cn[2] = -k.an[3];
    else k.cn[6] = -k.an[0];
    Cblkt cb;
    Value v;
    std::vector<float> y(42), w(std::size_t(blkpart(7, 6, np).words));
    EXPECT_EQ(blktri(cb, v, 0, np, 7, k.an, k.bn, k.cn, 1, 6, k.am, k.bm, k.cm, 6, y, w), 5);
    // A zero product is accepted: that coupling just vanishes.
    k.an[np == 1 ? 3 : 0] = 0.0f;
    EXPECT_EQ(blktri(cb, v, 0, np, 7, k.an, k.bn, k.cn, 1, 6, k.am, k.bm, k.cm, 6, y, w), 0);
  }
}

TEST(Blktri, IndexFunctions) {
  Cblkt cb;
  cb.nm = 89;
  cb.ik = 256;
  auto at = [](RootIndex r) { return std::pair(r.idx, r.n); };
  EXPECT_EQ(indxa(cb, 90, 0).n, 0);
  EXPECT_EQ(at(indxa(cb, 12, 2)), std::pair(9, 4));
  EXPECT_EQ(indxc(cb, 88, 1).n, 2);
  EXPECT_EQ(indxc(cb, 89, 1).n, 0);
  EXPECT_EQ(at(indxb(cb, 5, 0)), std::pair(5, 1));
  EXPECT_EQ(indxb(cb, 90, 0).n, 0);
  EXPECT_EQ(indxb(cb, 3, -1).n, 0);
  // Level 1 follows the 89 roots of level 0 (at 2^(k-1) = 128), in blocks
  // of 3; level 2 has blocks of 7, cut near row 89.
  EXPECT_EQ(at(indxb(cb, 2, 1)), std::pair(128, 3));
  EXPECT_EQ(at(indxb(cb, 4, 1)), std::pair(131, 3));
  EXPECT_EQ(indxb(cb, 4, 2).n, 7);
  EXPECT_EQ(indxb(cb, 88, 2).n, 5);  // rows 85..89
  EXPECT_EQ(indxb(cb, 104, 3).n, 0); // rows 97..111
  // The top row of k = 7 holds all 89 rows; its 2^7 - 1 = 127 reserved
  // words end just before the set-up scratch at W(IWAH) = W(1293).
  const RootIndex top = indxb(cb, 64, 6);
  EXPECT_EQ(top.n, 89);
  EXPECT_EQ(top.idx + 127 + 1, 1293);
}

TEST(Blktri, MachineEpsilonSearch) {
  Value v;
  EXPECT_EQ(epmach(v), 5.9604645E-6f);
  EXPECT_EQ(v.vstore, 1.0f);
}

namespace {

// Eigenvalues of the symmetric tridiagonal (d, e), e[i] coupling rows i-1
// and i, by bisection on the Sturm count (negative LDL^T pivots below x).
std::vector<double> bisection_eigenvalues(const std::vector<double>& d, const std::vector<double>& e) {
  const int n = int(d.size());
  auto below = [&](double x) {
    int count = 0;
    double q = 1.0;
    for (int i = 0; i < n; ++i) {
      q = d[i] - x - (i > 0 ? e[i] * e[i] / q : 0.0);
      if (q == 0.0) q = -1e-300;
      count += q < 0.0;
    }
    return count;
  };
  double bound = 0;
  for (int i = 0; i < n; ++i) bound = std::max(bound, std::abs(d[i]) + 2 * std::abs(e[i]) + 2);
  std::vector<double> ev;
  for (int k = 0; k < n; ++k) {
    double a = -bound, b = bound;
    for (int it = 0; it < 100; ++it) (below(0.5 * (a + b)) > k ? b : a) = 0.5 * (a + b);
    ev.push_back(0.5 * (a + b));
  }
  return ev;
}

}  // namespace

// An off-diagonal entry is neglected once below eps (|d| + |e|), which moves
// an eigenvalue by at most that much (Weyl); the sweeps themselves are
// backward stable to a few n u of the norm. Together: 2 eps times the norm.
TEST(Tevls, MatchesSturmBisection) {
  Cblkt cb;
  Value v;
  cb.eps = epmach(v);
  std::mt19937 gen(4242u);
  std::uniform_real_distribution<float> val(-2.0f, 2.0f);
  for (int n : {2, 3, 4, 7, 15, 31, 40, 63, 89})
    for (int trial = 0; trial < 4; ++trial) {
      std::vector<float> d, e;
      for (int i = 0; i < n; ++i) {
        d.push_back(val(gen) - (trial == 3 ? 10.0f : 0.0f));
        e.push_back(trial == 2 && i == n / 2 ? 0.0f : val(gen)); // a split matrix
      }
      const std::vector<double> ref = bisection_eigenvalues({d.begin(), d.end()}, {e.begin(), e.end()});
      const double norm = std::max(std::abs(ref.front()), std::abs(ref.back()));
      ASSERT_EQ(tevls(cb, n, d.data(), e.data()), 0);
      // Ascending, or descending exactly when that puts the larger size last.
      const bool reversed = d.front() > d.back();
      if (reversed) std::reverse(d.begin(), d.end());
      EXPECT_EQ(reversed, std::abs(d.front()) > std::abs(d.back())) << n;
      for (int i = 0; i < n; ++i) EXPECT_NEAR(d[i], ref[i], 2.0 * cb.eps * norm) << n << " " << i;
    }
}

TEST(Tevls, SmallCasesAndOrder) {
  Cblkt cb;
  Value v;
  cb.eps = epmach(v);
  float d1[] = {3.5f}, e1[] = {9.0f};
  EXPECT_EQ(tevls(cb, 1, d1, e1), 0);
  EXPECT_EQ(d1[0], 3.5f);
  // The shift of the 2 x 2 block is exact here, so the sweep meets a zero
  // pivot; the eigenvalues must still come out to a few rounding units of
  // the norm 3, not merely to the split tolerance eps.
  const float tol = 4.0f * float(kUnit) * 3.0f;
  float d2[] = {2.0f, 2.0f}, e2[] = {0.0f, 1.0f};
  float d3[] = {-2.0f, -2.0f}, e3[] = {0.0f, -1.0f};
  EXPECT_EQ(tevls(cb, 2, d2, e2) + tevls(cb, 2, d3, e3), 0);
  EXPECT_NEAR(d2[0], 1.0f, tol);
  EXPECT_NEAR(d2[1], 3.0f, tol);
  // Eigenvalues -3, -1: found ascending, then reversed since |-1| < |-3|.
  EXPECT_NEAR(d3[0], -1.0f, tol);
  EXPECT_NEAR(d3[1], -3.0f, tol);
}

TEST(Roots, ProductWithScalarsOnly) {
  const float a[] = {0, 1, 0.5f, 1, 0.7f}, b[] = {-3, -3.5f, -3, -4, -3.2f};
  const float c[] = {1, 0.8f, 1, 0.6f, 0}, x[] = {1, -2, 0.5f, 3, -1}, aa[] = {5, 7, 2};
  float y[5], d[5], w[5], u[5];
  // No denominator roots: only AA(3) is applied, negated.
  prod(0, nullptr, 0, nullptr, 0, nullptr, 3, aa, x, y, 5, a, b, c, d, w, u);
  for (int j = 0; j < 5; ++j) EXPECT_EQ(y[j], -2.0f * x[j]);
}
