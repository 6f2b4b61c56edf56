// Time integration: variable-step Adams-Bashforth weights and update, the
// Courant and diffusion limits and the choice of the step.
//
// With ratios r1 = dtold1/DT, r2 = (dtold1+dtold2)/DT the weights abc(k, m)
// integrate over the new step the Lagrange interpolant through the m newest
// tendency levels; f <- f + dt * sum_k abc(k, nlev) T(level k).
#pragma once

#include <string_view>

#include "model/state.hpp"

namespace qel {

// Fills all nine weights of s.adams.abc.
void abcoef(State& s, double ratio1, double ratio2);

// The levels an Adams-Bashforth step of a run combines, from the count of
// steps the run has completed: forward Euler on its first step (no earlier
// tendency yet), two levels on the second, three from then on.
int adams_levels(int nstep);

// f <- f + dt*((abc(1,nlev)*t(knew) + abc(2,nlev)*t(kold)) + abc(3,nlev)*t(kolder)).
void hop(const State& s, int nlev, int knew, int kold, int kolder, double dt, const Tend& t,
         Field& f);

// ucon = u*mr, wcon = w*mz; cmaxr, cmaxz their largest magnitudes.
void adtime(State& s, double& cmaxr, double& cmaxz);

// Largest local diffusion number (mr^2 + mz^2) * visc * 0.25.
double diffmax(State& s);

// Largest |A(i,j)| over the grid, by per-column running maxima.
double rm(State& s, const Field& a);

// The step both cores take: DT = min(CFL/max(cflr, cflz, 1e-6),
// min(DIFF/(diffmax + 1e-15), DTMAX)), stored in s.par.DT and returned.
double stepsize(State& s);

// stepsize, checked against the core's smallest step `floor`: below it the
// core's record (`record` followed by DT) goes to the model's output and the
// run stops (qel::Stop, status 1), the fields not advanced.
double checked_stepsize(State& s, double floor, std::string_view record, std::string_view core);

}  // namespace qel
