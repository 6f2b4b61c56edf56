// The initial fields of a fresh start and the viscosity profile of every
// start, shared by the driver and the tools that prepare initial states.
#pragma once

#include "model/state.hpp"

namespace qel {

// The fields of a fresh start on the grid of maketrans: a smoothed buoyancy
// step in height b = 1 / (1 + exp(BSMOOTH (BINTERFACE - z))), the fluid at
// rest (v, u, w, psi, zeta zero), and a raised-cosine body force centred on
// the axis at height BDFZ with semi-axes BDFRX across and BDFRZ up.
void fresh_fields(State& s);

// visc = max(REI, 2 REIT (z + 0.5 - HITE)): REI in the body of the domain,
// rising linearly over the top half unit of height to REIT at z = HITE.
void viscosity_profile(State& s);

}  // namespace qel
