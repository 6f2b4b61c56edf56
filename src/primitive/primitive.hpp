// The primitive-variable core: u, w, v and b advanced directly, the
// velocity tendencies corrected each step by a cell-centred pressure from a
// fixed number of relaxation sweeps of the continuity constraint.
//
//   u_t = -(u.grad)u + f v [+ v^2/r axisymmetric] - p_r + diffusion
//   w_t = -(u.grad)w - p_z + G (bdf bdframp) + G FROUDEINV b + diffusion
//   v_t = -(u.grad)v - f u + diffusion,  b_t = -(u.grad)b [+ w/pi] + diffusion
// with f = SWIRL and G = 1, or pi RAY when RAY != 0. u, w, v, b sit at the
// 91 x 91 points; p at the 90 x 90 cell centres (the first 8100 values of
// psi, Fields::p()), averaged to the points in zeta before a dump
// (Fields::p_point()); u's tendencies use the slots of tzeta (Tends::tu()).
// The pressure makes the r-weighted divergence of the corrected
// tendency approach -1/(4 DT) times that of the present velocity.
// Walls: w is held on the bottom and top rows (j = 1, 91) and u on the
// lines i = 1, 91; under no-slip u and v are zeroed on the bottom and w on the
// outer wall, and the pressure gradient does not act there.
#pragma once

#include "model/state.hpp"

namespace qel {

// One step of the core (tendencies into slot knew, DT, pressure correction,
// Adams-Bashforth update); leaves divmax. Throws Stop (status 1) for an ORDER
// this core has no scheme for, and, after printing its record on *s.out,
// when the step falls below 1.0E-5.
void prim(State& s, int knew, int kold, int kolder, int nstep);

// Pressure correction of the tendencies of u (tu) and w (tw): int(PIT)
// sweeps (1000 when TIME = 0) for PIT > 0, the exact solve of the discrete
// pressure equation for PIT <= 0 (s.solvers.pressure must be set up).
void incmp(State& s, Field& tu, Field& tw, double& dmax);

// outr = inr - dp/dr at every point, outz = inz - dp/dz for j = 2..90,
// except on the no-slip lines (u on j = 1 when SLIPB = 0, w on i = 91 when
// SLIPS = 0), which are copied unchanged. outr may be inr, outz inz.
void pforce(State& s, Field& outr, const Field& inr, Field& outz, const Field& inz);

// The first pressure solve of a fresh run (TIME = 0), which starts from a
// pressure of zero and takes kFirstSolveSweeps sweeps (incmp says so).
inline constexpr std::int32_t kFirstSolveSweeps = 1000;
bool first_pressure_solve(const State& s);

// The number of relaxation sweeps of this step for PIT > 0: int(PIT), or
// kFirstSolveSweeps on the first solve.
std::int32_t relaxation_sweeps(const State& s);

// One Jacobi sweep of the cell pressure with the tendencies tu, tw, from
// the coefficients and targets incmp leaves in s.spare.incmp.
void pressure_sweep(State& s, const Field& tu, const Field& tw);

// The exact pressure of PIT <= 0: p solving the discrete pressure equation
// for the targets left in s.spare.incmp.pdiv.
void exact_pressure(State& s, const Field& tu, const Field& tw);

// t += b * G, G = 1 or pi*RAY.
void buoyant(const State& s, Field& t, const Field& b);
// t += (b * factor) * G: the same with the force b*factor formed point by
// point, as the core applies bdf*bdframp and b*FROUDEINV.
void buoyant(const State& s, Field& t, const Field& b, double factor);

// t -= (1/(rc rhoc)) div(a F) over the volumes around the points, F the
// face mass fluxes built from the cell means of r rho u, r rho w (flux form).
void flux_form(State& s, Field& t, const Field& a);

void coriprim(const State& s, Field& tu, Field& tv);
void pvelo(State& s);

}  // namespace qel
