// Exact double-precision solves of the model's two elliptic problems, both
// separable on the tensor grid,
//
//   A X = B,   A = Kx (x) My + Mx (x) Ky,   (A X)(k, l) = (Kx X My^T + Mx X Ky^T)(k, l),
//
// with tridiagonal factors along r (first index k) and z (second index l):
//
// - the pressure equation of the primitive core on the 90 x 90 cells: the
//   weighted divergence of the pressure gradient that pforce applies (wall
//   masks included) equals the divergence the step asks for. Along each
//   axis the gradient is a difference and the other axis an average, so Kx,
//   Ky are weighted second differences and Mx, My weighted pair sums. The
//   constant pressure is its null space; the cell areas are the left null
//   vector, which every right-hand side formed from a divergence satisfies.
// - the stream-function equation on the 89 x 89 interior points with the
//   coefficients of prepare in double precision: Kx = (am, bm, cm),
//   Ky = (an, bn, cn), Mx = My = I.
//
// Set-up diagonalises the pencil Ky v = lambda My v (real eigenvalues, not
// symmetric on a stretched grid): Ky V = My V Lambda. With X = Y V^T the
// system splits into one tridiagonal system (Kx + lambda_m Mx) y_m = c_m
// per mode, c = B ((My V)^-1)^T. A solve is one dense product, the
// tridiagonal solves, one dense product back, then one step of iterative
// refinement. Nothing is allocated after set-up.
#pragma once

#include <memory>

#include <Eigen/Dense>

#include "model/state.hpp"

namespace qel {

// A tridiagonal matrix of order n, zero-based: row k reads
// lo(k) x(k-1) + d(k) x(k) + up(k) x(k+1); lo(0) and up(n-1) are zero.
struct Tridiagonal {
  Eigen::VectorXd lo, d, up;
  explicit Tridiagonal(int n = 0) : lo(Eigen::VectorXd::Zero(n)), d(Eigen::VectorXd::Zero(n)), up(Eigen::VectorXd::Zero(n)) {}
  Eigen::MatrixXd dense() const;
};

class SeparableSolver {
 public:
  // Diagonalises along the second index. With `singular`, Kx and Ky both
  // annihilate the constant, `xnull` is the left null vector of Kx and the
  // solution is returned with zero mean under the weights xmean(k) ymean(l).
  // Throws Stop (status 1) when the eigenvalues are not real or their
  // eigenvectors nearly dependent; `what` names the problem in the message.
  SeparableSolver(const Tridiagonal& kx, const Tridiagonal& mx, const Tridiagonal& ky, const Tridiagonal& my,
                  bool singular, const Eigen::VectorXd& xnull, const Eigen::VectorXd& xmean,
                  const Eigen::VectorXd& ymean, const char* what);

  // x = A^-1 b (the compatible part of b when A is singular). b and x are
  // n x n column-major arrays and may not overlap.
  void solve(const double* b, double* x);

  // out = A x.
  void apply(const double* x, double* out);

  int order() const { return n_; }
  const Eigen::VectorXd& eigenvalues() const { return lambda_; }
  double eigenvector_condition() const { return vcond_; }

 private:
  void modes(const Eigen::Ref<const Eigen::MatrixXd>& b, Eigen::Ref<Eigen::MatrixXd> y);

  int n_;
  bool singular_;
  int zero_mode_ = -1;
  Tridiagonal kx_, mx_, ky_, my_;
  Eigen::VectorXd xnull_, xmean_, ymean_;
  Eigen::VectorXd lambda_;
  double vcond_ = 0;
  Eigen::MatrixXd v_;          // eigenvectors along the second index
  Eigen::MatrixXd w_;          // (My V)^-1
  Eigen::MatrixXd mult_, inv_, upper_; // per mode: multipliers, reciprocal pivots, upper diagonal
  Eigen::MatrixXd c_, y_, r_, t_; // work arrays
};

// The primitive core's pressure equation on the grid and wall conditions of
// s (metrics, AXI through rc, SLIPB, SLIPS).
class DirectPressure {
 public:
  explicit DirectPressure(const State& s);
  // The cell pressure p (8100 values, leading dimension 90) with
  // A p = rhs, rhs a 90 x 90 cell array, and zero area-weighted mean.
  void solve(const CellField& rhs, double* p) { solver_.solve(rhs.data(), p); }
  SeparableSolver& solver() { return solver_; }

 private:
  SeparableSolver solver_;
};

// The Poisson coefficients of prepare in double precision, for I = 1..89 and
// J = 1..89: am, bm, cm along r, an, bn, cn along z.
struct PoissonCoefficients {
  Array1<NI> am, bm, cm, an, bn, cn;
};
void poisson_coefficients(const State& s, PoissonCoefficients& c);

// The stream-function equation of prepare, in double precision, on the grid
// and geometry of s.
class DirectStream {
 public:
  explicit DirectStream(const State& s);
  // The interior of psi from zeta and the wall values of psi, as poiblk.
  void solve(const State& s, const Field& zeta, Field& psi, const Array1<NR>& r, const Array1<NR>& rho);
  SeparableSolver& solver() { return solver_; }

 private:
  explicit DirectStream(const PoissonCoefficients& c);
  SeparableSolver solver_;
  double am1_, cm89_, an1_, cn89_; // the couplings to the walls
  Eigen::MatrixXd f_, x_;
};

// The exact solvers a run uses, set up once by the driver.
struct DirectSolvers {
  std::unique_ptr<DirectPressure> pressure;
  std::unique_ptr<DirectStream> stream;
};

// The solvers the parameters of s call for: the pressure solve for the
// primitive core with PIT <= 0, the stream-function solve for the vorticity
// core with PIT < 0; s.solvers points at them.
void setup_direct(State& s, DirectSolvers& d);

}  // namespace qel
