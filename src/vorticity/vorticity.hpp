// The stream-function/vorticity core and its operators.
//
// Plane: zeta_t = -(u.grad)zeta + T b_r - f v_z + diffusion,
//        v_t = -(u.grad)v - f u + diffusion, b_t = -(u.grad)b [+ w/pi] + diffusion,
//        u = -psi_z, w = psi_r.
// Axisymmetric: zeta advected as zeta/r, v as r v; u = -psi_z/r, w = psi_r/r.
//
// Everything lives at the grid points; the fluxes flr = -psi_z, flz = psi_r
// are the mass fluxes r rho u, r rho w. Walls: bottom j = 1, top j = 91,
// side i = 91, each no-slip (switch 0: no tangential flux, wall vorticity
// relaxed towards psi_nn/r, or psi_nn in plane geometry, and no swirl) or
// slip (the switch scales the tangential flux). The line i = 1 is the axis
// (or a free-slip wall in plane geometry) and has no switch.
#pragma once

#include "model/state.hpp"

namespace qel {

// One step of the core: tendencies into slot knew, DT, Adams-Bashforth
// update, Poisson solve, wall vorticity.
void stmvor(State& s, int knew, int kold, int kolder, int nstep);

// Whether the swirl v is carried by the flow this step: always when the
// Coriolis parameter SWIRL is non-zero, and otherwise whenever v holds any
// non-zero value (a swirl set up with SWIRL = 0 moves with the flow too).
// A v that is identically zero is not advected (its advection is zero).
bool swirl_moves(const State& s);

// Velocities and mass fluxes from psi; no-slip wall vorticity from psi.
void velocity(State& s);
void boundary(State& s);

// Advection schemes of this core: T += advection of A.
void arakawa(State& s, Field& t, const Field& a);
void marat(State& s, Field& t, const Field& a);

// Forcing and axisymmetric terms.
void stuff(Field& a, double val);
void axi1(State& s, Field& za, Field& va);
void axi2(const State& s, Field& t1, Field& t2);
void rterm(const State& s, Field& t, const Field& f);
void torque(const State& s, Field& t, const Field& b);
void coriolis(const State& s, Field& tz, Field& tv);
void strat(const State& s, Field& tb);

}  // namespace qel
