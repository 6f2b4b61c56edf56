#include "elliptic/direct.hpp"

#include <Eigen/Eigenvalues>
#include <cmath>
#include <stdexcept>
#include <string>

#include "elliptic/elliptic.hpp"
#include "model/render.hpp"

namespace qel {

namespace {

// The pencil of a real operator has real eigenvalues; a computed imaginary
// part beyond this fraction of the largest eigenvalue is a complex pair,
// not rounding.
constexpr double kImaginaryTolerance = 1e-9;

// Largest condition number of the eigenvector matrix: the products with V
// and (My V)^-1 lose about log10 of it in digits, which one step of
// refinement recovers while it stays well below 1/eps.
constexpr double kConditionLimit = 1e8;

// out(:, l) = T in(:, l) for every l: T acting along the first index.
void along_first(const Tridiagonal& t, const double* in, double* out, int n) {
  for (int l = 0; l < n; ++l) {
    const double* x = in + std::ptrdiff_t(l) * n;
    double* y = out + std::ptrdiff_t(l) * n;
    y[0] = t.d(0) * x[0] + t.up(0) * x[1];
    for (int k = 1; k < n - 1; ++k) y[k] = t.lo(k) * x[k - 1] + t.d(k) * x[k] + t.up(k) * x[k + 1];
    y[n - 1] = t.lo(n - 1) * x[n - 2] + t.d(n - 1) * x[n - 1];
  }
}

// out(k, :) += T in(k, :) for every k: T acting along the second index.
void add_along_second(const Tridiagonal& t, const double* in, double* out, int n) {
  for (int l = 0; l < n; ++l) {
    double* y = out + std::ptrdiff_t(l) * n;
    const double* x = in + std::ptrdiff_t(l) * n;
    for (int k = 0; k < n; ++k) y[k] += t.d(l) * x[k];
    if (l > 0)
      for (int k = 0; k < n; ++k) y[k] += t.lo(l) * x[k - n];
    if (l < n - 1)
      for (int k = 0; k < n; ++k) y[k] += t.up(l) * x[k + n];
  }
}

[[noreturn]] void cannot_set_up(const char* what, const std::string& why) {
  throw Stop(1, std::string("the ") + what + " cannot be set up on this grid: " + why +
                    "; choose stretchings STR, STZ closer to 1, or a positive PIT (sweeps)");
}

}  // namespace

Eigen::MatrixXd Tridiagonal::dense() const {
  const int n = int(d.size());
  Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
  for (int k = 0; k < n; ++k) {
    a(k, k) = d(k);
    if (k > 0) a(k, k - 1) = lo(k);
    if (k < n - 1) a(k, k + 1) = up(k);
  }
  return a;
}

SeparableSolver::SeparableSolver(const Tridiagonal& kx, const Tridiagonal& mx, const Tridiagonal& ky,
                                 const Tridiagonal& my, bool singular, const Eigen::VectorXd& xnull,
                                 const Eigen::VectorXd& xmean, const Eigen::VectorXd& ymean, const char* what)
    : n_(int(kx.d.size())), singular_(singular), kx_(kx), mx_(mx), ky_(ky), my_(my), xnull_(xnull),
      xmean_(xmean), ymean_(ymean) {
  const int n = n_;
  const Eigen::MatrixXd m = my.dense();
  const Eigen::MatrixXd g = m.partialPivLu().solve(ky.dense());
  Eigen::EigenSolver<Eigen::MatrixXd> es(g);
  if (es.info() != Eigen::Success) cannot_set_up(what, "the eigenvalue iteration did not converge");
  const Eigen::VectorXcd ev = es.eigenvalues();
  const double largest = ev.cwiseAbs().maxCoeff(), imaginary = ev.imag().cwiseAbs().maxCoeff();
  if (!(imaginary <= kImaginaryTolerance * largest))
    cannot_set_up(what, "the eigenvalues of its vertical operator are not real (imaginary part " +
                            real_text(imaginary) + " beside eigenvalues up to " + real_text(largest) + ")");
  lambda_ = ev.real();
  v_ = es.eigenvectors().real();
  for (int q = 0; q < n; ++q) v_.col(q).normalize();
  if (singular) {
    // The constant is the null vector; its mode is made exact.
    lambda_.cwiseAbs().minCoeff(&zero_mode_);
    lambda_(zero_mode_) = 0.0;
    v_.col(zero_mode_).setConstant(1.0 / std::sqrt(double(n)));
  }
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(v_);
  const Eigen::VectorXd& sv = svd.singularValues();
  vcond_ = sv(0) / sv(n - 1);
  if (!(vcond_ <= kConditionLimit))
    cannot_set_up(what, "the eigenvectors of its vertical operator are nearly dependent (condition number " +
                            real_text(vcond_) + ")");
  w_ = (m * v_).partialPivLu().inverse();

  // Elimination of each mode's tridiagonal system Kx + lambda Mx, without
  // pivoting: the systems are diagonally dominant (lambda <= 0). The zero
  // mode of a singular problem drops its last equation and pins its last
  // unknown, the right-hand side having been made compatible.
  mult_.resize(n, n);
  inv_.resize(n, n);
  upper_.resize(n, n);
  for (int q = 0; q < n; ++q) {
    const double lam = lambda_(q);
    double pivot = kx.d(0) + lam * mx.d(0);
    inv_(0, q) = 1.0 / pivot;
    mult_(0, q) = 0.0;
    for (int k = 1; k < n; ++k) {
      upper_(k - 1, q) = kx.up(k - 1) + lam * mx.up(k - 1);
      mult_(k, q) = (kx.lo(k) + lam * mx.lo(k)) * inv_(k - 1, q);
      pivot = (kx.d(k) + lam * mx.d(k)) - mult_(k, q) * upper_(k - 1, q);
      inv_(k, q) = 1.0 / pivot;
    }
    upper_(n - 1, q) = 0.0;
    if (q == zero_mode_) inv_(n - 1, q) = 0.0;
  }
  if (!inv_.allFinite()) cannot_set_up(what, "a tridiagonal system of one mode is singular");
  // Stored mode-fastest, so that the eliminations of all modes advance
  // together along the first index, one contiguous column at a time.
  mult_.transposeInPlace();
  inv_.transposeInPlace();
  upper_.transposeInPlace();
  c_.resize(n, n);
  y_.resize(n, n);
  r_.resize(n, n);
  t_.resize(n, n);
}

void SeparableSolver::modes(const Eigen::Ref<const Eigen::MatrixXd>& b, Eigen::Ref<Eigen::MatrixXd> y) {
  const int n = n_;
  // c(q, k): mode q of row k of b, modes fastest.
  c_.noalias() = w_ * b.transpose();
  if (zero_mode_ >= 0) {
    // Only the part of b orthogonal to the left null vector has a solution.
    const double f = c_.row(zero_mode_).dot(xnull_) / xnull_.squaredNorm();
    c_.row(zero_mode_) -= f * xnull_.transpose();
  }
  // The tridiagonal solves of all modes, side by side along q.
  for (int k = 1; k < n; ++k) {
    double* __restrict c = c_.col(k).data();
    const double* __restrict cm = c_.col(k - 1).data();
    const double* __restrict m = mult_.col(k).data();
    for (int q = 0; q < n; ++q) c[q] -= m[q] * cm[q];
  }
  {
    double* __restrict c = c_.col(n - 1).data();
    const double* __restrict inv = inv_.col(n - 1).data();
    for (int q = 0; q < n; ++q) c[q] *= inv[q];
  }
  for (int k = n - 2; k >= 0; --k) {
    double* __restrict c = c_.col(k).data();
    const double* __restrict cp = c_.col(k + 1).data();
    const double* __restrict up = upper_.col(k).data();
    const double* __restrict inv = inv_.col(k).data();
    for (int q = 0; q < n; ++q) c[q] = (c[q] - up[q] * cp[q]) * inv[q];
  }
  y.noalias() = c_.transpose() * v_.transpose();
}

void SeparableSolver::apply(const double* x, double* out) {
  const int n = n_;
  Eigen::Map<Eigen::MatrixXd> o(out, n, n);
  o.setZero();
  along_first(kx_, x, t_.data(), n);
  add_along_second(my_, t_.data(), out, n);
  along_first(mx_, x, t_.data(), n);
  add_along_second(ky_, t_.data(), out, n);
}

void SeparableSolver::solve(const double* b, double* x) {
  const int n = n_;
  const Eigen::Map<const Eigen::MatrixXd> bm(b, n, n);
  Eigen::Map<Eigen::MatrixXd> xm(x, n, n);
  modes(bm, xm);
  // One step of iterative refinement on the residual of the first solve.
  apply(x, r_.data());
  r_ = bm - r_;
  modes(r_, y_);
  xm += y_;
  if (singular_) {
    double sum = 0.0;
    for (int l = 0; l < n; ++l) sum += ymean_(l) * xmean_.dot(xm.col(l));
    xm.array() -= sum / (xmean_.sum() * ymean_.sum());
  }
}

namespace {

// Weighted second difference along one axis, the r or z part of the
// pressure operator: (K p)(k) = 0.25 mh(k) [c(k+1) (p(k+1) - p(k)) - c(k) (p(k) - p(k-1))],
// c(i) the weight of the gradient at point i, the terms through the walls
// (points 1 and 91, where the gradient vanishes) absent.
Tridiagonal difference(const Array1<NC>& mh, const Array1<NR>& c) {
  Tridiagonal t(NC);
  for (int k = 1; k <= NC; ++k) {
    const double lo = k >= 2 ? 0.25 * mh(k) * c(k) : 0.0;
    const double up = k <= NC - 1 ? 0.25 * mh(k) * c(k + 1) : 0.0;
    t.lo(k - 1) = lo;
    t.up(k - 1) = up;
    t.d(k - 1) = -(lo + up);
  }
  return t;
}

// Weighted pair sum along one axis: the cell sum of the point values
// d(i) (p(im(i)) + p(ip(i))), the wall points taking their one cell twice.
Tridiagonal pair_sum(const Array1<NR>& d) {
  Tridiagonal t(NC);
  for (int k = 1; k <= NC; ++k) {
    t.lo(k - 1) = k >= 2 ? d(k) : 0.0;
    t.up(k - 1) = k <= NC - 1 ? d(k + 1) : 0.0;
    t.d(k - 1) = d(k) * (k == 1 ? 2.0 : 1.0) + d(k + 1) * (k == NC ? 2.0 : 1.0);
  }
  return t;
}

SeparableSolver pressure_solver(const State& s) {
  const Basic& g = s.basic;
  // u at the points carries weight rc rho, and none on a no-slip bottom
  // (j = 1); w likewise, and none on a no-slip outer wall (i = 91).
  Array1<NR> cr, dr, cz, dz;
  for (int i = 1; i <= NR; ++i) {
    cr(i) = g.rc(i) * (0.25 * g.mr(i));
    dr(i) = g.rc(i);
    cz(i) = g.rho(i) * (0.25 * g.mz(i));
    dz(i) = g.rho(i);
  }
  if (s.par.SLIPS == 0.0) dr(NR) = 0.0;
  if (s.par.SLIPB == 0.0) dz(1) = 0.0;
  Eigen::VectorXd width_r(NC), width_z(NC);
  for (int k = 1; k <= NC; ++k) {
    width_r(k - 1) = 1.0 / g.mrh(k);
    width_z(k - 1) = 1.0 / g.mzh(k);
  }
  return SeparableSolver(difference(g.mrh, cr), pair_sum(dr), difference(g.mzh, cz), pair_sum(dz), true,
                         width_r, width_r, width_z, "direct pressure solver (PIT <= 0)");
}

SeparableSolver stream_solver(const PoissonCoefficients& c) {
  Tridiagonal kx(NI), ky(NI), id(NI);
  for (int q = 1; q <= NI; ++q) {
    kx.lo(q - 1) = q > 1 ? c.am(q) : 0.0;
    kx.d(q - 1) = c.bm(q);
    kx.up(q - 1) = q < NI ? c.cm(q) : 0.0;
    ky.lo(q - 1) = q > 1 ? c.an(q) : 0.0;
    ky.d(q - 1) = c.bn(q);
    ky.up(q - 1) = q < NI ? c.cn(q) : 0.0;
    id.d(q - 1) = 1.0;
  }
  const Eigen::VectorXd none;
  return SeparableSolver(kx, id, ky, id, false, none, none, none, "direct stream-function solver (PIT < 0)");
}

PoissonCoefficients coefficients_of(const State& s) {
  PoissonCoefficients c;
  poisson_coefficients(s, c);
  return c;
}

}  // namespace

DirectPressure::DirectPressure(const State& s) : solver_(pressure_solver(s)) {}

DirectStream::DirectStream(const State& s) : DirectStream(coefficients_of(s)) {}

DirectStream::DirectStream(const PoissonCoefficients& c)
    : solver_(stream_solver(c)), am1_(c.am(1)), cm89_(c.cm(NI)), an1_(c.an(1)), cn89_(c.cn(NI)),
      f_(NI, NI), x_(NI, NI) {}

// The right-hand side r zeta rho (axisymmetric) or zeta rho with the wall
// values of psi moved across, as poiblk forms it, in double precision.
void DirectStream::solve(const State& s, const Field& zeta, Field& psi, const Array1<NR>& r,
                         const Array1<NR>& rho) {
  const bool axi = s.par.AXI != 0.0;
  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 2; i <= NR - 1; ++i)
      f_(i - 2, j - 2) = axi ? (zeta(i, j) * r(i)) * rho(j) : zeta(i, j) * rho(j);
  for (int j = 2; j <= NR - 1; ++j) {
    f_(0, j - 2) -= am1_ * psi(1, j);
    f_(NI - 1, j - 2) -= cm89_ * psi(NR, j);
  }
  for (int i = 2; i <= NR - 1; ++i) {
    f_(i - 2, 0) -= an1_ * psi(i, 1);
    f_(i - 2, NI - 1) -= cn89_ * psi(i, NR);
  }
  solver_.solve(f_.data(), x_.data());
  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 2; i <= NR - 1; ++i) psi(i, j) = x_(i - 2, j - 2);
}

void solve_stream(State& s, const Field& zeta, Field& psi, const Array1<NR>& r, const Array1<NR>& rho) {
  if (s.solvers.stream == nullptr)
    throw std::logic_error("solve_stream: PIT < 0 needs the direct stream-function solver (setup_direct)");
  s.solvers.stream->solve(s, zeta, psi, r, rho);
}

void setup_direct(State& s, DirectSolvers& d) {
  d.pressure.reset();
  d.stream.reset();
  if (s.par.USEPRIM > 0.0 && s.par.PIT <= 0.0) d.pressure = std::make_unique<DirectPressure>(s);
  if (s.par.USEPRIM == 0.0 && s.par.PIT < 0.0) d.stream = std::make_unique<DirectStream>(s);
  s.solvers.pressure = d.pressure.get();
  s.solvers.stream = d.stream.get();
}

}  // namespace qel
