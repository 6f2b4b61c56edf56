// Separable block-tridiagonal systems by generalised cyclic reduction, in
// single precision:
//
//   AN(J) X(I,J-1) + AM(I) X(I-1,J) + (BN(J) + BM(I)) X(I,J)
//                  + CM(I) X(I+1,J) + CN(J) X(I,J+1) = Y(I,J),
//
// I = 1..M, J = 1..N. With A the tridiagonal matrix (AM, BM, CM) of the
// first index, row J reads AN(J) X(.,J-1) + (A + BN(J)) X(.,J) + CN(J) X(.,J+1).
// Either index may be periodic (X(0,J) = X(M,J), X(I,0) = X(I,N), ...) or
// closed (the missing neighbours do not exist). Reduction in J turns the
// blocks into polynomials in A; they are applied through their roots, one
// shifted tridiagonal solve per root. The roots depend only on AN, BN, CN and
// are computed once (IFLG = 0) into the work array; each solve (IFLG = 1)
// reads them. Arrays below are plain pointers to the first element; lists of
// roots and scalars are counted one-based as in the formulas, the vectors of
// length M are indexed from 0.
#pragma once

#include <span>

#include "model/blkplan.hpp"
#include "model/state.hpp"

namespace qel {

// Error codes of blktri.
inline constexpr int kBlkSmallM = 1;      // M <= 4
inline constexpr int kBlkSmallN = 2;      // N <= 2
inline constexpr int kBlkLeadingDim = 3;  // IDIMY < M
inline constexpr int kBlkEigen = 4;       // the root iteration failed
inline constexpr int kBlkComplexRoots = 5; // AN(J) CN(J-1) < 0: roots not real
inline constexpr int kBlkShortArray = 6;  // an array is shorter than the sizes need

// Partition of the work array W (one-based word numbers) for N, M and NP.
struct BlkPartition {
  int nh = 0;     // N + 1 closed, N periodic
  int k = 0;      // one plus the number of doublings of the reduction
  int ik = 0;     // stride of the root table per level
  int iwah = 0;   // set-up scratch AH; W(2..iwah-1) is the root table
  int iwbh = 0;   // set-up scratch BH
  int iw1 = 0, iw2 = 0, iw3 = 0, iwd = 0, iww = 0, iwu = 0; // solve vectors
  long long words = 0; // words W must hold (stored in W(1))
};
BlkPartition blkpart(int n, int m, int np);

// Solves (IFLG != 0) or sets up the roots (IFLG = 0); returns IERROR.
// Y has leading dimension IDIMY; W keeps the roots between the two phases.
// The set-up also fills plan with the schedule of the solve and the
// elimination factors of every shifted tridiagonal matrix, so that a solve
// runs the mutually independent operators side by side; its results are
// those of the operator-by-operator solve blktr1 to the bit. A solve whose
// sizes or second-index data differ from the set-up's, or with a periodic
// first index, runs blktr1 itself; new AM, BM, CM only refresh the factors.
int blktri(Cblkt& cb, Value& val, int iflg, int np, int n, std::span<const float> an,
           std::span<const float> bn, std::span<const float> cn, int mp, int m,
           std::span<const float> am, std::span<const float> bm, std::span<const float> cm,
           int idimy, std::span<float> y, std::span<float> w, BlkPlan& plan);

// The argument checks of blktri: sets nm, and when they pass npp, k, ik, W(1)
// and the partition p; returns 0 or the error code.
int blktri_check(Cblkt& cb, int iflg, int np, int n, std::span<const float> an,
                 std::span<const float> bn, std::span<const float> cn, int m,
                 std::span<const float> am, std::span<const float> bm, std::span<const float> cm,
                 int idimy, std::span<const float> y, std::span<float> w, BlkPartition& p);

// Location of roots (idx, one-based into the root table) and of scalars.
struct RootIndex {
  int idx = 0;
  int n = 0;
};
RootIndex indxa(const Cblkt& cb, int i, int ir); // AN scalars of row i at level ir
RootIndex indxb(const Cblkt& cb, int i, int ir); // roots of row i at level ir
RootIndex indxc(const Cblkt& cb, int i, int ir); // CN scalars of row i at level ir

// Product operators: y = s prod(A - bm) prod(A - bd)^-1 x over the nd
// denominator roots bd, the numerator roots bm1, bm2 and the scalars aa.
// x may be the same vector as y. The real forms need d, w, u of m words;
// the complex forms take bd as (re, im) pairs and need 2m words in each.
using Product = void (*)(int nd, const float* bd, int nm1, const float* bm1, int nm2,
                         const float* bm2, int na, const float* aa, const float* x, float* y,
                         int m, const float* a, const float* b, const float* c, float* d,
                         float* w, float* u);
void prod(int nd, const float* bd, int nm1, const float* bm1, int nm2, const float* bm2, int na,
          const float* aa, const float* x, float* y, int m, const float* a, const float* b,
          const float* c, float* d, float* w, float* u);
void prodp(int nd, const float* bd, int nm1, const float* bm1, int nm2, const float* bm2, int na,
           const float* aa, const float* x, float* y, int m, const float* a, const float* b,
           const float* c, float* d, float* w, float* u);
void cprod(int nd, const float* bd, int nm1, const float* bm1, int nm2, const float* bm2, int na,
           const float* aa, const float* x, float* y, int m, const float* a, const float* b,
           const float* c, float* d, float* w, float* u);
void cprodp(int nd, const float* bd, int nm1, const float* bm1, int nm2, const float* bm2, int na,
            const float* aa, const float* x, float* y, int m, const float* a, const float* b,
            const float* c, float* d, float* w, float* u);

// The solve: reduction, capacitance row of a periodic J, back substitution.
// b is the root table (B(j) = b[j-1]); work holds the six vectors of length
// m (W1, W2, W3, WD, WW, WU) one after the other.
void blktr1(const Cblkt& cb, int m, const float* an, const float* cn, const float* am,
            const float* bm, const float* cm, int idimy, float* y, const float* b, float* work,
            Product prdct, Product cprdct);

// The row N of a periodic J, between the reduction and the back substitution
// of blktr1 (same arguments).
void blktr1_capacitance(const Cblkt& cb, int m, const float* an, const float* cn,
                        const float* am, const float* bm, const float* cm, int idimy, float* y,
                        const float* b, float* work, Product prdct, Product cprdct);

// --- Roots of the reduction ---

// All roots into the table b (B(j) = b[j-1]), with ah, bh as scratch of
// 2 nm + 1 words; sets eps, cnv (and ncmplx for a periodic J). Sets ierror
// to 4 or 5 on failure and leaves it alone otherwise.
void compb(Cblkt& cb, Value& val, int n, int& ierror, const float* an, const float* bn,
           const float* cn, float* b, float* ah, float* bh);

// Eigenvalues of the symmetric tridiagonal matrix with diagonal d and signed
// off-diagonal e2(i) between rows i-1 and i (e2[0] ignored, e2 overwritten),
// by rational QL with shifts; d comes back ascending, reversed when
// |d(n)| < |d(1)|. Returns 0 or the index of the eigenvalue that failed.
int tevls(const Cblkt& cb, int n, float* d, float* e2);

// 100 times the machine epsilon of single precision.
float epmach(Value& val);
void store(Value& val, float x);

// Roots of the periodic polynomial of order n into bp (reals, or (re, im)
// pairs when some are complex: bp holds 2n words), from the n roots bp of
// its closed part; bh is scratch of n words.
void ppadd(Cblkt& cb, int n, int& ierror, const float* a, const float* c, float* bp, float* bh);

// The functions whose roots ppadd brackets.
using RootFunction = float (*)(float x, int iz, const float* c, const float* a, const float* bh);
float bsrh(const Cblkt& cb, float xll, float xrr, int iz, const float* c, const float* a,
           const float* bh, RootFunction f, float sgn);
float psgf(float x, int iz, const float* c, const float* a, const float* bh);
float ppspf(float x, int iz, const float* c, const float* a, const float* bh);
float ppsgf(float x, int iz, const float* c, const float* a, const float* bh);

}  // namespace qel
