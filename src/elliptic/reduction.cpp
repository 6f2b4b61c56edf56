// The cyclic reduction one product operator after another: the shifted
// tridiagonal solves and the product operators built from them, the root
// and scalar indexing, the partition of the work array and the argument
// checks, the solve blktr1 and the capacitance row of a periodic second
// index. blktri runs this solve where its side-by-side plan does not apply
// (a periodic first index, or data other than the set-up's).
#include "elliptic/blktri.hpp"

#include <algorithm>
#include <cmath>
#include <complex>

namespace qel {

namespace {

using cfloat = std::complex<float>;

// A vector of length m in single precision, real or stored as (re, im) pairs.
template <class S>
struct Vec;

template <>
struct Vec<float> {
  float* p;
  float get(int j) const { return p[j]; }
  void set(int j, float v) const { p[j] = v; }
};

template <>
struct Vec<cfloat> {
  float* p;
  cfloat get(int j) const { return {p[2 * j], p[2 * j + 1]}; }
  void set(int j, cfloat v) const {
    p[2 * j] = v.real();
    p[2 * j + 1] = v.imag();
  }
};

// (A - rt I) w = y, eliminating from the last row upward; A(1) and C(M) are
// not read. A zero pivot in the first row gives w(1) = 1 instead of a
// division. y and w may be the same vector.
template <class S>
void tri_solve(int m, const float* a, const float* b, const float* c, S rt, Vec<S> y, Vec<S> d,
               Vec<S> w) {
  S rcp = S(1.0f) / (b[m - 1] - rt);
  d.set(m - 1, a[m - 1] * rcp);
  w.set(m - 1, y.get(m - 1) * rcp);
  for (int j = m - 2; j >= 1; --j) {
    const S den = b[j] - rt - c[j] * d.get(j + 1);
    rcp = S(1.0f) / den;
    d.set(j, a[j] * rcp);
    w.set(j, (y.get(j) - c[j] * w.get(j + 1)) * rcp);
  }
  const S den = b[0] - rt - c[0] * d.get(1);
  if (den == S(0.0f)) {
    w.set(0, S(1.0f));
  } else {
    rcp = S(1.0f) / den;
    w.set(0, (y.get(0) - c[0] * w.get(1)) * rcp);
  }
  for (int j = 1; j < m; ++j) w.set(j, w.get(j) - d.get(j) * w.get(j - 1));
}

// (A - rt I) w = y for the periodic first index: A(1) sits in row 1, column
// M and C(M) in row M, column 1. Rows 1..M-2 are eliminated downward, each
// unknown expressed through its successor and through w(M); the last row
// collects what the eliminations leave (coefficient v of the unknown being
// removed). y and w may be the same vector.
template <class S>
void tri_solve_periodic(int m, const float* a, const float* b, const float* c, S rt, Vec<S> y,
                        Vec<S> d, Vec<S> u, Vec<S> w) {
  S den = b[0] - rt;
  d.set(0, c[0] / den);
  u.set(0, a[0] / den);
  S v = c[m - 1];
  S bh = b[m - 1] - rt;
  S ym = y.get(m - 1);
  w.set(0, y.get(0) / den);
  for (int j = 1; j <= m - 3; ++j) {
    den = b[j] - rt - a[j] * d.get(j - 1);
    d.set(j, c[j] / den);
    u.set(j, -a[j] * u.get(j - 1) / den);
    w.set(j, (y.get(j) - a[j] * w.get(j - 1)) / den);
    bh = bh - v * u.get(j - 1);
    ym = ym - v * w.get(j - 1);
    v = -v * d.get(j - 1);
  }
  den = b[m - 2] - rt - a[m - 2] * d.get(m - 3);
  d.set(m - 2, (c[m - 2] - a[m - 2] * u.get(m - 3)) / den);
  w.set(m - 2, (y.get(m - 2) - a[m - 2] * w.get(m - 3)) / den);
  const S amm = a[m - 1] - v * d.get(m - 3);
  bh = bh - v * u.get(m - 3);
  ym = ym - v * w.get(m - 3);
  den = bh - amm * d.get(m - 2);
  w.set(m - 1, den == S(0.0f) ? S(1.0f) : (ym - amm * w.get(m - 2)) / den);
  w.set(m - 2, w.get(m - 2) - d.get(m - 2) * w.get(m - 1));
  for (int j = m - 3; j >= 0; --j)
    w.set(j, w.get(j) - d.get(j) * w.get(j + 1) - u.get(j) * w.get(m - 1));
}

// y = (A - beta I) y in place, with the corner entries when periodic.
void tri_multiply(bool periodic, int m, const float* a, const float* b, const float* c,
                  float beta, Vec<cfloat> y) {
  const cfloat first = y.get(0);
  const cfloat last = y.get(m - 1);
  cfloat prev = first;
  cfloat out = (b[0] - beta) * first + c[0] * y.get(1);
  if (periodic) out += a[0] * last;
  y.set(0, out);
  for (int j = 1; j < m - 1; ++j) {
    const cfloat cur = y.get(j);
    y.set(j, a[j] * prev + (b[j] - beta) * cur + c[j] * y.get(j + 1));
    prev = cur;
  }
  out = a[m - 1] * prev + (b[m - 1] - beta) * last;
  if (periodic) out += c[m - 1] * first;
  y.set(m - 1, out);
}

// The real product operator. Scalars (at most nd + 1, from aa(na) down,
// negated when nd = 0) are interleaved with the solves so that neither
// grows out of range; each numerator root beta, taken largest first, is
// applied right after the solve with the nearest denominator root rt as
// (A - beta)(A - rt)^-1 y = y + (rt - beta) w, so A is never multiplied.
void prod_real(bool periodic, int nd, const float* bd, int nm1, const float* bm1, int nm2,
               const float* bm2, int na, const float* aa, const float* x, float* y, int m,
               const float* a, const float* b, const float* c, float* d, float* w, float* u) {
  for (int j = 0; j < m; ++j) w[j] = x[j];
  if (y != x)
    for (int j = 0; j < m; ++j) y[j] = x[j];
  int id = nd;
  int ia = na;
  int m1 = nm1;
  int m2 = nm2;
  bool ibr = false;
  float rt = 0.0f;
  for (;;) {
    if (ia > 0) {
      rt = aa[ia - 1];
      if (nd == 0) rt = -rt;
      --ia;
      for (int j = 0; j < m; ++j) y[j] = rt * w[j];
    }
    if (id <= 0) return;
    rt = bd[id - 1];
    --id;
    if (id == 0) ibr = true;
    if (periodic)
      tri_solve_periodic<float>(m, a, b, c, rt, {y}, {d}, {u}, {w});
    else
      tri_solve<float>(m, a, b, c, rt, {y}, {d}, {w});
    if (na > 0) continue;
    const float* list = nullptr;
    int* count = nullptr;
    if (m1 > 0 && (m2 <= 0 || std::abs(bm1[m1 - 1]) > std::abs(bm2[m2 - 1]))) {
      list = bm1;
      count = &m1;
    } else if (m2 > 0) {
      list = bm2;
      count = &m2;
    }
    if (list != nullptr) {
      const float beta = list[*count - 1];
      if (ibr || std::abs(beta - rt) <= std::abs(beta - bd[id - 1])) {
        rt = rt - beta;
        --*count;
        for (int j = 0; j < m; ++j) y[j] = y[j] + rt * w[j];
        continue;
      }
    }
    for (int j = 0; j < m; ++j) y[j] = w[j];
    ibr = true;
  }
}

// The complex product operator for complex denominator roots (pairs of
// conjugates, so the result is real): solves in place on a complex copy of
// x, each followed by one multiplication with A - beta or, once the
// numerator roots are used up, by one scalar; the real part is returned.
void prod_complex(bool periodic, int nd, const float* bd, int nm1, const float* bm1, int nm2,
                  const float* bm2, int na, const float* aa, const float* x, float* y, int m,
                  const float* a, const float* b, const float* c, float* d, float* w, float* u) {
  const Vec<cfloat> yc{w};
  const Vec<cfloat> dc{d};
  const Vec<cfloat> uc{u};
  for (int j = 0; j < m; ++j) yc.set(j, cfloat(x[j], 0.0f));
  int id = nd;
  int m1 = nm1;
  int m2 = nm2;
  int ia = na;
  for (;;) {
    if (id > 0) {
      const cfloat crt(bd[2 * (id - 1)], bd[2 * (id - 1) + 1]);
      --id;
      if (periodic)
        tri_solve_periodic<cfloat>(m, a, b, c, crt, yc, dc, uc, yc);
      else
        tri_solve<cfloat>(m, a, b, c, crt, yc, dc, yc);
    }
    if (m1 > 0 || m2 > 0) {
      float beta;
      if (m1 <= 0 || (m2 > 0 && !(std::abs(bm1[m1 - 1]) > std::abs(bm2[m2 - 1])))) {
        beta = bm2[m2 - 1];
        --m2;
      } else {
        beta = bm1[m1 - 1];
        --m1;
      }
      tri_multiply(periodic, m, a, b, c, beta, yc);
    } else if (ia > 0) {
      const float s = aa[ia - 1];
      --ia;
      for (int j = 0; j < m; ++j) yc.set(j, s * yc.get(j));
    } else if (id <= 0) {
      break;
    }
  }
  for (int j = 0; j < m; ++j) y[j] = yc.get(j).real();
}

int pow2(int e) { return 1 << e; }

}  // namespace

void prod(int nd, const float* bd, int nm1, const float* bm1, int nm2, const float* bm2, int na,
          const float* aa, const float* x, float* y, int m, const float* a, const float* b,
          const float* c, float* d, float* w, float* u) {
  prod_real(false, nd, bd, nm1, bm1, nm2, bm2, na, aa, x, y, m, a, b, c, d, w, u);
}

void prodp(int nd, const float* bd, int nm1, const float* bm1, int nm2, const float* bm2, int na,
           const float* aa, const float* x, float* y, int m, const float* a, const float* b,
           const float* c, float* d, float* w, float* u) {
  prod_real(true, nd, bd, nm1, bm1, nm2, bm2, na, aa, x, y, m, a, b, c, d, w, u);
}

void cprod(int nd, const float* bd, int nm1, const float* bm1, int nm2, const float* bm2, int na,
           const float* aa, const float* x, float* y, int m, const float* a, const float* b,
           const float* c, float* d, float* w, float* u) {
  prod_complex(false, nd, bd, nm1, bm1, nm2, bm2, na, aa, x, y, m, a, b, c, d, w, u);
}

void cprodp(int nd, const float* bd, int nm1, const float* bm1, int nm2, const float* bm2, int na,
            const float* aa, const float* x, float* y, int m, const float* a, const float* b,
            const float* c, float* d, float* w, float* u) {
  prod_complex(true, nd, bd, nm1, bm1, nm2, bm2, na, aa, x, y, m, a, b, c, d, w, u);
}

RootIndex indxa(const Cblkt& cb, int i, int ir) {
  RootIndex r;
  r.n = pow2(ir);
  r.idx = i - r.n + 1;
  if (i > cb.nm) r.n = 0;
  return r;
}

RootIndex indxc(const Cblkt& cb, int i, int ir) {
  RootIndex r;
  r.n = pow2(ir);
  r.idx = i;
  if (i + r.n - 1 > cb.nm) r.n = 0;
  return r;
}

// Row i at level ir >= 1 stands for the rows i - 2^ir + 1 .. i + 2^ir - 1
// (cut at nm) and owns that many roots; level ir is stored after level
// ir - 1, row i/2^ir at its place in the level.
RootIndex indxb(const Cblkt& cb, int i, int ir) {
  RootIndex r;
  if (ir < 0) return r;
  if (ir == 0) {
    if (i <= cb.nm) {
      r.idx = i;
      r.n = 1;
    }
    return r;
  }
  const int izh = pow2(ir);
  const int izh2 = izh + izh;
  r.idx = 2 * (i - izh2) + (ir - 1) * cb.ik + ir + (cb.ik - i) / izh + 4;
  r.n = izh2 - 1;
  if (i - izh + 1 > cb.nm)
    r.n = 0;
  else if (i + izh - 1 > cb.nm)
    r.n = cb.nm + izh - i;
  return r;
}

BlkPartition blkpart(int n, int m, int np) {
  BlkPartition p;
  p.nh = np != 0 ? n + 1 : n;
  long long ik0 = 2;
  p.k = 1;
  do {
    ik0 += ik0;
    ++p.k;
  } while (ik0 < p.nh);
  p.ik = int(2 * ik0);
  p.iwah = (p.k - 2) * p.ik + p.k + 6;
  if (np != 0) {
    p.iw1 = p.iwah;
    p.iwbh = p.iwah + n;
  } else {
    p.iw1 = p.iwah + 2 * n;
    p.iwbh = p.iw1;
  }
  p.iw2 = p.iw1 + m;
  p.iw3 = p.iw2 + m;
  p.iwd = p.iw3 + m;
  p.iww = p.iwd + m;
  p.iwu = p.iww + m;
  p.words = p.iw1 - 1 + std::max(2LL * n, 6LL * m);
  return p;
}

int blktri_check(Cblkt& cb, int iflg, int np, int n, std::span<const float> an,
                 std::span<const float> bn, std::span<const float> cn, int m,
                 std::span<const float> am, std::span<const float> bm, std::span<const float> cm,
                 int idimy, std::span<const float> y, std::span<float> w, BlkPartition& p) {
  cb.nm = n;
  if (m <= 4) return kBlkSmallM;
  if (n <= 2) return kBlkSmallN;
  if (idimy < m) return kBlkLeadingDim;
  // The sizes bound the word counts below; past them the root table no
  // longer fits an int index, so such a system is refused as too large.
  if (n > (1 << 24) || m > (1 << 26)) return kBlkShortArray;
  p = blkpart(n, m, np);
  const auto un = std::size_t(n);
  const auto um = std::size_t(m);
  const bool short_arrays =
      an.size() < un || bn.size() < un || cn.size() < un || w.size() < std::size_t(p.words) ||
      (iflg != 0 && (am.size() < um || bm.size() < um || cm.size() < um ||
                     y.size() < std::size_t(idimy) * (un - 1) + um));
  if (short_arrays) return kBlkShortArray;

  cb.npp = np;
  cb.k = p.k;
  cb.ik = p.ik;
  if (np == 0) cb.nm = n - 1;
  w[0] = float(p.words);
  return 0;
}

// Reduction. Row I at level r carries the equation
//   alpha_I X(I - 2^r) + B_I X(I) + gamma_I X(I + 2^r) = Y_I,
// where B_I is the ratio of the polynomial of rows I - 2^r + 1 .. I + 2^r - 1
// to those of its two halves, and alpha_I (gamma_I) the product of the AN
// (CN) of 2^r rows over the polynomial of the left (right) half. Level r + 1
// keeps the rows that are multiples of 2^(r+1) and removes their neighbours:
//   Y_I <- Y_I - alpha_I B^-1 Y(I - 2^r) - gamma_I B^-1 Y(I + 2^r).
// Back substitution then recovers X(I) = B_I^-1 (Y_I - alpha_I X - gamma_I X)
// level by level. Each operator is one call of the product routine with the
// roots the table holds for its polynomials.
namespace {

// The operators of the solve on the columns of Y and the six work vectors.
struct Operators {
  const Cblkt& cb;
  int m;
  const float *an, *cn, *am, *bm, *cm;
  int idimy;
  float* y;
  const float* b;
  float* work;
  Product prdct;

  float* col(int j) const { return y + std::size_t(idimy) * std::size_t(j - 1); }
  const float* roots(RootIndex r) const { return r.n > 0 ? b + (r.idx - 1) : b; }
  // out = (scalars) * prod(A - numerators) / prod(A - denominators) * in.
  void apply(RootIndex den, RootIndex num1, RootIndex num2, const float* sc, RootIndex nsc,
             const float* in, float* out) const {
    prdct(den.n, roots(den), num1.n, roots(num1), num2.n, roots(num2), nsc.n,
          nsc.n > 0 ? sc + (nsc.idx - 1) : sc, in, out, m, am, bm, cm, work + 3 * m,
          work + 4 * m, work + 5 * m);
  }
  // B_I^-1 of row i at level ir.
  void inverse(int i, int ir, const float* in, float* out) const {
    const int i1 = pow2(ir) / 2;
    apply(indxb(cb, i, ir), indxb(cb, i - i1, ir - 1), indxb(cb, i + i1, ir - 1), nullptr, {},
          in, out);
  }
  // -alpha_i v at level ir: the AN of 2^ir rows over the left half.
  void left(int i, int ir, const float* in, float* out) const {
    apply(indxb(cb, i - pow2(ir) / 2, ir - 1), {}, {}, an, indxa(cb, i, ir), in, out);
  }
  // -gamma_i v at level ir: the CN of 2^ir rows over the right half.
  void right(int i, int ir, const float* in, float* out) const {
    apply(indxb(cb, i + pow2(ir) / 2, ir - 1), {}, {}, cn, indxc(cb, i, ir), in, out);
  }
};

}  // namespace

void blktr1(const Cblkt& cb, int m, const float* an, const float* cn, const float* am,
            const float* bm, const float* cm, int idimy, float* y, const float* b, float* work,
            Product prdct, Product cprdct) {
  const Operators op{cb, m, an, cn, am, bm, cm, idimy, y, b, work, prdct};
  float* const w1 = work;
  float* const w2 = work + m;
  float* const w3 = work + 2 * m;
  const int nm = cb.nm;
  const int k = cb.k;
  const int iff = pow2(k);
  auto col = [&](int j) { return op.col(j); };
  auto inverse = [&](int i, int ir, const float* in, float* out) { op.inverse(i, ir, in, out); };
  auto left = [&](int i, int ir, const float* in, float* out) { op.left(i, ir, in, out); };
  auto right = [&](int i, int ir, const float* in, float* out) { op.right(i, ir, in, out); };

  for (int l = 1; l <= k - 1; ++l) {
    const int ir = l - 1;
    const int i2 = pow2(ir);
    const int i4 = i2 + i2;
    inverse(i2, ir, col(i2), w3);
    for (int i = i4; i <= nm && i < iff; i += i4) {
      left(i, ir, w3, w1);
      if (i + i2 > nm) {
        std::fill(w3, w3 + m, 0.0f);
        std::fill(w2, w2 + m, 0.0f);
      } else {
        inverse(i + i2, ir, col(i + i2), w3);
        right(i, ir, w3, w2);
      }
      float* yi = col(i);
      for (int j = 0; j < m; ++j) yi[j] = w1[j] + w2[j] + yi[j];
    }
  }

  if (cb.npp == 0)
    blktr1_capacitance(cb, m, an, cn, am, bm, cm, idimy, y, b, work, prdct, cprdct);

  for (int l = k; l >= 1; --l) {
    const int ir = l - 1;
    const int i2 = pow2(ir);
    const int i4 = i2 + i2;
    for (int i = i2; i <= iff - i2 && i <= nm; i += i4) {
      if (i <= i2)
        std::fill(w1, w1 + m, 0.0f);
      else
        left(i, ir, col(i - i2), w1);
      if (i + i2 > nm)
        std::fill(w2, w2 + m, 0.0f);
      else
        right(i, ir, col(i + i2), w2);
      const float* yi = col(i);
      for (int j = 0; j < m; ++j) w1[j] = yi[j] + w1[j] + w2[j];
      inverse(i, ir, w1, col(i));
    }
  }
}


// Periodic J: the row N = nm + 1 left out of the reduction, eliminated
// between the reduction and the back substitution.
void blktr1_capacitance(const Cblkt& cb, int m, const float* an, const float* cn,
                        const float* am, const float* bm, const float* cm, int idimy, float* y,
                        const float* b, float* work, Product prdct, Product cprdct) {
  const Operators op{cb, m, an, cn, am, bm, cm, idimy, y, b, work, prdct};
  float* const w1 = work;
  float* const w2 = work + m;
  float* const w3 = work + 2 * m;
  float* const wd = work + 3 * m;
  float* const ww = work + 4 * m;
  float* const wu = work + 5 * m;
  const int nm = cb.nm;
  const int k = cb.k;
  const int iff = pow2(k);
  auto col = [&](int j) { return op.col(j); };
  auto roots = [&](RootIndex r) { return op.roots(r); };
  auto inverse = [&](int i, int ir, const float* in, float* out) { op.inverse(i, ir, in, out); };
  auto left = [&](int i, int ir, const float* in, float* out) { op.left(i, ir, in, out); };
  auto right = [&](int i, int ir, const float* in, float* out) { op.right(i, ir, in, out); };
  // Periodic J: rows 1..nm were reduced as a closed system T; row N = nm+1
  // couples to rows 1 and nm. Its Schur complement is the ratio of the
  // periodic polynomial to that of rows 1..nm, so
  //   X(N) = P_closed(A) P_periodic(A)^-1 (Y_N - CN(N) X'(1) - AN(N) X'(nm)),
  // X' = T^-1 Y. Only X'(1) and X'(nm) are needed: they follow from the top
  // row along the chains of rows that lead down to 1 and to nm.
  const int top = iff / 2;
  inverse(top, k - 1, col(top), w1);
  std::copy(w1, w1 + m, w2);
  // Rows top/2, top/4, .., 1: X(i) = B_i^-1 (Y_i - gamma_i X(2i)).
  for (int l = k - 1; l >= 1; --l) {
    const int i = pow2(l - 1);
    right(i, l - 1, w1, w3);
    const float* yi = col(i);
    for (int j = 0; j < m; ++j) w3[j] += yi[j];
    inverse(i, l - 1, w3, w1);
  }
  // Rows top + the lower bits of nm, one at a time: each row q on this
  // chain sits at the level of its lowest bit, its left neighbour is the
  // previous row and its right neighbour lies past nm.
  for (int r = k - 2, q = top; r >= 0; --r) {
    if (((nm >> r) & 1) == 0) continue;
    q += pow2(r);
    left(q, r, w2, w3);
    const float* yq = col(q);
    for (int j = 0; j < m; ++j) w3[j] += yq[j];
    inverse(q, r, w3, w2);
  }
  float* yn = col(nm + 1);
  for (int j = 0; j < m; ++j) yn[j] = yn[j] - cn[nm] * w1[j] - an[nm] * w2[j];
  // The nm + 1 roots of the periodic polynomial follow the top level.
  const RootIndex periodic{indxb(cb, iff, k - 1).idx, nm + 1};
  const RootIndex closed = indxb(cb, top, k - 1);
  if (cb.ncmplx == 1)
    cprdct(periodic.n, roots(periodic), closed.n, roots(closed), 0, b, 0, an, yn, yn, m, am,
           bm, cm, w1, w3, ww);
  else
    prdct(periodic.n, roots(periodic), closed.n, roots(closed), 0, b, 0, an, yn, yn, m, am, bm,
          cm, wd, ww, wu);
  // X(N) moves to the right-hand sides of rows 1 and nm; the change of
  // their level-0 right-hand sides is carried up through the reduced rows
  // it reached: 1 -> 2 -> 4 -> .. -> top, and nm -> .. -> top.
  for (int j = 0; j < m; ++j) {
    w1[j] = an[0] * yn[j];
    w2[j] = cn[nm - 1] * yn[j];
  }
  float* y1 = col(1);
  float* ynm = col(nm);
  for (int j = 0; j < m; ++j) {
    y1[j] -= w1[j];
    ynm[j] -= w2[j];
  }
  for (int l = 1; l <= k - 1; ++l) {
    const int i = pow2(l);
    inverse(i / 2, l - 1, w1, w1);
    left(i, l - 1, w1, w1);
    float* yi = col(i);
    for (int j = 0; j < m; ++j) yi[j] -= w1[j];
  }
  for (int q = nm; q != top;) {
    int r = 0;
    while (((q >> r) & 1) == 0) ++r;
    const int p = q - pow2(r);
    inverse(q, r, w2, w2);
    right(p, r, w2, w2);
    float* yp = col(p);
    for (int j = 0; j < m; ++j) yp[j] -= w2[j];
    q = p;
  }
}

}  // namespace qel
