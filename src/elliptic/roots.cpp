// Roots of the polynomials of the cyclic reduction. Row I at level L stands
// for the rows JS = I - 2^L + 1 .. I + 2^L - 1 of the second index; its
// polynomial in A is the determinant of that section of the scalar
// tridiagonal matrix (AN, A + BN, CN), whose roots are minus the eigenvalues
// of the symmetric matrix with diagonal BN and off-diagonal sqrt(AN(J) CN(J-1)).
#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "elliptic/blktri.hpp"

namespace qel {

namespace {

using cfloat = std::complex<float>;

// Unit roundoff of single precision, 2^-24.
constexpr float kRounding = 5.9604645e-8f;

// The real type of a real or complex argument.
template <class S>
struct RealOf {
  using type = S;
};
template <class T>
struct RealOf<std::complex<T>> {
  using type = T;
};

// The three root functions of the periodic polynomial, for a real or a
// complex argument in single or double precision. With Q(x) = prod(x - bh(j)):
//   psgf  = 1 -+ (prod c + prod a) / Q,  the periodic polynomial over Q;
//   ppspf = Q'/Q;   ppsgf = (Q'/Q)' = -sum 1/(x - bh(j))^2.
template <class S>
S psgf_t(S x, int iz, const float* c, const float* a, const float* bh) {
  using R = typename RealOf<S>::type;
  S f(1.0f);
  S h(1.0f);
  for (int j = 0; j < iz; ++j) {
    const S dd = R(1) / (x - R(bh[j]));
    f = f * (R(c[j]) * dd);
    h = h * (R(a[j]) * dd);
  }
  return iz % 2 != 0 ? R(1) + (f + h) : R(1) - (f + h);
}

template <class S>
S ppspf_t(S x, int iz, const float* bh) {
  using R = typename RealOf<S>::type;
  S sum(0.0f);
  for (int j = 0; j < iz; ++j) sum += R(1) / (x - R(bh[j]));
  return sum;
}

template <class S>
S ppsgf_t(S x, int iz, const float* bh) {
  using R = typename RealOf<S>::type;
  S sum(0.0f);
  for (int j = 0; j < iz; ++j) sum -= R(1) / ((x - R(bh[j])) * (x - R(bh[j])));
  return sum;
}

// sqrt(p^2 + 1) without overflow of p^2.
float hyp1(float p) {
  const float q = std::abs(p);
  if (q <= 1.0f) return std::sqrt(p * p + 1.0f);
  const float t = 1.0f / q;
  return q * std::sqrt(1.0f + t * t);
}

// Sign of a product of n factors without forming it: -1, 0 or 1.
int product_sign(int n, const float* v) {
  int s = 1;
  for (int j = 0; j < n; ++j) {
    if (v[j] == 0.0f) return 0;
    if (v[j] < 0.0f) s = -s;
  }
  return s;
}

// The ascending eigenvalues lam of the ring unrolled to nb rows (row j
// of it is row ((j-1) mod nmp) + 1) sharpened to single-precision rounding:
// near the ends of the spectrum the roots of the periodic polynomial lie
// closer together than the split tolerance of tevls. The i-th eigenvalue is
// bracketed and bisected with Sturm counts (negative pivots of T - x) in
// double.
void sharpen(int nb, int nmp, const float* an, const float* bn, const float* cn, float* lam) {
  const int nm = nmp - 1;
  auto diag = [&](int j) { return -double(bn[j % nmp]); };
  auto off2 = [&](int j) { return double(an[j % nmp]) * double(cn[(j + nm) % nmp]); };
  double norm = 0.0;
  for (int j = 0; j < nb; ++j)
    norm = std::max(norm, std::abs(diag(j)) + 2.0 * std::sqrt(std::abs(off2(j))));
  auto below = [&](double x) {
    int count = 0;
    double q = 1.0;
    for (int j = 0; j < nb; ++j) {
      q = diag(j) - x - (j > 0 ? off2(j) / q : 0.0);
      if (q == 0.0) q = -1e-300;
      if (q < 0.0) ++count;
    }
    return count;
  };
  const double step = 1e-4 * norm + 1e-30;
  for (int t = 0; t < nb; ++t) {
    double lo = double(lam[t]) - step;
    double hi = double(lam[t]) + step;
    for (int g = 0; g < 60 && below(lo) > t; ++g) lo -= step * double(1 << std::min(g, 20));
    for (int g = 0; g < 60 && below(hi) <= t; ++g) hi += step * double(1 << std::min(g, 20));
    for (int it = 0; it < 60 && hi - lo > 1e-12 * norm; ++it) {
      const double mid = 0.5 * (lo + hi);
      if (below(mid) > t)
        hi = mid;
      else
        lo = mid;
    }
    lam[t] = float(0.5 * (lo + hi));
  }
}

}  // namespace

void store(Value& val, float x) { val.vstore = x; }

// Halve eps until 1 + eps, rounded to single through memory, is 1.
float epmach(Value& val) {
  float eps = 1.0f;
  do {
    eps = eps / 2.0f;
    store(val, 1.0f + eps);
  } while (val.vstore > 1.0f);
  return 100.0f * eps;
}

float psgf(float x, int iz, const float* c, const float* a, const float* bh) {
  return psgf_t<float>(x, iz, c, a, bh);
}

float ppspf(float x, int iz, const float*, const float*, const float* bh) {
  return ppspf_t<float>(x, iz, bh);
}

float ppsgf(float x, int iz, const float*, const float*, const float* bh) {
  return ppsgf_t<float>(x, iz, bh);
}

// Bisection for a sign change of sgn*f from negative (left) to positive.
float bsrh(const Cblkt& cb, float xll, float xrr, int iz, const float* c, const float* a,
           const float* bh, RootFunction f, float sgn) {
  float xl = xll;
  float xr = xrr;
  float dx = 0.5f * std::abs(xr - xl);
  for (;;) {
    const float x = 0.5f * (xl + xr);
    const float v = sgn * f(x, iz, c, a, bh);
    if (v == 0.0f) return x;
    if (v < 0.0f) xl = x;
    if (v > 0.0f) xr = x;
    dx = 0.5f * dx;
    // A NaN of f moves neither end: the halving still ends the search.
    if (dx <= cb.cnv || !(v == v)) return 0.5f * (xl + xr);
  }
}

// Rational QL: the QL iteration carried out on the diagonal and the squares
// of the off-diagonal, so no square root is taken inside a sweep. Each
// eigenvalue is split off when its off-diagonal square falls below
// (eps * (|d| + |e|))^2, after shifts towards the eigenvalue of the leading
// 2 x 2 block nearest to d(l).
int tevls(const Cblkt& cb, int n, float* d, float* e2) {
  if (n == 1) return 0;
  // From here on e2[i] is the square of the coupling of rows i and i+1.
  for (int i = 1; i < n; ++i) e2[i - 1] = e2[i] * e2[i];
  e2[n - 1] = 0.0f;
  float f = 0.0f;
  float b = 0.0f;
  float c = 0.0f;
  // A pivot that vanishes exactly (the shift hit an eigenvalue of the
  // leading block) is replaced by the rounding level of the entries seen so
  // far; eps, the split tolerance, is 100 such units.
  float tiny = 0.0f;
  for (int l = 0; l < n; ++l) {
    int iter = 0;
    const float size = std::abs(d[l]) + std::sqrt(e2[l]);
    float h = size * cb.eps;
    if (h > b) {
      b = h;
      c = b * b;
    }
    tiny = std::max(tiny, size * kRounding);
    int m = l;
    while (e2[m] > c) ++m;
    if (m > l) {
      for (;;) {
        if (iter == 30) return l + 1;
        ++iter;
        // Shift by the eigenvalue of the leading 2 x 2 block nearest d(l).
        float s = std::sqrt(e2[l]);
        float g = d[l];
        float p = (d[l + 1] - g) / (2.0f * s);
        float r = hyp1(p);
        d[l] = s / (p + std::copysign(r, p));
        h = g - d[l];
        for (int i = l + 1; i < n; ++i) d[i] -= h;
        f += h;
        // One QL sweep from row m up to row l in rational form: s and the
        // ratio p / r are the squared sine and cosine of each rotation.
        g = d[m];
        if (g == 0.0f) g = tiny;
        h = g;
        s = 0.0f;
        for (int i = m - 1; i >= l; --i) {
          p = g * h;
          r = p + e2[i];
          e2[i + 1] = s * r;
          s = e2[i] / r;
          d[i + 1] = h + s * (h + d[i]);
          g = d[i] - e2[i] / g;
          if (g == 0.0f) g = tiny;
          h = g * p / r;
        }
        e2[l] = s * g;
        d[l] = h;
        // e2(l) here still lacks the factor h; test before forming it so
        // that a tiny h cannot underflow the product.
        if (h == 0.0f) break;
        if (std::abs(e2[l]) <= std::abs(c / h)) break;
        e2[l] = h * e2[l];
        if (e2[l] == 0.0f) break;
      }
    }
    // Insert the eigenvalue into the ascending list d(1..l).
    const float p = d[l] + f;
    int i = l;
    for (; i > 0 && p < d[i - 1]; --i) d[i] = d[i - 1];
    d[i] = p;
  }
  if (std::abs(d[n - 1]) < std::abs(d[0])) std::reverse(d, d + n);
  return 0;
}

namespace {

using cdouble = std::complex<double>;

// The roots of the periodic polynomial as they are found, (re, im) pairs in
// out (2n words), with the slots and starting points of the complex pairs.
struct PeriodicRoots {
  std::span<float> out;
  int n = 0;
  int found = 0;
  std::vector<int> pairs;      // first slot of each complex pair
  std::vector<cdouble> guess;  // its root in the upper half plane

  void put(cfloat z) {
    if (found < n) {
      out[std::size_t(2 * found)] = z.real();
      out[std::size_t(2 * found + 1)] = z.imag();
    }
    ++found;
  }
  cdouble at(int s) const { return {out[std::size_t(2 * s)], out[std::size_t(2 * s + 1)]}; }
};

// The sign of kappa = (-1)^(n+1) (prod a + prod c), from the signs of the
// products (0 when both vanish).
int kappa_sign(int n, const float* a, const float* c) {
  const int sa = product_sign(n, a);
  const int sc = product_sign(n, c);
  const int sum_sign = sa != 0 ? sa : sc;
  return (n % 2 != 0) ? sum_sign : -sum_sign;
}

// Bisection of f on (from, to) for its sign change, f having the sign sfrom
// next to from; down to adjacent doubles.
template <class F>
double bisect(F f, double from, double to, double sfrom) {
  for (int it = 0; it < 200; ++it) {
    const double mid = 0.5 * (from + to);
    if (mid == from || mid == to) break;
    const double v = f(mid);
    if (v == 0.0) return mid;
    if ((v > 0.0) == (sfrom > 0.0))
      from = mid;
    else
      to = mid;
  }
  return 0.5 * (from + to);
}

// The real roots interval by interval, in ascending order, and a start for
// each complex pair. Interval j (0: left of bh(1), n: right of bh(n)) holds
// roots when Q, of sign (-1)^(n-j) there, is opposite to kappa. The search
// runs in double: where the roots crowd, single-precision arguments and the
// rounding of psgf cannot tell a double root from a close pair.
void bracket_roots(const Cblkt& cb, int ksign, const float* a, const float* c, const float* bh,
                   PeriodicRoots& r) {
  const int n = r.n;
  auto holds_roots = [&](int j) { return ((n - j) % 2 == 0 ? 1 : -1) == -ksign; };
  // |P| > 0 once |x - bh| exceeds |kappa|^(1/n) <= 2 max(|a|, |c|).
  float reach = 0.0f;
  for (int j = 0; j < n; ++j) reach = std::max(reach, std::max(std::abs(a[j]), std::abs(c[j])));
  reach = 2.0f * reach + cb.cnv;
  auto p_real = [&](double x) { return psgf_t<cdouble>(x, n, c, a, bh).real(); };
  // psgf tends to 1 far from the roots of Q.
  if (holds_roots(0)) r.put(float(bisect(p_real, double(bh[0]) - double(reach), bh[0], 1.0)));
  for (int j = 1; j < n; ++j) {
    if (!holds_roots(j)) continue;
    const double lo = bh[j - 1];
    const double hi = bh[j];
    // Q'/Q falls from +inf to -inf between the two roots of Q.
    const double xm = bisect([&](double x) { return ppspf_t<cdouble>(x, n, bh).real(); }, lo, hi, 1.0);
    const double v = p_real(xm);
    if (v == 0.0) {
      r.put(float(xm));
      r.put(float(xm));
    } else if (v > 0.0) {
      r.put(float(bisect(p_real, lo, xm, -1.0)));
      r.put(float(bisect(p_real, xm, hi, 1.0)));
    } else {
      // Complex pair: start from the quadratic model of P about the
      // extremum, (x - xm)^2 = -2 psgf / (Q'/Q)'; refined by refine_pairs.
      const double d2 = ppsgf_t<double>(xm, n, bh);
      r.pairs.push_back(r.found);
      r.guess.emplace_back(xm, std::sqrt(2.0 * v / d2));
      r.put(cfloat(float(xm), 0.0f));  // slots kept for the pair
      r.put(cfloat(float(xm), 0.0f));
    }
  }
  if (holds_roots(n))
    r.put(float(bisect(p_real, double(bh[n - 1]) + double(reach), bh[n - 1], 1.0)));
}

// The pairs by simultaneous Newton steps in which every other root, the
// real ones, the other pairs and the own conjugate, is divided out
// (P'/P = (Q'/Q) / psgf):
//   dz = -1 / (P'/P - sum over the other roots of 1/(z - r)).
// Dividing out the pairs still to be refined, not only those found before,
// keeps each iterate off the roots the others converge to; a pair refined
// alone can land on a root of a neighbouring interval and leave its own
// pair missing. False unless they converge, distinct from each other and
// from the real roots.
bool refine_pairs(const Cblkt& cb, const float* a, const float* c, const float* bh,
                  PeriodicRoots& r) {
  const int n = r.n;
  const std::size_t np = r.pairs.size();
  std::vector<cdouble>& guess = r.guess;
  std::vector<char> is_pair(std::size_t(n), 0);
  for (int s : r.pairs) is_pair[std::size_t(s)] = is_pair[std::size_t(s + 1)] = 1;
  bool converged = false;
  for (int it = 0; it < 100 && !converged; ++it) {
    converged = true;
    for (std::size_t q = 0; q < np; ++q) {
      const cdouble z = guess[q];
      const cdouble p0 = psgf_t<cdouble>(z, n, c, a, bh);
      if (p0 == 0.0) continue;
      cdouble d = ppspf_t<cdouble>(z, n, bh) / p0 - 1.0 / (z - std::conj(z));
      for (int s = 0; s < n; ++s)
        if (!is_pair[std::size_t(s)]) d -= 1.0 / (z - r.at(s));
      for (std::size_t t = 0; t < np; ++t)
        if (t != q) d -= 1.0 / (z - guess[t]) + 1.0 / (z - std::conj(guess[t]));
      const cdouble dz = -1.0 / d;
      guess[q] = z + dz;
      if (!(std::abs(dz) <= 1e-3 * double(cb.cnv))) converged = false;
    }
  }
  bool repeated = false;
  for (std::size_t q = 0; q < np; ++q) {
    const cdouble z = guess[q];
    for (int s = 0; s < n; ++s)
      if (!is_pair[std::size_t(s)]) repeated = repeated || std::abs(z - r.at(s)) <= double(cb.cnv);
    for (std::size_t t = 0; t < q; ++t) repeated = repeated || std::abs(z - guess[t]) <= double(cb.cnv);
  }
  if (!converged || repeated) return false;
  for (std::size_t q = 0; q < np; ++q) {
    const int s = r.pairs[q];
    const float re = float(guess[q].real());
    const float im = float(std::abs(guess[q].imag()));
    r.out[std::size_t(2 * s)] = r.out[std::size_t(2 * s + 2)] = re;
    r.out[std::size_t(2 * s + 1)] = im;
    r.out[std::size_t(2 * s + 3)] = -im;
  }
  return true;
}

// The roots came out in ascending real part; like the other root lists,
// they end with the one of largest size.
void largest_last(int n, std::span<float> out) {
  if (std::abs(cfloat(out[2 * std::size_t(n - 1)], out[2 * std::size_t(n - 1) + 1])) <
      std::abs(cfloat(out[0], out[1]))) {
    for (int i = 0, j = n - 1; i < j; ++i, --j) {
      std::swap(out[2 * std::size_t(i)], out[2 * std::size_t(j)]);
      std::swap(out[2 * std::size_t(i) + 1], out[2 * std::size_t(j) + 1]);
    }
  }
}

}  // namespace

// Periodic polynomial P(x) = Q(x) + kappa of order n, kappa =
// (-1)^(n+1) (prod a + prod c), Q the closed part with the simple real roots
// bh. Between consecutive roots of Q, Q has one extremum, at the zero of
// Q'/Q; P has two roots there (real, double or a complex pair) when Q and
// kappa have opposite signs on that interval and none otherwise; outside
// [bh(1), bh(n)] it has at most one root on each side. The signs alternate,
// so kappa's sign tells which intervals hold roots.
void ppadd(Cblkt& cb, int n, int& ierror, const float* a, const float* c, float* bp, float* bh) {
  if (bp[n - 1] == bp[0]) {
    ierror = kBlkEigen;
    return;
  }
  if (bp[n - 1] < bp[0])
    for (int j = 0; j < n; ++j) bh[j] = bp[n - 1 - j];
  else
    for (int j = 0; j < n; ++j) bh[j] = bp[j];
  cb.ncmplx = 0;
  const int ksign = kappa_sign(n, a, c);
  PeriodicRoots r;
  r.out = std::span<float>(bp, std::size_t(2 * n));
  r.n = n;
  if (ksign == 0) {
    // Neither wrap-around product: the periodic polynomial is Q itself.
    for (int j = 0; j < n; ++j) r.put(bh[j]);
  } else {
    bracket_roots(cb, ksign, a, c, bh, r);
    if (!r.pairs.empty()) cb.ncmplx = 1;
    if (!r.pairs.empty() && r.found == n && !refine_pairs(cb, a, c, bh, r)) {
      ierror = kBlkEigen;
      return;
    }
  }
  if (r.found != n) {
    ierror = kBlkEigen;
    return;
  }
  largest_last(n, r.out);
  if (cb.ncmplx == 0)
    for (int j = 0; j < n; ++j) bp[j] = r.out[2 * std::size_t(j)];
}

// The root table: level 0 holds -BN(J); level L >= 1 the roots of every row
// I = 2^L, 2 2^L, .. from the eigenvalues of its section of rows.
void compb(Cblkt& cb, Value& val, int, int& ierror, const float* an, const float* bn,
           const float* cn, float* b, float* ah, float* bh) {
  cb.eps = epmach(val);
  const int nm = cb.nm;
  // Off-diagonal of the symmetrised matrix, kept in B(2..nm) for the levels.
  float bnorm = std::abs(bn[0]);
  for (int j = 2; j <= nm; ++j) {
    const float arg = an[j - 1] * cn[j - 2];
    if (arg < 0.0f) {
      ierror = kBlkComplexRoots;
      return;
    }
    bnorm = std::max(bnorm, std::abs(bn[j - 1]));
    b[j - 1] = std::sqrt(arg);
    if (an[j - 1] < 0.0f) b[j - 1] = -b[j - 1];
  }
  cb.cnv = cb.eps * bnorm;
  const int iff = 1 << cb.k;
  for (int l = 1; l <= cb.k - 1; ++l) {
    const int i4 = 1 << l;
    const int ipl = i4 - 1;
    for (int i = i4; i <= iff - i4; i += i4) {
      const RootIndex r = indxb(cb, i, l);
      if (r.n <= 0) break;
      const int js = i - ipl;
      for (int mm = 1; mm <= r.n; ++mm) {
        bh[mm - 1] = bn[js + mm - 2];
        ah[mm - 1] = b[js + mm - 2];
      }
      if (tevls(cb, r.n, bh, ah) != 0) {
        ierror = kBlkEigen;
        return;
      }
      for (int mm = 1; mm <= r.n; ++mm) b[r.idx + mm - 2] = -bh[mm - 1];
    }
  }
  for (int j = 1; j <= nm; ++j) b[j - 1] = -bn[j - 1];
  if (cb.npp != 0) return;

  // Periodic J. Unrolled once round the ring, rows 1..N, 1..N-1 form a closed
  // section of 2N - 1 rows whose polynomial is P_closed(rows 1..N-1) times
  // Q, the closed part of the periodic polynomial. Its eigenvalues, less the
  // roots of rows 1..N-1 (those of the top row), are the roots of Q.
  const int nmp = nm + 1;
  const int nb = nm + nmp;
  for (int j = 1; j <= nb; ++j) {
    const int l1 = (j - 1) % nmp + 1;
    const int l2 = (j + nm - 1) % nmp + 1;
    const float arg = an[l1 - 1] * cn[l2 - 1];
    if (arg < 0.0f) {
      ierror = kBlkComplexRoots;
      return;
    }
    bh[j - 1] = std::sqrt(arg);
    if (an[l1 - 1] > 0.0f) bh[j - 1] = -bh[j - 1];
    ah[j - 1] = -bn[l1 - 1];
  }
  if (tevls(cb, nb, ah, bh) != 0) {
    ierror = kBlkEigen;
    return;
  }
  // Drop from the ascending eigenvalues the one nearest to each root of the
  // top row, taken in ascending order; the rest close up in place.
  if (ah[nb - 1] < ah[0]) std::reverse(ah, ah + nb);
  sharpen(nb, nmp, an, bn, cn, ah);
  const RootIndex top = indxb(cb, iff / 2, cb.k - 1);
  const float* rt = b + (top.idx - 1);
  const bool rising = top.n < 2 || rt[top.n - 1] >= rt[0];
  int kept = 0;
  int next = 0;
  for (int t = 0; t < top.n; ++t) {
    const float r = rt[rising ? t : top.n - 1 - t];
    if (next >= nb) {
      ierror = kBlkEigen;
      return;
    }
    while (next + 1 < nb && std::abs(ah[next + 1] - r) < std::abs(ah[next] - r))
      ah[kept++] = ah[next++];
    ++next;
  }
  while (next < nb) ah[kept++] = ah[next++];
  if (kept != nmp) {
    ierror = kBlkEigen;
    return;
  }
  ppadd(cb, nmp, ierror, an, cn, ah, bh);
}

}  // namespace qel
