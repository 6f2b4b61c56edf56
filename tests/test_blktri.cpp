#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "elliptic/blktri.hpp"

using namespace qel;

namespace {

constexpr double kUnit = 5.9604644775390625e-8; // 2^-24, unit roundoff of single

struct Coefficients {
  int m = 0, n = 0, mp = 1, np = 1;
  std::vector<float> am, bm, cm, an, bn, cn;
};

// Random coefficients with AN(J) CN(J-1) > 0 (the pair shares a random sign,
// the wrap-around pair too), diagonals dominant by a margin of at least 0.5
// in each index. With symmetric = true the J couplings are CN(J-1) = AN(J),
// whose periodic polynomial has only real roots.
Coefficients random_system(int m, int n, int mp, int np, unsigned seed, bool symmetric = false) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> mag(0.5f, 1.5f);
  std::uniform_real_distribution<float> margin(0.5f, 1.0f);
  std::bernoulli_distribution flip(0.3);
  Coefficients k;
  k.m = m;
  k.n = n;
  k.mp = mp;
  k.np = np;
  k.am.resize(m);
  k.bm.resize(m);
  k.cm.resize(m);
  k.an.resize(n);
  k.bn.resize(n);
  k.cn.resize(n);
  for (int i = 0; i < m; ++i) {
    k.am[i] = (flip(gen) ? -1.0f : 1.0f) * mag(gen);
    k.cm[i] = (flip(gen) ? -1.0f : 1.0f) * mag(gen);
  }
  for (int j = 0; j < n; ++j) {
    const float sign = flip(gen) ? -1.0f : 1.0f;
    k.an[j] = sign * mag(gen);
    k.cn[(j + n - 1) % n] = symmetric ? k.an[j] : sign * mag(gen);
  }
  for (int i = 0; i < m; ++i) k.bm[i] = -(std::abs(k.am[i]) + std::abs(k.cm[i])) - margin(gen);
  for (int j = 0; j < n; ++j) k.bn[j] = -(std::abs(k.an[j]) + std::abs(k.cn[j])) - margin(gen);
  return k;
}

// The full MN x MN matrix of the system, unknown (I, J) at (I-1) + M (J-1).
std::vector<double> dense_matrix(const Coefficients& k) {
  const int m = k.m, n = k.n, size = m * n;
  std::vector<double> a(std::size_t(size) * size, 0.0);
  auto at = [&](int row, int i, int j) -> double& {
    return a[std::size_t(row) * size + std::size_t(i + m * j)];
  };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) {
      const int row = i + m * j;
      at(row, i, j) += double(k.bm[i]) + double(k.bn[j]);
      if (i > 0) at(row, i - 1, j) += k.am[i];
      else if (k.mp == 0) at(row, m - 1, j) += k.am[i];
      if (i < m - 1) at(row, i + 1, j) += k.cm[i];
      else if (k.mp == 0) at(row, 0, j) += k.cm[i];
      if (j > 0) at(row, i, j - 1) += k.an[j];
      else if (k.np == 0) at(row, i, n - 1) += k.an[j];
      if (j < n - 1) at(row, i, j + 1) += k.cn[j];
      else if (k.np == 0) at(row, i, 0) += k.cn[j];
    }
  return a;
}

// Gaussian elimination with partial pivoting in double precision.
std::vector<double> dense_solve(std::vector<double> a, std::vector<double> x) {
  const int size = int(x.size());
  auto at = [&](int r, int c) -> double& { return a[std::size_t(r) * size + c]; };
  for (int c = 0; c < size; ++c) {
    int piv = c;
    for (int r = c + 1; r < size; ++r)
      if (std::abs(at(r, c)) > std::abs(at(piv, c))) piv = r;
    for (int q = 0; q < size; ++q) std::swap(at(c, q), at(piv, q));
    std::swap(x[c], x[piv]);
    for (int r = c + 1; r < size; ++r) {
      const double f = at(r, c) / at(c, c);
      if (f == 0.0) continue;
      for (int q = c; q < size; ++q) at(r, q) -= f * at(c, q);
      x[r] -= f * x[c];
    }
  }
  for (int r = size - 1; r >= 0; --r) {
    double s = x[r];
    for (int q = r + 1; q < size; ++q) s -= at(r, q) * x[q];
    x[r] = s / at(r, r);
  }
  return x;
}

struct Outcome {
  int setup = -1, solve = -1, ncmplx = 0;
  double error = 0; // max |x - x_ref| / max |x_ref|
  double kappa = 0; // bound of the condition number in the maximum norm
  bool rows_beyond_m_untouched = true;
};

Outcome solve_and_compare(const Coefficients& k, unsigned seed, int idimy_extra = 2) {
  const int idimy = k.m + idimy_extra;
  std::mt19937 gen(seed + 7u);
  std::uniform_real_distribution<float> val(-1.0f, 1.0f);
  std::vector<float> y(std::size_t(idimy) * k.n, 99.0f);
  std::vector<double> rhs(std::size_t(k.m) * k.n);
  for (int j = 0; j < k.n; ++j)
    for (int i = 0; i < k.m; ++i) {
      y[std::size_t(i + idimy * j)] = val(gen);
      rhs[std::size_t(i + k.m * j)] = y[std::size_t(i + idimy * j)];
    }
  const std::vector<double> a = dense_matrix(k);
  const std::vector<double> ref = dense_solve(a, rhs);

  Cblkt cb;
  Value v;
  std::vector<float> w(std::size_t(blkpart(k.n, k.m, k.np).words) + 1);
  Outcome o;
  o.setup = blktri(cb, v, 0, k.np, k.n, k.an, k.bn, k.cn, k.mp, k.m, k.am, k.bm, k.cm, idimy, y, w);
  o.solve = blktri(cb, v, 1, k.np, k.n, k.an, k.bn, k.cn, k.mp, k.m, k.am, k.bm, k.cm, idimy, y, w);
  o.ncmplx = cb.ncmplx;
  double emax = 0, xmax = 0;
  for (int j = 0; j < k.n; ++j)
    for (int i = 0; i < k.m; ++i) {
      const double r = ref[std::size_t(i + k.m * j)];
      emax = std::max(emax, std::abs(double(y[std::size_t(i + idimy * j)]) - r));
      xmax = std::max(xmax, std::abs(r));
    }
  o.error = emax / xmax;
  for (int j = 0; j < k.n; ++j)
    for (int i = k.m; i < idimy; ++i)
      if (y[std::size_t(i + idimy * j)] != 99.0f) o.rows_beyond_m_untouched = false;
  // Strict diagonal dominance bounds the inverse: ||A^-1|| <= 1/min(|diag| - sum|off|).
  const int size = k.m * k.n;
  double anorm = 0, gap = 1e300;
  for (int r = 0; r < size; ++r) {
    double off = 0, diag = 0, sum = 0;
    for (int c = 0; c < size; ++c) {
      const double e = a[std::size_t(r) * size + c];
      sum += std::abs(e);
      if (c == r) diag = std::abs(e);
      else off += std::abs(e);
    }
    anorm = std::max(anorm, sum);
    gap = std::min(gap, diag - off);
  }
  o.kappa = anorm / gap;
  return o;
}

}  // namespace

// The error of cyclic reduction grows with the number of levels; per level
// the reduction and the back substitution each apply about four operators,
// each adding about u times the condition number kappa: 8 u kappa per level.
TEST(Blktri, AgreesWithDenseEliminationForAllPeriodicities) {
  const int sizes[][2] = {{5, 3}, {5, 5}, {6, 7}, {9, 12}, {13, 8}, {16, 15},
                          {20, 17}, {11, 20}, {7, 16}, {17, 9}, {8, 4}, {19, 13}};
  unsigned seed = 1;
  int complex_cases = 0, real_periodic_cases = 0;
  for (const auto& mn : sizes)
    for (int mp = 0; mp <= 1; ++mp)
      for (int np = 0; np <= 1; ++np)
        for (int sym = 0; sym <= 1; ++sym) {
          ++seed;
          const Coefficients k = random_system(mn[0], mn[1], mp, np, seed, sym == 1);
          const Outcome o = solve_and_compare(k, seed);
          SCOPED_TRACE(testing::Message() << "M=" << mn[0] << " N=" << mn[1] << " MP=" << mp
                                          << " NP=" << np << " symmetric=" << sym);
          EXPECT_EQ(o.setup, 0);
          EXPECT_EQ(o.solve, 0);
          EXPECT_TRUE(o.rows_beyond_m_untouched);
          const double levels = std::ceil(std::log2(mn[1] + 1.0));
          EXPECT_LE(o.error, 8.0 * kUnit * o.kappa * levels);
          if (np == 0) {
            // Symmetric couplings give a periodic polynomial with real roots.
            if (sym == 1) {
              EXPECT_EQ(o.ncmplx, 0);
            }
            (o.ncmplx == 1 ? complex_cases : real_periodic_cases)++;
          }
        }
  // Both the real and the complex capacitance solves were exercised, each
  // with a closed and a periodic first index.
  EXPECT_GE(complex_cases, 4);
  EXPECT_GE(real_periodic_cases, 4);
}

// The model's own call shape, with the right-hand side in a larger array
// (IDIMY > M) and several right-hand sides on one set-up.
TEST(Blktri, OneSetupServesManyRightHandSides) {
  const Coefficients k = random_system(12, 10, 1, 1, 99u);
  const int idimy = 15;
  Cblkt cb;
  Value v;
  std::vector<float> w(std::size_t(blkpart(k.n, k.m, k.np).words));
  std::vector<float> y(std::size_t(idimy) * k.n, 0.0f);
  ASSERT_EQ(blktri(cb, v, 0, 1, k.n, k.an, k.bn, k.cn, 1, k.m, k.am, k.bm, k.cm, idimy, y, w), 0);
  const std::vector<double> a = dense_matrix(k);
  for (int trial = 0; trial < 3; ++trial) {
    std::vector<double> rhs(std::size_t(k.m) * k.n);
    for (int j = 0; j < k.n; ++j)
      for (int i = 0; i < k.m; ++i) {
        const float f = float(std::sin(1.0 + i + 3.0 * j + 7.0 * trial));
        y[std::size_t(i + idimy * j)] = f;
        rhs[std::size_t(i + k.m * j)] = f;
      }
    ASSERT_EQ(blktri(cb, v, 1, 1, k.n, k.an, k.bn, k.cn, 1, k.m, k.am, k.bm, k.cm, idimy, y, w), 0);
    const std::vector<double> ref = dense_solve(a, rhs);
    double emax = 0, xmax = 0;
    for (int j = 0; j < k.n; ++j)
      for (int i = 0; i < k.m; ++i) {
        emax = std::max(emax, std::abs(y[std::size_t(i + idimy * j)] - ref[std::size_t(i + k.m * j)]));
        xmax = std::max(xmax, std::abs(ref[std::size_t(i + k.m * j)]));
      }
    EXPECT_LE(emax, 8.0 * kUnit * 12.0 * 4.0 * xmax) << trial; // kappa < 12, 4 levels
  }
}

TEST(Blktri, ArgumentChecksComeFirstAndTouchNothing) {
  const Coefficients k = random_system(5, 5, 1, 1, 5u);
  std::vector<float> y(25, 3.0f), w(200, 7.0f);
  Value v;
  auto run = [&](Cblkt& cb, int n, int m, int idimy) {
    return blktri(cb, v, 0, 1, n, k.an, k.bn, k.cn, 1, m, k.am, k.bm, k.cm, idimy, y, w);
  };
  Cblkt cb;
  cb.k = 11;
  cb.ik = 12;
  cb.npp = 13;
  EXPECT_EQ(run(cb, 5, 4, 5), 1);
  EXPECT_EQ(run(cb, 2, 4, 5), 1); // M is checked before N
  EXPECT_EQ(cb.nm, 2);            // nm is set before the checks
  EXPECT_EQ(run(cb, 2, 5, 5), 2);
  EXPECT_EQ(run(cb, 5, 5, 4), 3);
  EXPECT_EQ(cb.k, 11);
  EXPECT_EQ(cb.ik, 12);
  EXPECT_EQ(cb.npp, 13);
  EXPECT_TRUE(std::all_of(y.begin(), y.end(), [](float f) { return f == 3.0f; }));
  EXPECT_TRUE(std::all_of(w.begin(), w.end(), [](float f) { return f == 7.0f; }));
  // N = 3 with M = 5 is accepted.
  EXPECT_EQ(run(cb, 3, 5, 5), 0);
  // A work array or right-hand side too short for the sizes is refused
  // before anything is written.
  std::vector<float> small(std::size_t(blkpart(5, 5, 1).words) - 1, 7.0f);
  Cblkt cb2;
  EXPECT_EQ(blktri(cb2, v, 0, 1, 5, k.an, k.bn, k.cn, 1, 5, k.am, k.bm, k.cm, 5, y, small), 6);
  EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](float f) { return f == 7.0f; }));
  EXPECT_EQ(blktri(cb2, v, 1, 1, 5, k.an, k.bn, k.cn, 1, 5, k.am, k.bm, k.cm, 6, y, w), 6);
  EXPECT_EQ(blktri(cb2, v, 0, 1, 6, k.an, k.bn, k.cn, 1, 5, k.am, k.bm, k.cm, 5, y, w), 6);
}

TEST(Blktri, SetupReportsCouplingsOfOppositeSign) {
  for (int np = 0; np <= 1; ++np) {
    Coefficients k = random_system(6, 7, 1, np, 17u);
    // Row 4 couples to row 3 with a product AN(4) CN(3) < 0 (for a periodic
    // J the wrap-around pair AN(1) CN(7) instead).
    if (np == 1) k.cn[2] = -k.an[3];
    else k.cn[6] = -k.an[0];
    Cblkt cb;
    Value v;
    std::vector<float> y(42), w(std::size_t(blkpart(7, 6, np).words));
    EXPECT_EQ(blktri(cb, v, 0, np, 7, k.an, k.bn, k.cn, 1, 6, k.am, k.bm, k.cm, 6, y, w), 5) << np;
  }
  // A zero product is accepted: that coupling just vanishes.
  Coefficients k = random_system(6, 7, 1, 1, 18u);
  k.an[3] = 0.0f;
  const Outcome o = solve_and_compare(k, 18u);
  EXPECT_EQ(o.setup, 0);
  EXPECT_LE(o.error, 8.0 * kUnit * o.kappa * 3.0);
}

TEST(Blktri, WorkArrayPartition) {
  const BlkPartition p = blkpart(89, 89, 1);
  EXPECT_EQ(p.nh, 90);
  EXPECT_EQ(p.k, 7);
  EXPECT_EQ(p.ik, 256);
  EXPECT_EQ(p.iwah, 1293);
  EXPECT_EQ(p.iw1, 1293);
  EXPECT_EQ(p.iwbh, 1382);
  EXPECT_EQ(p.words, 1826);
  EXPECT_LE(p.words, 8381);
  const BlkPartition q = blkpart(5, 5, 1);
  EXPECT_EQ(q.nh, 6);
  EXPECT_EQ(q.k, 3);
  EXPECT_EQ(q.ik, 16);
  EXPECT_EQ(q.iwah, 25);
  // Periodic J: the periodic roots (2N words when complex) sit at IWAH,
  // before the solve vectors.
  const BlkPartition r = blkpart(8, 5, 0);
  EXPECT_EQ(r.nh, 8);
  EXPECT_EQ(r.k, 3);
  EXPECT_EQ(r.iw1, r.iwah + 16);
  EXPECT_EQ(r.iwbh, r.iw1);

  // blktri records the partition in the state and W(1) on every call.
  Cblkt cb;
  Value v;
  std::vector<float> an(89, 1.0f), bn(89, -4.0f), y(89 * 89), w(8381);
  EXPECT_EQ(blktri(cb, v, 0, 1, 89, an, bn, an, 1, 89, an, bn, an, 89, y, w), 0);
  EXPECT_EQ(cb.k, 7);
  EXPECT_EQ(cb.ik, 256);
  EXPECT_EQ(cb.nm, 89);
  EXPECT_EQ(cb.npp, 1);
  EXPECT_EQ(w[0], 1826.0f);
}

// Every root list of the table lies inside W(2 .. IWAH-1) and no two overlap,
// for closed and periodic J of several sizes; row 2^(k-1) at the top level
// holds the whole closed section.
TEST(Blktri, RootTableListsAreDisjointAndInside) {
  for (int np = 0; np <= 1; ++np)
    for (int n : {3, 5, 8, 15, 16, 17, 31, 33, 89}) {
      const BlkPartition p = blkpart(n, 5, np);
      Cblkt cb;
      cb.nm = np == 0 ? n - 1 : n;
      cb.ik = p.ik;
      cb.k = p.k;
      std::vector<int> owner(std::size_t(p.iwah), 0);
      int lists = 0;
      // Level 0 has rows 1..nm; level l >= 1 every multiple of 2^l below
      // 2^k whose section reaches into 1..nm.
      for (int l = 0; l <= p.k - 1; ++l)
        for (int i = 1 << l; i <= (l == 0 ? cb.nm : (1 << p.k) - (1 << l)); i += 1 << l) {
          const RootIndex r = indxb(cb, i, l);
          if (r.n <= 0) break;
          ++lists;
          for (int t = 0; t < r.n; ++t) {
            const int word = r.idx + t + 1; // B(j) is W(j + 1)
            ASSERT_GE(word, 2);
            ASSERT_LE(word, p.iwah - 1) << "n=" << n << " row " << i << " level " << l;
            EXPECT_EQ(owner[std::size_t(word)], 0) << "n=" << n << " row " << i << " level " << l;
            owner[std::size_t(word)] = lists;
          }
        }
      EXPECT_EQ(indxb(cb, 1 << (p.k - 1), p.k - 1).n, cb.nm) << n;
      EXPECT_EQ(indxb(cb, 1 << p.k, p.k - 1).idx + 1, p.iwah) << n;
    }
}

TEST(Blktri, IndexFunctions) {
  Cblkt cb;
  cb.nm = 89;
  cb.ik = 256;
  cb.k = 7;
  EXPECT_EQ(indxa(cb, 90, 0).n, 0);
  RootIndex a = indxa(cb, 12, 2);
  EXPECT_EQ(a.idx, 9);
  EXPECT_EQ(a.n, 4);
  EXPECT_EQ(indxc(cb, 88, 1).n, 2);
  EXPECT_EQ(indxc(cb, 88, 1).idx, 88);
  EXPECT_EQ(indxc(cb, 89, 1).n, 0);
  RootIndex b = indxb(cb, 5, 0);
  EXPECT_EQ(b.idx, 5);
  EXPECT_EQ(b.n, 1);
  EXPECT_EQ(indxb(cb, 90, 0).n, 0);
  EXPECT_EQ(indxb(cb, 3, -1).n, 0);
  // Level 1 starts after level 0's 89 roots; blocks of 3 rows, then of 7.
  EXPECT_EQ(indxb(cb, 2, 1).idx, 128);
  EXPECT_EQ(indxb(cb, 2, 1).n, 3);
  EXPECT_EQ(indxb(cb, 4, 1).idx, 131);
  EXPECT_EQ(indxb(cb, 4, 2).n, 7);
  // Near row 89 the sections are cut: row 88 at level 2 covers 85..89.
  EXPECT_EQ(indxb(cb, 88, 2).n, 5);
  EXPECT_EQ(indxb(cb, 96, 3).n, 1);  // rows 89..103 cut to 89
  EXPECT_EQ(indxb(cb, 104, 3).n, 0); // rows 97..111 all beyond nm
}

TEST(Blktri, MachineEpsilonSearch) {
  Value v;
  v.vstore = -2.0f;
  EXPECT_EQ(epmach(v), 5.9604645E-6f);
  EXPECT_EQ(v.vstore, 1.0f);
}

namespace {

// Number of eigenvalues below x of the symmetric tridiagonal (d, e), e[i]
// coupling rows i-1 and i, from the signs of the LDL^T pivots.
int sturm_count(const std::vector<double>& d, const std::vector<double>& e, double x) {
  int count = 0;
  double q = 1.0;
  for (std::size_t i = 0; i < d.size(); ++i) {
    const double off = i == 0 ? 0.0 : e[i] * e[i] / q;
    q = d[i] - x - off;
    if (q == 0.0) q = -1e-300;
    if (q < 0.0) ++count;
  }
  return count;
}

std::vector<double> bisection_eigenvalues(const std::vector<double>& d, const std::vector<double>& e) {
  const int n = int(d.size());
  double lo = 1e300, hi = -1e300;
  for (int i = 0; i < n; ++i) {
    const double r = (i > 0 ? std::abs(e[i]) : 0.0) + (i + 1 < n ? std::abs(e[i + 1]) : 0.0);
    lo = std::min(lo, d[i] - r);
    hi = std::max(hi, d[i] + r);
  }
  std::vector<double> ev(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) {
    double a = lo, b = hi;
    for (int it = 0; it < 200 && b - a > 1e-15 * (std::abs(a) + std::abs(b)); ++it) {
      const double mid = 0.5 * (a + b);
      (sturm_count(d, e, mid) > k ? b : a) = mid;
    }
    ev[std::size_t(k)] = 0.5 * (a + b);
  }
  return ev;
}

}  // namespace

// An off-diagonal entry is neglected once below eps (|d| + |e|), which moves
// an eigenvalue by at most that much (Weyl); the QL sweeps themselves are
// backward stable to a few n u of the norm. Together: 2 eps times the norm.
TEST(Tevls, MatchesSturmBisection) {
  Cblkt cb;
  Value v;
  cb.eps = epmach(v);
  std::mt19937 gen(4242u);
  std::uniform_real_distribution<float> val(-2.0f, 2.0f);
  for (int n : {2, 3, 4, 7, 15, 31, 40, 63, 89}) {
    for (int trial = 0; trial < 4; ++trial) {
      std::vector<float> d(static_cast<std::size_t>(n)), e(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) {
        d[std::size_t(i)] = val(gen) + (trial == 3 ? -10.0f : 0.0f);
        e[std::size_t(i)] = val(gen);
      }
      if (trial == 2 && n > 3) e[std::size_t(n / 2)] = 0.0f; // split matrix
      const std::vector<double> dd(d.begin(), d.end()), ee(e.begin(), e.end());
      const std::vector<double> ref = bisection_eigenvalues(dd, ee);
      double norm = 0;
      for (double x : ref) norm = std::max(norm, std::abs(x));
      ASSERT_EQ(tevls(cb, n, d.data(), e.data()), 0);
      std::vector<double> got(d.begin(), d.end());
      // Ascending, or descending when that puts the larger size last.
      const bool reversed = got.front() > got.back();
      if (reversed) std::reverse(got.begin(), got.end());
      EXPECT_EQ(reversed, std::abs(got.front()) > std::abs(got.back())) << n;
      for (int i = 0; i < n; ++i)
        EXPECT_NEAR(got[std::size_t(i)], ref[std::size_t(i)], 2.0 * cb.eps * norm) << n << " " << i;
    }
  }
}

TEST(Tevls, OrderingAndSmallCases) {
  Cblkt cb;
  Value v;
  cb.eps = epmach(v);
  float d1[] = {3.5f};
  float e1[] = {9.0f};
  EXPECT_EQ(tevls(cb, 1, d1, e1), 0);
  EXPECT_EQ(d1[0], 3.5f);
  // The shift from the 2 x 2 block is exact here, so the step meets a zero
  // pivot: the eigenvalues must still come out to a few rounding units of
  // the norm 3, not to the split tolerance eps.
  const float tol = 4.0f * float(kUnit) * 3.0f;
  float d2[] = {2.0f, 2.0f};
  float e2[] = {0.0f, 1.0f};
  EXPECT_EQ(tevls(cb, 2, d2, e2), 0);
  EXPECT_NEAR(d2[0], 1.0f, tol);
  EXPECT_NEAR(d2[1], 3.0f, tol);
  // Eigenvalues -3, -1: found ascending, then reversed since |-1| < |-3|.
  float d3[] = {-2.0f, -2.0f};
  float e3[] = {0.0f, -1.0f};
  EXPECT_EQ(tevls(cb, 2, d3, e3), 0);
  EXPECT_NEAR(d3[0], -1.0f, tol);
  EXPECT_NEAR(d3[1], -3.0f, tol);
}

TEST(Roots, PeriodicFunctionsAndBisection) {
  const float one[] = {1.0f};
  const float zero[] = {0.0f};
  EXPECT_EQ(psgf(0.3f, 0, one, one, zero), -1.0f);
  EXPECT_EQ(psgf(2.0f, 1, one, one, zero), 2.0f);
  // Even order: 1 - (F + H) with F = H = 1/((x-1)(x+1)) = 1/3 at x = 2.
  const float c2[] = {1.0f, 1.0f};
  const float bh2[] = {1.0f, -1.0f};
  EXPECT_FLOAT_EQ(psgf(2.0f, 2, c2, c2, bh2), 1.0f / 3.0f);
  EXPECT_EQ(ppspf(2.0f, 0, c2, c2, bh2), 0.0f);
  EXPECT_EQ(ppsgf(2.0f, 0, c2, c2, bh2), 0.0f);
  EXPECT_FLOAT_EQ(ppspf(2.0f, 2, c2, c2, bh2), 1.0f + 1.0f / 3.0f);
  EXPECT_FLOAT_EQ(ppsgf(2.0f, 2, c2, c2, bh2), -(1.0f + 1.0f / 9.0f));
  // 1/(x+4) + 1/(x-6) vanishes exactly at the first midpoint x = 1 of
  // [-1, 3]: returned at once, although the tolerance would stop a plain
  // bisection after one halving at 0 or 2.
  Cblkt cb;
  cb.cnv = 100.0f;
  const float bh[] = {-4.0f, 6.0f};
  EXPECT_EQ(bsrh(cb, -1.0f, 3.0f, 2, c2, c2, bh, ppspf, -1.0f), 1.0f);
  // A plain root to the tolerance: Q'/Q of roots 0 and 1 vanishes at 1/2.
  cb.cnv = 1e-6f;
  const float bh01[] = {0.0f, 1.0f};
  EXPECT_NEAR(bsrh(cb, 0.0f, 1.0f, 2, c2, c2, bh01, ppspf, -1.0f), 0.5f, 2e-6f);
}

// The product operator P: scalars only, and one numerator over one
// denominator, against the same product formed directly.
TEST(Roots, ProductOperator) {
  const int m = 5;
  const float a[] = {0.0f, 1.0f, 0.5f, 1.0f, 0.7f};
  const float b[] = {-3.0f, -3.5f, -3.0f, -4.0f, -3.2f};
  const float c[] = {1.0f, 0.8f, 1.0f, 0.6f, 0.0f};
  const float x[] = {1.0f, -2.0f, 0.5f, 3.0f, -1.0f};
  float y[m], d[m], w[m], u[m];
  const float aa[] = {5.0f, 7.0f, 2.0f};
  prod(0, nullptr, 0, nullptr, 0, nullptr, 3, aa, x, y, m, a, b, c, d, w, u);
  for (int j = 0; j < m; ++j) EXPECT_EQ(y[j], -2.0f * x[j]);
  // (A - 1)(A - 2)^-1 x: multiply the result by (A - 2) and compare with
  // (A - 1) x.
  const float rt[] = {2.0f}, beta[] = {1.0f};
  prod(1, rt, 1, beta, 0, nullptr, 0, nullptr, x, y, m, a, b, c, d, w, u);
  auto mul = [&](const float* v, float s, int j) {
    double r = (double(b[j]) - s) * v[j];
    if (j > 0) r += double(a[j]) * v[j - 1];
    if (j < m - 1) r += double(c[j]) * v[j + 1];
    return r;
  };
  for (int j = 0; j < m; ++j) EXPECT_NEAR(mul(y, 2.0f, j), mul(x, 1.0f, j), 1e-5) << j;
}
