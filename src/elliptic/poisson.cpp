#include <cmath>
#include <cstdint>
#include <span>

#include "elliptic/blktri.hpp"
#include "elliptic/direct.hpp"
#include "elliptic/elliptic.hpp"

namespace qel {

namespace {

// Right-hand side at an interior point: r zeta rho (axisymmetric) or zeta rho.
double rhs(const State& s, const Field& zeta, const Array1<NR>& r, const Array1<NR>& rho, int i,
           int j) {
  if (s.par.AXI != 0.0) return (zeta(i, j) * r(i)) * rho(j);
  return zeta(i, j) * rho(j);
}

// The Poisson system of the 89 x 89 interior as the solver takes it: closed
// in both indices, so am(1), cm(89), an(1) and cn(89) are not read.
int call_blktri(State& s, int iflg) {
  Blks& k = s.blks;
  auto v = [](const Array1<NI, float>& a) { return std::span<const float>(a.data(), a.size()); };
  return blktri(s.cblkt, s.value, iflg, 1, NI, v(k.an), v(k.bn), v(k.cn), 1, NI, v(k.am),
                v(k.bm), v(k.cm), NI, std::span<float>(k.yblk.data(), k.yblk.size()),
                std::span<float>(k.wblk), k.plan);
}

// The number of Jacobi iterations: PIT truncated toward zero to a 64-bit
// count, saturating; NaN gives 0.
std::int64_t jacobi_iterations(double pit) {
  if (std::isnan(pit)) return 0;
  const double t = std::trunc(pit);
  if (t >= 9.2e18) return INT64_MAX;
  if (t <= -9.2e18) return INT64_MIN;
  return static_cast<std::int64_t>(t);
}

// One Jacobi half-sweep: out = (f - off-diagonal terms of in) / diagonal at
// every interior point; the boundary of out is not written.
void jacobi(const Blks& k, const Field& f, const Field& in, Field& out) {
  for (int j = 2; j <= NR - 1; ++j) {
    const int jj = j - 1;
    const double an = k.an(jj);
    const double cn = k.cn(jj);
    for (int i = 2; i <= NR - 1; ++i) {
      const int ii = i - 1;
      const double sum = (an * in(i, j - 1) + cn * in(i, j + 1)) +
                         (double(k.am(ii)) * in(i - 1, j) + double(k.cm(ii)) * in(i + 1, j));
      const float diag = k.bm(ii) + k.bn(jj);
      out(i, j) = (f(i, j) - sum) / double(diag);
    }
  }
}

}  // namespace

// Central differences on the stretched grid of
//   psi_rr - (1/r) psi_r + rho d/dz((1/rho) psi_z),
// the (1/r) term only in axisymmetric geometry. Along r,
//   psi_rr ~ 2/(r+ - r-) [ (psi+ - psi)/(r+ - r) - (psi - psi-)/(r - r-) ],
// and -(1/r) psi_r moves t = 1/(r (r+ - r-)) from cm to am; the diagonal
// keeps the pure second difference. Along z the rho'/rho term moves g
// between an and cn in the same way.
void prepare(State& s) {
  const Basic& g = s.basic;
  Blks& k = s.blks;
  for (int ii = 1; ii <= NI; ++ii) {
    const int i = ii + 1;
    const double d = 0.25 * g.mr(i);
    k.am(ii) = float(d * g.mrh(i - 1));
    k.cm(ii) = float(d * g.mrh(i));
    k.bm(ii) = -(k.am(ii) + k.cm(ii));
  }
  for (int jj = 1; jj <= NI; ++jj) {
    const int j = jj + 1;
    const double c = 0.25 * g.mz(j);
    const float w = float(c * g.mzh(j - 1));
    const float e = float(c * g.mzh(j));
    const double gr = (c * c) * (g.rho(j + 1) - g.rho(j - 1)) / g.rho(j);
    k.an(jj) = float(double(w) + gr);
    k.cn(jj) = float(double(e) - gr);
    k.bn(jj) = -(w + e);
  }
  if (s.par.AXI != 0.0) {
    for (int ii = 1; ii <= NI; ++ii) {
      const int i = ii + 1;
      const double t = (0.25 * g.mr(i)) / g.r(i);
      k.am(ii) = float(double(k.am(ii)) + t);
      k.cm(ii) = float(double(k.cm(ii)) - t);
    }
  }
}

// The same coefficients kept in double precision: the plane second
// differences d mrh, the axisymmetric shift t between am and cm, and the
// rho'/rho shift g between an and cn; the diagonals are the plane sums.
void poisson_coefficients(const State& s, PoissonCoefficients& c) {
  const Basic& g = s.basic;
  for (int ii = 1; ii <= NI; ++ii) {
    const int i = ii + 1;
    const double d = 0.25 * g.mr(i);
    const double t = s.par.AXI != 0.0 ? d / g.r(i) : 0.0;
    const double west = d * g.mrh(i - 1), east = d * g.mrh(i);
    c.am(ii) = west + t;
    c.cm(ii) = east - t;
    c.bm(ii) = -(west + east);
  }
  for (int jj = 1; jj <= NI; ++jj) {
    const int j = jj + 1;
    const double q = 0.25 * g.mz(j);
    const double south = q * g.mzh(j - 1), north = q * g.mzh(j);
    const double gr = (q * q) * (g.rho(j + 1) - g.rho(j - 1)) / g.rho(j);
    c.an(jj) = south + gr;
    c.cn(jj) = north - gr;
    c.bn(jj) = -(south + north);
  }
}

int poisson_setup(State& s) { return call_blktri(s, 0); }

const char* solver_error_text(int code) {
  switch (code) {
    case 0:
      return "no error";
    case kBlkSmallM:
      return "fewer than five unknowns along the first index (M <= 4)";
    case kBlkSmallN:
      return "fewer than three unknowns along the second index (N <= 2)";
    case kBlkLeadingDim:
      return "the leading dimension of the right-hand side is smaller than M";
    case kBlkEigen:
      return "the eigenvalue iteration for the reduction roots did not converge";
    case kBlkComplexRoots:
      return "the coefficients along the second index have AN(J)*CN(J-1) < 0, so the "
             "reduction roots are not real";
    case kBlkShortArray:
      return "an array given to the solver is shorter than its sizes require";
    default:
      return "unknown error code of the block-tridiagonal solver";
  }
}

// Direct solve: the wall values of psi are moved to the right-hand side of
// the rows next to the walls, then the interior system is solved in single
// precision.
void poiblk(State& s, const Field& zeta, Field& psi, const Array1<NR>& r, const Array1<NR>& rho) {
  Blks& k = s.blks;
  for (int jj = 1; jj <= NI; ++jj)
    for (int ii = 1; ii <= NI; ++ii) k.yblk(ii, jj) = float(rhs(s, zeta, r, rho, ii + 1, jj + 1));
  for (int jj = 1; jj <= NI; ++jj) {
    k.yblk(1, jj) = float(double(k.yblk(1, jj)) - double(k.am(1)) * psi(1, jj + 1));
    k.yblk(NI, jj) = float(double(k.yblk(NI, jj)) - double(k.cm(NI)) * psi(NR, jj + 1));
  }
  for (int ii = 1; ii <= NI; ++ii) {
    k.yblk(ii, 1) = float(double(k.yblk(ii, 1)) - double(k.an(1)) * psi(ii + 1, 1));
    k.yblk(ii, NI) = float(double(k.yblk(ii, NI)) - double(k.cn(NI)) * psi(ii + 1, NR));
  }
  call_blktri(s, 1);
  for (int jj = 1; jj <= NI; ++jj)
    for (int ii = 1; ii <= NI; ++ii) psi(ii + 1, jj + 1) = double(k.yblk(ii, jj));
}

// int(PIT) Jacobi iterations of two half-sweeps each, psi -> scr2 -> psi,
// starting from the psi of the last step. Both half-sweeps see the wall
// values of psi: scr2 carries a copy of them on its boundary.
void iterate(State& s, const Field& zeta, Field& psi, const Array1<NR>& r, const Array1<NR>& rho) {
  Field& f = s.spare.iterate.scr1;
  Field& tmp = s.spare.iterate.scr2;
  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 2; i <= NR - 1; ++i) f(i, j) = rhs(s, zeta, r, rho, i, j);
  tmp.fill(0.0);
  for (int k = 1; k <= NR; ++k) {
    tmp(k, 1) = psi(k, 1);
    tmp(k, NR) = psi(k, NR);
    tmp(1, k) = psi(1, k);
    tmp(NR, k) = psi(NR, k);
  }
  const std::int64_t n = jacobi_iterations(s.par.PIT);
  for (std::int64_t it = 0; it < n; ++it) {
    jacobi(s.blks, f, psi, tmp);
    jacobi(s.blks, f, tmp, psi);
  }
}

}  // namespace qel
