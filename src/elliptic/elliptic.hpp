// The Poisson problem for the stream function,
//   plane:         psi_rr + psi_zz = zeta,
//   axisymmetric:  psi_rr - (1/r) psi_r + psi_zz = r zeta,
// on the 89 x 89 interior points with psi given on the walls, solved directly
// by block-tridiagonal cyclic reduction in single precision, exactly in double
// precision, or by Jacobi sweeps.
#pragma once

#include "model/state.hpp"

namespace qel {

// Five-point coefficients from the grid into s.blks (once per run).
void prepare(State& s);

// One-time set-up of the cyclic-reduction roots after prepare; returns the
// solver's error code (0 on success).
int poisson_setup(State& s);

// Meaning of a non-zero error code of the solver, for a person.
const char* solver_error_text(int code);

// Direct solve: interior of psi from zeta.
void poiblk(State& s, const Field& zeta, Field& psi, const Array1<NR>& r, const Array1<NR>& rho);

// Exact solve in double precision (elliptic/direct.hpp): interior of psi
// from zeta; s.solvers.stream must be set up.
void solve_stream(State& s, const Field& zeta, Field& psi, const Array1<NR>& r, const Array1<NR>& rho);

// int(PIT) Jacobi sweeps on the interior of psi.
void iterate(State& s, const Field& zeta, Field& psi, const Array1<NR>& r, const Array1<NR>& rho);

}  // namespace qel
